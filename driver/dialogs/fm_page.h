#pragma once
// TfmPage: the main property page, the driver's settings dialog. It picks the
// current logical device, edits its client parameters and the server's,
// tests the connection, searches for terminals, sets a terminal's address,
// loads firmware, opens the tables and the logical devices dialog and the
// extra parameters. It works only through the object's own interface.
//
// Every handler runs in a guard: a failure is shown in edtResult, "(%d) %s"
// for a driver error, the bare message otherwise. While a button's action
// runs every button is disabled.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <functional>
#include <memory>

#include "driver/dialogs/dialog_support.h"
#include "driver/dialogs/property_page.h"

namespace mirelo {

class TfmParams;

// The property page's class (registered with the library's server).
inline constexpr const char* kPageFormClassName = "TfmPage";

class TfmPage : public TPropertyPage2 {
  Q_OBJECT
 public:
  explicit TfmPage(QWidget* parent = nullptr);
  ~TfmPage() override;

  void LoadPage() override;
  void ApplyPage() override;

  QLabel* lblDevice;
  QComboBox* cbDevice;
  QPushButton* btnDevice;
  QLabel* lblDeviceParams;
  QComboBox* cbClientProtocol;
  QLineEdit* edtClientIP;
  QLineEdit* edtClientPort;
  QSpinBox* edtClientTimeout;
  QSpinBox* edtRepeatCount;
  QLabel* lblServerProp;
  QComboBox* cbServerProtocol;
  QLineEdit* edtServerPort;
  QPushButton* btnConnect;
  QPushButton* btnSearch;
  QPushButton* btnTables;
  QPushButton* btnSetIP;
  QPushButton* btnUpdateSoft;
  QPushButton* btnAbout;
  QPushButton* btnSetDefaults;
  QPushButton* btnExtParams;
  QLineEdit* edtResult;

  // The search dialog; replaceable for tests. Returns whether a terminal
  // was chosen, with its address and port.
  std::function<bool(QWidget* owner, QString& ip, int& port)> searchDialog;
  // The logical devices dialog; replaceable for tests.
  std::function<void(QWidget* owner, IVistel4& object)> deviceDialog;

  TfmParams* ParamsDialog() const { return params_.get(); }

  // "OK" of the extra parameters' dialog (its pages are applied), or false.
  std::function<bool(TfmParams& dialog)> runParamsDialog;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  IVistel4& object();
  TVistelAccess driver() { return TVistelAccess(object()); }
  void fillFields();
  void fillDevices();
  void selectDevice(int index);
  void updateDeviceControls();
  void showResult();
  // Runs a handler in the guard.
  void guarded(const std::function<void()>& action);
  // Runs a button's action: busy, guarded, buttons back.
  void busy(const std::function<void()>& action);

  void deviceActivated(int position);
  void connectClick();
  void searchClick();
  void tablesClick();
  void setIPClick();
  void updateSoftClick();
  void setDefaultsClick();
  void aboutClick();
  void deviceClick();
  void extParamsClick();

  ComPtr<IVistel4> object_;
  std::unique_ptr<TfmParams> params_;
};

// The check of "Установить IP адрес": four decimal parts 0 to 255, the
// fourth not 255, anything after the fourth ignored. The address as its four
// numbers, or empty for an invalid text.
QString normalisedIPAddress(const QString& text);

// A port from its edit: digits only, 0 to 65535; anything else raises the
// conversion error "'%s' is not a valid integer value".
int32_t portFromText(const QString& text);

}  // namespace mirelo
