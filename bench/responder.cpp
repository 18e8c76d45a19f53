// kavrin --headless under load, beside a plain epoll server measured in the
// same run, all on 127.0.0.1:
//  1. closed-loop terminals (each sends its next scan when the previous one
//     is answered) against the real kavrin process (--quiet) and against a
//     plain server process that answers every terminal message with a fixed
//     answer, over TCP and UDP at concurrency 1, 16 and 256: a) termsim's load
//     generator, connections included, b) connections opened beforehand,
//     answering only; each figure the median of three runs, kavrin and plain
//     alternating; c) the same with kavrin printing its request lines;
//  2. the scale curve: 256, 1024 and 4096 TCP terminals connected at once,
//     answers/s against kavrin's own rate at 256, memory per terminal;
//  3. a price list of a million rows: load time, resident memory, lookup time
//     from a cold cache line (random codes), kavrin with it.
// Goals: kavrin at >= 0.85 of the plain server's answers/s everywhere in 1b,
// p50 <= 1.3 x plain, no more datagrams lost than the plain server loses; at
// 4096 terminals >= 0.8 of its rate at 256; lookup <= 0.3 us, load <= 0.4 s,
// <= 120 bytes a row. --check: exit status 1 when a ratio of 1b falls below
// 0.8 (by hand, not in CI).
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "kavrin_service.h"
#include "median.h"
#include "mirelo/vistel.h"
#include "platform/cp1251.h"
#include "responder/price_list.h"
#include "tools/termsim/scanner.h"

namespace {

using namespace mirelo;
using Clock = std::chrono::steady_clock;

const std::string kBarcode = "4607001234562";
constexpr int kConcurrencies[] = {1, 16, 256};
constexpr size_t kAnswerSize = 63;
constexpr int kRepeats = 3;

struct Options {
  double scale = 1.0;  // multiplies the scan counts
  bool oneCpu = false;
  bool quick = false;
  bool check = false;
  int part = 0;  // 0: all
};

size_t scansFor(int concurrency, const Options& options) {
  size_t base = concurrency == 1     ? 10000
                : concurrency <= 16  ? 30000
                : concurrency <= 256 ? 60000
                                     : 80000;
  return std::max<size_t>(static_cast<size_t>(concurrency) * 4,
                          static_cast<size_t>(base * options.scale));
}

[[noreturn]] void failSystem(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

long residentBytes(pid_t pid) {
  std::ifstream file(pid ? "/proc/" + std::to_string(pid) + "/statm"
                         : std::string("/proc/self/statm"));
  long pages = 0, resident = 0;
  file >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

std::string loadAverage() {
  std::ifstream file("/proc/loadavg");
  double one = 0, five = 0, fifteen = 0;
  file >> one >> five >> fifteen;
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", one, five, fifteen);
  return text;
}

uint16_t boundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

sockaddr_in loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// ---- the plain server ----

// What a hand-written responder does: a process of its own, level-triggered
// epoll on one thread, one read, one fixed answer (the frame SendAnswer
// builds), TCP and UDP. Forked before anything else runs in this process.
class PlainServer {
 public:
  PlainServer() {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address = loopback(0);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      failSystem("bind");
    if (listen(listener, SOMAXCONN) != 0) failSystem("listen");
    if (bind(udp, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) failSystem("bind");
    // The receive buffer kavrin's UDP server asks for: neither drops a scan
    // at 256 terminals, so the latencies compare over the same queue.
    int buffer = 4 << 20;
    setsockopt(udp, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    tcpPort_ = boundPort(listener);
    udpPort_ = boundPort(udp);
    pid_ = fork();
    if (pid_ < 0) failSystem("fork");
    if (pid_ == 0) {
      serve(listener, udp);
      _exit(0);
    }
    close(listener);
    close(udp);
  }
  ~PlainServer() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  uint16_t tcpPort() const { return tcpPort_; }
  uint16_t udpPort() const { return udpPort_; }
  pid_t pid() const { return pid_; }

 private:
  static void serve(int listener, int udp) {
    std::string answer("\xAB\x00\x3C", 3);
    char text[61];
    std::snprintf(text, sizeof text, "%-30s%-30s", "Moloko 3,2% 1 l", "Cena: 89.90 rub.");
    answer += text;
    int epoll = epoll_create1(EPOLL_CLOEXEC);
    auto watch = [epoll](int fd) {
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.fd = fd;
      epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event);
    };
    watch(listener);
    watch(udp);
    epoll_event events[256];
    char buffer[2048];
    for (;;) {
      int count = epoll_wait(epoll, events, 256, -1);
      for (int k = 0; k < count; ++k) {
        int fd = events[k].data.fd;
        if (fd == listener) {
          for (int connection; (connection = accept4(listener, nullptr, nullptr,
                                                     SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;)
            watch(connection);
          continue;
        }
        if (fd == udp) {
          sockaddr_in from{};
          socklen_t length = sizeof from;
          ssize_t n =
              recvfrom(udp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
          if (n >= 2 && static_cast<uint8_t>(buffer[0]) == 0xAB)
            sendto(udp, answer.data(), answer.size(), MSG_NOSIGNAL,
                   reinterpret_cast<sockaddr*>(&from), length);
          continue;
        }
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
          epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
          close(fd);
          continue;
        }
        if (n >= 2 && static_cast<uint8_t>(buffer[0]) == 0xAB)
          send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
      }
    }
  }

  pid_t pid_ = -1;
  uint16_t tcpPort_ = 0, udpPort_ = 0;
};

// ---- kavrin ----

class Kavrin : public bench::KavrinService {
 public:
  // kavrin --headless on the driver's stored settings; with lines, its
  // request lines go to /dev/null (written as in service, not read).
  Kavrin(const std::string& folder, const std::string& prices, int32_t protocol, bool lines = false)
      : KavrinService(folder, prices, setup(protocol, lines)) {}

 private:
  static bench::KavrinSetup setup(int32_t protocol, bool lines) {
    bench::KavrinSetup setup;
    setup.udp = protocol == 0;
    setup.quiet = !lines;
    setup.probe = kBarcode;
    return setup;
  }
};

// ---- load ----

struct Figure {
  double rate = 0, p50 = 0, p99 = 0;
  size_t lost = 0;
  double cpuUs = 0;  // the server's CPU time per answer, all its threads
};

// CPU time of every thread of a process so far, in nanoseconds.
double cpuNanoseconds(pid_t pid) {
  double total = 0;
  std::error_code error;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream file(task.path() / "schedstat");
    double running = 0;
    if (file >> running) total += running;
  }
  return total;
}

// termsim's load generator: the connections are opened as it starts. A lost
// datagram or a connection still waiting in the backlog costs one timeout.
Figure termsimLoad(pid_t server, uint16_t port, bool udp, int concurrency, size_t count) {
  termsim::LoadOptions options;
  options.port = port;
  options.udp = udp;
  options.barcode = kBarcode;
  options.count = count;
  options.concurrency = static_cast<size_t>(concurrency);
  options.timeoutMs = 2000;
  double cpu = cpuNanoseconds(server);
  termsim::LoadReport report = termsim::runLoad(options);
  cpu = cpuNanoseconds(server) - cpu;
  double answered = static_cast<double>(count - std::min(count, report.missing + report.failed));
  return {report.answersPerSecond, report.p50Ms, report.p99Ms, report.missing + report.failed,
          answered > 0 ? cpu / 1000.0 / answered : 0};
}

// The same closed loop on connections opened one by one beforehand (each
// answers one scan first), so that only answering is measured; epoll, so
// that thousands of terminals cost the generator no more per answer than a
// few. A datagram without an answer within 200 ms counts as lost (the
// terminal scans again).
class Terminals {
 public:
  Terminals(uint16_t port, bool udp, int count) : udp_(udp) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    terminals_.resize(static_cast<size_t>(count));
    char buffer[2048];
    for (size_t i = 0; i < terminals_.size(); ++i) {
      Terminal& t = terminals_[i];
      t.fd = socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
      if (t.fd < 0) failSystem("socket");
      sockaddr_in to = loopback(port);
      if (connect(t.fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) failSystem("connect");
      int one = 1;
      if (!udp) setsockopt(t.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      bool answered = false;
      for (int attempt = 0; attempt < 20 && !answered; ++attempt) {
        ::send(t.fd, message_.data(), message_.size(), MSG_NOSIGNAL);
        pollfd p{t.fd, POLLIN, 0};
        size_t got = 0;
        while (got < kAnswerSize && poll(&p, 1, udp ? 200 : 5000) == 1) {
          ssize_t n = recv(t.fd, buffer, sizeof buffer, 0);
          if (n <= 0) break;
          got += static_cast<size_t>(n);
        }
        answered = got >= kAnswerSize;
      }
      if (!answered) throw std::runtime_error("a terminal got no first answer");
      fcntl(t.fd, F_SETFL, O_NONBLOCK);
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.u64 = i;
      epoll_ctl(epoll_, EPOLL_CTL_ADD, t.fd, &event);
    }
  }
  ~Terminals() {
    for (Terminal& t : terminals_) close(t.fd);
    close(epoll_);
  }

  // server: the process whose CPU time is counted.
  Figure run(size_t count, pid_t server) {
    double cpu = cpuNanoseconds(server);
    std::vector<double> latencies;
    latencies.reserve(count);
    size_t sent = 0, lost = 0;
    const auto timeout = std::chrono::milliseconds(udp_ ? 200 : 5000);
    Clock::time_point start = Clock::now(), lastSweep = start;
    for (Terminal& t : terminals_)
      if (sent < count) {
        send(t);
        ++sent;
      }
    epoll_event events[512];
    char buffer[2048];
    while (latencies.size() + lost < count) {
      int n = epoll_wait(epoll_, events, 512, 20);
      Clock::time_point now = Clock::now();
      auto next = [&](Terminal& t) {
        t.waiting = false;
        if (sent < count) {
          send(t);
          ++sent;
        }
      };
      for (int k = 0; k < n; ++k) {
        Terminal& t = terminals_[events[k].data.u64];
        ssize_t got = recv(t.fd, buffer, sizeof buffer, 0);
        if (got <= 0 || !t.waiting) continue;
        t.received += static_cast<size_t>(got);
        if (t.received < kAnswerSize) continue;
        latencies.push_back(std::chrono::duration<double, std::milli>(now - t.sentAt).count());
        next(t);
      }
      if (now - lastSweep > std::chrono::milliseconds(20)) {
        lastSweep = now;
        for (Terminal& t : terminals_)
          if (t.waiting && now - t.sentAt > timeout) {
            ++lost;
            next(t);
          }
      }
    }
    double seconds = secondsSince(start);
    cpu = cpuNanoseconds(server) - cpu;
    std::sort(latencies.begin(), latencies.end());
    auto rank = [&](double q) {
      return latencies.empty() ? 0.0
                               : latencies[std::min(latencies.size() - 1,
                                                    static_cast<size_t>(q * latencies.size()))];
    };
    return {static_cast<double>(latencies.size()) / seconds, rank(0.5), rank(0.99), lost,
            latencies.empty() ? 0 : cpu / 1000.0 / static_cast<double>(latencies.size())};
  }

 private:
  struct Terminal {
    int fd = -1;
    Clock::time_point sentAt;
    size_t received = 0;
    bool waiting = false;
  };
  void send(Terminal& t) {
    t.received = 0;
    t.sentAt = Clock::now();
    t.waiting = ::send(t.fd, message_.data(), message_.size(), MSG_NOSIGNAL) ==
                static_cast<ssize_t>(message_.size());
  }

  bool udp_;
  int epoll_ = -1;
  std::vector<Terminal> terminals_;
  const std::string message_ = termsim::terminalMessage(kBarcode);
};

Figure steadyLoad(pid_t server, uint16_t port, bool udp, int concurrency, size_t count) {
  Terminals terminals(port, udp, concurrency);
  return terminals.run(count, server);
}

// Three runs of each, alternating, so that drift and the work of others on
// the machine hit both alike; the median of each.
struct Pair {
  Figure kavrin, plain;
};

Pair medianPair(const std::function<Figure()>& kavrin, const std::function<Figure()>& plain) {
  std::vector<double> kr, kp50, kp99, kcpu, pr, pp50, pp99, pcpu;
  size_t klost = 0, plost = 0;
  for (int run = 0; run < kRepeats; ++run) {
    Figure p = plain(), k = kavrin();
    pr.push_back(p.rate);
    pp50.push_back(p.p50);
    pp99.push_back(p.p99);
    pcpu.push_back(p.cpuUs);
    plost += p.lost;
    kr.push_back(k.rate);
    kp50.push_back(k.p50);
    kp99.push_back(k.p99);
    kcpu.push_back(k.cpuUs);
    klost += k.lost;
  }
  return {{median(kr), median(kp50), median(kp99), klost, median(kcpu)},
          {median(pr), median(pp50), median(pp99), plost, median(pcpu)}};
}

std::string writePriceList(const std::string& path, size_t rows) {
  std::string text = kBarcode + ";Молоко 3,2% 1 л;Цена: 89.90 руб.;\r\n";
  text.reserve(rows * 52);
  for (size_t i = 1; i < rows; ++i)
    text += std::to_string(4600000000000ULL + i * 7) + ";Товар номер " + std::to_string(i) +
            ";Цена: " + std::to_string(10 + i % 990) + ".00 руб.;\r\n";
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

void printHeader() {
  std::printf("%-5s %5s %7s | %10s %10s %6s | %9s %9s %6s | %9s %9s | %13s | %s\n", "proto", "conc",
              "scans", "kavrin/s", "plain/s", "ratio", "k p50 ms", "p p50 ms", "ratio", "k p99 ms",
              "p p99 ms", "CPU us/ans k/p", "lost k/p");
}

void printRow(const char* proto, int concurrency, size_t count, const Pair& pair) {
  std::printf(
      "%-5s %5d %7zu | %10.0f %10.0f %6.2f | %9.3f %9.3f %6.2f | %9.3f %9.3f | %6.2f/%-6.2f | "
      "%zu/%zu\n",
      proto, concurrency, count, pair.kavrin.rate, pair.plain.rate,
      pair.kavrin.rate / pair.plain.rate, pair.kavrin.p50, pair.plain.p50,
      pair.kavrin.p50 / pair.plain.p50, pair.kavrin.p99, pair.plain.p99, pair.kavrin.cpuUs,
      pair.plain.cpuUs, pair.kavrin.lost, pair.plain.lost);
}

struct Verdicts {
  std::vector<std::string> lines;
  bool belowCheck = false;  // a ratio under 0.8
  void add(bool met, const char* format, double value, double goal) {
    char text[200];
    std::snprintf(text, sizeof text, format, value, goal);
    lines.push_back(std::string(text) + (met ? ": met" : ": MISSED"));
  }
};

void loadPart(const std::string& folder, const Options& options, const PlainServer& plain,
              Verdicts& verdicts) {
  std::string prices = writePriceList(folder + "/prices.txt", 1000);
  std::vector<std::pair<std::string, Pair>> termsimRows, steadyRows;
  for (int32_t protocol : {1, 0}) {
    bool udp = protocol == 0;
    const char* proto = udp ? "UDP" : "TCP";
    Kavrin kavrin(folder, prices, protocol);
    uint16_t plainPort = udp ? plain.udpPort() : plain.tcpPort();
    for (int concurrency : kConcurrencies) {
      size_t count = scansFor(concurrency, options);
      Pair a = medianPair(
          [&] { return termsimLoad(kavrin.pid(), kavrin.port(), udp, concurrency, count); },
          [&] { return termsimLoad(plain.pid(), plainPort, udp, concurrency, count); });
      Pair b = medianPair(
          [&] { return steadyLoad(kavrin.pid(), kavrin.port(), udp, concurrency, count); },
          [&] { return steadyLoad(plain.pid(), plainPort, udp, concurrency, count); });
      char key[32];
      std::snprintf(key, sizeof key, "%s %d %zu", proto, concurrency, count);
      termsimRows.emplace_back(key, a);
      steadyRows.emplace_back(key, b);
      double rate = b.kavrin.rate / b.plain.rate, p50 = b.kavrin.p50 / b.plain.p50;
      char what[100];
      std::snprintf(what, sizeof what, "%s %d: answers/s %%.2fx the plain server's (goal >= %%.2f)",
                    proto, concurrency);
      verdicts.add(rate >= 0.85, what, rate, 0.85);
      std::snprintf(what, sizeof what, "%s %d: p50 %%.2fx the plain server's (goal <= %%.2f)",
                    proto, concurrency);
      verdicts.add(p50 <= 1.3, what, p50, 1.3);
      if (udp && concurrency == 256) {
        std::snprintf(
            what, sizeof what,
            "UDP 256: datagrams lost by kavrin beyond the plain server's: %%.0f (goal <= %%.0f)");
        double beyond = static_cast<double>(b.kavrin.lost) - static_cast<double>(b.plain.lost);
        verdicts.add(beyond <= 0, what, std::max(0.0, beyond), 0);
      }
      if (rate < 0.8) verdicts.belowCheck = true;
    }
    std::printf("   kavrin --quiet resident memory with 1000 rows (%s): %.1f MiB\n", proto,
                static_cast<double>(residentBytes(kavrin.pid())) / 1048576.0);
  }
  auto table = [](const std::vector<std::pair<std::string, Pair>>& rows) {
    printHeader();
    for (const auto& [key, pair] : rows) {
      char proto[8];
      int concurrency = 0;
      size_t count = 0;
      std::sscanf(key.c_str(), "%7s %d %zu", proto, &concurrency, &count);
      printRow(proto, concurrency, count, pair);
    }
  };
  std::printf(
      "   a) termsim's load generator (termsim scan --count N --concurrency C), connections "
      "included\n");
  table(termsimRows);
  std::printf("   b) connections opened one by one beforehand: answering only\n");
  table(steadyRows);

  std::printf("   c) kavrin printing its request lines (to /dev/null), TCP, answering only\n");
  printHeader();
  Kavrin lines(folder, prices, 1, true);
  for (int concurrency : {1, 16}) {
    size_t count = scansFor(concurrency, options);
    Pair c = medianPair(
        [&] { return steadyLoad(lines.pid(), lines.port(), false, concurrency, count); },
        [&] { return steadyLoad(plain.pid(), plain.tcpPort(), false, concurrency, count); });
    printRow("TCP", concurrency, count, c);
  }
}

void pinTo(int cpu) {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  CPU_SET(cpu, &cpus);
  sched_setaffinity(0, sizeof cpus, &cpus);
}

void scalePart(const std::string& folder, const Options& options, const PlainServer& plain,
               Verdicts& verdicts) {
  std::printf("\n2. Scale curve: TCP terminals connected at once, answering only (median of %d)\n",
              kRepeats);
  std::string prices = writePriceList(folder + "/prices.txt", 1000);
  Kavrin kavrin(folder, prices, 1);
  long idle = residentBytes(kavrin.pid());
  // Thousands of terminals are thousands of devices: on one CPU their own
  // socket work, which grows with their number, would be taken from the
  // servers'. With --one-cpu the servers stay on CPU 0 and the terminals of
  // this part move to CPU 1.
  struct Placement {
    bool moved = false;
    explicit Placement(bool split) {
      if (!split || std::thread::hardware_concurrency() < 2) return;
      pinTo(1);
      moved = true;
    }
    ~Placement() {
      if (moved) pinTo(0);
    }
  } placement(options.oneCpu);
  if (placement.moved) std::printf("   servers on CPU 0, the terminals on CPU 1\n");
  std::printf("%9s %7s | %10s %10s %6s | %9s %9s | %s\n", "terminals", "scans", "kavrin/s",
              "plain/s", "ratio", "k p50 ms", "k p99 ms", "kavrin memory");
  // Each repeat runs every size in turn, so that the machine's drift hits
  // the medians of all three alike (the goal compares 4096 with 256).
  constexpr int kSizes[] = {256, 1024, 4096};
  struct Curve {
    std::vector<double> kavrin, plain, p50, p99;
    long memory = 0;
  } curves[std::size(kSizes)];
  for (int run = 0; run < kRepeats; ++run) {
    for (size_t i = 0; i < std::size(kSizes); ++i) {
      Curve& curve = curves[i];
      size_t count = scansFor(kSizes[i], options);
      {
        Terminals terminals(plain.tcpPort(), false, kSizes[i]);
        curve.plain.push_back(terminals.run(count, plain.pid()).rate);
      }
      Terminals terminals(kavrin.port(), false, kSizes[i]);
      Figure k = terminals.run(count, kavrin.pid());
      // Memory from the first repeat, whose sizes only grow: a later 256
      // would show what the 4096 before it left in the heap.
      if (run == 0) curve.memory = residentBytes(kavrin.pid());
      curve.kavrin.push_back(k.rate);
      curve.p50.push_back(k.p50);
      curve.p99.push_back(k.p99);
    }
  }
  double at256 = median(curves[0].kavrin);
  for (size_t i = 0; i < std::size(kSizes); ++i) {
    const Curve& curve = curves[i];
    double rate = median(curve.kavrin), plainRate = median(curve.plain);
    std::printf("%9d %7zu | %10.0f %10.0f %6.2f | %9.3f %9.3f | %.1f MiB, %.1f KiB a terminal\n",
                kSizes[i], scansFor(kSizes[i], options), rate, plainRate, rate / plainRate,
                median(curve.p50), median(curve.p99), static_cast<double>(curve.memory) / 1048576.0,
                static_cast<double>(curve.memory - idle) / 1024.0 / kSizes[i]);
  }
  double at4096 = median(curves[std::size(kSizes) - 1].kavrin);
  verdicts.add(at4096 >= 0.8 * at256,
               "TCP 4096 terminals: %.2fx kavrin's own rate at 256 (goal >= %.2f)", at4096 / at256,
               0.8);
}

// The time of one read that misses every cache: a walk through a random
// cycle over 256 MiB, each step waiting for the one before.
double dependentMissNs() {
  const size_t count = size_t{32} << 20;
  std::vector<uint64_t, TLargeAllocator<uint64_t>> next(count);
  for (size_t i = 0; i < count; ++i) next[i] = i;
  std::mt19937_64 random(7);
  for (size_t i = count - 1; i > 0; --i) std::swap(next[i], next[random() % i]);  // one cycle
  const int steps = 2'000'000;
  uint64_t at = 0;
  Clock::time_point start = Clock::now();
  for (int i = 0; i < steps; ++i) at = next[at];
  double ns = secondsSince(start) * 1e9 / steps;
  if (at == count) std::printf("?");  // keeps the walk
  return ns;
}

void millionPart(const std::string& folder, const Options& options, Verdicts& verdicts) {
  const size_t rows = options.quick ? 100'000 : 1'000'000;
  std::printf("\n3. A price list of %zu rows\n", rows);
  std::string path = writePriceList(folder + "/million.txt", rows);
  std::printf("   file size: %.1f MiB\n",
              static_cast<double>(std::filesystem::file_size(path)) / 1048576.0);

  std::vector<double> loads;
  long bytes = 0;
  TPriceList list;
  for (int run = 0; run < kRepeats; ++run) {
    list = TPriceList();
    long before = residentBytes(0);
    Clock::time_point start = Clock::now();
    list.LoadFromFile(path);
    loads.push_back(secondsSince(start));
    // The list's large blocks are mapped apart and unmapped when freed.
    bytes = residentBytes(0) - before;
  }
  double perRow = static_cast<double>(bytes) / static_cast<double>(rows);
  std::printf(
      "   load (read, parse, index): %.3f s (median of %d); memory the list holds: %.1f MiB "
      "(%.0f bytes a row)\n",
      median(loads), kRepeats, static_cast<double>(bytes) / 1048576.0, perRow);
  verdicts.add(median(loads) <= 0.4, "million rows: load %.3f s (goal <= %.1f)", median(loads),
               0.4);
  verdicts.add(perRow <= 120, "million rows: %.0f bytes a row resident (goal <= %.0f)", perRow,
               120);

  // Random codes, a quarter of them absent, far more than any cache holds:
  // every lookup starts from a cold cache line.
  std::mt19937_64 random(42);
  const size_t lookups = std::max<size_t>(rows, 1'000'000);
  std::vector<std::string> codes;
  codes.reserve(lookups);
  for (size_t i = 0; i < lookups; ++i) {
    size_t row = random() % rows;
    codes.push_back(i % 4 == 3 ? "9999" + std::to_string(row) : list.Rows(row).Code);
  }
  TNotFoundLines notFound;
  auto timeLookups = [&](const TPriceList& in) {
    size_t found = 0;
    TPriceAnswer answer;  // one for all, as the responder keeps it
    Clock::time_point begin = Clock::now();
    for (const std::string& code : codes) {
      answerFor(in, notFound, code, answer);
      found += answer.Found;
    }
    return std::pair(secondsSince(begin) * 1e9 / static_cast<double>(codes.size()), found);
  };
  std::vector<double> big;
  size_t bigFound = 0;
  for (int run = 0; run < kRepeats; ++run) {
    auto [ns, found] = timeLookups(list);
    big.push_back(ns);
    bigFound = found;
  }
  TPriceList ten;
  for (size_t i = 0; i < 10; ++i) ten.Append(list.Rows(i));
  double tenNs = timeLookups(ten).first;
  std::printf(
      "   lookup (cut, find, copy the lines), %zu random codes: %.0f ns with %zu rows (%zu found), "
      "%.0f ns with 10 rows\n",
      codes.size(), median(big), rows, bigFound, tenNs);
  std::printf("   for scale: one random read from 256 MiB in huge pages takes %.0f ns here now\n",
              dependentMissNs());
  verdicts.add(median(big) <= 300, "million rows: lookup %.0f ns (goal <= %.0f)", median(big), 300);

  Clock::time_point started = Clock::now();
  Kavrin kavrin(folder, path, 1);
  double startSeconds = secondsSince(started);
  Figure steady = steadyLoad(kavrin.pid(), kavrin.port(), false, 16, options.quick ? 2000 : 20000);
  std::printf(
      "   kavrin --headless with it: ready in %.2f s, resident %.1f MiB; TCP concurrency 16: %.0f "
      "answers/s, "
      "p50 %.3f ms, p99 %.3f ms\n",
      startSeconds, static_cast<double>(residentBytes(kavrin.pid())) / 1048576.0, steady.rate,
      steady.p50, steady.p99);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--quick") {
      options.quick = true;
      options.scale = 0.1;
    } else if (arg == "--scale" && i + 1 < argc) {
      options.scale = std::atof(argv[++i]);
      if (!(options.scale > 0) || options.scale > 100) options.scale = 1;
    } else if (arg == "--one-cpu") {
      options.oneCpu = true;
    } else if (arg == "--part" && i + 1 < argc) {
      options.part = std::atoi(argv[++i]);
    } else if (arg == "--check") {
      options.check = true;
    } else {
      std::fprintf(arg == "--help" ? stdout : stderr,
                   "usage: bench_responder [--quick] [--scale F] [--one-cpu] [--check] [--part N]\n"
                   "  --quick    a short smoke run (a tenth of the scans, 100000 rows for part 3)\n"
                   "  --scale F  multiply the scan counts by F\n"
                   "  --one-cpu  run everything (load, plain server, kavrin) on CPU 0, so that\n"
                   "             latencies compare at one placement (a cross-CPU wake-up alone\n"
                   "             costs some 50 us on these machines); the scale curve's\n"
                   "             terminals run on CPU 1\n"
                   "  --part N   run only part N (1, 2 or 3)\n"
                   "  --check    exit status 1 when kavrin falls below 0.8 of the plain server's\n"
                   "             answers/s anywhere in part 1b (by hand: CI machines are noisy)\n");
      return arg == "--help" ? 0 : 2;
    }
  }
  setenv("MIRELO_LOOPBACK_ONLY", "1", 1);
  // Inherited by every process started later: the plain server and kavrin.
  if (options.oneCpu) pinTo(0);
  // Thousands of terminals, and kavrin's as many connections.
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  signal(SIGPIPE, SIG_IGN);

  int status = 0;
  std::string folder;
  try {
    PlainServer plain;  // forked first, while this process has no threads
    char pattern[] = "/tmp/bench-responder-XXXXXX";
    folder = mkdtemp(pattern);
    setenv("MIRELO_REGISTRY", (folder + "/registry.db").c_str(), 1);
    Clock::time_point start = Clock::now();
    std::printf(
        "bench_responder: %u CPUs; placement: %s; scan counts x%.2f; load average at start %s\n\n",
        std::thread::hardware_concurrency(),
        options.oneCpu ? "everything on CPU 0 (load, plain server, kavrin)" : "not pinned",
        options.scale, loadAverage().c_str());
    std::printf(
        "1. Scans answered: kavrin --headless --quiet (1000-row list) vs a plain epoll server "
        "process, "
        "median of %d runs each, alternating\n",
        kRepeats);
    Verdicts verdicts;
    if (options.part == 0 || options.part == 1) loadPart(folder, options, plain, verdicts);
    if (options.part == 0 || options.part == 2) scalePart(folder, options, plain, verdicts);
    if (options.part == 0 || options.part == 3) millionPart(folder, options, verdicts);
    std::printf("\ngoals:\n");
    for (const std::string& line : verdicts.lines) std::printf("   %s\n", line.c_str());
    std::printf("\ndone in %.1f s; load average at end %s\n", secondsSince(start),
                loadAverage().c_str());
    if (options.check && verdicts.belowCheck) {
      std::printf("check: kavrin fell below 0.8 of the plain server somewhere in part 1b\n");
      status = 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_responder: %s\n", ansiToUtf8(e.what()).c_str());
    status = 1;
  }
  if (!folder.empty()) std::filesystem::remove_all(folder);
  return status;
}
