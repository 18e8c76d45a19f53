#include "driver/dialogs/control_window.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <new>

#include "forms/about_box.h"

namespace mirelo {

namespace {

// 40 pixels at 96 pixels per inch in 0.01 mm.
constexpr LONG kHimetricExtent = (TAxCtrl::Size * 2540 + 48) / 96;

QColor controlColor() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()))
    return QApplication::palette().color(QPalette::Button);
  return QColor(0xF0, 0xF0, 0xF0);
}

// Owns the picture and its PNG bytes; released by ReleaseStgMedium.
class TPictureBlock final : public ComObject<IUnknown> {
 public:
  explicit TPictureBlock(QByteArray png) : png_(std::move(png)) {
    picture.mm = MM_ANISOTROPIC;
    picture.xExt = kHimetricExtent;
    picture.yExt = kHimetricExtent;
    picture.hMF = png_.constData();
    picture.cbMF = static_cast<ULONG>(png_.size());
  }
  METAFILEPICT picture{};

 private:
  QByteArray png_;
};

}  // namespace

TAxCtrl::TAxCtrl(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("AxCtrl"));
  setFixedSize(Size, Size);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAccessibleName(QStringLiteral("Vistel"));
}

void paintControl(QPainter& painter, const QRect& rect, const QColor& fill) {
  const QPalette palette = qobject_cast<QApplication*>(QCoreApplication::instance())
                               ? QApplication::palette()
                               : QPalette(QColor(0xF0, 0xF0, 0xF0));
  painter.fillRect(rect, fill);
  // Highlight at the top and left, shadow at the bottom and right.
  painter.setPen(palette.color(QPalette::Light));
  painter.drawLine(rect.topLeft(), rect.topRight());
  painter.drawLine(rect.topLeft(), rect.bottomLeft());
  painter.setPen(palette.color(QPalette::Dark));
  painter.drawLine(rect.bottomLeft(), rect.bottomRight());
  painter.drawLine(rect.topRight(), rect.bottomRight());
  const QImage bitmap = controlBitmap();
  const QRect inside = rect.adjusted(1, 1, -1, -1);
  const double centreX = inside.left() + inside.width() / 2.0;
  const double centreY = inside.top() + inside.height() / 2.0;
  painter.drawImage(qRound(centreX - bitmap.width() / 2.0), qRound(centreY - bitmap.height() / 2.0),
                    bitmap);
}

void TAxCtrl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paintControl(painter, rect(), controlColor());
}

void TAxCtrl::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  update();
}

QByteArray controlPicturePng() {
  QImage image(TAxCtrl::Size, TAxCtrl::Size, QImage::Format_ARGB32_Premultiplied);
  image.fill(controlColor());
  {
    QPainter painter(&image);
    paintControl(painter, image.rect(), controlColor());
  }
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return {};
  return png;
}

HRESULT TControlPicture::RenderMetafile(TVistel&, const FORMATETC&, STGMEDIUM& medium) {
  QByteArray png = controlPicturePng();
  if (png.isEmpty()) return E_UNEXPECTED;
  TPictureBlock* block = new (std::nothrow) TPictureBlock(std::move(png));
  if (!block) return STG_E_MEDIUMFULL;
  block->AddRef();
  medium.tymed = TYMED_MFPICT;
  medium.hMetaFilePict = &block->picture;
  medium.pUnkForRelease = block;
  return S_OK;
}

HRESULT TControlWindowFactory::CreateControlWindow(void* parent, void** window) {
  if (!window) return E_POINTER;
  *window = nullptr;
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return E_FAIL;
  *window = static_cast<QWidget*>(new TAxCtrl(static_cast<QWidget*>(parent)));
  return S_OK;
}

}  // namespace mirelo
