// "mirelo shell" in-process: scripts from a stream, and a live session on a
// pipe that prints a terminal's message while it waits for input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <thread>

#include "platform/format.h"
#include "shell_test_support.h"
#include "tools/termsim/termsim.h"

namespace mirelo::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kBarcode = "4600000000001";

// Scans once the server listens: a refused connection is tried again.
termsim::ScanResult scanWhenListening(uint16_t port, int answerTimeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + 5s;
  for (;;) {
    termsim::ScanResult result = termsim::scan("127.0.0.1", port, kBarcode, false, answerTimeoutMs);
    if (result.error.find("refused") == std::string::npos ||
        std::chrono::steady_clock::now() > deadline)
      return result;
    std::this_thread::sleep_for(10ms);
  }
}

// The SenderID of a "DataEvent: SenderID=n Data=<barcode>" line, or -1.
int senderOf(const std::string& line) {
  std::smatch match;
  if (!std::regex_match(line, match,
                        std::regex(std::string("DataEvent: SenderID=([0-9]+) Data=") + kBarcode)))
    return -1;
  return std::stoi(match[1]);
}

class ShellScriptTest : public ShellTest {};

TEST_F(ShellScriptTest, PrintsATerminalsMessageWhileItWaits) {
  uint16_t port = freeTcpPort();
  std::jthread terminal([port] { scanWhenListening(port, 4000); });
  Result r =
      mirelo({"shell"},
             format("ServerProtocol=1\nServerPort=%u\nOpenServer\nwait=1500\nCloseServer\n", port));
  EXPECT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(r.out.size(), 3u) << r.err;
  EXPECT_EQ(r.out[0], utf8("OpenServer: 0 Ошибок нет"));
  EXPECT_GT(senderOf(r.out[1]), 0) << r.out[1];
  EXPECT_EQ(r.out[2], utf8("CloseServer: 0 Ошибок нет"));
}

TEST_F(ShellScriptTest, SkipsRejectedAndEmptyLinesAndGoesOn) {
  Result r = mirelo({"shell"},
                    "FileVersion\r\n\n   \nFrobnicate\nConnect=1\nLine1=a b  c \nLine1\nSendEvent");
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, (std::vector<std::string>{
                       format("FileVersion=%d.%d.%d.%d", MIRELO_VERSION_MAJOR, MIRELO_VERSION_MINOR,
                              MIRELO_VERSION_RELEASE, MIRELO_VERSION_BUILD),
                       "Line1=a b  c ", "DataEvent: SenderID=123 Data=Test",
                       utf8("SendEvent: 0 Ошибок нет")}));
  EXPECT_EQ(
      r.err,
      "mirelo: unknown member 'Frobnicate'\nmirelo: Connect is a method and takes no value\n");
}

TEST_F(ShellScriptTest, ExitStatusSaysWhatHappened) {
  const std::pair<const char*, int> cases[] = {
      {"", 0},
      {"FileVersion\nSendEvent\n", 0},
      {"LDNumber=1\nClientTimeout=0\nFileVersion\n", 1},
      {"AboutBox\n", 1},
      {"Nope\nClientTimeout=0\n", 2},
  };
  for (const auto& [script, code] : cases)
    EXPECT_EQ(mirelo({"shell"}, script).code, code) << script;
}

TEST_F(ShellScriptTest, PrintsJsonLines) {
  Result r = mirelo({"shell", "--json"},
                    "SendEvent\nwait=0\nLDNumber=1\nLDNumber\nLockDevices=1\nLockDevices\n");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, (std::vector<std::string>{
                       "{\"event\":\"DataEvent\",\"SenderID\":123,\"Data\":\"Test\"}",
                       utf8("{\"call\":\"SendEvent\",\"code\":0,\"description\":\"Ошибок нет\"}"),
                       "{\"read\":\"LDNumber\",\"value\":1}",
                       "{\"read\":\"LockDevices\",\"value\":true}"}));
}

// The shell on a pipe in its own thread, as the program runs on its
// standard input; closing the pipe ends it, on every path out of a test.
class LiveShell {
 public:
  LiveShell() {
    EXPECT_EQ(::pipe2(fds_, O_CLOEXEC), 0);
    thread_ = std::thread([this] { code_ = shell::runCli({"shell"}, fds_[0], out_, err_); });
  }
  ~LiveShell() { finish(); }
  void send(const std::string& text) {
    EXPECT_EQ(::write(fds_[1], text.data(), text.size()), ssize_t(text.size()));
  }
  // Ends the input and waits for the shell; its exit status.
  int finish() {
    if (fds_[1] >= 0) ::close(std::exchange(fds_[1], -1));
    if (thread_.joinable()) thread_.join();
    if (fds_[0] >= 0) ::close(std::exchange(fds_[0], -1));
    return code_;
  }
  CapturedLines& lines() { return capture_; }
  std::string errors() const { return err_.str(); }  // after finish()

 private:
  int fds_[2] = {-1, -1};
  CapturedLines capture_;
  std::ostream out_{&capture_};
  std::ostringstream err_;
  int code_ = -1;
  std::thread thread_;
};

TEST_F(ShellScriptTest, AnswersATerminalFromALiveSession) {
  uint16_t port = freeTcpPort();
  LiveShell shell;
  shell.send(format("ServerProtocol=1\nServerPort=%u\nOpenServer\n", port));
  ASSERT_EQ(shell.lines().waitForLine("OpenServer:"), utf8("OpenServer: 0 Ошибок нет"));

  termsim::ScanResult scan;
  std::jthread terminal([&] { scan = termsim::scan("127.0.0.1", port, kBarcode, false, 5000); });
  // No wait item: the event prints while the shell waits for its next line.
  std::optional<std::string> event = shell.lines().waitForLine("DataEvent:");
  ASSERT_TRUE(event);
  int sender = senderOf(*event);
  ASSERT_GT(sender, 0) << *event;

  // The sender is asked about before it is answered: once answered, the
  // terminal closes its connection and is no longer a client.
  shell.send(format("SenderID=%d\nGetSenderParams\nSenderIP\n", sender) +
             utf8("Line1=Молоко 1 л\nLine2=Цена: 89.90\n") + "SendAnswer\n");
  terminal.join();
  EXPECT_TRUE(scan.ok) << scan.error;
  EXPECT_EQ(scan.line1.substr(0, scan.line1.find_last_not_of(' ') + 1), "Молоко 1 л");
  EXPECT_EQ(scan.line2.substr(0, scan.line2.find_last_not_of(' ') + 1), "Цена: 89.90");
  EXPECT_EQ(shell.lines().waitForLine("SendAnswer:"), utf8("SendAnswer: 0 Ошибок нет"));
  EXPECT_EQ(shell.lines().waitForLine("SenderIP="), "SenderIP=127.0.0.1");

  EXPECT_EQ(shell.finish(), 0) << shell.errors();
  EXPECT_EQ(shell.errors(), "");
  EXPECT_EQ(shell.lines().lines(),
            (std::vector<std::string>{utf8("OpenServer: 0 Ошибок нет"), *event,
                                      utf8("GetSenderParams: 0 Ошибок нет"), "SenderIP=127.0.0.1",
                                      utf8("SendAnswer: 0 Ошибок нет")}));
}

}  // namespace
}  // namespace mirelo::test
