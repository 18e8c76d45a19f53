#include "testbench/state_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

#include "testbench/widgets.h"

namespace mirelo {

namespace {

QString hexNumber(int32_t value, int digits) {
  return QString::number(static_cast<uint32_t>(value), 16)
      .toUpper()
      .rightJustified(digits, QLatin1Char('0'));
}

QString checkMark(bool on) {
  return on ? QStringLiteral("[X]") : QStringLiteral("[ ]");
}

}  // namespace

// ---- Состояние ----

TfmState::TfmState() : TPage("fmState", u"Состояние") {
  btnGetStatus = makeButton(this, "btnGetStatus", u"Прочитать");
  btnLock = makeButton(this, "btnLock", u"Блокировать");
  btnUnlock = makeButton(this, "btnUnlock", u"Разблокировать");
  btnReset = makeButton(this, "btnReset", u"Сброс");
  btnUnloadDriver = makeButton(this, "btnUnloadDriver", u"Выгрузить драйвер");
  btnLoadDriver = makeButton(this, "btnLoadDriver", u"Загрузить драйвер");
  Memo = makeMemo(this, "Memo");
  Memo->setReadOnly(true);
  QFont fixed(QStringLiteral("Courier New"));
  fixed.setStyleHint(QFont::TypeWriter);
  Memo->setFont(fixed);

  auto* buttons = new QVBoxLayout;
  for (QPushButton* button : {btnGetStatus, btnLock, btnUnlock, btnReset})
    buttons->addWidget(button);
  buttons->addStretch(1);
  buttons->addWidget(btnUnloadDriver);
  buttons->addWidget(btnLoadDriver);
  auto* layout = new QGridLayout(this);
  layout->addWidget(Memo, 0, 0);
  layout->addLayout(buttons, 0, 1);
  layout->setColumnStretch(0, 1);

  connect(btnGetStatus, &QPushButton::clicked, this, &TfmState::getStatus);
  connect(btnLock, &QPushButton::clicked, this, [this] { lockDevice(true); });
  connect(btnUnlock, &QPushButton::clicked, this, [this] { lockDevice(false); });
  connect(btnReset, &QPushButton::clicked, this, &TfmState::reset);
  connect(btnUnloadDriver, &QPushButton::clicked, this,
          [this] { guarded([this] { FreeDriver(); }); });
  connect(btnLoadDriver, &QPushButton::clicked, this, [this] { guarded([this] { Driver(); }); });
}

QStringList TfmState::StateReport(TVistelObject& driver) {
  return {
      q(u"Версия ПО               : ") + driver.SoftVersion(),
      q(u"Сборка ПО               : ") + QString::number(driver.SoftBuild()),
      q(u"Дата ПО                 : ") + driver.SoftDate(),
      q(u"Тип устройства          : ") + QString::number(driver.DeviceType()) +
          QStringLiteral(", ") + driver.DeviceTypeDescription(),
      q(u"Заводской номер         : ") + QString::number(driver.SerialNumber()),
      q(u"Флаги состояния         : ") + QStringLiteral("%1 (%2h)")
                                             .arg(driver.StatusFlags())
                                             .arg(hexNumber(driver.StatusFlags(), 2)),
      q(u"Блокировка устройства   : ") + checkMark(driver.IsDeviceLocked()),
      q(u"Ошибка таблицы настроек : ") + checkMark(driver.IsSetupTableError()),
      q(u"MAC адрес               : ") + driver.MAC(),
      q(u"ID фирмы                : ") +
          QStringLiteral("%1 (%2h)").arg(driver.FirmID()).arg(hexNumber(driver.FirmID(), 6)),
  };
}

void TfmState::getStatus() {
  runDeviceCommand([this](TVistelObject& driver) {
    if (driver.Connect() == 0) {
      // The report is written whatever GetStatus returned.
      driver.GetStatus();
      setMemoLines(Memo, StateReport(driver));
    }
  });
}

void TfmState::lockDevice(bool lock) {
  runDeviceCommand([lock](TVistelObject& driver) {
    if (driver.Connect() == 0) lock ? driver.LockDevice() : driver.UnlockDevice();
  });
}

void TfmState::reset() {
  runDeviceCommand([](TVistelObject& driver) { driver.Reset(); });
}

// ---- the timer pages ----

void TTimerPage::makeTimerControls(const char16_t* stopCaption) {
  btnStart = makeButton(this, "btnStart", u"Начать");
  btnStop = makeButton(this, "btnStop", stopCaption);
  btnStop->setEnabled(false);
  Timer = new QTimer(this);
  Timer->setObjectName(QStringLiteral("Timer"));
  connect(btnStart, &QPushButton::clicked, this, [this] { guarded([this] { Start(); }); });
  connect(btnStop, &QPushButton::clicked, this, [this] { guarded([this] { Stop(); }); });
  connect(Timer, &QTimer::timeout, this, [this] {
    try {
      Tick();
    } catch (const std::exception& e) {
      Stop();
      showError(exceptionText(e));
    }
  });
}

QVBoxLayout* TTimerPage::timerButtons() {
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(btnStart);
  buttons->addWidget(btnStop);
  buttons->addStretch(1);
  return buttons;
}

void TTimerPage::runTimer(int interval) {
  Timer->setInterval(interval);
  if (interval > 0) Timer->start();
  btnStop->setEnabled(true);
  btnStart->setEnabled(false);
}

void TTimerPage::Stop() {
  Timer->stop();
  btnStop->setEnabled(false);
  btnStart->setEnabled(true);
}

void TTimerPage::ClosePage() {
  Timer->stop();
}

// ---- Проверка связи ----

TfmConnect::TfmConnect() : TTimerPage("fmConnect", u"Проверка связи") {
  cbCommand = makeCombo(this, "cbCommand", {u"BBh, Запрос состояния", u"ACh, Передача штрих-кода"});
  edtDelay = makeNumberEdit(this, "edtDelay", 1, 1, 32767);
  chbStopOnError = makeCheckBox(this, "chbStopOnError", u"Остановка при ошибке");
  chbClosePort = makeCheckBox(this, "chbClosePort", u"Закрывать порт после каждой  команды");
  makeTimerControls(u"Прервать");
  auto figure = [this](const char* name) { return makeLabel(this, u"0", name); };
  lblRepCount = figure("lblRepCount");
  lblErrCount = figure("lblErrCount");
  lblTxSpeed = figure("lblTxSpeed");
  lblCommandTime = figure("lblCommandTime");
  lblErrRate = figure("lblErrRate");
  lblTimeLeft = figure("lblTimeLeft");

  auto* layout = new QGridLayout(this);
  layout->addWidget(makeLabel(this, u"Команда:"), 0, 0);
  layout->addWidget(cbCommand, 0, 1, 1, 2);
  layout->addWidget(makeLabel(this, u"Задержка:"), 1, 0);
  layout->addWidget(edtDelay, 1, 1);
  layout->addWidget(makeLabel(this, u"мс."), 1, 2);
  layout->addWidget(chbStopOnError, 2, 0, 1, 3);
  layout->addWidget(chbClosePort, 3, 0, 1, 3);
  int row = 4;
  for (auto [caption, label] : {std::pair{u"Количество повторов:", lblRepCount},
                                {u"Количество ошибок:", lblErrCount},
                                {u"Скорость, команд/c:", lblTxSpeed},
                                {u"Время команды, мс.:", lblCommandTime},
                                {u"Процент ошибок:", lblErrRate},
                                {u"Время теста, секунд:", lblTimeLeft}}) {
    layout->addWidget(makeLabel(this, caption), row, 0);
    layout->addWidget(label, row++, 1, 1, 2);
  }
  layout->addLayout(timerButtons(), 0, 3, row, 1);
  layout->setRowStretch(row, 1);
  layout->setColumnStretch(2, 1);
}

void TfmConnect::Start() {
  repeatCount_ = 0;
  errorCount_ = 0;
  runTimer(edtDelay->value());
  startTick_ = Pages()->tickCount();
}

void TfmConnect::Tick() {
  std::shared_ptr<TVistelObject> driver = Driver();
  NotifyStart();
  ++repeatCount_;
  int32_t result = driver->Connect();
  if (result == 0) {
    if (cbCommand->currentIndex() > 0) {
      driver->SetBarcode(QStringLiteral("1111111111111\r\n"));
      result = driver->SendBarcode();
    } else {
      result = driver->GetStatus();
    }
  }
  if (result != 0) ++errorCount_;
  showFigures(Pages()->tickCount() - startTick_);
  NotifyResult(*driver);
  if (chbClosePort->isChecked()) driver->Disconnect();
  if (result != 0 && chbStopOnError->isChecked()) Stop();
}

void TfmConnect::showFigures(uint32_t elapsed) {
  lblRepCount->setText(QString::number(repeatCount_));
  lblErrCount->setText(QString::number(errorCount_));
  lblErrRate->setText(QLocale::system().toString(
      static_cast<double>(errorCount_) * 100.0 / static_cast<double>(repeatCount_), 'f', 2));
  lblTimeLeft->setText(QString::number(elapsed / 1000));
  lblCommandTime->setText(QString::number(static_cast<int64_t>(elapsed) / repeatCount_));
  // Within the first millisecond there is no speed to show yet.
  if (elapsed > 0)
    lblTxSpeed->setText(QString::number(repeatCount_ * 1000 / static_cast<int64_t>(elapsed)));
}

// ---- Текущее время ----

TfmTime::TfmTime() : TTimerPage("fmTime", u"Текущее время") {
  lblTime = makeLabel(this, u"", "lblTime");
  lblTime->setText(TimeText());
  edtInterval = makeNumberEdit(this, "edtInterval", 500, 0, 32767);
  makeTimerControls(u"Остановить");

  auto* layout = new QGridLayout(this);
  layout->addWidget(makeLabel(this, u"Текущее время:"), 0, 0);
  layout->addWidget(lblTime, 0, 1);
  layout->addWidget(makeLabel(this, u"Интервал, мс:"), 1, 0);
  layout->addWidget(edtInterval, 1, 1);
  layout->addLayout(timerButtons(), 0, 2, 3, 1);
  layout->setRowStretch(2, 1);
  layout->setColumnStretch(1, 1);
}

QString TfmTime::TimeText() {
  return QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
}

void TfmTime::Start() {
  runTimer(edtInterval->value());
}

void TfmTime::Tick() {
  QString text = TimeText();
  lblTime->setText(text);
  std::shared_ptr<TVistelObject> driver = Driver();
  driver->SetLine1(q(u"Текущее время:"));
  driver->SetLine2(text);
  // Failures are silent: the next tick tries again.
  driver->ShowMessage();
}

// ---- Команда ----

TfmCommand::TfmCommand() : TPage("fmCommand", u"Команда") {
  edtCommandData = makeEdit(this, "edtCommandData", QStringLiteral("BB"), 22);
  btnSendCommand = makeButton(this, "btnSendCommand", u"Выполнить");
  auto* layout = new QGridLayout(this);
  layout->addWidget(makeLabel(this, u"Команда:"), 0, 0);
  layout->addWidget(edtCommandData, 0, 1);
  layout->addWidget(btnSendCommand, 0, 2);
  layout->setRowStretch(1, 1);
  layout->setColumnStretch(1, 1);
  connect(btnSendCommand, &QPushButton::clicked, this, &TfmCommand::sendCommand);
}

void TfmCommand::sendCommand() {
  runDriverCommand([this](TVistelObject& driver) {
    driver.SetCommandData(edtCommandData->text());
    driver.SendCommand();
  });
}

}  // namespace mirelo
