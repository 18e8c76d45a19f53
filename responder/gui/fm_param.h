#pragma once
// TfmParam: the two lines a terminal shows for an unknown code.
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace mirelo {

class TfmParam : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMaxLineLength = 20;

  explicit TfmParam(QWidget* parent = nullptr);

  QLabel* lblErrMessage;
  QLabel* lblLine1;
  QLineEdit* edtLine1;
  QLabel* lblLine2;
  QLineEdit* edtLine2;
  QPushButton* btnOK;
  QPushButton* btnCancel;

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace mirelo
