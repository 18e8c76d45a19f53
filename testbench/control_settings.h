#pragma once
// The state of every input control of a window kept in one registry key,
// each under the dotted path of object names from the window down to it
// ("fmMain.pnlData.fmCommand.edtCommandData"):
//   edit that is not read-only (an edit with up-down buttons too)  its text, string
//   combo box                                                      selected index, integer
//   check box                                                      0 or 1, integer
//   radio group (a group box of radio buttons)                     checked index, integer
//   date-time edit                                                 8-byte double, days
//   since 30.12.1899
// Memos, labels and read-only edits are not stored.
#include <QDateTime>
#include <QString>

class QWidget;

namespace mirelo {

class RegistryKey;

QString controlValueName(const QWidget* root, const QWidget* control);

// Sets every control whose value exists. A value of another type, an index
// the control does not have, a number the edit cannot take or a date-time
// that is not 8 bytes leaves that control as it is.
void loadControlSettings(QWidget* root, RegistryKey& key);
void saveControlSettings(QWidget* root, RegistryKey& key);
// Every combo box at any depth selects its first item.
void selectFirstComboItems(QWidget* root);

// The date-time as the registry holds it: a little-endian double counting
// days from 30 December 1899, the fraction being the time of day.
std::string dateTimeBytes(const QDateTime& value);
// False for a value that is not 8 bytes or not a finite day count.
bool dateTimeFromBytes(const std::string& bytes, QDateTime& value);

}  // namespace mirelo
