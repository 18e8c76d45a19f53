// "mirelo firmware" against a simulated terminal, and the block count it takes
// from the driver's log lines.
#include <gtest/gtest.h>

#include "command_test_support.h"
#include "platform/format.h"

namespace mirelo::test {
namespace {

std::string image(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 37 + i / 256) & 0xFF);
  return bytes;
}

class FirmwareCommandTest : public CommandTest {
 protected:
  std::string device() const {
    return utf8("№ 1 Без названия") + format(" (127.0.0.1:%u UDP)", sim_.port());
  }
  std::vector<std::string> storedSettings() {
    return mirelo({"run", "SoftFileName", "LogEnabled", "LogFileName"}).out;
  }
};

TEST_F(FirmwareCommandTest, LoadsTheImageWithProgressAndLeavesTheSettings) {
  pointAtSimulator("tcp");  // firmware goes over UDP whatever the device's protocol
  std::vector<std::string> before = storedSettings();
  std::string bytes = image(300);
  std::string file = writeFile("fw.bin", bytes);
  Result r = mirelo({"firmware", file});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.out.size(), 4u);
  EXPECT_EQ(r.out[0], "Loading " + file + " (300 bytes, 2 blocks) into " +
                          utf8("№ 1 Без названия") + format(" (127.0.0.1:%u TCP)", sim_.port()));
  EXPECT_EQ(r.out[1], "1/2 blocks (50%)");
  EXPECT_EQ(r.out[2], "2/2 blocks (100%)");
  EXPECT_TRUE(r.out[3].starts_with("Firmware loaded in 0:0")) << r.out[3];
  EXPECT_EQ(sim_.firmware(), bytes);
  EXPECT_EQ(sim_.firmwareUpdates(), 1u);
  for (const termsim::JournalEntry& entry : sim_.journal())
    EXPECT_EQ(entry.transport, termsim::Transport::UDP);
  // No log file was written and nothing stored changed.
  EXPECT_EQ(storedSettings(), before);
}

TEST_F(FirmwareCommandTest, AUsersLogKeepsItsLinesAndTheProgressStillCounts) {
  pointAtSimulator();
  std::string log = path("driver.log");
  ASSERT_EQ(mirelo({"server", "set", "--log", "on", "--log-file", log}).code, 0);
  std::string bytes = image(10 * 256);
  Result r = mirelo({"firmware", "--device", "1", writeFile("fw.bin", bytes)});
  EXPECT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(r.out.size(), 12u);
  for (int block = 1; block <= 10; ++block)
    EXPECT_EQ(r.out[static_cast<size_t>(block)], format("%d/10 blocks (%d%%)", block, block * 10));
  EXPECT_EQ(sim_.firmware(), bytes);
  std::string lines = readFile(log);
  EXPECT_NE(lines.find("UDP: -> C1 00 0A 00"), std::string::npos);
  EXPECT_EQ(mirelo({"run", "LogEnabled", "LogFileName"}).out,
            (std::vector<std::string>{"LogEnabled=true", "LogFileName=" + log}));
}

TEST_F(FirmwareCommandTest, AFileThatCannotBeLoadedSendsNothing) {
  pointAtSimulator();
  std::string missing = path("missing.bin");
  const std::pair<std::string, std::string> cases[] = {
      {missing,
       "mirelo: cannot open the firmware file '" + missing + "': No such file or directory\n"},
      {dir().string(),
       "mirelo: the firmware file '" + dir().string() + "' is not a regular file\n"},
      {writeFile("empty.bin", ""),
       "mirelo: the firmware file '" + path("empty.bin") + "' is empty: nothing to load\n"},
      {writeFile("big.bin", image(122881)),
       "mirelo: loading the firmware: " +
           utf8("(-199) Размер файла прошивки не может превышать 120 кБ.\n")},
  };
  for (const auto& [file, message] : cases) {
    Result r = mirelo({"firmware", file});
    EXPECT_EQ(r.code, 1) << file;
    EXPECT_EQ(r.err, message);
  }
  EXPECT_EQ(sim_.requests(), 0u);
  EXPECT_EQ(mirelo({"firmware"}).code, 2);
  EXPECT_EQ(mirelo({"firmware", "a.bin", "b.bin"}).code, 2);
}

TEST_F(FirmwareCommandTest, ATerminalThatRefusesABlockFailsTheUpdate) {
  pointAtSimulator();
  std::vector<std::string> before = storedSettings();
  failCommand(0xC1, termsim::DeviceError::WrongSequence);
  Result r = mirelo({"firmware", writeFile("fw.bin", image(600))});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            utf8("mirelo: loading the firmware: (214) Неверная последовательность команд.\n"));
  ASSERT_EQ(r.out.size(), 1u);
  EXPECT_EQ(sim_.firmwareUpdates(), 0u);
  EXPECT_EQ(storedSettings(), before);
}

}  // namespace
}  // namespace mirelo::test
