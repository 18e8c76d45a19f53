#pragma once
// The responder's settings file: the two lines a terminal shows for a code
// that is not in the price list, in section "Параметры", keys "Строка1" and
// "Строка2" (no blank before the digit, unlike the grid's headers).
#include <string>

#include "responder/price_list.h"

namespace mirelo {

inline constexpr const char* kSettingsSection = "Параметры";
inline constexpr const char* kSettingsLine1 = "Строка1";
inline constexpr const char* kSettingsLine2 = "Строка2";

// The program's own path with its extension replaced by ".ini" (added when it
// has none): /opt/kavrin/kavrin gives /opt/kavrin/kavrin.ini.
std::string settingsPathFor(const std::string& programPath);
// The running program's path (/proc/self/exe), or fallback when unknown.
std::string programPath(const std::string& fallback);

struct TSettingsRead {
  TNotFoundLines Lines;
  // Empty, or why the file was not used: "cannot be read (...)" or "is not
  // an INI file (...)". The defaults are used then.
  std::string Problem;
};

// Missing file or keys read as "Not found", silently: the file is made when
// the lines are first set. A file that cannot be read or is not an INI file
// (control bytes, or a line that is no section, key=value or comment) is not
// used at all.
TSettingsRead readSettings(const std::string& settingsPath);
TNotFoundLines readNotFoundLines(const std::string& settingsPath);
// What to tell the operator about a settings file that was not used: the
// file, why, and the lines used instead.
std::string settingsNotice(const std::string& settingsPath, const TSettingsRead& read);
// Writes both keys, keeping the rest of the file; the file is replaced
// atomically. Raises EFileError (the old file is then intact) or Exception
// for a line that an INI file cannot hold.
void writeNotFoundLines(const std::string& settingsPath, const TNotFoundLines& lines);

}  // namespace mirelo
