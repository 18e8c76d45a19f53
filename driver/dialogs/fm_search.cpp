#include "driver/dialogs/fm_search.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>

#include "driver/devices/device_search.h"
#include "driver/dialogs/dialog_support.h"

namespace mirelo {

TfmSearch::TfmSearch(QWidget* parent, const std::string& localPort, const std::string& remotePort)
    : TMyForm(parent), search_(std::make_unique<TDeviceSearch>(localPort, remotePort)) {
  setObjectName(QStringLiteral("fmSearch"));
  setWindowTitle(QString::fromUtf16(u"Поиск"));
  edtAddress = new QLineEdit(QStringLiteral("255.255.255.255"), this);
  edtAddress->setObjectName(QStringLiteral("edtAddress"));
  edtAddress->setAccessibleName(QString::fromUtf16(u"Маска для поиска"));
  lblAddress = new QLabel(QString::fromUtf16(u"Маска для поиска:"), this);
  lblAddress->setObjectName(QStringLiteral("lblAddress"));
  lblAddress->setBuddy(edtAddress);
  chbShowAllDevices = new QCheckBox(QString::fromUtf16(u"Показывать все типы устройств"), this);
  chbShowAllDevices->setObjectName(QStringLiteral("chbShowAllDevices"));
  chbShowAllDevices->setChecked(true);
  btnStart = new QPushButton(QString::fromUtf16(u"Поиск"), this);
  btnStart->setObjectName(QStringLiteral("btnStart"));
  btnStart->setAutoDefault(false);
  ListView = new QTreeWidget(this);
  ListView->setObjectName(QStringLiteral("ListView"));
  ListView->setAccessibleName(QString::fromUtf16(u"Найденные устройства"));
  ListView->setRootIsDecorated(false);
  ListView->setAllColumnsShowFocus(true);
  ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView->setHeaderLabels({QString::fromUtf16(u"IP адрес"), QString::fromUtf16(u"Порт"),
                             QString::fromUtf16(u"Номер"), QString::fromUtf16(u"Тип")});
  ListView->header()->setSectionsClickable(false);
  ListView->header()->setStretchLastSection(true);
  // 80 and 60 pixels, or what an address and a port need in this font.
  const QFontMetrics metrics(ListView->font());
  ListView->setColumnWidth(
      0, std::max(80, metrics.horizontalAdvance(QStringLiteral("255.255.255.255")) + 12));
  ListView->setColumnWidth(1,
                           std::max(60, metrics.horizontalAdvance(QStringLiteral("65535")) + 12));
  ListView->setColumnWidth(
      2, std::max(60, metrics.horizontalAdvance(QString::fromUtf16(u"Номер")) + 16));
  ListView->installEventFilter(this);
  btnClose = new QPushButton(QString::fromUtf16(u"Закрыть"), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setDefault(true);

  auto* layout = new QGridLayout(this);
  layout->addWidget(lblAddress, 0, 0);
  layout->addWidget(edtAddress, 0, 1);
  layout->addWidget(btnStart, 0, 2);
  layout->addWidget(chbShowAllDevices, 1, 0, 1, 3);
  layout->addWidget(ListView, 2, 0, 1, 3);
  layout->addWidget(btnClose, 3, 2);
  layout->setColumnStretch(1, 1);
  layout->setRowStretch(2, 1);
  resize(380, 300);
  // A fixed dialog frame.
  setFixedSize(size());

  search_->OnFound = [this](const TFoundDevice& found) { addRow(found); };
  connect(chbShowAllDevices, &QCheckBox::toggled, this,
          [this](bool all) { search_->ShowAllTypes = all; });
  connect(btnStart, &QPushButton::clicked, this, [this] { Start(); });
  connect(ListView, &QTreeWidget::itemDoubleClicked, this, [this] { Choose(); });
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

TfmSearch::~TfmSearch() = default;

void TfmSearch::Start() {
  guardedBox(this, [this] {
    ListView->clear();
    search_->Start(toAnsi(edtAddress->text()));
  });
}

void TfmSearch::addRow(const TFoundDevice& found) {
  auto* item = new QTreeWidgetItem(ListView,
                                   {fromAnsi(found.IPAddress), QString::number(found.Port),
                                    QString::number(found.SerialNumber), fromAnsi(found.TypeName)});
  item->setData(0, Qt::UserRole, found.ID);
  ListView->setCurrentItem(item);
}

void TfmSearch::Choose() {
  QTreeWidgetItem* item = ListView->currentItem();
  if (item && item->isSelected()) {
    if (auto found = search_->ItemByID(item->data(0, Qt::UserRole).toInt())) {
      ResultIP = fromAnsi(found->IPAddress);
      ResultPort = found->Port;
      accept();
      return;
    }
  }
  reject();
}

bool TfmSearch::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ListView && event->type() == QEvent::KeyPress) {
    int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      Choose();
      return true;
    }
  }
  return TMyForm::eventFilter(watched, event);
}

bool ShowSearchDialog(QWidget* owner, QString& ip, int& port) {
  TfmSearch dialog(owner);
  if (dialog.exec() != QDialog::Accepted) return false;
  ip = dialog.ResultIP;
  port = dialog.ResultPort;
  return true;
}

}  // namespace mirelo
