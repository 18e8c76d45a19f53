#pragma once
// Small loopback peers and checks shared by the test programs.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace mirelo::test {

// Open descriptors of this process.
inline int openDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count - 3;  // ".", ".." and the directory's own descriptor
}

inline sockaddr_in loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

inline uint16_t boundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// A bound UDP socket on 127.0.0.1 with an ephemeral port; closed on scope exit.
struct UdpPeer {
  int fd = -1;
  uint16_t port = 0;
  sockaddr_in last{};
  // host: a loopback address in network order (any of 127.0.0.0/8 is local).
  explicit UdpPeer(uint32_t host = htonl(INADDR_LOOPBACK)) {
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    address.sin_addr.s_addr = host;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    port = boundPort(fd);
  }
  ~UdpPeer() { ::close(fd); }
  // One datagram, or "" after timeoutMs; remembers its source.
  std::string receive(int timeoutMs = 2000) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, timeoutMs) <= 0) return {};
    char buffer[4096];
    socklen_t length = sizeof last;
    ssize_t n =
        ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&last), &length);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
  }
  void reply(const std::string& data) {
    ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&last), sizeof last);
  }
  void sendTo(uint16_t toPort, const std::string& data) {
    sockaddr_in address = loopback(toPort);
    ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&address),
             sizeof address);
  }
};

// A listening TCP socket on 127.0.0.1 with an ephemeral port.
struct TcpListener {
  int fd = -1;
  uint16_t port = 0;
  explicit TcpListener(int backlog = 8) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, backlog);
    port = boundPort(fd);
  }
  ~TcpListener() { ::close(fd); }
  int accept(int timeoutMs = 2000) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, timeoutMs) <= 0) return -1;
    return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  }
};

inline std::string readSome(int fd, int timeoutMs = 2000) {
  pollfd entry{fd, POLLIN, 0};
  if (::poll(&entry, 1, timeoutMs) <= 0) return {};
  char buffer[4096];
  ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

inline void writeAll(int fd, const std::string& data) {
  size_t offset = 0;
  while (offset < data.size()) {
    ssize_t n = ::send(fd, data.data() + offset, data.size() - offset, MSG_NOSIGNAL);
    if (n <= 0) return;
    offset += static_cast<size_t>(n);
  }
}

// A TCP connection from a plain socket to 127.0.0.1:port.
inline int connectTo(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

inline std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

}  // namespace mirelo::test
