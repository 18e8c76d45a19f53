#pragma once
// TfmMain: the responder's window. The price list in a grid, its file, the
// not-found lines, and the check box that opens and closes the driver's
// server. Barcodes are answered from the grid as it stands when they arrive.
//
// The driver's message loop runs inside Qt's: one QSocketNotifier on the
// loop's descriptor hands everything pending to it; no second thread.
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "responder/price_list.h"
#include "responder/responder.h"

class QCheckBox;
class QFileDialog;
class QPushButton;
class QSocketNotifier;
class QTableView;

namespace mirelo {

class TPriceListModel;

class TfmMain : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kStartRows = 11;
  static constexpr int kCodeColumnWidth = 121;
  static constexpr int kGridLineWidth = 1;
  static constexpr int kMinWidth = 550;
  static constexpr int kMinHeight = 289;

  // settingsPath: the INI file with the not-found lines.
  explicit TfmMain(std::string settingsPath, QWidget* parent = nullptr);
  ~TfmMain() override;

  // Widths of all columns: the first keeps codeWidth, the others share the
  // rest of clientWidth less the lines between columns; the last one takes
  // what the rounding left, so the columns fill the grid exactly.
  static std::vector<int> columnWidths(int clientWidth, int codeWidth, int columns,
                                       int gridLineWidth);

  QTableView* Grid;
  QPushButton* btnOpenFile;
  QPushButton* btnSaveFile;
  QPushButton* btnAddLine;
  QPushButton* btnDelete;
  QPushButton* btnClear;
  QPushButton* btnDriver;
  QPushButton* btnParam;
  QCheckBox* chbPortOpened;
  QPushButton* btnClose;
  QFileDialog* OpenDialog;
  QFileDialog* SaveDialog;

  TPriceList& priceList() { return list_; }
  TPriceListModel& model() { return *model_; }
  const TNotFoundLines& notFoundLines() const { return notFound_; }
  const std::string& settingsPath() const { return settingsPath_; }
  // Why the settings file was not used at start (defaults then), or "".
  const std::string& settingsProblem() const { return settingsProblem_; }
  TResponder& responder() { return *responder_; }

  // Shows a failure to the operator; a message box unless replaced (tests).
  std::function<void(const QString&)> showError;

  // The file steps after the dialogs return OK; false after a failure,
  // which has been shown. A list that cannot be read leaves the grid as it was.
  bool loadPriceList(const QString& fileName);
  bool savePriceList(const QString& fileName);
  // The current data row (0-based), or -1 when no data row is current.
  int currentRow() const;
  void layoutColumns();

 public slots:
  void openFileClicked();
  void saveFileClicked();
  void addLineClicked();
  void deleteClicked();
  void clearClicked();
  void driverClicked();
  void paramClicked();
  void portOpenedClicked(bool checked);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void selectRow(int row);
  // Runs a member call; a failure at the call itself is shown.
  void guarded(const std::function<void()>& action);

  std::string settingsPath_;
  std::string settingsProblem_;
  TPriceList list_;
  TNotFoundLines notFound_;
  std::unique_ptr<TResponder> responder_;
  TPriceListModel* model_ = nullptr;
  QSocketNotifier* loopNotifier_ = nullptr;
};

}  // namespace mirelo
