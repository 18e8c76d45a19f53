#pragma once
// TfmAbout: the About box of the driver and of our programs. The caller
// gives the caption, the product name and the version lines; the maker's
// details and the logo are the box's own.
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <functional>

#include "forms/my_form.h"

namespace mirelo {

// The maker shown and opened by the About box. The addresses resolve
// nowhere: they are placeholders until the maker's real ones are known.
struct TMakerInfo {
  static constexpr const char16_t* Name = u"Korvex";
  static constexpr const char16_t* Address =
      u"000000, г. Образцов, ул. Примерная, д. 1\nТел.: +7 (000) 000-00-00, факс 000-00-01";
  static constexpr const char16_t* WebSite = u"https://korvex.example.invalid";
  static constexpr const char16_t* SupportMail = u"support@korvex.example.invalid";
};

class TfmAbout : public TMyForm {
  Q_OBJECT
 public:
  explicit TfmAbout(QWidget* parent = nullptr);

  QLabel* NameLabel;
  QLabel* lblFirmName;
  QLabel* lblAddress;
  QListWidget* lbVersion;
  QLabel* lblWebSite;
  QLabel* lblURL;
  QLabel* lblSupport;
  QLabel* lblSupportMail;
  QPushButton* btnOK;

  // Where a click on a link goes: the desktop's opener by default.
  std::function<void(const QString& url)> openUrl;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void placeLinks();
};

// Shows the box modally above owner (or the active window) and destroys it.
// supportCaption replaces the label before the support address when given.
void ShowAboutBox(const QString& caption, const QString& name, const QStringList& lines,
                  QWidget* owner = nullptr, const QString& supportCaption = {});

// The logo (69 x 61) and the small picture of the control (16 x 16), drawn
// by code.
QImage makerLogo();
QImage controlBitmap();

}  // namespace mirelo
