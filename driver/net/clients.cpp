#include "driver/net/clients.h"

#include <atomic>

namespace mirelo {
namespace {
std::atomic<int32_t> gClientCounter{0};
std::atomic<int32_t> gIPItemCounter{0};
}  // namespace

int32_t NextClientID() {
  return ++gClientCounter;
}
int32_t NextIPItemID() {
  return ++gIPItemCounter;
}

TClient::TClient(TClients* owner, ws::SOCKET socket, const sockaddr_in& address)
    : OwnedItem(this), id_(NextClientID()), socket_(socket), address_(address) {
  SetOwner(owner);
  if (owner) owner->added(this);
}

TClient::~TClient() {
  SetOwner(nullptr);
}

void TClients::added(TClient* client) {
  byId_[client->ID()] = client;
  SocketClients& users = bySocket_[client->Socket()];
  if (!users.first) users.first = client;
  ++users.count;
  Touch(client);
}

void TClients::unlink(TClient* client) {
  (client->newer_ ? client->newer_->older_ : newest_) = client->older_;
  (client->older_ ? client->older_->newer_ : oldest_) = client->newer_;
  client->newer_ = client->older_ = nullptr;
}

void TClients::Touch(TClient* client) {
  if (newest_ == client) return;
  if (client->newer_ || client->older_ || oldest_ == client) unlink(client);
  client->older_ = newest_;
  (newest_ ? newest_->newer_ : oldest_) = client;
  newest_ = client;
}

void TClients::itemRemoved(TClient* client) {
  byId_.erase(client->ID());
  unlink(client);
  auto found = bySocket_.find(client->Socket());
  if (found == bySocket_.end()) return;
  SocketClients& users = found->second;
  if (--users.count == 0) {
    // A connection's only client: no list walk, so that thousands of
    // terminals leaving at once do not cost each other.
    bySocket_.erase(found);
    return;
  }
  if (users.first != client) return;
  // Another client on the same socket (UDP) takes its place: the first one.
  users.first = nullptr;
  for (TClient* other : *this)
    if (other != client && other->Socket() == client->Socket()) {
      users.first = other;
      break;
    }
}

TClient* TClients::ClientBySocket(ws::SOCKET socket) const {
  auto found = bySocket_.find(socket);
  return found == bySocket_.end() ? nullptr : found->second.first;
}

TClient* TClients::ClientByID(int32_t id) const {
  auto found = byId_.find(id);
  return found == byId_.end() ? nullptr : found->second;
}

void TClients::DeleteBySocket(ws::SOCKET socket) {
  delete ClientBySocket(socket);
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
