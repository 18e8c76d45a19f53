#pragma once
// The one thread that calls the driver. The driver is single-threaded (its
// object, sockets and events belong to the thread that created it), and the
// platform lends a component no way to run code on the platform's own thread
// between calls: nothing would then drive the driver's message loop while a
// script waits, and terminal messages would wait with it. So the component
// gives the driver a thread of its own: it creates the driver object, makes
// every call the platform's threads hand it through run(), and between calls
// drives its MessageLoop (socket notifications, DataEvent and so
// ExternalEvent).
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>

namespace mirelo {
class MessageWindow;
}

namespace mirelo::native {

class DriverThread {
 public:
  // Starts the thread and waits until its loop is up; raises
  // std::system_error when the thread or its loop cannot be started.
  DriverThread();
  // Ends the loop and joins the thread; the thread's loop and the libraries
  // it loaded go with it.
  ~DriverThread();
  DriverThread(const DriverThread&) = delete;
  DriverThread& operator=(const DriverThread&) = delete;

  // Runs task on the driver thread and waits for it: its result, or its
  // exception raised again here. One task at a time, whichever thread asks;
  // from the driver thread itself the task runs at once.
  template <class Task>
  std::invoke_result_t<Task&> run(Task task) {
    if (std::this_thread::get_id() == thread_.get_id()) return task();
    std::packaged_task<std::invoke_result_t<Task&>()> job(std::move(task));
    auto result = job.get_future();
    std::function<void()> step = [&job] { job(); };
    std::lock_guard lock(callMutex_);
    post(step);
    return result.get();
  }

  std::thread::id id() const { return thread_.get_id(); }

 private:
  void main();
  void post(std::function<void()>& step);

  std::mutex callMutex_;
  std::mutex startMutex_;
  std::condition_variable started_;
  MessageWindow* window_ = nullptr;  // the thread's, while it runs
  bool failed_ = false;              // the thread could not set up its loop
  std::thread thread_;
};

}  // namespace mirelo::native
