// kavrin's price list from PostgreSQL against the same list from a file, with
// the real program, a PostgreSQL server of the benchmark's own and termsim's
// load generator, all on 127.0.0.1:
//  1. a list of a million rows (--rows N): the time from start until the list
//     is loaded, and kavrin's resident memory then (and its peak);
//  2. a reload (SIGHUP): its time, and the peak of memory with two lists;
//  3. scans per second (16 connections) without a reload and while lists are
//     reloaded, with the latency percentiles: a list from the database is
//     loaded beside the one in use (reloads back to back all through the run),
//     a file on the service's thread (one reload during the run).
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mirelo/vistel.h"
#include "pg_server.h"
#include "platform/cp1251.h"
#include "tools/termsim/scanner.h"

namespace {

using namespace mirelo;
using Clock = std::chrono::steady_clock;

const std::string kKavrin = std::string(MIRELO_BINARY_DIR) + "/responder/kavrin";

uint16_t freePort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(s);
  return ntohs(address.sin_port);
}

void storeServerPort(uint16_t port) {
  ComPtr<IVistel4> object = createVistelObject<IVistel4>();
  LONG result = 0;
  object->put_ServerProtocol(1);
  object->put_ServerPort(port);
  object->SaveParams(&result);
}

// kB of a /proc/PID/status field (VmRSS, VmHWM).
long statusKb(pid_t pid, const char* field) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(file, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
  return -1;
}

// kavrin --headless as a child process; its output lines counted as they come.
class Kavrin {
 public:
  Kavrin(const std::vector<std::string>& source, const std::string& folder) {
    port_ = freePort();
    storeServerPort(port_);
    std::vector<std::string> args{kKavrin, "--headless", "--settings", folder + "/none.ini"};
    args.insert(args.end(), source.begin(), source.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    started_ = Clock::now();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(pipe[1], 1);
      dup2(pipe[1], 2);
      execv(kKavrin.c_str(), argv.data());
      _exit(127);
    }
    ::close(pipe[1]);
    output_ = pipe[0];
    reader_ = std::thread([this] { read(); });
  }
  ~Kavrin() {
    ::kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    reader_.join();
    ::close(output_);
  }
  pid_t pid() const { return pid_; }
  uint16_t port() const { return port_; }
  Clock::time_point started() const { return started_; }

  // Waits until count lines holding text have come; the time of the last.
  Clock::time_point waitFor(const std::string& text, size_t count = 1) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::minutes(5),
                           [&] { return timesOf(text).size() >= count || closed_; }) ||
        timesOf(text).size() < count)
      throw std::runtime_error("kavrin did not print '" + text + "':\n" + tail_);
    return timesOf(text)[count - 1];
  }
  size_t count(const std::string& text) {
    std::lock_guard lock(mutex_);
    return timesOf(text).size();
  }

 private:
  std::vector<Clock::time_point> timesOf(const std::string& text) {
    std::vector<Clock::time_point> times;
    for (const auto& [line, time] : notices_)
      if (line.find(text) != std::string::npos) times.push_back(time);
    return times;
  }
  void read() {
    std::string pending;
    char buffer[65536];
    for (ssize_t n;
         (n = ::read(output_, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);) {
      if (n < 0) continue;
      pending.append(buffer, static_cast<size_t>(n));
      std::lock_guard lock(mutex_);
      for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
        // Request lines are many and uninteresting here; notices are kept.
        if (pending.compare(0, 8, "kavrin: ") == 0)
          notices_.emplace_back(pending.substr(0, end), Clock::now());
        tail_ = pending.substr(0, std::min<size_t>(end, 300));
      }
      changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }

  pid_t pid_ = -1;
  uint16_t port_ = 0;
  int output_ = -1;
  Clock::time_point started_;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<std::string, Clock::time_point>> notices_;
  std::string tail_;
  bool closed_ = false;
};

termsim::LoadReport load(uint16_t port, size_t count) {
  termsim::LoadOptions options;
  options.port = port;
  options.barcode = "4600000123456";
  options.count = count;
  options.concurrency = 16;
  options.timeoutMs = 10000;
  return termsim::runLoad(options);
}

void printLoad(const char* what, const termsim::LoadReport& report, size_t reloads) {
  std::printf(
      "  %-34s %8.0f scans/s  p50 %6.2f ms  p99 %7.2f ms  max %7.1f ms  missing %zu  reloads %zu\n",
      what, report.answersPerSecond, report.p50Ms, report.p99Ms, report.maxMs,
      report.missing + report.failed, reloads);
}

}  // namespace

int main(int argc, char** argv) {
  size_t rows = 1'000'000;
  size_t scans = 60'000;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--rows" && i + 1 < argc)
      rows = std::stoul(argv[++i]);
    else if (arg == "--scans" && i + 1 < argc)
      scans = std::stoul(argv[++i]);
    else {
      std::fprintf(stderr, "usage: bench_price_db [--rows N] [--scans N]\n");
      return 2;
    }
  }
  setenv("MIRELO_LOOPBACK_ONLY", "1", 1);
  char pattern[] = "/tmp/bench-price-db-XXXXXX";
  std::string folder = mkdtemp(pattern);
  setenv("MIRELO_REGISTRY", (folder + "/registry.db").c_str(), 1);

  std::printf("PostgreSQL server and %zu rows ...\n", rows);
  std::fflush(stdout);
  test::PgServer server;
  // The same rows in the table and in the file: codes 4600000000001 ...,
  // Cyrillic texts of 20 to 30 characters.
  server.exec(ansiToUtf8(
      "CREATE TABLE prices (id bigint PRIMARY KEY, code text, line1 text, line2 text);"
      "INSERT INTO prices SELECT i, (4600000000000 + i)::text, 'Товар номер ' || i || ' упаковка', "
      "'Цена: ' || (i % 1000) || '.90 руб.' FROM generate_series(1, " +
      std::to_string(rows) + ") i"));
  server.exec("VACUUM ANALYZE prices");
  std::string file = folder + "/prices.txt";
  {
    std::string text;
    for (size_t i = 1; i <= rows; ++i)
      text += std::to_string(4600000000000 + i) + ";Товар номер " + std::to_string(i) +
              " упаковка;Цена: " + std::to_string(i % 1000) + ".90 руб.;\r\n";
    std::ofstream(file, std::ios::binary) << text;
  }
  const std::vector<std::string> fromFile{"--prices", file};
  const std::vector<std::string> fromDb{"--prices-db", server.conninfo()};

  std::printf("\n1. Start until the list is loaded, resident memory then (peak); median of 3\n");
  for (const auto& [name, source] :
       {std::pair{"file", fromFile}, std::pair{"PostgreSQL", fromDb}}) {
    std::vector<double> times;
    long rss = 0, peak = 0;
    for (int run = 0; run < 3; ++run) {
      Kavrin kavrin(source, folder);
      times.push_back(
          std::chrono::duration<double>(kavrin.waitFor(" rows from ") - kavrin.started()).count());
      kavrin.waitFor("kavrin: serving on");
      rss = statusKb(kavrin.pid(), "VmRSS:");
      peak = statusKb(kavrin.pid(), "VmHWM:");
    }
    std::sort(times.begin(), times.end());
    std::printf("  %-10s %6.2f s   %5ld MiB (peak %5ld MiB)\n", name, times[1], rss / 1024,
                peak / 1024);
  }

  std::printf("\n2. A reload (SIGHUP) until the new list is in use; peak memory with both lists\n");
  std::printf("3. Scans per second, 16 connections, %zu scans; the second run with reloads\n",
              scans);
  for (const auto& [name, source] :
       {std::pair{"file", fromFile}, std::pair{"PostgreSQL", fromDb}}) {
    Kavrin kavrin(source, folder);
    kavrin.waitFor("kavrin: serving on");
    Clock::time_point asked = Clock::now();
    ::kill(kavrin.pid(), SIGHUP);
    double reload =
        std::chrono::duration<double>(kavrin.waitFor("kavrin: reloaded") - asked).count();
    std::printf("  %-10s reload %5.2f s, peak %5ld MiB, resident after %5ld MiB\n", name, reload,
                statusKb(kavrin.pid(), "VmHWM:") / 1024, statusKb(kavrin.pid(), "VmRSS:") / 1024);
    load(kavrin.port(), scans / 10);  // warm-up
    printLoad((std::string(name) + ", no reload").c_str(), load(kavrin.port(), scans), 0);
    std::printf("  %-34s %5ld MiB\n", "resident after the scans",
                statusKb(kavrin.pid(), "VmRSS:") / 1024);
    // From the database: reloads back to back all through the run. From a
    // file: one reload, asked for as the run begins (the list is read on the
    // service's thread, which answers nothing meanwhile).
    bool database = source == fromDb;
    std::atomic<bool> running{true};
    size_t before = kavrin.count("kavrin: reloaded");
    std::thread reloader([&] {
      for (size_t n = before + 1; running && (database || n == before + 1); ++n) {
        ::kill(kavrin.pid(), SIGHUP);
        kavrin.waitFor("kavrin: reloaded", n);
      }
    });
    termsim::LoadReport during = load(kavrin.port(), scans);
    running = false;
    reloader.join();
    printLoad((std::string(name) + (database ? ", reloading" : ", one reload")).c_str(), during,
              kavrin.count("kavrin: reloaded") - before);
  }
  std::filesystem::remove_all(folder);
  return 0;
}
