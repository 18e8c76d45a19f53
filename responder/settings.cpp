#include "responder/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/cp1251.h"
#include "platform/format.h"
#include "platform/ini_file.h"

namespace mirelo {

std::string settingsPathFor(const std::string& programPath) {
  std::filesystem::path path(programPath);
  path.replace_extension(".ini");
  return path.string();
}

std::string programPath(const std::string& fallback) {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return fallback;
  return std::string(buffer, static_cast<size_t>(n));
}

namespace {

// Settings files are small; the same bound as the profile reader's.
constexpr off_t kMaxSettingsSize = 16 * 1024 * 1024;

// Why the file's text is no INI file, or "".
std::string notIniReason(std::string_view text) {
  size_t number = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trimBlanks(text.substr(start, end - start));
    ++number;
    for (char c : line)
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
        return format("line %zu holds the control byte 0x%.2X", number,
                      static_cast<unsigned char>(c));
    bool section = !line.empty() && line.front() == '[' && line.find(']') != std::string_view::npos;
    bool comment = !line.empty() && (line.front() == ';' || line.front() == '#');
    if (!line.empty() && !section && !comment && line.find('=') == std::string_view::npos)
      return format("line %zu is no [section], key=value or comment", number);
    start = end + 1;
    if (end < text.size() && text[end] == '\r' && start < text.size() && text[start] == '\n')
      ++start;
  }
  return {};
}

// The file's text; "" when it does not exist. Raises the reason it cannot be
// read as text (Windows-1251).
std::string readSettingsText(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return {};
    throw std::runtime_error(std::strerror(errno));
  }
  std::string text;
  struct stat info {};
  int error = fstat(fd, &info) == 0 ? 0 : errno;
  if (!error && !S_ISREG(info.st_mode)) {
    ::close(fd);
    throw std::runtime_error("not a regular file");
  }
  if (!error && info.st_size > kMaxSettingsSize) {
    ::close(fd);
    throw std::runtime_error(
        format("larger than %lld bytes", static_cast<long long>(kMaxSettingsSize)));
  }
  char buffer[8192];
  while (!error) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  if (error) throw std::runtime_error(std::strerror(error));
  return text;
}

}  // namespace

TSettingsRead readSettings(const std::string& settingsPath) {
  TSettingsRead read;
  try {
    std::string reason = notIniReason(readSettingsText(settingsPath));
    if (!reason.empty()) {
      read.Problem = "is not an INI file (" + reason + ")";
      return read;
    }
  } catch (const std::exception& e) {
    read.Problem = std::string("cannot be read (") + e.what() + ")";
    return read;
  }
  IniFile ini(settingsPath);
  read.Lines.Line1 = ini.ReadString(kSettingsSection, kSettingsLine1, TNotFoundLines::kDefault);
  read.Lines.Line2 = ini.ReadString(kSettingsSection, kSettingsLine2, TNotFoundLines::kDefault);
  return read;
}

TNotFoundLines readNotFoundLines(const std::string& settingsPath) {
  return readSettings(settingsPath).Lines;
}

std::string settingsNotice(const std::string& settingsPath, const TSettingsRead& read) {
  return format("settings file '%s' %s; using the default not-found lines \"%s\" / \"%s\"",
                utf8ToAnsi(settingsPath).c_str(), read.Problem.c_str(), read.Lines.Line1.c_str(),
                read.Lines.Line2.c_str());
}

void writeNotFoundLines(const std::string& settingsPath, const TNotFoundLines& lines) {
  IniFile ini(settingsPath);
  ini.WriteString(kSettingsSection, kSettingsLine1, lines.Line1);
  ini.WriteString(kSettingsSection, kSettingsLine2, lines.Line2);
  ini.UpdateFile();
}

}  // namespace mirelo
