#include "responder/gui/fm_param.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "forms/controls.h"

namespace mirelo {

TfmParam::TfmParam(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("fmParam"));
  setWindowTitle(QString::fromUtf16(u"Параметры"));
  setModal(true);

  lblErrMessage = new QLabel(QString::fromUtf16(u"Сообщение, если товар не найден:"), this);
  lblErrMessage->setObjectName(QStringLiteral("lblErrMessage"));
  lblLine1 = new QLabel(QString::fromUtf16(u"Строка 1:"), this);
  lblLine1->setObjectName(QStringLiteral("lblLine1"));
  edtLine1 = new QLineEdit(this);
  edtLine1->setObjectName(QStringLiteral("edtLine1"));
  edtLine1->setMaxLength(kMaxLineLength);
  lblLine1->setBuddy(edtLine1);
  lblLine2 = new QLabel(QString::fromUtf16(u"Строка 2:"), this);
  lblLine2->setObjectName(QStringLiteral("lblLine2"));
  edtLine2 = new QLineEdit(this);
  edtLine2->setObjectName(QStringLiteral("edtLine2"));
  edtLine2->setMaxLength(kMaxLineLength);
  lblLine2->setBuddy(edtLine2);
  // Escape rejects a QDialog as well: the cancel button's role.
  QHBoxLayout* buttons = makeOkCancelRow(this, btnOK, btnCancel);

  auto* fields = new QGridLayout;
  fields->addWidget(lblLine1, 0, 0);
  fields->addWidget(edtLine1, 0, 1);
  fields->addWidget(lblLine2, 1, 0);
  fields->addWidget(edtLine2, 1, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblErrMessage);
  layout->addLayout(fields);
  layout->addLayout(buttons);
  setMinimumWidth(300);
}

void TfmParam::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Centred on the screen, not on the main window.
  if (QScreen* where = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(where->availableGeometry().center());
    move(frame.topLeft());
  }
}

}  // namespace mirelo
