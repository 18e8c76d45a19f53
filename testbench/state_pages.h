#pragma once
// The pages that talk to the current terminal as a client: its state
// ("Состояние"), a repeated command with statistics ("Проверка связи"), the
// host's clock on its display ("Текущее время") and one raw command
// ("Команда").
#include <QString>
#include <cstdint>

#include "testbench/pages.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTimer;

namespace mirelo {

class TfmState : public TPage {
  Q_OBJECT

 public:
  TfmState();

  QPushButton* btnGetStatus;
  QPushButton* btnLock;
  QPushButton* btnUnlock;
  QPushButton* btnReset;
  QPushButton* btnUnloadDriver;
  QPushButton* btnLoadDriver;
  QPlainTextEdit* Memo;

  // The ten lines of the state report from the driver's status properties.
  static QStringList StateReport(TVistelObject& driver);

 private:
  void getStatus();
  void lockDevice(bool lock);
  void reset();
};

class TfmConnect : public TPage {
  Q_OBJECT

 public:
  TfmConnect();

  QComboBox* cbCommand;
  QSpinBox* edtDelay;
  QCheckBox* chbStopOnError;
  QCheckBox* chbClosePort;
  QPushButton* btnStart;
  QPushButton* btnStop;
  QLabel* lblRepCount;
  QLabel* lblErrCount;
  QLabel* lblTxSpeed;
  QLabel* lblCommandTime;
  QLabel* lblErrRate;
  QLabel* lblTimeLeft;
  QTimer* Timer;

  void Start();
  void Stop();
  // One repetition, as the timer runs it.
  void Tick();
  void ClosePage() override;

  int64_t RepeatCount() const { return repeatCount_; }
  int64_t ErrorCount() const { return errorCount_; }

 private:
  void stopTimer();
  void showFigures(uint32_t elapsed);

  // 64-bit: a test left running for weeks does not wrap the figures.
  int64_t repeatCount_ = 0;
  int64_t errorCount_ = 0;
  uint32_t startTick_ = 0;
};

class TfmTime : public TPage {
  Q_OBJECT

 public:
  TfmTime();

  QLabel* lblTime;
  QSpinBox* edtInterval;
  QPushButton* btnStart;
  QPushButton* btnStop;
  QTimer* Timer;

  // "hh:nn:ss", 24-hour.
  static QString TimeText();
  void Start();
  void Stop();
  void Tick();
  void ClosePage() override;
};

class TfmCommand : public TPage {
  Q_OBJECT

 public:
  TfmCommand();

  QLineEdit* edtCommandData;
  QPushButton* btnSendCommand;

 private:
  void sendCommand();
};

}  // namespace mirelo
