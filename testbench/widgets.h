#pragma once
// Small makers for the controls of the pages: each control gets the object
// name the program's settings and tests know it by.
#include <QString>
#include <QStringList>
#include <functional>
#include <initializer_list>

#include "forms/controls.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;
class QWidget;

namespace mirelo {

inline QString q(const char16_t* text) {
  return QString::fromUtf16(text);
}

QLabel* makeLabel(QWidget* parent, const char16_t* caption, const char* name = nullptr);
QLineEdit* makeEdit(QWidget* parent, const char* name, const QString& text, int maxLength = 0);
// The character count of edit, kept up to date.
QLabel* makeLengthLabel(QWidget* parent, const char* name, QLineEdit* edit, int minimumWidth = 0);
// An edit with its up-down buttons; the number is stored as the edit's text.
QSpinBox* makeNumberEdit(QWidget* parent, const char* name, int value, int minimum, int maximum);
QComboBox* makeCombo(QWidget* parent, const char* name,
                     std::initializer_list<const char16_t*> items);
QCheckBox* makeCheckBox(QWidget* parent, const char* name, const char16_t* caption);
// A multi-line text box without word wrap.
QPlainTextEdit* makeMemo(QWidget* parent, const char* name);
// A file dialog that starts in the program's folder and proposes name.ext.
QFileDialog* makeFileDialog(QWidget* parent, const char* name, bool save, const char16_t* fileName,
                            const char* extension, std::initializer_list<const char16_t*> filters);

// The memo's lines as a list of strings: none for an empty memo, and a text
// that ends with a line end has no empty last line.
QStringList memoLines(const QPlainTextEdit* memo);
void setMemoLines(QPlainTextEdit* memo, const QStringList& lines);
void addMemoLine(QPlainTextEdit* memo, const QString& line);

// Runs a file dialog; the chosen file, or an empty text when cancelled.
QString chooseFile(QFileDialog* dialog);
// A click on button runs dialog and hands a chosen file to use.
void connectFileButton(QAbstractButton* button, QFileDialog* dialog,
                       const std::function<void(const QString& fileName)>& use);

}  // namespace mirelo
