// Reply checking and decoding of every command: the fuzzer's bytes are what
// the terminal answers, over UDP in one datagram or over TCP in several
// reads, to the command the first byte picks.
#include <vector>

#include "driver/errors/driver_error.h"
#include "driver/protocol/custom_driver.h"
#include "driver/tables/tables.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/reply_operations.h"

namespace mirelo {
namespace {

// Hands out the scripted reads; nothing left is a timeout.
class ScriptedTransport : public IClientTransport {
 public:
  std::vector<std::string> reads;
  size_t next = 0;
  void Open() override {}
  void Close() override {}
  bool Connected() const override { return true; }
  void Send(std::string_view) override {}
  std::string Receive() override { return take(); }
  std::string ReceiveMore() override { return take(); }
  size_t DiscardPending() override { return 0; }

 private:
  std::string take() {
    if (next >= reads.size()) raiseNoConnection();
    return reads[next++];
  }
};

class ScriptedDriver : public TCustomDriver {
 public:
  ScriptedDriver() {
    RouteThrough(&transport, &transport);
    SetTimeout(100);
    SetRepeatCount(2);
  }
  ScriptedTransport transport;
};

// A number, a string and an address field, sized by the parameters.
void splitIntoFields(std::string_view rowData, const uint8_t* p) {
  TFields fields;
  const uint8_t types[] = {ftNumber, ftString, ftIPAddress};
  for (uint8_t i = 0; i < 3; ++i) {
    TFieldRec rec;
    rec.Number = i;
    rec.FieldType = types[i];
    rec.Size = static_cast<uint8_t>(i == 1 ? p[1] % 48 : p[i] % 8);
    rec.MinValue = i == 0 ? -1000 : 0;
    rec.MaxValue = i == 0 ? 100000 : -1;
    new TField(&fields, rec);
  }
  splitRowData(rowData, fields);
  for (TField* field : fields) {
    try {
      field->EncodeValue();
    } catch (const Exception&) {
    }
  }
  std::string joined = joinRowData(fields);
  FUZZ_REQUIRE(rowData.substr(0, joined.size()) == joined);
}

void run(ScriptedDriver& d, uint8_t command, const uint8_t* p) {
  switch (command) {
    case 0xBB:
      d.ReadStatus();
      break;
    case 0x2D:
      d.ReadTableStruct(p[0]);
      break;
    case 0x2E:
      if (auto field = d.ReadFieldStruct(p[0], p[1])) {
        TFields fields;
        new TField(&fields, *field);
      }
      break;
    case 0xBD:
      splitIntoFields(d.ReadTable(p[0]), p);
      break;
    case 0x83: {
      auto block = d.ReadDataBlock(p[0], static_cast<uint16_t>(p[1] | p[2] << 8));
      FUZZ_REQUIRE(block.Data.size() == 1024);
      break;
    }
    case 0xAD:
      (p[3] & 1 ? d.SetDefaultMessage(p[0]) : d.ReadMessage(p[0]));
      break;
    case 0xA8:
      d.InitTables();
      break;
    case 0xAA:
      d.ShowMessage("line 1", "line 2");
      break;
    case 0xAC:
      d.SendBarcode("4600000000001");
      break;
    case 0xAE:
      d.ShowMessage2("a", "b", "\x01\x02", "", p[0]);
      break;
    case 0xAF:
      d.ShowLine(p[0], p[1], p[2], "text");
      break;
    case 0xB9:
      d.Lock(p[0] & 1);
      break;
    case 0xBC:
      d.WriteTable(p[0], "row");
      break;
    case 0xC8:
      d.Reset();
      break;
    case 0xC9:
      d.TestExchange();
      break;
    case 0xC3:
      d.CheckMode();
      break;
    case 0x00:
      d.ReceiveFrame();
      break;
    case 0x01:
      d.SendCommandText(bytesToHex(std::string(reinterpret_cast<const char*>(p), 4)));
      break;
  }
}

}  // namespace
}  // namespace mirelo

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mirelo;
  static ScriptedDriver driver;
  fuzz::Input in(data, size);
  uint8_t command = fuzz::kReplyOperations[in.byte() % sizeof fuzz::kReplyOperations];
  uint8_t flags = in.byte();
  uint8_t parameters[4];
  for (uint8_t& p : parameters) p = in.byte();
  std::vector<size_t> lengths;
  for (int i = 0; i < ((flags >> 1) & 7); ++i) lengths.push_back(in.byte());
  driver.transport.reads.clear();
  driver.transport.next = 0;
  for (size_t length : lengths) driver.transport.reads.emplace_back(in.bytes(length));
  driver.transport.reads.emplace_back(in.rest());
  driver.SetClientProtocol(flags & 1 ? ptTCP : ptUDP);
  try {
    run(driver, command, parameters);
  } catch (const Exception&) {
    // The driver's own failures (EDriverError among them) are its answer.
  }
  return 0;
}
