// Firmware update against the simulated terminal: the frame sequence, block
// numbering, the checks made before anything is sent, and the failures after
// it. Every update that gets past 0xC0 waits the terminal's full second, so
// the cases that need one share as few updates as possible.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "driver/errors/driver_error.h"
#include "driver/protocol/custom_driver.h"
#include "outcome.h"
#include "platform/format.h"
#include "tools/termsim/termsim.h"

using namespace mirelo;
using mirelo::test::outcome;
using termsim::JournalEntry;
using termsim::Transport;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kTooLarge = "Размер файла прошивки не может превышать 120 кБ.";
const char* const kNoProgrammingMode = "Не удалось перейти в режим программирования.";

// An image whose every 256-byte block differs from its neighbours, so a
// block sent twice or out of place shows.
std::string image(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return bytes;
}

class FirmwareUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    termsim::Options options;
    options.discoveryPort = -1;
    sim_ = std::make_unique<termsim::Simulator>(options);
    sim_->start();
    driver_.SetTimeout(300);
    driver_.SetDeviceAddress("127.0.0.1");
    driver_.SetClientPort(sim_->port());
    driver_.SetRepeatCount(3);
    dir_ = std::filesystem::path(::testing::TempDir()) / ("firmware_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string writeFile(const std::string& name, const std::string& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  termsim::Simulator& sim() { return *sim_; }
  std::vector<JournalEntry> journal() { return sim_->journal(); }
  // Command bytes of every frame the terminal received.
  std::string commands() {
    std::string out;
    for (const JournalEntry& entry : journal())
      out += format("%.2X ", static_cast<uint8_t>(entry.bytes.at(0)));
    return out;
  }

  std::unique_ptr<termsim::Simulator> sim_;
  TCustomDriver driver_;
  std::filesystem::path dir_;
};

TEST_F(FirmwareUpdate, FramesForEmptyPartialWholeAndLargestImages) {
  // The update goes over UDP whatever the client protocol, and drops the
  // open TCP connection first.
  driver_.SetClientProtocol(ptTCP);
  driver_.ReadStatus();
  ASSERT_TRUE(driver_.ClientConnected());

  for (size_t size : {size_t{0}, size_t{300}, size_t{512}, TCustomDriver::FirmwareMaxSize}) {
    SCOPED_TRACE(size);
    sim().clearJournal();
    std::string bytes = image(size);
    std::string path = writeFile(format("image_%zu.bin", size), bytes);
    std::vector<std::pair<int, int>> progress;
    unsigned updates = sim().firmwareUpdates();

    Clock::time_point start = Clock::now();
    driver_.UpdateFirmware(path, [&](int sent, int all) { progress.emplace_back(sent, all); });
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    if (size == TCustomDriver::FirmwareMaxSize)
      std::cout << "[ TIMING   ] 120 KB update (480 blocks) took " << elapsed.count()
                << " ms, of which 1000 ms is the programming-mode pause\n";
    EXPECT_GE(elapsed, TCustomDriver::ProgrammingModePause);

    const size_t blocks = (size + 255) / 256;
    std::vector<JournalEntry> frames = journal();
    ASSERT_EQ(frames.size(), 4 + blocks);
    for (const JournalEntry& frame : frames) EXPECT_EQ(frame.transport, Transport::UDP);
    EXPECT_EQ(bytesToHex(frames[0].bytes), "C0");
    EXPECT_EQ(bytesToHex(frames[1].bytes), "C3");
    EXPECT_EQ(bytesToHex(frames[2].bytes), "C0");
    EXPECT_EQ(bytesToHex(frames.back().bytes), "C2");
    for (size_t n = 1; n <= blocks; ++n) {
      const std::string& frame = frames[2 + n].bytes;
      size_t length = std::min<size_t>(256, size - (n - 1) * 256);
      ASSERT_EQ(frame.size(), 4 + length) << "block " << n;
      // 0xC1, 0x00, then the block number low byte first.
      EXPECT_EQ(bytesToHex(frame.substr(0, 4)),
                format("C1 00 %.2X %.2X", unsigned(n & 0xFF), unsigned(n >> 8)));
      EXPECT_EQ(frame.substr(4), bytes.substr((n - 1) * 256, length)) << "block " << n;
    }
    EXPECT_EQ(sim().firmware(), bytes);
    EXPECT_EQ(sim().firmwareUpdates(), updates + 1);
    EXPECT_FALSE(sim().programmingMode());
    EXPECT_FALSE(driver_.ClientConnected());
    EXPECT_FALSE(driver_.UDPClient().Connected());

    ASSERT_EQ(progress.size(), blocks);
    for (size_t n = 1; n <= blocks; ++n)
      EXPECT_EQ(progress[n - 1], std::make_pair(static_cast<int>(n), static_cast<int>(blocks)));

    if (size == 300) {
      EXPECT_EQ(frames[4].bytes.size(), 4u + 44u);
    }
    if (size == TCustomDriver::FirmwareMaxSize) {
      EXPECT_EQ(blocks, 480u);
      EXPECT_EQ(bytesToHex(frames[2 + 258].bytes.substr(0, 4)), "C1 00 02 01");
    }
  }
}

TEST_F(FirmwareUpdate, ATerminalThatStaysInNormalModeGetsNoBlock) {
  // 0xC0 answered with success but not obeyed: 0xC3 then reports mode 1.
  termsim::Faults faults;
  faults.errorFor = {{0xC0, 0}};
  sim().setFaults(faults);
  ResultOf result = outcome([&] { driver_.UpdateFirmware(writeFile("a.bin", image(1000))); });
  EXPECT_EQ(result.code, ResultCode::General);
  EXPECT_EQ(result.text, kNoProgrammingMode);
  EXPECT_EQ(commands(), "C0 C3 ");
}

TEST_F(FirmwareUpdate, ABlockRefusedByTheTerminalStopsWithoutRecovery) {
  termsim::Faults faults;
  faults.errorFor = {{0xC1, 217}};
  sim().setFaults(faults);
  ResultOf result = outcome([&] { driver_.UpdateFirmware(writeFile("b.bin", image(600))); });
  EXPECT_EQ(result.code, 217);
  EXPECT_EQ(result.text, deviceErrorText(217));
  // No 0xC2 and no other frame to recover.
  EXPECT_EQ(commands(), "C0 C3 C0 C1 ");
  EXPECT_TRUE(sim().programmingMode());
  EXPECT_FALSE(driver_.UDPClient().Connected());
}

TEST_F(FirmwareUpdate, ALostBlockReplyIsNotRepeated) {
  termsim::Faults faults;
  faults.onlyCommand = 0xC1;
  faults.dropEvery = 2;  // the second block's reply is lost
  sim().setFaults(faults);
  Clock::time_point start = Clock::now();
  ResultOf result = outcome([&] { driver_.UpdateFirmware(writeFile("c.bin", image(1024))); });
  EXPECT_EQ(result.code, ResultCode::NoConnection);
  EXPECT_EQ(commands(), "C0 C3 C0 C1 C1 ");
  // The pause, then one timeout; no second try of the block.
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000 + 300 + 1500));
}

TEST_F(FirmwareUpdate, AFileOverTheLimitIsRefusedBeforeAnythingIsSent) {
  driver_.SetClientProtocol(ptTCP);
  driver_.ReadStatus();
  sim().clearJournal();
  std::string path = writeFile("large.bin", image(TCustomDriver::FirmwareMaxSize + 1));
  ResultOf result = outcome([&] { driver_.UpdateFirmware(path); });
  EXPECT_EQ(result.code, ResultCode::General);
  EXPECT_EQ(result.text, kTooLarge);
  EXPECT_TRUE(journal().empty());
}

TEST_F(FirmwareUpdate, AFileThatCannotBeReadIsAFileError) {
  std::string missing = (dir_ / "missing.bin").string();
  std::string directory = dir_.string();
  for (const std::string& path : {missing, directory}) {
    SCOPED_TRACE(path);
    try {
      driver_.UpdateFirmware(path);
      ADD_FAILURE() << "accepted";
    } catch (const EFileError& e) {
      EXPECT_EQ(resultOf(e).code, ResultCode::General);
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
  EXPECT_TRUE(journal().empty());
}

TEST_F(FirmwareUpdate, TheFirstStepIsCheckedCodeFirstAndIsNotRepeated) {
  termsim::Faults faults;
  faults.errorFor = {{0xC0, 214}};
  faults.wrongCommand = 0xC7;
  sim().setFaults(faults);
  ResultOf result = outcome([&] { driver_.UpdateFirmware(writeFile("d.bin", image(10))); });
  EXPECT_EQ(result.code, ResultCode::InvalidData);
  EXPECT_EQ(result.text, format(ResultText::CommandMismatch, 0xC7, 0xC0));

  faults = {};
  faults.errorFor = {{0xC0, 214}};
  sim().setFaults(faults);
  EXPECT_EQ(outcome([&] { driver_.UpdateFirmware(writeFile("d.bin", image(10))); }).code, 214);

  faults = {};
  faults.dropEvery = 1;
  sim().setFaults(faults);
  EXPECT_EQ(outcome([&] { driver_.UpdateFirmware(writeFile("d.bin", image(10))); }).code,
            ResultCode::NoConnection);
  // Each attempt sent its 0xC0 once and nothing after it.
  EXPECT_EQ(commands(), "C0 C0 C0 ");
}

}  // namespace
