#include "testbench/text_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "forms/qt_text.h"
#include "platform/atomic_file.h"
#include "platform/exception.h"

namespace mirelo {

void raiseText(const QString& text) {
  throw Exception(toAnsi(text));
}

namespace {

[[noreturn]] void raiseReadError(const QString& path, int error) {
  throw EFileError(toAnsi(QString::fromUtf16(u"Не удалось прочитать файл '%1': %2")
                              .arg(path, QString::fromLocal8Bit(std::strerror(error)))));
}

}  // namespace

std::string readFileBytes(const QString& path, int64_t maxSize) {
  int fd = ::open(toFileName(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) raiseReadError(path, errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) raiseReadError(path, errno);
  if (!S_ISREG(info.st_mode))
    throw EFileError(toAnsi(QString::fromUtf16(u"'%1' не является обычным файлом").arg(path)));
  if (info.st_size > maxSize)
    throw EFileError(
        toAnsi(QString::fromUtf16(u"Файл '%1' слишком велик: %2 байт, допускается не более %3")
                   .arg(path)
                   .arg(static_cast<qint64>(info.st_size))
                   .arg(static_cast<qint64>(maxSize))));
  std::string bytes;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      raiseReadError(path, errno);
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
    // The file may grow while it is read.
    if (static_cast<int64_t>(bytes.size()) > maxSize)
      throw EFileError(
          toAnsi(QString::fromUtf16(u"Файл '%1' слишком велик: допускается не более %2 байт")
                     .arg(path)
                     .arg(static_cast<qint64>(maxSize))));
  }
  return bytes;
}

void writeFileBytes(const QString& path, const std::string& bytes) {
  writeFileAtomically(toFileName(path), bytes);
}

QStringList readTextLines(const QString& path) {
  std::string bytes = readFileBytes(path);
  QStringList lines;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r' && bytes[i] != '\n') continue;
    lines << fromAnsi(std::string_view(bytes).substr(start, i - start));
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < bytes.size()) lines << fromAnsi(std::string_view(bytes).substr(start));
  return lines;
}

void writeTextLines(const QString& path, const QStringList& lines) {
  std::string bytes;
  for (const QString& line : lines) bytes += toAnsi(line) + "\r\n";
  writeFileBytes(path, bytes);
}

}  // namespace mirelo
