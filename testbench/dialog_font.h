#pragma once
// The dialog font the driver's windows share, from the registry key
// \.DEFAULT\SOFTWARE\Korvex\Font of the current user (FontName, FontSize,
// FontColor, FontIsBold, FontIsItalic, FontIsUnderlined, FontIsStriledOut).
// Without the key a window keeps the desktop's font: the Windows default
// face does not exist here.
class QWidget;

namespace mirelo {

void applyDialogFont(QWidget* window);

}  // namespace mirelo
