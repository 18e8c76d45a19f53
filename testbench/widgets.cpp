#include "testbench/widgets.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>

namespace mirelo {

QLabel* makeLabel(QWidget* parent, const char16_t* caption, const char* name) {
  auto* label = new QLabel(q(caption), parent);
  if (name) label->setObjectName(QString::fromLatin1(name));
  return label;
}

QLineEdit* makeEdit(QWidget* parent, const char* name, const QString& text, int maxLength) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  if (maxLength > 0) edit->setMaxLength(maxLength);
  edit->setText(text);
  return edit;
}

QLabel* makeLengthLabel(QWidget* parent, const char* name, QLineEdit* edit, int minimumWidth) {
  QLabel* label = makeLabel(parent, u"", name);
  if (minimumWidth > 0) label->setMinimumWidth(minimumWidth);
  label->setText(QString::number(edit->text().size()));
  QObject::connect(edit, &QLineEdit::textChanged, label,
                   [label](const QString& text) { label->setText(QString::number(text.size())); });
  return label;
}

QSpinBox* makeNumberEdit(QWidget* parent, const char* name, int value, int minimum, int maximum) {
  auto* edit = new QSpinBox(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setRange(minimum, maximum);
  edit->setValue(value);
  return edit;
}

QComboBox* makeCombo(QWidget* parent, const char* name,
                     std::initializer_list<const char16_t*> items) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(name));
  for (const char16_t* item : items) combo->addItem(q(item));
  combo->setCurrentIndex(0);
  return combo;
}

QCheckBox* makeCheckBox(QWidget* parent, const char* name, const char16_t* caption) {
  auto* box = new QCheckBox(q(caption), parent);
  box->setObjectName(QString::fromLatin1(name));
  return box;
}

QPlainTextEdit* makeMemo(QWidget* parent, const char* name) {
  auto* memo = new QPlainTextEdit(parent);
  memo->setObjectName(QString::fromLatin1(name));
  memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  return memo;
}

QFileDialog* makeFileDialog(QWidget* parent, const char* name, bool save, const char16_t* fileName,
                            const char* extension, std::initializer_list<const char16_t*> filters) {
  auto* dialog = new QFileDialog(parent);
  dialog->setObjectName(QString::fromLatin1(name));
  dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  QStringList names;
  for (const char16_t* filter : filters) names << q(filter);
  dialog->setNameFilters(names);
  dialog->setDefaultSuffix(QString::fromLatin1(extension));
  dialog->setDirectory(QCoreApplication::applicationDirPath());
  if (fileName) dialog->selectFile(q(fileName));
  return dialog;
}

QStringList memoLines(const QPlainTextEdit* memo) {
  QString text = memo->toPlainText();
  if (text.isEmpty()) return {};
  QStringList lines = text.split(QLatin1Char('\n'));
  if (lines.last().isEmpty()) lines.removeLast();
  return lines;
}

void setMemoLines(QPlainTextEdit* memo, const QStringList& lines) {
  memo->setPlainText(lines.join(QLatin1Char('\n')));
}

void addMemoLine(QPlainTextEdit* memo, const QString& line) {
  memo->appendPlainText(line);
}

QString chooseFile(QFileDialog* dialog) {
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
  return dialog->selectedFiles().constFirst();
}

void connectFileButton(QAbstractButton* button, QFileDialog* dialog,
                       const std::function<void(const QString& fileName)>& use) {
  QObject::connect(button, &QAbstractButton::clicked, dialog, [dialog, use] {
    QString name = chooseFile(dialog);
    if (!name.isEmpty()) use(name);
  });
}

}  // namespace mirelo
