#include "driver/dialogs/fm_params.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "forms/controls.h"

namespace mirelo {

// ---- TfmLog ----

TfmLog::TfmLog(QWidget* parent) : TParamPage(parent) {
  setObjectName(QStringLiteral("fmLog"));
  setWindowTitle(QString::fromUtf16(u"Лог"));
  setMinimumSize(335, 176);
  chbLogEnabled = new QCheckBox(QString::fromUtf16(u"Вести лог"), this);
  chbLogEnabled->setObjectName(QStringLiteral("chbLogEnabled"));
  lblLogFileName = new QLabel(QString::fromUtf16(u"Файл:"), this);
  lblLogFileName->setObjectName(QStringLiteral("lblLogFileName"));
  edtLogFileName = new QLineEdit(this);
  edtLogFileName->setObjectName(QStringLiteral("edtLogFileName"));
  edtLogFileName->setAccessibleName(QString::fromUtf16(u"Файл"));
  lblLogFileName->setBuddy(edtLogFileName);
  btnLogFileName = new QPushButton(QStringLiteral("..."), this);
  btnLogFileName->setObjectName(QStringLiteral("btnLogFileName"));
  btnLogFileName->setAccessibleName(QString::fromUtf16(u"Выбрать файл лога"));
  btnLogFileName->setAutoDefault(false);
  btnLogFileName->setFixedWidth(
      btnLogFileName->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16);

  auto* layout = new QGridLayout(this);
  layout->addWidget(chbLogEnabled, 0, 0, 1, 3);
  layout->addWidget(lblLogFileName, 1, 0);
  layout->addWidget(edtLogFileName, 1, 1);
  layout->addWidget(btnLogFileName, 1, 2);
  layout->setRowStretch(2, 1);
  layout->setColumnStretch(1, 1);

  connect(chbLogEnabled, &QCheckBox::toggled, this, [this] { updateEnabled(); });
  connect(btnLogFileName, &QPushButton::clicked, this, [this] {
    TFileRequest request;
    request.start = edtLogFileName->text();
    request.filters = {QString::fromUtf16(u"Файлы лога (*.log)"),
                       QString::fromUtf16(u"Все файлы (*.*)")};
    QString chosen = dialogHooks().chooseFile(this, request);
    if (!chosen.isEmpty()) edtLogFileName->setText(chosen);
  });
  updateEnabled();
}

IVistel4& TfmLog::object() const {
  ComPtr<IVistel4> object = ComPtr<IUnknown>(Owner()->Object()).as<IVistel4>();
  if (!object) throw EOleSysError(E_NOINTERFACE);
  return *object.get();  // the list holds the object
}

void TfmLog::LoadPage() {
  TVistelAccess driver(object());
  {
    QSignalBlocker quiet(chbLogEnabled);
    chbLogEnabled->setChecked(driver.getBool(&IVistel4::get_LogEnabled));
  }
  edtLogFileName->setText(driver.getText(&IVistel4::get_LogFileName));
  updateEnabled();
}

void TfmLog::ApplyPage() {
  TVistelAccess driver(object());
  driver.putBool(&IVistel4::put_LogEnabled, chbLogEnabled->isChecked());
  driver.putText(&IVistel4::put_LogFileName, edtLogFileName->text());
}

void TfmLog::updateEnabled() {
  bool on = chbLogEnabled->isChecked();
  for (QWidget* control :
       {static_cast<QWidget*>(lblLogFileName), static_cast<QWidget*>(edtLogFileName),
        static_cast<QWidget*>(btnLogFileName)})
    control->setEnabled(on);
}

// ---- TfmParams ----

TfmParams::TfmParams(QWidget* parent, IVistel4& object)
    : TMyForm(parent), pages_(std::make_unique<TParamPages>(ComPtr<IUnknown>(&object))) {
  setObjectName(QStringLiteral("fmParams"));
  setWindowTitle(QString::fromUtf16(u"Дополнительные параметры"));
  setMinimumSize(463, 362);
  ListBox = new QListWidget(this);
  ListBox->setObjectName(QStringLiteral("ListBox"));
  ListBox->setAccessibleName(QString::fromUtf16(u"Параметры"));
  ListBox->setFixedWidth(100);
  pnlData = new QFrame(this);
  pnlData->setObjectName(QStringLiteral("pnlData"));
  pnlData->setFrameShape(QFrame::StyledPanel);
  auto* dataLayout = new QVBoxLayout(pnlData);
  QHBoxLayout* buttons = makeOkCancelRow(this, btnOK, btnCancel);

  auto* log = new TfmLog(pnlData);
  log->SetOwner(pages_.get());
  for (int i = 0; i < pages_->Count(); ++i) {
    TParamPage* page = pages_->Items(i);
    ListBox->addItem(page->windowTitle());
    dataLayout->addWidget(page);
    page->hide();
  }
  connect(ListBox, &QListWidget::currentRowChanged, this, [this](int row) { showPage(row); });

  auto* body = new QHBoxLayout;
  body->addWidget(ListBox);
  body->addWidget(pnlData, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(body, 1);
  layout->addLayout(buttons);
  ListBox->setCurrentRow(0);
  // At least 463 x 362, and room for the widest page.
  QSize least(463, 362);
  for (int i = 0; i < pages_->Count(); ++i)
    least = least.expandedTo(QSize(
        ListBox->width() + 60 +
            std::max(pages_->Items(i)->minimumWidth(), pages_->Items(i)->minimumSizeHint().width()),
        0));
  setMinimumSize(least);
  resize(minimumSize());
}

TfmParams::~TfmParams() = default;

void TfmParams::showPage(int index) {
  if (index < 0 || index >= pages_->Count()) return;
  if (shown_) shown_->hide();
  shown_ = pages_->Items(index);
  shown_->show();
}

}  // namespace mirelo
