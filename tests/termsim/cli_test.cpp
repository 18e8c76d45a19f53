// The termsim command line: options, help and a whole "serve" run in-process.
#include "tools/termsim/cli.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <fstream>
#include <sstream>
#include <streambuf>
#include <thread>

#include "platform/format.h"
#include "tests/termsim/loopback.h"
#include "tools/termsim/protocol_handler.h"

using namespace termsim_test;
using mirelo::format;

namespace {

termsim::Options parse(std::vector<std::string> args) {
  return termsim::parseServeOptions(args);
}

TEST(CliServeOptions, DefaultsAreTheTerminalPorts) {
  termsim::Options options = parse({});
  EXPECT_EQ(options.bindAddress, "127.0.0.1");
  EXPECT_EQ(options.port, 1002);
  EXPECT_EQ(options.discoveryPort, 2002);
  EXPECT_TRUE(options.journalFile.empty());
  EXPECT_FALSE(options.state.programmingMode);
}

TEST(CliServeOptions, StatusOptions) {
  termsim::Options options = parse({"--serial", "513", "--device-type", "5", "--mac",
                                    "0A-0B-0C-0D-0E-0F", "--soft-version", "4.12", "--build=0x10",
                                    "--date", "01.02.2003", "--locked", "--table-error"});
  const termsim::StatusInfo& status = options.state.status;
  EXPECT_EQ(status.macText(), "0A-0B-0C-05-02-01");  // type and serial win over --mac
  EXPECT_EQ(status.deviceType(), 5);
  EXPECT_EQ(status.serialNumber(), 513);
  EXPECT_EQ(status.firmId(), 0x0A0B0Cu);
  EXPECT_EQ(status.versionMajor, 4);
  EXPECT_EQ(status.versionMinor, 12);
  EXPECT_EQ(status.build, 16);
  EXPECT_EQ(status.day, 1);
  EXPECT_EQ(status.month, 2);
  EXPECT_EQ(status.year, 2003);
  EXPECT_EQ(status.flags, 0x41);
  EXPECT_EQ(parse({"--flags", "$40"}).state.status.flags, 0x40);
}

TEST(CliServeOptions, ContentOptions) {
  termsim::Options options = parse({"--messages", "3", "--memory-blocks", "2", "--memory-blocks",
                                    "3=7", "--programming", "--no-discovery"});
  EXPECT_EQ(options.state.messages.size(), 3u);
  EXPECT_EQ(options.state.memoryBlocks(0), 2u);
  EXPECT_EQ(options.state.memoryBlocks(2), 2u);
  EXPECT_EQ(options.state.memoryBlocks(3), 7u);
  EXPECT_TRUE(options.state.programmingMode);
  EXPECT_EQ(options.discoveryPort, -1);
}

TEST(CliServeOptions, FaultOptions) {
  termsim::Faults faults = parse({"--drop-every",
                                  "3",
                                  "--delay",
                                  "50",
                                  "--error",
                                  "0xBB=211",
                                  "--error",
                                  "0xB9=219",
                                  "--wrong-command",
                                  "0x01",
                                  "--truncate",
                                  "5",
                                  "--stay-in-programming",
                                  "--close-after-request",
                                  "--split-reply",
                                  "--split-pause",
                                  "30",
                                  "--only-command",
                                  "0xBD",
                                  "--once"})
                               .faults;
  EXPECT_EQ(faults.dropEvery, 3u);
  EXPECT_EQ(faults.delayMs, 50u);
  EXPECT_EQ(faults.errorFor, (std::map<uint8_t, uint8_t>{{0xBB, 211}, {0xB9, 219}}));
  EXPECT_EQ(faults.wrongCommand, 0x01);
  EXPECT_EQ(faults.truncateTo, 5u);
  EXPECT_TRUE(faults.stayInProgramming);
  EXPECT_TRUE(faults.closeAfterRequest);
  EXPECT_TRUE(faults.splitReply);
  EXPECT_EQ(faults.splitPauseMs, 30u);
  EXPECT_EQ(faults.onlyCommand, 0xBD);
  EXPECT_TRUE(faults.once);
}

TEST(CliServeOptions, BadOptionsAreUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"--colour"}, "unknown option --colour"},
      {{"--port"}, "--port needs a value"},
      {{"--port", "70000"}, "--port: '70000' is not a number from 0 to 65535"},
      {{"--date", "32.01.2010"}, "--date: '32' is not a number from 1 to 31"},
      {{"--date", "2010"}, "--date: expected DD.MM.YYYY, got '2010'"},
      {{"--mac", "00-11-22"}, "--mac: expected AA-BB-CC-DD-EE-FF, got '00-11-22'"},
      {{"--error", "0xBB"}, "--error: expected A=B, got '0xBB'"},
      {{"--memory-blocks", "4=1"}, "--memory-blocks: '4' is not a number from 0 to 3"},
      {{"--locked=1"}, "--locked takes no value"},
      {{"--locked="}, "--locked takes no value"},
      {{"--port=", "5"}, "--port: '' is not a number from 0 to 65535"},
      {{"--bogus=1", "--port", "x"}, "unknown option --bogus"},
      {{"--port", "x", "--bogus"}, "--port: 'x' is not a number from 0 to 65535"},
      {{"--port", "1", "--port"}, "--port needs a value"},
      {{"extra"}, "serve takes no argument 'extra'"},
      {{"--", "--no-discovery"}, "serve takes no argument '--'"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"serve"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::ostringstream out, err;
    EXPECT_EQ(termsim::runCli(args, out, err), 2) << c.message;
    EXPECT_EQ(err.str(), format("termsim: %s (see termsim --help)\n", c.message));
    EXPECT_EQ(out.str(), "");
  }
}

TEST(CliHelp, ExplainsEveryCommandAndOption) {
  std::ostringstream out, err;
  ASSERT_EQ(termsim::runCli({"--help"}, out, err), 0);
  for (const char* word : {"termsim serve", "termsim scan BARCODE", "MIRELO_LOOPBACK_ONLY"})
    EXPECT_NE(out.str().find(word), std::string::npos) << word;

  std::ostringstream serve, unused;
  ASSERT_EQ(termsim::runCli({"serve", "--help"}, serve, unused), 0);
  for (const termsim::CommandInfo& command : termsim::commandTable())
    EXPECT_NE(serve.str().find(format("0x%.2X ", command.code)), std::string::npos)
        << int(command.code);
  for (const char* option : {"--bind",
                             "--port",
                             "--discovery-port",
                             "--no-discovery",
                             "--journal",
                             "--firmware-out",
                             "--soft-version",
                             "--build",
                             "--date",
                             "--flags",
                             "--locked",
                             "--table-error",
                             "--mac",
                             "--device-type",
                             "--serial",
                             "--messages",
                             "--memory-blocks",
                             "--programming",
                             "--drop-every",
                             "--delay",
                             "--error",
                             "--wrong-command",
                             "--truncate",
                             "--stay-in-programming",
                             "--close-after-request",
                             "--split-reply",
                             "--split-pause",
                             "--only-command"})
    EXPECT_NE(serve.str().find(std::string("  ") + option + " "), std::string::npos) << option;

  std::ostringstream scan;
  ASSERT_EQ(termsim::runCli({"help", "scan"}, scan, unused), 0);
  for (const char* option : {"--host", "--port", "--udp", "--timeout", "--count", "--concurrency"})
    EXPECT_NE(scan.str().find(std::string("  ") + option + " "), std::string::npos) << option;
}

TEST(CliHelp, NoCommandOrAnUnknownOneIsAUsageError) {
  std::ostringstream out, err;
  EXPECT_EQ(termsim::runCli({}, out, err), 2);
  EXPECT_NE(err.str().find("Usage:"), std::string::npos);
  std::ostringstream out2, err2;
  EXPECT_EQ(termsim::runCli({"fly"}, out2, err2), 2);
  EXPECT_EQ(err2.str(), "termsim: unknown command 'fly' (see termsim --help)\n");
  std::ostringstream out3, err3;
  EXPECT_EQ(termsim::runCli({"scan"}, out3, err3), 2);
  EXPECT_EQ(err3.str(), "termsim: scan needs exactly one BARCODE (see termsim --help)\n");
}

// An ostream writing straight into a pipe, so the test can read what "serve"
// prints while it runs.
class PipeBuffer : public std::streambuf {
 public:
  explicit PipeBuffer(int fd) : fd_(fd) {}

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return 0;
    char byte = static_cast<char>(c);
    return ::write(fd_, &byte, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* data, std::streamsize size) override {
    return ::write(fd_, data, static_cast<size_t>(size));
  }

 private:
  int fd_;
};

// Reads from fd until the text holds pattern or the time is up.
std::string readUntil(int fd, const std::string& pattern, int timeoutMs) {
  std::string text;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (text.find(pattern) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    if (!readable(fd, 100)) continue;
    char buffer[256];
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

uint16_t portAfter(const std::string& text, const std::string& words) {
  size_t at = text.find(words);
  return at == std::string::npos ? 0
                                 : static_cast<uint16_t>(std::stoi(text.substr(at + words.size())));
}

TEST(CliServe, ServesUntilTerminatedAndWritesTheFirmware) {
  std::string firmwarePath =
      std::string(::testing::TempDir()) + "termsim_cli_" + std::to_string(getpid()) + ".bin";
  int pipeFds[2];
  ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
  PipeBuffer buffer(pipeFds[1]);
  std::ostream out(&buffer);
  std::ostringstream err;
  int code = -1;
  std::thread server([&] {
    code = termsim::runCli({"serve", "--port", "0", "--discovery-port", "0", "--device-type", "5",
                            "--serial", "513", "--firmware-out", firmwarePath, "--delay", "0"},
                           out, err);
  });
  std::string printed = readUntil(pipeFds[0], "serving until interrupted", 5000);
  uint16_t port = portAfter(printed, "127.0.0.1 port ");
  uint16_t discovery = portAfter(printed, "discovery on UDP port ");
  bool started = port != 0 && discovery != 0;
  EXPECT_TRUE(started) << printed << err.str();

  if (started) {
    UdpPeer peer;
    peer.sendTo(discovery, bytes("BB"));
    std::optional<std::string> status = peer.receive();
    ASSERT_TRUE(status && status->size() == 29);
    EXPECT_EQ(mirelo::bytesToHex(status->substr(26)), "05 02 01");

    TcpPeer tcp = TcpPeer::connectTo(port);
    for (const std::string& request : {bytes("C0"), bytes("C1 00 01 00 10 20 30"), bytes("C2")}) {
      tcp.sendAll(request);
      EXPECT_EQ(tcp.receive(), request.substr(0, 1) + bytes("00"));
    }
    pthread_kill(server.native_handle(), SIGTERM);
  }
  server.join();
  printed += readUntil(pipeFds[0], "requests\n", 2000);
  close(pipeFds[0]);
  close(pipeFds[1]);
  if (!started) return;
  EXPECT_EQ(code, 0) << err.str();
  EXPECT_NE(printed.find("termsim: stopped after 3 requests\n"), std::string::npos) << printed;
  std::ifstream file(firmwarePath, std::ios::binary);
  std::stringstream image;
  image << file.rdbuf();
  EXPECT_EQ(image.str(), bytes("10 20 30"));
  std::remove(firmwarePath.c_str());
}

TEST(CliServe, APortInUseFailsWithExitCodeOne) {
  UdpPeer taken;
  std::ostringstream out, err;
  EXPECT_EQ(
      termsim::runCli({"serve", "--port", std::to_string(localPort(taken.fd())), "--no-discovery"},
                      out, err),
      1);
  EXPECT_NE(err.str().find("Cannot bind UDP 127.0.0.1:"), std::string::npos) << err.str();
}

}  // namespace
