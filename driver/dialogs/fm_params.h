#pragma once
// TfmParams: the extra parameters of the main page ("Доп. параметры..."), a
// list of parameter pages on the left and the selected page on the right;
// its one page is TfmLog, the log switch and file.
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <memory>

#include "driver/dialogs/dialog_support.h"
#include "driver/dialogs/property_page.h"
#include "forms/my_form.h"

namespace mirelo {

class TfmLog : public TParamPage {
  Q_OBJECT
 public:
  explicit TfmLog(QWidget* parent = nullptr);

  void LoadPage() override;
  void ApplyPage() override;

  QCheckBox* chbLogEnabled;
  QLabel* lblLogFileName;
  QLineEdit* edtLogFileName;
  QPushButton* btnLogFileName;

 private:
  void updateEnabled();
  IVistel4& object() const;
};

class TfmParams : public TMyForm {
  Q_OBJECT
 public:
  TfmParams(QWidget* parent, IVistel4& object);
  ~TfmParams() override;

  TParamPages& Pages() { return *pages_; }

  QListWidget* ListBox;
  QFrame* pnlData;
  QPushButton* btnOK;
  QPushButton* btnCancel;

 private:
  void showPage(int index);

  std::unique_ptr<TParamPages> pages_;
  TParamPage* shown_ = nullptr;
};

}  // namespace mirelo
