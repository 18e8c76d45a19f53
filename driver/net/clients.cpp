#include "driver/net/clients.h"

#include <atomic>

namespace mirelo {
namespace {
std::atomic<int32_t> gClientCounter{0};
std::atomic<int32_t> gIPItemCounter{0};
}  // namespace

int32_t NextClientID() { return ++gClientCounter; }
int32_t NextIPItemID() { return ++gIPItemCounter; }

TClient::TClient(TClients* owner, ws::SOCKET socket, const sockaddr_in& address)
    : OwnedItem(this), id_(NextClientID()), socket_(socket), address_(address) {
  SetOwner(owner);
  if (owner) {
    owner->byId_[id_] = this;
    owner->Touch(this);
  }
}

TClient::~TClient() { SetOwner(nullptr); }

TClient* TClients::ClientBySocket(ws::SOCKET socket) const {
  for (TClient* client : *this)
    if (client->Socket() == socket) return client;
  return nullptr;
}

TClient* TClients::ClientByID(int32_t id) const {
  auto found = byId_.find(id);
  return found == byId_.end() ? nullptr : found->second;
}

void TClients::DeleteBySocket(ws::SOCKET socket) { delete ClientBySocket(socket); }

TClient* TClients::LeastRecent() const {
  TClient* oldest = nullptr;
  for (TClient* client : *this)
    if (!oldest || client->LastHeard() < oldest->LastHeard()) oldest = client;
  return oldest;
}

TIPItem::TIPItem(TIPItems* owner, int32_t port, const std::string& ipAddress)
    : OwnedItem(this), id_(NextIPItemID()), port_(port), ipAddress_(ipAddress) {
  SetOwner(owner);
}

TIPItem* TIPItems::ItemByID(int32_t id) const {
  for (TIPItem* item : *this)
    if (item->ID() == id) return item;
  return nullptr;
}

TIPItem* TIPItems::ItemByAddress(const std::string& ipAddress, int32_t port) const {
  for (TIPItem* item : *this)
    if (item->IPAddress() == ipAddress && item->Port() == port) return item;
  return nullptr;
}

}  // namespace mirelo
