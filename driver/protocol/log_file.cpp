#include "driver/protocol/log_file.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <ctime>

#include "platform/cp1251.h"
#include "platform/format.h"

namespace mirelo {

TLogFile::~TLogFile() {
  closeFile();
}

void TLogFile::closeFile() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void TLogFile::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  closeFile();
}

void TLogFile::SetFileName(const std::string& fileName) {
  if (fileName == fileName_) return;
  closeFile();
  fileName_ = fileName;
}

std::string TLogFile::TimeStamp() {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  time_t seconds = now.tv_sec;
  localtime_r(&seconds, &local);
  return format("%.2d.%.2d.%.4d %.2d:%.2d:%.2d.%.3d ", local.tm_mday, local.tm_mon + 1,
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(now.tv_usec / 1000));
}

void TLogFile::WriteLine(std::string_view text) {
  if (!enabled_) return;
  lastLine_ = TimeStamp();
  lastLine_ += text;
  if (OnLine) OnLine(*this);
  if (fd_ < 0 && !fileName_.empty()) {
    // The driver holds the name in Windows-1251; the file system's names are UTF-8.
    // The log holds every frame, password tables among them: its owner's
    // alone, and never through a link planted in its place.
    fd_ = ::open(ansiToUtf8(fileName_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ >= 0) ::lseek(fd_, 0, SEEK_END);
  }
  if (fd_ < 0) return;
  std::string line = lastLine_ + "\r\n";
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(fd_, data, left);
    if (n <= 0) break;
    data += n;
    left -= static_cast<size_t>(n);
  }
}

void TLogFile::WriteData(std::string_view prefix, std::string_view bytes) {
  if (!enabled_) return;
  size_t lines = bytes.size() / 10 + (bytes.size() % 10 ? 1 : 0);
  if (lines == 0) lines = 1;
  for (size_t i = 0; i < lines; ++i) {
    std::string line(prefix);
    line += bytesToHex(bytes.substr(i * 10 < bytes.size() ? i * 10 : bytes.size(), 10));
    WriteLine(line);
  }
}

}  // namespace mirelo
