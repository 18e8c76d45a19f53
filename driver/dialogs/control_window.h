#pragma once
// TAxCtrl: the control's visible window when a container shows the object:
// 40 x 40 pixels, fixed, a one-pixel raised frame, the inside in the
// control's colour and the control's 16 x 16 picture centred.
//
// The control's picture for a container (IDataObject, metafile medium):
// Linux has no metafiles, so the picture is the control window drawn into a
// PNG image, handed over in a METAFILEPICT whose hMF holds the PNG bytes
// (platform/com/data_object.h). It needs no display: it is drawn into an
// image, not on screen.
#include <QWidget>

#include "driver/automation/control.h"

namespace mirelo {

class TAxCtrl : public QWidget {
  Q_OBJECT
 public:
  static constexpr int Size = 40;
  explicit TAxCtrl(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
};

// Paints the control into rect: frame, fill, centred picture.
void paintControl(QPainter& painter, const QRect& rect, const QColor& fill);

// The control's picture as PNG bytes (Size x Size pixels).
QByteArray controlPicturePng();

class TControlPicture final : public IControlPicture {
 public:
  // A METAFILEPICT in anisotropic mode with the control's extent in
  // HIMETRIC units (40 pixels at 96 per inch) whose hMF holds the PNG;
  // pUnkForRelease frees both. E_UNEXPECTED when the image cannot be
  // encoded, STG_E_MEDIUMFULL when its memory cannot be had.
  HRESULT RenderMetafile(TVistel& control, const FORMATETC& format, STGMEDIUM& medium) override;
};

class TControlWindowFactory final : public IControlWindowFactory {
 public:
  HRESULT CreateControlWindow(void* parent, void** window) override;
};

}  // namespace mirelo
