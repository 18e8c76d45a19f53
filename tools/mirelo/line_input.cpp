#include "tools/mirelo/line_input.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace mirelo::shell {
namespace {

std::string withoutCr(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::optional<std::string> StreamLineInput::next(MessageLoop& loop) {
  loop.processMessages();
  std::string line;
  if (!std::getline(in_, line)) return std::nullopt;
  return withoutCr(std::move(line));
}

std::optional<std::string> FdLineInput::next(MessageLoop& loop) {
  loop.processMessages();
  for (;;) {
    size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      return withoutCr(std::move(line));
    }
    if (ended_) {
      if (buffer_.empty()) return std::nullopt;
      return withoutCr(std::exchange(buffer_, {}));
    }
    pollfd fds[2] = {{fd_, POLLIN, 0}, {loop.fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno != EINTR) ended_ = true;
      continue;
    }
    if (fds[1].revents & POLLIN) loop.processMessages();
    if (fds[0].revents & POLLNVAL) {
      ended_ = true;
    } else if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char chunk[4096];
      ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n > 0)
        buffer_.append(chunk, static_cast<size_t>(n));
      else if (n == 0 || (errno != EINTR && errno != EAGAIN))
        ended_ = true;
    }
  }
}

}  // namespace mirelo::shell
