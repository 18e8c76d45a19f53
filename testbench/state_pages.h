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
class QVBoxLayout;

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

// A page whose work runs on Timer between "Начать" and a stop button. A
// failing tick stops the timer and is shown once, not once a tick.
class TTimerPage : public TPage {
  Q_OBJECT

 public:
  QPushButton* btnStart;
  QPushButton* btnStop;
  QTimer* Timer;

  virtual void Start() = 0;
  void Stop();
  // One step, as the timer runs it.
  virtual void Tick() = 0;
  void ClosePage() override;

 protected:
  using TPage::TPage;
  // The two buttons (the stop button off) and the timer, wired.
  void makeTimerControls(const char16_t* stopCaption);
  // The buttons in a column, with the room below them.
  QVBoxLayout* timerButtons();
  // Ticks every interval milliseconds; an interval of 0 switches the
  // buttons but starts nothing (a Qt timer of 0 would fire as fast as the
  // loop turns).
  void runTimer(int interval);
};

class TfmConnect : public TTimerPage {
  Q_OBJECT

 public:
  TfmConnect();

  QComboBox* cbCommand;
  QSpinBox* edtDelay;
  QCheckBox* chbStopOnError;
  QCheckBox* chbClosePort;
  QLabel* lblRepCount;
  QLabel* lblErrCount;
  QLabel* lblTxSpeed;
  QLabel* lblCommandTime;
  QLabel* lblErrRate;
  QLabel* lblTimeLeft;

  void Start() override;
  // One repetition.
  void Tick() override;

  int64_t RepeatCount() const { return repeatCount_; }
  int64_t ErrorCount() const { return errorCount_; }

 private:
  void showFigures(uint32_t elapsed);

  // 64-bit: a test left running for weeks does not wrap the figures.
  int64_t repeatCount_ = 0;
  int64_t errorCount_ = 0;
  uint32_t startTick_ = 0;
};

class TfmTime : public TTimerPage {
  Q_OBJECT

 public:
  TfmTime();

  QLabel* lblTime;
  QSpinBox* edtInterval;

  // "hh:nn:ss", 24-hour.
  static QString TimeText();
  void Start() override;
  void Tick() override;
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
