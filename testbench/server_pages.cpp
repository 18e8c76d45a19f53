#include "testbench/server_pages.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "forms/qt_text.h"
#include "platform/message_loop.h"
#include "testbench/comm.h"
#include "testbench/message_list.h"
#include "testbench/text_files.h"
#include "testbench/widgets.h"

namespace mirelo {

namespace {

const QString kDashes(44, QLatin1Char('-'));

// What a scanner sends: the code and CR LF.
void sendBarcode(TVistelObject& driver, const QString& text) {
  driver.SetBarcode(text + QStringLiteral("\r\n"));
  driver.SendBarcode();
}

}  // namespace

QString ShownData(const QString& data) {
  QString shown;
  for (QChar c : data) {
    if (c.unicode() < 0x20)
      shown += QLatin1Char('#') + QString::number(c.unicode());
    else
      shown += c;
  }
  return shown;
}

QString BarcodeOf(const QString& data) {
  qsizetype end = 0;
  while (end < data.size() && (data[end].isLetter() || data[end].isDigit())) ++end;
  return data.left(end);
}

// ---- the server pages ----

TServerPage::TServerPage(const char* formName, const char16_t* caption) : TPage(formName, caption) {
  btnOpenPort = makeButton(this, "btnOpenPort", u"Открыть порт");
  btnClosePort = makeButton(this, "btnClosePort", u"Закрыть порт");
  btnClosePort->setEnabled(false);
  connect(btnOpenPort, &QPushButton::clicked, this, &TServerPage::openServer);
  connect(btnClosePort, &QPushButton::clicked, this, &TServerPage::closeServer);
}

void TServerPage::UpdatePage() {
  bool opened = Driver()->ServerOpened();
  btnOpenPort->setEnabled(!opened);
  btnClosePort->setEnabled(opened);
}

void TServerPage::openServer() {
  runDriverCommand([this](TVistelObject& driver) {
    driver.OpenServer();
    // The object has one handler: this page takes the events from the other.
    Pages()->OnDataEvent = [page = QPointer<TServerPage>(this)](const QString& data,
                                                                int32_t senderId) {
      if (page) page->DataEvent(data, senderId);
    };
  });
  guarded([this] { UpdatePage(); });
}

void TServerPage::closeServer() {
  runDriverCommand([this](TVistelObject& driver) {
    Pages()->OnDataEvent = nullptr;
    driver.CloseServer();
  });
  guarded([this] { UpdatePage(); });
}

// ---- TCP сервер ----

TfmTCPServer::TfmTCPServer() : TServerPage("fmTCPServer", u"TCP сервер") {
  MemoLog = makeMemo(this, "MemoLog");
  MemoLog->setReadOnly(true);
  btnClear = makeButton(this, "btnClear", u"<- Очистить");
  MemoData = makeMemo(this, "MemoData");
  setMemoLines(MemoData, {q(u"Строка 1"), q(u"Строка 2")});
  btnSendAnswer = makeButton(this, "btnSendAnswer", u"Передать ответ");
  btnBarcode = makeButton(this, "btnBarcode", u"Штрихкод");

  auto* layout = new QGridLayout(this);
  layout->addWidget(makeLabel(this, u"Принято:"), 0, 0);
  layout->addWidget(MemoLog, 1, 0);
  layout->addWidget(makeLabel(this, u"Данные:"), 2, 0);
  layout->addWidget(MemoData, 3, 0);
  auto* top = new QVBoxLayout;
  for (QPushButton* button : {btnOpenPort, btnClosePort, btnClear}) top->addWidget(button);
  top->addStretch(1);
  auto* bottom = new QVBoxLayout;
  for (QPushButton* button : {btnSendAnswer, btnBarcode}) bottom->addWidget(button);
  bottom->addStretch(1);
  layout->addLayout(top, 1, 1);
  layout->addLayout(bottom, 3, 1);
  layout->setRowStretch(1, 3);
  layout->setRowStretch(3, 1);
  layout->setColumnStretch(0, 1);

  connect(btnClear, &QPushButton::clicked, MemoLog, &QPlainTextEdit::clear);
  connect(btnSendAnswer, &QPushButton::clicked, this,
          [this] { runDriverCommand([this](TVistelObject& driver) { sendAnswers(driver); }); });
  connect(btnBarcode, &QPushButton::clicked, this, [this] {
    runDriverCommand(
        [](TVistelObject& driver) { sendBarcode(driver, QStringLiteral("123456789123")); });
    guarded([this] { UpdatePage(); });
  });
}

void TfmTCPServer::DataEvent(const QString& data, int32_t senderId) {
  std::shared_ptr<TVistelObject> driver = Driver();
  NotifyStart();
  addMemoLine(MemoLog, kDashes);
  addMemoLine(MemoLog, ShownData(data));
  driver->SetSenderID(senderId);
  if (driver->GetSenderParams() == 0) {
    addMemoLine(MemoLog, q(u"IP адрес   : ") + driver->SenderIP());
    if (driver->DeviceBySenderID() == 0)
      addMemoLine(MemoLog, q(u"Устройство : ") + driver->LDName());
  }
  addMemoLine(MemoLog, kDashes);
  sendAnswers(*driver);
  NotifyResult(*driver);
}

void TfmTCPServer::sendAnswers(TVistelObject& driver) {
  QStringList lines = memoLines(MemoData);
  for (qsizetype first = 0; first < lines.size(); first += 2) {
    driver.SetLine2(QString());
    driver.SetLine1(lines[first]);
    if (first + 1 < lines.size()) driver.SetLine2(lines[first + 1]);
    driver.SendAnswer();
  }
}

// ---- Ответы ----

TfmResponse::TfmResponse()
    : TServerPage("fmResponse", u"Ответы"),
      Wait([](int32_t ms) { Sleep(static_cast<uint32_t>(ms)); }) {
  Memo = makeMemo(this, "Memo");
  setMemoLines(Memo, {q(u"123456789123;W;100"), q(u"123456789123;SM; Сообщение1; Сообщение2"),
                      q(u"123456789123;W;1000"), q(u"123456789123;L;1;1;20; Строка 1"),
                      q(u"123456789123;L;2;1;20; Строка 2")});
  btnLoad = makeButton(this, "btnLoad", u"Загрузить...");
  btnSave = makeButton(this, "btnSave", u"Сохранить...");
  btnClear = makeButton(this, "btnClear", u"Очистить");
  edtData = makeEdit(this, "edtData", QStringLiteral("123456789123"), 40);
  btnSendData = makeButton(this, "btnSendData", u"Передать");
  Log = makeMemo(this, "Log");
  Log->setReadOnly(true);
  btnClearLog = makeButton(this, "btnClearLog", u"Очистить");
  auto filters = {u"Текстовые файлы (*.txt)", u"Все файлы (*.*)"};
  OpenDialog = makeFileDialog(this, "OpenDialog", false, u"Ответы", "txt", filters);
  SaveDialog = makeFileDialog(this, "SaveDialog", true, u"Ответы", "txt", filters);

  auto* layout = new QGridLayout(this);
  layout->addWidget(Memo, 0, 0, 1, 3);
  auto* scriptButtons = new QVBoxLayout;
  for (QPushButton* button : {btnOpenPort, btnClosePort}) scriptButtons->addWidget(button);
  scriptButtons->addSpacing(12);
  for (QPushButton* button : {btnLoad, btnSave, btnClear}) scriptButtons->addWidget(button);
  scriptButtons->addStretch(1);
  layout->addLayout(scriptButtons, 0, 3);
  layout->addWidget(makeLabel(this, u"Данные:"), 1, 0);
  layout->addWidget(edtData, 1, 1, 1, 2);
  layout->addWidget(btnSendData, 1, 3);
  layout->addWidget(Log, 2, 0, 1, 3);
  auto* logButtons = new QVBoxLayout;
  logButtons->addWidget(btnClearLog);
  logButtons->addStretch(1);
  layout->addLayout(logButtons, 2, 3);
  layout->setRowStretch(0, 1);
  layout->setRowStretch(2, 1);
  layout->setColumnStretch(1, 1);

  connect(btnClear, &QPushButton::clicked, Memo, &QPlainTextEdit::clear);
  connect(btnClearLog, &QPushButton::clicked, Log, &QPlainTextEdit::clear);
  connect(btnSendData, &QPushButton::clicked, this, [this] {
    runDriverCommand([this](TVistelObject& driver) { sendBarcode(driver, edtData->text()); });
  });
  connectFileButton(btnLoad, OpenDialog, [this](const QString& name) { LoadFile(name); });
  connectFileButton(btnSave, SaveDialog, [this](const QString& name) { SaveFile(name); });
}

void TfmResponse::DataEvent(const QString& data, int32_t) {
  std::shared_ptr<TVistelObject> driver = Driver();
  // The time shown afterwards counts from the barcode's arrival.
  NotifyStart();
  QString barcode = BarcodeOf(data);
  addMemoLine(Log, QStringLiteral("<- ") + barcode);
  if (RunScript(*driver, barcode)) NotifyResult(*driver);
}

bool TfmResponse::RunScript(TVistelObject& driver, const QString& barcode) {
  auto number = [](const QStringList& fields, int index) {
    return truncatedNumber(fields.value(index), INT32_MIN, INT32_MAX);
  };
  for (const QString& line : memoLines(Memo)) {
    QStringList fields = line.split(QLatin1Char(';'));
    if (fields[0] != barcode) continue;
    QString command = fields.value(1);
    int32_t result = 0;
    if (command == QStringLiteral("W")) {
      int32_t ms = truncatedNumber(fields.value(2), 0, kMaxScriptWait);
      Wait(ms);
      addMemoLine(Log, q(u"Задержка %1 мс").arg(ms));
      continue;
    }
    if (command == QStringLiteral("L")) {
      driver.SetLineNumber(number(fields, 2));
      driver.SetLineType(number(fields, 3));
      driver.SetLineSpeed(number(fields, 4));
      driver.SetLineData(fields.value(5));
      result = driver.ShowLine();
    } else if (command == QStringLiteral("SM")) {
      driver.SetLine1(fields.value(2));
      driver.SetLine2(fields.value(3));
      result = driver.ShowMessage();
    } else {
      continue;
    }
    addMemoLine(Log, QStringLiteral("-> ") + driver.Input());
    if (result != 0) return false;
  }
  return true;
}

bool TfmResponse::LoadFile(const QString& fileName) {
  return guarded([&] { setMemoLines(Memo, readTextLines(fileName)); });
}

bool TfmResponse::SaveFile(const QString& fileName) {
  return guarded([&] { writeTextLines(fileName, memoLines(Memo)); });
}

// ---- Передача штрихкода ----

TfmSendBarcode::TfmSendBarcode() : TPage("fmSendBarcode", u"Передача штрихкода") {
  cbCOMPort = makeCombo(this, "cbCOMPort",
                        {u"COM1", u"COM2", u"COM3", u"COM4", u"COM5", u"COM6", u"COM7", u"COM8"});
  cbBaudRate =
      makeCombo(this, "cbBaudRate",
                {u"1200", u"2400", u"4800", u"9600", u"19200", u"38400", u"57600", u"115200"});
  cbBaudRate->setCurrentIndex(1);
  edtData = makeEdit(this, "edtData", QStringLiteral("123456789123"), 40);
  lblDataLength = makeLengthLabel(this, "lblDataLength", edtData);
  btnSendCOM = makeButton(this, "btnSendCOM", u"Передать, COM");
  btnSendTCP = makeButton(this, "btnSendTCP", u"Передать, TCP");

  auto* layout = new QGridLayout(this);
  layout->addWidget(makeLabel(this, u"Порт:"), 0, 0);
  layout->addWidget(cbCOMPort, 0, 1);
  layout->addWidget(makeLabel(this, u"Скорость:"), 1, 0);
  layout->addWidget(cbBaudRate, 1, 1);
  layout->addWidget(makeLabel(this, u"Данные:"), 2, 0);
  layout->addWidget(edtData, 2, 1, 1, 2);
  layout->addWidget(lblDataLength, 2, 3);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(btnSendCOM);
  buttons->addWidget(btnSendTCP);
  buttons->addStretch(1);
  layout->addLayout(buttons, 0, 4, 4, 1);
  layout->setRowStretch(3, 1);
  layout->setColumnStretch(2, 1);

  connect(btnSendCOM, &QPushButton::clicked, this, [this] { guarded([this] { SendCOM(); }); });
  connect(btnSendTCP, &QPushButton::clicked, this, [this] {
    runDriverCommand([this](TVistelObject& driver) { sendBarcode(driver, edtData->text()); });
  });
}

int TfmSendBarcode::BaudRateOf(int index) {
  static const int rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  return index >= 0 && index < 8 ? rates[index] : 4800;
}

void TfmSendBarcode::SendCOM() {
  TComm comm;
  comm.PortNumber = cbCOMPort->currentIndex() + 1;
  comm.SetBaudRate(BaudRateOf(cbBaudRate->currentIndex()));
  comm.OpenPort();
  // Exactly what a serial scanner sends: the text and CR LF, nothing else.
  comm.WriteData(toAnsi(edtData->text()) + "\r\n");
  comm.ClosePort();
}

}  // namespace mirelo
