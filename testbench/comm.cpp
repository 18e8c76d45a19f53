#include "testbench/comm.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/cp1251.h"
#include "platform/exception.h"

namespace mirelo {

namespace {

[[noreturn]] void raiseSystemError(int error) {
  char buffer[256];
  // The GNU strerror_r: the text may live in the buffer or elsewhere.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  throw Exception(utf8ToAnsi(text));
}

speed_t speedOf(int rate) {
  switch (rate) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

}  // namespace

TComm::~TComm() {
  ClosePort();
}

std::string TComm::DeviceName(int portNumber) {
  std::string variable = "MIRELO_COM" + std::to_string(portNumber);
  if (const char* device = std::getenv(variable.c_str()); device && *device) return device;
  return "/dev/ttyS" + std::to_string(portNumber - 1);
}

bool TComm::IsSupportedRate(int rate) {
  return speedOf(rate) != B0;
}

void TComm::OpenPort() {
  if (fd_ >= 0) return;
  // Non-blocking: opening a line without carrier must not hang the window.
  int fd = ::open(DeviceName(PortNumber).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) raiseSystemError(errno);
  fd_ = fd;
  try {
    if (!::isatty(fd_)) raiseSystemError(ENOTTY);
    // Not shared: another program (or another TComm) cannot open it meanwhile.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
      raiseSystemError(errno == EWOULDBLOCK ? EBUSY : errno);
    if (::ioctl(fd_, TIOCEXCL) != 0) raiseSystemError(errno);
    applyLineSettings();
    // Start clean: nothing left over from an earlier user of the line.
    ::tcflush(fd_, TCIOFLUSH);
  } catch (...) {
    ClosePort();
    throw;
  }
}

void TComm::ClosePort() {
  if (fd_ < 0) return;
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

void TComm::SetBaudRate(int rate) {
  if (rate == baudRate_) return;
  baudRate_ = rate;
  if (fd_ >= 0) applyLineSettings();
}

void TComm::applyLineSettings() {
  termios line{};
  if (::tcgetattr(fd_, &line) != 0) raiseSystemError(errno);
  speed_t speed = speedOf(baudRate_);
  if (speed == B0) raiseSystemError(EINVAL);
  ::cfmakeraw(&line);
  line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  line.c_cflag |= CS8 | CLOCAL | CREAD;
  line.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
  ::cfsetispeed(&line, speed);
  ::cfsetospeed(&line, speed);
  if (::tcsetattr(fd_, TCSANOW, &line) != 0) raiseSystemError(errno);
}

void TComm::WriteData(std::string_view data) {
  if (fd_ < 0) raiseSystemError(EBADF);
  using Clock = std::chrono::steady_clock;
  auto deadline =
      Clock::now() +
      std::chrono::milliseconds(static_cast<uint64_t>(WriteTotalTimeoutMultiplier) * data.size() +
                                WriteTotalTimeoutConstant);
  size_t written = 0;
  while (written < data.size()) {
    ssize_t n = ::write(fd_, data.data() + written, data.size() - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) raiseSystemError(errno);
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd entry{fd_, POLLOUT, 0};
    if (::poll(&entry, 1, static_cast<int>(std::min<long long>(left, 1000))) < 0 && errno != EINTR)
      raiseSystemError(errno);
  }
  if (written < data.size()) throw Exception(wideToAnsi(u"Ошибка записи данных в COM порт."));
}

}  // namespace mirelo
