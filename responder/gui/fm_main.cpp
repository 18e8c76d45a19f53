#include "responder/gui/fm_main.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSocketNotifier>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "forms/controls.h"
#include "forms/qt_text.h"
#include "platform/com/creation.h"
#include "platform/message_loop.h"
#include "responder/gui/fm_param.h"
#include "responder/gui/price_list_model.h"
#include "responder/settings.h"

namespace mirelo {

namespace {

QString applicationTitle() {
  return QString::fromUtf16(u"Тест Vistel");
}

}  // namespace

std::vector<int> TfmMain::columnWidths(int clientWidth, int codeWidth, int columns,
                                       int gridLineWidth) {
  std::vector<int> widths(static_cast<size_t>(std::max(columns, 1)), 0);
  widths[0] = codeWidth;
  if (columns < 2) return widths;
  int rest = std::max(0, clientWidth - codeWidth - (columns - 1) * gridLineWidth);
  int share = rest / (columns - 1);
  int given = 0;
  for (int column = 1; column < columns - 1; ++column) {
    widths[static_cast<size_t>(column)] = share;
    given += share;
  }
  widths.back() = rest - given;
  return widths;
}

TfmMain::TfmMain(std::string settingsPath, QWidget* parent)
    : QWidget(parent), settingsPath_(std::move(settingsPath)) {
  setObjectName(QStringLiteral("fmMain"));
  setWindowTitle(applicationTitle());
  showError = [this](const QString& text) {
    QMessageBox::critical(this, applicationTitle(), text);
  };

  // 1. The settings path came with the call.
  // 2. The driver object, with the DataEvent handler attached.
  responder_ = std::make_unique<TResponder>(list_, notFound_);
  loopNotifier_ = new QSocketNotifier(MessageLoop::current().fd(), QSocketNotifier::Read, this);
  connect(loopNotifier_, &QSocketNotifier::activated, this,
          [] { MessageLoop::current().processMessages(); });

  // 3. The grid's header and the file dialogs' folder.
  list_.Reset(kStartRows);
  model_ = new TPriceListModel(list_, this);
  buildControls();
  const QString programFolder = QCoreApplication::applicationDirPath();
  OpenDialog->setDirectory(programFolder);
  SaveDialog->setDirectory(programFolder);

  // 4. The not-found lines.
  TSettingsRead settings = readSettings(settingsPath_);
  notFound_ = settings.Lines;
  if (!settings.Problem.empty()) settingsProblem_ = settingsNotice(settingsPath_, settings);

  // 5. The columns.
  layoutColumns();
  selectRow(0);
}

TfmMain::~TfmMain() {
  // The notifier goes before the object whose loop it drives.
  delete loopNotifier_;
  loopNotifier_ = nullptr;
}

void TfmMain::buildControls() {
  Grid = new QTableView(this);
  Grid->setObjectName(QStringLiteral("Grid"));
  Grid->setModel(model_);
  Grid->verticalHeader()->hide();
  Grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  Grid->horizontalHeader()->setStretchLastSection(false);
  Grid->setSelectionMode(QAbstractItemView::SingleSelection);
  Grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                        QAbstractItemView::AnyKeyPressed);
  Grid->setColumnWidth(pcCode, kCodeColumnWidth);
  Grid->viewport()->installEventFilter(this);

  btnOpenFile = makeButton(this, "btnOpenFile", u"Открыть...");
  btnSaveFile = makeButton(this, "btnSaveFile", u"Сохранить...");
  btnAddLine = makeButton(this, "btnAddLine", u"Добавить");
  btnDelete = makeButton(this, "btnDelete", u"Удалить");
  btnClear = makeButton(this, "btnClear", u"Очистить");
  btnDriver = makeButton(this, "btnDriver", u"Драйвер...");
  btnParam = makeButton(this, "btnParam", u"Параметры...");
  btnClose = makeButton(this, "btnClose", u"Закрыть");
  chbPortOpened = new QCheckBox(QString::fromUtf16(u"Обработка запросов от Vistel"), this);
  chbPortOpened->setObjectName(QStringLiteral("chbPortOpened"));
  chbPortOpened->setChecked(false);

  OpenDialog = new QFileDialog(this);
  OpenDialog->setObjectName(QStringLiteral("OpenDialog"));
  OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog->setFileMode(QFileDialog::ExistingFile);
  OpenDialog->setNameFilters(
      {QString::fromUtf16(u"Текстовые файлы (*.txt)"), QString::fromUtf16(u"Все файлы (*.*)")});
  OpenDialog->setDefaultSuffix(QStringLiteral("txt"));
  OpenDialog->selectFile(QString::fromUtf16(u"Товары"));
  SaveDialog = new QFileDialog(this);
  SaveDialog->setObjectName(QStringLiteral("SaveDialog"));
  SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog->setFileMode(QFileDialog::AnyFile);
  SaveDialog->setNameFilters({QString::fromUtf16(u"Текстовые файлы (*.txt)")});
  SaveDialog->setDefaultSuffix(QStringLiteral("txt"));
  SaveDialog->selectFile(QString::fromUtf16(u"Товары"));
  SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, false);

  connect(btnOpenFile, &QPushButton::clicked, this, &TfmMain::openFileClicked);
  connect(btnSaveFile, &QPushButton::clicked, this, &TfmMain::saveFileClicked);
  connect(btnAddLine, &QPushButton::clicked, this, &TfmMain::addLineClicked);
  connect(btnDelete, &QPushButton::clicked, this, &TfmMain::deleteClicked);
  connect(btnClear, &QPushButton::clicked, this, &TfmMain::clearClicked);
  connect(btnDriver, &QPushButton::clicked, this, &TfmMain::driverClicked);
  connect(btnParam, &QPushButton::clicked, this, &TfmMain::paramClicked);
  // toggled, so that the mouse, the keyboard and accessibility tools all
  // act; the box is set to the server's state under a signal blocker.
  connect(chbPortOpened, &QCheckBox::toggled, this, &TfmMain::portOpenedClicked);
  connect(btnClose, &QPushButton::clicked, this, &QWidget::close);

  // The grid follows all four edges; the buttons keep to the right edge, the
  // check box to the bottom left and "Закрыть" to the bottom right.
  auto* buttons = new QVBoxLayout;
  buttons->setSpacing(4);
  for (QPushButton* button : {btnOpenFile, btnSaveFile, btnAddLine, btnDelete, btnClear})
    buttons->addWidget(button);
  buttons->addStretch(1);
  buttons->addWidget(btnDriver);
  buttons->addWidget(btnParam);
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(Grid, 0, 0);
  layout->addLayout(buttons, 0, 1);
  layout->addWidget(chbPortOpened, 1, 0, Qt::AlignLeft);
  layout->addWidget(btnClose, 1, 1);
  layout->setRowStretch(0, 1);
  layout->setColumnStretch(0, 1);

  setMinimumSize(kMinWidth, kMinHeight);
  resize(680, 400);
}

bool TfmMain::eventFilter(QObject* watched, QEvent* event) {
  // The grid's client area is resized exactly when the window is (and when a
  // scroll bar comes or goes, which changes the client width too).
  if (watched == Grid->viewport() && event->type() == QEvent::Resize) layoutColumns();
  return QWidget::eventFilter(watched, event);
}

void TfmMain::layoutColumns() {
  std::vector<int> widths = columnWidths(Grid->viewport()->width(), Grid->columnWidth(pcCode),
                                         kPriceColumnCount, kGridLineWidth);
  for (int column = 1; column < kPriceColumnCount; ++column)
    Grid->setColumnWidth(column, widths[static_cast<size_t>(column)]);
}

int TfmMain::currentRow() const {
  QModelIndex current = Grid->currentIndex();
  return current.isValid() ? current.row() : -1;
}

void TfmMain::selectRow(int row) {
  if (row < 0 || row >= model_->rowCount()) return;
  int column = std::max(0, Grid->currentIndex().column());
  Grid->setCurrentIndex(model_->index(row, column));
}

void TfmMain::guarded(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    showError(fromAnsi(e.what()));
  }
}

// ---- price list ----

bool TfmMain::loadPriceList(const QString& fileName) {
  TPriceList loaded;
  try {
    loaded.LoadFromFile(toFileName(fileName));
  } catch (const std::exception& e) {
    showError(fromAnsi(e.what()));
    return false;
  }
  model_->assign(std::move(loaded));
  selectRow(0);
  return true;
}

bool TfmMain::savePriceList(const QString& fileName) {
  try {
    list_.SaveToFile(toFileName(fileName));
  } catch (const std::exception& e) {
    showError(fromAnsi(e.what()));
    return false;
  }
  return true;
}

void TfmMain::openFileClicked() {
  if (OpenDialog->exec() != QDialog::Accepted || OpenDialog->selectedFiles().isEmpty()) return;
  loadPriceList(OpenDialog->selectedFiles().constFirst());
}

void TfmMain::saveFileClicked() {
  if (SaveDialog->exec() != QDialog::Accepted || SaveDialog->selectedFiles().isEmpty()) return;
  savePriceList(SaveDialog->selectedFiles().constFirst());
}

void TfmMain::addLineClicked() {
  model_->appendRow();
  selectRow(model_->rowCount() - 1);
}

void TfmMain::deleteClicked() {
  int row = currentRow();
  if (row < 0) return;
  if (model_->rowCount() > 1) {
    model_->deleteRow(row);
    selectRow(std::min(row, model_->rowCount() - 1));
  } else {
    model_->emptyRow(row);
  }
}

void TfmMain::clearClicked() {
  model_->resetRows(1);
  selectRow(0);
}

// ---- driver ----

void TfmMain::driverClicked() {
  guarded([this] { responder_->Driver().ShowProperties(); });
}

void TfmMain::portOpenedClicked(bool checked) {
  std::string failure;
  guarded([&] {
    TDriverObject& driver = responder_->Driver();
    if (checked)
      driver.OpenServer();
    else
      driver.CloseServer();
    {
      // The box shows the server's real state.
      QSignalBlocker quiet(chbPortOpened);
      chbPortOpened->setChecked(driver.ServerOpened());
    }
    if (driver.ResultCode() != 0)
      failure = resultMessage(driver.ResultCode(), driver.ResultCodeDescription());
  });
  if (!failure.empty()) showError(fromAnsi(failure));
}

void TfmMain::paramClicked() {
  TfmParam dialog(this);
  dialog.edtLine1->setText(fromAnsi(notFound_.Line1));
  dialog.edtLine2->setText(fromAnsi(notFound_.Line2));
  if (dialog.exec() != QDialog::Accepted) return;
  notFound_.Line1 = toAnsi(dialog.edtLine1->text());
  notFound_.Line2 = toAnsi(dialog.edtLine2->text());
  guarded([this] { writeNotFoundLines(settingsPath_, notFound_); });
}

}  // namespace mirelo
