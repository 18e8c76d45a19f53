#pragma once
// The listening side: a non-blocking socket component whose readiness comes
// as messages to a hidden window, and the TCP and UDP servers built on it.
// Failures raise while the raise-on-error flag is set; inside a socket
// notification the flag is clear, so they are only recorded in LastError.
#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "driver/net/clients.h"
#include "platform/message_loop.h"
#include "platform/sockets.h"

namespace mirelo {

// The socket notification message of the servers' windows.
constexpr uint32_t WM_SOCKET_NOTIFY = WM_USER + 1;

enum class TSocketState : uint8_t { NotStarted = 0, Closed = 1, Open = 3 };

class TCustomWSocket {
 public:
  TCustomWSocket();
  virtual ~TCustomWSocket();
  TCustomWSocket(const TCustomWSocket&) = delete;
  TCustomWSocket& operator=(const TCustomWSocket&) = delete;

  virtual void Open() {}
  virtual void Close() {}

  // host: dotted decimal, anything else gives the limited broadcast; port: a
  // service name of the component's protocol, else a decimal number
  // (EConvertError otherwise). False when the protocol is unknown.
  bool MakeAddress(const std::string& host, const std::string& port, sockaddr_in& address);
  bool MakeAnyAddress(const std::string& port, sockaddr_in& address);
  static std::string AddressToText(const sockaddr_in& address);

  // Every byte is sent or a socket error results; a full send buffer is
  // 10035 at once: nothing here waits.
  void SendAll(ws::SOCKET socket, int flags, std::string_view data);
  void SendAllTo(ws::SOCKET socket, int flags, const sockaddr_in& address, std::string_view data);
  int SendTo(ws::SOCKET socket, const char* buffer, int length, const sockaddr_in& address,
             int flags);
  std::string ReceiveOnce(ws::SOCKET socket, int flags);
  // Cancels notifications, shuts down sending, drains, closes; socket becomes
  // INVALID_SOCKET.
  void CloseGracefully(ws::SOCKET& socket);

  TSocketState State() const { return state_; }
  int LastError() const { return lastError_; }
  bool RaiseOnError() const { return raiseOnError_; }
  ws::SOCKET Handle() const { return handle_; }

 protected:
  // Records the code; raises it when the flag is set.
  void SocketError(int code);
  void SocketError() { SocketError(ws::WSAGetLastError()); }

  // Clears the raise-on-error flag for a scope and sets it again on every path.
  class QuietScope {
   public:
    explicit QuietScope(TCustomWSocket& socket) : socket_(socket), saved_(socket.raiseOnError_) {
      socket.raiseOnError_ = false;
    }
    ~QuietScope() { socket_.raiseOnError_ = saved_; }

   private:
    TCustomWSocket& socket_;
    bool saved_;
  };

  bool raiseOnError_ = true;
  int protocol_ = 0;
  int socketType_ = 3;
  ws::SOCKET handle_ = ws::INVALID_SOCKET;
  TSocketState state_ = TSocketState::NotStarted;
  int lastError_ = 0;
  char buffer_[2048];

 private:
  bool sendRest(ws::SOCKET socket, int flags, const sockaddr_in* address, std::string_view data);
};

class TCustomServer;
using TOnData = std::function<void(TCustomServer* sender, ws::SOCKET socket)>;
using TOnAccept = std::function<void(TCustomServer* sender, ws::SOCKET socket)>;
using TOnClose = std::function<void(TCustomServer* sender, ws::SOCKET socket)>;
// A line for the log about the server's own decisions (a client dropped, a
// connection refused).
using TOnNotice = std::function<void(const std::string& text)>;

// One block read from a server: the bytes and the client they came from
// (null when the sender is unknown).
struct TServerBlock {
  std::string data;
  TClient* client = nullptr;
};

class TCustomServer : public TCustomWSocket {
 public:
  TCustomServer();
  ~TCustomServer() override;

  virtual void Write(TClient* client, std::string_view data) = 0;
  virtual TServerBlock Read(ws::SOCKET socket) = 0;
  // Sends to the client with that ID; an unknown ID sends nothing.
  virtual void WriteToClient(int32_t id, std::string_view data) = 0;
  virtual bool IsTCP() const = 0;

  TOnData OnData;
  TOnNotice OnNotice;
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& port) { port_ = port; }
  TClients& Clients() { return clients_; }
  // The port actually bound (useful when the port text is "0").
  int BoundPort() const;

 protected:
  void handleNotification(const Message& message);
  virtual void onNotify(ws::SOCKET socket, int event, int error) = 0;
  void notice(const std::string& text) {
    if (OnNotice) OnNotice(text);
  }

  std::string port_;
  TClients clients_;
  std::unique_ptr<MessageWindow> window_;
};

// Writes never wait: what a client's socket does not take at once waits in
// the client's send queue and goes out as the socket becomes writable. A
// client with more than SendQueueLimit bytes waiting takes no answers and is
// disconnected (10035), so one stuck terminal costs only itself. Accepted
// connections are kept alive by TCP keep-alive, so a vanished peer is dropped.
class TTCPServer : public TCustomServer {
 public:
  static constexpr size_t SendQueueLimit = 64 * 1024;
  static constexpr int KeepAliveIdle = 60, KeepAliveInterval = 10, KeepAliveProbes = 3;

  TTCPServer();
  ~TTCPServer() override;

  void Open() override;
  void Close() override;
  void Write(TClient* client, std::string_view data) override;
  TServerBlock Read(ws::SOCKET socket) override;
  void WriteToClient(int32_t id, std::string_view data) override;
  bool IsTCP() const override { return true; }

  TOnClose OnClose;
  TOnAccept OnAccept;

 protected:
  void onNotify(ws::SOCKET socket, int event, int error) override;

 private:
  void acceptClient(int error);
  bool setUpConnection(ws::SOCKET s);
  void send(TClient* client, std::string_view data);
  // Writes what the client's queue holds until the socket takes no more.
  void flush(TClient* client);
  void dropClient(TClient* client, size_t waiting);
  // A descriptor held back so that a connection can still be taken and shut
  // when the process has run out of them.
  int reserve_ = -1;
  // Connections refused since the last one accepted (out of descriptors).
  uint64_t refused_ = 0;
};

// A datagram that the socket does not take at once is dropped with 10035:
// writes never wait, and a terminal that got no answer scans again.
class TUDPServer : public TCustomServer {
 public:
  // Senders kept at once; the one heard from least recently makes room.
  static constexpr int MaxClients = 4096;
  static constexpr int kReceiveBuffer = 4 << 20;

  TUDPServer();
  ~TUDPServer() override;

  void Open() override;
  void Close() override;
  void Write(TClient* client, std::string_view data) override;
  // One datagram; its source is a client of its own (IP and port). The
  // datagrams waiting are taken in one call and handed out one a Read; a
  // read notification delivers every one taken before it returns.
  TServerBlock Read(ws::SOCKET socket) override;
  void WriteToClient(int32_t id, std::string_view data) override;
  int SendTo(ws::SOCKET socket, const char* buffer, int length, const sockaddr_in& address) {
    return TCustomWSocket::SendTo(socket, buffer, length, address, 0);
  }
  bool IsTCP() const override { return false; }

 protected:
  void onNotify(ws::SOCKET socket, int event, int error) override;

 private:
  TClient* clientForSource(const sockaddr_in& source);
  void send(TClient* client, std::string_view data);
  void forgetClients();
  std::unordered_map<uint64_t, int32_t> bySource_;  // source -> client ID
  // Datagrams taken but not yet read: next of count. The headers are set up
  // once; each call of recvmmsg only fills them.
  static constexpr int kBatch = 16;
  struct Batch {
    Batch();
    char data[kBatch][sizeof buffer_];
    sockaddr_in sources[kBatch];
    iovec parts[kBatch];
    mmsghdr messages[kBatch];
    int count = 0, next = 0;
  };
  std::unique_ptr<Batch> batch_ = std::make_unique<Batch>();
};

}  // namespace mirelo
