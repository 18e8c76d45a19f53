// "mirelo dump" against a simulated terminal: every block until the 211, the
// raw bytes in the file, and a file that cannot be written.
#include <gtest/gtest.h>

#include "command_test_support.h"
#include "platform/format.h"

namespace mirelo::test {
namespace {

class DumpCommandTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    pointAtSimulator("tcp");
  }
  // Requests for data blocks the terminal received, by block number.
  std::vector<int> blocksAsked() const {
    std::vector<int> blocks;
    for (const termsim::JournalEntry& entry : sim_.journal())
      if (entry.bytes.size() == 4 && static_cast<uint8_t>(entry.bytes[0]) == 0x83)
        blocks.push_back(static_cast<uint8_t>(entry.bytes[2]) | static_cast<uint8_t>(entry.bytes[3])
                                                                    << 8);
    return blocks;
  }
};

TEST_F(DumpCommandTest, ReadsEveryBlockUntilTheTerminalRefusesTheNext) {
  sim_.setMemoryBlocks(1, 10);
  std::string memory = sim_.state().memories[1];
  std::string file = path("internal.bin");
  Result r = mirelo({"dump", "--memory", "1", file});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(readFile(file), memory);
  EXPECT_EQ(blocksAsked(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  ASSERT_EQ(r.out.size(), 12u);
  EXPECT_EQ(r.out[0], utf8("Reading memory 1 (Внутренняя ПД) of № 1 Без названия") +
                          format(" (127.0.0.1:%u TCP)", sim_.port()));
  for (int block = 1; block <= 10; ++block)
    EXPECT_EQ(r.out[static_cast<size_t>(block)], format("%d/10 blocks (%d%%)", block, block * 10));
  EXPECT_TRUE(
      r.out[11].starts_with(format("Wrote 10 blocks (10240 bytes) to %s in 0:0", file.c_str())))
      << r.out[11];
}

TEST_F(DumpCommandTest, AFailureWritesNothingAndKeepsAnOldFile) {
  std::string file = writeFile("old.bin", "old dump");
  dropEvery(3, 0x83);
  Result r = mirelo({"dump", "--memory", "0", file});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(
      r.err,
      utf8("mirelo: reading block 2 of memory 0 (Внешняя ПД), dump not written: (-1) Нет связи\n"));
  EXPECT_EQ(readFile(file), "old dump");
}

TEST_F(DumpCommandTest, AMemoryWithoutBlocks) {
  sim_.setMemoryBlocks(2, 0);
  std::string file = path("none.bin");
  Result r = mirelo({"dump", "--memory", "2", file});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(
      r.err,
      utf8("mirelo: the terminal has no block 0 of memory 2 (Внутренняя ПД CS8900A), dump not "
           "written: (211) Неверное значение параметров команды.\n"));
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(DumpCommandTest, AFileThatCannotBeWrittenSendsNothing) {
  std::string nowhere = path("no/such/folder/dump.bin");
  Result r = mirelo({"dump", "--memory", "0", nowhere});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "mirelo: cannot write the dump file '" + nowhere + "': folder '" +
                       path("no/such/folder") + "': No such file or directory\n");
  r = mirelo({"dump", "--memory", "0", dir().string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "mirelo: cannot write the dump file '" + dir().string() + "': it is a folder\n");
  EXPECT_EQ(sim_.requests(), 0u);
}

TEST_F(DumpCommandTest, Usage) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"dump", "out.bin"}, "mirelo: --memory CODE is required"},
      {{"dump", "--memory", "0"}, "mirelo: missing the file to write"},
      {{"dump", "--memory", "x", "out.bin"}, "mirelo: --memory: 'x' is not an integer"},
      {{"dump", "--memory", "256", "out.bin"}, "mirelo: --memory must be 0 to 255"},
  };
  for (const auto& [args, message] : cases) {
    Result r = mirelo(args);
    EXPECT_EQ(r.code, 2) << args.back();
    EXPECT_TRUE(r.err.starts_with(message)) << args.back() << ": " << r.err;
  }
  EXPECT_EQ(sim_.requests(), 0u);
}

}  // namespace
}  // namespace mirelo::test
