#pragma once
// Finds terminals without knowing their addresses: the status request 0xBB
// goes three times to a destination (normally the limited broadcast) on the
// terminals' discovery port, and every terminal that answers is listed once
// by IP address and port, with the serial number and model of its reply.
// Replies arrive through the calling thread's message loop.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/net/clients.h"
#include "driver/net/wsockets.h"

namespace mirelo {

struct TFoundDevice {
  int32_t ID = 0;  // of its TIPItem
  std::string IPAddress;
  int32_t Port = 0;
  int32_t SerialNumber = 0;
  int32_t ModelCode = 0;
  std::string TypeName;
};

class TDeviceSearch {
 public:
  static constexpr const char* LocalPort = "1002";
  static constexpr const char* RemotePort = "2002";
  static constexpr const char* BroadcastAddress = "255.255.255.255";
  static constexpr int RequestCount = 3;
  // The model listed when not all types are shown.
  static constexpr int32_t OwnModel = 2;

  explicit TDeviceSearch(std::string localPort = LocalPort, std::string remotePort = RemotePort);
  ~TDeviceSearch();

  // Empties the list, opens the server (an open one stays open) and sends
  // the requests. A text that is no dotted address goes to the limited
  // broadcast. Socket failures raise (e.g. 10048 when the local port is taken).
  void Start(const std::string& address);
  // Whether a destination text will be sent to the limited broadcast because
  // it is not a dotted address.
  static bool FallsBackToBroadcast(const std::string& address);

  bool ShowAllTypes = true;
  // Called for each terminal as it is listed.
  std::function<void(const TFoundDevice&)> OnFound;

  const std::vector<TFoundDevice>& Found() const { return found_; }
  std::optional<TFoundDevice> ItemByID(int32_t id) const;
  TUDPServer& Server() { return *server_; }
  TIPItems& Items() { return items_; }

 private:
  void onReply(TCustomServer* server, ws::SOCKET socket);

  std::string remotePort_;
  std::unique_ptr<TUDPServer> server_;
  TIPItems items_;
  std::vector<TFoundDevice> found_;
};

}  // namespace mirelo
