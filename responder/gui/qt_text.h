#pragma once
// Windows-1251 text of the model to and from Qt's UTF-16 strings. A
// character with no Windows-1251 byte becomes '?'.
#include <QString>
#include <string>
#include <string_view>

#include "platform/cp1251.h"

namespace mirelo {

inline QString fromAnsi(std::string_view text) {
  std::u16string wide = ansiToWide(text);
  return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

inline std::string toAnsi(const QString& text) {
  return wideToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                        static_cast<size_t>(text.size())));
}

// File names: the file system's bytes (UTF-8) as Qt spells them.
inline std::string toFileName(const QString& path) { return path.toUtf8().toStdString(); }

}  // namespace mirelo
