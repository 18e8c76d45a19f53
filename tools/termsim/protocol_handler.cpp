#include "tools/termsim/protocol_handler.h"

#include "platform/bytes.h"
#include "platform/format.h"

namespace mirelo::termsim {
namespace {

constexpr size_t kNameWidth = 40;
constexpr size_t kRangeWidth = 6;

struct Request {
  TerminalState& state;
  ByteReader& in;   // positioned after the command byte
  ByteWriter& out;  // reply data after command and error byte
  const Faults& faults;
};

// A handler returns the error byte; 0 means success and its data is sent.
// It reads all of the request before it changes the state and changes nothing
// when it fails.
using Handler = uint8_t (*)(Request&);

// A text announced by a length byte must be exactly the rest of the request;
// the length byte holds its length modulo 256.
bool readText(Request& r, uint8_t length, std::string& text) {
  std::string_view rest = r.in.rest();
  if (rest.size() % 256 != length) return false;
  text.assign(rest);
  return true;
}

uint8_t status(Request& r) {
  r.out.bytes(statusReply(r.state.status).substr(2));
  return 0;
}

uint8_t tableStruct(Request& r) {
  uint8_t number = r.in.u8();
  if (number >= r.state.tables.size()) return DeviceError::InvalidParameters;
  const TableDef& table = r.state.tables[number];
  r.out.fixed(table.name, kNameWidth, ' ')
      .u8(table.rows)
      .u8(0)
      .u8(static_cast<unsigned>(table.fields.size()));
  return 0;
}

void writeRange(ByteWriter& out, uint64_t value) {
  for (size_t i = 0; i < kRangeWidth; ++i) out.u8(static_cast<unsigned>(value >> (8 * i)));
}

uint8_t fieldStruct(Request& r) {
  uint8_t tableNumber = r.in.u8();
  uint8_t fieldNumber = r.in.u8();
  if (tableNumber >= r.state.tables.size()) return DeviceError::InvalidParameters;
  const TableDef& table = r.state.tables[tableNumber];
  if (fieldNumber >= table.fields.size()) return DeviceError::InvalidParameters;
  const FieldDef& field = table.fields[fieldNumber];
  r.out.fixed(field.name, kNameWidth, ' ').u8(static_cast<unsigned>(field.type)).u8(field.size);
  bool ranged = field.type != FieldType::String;
  writeRange(r.out, ranged ? field.minValue : 0);
  writeRange(r.out, ranged ? field.maxValue : 0);
  return 0;
}

uint8_t readData(Request& r) {
  uint8_t code = r.in.u8();
  uint16_t block = r.in.u16le();
  if (code >= kMemoryCount) return DeviceError::InvalidParameters;
  size_t blocks = r.state.memoryBlocks(code);
  if (block >= blocks) return DeviceError::InvalidParameters;
  r.out.u16le(static_cast<unsigned>(blocks > 0xFFFF ? 0xFFFF : blocks));
  r.out.bytes(std::string_view(r.state.memories[code]).substr(block * kBlockSize, kBlockSize));
  return 0;
}

uint8_t initTables(Request& r) {
  r.state.restoreTables();
  ++r.state.tableInits;
  return 0;
}

void show(DisplayState& display, std::string_view text, size_t width) {
  display.line1 = std::string(text.substr(0, width));
  display.line2 = text.size() > width ? std::string(text.substr(width, width)) : std::string();
  ++display.updates;
}

uint8_t showMessage(Request& r) {
  uint8_t length = r.in.u8();
  std::string text;
  if (!readText(r, length, text)) return DeviceError::InvalidParameters;
  show(r.state.display, text, 30);
  return 0;
}

uint8_t sendBarcode(Request& r) {
  uint8_t length = r.in.u8();
  std::string text;
  if (!readText(r, length, text)) return DeviceError::InvalidParameters;
  r.state.lastBarcode = text;
  return 0;
}

void writeMessage(ByteWriter& out, const std::string& text) {
  std::string_view sent = std::string_view(text).substr(0, 255);
  out.u8(static_cast<unsigned>(sent.size())).bytes(sent);
}

uint8_t messages(Request& r) {
  uint8_t number = r.in.u8();
  uint8_t operation = r.in.u8();
  uint8_t length = r.in.u8();
  if (number >= r.state.messages.size()) return DeviceError::InvalidParameters;
  std::string& message = r.state.messages[number];
  switch (operation) {
    case 0:
      writeMessage(r.out, message);
      return 0;
    case 1: {
      std::string text;
      if (!readText(r, length, text)) return DeviceError::InvalidParameters;
      message = text;
      return 0;
    }
    case 2:
      message = r.state.defaultMessages[number];
      writeMessage(r.out, message);
      return 0;
    default:
      return DeviceError::InvalidParameters;
  }
}

uint8_t showMessage2(Request& r) {
  uint8_t outputTime = r.in.u8();
  uint8_t length = r.in.u8();
  std::string parameters1(r.in.bytes(5));
  std::string parameters2(r.in.bytes(5));
  std::string text;
  if (!readText(r, length, text)) return DeviceError::InvalidParameters;
  DisplayState& display = r.state.display;
  display.outputTime = outputTime;
  display.parameters1 = parameters1;
  display.parameters2 = parameters2;
  show(display, text, 40);
  return 0;
}

uint8_t showLine(Request& r) {
  uint8_t line = r.in.u8();
  uint8_t length = r.in.u8();
  uint8_t type = r.in.u8();
  uint8_t speed = r.in.u8();
  std::string text;
  if (line < 1 || line > 2 || !readText(r, length, text)) return DeviceError::InvalidParameters;
  DisplayState& display = r.state.display;
  (line == 1 ? display.line1 : display.line2) = text;
  display.lineType[line - 1] = type;
  display.lineSpeed[line - 1] = speed;
  ++display.updates;
  return 0;
}

uint8_t setAddress(Request& r) {
  std::string_view bytes = r.in.bytes(4);
  r.state.newAddress =
      format("%u.%u.%u.%u", static_cast<uint8_t>(bytes[0]), static_cast<uint8_t>(bytes[1]),
             static_cast<uint8_t>(bytes[2]), static_cast<uint8_t>(bytes[3]));
  // The network table shows the terminal's own address.
  if (!r.state.tables.empty()) {
    TableDef& network = r.state.tables[0];
    if (!network.fields.empty() && network.fields[0].type == FieldType::IPAddress &&
        network.fields[0].size == 4)
      network.setText(0, 0, bytes);
  }
  return 0;
}

uint8_t lock(Request& r) {
  uint8_t value = r.in.u8();
  if (value > 1) return DeviceError::InvalidParameters;
  uint8_t& flags = r.state.status.flags;
  flags = value ? flags | StatusFlag::Locked : flags & ~StatusFlag::Locked;
  return 0;
}

// A number field outside its range makes the whole write fail.
bool rowDataInRange(const TableDef& table) {
  for (size_t row = 0; row < table.rows; ++row)
    for (size_t field = 0; field < table.fields.size(); ++field) {
      const FieldDef& def = table.fields[field];
      if (def.type != FieldType::Number) continue;
      uint64_t value = table.number(row, field);
      if (value < def.minValue || value > def.maxValue) return false;
    }
  return true;
}

uint8_t writeTable(Request& r) {
  uint8_t number = r.in.u8();
  if (number >= r.state.tables.size()) return DeviceError::InvalidParameters;
  TableDef& table = r.state.tables[number];
  std::string_view data = r.in.rest();
  if (data.size() != table.dataSize()) return DeviceError::InvalidParameters;
  TableDef written = table;
  written.data.assign(data);
  if (!rowDataInRange(written)) return DeviceError::TableParameter;
  table.data = std::move(written.data);
  return 0;
}

uint8_t readTable(Request& r) {
  uint8_t number = r.in.u8();
  if (number >= r.state.tables.size()) return DeviceError::InvalidParameters;
  const TableDef& table = r.state.tables[number];
  // Byte 2 is not read by hosts; it carries the row count.
  r.out.u8(table.rows).bytes(table.data);
  return 0;
}

uint8_t startProgramming(Request& r) {
  r.state.programmingMode = true;
  r.state.firmware.clear();
  r.state.firmwareBlocks = 0;
  return 0;
}

uint8_t programBlock(Request& r) {
  r.in.u8();  // always 0x00, no meaning
  uint16_t block = r.in.u16le();
  std::string_view data = r.in.rest();
  if (!r.state.programmingMode) return DeviceError::WrongSequence;
  size_t offset = (static_cast<size_t>(block) - 1) * kFirmwareBlockSize;
  if (block == 0 || data.empty() || data.size() > kFirmwareBlockSize ||
      offset + data.size() > kFirmwareMaxSize)
    return DeviceError::InvalidParameters;
  std::string& image = r.state.firmware;
  if (image.size() < offset + data.size()) image.resize(offset + data.size(), '\0');
  image.replace(offset, data.size(), data);
  ++r.state.firmwareBlocks;
  return 0;
}

uint8_t endProgramming(Request& r) {
  if (!r.state.programmingMode) return DeviceError::WrongSequence;
  ++r.state.firmwareUpdates;
  if (!r.faults.stayInProgramming) r.state.programmingMode = false;
  return 0;
}

uint8_t readMode(Request& r) {
  r.out.u8(r.state.programmingMode ? 0 : 1).u8(0);
  return 0;
}

uint8_t reset(Request& r) {
  ++r.state.resets;
  return 0;
}

uint8_t testExchange(Request& r) {
  ++r.state.testExchanges;
  return 0;
}

struct CommandEntry {
  CommandInfo info;
  Handler handler;
};

const CommandEntry kCommands[] = {
    {{Command::TableStruct, "read table structure"}, tableStruct},
    {{Command::FieldStruct, "read field structure"}, fieldStruct},
    {{Command::ReadData, "read data block"}, readData},
    {{Command::InitTables, "initialise tables"}, initTables},
    {{Command::ShowMessage, "show message"}, showMessage},
    {{Command::SendBarcode, "send barcode"}, sendBarcode},
    {{Command::Messages, "stored messages (0 read, 1 write, 2 restore)"}, messages},
    {{Command::ShowMessage2, "show message with parameters"}, showMessage2},
    {{Command::ShowLine, "show line"}, showLine},
    {{Command::SetAddress, "set IP address"}, setAddress},
    {{Command::Lock, "lock (1) or unlock (0)"}, lock},
    {{Command::Status, "read status"}, status},
    {{Command::WriteTable, "write table"}, writeTable},
    {{Command::ReadTable, "read table"}, readTable},
    {{Command::StartProgramming, "start programming"}, startProgramming},
    {{Command::ProgramBlock, "program block"}, programBlock},
    {{Command::EndProgramming, "end programming"}, endProgramming},
    {{Command::ReadMode, "read mode"}, readMode},
    {{Command::Reset, "reset"}, reset},
    {{Command::TestExchange, "test exchange"}, testExchange},
};

const CommandEntry* findCommand(uint8_t code) {
  for (const CommandEntry& entry : kCommands)
    if (entry.info.code == code) return &entry;
  return nullptr;
}

}  // namespace

const std::vector<CommandInfo>& commandTable() {
  static const std::vector<CommandInfo> table = [] {
    std::vector<CommandInfo> out;
    for (const CommandEntry& entry : kCommands) out.push_back(entry.info);
    return out;
  }();
  return table;
}

std::string statusReply(const StatusInfo& status) {
  ByteWriter out(29);
  out.u8(Command::Status).u8(0);
  out.u8(status.versionMajor).u8(status.versionMinor).u16le(status.build);
  out.u8(status.day).u8(status.month).u8(static_cast<unsigned>(status.year - 2000));
  out.fixed({}, 12);  // bytes 9 to 20
  out.u8(status.flags).u8(0);
  for (uint8_t b : status.mac) out.u8(b);
  return out.take();
}

std::string handleRequest(TerminalState& state, std::string_view request, const Faults& faults) {
  if (request.empty()) return {};
  ByteReader in(request);
  uint8_t command = in.u8();
  ByteWriter data;
  uint8_t error;
  if (auto injected = faults.errorFor.find(command); injected != faults.errorFor.end()) {
    error = injected->second;
  } else if (const CommandEntry* entry = findCommand(command)) {
    // Handlers read the whole request before they change anything, so a
    // request cut short changes nothing.
    Request r{state, in, data, faults};
    try {
      error = entry->handler(r);
    } catch (const EBoundsError&) {
      error = DeviceError::InvalidParameters;
    }
  } else {
    error = DeviceError::NotSupported;
  }

  ByteWriter reply;
  reply.u8(command).u8(error);
  if (error == 0) reply.bytes(data.data());
  std::string frame = reply.take();
  if (faults.appliesTo(command)) {
    if (faults.wrongCommand) frame[0] = static_cast<char>(*faults.wrongCommand);
    if (faults.truncateTo && frame.size() > *faults.truncateTo) frame.resize(*faults.truncateTo);
  }
  return frame;
}

}  // namespace mirelo::termsim
