#pragma once
// Text between Qt's UTF-16 strings, the automation boundary's UTF-16 and the
// driver's Windows-1251 bytes (files, the serial line). A character with no
// Windows-1251 byte becomes '?'.
#include <QString>
#include <string>
#include <string_view>

#include "platform/cp1251.h"

namespace mirelo {

inline QString fromWide(const std::u16string& text) {
  return QString::fromStdU16String(text);
}
inline std::u16string toWide(const QString& text) {
  return text.toStdU16String();
}

inline QString fromAnsi(std::string_view text) {
  return fromWide(ansiToWide(text));
}
inline std::string toAnsi(const QString& text) {
  return wideToAnsi(toWide(text));
}

// File names: the file system's bytes (UTF-8) as Qt spells them.
inline std::string toFileName(const QString& path) {
  return path.toUtf8().toStdString();
}

}  // namespace mirelo
