#pragma once
// The pages of the terminal's two-line display and of the messages stored
// in it: two lines at once ("Простое сообщение"), one line with output type
// and speed ("Расширенное сообщение"), one stored message by number ("Текст
// сообщений") and the list of all stored messages ("Все сообщения").
#include "testbench/pages.h"

class QComboBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace mirelo {

class TfmSimpleMessage : public TPage {
  Q_OBJECT

 public:
  TfmSimpleMessage();

  QLineEdit* edtLine1;
  QLineEdit* edtLine2;
  QLabel* lblLine1Len;
  QLabel* lblLine2Len;
  QPushButton* btnShowMessage;
};

class TfmLine : public TPage {
  Q_OBJECT

 public:
  TfmLine();

  QLineEdit* edtLine1;
  QLineEdit* edtLine2;
  QLabel* lblLine1Len;
  QLabel* lblLine2Len;
  QSpinBox* edtLine1Speed;
  QSpinBox* edtLine2Speed;
  QComboBox* cbLine1Type;
  QComboBox* cbLine2Type;
  QPushButton* btnShowLine1;
  QPushButton* btnShowLine2;
  QPushButton* btnAllLines;

 private:
  // Sets the line's members and calls ShowLine; its result.
  int32_t showLine(TVistelObject& driver, int number);
};

class TfmDeviceMessage : public TPage {
  Q_OBJECT

 public:
  TfmDeviceMessage();

  QSpinBox* edtMessageNumber;
  QLineEdit* edtLine1;
  QLineEdit* edtLine2;
  QLabel* lblLine1Len;
  QLabel* lblLine2Len;
  QPushButton* btnReadMessage;
  QPushButton* btnWriteMessage;
  QPushButton* btnDefault;
};

class TfmDevMsg : public TPage {
  Q_OBJECT

 public:
  TfmDevMsg();

  QPlainTextEdit* Memo;
  QPushButton* btnRead;
  QPushButton* btnDefault;
  QPushButton* btnWrite;
  QPushButton* btnBreak;
  QPushButton* btnLoad;
  QPushButton* btnSave;
  QPushButton* btnClear;
  QProgressBar* ProgressBar;
  QLabel* lblCount;
  QFileDialog* OpenDialog;
  QFileDialog* SaveDialog;

  // "Прочитать" (reset false) and "По умолчанию" (reset true) of all messages.
  void ReadAll(bool reset);
  void WriteAll();
  // The file steps after the dialogs; false after a failure, which was shown.
  bool LoadFile(const QString& fileName);
  bool SaveFile(const QString& fileName);
  void ClosePage() override { stop_ = true; }

 signals:
  // After each message handled by a loop (tests stop a loop here).
  void messageDone(int number);

 private:
  // Runs a loop on the shared object: buttons off but "Прервать", the body,
  // NotifyResult; the buttons and the progress back whatever happened, then
  // a failure shown.
  void runLoop(const std::function<void(TVistelObject& driver)>& body);

  bool stop_ = false;
};

}  // namespace mirelo
