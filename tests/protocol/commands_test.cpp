// The terminal command set against the simulated terminal on loopback: the
// bytes of every request, the exchange form, the reply minimum, and the
// decoding of every reply, over UDP and TCP.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "driver/errors/driver_error.h"
#include "driver/protocol/custom_driver.h"
#include "driver/protocol/status_rec.h"
#include "outcome.h"
#include "platform/format.h"
#include "platform/process.h"
#include "tools/termsim/termsim.h"

using namespace mirelo;
using mirelo::test::outcome;
using namespace std::chrono_literals;
using termsim::JournalEntry;
using termsim::Transport;

namespace {

constexpr uint16_t kTimeoutMs = 300;

std::string hex(std::string_view bytes) {
  return bytesToHex(bytes);
}

std::string frameTooShort(int length, int minimum) {
  return format(ResultText::FrameTooShort, length, minimum);
}

// A scratch directory with a stand-in `arp` first on PATH: it appends one
// line of its arguments to a file per call.
class ArpStub {
 public:
  ArpStub() {
    dir_ = std::filesystem::path(::testing::TempDir()) /
           ("arp_stub_" + std::to_string(getpid()) + "_" + std::to_string(++counter_));
    std::filesystem::create_directories(dir_);
    log_ = dir_ / "calls.txt";
    std::filesystem::path script = dir_ / "arp";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" << log_.string() << "'\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const char* path = getenv("PATH");
    oldPath_ = path ? path : "";
    setenv("PATH", (dir_.string() + ":" + oldPath_).c_str(), 1);
  }
  ~ArpStub() {
    setenv("PATH", oldPath_.c_str(), 1);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  // The calls once there are `count` of them (or what there is after 5 s).
  std::vector<std::string> calls(size_t count) const {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    std::vector<std::string> lines;
    do {
      lines = read();
      if (lines.size() >= count) break;
      std::this_thread::sleep_for(10ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return lines;
  }
  std::vector<std::string> read() const {
    std::vector<std::string> lines;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  static inline int counter_ = 0;
  std::filesystem::path dir_, log_;
  std::string oldPath_;
};

class TerminalCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    termsim::Options options;
    options.discoveryPort = -1;
    sim_ = std::make_unique<termsim::Simulator>(options);
    sim_->start();
    sim_->setMemoryBlocks(1, 300);
    driver_.SetTimeout(kTimeoutMs);
    driver_.SetDeviceAddress("127.0.0.1");
    driver_.SetClientPort(sim_->port());
    driver_.SetRepeatCount(1);
  }
  void TearDown() override { driver_.CloseClient(); }

  termsim::Simulator& sim() { return *sim_; }
  std::vector<JournalEntry> journal() { return sim_->journal(); }

  std::unique_ptr<termsim::Simulator> sim_;
  TCustomDriver driver_;
  ArpStub arp_;
};

// Every command: what it sends, whether it is repeated, its reply minimum.
struct CommandCase {
  std::string name;
  std::function<void(TCustomDriver&)> run;
  std::string request;  // hex
  bool repeated;
  size_t minimum;
};

std::vector<CommandCase> commandCases(termsim::Simulator& sim) {
  std::string table1 = sim.withState([](termsim::TerminalState& s) { return s.tables[1].data; });
  std::string shown = format("%-30s%-30s", "Hello", "World");
  std::string shown2 = format("%-40s%-40s", "Top", "Bottom");
  std::string stored = format("%-30s%-30s", "One", "Two");
  return {
      {"ReadStatus", [](TCustomDriver& d) { d.ReadStatus(); }, "BB", false, 29},
      {"Lock", [](TCustomDriver& d) { d.Lock(true); }, "B9 01", false, 2},
      {"Unlock", [](TCustomDriver& d) { d.Lock(false); }, "B9 00", false, 2},
      {"Reset", [](TCustomDriver& d) { d.Reset(); }, "C8", false, 2},
      {"InitTables", [](TCustomDriver& d) { d.InitTables(); }, "A8", false, 2},
      {"TestExchange", [](TCustomDriver& d) { d.TestExchange(); }, "C9", true, 2},
      {"SetIPAddress", [](TCustomDriver& d) { d.SetIPAddress("127.0.0.1"); }, "B7 7F 00 00 01",
       false, 2},
      {"ShowMessage", [](TCustomDriver& d) { d.ShowMessage("Hello", "World"); },
       "AA 3C " + hex(shown), false, 2},
      {"ShowMessage2",
       [](TCustomDriver& d) {
         d.ShowMessage2("Top", "Bottom", "\x01\x02", "\x0A\x0B\x0C\x0D\x0E", 7);
       },
       "AE 07 50 01 02 00 00 00 0A 0B 0C 0D 0E " + hex(shown2), true, 2},
      {"ShowLine", [](TCustomDriver& d) { d.ShowLine(2, 3, 200, "abc"); },
       "AF 02 03 03 C8 61 62 63", true, 2},
      {"ReadMessage", [](TCustomDriver& d) { d.ReadMessage(1); }, "AD 01 00 00", true, 2},
      {"WriteMessage", [](TCustomDriver& d) { d.WriteMessage(2, "One", "Two"); },
       "AD 02 01 3C " + hex(stored), true, 2},
      {"SetDefaultMessage", [](TCustomDriver& d) { d.SetDefaultMessage(3); }, "AD 03 02 00", true,
       2},
      {"SendBarcode", [](TCustomDriver& d) { d.SendBarcode("4601234567890"); },
       "AC 0D " + hex("4601234567890"), false, 2},
      {"ReadTableStruct", [](TCustomDriver& d) { d.ReadTableStruct(2); }, "2D 02", false, 45},
      {"ReadFieldStruct", [](TCustomDriver& d) { d.ReadFieldStruct(1, 2); }, "2E 01 02", false, 56},
      {"ReadTable", [](TCustomDriver& d) { d.ReadTable(1); }, "BD 01", false, 3},
      {"WriteTable", [table1](TCustomDriver& d) { d.WriteTable(1, table1); },
       "BC 01 " + hex(table1), false, 2},
      {"ReadDataBlock", [](TCustomDriver& d) { d.ReadDataBlock(1, 258); }, "83 01 02 01", false,
       1028},
  };
}

class CommandRequests : public TerminalCommands, public ::testing::WithParamInterface<uint8_t> {};

TEST_P(CommandRequests, EveryCommandSendsItsBytesAndAcceptsTheReply) {
  const uint8_t protocol = GetParam();
  driver_.SetClientProtocol(protocol);
  const Transport transport = protocol == ptTCP ? Transport::TCP : Transport::UDP;
  for (const CommandCase& c : commandCases(sim())) {
    SCOPED_TRACE(c.name);
    sim().clearJournal();
    ResultOf result = outcome([&] { c.run(driver_); });
    EXPECT_EQ(result.code, 0) << result.text;
    std::vector<std::string> frames;
    for (const JournalEntry& entry : journal())
      if (entry.transport == transport) frames.push_back(hex(entry.bytes));
    EXPECT_EQ(frames, std::vector<std::string>{c.request});
  }
  if (protocol == ptTCP) {
    // One connection for the whole sequence, guarded once by the mode check.
    EXPECT_EQ(sim().tcpAccepted(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(EachTransport, CommandRequests, ::testing::Values(ptUDP, ptTCP),
                         [](const auto& info) { return info.param == ptTCP ? "TCP" : "UDP"; });

TEST_F(TerminalCommands, OnlyTheRepeatedCommandsAreTriedAgain) {
  driver_.SetRepeatCount(3);
  driver_.SetTimeout(50);  // every reply is lost: only the waits are timed
  termsim::Faults silent;
  silent.dropEvery = 1;
  sim().setFaults(silent);
  for (const CommandCase& c : commandCases(sim())) {
    SCOPED_TRACE(c.name);
    sim().clearJournal();
    ResultOf result = outcome([&] { c.run(driver_); });
    EXPECT_EQ(result.code, ResultCode::NoConnection);
    EXPECT_EQ(journal().size(), c.repeated ? 3u : 1u);
  }
  // A lost reply leaves the terminal's address where it was.
  EXPECT_EQ(driver_.DeviceAddress(), "127.0.0.1");
}

TEST_F(TerminalCommands, AReplyShorterThanTheMinimumRaisesWithTheMinimum) {
  for (const CommandCase& c : commandCases(sim())) {
    SCOPED_TRACE(c.name);
    termsim::Faults faults;
    faults.onlyCommand = static_cast<uint8_t>(c.request.empty() ? 0 : hexTextToBytes(c.request)[0]);
    faults.truncateTo = c.minimum - 1;
    sim().setFaults(faults);
    ResultOf result = outcome([&] { c.run(driver_); });
    EXPECT_EQ(result.code, ResultCode::InvalidData);
    EXPECT_EQ(result.text,
              frameTooShort(static_cast<int>(c.minimum) - 1, static_cast<int>(c.minimum)));
  }
}

TEST_F(TerminalCommands, StatusOf28BytesNamesTheMinimum29) {
  termsim::Faults faults;
  faults.truncateTo = 28;
  sim().setFaults(faults);
  ResultOf result = outcome([&] { driver_.ReadStatus(); });
  EXPECT_EQ(result.code, ResultCode::InvalidData);
  EXPECT_EQ(result.text, frameTooShort(28, 29));
}

TEST_F(TerminalCommands, StatusFieldsAreDecoded) {
  termsim::StatusInfo info;
  info.versionMajor = 3;
  info.versionMinor = 14;
  info.build = 0x1234;
  info.day = 29;
  info.month = 2;
  info.year = 2012;
  info.flags = 0x41;
  info.mac = {0x00, 0x01, 0x02, 0x33, 0x00, 0x2A};
  sim().setStatus(info);

  for (uint8_t protocol : {ptUDP, ptTCP}) {
    driver_.SetClientProtocol(protocol);
    TStatusRec status = driver_.ReadStatus();
    EXPECT_EQ(status.Version, "3.14");
    EXPECT_EQ(status.Build, 0x1234);
    EXPECT_EQ(status.Date, std::chrono::year_month_day(std::chrono::year(2012) / 2 / 29));
    EXPECT_EQ(dateText(status.Date), "29.02.2012");
    EXPECT_EQ(status.Flags, 0x41u);
    EXPECT_TRUE(status.Locked);
    EXPECT_TRUE(status.TableError);
    EXPECT_EQ(status.MAC, "00-01-02-33-00-2A");
    EXPECT_EQ(status.FirmID, 0x000102u);  // byte 23 most significant: 258
    EXPECT_EQ(status.DeviceType, 51u);
    EXPECT_EQ(status.SerialNumber, 42);
    EXPECT_EQ(status.DeviceTypeName, format("Неизвестный тип устройства (%d)", 51));
  }
}

TEST_F(TerminalCommands, StatusFlagsAreReadBitByBit) {
  struct Case {
    uint8_t flags;
    bool locked, tableError;
  };
  for (Case c : {Case{0x00, false, false}, Case{0x01, true, false}, Case{0x40, false, true},
                 Case{0xBE, false, false}, Case{0xFF, true, true}}) {
    SCOPED_TRACE(static_cast<int>(c.flags));
    termsim::StatusInfo info;
    info.flags = c.flags;
    info.setDeviceType(2);
    sim().setStatus(info);
    TStatusRec status = driver_.ReadStatus();
    EXPECT_EQ(status.Flags, c.flags);
    EXPECT_EQ(status.Locked, c.locked);
    EXPECT_EQ(status.TableError, c.tableError);
    EXPECT_EQ(status.DeviceTypeName, DeviceTypeName(2));
  }
}

TEST_F(TerminalCommands, AnImpossibleStatusDateIsAConversionError) {
  struct Case {
    uint8_t day, month;
    const char* text;
  };
  for (Case c : {Case{31, 2, "'31.02.2010' is not a valid date"},
                 Case{29, 2, "'29.02.2010' is not a valid date"},
                 Case{0, 5, "'00.05.2010' is not a valid date"},
                 Case{12, 13, "'12.13.2010' is not a valid date"},
                 Case{32, 1, "'32.01.2010' is not a valid date"},
                 Case{255, 255, "'255.255.2010' is not a valid date"}}) {
    termsim::StatusInfo info;
    info.day = c.day;
    info.month = c.month;
    info.year = 2010;
    sim().setStatus(info);
    try {
      driver_.ReadStatus();
      ADD_FAILURE() << c.text << " was accepted";
    } catch (const EDriverError& e) {
      ADD_FAILURE() << "a driver error: " << e.what();
    } catch (const EConvertError& e) {
      EXPECT_EQ(resultOf(e).code, ResultCode::General);
      EXPECT_STREQ(e.what(), c.text);
    }
  }
}

TEST(StatusDate, EncodesEveryValidDayAndRefusesTheRest) {
  // 2000 and 2012 are leap years, 2100 is not.
  EXPECT_NO_THROW(encodeDate(2000, 2, 29));
  EXPECT_NO_THROW(encodeDate(2255, 12, 31));
  EXPECT_THROW(encodeDate(2100, 2, 29), EConvertError);
  EXPECT_THROW(encodeDate(2011, 4, 31), EConvertError);
  EXPECT_THROW(encodeDate(2011, 256 + 4, 1), EConvertError);
  EXPECT_EQ(dateText(encodeDate(2010, 3, 5)), "05.03.2010");
}

TEST_F(TerminalCommands, TableStructuresAreEnumeratedUntil211) {
  auto tables = sim().withState([](termsim::TerminalState& s) { return s.tables; });
  ASSERT_FALSE(tables.empty());
  std::vector<TTableRec> read;
  for (int number = 0; number < 256; ++number) {
    std::optional<TTableRec> table = driver_.ReadTableStruct(static_cast<uint8_t>(number));
    if (!table) break;
    read.push_back(*table);
  }
  ASSERT_EQ(read.size(), tables.size());
  for (size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].Number, i);
    EXPECT_EQ(read[i].Name, tables[i].name);  // the 40-byte field is cut back
    EXPECT_EQ(read[i].RowCount, tables[i].rows);
    EXPECT_EQ(read[i].FieldCount, tables[i].fields.size());
  }
  // One request per table and the one answered with 211.
  EXPECT_EQ(journal().size(), tables.size() + 1);
  EXPECT_EQ(hex(journal().back().bytes), format("2D %.2X", static_cast<unsigned>(tables.size())));
}

TEST_F(TerminalCommands, FieldStructuresAreEnumeratedUntil211) {
  auto table = sim().withState([](termsim::TerminalState& s) { return s.tables[0]; });
  size_t count = 0;
  while (std::optional<TFieldRec> field = driver_.ReadFieldStruct(0, static_cast<uint8_t>(count))) {
    const termsim::FieldDef& def = table.fields.at(count);
    EXPECT_EQ(field->Number, count);
    EXPECT_EQ(field->Name, def.name);
    EXPECT_EQ(field->FieldType, static_cast<uint8_t>(def.type));
    EXPECT_EQ(field->Size, def.size);
    ++count;
  }
  EXPECT_EQ(count, table.fields.size());
  EXPECT_FALSE(driver_.ReadFieldStruct(200, 0).has_value());  // no such table: 211 too
}

TEST_F(TerminalCommands, OtherErrorBytesOfStructureRepliesRaise) {
  termsim::Faults faults;
  faults.errorFor = {{0x2D, 213}, {0x2E, 220}};
  sim().setFaults(faults);
  EXPECT_EQ(outcome([&] { driver_.ReadTableStruct(0); }).code, 213);
  EXPECT_EQ(outcome([&] { driver_.ReadFieldStruct(0, 0); }).code, 220);
  // A one-byte reply is too short before its error byte can be looked at.
  faults = {};
  faults.truncateTo = 1;
  sim().setFaults(faults);
  ResultOf result = outcome([&] { driver_.ReadTableStruct(0); });
  EXPECT_EQ(result.code, ResultCode::InvalidData);
  EXPECT_EQ(result.text, frameTooShort(1, 2));
}

TEST_F(TerminalCommands, FieldNamesAreTrimmedAndLimitsReadLittleEndian) {
  sim().withState([](termsim::TerminalState& s) {
    auto& fields = s.tables[0].fields;
    fields.resize(3);
    fields[0] = {"\t Порт\x01 сервера \x02", termsim::FieldType::Number, 2, 0x012C, 0xFFFF};
    fields[1] = {"Адрес", termsim::FieldType::IPAddress, 4, 0x0100000A, 0xFE0000C0};
    fields[2] = {"Имя", termsim::FieldType::String, 30, 5, 9};
  });
  TFieldRec port = driver_.ReadFieldStruct(0, 0).value();
  EXPECT_EQ(port.Name, "Порт\x01 сервера");
  EXPECT_EQ(port.MinValue, 300);  // area 2C 01
  EXPECT_EQ(port.MaxValue, 65535);
  EXPECT_EQ(port.MinValueStr, "300");
  TFieldRec address = driver_.ReadFieldStruct(0, 1).value();
  EXPECT_EQ(address.MinValueStr, "10.0.0.1");
  EXPECT_EQ(address.MaxValueStr, "192.0.0.254");
  TFieldRec name = driver_.ReadFieldStruct(0, 2).value();
  EXPECT_EQ(name.Size, 30);
  EXPECT_EQ(name.MinValue, 0);  // strings have no range
  EXPECT_EQ(name.MaxValue, 0);
}

TEST_F(TerminalCommands, ANumberFieldOverSixBytesIsInvalidData) {
  for (uint8_t size : {7, 8, 255}) {
    sim().withState([size](termsim::TerminalState& s) {
      s.tables[0].fields[0] = {"Big", termsim::FieldType::Number, size, 1, 2};
    });
    ResultOf result = outcome([&] { driver_.ReadFieldStruct(0, 0); });
    EXPECT_EQ(result.code, ResultCode::InvalidData);
    EXPECT_EQ(result.text, ResultText::InvalidData);
  }
}

TEST_F(TerminalCommands, StoredMessagesSplitAtThirtyAndAtTheFirstZero) {
  std::string text = std::string("Hello\0World", 11);
  text.resize(30, ' ');
  text += "Second line";
  sim().withState([&](termsim::TerminalState& s) { s.messages[1] = text; });
  TCustomDriver::TMessageLines lines = driver_.ReadMessage(1);
  EXPECT_EQ(lines.Line1, "Hello");
  EXPECT_EQ(lines.Line2, "Second line");

  // Written lines are cut to 30 and padded: 60 bytes in all.
  std::string long1(45, 'x');
  driver_.WriteMessage(2, long1, "Вторая");
  EXPECT_EQ(sim().message(2), format("%-30s%-30s", std::string(30, 'x').c_str(), "Вторая"));
  lines = driver_.ReadMessage(2);
  EXPECT_EQ(lines.Line1, std::string(30, 'x'));
  EXPECT_EQ(lines.Line2, format("%-30s", "Вторая"));

  // Restoring gives the default text back, and returns it.
  std::string restored =
      sim().withState([](termsim::TerminalState& s) { return s.defaultMessages[2]; });
  lines = driver_.SetDefaultMessage(2);
  EXPECT_EQ(sim().message(2), restored);
  EXPECT_EQ(lines.Line1 + lines.Line2, restored.substr(0, 60));
}

TEST_F(TerminalCommands, AMessageShorterThanItsLengthByteYieldsTheBytesPresent) {
  sim().withState([](termsim::TerminalState& s) { s.messages[0] = std::string(60, 'm'); });
  termsim::Faults faults;
  faults.onlyCommand = 0xAD;
  faults.truncateTo = 2 + 1 + 20;  // length byte 60, then 20 bytes
  sim().setFaults(faults);
  TCustomDriver::TMessageLines lines = driver_.ReadMessage(0);
  EXPECT_EQ(lines.Line1, std::string(20, 'm'));
  EXPECT_EQ(lines.Line2, "");
  faults.truncateTo = 2 + 1 + 40;
  sim().setFaults(faults);
  lines = driver_.SetDefaultMessage(0);
  EXPECT_EQ(lines.Line1.size(), 30u);
  EXPECT_EQ(lines.Line2.size(), 10u);
  // No length byte at all: the reply lacks the message.
  faults.truncateTo = 2;
  sim().setFaults(faults);
  ResultOf result = outcome([&] { driver_.ReadMessage(0); });
  EXPECT_EQ(result.code, ResultCode::InvalidData);
  EXPECT_EQ(result.text, frameTooShort(2, 3));
}

TEST_F(TerminalCommands, ShowMessageSendsThirtyCharactersALine) {
  std::string line1(45, 'A');
  driver_.ShowMessage(line1, "Цена: 12.50");
  ASSERT_EQ(journal().size(), 1u);
  std::string frame = journal()[0].bytes;
  ASSERT_EQ(frame.size(), 62u);
  EXPECT_EQ(frame.substr(2, 30), std::string(30, 'A'));
  EXPECT_EQ(sim().display().line1, std::string(30, 'A'));
  EXPECT_EQ(sim().display().line2, format("%-30s", "Цена: 12.50"));
}

TEST_F(TerminalCommands, ShowMessage2PassesParametersAndFortyCharacters) {
  driver_.ShowMessage2(std::string(45, 'L'), "Right",
                       std::string("\x01\x02\x03\x04\x05\x06\x07", 7), "", 9);
  termsim::DisplayState display = sim().display();
  EXPECT_EQ(display.line1, std::string(40, 'L'));
  EXPECT_EQ(display.line2, format("%-40s", "Right"));
  EXPECT_EQ(hex(display.parameters1), "01 02 03 04 05");
  EXPECT_EQ(hex(display.parameters2), "00 00 00 00 00");
  EXPECT_EQ(display.outputTime, 9);
}

TEST_F(TerminalCommands, ShowLineTakesTheTextLengthModulo256) {
  std::string text(300, 'r');
  driver_.ShowLine(2, 1, 5, text);
  std::string frame = journal().at(0).bytes;
  EXPECT_EQ(hex(frame.substr(0, 5)), "AF 02 2C 01 05");
  EXPECT_EQ(frame.substr(5), text);
  termsim::DisplayState display = sim().display();
  EXPECT_EQ(display.line2, text);
  EXPECT_EQ(display.lineType[1], 1);
  EXPECT_EQ(display.lineSpeed[1], 5);
}

TEST_F(TerminalCommands, CommandsChangeTheTerminal) {
  driver_.Lock(true);
  EXPECT_TRUE(sim().locked());
  EXPECT_TRUE(driver_.ReadStatus().Locked);
  driver_.Lock(false);
  EXPECT_FALSE(sim().locked());
  driver_.Reset();
  driver_.InitTables();
  driver_.TestExchange();
  driver_.SendBarcode("2000000000015");
  termsim::TerminalState state = sim().state();
  EXPECT_EQ(state.resets, 1u);
  EXPECT_EQ(state.tableInits, 1u);
  EXPECT_EQ(state.testExchanges, 1u);
  EXPECT_EQ(state.lastBarcode, "2000000000015");
}

TEST_F(TerminalCommands, TableDataRoundTrips) {
  std::string data = driver_.ReadTable(1);
  auto table = sim().withState([](termsim::TerminalState& s) { return s.tables[1]; });
  EXPECT_EQ(data, table.data);  // byte 2 of the reply is not part of it
  // A string field changed in place is written back as it is.
  size_t field = 0;
  while (table.fields.at(field).type != termsim::FieldType::String) ++field;
  size_t offset = table.offsetOf(0, field);
  data[offset] = data[offset] == 'Z' ? 'Y' : 'Z';
  driver_.WriteTable(1, data);
  EXPECT_EQ(sim().withState([](termsim::TerminalState& s) { return s.tables[1].data; }), data);
}

TEST_F(TerminalCommands, DataBlocksCarryTheirCountAnd1024Bytes) {
  TCustomDriver::TDataBlock block = driver_.ReadDataBlock(1, 258);
  EXPECT_EQ(block.BlockCount, 300);
  std::string memory = sim().withState([](termsim::TerminalState& s) { return s.memories[1]; });
  EXPECT_EQ(block.Data, memory.substr(258 * 1024, 1024));
  EXPECT_EQ(outcome([&] { driver_.ReadDataBlock(1, 300); }).code, ResultCode::InvalidParameters);
}

TEST_F(TerminalCommands, SetIPAddressMovesTheDriverAfterDroppingCacheEntries) {
  driver_.SetClientProtocol(ptTCP);
  driver_.ReadStatus();
  ASSERT_TRUE(driver_.ClientConnected());
  sim().clearJournal();

  // A trailing dot is accepted; the driver then uses the plain dotted text.
  driver_.SetIPAddress("127.0.0.2.");
  ASSERT_EQ(journal().size(), 1u);
  EXPECT_EQ(journal()[0].transport, Transport::TCP);
  EXPECT_EQ(hex(journal()[0].bytes), "B7 7F 00 00 02");
  EXPECT_EQ(sim().newAddress(), "127.0.0.2");
  EXPECT_EQ(driver_.DeviceAddress(), "127.0.0.2");
  EXPECT_FALSE(driver_.ClientConnected());
  // First the old address, then the new one.
  EXPECT_EQ(arp_.calls(2), (std::vector<std::string>{"-d 127.0.0.1", "-d 127.0.0.2"}));
}

TEST_F(TerminalCommands, AnInvalidAddressIsRefusedBeforeAnythingIsSent) {
  for (const char* text : {"", "abc", "300.1.1.1", "1.2.3", "1.2.3.255", "1..2.3", "-1.2.3.4"}) {
    SCOPED_TRACE(text);
    ResultOf result = outcome([&] { driver_.SetIPAddress(text); });
    EXPECT_EQ(result.code, ResultCode::InvalidValue);
    EXPECT_EQ(result.text, format("'%s' не является корректным IP адресом.", text));
  }
  EXPECT_TRUE(journal().empty());
  EXPECT_EQ(driver_.DeviceAddress(), "127.0.0.1");

  // A refused or lost reply keeps the old address and runs no utility.
  termsim::Faults faults;
  faults.errorFor = {{0xB7, 217}};
  sim().setFaults(faults);
  EXPECT_EQ(outcome([&] { driver_.SetIPAddress("127.0.0.3"); }).code, 217);
  EXPECT_EQ(driver_.DeviceAddress(), "127.0.0.1");
  // Only now is arp run: its two calls are the only ones recorded.
  sim().clearFaults();
  driver_.SetIPAddress("127.0.0.1");
  EXPECT_EQ(arp_.calls(2), (std::vector<std::string>{"-d 127.0.0.1", "-d 127.0.0.1"}));
}

TEST(RunDetached, RunsInOrderWithArgumentsUnchangedAndLeavesNoChild) {
  ArpStub stub;
  // A program missing from PATH does not stop the ones after it.
  ASSERT_TRUE(runDetached({{"arp", "first"}, {"no-such-program-here"}, {"arp", "second"}}));
  EXPECT_EQ(stub.calls(2), (std::vector<std::string>{"first", "second"}));
  const std::string odd[] = {"a b", "it's \"quoted\"", "$HOME", "`x`;", "${1}"};
  ASSERT_TRUE(runDetached({{"arp", odd[0], odd[1], odd[2], odd[3], odd[4]}}));
  std::vector<std::string> calls = stub.calls(3);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2], odd[0] + " " + odd[1] + " " + odd[2] + " " + odd[3] + " " + odd[4]);
  // Nothing is left for this process to reap.
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(DeviceTexts, DeviceTypeName) {
  struct {
    int32_t code;
    const char* expected;
  } cases[] = {{1, "TessarEthernet"},
               {2, "Vistel"},
               {3, "TessarMicroEthernet"},
               {0, "Неизвестный тип устройства (0)"},
               {4, "Неизвестный тип устройства (4)"},
               {-1, "Неизвестный тип устройства (-1)"}};
  for (const auto& c : cases) EXPECT_EQ(DeviceTypeName(c.code), c.expected);
}

}  // namespace
