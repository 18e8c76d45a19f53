// kavrin --headless under load, beside a plain epoll server measured in the
// same run, all on 127.0.0.1:
//  1. termsim's load generator (closed loop: each connection sends its next
//     scan when the previous one is answered) against the real kavrin process
//     and against a plain server thread that answers every terminal message
//     with a fixed answer, over TCP and UDP at concurrency 1, 16 and 256:
//     answers per second, latency p50 and p99;
//  2. a price list of a million rows: load time, resident memory, and the
//     lookup time beside that of a ten-row list.
// Goals: at concurrency 1 kavrin's p50 is at most twice the plain server's;
// at 256 its rate is at least half the plain server's.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "mirelo/vistel.h"
#include "platform/cp1251.h"
#include "responder/price_list.h"
#include "tools/termsim/scanner.h"

namespace {

using namespace mirelo;
using Clock = std::chrono::steady_clock;

const std::string kKavrin = std::string(MIRELO_BINARY_DIR) + "/responder/kavrin";
const std::string kBarcode = "4607001234562";
constexpr int kConcurrencies[] = {1, 16, 256};

struct Options {
  double scale = 1.0;  // multiplies the scan counts
  bool oneCpu = false;  // everything on CPU 0
  bool quick = false;
};

size_t scansFor(int concurrency, const Options& options) {
  size_t base = concurrency == 1 ? 4000 : concurrency == 16 ? 20000 : 40000;
  return std::max<size_t>(static_cast<size_t>(concurrency) * 2, static_cast<size_t>(base * options.scale));
}

[[noreturn]] void failSystem(const char* what) { throw std::runtime_error(std::string(what) + ": " + std::strerror(errno)); }

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Resident set of this process in bytes.
long residentBytes() {
  long pages = 0, resident = 0;
  if (FILE* file = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(file, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(file);
  }
  return resident * sysconf(_SC_PAGESIZE);
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

// What a hand-written responder does: level-triggered epoll on one thread,
// one read, one fixed answer (the frame SendAnswer builds), TCP and UDP.
class PlainServer {
 public:
  PlainServer() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    udp_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    stop_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_ < 0) failSystem("eventfd");
    sockaddr_in address = loopback(0);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) failSystem("bind");
    if (listen(listener_, 1024) != 0) failSystem("listen");
    if (bind(udp_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) failSystem("bind");
    for (int fd : {listener_, udp_, stop_}) watch(fd);
    answer_ = std::string("\xAB\x00\x3C", 3);
    char text[61];
    std::snprintf(text, sizeof text, "%-30s%-30s", "Moloko 3,2% 1 l", "Cena: 89.90 rub.");
    answer_ += text;
    thread_ = std::thread([this] { serve(); });
  }
  ~PlainServer() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(stop_, &one, sizeof one);
    thread_.join();
    for (int fd : connections_) close(fd);
    for (int fd : {listener_, udp_, stop_, epoll_}) close(fd);
  }
  uint16_t tcpPort() const { return boundPort(listener_); }
  uint16_t udpPort() const { return boundPort(udp_); }

 private:
  void watch(int fd) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) failSystem("epoll_ctl");
  }
  void serve() {
    epoll_event events[256];
    char buffer[2048];
    for (;;) {
      int count = epoll_wait(epoll_, events, 256, -1);
      for (int k = 0; k < count; ++k) {
        int fd = events[k].data.fd;
        if (fd == stop_) return;
        if (fd == listener_) {
          for (int connection; (connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) {
            watch(connection);
            connections_.push_back(connection);
          }
          continue;
        }
        if (fd == udp_) {
          sockaddr_in from{};
          socklen_t length = sizeof from;
          ssize_t n = recvfrom(udp_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
          if (n >= 2 && static_cast<uint8_t>(buffer[0]) == 0xAB)
            sendto(udp_, answer_.data(), answer_.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&from), length);
          continue;
        }
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
          epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
          continue;
        }
        if (n >= 2 && static_cast<uint8_t>(buffer[0]) == 0xAB) send(fd, answer_.data(), answer_.size(), MSG_NOSIGNAL);
      }
    }
  }

  int epoll_ = -1, listener_ = -1, udp_ = -1, stop_ = -1;
  std::string answer_;
  std::vector<int> connections_;
  std::thread thread_;
};

// ---- kavrin ----

class Kavrin {
 public:
  // Starts kavrin --headless on the driver's stored settings; its request
  // lines go to /dev/null (written as in service, not read).
  Kavrin(const std::string& folder, const std::string& prices, int32_t protocol) {
    for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
      port_ = freePort(protocol);
      storeSettings(protocol, port_);
      std::string log = folder + "/kavrin.err";
      std::vector<std::string> args = {kKavrin, "--headless", "--prices", prices, "--settings", folder + "/none.ini"};
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      pid_t pid = fork();
      if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        int err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(null, 1);
        dup2(err, 2);
        execv(kKavrin.c_str(), argv.data());
        _exit(127);
      }
      udp_ = protocol == 0;
      // Ready when it answers.
      Clock::time_point start = Clock::now();
      while (secondsSince(start) < 10) {
        if (termsim::scan("127.0.0.1", port_, kBarcode, udp_, 200).ok) {
          pid_ = pid;
          break;
        }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) break;  // a port taken meanwhile: try another
      }
      if (pid_ < 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
    if (pid_ < 0) throw std::runtime_error("kavrin did not start (see " + folder + "/kavrin.err)");
  }
  ~Kavrin() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "kavrin ended with status %d\n", status);
  }
  uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }

 private:
  static uint16_t freePort(int32_t protocol) {
    int fd = socket(AF_INET, (protocol == 1 ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    uint16_t port = boundPort(fd);
    close(fd);
    return port;
  }
  static void storeSettings(int32_t protocol, uint16_t port) {
    ComPtr<IVistel4> object = createVistelObject<IVistel4>();
    LONG result = 0;
    object->put_ServerProtocol(protocol);
    object->put_ServerPort(port);
    object->SaveParams(&result);
    if (result != 0) throw std::runtime_error("cannot store the server settings");
  }

  pid_t pid_ = -1;
  uint16_t port_ = 0;
  bool udp_ = false;
};

long residentOf(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/statm");
  long pages = 0, resident = 0;
  file >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// A lost datagram or a connection still waiting in the backlog costs one
// timeout: short enough to keep the run bounded, long beside any answer.
termsim::LoadReport load(uint16_t port, bool udp, int concurrency, size_t count) {
  termsim::LoadOptions options;
  options.port = port;
  options.udp = udp;
  options.barcode = kBarcode;
  options.count = count;
  options.concurrency = static_cast<size_t>(concurrency);
  options.timeoutMs = 2000;
  return termsim::runLoad(options);
}

// The same closed loop with the connections opened one by one beforehand
// (each answers one scan first), so that only answering is measured. A burst
// of simultaneous connects is what termsim's run above includes.
struct Steady {
  size_t answered = 0, missing = 0;
  double rate = 0, p50 = 0, p99 = 0;
};

Steady steadyLoad(uint16_t port, bool udp, int concurrency, size_t count) {
  const std::string message = termsim::terminalMessage(kBarcode);
  constexpr size_t kAnswer = 63;
  const auto timeout = std::chrono::milliseconds(udp ? 200 : 5000);
  struct Terminal {
    int fd = -1;
    Clock::time_point sentAt;
    size_t received = 0;
    bool waiting = false;
  };
  std::vector<Terminal> terminals(static_cast<size_t>(concurrency));
  char buffer[2048];
  auto sendScan = [&](Terminal& t) {
    t.received = 0;
    t.sentAt = Clock::now();
    t.waiting = ::send(t.fd, message.data(), message.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(message.size());
  };
  for (Terminal& t : terminals) {
    t.fd = socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    sockaddr_in to = loopback(port);
    if (connect(t.fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) failSystem("connect");
    // The first scan, blocking: the server has taken this terminal in.
    for (int attempt = 0; attempt < 20; ++attempt) {
      sendScan(t);
      pollfd p{t.fd, POLLIN, 0};
      size_t got = 0;
      while (got < kAnswer && poll(&p, 1, udp ? 200 : 5000) == 1) {
        ssize_t n = recv(t.fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
      }
      if (got >= kAnswer) break;
    }
    t.waiting = false;
  }
  Steady result;
  std::vector<double> latencies;
  latencies.reserve(count);
  size_t sent = 0;
  Clock::time_point start = Clock::now();
  for (Terminal& t : terminals)
    if (sent < count) {
      sendScan(t);
      ++sent;
    }
  std::vector<pollfd> fds(terminals.size());
  while (result.answered + result.missing < count) {
    for (size_t i = 0; i < terminals.size(); ++i) fds[i] = {terminals[i].fd, static_cast<short>(terminals[i].waiting ? POLLIN : 0), 0};
    poll(fds.data(), fds.size(), 20);
    Clock::time_point now = Clock::now();
    for (size_t i = 0; i < terminals.size(); ++i) {
      Terminal& t = terminals[i];
      if (!t.waiting) continue;
      bool done = false;
      if (fds[i].revents & POLLIN) {
        ssize_t n = recv(t.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) t.received += static_cast<size_t>(n);
        if (t.received >= kAnswer) {
          latencies.push_back(std::chrono::duration<double, std::milli>(now - t.sentAt).count());
          ++result.answered;
          done = true;
        }
      }
      if (!done && now - t.sentAt > timeout) {
        ++result.missing;  // a datagram lost on the way: the terminal scans again
        done = true;
      }
      if (!done) continue;
      t.waiting = false;
      if (sent < count) {
        sendScan(t);
        ++sent;
      }
    }
  }
  double seconds = secondsSince(start);
  for (Terminal& t : terminals) close(t.fd);
  std::sort(latencies.begin(), latencies.end());
  auto rank = [&](double q) {
    return latencies.empty() ? 0.0 : latencies[std::min(latencies.size() - 1, static_cast<size_t>(q * latencies.size()))];
  };
  result.rate = static_cast<double>(result.answered) / seconds;
  result.p50 = rank(0.50);
  result.p99 = rank(0.99);
  return result;
}

std::string writePriceList(const std::string& path, size_t rows) {
  std::string text = kBarcode + ";Молоко 3,2% 1 л;Цена: 89.90 руб.;\r\n";
  for (size_t i = 1; i < rows; ++i)
    text += std::to_string(4600000000000ULL + i * 7) + ";Товар номер " + std::to_string(i) + ";Цена: " +
            std::to_string(10 + i % 990) + ".00 руб.;\r\n";
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

void printLoadPart(const std::string& folder, const Options& options) {
  std::string prices = writePriceList(folder + "/prices.txt", 1000);
  PlainServer plain;
  std::printf("1. Scans answered: kavrin --headless (1000-row list) vs a plain epoll server, same run\n");
  std::printf("   a) termsim's load generator (termsim scan --count N --concurrency C), connections included\n");
  std::printf("%-5s %5s %7s | %10s %10s %6s | %9s %9s %6s | %9s %9s | %s\n", "proto", "conc", "scans", "kavrin/s",
              "plain/s", "ratio", "k p50 ms", "p p50 ms", "ratio", "k p99 ms", "p p99 ms", "lost k/p");
  std::vector<std::string> steadyRows, verdicts;
  for (int32_t protocol : {1, 0}) {
    bool udp = protocol == 0;
    Kavrin kavrin(folder, prices, protocol);
    uint16_t plainPort = udp ? plain.udpPort() : plain.tcpPort();
    for (int concurrency : kConcurrencies) {
      size_t count = scansFor(concurrency, options);
      termsim::LoadReport p = load(plainPort, udp, concurrency, count);
      termsim::LoadReport k = load(kavrin.port(), udp, concurrency, count);
      std::printf("%-5s %5d %7zu | %10.0f %10.0f %6.2f | %9.3f %9.3f %6.2f | %9.3f %9.3f | %zu/%zu\n",
                  udp ? "UDP" : "TCP", concurrency, count, k.answersPerSecond, p.answersPerSecond,
                  k.answersPerSecond / p.answersPerSecond, k.p50Ms, p.p50Ms, k.p50Ms / p.p50Ms, k.p99Ms, p.p99Ms,
                  k.missing + k.failed, p.missing + p.failed);

      Steady ps = steadyLoad(plainPort, udp, concurrency, count);
      Steady ks = steadyLoad(kavrin.port(), udp, concurrency, count);
      double rateRatio = ks.rate / ps.rate, p50Ratio = ks.p50 / ps.p50;
      char row[200];
      std::snprintf(row, sizeof row, "%-5s %5d %7zu | %10.0f %10.0f %6.2f | %9.3f %9.3f %6.2f | %9.3f %9.3f | %zu/%zu",
                    udp ? "UDP" : "TCP", concurrency, count, ks.rate, ps.rate, rateRatio, ks.p50, ps.p50, p50Ratio,
                    ks.p99, ps.p99, ks.missing, ps.missing);
      steadyRows.push_back(row);
      char verdict[200];
      if (concurrency == 1) {
        std::snprintf(verdict, sizeof verdict, "%s concurrency 1: p50 %.2fx the plain server's (goal <= 2.00): %s",
                      udp ? "UDP" : "TCP", p50Ratio, p50Ratio <= 2.0 ? "met" : "MISSED");
        verdicts.push_back(verdict);
      } else if (concurrency == 256) {
        std::snprintf(verdict, sizeof verdict, "%s concurrency 256: rate %.2fx the plain server's (goal >= 0.50): %s",
                      udp ? "UDP" : "TCP", rateRatio, rateRatio >= 0.5 ? "met" : "MISSED");
        verdicts.push_back(verdict);
      }
    }
    std::printf("      kavrin resident memory with 1000 rows: %.1f MiB\n", residentOf(kavrin.pid()) / 1048576.0);
  }
  std::printf("   b) the same closed loop on connections opened one by one beforehand: answering only\n");
  std::printf("%-5s %5s %7s | %10s %10s %6s | %9s %9s %6s | %9s %9s | %s\n", "proto", "conc", "scans", "kavrin/s",
              "plain/s", "ratio", "k p50 ms", "p p50 ms", "ratio", "k p99 ms", "p p99 ms", "lost k/p");
  for (const std::string& row : steadyRows) std::printf("%s\n", row.c_str());
  std::printf("   goals, on b):\n");
  for (const std::string& verdict : verdicts) std::printf("   %s\n", verdict.c_str());
}

void printMillionPart(const std::string& folder, const Options& options) {
  const size_t rows = options.quick ? 100'000 : 1'000'000;
  std::printf("\n2. A price list of %zu rows\n", rows);
  std::string path = writePriceList(folder + "/million.txt", rows);
  std::printf("   file size: %.1f MiB\n", std::filesystem::file_size(path) / 1048576.0);

  long before = residentBytes();
  TPriceList list;
  Clock::time_point start = Clock::now();
  list.LoadFromFile(path);
  double loadSeconds = secondsSince(start);
  long after = residentBytes();
  std::printf("   load (read, parse, index): %.3f s; resident memory for the list: %.1f MiB (%.0f bytes a row)\n",
              loadSeconds, (after - before) / 1048576.0, static_cast<double>(after - before) / rows);

  // Lookups of codes that exist (random rows) and of codes that do not.
  std::mt19937_64 random(42);
  std::vector<std::string> codes;
  for (int i = 0; i < 200'000; ++i) {
    size_t row = random() % rows;
    codes.push_back(i % 4 == 3 ? "9999" + std::to_string(row) : list.Rows(row).Code);
  }
  TPriceList ten;
  for (size_t i = 0; i < 10; ++i) ten.Append(list.Rows(i));
  TNotFoundLines notFound;
  auto timeLookups = [&](const TPriceList& in) {
    size_t found = 0;
    Clock::time_point begin = Clock::now();
    for (const std::string& code : codes) found += answerFor(in, notFound, code).Found;
    double nanoseconds = secondsSince(begin) * 1e9 / static_cast<double>(codes.size());
    return std::pair(nanoseconds, found);
  };
  auto [bigNs, bigFound] = timeLookups(list);
  auto [tenNs, tenFound] = timeLookups(ten);
  std::printf("   lookup (cut, find, copy the lines): %.0f ns with %zu rows (%zu of %zu found), %.0f ns with 10 rows\n",
              bigNs, rows, bigFound, codes.size(), tenNs);
  (void)tenFound;

  // Without the index: the first matching row by walking the list.
  size_t walks = 20, walkFound = 0;
  Clock::time_point walkStart = Clock::now();
  for (size_t i = 0; i < walks; ++i) {
    const std::string& code = codes[i];
    for (size_t row = 0; row < list.Count(); ++row)
      if (list.Rows(row).Code == code) {
        ++walkFound;
        break;
      }
  }
  std::printf("   (walking the list row by row instead: %.0f ns a lookup, %zu of %zu found)\n",
              secondsSince(walkStart) * 1e9 / static_cast<double>(walks), walkFound, walks);

  // The service itself on the big list: start-up, memory and answers.
  Clock::time_point started = Clock::now();
  Kavrin kavrin(folder, path, 1);
  double startSeconds = secondsSince(started);
  Steady steady = steadyLoad(kavrin.port(), false, 16, options.quick ? 2000 : 20000);
  std::printf("   kavrin --headless with it: ready in %.2f s, resident %.1f MiB; TCP concurrency 16: %.0f answers/s, "
              "p50 %.3f ms, p99 %.3f ms\n",
              startSeconds, residentOf(kavrin.pid()) / 1048576.0, steady.rate, steady.p50, steady.p99);
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
    } else {
      std::fprintf(arg == "--help" ? stdout : stderr,
                   "usage: bench_responder [--quick] [--scale F] [--one-cpu]\n"
                   "  --quick    a short smoke run (a tenth of the scans, 100000 rows for part 2)\n"
                   "  --scale F  multiply the scan counts by F\n"
                   "  --one-cpu  run everything (load, plain server, kavrin) on CPU 0, so that\n"
                   "             latencies compare at one placement (a cross-CPU wake-up alone\n"
                   "             costs some 50 us on these machines)\n");
      return arg == "--help" ? 0 : 2;
    }
  }
  setenv("MIRELO_LOOPBACK_ONLY", "1", 1);
  if (options.oneCpu) {
    // Inherited by every thread made later and by the kavrin processes.
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(0, &cpus);
    sched_setaffinity(0, sizeof cpus, &cpus);
  }
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 4096) {
    limit.rlim_cur = std::min<rlim_t>(4096, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  signal(SIGPIPE, SIG_IGN);

  char pattern[] = "/tmp/bench-responder-XXXXXX";
  std::string folder = mkdtemp(pattern);
  setenv("MIRELO_REGISTRY", (folder + "/registry.db").c_str(), 1);
  int status = 0;
  Clock::time_point start = Clock::now();
  try {
    std::printf("bench_responder: %u CPUs; scan counts x%.2f\n\n", std::thread::hardware_concurrency(), options.scale);
    printLoadPart(folder, options);
    printMillionPart(folder, options);
    std::printf("\ndone in %.1f s\n", secondsSince(start));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_responder: %s\n", ansiToUtf8(e.what()).c_str());
    status = 1;
  }
  std::filesystem::remove_all(folder);
  return status;
}
