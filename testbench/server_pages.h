#pragma once
// The pages of the driver's server side: "TCP сервер" shows what terminals
// send and answers with lines typed by the operator, "Ответы" answers
// barcodes from a small script, "Передача штрихкода" produces a barcode
// through the driver's barcode command or on a serial port.
//
// Response script: one rule a line, fields separated by ';':
//   barcode;W;milliseconds                 wait (0 to kMaxScriptWait)
//   barcode;L;line;type;speed;text         ShowLine
//   barcode;SM;line 1;line 2               ShowMessage
// Other commands are ignored.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

#include "testbench/pages.h"

class QComboBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace mirelo {

// The longest wait of a "W" rule, in milliseconds: the window does not
// answer while it waits.
constexpr int32_t kMaxScriptWait = 60000;

// Received data as "TCP сервер" shows it: bytes below 0x20 as '#' and their
// decimal value.
QString ShownData(const QString& data);
// The barcode of received data: the characters before the first that is no
// letter or digit.
QString BarcodeOf(const QString& data);

// Opening and closing the driver's server, as both server pages do it.
class TServerPage : public TPage {
  Q_OBJECT

 public:
  TServerPage(const char* formName, const char16_t* caption);

  QPushButton* btnOpenPort;
  QPushButton* btnClosePort;

  void UpdatePage() override;
  virtual void DataEvent(const QString& data, int32_t senderId) = 0;

 protected:
  void openServer();
  void closeServer();
};

class TfmTCPServer : public TServerPage {
  Q_OBJECT

 public:
  TfmTCPServer();

  QPlainTextEdit* MemoLog;
  QPushButton* btnClear;
  QPlainTextEdit* MemoData;
  QPushButton* btnSendAnswer;
  QPushButton* btnBarcode;

  void DataEvent(const QString& data, int32_t senderId) override;

 private:
  // One answer per two lines of MemoData.
  void sendAnswers(TVistelObject& driver);
};

class TfmResponse : public TServerPage {
  Q_OBJECT

 public:
  TfmResponse();

  QPlainTextEdit* Memo;
  QPushButton* btnLoad;
  QPushButton* btnSave;
  QPushButton* btnClear;
  QLineEdit* edtData;
  QPushButton* btnSendData;
  QPlainTextEdit* Log;
  QPushButton* btnClearLog;
  QFileDialog* OpenDialog;
  QFileDialog* SaveDialog;

  void DataEvent(const QString& data, int32_t senderId) override;
  // Runs the rules for a barcode; false when ShowLine or ShowMessage
  // refused and ended the run. EConvertError for a bad number.
  bool RunScript(TVistelObject& driver, const QString& barcode);
  bool LoadFile(const QString& fileName);
  bool SaveFile(const QString& fileName);

  // How a "W" rule waits (tests replace it).
  std::function<void(int32_t ms)> Wait;
};

class TfmSendBarcode : public TPage {
  Q_OBJECT

 public:
  TfmSendBarcode();

  QComboBox* cbCOMPort;
  QComboBox* cbBaudRate;
  QLineEdit* edtData;
  QLabel* lblDataLength;
  QPushButton* btnSendCOM;
  QPushButton* btnSendTCP;

  // The rate of an item of cbBaudRate.
  static int BaudRateOf(int index);
  void SendCOM();
};

}  // namespace mirelo
