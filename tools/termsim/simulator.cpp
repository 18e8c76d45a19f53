#include "tools/termsim/simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

#include "platform/exception.h"
#include "platform/format.h"
#include "tools/termsim/protocol_handler.h"

namespace mirelo::termsim {
namespace {

using Clock = std::chrono::steady_clock;

// One read of a TCP connection is one request frame.
constexpr size_t kTcpReadSize = 2048;
constexpr size_t kDatagramSize = 65536;
constexpr int kPortAttempts = 64;

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

sockaddr_in makeAddress(const std::string& host, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1)
    throw Exception(format("'%s' is not a dotted IPv4 address", host.c_str()));
  return address;
}

uint16_t boundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// A bound, non-blocking socket; -1 with errno set on failure.
int bindSocket(int type, const sockaddr_in& address) {
  int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (type == SOCK_STREAM) {
    // A restarted simulator gets its port back at once.
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0 ||
      (type == SOCK_STREAM && ::listen(fd, 64) < 0)) {
    int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

void writeImage(const std::string& path, const std::string& image) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(image.data(), static_cast<std::streamsize>(image.size()));
  file.close();
  if (!file) throw EFileError(format("Cannot write firmware file %s", path.c_str()));
}

[[noreturn]] void raiseBind(const char* what, const std::string& host, unsigned port, int error) {
  throw Exception(
      format("Cannot bind %s %s:%u: %s", what, host.c_str(), port, std::strerror(error)));
}

}  // namespace

// State owned by the server thread alone.
struct Simulator::Loop {
  struct Connection {
    int fd = -1;
    std::string out;  // bytes not yet taken by the socket
    bool closeWhenFlushed = false;
  };
  enum class Kind { Datagram, Segment, Close };
  struct Action {
    Kind kind;
    int socket = -1;  // datagrams: the socket the request came in on
    sockaddr_in to{};
    uint64_t connection = 0;
    std::string bytes;
  };

  Simulator& sim;
  std::map<uint64_t, Connection> connections;
  uint64_t nextConnection = 1;
  std::map<std::pair<Clock::time_point, uint64_t>, Action> actions;
  uint64_t nextAction = 0;
  std::string buffer = std::string(kDatagramSize, '\0');

  explicit Loop(Simulator& owner) : sim(owner) {}
  ~Loop() {
    for (auto& [id, connection] : connections) ::close(connection.fd);
    sim.tcpOpen_ = 0;
  }

  void schedule(Clock::time_point due, Action action) {
    actions.emplace(std::make_pair(due, nextAction++), std::move(action));
  }

  void closeConnection(uint64_t id) {
    auto it = connections.find(id);
    if (it == connections.end()) return;
    ::close(it->second.fd);
    connections.erase(it);
    --sim.tcpOpen_;
  }

  void flush(uint64_t id) {
    auto it = connections.find(id);
    if (it == connections.end()) return;
    Connection& c = it->second;
    while (!c.out.empty()) {
      ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;  // POLLOUT resumes
        closeConnection(id);
        return;
      }
      c.out.erase(0, static_cast<size_t>(n));
    }
    if (c.closeWhenFlushed) closeConnection(id);
  }

  void perform(Action& action) {
    switch (action.kind) {
      case Kind::Datagram:
        ::sendto(action.socket, action.bytes.data(), action.bytes.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&action.to), sizeof action.to);
        break;
      case Kind::Segment:
        if (auto it = connections.find(action.connection); it != connections.end()) {
          it->second.out += action.bytes;
          flush(action.connection);
        }
        break;
      case Kind::Close:
        if (auto it = connections.find(action.connection); it != connections.end()) {
          it->second.closeWhenFlushed = true;
          flush(action.connection);
        }
        break;
    }
  }

  void runDueActions() {
    Clock::time_point now = Clock::now();
    while (!actions.empty() && actions.begin()->first.first <= now) {
      Action action = std::move(actions.begin()->second);
      actions.erase(actions.begin());
      perform(action);
    }
  }

  int pollTimeout() const {
    if (actions.empty()) return -1;
    auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(actions.begin()->first.first - Clock::now());
    return wait.count() < 0 ? 0 : static_cast<int>(wait.count());
  }

  // Handles one request and schedules its reply with the faults in force.
  void request(Transport transport, std::string frame, int socket, const sockaddr_in& from,
               uint64_t connection) {
    ++sim.requests_;
    std::string reply;
    Faults faults;
    bool drop = false;
    std::string firmware;
    bool updated = false;
    {
      std::lock_guard lock(sim.mutex_);
      faults = sim.faults_;
      unsigned updates = sim.state_.firmwareUpdates;
      reply = handleRequest(sim.state_, frame, faults);
      if (sim.state_.firmwareUpdates != updates && !sim.options_.firmwareOut.empty()) {
        firmware = sim.state_.firmware;
        updated = true;
      }
      if (!frame.empty() && faults.dropEvery && faults.appliesTo(static_cast<uint8_t>(frame[0])))
        drop = ++sim.dropCount_ % faults.dropEvery == 0;
      if (faults.once && !frame.empty() && faults.appliesTo(static_cast<uint8_t>(frame[0])))
        sim.faults_ = Faults{};
    }
    // Journalled once the state has changed: a test that waits for the entry
    // sees the effect.
    sim.journal_.add({transport, frame, false});
    if (updated) saveFirmware(firmware);
    if (frame.empty()) return;

    bool faulty = faults.appliesTo(static_cast<uint8_t>(frame[0]));
    Clock::time_point due = Clock::now() + std::chrono::milliseconds(faulty ? faults.delayMs : 0);
    if (transport == Transport::UDP) {
      if (!drop) schedule(due, {Kind::Datagram, socket, from, 0, std::move(reply)});
      return;
    }
    if (!drop && !reply.empty()) {
      if (faulty && faults.splitReply && reply.size() >= 2) {
        size_t half = reply.size() / 2;
        schedule(due, {Kind::Segment, -1, {}, connection, reply.substr(0, half)});
        due += std::chrono::milliseconds(faults.splitPauseMs);
        schedule(due, {Kind::Segment, -1, {}, connection, reply.substr(half)});
      } else {
        schedule(due, {Kind::Segment, -1, {}, connection, std::move(reply)});
      }
    }
    if (faulty && faults.closeAfterRequest) schedule(due, {Kind::Close, -1, {}, connection, {}});
  }

  void saveFirmware(const std::string& image) {
    try {
      writeImage(sim.options_.firmwareOut, image);
    } catch (const Exception& e) {
      std::fprintf(stderr, "termsim: %s\n", e.what());
    }
  }

  // Reads what is queued on a UDP socket (bounded, so TCP is not starved).
  void readDatagrams(int socket, bool discovery) {
    for (int i = 0; i < 64; ++i) {
      sockaddr_in from{};
      socklen_t length = sizeof from;
      ssize_t n = ::recvfrom(socket, buffer.data(), buffer.size(), MSG_DONTWAIT,
                             reinterpret_cast<sockaddr*>(&from), &length);
      if (n < 0) return;
      std::string frame(buffer.data(), static_cast<size_t>(n));
      if (discovery) {
        discover(socket, std::move(frame), from);
      } else {
        request(Transport::UDP, std::move(frame), socket, from, 0);
      }
    }
  }

  // The discovery port answers the one-byte status request only.
  void discover(int socket, std::string frame, const sockaddr_in& from) {
    std::string reply;
    if (frame == std::string(1, static_cast<char>(Command::Status))) {
      std::lock_guard lock(sim.mutex_);
      reply = statusReply(sim.state_.status);
    }
    sim.journal_.add({Transport::UDP, std::move(frame), true});
    if (!reply.empty())
      ::sendto(socket, reply.data(), reply.size(), MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&from), sizeof from);
  }

  void accept() {
    for (int i = 0; i < 64; ++i) {
      int fd = ::accept4(sim.listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) return;
      int on = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      connections[nextConnection++].fd = fd;
      ++sim.tcpOpen_;
      ++sim.tcpAccepted_;
    }
  }

  void readConnection(uint64_t id) {
    auto it = connections.find(id);
    if (it == connections.end()) return;
    ssize_t n = ::recv(it->second.fd, buffer.data(), kTcpReadSize, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (n <= 0) {
      closeConnection(id);
      return;
    }
    request(Transport::TCP, std::string(buffer.data(), static_cast<size_t>(n)), -1, {}, id);
  }

  void run() {
    std::vector<pollfd> fds;
    std::vector<uint64_t> ids;
    for (;;) {
      fds.clear();
      ids.clear();
      fds.push_back({sim.wake_[0], POLLIN, 0});
      fds.push_back({sim.udp_, POLLIN, 0});
      fds.push_back({sim.listener_, POLLIN, 0});
      fds.push_back({sim.discovery_, POLLIN, 0});  // -1 is ignored by poll
      for (auto& [id, connection] : connections) {
        fds.push_back({connection.fd,
                       static_cast<short>(POLLIN | (connection.out.empty() ? 0 : POLLOUT)), 0});
        ids.push_back(id);
      }
      if (::poll(fds.data(), fds.size(), pollTimeout()) < 0 && errno != EINTR) return;
      if (fds[0].revents) return;
      if (fds[1].revents) readDatagrams(sim.udp_, false);
      if (fds[2].revents) accept();
      if (fds[3].revents) readDatagrams(sim.discovery_, true);
      for (size_t i = 0; i < ids.size(); ++i) {
        short events = fds[4 + i].revents;
        if (events & POLLOUT) flush(ids[i]);
        if (events & (POLLIN | POLLHUP | POLLERR)) readConnection(ids[i]);
      }
      runDueActions();
    }
  }
};

Simulator::Simulator() : Simulator(Options()) {}

Simulator::Simulator(Options options) : options_(std::move(options)) {
  state_ = std::move(options_.state);
  faults_ = options_.faults;
}

Simulator::~Simulator() {
  stop();
}

void Simulator::start() {
  if (running_) return;
  sockaddr_in address = makeAddress(options_.bindAddress, options_.port);
  try {
    if (options_.port != 0) {
      if ((listener_ = bindSocket(SOCK_STREAM, address)) < 0)
        raiseBind("TCP", options_.bindAddress, options_.port, errno);
      if ((udp_ = bindSocket(SOCK_DGRAM, address)) < 0)
        raiseBind("UDP", options_.bindAddress, options_.port, errno);
    } else {
      // The TCP port the system picks may be taken for UDP: try again.
      for (int attempt = 0; attempt < kPortAttempts && udp_ < 0; ++attempt) {
        if ((listener_ = bindSocket(SOCK_STREAM, address)) < 0)
          raiseBind("TCP", options_.bindAddress, 0, errno);
        sockaddr_in same = address;
        same.sin_port = htons(boundPort(listener_));
        if ((udp_ = bindSocket(SOCK_DGRAM, same)) < 0) {
          if (errno != EADDRINUSE)
            raiseBind("UDP", options_.bindAddress, ntohs(same.sin_port), errno);
          closeFd(listener_);
        }
      }
      if (udp_ < 0) raiseBind("UDP", options_.bindAddress, 0, EADDRINUSE);
    }
    port_ = boundPort(listener_);

    discoveryPort_ = 0;
    if (options_.discoveryPort >= 0 && options_.discoveryPort == port_) {
      discoveryPort_ = port_;
    } else if (options_.discoveryPort >= 0) {
      unsigned wanted = static_cast<unsigned>(options_.discoveryPort);
      if (wanted > 65535) raiseBind("UDP", options_.bindAddress, wanted, EINVAL);
      sockaddr_in discovery = address;
      discovery.sin_port = htons(static_cast<uint16_t>(wanted));
      if ((discovery_ = bindSocket(SOCK_DGRAM, discovery)) < 0)
        raiseBind("UDP", options_.bindAddress, wanted, errno);
      discoveryPort_ = boundPort(discovery_);
    }

    if (!options_.journalFile.empty()) journal_.openFile(options_.journalFile);
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) < 0)
      throw Exception(format("pipe: %s", std::strerror(errno)));
  } catch (...) {
    closeSockets();
    throw;
  }
  running_ = true;
  thread_ = std::thread([this] { run(); });
}

void Simulator::run() {
  Loop loop(*this);
  loop.run();
}

void Simulator::stop() {
  if (thread_.joinable()) {
    char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_[1], &byte, 1);
    thread_.join();
  }
  closeSockets();
  running_ = false;
}

void Simulator::closeSockets() {
  closeFd(udp_);
  closeFd(listener_);
  closeFd(discovery_);
  closeFd(wake_[0]);
  closeFd(wake_[1]);
  journal_.closeFile();
}

Faults Simulator::faults() const {
  std::lock_guard lock(mutex_);
  return faults_;
}

void Simulator::setFaults(const Faults& faults) {
  std::lock_guard lock(mutex_);
  faults_ = faults;
  dropCount_ = 0;
}

TerminalState Simulator::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

StatusInfo Simulator::status() const {
  std::lock_guard lock(mutex_);
  return state_.status;
}

void Simulator::setStatus(const StatusInfo& status) {
  std::lock_guard lock(mutex_);
  state_.status = status;
}

bool Simulator::locked() const {
  std::lock_guard lock(mutex_);
  return state_.status.locked();
}

void Simulator::setLocked(bool locked) {
  std::lock_guard lock(mutex_);
  uint8_t& flags = state_.status.flags;
  flags = locked ? flags | StatusFlag::Locked : flags & ~StatusFlag::Locked;
}

bool Simulator::programmingMode() const {
  std::lock_guard lock(mutex_);
  return state_.programmingMode;
}

void Simulator::setProgrammingMode(bool on) {
  std::lock_guard lock(mutex_);
  state_.programmingMode = on;
}

DisplayState Simulator::display() const {
  std::lock_guard lock(mutex_);
  return state_.display;
}

std::string Simulator::newAddress() const {
  std::lock_guard lock(mutex_);
  return state_.newAddress;
}

std::string Simulator::firmware() const {
  std::lock_guard lock(mutex_);
  return state_.firmware;
}

unsigned Simulator::firmwareUpdates() const {
  std::lock_guard lock(mutex_);
  return state_.firmwareUpdates;
}

std::string Simulator::message(size_t number) const {
  std::lock_guard lock(mutex_);
  return state_.messages.at(number);
}

void Simulator::setMessageCount(size_t count) {
  std::lock_guard lock(mutex_);
  state_.setMessageCount(count);
}

void Simulator::setMemoryBlocks(size_t code, size_t blocks) {
  std::lock_guard lock(mutex_);
  state_.setMemoryBlocks(code, blocks);
}

void Simulator::writeFirmware(const std::string& path) const {
  writeImage(path, firmware());
}

}  // namespace mirelo::termsim
