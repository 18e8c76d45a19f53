#pragma once
// The font of every dialog window of the driver and of our programs, read
// afresh from the registry for each new window. Nothing here writes it.
#include <cstdint>
#include <string>

namespace mirelo {

class Registry;

// Where it lives: below the current user's root, not the default user's (the
// leading '\' only anchors the path at the root). Stores written by earlier
// versions use exactly these names.
namespace DialogFontLayout {
constexpr const char* Key = "\\.DEFAULT\\SOFTWARE\\Korvex\\Font";
namespace Value {
constexpr const char* Name = "FontName";
constexpr const char* Size = "FontSize";
constexpr const char* Color = "FontColor";
constexpr const char* CharSet = "FontCharSet";
constexpr const char* IsBold = "FontIsBold";
constexpr const char* IsItalic = "FontIsItalic";
constexpr const char* IsUnderlined = "FontIsUnderlined";
constexpr const char* IsStruckOut = "FontIsStriledOut";  // sic: the name as stored
}  // namespace Value
}  // namespace DialogFontLayout

struct TDialogFont {
  std::string Name = "MS Sans Serif";  // face, Windows-1251
  int32_t Size = 8;                    // points
  int32_t Color = 0;                   // a Windows colour value, 0x00BBGGRR
  int32_t CharSet = 204;               // Cyrillic
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
};

// Resets font to the defaults, then applies the stored values that exist. A
// stored style adds itself when true and never removes one. A value of the
// wrong type is ignored, so a damaged key costs no dialog. A failure of the
// store itself raises ERegistryError.
void LoadDialogFont(Registry& registry, TDialogFont& font);

// The same from the default registry file; any failure gives the defaults.
TDialogFont LoadDialogFont();

}  // namespace mirelo
