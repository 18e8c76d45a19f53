// The automation object end to end: devices, terminal commands against the
// simulator, settings tables, the server side with its events, persistence.
#include <gtest/gtest.h>

#include <fstream>

#include "driver/automation/dialog_host.h"
#include "platform/format.h"
#include "test_support.h"
#include "vistel_fixture.h"

namespace mirelo {
namespace {

using termsim::Simulator;

class VistelTest : public ::testing::Test {
 protected:
  test::ScratchRegistry registry;
};

TEST_F(VistelTest, AFreshObjectHasTheDefaults) {
  test::Host host;
  EXPECT_FALSE(host.get("LogEnabled").toBool());
  std::string log = host.getText("LogFileName");
  EXPECT_EQ(log.substr(log.size() - 4), ".log");
  EXPECT_EQ(host.getInt("LDCount"), 1);
  EXPECT_EQ(host.getInt("LDNumber"), 1);
  EXPECT_EQ(host.getText("ClientIP"), "192.168.0.166");
  EXPECT_EQ(host.getInt("ServerPort"), 2004);
  EXPECT_EQ(host.getInt("ServerProtocol"), 1);
  EXPECT_EQ(host.getInt("ResultCode"), 0);
  EXPECT_EQ(host.getText("FileVersion"), "1.0.0.1");
}

TEST_F(VistelTest, WritesOutOfRangeAnswerAsThePartSays) {
  test::Host host;
  EXPECT_EQ(host.put("ClientProtocol", 2), "") << "the call succeeds";
  EXPECT_EQ(host.getInt("ResultCode"), -6);
  EXPECT_EQ(host.resultText(), "Недопустимое значение");
  EXPECT_EQ(host.getInt("ClientProtocol"), 1) << "the device is unchanged";
  EXPECT_EQ(host.put("ServerProtocol", 7), "");
  EXPECT_EQ(host.getInt("ResultCode"), -6);
  EXPECT_EQ(host.put("LDIndex", 99), "Недопустимое значение");
  EXPECT_EQ(host.put("LDIndex", 5), "Логическое устройство не найдено");
  EXPECT_EQ(host.put("LDName", std::string(21, 'x').c_str()), "Недопустимое значение");
  EXPECT_EQ(host.put("ClientTimeout", 70000), "");
  EXPECT_EQ(host.object.get() != nullptr, true);
  // The driver core took the low 16 bits.
  EXPECT_EQ(host.getInt("ResultCode"), 0);
  // Widths of stored integers.
  host.put("TableNumber", 0x1FF);
  EXPECT_EQ(host.getInt("TableNumber"), 0xFF);
  host.put("RowNumber", 0x12345);
  EXPECT_EQ(host.getInt("RowNumber"), 0x2345);
  host.put("DeviceCode", 4);
  EXPECT_EQ(host.getText("DeviceCodeDescription"), "Неизвестный код устройства");
}

// A write that fails changes nothing, in the object or in the store.
TEST_F(VistelTest, RefusedWritesChangeNothing) {
  const std::string range = "Недопустимое значение\r\nЗначение должно лежать в диапазоне 0..65535.";
  const std::string minimum = "Недопустимое значение\r\nЗначение должно быть не меньше 1.";
  const struct {
    const char* member;
    Variant value;
    std::string refusal;
  } cases[] = {
      {"ClientTimeout", Variant(0), "Недопустимое значение"},
      {"ClientTimeout", Variant(65536), "Недопустимое значение"},
      {"ClientPort", Variant(-1), range},
      {"ClientPort", Variant(99999), range},
      {"ServerPort", Variant(70000), range},
      {"RepeatCount", Variant(0), minimum},
      {"RepeatCount", Variant(-5), minimum},
      {"ClientIP", Variant::fromAnsi(std::string(100000, '1')),
       "'1111111111111111...' не является корректным IP адресом."},
      {"ClientIP", Variant::fromAnsi("1.2.3"), "'1.2.3' не является корректным IP адресом."},
      {"ClientIP", Variant::fromAnsi("127.0.0.255"),
       "'127.0.0.255' не является корректным IP адресом."},
  };
  {
    test::Host host;
    for (const auto& c : cases) {
      std::string before = host.getText(c.member);
      EXPECT_EQ(host.put(c.member, c.value), c.refusal) << c.member;
      EXPECT_EQ(host.getText(c.member), before) << c.member;
    }
    EXPECT_EQ(host.put("ClientPort", 0), "");
    EXPECT_EQ(host.put("ClientIP", "127.000.000.001"), "") << "what SetIPAddress takes";
  }
  test::Host again;
  EXPECT_EQ(again.getInt("ClientTimeout"), 3000);
  EXPECT_EQ(again.getInt("RepeatCount"), 3);
  EXPECT_EQ(again.getInt("ServerPort"), 2004);
  EXPECT_EQ(again.getInt("ClientPort"), 0);
}

// A store that cannot be read: the defaults, the reason from SaveParams and
// in the log, and the store left as it was.
TEST_F(VistelTest, AnUnusableStoreGivesTheDefaultsAndIsNotWrittenOver) {
  std::string garbage(4096, '\x5A');
  {
    std::ofstream(registry.path("garbage.db"), std::ios::binary) << garbage;
    std::ofstream(registry.path("file")) << "x";
  }
  for (const std::string& store :
       {registry.path("garbage.db"), registry.path("file") + "/registry.db"}) {
    SCOPED_TRACE(store);
    setenv("MIRELO_REGISTRY", store.c_str(), 1);
    {
      test::Host host;
      host.connectSink();
      EXPECT_EQ(host.getInt("LDCount"), 1);
      EXPECT_EQ(host.getInt("LDNumber"), 1);
      EXPECT_EQ(host.getText("ClientIP"), "192.168.0.166");
      EXPECT_EQ(host.getInt("ServerPort"), 2004);
      EXPECT_EQ(host.put("LDName", "Новое"), "");
      host.put("LogFileName", registry.path("driver.log").c_str());
      host.put("LogEnabled", Variant(true));
      EXPECT_EQ(host.call("SaveParams"), -199);
      std::string reason = host.resultText();
      EXPECT_EQ(reason.rfind("Registry '" + store + "'", 0), 0u) << reason;
      auto lines = host.sink->of(DISPID_LogEvent);
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0].data.substr(24), "Settings not saved: " + reason);
    }
    std::ifstream in(registry.path("garbage.db"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), garbage);
  }
}

TEST_F(VistelTest, TextCrossesTheBoundaryAndBinaryMembersKeepEveryByte) {
  test::Host host;
  EXPECT_EQ(host.put("Line1", Variant(u"Цена \u4E2D 5€")), "");
  EXPECT_EQ(host.get("Line1").toString(), u"Цена ? 5€");
  std::u16string all;
  for (int b = 0; b < 256; ++b) all += ansiToWide(static_cast<unsigned char>(b));
  EXPECT_EQ(host.put("ClientData", Variant(all)), "");
  EXPECT_EQ(host.get("ClientData").toString(), all);
}

TEST_F(VistelTest, DevicesAreSelectedAndAppliedAndPersist) {
  {
    test::Host host;
    EXPECT_EQ(host.call("AddLD"), 0);
    EXPECT_EQ(host.getInt("LDNumber"), 2);
    host.put("LDName", "Касса 2");
    host.put("ClientIP", "127.0.0.2");
    EXPECT_EQ(host.call("AddLD"), 0);
    EXPECT_EQ(host.getInt("LDCount"), 3);
    EXPECT_EQ(host.call("DeleteLD"), 0);
    EXPECT_EQ(host.getInt("LDCount"), 2);
    EXPECT_EQ(host.call("DeleteLD"), 0);
    EXPECT_EQ(host.call("DeleteLD"), -8);
    EXPECT_EQ(host.resultText(), "Невозможно удалить логическое устройство");
    host.call("AddLD");
    host.put("LDName", "Касса 2");
    host.put("ClientIP", "127.0.0.2");
    host.put("ServerPort", 2100);
    host.put("SoftFileName", "/tmp/firmware.bin");
  }  // destruction saves
  test::Host again;
  EXPECT_EQ(again.getInt("LDCount"), 2);
  EXPECT_EQ(again.put("LDNumber", 2), "");
  EXPECT_EQ(again.getText("LDName"), "Касса 2");
  EXPECT_EQ(again.getText("ClientIP"), "127.0.0.2");
  EXPECT_EQ(again.getInt("ServerPort"), 2100);
  EXPECT_EQ(again.getText("SoftFileName"), "/tmp/firmware.bin");
}

class CommandsOver : public VistelTest, public ::testing::WithParamInterface<TProtocol> {};

TEST_P(CommandsOver, EveryTerminalCommand) {
  Simulator sim;
  sim.withState([](termsim::TerminalState& state) {
    state.status.setSerialNumber(42);
    state.status.flags = 0x41;
  });
  sim.start();
  test::Host host;
  host.aim(sim.port(), GetParam());
  EXPECT_EQ(host.call("GetStatus"), 0) << host.resultText();
  EXPECT_EQ(host.resultText(), "Ошибок нет");
  EXPECT_EQ(host.getInt("SerialNumber"), 42);
  EXPECT_TRUE(host.get("IsDeviceLocked").toBool());
  EXPECT_TRUE(host.get("IsSetupTableError").toBool());
  EXPECT_EQ(host.getInt("StatusFlags"), 0x41);
  EXPECT_EQ(host.getText("SoftDate"), "15.03.2010");
  EXPECT_EQ(host.getText("SoftVersion"), "2.5");
  EXPECT_EQ(host.getText("MAC").size(), 17u);
  EXPECT_EQ(host.getText("Input"), "BB");
  EXPECT_EQ(host.getText("Output").substr(0, 5), "BB 00");
  EXPECT_EQ(host.call("UnlockDevice"), 0);
  EXPECT_FALSE(sim.locked());
  EXPECT_EQ(host.call("LockDevice"), 0);
  EXPECT_TRUE(sim.locked());
  host.put("Line1", "Молоко 3,2%");
  host.put("Line2", "89.90");
  EXPECT_EQ(host.call("ShowMessage"), 0);
  EXPECT_EQ(sim.display().line1.substr(0, 11), "Молоко 3,2%");
  host.put("MessageNumber", 1);
  EXPECT_EQ(host.call("WriteMessage"), 0);
  host.put("Line1", "");
  EXPECT_EQ(host.call("ReadMessage"), 0);
  EXPECT_EQ(host.getText("Line1").substr(0, 11), "Молоко 3,2%");
  host.put("Barcode", "4600000000001");
  EXPECT_EQ(host.call("SendBarcode"), 0);
  EXPECT_EQ(host.call("TestTCP"), 0);
  EXPECT_EQ(host.call("Reset"), 0);
  EXPECT_EQ(host.call("InitTable"), 0);
  host.put("LineNumber", 2);
  host.put("LineData", "бегущая строка");
  EXPECT_EQ(host.call("ShowLine"), 0);
  host.put("Line1Params", "01 02");
  EXPECT_EQ(host.call("ShowMessage2"), 0);
  host.put("CommandData", "C9");
  EXPECT_EQ(host.call("SendCommand"), 0);
  EXPECT_EQ(host.getText("Output"), "C9 00");
  host.put("DeviceCode", 1);
  host.put("DataBlockNumber", 0);
  EXPECT_EQ(host.call("GetData"), 0) << host.resultText();
  EXPECT_EQ(host.get("DataBlock").toString().size(), 1024u);
  EXPECT_EQ(host.get("DataBlockSA").toBytes().size(), 1024u);
  EXPECT_EQ(host.getText("DeviceCodeDescription"), "Внутренняя ПД");
  host.put("DataBlockNumber", 60000);
  EXPECT_EQ(host.call("GetData"), 211);
  EXPECT_EQ(host.resultText(), "Неверное значение параметров команды.");
}

INSTANTIATE_TEST_SUITE_P(Transports, CommandsOver, ::testing::Values(ptUDP, ptTCP),
                         [](const auto& info) { return info.param == ptUDP ? "UDP" : "TCP"; });

TEST_F(VistelTest, SettingsTablesReadChangeValidateAndWrite) {
  Simulator sim;
  sim.start();
  test::Host host;
  host.aim(sim.port(), ptUDP);
  host.put("TableNumber", 2);
  ASSERT_EQ(host.call("GetTableStruct"), 0) << host.resultText();
  EXPECT_EQ(host.getText("TableName"), "Коды товаров");
  EXPECT_EQ(host.getInt("RowNumber"), 4);
  EXPECT_EQ(host.getInt("FieldNumber"), 10) << "the field count";
  host.put("FieldNumber", 1);
  ASSERT_EQ(host.call("GetFieldStruct"), 0);
  EXPECT_EQ(host.getText("FieldName"), "Префикс");
  EXPECT_EQ(host.getInt("FieldSize"), 2);
  EXPECT_EQ(host.getText("FieldMaxValueStr"), "9999");
  ASSERT_EQ(host.call("ReadTable"), 0) << host.resultText();
  host.put("RowNumber", 3);
  host.put("FieldNumber", 1);
  ASSERT_EQ(host.call("GetFieldParams"), 0);
  EXPECT_EQ(host.getText("FieldValue"), "4603");
  host.put("FieldValue", "10000");
  EXPECT_EQ(host.call("SetFieldValue"), -199);
  host.put("FieldValue", "1234");
  EXPECT_EQ(host.call("SetFieldValue"), 0);
  EXPECT_EQ(host.getText("FieldValue"), "1234");
  host.put("RowNumber", 4);
  EXPECT_EQ(host.call("WriteTable"), 0) << host.resultText();
  uint64_t stored =
      sim.withState([](termsim::TerminalState& s) { return s.tables[2].number(3, 1); });
  EXPECT_EQ(stored, 1234u);
  // No such table or field: 211 without an exception.
  host.put("TableNumber", 40);
  EXPECT_EQ(host.call("GetTableStruct"), 211);
  EXPECT_EQ(host.resultText(), "Неверное значение параметров команды.");
  host.put("RowNumber", 9);
  EXPECT_EQ(host.call("GetFieldParams"), -6);
}

TEST_F(VistelTest, ReadTableWithoutTheWholeStructureKeepsWhatItBuilt) {
  Simulator sim;
  sim.start();
  test::Host host;
  host.aim(sim.port(), ptUDP);
  host.put("TableNumber", 2);
  host.call("GetTableStruct");
  host.put("RowNumber", 1);  // only row 0 is covered
  ASSERT_EQ(host.call("ReadTable"), 0);
  host.put("RowNumber", 0);
  host.put("FieldNumber", 0);
  EXPECT_EQ(host.call("GetFieldParams"), 0);
  EXPECT_EQ(host.getText("FieldValue"), "1");
  host.put("RowNumber", 1);
  EXPECT_EQ(host.call("GetFieldParams"), -6);
}

TEST_F(VistelTest, ServerEventsAndAnswers) {
  test::Host host;
  host.connectSink();
  // A free port for the server.
  uint16_t port;
  {
    test::TcpListener probe;
    port = probe.port;
  }
  host.put("ServerProtocol", 1);
  host.put("ServerPort", static_cast<int32_t>(port));
  ASSERT_EQ(host.call("OpenServer"), 0) << host.resultText();
  EXPECT_TRUE(host.get("ServerOpened").toBool());
  host.put("LogEnabled", Variant(true));
  host.put("LogFileName", registry.path("driver.log").c_str());
  int terminal = test::connectTo(port);
  test::writeAll(terminal, std::string("\xAB\x00", 2) + "4600000000001");
  ASSERT_TRUE(MessageLoop::current().runUntil(
      [&] { return !host.sink->of(DISPID_DataEvent).empty(); }, 5000));
  test::Event event = host.sink->of(DISPID_DataEvent).at(0);
  EXPECT_EQ(event.data, "4600000000001");
  host.put("SenderID", event.senderId);
  EXPECT_EQ(host.call("GetSenderParams"), 0);
  EXPECT_EQ(host.getText("SenderIP"), "127.0.0.1");
  EXPECT_EQ(host.call("DeviceBySenderID"), -6);
  EXPECT_EQ(host.resultText(), "Устройство с IP='127.0.0.1' не найдено.");
  host.put("ClientIP", "127.0.0.1");
  EXPECT_EQ(host.call("DeviceBySenderID"), 0);
  host.put("Line1", "Молоко");
  host.put("Line2", "");
  EXPECT_EQ(host.call("SendAnswer"), 0);
  std::string answer = test::readSome(terminal);
  EXPECT_EQ(answer, std::string("\xAB\x00\x3C", 3) + "Молоко" + std::string(54, ' '));
  EXPECT_EQ(host.getText("Input").substr(0, 8), "AB 00 3C");
  auto logs = host.sink->of(DISPID_LogEvent);
  ASSERT_FALSE(logs.empty());
  EXPECT_EQ(logs.back().data.substr(24, 8), "TCP: -> ");
  host.put("SenderID", event.senderId + 1000);
  EXPECT_EQ(host.call("GetSenderParams"), -6);
  EXPECT_EQ(host.call("DeviceBySenderID"), -6);
  EXPECT_EQ(host.resultText(), format("Клиент с ID = %d не найден.", event.senderId + 1000));
  EXPECT_EQ(host.call("SendAnswer"), 0) << "nobody to send to is no failure";
  EXPECT_EQ(host.call("SendEvent"), 0);
  EXPECT_EQ(host.sink->of(DISPID_DataEvent).back().data, "Test");
  EXPECT_EQ(host.sink->of(DISPID_DataEvent).back().senderId, 123);
  EXPECT_EQ(host.call("CloseServer"), 0);
  EXPECT_EQ(host.getText("Input"), "");
  ::close(terminal);
  std::ifstream file(registry.path("driver.log"));
  EXPECT_TRUE(file.good()) << "the log went to the file too";
}

TEST_F(VistelTest, AFailingSinkDoesNotStopTheQueue) {
  test::Host host;
  host.connectSink();
  host.sink->failDataEvents = true;
  host.put("ServerProtocol", 0);
  test::UdpPeer terminal;
  uint16_t port;
  {
    test::UdpPeer probe;
    port = probe.port;
  }
  host.put("ServerPort", static_cast<int32_t>(port));
  ASSERT_EQ(host.call("OpenServer"), 0);
  terminal.sendTo(port, std::string("\xAB\x00"
                                    "1",
                                    3));
  terminal.sendTo(port, std::string("\xAB\x00"
                                    "2",
                                    3));
  ASSERT_TRUE(MessageLoop::current().runUntil(
      [&] { return host.sink->of(DISPID_DataEvent).size() == 2; }, 5000));
  EXPECT_EQ(host.sink->of(DISPID_DataEvent)[1].data, "2");
}

TEST_F(VistelTest, DialogMembersFailClearlyWithoutDialogs) {
  test::Host host;
  registerDialogHost(nullptr);
  EXPECT_EQ(host.call("ShowTables"), -199);
  EXPECT_EQ(host.resultText(), DialogsUnavailableText);
  Variant result;
  EXCEPINFO info{};
  EXPECT_EQ(host.invoke("ShowProperties", DISPATCH_METHOD, {}, &result, &info), DISP_E_EXCEPTION);
  EXPECT_EQ(wideToAnsi(info.bstrDescription), DialogsUnavailableText);
  EXPECT_EQ(host.invoke("AboutBox", DISPATCH_METHOD, {}, &result, &info), DISP_E_EXCEPTION);
}

// Puts and methods reached through the virtual table fail with the
// exception's status (Invoke's is DISP_E_EXCEPTION) and Invoke's description,
// in the thread's error information.
TEST_F(VistelTest, VirtualTableCallsFailAsInvokeDoes) {
  test::Host host;
  registerDialogHost(nullptr);
  auto failure = [](HRESULT hr) {
    ComPtr<IErrorInfo> info;
    BSTR text;
    if (GetErrorInfo(0, info.put()) != S_OK || !info || FAILED(info->GetDescription(&text)))
      return format("%08X without error information", static_cast<unsigned>(hr));
    return format("%08X %s", static_cast<unsigned>(hr), wideToAnsi(text).c_str());
  };
  const auto refused = format("%08X ", static_cast<unsigned>(E_FAIL));
  EXPECT_EQ(failure(host.object->put_LDIndex(99)), refused + host.put("LDIndex", 99));
  EXPECT_EQ(failure(host.object->put_ClientIP(u"1.2.3")), refused + host.put("ClientIP", "1.2.3"));
  LONG code = 0;
  EXPECT_EQ(failure(host.object->ShowProperties(&code)), refused + DialogsUnavailableText);
  EXPECT_EQ(host.object->ShowProperties(nullptr), E_POINTER);
}

TEST_F(VistelTest, SetIPAddressMovesTheTerminalAndFollowsIt) {
  Simulator sim;
  sim.start();
  test::Host host;
  host.aim(sim.port(), ptUDP);
  host.put("ClientIP", "127.0.0.9");
  EXPECT_TRUE(sim.journal().empty()) << "writing the address sends nothing";
  EXPECT_EQ(host.call("SetIPAddress"), 0) << host.resultText();
  EXPECT_EQ(sim.newAddress(), "127.0.0.9");
  // An address SetIPAddress would refuse is refused as it is written.
  EXPECT_EQ(host.put("ClientIP", "not an address"),
            "'not an address' не является корректным IP адресом.");
  EXPECT_EQ(host.getText("ClientIP"), "127.0.0.9");
}

}  // namespace
}  // namespace mirelo
