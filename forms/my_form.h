#pragma once
// TMyForm: the base of every dialog window, which takes the dialog font.
//
// The font comes from a source that the program sets once (the driver's
// dialogs read the registry key of the dialog font); without one every
// window gets the defaults: "MS Sans Serif", 8 points, black. The character
// set has no meaning to Qt, whose texts are Unicode. Qt lays out with the
// real caption height of the system, so the caption-height correction the
// forms of the original toolkit needed is not made here.
#include <QColor>
#include <QDialog>
#include <QFont>
#include <QString>

namespace mirelo {

struct TFormFont {
  QFont font;
  QColor color;
};

// A font from the stored values: face, size in points, a Windows colour
// value (0x00BBGGRR) and the four styles.
TFormFont makeFormFont(const QString& name, int pointSize, quint32 windowsColor, bool bold,
                       bool italic, bool underline, bool strikeOut);
// "MS Sans Serif" 8, black.
TFormFont defaultFormFont();

using DialogFontSource = TFormFont (*)();
void setDialogFontSource(DialogFontSource source);
// Read afresh from the source for every window.
TFormFont dialogFont();
// The font and its colour for the window and the controls that inherit them.
void applyDialogFont(QWidget& window, const TFormFont& font);
void applyDialogFont(QWidget& window);

class TMyForm : public QDialog {
  Q_OBJECT
 public:
  explicit TMyForm(QWidget* parent = nullptr);
};

}  // namespace mirelo
