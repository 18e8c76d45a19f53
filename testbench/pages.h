#pragma once
// The frame every page lives in: TPages, the page list that also owns the
// one driver object the pages share, and TPage, the base of every page with
// its button handling and the three notifications the main window shows.
//
// The driver object is handed out as a shared reference: an action that
// holds it (a long loop that lets the window work between its steps) keeps
// the object alive even when "Выгрузить драйвер" frees the list's reference
// meanwhile. Event handlers (DataEvent, LogEvent) belong to the list, so an
// object created anew after FreeDriver delivers to the same handlers.
#include <QAbstractButton>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "testbench/vistel_object.h"

namespace mirelo {

class TPage;

class TPages {
 public:
  TPages();
  ~TPages();
  TPages(const TPages&) = delete;
  TPages& operator=(const TPages&) = delete;

  int PageCount() const { return static_cast<int>(pages_.size()); }
  TPage* PageAt(int index) const { return pages_.at(static_cast<size_t>(index)); }
  void AddPage(TPage* page);
  void RemovePage(TPage* page);
  // Calls UpdatePage of every page in list order; failures are shown.
  void UpdatePages();

  // The shared object, created on first request.
  std::shared_ptr<TVistelObject> Driver();
  void FreeDriver();
  bool HasDriver() const { return driver_ != nullptr; }

  // The object's one DataEvent handler (the server page that opened the
  // server last) and the log page's LogEvent handler; empty: dropped.
  std::function<void(const QString& data, int32_t senderId)> OnDataEvent;
  std::function<void(const QString& line)> OnLogEvent;

  // Shows a failure; a message box unless replaced (tests record them).
  std::function<void(const QString& text)> showError;
  // The same, after the current call has returned: for failures inside an
  // event that the driver raises from within one of its own calls.
  void postError(const QString& text);
  // Milliseconds from the monotonic clock, wrapping at 2^32.
  std::function<uint32_t()> tickCount;

  // Long loops that hand control to the window between their steps count
  // themselves here; the window closes only when none runs.
  class TLoop {
   public:
    explicit TLoop(TPages& pages);
    ~TLoop();
    TLoop(const TLoop&) = delete;
    TLoop& operator=(const TLoop&) = delete;

   private:
    TPages& pages_;
  };
  int RunningLoops() const { return loops_; }
  // Called when the last running loop has ended.
  std::function<void()> OnLoopsEnded;

 private:
  std::vector<TPage*> pages_;
  std::shared_ptr<TVistelObject> driver_;
  ComPtr<TVistelEventSink> sink_;
  QObject context_;  // pending posted errors die with the list
  int loops_ = 0;
};

// Disconnects when the action that connected ends, also when it fails.
class TDisconnect {
 public:
  explicit TDisconnect(TVistelObject& driver) : driver_(driver) {}
  ~TDisconnect();
  TDisconnect(const TDisconnect&) = delete;
  TDisconnect& operator=(const TDisconnect&) = delete;

 private:
  TVistelObject& driver_;
};

// The text of a failure (Windows-1251 inside the program's exceptions).
QString exceptionText(const std::exception& e);

// Handles whatever is pending for the window and the driver's message loop;
// what long loops call between their steps.
void processPendingEvents();

class TPage : public QWidget {
  Q_OBJECT

 public:
  // formName: the form's object name (fmState, ...), part of every setting's name.
  TPage(const char* formName, const char16_t* caption);
  ~TPage() override;

  QString Caption() const { return caption_; }
  TPages* Pages() const { return pages_; }
  // Leaves the current list if any, then joins the given one if any.
  void SetPages(TPages* pages);
  std::shared_ptr<TVistelObject> Driver();
  void FreeDriver();

  // Buttons placed directly on the page (not those inside panels): off, or
  // on again with the focus back on the button that had it when they went off.
  void EnableButtons(bool enabled);
  QAbstractButton* RememberedButton() const { return remembered_; }

  // The data and result of the object the action used: a long action keeps
  // its own, which may no longer be the list's.
  void NotifyStart() { emit commandStart(this); }
  void NotifyData(TVistelObject& driver) { emit commandData(this, &driver); }
  void NotifyResult(TVistelObject& driver) { emit commandResult(this, &driver); }

  virtual void InitPage() {}
  virtual void UpdatePage() {}
  virtual void LeavePage() {}
  // The page's own close action at program end (stop timers, stop loops).
  virtual void ClosePage() {}

 signals:
  void commandStart(TPage* page);
  void commandData(TPage* page, TVistelObject* driver);
  void commandResult(TPage* page, TVistelObject* driver);

 protected:
  // A button action: buttons off, the action, buttons on again whatever
  // happened; a failure is shown once the buttons are back.
  void runCommand(const std::function<void()>& action);
  // The same for the command pattern on the shared object: NotifyStart, the
  // action, NotifyResult.
  void runDriverCommand(const std::function<void(TVistelObject& driver)>& action);
  // The same for an action that may connect: Disconnect follows the result
  // shown, also after a failure.
  void runDeviceCommand(const std::function<void(TVistelObject& driver)>& action);
  // A slot, timer or event body: a failure is shown, nothing escapes.
  // Returns whether the body succeeded.
  bool guarded(const std::function<void()>& action);
  void showError(const QString& text);

 private:
  QString caption_;
  TPages* pages_ = nullptr;
  QPointer<QAbstractButton> remembered_;
};

}  // namespace mirelo
