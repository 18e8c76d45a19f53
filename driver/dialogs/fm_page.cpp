#include "driver/dialogs/fm_page.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "client/call_failure.h"
#include "driver/devices/devices.h"
#include "driver/dialogs/fm_device.h"
#include "driver/dialogs/fm_params.h"
#include "driver/dialogs/fm_search.h"
#include "driver/tables/table_records.h"
#include "forms/controls.h"
#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {

namespace {

QLabel* makeLabel(QWidget* parent, const char* name, const char16_t* caption,
                  QWidget* buddy = nullptr) {
  auto* label = new QLabel(QString::fromUtf16(caption), parent);
  label->setObjectName(QString::fromLatin1(name));
  if (buddy) {
    label->setBuddy(buddy);
    QString accessible = label->text();
    if (accessible.endsWith(u':')) accessible.chop(1);
    buddy->setAccessibleName(accessible);
  }
  return label;
}

QComboBox* makeProtocolCombo(QWidget* parent, const char* name) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(name));
  combo->addItems({QStringLiteral("UDP"), QStringLiteral("TCP")});  // index = TProtocol
  return combo;
}

QSpinBox* makeSpin(QWidget* parent, const char* name) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(QString::fromLatin1(name));
  spin->setRange(1, 32767);
  spin->setValue(1);
  return spin;
}

// A frame under its caption label, holding a grid.
QGridLayout* framedGrid(QVBoxLayout* column, QWidget* parent, QLabel* caption) {
  auto* frame = new QFrame(parent);
  frame->setFrameShape(QFrame::StyledPanel);
  frame->setFrameShadow(QFrame::Sunken);
  column->addWidget(caption);
  column->addWidget(frame);
  auto* grid = new QGridLayout(frame);
  grid->setContentsMargins(8, 6, 8, 6);
  grid->setVerticalSpacing(4);
  return grid;
}

bool isEnter(QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  int key = static_cast<QKeyEvent*>(event)->key();
  return key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace

QString normalisedIPAddress(const QString& text) {
  IPBytes bytes{};
  if (!tryParseIPText(toAnsi(text), bytes)) return {};
  return QStringLiteral("%1.%2.%3.%4").arg(bytes[0]).arg(bytes[1]).arg(bytes[2]).arg(bytes[3]);
}

int32_t portFromText(const QString& text) {
  bool digits = !text.isEmpty();
  for (QChar c : text) digits = digits && c >= u'0' && c <= u'9';
  int32_t value = 0;
  if (!digits || text.size() > 5 || !tryStrToInt(toAnsi(text), value) || value > 65535)
    throw EConvertError(format("'%s' is not a valid integer value", toAnsi(text).c_str()));
  return value;
}

TfmPage::TfmPage(QWidget* parent) : TPropertyPage2(parent) {
  setObjectName(QStringLiteral("fmPage"));
  setWindowTitle(QStringLiteral("Vistel"));
  searchDialog = [](QWidget* owner, QString& ip, int& port) {
    return ShowSearchDialog(owner, ip, port);
  };
  deviceDialog = [](QWidget* owner, IVistel4& object) { ShowDeviceDialog(owner, object); };
  runParamsDialog = [](TfmParams& dialog) { return dialog.exec() == QDialog::Accepted; };
  buildControls();
}

TfmPage::~TfmPage() = default;

void TfmPage::buildControls() {
  cbDevice = new QComboBox(this);
  cbDevice->setObjectName(QStringLiteral("cbDevice"));
  cbDevice->setMinimumContentsLength(22);
  lblDevice = makeLabel(this, "lblDevice", u"Текущее устройство", cbDevice);
  btnDevice = makeButton(this, "btnDevice", u"±");
  btnDevice->setToolTip(QString::fromUtf16(u"Редактировать список устройств"));
  btnDevice->setAccessibleName(btnDevice->toolTip());
  btnDevice->setFixedWidth(btnDevice->sizeHint().height() + 4);

  cbClientProtocol = makeProtocolCombo(this, "cbClientProtocol");
  edtClientIP = new QLineEdit(QStringLiteral("255.255.255.255"), this);
  edtClientIP->setObjectName(QStringLiteral("edtClientIP"));
  edtClientPort = new QLineEdit(this);
  edtClientPort->setObjectName(QStringLiteral("edtClientPort"));
  edtClientTimeout = makeSpin(this, "edtClientTimeout");
  edtRepeatCount = makeSpin(this, "edtRepeatCount");
  cbServerProtocol = makeProtocolCombo(this, "cbServerProtocol");
  edtServerPort = new QLineEdit(this);
  edtServerPort->setObjectName(QStringLiteral("edtServerPort"));
  lblDeviceParams = makeLabel(this, "lblDeviceParams", u"Параметры устройства");
  lblServerProp = makeLabel(this, "lblServerProp", u"Параметры сервера");

  // Letters are rejected as they are typed; ports take digits only.
  auto* noLetters =
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[^\\p{L}]*")), this);
  edtClientIP->setValidator(noLetters);
  auto* digits =
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
  edtClientPort->setValidator(digits);
  edtServerPort->setValidator(digits);

  btnConnect = makeButton(this, "btnConnect", u"Проверка связи");
  btnSearch = makeButton(this, "btnSearch", u"Поиск...");
  btnTables = makeButton(this, "btnTables", u"Таблицы...");
  btnSetIP = makeButton(this, "btnSetIP", u"Установить IP адрес");
  btnUpdateSoft = makeButton(this, "btnUpdateSoft", u"Обновить ПО...");
  btnAbout = makeButton(this, "btnAbout", u"О программе...");
  btnSetDefaults = makeButton(this, "btnSetDefaults", u"По умолчанию");
  btnExtParams = makeButton(this, "btnExtParams", u"Доп. параметры...");
  edtResult = new QLineEdit(this);
  edtResult->setObjectName(QStringLiteral("edtResult"));
  edtResult->setReadOnly(true);
  edtResult->setFocusPolicy(Qt::ClickFocus);  // not a tab stop

  auto* left = new QVBoxLayout;
  left->setSpacing(2);
  QGridLayout* deviceGrid = framedGrid(left, this, lblDevice);
  deviceGrid->addWidget(cbDevice, 0, 0);
  deviceGrid->addWidget(btnDevice, 0, 1);
  deviceGrid->setColumnStretch(0, 1);
  left->addSpacing(6);
  QGridLayout* clientGrid = framedGrid(left, this, lblDeviceParams);
  clientGrid->addWidget(makeLabel(this, "lblClientProtocol", u"Протокол:", cbClientProtocol), 0, 0);
  clientGrid->addWidget(cbClientProtocol, 0, 1);
  clientGrid->addWidget(makeLabel(this, "lblClientIP", u"IP адрес:", edtClientIP), 1, 0);
  clientGrid->addWidget(edtClientIP, 1, 1);
  clientGrid->addWidget(makeLabel(this, "lblClientPort", u"Порт:", edtClientPort), 2, 0);
  clientGrid->addWidget(edtClientPort, 2, 1);
  clientGrid->addWidget(makeLabel(this, "lblClientTimeout", u"Таймаут, мс:", edtClientTimeout), 3,
                        0);
  clientGrid->addWidget(edtClientTimeout, 3, 1);
  clientGrid->addWidget(makeLabel(this, "lblRepeatCount", u"Количество повторов:", edtRepeatCount),
                        4, 0);
  clientGrid->addWidget(edtRepeatCount, 4, 1);
  clientGrid->setColumnStretch(1, 1);
  left->addSpacing(6);
  QGridLayout* serverGrid = framedGrid(left, this, lblServerProp);
  serverGrid->addWidget(makeLabel(this, "lblServerProtocol", u"Протокол:", cbServerProtocol), 0, 0);
  serverGrid->addWidget(cbServerProtocol, 0, 1);
  serverGrid->addWidget(makeLabel(this, "lblServerPort", u"Порт сервера:", edtServerPort), 1, 0);
  serverGrid->addWidget(edtServerPort, 1, 1);
  serverGrid->setColumnStretch(1, 1);
  // The labels of both frames line up.
  int labelWidth = 0;
  for (QGridLayout* grid : {clientGrid, serverGrid})
    for (int row = 0; row < grid->rowCount(); ++row)
      if (QLayoutItem* item = grid->itemAtPosition(row, 0))
        labelWidth = std::max(labelWidth, item->widget()->sizeHint().width());
  clientGrid->setColumnMinimumWidth(0, labelWidth);
  serverGrid->setColumnMinimumWidth(0, labelWidth);
  left->addStretch(1);

  auto* right = new QVBoxLayout;
  right->setSpacing(4);
  right->addSpacing(lblDevice->sizeHint().height() + 2);
  for (QPushButton* button : {btnConnect, btnSearch, btnTables, btnSetIP, btnUpdateSoft})
    right->addWidget(button);
  right->addStretch(1);
  for (QPushButton* button : {btnAbout, btnSetDefaults, btnExtParams}) right->addWidget(button);

  auto* result = new QHBoxLayout;
  result->addWidget(makeLabel(this, "lblResult", u"Результат:", edtResult));
  result->addWidget(edtResult, 1);

  auto* columns = new QHBoxLayout;
  columns->setSpacing(10);
  columns->addLayout(left, 1);
  columns->addLayout(right);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addLayout(columns, 1);
  layout->addSpacing(4);
  layout->addLayout(result);

  // The change notifications that mark the page modified (not the repeat
  // count's: it has none).
  connect(edtClientIP, &QLineEdit::textChanged, this, [this] { Modified(); });
  connect(edtClientPort, &QLineEdit::textChanged, this, [this] { Modified(); });
  connect(edtServerPort, &QLineEdit::textChanged, this, [this] { Modified(); });
  connect(edtClientTimeout, &QSpinBox::valueChanged, this, [this] { Modified(); });
  connect(cbClientProtocol, &QComboBox::currentIndexChanged, this, [this] { Modified(); });
  connect(cbServerProtocol, &QComboBox::currentIndexChanged, this, [this] { Modified(); });
  for (QWidget* edit :
       {static_cast<QWidget*>(edtClientIP), static_cast<QWidget*>(edtClientPort),
        static_cast<QWidget*>(edtServerPort), static_cast<QWidget*>(edtClientTimeout),
        static_cast<QWidget*>(edtRepeatCount)})
    edit->installEventFilter(this);

  connect(cbDevice, &QComboBox::activated, this,
          [this](int position) { deviceActivated(position); });
  connect(btnConnect, &QPushButton::clicked, this, [this] { connectClick(); });
  connect(btnSearch, &QPushButton::clicked, this, [this] { searchClick(); });
  connect(btnTables, &QPushButton::clicked, this, [this] { tablesClick(); });
  connect(btnSetIP, &QPushButton::clicked, this, [this] { setIPClick(); });
  connect(btnUpdateSoft, &QPushButton::clicked, this, [this] { updateSoftClick(); });
  connect(btnAbout, &QPushButton::clicked, this, [this] { aboutClick(); });
  connect(btnSetDefaults, &QPushButton::clicked, this, [this] { setDefaultsClick(); });
  connect(btnDevice, &QPushButton::clicked, this, [this] { deviceClick(); });
  connect(btnExtParams, &QPushButton::clicked, this, [this] { extParamsClick(); });

  adjustSize();
}

// Enter in one of the five edits fires that edit's change notification and
// goes no further (the frame's buttons never see it); the repeat count has
// no notification, so Enter there does nothing.
bool TfmPage::eventFilter(QObject* watched, QEvent* event) {
  if (isEnter(event)) {
    if (watched != edtRepeatCount) Modified();
    return true;
  }
  return TPropertyPage2::eventFilter(watched, event);
}

IVistel4& TfmPage::object() {
  if (!object_) {
    // Obtained once from the frame and kept.
    if (OleObject()) object_ = ComPtr<IDispatch>(OleObject()).as<IVistel4>();
    if (!object_) throw Exception(ansiText(u"Страница свойств не получила объект драйвера."));
  }
  return *object_.get();
}

void TfmPage::guarded(const std::function<void()>& action) {
  try {
    action();
  } catch (...) {
    edtResult->setText(currentExceptionLine());
  }
}

void TfmPage::busy(const std::function<void()>& action) {
  QWidget* focused = QApplication::focusWidget();
  QList<QPushButton*> buttons = findChildren<QPushButton*>();
  for (QPushButton* button : buttons) button->setEnabled(false);
  guarded(action);
  for (QPushButton* button : buttons) button->setEnabled(true);
  guarded([this] { updateDeviceControls(); });
  if (focused && buttons.contains(qobject_cast<QPushButton*>(focused)) && focused->isEnabled())
    focused->setFocus();
}

void TfmPage::showResult() {
  edtResult->setText(driver().resultLine());
}

// ---- object to page ----

void TfmPage::LoadPage() {
  guarded([this] {
    fillFields();
    fillDevices();
  });
}

void TfmPage::fillFields() {
  TVistelAccess d = driver();
  const QSignalBlocker quiet[] = {QSignalBlocker(edtClientIP),      QSignalBlocker(edtRepeatCount),
                                  QSignalBlocker(edtClientTimeout), QSignalBlocker(edtClientPort),
                                  QSignalBlocker(cbClientProtocol), QSignalBlocker(edtServerPort),
                                  QSignalBlocker(cbServerProtocol)};
  edtClientIP->setText(d.getText(&IVistel4::get_ClientIP));
  edtRepeatCount->setValue(d.getInt(&IVistel4::get_RepeatCount));
  edtClientTimeout->setValue(d.getInt(&IVistel4::get_ClientTimeout));
  edtClientPort->setText(QString::number(d.getInt(&IVistel4::get_ClientPort)));
  cbClientProtocol->setCurrentIndex(d.getInt(&IVistel4::get_ClientProtocol));
  edtServerPort->setText(QString::number(d.getInt(&IVistel4::get_ServerPort)));
  cbServerProtocol->setCurrentIndex(d.getInt(&IVistel4::get_ServerProtocol));
}

// Each line keeps its device's list index: the lines sort as text, and two
// devices may carry one number, so a position or a number could pick the
// wrong device. The current device is restored even when one device fails
// to apply; that failure is raised afterwards.
void TfmPage::fillDevices() {
  TVistelAccess d = driver();
  const LONG current = d.getInt(&IVistel4::get_LDIndex);
  const LONG count = d.getInt(&IVistel4::get_LDCount);
  std::exception_ptr failure;
  {
    QSignalBlocker quiet(cbDevice);
    cbDevice->clear();
    for (LONG index = 0; index < count; ++index) {
      try {
        try {
          d.putInt(&IVistel4::put_LDIndex, index);
        } catch (...) {
          // Selected but not applied (a stored timeout of 0): still listed,
          // so that it can be chosen and mended.
          if (d.getInt(&IVistel4::get_LDIndex) != index) throw;
          if (!failure) failure = std::current_exception();
        }
        std::string caption =
            DeviceCaption(d.getAnsi(&IVistel4::get_LDName), d.getInt(&IVistel4::get_LDNumber));
        cbDevice->addItem(fromAnsi(caption), static_cast<int>(index));
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
    cbDevice->model()->sort(0);
  }
  try {
    d.putInt(&IVistel4::put_LDIndex, current);
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  selectDevice(current);
  updateDeviceControls();
  if (failure) std::rethrow_exception(failure);
}

void TfmPage::selectDevice(int index) {
  QSignalBlocker quiet(cbDevice);
  cbDevice->setCurrentIndex(cbDevice->findData(index));
}

void TfmPage::updateDeviceControls() {
  bool locked = driver().getBool(&IVistel4::get_LockDevices);
  cbDevice->setEnabled(cbDevice->count() >= 2 && !locked);
  btnDevice->setEnabled(!locked);
}

// ---- page to object ----

void TfmPage::ApplyPage() {
  TVistelAccess d = driver();
  const int32_t clientPort = portFromText(edtClientPort->text());
  const int32_t serverPort = portFromText(edtServerPort->text());
  d.putText(&IVistel4::put_ClientIP, edtClientIP->text());
  d.putInt(&IVistel4::put_RepeatCount, edtRepeatCount->value());
  d.putInt(&IVistel4::put_ClientTimeout, edtClientTimeout->value());
  d.putInt(&IVistel4::put_ClientPort, clientPort);
  d.putInt(&IVistel4::put_ClientProtocol, cbClientProtocol->currentIndex());
  d.putInt(&IVistel4::put_ServerPort, serverPort);
  d.putInt(&IVistel4::put_ServerProtocol, cbServerProtocol->currentIndex());
  d.run(&IVistel4::SaveParams);
}

// ---- handlers ----

// The device being left gets the page first; when that fails the combo goes
// back to it.
void TfmPage::deviceActivated(int position) {
  guarded([&] {
    const int index = cbDevice->itemData(position).toInt();
    try {
      ApplyPage();
    } catch (...) {
      selectDevice(driver().getInt(&IVistel4::get_LDIndex));
      throw;
    }
    driver().putInt(&IVistel4::put_LDIndex, index);
    fillFields();
  });
}

void TfmPage::connectClick() {
  busy([this] {
    edtResult->clear();
    ApplyPage();
    TVistelAccess d = driver();
    d.call(&IVistel4::Disconnect);
    if (d.call(&IVistel4::Connect) != 0) {
      showResult();
      return;
    }
    if (d.call(&IVistel4::GetStatus) != 0) {
      showResult();
    } else {
      // "%s №%d" of the type and the serial number.
      edtResult->setText(d.getText(&IVistel4::get_DeviceTypeDescription) +
                         QString::fromUtf16(u" №") +
                         QString::number(d.getInt(&IVistel4::get_SerialNumber)));
    }
    d.call(&IVistel4::Disconnect);
  });
}

void TfmPage::searchClick() {
  busy([this] {
    edtResult->clear();
    TVistelAccess d = driver();
    d.call(&IVistel4::Disconnect);
    QString ip;
    int port = 0;
    if (searchDialog(this, ip, port)) {
      d.putText(&IVistel4::put_ClientIP, ip);
      d.putInt(&IVistel4::put_ClientPort, port);
      edtClientIP->setText(ip);
      edtClientPort->setText(QString::number(port));
    }
    showResult();
  });
}

void TfmPage::tablesClick() {
  busy([this] {
    edtResult->clear();
    ApplyPage();
    driver().call(&IVistel4::ShowTables);
    showResult();
  });
}

void TfmPage::setIPClick() {
  busy([this] {
    edtResult->clear();
    const QString address = normalisedIPAddress(edtClientIP->text());
    if (address.isEmpty()) {
      showErrorBox(this,
                   edtClientIP->text() + QString::fromUtf16(u" не является корректным IP адресом"));
      return;
    }
    TVistelAccess d = driver();
    if (d.call(&IVistel4::Connect) != 0) {
      showResult();
      return;
    }
    // The device keeps the address the terminal really takes: its four numbers.
    d.putText(&IVistel4::put_ClientIP, address);
    {
      QSignalBlocker quiet(edtClientIP);
      edtClientIP->setText(address);
    }
    d.call(&IVistel4::SetIPAddress);
    showResult();
    d.call(&IVistel4::Disconnect);
  });
}

void TfmPage::updateSoftClick() {
  busy([this] {
    TVistelAccess d = driver();
    TFileRequest request;
    request.start = d.getText(&IVistel4::get_SoftFileName);
    request.filters = {QString::fromUtf16(u"Файлы ПО (*.bin)"),
                       QString::fromUtf16(u"Все файлы (*.*)")};
    request.defaultSuffix = QStringLiteral("Hex");
    QString file = dialogHooks().chooseFile(this, request);
    if (file.isEmpty()) return;
    edtResult->clear();
    ApplyPage();
    d.putText(&IVistel4::put_SoftFileName, file);
    d.call(&IVistel4::UpdateSoft);
    showResult();
  });
}

void TfmPage::setDefaultsClick() {
  guarded([this] {
    edtClientIP->setText(QStringLiteral("192.168.0.166"));
    edtClientTimeout->setValue(3000);
    edtClientPort->setText(QStringLiteral("1002"));
    cbClientProtocol->setCurrentIndex(ptTCP);
    edtServerPort->setText(QStringLiteral("2004"));
    cbServerProtocol->setCurrentIndex(ptTCP);
  });
}

void TfmPage::aboutClick() {
  busy([this] { checkCall(object().AboutBox()); });
}

void TfmPage::deviceClick() {
  busy([this] {
    edtResult->clear();
    deviceDialog(this, object());
    fillFields();
    fillDevices();
    selectDevice(driver().getInt(&IVistel4::get_LDIndex));
    showResult();
  });
}

void TfmPage::extParamsClick() {
  busy([this] {
    if (!params_) {
      params_ = std::make_unique<TfmParams>(this, object());
      params_->Pages().LoadAll();
    }
    if (runParamsDialog(*params_)) params_->Pages().ApplyAll();
  });
}

}  // namespace mirelo
