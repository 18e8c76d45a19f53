// The simulated terminal's default content and the state helpers.
#include "tools/termsim/terminal_state.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/format.h"
#include "tests/termsim/loopback.h"
#include "tools/termsim/protocol_handler.h"

using termsim::FieldType;
using termsim_test::bytes;

namespace {

constexpr size_t kMaxUdpRequest = 512;

// A driver reads a default table and writes it back: that must fit one UDP
// request and pass the range check.
TEST(DefaultTables, AreConsistentAndWritableAsRead) {
  termsim::TerminalState state;
  ASSERT_GE(state.tables.size(), 3u);
  std::set<int> numberSizes;
  bool severalRows = false, strings = false, addresses = false;
  for (size_t t = 0; t < state.tables.size(); ++t) {
    const termsim::TableDef& table = state.tables[t];
    SCOPED_TRACE(t);
    EXPECT_LE(table.name.size(), 40u);
    EXPECT_GE(table.rows, 1);
    EXPECT_EQ(table.data.size(), table.dataSize());
    EXPECT_LE(2 + table.dataSize(), kMaxUdpRequest);
    severalRows |= table.rows > 1;
    for (size_t f = 0; f < table.fields.size(); ++f) {
      const termsim::FieldDef& field = table.fields[f];
      EXPECT_LE(field.name.size(), 40u);
      EXPECT_LE(field.minValue, field.maxValue);
      if (field.type == FieldType::Number) numberSizes.insert(field.size);
      strings |= field.type == FieldType::String;
      addresses |= field.type == FieldType::IPAddress;
    }
    std::string request = bytes("BC") + static_cast<char>(t) + table.data;
    EXPECT_EQ(termsim::handleRequest(state, request), bytes("BC 00"));
  }
  EXPECT_EQ(numberSizes, (std::set<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_TRUE(severalRows);
  EXPECT_TRUE(strings);
  EXPECT_TRUE(addresses);
  EXPECT_EQ(state.tables[0].fields[0].type, FieldType::IPAddress);
}

TEST(StatusInfo, MacCarriesDeviceTypeAndSerial) {
  termsim::StatusInfo status;
  ASSERT_TRUE(status.setMacText("00-01-02-33-00-2A"));
  EXPECT_EQ(status.firmId(), 0x000102u);
  EXPECT_EQ(status.deviceType(), 0x33);
  EXPECT_EQ(status.serialNumber(), 42);
  status.setSerialNumber(0xABCD);
  status.setDeviceType(2);
  EXPECT_EQ(status.macText(), "00-01-02-02-AB-CD");
  ASSERT_TRUE(status.setMacText("0a:0b:0c:0d:0e:0f"));
  EXPECT_EQ(status.macText(), "0A-0B-0C-0D-0E-0F");
  for (const char* bad :
       {"", "00-01-02-03-04", "00-01-02-03-04-05-06", "00-01-02-03-04-GG", "000-1-02-03-04-05"})
    EXPECT_FALSE(status.setMacText(bad)) << bad;
  EXPECT_EQ(status.macText(), "0A-0B-0C-0D-0E-0F");
}

TEST(StatusInfo, ReplyLayout) {
  termsim::StatusInfo status;
  status.versionMajor = 1;
  status.versionMinor = 2;
  status.build = 0x0304;
  status.day = 31;
  status.month = 12;
  status.year = 2099;
  status.flags = 0x41;
  status.setMacText("10-20-30-40-50-60");
  EXPECT_EQ(
      mirelo::bytesToHex(termsim::statusReply(status)),
      "BB 00 01 02 04 03 1F 0C 63 00 00 00 00 00 00 00 00 00 00 00 00 41 00 10 20 30 40 50 60");
}

TEST(TableDef, ValuesByRowAndField) {
  termsim::TableDef table{"T",
                          2,
                          {{"N", FieldType::Number, 3, 0, 0xFFFFFF},
                           {"A", FieldType::IPAddress, 4, 0, 0},
                           {"S", FieldType::String, 2, 0, 0}},
                          std::string(18, '\0')};
  table.setNumber(1, 0, 0x123456);
  ASSERT_TRUE(table.setIpText(1, 1, "192.168.0.166"));
  table.setText(1, 2, "XYZ");  // cut to the field
  EXPECT_EQ(mirelo::bytesToHex(table.data.substr(9)), "56 34 12 C0 A8 00 A6 58 59");
  EXPECT_EQ(table.number(1, 0), 0x123456u);
  EXPECT_EQ(table.ipText(1, 1), "192.168.0.166");
  EXPECT_EQ(table.offsetOf(1, 2), 16u);
  for (const char* bad : {"", "1.2.3", "1.2.3.256", "1.2.3.4.5", "a.b.c.d", "1..2.3"})
    EXPECT_FALSE(table.setIpText(0, 1, bad)) << bad;
  EXPECT_THROW(table.offsetOf(2, 0), std::out_of_range);
}

TEST(TerminalState, MemoriesAndMessages) {
  termsim::TerminalState state;
  state.setMemory(1, std::string(1500, '\x11'));
  EXPECT_EQ(state.memoryBlocks(1), 2u);
  EXPECT_EQ(state.memories[1].substr(1500), std::string(548, '\xFF'));

  std::string first = state.memories[0].substr(0, 1024);
  state.setMemoryBlocks(0, 10);
  EXPECT_EQ(state.memories[0].substr(0, 1024), first);
  // Blocks and device codes differ, so a mixed-up block shows.
  EXPECT_NE(state.memories[0].substr(1024, 1024), first);
  EXPECT_NE(state.memories[0].substr(9 * 1024, 1024), state.memories[0].substr(8 * 1024, 1024));
  EXPECT_NE(state.memories[3].substr(0, 1024), first);

  state.messages[1] = "written";
  state.setMessageCount(1);
  state.setMessageCount(3);
  EXPECT_EQ(state.messages[1], termsim::defaultMessageText(1));
  state.messages[0] = "";
  state.setMessageCount(5);
  EXPECT_EQ(state.messages[0], "");
  EXPECT_EQ(state.messages[4], termsim::defaultMessageText(4));
  EXPECT_EQ(termsim::defaultMessageText(4).size(), 60u);
}

TEST(Handler, EmptyRequestHasNoReplyAndEveryCommandIsKnown) {
  termsim::TerminalState state;
  EXPECT_EQ(termsim::handleRequest(state, ""), "");
  for (const termsim::CommandInfo& command : termsim::commandTable()) {
    std::string reply =
        termsim::handleRequest(state, std::string(1, static_cast<char>(command.code)));
    ASSERT_GE(reply.size(), 2u);
    EXPECT_EQ(static_cast<uint8_t>(reply[0]), command.code);
    EXPECT_NE(static_cast<uint8_t>(reply[1]), termsim::DeviceError::NotSupported)
        << int(command.code);
  }
}

}  // namespace
