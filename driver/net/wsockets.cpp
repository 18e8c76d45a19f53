#include "driver/net/wsockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <algorithm>

#include "driver/errors/wsa_error.h"
#include "platform/format.h"

namespace mirelo {

// ---- TCustomWSocket ----

TCustomWSocket::TCustomWSocket() {
  int result = ws::WSAStartup(0x0101);
  if (result != 0) {
    lastError_ = result;
    RaiseLastSocketError(result);
  }
  state_ = TSocketState::Closed;
}

TCustomWSocket::~TCustomWSocket() {
  raiseOnError_ = false;
  if (handle_ != ws::INVALID_SOCKET) CloseGracefully(handle_);
  if (state_ != TSocketState::NotStarted) ws::WSACleanup();
}

void TCustomWSocket::SocketError(int code) {
  lastError_ = code;
  if (raiseOnError_) RaiseLastSocketError(code);
}

bool TCustomWSocket::MakeAddress(const std::string& host, const std::string& port,
                                 sockaddr_in& address) {
  std::string protocolName;
  if (!ws::protocolName(protocol_, protocolName)) {
    SocketError();
    return false;
  }
  address = sockaddr_in{};
  address.sin_family = AF_INET;
  int servicePort = ws::servicePort(port, protocolName);
  address.sin_port = htons(static_cast<uint16_t>(servicePort >= 0 ? servicePort : strToInt(port)));
  address.sin_addr.s_addr = ws::inetAddr(host);
  return true;
}

bool TCustomWSocket::MakeAnyAddress(const std::string& port, sockaddr_in& address) {
  std::string protocolName;
  if (!ws::protocolName(protocol_, protocolName)) return false;
  address = sockaddr_in{};
  address.sin_family = AF_INET;
  int servicePort = ws::servicePort(port, protocolName);
  address.sin_port = htons(static_cast<uint16_t>(servicePort >= 0 ? servicePort : strToInt(port)));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  return true;
}

std::string TCustomWSocket::AddressToText(const sockaddr_in& address) {
  return ws::inetNtoa(address.sin_addr.s_addr);
}

bool TCustomWSocket::sendRest(ws::SOCKET socket, int flags, const sockaddr_in* address,
                              std::string_view data) {
  size_t offset = 0;
  while (offset < data.size()) {
    int length = static_cast<int>(data.size() - offset);
    int sent = address ? ws::sendto(socket, data.data() + offset, length, flags, *address)
                       : ws::send(socket, data.data() + offset, length, flags);
    if (sent >= 0) {
      offset += static_cast<size_t>(sent);
      continue;
    }
    // A full send buffer included: a partial write is not reported as sent.
    SocketError();
    return false;
  }
  return true;
}

void TCustomWSocket::SendAll(ws::SOCKET socket, int flags, std::string_view data) {
  if (!data.empty()) sendRest(socket, flags, nullptr, data);
}

void TCustomWSocket::SendAllTo(ws::SOCKET socket, int flags, const sockaddr_in& address,
                               std::string_view data) {
  if (!data.empty()) sendRest(socket, flags, &address, data);
}

int TCustomWSocket::SendTo(ws::SOCKET socket, const char* buffer, int length,
                           const sockaddr_in& address, int flags) {
  int sent = ws::sendto(socket, buffer, length, flags, address);
  if (sent >= 0) return sent;
  if (ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) SocketError();
  return 0;
}

std::string TCustomWSocket::ReceiveOnce(ws::SOCKET socket, int flags) {
  int count = ws::recv(socket, buffer_, sizeof buffer_, flags);
  if (count > 0) return std::string(buffer_, static_cast<size_t>(count));
  if (count < 0 && ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) SocketError();
  return {};
}

void TCustomWSocket::CloseGracefully(ws::SOCKET& socket) {
  if (socket == ws::INVALID_SOCKET) return;
  ws::WSAAsyncSelect(socket, nullptr, 0, 0);
  int shutdownError = 0;
  if (ws::shutdown(socket, 1) != 0 && ws::WSAGetLastError() != ws::WSAENOTCONN)
    shutdownError = ws::WSAGetLastError();
  // Draining ends at the peer's close or at the first failure, would-block
  // included: a non-blocking socket has nothing more queued then.
  for (int rounds = 0; rounds < 64; ++rounds)
    if (ws::recv(socket, buffer_, sizeof buffer_, 0) <= 0) break;
  // The descriptor is released even when shutting down failed: keeping it
  // would leak it, and nothing could use it any more.
  ws::SOCKET closing = socket;
  socket = ws::INVALID_SOCKET;
  if (ws::closesocket(closing) != 0) SocketError();
  if (shutdownError) SocketError(shutdownError);
}

// ---- TCustomServer ----

TCustomServer::TCustomServer()
    : window_(
          std::make_unique<MessageWindow>([this](const Message& m) { handleNotification(m); })) {}

TCustomServer::~TCustomServer() = default;

int TCustomServer::BoundPort() const {
  sockaddr_in address{};
  if (handle_ == ws::INVALID_SOCKET || ws::getsockname(handle_, &address) != 0) return 0;
  return ntohs(address.sin_port);
}

void TCustomServer::handleNotification(const Message& message) {
  if (message.msg != WM_SOCKET_NOTIFY || state_ == TSocketState::Closed) return;
  QuietScope quiet(*this);
  try {
    onNotify(static_cast<ws::SOCKET>(message.wParam), selectEvent(message.lParam),
             selectError(message.lParam));
  } catch (const std::exception&) {
    // Nothing escapes into the window procedure; socket failures were recorded.
  }
}

// ---- TTCPServer ----

TTCPServer::TTCPServer() {
  protocol_ = IPPROTO_TCP;
  socketType_ = SOCK_STREAM;
}

TTCPServer::~TTCPServer() {
  raiseOnError_ = false;
  Close();
}

void TTCPServer::Open() {
  if (state_ != TSocketState::Closed) return;
  sockaddr_in address{};
  if (!MakeAnyAddress(port_, address)) return;
  ws::SOCKET s = ws::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == ws::INVALID_SOCKET) {
    SocketError();
    return;
  }
  // A restarted host must not wait for old connections to time out. The
  // backlog is the system's largest: with a handful, terminals that connect
  // at the same moment are dropped and retry only seconds later.
  ws::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, 1);
  if (ws::WSAAsyncSelect(s, window_.get(), WM_SOCKET_NOTIFY, FD_ACCEPT) != 0 ||
      ws::bind(s, address) != 0 || ws::listen(s, SOMAXCONN) != 0) {
    int error = ws::WSAGetLastError();
    ws::closesocket(s);
    SocketError(error);
    return;
  }
  handle_ = s;
  if (reserve_ < 0) reserve_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  state_ = TSocketState::Open;
}

void TTCPServer::Close() {
  if (state_ == TSocketState::NotStarted || state_ == TSocketState::Closed) return;
  for (TClient* client : clients_) {
    ws::SOCKET s = client->Socket();
    CloseGracefully(s);
  }
  clients_.Clear();
  CloseGracefully(handle_);
  if (reserve_ >= 0) {
    ::close(reserve_);
    reserve_ = -1;
  }
  if (handle_ == ws::INVALID_SOCKET) state_ = TSocketState::Closed;
}

void TTCPServer::Write(TClient* client, std::string_view data) {
  if (client) send(client, data);
}

void TTCPServer::send(TClient* client, std::string_view data) {
  if (data.empty()) return;
  std::string& queue = client->SendQueue();
  // Earlier bytes go first; the socket may have room for them by now.
  if (!queue.empty()) flush(client);
  if (queue.empty()) {
    while (!data.empty()) {
      int sent = ws::send(client->Socket(), data.data(),
                          static_cast<int>(std::min<size_t>(data.size(), 1 << 30)), 0);
      if (sent < 0) {
        if (ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) return SocketError();
        break;
      }
      data.remove_prefix(static_cast<size_t>(sent));
    }
    if (data.empty()) return;
  }
  if (queue.size() + data.size() > SendQueueLimit) {
    dropClient(client, queue.size() + data.size());
    SocketError(ws::WSAEWOULDBLOCK);
    return;
  }
  queue.append(data);
}

void TTCPServer::flush(TClient* client) {
  std::string& queue = client->SendQueue();
  size_t done = 0;
  while (done < queue.size()) {
    int sent =
        ws::send(client->Socket(), queue.data() + done, static_cast<int>(queue.size() - done), 0);
    if (sent < 0) {
      // Would-block asks for the next write notification; a failure of the
      // connection comes as its close.
      if (ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) lastError_ = ws::WSAGetLastError();
      break;
    }
    done += static_cast<size_t>(sent);
  }
  queue.erase(0, done);
  if (queue.empty() && queue.capacity() > 4096) std::string().swap(queue);
}

void TTCPServer::dropClient(TClient* client, size_t waiting) {
  ws::SOCKET s = client->Socket();
  notice(format("TCP: client %d (%s:%d) takes no answers, %zu bytes waiting: disconnected (10035)",
                client->ID(), AddressToText(client->Address()).c_str(),
                ntohs(client->Address().sin_port), waiting));
  if (OnClose) OnClose(this, s);
  delete client;
  // Reset rather than closed in order: the kernel would otherwise go on
  // holding what the peer does not read.
  linger abort{1, 0};
  ::setsockopt(s, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  ws::closesocket(s);
}

TServerBlock TTCPServer::Read(ws::SOCKET socket) {
  TServerBlock block;
  block.data = ReceiveOnce(socket, 0);
  block.client = clients_.ClientBySocket(socket);
  return block;
}

void TTCPServer::WriteToClient(int32_t id, std::string_view data) {
  if (TClient* client = clients_.ClientByID(id)) send(client, data);
}

void TTCPServer::acceptClient(int error) {
  if (error) {
    lastError_ = error;
    return;
  }
  // Every connection waiting is taken (up to a bound, so that a burst of
  // connections cannot hold up the clients already served): one a
  // notification would leave a burst of terminals waiting seconds.
  for (int taken = 0; taken < 64; ++taken) {
    sockaddr_in peer{};
    ws::SOCKET s = ws::accept(handle_, &peer);
    if (s == ws::INVALID_SOCKET) {
      int code = ws::WSAGetLastError();
      // Nothing more waiting is no failure once one was taken.
      if (code == ws::WSAEWOULDBLOCK && taken > 0) return;
      SocketError(code);
      if (code != 10024) return;
      // Out of descriptors: take the waiting connection with the reserve and
      // shut it, or the listener would be signalled for it again and again.
      if (reserve_ >= 0) ::close(reserve_);
      ws::SOCKET dropped = ws::accept(handle_, nullptr);
      if (dropped != ws::INVALID_SOCKET) ws::closesocket(dropped);
      reserve_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      // One line when refusing starts; the count when accepting again.
      if (refused_++ == 0)
        notice(format("TCP: out of descriptors (%d clients): new connections are refused",
                      clients_.Count()));
      if (dropped == ws::INVALID_SOCKET) return;
      continue;
    }
    if (!setUpConnection(s)) {
      SocketError();
      ws::closesocket(s);
      continue;
    }
    if (refused_ > 0) {
      notice(format("TCP: accepting connections again; %llu refused meanwhile",
                    static_cast<unsigned long long>(refused_)));
      refused_ = 0;
    }
    new TClient(&clients_, s, peer);
    if (OnAccept) OnAccept(this, s);
  }
}

bool TTCPServer::setUpConnection(ws::SOCKET s) {
  return ws::WSAAsyncSelect(s, window_.get(), WM_SOCKET_NOTIFY, FD_READ | FD_WRITE | FD_CLOSE) ==
             0 &&
         ws::setsockopt(s, SOL_SOCKET, SO_OOBINLINE, 1) == 0 &&
         ws::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, 1) == 0 &&
         ws::setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, KeepAliveIdle) == 0 &&
         ws::setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, KeepAliveInterval) == 0 &&
         ws::setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, KeepAliveProbes) == 0;
}

void TTCPServer::onNotify(ws::SOCKET socket, int event, int error) {
  switch (event) {
    case FD_ACCEPT:
      acceptClient(error);
      break;
    case FD_READ:
      if (error)
        lastError_ = error;
      else if (OnData)
        OnData(this, socket);
      break;
    case FD_WRITE:
      if (error)
        lastError_ = error;
      else if (TClient* client = clients_.ClientBySocket(socket))
        flush(client);
      break;
    case FD_CLOSE:
      if (error == ws::WSAENETDOWN) {
        lastError_ = error;
        break;
      }
      if (error) lastError_ = error;
      if (OnClose) OnClose(this, socket);
      clients_.DeleteBySocket(socket);
      CloseGracefully(socket);
      break;
    default:
      if (error) lastError_ = error;
  }
}

// ---- TUDPServer ----

TUDPServer::TUDPServer() {
  protocol_ = IPPROTO_UDP;
  socketType_ = SOCK_DGRAM;
}

TUDPServer::~TUDPServer() {
  raiseOnError_ = false;
  Close();
}

void TUDPServer::forgetClients() {
  clients_.Clear();
  bySource_.clear();
}

void TUDPServer::Open() {
  forgetClients();
  if (state_ != TSocketState::Closed) return;
  sockaddr_in address{};
  if (!MakeAnyAddress(port_, address)) return;
  ws::SOCKET s = ws::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == ws::INVALID_SOCKET) {
    SocketError();
    return;
  }
  if (ws::WSAAsyncSelect(s, window_.get(), WM_SOCKET_NOTIFY, FD_READ) != 0 ||
      ws::setsockopt(s, SOL_SOCKET, SO_BROADCAST, 1) != 0 || ws::bind(s, address) != 0) {
    int error = ws::WSAGetLastError();
    ws::closesocket(s);
    SocketError(error);
    return;
  }
  // Room for the scans of a few thousand terminals at once: a burst waits in
  // the socket instead of being dropped. Best effort; the system may cap it.
  ws::setsockopt(s, SOL_SOCKET, SO_RCVBUF, kReceiveBuffer);
  handle_ = s;
  state_ = TSocketState::Open;
}

void TUDPServer::Close() {
  forgetClients();
  batch_->next = batch_->count = 0;
  if (state_ != TSocketState::Open) return;
  CloseGracefully(handle_);
  if (handle_ == ws::INVALID_SOCKET) state_ = TSocketState::Closed;
}

namespace {
uint64_t sourceKey(const sockaddr_in& address) {
  return (static_cast<uint64_t>(address.sin_addr.s_addr) << 16) | address.sin_port;
}
}  // namespace

TClient* TUDPServer::clientForSource(const sockaddr_in& source) {
  uint64_t key = sourceKey(source);
  if (auto found = bySource_.find(key); found != bySource_.end()) {
    if (TClient* client = clients_.ClientByID(found->second)) {
      clients_.Touch(client);
      return client;
    }
    bySource_.erase(found);
  }
  if (clients_.Count() >= MaxClients) {
    TClient* oldest = clients_.LeastRecent();
    bySource_.erase(sourceKey(oldest->Address()));
    delete oldest;
  }
  auto* client = new TClient(&clients_, handle_, source);
  bySource_[key] = client->ID();
  return client;
}

TUDPServer::Batch::Batch() : sources{}, parts{}, messages{} {
  for (int k = 0; k < kBatch; ++k) {
    parts[k] = {data[k], sizeof data[k]};
    messages[k].msg_hdr.msg_name = &sources[k];
    messages[k].msg_hdr.msg_namelen = sizeof sources[k];
    messages[k].msg_hdr.msg_iov = &parts[k];
    messages[k].msg_hdr.msg_iovlen = 1;
  }
}

TServerBlock TUDPServer::Read(ws::SOCKET socket) {
  TServerBlock block;
  Batch& batch = *batch_;
  if (batch.next == batch.count) {
    batch.next = batch.count = 0;
    int count = ws::recvBatch(socket, batch.messages, kBatch);
    if (count < 0) {
      if (ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) SocketError();
      return block;
    }
    batch.count = count;
  }
  int k = batch.next++;
  const mmsghdr& message = batch.messages[k];
  if (message.msg_hdr.msg_flags & MSG_TRUNC) {
    SocketError(ws::WSAEMSGSIZE);  // as recvfrom refuses it
    return block;
  }
  block.data.assign(batch.data[k], message.msg_len);
  if (!block.data.empty()) block.client = clientForSource(batch.sources[k]);
  return block;
}

void TUDPServer::Write(TClient* client, std::string_view data) {
  if (client) send(client, data);
}

void TUDPServer::WriteToClient(int32_t id, std::string_view data) {
  if (TClient* client = clients_.ClientByID(id)) send(client, data);
}

void TUDPServer::send(TClient* client, std::string_view data) {
  if (data.empty()) return;
  int sent =
      ws::sendto(handle_, data.data(), static_cast<int>(std::min<size_t>(data.size(), 1 << 30)), 0,
                 client->Address());
  if (sent >= 0) return;
  int code = ws::WSAGetLastError();
  if (code == ws::WSAEWOULDBLOCK)
    notice(format("UDP: the socket takes no more: %zu bytes to client %d (%s:%d) dropped (10035)",
                  data.size(), client->ID(), AddressToText(client->Address()).c_str(),
                  ntohs(client->Address().sin_port)));
  SocketError(code);
}

void TUDPServer::onNotify(ws::SOCKET socket, int event, int error) {
  if (event == FD_READ) {
    if (error) {
      lastError_ = error;
    } else if (OnData) {
      do OnData(this, socket);
      while (batch_->next < batch_->count);
    }
  } else if (error) {
    lastError_ = error;
  }
}

}  // namespace mirelo
