#pragma once
// TMyForm: the base of every dialog window, which takes the dialog font from
// the registry (forms/dialog_font.h) afresh for each window: by default
// "MS Sans Serif", 8 points, black. The character set has no meaning to Qt,
// whose texts are Unicode. Qt lays out with the real caption height of the
// system, so the caption-height correction the forms of the original toolkit
// needed is not made here.
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
// The dialog font as the registry holds it now.
TFormFont dialogFont();
// The font and its colour for the window and the controls that inherit them;
// a window that is no TMyForm (a program's main window) takes it so.
void applyDialogFont(QWidget& window, const TFormFont& font);
void applyDialogFont(QWidget& window);

class TMyForm : public QDialog {
  Q_OBJECT
 public:
  explicit TMyForm(QWidget* parent = nullptr);
};

}  // namespace mirelo
