// "mirelo devices" and "mirelo server": the stored settings, read back by new
// objects (the run subcommand) and used against a simulated terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "command_test_support.h"
#include "platform/format.h"
#include "platform/registry/registry.h"

namespace mirelo::test {
namespace {

using namespace std::chrono_literals;

const std::string kHeader =
    "  No  Name                  Address           Port  Via  Timeout  Repeats";

class DevicesCommandTest : public CommandTest {};

TEST_F(DevicesCommandTest, ListsTheDefaultDeviceOfAnEmptyStore) {
  Result r = mirelo({"devices"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(
      r.out,
      (std::vector<std::string>{
          kHeader,
          utf8("*  1  Без названия          192.168.0.166     1002  TCP     3000        3")}));
  EXPECT_EQ(mirelo({"devices", "list"}).out, r.out);
}

TEST_F(DevicesCommandTest, AddSetRenameSelectDeleteAreStored) {
  Result r =
      mirelo({"devices", "add", "--name", utf8("Касса 2"), "--address", "127.0.0.1", "--port",
              "5000", "--protocol", "udp", "--timeout", "300", "--repeat-count", "2"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, std::vector<std::string>{utf8("Added and selected logical device № 2 Касса 2 "
                                                 "(127.0.0.1:5000 UDP), timeout 300 ms, 2 tries")});
  // A new object finds it current, with every setting.
  r = mirelo({"run", "LDNumber", "LDName", "ClientIP", "ClientPort", "ClientProtocol",
              "ClientTimeout", "RepeatCount"});
  EXPECT_EQ(r.out,
            (std::vector<std::string>{"LDNumber=2", utf8("LDName=Касса 2"), "ClientIP=127.0.0.1",
                                      "ClientPort=5000", "ClientProtocol=0", "ClientTimeout=300",
                                      "RepeatCount=2"}));

  // set and rename on another device leave the current one current.
  r = mirelo({"devices", "set", "--device", "1", "--port=1003", "--protocol", "TCP"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(
      r.out,
      std::vector<std::string>{utf8(
          "Logical device № 1 Без названия (192.168.0.166:1003 TCP), timeout 3000 ms, 3 tries")});
  r = mirelo({"devices", "rename", "--device", "1", utf8("Склад")});
  EXPECT_EQ(r.code, 0) << r.err;
  r = mirelo({"devices"});
  EXPECT_EQ(
      r.out,
      (std::vector<std::string>{
          kHeader,
          utf8("   1  Склад                 192.168.0.166     1003  TCP     3000        3"),
          utf8("*  2  Касса 2               127.0.0.1         5000  UDP      300        2")}));

  r = mirelo({"devices", "select", "1"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(mirelo({"run", "LDNumber"}).out, std::vector<std::string>{"LDNumber=1"});

  // Deleting another device keeps the current one; deleting the current one
  // makes the next current, as the object does.
  r = mirelo({"devices", "delete", "2"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out[0], "Deleted logical device 2.");
  EXPECT_EQ(mirelo({"run", "LDCount", "LDNumber"}).out,
            (std::vector<std::string>{"LDCount=1", "LDNumber=1"}));
}

TEST_F(DevicesCommandTest, DeletingTheCurrentDeviceSelectsTheNextOne) {
  ASSERT_EQ(mirelo({"devices", "add"}).code, 0);
  ASSERT_EQ(mirelo({"devices", "add"}).code, 0);
  ASSERT_EQ(mirelo({"devices", "select", "2"}).code, 0);
  Result r = mirelo({"devices", "delete", "2"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(mirelo({"run", "LDNumber"}).out, std::vector<std::string>{"LDNumber=3"});
  ASSERT_EQ(mirelo({"devices", "select", "1"}).code, 0);
  EXPECT_EQ(mirelo({"devices", "delete", "3"}).code, 0);
  EXPECT_EQ(mirelo({"run", "LDNumber", "LDCount"}).out,
            (std::vector<std::string>{"LDNumber=1", "LDCount=1"}));
}

TEST_F(DevicesCommandTest, ADeviceThatCannotBeAppliedIsStillListedSelectedAndMended) {
  // A timeout of 0 in the store (written by hand or an older version), which
  // the driver core refuses and the object no longer takes.
  {
    Registry registry(std::getenv("MIRELO_REGISTRY"));
    RegistryKey device = *registry.openKey(
        RegistryRoot::CurrentUser, "Software\\Korvex\\Mirelo\\Mirelo\\Devices\\Device1", true);
    device.writeInteger("DeviceNumber", 1);
    device.writeInteger("Timeout", 0);
  }
  ASSERT_EQ(mirelo({"devices", "add", "--address", "127.0.0.1", "--port",
                    std::to_string(sim_.port()), "--protocol", "udp", "--timeout", "500"})
                .code,
            0);
  Result r = mirelo({"devices"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.at(1),
            utf8("   1  Без названия          192.168.0.166     1002  TCP        0        3"));
  r = mirelo({"status"});
  EXPECT_EQ(r.code, 0) << "device 2 is current";
  r = mirelo({"status", "--device", "1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, utf8("mirelo: logical device 1: (-6) Недопустимое значение\n"));
  r = mirelo({"devices", "set", "--device", "1", "--timeout", "200"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(mirelo({"run", "LDNumber"}).out, std::vector<std::string>{"LDNumber=2"});
  EXPECT_EQ(mirelo({"devices", "select", "1"}).code, 0);
  EXPECT_EQ(mirelo({"run", "LDNumber", "ClientTimeout"}).out,
            (std::vector<std::string>{"LDNumber=1", "ClientTimeout=200"}));
}

TEST_F(DevicesCommandTest, AnUnreadableStoreIsToldAndFails) {
  std::string store = writeFile("garbage.db", std::string(4096, 'Z'));
  ::setenv("MIRELO_REGISTRY", store.c_str(), 1);
  for (const char* command : {"devices", "server", "status"}) {
    Result r = mirelo({command});
    EXPECT_EQ(r.code, 1) << command;
    EXPECT_EQ(
        r.err.rfind("mirelo: the settings file could not be read (Registry '" + store + "'", 0), 0u)
        << r.err;
    EXPECT_EQ(r.out.size(), std::string(command) == "status"    ? 0u
                            : std::string(command) == "devices" ? 2u
                                                                : 5u);
  }
  EXPECT_EQ(readFile(store), std::string(4096, 'Z'));
}

TEST_F(DevicesCommandTest, ControlCharactersOfStoredTextsAreEscaped) {
  ASSERT_EQ(mirelo({"devices", "rename",
                    "A\x1B[2J\x07"
                    "B"})
                .code,
            0);
  Result r = mirelo({"devices"});
  ASSERT_EQ(r.out.size(), 2u);
  EXPECT_NE(r.out[1].find("A\\x1B[2J\\x07B"), std::string::npos) << r.out[1];
}

TEST_F(DevicesCommandTest, TheDriversRefusalsAreFailuresWithCodeAndText) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"devices", "delete", "1"},
       "mirelo: logical device 1: (-8) Невозможно удалить логическое устройство\n"},
      {{"devices", "select", "7"},
       "mirelo: logical device 7: (-9) Логическое устройство не найдено\n"},
      {{"devices", "set", "--device", "7", "--port", "5"},
       "mirelo: logical device 7: (-9) Логическое устройство не найдено\n"},
      {{"devices", "rename", utf8("Двадцать одна буква!!")},
       "mirelo: the name 'Двадцать одна буква!!' (at most 20 characters): (-6) Недопустимое "
       "значение\n"},
  };
  for (const auto& c : cases) {
    Result r = mirelo(c.args);
    EXPECT_EQ(r.code, 1) << c.args.back();
    EXPECT_EQ(r.err, utf8(c.err.c_str())) << c.args.back();
    EXPECT_TRUE(r.out.empty()) << c.args.back();
  }
  // Nothing changed.
  EXPECT_EQ(mirelo({"run", "LDCount", "LDName"}).out,
            (std::vector<std::string>{"LDCount=1", utf8("LDName=Без названия")}));
}

TEST_F(DevicesCommandTest, BadUsageChangesNothing) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"devices", "set"}, "mirelo: set needs at least one of --address"},
      {{"devices", "set", "--port", "0"}, "mirelo: --port must be 1 to 65535"},
      {{"devices", "set", "--port", "70000"}, "mirelo: --port must be 1 to 65535"},
      {{"devices", "set", "--port"}, "mirelo: --port needs a value"},
      {{"devices", "set", "--protocol", "ftp"}, "mirelo: --protocol takes udp or tcp, not 'ftp'"},
      {{"devices", "set", "--address", "192.168.0"}, "mirelo: --address takes an IPv4 address"},
      {{"devices", "set", "--address", "terminal.local"},
       "mirelo: --address takes an IPv4 address"},
      {{"devices", "set", "--timeout", "0"}, "mirelo: --timeout must be 1 to 65535"},
      {{"devices", "set", "--repeat-count", "0"}, "mirelo: --repeat-count must be 1 to 100"},
      {{"devices", "set", "--port", "5", "--port", "6"}, "mirelo: --port is given twice"},
      {{"devices", "set", "--device", "100", "--port", "5"}, "mirelo: --device must be 1 to 99"},
      {{"devices", "add", "--device", "2"}, "mirelo: unknown option '--device'"},
      {{"devices", "select"}, "mirelo: missing the device number"},
      {{"devices", "select", "two"}, "mirelo: the device number: 'two' is not an integer"},
      {{"devices", "select", "1", "2"}, "mirelo: unexpected argument '2'"},
      {{"devices", "rename"}, "mirelo: missing the new name"},
      {{"devices", "rename", "\xE2\x9C\x93"},
       "mirelo: '\xE2\x9C\x93' (U+2713) has no Windows-1251 byte"},
      {{"devices", "frobnicate"}, "mirelo: unknown action 'frobnicate'"},
      {{"--json", "devices"}, "mirelo: --json is not offered by 'devices'"},
  };
  for (const auto& [args, message] : cases) {
    Result r = mirelo(args);
    EXPECT_EQ(r.code, 2) << args.back();
    EXPECT_TRUE(r.out.empty()) << args.back();
    EXPECT_TRUE(r.err.starts_with(message)) << args.back() << ": " << r.err;
  }
  EXPECT_EQ(mirelo({"run", "ClientPort", "LDCount"}).out,
            (std::vector<std::string>{"ClientPort=1002", "LDCount=1"}));
}

TEST_F(DevicesCommandTest, TheDeviceSetHereIsTheOneTheStatusCommandReaches) {
  sim_.withState([](termsim::TerminalState& state) { state.status.setSerialNumber(777); });
  for (const char* protocol : {"udp", "tcp"}) {
    pointAtSimulator(protocol);
    sim_.clearJournal();
    Result r = mirelo({"status"});
    EXPECT_EQ(r.code, 0) << protocol << ": " << r.err;
    EXPECT_NE(std::find(r.out.begin(), r.out.end(), "Serial number: 777"), r.out.end()) << protocol;
    // The status request itself goes by the device's protocol (a TCP
    // connection first checks the mode over UDP).
    std::vector<termsim::JournalEntry> journal = sim_.journal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back().bytes, "\xBB");
    EXPECT_EQ(journal.back().transport,
              std::string(protocol) == "udp" ? termsim::Transport::UDP : termsim::Transport::TCP);
  }
}

class ServerCommandTest : public CommandTest {};

TEST_F(ServerCommandTest, ShowsTheDefaults) {
  Result r = mirelo({"server"});
  EXPECT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(r.out.size(), 5u);
  EXPECT_EQ(r.out[0], "Server port: 2004");
  EXPECT_EQ(r.out[1], "Server protocol: TCP");
  EXPECT_EQ(r.out[2], "Log: off");
  EXPECT_TRUE(r.out[3].starts_with("Log file: /")) << r.out[3];
  EXPECT_TRUE(r.out[3].ends_with(".log")) << r.out[3];
  EXPECT_EQ(r.out[4], "Firmware file: ");
  EXPECT_EQ(mirelo({"server", "show"}).out, r.out);
}

TEST_F(ServerCommandTest, SetIsStoredAndARelativeLogFileMadeAbsolute) {
  Result r = mirelo({"server", "set", "--port", "2010", "--protocol", "udp", "--log", "on",
                     "--log-file", "logs/../d.log"});
  EXPECT_EQ(r.code, 0) << r.err;
  std::string absolute = (std::filesystem::current_path() / "d.log").string();
  EXPECT_EQ(r.out, (std::vector<std::string>{"Server port: 2010", "Server protocol: UDP", "Log: on",
                                             "Log file: " + absolute, "Firmware file: "}));
  r = mirelo({"run", "ServerPort", "ServerProtocol", "LogEnabled", "LogFileName"});
  EXPECT_EQ(r.out, (std::vector<std::string>{"ServerPort=2010", "ServerProtocol=0",
                                             "LogEnabled=true", "LogFileName=" + absolute}));
  // Only what is given changes.
  r = mirelo({"server", "set", "--log", "OFF"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(mirelo({"run", "ServerPort", "LogEnabled"}).out,
            (std::vector<std::string>{"ServerPort=2010", "LogEnabled=false"}));
}

TEST_F(ServerCommandTest, BadUsage) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"server", "set"}, "mirelo: set needs at least one of --port"},
      {{"server", "set", "--port", "0"}, "mirelo: --port must be 1 to 65535"},
      {{"server", "set", "--log", "yes"}, "mirelo: --log takes on or off, not 'yes'"},
      {{"server", "set", "--protocol", "2"}, "mirelo: --protocol takes udp or tcp"},
      {{"server", "set", "--log-file", ""}, "mirelo: --log-file needs a path"},
      {{"server", "start"}, "mirelo: unknown action 'start'"},
      {{"server", "show", "--port", "1"}, "mirelo: unknown option '--port'"},
  };
  for (const auto& [args, message] : cases) {
    Result r = mirelo(args);
    EXPECT_EQ(r.code, 2) << args.back();
    EXPECT_TRUE(r.err.starts_with(message)) << args.back() << ": " << r.err;
  }
  EXPECT_EQ(mirelo({"run", "ServerPort"}).out, std::vector<std::string>{"ServerPort=2004"});
}

// Scans once the server listens: a refused connection is tried again.
termsim::ScanResult scanWhenListening(uint16_t port) {
  auto deadline = std::chrono::steady_clock::now() + 5s;
  for (;;) {
    termsim::ScanResult result = termsim::scan("127.0.0.1", port, "4600000000001", false, 4000);
    if (result.error.find("refused") == std::string::npos ||
        std::chrono::steady_clock::now() > deadline)
      return result;
    std::this_thread::sleep_for(10ms);
  }
}

TEST_F(ServerCommandTest, AHostOpensTheServerWhereItWasSet) {
  uint16_t port = freeTcpPort();
  Result r = mirelo({"server", "set", "--port", std::to_string(port), "--protocol", "tcp"});
  ASSERT_EQ(r.code, 0) << r.err;
  std::jthread terminal([port] { scanWhenListening(port); });
  r = mirelo({"run", "OpenServer", "wait=1500", "CloseServer"});
  EXPECT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(r.out.size(), 3u);
  EXPECT_TRUE(r.out[1].starts_with("DataEvent: SenderID=")) << r.out[1];
  EXPECT_TRUE(r.out[1].ends_with(" Data=4600000000001")) << r.out[1];
}

}  // namespace
}  // namespace mirelo::test
