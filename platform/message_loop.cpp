#include "platform/message_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "platform/sockets.h"

namespace mirelo {

struct MessageLoop::Watch {
  int socket = -1;
  uint64_t window = 0;
  uint32_t msg = 0;
  long events = 0;
  bool stream = false;
  bool listening = false;
  // Windows Sockets re-enabling: a read (accept) notification is not posted
  // again until the socket has been read (accepted on).
  bool readEnabled = true;
  bool acceptEnabled = true;
  bool writeEnabled = true;
  bool closeSent = false;
  uint32_t registered = 0;  // the epoll mask in force; 0 = not in the set
  uint32_t wanted = 0;      // the mask to apply at the next flush
  bool dirty = false;
};

struct MessageLoop::Timer {
  int fd = -1;
  uint64_t window = 0;
  uintptr_t id = 0;
};

namespace {
thread_local MessageLoop* tCurrent = nullptr;
thread_local std::unique_ptr<MessageLoop> tOwned;

[[noreturn]] void failSystem(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}
}  // namespace

// ---- MessageWindow ----

MessageWindow::MessageWindow(Procedure procedure)
    : procedure_(std::move(procedure)), loop_(&MessageLoop::current()), handle_(0) {
  loop_->registerWindow(this);
}

MessageWindow::~MessageWindow() {
  if (loop_) loop_->unregisterWindow(this);
}

void MessageWindow::post(uint32_t msg, uintptr_t wParam, long lParam) {
  if (loop_) loop_->enqueue(handle_, Message{msg, wParam, lParam});
}

void MessageWindow::send(uint32_t msg, uintptr_t wParam, long lParam) {
  if (procedure_) procedure_(Message{msg, wParam, lParam});
}

void MessageWindow::setTimer(uintptr_t id, uint32_t intervalMs) {
  if (loop_) loop_->setTimer(this, id, intervalMs);
}

void MessageWindow::killTimer(uintptr_t id) {
  if (loop_) loop_->killTimer(this, id);
}

// ---- MessageLoop ----

MessageLoop& MessageLoop::current() {
  if (!tCurrent) {
    tOwned.reset(new MessageLoop());
    tCurrent = tOwned.get();
  }
  return *tCurrent;
}

MessageLoop* MessageLoop::existing() {
  return tCurrent;
}

MessageLoop::MessageLoop() {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  if (epoll_ < 0) failSystem("epoll_create1");
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_ < 0) {
    close(epoll_);
    failSystem("eventfd");
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = wake_;
  epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
}

MessageLoop::~MessageLoop() {
  for (auto& [handle, window] : windows_) window->loop_ = nullptr;
  for (auto& [fd, timer] : timers_) close(fd);
  close(wake_);
  close(epoll_);
  if (tCurrent == this) tCurrent = nullptr;
}

void MessageLoop::registerWindow(MessageWindow* window) {
  window->handle_ = nextHandle_++;
  windows_[window->handle_] = window;
}

void MessageLoop::unregisterWindow(MessageWindow* window) {
  uint64_t handle = window->handle_;
  windows_.erase(handle);
  for (size_t socket = 0; socket < watches_.size(); ++socket) {
    Watch* w = watches_[socket].get();
    if (!w || w->window != handle) continue;
    if (w->registered) epoll_ctl(epoll_, EPOLL_CTL_DEL, static_cast<int>(socket), nullptr);
    watches_[socket].reset();
  }
  for (auto it = timers_.begin(); it != timers_.end();) {
    if (it->second->window == handle) {
      close(it->first);
      it = timers_.erase(it);
    } else {
      ++it;
    }
  }
  std::lock_guard lock(queueMutex_);
  std::erase_if(queue_, [handle](const auto& item) { return item.first == handle; });
}

void MessageLoop::enqueue(uint64_t window, const Message& message) {
  std::lock_guard lock(queueMutex_);
  queue_.emplace_back(window, message);
  // While the owning thread delivers, it sees the queue without being woken;
  // the descriptor is signalled when it stops with messages left.
  if (!signaled_ && !(tCurrent == this && dispatching_ > 0)) {
    signaled_ = true;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wake_, &one, sizeof one);
  }
}

int MessageLoop::processMessages() {
  return deliver(true, true);
}

// Readiness is collected at the start when asked, whenever the queue has run
// dry, and at least every fourth round while procedures keep posting (so
// that they cannot starve the sockets). Messages posted during a round are
// delivered in the next one without a look at the sockets in between: a
// datagram read in one round is answered in the next.
int MessageLoop::deliver(bool collectFirst, bool collectLast) {
  constexpr int kRoundsBetweenCollects = 4;
  int delivered = 0;
  ++dispatching_;
  bool collect = collectFirst;
  int roundsSinceCollect = 0;
  for (int round = 0; round < 1000; ++round) {
    if (collect) {
      collectReadiness(0);
      roundsSinceCollect = 0;
    }
    size_t pending;
    {
      std::lock_guard lock(queueMutex_);
      pending = queue_.size();
    }
    if (pending == 0) {
      if (collect || !collectLast) break;
      collect = true;
      continue;
    }
    // Only what was queued when the round began.
    for (size_t i = 0; i < pending; ++i) {
      std::pair<uint64_t, Message> item;
      {
        std::lock_guard lock(queueMutex_);
        if (queue_.empty()) break;
        item = queue_.front();
        queue_.pop_front();
      }
      auto it = windows_.find(item.first);
      if (it == windows_.end()) continue;
      // The procedure may destroy the window; copy it so the call stays valid.
      MessageWindow::Procedure procedure = it->second->procedure_;
      if (procedure) procedure(item.second);
      ++delivered;
    }
    collect = ++roundsSinceCollect >= kRoundsBetweenCollects;
  }
  --dispatching_;
  if (dispatching_ == 0) flushWatches();
  std::lock_guard lock(queueMutex_);
  bool left = !queue_.empty();
  if (left != signaled_) {
    uint64_t value = 1;
    [[maybe_unused]] ssize_t n =
        left ? write(wake_, &value, sizeof value) : read(wake_, &value, sizeof value);
    signaled_ = left;
  }
  return delivered;
}

// The caller waits again next: that wait is the last look at the sockets.
int MessageLoop::waitAndProcess(int timeoutMs) {
  bool empty;
  {
    std::lock_guard lock(queueMutex_);
    empty = queue_.empty();
  }
  if (!empty) return deliver(true, false);
  collectReadiness(timeoutMs);
  return deliver(false, false);
}

bool MessageLoop::runUntil(const std::function<bool()>& done, int timeoutMs) {
  uint32_t start = GetTickCount();
  for (;;) {
    processMessages();
    if (done()) return true;
    int elapsed = static_cast<int>(GetTickCount() - start);
    if (elapsed >= timeoutMs) return false;
    waitAndProcess(timeoutMs - elapsed);
    if (done()) return true;
  }
}

void MessageLoop::collectReadiness(int timeoutMs) {
  flushWatches();
  epoll_event events[64];
  int count;
  do {
    count = epoll_wait(epoll_, events, 64, timeoutMs);
  } while (count < 0 && errno == EINTR);
  // Counted as delivery: a socket disabled here and enabled again by its read
  // in the delivery that always follows costs no epoll_ctl.
  ++dispatching_;
  for (int i = 0; i < count; ++i) {
    int fd = events[i].data.fd;
    if (fd == wake_) continue;
    if (auto t = timers_.find(fd); t != timers_.end()) {
      uint64_t expirations;
      if (read(fd, &expirations, sizeof expirations) > 0)
        enqueue(t->second->window, Message{WM_TIMER, t->second->id, 0});
      continue;
    }
    onSocketReady(fd, events[i].events);
  }
  --dispatching_;
}

MessageLoop::Watch* MessageLoop::watchOf(int socket) const {
  if (socket < 0 || static_cast<size_t>(socket) >= watches_.size()) return nullptr;
  return watches_[static_cast<size_t>(socket)].get();
}

void MessageLoop::onSocketReady(int socket, uint32_t ready) {
  Watch* found = watchOf(socket);
  if (!found) return;
  Watch& w = *found;
  auto notify = [&](long event, int error) {
    enqueue(w.window,
            Message{w.msg, static_cast<uintptr_t>(socket), makeSelectLParam(event, error)});
  };
  auto pendingError = [&]() {
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length);
    return error ? ws::errnoToWsa(error) : 0;
  };

  if (w.listening) {
    if ((w.events & FD_ACCEPT) && w.acceptEnabled) {
      notify(FD_ACCEPT, (ready & EPOLLERR) ? pendingError() : 0);
      w.acceptEnabled = false;
    }
  } else if (!w.stream) {
    if ((w.events & FD_READ) && w.readEnabled && (ready & (EPOLLIN | EPOLLERR))) {
      notify(FD_READ, 0);
      w.readEnabled = false;
    }
  } else {
    bool wantRead = (w.events & FD_READ) && w.readEnabled;
    bool wantClose = (w.events & FD_CLOSE) && !w.closeSent;
    if (ready & EPOLLERR) {
      int error = pendingError();
      if (wantClose) notify(FD_CLOSE, error ? error : ws::WSAECONNRESET);
      w.closeSent = true;
      w.readEnabled = false;
    } else if (ready & (EPOLLIN | EPOLLRDHUP | EPOLLHUP)) {
      if (wantRead && !(ready & (EPOLLRDHUP | EPOLLHUP))) {
        // Readable without a hang-up: there is data; no need to look.
        notify(FD_READ, 0);
        w.readEnabled = false;
      } else if (wantRead) {
        char probe;
        ssize_t n = ::recv(socket, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
          notify(FD_READ, 0);
          w.readEnabled = false;
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
          // Orderly close (0) or reset: the close comes once all data is read.
          if (wantClose) notify(FD_CLOSE, n == 0 ? 0 : ws::errnoToWsa(errno));
          w.closeSent = true;
          w.readEnabled = false;
        }
      } else if (wantClose && (ready & (EPOLLRDHUP | EPOLLHUP))) {
        notify(FD_CLOSE, 0);
        w.closeSent = true;
      }
    }
    if ((w.events & FD_WRITE) && w.writeEnabled && (ready & EPOLLOUT)) {
      notify(FD_WRITE, 0);
      w.writeEnabled = false;
    }
  }
  updateWatch(socket);
}

void MessageLoop::updateWatch(int socket) {
  Watch* found = watchOf(socket);
  if (!found) return;
  Watch& w = *found;
  uint32_t mask = 0;
  if ((w.events & FD_ACCEPT) && !w.listening) {
    // Accept notifications may be asked for before listen(); an unconnected
    // socket would report a hang-up at once, so it waits outside the set.
    int listening = 0;
    socklen_t length = sizeof listening;
    getsockopt(socket, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length);
    w.listening = listening != 0;
  }
  if ((w.events & FD_ACCEPT) && !w.listening) {
    // stays out until listen() calls reenable
  } else if (w.listening) {
    if ((w.events & FD_ACCEPT) && w.acceptEnabled) mask |= EPOLLIN;
  } else if (!w.stream) {
    if ((w.events & FD_READ) && w.readEnabled) mask |= EPOLLIN;
  } else {
    bool readOn = (w.events & FD_READ) && w.readEnabled;
    if (readOn) mask |= EPOLLIN | EPOLLRDHUP;
    // While reading is disabled a level-triggered hang-up would repeat
    // forever; the close is found once the socket is read again.
    if ((w.events & FD_CLOSE) && !w.closeSent && (readOn || !(w.events & FD_READ)))
      mask |= EPOLLRDHUP;
  }
  if ((w.events & FD_WRITE) && w.writeEnabled && !w.listening) mask |= EPOLLOUT;
  w.wanted = mask;
  if (mask == w.registered) return;
  // A read notification disables the socket and the read that follows
  // enables it again, both while messages are delivered: applied together
  // before the next wait, the two changes usually cancel out.
  if (dispatching_ > 0) {
    if (!w.dirty) {
      w.dirty = true;
      dirty_.push_back(socket);
    }
    return;
  }
  applyMask(w);
}

void MessageLoop::flushWatches() {
  // Swapped with a kept vector: both keep their memory from round to round.
  std::vector<int>& dirty = flushing_;
  dirty.clear();
  dirty.swap(dirty_);
  for (int socket : dirty) {
    Watch* found = watchOf(socket);
    if (!found || !found->dirty) continue;
    found->dirty = false;
    applyMask(*found);
  }
}

void MessageLoop::applyMask(Watch& w) {
  uint32_t mask = w.wanted;
  if (mask == w.registered) return;
  epoll_event ev{};
  ev.events = mask;
  ev.data.fd = w.socket;
  // An empty mask still reports errors and hang-ups, so the socket leaves the
  // set instead.
  if (mask == 0) {
    epoll_ctl(epoll_, EPOLL_CTL_DEL, w.socket, nullptr);
  } else if (w.registered == 0) {
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, w.socket, &ev) < 0 && errno == EEXIST)
      epoll_ctl(epoll_, EPOLL_CTL_MOD, w.socket, &ev);
  } else {
    epoll_ctl(epoll_, EPOLL_CTL_MOD, w.socket, &ev);
  }
  w.registered = mask;
}

int MessageLoop::asyncSelect(int socket, MessageWindow* window, uint32_t msg, long events) {
  int type = 0, listening = 0;
  socklen_t length = sizeof type;
  if (getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &length) < 0) {
    ws::WSASetLastError(ws::errnoToWsa(errno));
    return -1;
  }
  length = sizeof listening;
  getsockopt(socket, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length);
  forgetSocket(socket);
  if (events == 0 || window == nullptr) return 0;
  if (ws::setNonBlocking(socket, true) != 0) return -1;
  addWatch(socket, window, msg, events, type == SOCK_STREAM, listening != 0);
  return 0;
}

void MessageLoop::watchReadable(int fd, MessageWindow* window, uint32_t msg) {
  forgetSocket(fd);
  if (fd >= 0 && window) addWatch(fd, window, msg, FD_READ, false, false);
}

void MessageLoop::addWatch(int socket, MessageWindow* window, uint32_t msg, long events,
                           bool stream, bool listening) {
  auto watch = std::make_unique<Watch>();
  watch->socket = socket;
  watch->window = window->handle();
  watch->msg = msg;
  watch->events = events;
  watch->stream = stream;
  watch->listening = listening;
  if (static_cast<size_t>(socket) >= watches_.size())
    watches_.resize(static_cast<size_t>(socket) + 1);
  watches_[static_cast<size_t>(socket)] = std::move(watch);
  updateWatch(socket);
}

void MessageLoop::reenable(int socket, long event) {
  Watch* found = watchOf(socket);
  if (!found) return;
  Watch& w = *found;
  if (event & FD_READ && !w.closeSent) w.readEnabled = true;
  if (event & FD_ACCEPT) w.acceptEnabled = true;
  if (event & FD_WRITE) w.writeEnabled = true;
  updateWatch(socket);
}

void MessageLoop::forgetSocket(int socket) {
  Watch* found = watchOf(socket);
  if (!found) return;
  uint64_t window = found->window;
  uint32_t msg = found->msg;
  if (found->registered) epoll_ctl(epoll_, EPOLL_CTL_DEL, socket, nullptr);
  watches_[static_cast<size_t>(socket)].reset();
  // A later socket may get the same descriptor: its notifications must not
  // be confused with those still queued for this one.
  std::lock_guard lock(queueMutex_);
  std::erase_if(queue_, [&](const auto& item) {
    return item.first == window && item.second.msg == msg &&
           item.second.wParam == static_cast<uintptr_t>(socket);
  });
}

void MessageLoop::setTimer(MessageWindow* window, uintptr_t id, uint32_t intervalMs) {
  killTimer(window, id);
  int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd < 0) failSystem("timerfd_create");
  if (intervalMs == 0) intervalMs = 1;
  itimerspec spec{};
  spec.it_interval.tv_sec = intervalMs / 1000;
  spec.it_interval.tv_nsec = static_cast<long>(intervalMs % 1000) * 1000000L;
  spec.it_value = spec.it_interval;
  timerfd_settime(fd, 0, &spec, nullptr);
  auto timer = std::make_unique<Timer>();
  timer->fd = fd;
  timer->window = window->handle();
  timer->id = id;
  timers_[fd] = std::move(timer);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = fd;
  epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
}

void MessageLoop::killTimer(MessageWindow* window, uintptr_t id) {
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->second->window == window->handle() && it->second->id == id) {
      close(it->first);
      timers_.erase(it);
      break;
    }
  }
  std::lock_guard lock(queueMutex_);
  std::erase_if(queue_, [&](const auto& item) {
    return item.first == window->handle() && item.second.msg == WM_TIMER &&
           item.second.wParam == id;
  });
}

uint32_t GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void Sleep(uint32_t ms) {
  timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&request, &request) < 0 && errno == EINTR) {
  }
}

}  // namespace mirelo
