#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {

namespace {

[[noreturn]] void raiseWriteError(const std::string& path, int error) {
  // The path is UTF-8 like the file system's names; the message is Windows-1251.
  throw EFileError(
      format("Не удалось записать файл '%s': %s", utf8ToAnsi(path).c_str(), std::strerror(error)));
}

// The file a path names, through any symbolic links; the path itself when it
// does not exist yet.
std::string resolveTarget(const std::string& path) {
  char resolved[PATH_MAX];
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode) && realpath(path.c_str(), resolved))
    return resolved;
  return path;
}

mode_t modeForNewFile() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void writeFileAtomically(const std::string& path, std::string_view data, FileAccess access) {
  std::string target = resolveTarget(path);
  std::string temporary = target + ".XXXXXX";
  // mkstemp creates with O_EXCL and mode 0600 under a random name.
  int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) raiseWriteError(path, errno);

  auto fail = [&](int error) {
    ::close(fd);
    ::unlink(temporary.c_str());
    raiseWriteError(path, error);
  };

  struct stat old {};
  mode_t mode = stat(target.c_str(), &old) == 0   ? (old.st_mode & 07777)
                : access == FileAccess::OwnerOnly ? 0600
                                                  : modeForNewFile();
  if (fchmod(fd, mode) != 0) fail(errno);

  const char* at = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t written = ::write(fd, at, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      fail(errno);
    }
    at += written;
    left -= static_cast<size_t>(written);
  }
  // Flushed before the rename: after a crash the name holds the old bytes or
  // the complete new ones.
  if (fsync(fd) != 0) fail(errno);
  if (::close(fd) != 0) {
    int error = errno;
    ::unlink(temporary.c_str());
    raiseWriteError(path, error);
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    int error = errno;
    ::unlink(temporary.c_str());
    raiseWriteError(path, error);
  }
}

}  // namespace mirelo
