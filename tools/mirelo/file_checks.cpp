#include "tools/mirelo/file_checks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace mirelo::shell {

uintmax_t requireReadableFile(const std::string& path, const char* what) {
  // Non-blocking: a named pipe must not hold the command.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    throw std::runtime_error(std::string("cannot open the ") + what + " '" + path +
                             "': " + std::strerror(errno));
  struct stat info {};
  bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  if (!regular)
    throw std::runtime_error(std::string("the ") + what + " '" + path + "' is not a regular file");
  return static_cast<uintmax_t>(info.st_size);
}

void requireWritableFile(const std::string& path, const char* what) {
  namespace fs = std::filesystem;
  auto fail = [&](const std::string& reason) {
    throw std::runtime_error(std::string("cannot write the ") + what + " '" + path +
                             "': " + reason);
  };
  std::error_code error;
  fs::file_status status = fs::status(path, error);
  if (fs::is_directory(status)) fail("it is a folder");
  if (fs::exists(status) && ::access(path.c_str(), W_OK) != 0) fail(std::strerror(errno));
  // The file is replaced through a temporary file beside it.
  fs::path folder = fs::path(path).parent_path();
  if (folder.empty()) folder = ".";
  if (::access(folder.c_str(), W_OK | X_OK) != 0)
    fail("folder '" + folder.string() + "': " + std::strerror(errno));
}

}  // namespace mirelo::shell
