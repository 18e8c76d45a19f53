#pragma once
// "Дамп" reads one of the terminal's memories block by block into a hex
// grid and keeps it in binary files; "Лог" shows the driver's log lines as
// LogEvent brings them and saves them as text.
#include <QString>
#include <string>

#include "testbench/pages.h"

class QComboBox;
class QFileDialog;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace mirelo {

class TfmDump : public TPage {
  Q_OBJECT

 public:
  TfmDump();

  QComboBox* cbDeviceCode;
  QPushButton* btnRead;
  QLabel* lblRead;
  QTableView* Grid;
  QPushButton* btnOpenFile;
  QPushButton* btnSaveFile;
  QFileDialog* OpenDialog;
  QFileDialog* SaveDialog;

  // Block numbers are 16 bits on the wire: a read never asks past the last.
  int BlockLimit = 65536;

  const std::string& Dump() const { return dump_; }
  const QString& DumpName() const { return dumpName_; }
  bool Reading() const { return running_; }

  // "Прочитать": starts a read, or asks the running one to stop.
  void ReadClicked();
  // The file steps after the dialogs; false after a failure, which was shown.
  bool LoadFile(const QString& fileName);
  bool SaveFile(const QString& fileName);
  void ShowDump();
  void ClosePage() override { stop_ = true; }

 signals:
  // After each block read (tests stop a read here).
  void blockRead(int block);

 private:
  void read();

  std::string dump_;
  QString dumpName_;
  bool running_ = false;
  bool stop_ = false;
};

class TfmLog : public TPage {
  Q_OBJECT

 public:
  TfmLog();
  ~TfmLog() override;

  QPlainTextEdit* Memo;
  QPushButton* btnSave;
  QPushButton* btnClear;
  QFileDialog* SaveDialog;

  void InitPage() override;
  bool SaveFile(const QString& fileName);
};

}  // namespace mirelo
