#pragma once
// TfmSearch: finds terminals on the network. It broadcasts the status
// request from its own UDP server (the driver's search class, port 1002 by
// default) and lists each terminal that answers once, by IP address and
// port, with its serial number and model, until it closes or a new search
// starts. A double-click or Enter on a row chooses that terminal.
//
// Port 1002 is below 1024: on Linux binding it needs root or the capability
// CAP_NET_BIND_SERVICE, else the search shows the socket error 10013.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <memory>
#include <string>

#include "forms/my_form.h"

namespace mirelo {

class TDeviceSearch;
struct TFoundDevice;

class TfmSearch : public TMyForm {
  Q_OBJECT
 public:
  // The ports are those of the driver's search class unless given.
  explicit TfmSearch(QWidget* parent = nullptr, const std::string& localPort = "1002",
                     const std::string& remotePort = "2002");
  ~TfmSearch() override;

  QLabel* lblAddress;
  QLineEdit* edtAddress;
  QCheckBox* chbShowAllDevices;
  QPushButton* btnStart;
  QTreeWidget* ListView;
  QPushButton* btnClose;

  // The chosen terminal, after the dialog was accepted.
  QString ResultIP;
  int ResultPort = 0;

  // Starts a search (btnStart); a failure is shown in a message box.
  void Start();
  // Chooses the selected row: accepts with its terminal, else rejects.
  void Choose();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void addRow(const TFoundDevice& found);

  std::unique_ptr<TDeviceSearch> search_;
};

// Shows the search modally; true with the chosen address and port, false
// (ip and port untouched) otherwise.
bool ShowSearchDialog(QWidget* owner, QString& ip, int& port);

}  // namespace mirelo
