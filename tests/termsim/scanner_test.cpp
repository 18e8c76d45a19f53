// The scanning side: terminal messages to a tiny host server written here,
// the answers, timeouts, the load generator and the loopback rule.
#include "tools/termsim/scanner.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/exception.h"
#include "platform/format.h"
#include "tests/termsim/loopback.h"
#include "tools/termsim/cli.h"

using namespace termsim_test;
using mirelo::format;
using Clock = std::chrono::steady_clock;

namespace {

std::string answerFrame(const char* line1, const char* line2) {
  return bytes("AB 00 3C") + format("%-30s%-30s", line1, line2);
}

// A host's server in miniature: answers every terminal message over TCP and
// UDP with what answer() returns for its barcode (nothing for nullopt).
class HostServer {
 public:
  std::function<std::optional<std::string>(const std::string& barcode, size_t index)> answer =
      [](const std::string&, size_t) { return answerFrame("Молоко 1 л", "45.90"); };
  bool split = false;  // TCP answers in two writes, 50 ms apart

  HostServer() {
    listener_ = Socket(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in any = loopback(0);
    bind(listener_.fd(), reinterpret_cast<sockaddr*>(&any), sizeof any);
    listen(listener_.fd(), 16);
    pipe2(wake_, O_CLOEXEC);
  }
  ~HostServer() {
    if (thread_.joinable()) {
      char b = 1;
      [[maybe_unused]] ssize_t n = write(wake_[1], &b, 1);
      thread_.join();
    }
    close(wake_[0]);
    close(wake_[1]);
  }
  void start() {
    thread_ = std::thread([this] { run(); });
  }
  uint16_t tcpPort() const { return localPort(listener_.fd()); }
  uint16_t udpPort() const { return localPort(udp_.fd()); }
  std::vector<std::string> frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
  }
  int connections() const { return connections_; }

 private:
  std::optional<std::string> reply(const std::string& frame) {
    size_t index;
    {
      std::lock_guard lock(mutex_);
      index = frames_.size();
      frames_.push_back(frame);
    }
    if (frame.size() < 2 || static_cast<uint8_t>(frame[0]) != 0xAB) return std::nullopt;
    return answer(frame.substr(2), index);
  }

  void run() {
    std::vector<TcpPeer> peers;
    for (;;) {
      std::vector<pollfd> fds = {
          {wake_[0], POLLIN, 0}, {listener_.fd(), POLLIN, 0}, {udp_.fd(), POLLIN, 0}};
      for (const TcpPeer& peer : peers) fds.push_back({peer.fd(), POLLIN, 0});
      poll(fds.data(), fds.size(), -1);
      if (fds[0].revents) return;
      if (fds[1].revents) {
        peers.emplace_back(accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
        ++connections_;
      }
      if (fds[2].revents) {
        sockaddr_in from{};
        std::optional<std::string> frame = udp_.receive(0, &from);
        if (frame)
          if (std::optional<std::string> out = reply(*frame))
            sendto(udp_.fd(), out->data(), out->size(), 0, reinterpret_cast<sockaddr*>(&from),
                   sizeof from);
      }
      for (size_t i = 3; i < fds.size(); ++i) {
        if (!fds[i].revents) continue;
        TcpPeer& peer = peers[i - 3];
        std::optional<std::string> frame = peer.receive(0);
        if (!frame || frame->empty()) {
          peer.reset();
          continue;
        }
        std::optional<std::string> out = reply(*frame);
        if (!out) continue;
        if (split) {
          peer.sendAll(out->substr(0, 10));
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          peer.sendAll(out->substr(10));
        } else {
          peer.sendAll(*out);
        }
      }
      std::erase_if(peers, [](const TcpPeer& peer) { return peer.fd() < 0; });
    }
  }

  Socket listener_;
  UdpPeer udp_;
  int wake_[2] = {-1, -1};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> frames_;
  std::atomic<int> connections_{0};
};

class Scanner : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { setenv("MIRELO_LOOPBACK_ONLY", "1", 1); }
  bool udp() const { return GetParam(); }
  uint16_t port() const { return udp() ? host_.udpPort() : host_.tcpPort(); }
  HostServer host_;
};

TEST_P(Scanner, SendsTheTerminalMessageAndReturnsBothLines) {
  host_.start();
  termsim::ScanResult result = termsim::scan("127.0.0.1", port(), "4600123", udp());
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.line1, format("%-30s", "Молоко 1 л"));
  EXPECT_EQ(result.line2, format("%-30s", "45.90"));
  EXPECT_EQ(result.answer, answerFrame("Молоко 1 л", "45.90"));
  EXPECT_EQ(host_.frames(), std::vector<std::string>{bytes("AB 00") + "4600123"});
}

TEST_P(Scanner, MissingAnswerTimesOut) {
  host_.answer = [](const std::string&, size_t) { return std::nullopt; };
  host_.start();
  Clock::time_point start = Clock::now();
  termsim::ScanResult result = termsim::scan("127.0.0.1", port(), "1", udp(), 150);
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(result.error, "no answer within 150 ms");
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(140));
}

TEST_P(Scanner, MalformedAnswersAreErrors) {
  struct Case {
    std::string answer;
    const char* error;
  };
  const Case cases[] = {
      {bytes("AC 00 3C 41"), "unexpected answer: AC 00 3C 41"},
      {bytes("AB 05"), "answer with error byte 5: AB 05"},
  };

  std::atomic<size_t> next = 0;
  host_.answer = [&](const std::string&, size_t) { return cases[next].answer; };
  host_.start();
  for (; next < std::size(cases); ++next) {
    termsim::ScanResult result = termsim::scan("127.0.0.1", port(), "1", udp(), 1000);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, cases[next].error);
  }
}

TEST_P(Scanner, ShortTextGivesShortLines) {
  host_.answer = [](const std::string&, size_t) { return bytes("AB 00 05") + "ABCDE"; };
  host_.start();
  termsim::ScanResult result = termsim::scan("127.0.0.1", port(), "1", udp());
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.line1, "ABCDE");
  EXPECT_EQ(result.line2, "");
}

TEST_P(Scanner, LoadOverSeveralConnections) {
  host_.start();
  termsim::LoadOptions options;
  options.port = port();
  options.udp = udp();
  options.barcode = "4600123";
  options.count = 200;
  options.concurrency = 4;
  termsim::LoadReport report = termsim::runLoad(options);
  EXPECT_EQ(report.answered, 200u);
  EXPECT_EQ(report.missing + report.failed, 0u);
  EXPECT_GT(report.answersPerSecond, 0);
  EXPECT_GT(report.p50Ms, 0);
  EXPECT_LE(report.p50Ms, report.p90Ms);
  EXPECT_LE(report.p90Ms, report.p99Ms);
  EXPECT_LE(report.p99Ms, report.maxMs);
  EXPECT_EQ(host_.frames().size(), 200u);
  if (!udp()) {
    EXPECT_EQ(host_.connections(), 4);
  }
}

TEST_P(Scanner, LoadCountsMissingAnswersAndGoesOn) {
  host_.answer = [](const std::string&, size_t index) -> std::optional<std::string> {
    if (index % 3 == 1) return std::nullopt;
    return answerFrame("A", "B");
  };
  host_.start();
  termsim::LoadOptions options;
  options.port = port();
  options.udp = udp();
  options.count = 6;
  options.timeoutMs = 100;
  termsim::LoadReport report = termsim::runLoad(options);
  EXPECT_EQ(report.answered, 4u);
  EXPECT_EQ(report.missing, 2u);
  EXPECT_EQ(report.errors, std::vector<std::string>{"no answer within 100 ms"});
  // After a timeout the connection is opened anew.
  if (!udp()) {
    EXPECT_EQ(host_.connections(), 3);
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, Scanner, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "UDP" : "TCP"; });

TEST(ScannerTcp, AnswerInTwoSegments) {
  HostServer host;
  host.split = true;
  host.start();
  termsim::ScanResult result = termsim::scan("127.0.0.1", host.tcpPort(), "1", false);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.line2, format("%-30s", "45.90"));
}

TEST(ScannerTcp, HalfAnAnswerIsReportedAsIncomplete) {
  HostServer host;
  host.answer = [](const std::string&, size_t) { return bytes("AB 00 3C 41 42"); };
  host.start();
  termsim::ScanResult result = termsim::scan("127.0.0.1", host.tcpPort(), "1", false, 150);
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(result.error, "incomplete answer (5 bytes) within 150 ms");
}

// A datagram is the whole answer: one shorter than its length byte says is wrong.
TEST(ScannerUdp, ShortDatagramIsAnError) {
  HostServer host;
  host.answer = [](const std::string&, size_t) { return bytes("AB 00 3C 41 42"); };
  host.start();
  termsim::ScanResult result = termsim::scan("127.0.0.1", host.udpPort(), "1", true, 1000);
  EXPECT_FALSE(result.ok);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.error, "short answer: AB 00 3C 41 42");
}

TEST(ScannerTcp, RefusedConnectionIsAnError) {
  uint16_t closedPort;
  {
    HostServer gone;
    closedPort = gone.tcpPort();
  }
  termsim::ScanResult result = termsim::scan("127.0.0.1", closedPort, "1", false, 500);
  EXPECT_FALSE(result.ok);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.error, "connect: Connection refused");
}

TEST(ScannerLoopbackRule, RefusesHostsOutside127) {
  setenv("MIRELO_LOOPBACK_ONLY", "1", 1);
  // The decision only: a scan is never started towards these.
  for (const char* host : {"10.0.0.1", "192.168.0.166", "255.255.255.255"}) {
    try {
      termsim::resolveDestination(host, 2004);
      ADD_FAILURE() << host << " was not refused";
    } catch (const mirelo::Exception& e) {
      EXPECT_NE(std::string(e.what()).find(std::string(host) + " is outside 127.0.0.0/8"),
                std::string::npos)
          << e.what();
    }
  }
  EXPECT_EQ(ntohl(termsim::resolveDestination("127.0.0.2", 2004).sin_addr.s_addr), 0x7F000002u);
  EXPECT_EQ(ntohl(termsim::resolveDestination("localhost", 2004).sin_addr.s_addr) >> 24, 127u);
}

TEST(ScannerAnswer, ParsesPieceByPiece) {
  std::string frame = answerFrame("Line one", "Line two");
  std::string line1, line2, error;
  for (size_t size = 0; size < frame.size(); ++size)
    EXPECT_EQ(termsim::parseAnswer(frame.substr(0, size), line1, line2, error),
              termsim::AnswerStatus::Incomplete)
        << size;
  ASSERT_EQ(termsim::parseAnswer(frame, line1, line2, error), termsim::AnswerStatus::Complete);
  EXPECT_EQ(line1, format("%-30s", "Line one"));
  EXPECT_EQ(line2, format("%-30s", "Line two"));
  EXPECT_EQ(termsim::terminalMessage("12"), bytes("AB 00 31 32"));
}

// The command line converts the barcode to Windows-1251 and the lines back.
TEST(ScannerCli, ScanPrintsTheLinesInUtf8) {
  HostServer host;
  host.start();
  std::ostringstream out, err;
  int code = termsim::runCli(
      {"scan", "\xD0\xA5\xD0\xBB\xD0\xB5\xD0\xB1", "--port", std::to_string(host.tcpPort())}, out,
      err);
  EXPECT_EQ(code, 0) << err.str();
  // "Молоко 1 л" and "45.90" in UTF-8, trailing blanks removed.
  EXPECT_EQ(out.str(), "\xD0\x9C\xD0\xBE\xD0\xBB\xD0\xBE\xD0\xBA\xD0\xBE 1 \xD0\xBB\n45.90\n");
  EXPECT_EQ(host.frames(), std::vector<std::string>{bytes("AB 00") + "Хлеб"});
}

TEST(ScannerCli, MissingAnswerExitsWithOne) {
  HostServer host;
  host.answer = [](const std::string&, size_t) { return std::nullopt; };
  host.start();
  std::ostringstream out, err;
  int code = termsim::runCli(
      {"scan", "1", "--udp", "--port", std::to_string(host.udpPort()), "--timeout", "100"}, out,
      err);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(err.str(), "termsim: no answer within 100 ms\n");
}

TEST(ScannerCli, LoadPrintsRateAndPercentiles) {
  HostServer host;
  host.start();
  std::ostringstream out, err;
  int code = termsim::runCli({"scan", "1", "--port", std::to_string(host.tcpPort()), "--count",
                              "50", "--concurrency", "2"},
                             out, err);
  EXPECT_EQ(code, 0) << err.str();
  EXPECT_EQ(out.str().rfind("scans: 50 sent, 50 answered, 0 missing, 0 failed in ", 0), 0u)
      << out.str();
  EXPECT_NE(out.str().find("\nanswers per second: "), std::string::npos);
  EXPECT_NE(out.str().find("\nlatency ms: p50 "), std::string::npos);
}

}  // namespace
