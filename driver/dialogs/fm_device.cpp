#include "driver/dialogs/fm_device.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "driver/devices/devices.h"
#include "platform/exception.h"

namespace mirelo {

namespace {
constexpr int kMaxDevices = 99;
constexpr int kNameLimit = 20;
}  // namespace

TfmDevice::TfmDevice(QWidget* parent, IVistel4& object) : TMyForm(parent), driver_(object) {
  setObjectName(QStringLiteral("fmDevice"));
  setWindowTitle(QString::fromUtf16(u"Логические устройства"));
  edtDeviceName = new QLineEdit(this);
  edtDeviceName->setObjectName(QStringLiteral("edtDeviceName"));
  edtDeviceName->setMaxLength(kNameLimit);
  edtDeviceName->setAccessibleName(QString::fromUtf16(u"Название устройства"));
  Label2 = new QLabel(QString::fromUtf16(u"Название устройства:"), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setBuddy(edtDeviceName);
  lbDevice = new QListWidget(this);
  lbDevice->setObjectName(QStringLiteral("lbDevice"));
  lbDevice->setAccessibleName(QString::fromUtf16(u"Список устройств"));
  lbDevice->setSelectionMode(QAbstractItemView::SingleSelection);
  Label1 = new QLabel(QString::fromUtf16(u"Список устройств:"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setBuddy(lbDevice);
  btnAdd = new QPushButton(QString::fromUtf16(u"Добавить"), this);
  btnAdd->setObjectName(QStringLiteral("btnAdd"));
  btnDelete = new QPushButton(QString::fromUtf16(u"Удалить"), this);
  btnDelete->setObjectName(QStringLiteral("btnDelete"));
  btnClose = new QPushButton(QString::fromUtf16(u"Закрыть"), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  // Enter belongs to the edit and the list, never to a button.
  for (QPushButton* button : {btnAdd, btnDelete, btnClose}) button->setAutoDefault(false);

  // The list's popup menu; its shortcuts act only while the list has the focus.
  mitIns = new QAction(QString::fromUtf16(u"Добавить"), lbDevice);
  mitIns->setObjectName(QStringLiteral("mitIns"));
  mitIns->setShortcut(QKeySequence(Qt::Key_Insert));
  mitDel = new QAction(QString::fromUtf16(u"Удалить"), lbDevice);
  mitDel->setObjectName(QStringLiteral("mitDel"));
  mitDel->setShortcut(QKeySequence(Qt::Key_Delete));
  for (QAction* action : {mitIns, mitDel}) {
    action->setShortcutContext(Qt::WidgetShortcut);
    lbDevice->addAction(action);
  }
  lbDevice->setContextMenuPolicy(Qt::ActionsContextMenu);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(btnAdd);
  buttons->addWidget(btnDelete);
  buttons->addStretch(1);
  buttons->addWidget(btnClose);
  auto* layout = new QGridLayout(this);
  layout->addWidget(Label2, 0, 0);
  layout->addWidget(edtDeviceName, 1, 0);
  layout->addWidget(Label1, 2, 0);
  layout->addWidget(lbDevice, 3, 0);
  layout->addLayout(buttons, 1, 1, 3, 1);
  layout->setRowStretch(3, 1);
  resize(330, 280);
  setFixedSize(size());

  connect(btnAdd, &QPushButton::clicked, this, [this] { addClick(); });
  connect(mitIns, &QAction::triggered, this, [this] {
    if (btnAdd->isEnabled()) addClick();
  });
  connect(btnDelete, &QPushButton::clicked, this, [this] { deleteClick(); });
  connect(mitDel, &QAction::triggered, this, [this] {
    if (btnDelete->isEnabled()) deleteClick();
  });
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
  connect(lbDevice, &QListWidget::currentRowChanged, this, [this](int row) { selectLine(row); });
  connect(lbDevice, &QListWidget::itemSelectionChanged, this, [this] {
    // The selection cannot be emptied: the current device's line stays.
    if (lbDevice->selectedItems().isEmpty() && lbDevice->currentItem())
      lbDevice->currentItem()->setSelected(true);
  });
  connect(lbDevice, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  connect(edtDeviceName, &QLineEdit::textEdited, this, [this] { rename(); });
  edtDeviceName->installEventFilter(this);
  lbDevice->installEventFilter(this);
  btnClose->setFocus();
}

void TfmDevice::guarded(const std::function<void()>& action) {
  guardedBox(this, action);
}

void TfmDevice::FillList() {
  guarded([this] {
    const LONG number = driver_.getInt(&IVistel4::get_LDNumber);
    const LONG count = driver_.getInt(&IVistel4::get_LDCount);
    {
      QSignalBlocker quiet(lbDevice);
      lbDevice->clear();
      for (LONG index = 0; index < count; ++index) {
        driver_.putInt(&IVistel4::put_LDIndex, index);
        LONG lineNumber = driver_.getInt(&IVistel4::get_LDNumber);
        auto* item = new QListWidgetItem(
            fromAnsi(DeviceCaption(driver_.getAnsi(&IVistel4::get_LDName), lineNumber)), lbDevice);
        item->setData(Qt::UserRole, static_cast<int>(lineNumber));
      }
    }
    driver_.putInt(&IVistel4::put_LDNumber, number);
    {
      QSignalBlocker quiet(lbDevice);
      lbDevice->setCurrentRow(driver_.getInt(&IVistel4::get_LDIndex));
    }
    QSignalBlocker quiet(edtDeviceName);
    edtDeviceName->setText(driver_.getText(&IVistel4::get_LDName));
  });
  btnAdd->setEnabled(lbDevice->count() < kMaxDevices);
  btnDelete->setEnabled(lbDevice->count() > 1);
}

void TfmDevice::addClick() {
  guarded([this] { driver_.call(&IVistel4::AddLD); });
  FillList();
}

void TfmDevice::deleteClick() {
  guarded([this] { driver_.call(&IVistel4::DeleteLD); });
  FillList();
}

void TfmDevice::selectLine(int row) {
  if (row < 0) return;
  guarded([&] {
    driver_.putInt(&IVistel4::put_LDIndex, row);
    QSignalBlocker quiet(edtDeviceName);
    edtDeviceName->setText(driver_.getText(&IVistel4::get_LDName));
  });
}

void TfmDevice::rename() {
  guarded([this] {
    QListWidgetItem* line = lbDevice->currentItem();
    if (!line) throw Exception(ansiText(u"Не выбрано устройство для переименования."));
    driver_.putText(&IVistel4::put_LDName, edtDeviceName->text());
    line->setText(
        fromAnsi(DeviceCaption(toAnsi(edtDeviceName->text()), line->data(Qt::UserRole).toInt())));
  });
}

void TfmDevice::restoreName() {
  guarded([this] {
    QSignalBlocker quiet(edtDeviceName);
    edtDeviceName->setText(driver_.getText(&IVistel4::get_LDName));
  });
}

bool TfmDevice::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edtDeviceName) {
    if (event->type() == QEvent::FocusIn) restoreName();
    if (event->type() == QEvent::FocusOut) rename();
    if (event->type() == QEvent::KeyPress) {
      int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        rename();
        return true;
      }
      // Every change is applied already: this shows the name as applied.
      if (key == Qt::Key_Escape) restoreName();
    }
  }
  if (watched == lbDevice && event->type() == QEvent::KeyPress) {
    int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      accept();
      return true;
    }
  }
  return TMyForm::eventFilter(watched, event);
}

void ShowDeviceDialog(QWidget* owner, IVistel4& object) {
  TfmDevice dialog(owner, object);
  dialog.FillList();
  dialog.exec();
}

}  // namespace mirelo
