// Every command of the simulated terminal, over UDP and over TCP, with
// requests from plain sockets on loopback.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/format.h"
#include "tests/termsim/loopback.h"
#include "tools/termsim/termsim.h"

using namespace termsim_test;
using mirelo::bytesToHex;
using mirelo::format;
using termsim::FieldType;
using termsim::Transport;

namespace {

std::string padded(std::string_view name, size_t width = 40) {
  std::string out(name);
  out.resize(width, ' ');
  return out;
}

std::string memoryImage(size_t size, int seed) {
  std::string out;
  for (size_t i = 0; i < size; ++i) out += static_cast<char>((i * 7 + seed * 31 + i / 1024) & 0xFF);
  return out;
}

// A terminal whose every value the tests spell out.
termsim::Options testOptions() {
  termsim::Options options;
  termsim::StatusInfo& status = options.state.status;
  status.versionMajor = 3;
  status.versionMinor = 7;
  status.build = 0x1234;
  status.day = 9;
  status.month = 11;
  status.year = 2021;
  status.flags = 0x40;
  EXPECT_TRUE(status.setMacText("00-01-02-33-00-2A"));

  termsim::TableDef network{"Сеть",
                            1,
                            {{"Адрес", FieldType::IPAddress, 4, 0, 0xFFFFFFFF},
                             {"Порт", FieldType::Number, 2, 1, 65535},
                             {"Имя", FieldType::String, 3, 0, 0}},
                            bytes("7F 00 00 01 EA 03 41 42 43")};
  termsim::TableDef goods{
      "Товары",
      2,
      {{"Код", FieldType::Number, 1, 0, 99}, {"Сумма", FieldType::Number, 6, 0, 0xFFFFFFFFFFull}},
      bytes("01 01 02 03 04 05 00  02 10 20 30 40 50 00")};
  options.state.tables = {network, goods};
  options.state.defaultTables = options.state.tables;
  options.state.messages.clear();
  options.state.defaultMessages.clear();
  options.state.setMessageCount(2);
  options.state.setMemory(0, memoryImage(2048, 0));
  options.state.setMemory(1, memoryImage(1024, 1));
  options.state.setMemoryBlocks(2, 0);
  options.state.setMemory(3, memoryImage(3000, 3));
  return options;
}

class Commands : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override {
    sim_.start();
    if (GetParam() == Transport::TCP) tcp_ = TcpPeer::connectTo(sim_.port());
  }

  // One request, one reply (nullopt: none within the timeout).
  std::optional<std::string> exchange(std::string_view request, int timeoutMs = 2000) {
    if (GetParam() == Transport::UDP) {
      udp_.sendTo(sim_.port(), request);
      return udp_.receive(timeoutMs);
    }
    tcp_.sendAll(request);
    std::optional<std::string> reply = tcp_.receive(timeoutMs);
    while (reply && !reply->empty() && readable(tcp_.fd(), 0)) {
      std::optional<std::string> more = tcp_.receive(0);
      if (!more || more->empty()) break;
      *reply += *more;
    }
    return reply;
  }
  std::string ask(std::string_view request) { return exchange(request).value_or("<no reply>"); }

  termsim::Simulator sim_{testOptions()};
  UdpPeer udp_;
  TcpPeer tcp_;
};

struct Case {
  const char* name;
  std::string request;
  std::string reply;
};

std::vector<Case> commandCases() {
  const std::string block = memoryImage(2048, 0).substr(1024, 1024);
  const std::string program = memoryImage(3000, 3).substr(2048) + std::string(3072 - 3000, '\xFF');
  return {
      {"status", bytes("BB"),
       bytes("BB 00 03 07 34 12 09 0B 15 00 00 00 00 00 00 00 00 00 00 00 00 40 00 00 01 02 33 00 "
             "2A")},
      {"status ignores extra bytes", bytes("BB 01 02"),
       bytes("BB 00 03 07 34 12 09 0B 15 00 00 00 00 00 00 00 00 00 00 00 00 40 00 00 01 02 33 00 "
             "2A")},
      {"table structure", bytes("2D 00"), bytes("2D 00") + padded("Сеть") + bytes("01 00 03")},
      {"table structure of several rows", bytes("2D 01"),
       bytes("2D 00") + padded("Товары") + bytes("02 00 02")},
      {"table past the last", bytes("2D 02"), bytes("2D D3")},
      {"table structure without number", bytes("2D"), bytes("2D D3")},
      {"IP field", bytes("2E 00 00"),
       bytes("2E 00") + padded("Адрес") + bytes("02 04 00 00 00 00 00 00 FF FF FF FF 00 00")},
      {"number field", bytes("2E 00 01"),
       bytes("2E 00") + padded("Порт") + bytes("00 02 01 00 00 00 00 00 FF FF 00 00 00 00")},
      {"string field has no range", bytes("2E 00 02"),
       bytes("2E 00") + padded("Имя") + bytes("01 03 00 00 00 00 00 00 00 00 00 00 00 00")},
      {"six-byte number field", bytes("2E 01 01"),
       bytes("2E 00") + padded("Сумма") + bytes("00 06 00 00 00 00 00 00 FF FF FF FF FF 00")},
      {"field past the last", bytes("2E 00 03"), bytes("2E D3")},
      {"field of a table past the last", bytes("2E 02 00"), bytes("2E D3")},
      {"read table", bytes("BD 00"), bytes("BD 00 01 7F 00 00 01 EA 03 41 42 43")},
      {"read table of two rows", bytes("BD 01"),
       bytes("BD 00 02 01 01 02 03 04 05 00 02 10 20 30 40 50 00")},
      {"read table past the last", bytes("BD 02"), bytes("BD D3")},
      {"data block", bytes("83 00 01 00"), bytes("83 00 02 00") + block},
      {"data block of program storage", bytes("83 03 02 00"), bytes("83 00 03 00") + program},
      {"data block past the last", bytes("83 00 02 00"), bytes("83 D3")},
      {"data block of an empty memory", bytes("83 02 00 00"), bytes("83 D3")},
      {"data block of device code 4", bytes("83 04 00 00"), bytes("83 D3")},
      {"data block request cut short", bytes("83 00 01"), bytes("83 D3")},
      {"initialise tables", bytes("A8"), bytes("A8 00")},
      {"show message", bytes("AA 3C") + std::string(60, 'x'), bytes("AA 00")},
      {"show message with wrong length", bytes("AA 3C 41 42"), bytes("AA D3")},
      {"send barcode", bytes("AC 03 31 32 33"), bytes("AC 00")},
      {"read message", bytes("AD 01 00 00"), bytes("AD 00 3C") + termsim::defaultMessageText(1)},
      {"restore message", bytes("AD 00 02 00"), bytes("AD 00 3C") + termsim::defaultMessageText(0)},
      {"write message", bytes("AD 00 01 02 4F 4B"), bytes("AD 00")},
      {"message past the last", bytes("AD 02 00 00"), bytes("AD D3")},
      {"unknown message operation", bytes("AD 00 03 00"), bytes("AD D3")},
      {"message request cut short", bytes("AD 00"), bytes("AD D3")},
      {"show message with parameters", bytes("AE 05 02 01 02 03 04 05 06 07 08 09 0A 41 42"),
       bytes("AE 00")},
      {"show line", bytes("AF 02 03 01 09 41 42 43"), bytes("AF 00")},
      {"show line 3", bytes("AF 03 01 00 00 41"), bytes("AF D3")},
      {"set IP address", bytes("B7 0A 00 00 05"), bytes("B7 00")},
      {"set IP address cut short", bytes("B7 0A 00"), bytes("B7 D3")},
      {"lock", bytes("B9 01"), bytes("B9 00")},
      {"unlock", bytes("B9 00"), bytes("B9 00")},
      {"lock with 2", bytes("B9 02"), bytes("B9 D3")},
      {"read mode", bytes("C3"), bytes("C3 00 01 00")},
      {"program block outside programming mode", bytes("C1 00 01 00 AA"), bytes("C1 D6")},
      {"end programming outside programming mode", bytes("C2"), bytes("C2 D6")},
      {"start programming", bytes("C0"), bytes("C0 00")},
      {"reset", bytes("C8"), bytes("C8 00")},
      {"test exchange", bytes("C9"), bytes("C9 00")},
      {"unknown command", bytes("77 01 02"), bytes("77 D5")},
      {"terminal message sent to a terminal", bytes("AB 00 31"), bytes("AB D5")},
  };
}

TEST_P(Commands, EachCommandRepliesAsLaidOut) {
  for (const Case& c : commandCases()) {
    SCOPED_TRACE(c.name);
    std::optional<std::string> reply = exchange(c.request);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(bytesToHex(*reply), bytesToHex(c.reply));
  }
}

TEST_P(Commands, LockSetsAndClearsStatusBit0) {
  EXPECT_EQ(ask(bytes("B9 01")), bytes("B9 00"));
  EXPECT_TRUE(sim_.locked());
  EXPECT_EQ(static_cast<uint8_t>(ask(bytes("BB")).at(21)), 0x41);
  EXPECT_EQ(ask(bytes("B9 00")), bytes("B9 00"));
  EXPECT_FALSE(sim_.locked());
  EXPECT_EQ(static_cast<uint8_t>(ask(bytes("BB")).at(21)), 0x40);
  sim_.setLocked(true);
  EXPECT_EQ(static_cast<uint8_t>(ask(bytes("BB")).at(21)), 0x41);
}

TEST_P(Commands, StatusFollowsTheApi) {
  termsim::StatusInfo status = sim_.status();
  status.setDeviceType(7);
  status.setSerialNumber(0x1234);
  status.build = 9;
  sim_.setStatus(status);
  std::string reply = ask(bytes("BB"));
  ASSERT_EQ(reply.size(), 29u);
  EXPECT_EQ(bytesToHex(reply.substr(4, 2)), "09 00");
  EXPECT_EQ(bytesToHex(reply.substr(23)), "00 01 02 07 12 34");
  EXPECT_EQ(sim_.status().macText(), "00-01-02-07-12-34");
}

TEST_P(Commands, WrittenTableReadsBack) {
  std::string data = bytes("C0 A8 00 A6 D2 04 58 59 5A");
  EXPECT_EQ(ask(bytes("BC 00") + data), bytes("BC 00"));
  EXPECT_EQ(ask(bytes("BD 00")), bytes("BD 00 01") + data);
  EXPECT_EQ(sim_.state().tables[0].ipText(0, 0), "192.168.0.166");
  EXPECT_EQ(sim_.state().tables[0].number(0, 1), 1234u);
}

TEST_P(Commands, BadTableWritesChangeNothing) {
  std::string before = ask(bytes("BD 01"));
  // Past the last table, one byte short, one byte too many.
  EXPECT_EQ(ask(bytes("BC 02 00")), bytes("BC D3"));
  EXPECT_EQ(ask(bytes("BC 01 01 01 02 03 04 05 00 02 10 20 30 40 50")), bytes("BC D3"));
  EXPECT_EQ(ask(bytes("BC 01 01 01 02 03 04 05 00 02 10 20 30 40 50 00 00")), bytes("BC D3"));
  // Code 100 in row 1 is outside 0..99; a six-byte sum above its maximum.
  EXPECT_EQ(ask(bytes("BC 01 01 01 02 03 04 05 00 64 10 20 30 40 50 00")), bytes("BC DC"));
  EXPECT_EQ(ask(bytes("BC 01 01 01 02 03 04 05 01 02 10 20 30 40 50 00")), bytes("BC DC"));
  EXPECT_EQ(ask(bytes("BD 01")), before);
}

TEST_P(Commands, InitialiseTablesRestoresTheDefaults) {
  std::string before = ask(bytes("BD 00"));
  ASSERT_EQ(ask(bytes("BC 00 01 02 03 04 05 00 58 59 5A")), bytes("BC 00"));
  ASSERT_NE(ask(bytes("BD 00")), before);
  EXPECT_EQ(ask(bytes("A8")), bytes("A8 00"));
  EXPECT_EQ(ask(bytes("BD 00")), before);
  EXPECT_EQ(sim_.state().tableInits, 1u);
}

TEST_P(Commands, MessagesAreStoredAndRestored) {
  std::string text = format("%-30s%-30s", "Привет", "Мир");
  EXPECT_EQ(ask(bytes("AD 01 01 3C") + text), bytes("AD 00"));
  EXPECT_EQ(ask(bytes("AD 01 00 00")), bytes("AD 00 3C") + text);
  EXPECT_EQ(sim_.message(1), text);
  EXPECT_EQ(ask(bytes("AD 00 00 00")), bytes("AD 00 3C") + termsim::defaultMessageText(0));
  EXPECT_EQ(ask(bytes("AD 01 02 00")), bytes("AD 00 3C") + termsim::defaultMessageText(1));
  EXPECT_EQ(sim_.message(1), termsim::defaultMessageText(1));
  sim_.setMessageCount(3);
  EXPECT_EQ(ask(bytes("AD 02 00 00")), bytes("AD 00 3C") + termsim::defaultMessageText(2));
  EXPECT_EQ(ask(bytes("AD 03 00 00")), bytes("AD D3"));
}

TEST_P(Commands, DisplayShowsWhatWasSent) {
  std::string line1 = format("%-30s", "Молоко 1 л"), line2 = format("%-30s", "45.90");
  ASSERT_EQ(ask(bytes("AA 3C") + line1 + line2), bytes("AA 00"));
  EXPECT_EQ(sim_.display().line1, line1);
  EXPECT_EQ(sim_.display().line2, line2);

  ASSERT_EQ(ask(bytes("AF 02 03 01 09 41 42 43")), bytes("AF 00"));
  termsim::DisplayState display = sim_.display();
  EXPECT_EQ(display.line1, line1);
  EXPECT_EQ(display.line2, "ABC");
  EXPECT_EQ(display.lineType[1], 1);
  EXPECT_EQ(display.lineSpeed[1], 9);

  std::string text = format("%-40s%-40s", "Первая", "Вторая");
  ASSERT_EQ(ask(bytes("AE 07 50 01 02 03 04 05 0A 0B 0C 0D 0E") + text), bytes("AE 00"));
  display = sim_.display();
  EXPECT_EQ(display.line1, format("%-40s", "Первая"));
  EXPECT_EQ(display.line2, format("%-40s", "Вторая"));
  EXPECT_EQ(display.outputTime, 7);
  EXPECT_EQ(display.parameters1, bytes("01 02 03 04 05"));
  EXPECT_EQ(display.parameters2, bytes("0A 0B 0C 0D 0E"));
  EXPECT_EQ(display.updates, 3u);
}

TEST_P(Commands, NewAddressIsRecordedAndServingGoesOn) {
  ASSERT_EQ(ask(bytes("B7 0A 01 02 03")), bytes("B7 00"));
  EXPECT_EQ(sim_.newAddress(), "10.1.2.3");
  EXPECT_EQ(sim_.state().tables[0].ipText(0, 0), "10.1.2.3");
  EXPECT_EQ(ask(bytes("C9")), bytes("C9 00"));
}

TEST_P(Commands, MemoryBlockCountIsSettable) {
  sim_.setMemoryBlocks(2, 5);
  EXPECT_EQ(bytesToHex(ask(bytes("83 02 04 00")).substr(0, 4)), "83 00 05 00");
  EXPECT_EQ(ask(bytes("83 02 05 00")), bytes("83 D3"));
}

TEST_P(Commands, FirmwareIsReceivedByBlockNumber) {
  std::string image;
  for (int i = 0; i < 300; ++i) image += static_cast<char>(i * 13);
  EXPECT_EQ(ask(bytes("C0")), bytes("C0 00"));
  EXPECT_EQ(ask(bytes("C3")), bytes("C3 00 00 00"));
  EXPECT_EQ(ask(bytes("C0")), bytes("C0 00"));
  // Blocks out of order land by their number.
  EXPECT_EQ(ask(bytes("C1 00 02 00") + image.substr(256)), bytes("C1 00"));
  EXPECT_EQ(ask(bytes("C1 00 01 00") + image.substr(0, 256)), bytes("C1 00"));
  EXPECT_EQ(ask(bytes("C1 00 00 00 01")), bytes("C1 D3"));                       // block 0
  EXPECT_EQ(ask(bytes("C1 00 03 00") + std::string(257, 'x')), bytes("C1 D3"));  // 257 bytes
  EXPECT_EQ(ask(bytes("C1 00 E1 01 01")), bytes("C1 D3"));                       // block 481
  EXPECT_EQ(ask(bytes("C1 00 03 00")), bytes("C1 D3"));                          // no data
  EXPECT_TRUE(sim_.programmingMode());
  EXPECT_EQ(ask(bytes("C2")), bytes("C2 00"));
  EXPECT_EQ(ask(bytes("C3")), bytes("C3 00 01 00"));
  EXPECT_FALSE(sim_.programmingMode());
  EXPECT_EQ(sim_.firmware(), image);
  EXPECT_EQ(sim_.firmwareUpdates(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Transports, Commands, ::testing::Values(Transport::UDP, Transport::TCP),
                         [](const auto& info) {
                           return info.param == Transport::UDP ? "UDP" : "TCP";
                         });

}  // namespace
