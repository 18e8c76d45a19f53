#pragma once
// The font of every dialog window, read afresh from the registry for each new
// window. Nothing in the driver writes it.
#include <cstdint>
#include <string>

namespace mirelo {

class Registry;

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
