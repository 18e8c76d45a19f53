#include "driver/devices/device_search.h"

#include <arpa/inet.h>

#include "driver/protocol/status_rec.h"
#include "platform/bytes.h"

namespace mirelo {

namespace {
constexpr size_t kStatusReplyLength = 29;
}

TDeviceSearch::TDeviceSearch(std::string localPort, std::string remotePort)
    : remotePort_(std::move(remotePort)), server_(std::make_unique<TUDPServer>()) {
  server_->SetPort(localPort);
  server_->OnData = [this](TCustomServer* server, ws::SOCKET socket) { onReply(server, socket); };
}

TDeviceSearch::~TDeviceSearch() {
  server_.reset();
  items_.Clear();
}

bool TDeviceSearch::FallsBackToBroadcast(const std::string& address) {
  return ws::inetAddr(address) == INADDR_NONE && address != BroadcastAddress;
}

void TDeviceSearch::Start(const std::string& address) {
  items_.Clear();
  found_.clear();
  server_->Open();
  sockaddr_in destination{};
  if (!server_->MakeAddress(address, remotePort_, destination)) return;
  const char request = static_cast<char>(0xBB);
  for (int i = 0; i < RequestCount; ++i)
    server_->SendTo(server_->Handle(), &request, 1, destination);
}

void TDeviceSearch::onReply(TCustomServer* server, ws::SOCKET socket) {
  TServerBlock block = server->Read(socket);
  // Only a whole status reply says which terminal answered.
  if (block.data.size() < kStatusReplyLength || !block.client) return;
  ByteReader reply(block.data, 26);
  int32_t model = reply.u8();
  int32_t serial = reply.u16be();
  if (!ShowAllTypes && model != OwnModel) return;
  const sockaddr_in& source = block.client->Address();
  int32_t port = ntohs(source.sin_port);
  std::string ip = TCustomWSocket::AddressToText(source);
  if (items_.ItemByAddress(ip, port)) return;
  auto* item = new TIPItem(&items_, port, ip);
  found_.push_back({item->ID(), ip, port, serial, model, DeviceTypeName(model)});
  if (OnFound) OnFound(found_.back());
}

std::optional<TFoundDevice> TDeviceSearch::ItemByID(int32_t id) const {
  if (!items_.ItemByID(id)) return std::nullopt;
  for (const auto& device : found_)
    if (device.ID == id) return device;
  return std::nullopt;
}

}  // namespace mirelo
