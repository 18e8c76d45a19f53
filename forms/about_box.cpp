#include "forms/about_box.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include "platform/process.h"

namespace mirelo {

namespace {

constexpr int kClientWidth = 342;
constexpr int kClientHeight = 232;

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  return label;
}

QLabel* makeLink(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  QLabel* label = makeLabel(parent, name, text, geometry);
  label->setCursor(Qt::PointingHandCursor);
  label->setFocusPolicy(Qt::NoFocus);
  label->setAccessibleName(text);
  return label;
}

// Opens links as the shell's "open" verb does: in the desktop's handler.
void openWithDesktop(const QString& url) {
  runDetached({{"xdg-open", url.toStdString()}});
}

class LinkFilter : public QObject {
 public:
  LinkFilter(QObject* parent, std::function<void()> action)
      : QObject(parent), action_(std::move(action)) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonRelease) action_();
    return false;
  }

 private:
  std::function<void()> action_;
};

}  // namespace

TfmAbout::TfmAbout(QWidget* parent) : TMyForm(parent), openUrl(openWithDesktop) {
  setObjectName(QStringLiteral("fmAbout"));
  setWindowTitle(QString::fromUtf16(u"О программе"));
  // A dialog border without system buttons.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(kClientWidth, kClientHeight);

  NameLabel = makeLabel(this, "NameLabel", QString(), QRect(88, 4, 249, 25));
  lblFirmName =
      makeLabel(this, "lblFirmName",
                QString::fromUtf16(u"Разработка: ") + QString::fromUtf16(TMakerInfo::Name),
                QRect(93, 37, 225, 13));
  lblAddress = makeLabel(this, "lblAddress", QString::fromUtf16(TMakerInfo::Address),
                         QRect(92, 50, 192, 26));
  lbVersion = new QListWidget(this);
  lbVersion->setObjectName(QStringLiteral("lbVersion"));
  lbVersion->setGeometry(88, 96, 249, 45);
  lbVersion->setFocusPolicy(Qt::NoFocus);
  lbVersion->setAccessibleName(QString::fromUtf16(u"Версия"));
  QPalette white = lbVersion->palette();
  white.setColor(QPalette::Base, Qt::white);
  lbVersion->setPalette(white);
  lblWebSite =
      makeLabel(this, "lblWebSite", QString::fromUtf16(u"Наш Web-сайт:"), QRect(88, 146, 97, 13));
  lblURL =
      makeLink(this, "lblURL", QString::fromUtf16(TMakerInfo::WebSite), QRect(224, 146, 113, 13));
  lblSupport = makeLabel(this, "lblSupport", QString::fromUtf16(u"Техническая поддержка:"),
                         QRect(88, 162, 129, 13));
  lblSupportMail = makeLink(this, "lblSupportMail", QString::fromUtf16(TMakerInfo::SupportMail),
                            QRect(224, 162, 113, 13));
  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setGeometry(128, 202, 89, 25);
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

  // Appearance: the name navy, bold and 4 points larger; the links blue and
  // underlined, both in the form's font.
  QFont nameFont = font();
  nameFont.setBold(true);
  nameFont.setPointSize(nameFont.pointSize() + 4);
  NameLabel->setFont(nameFont);
  NameLabel->setStyleSheet(QStringLiteral("color: navy"));
  QFont linkFont = font();
  linkFont.setUnderline(true);
  for (QLabel* link : {lblURL, lblSupportMail}) {
    link->setFont(linkFont);
    link->setStyleSheet(QStringLiteral("color: blue"));
  }
  QFont boldFont = font();
  boldFont.setBold(true);
  lblFirmName->setFont(boldFont);

  lblURL->installEventFilter(new LinkFilter(this, [this] { openUrl(lblURL->text()); }));
  lblSupportMail->installEventFilter(new LinkFilter(this, [this] {
    openUrl(QStringLiteral("mailto:") + QString::fromUtf16(TMakerInfo::SupportMail));
  }));
}

// The labels keep their places unless the font on this system is wider
// than the one the box was laid out for: then they grow, and the links move
// right and the box with them, so that no text is cut.
void TfmAbout::placeLinks() {
  for (QLabel* label :
       {NameLabel, lblFirmName, lblAddress, lblWebSite, lblSupport, lblURL, lblSupportMail}) {
    QSize wanted = label->sizeHint();
    label->resize(std::max(label->width(), wanted.width()),
                  std::max(label->height(), wanted.height()));
  }
  int linkLeft =
      std::max({224, lblWebSite->geometry().right() + 8, lblSupport->geometry().right() + 8});
  lblURL->move(linkLeft, lblURL->y());
  lblSupportMail->move(linkLeft, lblSupportMail->y());
  int right = kClientWidth;
  for (QLabel* label : {NameLabel, lblFirmName, lblAddress, lblURL, lblSupportMail})
    right = std::max(right, label->geometry().right() + 6);
  int extra = right - kClientWidth;
  lbVersion->resize(249 + extra, lbVersion->height());
  btnOK->move(128 + extra / 2, btnOK->y());
  setFixedSize(kClientWidth + extra, kClientHeight);
}

void TfmAbout::showEvent(QShowEvent* event) {
  placeLinks();
  TMyForm::showEvent(event);
}

void TfmAbout::paintEvent(QPaintEvent* event) {
  TMyForm::paintEvent(event);
  QPainter painter(this);
  painter.fillRect(QRect(QPoint(5, 7), QPoint(81, 190)), Qt::white);
  painter.setPen(QColor(0x80, 0x80, 0x80));
  painter.drawLine(5, 7, 81, 7);
  painter.drawLine(5, 7, 5, 190);
  painter.setPen(Qt::black);
  const int right = width();
  painter.drawLine(88, 26, right, 26);
  painter.drawLine(88, 28, right, 28);
  painter.drawLine(0, 196, right, 196);
  painter.drawImage(10, 15, makerLogo());
  // bvlInfo: the frame around the maker's name and address.
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(88, 34, lbVersion->width() - 1, 56);
}

void ShowAboutBox(const QString& caption, const QString& name, const QStringList& lines,
                  QWidget* owner, const QString& supportCaption) {
  if (!owner) owner = QApplication::activeWindow();
  TfmAbout box(owner);
  if (!caption.isEmpty()) box.setWindowTitle(caption);
  if (!supportCaption.isEmpty()) box.lblSupport->setText(supportCaption);
  box.NameLabel->setText(name);
  box.lbVersion->addItems(lines);
  box.exec();
}

QImage makerLogo() {
  QImage image(69, 61, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  // A blue shield with a white K cut from two strokes, and a red bar under it.
  QPainterPath shield;
  shield.moveTo(34.5, 1);
  shield.lineTo(63, 9);
  shield.lineTo(63, 30);
  shield.cubicTo(63, 44, 50, 53, 34.5, 59);
  shield.cubicTo(19, 53, 6, 44, 6, 30);
  shield.lineTo(6, 9);
  shield.closeSubpath();
  painter.fillPath(shield, QColor(0x1F, 0x3F, 0x8F));
  painter.setPen(QPen(QColor(0x0F, 0x25, 0x5F), 1.5));
  painter.drawPath(shield);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::white);
  painter.drawRect(QRectF(21, 13, 7, 30));
  painter.drawPolygon(
      QPolygonF({QPointF(28, 29), QPointF(42, 13), QPointF(50, 13), QPointF(33, 31)}));
  painter.drawPolygon(
      QPolygonF({QPointF(32, 26), QPointF(50, 43), QPointF(42, 43), QPointF(28, 31)}));
  painter.setBrush(QColor(0xD0, 0x20, 0x20));
  painter.drawRect(QRectF(21, 46, 29, 3));
  return image;
}

QImage controlBitmap() {
  QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  // A price-check terminal: a dark case, a green two-line display, the
  // scanner's red window.
  painter.fillRect(QRect(1, 2, 14, 12), QColor(0x30, 0x30, 0x38));
  painter.fillRect(QRect(3, 4, 10, 5), QColor(0x50, 0xC0, 0x60));
  painter.fillRect(QRect(4, 5, 7, 1), QColor(0x10, 0x40, 0x18));
  painter.fillRect(QRect(4, 7, 5, 1), QColor(0x10, 0x40, 0x18));
  painter.fillRect(QRect(5, 11, 6, 2), QColor(0xE0, 0x30, 0x30));
  return image;
}

}  // namespace mirelo
