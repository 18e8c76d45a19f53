#pragma once
// Plain-socket peers on 127.0.0.1 for the simulator tests: what a driver or a
// host's server would do, without any of the project's socket code.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "test_support.h"

namespace termsim_test {

using mirelo::test::loopback;

inline uint16_t localPort(int fd) {
  return mirelo::test::boundPort(fd);
}

// "BB 00 1A" -> bytes.
inline std::string bytes(std::string_view hex) {
  std::string out;
  int digits = 0, value = 0;
  for (char c : hex) {
    int v = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                   : -1;
    if (v < 0) continue;
    value = value * 16 + v;
    if (++digits == 2) {
      out += static_cast<char>(value);
      digits = value = 0;
    }
  }
  return out;
}

inline bool readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) > 0;
}

class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() { reset(); }
  Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  int fd() const { return fd_; }
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 protected:
  int fd_ = -1;
};

class UdpPeer : public Socket {
 public:
  UdpPeer() : Socket(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in any = loopback(0);
    bind(fd_, reinterpret_cast<sockaddr*>(&any), sizeof any);
  }
  void sendTo(uint16_t port, std::string_view data) const {
    sockaddr_in to = loopback(port);
    sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  // One datagram, or nothing within the timeout.
  std::optional<std::string> receive(int timeoutMs = 2000, sockaddr_in* from = nullptr) const {
    if (!readable(fd_, timeoutMs)) return std::nullopt;
    char buffer[65536];
    sockaddr_in source{};
    socklen_t length = sizeof source;
    ssize_t n =
        recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&source), &length);
    if (n < 0) return std::nullopt;
    if (from) *from = source;
    return std::string(buffer, static_cast<size_t>(n));
  }
};

class TcpPeer : public Socket {
 public:
  TcpPeer() = default;
  explicit TcpPeer(int fd) : Socket(fd) {}
  static TcpPeer connectTo(uint16_t port) {
    TcpPeer peer(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in to = loopback(port);
    if (connect(peer.fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
      throw std::runtime_error("connect to 127.0.0.1 failed");
    int on = 1;
    setsockopt(peer.fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return peer;
  }
  void sendAll(std::string_view data) const { send(fd_, data.data(), data.size(), MSG_NOSIGNAL); }
  // One read; nullopt on timeout; "" when the peer closed the connection.
  std::optional<std::string> receive(int timeoutMs = 2000) const {
    if (!readable(fd_, timeoutMs)) return std::nullopt;
    char buffer[65536];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return std::string();
    return std::string(buffer, static_cast<size_t>(n));
  }
  // Reads until count bytes arrived, the peer closed, or the timeout.
  std::string receiveBytes(size_t count, int timeoutMs = 2000) const {
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      std::optional<std::string> part = receive(static_cast<int>(left.count()));
      if (!part || part->empty()) break;
      out += *part;
    }
    return out;
  }
};

}  // namespace termsim_test
