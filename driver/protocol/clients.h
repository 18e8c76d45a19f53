#pragma once
// The client transports: one terminal at a time over TCP or UDP. Each opens
// its socket on first use, sends a byte string completely and receives one
// block of at most 2048 bytes within the timeout. Every wait is bounded by
// the timeout; a wait that runs out raises -1 "Нет связи".
#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/message_loop.h"
#include "platform/sockets.h"

namespace mirelo {

// The terminal's close notification of the TCP client's window.
constexpr uint32_t WM_CLIENT_NOTIFY = WM_USER + 1;

// What the frame exchange needs of a transport: bytes out, one block back
// within the timeout. A transport knows nothing of frames.
class IClientTransport {
 public:
  virtual ~IClientTransport() = default;
  // Opens (connects) the socket unless it is open already.
  virtual void Open() = 0;
  virtual void Close() = 0;
  virtual bool Connected() const = 0;
  // Opens first; sends the whole byte string. An empty one sends nothing
  // and opens nothing.
  virtual void Send(std::string_view bytes) = 0;
  // Opens first; one block of at most 2048 bytes.
  virtual std::string Receive() = 0;
};

// Shared by both transports: address, port and the bounded waits.
class TCustomClient : public IClientTransport {
 public:
  TCustomClient();
  ~TCustomClient() override;
  TCustomClient(const TCustomClient&) = delete;
  TCustomClient& operator=(const TCustomClient&) = delete;

  const std::string& Address() const { return address_; }
  void SetAddress(const std::string& address) { address_ = address; }
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& port) { port_ = port; }
  uint32_t Timeout() const { return timeout_; }
  void SetTimeout(uint32_t ms) { timeout_ = ms; }
  ws::SOCKET Handle() const { return socket_; }

  void Send(std::string_view bytes) final;

 protected:
  // Resolves address and port (service name or number; EConvertError for
  // neither); the TCP protocol entry serves both transports.
  sockaddr_in resolve() const;
  // Raising waits: a timeout gives -1, a failure a socket error.
  void waitReadable();
  void waitWritable();

  ws::SOCKET socket_ = ws::INVALID_SOCKET;
  std::string port_;
  std::string address_;
  uint32_t timeout_ = 100;
  char buffer_[2048];
};

class TTCPClient : public TCustomClient {
 public:
  TTCPClient();
  ~TTCPClient() override;

  void Open() override;
  // A terminal that does not acknowledge the shutdown within the timeout
  // raises -1; the socket is closed regardless.
  void Close() override { closeConnection(true); }
  bool Connected() const override { return connected_; }
  std::string Receive() override;

 private:
  void closeConnection(bool raiseOnTimeout);
  void handleMessage(const Message& message);

  std::unique_ptr<MessageWindow> window_;
  bool connected_ = false;
};

class TUDPClient : public TCustomClient {
 public:
  TUDPClient();
  ~TUDPClient() override;

  void Open() override;
  void Close() override;
  bool Connected() const override { return socket_ != ws::INVALID_SOCKET; }
  std::string Receive() override;
};

}  // namespace mirelo
