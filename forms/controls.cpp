#include "forms/controls.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

namespace mirelo {

QPushButton* makeButton(QWidget* parent, const char* name, const char16_t* caption,
                        const QIcon& icon) {
  auto* button = new QPushButton(QString::fromUtf16(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  if (!icon.isNull()) button->setIcon(icon);
  return button;
}

QHBoxLayout* makeOkCancelRow(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel) {
  ok = new QPushButton(QStringLiteral("OK"), dialog);
  ok->setObjectName(QStringLiteral("btnOK"));
  ok->setDefault(true);
  cancel = new QPushButton(QString::fromUtf16(u"Отмена"), dialog);
  cancel->setObjectName(QStringLiteral("btnCancel"));
  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(ok);
  row->addWidget(cancel);
  return row;
}

}  // namespace mirelo
