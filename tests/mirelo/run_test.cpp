// "mirelo run" in-process against a simulated terminal.
#include <gtest/gtest.h>

#include "platform/format.h"
#include "shell_test_support.h"
#include "tools/termsim/termsim.h"

namespace mirelo::test {
namespace {

class RunTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    sim_.withState([](termsim::TerminalState& state) {
      state.status.versionMajor = 3;
      state.status.versionMinor = 7;
      state.status.setSerialNumber(4242);
      state.status.flags = termsim::StatusFlag::Locked;
    });
    sim_.start();
  }
  // The current device pointed at the simulator before any exchange. The
  // address reaches the driver core only when the device is applied again
  // (LDNumber, LDIndex or Connect): until then it is the stored one.
  std::vector<std::string> device(const char* protocol = "0") const {
    return {"LDNumber=1",
            "ClientIP=127.0.0.1",
            format("ClientPort=%u", sim_.port()),
            std::string("ClientProtocol=") + protocol,
            "ClientTimeout=300",
            "LDNumber=1"};
  }
  std::vector<std::string> run(std::vector<std::string> items, bool json = false) const {
    std::vector<std::string> args{"run"};
    if (json) args.push_back("--json");
    args.insert(args.end(), items.begin(), items.end());
    return args;
  }
  static std::vector<std::string> join(std::vector<std::string> a,
                                       const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }

  termsim::Simulator sim_;
};

TEST_F(RunTest, ReadsATerminalsStatus) {
  for (const char* protocol : {"0", "1"}) {
    Result r =
        mirelo(run(join(device(protocol), {"Connect", "GetStatus", "SoftVersion", "SerialNumber",
                                           "IsDeviceLocked", "ClientConnected"})));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              (std::vector<std::string>{
                  utf8("Connect: 0 Ошибок нет"), utf8("GetStatus: 0 Ошибок нет"), "SoftVersion=3.7",
                  "SerialNumber=4242", "IsDeviceLocked=true", "ClientConnected=true"}))
        << "protocol " << protocol;
  }
}

TEST_F(RunTest, ReportsAFailingMethodAndGoesOn) {
  sim_.stop();  // nothing answers on the port any more
  Result r = mirelo(run(join(device("1"), {"Connect", "ResultCode", "FileVersion"})));
  EXPECT_EQ(r.code, 1);
  ASSERT_EQ(r.out.size(), 3u);
  EXPECT_TRUE(r.out[0].starts_with("Connect: -")) << r.out[0];
  EXPECT_NE(r.out[0], utf8("Connect: 0 Ошибок нет"));
  EXPECT_EQ(r.out[1], "ResultCode=" + r.out[0].substr(9, r.out[0].find(' ', 9) - 9));
  EXPECT_EQ(r.out[2], format("FileVersion=%d.%d.%d.%d", MIRELO_VERSION_MAJOR, MIRELO_VERSION_MINOR,
                             MIRELO_VERSION_RELEASE, MIRELO_VERSION_BUILD));
}

TEST_F(RunTest, AFailedWriteCarriesTheObjectsMessage) {
  Result r = mirelo(run({"LDNumber=1", "ClientTimeout=0", "ClientTimeout", "ResultCode"}));
  EXPECT_EQ(r.code, 1);
  // Nothing changes: neither the device nor ResultCode.
  EXPECT_EQ(r.out, (std::vector<std::string>{utf8("ClientTimeout: error: Недопустимое значение"),
                                             "ClientTimeout=3000", "ResultCode=0"}));
}

TEST_F(RunTest, AWriteRefusedByResultCodeOnlyDoesNotFailTheRun) {
  Result before = mirelo(run({"LDNumber=1", "ClientProtocol"}));
  ASSERT_EQ(before.out.size(), 1u);
  Result r = mirelo(run(
      {"LDNumber=1", "ClientProtocol=2", "ResultCode", "ResultCodeDescription", "ClientProtocol"}));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, (std::vector<std::string>{"ResultCode=-6",
                                             utf8("ResultCodeDescription=Недопустимое значение"),
                                             before.out[0]}));
}

TEST_F(RunTest, UnknownMemberRunsNothing) {
  Result r = mirelo(run({"LDNumber=1", "SendEvent", "Frobnicate", "SendEvent"}));
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(r.err, "mirelo: unknown member 'Frobnicate'\n");
  r = mirelo(run({utf8("НетТакого=1")}));
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "mirelo: unknown member '" + utf8("НетТакого") + "'\n");
}

TEST_F(RunTest, RefusesItemsThatCannotRun) {
  const std::pair<const char*, const char*> cases[] = {
      {"ClientPort=abc", "mirelo: invalid value for ClientPort: 'abc' is not an integer"},
      {"ClientPort=", "mirelo: invalid value for ClientPort: '' is not an integer"},
      {"LockDevices=yes", "mirelo: invalid value for LockDevices: 'yes' is not a Boolean"},
      {"Line1=a\\", "mirelo: invalid value for Line1: a text ends with a lone '\\'"},
      {"Line1=\xE2\x9C\x93",
       "mirelo: invalid value for Line1: '\xE2\x9C\x93' (U+2713) has no Windows-1251 byte"},
      {"Connect=1", "mirelo: Connect is a method and takes no value"},
      {"ClientConnected=true", "mirelo: ClientConnected is read-only"},
      {"wait", "mirelo: wait needs a time"},
      {"wait=-5", "mirelo: wait needs a time of 0 milliseconds or more"},
      {"wait=soon", "mirelo: 'soon' is not an integer"},
      {"=5", "mirelo: unknown member ''"},
  };
  for (const auto& [item, message] : cases) {
    Result r = mirelo(run({"SendEvent", item}));
    EXPECT_EQ(r.code, 2) << item;
    EXPECT_TRUE(r.out.empty()) << item;
    EXPECT_TRUE(r.err.starts_with(message)) << item << ": " << r.err;
  }
}

TEST_F(RunTest, TextRoundTripsThroughEscapes) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\\\\b\\tc\\r\\n\\x01\\x1F end", "a\\\\b\\tc\\r\\n\\x01\\x1F end"},
      {"  blanks kept  ", "  blanks kept  "},
      {"a=b=c", "a=b=c"},
      {"\\x41\\x42", "AB"},
      {"\\xC0\\xE9", utf8("Ай")},
      {utf8("Молоко 1 л"), utf8("Молоко 1 л")},
      {"\\x00x", "\\x00x"},
  };
  for (const auto& [input, printed] : cases) {
    Result r = mirelo(run({"Line1=" + input, "Line1"}));
    EXPECT_EQ(r.code, 0) << input;
    EXPECT_EQ(r.out, std::vector<std::string>{"Line1=" + printed}) << input;
  }
  // Binary members carry every byte, including those without a letter.
  Result r = mirelo(run({"ServerData=\\xAB\\x00\\x98\\xFF", "ServerData"}));
  EXPECT_EQ(r.out,
            std::vector<std::string>{"ServerData=" + std::string("\xC2\xAB\\x00\\x98\xD1\x8F")});
}

TEST_F(RunTest, NamesAreEnglishOrRussianInAnyCase) {
  Result r = mirelo(run({utf8("номерЛУ=1"), utf8("СТРОКА1=Цена"), utf8("строка1"), "line1",
                         "LINE2=x", "Line2", utf8("ПослатьСобытие")}));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, (std::vector<std::string>{utf8("Line1=Цена"), utf8("Line1=Цена"), "Line2=x",
                                             "DataEvent: SenderID=123 Data=Test",
                                             utf8("SendEvent: 0 Ошибок нет")}));
}

TEST_F(RunTest, PrintsByteArraysAsHexadecimal) {
  std::string block(termsim::kBlockSize, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + 1);
  sim_.withState([&](termsim::TerminalState& state) { state.memories[2] = block; });
  Result r = mirelo(run({"DataBlockSA"}));
  EXPECT_EQ(r.out, std::vector<std::string>{"DataBlockSA="});
  r = mirelo(run(join(device(), {"DeviceCode=2", "DataBlockNumber=0", "GetData", "DataBlockSA"})));
  EXPECT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(r.out.size(), 2u);
  EXPECT_EQ(r.out[0], utf8("GetData: 0 Ошибок нет"));
  EXPECT_EQ(r.out[1], "DataBlockSA=" + bytesToHex(block));
}

TEST_F(RunTest, PrintsLogLinesAsTheyAreWritten) {
  std::string log = (dir() / "driver.log").string();
  Result r = mirelo(run(join(device(), {"LogFileName=" + log, "LogEnabled=true", "GetStatus",
                                        "LogEnabled=false", "GetStatus"})));
  EXPECT_EQ(r.code, 0) << r.err;
  ASSERT_GE(r.out.size(), 3u);
  // The lines of the first exchange come during the call, before its result.
  EXPECT_TRUE(r.out.front().starts_with("LogEvent: ")) << r.out.front();
  EXPECT_EQ(r.out[r.out.size() - 2], utf8("GetStatus: 0 Ошибок нет"));
  EXPECT_EQ(r.out.back(), utf8("GetStatus: 0 Ошибок нет"));
  for (size_t i = 0; i + 2 < r.out.size(); ++i)
    EXPECT_TRUE(r.out[i].starts_with("LogEvent: ")) << r.out[i];
}

TEST_F(RunTest, PrintsJsonLines) {
  Result r =
      mirelo(run(join(device(), {"GetStatus", "SerialNumber", "IsDeviceLocked", "SoftVersion",
                                 "ClientTimeout=0", "Line1=a\"b\\\\c\\t" + utf8("й"), "Line1",
                                 "SendEvent", "ShowTables"}),
                 true));
  EXPECT_EQ(r.code, 1);
  ASSERT_EQ(r.out.size(), 9u);
  EXPECT_EQ(r.out[0], utf8("{\"call\":\"GetStatus\",\"code\":0,\"description\":\"Ошибок нет\"}"));
  EXPECT_EQ(r.out[1], "{\"read\":\"SerialNumber\",\"value\":4242}");
  EXPECT_EQ(r.out[2], "{\"read\":\"IsDeviceLocked\",\"value\":true}");
  EXPECT_EQ(r.out[3], "{\"read\":\"SoftVersion\",\"value\":\"3.7\"}");
  EXPECT_EQ(r.out[4], utf8("{\"write\":\"ClientTimeout\",\"error\":\"Недопустимое значение\"}"));
  EXPECT_EQ(r.out[5], utf8("{\"read\":\"Line1\",\"value\":\"a\\\"b\\\\c\\tй\"}"));
  EXPECT_EQ(r.out[6], "{\"event\":\"DataEvent\",\"SenderID\":123,\"Data\":\"Test\"}");
  EXPECT_EQ(r.out[7], utf8("{\"call\":\"SendEvent\",\"code\":0,\"description\":\"Ошибок нет\"}"));
  // Without the dialogs the tables dialog fails by its result code.
  EXPECT_TRUE(r.out[8].starts_with("{\"call\":\"ShowTables\",\"code\":-199,\"description\":\""))
      << r.out[8];
}

TEST_F(RunTest, DialogMembersWithoutDialogsFailAtThePlatformLevel) {
  Result r = mirelo(run({"AboutBox", "ShowProperties", "FileVersion"}));
  EXPECT_EQ(r.code, 1);
  ASSERT_EQ(r.out.size(), 3u);
  EXPECT_TRUE(r.out[0].starts_with("AboutBox: error: ")) << r.out[0];
  EXPECT_TRUE(r.out[1].starts_with("ShowProperties: error: ")) << r.out[1];
  EXPECT_GT(r.out[0].size(), std::string("AboutBox: error: ").size());
  EXPECT_TRUE(r.out[2].starts_with("FileVersion="));
}

TEST_F(RunTest, CommandLineUsage) {
  Result r = mirelo({});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("Usage:"), std::string::npos);
  for (const auto& args : std::vector<std::vector<std::string>>{{"frob"},
                                                                {"--frob", "run", "FileVersion"},
                                                                {"run"},
                                                                {"shell", "FileVersion"},
                                                                {"help", "frob"}}) {
    r = mirelo(args);
    EXPECT_EQ(r.code, 2) << args[0];
    EXPECT_TRUE(r.out.empty()) << args[0];
    EXPECT_TRUE(r.err.starts_with("mirelo: ")) << r.err;
    EXPECT_NE(r.err.find("mirelo [--json] run ITEM..."), std::string::npos);
  }
  // The first argument in error wins; a help option stops reading.
  const std::pair<std::vector<std::string>, const char*> firstLines[] = {
      {{"--json=1", "run", "FileVersion"}, "mirelo: unknown option '--json=1'"},
      {{"--", "run", "FileVersion"}, "mirelo: unknown option '--'"},
      {{"-hx"}, "mirelo: unknown option '-hx'"},
      {{"--frob", "--help"}, "mirelo: unknown option '--frob'"},
      {{"frob", "run", "--help"}, "mirelo: unknown subcommand 'frob'"},
      {{"run", "FileVersion", "-", "--help"}, "mirelo: unknown option '-'"},
      {{"--json", "status"}, "mirelo: --json is not offered by 'status' (only by run and shell)"},
      {{"status", "++"}, "mirelo: unexpected argument '++'"},
      {{"--help", "--frob"}, "Usage: mirelo [--json] SUBCOMMAND [ARGUMENTS]"},
      {{"run", "Frob", "--json", "--help"}, "Usage: mirelo run [--json] ITEM..."},
      {{"help", "run", "-h"}, "Usage: mirelo help [SUBCOMMAND]"},
  };
  for (const auto& [args, line] : firstLines) {
    r = mirelo(args);
    std::string first = r.out.empty() ? r.err.substr(0, r.err.find('\n')) : r.out[0];
    EXPECT_EQ(first, line) << args[0];
    EXPECT_EQ(r.code, r.out.empty() ? 2 : 0) << args[0];
  }
  r = mirelo({"--help"});
  EXPECT_EQ(r.code, 0);
  ASSERT_FALSE(r.out.empty());
  EXPECT_EQ(r.out[0], "Usage: mirelo [--json] SUBCOMMAND [ARGUMENTS]");
  std::string help;
  for (const std::string& line : r.out) help += line + "\n";
  EXPECT_NE(help.find(utf8("НомерЛУ=1")), std::string::npos);  // UTF-8, not Windows-1251
  EXPECT_NE(help.find("--json"), std::string::npos);
  for (const char* subcommand : {"run", "shell"}) {
    Result own = mirelo({subcommand, "--help"});
    EXPECT_EQ(own.code, 0);
    ASSERT_FALSE(own.out.empty());
    EXPECT_EQ(own.out[0].rfind(std::string("Usage: mirelo ") + subcommand, 0), 0u) << own.out[0];
    EXPECT_NE(own.out, r.out);
    EXPECT_EQ(mirelo({"help", subcommand}).out, own.out);
  }
}

}  // namespace
}  // namespace mirelo::test
