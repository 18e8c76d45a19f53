#pragma once
// Senders known to a server, and addresses found by the device search. IDs
// come from two process-wide counters: 1, 2, 3, ... never reused while the
// process lives.
#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/owned_list.h"
#include "platform/sockets.h"

namespace mirelo {

class TClients;

class TClient : public OwnedItem<TClients, TClient> {
 public:
  // Joins the list with the next client ID.
  TClient(TClients* owner, ws::SOCKET socket, const sockaddr_in& address);
  ~TClient() override;

  int32_t ID() const { return id_; }
  ws::SOCKET Socket() const { return socket_; }
  const sockaddr_in& Address() const { return address_; }
  void SetAddress(const sockaddr_in& address) { address_ = address; }

  // What a server has yet to write to this client: the bytes the socket did
  // not take at once, sent as it becomes writable.
  std::string& SendQueue() { return sendQueue_; }

 private:
  friend class TClients;
  int32_t id_;
  ws::SOCKET socket_;
  sockaddr_in address_;
  std::string sendQueue_;
  // Neighbours in the list's order of recency.
  TClient* newer_ = nullptr;
  TClient* older_ = nullptr;
};

// Look-ups by ID and by socket and the least recent client take constant
// time, so that thousands of terminals cost no more per message than one.
class TClients : public OwnedList<TClient> {
 public:
  ~TClients() override { Clear(); }
  TClient* ClientBySocket(ws::SOCKET socket) const;
  TClient* ClientByID(int32_t id) const;
  void DeleteBySocket(ws::SOCKET socket);
  // Marks the client as the one heard from most recently.
  void Touch(TClient* client);
  // The client heard from least recently, or null.
  TClient* LeastRecent() const { return oldest_; }

 protected:
  void itemRemoved(TClient* client) override;

 private:
  friend class TClient;
  void added(TClient* client);
  void unlink(TClient* client);
  std::unordered_map<int32_t, TClient*> byId_;
  // The first client of each socket (under UDP every client shares one) and
  // how many clients the socket has.
  struct SocketClients {
    TClient* first = nullptr;
    uint32_t count = 0;
  };
  std::unordered_map<ws::SOCKET, SocketClients> bySocket_;
  TClient* newest_ = nullptr;
  TClient* oldest_ = nullptr;
};

// The next client ID of the process.
int32_t NextClientID();

class TIPItems;

class TIPItem : public OwnedItem<TIPItems, TIPItem> {
 public:
  TIPItem(TIPItems* owner, int32_t port, const std::string& ipAddress);
  ~TIPItem() override { SetOwner(nullptr); }

  int32_t ID() const { return id_; }
  int32_t Port() const { return port_; }
  const std::string& IPAddress() const { return ipAddress_; }

 private:
  int32_t id_;
  int32_t port_;
  std::string ipAddress_;
};

class TIPItems : public OwnedList<TIPItem> {
 public:
  ~TIPItems() override { Clear(); }
  TIPItem* ItemByID(int32_t id) const;
  // Exact text and port.
  TIPItem* ItemByAddress(const std::string& ipAddress, int32_t port) const;
};

int32_t NextIPItemID();

}  // namespace mirelo
