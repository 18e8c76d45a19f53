// "mirelo status", "display", "set-ip", "lock", "unlock" and "reset" against a
// simulated terminal.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <tuple>

#include "command_test_support.h"
#include "platform/format.h"

namespace mirelo::test {
namespace {

class TerminalCommandTest : public CommandTest {
 protected:
  std::string device(const char* protocol = "UDP") const {
    return utf8("№ 1 Без названия") + format(" (127.0.0.1:%u %s)", sim_.port(), protocol);
  }
};

TEST_F(TerminalCommandTest, StatusPrintsEveryFieldReadably) {
  sim_.withState([](termsim::TerminalState& state) {
    state.status.versionMajor = 3;
    state.status.versionMinor = 7;
    state.status.build = 512;
    state.status.day = 1;
    state.status.month = 2;
    state.status.year = 2011;
    state.status.flags = termsim::StatusFlag::Locked | termsim::StatusFlag::TableError;
    ASSERT_TRUE(state.status.setMacText("00-01-02-33-00-2A"));
  });
  pointAtSimulator();
  Result r = mirelo({"status"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            (std::vector<std::string>{"Device: " + device(), "Software version: 3.7",
                                      "Software build: 512", "Software date: 01.02.2011",
                                      utf8("Device type: 51 (Неизвестный тип устройства (51))"),
                                      "Serial number: 42", "Status flags: 65 (0x41)", "Locked: yes",
                                      "Settings table error: yes", "MAC address: 00-01-02-33-00-2A",
                                      "Firm ID: 258 (0x000102)"}));
}

TEST_F(TerminalCommandTest, StatusOfTheDefaultTerminal) {
  pointAtSimulator("tcp");
  Result r = mirelo({"status"});
  EXPECT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(r.out.size(), 11u);
  EXPECT_EQ(r.out[0], "Device: " + device("TCP"));
  EXPECT_EQ(r.out[4], "Device type: 2 (Vistel)");
  EXPECT_EQ(r.out[6], "Status flags: 0 (0x00)");
  EXPECT_EQ(r.out[7], "Locked: no");
}

TEST_F(TerminalCommandTest, DeviceOptionUsesAnotherDeviceAndKeepsTheCurrentOne) {
  addSimulatorAsDevice2();
  Result r = mirelo({"status", "--device", "2"});
  EXPECT_EQ(r.code, 0) << r.err;
  ASSERT_FALSE(r.out.empty());
  EXPECT_EQ(r.out[0],
            utf8("Device: № 2 Без названия") + format(" (127.0.0.1:%u UDP)", sim_.port()));
  EXPECT_EQ(mirelo({"run", "LDNumber"}).out, std::vector<std::string>{"LDNumber=1"});
  r = mirelo({"lock", "--device", "3"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, utf8("mirelo: logical device 3: (-9) Логическое устройство не найдено\n"));
}

TEST_F(TerminalCommandTest, AFailureNamesTheDeviceWithCodeAndText) {
  pointAtSimulator();
  dropEvery(1);
  Result r = mirelo({"status"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(r.err, "mirelo: reading the status of " + device() + utf8(": (-1) Нет связи\n"));
  // A terminal left in programming mode refuses TCP connections.
  sim_.clearFaults();
  sim_.setProgrammingMode(true);
  pointAtSimulator("tcp");
  r = mirelo({"unlock"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "mirelo: connecting to " + device("TCP") +
                       utf8(": (-16) Команда недоступна в режиме программирования\n"));
}

TEST_F(TerminalCommandTest, DisplayShowsTwoLines) {
  pointAtSimulator();
  Result r = mirelo({"display", utf8("Молоко 1 л"), utf8("Цена 89.90")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, std::vector<std::string>{"Shown on " + device()});
  termsim::DisplayState display = sim_.display();
  EXPECT_EQ(display.line1, format("%-30s", "Молоко 1 л"));
  EXPECT_EQ(display.line2, format("%-30s", "Цена 89.90"));

  // One line; a line that begins with '-' after "--"; a long line is cut, with a warning.
  r = mirelo({"display", "--", "-5%", std::string(35, 'x')});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "mirelo: line 2 has 35 characters; the display shows the first 30\n");
  EXPECT_EQ(sim_.display().line1, format("%-30s", "-5%"));
  EXPECT_EQ(sim_.display().line2, std::string(30, 'x'));
  r = mirelo({"display", "Only"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(sim_.display().line2, std::string(30, ' '));
}

TEST_F(TerminalCommandTest, DisplayUsage) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"display"}, "mirelo: missing the line to show"},
      {{"display", "a", "b", "c"}, "mirelo: unexpected argument 'c'"},
      {{"display", "-5%"}, "mirelo: unknown option '-5%'"},
      {{"display", "\xE2\x82\xAC\xE2\x9C\x93"},
       "mirelo: '\xE2\x9C\x93' (U+2713) has no Windows-1251 byte"},
  };
  for (const auto& [args, message] : cases) {
    Result r = mirelo(args);
    EXPECT_EQ(r.code, 2) << args.back();
    EXPECT_TRUE(r.err.starts_with(message)) << args.back() << ": " << r.err;
  }
  EXPECT_EQ(sim_.requests(), 0u);
}

TEST_F(TerminalCommandTest, SetIpMovesTheTerminalAndItsDevice) {
  pointAtSimulator();
  Result r = mirelo({"set-ip", "127.0.0.2"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, std::vector<std::string>{
                       "Terminal " + device() +
                       " now has the address 127.0.0.2; its logical device has it too."});
  EXPECT_EQ(sim_.newAddress(), "127.0.0.2");
  EXPECT_EQ(mirelo({"run", "ClientIP"}).out, std::vector<std::string>{"ClientIP=127.0.0.2"});
}

TEST_F(TerminalCommandTest, SetIpThatFailsKeepsTheDevicesAddress) {
  pointAtSimulator();
  failCommand(0xB7, termsim::DeviceError::NotSupported);
  Result r = mirelo({"set-ip", "127.0.0.2"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.starts_with("mirelo: setting the address of " + device() + ": (213) "))
      << r.err;
  EXPECT_EQ(mirelo({"run", "ClientIP"}).out, std::vector<std::string>{"ClientIP=127.0.0.1"});

  // An address the terminal cannot take is refused by the driver, unsent.
  sim_.clearFaults();
  sim_.clearJournal();
  r = mirelo({"set-ip", "127.0.0.255"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find(utf8("(-6) '127.0.0.255' не является корректным IP адресом.")),
            std::string::npos)
      << r.err;
  for (uint8_t command : commandsReceived()) EXPECT_NE(command, 0xB7);
  EXPECT_EQ(mirelo({"run", "ClientIP"}).out, std::vector<std::string>{"ClientIP=127.0.0.1"});

  r = mirelo({"set-ip", "localhost"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.err.starts_with("mirelo: the new address must be an IPv4 address")) << r.err;
}

TEST_F(TerminalCommandTest, LockUnlockReset) {
  pointAtSimulator("tcp");
  Result r = mirelo({"lock"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, std::vector<std::string>{"Locked " + device("TCP")});
  EXPECT_TRUE(sim_.locked());
  EXPECT_EQ(mirelo({"status"}).out.at(7), "Locked: yes");
  r = mirelo({"unlock"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, std::vector<std::string>{"Unlocked " + device("TCP")});
  EXPECT_FALSE(sim_.locked());
  r = mirelo({"reset"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, std::vector<std::string>{"Reset " + device("TCP")});
  EXPECT_EQ(sim_.state().resets, 1u);
  // The commands take no arguments.
  r = mirelo({"reset", "now"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(sim_.state().resets, 1u);
}

// The real program with its arguments: exit status and everything it
// printed (standard error after standard output). The child inherits
// MIRELO_REGISTRY and MIRELO_LOOPBACK_ONLY; its output is a pipe.
std::pair<int, std::string> runProgram(const std::string& arguments) {
  std::string command = MIRELO_BINARY_DIR "/tools/mirelo/mirelo " + arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return {-1, "popen failed"};
  std::string out;
  char chunk[512];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
  int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST_F(TerminalCommandTest, TheProgramItselfPrintsAndExitsTheSameWay) {
  pointAtSimulator();
  auto [code, out] = runProgram("status");
  EXPECT_EQ(code, 0) << out;
  EXPECT_TRUE(out.starts_with("Device: " + device() + "\nSoftware version: 2.5\n")) << out;
  dropEvery(1);
  std::tie(code, out) = runProgram("lock");
  EXPECT_EQ(code, 1) << out;
  EXPECT_EQ(out, "mirelo: locking " + device() + utf8(": (-1) Нет связи\n"));
}

TEST_F(TerminalCommandTest, EveryCommandHasHelp) {
  for (const char* command : {"devices", "server", "status", "search", "firmware", "tables", "dump",
                              "display", "set-ip", "lock", "unlock", "reset"}) {
    Result r = mirelo({command, "--help"});
    EXPECT_EQ(r.code, 0) << command;
    ASSERT_FALSE(r.out.empty()) << command;
    EXPECT_TRUE(r.out[0].starts_with(std::string("Usage: mirelo ") + command)) << r.out[0];
    EXPECT_EQ(mirelo({"help", command}).out, r.out) << command;
  }
  EXPECT_EQ(sim_.requests(), 0u);
}

}  // namespace
}  // namespace mirelo::test
