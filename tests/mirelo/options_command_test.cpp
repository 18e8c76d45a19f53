// The pieces every command for people shares: its option parser and the
// progress meter of long transfers.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/mirelo/command_line.h"
#include "tools/mirelo/progress_meter.h"
#include "tools/mirelo/usage_error.h"

namespace mirelo::test {
namespace {

using shell::CommandLine;
using shell::UsageError;
using namespace std::chrono_literals;

const std::vector<shell::OptionSpec> kSpecs{{"--device", true}, {"--all", false}, {"--port", true}};

TEST(CommandLine, OptionsFlagsAndPositionalArguments) {
  CommandLine line({"a", "--device", "2", "--all", "--port=1002", "b", "--", "--all", "-x"},
                   kSpecs);
  EXPECT_FALSE(line.help());
  EXPECT_EQ(line.value("--device"), "2");
  EXPECT_EQ(line.value("--port"), "1002");
  EXPECT_TRUE(line.has("--all"));
  EXPECT_EQ(line.value("--all"), std::nullopt);
  EXPECT_EQ(line.positional(), (std::vector<std::string>{"a", "b", "--all", "-x"}));
  EXPECT_EQ(line.integer("--port", 1, 65535), 1002);
  EXPECT_EQ(line.integer("--missing", 1, 2), std::nullopt);
  // A lone "-" and an empty value are arguments like any other.
  CommandLine plain({"-", "--device=", "--port", "--", "++"}, kSpecs);
  EXPECT_EQ(plain.positional(), (std::vector<std::string>{"-", "++"}));
  EXPECT_EQ(plain.value("--device"), "");
  EXPECT_EQ(plain.value("--port"), "--");
  EXPECT_TRUE(CommandLine({"x", "-h"}, kSpecs).help());
  EXPECT_FALSE(CommandLine({"--", "--help"}, kSpecs).help());
}

TEST(CommandLine, Refusals) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--frob"}, "unknown option '--frob'"},
      {{"--frob=1"}, "unknown option '--frob'"},
      {{"-d"}, "unknown option '-d'"},
      {{"--device"}, "--device needs a value"},
      {{"--all=1"}, "--all takes no value"},
      {{"--all="}, "--all takes no value"},
      {{"--all", "--all"}, "--all is given twice"},
      {{"--all", "--all=true"}, "--all is given twice"},
      {{"--port", "1", "--port=2"}, "--port is given twice"},
      {{"--port", "1", "--port"}, "--port is given twice"},
      {{"--help=1"}, "unknown option '--help'"},
      {{"-hx"}, "unknown option '-hx'"},
      {{"-5", "--frob"}, "unknown option '-5'"},
      {{"--frob", "--port"}, "unknown option '--frob'"},
  };
  for (const auto& [args, message] : cases) {
    try {
      CommandLine line(args, kSpecs);
      ADD_FAILURE() << "accepted " << args[0];
    } catch (const UsageError& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  }
}

TEST(CommandLine, CheckedValues) {
  EXPECT_EQ(shell::parseBounded("0x3EA", 1, 65535, "--port"), 1002);
  EXPECT_EQ(shell::parseProtocol("UDP", "--protocol"), ptUDP);
  EXPECT_EQ(shell::parseProtocol("1", "--protocol"), ptTCP);
  EXPECT_TRUE(shell::isDottedAddress("127.0.0.1"));
  for (const char* text : {"127.0.0", "127.0.0.1.1", "256.1.1.1", "localhost", ""})
    EXPECT_FALSE(shell::isDottedAddress(text)) << text;
  const std::pair<const char*, int32_t> seconds[] = {
      {"0", 0}, {"2", 2000}, {"0.5", 500}, {"1.25", 1250}, {"600", 600000}};
  for (const auto& [text, ms] : seconds)
    EXPECT_EQ(shell::parseSeconds(text, 600, "--seconds"), ms) << text;
  for (const char* text : {"", ".5", "5.", "1.2345", "-1", "600.001", "1e3", "1,5"})
    EXPECT_THROW(shell::parseSeconds(text, 600, "--seconds"), UsageError) << text;
  EXPECT_THROW(shell::parseBounded("0", 1, 99, "--device"), UsageError);
  EXPECT_THROW(shell::parseBounded("", 1, 99, "--device"), UsageError);
  EXPECT_THROW(shell::parseProtocol("ip", "--protocol"), UsageError);
  CommandLine line({"--log", "On"}, {{"--log", true}});
  EXPECT_EQ(line.onOff("--log"), true);
}

// A clock the test moves by hand.
struct FakeClock {
  shell::ProgressMeter::Clock::time_point now{};
  std::function<shell::ProgressMeter::Clock::time_point()> function() {
    return [this] { return now; };
  }
};

TEST(ProgressMeter, PlainLinesAtEveryTenth) {
  std::ostringstream out;
  FakeClock clock;
  shell::ProgressMeter meter(out, false, "blocks", 100, clock.function());
  meter.setTotal(25);
  for (int done = 1; done <= 25; ++done) meter.update(done);
  meter.finish();
  EXPECT_EQ(out.str(),
            "3/25 blocks (12%)\n5/25 blocks (20%)\n8/25 blocks (32%)\n10/25 blocks (40%)\n13/25 "
            "blocks (52%)\n"
            "15/25 blocks (60%)\n18/25 blocks (72%)\n20/25 blocks (80%)\n23/25 blocks (92%)\n25/25 "
            "blocks (100%)\n");
}

TEST(ProgressMeter, PlainLinesWithoutATotal) {
  std::ostringstream out;
  shell::ProgressMeter meter(out, false, "blocks", 4);
  for (int done = 1; done <= 10; ++done) meter.update(done);
  EXPECT_EQ(out.str(), "4 blocks\n8 blocks\n");
}

TEST(ProgressMeter, ABarRedrawnInPlaceWithTheTimeLeft) {
  std::ostringstream out;
  FakeClock clock;
  shell::ProgressMeter meter(out, true, "blocks", 100, clock.function());
  meter.setTotal(480);
  clock.now += 30s;
  meter.update(120);
  EXPECT_EQ(out.str(), "\r[#####...............]  120/480 blocks   25%  1:30 left\x1B[K");
  // Redrawn at most every 100 ms, except for the end.
  clock.now += 50ms;
  meter.update(121);
  EXPECT_EQ(out.str().find("121/480"), std::string::npos);
  // The time left follows the rate since the first update: 30 units in 60 s.
  clock.now += 59950ms;
  meter.update(150);
  EXPECT_TRUE(out.str().ends_with("  150/480 blocks   31%  11:00 left\x1B[K")) << out.str();
  clock.now += 2h;
  meter.update(480);
  EXPECT_TRUE(out.str().ends_with("\r[####################]  480/480 blocks  100%  2:01:30\x1B[K"))
      << out.str();
  meter.finish();
  EXPECT_TRUE(out.str().ends_with("\n"));
  EXPECT_EQ(shell::ProgressMeter::clockText(-5s), "0:00");
  EXPECT_EQ(shell::ProgressMeter::clockText(3599s), "59:59");
}

}  // namespace
}  // namespace mirelo::test
