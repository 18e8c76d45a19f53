#pragma once
// Text between Qt's UTF-16 strings, the automation boundary's UTF-16 and the
// driver's Windows-1251 bytes (its texts, files, the serial line). A
// character with no Windows-1251 byte becomes '?'.
#include <QString>
#include <string>
#include <string_view>

#include "platform/cp1251.h"

namespace mirelo {

inline QString fromWide(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::u16string toWide(const QString& text) {
  return text.toStdU16String();
}

inline QString fromAnsi(std::string_view text) {
  return fromWide(ansiToWide(text));
}
inline std::string toAnsi(const QString& text) {
  return wideToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                        static_cast<size_t>(text.size())));
}

// File names: the file system's bytes (UTF-8) as Qt spells them.
inline std::string toFileName(const QString& path) {
  return path.toUtf8().toStdString();
}

}  // namespace mirelo
