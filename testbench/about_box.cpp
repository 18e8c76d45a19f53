#include "testbench/about_box.h"

#include <QDesktopServices>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QUrl>
#include <algorithm>

#include "testbench/dialog_font.h"
#include "testbench/widgets.h"

namespace mirelo {

const char* const TfmAbout::kMakerUrl = "https://www.korvex.example/";
const char* const TfmAbout::kSupportMail = "support@korvex.example";

namespace {

// The maker's mark, drawn rather than shipped as a bitmap: 69 by 61 pixels.
QPixmap drawLogo() {
  QPixmap pixmap(69, 61);
  pixmap.fill(Qt::white);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0, 0, 128));
  painter.drawRoundedRect(QRectF(2, 2, 65, 57), 8, 8);
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(38);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRectF(2, 2, 65, 57), Qt::AlignCenter, QStringLiteral("K"));
  return pixmap;
}

QLabel* place(QLabel* label, const char* name, int x, int y, int width, int height) {
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(x, y, width, height);
  return label;
}

QLabel* makeLink(QWidget* parent, const char* name, const QString& text, const QString& target,
                 int x, int y) {
  auto* label = place(new QLabel(parent), name, x, y, 113, 15);
  label->setText(QStringLiteral("<a href=\"%1\" style=\"color: blue\">%2</a>")
                     .arg(target, text.toHtmlEscaped()));
  label->setTextFormat(Qt::RichText);
  label->setCursor(Qt::PointingHandCursor);
  label->setOpenExternalLinks(false);
  QObject::connect(label, &QLabel::linkActivated,
                   [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); });
  return label;
}

}  // namespace

TfmAbout::TfmAbout(QWidget* parent) : QDialog(parent), logo_(drawLogo()) {
  setObjectName(QStringLiteral("fmAbout"));
  setWindowTitle(q(u"О программе"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  applyDialogFont(this);
  setFixedSize(342, 232);

  NameLabel = place(new QLabel(this), "NameLabel", 88, 4, 249, 25);
  QFont nameFont = font();
  nameFont.setBold(true);
  nameFont.setPointSizeF(nameFont.pointSizeF() + 4);
  NameLabel->setFont(nameFont);
  NameLabel->setStyleSheet(QStringLiteral("color: navy"));

  lblFirmName = place(new QLabel(q(u"Разработка: Korvex"), this), "lblFirmName", 93, 37, 225, 15);
  QFont bold = font();
  bold.setBold(true);
  lblFirmName->setFont(bold);
  lblAddress =
      place(new QLabel(q(u"Адрес и телефоны\nсм. на сайте"), this), "lblAddress", 93, 53, 240, 34);

  lbVersion = new QListWidget(this);
  lbVersion->setObjectName(QStringLiteral("lbVersion"));
  lbVersion->setGeometry(88, 96, 249, 45);
  lbVersion->setFocusPolicy(Qt::NoFocus);

  lblWebSite = place(new QLabel(q(u"Наш Web-сайт:"), this), "lblWebSite", 88, 146, 130, 15);
  lblURL = makeLink(this, "lblURL", QStringLiteral("www.korvex.example"),
                    QString::fromLatin1(kMakerUrl), 224, 146);
  lblSupport = place(new QLabel(q(u"Тех. поддержка:"), this), "lblSupport", 88, 162, 130, 15);
  lblSupportMail =
      makeLink(this, "lblSupportMail", QString::fromLatin1(kSupportMail),
               QStringLiteral("mailto:") + QString::fromLatin1(kSupportMail), 224, 162);

  // The desktop's font may be wider than the one the layout was drawn for:
  // the links keep their place and the box grows to show them whole.
  int linkWidth = std::max(lblURL->sizeHint().width(), lblSupportMail->sizeHint().width());
  lblURL->resize(linkWidth, lblURL->height());
  lblSupportMail->resize(linkWidth, lblSupportMail->height());
  int width = std::max(342, 224 + linkWidth + 6);
  setFixedSize(width, 232);

  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setGeometry((width - 89) / 2 + 1, 202, 89, 25);
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
}

void TfmAbout::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(QRect(QPoint(5, 7), QPoint(81, 190)), Qt::white);
  painter.setPen(QColor(0x80, 0x80, 0x80));
  painter.drawLine(5, 7, 81, 7);
  painter.drawLine(5, 7, 5, 190);
  painter.setPen(Qt::black);
  painter.drawLine(88, 26, width(), 26);
  painter.drawLine(88, 28, width(), 28);
  painter.drawLine(0, 196, width(), 196);
  painter.drawPixmap(10, 15, logo_);
  // The frame around the maker's name and address.
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(88, 34, 248, 56);
}

void ShowAboutBox(QWidget* parent, const QString& name, const QStringList& lines) {
  TfmAbout box(parent);
  box.NameLabel->setText(name);
  box.lbVersion->addItems(lines);
  box.exec();
}

}  // namespace mirelo
