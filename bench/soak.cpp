// kavrin --headless held under load for a long time and under hostile
// traffic, all on 127.0.0.1 (run by hand, not in CI):
//  soak     N TCP terminals (default 1000), each scanning its own code in a
//           closed loop for M minutes and checking that every answer carries
//           its own code's lines: answers, lost, misdirected, p50/p99, and
//           kavrin's resident memory and descriptors at start, middle, end;
//  stuck    terminals that send scans and never read their answers beside 16
//           that do: the readers' rate before, while and after, and whether
//           the stuck ones were disconnected;
//  flood    UDP scans from 20,000 source addresses per round, three rounds,
//           beside one real terminal: memory per round, real scans answered;
//  idle     idle TCP connections up to kavrin's descriptor limit: connected
//           terminals keep being served, new connections are refused with a
//           line in the driver's log, and accepted again when the idle go;
//  hostile  peers sending 64 KB frames and peers sending half a frame and
//           falling silent: memory before and after, real scans answered.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "kavrin_service.h"
#include "mirelo/vistel.h"
#include "platform/cp1251.h"
#include "tools/termsim/scanner.h"

namespace {

using namespace mirelo;
using Clock = std::chrono::steady_clock;

constexpr size_t kAnswerSize = 63;

[[noreturn]] void failSystem(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

sockaddr_in loopback(uint16_t port, uint32_t host = INADDR_LOOPBACK) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(host);
  return address;
}

// The code of terminal i and the first line its row answers with.
std::string codeOf(size_t i) {
  return std::to_string(4600000000000ULL + i);
}
std::string line1Of(size_t i) {
  return "Item " + std::to_string(i);
}

std::string writePriceList(const std::string& path, size_t rows) {
  std::string text;
  for (size_t i = 0; i < rows; ++i)
    text += codeOf(i) + ";" + line1Of(i) + ";Price " + std::to_string(10 + i % 990) + ".00;\r\n";
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// Line 1 of an answer frame, blanks at the end removed; "" when malformed.
std::string answerLine1(std::string_view frame) {
  if (frame.size() < kAnswerSize || static_cast<uint8_t>(frame[0]) != 0xAB || frame[1] != 0 ||
      frame[2] != 60)
    return {};
  std::string line(frame.substr(3, 30));
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

// Latencies in buckets of a sixteenth of an octave: p50 and p99 within 5 %
// without keeping every sample of a ten-minute run.
class Latencies {
 public:
  void add(double ms) {
    double us = std::max(1.0, ms * 1000);
    size_t bucket = std::min<size_t>(counts_.size() - 1, static_cast<size_t>(std::log2(us) * 16));
    ++counts_[bucket];
    ++total_;
  }
  double quantile(double q) const {
    uint64_t rank = static_cast<uint64_t>(q * static_cast<double>(total_)), seen = 0;
    for (size_t i = 0; i < counts_.size(); ++i) {
      seen += counts_[i];
      if (seen > rank) return std::exp2((static_cast<double>(i) + 0.5) / 16) / 1000;
    }
    return 0;
  }
  uint64_t total() const { return total_; }
  void clear() {
    std::fill(counts_.begin(), counts_.end(), 0);
    total_ = 0;
  }

 private:
  std::vector<uint64_t> counts_ = std::vector<uint64_t>(16 * 40, 0);
  uint64_t total_ = 0;
};

// ---- kavrin ----

using bench::KavrinSetup;

// kavrin with what the soak watches of it: memory and descriptors.
class Kavrin : public bench::KavrinService {
 public:
  Kavrin(const std::string& folder, const std::string& prices, KavrinSetup setup)
      : KavrinService(folder, prices, withProbe(setup)) {}

  double residentMiB() const {
    std::ifstream file("/proc/" + std::to_string(pid()) + "/statm");
    long pages = 0, resident = 0;
    file >> pages >> resident;
    return static_cast<double>(resident * sysconf(_SC_PAGESIZE)) / 1048576.0;
  }
  int descriptors() const {
    int count = 0;
    std::error_code error;
    for (auto it =
             std::filesystem::directory_iterator("/proc/" + std::to_string(pid()) + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
      ++count;
    return count;
  }
  std::string state() const {
    char text[64];
    std::snprintf(text, sizeof text, "RSS %6.1f MiB, %5d descriptors", residentMiB(),
                  descriptors());
    return text;
  }

 private:
  // As in service: the request lines are written (to /dev/null).
  static KavrinSetup withProbe(KavrinSetup setup) {
    setup.quiet = false;
    setup.probe = codeOf(0);
    return setup;
  }
};

// ---- TCP terminals in a closed loop ----

// Each terminal scans its own code and checks that the answer is its own; a
// terminal that waited longer than the timeout counts the scan as lost and
// connects again, so that a late answer is never taken for the next one.
class Terminals {
 public:
  struct Counts {
    uint64_t answered = 0, lost = 0, misdirected = 0, failed = 0;
  };

  Terminals(uint16_t port, size_t count, size_t firstCode = 0) : port_(port) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    terminals_.resize(count);
    for (size_t i = 0; i < count; ++i) terminals_[i].code = firstCode + i;
    for (Terminal& t : terminals_) open(t);
  }
  ~Terminals() {
    for (Terminal& t : terminals_)
      if (t.fd >= 0) close(t.fd);
    close(epoll_);
  }

  // Runs for seconds; tick is called about every tickSeconds with the time
  // since the start.
  void run(double seconds, double tickSeconds = 0, const std::function<void(double)>& tick = {}) {
    Clock::time_point start = Clock::now(), lastSweep = start;
    double nextTick = tickSeconds;
    epoll_event events[256];
    while (secondsSince(start) < seconds) {
      int n = epoll_wait(epoll_, events, 256, 10);
      Clock::time_point now = Clock::now();
      for (int k = 0; k < n; ++k) receive(terminals_[events[k].data.u64], now);
      if (now - lastSweep > std::chrono::milliseconds(100)) {
        lastSweep = now;
        for (Terminal& t : terminals_)
          if (t.fd >= 0 && now - t.sentAt > kTimeout) {
            ++counts.lost;
            reopen(t);
          }
      }
      if (tick && secondsSince(start) >= nextTick) {
        tick(secondsSince(start));
        nextTick += tickSeconds;
      }
    }
  }

  Counts counts;
  Latencies latencies, recent;  // since the start; since recent was cleared

 private:
  static constexpr auto kTimeout = std::chrono::seconds(5);
  struct Terminal {
    int fd = -1;
    size_t code = 0;
    Clock::time_point sentAt;
    size_t got = 0;
    char buffer[kAnswerSize];
  };

  void open(Terminal& t) {
    t.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (t.fd < 0) failSystem("socket");
    sockaddr_in to = loopback(port_);
    if (connect(t.fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) failSystem("connect");
    int one = 1;
    setsockopt(t.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = static_cast<uint64_t>(&t - terminals_.data());
    epoll_ctl(epoll_, EPOLL_CTL_ADD, t.fd, &event);
    send(t);
  }
  void reopen(Terminal& t) {
    close(t.fd);
    open(t);
  }
  void send(Terminal& t) {
    std::string message = termsim::terminalMessage(codeOf(t.code));
    t.got = 0;
    t.sentAt = Clock::now();
    if (::send(t.fd, message.data(), message.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(message.size())) {
      ++counts.failed;
      t.sentAt = Clock::now() - kTimeout;  // the sweep opens it again
    }
  }
  void receive(Terminal& t, Clock::time_point now) {
    ssize_t n = recv(t.fd, t.buffer + t.got, kAnswerSize - t.got, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
      ++counts.failed;
      reopen(t);
      return;
    }
    t.got += static_cast<size_t>(n);
    if (t.got < kAnswerSize) return;
    if (answerLine1(std::string_view(t.buffer, kAnswerSize)) == line1Of(t.code)) {
      ++counts.answered;
      double ms = std::chrono::duration<double, std::milli>(now - t.sentAt).count();
      latencies.add(ms);
      recent.add(ms);
    } else {
      ++counts.misdirected;
    }
    send(t);
  }

  uint16_t port_;
  int epoll_ = -1;
  std::vector<Terminal> terminals_;
};

struct Options {
  double minutes = 10;
  size_t terminals = 1000;
  std::set<std::string> parts;
};

// ---- the parts ----

void soak(const std::string& folder, const Options& options) {
  std::printf("soak: %zu TCP terminals, %.1f minutes, each checking that every answer is its own\n",
              options.terminals, options.minutes);
  std::string prices = writePriceList(folder + "/soak.txt", options.terminals);
  Kavrin kavrin(folder, prices, {});
  Terminals terminals(kavrin.port(), options.terminals);
  terminals.run(2);  // everyone connected and answered once
  std::string start = kavrin.state(), middle;
  terminals.counts = {};
  terminals.latencies.clear();
  terminals.recent.clear();
  double seconds = options.minutes * 60;
  Terminals::Counts last;
  double lastAt = 0;
  std::printf("   %8s %10s %8s %8s %8s | kavrin\n", "time s", "answers/s", "p50 ms", "p99 ms",
              "lost");
  terminals.run(seconds, seconds / 10, [&](double at) {
    Terminals::Counts now = terminals.counts;
    std::printf("   %8.0f %10.0f %8.3f %8.3f %8llu | %s\n", at,
                static_cast<double>(now.answered - last.answered) / (at - lastAt),
                terminals.recent.quantile(0.5), terminals.recent.quantile(0.99),
                static_cast<unsigned long long>(now.lost - last.lost), kavrin.state().c_str());
    terminals.recent.clear();
    if (middle.empty() && at >= seconds / 2) middle = kavrin.state();
    last = now;
    lastAt = at;
  });
  const Terminals::Counts& c = terminals.counts;
  std::printf(
      "   in all: %llu answers (%.0f/s), %llu lost, %llu misdirected, %llu connections failed; "
      "p50 %.3f ms, p99 %.3f ms\n",
      static_cast<unsigned long long>(c.answered), static_cast<double>(c.answered) / seconds,
      static_cast<unsigned long long>(c.lost), static_cast<unsigned long long>(c.misdirected),
      static_cast<unsigned long long>(c.failed), terminals.latencies.quantile(0.5),
      terminals.latencies.quantile(0.99));
  std::printf("   kavrin at start:  %s\n   kavrin in middle: %s\n   kavrin at end:    %s\n\n",
              start.c_str(), middle.c_str(), kavrin.state().c_str());
}

void stuck(const std::string& folder, const Options&) {
  std::printf("stuck: 16 terminals that read their answers beside 2 that never do\n");
  std::string prices = writePriceList(folder + "/stuck.txt", 100);
  Kavrin kavrin(folder, prices, {});
  Terminals readers(kavrin.port(), 16);
  readers.run(1);
  readers.counts = {};
  readers.run(3);
  double before = static_cast<double>(readers.counts.answered) / 3;

  // Each sends nothing but 0xAB bytes, so that every block kavrin reads,
  // however the stream is cut, is a scan of an unknown code; it reads
  // nothing, with a small receive buffer, so that its answers soon pile up.
  std::string message(2048, '\xAB');
  struct Stuck {
    int fd = -1;
    std::atomic<bool> dropped{false};
    double droppedAt = 0;
  };
  std::deque<Stuck> stuck;
  for (int i = 0; i < 2; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in to = loopback(kavrin.port());
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) failSystem("connect");
    stuck.emplace_back().fd = fd;
  }
  readers.counts = {};
  readers.latencies.clear();
  Clock::time_point start = Clock::now();
  constexpr double kLimit = 90;
  std::atomic<uint64_t> scansSent{0};
  std::atomic<bool> stopping{false};
  std::vector<std::thread> writers;
  for (Stuck& s : stuck)
    writers.emplace_back([&, &s = s] {
      while (secondsSince(start) < kLimit) {
        if (::send(s.fd, message.data(), message.size(), MSG_NOSIGNAL) < 0) {
          if (stopping) return;
          s.droppedAt = secondsSince(start);
          s.dropped = true;
          return;
        }
        ++scansSent;
      }
    });
  std::printf("   readers' answers/s while the stuck ones send, every 5 s:");
  uint64_t lastAnswered = 0;
  double seconds = 0;
  while (seconds < kLimit && !std::all_of(stuck.begin(), stuck.end(),
                                          [](const Stuck& s) { return s.dropped.load(); })) {
    readers.run(5);
    seconds += 5;
    std::printf(" %.0f", static_cast<double>(readers.counts.answered - lastAnswered) / 5);
    lastAnswered = readers.counts.answered;
  }
  std::printf("\n");
  stopping = true;
  for (Stuck& s : stuck) shutdown(s.fd, SHUT_RDWR);
  for (std::thread& writer : writers) writer.join();
  double during = static_cast<double>(readers.counts.answered) / seconds;
  readers.counts = {};
  readers.run(3);
  double after = static_cast<double>(readers.counts.answered) / 3;
  for (size_t i = 0; i < stuck.size(); ++i) {
    if (stuck[i].dropped)
      std::printf("   stuck terminal %zu disconnected by kavrin after %.1f s\n", i + 1,
                  stuck[i].droppedAt);
    else
      std::printf("   stuck terminal %zu still connected after %.0f s\n", i + 1, seconds);
    close(stuck[i].fd);
  }
  std::printf(
      "   readers: %.0f answers/s before, %.0f while the stuck ones sent (%llu scans), %.0f after; "
      "p99 while %.3f ms; %llu lost, %llu misdirected\n",
      before, during, static_cast<unsigned long long>(scansSent), after,
      readers.latencies.quantile(0.99), static_cast<unsigned long long>(readers.counts.lost),
      static_cast<unsigned long long>(readers.counts.misdirected));
  std::printf("   kavrin: %s\n\n", kavrin.state().c_str());
}

// One UDP terminal scanning code 0 with a short timeout.
class UdpTerminal {
 public:
  explicit UdpTerminal(uint16_t port) : port_(port) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in to = loopback(port);
    connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  ~UdpTerminal() { close(fd_); }
  // Sends when idle, takes an answer when one is there.
  void step() {
    char buffer[256];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0 && waiting_) {
      if (answerLine1(std::string_view(buffer, static_cast<size_t>(n))) == line1Of(0))
        ++answered;
      else
        ++misdirected;
      waiting_ = false;
    }
    if (waiting_ && secondsSince(sentAt_) > 0.5) {
      ++lost;
      waiting_ = false;
    }
    if (!waiting_) {
      std::string message = termsim::terminalMessage(codeOf(0));
      ::send(fd_, message.data(), message.size(), 0);
      sentAt_ = Clock::now();
      waiting_ = true;
    }
  }
  uint64_t answered = 0, lost = 0, misdirected = 0;

 private:
  uint16_t port_;
  int fd_ = -1;
  bool waiting_ = false;
  Clock::time_point sentAt_;
};

void flood(const std::string& folder, const Options&) {
  constexpr int kSources = 20000;
  std::printf("flood: UDP scans from %d source addresses a round, beside one real terminal\n",
              kSources);
  std::string prices = writePriceList(folder + "/flood.txt", 100);
  KavrinSetup setup;
  setup.udp = true;
  Kavrin kavrin(folder, prices, setup);
  UdpTerminal real(kavrin.port());
  std::string message = termsim::terminalMessage(codeOf(1));
  std::printf("   before:    %s\n", kavrin.state().c_str());
  for (int round = 1; round <= 3; ++round) {
    Clock::time_point start = Clock::now();
    for (int i = 0; i < kSources; ++i) {
      // 127.1.x.y: an address of its own for every source.
      int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in from = loopback(40000, (127u << 24) | (1u << 16) | static_cast<uint32_t>(i + 1));
      bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
      sockaddr_in to = loopback(kavrin.port());
      sendto(fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      close(fd);
      if (i % 20 == 0) real.step();
    }
    double seconds = secondsSince(start);
    for (int i = 0; i < 100; ++i, usleep(1000)) real.step();
    std::printf(
        "   round %d:   %s; %d sources in %.2f s; real terminal so far: %llu answered, %llu lost, "
        "%llu misdirected\n",
        round, kavrin.state().c_str(), kSources, seconds,
        static_cast<unsigned long long>(real.answered), static_cast<unsigned long long>(real.lost),
        static_cast<unsigned long long>(real.misdirected));
  }
  std::printf("\n");
}

void idle(const std::string& folder, const Options&) {
  constexpr rlim_t kLimit = 512;
  std::printf("idle: idle TCP connections up to kavrin's descriptor limit (%d), driver log on\n",
              static_cast<int>(kLimit));
  std::string prices = writePriceList(folder + "/idle.txt", 100);
  std::string log = folder + "/driver.log";
  KavrinSetup setup;
  setup.descriptors = kLimit;
  setup.log = log;
  Kavrin kavrin(folder, prices, setup);
  Terminals real(kavrin.port(), 8);
  real.run(1);
  std::printf("   before:          %s\n", kavrin.state().c_str());
  std::vector<int> idle;
  size_t refused = 0;
  for (rlim_t i = 0; i < kLimit + 100; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to = loopback(kavrin.port());
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) failSystem("connect");
    idle.push_back(fd);
    if (i % 16 == 0) real.run(0.01);
  }
  real.counts = {};
  real.run(2);
  // A connection that kavrin could not keep was shut at once.
  for (int& fd : idle) {
    pollfd p{fd, POLLIN, 0};
    char byte;
    if (poll(&p, 1, 0) == 1 && recv(fd, &byte, 1, MSG_DONTWAIT) <= 0) {
      close(fd);
      fd = -1;
      ++refused;
    }
  }
  std::printf(
      "   at the limit:    %s; %zu idle connections kept, %zu refused; connected terminals "
      "meanwhile: "
      "%llu answered, %llu lost\n",
      kavrin.state().c_str(), idle.size() - refused, refused,
      static_cast<unsigned long long>(real.counts.answered),
      static_cast<unsigned long long>(real.counts.lost));
  for (int fd : idle)
    if (fd >= 0) close(fd);
  real.run(1);
  termsim::ScanResult late = termsim::scan("127.0.0.1", kavrin.port(), codeOf(5), false, 2000);
  std::printf("   idle ones gone:  %s; a new terminal %s\n", kavrin.state().c_str(),
              late.ok && late.line1.rfind(line1Of(5), 0) == 0 ? "is answered" : "is NOT answered");
  std::ifstream file(log, std::ios::binary);
  std::string line;
  while (std::getline(file, line))
    if (line.find("TCP: out of") != std::string::npos ||
        line.find("TCP: accepting") != std::string::npos)
      std::printf("   driver log: %s\n", line.substr(0, line.find_last_not_of("\r") + 1).c_str());
  std::printf("\n");
}

void hostile(const std::string& folder, const Options&) {
  std::printf(
      "hostile: 50 peers sending 64 KB frames, 200 peers sending half a frame and falling "
      "silent\n");
  std::string prices = writePriceList(folder + "/hostile.txt", 100);
  Kavrin kavrin(folder, prices, {});
  Terminals real(kavrin.port(), 4);
  real.run(1);
  std::printf("   before:          %s\n", kavrin.state().c_str());
  real.counts = {};
  std::string big = termsim::terminalMessage(std::string(65534, '9'));
  std::vector<int> peers;
  std::atomic<bool> done{false};
  std::thread sender([&] {
    for (int i = 0; i < 50; ++i) {
      int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in to = loopback(kavrin.port());
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
      for (int frame = 0; frame < 20; ++frame) {
        size_t offset = 0;
        while (offset < big.size()) {
          ssize_t n = ::send(fd, big.data() + offset, big.size() - offset, MSG_NOSIGNAL);
          if (n <= 0) break;
          offset += static_cast<size_t>(n);
        }
      }
      peers.push_back(fd);
    }
    for (int i = 0; i < 200; ++i) {
      int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in to = loopback(kavrin.port());
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
      ::send(fd, big.data(), 1 + static_cast<size_t>(i % 20), MSG_NOSIGNAL);
      peers.push_back(fd);
    }
    done = true;
  });
  Clock::time_point start = Clock::now();
  while (!done) real.run(0.1);
  sender.join();
  double seconds = secondsSince(start);
  real.run(1);
  std::printf(
      "   all sent:        %s; 64 MB sent in %.1f s; real terminals meanwhile: %llu answered, %llu "
      "lost, "
      "%llu misdirected\n",
      kavrin.state().c_str(), seconds, static_cast<unsigned long long>(real.counts.answered),
      static_cast<unsigned long long>(real.counts.lost),
      static_cast<unsigned long long>(real.counts.misdirected));
  for (int fd : peers) close(fd);
  real.run(1);
  std::printf("   peers gone:      %s\n\n", kavrin.state().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--minutes" && i + 1 < argc) {
      options.minutes = std::atof(argv[++i]);
    } else if (arg == "--terminals" && i + 1 < argc) {
      options.terminals = static_cast<size_t>(std::atol(argv[++i]));
    } else if (arg == "soak" || arg == "stuck" || arg == "flood" || arg == "idle" ||
               arg == "hostile") {
      options.parts.insert(arg);
    } else {
      std::fprintf(
          arg == "--help" ? stdout : stderr,
          "usage: bench_soak [--minutes M] [--terminals N] [soak] [stuck] [flood] [idle] "
          "[hostile]\n"
          "  the parts named (default all); soak: N TCP terminals (1000) for M minutes (10)\n");
      return arg == "--help" ? 0 : 2;
    }
  }
  if (options.parts.empty()) options.parts = {"soak", "stuck", "flood", "idle", "hostile"};
  if (!(options.minutes > 0) || options.terminals == 0) return 2;
  setenv("MIRELO_LOOPBACK_ONLY", "1", 1);
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  signal(SIGPIPE, SIG_IGN);

  char pattern[] = "/tmp/bench-soak-XXXXXX";
  std::string folder = mkdtemp(pattern);
  setenv("MIRELO_REGISTRY", (folder + "/registry.db").c_str(), 1);
  int status = 0;
  try {
    std::printf("bench_soak: %u CPUs\n\n", std::thread::hardware_concurrency());
    const std::pair<const char*, void (*)(const std::string&, const Options&)> parts[] = {
        {"soak", soak}, {"stuck", stuck}, {"flood", flood}, {"idle", idle}, {"hostile", hostile}};
    for (const auto& [name, run] : parts)
      if (options.parts.count(name)) run(folder, options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_soak: %s\n", ansiToUtf8(e.what()).c_str());
    status = 1;
  }
  std::filesystem::remove_all(folder);
  return status;
}
