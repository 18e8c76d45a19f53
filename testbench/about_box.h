#pragma once
// The About box: the product's name, the maker, version lines, the web and
// support addresses as links, and OK. Laid out as the driver's own About box
// (client area 342 by 232) so that the two can later be one.
#include <QDialog>
#include <QStringList>

class QLabel;
class QListWidget;
class QPushButton;

namespace mirelo {

class TfmAbout : public QDialog {
  Q_OBJECT

 public:
  static const char* const kMakerUrl;
  static const char* const kSupportMail;

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

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap logo_;
};

// Shows the box modally above parent with the name and the version lines.
void ShowAboutBox(QWidget* parent, const QString& name, const QStringList& lines);

}  // namespace mirelo
