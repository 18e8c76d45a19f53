#pragma once
// The client transports: one terminal at a time over TCP or UDP. Each opens
// its socket on first use, sends a byte string completely and receives one
// block of at most 2048 bytes within the timeout. Every wait is bounded by
// the timeout, counted from the moment the wait starts: what arrives
// meanwhile and is not taken (an empty datagram) does not restart it. A wait
// that runs out raises -1 "Нет связи".
#include <netinet/in.h>

#include <chrono>
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
  // Opens first; one block of at most 2048 bytes within one timeout.
  virtual std::string Receive() = 0;
  // The next block of the same reply, by the deadline the last Receive set
  // (a TCP reply may come in more than one read).
  virtual std::string ReceiveMore() = 0;
  // Drops whatever has arrived and was not read (what a terminal answered
  // after its timeout), so that the next reply read is the one to the next
  // request. Returns the number of bytes dropped. A TCP connection that the
  // terminal has closed meanwhile is closed, so the next send connects anew.
  virtual size_t DiscardPending() = 0;
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
  std::string Receive() final;
  std::string ReceiveMore() final;

 protected:
  using Clock = std::chrono::steady_clock;
  // Resolves address and port (service name or number; EConvertError for
  // neither); the TCP protocol entry serves both transports.
  sockaddr_in resolve() const;
  Clock::time_point deadline() const { return Clock::now() + std::chrono::milliseconds(timeout_); }
  // A raising wait up to a deadline: running out gives -1, a failure a socket error.
  void waitWritable(Clock::time_point until);
  // One block by the deadline.
  virtual std::string receiveUntil(Clock::time_point until) = 0;
  // read(flags) into buffer_ by the deadline; raises -1 when it passes
  // first, a socket error for a failed read.
  template <class Read>
  int readReply(Clock::time_point until, Read read);
  // Reads and drops what the socket holds without waiting; false when a
  // stream's peer has closed the connection (or the stream failed).
  bool drain(size_t& dropped, bool stream);

  ws::SOCKET socket_ = ws::INVALID_SOCKET;
  std::string port_;
  std::string address_;
  uint32_t timeout_ = 100;
  Clock::time_point replyDeadline_{};
  // The receive timeout set on the socket, in whole milliseconds (0: none).
  uint32_t receiveTimeout_ = 0;
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
  size_t DiscardPending() override;

 private:
  std::string receiveUntil(Clock::time_point until) override;
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
  size_t DiscardPending() override;

 private:
  std::string receiveUntil(Clock::time_point until) override;
};

}  // namespace mirelo
