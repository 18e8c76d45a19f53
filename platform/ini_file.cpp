#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/atomic_file.h"
#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {

namespace {

constexpr size_t npos = std::string::npos;
// Settings files are small; anything larger is not one and reads as empty.
constexpr off_t kMaxIniSize = 16 * 1024 * 1024;

std::string readWholeFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  std::string text;
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxIniSize) {
    char buffer[8192];
    for (;;) {
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  return text;
}

// CR, LF and CR LF all end a line.
std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

// The section name of a "[name]" line, or false for any other line.
bool sectionName(std::string_view line, std::string_view& name) {
  line = trimBlanks(line);
  if (line.empty() || line.front() != '[') return false;
  size_t close = line.find(']');
  name = trimBlanks(line.substr(1, close == npos ? npos : close - 1));
  return true;
}

// Key and raw value of a "key=value" line; comments and lines without '='
// are no entries.
bool entry(std::string_view line, std::string_view& key, std::string_view& value) {
  line = trimBlanks(line);
  if (line.empty() || line.front() == ';') return false;
  size_t equals = line.find('=');
  if (equals == npos) return false;
  key = trimBlanks(line.substr(0, equals));
  value = trimBlanks(line.substr(equals + 1));
  return true;
}

std::string unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return std::string(value);
}

std::string quoteForWriting(std::string_view value) {
  bool needsQuotes = !value.empty() && (isBlank(value.front()) || isBlank(value.back()) ||
                                        ((value.front() == '"' || value.front() == '\'') &&
                                         value.size() >= 2 && value.back() == value.front()));
  return needsQuotes ? "\"" + std::string(value) + "\"" : std::string(value);
}

bool hasLineEnd(std::string_view text) {
  return text.find_first_of("\r\n") != npos;
}

}  // namespace

IniFile::IniFile(std::string fileName) : fileName_(std::move(fileName)) {
  lines_ = splitLines(readWholeFile(fileName_));
}

size_t IniFile::findSection(std::string_view section) const {
  std::string_view wanted = trimBlanks(section);
  for (size_t i = 0; i < lines_.size(); ++i) {
    std::string_view name;
    if (sectionName(lines_[i], name) && ansiSameText(name, wanted)) return i;
  }
  return npos;
}

size_t IniFile::findKey(size_t sectionLine, std::string_view key) const {
  std::string_view wanted = trimBlanks(key);
  for (size_t i = sectionLine + 1; i < lines_.size(); ++i) {
    std::string_view name, value;
    if (sectionName(lines_[i], name)) break;
    if (entry(lines_[i], name, value) && ansiSameText(name, wanted)) return i;
  }
  return npos;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
  size_t sectionLine = findSection(section);
  if (sectionLine == npos) return std::string(defaultValue);
  size_t keyLine = findKey(sectionLine, key);
  if (keyLine == npos) return std::string(defaultValue);
  std::string_view name, value;
  entry(lines_[keyLine], name, value);
  return unquote(value);
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
  size_t sectionLine = findSection(section);
  return sectionLine != npos && findKey(sectionLine, key) != npos;
}

std::vector<std::string> IniFile::ReadSections() const {
  std::vector<std::string> names;
  for (const std::string& line : lines_) {
    std::string_view name;
    if (!sectionName(line, name)) continue;
    bool seen = false;
    for (const std::string& known : names) seen = seen || ansiSameText(known, name);
    if (!seen) names.emplace_back(name);
  }
  return names;
}

std::vector<std::string> IniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> lines;
  size_t sectionLine = findSection(section);
  if (sectionLine == npos) return lines;
  for (size_t i = sectionLine + 1; i < lines_.size(); ++i) {
    std::string_view name;
    if (sectionName(lines_[i], name)) break;
    std::string_view line = trimBlanks(lines_[i]);
    if (line.empty() || line.front() == ';') continue;
    lines.emplace_back(line);
  }
  return lines;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  std::string_view name = trimBlanks(section), keyName = trimBlanks(key);
  if (name.empty() || hasLineEnd(section) || name.find(']') != npos)
    throw Exception(format("Недопустимое имя раздела '%.*s'", static_cast<int>(section.size()),
                           section.data()));
  if (keyName.empty() || hasLineEnd(key) || keyName.find('=') != npos || keyName.front() == '[' ||
      keyName.front() == ';')
    throw Exception(
        format("Недопустимое имя ключа '%.*s'", static_cast<int>(key.size()), key.data()));
  if (hasLineEnd(value)) throw Exception("Значение ключа не может содержать перевод строки");

  std::string line = std::string(keyName) + "=" + quoteForWriting(value);
  size_t sectionLine = findSection(name);
  if (sectionLine == npos) {
    if (!lines_.empty() && !trimBlanks(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + std::string(name) + "]");
    lines_.push_back(line);
    return;
  }
  size_t keyLine = findKey(sectionLine, keyName);
  if (keyLine != npos) {
    // The key keeps the spelling it has in the file.
    std::string_view oldKey, oldValue;
    entry(lines_[keyLine], oldKey, oldValue);
    lines_[keyLine] = std::string(oldKey) + "=" + quoteForWriting(value);
    return;
  }
  // After the section's last non-blank line, so a blank line before the next
  // section stays where it is.
  size_t insertAt = sectionLine + 1;
  for (size_t i = sectionLine + 1; i < lines_.size(); ++i) {
    std::string_view ignored;
    if (sectionName(lines_[i], ignored)) break;
    if (!trimBlanks(lines_[i]).empty()) insertAt = i + 1;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
}

std::string IniFile::Text() const {
  std::string text;
  for (const std::string& line : lines_) text += line + "\r\n";
  return text;
}

// Profiles hold settings (tables with passwords among them): their owner's alone.
void IniFile::UpdateFile() const {
  writeFileAtomically(fileName_, Text(), FileAccess::OwnerOnly);
}

}  // namespace mirelo
