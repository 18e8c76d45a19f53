#include "driver/dialogs/fm_tables.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QVBoxLayout>

#include "client/table_transfer.h"
#include "driver/errors/driver_error.h"
#include "forms/controls.h"
#include "platform/format.h"

namespace mirelo {

namespace {

// Field values the file changed are checked as SetFieldValue checks them,
// before anything is written. A value equal to the terminal's own goes back
// as the bytes it came from and needs no check.
void checkChangedValues(TTables& tables, const std::vector<std::vector<std::string>>& before) {
  for (int i = 0; i < tables.Count(); ++i) {
    TTable& table = *tables.Items(i);
    for (int j = 0; j < table.Fields().Count(); ++j) {
      TField& field = *table.Fields().Items(j);
      if (field.Value() == before.at(static_cast<size_t>(i)).at(static_cast<size_t>(j))) continue;
      TFieldRec copy = field.Rec();
      try {
        encodeFieldValue(copy);
      } catch (const std::exception& error) {
        throw Exception(
            format("%s, %s: %s", table.Name().c_str(), field.Name().c_str(), error.what()));
      }
    }
  }
}

}  // namespace

// ---- TfmTables ----

TfmTables::TfmTables(QWidget* parent, IVistel4& object) : TMyForm(parent), driver_(object) {
  setObjectName(QStringLiteral("fmTables"));
  setWindowTitle(QString::fromUtf16(u"Таблицы"));
  setMinimumSize(462, 250);
  ListView = new QTreeWidget(this);
  ListView->setObjectName(QStringLiteral("ListView"));
  ListView->setAccessibleName(QString::fromUtf16(u"Таблицы"));
  ListView->setRootIsDecorated(false);
  ListView->setAllColumnsShowFocus(true);
  ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView->setHeaderLabels({QString::fromUtf16(u"Номер"), QString::fromUtf16(u"Название")});
  ListView->header()->setSectionsClickable(false);
  ListView->setColumnWidth(0, 60);
  ListView->installEventFilter(this);
  btnOpen = makeButton(this, "btnOpen", u"Открыть");
  btnInit = makeButton(this, "btnInit", u"Инициализация");
  btnSave = makeButton(this, "btnSave", u"Сохранить...",
                       style()->standardIcon(QStyle::SP_DialogSaveButton));
  btnLoad = makeButton(this, "btnLoad", u"Загрузить...",
                       style()->standardIcon(QStyle::SP_DialogOpenButton));
  btnRefresh =
      makeButton(this, "btnRefresh", u"Обновить", style()->standardIcon(QStyle::SP_BrowserReload));
  btnClose = makeButton(this, "btnClose", u"Закрыть");
  // The file dialogs start in the folder of the running program.
  folder_ = QCoreApplication::applicationDirPath();

  auto* buttons = new QVBoxLayout;
  for (QPushButton* button : {btnOpen, btnInit, btnSave, btnLoad, btnRefresh})
    buttons->addWidget(button);
  buttons->addStretch(1);
  buttons->addWidget(btnClose);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(ListView, 1);
  layout->addLayout(buttons);
  resize(462, 300);

  showTable = [this](TfmTables& owner, TTable& table) {
    ShowTableDialog(&owner, driver_.object(), table);
  };
  connect(ListView, &QTreeWidget::itemDoubleClicked, this, [this] { Open(); });
  connect(btnOpen, &QPushButton::clicked, this, [this] { Open(); });
  connect(btnInit, &QPushButton::clicked, this, [this] { Init(); });
  connect(btnSave, &QPushButton::clicked, this, [this] { Save(); });
  connect(btnLoad, &QPushButton::clicked, this, [this] { Load(); });
  connect(btnRefresh, &QPushButton::clicked, this, [this] { Refresh(); });
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

void TfmTables::ReadList() {
  ReadTableList(driver_.object(), tables_);
  FillList();
}

void TfmTables::FillList() {
  ListView->clear();
  for (int index = 0; index < tables_.Count(); ++index) {
    const TTable& table = *tables_.Items(index);
    auto* item = new QTreeWidgetItem(ListView,
                                     {QString::number(table.Number() + 1), fromAnsi(table.Name())});
    item->setData(0, Qt::UserRole, index);
  }
  if (QTreeWidgetItem* first = ListView->topLevelItem(0)) ListView->setCurrentItem(first);
}

void TfmTables::busy(const std::function<void()>& action) {
  QPushButton* buttons[] = {btnOpen, btnInit, btnSave, btnLoad, btnRefresh, btnClose};
  for (QPushButton* button : buttons) button->setEnabled(false);
  guardedBox(this, action);
  for (QPushButton* button : buttons) button->setEnabled(true);
}

void TfmTables::connected(const std::function<void()>& body) {
  driver_.run(&IVistel4::Connect);
  try {
    body();
  } catch (...) {
    driver_.call(&IVistel4::Disconnect);
    throw;
  }
  driver_.run(&IVistel4::Disconnect);
}

void TfmTables::Open() {
  QTreeWidgetItem* item = ListView->currentItem();
  if (!item || !item->isSelected()) return;
  const int index = item->data(0, Qt::UserRole).toInt();
  if (index < 0 || index >= tables_.Count()) return;
  guardedBox(this, [&] { showTable(*this, *tables_.Items(index)); });
}

void TfmTables::Init() {
  busy([this] { connected([this] { driver_.run(&IVistel4::InitTable); }); });
}

QString TfmTables::chooseTableFile(QFileDialog::AcceptMode mode) {
  TFileRequest request;
  request.mode = mode;
  request.start = folder_ + QString::fromUtf16(u"/Таблицы.ini");
  request.filters = {QString::fromUtf16(u"Ini файлы (*.ini)"),
                     QString::fromUtf16(u"Все файлы (*.*)")};
  request.defaultSuffix = QStringLiteral("ini");
  QString file = dialogHooks().chooseFile(this, request);
  if (!file.isEmpty()) folder_ = QFileInfo(file).absolutePath();
  return file;
}

void TfmTables::Save() {
  busy([this] {
    // The values come from the terminal before the file is chosen.
    ReadAllTables(driver_.object(), tables_);
    QString file = chooseTableFile(QFileDialog::AcceptSave);
    if (file.isEmpty()) return;
    // Written to a temporary file that replaces the old one.
    tables_.SaveToFile(file.toStdString());
  });
}

void TfmTables::Load() {
  busy([this] {
    connected([this] {
      QString file = chooseTableFile(QFileDialog::AcceptOpen);
      if (file.isEmpty()) return;
      // The terminal's values first: fields the file does not reach keep them.
      std::vector<std::vector<std::string>> before;
      for (TTable* table : tables_) {
        ReadTableValues(driver_.object(), *table);
        before.emplace_back();
        for (TField* field : table->Fields()) before.back().push_back(field->Value());
      }
      tables_.LoadFromFile(file.toStdString());
      checkChangedValues(tables_, before);
      WriteAllTables(driver_.object(), tables_);
    });
  });
}

void TfmTables::Refresh() {
  busy([this] {
    try {
      ReadTableList(driver_.object(), tables_);
    } catch (...) {
      // The list never points past what the catalogue holds.
      FillList();
      throw;
    }
    FillList();
  });
}

bool TfmTables::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ListView && event->type() == QEvent::KeyPress) {
    int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      Open();
      return true;
    }
  }
  return TMyForm::eventFilter(watched, event);
}

// ---- TfmTable ----

TfmTable::TfmTable(QWidget* parent, IVistel4& object, TTable& table)
    : TMyForm(parent), driver_(object), table_(table) {
  setObjectName(QStringLiteral("fmTable"));
  setWindowTitle(fromAnsi(table.Name()));
  setMinimumSize(462, 314);
  Grid = new QTableWidget(0, 3, this);
  Grid->setObjectName(QStringLiteral("Grid"));
  Grid->setAccessibleName(QString::fromUtf16(u"Поля таблицы"));
  Grid->setHorizontalHeaderLabels(
      {QString::fromUtf16(u"№"), QString::fromUtf16(u"Название"), QString::fromUtf16(u"Значение")});
  Grid->verticalHeader()->hide();
  Grid->verticalHeader()->setDefaultSectionSize(std::max(16, Grid->fontMetrics().height() + 4));
  Grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  Grid->setSelectionMode(QAbstractItemView::SingleSelection);
  Grid->setSelectionBehavior(QAbstractItemView::SelectItems);
  Grid->setEditTriggers(QAbstractItemView::AllEditTriggers);
  btnRead = makeButton(this, "btnRead", u"Прочитать");
  btnWrite = makeButton(this, "btnWrite", u"Записать");
  btnClose = makeButton(this, "btnClose", u"Закрыть");
  StatusBar = new QStatusBar(this);
  StatusBar->setObjectName(QStringLiteral("StatusBar"));
  StatusBar->setSizeGripEnabled(false);
  for (int i = 0; i < 3; ++i) {
    Panels[i] = new QLabel(StatusBar);
    StatusBar->addWidget(Panels[i], 1);
  }

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(btnRead);
  buttons->addWidget(btnWrite);
  buttons->addStretch(1);
  buttons->addWidget(btnClose);
  auto* body = new QHBoxLayout;
  body->addWidget(Grid, 1);
  body->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 0);
  layout->addLayout(body, 1);
  layout->addWidget(StatusBar);
  resize(462, 314);

  Grid->viewport()->installEventFilter(this);
  connect(btnRead, &QPushButton::clicked, this, [this] { Read(); });
  connect(btnWrite, &QPushButton::clicked, this, [this] { Write(); });
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
  connect(
      Grid, &QTableWidget::currentCellChanged, this,
      [this](int row, int column, int previousRow, int) { selectCell(row, column, previousRow); });
}

void TfmTable::FillGrid() {
  QSignalBlocker quiet(Grid);
  TFields& fields = table_.Fields();
  Grid->setRowCount(fields.Count());
  for (int i = 0; i < fields.Count(); ++i) {
    const TField& field = *fields.Items(i);
    auto* number = new QTableWidgetItem(QString::number(i + 1));
    auto* name = new QTableWidgetItem(fromAnsi(field.Name()));
    // Only the values can be selected and edited.
    number->setFlags(Qt::ItemIsEnabled);
    name->setFlags(Qt::ItemIsEnabled);
    Grid->setItem(i, 0, number);
    Grid->setItem(i, 1, name);
    Grid->setItem(i, 2, new QTableWidgetItem(fromAnsi(field.Value())));
  }
  // Each column as wide as its widest text with three blanks.
  const QFontMetrics metrics(Grid->font());
  const QString blanks = QStringLiteral("   ");
  for (int column = 0; column < 3; ++column) {
    int width = metrics.horizontalAdvance(Grid->horizontalHeaderItem(column)->text() + blanks);
    for (int row = 0; row < Grid->rowCount(); ++row)
      width = std::max(width, metrics.horizontalAdvance(Grid->item(row, column)->text() + blanks));
    Grid->setColumnWidth(column, width);
  }
  adjustValueColumn();
}

void TfmTable::adjustValueColumn() {
  const int used = Grid->columnWidth(0) + Grid->columnWidth(1);
  const int rest = Grid->viewport()->width() - used;
  // When the first two already fill the grid, the values keep their width.
  if (rest > 0) Grid->setColumnWidth(2, rest);
}

// The grid's client area changes with the form (and with a scroll bar).
bool TfmTable::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Grid->viewport() && event->type() == QEvent::Resize) adjustValueColumn();
  return TMyForm::eventFilter(watched, event);
}

void TfmTable::selectCell(int row, int column, int previousRow) {
  if (row < 0) return;
  if (column != 2) {
    // Only the value column can be selected: the cursor stays in it.
    QSignalBlocker quiet(Grid);
    Grid->setCurrentCell(previousRow >= 0 ? previousRow : row, 2);
    row = Grid->currentRow();
  }
  if (row < 0 || row >= table_.Fields().Count()) return;
  const TField& field = *table_.Fields().Items(row);
  Panels[0]->setText(QString::fromUtf16(u"Тип поля: ") +
                     fromAnsi(fieldTypeName(field.FieldType())));
  Panels[1]->setText(QString::fromUtf16(u"Мин.: ") + fromAnsi(field.MinValueStr()));
  Panels[2]->setText(QString::fromUtf16(u"Макс.: ") + fromAnsi(field.MaxValueStr()));
}

void TfmTable::busy(const std::function<void()>& action) {
  QPushButton* buttons[] = {btnRead, btnWrite, btnClose};
  for (QPushButton* button : buttons) button->setEnabled(false);
  guardedBox(this, action);
  for (QPushButton* button : buttons) button->setEnabled(true);
}

void TfmTable::Read() {
  busy([this] {
    ReadOneTable(driver_.object(), table_);
    FillGrid();
  });
}

void TfmTable::Write() {
  busy([this] {
    TFields& fields = table_.Fields();
    // Without fields the object's current table may be another one: nothing
    // of this table to write.
    if (fields.Count() == 0 || Grid->rowCount() != fields.Count()) return;
    for (int i = 0; i < fields.Count(); ++i) {
      TField& field = *fields.Items(i);
      field.SetValue(toAnsi(Grid->item(i, 2)->text()));
      driver_.putInt(&IVistel4::put_RowNumber, field.Row());
      driver_.putInt(&IVistel4::put_FieldNumber, field.Number());
      driver_.putText(&IVistel4::put_FieldValue, fromAnsi(field.Value()));
      if (driver_.call(&IVistel4::SetFieldValue) != 0) {
        showErrorBox(this, driver_.getText(&IVistel4::get_ResultCodeDescription));
        Grid->setCurrentCell(i, 2);
        Grid->setFocus();
        return;
      }
    }
    driver_.run(&IVistel4::Connect);
    try {
      driver_.run(&IVistel4::WriteTable);
    } catch (...) {
      driver_.call(&IVistel4::Disconnect);
      throw;
    }
    driver_.run(&IVistel4::Disconnect);
  });
}

// ---- showing ----

void ShowTablesDialog(QWidget* owner, IVistel4& object) {
  TfmTables dialog(owner, object);
  dialog.ReadList();
  dialog.exec();
}

void ShowTableDialog(QWidget* owner, IVistel4& object, TTable& table) {
  TfmTable dialog(owner, object, table);
  ReadOneTable(object, table);
  dialog.FillGrid();
  if (table.Fields().Count() > 0) dialog.Grid->setCurrentCell(0, 2);
  dialog.exec();
}

}  // namespace mirelo
