#include "responder/line_output.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/format.h"

namespace mirelo {

struct TLineOutput::Shared {
  int fd = -1;
  std::mutex mutex;
  std::condition_variable changed;
  std::string pending;            // handed over, not yet taken by the writer
  std::atomic<size_t> queued{0};  // pending and being written
  bool stop = false;
  bool finished = false;

  void run() {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return stop || !pending.empty(); });
      if (pending.empty()) break;
      std::string batch;
      batch.swap(pending);
      lock.unlock();
      writeAll(batch);
      queued -= batch.size();
      lock.lock();
      changed.notify_all();
    }
    finished = true;
    changed.notify_all();
  }

  // A reader that has gone (or any other failure) loses the batch.
  void writeAll(std::string_view data) {
    while (!data.empty()) {
      ssize_t n = ::write(fd, data.data(), data.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      data.remove_prefix(static_cast<size_t>(n));
    }
  }
};

TLineOutput::TLineOutput(int fd, size_t capacity)
    : shared_(std::make_shared<Shared>()), capacity_(capacity) {
  shared_->fd = fd;
  // The writer takes no signal: the service takes them in its own loop.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  std::thread([shared = shared_] { shared->run(); }).detach();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

TLineOutput::~TLineOutput() {
  Drain(1000);
  std::lock_guard lock(shared_->mutex);
  shared_->stop = true;
  shared_->changed.notify_all();
}

bool TLineOutput::Add(std::string_view text) {
  if (shared_->queued + staged_.size() + text.size() + 1 > capacity_) {
    ++dropped_;
    return false;
  }
  staged_.append(text);
  staged_ += '\n';
  return true;
}

void TLineOutput::Flush() {
  if (staged_.empty()) return;
  std::lock_guard lock(shared_->mutex);
  shared_->queued += staged_.size();
  if (shared_->pending.empty())
    shared_->pending.swap(staged_);
  else
    shared_->pending += staged_;
  staged_.clear();
  shared_->changed.notify_all();
}

bool TLineOutput::Drain(int timeoutMs) {
  Flush();
  std::unique_lock lock(shared_->mutex);
  return shared_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return shared_->queued == 0 || shared_->finished; });
}

std::string escapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || byte == 0x98)
      out += format("\\x%.2X", byte);
    else
      out += c;
  }
  return out;
}

}  // namespace mirelo
