#include "native1c/driver_thread.h"

#include <memory>
#include <system_error>

#include "platform/message_loop.h"

namespace mirelo::native {

namespace {
constexpr uint32_t kRunStep = WM_USER + 1;  // wParam: the std::function to call
constexpr uint32_t kStop = WM_USER + 2;
}  // namespace

DriverThread::DriverThread() {
  thread_ = std::thread([this] { main(); });
  std::unique_lock lock(startMutex_);
  started_.wait(lock, [this] { return window_ || failed_; });
  if (failed_) {
    lock.unlock();
    thread_.join();
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                            "the driver thread has no message loop");
  }
}

DriverThread::~DriverThread() {
  {
    std::lock_guard lock(callMutex_);
    window_->post(kStop);
  }
  thread_.join();
}

void DriverThread::post(std::function<void()>& step) {
  window_->post(kRunStep, reinterpret_cast<uintptr_t>(&step));
}

void DriverThread::main() {
  bool stopping = false;
  MessageLoop* loop = nullptr;
  std::unique_ptr<MessageWindow> window;
  try {
    loop = &MessageLoop::current();
    // The steps are packaged tasks: whatever they raise goes back to the caller.
    window = std::make_unique<MessageWindow>([&stopping](const Message& message) {
      if (message.msg == kRunStep)
        (*reinterpret_cast<std::function<void()>*>(message.wParam))();
      else if (message.msg == kStop)
        stopping = true;
    });
  } catch (...) {
  }
  {
    std::lock_guard lock(startMutex_);
    window_ = window.get();
    failed_ = !window;
  }
  started_.notify_all();
  if (!window) return;
  while (!stopping) loop->waitAndProcess(-1);
}

}  // namespace mirelo::native
