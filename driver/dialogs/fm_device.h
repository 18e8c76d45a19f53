#pragma once
// TfmDevice: the list of logical devices. It adds, deletes and renames
// devices through the object's members; every change takes effect at once.
// A line always stays selected (the current device), so a rename always has
// its line; the list's Insert and Delete shortcuts act only in the list.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "driver/dialogs/dialog_support.h"
#include "forms/my_form.h"

namespace mirelo {

class TfmDevice : public TMyForm {
  Q_OBJECT
 public:
  TfmDevice(QWidget* parent, IVistel4& object);

  QLabel* Label2;
  QLineEdit* edtDeviceName;
  QLabel* Label1;
  QListWidget* lbDevice;
  QPushButton* btnAdd;
  QPushButton* btnDelete;
  QPushButton* btnClose;
  QAction* mitIns;
  QAction* mitDel;

  void FillList();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void guarded(const std::function<void()>& action);
  void addClick();
  void deleteClick();
  void selectLine(int row);
  void rename();
  void restoreName();

  TVistelAccess driver_;
};

void ShowDeviceDialog(QWidget* owner, IVistel4& object);

}  // namespace mirelo
