#include "testbench/dump_pages.h"

#include <QAbstractTableModel>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "testbench/text_files.h"
#include "testbench/widgets.h"

namespace mirelo {

namespace {

QString hex(unsigned value, int digits) {
  return QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

// The dump as the grid shows it: a row of 16 bytes after its offset. Cells
// are made when drawn, so a large dump costs no more than its bytes.
class TDumpModel : public QAbstractTableModel {
 public:
  TDumpModel(const std::string& dump, QObject* parent) : QAbstractTableModel(parent), dump_(dump) {}

  // Rows: the bytes / 16, one more for a remainder, at least one.
  int rowCount(const QModelIndex& parent = {}) const override {
    if (parent.isValid()) return 0;
    return std::max<int>(1, static_cast<int>((dump_.size() + 15) / 16));
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : 17;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    size_t offset = static_cast<size_t>(index.row()) * 16;
    if (index.column() == 0) return hex(static_cast<unsigned>(offset), 6);
    offset += static_cast<size_t>(index.column() - 1);
    if (offset >= dump_.size()) return QString();
    return hex(static_cast<unsigned char>(dump_[offset]), 2);
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    return section == 0 ? QString() : hex(static_cast<unsigned>(section - 1), 2);
  }
  void reload() {
    beginResetModel();
    endResetModel();
  }

 private:
  const std::string& dump_;
};

}  // namespace

// ---- Дамп ----

TfmDump::TfmDump() : TPage("fmDump", u"Дамп") {
  cbDeviceCode = makeCombo(this, "cbDeviceCode",
                           {u"память EEPROM Atmega 128", u"память данных Atmega128",
                            u"память CS8900A", u"память программ Atmega128"});
  cbDeviceCode->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  btnRead = makeButton(this, "btnRead", u"Прочитать");
  lblRead = makeLabel(this, u"Прочитано: ", "lblRead");
  Grid = new QTableView(this);
  Grid->setObjectName(QStringLiteral("Grid"));
  Grid->setModel(new TDumpModel(dump_, Grid));
  Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Grid->verticalHeader()->hide();
  Grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  const QFontMetrics metrics(Grid->font());
  Grid->horizontalHeader()->setMinimumSectionSize(16);
  Grid->horizontalHeader()->setDefaultSectionSize(metrics.horizontalAdvance(QStringLiteral("00")) +
                                                  10);
  Grid->verticalHeader()->setDefaultSectionSize(metrics.height() + 4);
  Grid->setColumnWidth(0, 60);
  btnOpenFile = makeButton(this, "btnOpenFile", u"Открыть...");
  btnSaveFile = makeButton(this, "btnSaveFile", u"Сохранить...");
  OpenDialog = makeFileDialog(this, "OpenDialog", false, nullptr, "bin",
                              {u"Дампы памяти (*.bin)", u"Все файлы (*.*)"});
  SaveDialog = makeFileDialog(this, "SaveDialog", true, nullptr, "bin", {u"Дампы памяти (*.bin)"});
  SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, true);

  // The buttons above the grid: it needs the page's whole width.
  auto* top = new QHBoxLayout;
  top->addWidget(makeLabel(this, u"Устройство Vistel:"));
  top->addWidget(cbDeviceCode, 1);
  for (QPushButton* button : {btnRead, btnOpenFile, btnSaveFile}) top->addWidget(button);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(lblRead);
  layout->addWidget(Grid, 1);

  connect(btnRead, &QPushButton::clicked, this, &TfmDump::ReadClicked);
  connectFileButton(btnOpenFile, OpenDialog, [this](const QString& name) { LoadFile(name); });
  connect(btnSaveFile, &QPushButton::clicked, this, [this] {
    SaveDialog->selectFile(dumpName_);
    QString name = chooseFile(SaveDialog);
    if (!name.isEmpty()) SaveFile(name);
  });
}

void TfmDump::ShowDump() {
  static_cast<TDumpModel*>(Grid->model())->reload();
}

void TfmDump::ReadClicked() {
  if (running_) {
    stop_ = true;
    return;
  }
  guarded([this] { read(); });
}

void TfmDump::read() {
  std::shared_ptr<TVistelObject> driver = Driver();
  TPages::TLoop loop(*Pages());
  NotifyStart();
  // After a failure too: the terminal's connection is never left open.
  TDisconnect disconnect(*driver);
  if (driver->Connect() != 0) {
    NotifyResult(*driver);
    return;
  }

  dump_.clear();
  ShowDump();
  btnRead->setText(q(u"Прервать"));
  btnOpenFile->setEnabled(false);
  btnSaveFile->setEnabled(false);
  running_ = true;
  stop_ = false;
  struct Restore {
    TfmDump& page;
    ~Restore() {
      page.running_ = false;
      page.btnRead->setText(q(u"Прочитать"));
      page.btnOpenFile->setEnabled(true);
      page.btnSaveFile->setEnabled(true);
      // What was read is kept and shown however the read ended.
      page.ShowDump();
    }
  } restore{*this};

  driver->SetDeviceCode(cbDeviceCode->currentIndex());
  dumpName_ = cbDeviceCode->currentText();
  for (int block = 0; block < BlockLimit; ++block) {
    driver->SetDataBlockNumber(block);
    if (driver->GetData() != 0) break;
    dump_ += driver->DataBlockBytes();
    lblRead->setText(q(u"Прочитано: %1 Кб").arg(static_cast<qint64>(dump_.size() / 1024)));
    emit blockRead(block);
    processPendingEvents();
    if (stop_) break;
  }
  ShowDump();
  // 211, the refusal of a number past the last block, is the normal end.
  if (driver->ResultCode() == 211)
    NotifyData(*driver);
  else
    NotifyResult(*driver);
}

bool TfmDump::LoadFile(const QString& fileName) {
  if (!guarded([&] { dump_ = readFileBytes(fileName); })) return false;
  ShowDump();
  return true;
}

bool TfmDump::SaveFile(const QString& fileName) {
  return guarded([&] { writeFileBytes(fileName, dump_); });
}

// ---- Лог ----

TfmLog::TfmLog() : TPage("fmLog", u"Лог") {
  Memo = makeMemo(this, "Memo");
  Memo->setReadOnly(true);
  btnSave = makeButton(this, "btnSave", u"Сохранить...");
  btnClear = makeButton(this, "btnClear", u"Очистить");
  SaveDialog = makeFileDialog(this, "SaveDialog", true, u"Лог", "txt",
                              {u"Текстовые файлы (*.txt)", u"Все файлы (*.*)"});

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(btnSave);
  buttons->addWidget(btnClear);
  buttons->addStretch(1);
  auto* layout = new QGridLayout(this);
  layout->addWidget(Memo, 0, 0);
  layout->addLayout(buttons, 0, 1);
  layout->setColumnStretch(0, 1);

  connect(btnClear, &QPushButton::clicked, Memo, &QPlainTextEdit::clear);
  connectFileButton(btnSave, SaveDialog, [this](const QString& name) { SaveFile(name); });
}

TfmLog::~TfmLog() {
  if (Pages()) Pages()->OnLogEvent = nullptr;
}

void TfmLog::InitPage() {
  Pages()->OnLogEvent = [this](const QString& line) { addMemoLine(Memo, line); };
  Driver();
}

bool TfmLog::SaveFile(const QString& fileName) {
  return guarded([&] { writeTextLines(fileName, memoLines(Memo)); });
}

}  // namespace mirelo
