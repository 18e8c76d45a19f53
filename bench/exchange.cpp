// Exchange rates of the driver core against plain sockets, all on loopback in
// this one process:
//  1. one status request/reply (0xBB, 29-byte reply) through
//     TCustomDriver::ExchangeOnce over UDP and TCP, and the same exchange with
//     blocking send + recv, against a peer thread that answers at once;
//  2. terminal messages (0xAB 0x00 + barcode) answered with SendAnswer by the
//     driver's TCP server on this thread's message loop, against a plain
//     epoll server, for 1, 16 and 256 terminals run by a closed-loop load
//     thread.
// Both ends are pinned: a loopback round trip costs several times more when
// the two threads sit on different CPUs, so only figures of one placement
// taken in the same run compare. Driver and plain runs alternate in rounds so
// that drift and the builds of others on this machine hit both alike; each
// rate is the median of its rounds.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "driver/protocol/custom_driver.h"
#include "median.h"
#include "platform/cp1251.h"
#include "platform/message_loop.h"
#include "tools/termsim/termsim.h"

namespace {

using namespace mirelo;
using Clock = std::chrono::steady_clock;

constexpr uint8_t kStatus = 0xBB;
constexpr size_t kStatusReplyLength = 29;
constexpr size_t kAnswerLength = 63;
constexpr int kTerminalCounts[] = {1, 16, 256};
// The driver's timeout for the client runs: generous, nothing should wait.
constexpr uint32_t kDriverTimeoutMs = 1000;
// Bound of every setup wait (a connection being accepted, say).
constexpr int kSetupLimitMs = 2000;

struct Options {
  double seconds = 1.5;  // measured time of each figure, split over the rounds
  int rounds = 3;
  double warmup = 0.05;  // unmeasured lead-in of every round
  int part = 0;          // 0: both parts
};

[[noreturn]] void failSystem(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

double secondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

Clock::time_point after(Clock::time_point from, double seconds) {
  return from + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// ---- placement ----

std::vector<int> allowedCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) failSystem("sched_getaffinity");
  std::vector<int> cpus;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
    if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
  return cpus;
}

void pinCurrentThread(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  if (int error = pthread_setaffinity_np(pthread_self(), sizeof set, &set))
    throw std::system_error(error, std::generic_category(), "pthread_setaffinity_np");
}

void unpinCurrentThread(const std::vector<int>& cpus) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu : cpus) CPU_SET(cpu, &set);
  pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

struct Placement {
  int mainCpu;  // the client (part 1) or the server (part 2)
  int peerCpu;  // the answering peer (part 1) or the terminals (part 2)
  std::string name() const {
    if (mainCpu == peerCpu) return "same CPU (" + std::to_string(mainCpu) + ")";
    return "CPUs " + std::to_string(mainCpu) + " / " + std::to_string(peerCpu);
  }
};

std::vector<Placement> placements(const std::vector<int>& cpus) {
  std::vector<Placement> result{{cpus[0], cpus[0]}};
  if (cpus.size() > 1) result.push_back({cpus[0], cpus[1]});
  return result;
}

// ---- plain socket helpers ----

sockaddr_in loopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

uint16_t boundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    failSystem("getsockname");
  return ntohs(address.sin_port);
}

int openSocket(int type) {
  int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) failSystem("socket");
  return fd;
}

void setOption(int fd, int level, int name, int value) {
  if (setsockopt(fd, level, name, &value, sizeof value) != 0) failSystem("setsockopt");
}

void setNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) failSystem("fcntl");
}

void connectTo(int fd, uint16_t port) {
  sockaddr_in address = loopbackAddress(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    failSystem("connect");
}

void sendWhole(int fd, const void* data, size_t length) {
  const char* at = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t sent = send(fd, at, length, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      failSystem("send");
    }
    at += sent;
    length -= static_cast<size_t>(sent);
  }
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.release();
    }
    return *this;
  }
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// ---- part 1: the answering terminal ----

const std::string& statusReply() {
  static const std::string reply = [] {
    std::string bytes{static_cast<char>(kStatus), '\0'};
    for (size_t i = 2; i < kStatusReplyLength; ++i) bytes += static_cast<char>(i);
    return bytes;
  }();
  return reply;
}

// Normal mode: byte 2 not 0.
const std::string kModeReply{"\xC3\x00\x01\x00", 4};

// Answers 0xBB (status) and 0xC3 (mode) over UDP and 0xBB over one TCP
// connection at a time, on the same port number, from threads with blocking
// sockets pinned to one CPU.
class Peer {
 public:
  Peer(bool tcp, int cpu) : cpu_(cpu) {
    // The TCP client's mode check asks the same port number over UDP.
    for (int attempt = 0; attempt < 50 && port_ == 0; ++attempt) {
      FileDescriptor udp(openSocket(SOCK_DGRAM));
      FileDescriptor listener;
      sockaddr_in address = loopbackAddress(0);
      if (tcp) {
        listener = FileDescriptor(openSocket(SOCK_STREAM));
        if (bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
          failSystem("bind");
        address.sin_port = htons(boundPort(listener.get()));
      }
      if (bind(udp.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno == EADDRINUSE) continue;
        failSystem("bind");
      }
      if (tcp && listen(listener.get(), 8) != 0) failSystem("listen");
      port_ = boundPort(udp.get());
      udp_ = std::move(udp);
      listener_ = std::move(listener);
    }
    if (port_ == 0) throw std::runtime_error("no port free for both UDP and TCP");
    udpThread_ = std::thread([this] { guarded([this] { serveUdp(); }); });
    if (tcp) tcpThread_ = std::thread([this] { guarded([this] { serveTcp(); }); });
  }

  // Clients must have closed their connections first.
  ~Peer() {
    stopping_ = true;
    FileDescriptor poke(openSocket(SOCK_DGRAM));
    sockaddr_in address = loopbackAddress(port_);
    sendto(poke.get(), "", 0, 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (listener_.get() >= 0) shutdown(listener_.get(), SHUT_RDWR);
    if (udpThread_.joinable()) udpThread_.join();
    if (tcpThread_.joinable()) tcpThread_.join();
  }

  uint16_t port() const { return port_; }

 private:
  // A peer that fails just falls silent; the client then reports -1.
  static void guarded(const std::function<void()>& serve) {
    try {
      serve();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "peer: %s\n", e.what());
    }
  }

  void serveUdp() {
    pinCurrentThread(cpu_);
    char buffer[2048];
    for (;;) {
      sockaddr_in from{};
      socklen_t length = sizeof from;
      ssize_t n = recvfrom(udp_.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                           &length);
      if (stopping_) return;
      if (n < 1) continue;
      const std::string* reply = nullptr;
      if (static_cast<uint8_t>(buffer[0]) == kStatus)
        reply = &statusReply();
      else if (static_cast<uint8_t>(buffer[0]) == kReadMode)
        reply = &kModeReply;
      if (reply)
        sendto(udp_.get(), reply->data(), reply->size(), 0, reinterpret_cast<sockaddr*>(&from),
               length);
    }
  }

  void serveTcp() {
    pinCurrentThread(cpu_);
    for (;;) {
      FileDescriptor connection(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (connection.get() < 0) {
        if (stopping_ || errno != EINTR) return;
        continue;
      }
      setOption(connection.get(), IPPROTO_TCP, TCP_NODELAY, 1);
      char buffer[2048];
      std::string replies;
      for (;;) {
        ssize_t n = recv(connection.get(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        replies.clear();
        for (ssize_t i = 0; i < n; ++i)
          if (static_cast<uint8_t>(buffer[i]) == kStatus) replies += statusReply();
        if (!replies.empty() &&
            send(connection.get(), replies.data(), replies.size(), MSG_NOSIGNAL) < 0)
          break;
      }
    }
  }

  int cpu_;
  uint16_t port_ = 0;
  FileDescriptor udp_;
  FileDescriptor listener_;
  std::atomic<bool> stopping_{false};
  std::thread udpThread_;
  std::thread tcpThread_;
};

// ---- part 1: the two clients ----

class DriverClient {
 public:
  DriverClient(bool tcp, uint16_t port) {
    driver_.SetTimeout(kDriverTimeoutMs);
    driver_.SetDeviceAddress("127.0.0.1");
    driver_.SetClientPort(port);
    driver_.SetClientProtocol(tcp ? ptTCP : ptUDP);
  }
  ~DriverClient() {
    try {
      driver_.CloseClient();
    } catch (const std::exception&) {
    }
  }
  void exchange() {
    std::string reply = driver_.ExchangeOnce(request_, kStatus, kStatusReplyLength);
    if (reply.size() != kStatusReplyLength) throw std::runtime_error("driver: wrong reply length");
  }

 private:
  TCustomDriver driver_;
  const std::string request_{static_cast<char>(kStatus)};
};

class PlainClient {
 public:
  PlainClient(bool tcp, uint16_t port)
      : fd_(openSocket(tcp ? SOCK_STREAM : SOCK_DGRAM)), tcp_(tcp) {
    connectTo(fd_.get(), port);
  }
  ~PlainClient() {
    // The peer's reader ends on the orderly close.
    if (tcp_) shutdown(fd_.get(), SHUT_WR);
  }
  void exchange() {
    const char request = static_cast<char>(kStatus);
    sendWhole(fd_.get(), &request, 1);
    size_t received = 0;
    // A stream may in principle split the reply; a datagram is the reply.
    do {
      ssize_t n = recv(fd_.get(), buffer_ + received, sizeof buffer_ - received, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) failSystem("recv");
      received += static_cast<size_t>(n);
    } while (tcp_ && received < kStatusReplyLength);
    if (received != kStatusReplyLength || static_cast<uint8_t>(buffer_[0]) != kStatus ||
        buffer_[1] != 0)
      throw std::runtime_error("plain: wrong reply");
  }

 private:
  FileDescriptor fd_;
  bool tcp_;
  char buffer_[2048];
};

// CPU time of the calling thread: what one side spends per exchange,
// whatever the other side and the scheduler add to the wall time.
double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// A figure's rounds: its rate is their median, so that one round that the
// machine's other work hit does not move it.
struct Tally {
  std::vector<double> rates;
  uint64_t cpuCount = 0;  // exchanges or answers over which cpuSeconds was taken
  double cpuSeconds = 0;
  void addRound(uint64_t count, double seconds) {
    rates.push_back(seconds > 0 ? static_cast<double>(count) / seconds : 0);
  }
  double rate() const { return median(rates); }
  double cpuMicroseconds() const {
    return cpuCount ? cpuSeconds * 1e6 / static_cast<double>(cpuCount) : 0;
  }
};

// Warm-up, then as many exchanges as fit in the time.
void runExchanges(const std::function<void()>& exchange, const Options& options, double seconds,
                  Tally& tally) {
  Clock::time_point start = Clock::now();
  Clock::time_point warm = after(start, options.warmup);
  while (Clock::now() < warm) exchange();
  double cpu = threadCpuSeconds();
  Clock::time_point measured = Clock::now();
  Clock::time_point end = after(measured, seconds);
  uint64_t count = 0;
  Clock::time_point now;
  do {
    exchange();
    ++count;
    now = Clock::now();
  } while (now < end);
  tally.addRound(count, secondsBetween(measured, now));
  tally.cpuCount += count;
  tally.cpuSeconds += threadCpuSeconds() - cpu;
}

struct ClientRow {
  std::string transport;
  std::string placement;
  Tally driver;
  Tally plain;
};

ClientRow measureClient(bool tcp, const Placement& placement, const Options& options) {
  pinCurrentThread(placement.mainCpu);
  ClientRow row{tcp ? "TCP" : "UDP", placement.name(), {}, {}};
  // Each client has a peer of its own, so neither waits for the other's
  // connection; an idle peer sleeps in its blocking read.
  Peer driverPeer(tcp, placement.peerCpu);
  Peer plainPeer(tcp, placement.peerCpu);
  {
    DriverClient driver(tcp, driverPeer.port());
    PlainClient plain(tcp, plainPeer.port());
    // The first exchange opens the connection (mode check and the 50 ms pause
    // after a TCP connect): not part of any figure.
    driver.exchange();
    plain.exchange();
    double slice = options.seconds / options.rounds;
    for (int round = 0; round < options.rounds; ++round) {
      auto runDriver = [&] {
        runExchanges([&] { driver.exchange(); }, options, slice, row.driver);
      };
      auto runPlain = [&] { runExchanges([&] { plain.exchange(); }, options, slice, row.plain); };
      if (round % 2 == 0) {
        runDriver();
        runPlain();
      } else {
        runPlain();
        runDriver();
      }
    }
  }
  return row;
}

// ---- part 2: terminals and servers ----

const std::string kBarcode = "4607001234567";
const std::string kLine1 = "Молоко 3,2% 1 л";
const std::string kLine2 = "Цена 89.90";

const std::string& terminalMessage() {
  static const std::string message =
      std::string{static_cast<char>(kTerminalMessage), '\0'} + kBarcode;
  return message;
}

// The answer frame as SendAnswer builds it.
size_t buildAnswer(char (&frame)[kAnswerLength + 1]) {
  frame[0] = static_cast<char>(kTerminalMessage);
  frame[1] = 0;
  frame[2] = 60;
  std::snprintf(frame + 3, sizeof frame - 3, "%-30.*s%-30.*s",
                static_cast<int>(std::min<size_t>(kLine1.size(), 30)), kLine1.data(),
                static_cast<int>(std::min<size_t>(kLine2.size(), 30)), kLine2.data());
  return kAnswerLength;
}

struct LoadResult {
  uint64_t answers = 0;  // within the measured window
  double seconds = 0;
  std::string failure;
  // The server thread over the whole run, warm-up included.
  uint64_t serverAnswers = 0;
  double serverCpuSeconds = 0;
};

// Closed loop: every terminal sends its next message when the answer to the
// previous one is complete. Ends by itself after warm-up plus the time.
class TerminalLoad {
 public:
  TerminalLoad(std::vector<FileDescriptor> terminals, int cpu, double warmup, double seconds)
      : terminals_(std::move(terminals)), cpu_(cpu), warmup_(warmup), seconds_(seconds) {
    thread_ = std::thread([this] { run(); });
  }
  ~TerminalLoad() {
    if (thread_.joinable()) thread_.join();
  }
  bool finished() const { return finished_.load(std::memory_order_acquire); }
  LoadResult join() {
    thread_.join();
    return result_;
  }

 private:
  void run() {
    try {
      pinCurrentThread(cpu_);
      loop();
    } catch (const std::exception& e) {
      result_.failure = e.what();
    }
    finished_.store(true, std::memory_order_release);
  }

  void loop() {
    FileDescriptor epoll(epoll_create1(EPOLL_CLOEXEC));
    if (epoll.get() < 0) failSystem("epoll_create1");
    std::vector<std::string> pending(terminals_.size());
    for (size_t i = 0; i < terminals_.size(); ++i) {
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.u64 = i;
      if (epoll_ctl(epoll.get(), EPOLL_CTL_ADD, terminals_[i].get(), &event) != 0)
        failSystem("epoll_ctl");
    }
    const std::string& message = terminalMessage();
    Clock::time_point start = Clock::now();
    Clock::time_point measured = after(start, warmup_);
    Clock::time_point end = after(measured, seconds_);
    for (auto& terminal : terminals_) sendWhole(terminal.get(), message.data(), message.size());
    std::vector<epoll_event> events(terminals_.size());
    char buffer[4096];
    for (Clock::time_point now = start; now < end;) {
      int count = epoll_wait(epoll.get(), events.data(), static_cast<int>(events.size()), 50);
      if (count < 0 && errno != EINTR) failSystem("epoll_wait");
      now = Clock::now();
      bool inWindow = now >= measured && now < end;
      for (int k = 0; k < count; ++k) {
        size_t i = events[k].data.u64;
        ssize_t n = recv(terminals_[i].get(), buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) throw std::runtime_error("a terminal's connection was closed by the server");
        std::string& bytes = pending[i];
        bytes.append(buffer, static_cast<size_t>(n));
        while (bytes.size() >= kAnswerLength) {
          if (static_cast<uint8_t>(bytes[0]) != kTerminalMessage || bytes[1] != 0 || bytes[2] != 60)
            throw std::runtime_error("a terminal received a malformed answer");
          bytes.erase(0, kAnswerLength);
          if (inWindow) ++result_.answers;
          if (now < end) sendWhole(terminals_[i].get(), message.data(), message.size());
        }
      }
    }
    result_.seconds = seconds_;
  }

  std::vector<FileDescriptor> terminals_;
  int cpu_;
  double warmup_;
  double seconds_;
  std::atomic<bool> finished_{false};
  LoadResult result_;
  std::thread thread_;
};

// A terminal's connection, made blocking (the kernel completes it without
// accept) and handed over non-blocking.
FileDescriptor connectTerminal(uint16_t port) {
  FileDescriptor fd(openSocket(SOCK_STREAM));
  connectTo(fd.get(), port);
  setNonBlocking(fd.get());
  return fd;
}

class Server {
 public:
  virtual ~Server() = default;
  virtual uint16_t port() const = 0;
  // Takes the connection just made; raises when it is not taken in time.
  virtual void accept() = 0;
  virtual void serveUntil(const TerminalLoad& load) = 0;
  uint64_t answered() const { return answered_; }

 protected:
  uint64_t answered_ = 0;
};

// The driver's TCP server, driven by this thread's message loop; the message
// handler answers directly.
class DriverServer : public Server {
 public:
  DriverServer() {
    driver_.SetServerProtocol(ptTCP);
    driver_.SetServerPort(0);
    driver_.OpenServer();
    port_ = static_cast<uint16_t>(driver_.Server().BoundPort());
    driver_.OnMessage = [this](const std::string&, int32_t clientId) {
      driver_.SendAnswer(clientId, kLine1, kLine2);
      ++answered_;
    };
  }
  ~DriverServer() override { driver_.CloseServer(); }
  uint16_t port() const override { return port_; }
  void accept() override {
    TClients& clients = driver_.Server().Clients();
    int expected = clients.Count() + 1;
    if (!MessageLoop::current().runUntil([&] { return clients.Count() >= expected; },
                                         kSetupLimitMs))
      throw std::runtime_error("the driver's server did not accept a terminal");
  }
  void serveUntil(const TerminalLoad& load) override {
    MessageLoop& loop = MessageLoop::current();
    while (!load.finished()) loop.waitAndProcess(20);
    if (int error = driver_.Server().LastError())
      std::fprintf(stderr, "driver server: last socket error %d\n", error);
  }

 private:
  TCustomDriver driver_;
  uint16_t port_ = 0;
};

// What a hand-written server does: level-triggered epoll, one read, one answer.
class PlainServer : public Server {
 public:
  PlainServer() : listener_(openSocket(SOCK_STREAM)), epoll_(epoll_create1(EPOLL_CLOEXEC)) {
    if (epoll_.get() < 0) failSystem("epoll_create1");
    sockaddr_in address = loopbackAddress(0);
    if (bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      failSystem("bind");
    if (listen(listener_.get(), 512) != 0) failSystem("listen");
  }
  uint16_t port() const override { return boundPort(listener_.get()); }
  void accept() override {
    FileDescriptor connection(
        accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (connection.get() < 0) failSystem("accept4");
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = connection.get();
    if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, connection.get(), &event) != 0)
      failSystem("epoll_ctl");
    connections_.push_back(std::move(connection));
  }
  void serveUntil(const TerminalLoad& load) override {
    epoll_event events[256];
    char buffer[2048];
    char answer[kAnswerLength + 1];
    while (!load.finished()) {
      int count = epoll_wait(epoll_.get(), events, 256, 20);
      if (count < 0 && errno != EINTR) failSystem("epoll_wait");
      for (int k = 0; k < count; ++k) {
        int fd = events[k].data.fd;
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
          epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
          continue;
        }
        if (n < 2 || static_cast<uint8_t>(buffer[0]) != kTerminalMessage) continue;
        sendWhole(fd, answer, buildAnswer(answer));
        ++answered_;
      }
    }
  }

 private:
  FileDescriptor listener_;
  FileDescriptor epoll_;
  std::vector<FileDescriptor> connections_;
};

// One run of one server: connect the terminals, let them talk, take the
// load's count.
LoadResult runServer(Server& server, int terminals, const Placement& placement, double warmup,
                     double seconds) {
  std::vector<FileDescriptor> connections;
  for (int i = 0; i < terminals; ++i) {
    connections.push_back(connectTerminal(server.port()));
    server.accept();
  }
  uint64_t answered = server.answered();
  double cpu = threadCpuSeconds();
  TerminalLoad load(std::move(connections), placement.peerCpu, warmup, seconds);
  server.serveUntil(load);
  cpu = threadCpuSeconds() - cpu;
  LoadResult result = load.join();
  result.serverAnswers = server.answered() - answered;
  result.serverCpuSeconds = cpu;
  if (!result.failure.empty()) throw std::runtime_error("terminal load: " + result.failure);
  return result;
}

struct ServerRow {
  int terminals;
  std::string placement;
  Tally driver;
  Tally plain;
};

ServerRow measureServer(int terminals, const Placement& placement, const Options& options) {
  pinCurrentThread(placement.mainCpu);
  ServerRow row{terminals, placement.name(), {}, {}};
  double slice = options.seconds / options.rounds;
  auto add = [](Tally& tally, const LoadResult& result) {
    tally.addRound(result.answers, result.seconds);
    tally.cpuCount += result.serverAnswers;
    tally.cpuSeconds += result.serverCpuSeconds;
  };
  for (int round = 0; round < options.rounds; ++round) {
    auto runDriver = [&] {
      DriverServer server;
      add(row.driver, runServer(server, terminals, placement, options.warmup, slice));
    };
    auto runPlain = [&] {
      PlainServer server;
      add(row.plain, runServer(server, terminals, placement, options.warmup, slice));
    };
    if (round % 2 == 0) {
      runDriver();
      runPlain();
    } else {
      runPlain();
      runDriver();
    }
  }
  return row;
}

// ---- program ----

void raiseDescriptorLimit(rlim_t wanted) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= wanted) return;
  limit.rlim_cur = std::min(wanted, limit.rlim_max);
  setrlimit(RLIMIT_NOFILE, &limit);
}

void usage(FILE* out) {
  std::fprintf(out,
               "usage: bench_exchange [--seconds S] [--rounds N] [--part 1|2|3] [--quick]\n"
               "  --seconds S  measured time of each figure (default 1.5)\n"
               "  --rounds N   driver and plain runs alternate N times per figure; each rate\n"
               "               is the median of the rounds' rates (default 3)\n"
               "  --part P     only part 1 (client exchange), 2 (server answers) or 3 (firmware)\n"
               "  --quick      short smoke run (0.2 s, one round)\n");
}

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--quick") {
      options.seconds = 0.2;
      options.rounds = 1;
      options.warmup = 0.02;
    } else if ((arg == "--seconds" || arg == "--rounds" || arg == "--part") && i + 1 < argc) {
      char* end = nullptr;
      double value = std::strtod(argv[++i], &end);
      if (!end || *end || !(value > 0) || value > 60) return false;
      if (arg == "--seconds")
        options.seconds = value;
      else if (arg == "--rounds")
        options.rounds = static_cast<int>(value);
      else
        options.part = static_cast<int>(value);
      if (options.rounds < 1 || options.part < 0 || options.part > 3) return false;
    } else {
      return false;
    }
  }
  return true;
}

double loadAverage() {
  double load = 0;
  if (FILE* file = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(file, "%lf", &load) != 1) load = 0;
    std::fclose(file);
  }
  return load;
}

void printClientPart(const std::vector<int>& cpus, const Options& options) {
  std::printf("1. Status request 0xBB -> 29-byte reply, one at a time\n");
  std::printf("   (exchanges/s; wall us per exchange; client-thread CPU us per exchange)\n");
  std::printf("%-9s %-16s %10s %10s %6s %8s %8s %8s %8s\n", "transport", "placement", "driver/s",
              "plain/s", "ratio", "drv us", "pln us", "drv cpu", "pln cpu");
  for (bool tcp : {false, true}) {
    for (const Placement& placement : placements(cpus)) {
      ClientRow row = measureClient(tcp, placement, options);
      double driverRate = row.driver.rate(), plainRate = row.plain.rate();
      double ratio = driverRate / plainRate;
      std::printf("%-9s %-16s %10.0f %10.0f %6.2f %8.2f %8.2f %8.2f %8.2f%s\n",
                  row.transport.c_str(), row.placement.c_str(), driverRate, plainRate, ratio,
                  1e6 / driverRate, 1e6 / plainRate, row.driver.cpuMicroseconds(),
                  row.plain.cpuMicroseconds(), ratio < 0.9 ? "  (below 0.90)" : "");
    }
  }
  unpinCurrentThread(cpus);
}

void printServerPart(const std::vector<int>& cpus, const Options& options) {
  std::printf("2. Terminal message 0xAB+barcode -> 63-byte answer, TCP, closed loop\n");
  std::printf("   (answers/s; server-thread CPU us per answer)\n");
  std::printf("%-9s %-16s %10s %10s %6s %8s %8s\n", "terminals", "placement", "driver/s", "epoll/s",
              "ratio", "drv cpu", "epl cpu");
  for (int terminals : kTerminalCounts) {
    for (const Placement& placement : placements(cpus)) {
      ServerRow row = measureServer(terminals, placement, options);
      double driverRate = row.driver.rate(), plainRate = row.plain.rate();
      std::printf("%-9d %-16s %10.0f %10.0f %6.2f %8.2f %8.2f\n", row.terminals,
                  row.placement.c_str(), driverRate, plainRate, driverRate / plainRate,
                  row.driver.cpuMicroseconds(), row.plain.cpuMicroseconds());
    }
  }
  unpinCurrentThread(cpus);
}

// ---- 3. firmware ----

// The update's own frames from a plain UDP socket, each reply waited for with
// poll and its command byte checked: the terminal's second of pause and 483
// round trips (start, mode, start, 480 blocks, end) at their plainest.
double plainFirmwareSeconds(uint16_t port, const std::string& image) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to = loopbackAddress(port);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
    throw std::system_error(errno, std::generic_category(), "plain firmware socket");
  char reply[2048];
  auto exchange = [&](const std::string& frame) {
    send(fd, frame.data(), frame.size(), 0);
    pollfd ready{fd, POLLIN, 0};
    ssize_t n = poll(&ready, 1, 1000) == 1 ? recv(fd, reply, sizeof reply, 0) : -1;
    if (n < 2 || reply[0] != frame[0]) throw std::runtime_error("plain firmware: no fitting reply");
  };
  Clock::time_point start = Clock::now();
  exchange("\xC0");
  std::this_thread::sleep_for(TCustomDriver::ProgrammingModePause);
  exchange(std::string(1, static_cast<char>(kReadMode)));
  exchange("\xC0");
  for (size_t offset = 0, block = 1; offset < image.size(); offset += 256, ++block) {
    std::string frame;
    frame.reserve(260);
    frame.push_back('\xC1');
    frame.push_back('\0');
    frame.push_back(static_cast<char>(block & 0xFF));
    frame.push_back(static_cast<char>(block >> 8));
    frame.append(image, offset, 256);
    exchange(frame);
  }
  exchange("\xC2");
  close(fd);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void printFirmwarePart(const std::vector<int>& cpus) {
  std::printf("3. Firmware update, 120 KB (480 blocks), UDP, against the simulated terminal\n");
  pinCurrentThread(cpus[0]);  // the terminal's thread is started from here: one CPU
  termsim::Options simOptions;
  simOptions.discoveryPort = -1;
  termsim::Simulator sim(simOptions);
  sim.start();
  std::string image(TCustomDriver::FirmwareMaxSize, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + i / 256);
  char pattern[] = "/tmp/bench-firmware-XXXXXX";
  int file = mkstemp(pattern);
  if (file < 0 || write(file, image.data(), image.size()) != static_cast<ssize_t>(image.size()))
    throw std::runtime_error("cannot write the firmware image");
  close(file);
  TCustomDriver driver;
  driver.SetTimeout(kDriverTimeoutMs);
  driver.SetDeviceAddress("127.0.0.1");
  driver.SetClientPort(sim.port());
  std::vector<double> driverSeconds, plainSeconds;
  for (int run = 0; run < 3; ++run) {
    plainSeconds.push_back(plainFirmwareSeconds(sim.port(), image));
    Clock::time_point start = Clock::now();
    driver.UpdateFirmware(pattern);
    driverSeconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  unlink(pattern);
  unpinCurrentThread(cpus);
  double d = median(driverSeconds), p = median(plainSeconds);
  double pause = std::chrono::duration<double>(TCustomDriver::ProgrammingModePause).count();
  std::printf(
      "   same CPU (%d), median of 3: driver %.3f s, plain socket %.3f s (1 s + 483 round trips of "
      "%.1f us); driver / plain %.3f (goal <= 1.03)\n",
      cpus[0], d, p, (p - pause) / 483 * 1e6, d / p);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    usage(stdout);
    return 0;
  }
  if (!parseOptions(argc, argv, options)) {
    usage(stderr);
    return 2;
  }
  // Every destination the driver is given is on this machine; refuse any other.
  setenv("MIRELO_LOOPBACK_ONLY", "1", 1);
  // 256 terminals: both ends of each connection live in this process.
  raiseDescriptorLimit(2048);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  try {
    std::vector<int> cpus = allowedCpus();
    std::string cpuText;
    for (int cpu : cpus) {
      if (!cpuText.empty()) cpuText += ',';
      cpuText += std::to_string(cpu);
    }
    std::printf(
        "bench_exchange: %.2f s per figure in %d round(s), warm-up %.2f s per round; CPUs %s; load "
        "%.2f\n\n",
        options.seconds, options.rounds, options.warmup, cpuText.c_str(), loadAverage());
    if (options.part == 0 || options.part == 1) printClientPart(cpus, options);
    if (options.part == 0) std::printf("\n");
    if (options.part == 0 || options.part == 2) printServerPart(cpus, options);
    if (options.part == 0) std::printf("\n");
    if (options.part == 0 || options.part == 3) printFirmwarePart(cpus);
    std::printf(
        "\nrates: medians of the rounds; ratio = driver / plain in the same run and placement;\n"
        "goal for part 1: >= 0.90 (on one CPU)\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_exchange: %s\n", ansiToUtf8(e.what()).c_str());
    return 1;
  }
  return 0;
}
