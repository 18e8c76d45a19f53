#pragma once
// TfmMain: the test program's window. The list of the thirteen pages on the
// left, the page on show with its caption, the data sent and received, the
// result and the time of the last command below it. Input controls of every
// page are restored at start and saved at the end in the registry key
// kSettingsKey, under their dotted names, with "PageIndex".
//
// The driver's message loop runs inside Qt's: one QSocketNotifier on the
// loop's descriptor hands everything pending to it.
#include <QWidget>
#include <cstdint>

#include "testbench/pages.h"

class QCloseEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSocketNotifier;

namespace mirelo {

class TfmMain : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* kSettingsKey = "\\SOFTWARE\\Korvex\\Mirelo\\Ondrel\\Param";
  static constexpr int kMinWidth = 591;
  static constexpr int kMinHeight = 419;

  explicit TfmMain(QWidget* parent = nullptr);
  ~TfmMain() override;

  // "1.0.0.1": the program's version.
  static QString FileVersion();
  static QString ApplicationTitle();

  QListWidget* ListBox;
  QWidget* Panel1;
  QLabel* lblPageName;
  QWidget* pnlData;
  QLineEdit* edtResult;
  QLineEdit* edtInput;
  QLineEdit* edtOutput;
  QLineEdit* edtTime;
  QPushButton* btnProps;
  QPushButton* btnAbout;
  QPushButton* btnClose;

  TPages& Pages() { return pages_; }
  TPage* Page(int index) const { return pages_.PageAt(index); }
  // The index of the page on show; -1 before the first one.
  int PageIndex() const { return pageIndex_; }
  void ShowPage(int index);

  void LoadSettings();
  void SaveSettings();

 public slots:
  void PropsClicked();
  void AboutClicked();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildControls();
  void createPages();
  void commandStart(TPage* page);
  void commandData(TPage* page, TVistelObject* driver);
  void commandResult(TPage* page, TVistelObject* driver);
  void showExchange(TVistelObject& driver);

  TPages pages_;
  int pageIndex_ = -1;
  uint32_t startTick_ = 0;
  bool closePending_ = false;
  QSocketNotifier* loopNotifier_ = nullptr;
};

}  // namespace mirelo
