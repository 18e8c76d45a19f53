#include "testbench/control_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QStringList>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>

#include "forms/qt_text.h"
#include "platform/registry/registry.h"

namespace mirelo {

namespace {

const QDateTime& dayZero() {
  static const QDateTime zero(QDate(1899, 12, 30), QTime(0, 0));
  return zero;
}

QList<QRadioButton*> radioButtons(const QWidget* group) {
  return group->findChildren<QRadioButton*>(QString(), Qt::FindDirectChildrenOnly);
}

bool isRadioGroup(const QWidget* widget) {
  return qobject_cast<const QGroupBox*>(widget) && !radioButtons(widget).isEmpty();
}

// Depth first: the children of a control before the control itself. The
// parts of a compound control (the edit of a spin box or combo box) are not
// controls of their own.
// Windows of their own (file dialogs) are not part of the window.
void walk(QWidget* widget, const std::function<void(QWidget*)>& visit, bool top = true) {
  if (!top && widget->isWindow()) return;
  bool compound = qobject_cast<QAbstractSpinBox*>(widget) || qobject_cast<QComboBox*>(widget);
  if (!compound)
    for (QWidget* child : widget->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
      walk(child, visit, false);
  visit(widget);
}

std::string valueName(QWidget* root, QWidget* control) {
  return toAnsi(controlValueName(root, control));
}

}  // namespace

QString controlValueName(const QWidget* root, const QWidget* control) {
  QStringList names;
  for (const QWidget* widget = control; widget; widget = widget->parentWidget()) {
    if (!widget->objectName().isEmpty()) names.prepend(widget->objectName());
    if (widget == root) break;
  }
  return names.join(QLatin1Char('.'));
}

std::string dateTimeBytes(const QDateTime& value) {
  double days = static_cast<double>(dayZero().msecsTo(value)) / 86400000.0;
  uint64_t bits = std::bit_cast<uint64_t>(days);
  std::string bytes(8, '\0');
  for (int i = 0; i < 8; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>(bits >> (8 * i));
  return bytes;
}

bool dateTimeFromBytes(const std::string& bytes, QDateTime& value) {
  if (bytes.size() != 8) return false;
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i)
    bits |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[static_cast<size_t>(i)]))
            << (8 * i);
  double days = std::bit_cast<double>(bits);
  // Years 1 to 9999, as the pickers know them.
  if (!std::isfinite(days) || days < -693593.0 || days > 2958466.0) return false;
  value = dayZero().addMSecs(static_cast<qint64>(std::llround(days * 86400000.0)));
  return true;
}

void loadControlSettings(QWidget* root, RegistryKey& key) {
  auto integer = [&](const std::string& name, int32_t& value) {
    if (key.valueType(name) != RegistryValueType::Integer) return false;
    value = key.readInteger(name);
    return true;
  };
  walk(root, [&](QWidget* widget) {
    std::string name = valueName(root, widget);
    if (name.empty() || !key.valueExists(name)) return;
    int32_t number = 0;
    if (auto* picker = qobject_cast<QDateTimeEdit*>(widget)) {
      QDateTime value;
      if (key.valueType(name) == RegistryValueType::Binary &&
          dateTimeFromBytes(key.readBinary(name), value))
        picker->setDateTime(value);
    } else if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
      if (spin->isReadOnly() || key.valueType(name) != RegistryValueType::String) return;
      bool ok = false;
      int value = fromAnsi(key.readString(name)).trimmed().toInt(&ok);
      if (ok) spin->setValue(value);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      if (!edit->isReadOnly() && key.valueType(name) == RegistryValueType::String)
        edit->setText(fromAnsi(key.readString(name)));
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      if (integer(name, number) && number >= 0 && number < combo->count())
        combo->setCurrentIndex(number);
    } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
      if (integer(name, number)) box->setChecked(number != 0);
    } else if (isRadioGroup(widget)) {
      QList<QRadioButton*> buttons = radioButtons(widget);
      if (integer(name, number) && number >= 0 && number < buttons.size())
        buttons[number]->setChecked(true);
    }
  });
}

void saveControlSettings(QWidget* root, RegistryKey& key) {
  walk(root, [&](QWidget* widget) {
    std::string name = valueName(root, widget);
    if (name.empty()) return;
    if (auto* picker = qobject_cast<QDateTimeEdit*>(widget)) {
      key.writeBinary(name, dateTimeBytes(picker->dateTime()));
    } else if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
      if (!spin->isReadOnly()) key.writeString(name, toAnsi(spin->text()));
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      if (!edit->isReadOnly()) key.writeString(name, toAnsi(edit->text()));
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      key.writeInteger(name, combo->currentIndex());
    } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
      key.writeInteger(name, box->isChecked() ? 1 : 0);
    } else if (isRadioGroup(widget)) {
      QList<QRadioButton*> buttons = radioButtons(widget);
      int index = -1;
      for (int i = 0; i < buttons.size(); ++i)
        if (buttons[i]->isChecked()) index = i;
      key.writeInteger(name, index);
    }
  });
}

void selectFirstComboItems(QWidget* root) {
  walk(root, [](QWidget* widget) {
    if (auto* combo = qobject_cast<QComboBox*>(widget); combo && combo->count() > 0)
      combo->setCurrentIndex(0);
  });
}

}  // namespace mirelo
