#include "driver/protocol/log_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

namespace mirelo {
namespace {

struct TempLog {
  std::string path;
  TempLog() {
    char pattern[] = "/tmp/mirelo-log-XXXXXX";
    int fd = mkstemp(pattern);
    ::close(fd);
    ::unlink(pattern);
    path = pattern;
  }
  ~TempLog() { ::unlink(path.c_str()); }
  std::string read() const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

TEST(LogFile, DataLinesHoldTenBytesBehindATimeStamp) {
  TempLog file;
  TLogFile log;
  log.SetFileName(file.path);
  log.SetEnabled(true);
  std::string frame;
  for (int i = 0; i < 23; ++i) frame += static_cast<char>(0xF0 + (i % 16));
  log.WriteData("UDP: -> ", frame);
  log.WriteData("UDP: <- ", "");
  auto lines = splitLines(file.read());
  ASSERT_EQ(lines.size(), 4u);
  const std::regex stamp(R"(^\d{2}\.\d{2}\.\d{4} \d{2}:\d{2}:\d{2}\.\d{3} )");
  for (const auto& line : lines) EXPECT_TRUE(std::regex_search(line, stamp)) << line;
  EXPECT_EQ(lines[0].substr(24), "UDP: -> F0 F1 F2 F3 F4 F5 F6 F7 F8 F9");
  EXPECT_EQ(lines[1].substr(24), "UDP: -> FA FB FC FD FE FF F0 F1 F2 F3");
  EXPECT_EQ(lines[2].substr(24), "UDP: -> F4 F5 F6");
  EXPECT_EQ(lines[3].substr(24), "UDP: <- ") << "empty data gives the prefix alone";
  EXPECT_EQ(log.LastLine(), lines[3]);
}

TEST(LogFile, TimeStampIsDayMonthYearAndMilliseconds) {
  std::string stamp = TLogFile::TimeStamp();
  ASSERT_EQ(stamp.size(), 24u);
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char expected[48];
  snprintf(expected, sizeof expected, "%02d.%02d.%04d", local.tm_mday, local.tm_mon + 1,
           local.tm_year + 1900);
  EXPECT_EQ(stamp.substr(0, 10), expected);
  EXPECT_EQ(stamp.back(), ' ');
}

TEST(LogFile, CallbackSeesTheLineBeforeItIsWritten) {
  TempLog file;
  TLogFile log;
  log.SetFileName(file.path);
  log.SetEnabled(true);
  std::vector<std::string> seen;
  log.OnLine = [&](TLogFile& sender) {
    seen.push_back(sender.LastLine());
    EXPECT_EQ(file.read().find(sender.LastLine()), std::string::npos) << "not yet in the file";
  };
  log.WriteSeparator();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].substr(24), std::string(60, '-'));
  EXPECT_NE(file.read().find(seen[0] + "\r\n"), std::string::npos);
}

TEST(LogFile, DisabledWritesAndCallsNothing) {
  TempLog file;
  TLogFile log;
  log.SetFileName(file.path);
  int calls = 0;
  log.OnLine = [&](TLogFile&) { ++calls; };
  log.WriteLine("quiet");
  log.WriteData("TCP: -> ", "abc");
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(access(file.path.c_str(), F_OK), -1) << "no file is even created";
  EXPECT_EQ(log.LastLine(), "");
}

TEST(LogFile, ReenablingReopensAndAppends) {
  TempLog file;
  TLogFile log;
  log.SetFileName(file.path);
  log.SetEnabled(true);
  log.WriteLine("first");
  EXPECT_TRUE(log.IsOpen());
  log.SetEnabled(false);
  EXPECT_FALSE(log.IsOpen());
  log.WriteLine("lost");
  log.SetEnabled(true);
  log.WriteLine("second");
  auto lines = splitLines(file.read());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(24), "first");
  EXPECT_EQ(lines[1].substr(24), "second");
  // Another log object later appends to the same file too.
  TLogFile other;
  other.SetFileName(file.path);
  other.SetEnabled(true);
  other.WriteLine("third");
  EXPECT_EQ(splitLines(file.read()).size(), 3u);
}

TEST(LogFile, AnUnopenableFileLosesTheLineQuietlyAndTriesAgain) {
  TLogFile log;
  log.SetFileName("/nonexistent-folder/x.log");
  log.SetEnabled(true);
  int calls = 0;
  log.OnLine = [&](TLogFile&) { ++calls; };
  EXPECT_NO_THROW(log.WriteLine("a"));
  EXPECT_NO_THROW(log.WriteLine("b"));
  EXPECT_EQ(calls, 2) << "the host still hears every line";
  TempLog file;
  log.SetFileName(file.path);
  log.WriteLine("c");
  EXPECT_EQ(splitLines(file.read()).size(), 1u);
}

}  // namespace
}  // namespace mirelo

namespace mirelo {
namespace {

TEST(LogFile, ARussianFileNameIsAUtf8NameOnDisk) {
  char pattern[] = "/tmp/mirelo-logdir-XXXXXX";
  std::string folder = mkdtemp(pattern);
  TLogFile log;
  log.SetFileName(folder + "/журнал.log");  // Windows-1251 inside the driver
  log.SetEnabled(true);
  log.WriteLine("строка");
  std::string onDisk = folder + "/" + reinterpret_cast<const char*>(u8"журнал.log");
  EXPECT_EQ(access(onDisk.c_str(), F_OK), 0);
  ::unlink(onDisk.c_str());
  ::rmdir(folder.c_str());
}

// The log holds every frame: it is its owner's alone, and a link planted
// where it is to be created is not followed.
TEST(LogFile, IsCreatedForItsOwnerAloneAndNeverThroughALink) {
  TempLog log, victim;
  TLogFile file;
  file.SetFileName(log.path);
  file.SetEnabled(true);
  file.WriteLine("one");
  struct stat info {};
  ASSERT_EQ(::stat(log.path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  file.SetEnabled(false);
  ::unlink(log.path.c_str());
  std::ofstream(victim.path) << "kept";
  ASSERT_EQ(::symlink(victim.path.c_str(), log.path.c_str()), 0);
  file.SetEnabled(true);
  file.WriteLine("two");
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(victim.read(), "kept");
}

}  // namespace
}  // namespace mirelo
