#pragma once
// The thread's message queue, hidden message windows, timers and socket
// readiness notifications (the WSAAsyncSelect model) on top of epoll.
//
// One MessageLoop per thread. Windows created on a thread belong to its loop;
// their messages are delivered FIFO on that thread by processMessages(), which
// never blocks. The loop exposes one descriptor that is readable whenever
// something may be pending, so any host loop (Qt's QSocketNotifier, poll in a
// command-line tool) can drive it.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace mirelo {

constexpr uint32_t WM_TIMER = 0x0113;
constexpr uint32_t WM_USER = 0x0400;

// Socket notification events (low word of lParam), as WSAAsyncSelect has them.
constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_OOB = 0x04;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;

inline long makeSelectLParam(long event, int error) {
  return static_cast<long>((static_cast<uint32_t>(error) << 16) |
                           (static_cast<uint32_t>(event) & 0xFFFF));
}
inline int selectEvent(long lParam) {
  return static_cast<int>(lParam & 0xFFFF);
}
inline int selectError(long lParam) {
  return static_cast<int>((static_cast<uint32_t>(lParam) >> 16) & 0xFFFF);
}

class MessageLoop;

struct Message {
  uint32_t msg;
  uintptr_t wParam;
  long lParam;
};

// A hidden window: a message procedure owned by one thread's loop.
class MessageWindow {
 public:
  using Procedure = std::function<void(const Message&)>;

  // Created on, and belonging to, the calling thread's loop.
  explicit MessageWindow(Procedure procedure);
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  // Queued for delivery on the owning thread; safe from any thread.
  void post(uint32_t msg, uintptr_t wParam = 0, long lParam = 0);
  // Calls the procedure at once (SendMessage on the owning thread).
  void send(uint32_t msg, uintptr_t wParam = 0, long lParam = 0);
  // WM_TIMER with wParam = id every interval; setting an id again restarts it.
  void setTimer(uintptr_t id, uint32_t intervalMs);
  void killTimer(uintptr_t id);

  MessageLoop& loop() const { return *loop_; }
  uint64_t handle() const { return handle_; }

 private:
  friend class MessageLoop;
  Procedure procedure_;
  MessageLoop* loop_;
  uint64_t handle_;
};

class MessageLoop {
 public:
  // The calling thread's loop, created on first use.
  static MessageLoop& current();
  // The calling thread's loop if it has one, else null.
  static MessageLoop* existing();

  // Readable while messages, timers or socket events may be pending.
  int fd() const { return epoll_; }
  // Delivers everything pending without blocking; returns how many messages.
  int processMessages();
  // Waits up to timeoutMs (-1: forever) for something to arrive, then
  // processes it; returns how many messages were delivered.
  int waitAndProcess(int timeoutMs);
  // Processes messages until the predicate holds or timeoutMs passes.
  bool runUntil(const std::function<bool()>& done, int timeoutMs);

  // WSAAsyncSelect: readiness of socket posted to window as msg with the
  // socket in wParam, event and error in lParam. events 0 cancels. Returns 0,
  // or -1 with the last socket error set.
  int asyncSelect(int socket, MessageWindow* window, uint32_t msg, long events);
  // Any other descriptor (a signalfd, a pipe): while it is readable, msg is
  // posted to window with the descriptor in wParam and FD_READ in lParam,
  // once until reenable(fd, FD_READ). forgetSocket(fd) ends the watch.
  void watchReadable(int fd, MessageWindow* window, uint32_t msg);
  // The socket was read (or accepted on): read and accept notifications may
  // come again. Called by the socket wrappers.
  void reenable(int socket, long event);
  // The socket is being closed: forget it and its pending notifications.
  void forgetSocket(int socket);

  ~MessageLoop();

 private:
  MessageLoop();
  friend class MessageWindow;
  struct Watch;
  struct Timer;

  void registerWindow(MessageWindow* window);
  void unregisterWindow(MessageWindow* window);
  void enqueue(uint64_t window, const Message& message);
  void collectReadiness(int timeoutMs);
  Watch* watchOf(int socket) const;
  void addWatch(int socket, MessageWindow* window, uint32_t msg, long events, bool stream,
                bool listening);
  void onSocketReady(int socket, uint32_t events);
  void updateWatch(int socket);
  // Applies the epoll masks changed while messages were being delivered.
  void flushWatches();
  void applyMask(Watch& watch);
  int deliver(bool collectFirst, bool collectLast);
  void setTimer(MessageWindow* window, uintptr_t id, uint32_t intervalMs);
  void killTimer(MessageWindow* window, uintptr_t id);

  int epoll_ = -1;
  int wake_ = -1;  // eventfd: readable while the queue holds messages
  std::mutex queueMutex_;
  std::deque<std::pair<uint64_t, Message>> queue_;
  bool signaled_ = false;   // the eventfd holds a count
  int dispatching_ = 0;     // depth of delivery on the owning thread
  std::vector<int> dirty_;  // sockets whose epoll mask waits for flushWatches
  std::vector<int> flushing_;
  std::unordered_map<uint64_t, MessageWindow*> windows_;
  // By descriptor number: a socket's watch is found without hashing.
  std::vector<std::unique_ptr<Watch>> watches_;
  std::unordered_map<int, std::unique_ptr<Timer>> timers_;  // by timerfd
  uint64_t nextHandle_ = 1;
};

// Milliseconds since an arbitrary start, wrapping at 2^32 (GetTickCount).
uint32_t GetTickCount();
// Blocks the calling thread; messages are not processed meanwhile.
void Sleep(uint32_t ms);

}  // namespace mirelo
