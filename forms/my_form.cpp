#include "forms/my_form.h"

#include <QPalette>

#include "forms/dialog_font.h"
#include "forms/qt_text.h"

namespace mirelo {

namespace {

// The default face exists on Windows only: look for faces of about its
// width before the system's default sans-serif face.
void substituteWindowsFaces() {
  static const bool done = [] {
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")});
    return true;
  }();
  (void)done;
}

}  // namespace

TFormFont makeFormFont(const QString& name, int pointSize, quint32 windowsColor, bool bold,
                       bool italic, bool underline, bool strikeOut) {
  substituteWindowsFaces();
  TFormFont result;
  result.font = QFont(name);
  if (pointSize > 0) result.font.setPointSize(pointSize);
  result.font.setBold(bold);
  result.font.setItalic(italic);
  result.font.setUnderline(underline);
  result.font.setStrikeOut(strikeOut);
  result.color =
      QColor(static_cast<int>(windowsColor & 0xFF), static_cast<int>((windowsColor >> 8) & 0xFF),
             static_cast<int>((windowsColor >> 16) & 0xFF));
  return result;
}

TFormFont dialogFont() {
  TDialogFont font = LoadDialogFont();
  return makeFormFont(fromAnsi(font.Name), font.Size, static_cast<quint32>(font.Color), font.Bold,
                      font.Italic, font.Underline, font.StrikeOut);
}

void applyDialogFont(QWidget& window, const TFormFont& font) {
  window.setFont(font.font);
  QPalette palette = window.palette();
  // Disabled controls keep the style's grey.
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
      palette.setColor(group, role, font.color);
  window.setPalette(palette);
}

void applyDialogFont(QWidget& window) {
  applyDialogFont(window, dialogFont());
}

TMyForm::TMyForm(QWidget* parent) : QDialog(parent) {
  applyDialogFont(*this);
}

}  // namespace mirelo
