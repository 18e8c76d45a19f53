#include "driver/protocol/clients.h"

#include <arpa/inet.h>

#include "driver/errors/driver_error.h"
#include "driver/errors/wsa_error.h"
#include "platform/format.h"

namespace mirelo {

// ---- TCustomClient ----

TCustomClient::TCustomClient() {
  int result = ws::WSAStartup(0x0101);
  if (result != 0) RaiseLastSocketError(result);
}

TCustomClient::~TCustomClient() {
  ws::WSACleanup();
}

sockaddr_in TCustomClient::resolve() const {
  std::string protocol;
  if (!ws::protocolName(IPPROTO_TCP, protocol)) RaiseLastSocketError();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  int service = ws::servicePort(port_, protocol);
  address.sin_port = htons(static_cast<uint16_t>(service >= 0 ? service : strToInt(port_)));
  address.sin_addr.s_addr = ws::inetAddr(address_);
  return address;
}

namespace {

// What is left of a wait until `until`, in whole milliseconds (0 when it has
// passed: the socket is still looked at once).
uint32_t millisecondsLeft(std::chrono::steady_clock::time_point until) {
  auto left =
      std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0;
}

}  // namespace

void TCustomClient::waitWritable(Clock::time_point until) {
  int ready = ws::waitReady(socket_, true, millisecondsLeft(until));
  if (ready < 0) RaiseLastSocketError();
  if (ready == 0) raiseNoConnection();
}

// The socket blocks: a reply is waited for in the read itself, bounded by
// the socket's receive timeout, one call where a wait and a read would be
// two. The timeout is set again only when what is left of the wait differs
// from it, which the first read of a reply does not.
template <class Read>
int TCustomClient::readReply(Clock::time_point until, Read read) {
  for (;;) {
    // A wait that has run out still looks at the socket once.
    uint32_t left = millisecondsLeft(until);
    if (left != 0 && left != receiveTimeout_) {
      if (ws::setReceiveTimeout(socket_, left) != 0) RaiseLastSocketError();
      receiveTimeout_ = left;
    }
    int count = read(left ? 0 : MSG_DONTWAIT);
    if (count >= 0) return count;
    int error = ws::WSAGetLastError();
    if (error == ws::WSAEWOULDBLOCK) raiseNoConnection();
    if (error != ws::WSAEINTR) RaiseLastSocketError(error);
  }
}

std::string TCustomClient::Receive() {
  Open();
  replyDeadline_ = deadline();
  return receiveUntil(replyDeadline_);
}

std::string TCustomClient::ReceiveMore() {
  Open();
  return receiveUntil(replyDeadline_);
}

bool TCustomClient::drain(size_t& dropped, bool stream) {
  // Bounded: a peer that keeps sending cannot hold the caller here.
  for (int reads = 0; reads < 4096; ++reads) {
    int count = ws::recv(socket_, buffer_, sizeof buffer_, MSG_DONTWAIT);
    if (count > 0) {
      dropped += static_cast<size_t>(count);
      continue;
    }
    // A stream at its end; for datagrams an empty one.
    if (count == 0) {
      if (stream) return false;
      continue;
    }
    if (ws::WSAGetLastError() == ws::WSAEWOULDBLOCK) return true;
    // A datagram socket reports an earlier refusal once; a stream is broken.
    if (stream) return false;
  }
  return true;
}

void TCustomClient::Send(std::string_view bytes) {
  if (bytes.empty()) return;
  Open();
  // A socket with room in its buffer takes the bytes at once; the bounded
  // wait is needed only once it reports that it would block. One timeout
  // bounds the whole send.
  Clock::time_point until = deadline();
  size_t offset = 0;
  while (offset < bytes.size()) {
    // The socket blocks for reads; a send must not wait past the deadline.
    int sent = ws::send(socket_, bytes.data() + offset, static_cast<int>(bytes.size() - offset),
                        MSG_DONTWAIT);
    if (sent < 0) {
      if (ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) RaiseLastSocketError();
      waitWritable(until);
      continue;
    }
    offset += static_cast<size_t>(sent);
  }
}

// ---- TTCPClient ----

TTCPClient::TTCPClient()
    : window_(std::make_unique<MessageWindow>([this](const Message& m) { handleMessage(m); })) {}

TTCPClient::~TTCPClient() {
  try {
    closeConnection(false);
  } catch (const std::exception&) {
  }
}

void TTCPClient::handleMessage(const Message& message) {
  if (message.msg != WM_CLIENT_NOTIFY || selectEvent(message.lParam) != FD_CLOSE) return;
  // The terminal closed: the next send connects again. A failure of this
  // close has nobody to go to.
  try {
    closeConnection(true);
  } catch (const std::exception&) {
  }
}

void TTCPClient::Open() {
  if (connected_) return;
  sockaddr_in address = resolve();
  ws::SOCKET s = ws::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == ws::INVALID_SOCKET) RaiseLastSocketError();
  socket_ = s;
  receiveTimeout_ = 0;
  try {
    if (ws::setNonBlocking(s, true) != 0) RaiseLastSocketError();
    if (ws::WSAAsyncSelect(s, window_.get(), WM_CLIENT_NOTIFY, FD_CLOSE) != 0)
      RaiseLastSocketError();
    if (ws::connect(s, address) != 0 && ws::WSAGetLastError() != ws::WSAEWOULDBLOCK)
      RaiseLastSocketError();
    waitWritable(deadline());
    // A refused or failed connect also ends the wait (the exception set).
    if (int error = ws::socketError(s)) RaiseLastSocketError(error);
    // Connected: reads wait in the call (sends still do not).
    if (ws::setNonBlocking(s, false) != 0) RaiseLastSocketError();
  } catch (...) {
    ws::closesocket(s);
    socket_ = ws::INVALID_SOCKET;
    throw;
  }
  connected_ = true;
  Sleep(50);
}

void TTCPClient::closeConnection(bool raiseOnTimeout) {
  if (!connected_) return;
  struct Release {
    TTCPClient& client;
    ~Release() {
      ws::closesocket(client.socket_);
      client.connected_ = false;
      client.socket_ = ws::INVALID_SOCKET;
    }
  } release{*this};
  // Only the sending direction is shut at first: on this system a socket
  // whose receiving side is shut reads as ready at once, and the wait is for
  // the terminal's own close. Whatever it still sends meanwhile is dropped.
  if (ws::shutdown(socket_, 1) != 0) return;
  uint32_t start = GetTickCount();
  for (;;) {
    uint32_t elapsed = GetTickCount() - start;
    uint32_t left = elapsed < timeout_ ? timeout_ - elapsed : 0;
    int ready = left ? ws::waitReady(socket_, false, left) : 0;
    if (ready == 0) {
      if (raiseOnTimeout) raiseNoConnection();
      return;
    }
    if (ready < 0) {
      if (raiseOnTimeout) RaiseLastSocketError();
      return;
    }
    // Without waiting: the socket blocks, and a readiness that brings no
    // data (urgent data alone) must not hold the close.
    if (ws::recv(socket_, buffer_, sizeof buffer_, MSG_DONTWAIT) <= 0) {
      ws::shutdown(socket_, 2);
      return;
    }
  }
}

std::string TTCPClient::receiveUntil(Clock::time_point until) {
  int count = readReply(
      until, [this](int flags) { return ws::recv(socket_, buffer_, sizeof buffer_, flags); });
  if (count > 0) return std::string(buffer_, static_cast<size_t>(count));
  // The terminal closed the connection: nothing more can come on it.
  closeConnection(false);
  raiseNoConnection();
}

size_t TTCPClient::DiscardPending() {
  size_t dropped = 0;
  if (connected_ && !drain(dropped, true)) closeConnection(false);
  return dropped;
}

// ---- TUDPClient ----

TUDPClient::TUDPClient() = default;

TUDPClient::~TUDPClient() {
  Close();
}

void TUDPClient::Open() {
  if (Connected()) return;
  sockaddr_in address = resolve();
  ws::SOCKET s = ws::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == ws::INVALID_SOCKET) RaiseLastSocketError();
  if (ws::connect(s, address) != 0) {
    int error = ws::WSAGetLastError();
    ws::closesocket(s);
    RaiseLastSocketError(error);
  }
  socket_ = s;
  receiveTimeout_ = 0;
}

void TUDPClient::Close() {
  if (!Connected()) return;
  ws::shutdown(socket_, 2);
  ws::closesocket(socket_);
  socket_ = ws::INVALID_SOCKET;
}

std::string TUDPClient::receiveUntil(Clock::time_point until) {
  // An empty datagram is no reply: it is skipped, and the wait goes on to
  // the same deadline.
  for (;;) {
    int count = readReply(until, [this](int flags) {
      return ws::recvfrom(socket_, buffer_, sizeof buffer_, flags, nullptr);
    });
    if (count > 0) return std::string(buffer_, static_cast<size_t>(count));
  }
}

size_t TUDPClient::DiscardPending() {
  size_t dropped = 0;
  // Errors the socket reported meanwhile (a refused earlier datagram) go
  // with the stale data.
  if (Connected()) drain(dropped, false);
  return dropped;
}

}  // namespace mirelo
