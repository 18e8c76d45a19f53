#include "testbench/dialog_font.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QWidget>

#include "forms/qt_text.h"
#include "platform/registry/registry.h"

namespace mirelo {

void applyDialogFont(QWidget* window) {
  try {
    Registry registry;
    std::optional<RegistryKey> key =
        registry.openKey(RegistryRoot::CurrentUser, "\\.DEFAULT\\SOFTWARE\\Korvex\\Font", false);
    if (!key) return;
    QFont font = window->font();
    auto has = [&](const char* name, RegistryValueType type) {
      return key->valueType(name) == type;
    };
    if (has("FontName", RegistryValueType::String))
      font.setFamily(fromAnsi(key->readString("FontName")));
    if (has("FontSize", RegistryValueType::Integer) && key->readInteger("FontSize") > 0)
      font.setPointSize(key->readInteger("FontSize"));
    auto style = [&](const char* name) {
      return has(name, RegistryValueType::Integer) && key->readInteger(name) != 0;
    };
    // Styles are only added.
    if (style("FontIsBold")) font.setBold(true);
    if (style("FontIsItalic")) font.setItalic(true);
    if (style("FontIsUnderlined")) font.setUnderline(true);
    if (style("FontIsStriledOut")) font.setStrikeOut(true);
    window->setFont(font);
    if (has("FontColor", RegistryValueType::Integer)) {
      // A Windows colour value: 0x00BBGGRR.
      auto value = static_cast<uint32_t>(key->readInteger("FontColor"));
      QPalette palette = window->palette();
      palette.setColor(QPalette::WindowText,
                       QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF));
      window->setPalette(palette);
    }
  } catch (const std::exception&) {
    // A store that cannot be read leaves the desktop's font.
  }
}

}  // namespace mirelo
