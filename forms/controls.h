#pragma once
// Controls that every window of ours makes the same way, each with the
// object name that settings, tests and accessibility tools know it by.
#include <QIcon>

class QDialog;
class QHBoxLayout;
class QPushButton;
class QWidget;

namespace mirelo {

// A button that Enter in another control does not press.
QPushButton* makeButton(QWidget* parent, const char* name, const char16_t* caption,
                        const QIcon& icon = QIcon());

// "OK" (the default button: accepts) and "Отмена" (rejects), right-aligned
// in the row returned.
QHBoxLayout* makeOkCancelRow(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel);

}  // namespace mirelo
