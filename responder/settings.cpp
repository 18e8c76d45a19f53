#include "responder/settings.h"

#include <unistd.h>

#include <climits>
#include <filesystem>

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

TNotFoundLines readNotFoundLines(const std::string& settingsPath) {
  IniFile ini(settingsPath);
  TNotFoundLines lines;
  lines.Line1 = ini.ReadString(kSettingsSection, kSettingsLine1, TNotFoundLines::kDefault);
  lines.Line2 = ini.ReadString(kSettingsSection, kSettingsLine2, TNotFoundLines::kDefault);
  return lines;
}

void writeNotFoundLines(const std::string& settingsPath, const TNotFoundLines& lines) {
  IniFile ini(settingsPath);
  ini.WriteString(kSettingsSection, kSettingsLine1, lines.Line1);
  ini.WriteString(kSettingsSection, kSettingsLine2, lines.Line2);
  ini.UpdateFile();
}

}  // namespace mirelo
