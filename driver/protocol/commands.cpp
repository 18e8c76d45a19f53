// The terminal command set. Every request is the command byte and its data;
// every reply echoes the command byte, adds the error byte, then its data.
// Replies are read only through ByteReader, so a terminal that announces more
// than it sends can never make the driver read past the frame.
#include "driver/errors/driver_error.h"
#include "driver/protocol/custom_driver.h"
#include "driver/protocol/status_rec.h"
#include "platform/bytes.h"
#include "platform/format.h"
#include "platform/process.h"

namespace mirelo {

namespace {

// Code and reply minimum of every command of this file.
struct CommandDef {
  uint8_t code;
  size_t replyMinimum;
};
constexpr CommandDef kTableStruct{0x2D, 45};
constexpr CommandDef kFieldStruct{0x2E, 56};
constexpr CommandDef kReadData{0x83, 1028};
constexpr CommandDef kInitTables{0xA8, 2};
constexpr CommandDef kShowMessage{0xAA, 2};
constexpr CommandDef kSendBarcode{0xAC, 2};
constexpr CommandDef kMessages{0xAD, 2};
constexpr CommandDef kShowMessage2{0xAE, 2};
constexpr CommandDef kShowLine{0xAF, 2};
constexpr CommandDef kSetAddress{0xB7, 2};
constexpr CommandDef kLock{0xB9, 2};
constexpr CommandDef kStatus{0xBB, 29};
constexpr CommandDef kWriteTable{0xBC, 2};
constexpr CommandDef kReadTable{0xBD, 3};
constexpr CommandDef kReset{0xC8, 2};
constexpr CommandDef kTestExchange{0xC9, 2};

// The terminal's answer to a table or field number past the last one.
constexpr uint8_t kNoSuchItem = ResultCode::InvalidParameters;

constexpr size_t kNameWidth = 40;
constexpr size_t kLimitWidth = 6;
constexpr size_t kMessageLineWidth = 30;
constexpr size_t kMessage2LineWidth = 40;
constexpr size_t kMessageParametersSize = 5;
constexpr size_t kDataBlockSize = 1024;

enum MessageOperation : uint8_t { ReadStored = 0, WriteStored = 1, RestoreDefault = 2 };

[[noreturn]] void raiseTooShort(size_t length, size_t minimum) {
  raiseError(ResultCode::InvalidData, format(ResultText::FrameTooShort, static_cast<int>(length),
                                             static_cast<int>(minimum)));
}

std::string request(const CommandDef& command) {
  return std::string(1, static_cast<char>(command.code));
}

// Two lines, each cut to `width` and padded with blanks: always 2 * width bytes.
std::string twoLines(std::string_view line1, std::string_view line2, size_t width) {
  return ByteWriter(2 * width).fixed(line1, width, ' ').fixed(line2, width, ' ').take();
}

// A stored line ends at its first 0x00.
std::string storedLine(std::string_view text) {
  return std::string(text.substr(0, text.find('\0')));
}

// Reply data of 0xAD operations 0 and 2: the length byte, then the text. A
// reply shorter than its length byte yields the bytes present.
TCustomDriver::TMessageLines decodeMessage(std::string_view data) {
  if (data.empty()) raiseTooShort(data.size() + 2, 3);
  ByteReader reader(data);
  uint8_t length = reader.u8();
  ByteReader text(reader.upTo(length));
  TCustomDriver::TMessageLines lines;
  lines.Line1 = storedLine(text.upTo(kMessageLineWidth));
  lines.Line2 = storedLine(text.upTo(kMessageLineWidth));
  return lines;
}

std::string messageRequest(uint8_t number, MessageOperation operation, std::string_view text) {
  return ByteWriter(3 + text.size())
      .u8(number)
      .u8(operation)
      .u8(static_cast<unsigned>(text.size()))
      .bytes(text)
      .take();
}

TStatusRec decodeStatus(std::string_view reply) {
  ByteReader reader(reply);
  reader.seek(2);
  TStatusRec status;
  uint8_t major = reader.u8();
  uint8_t minor = reader.u8();
  status.Version = format("%d.%d", major, minor);
  status.Build = reader.u16le();
  uint8_t day = reader.u8();
  uint8_t month = reader.u8();
  uint8_t year = reader.u8();
  status.Date = encodeDate(2000 + year, month, day);
  reader.skip(12);  // bytes 9 to 20
  status.Flags = reader.u8();
  status.Locked = status.Flags & StatusFlags::Locked;
  status.TableError = status.Flags & StatusFlags::TableError;
  reader.skip(1);
  std::string_view mac = reader.bytes(6);
  status.MAC = bytesToHex(mac, "-");
  // The MAC address is also the firm, the device type and the serial number.
  ByteReader macReader(mac);
  status.FirmID = macReader.u24be();
  status.DeviceType = macReader.u8();
  status.SerialNumber = macReader.u16be();
  status.DeviceTypeName = DeviceTypeName(static_cast<int32_t>(status.DeviceType));
  return status;
}

// One exchange of a structure request: empty when the terminal answers 211,
// the checked reply otherwise.
std::optional<std::string> exchangeStructure(TCustomDriver& driver, std::string_view requestFrame,
                                             const CommandDef& command) {
  driver.SendFrame(requestFrame);
  std::string reply = driver.ReceiveReply(command.code, command.replyMinimum);
  if (reply.size() >= 2 && static_cast<uint8_t>(reply[1]) == kNoSuchItem) return std::nullopt;
  TCustomDriver::CheckReply(reply, command.code, command.replyMinimum);
  return reply;
}

}  // namespace

TStatusRec TCustomDriver::ReadStatus() {
  return decodeStatus(ExchangeOnce(request(kStatus), kStatus.code, kStatus.replyMinimum));
}

void TCustomDriver::Lock(bool locked) {
  ExchangeOnce(ByteWriter(2).u8(kLock.code).u8(locked ? 1 : 0).take(), kLock.code,
               kLock.replyMinimum);
}

void TCustomDriver::Reset() {
  ExchangeOnce(request(kReset), kReset.code, kReset.replyMinimum);
}

void TCustomDriver::InitTables() {
  ExchangeOnce(request(kInitTables), kInitTables.code, kInitTables.replyMinimum);
}

void TCustomDriver::TestExchange() {
  ExecuteCommand(kTestExchange.code, {});
}

void TCustomDriver::SetIPAddress(const std::string& newAddress) {
  // Checked before anything goes out: a terminal given a wrong address is
  // lost to the host.
  IPBytes bytes = parseIPText(newAddress);
  // The dotted text of what the terminal was given, so that the transports
  // and the address cache see the same address (the text may carry a
  // trailing dot or leading zeros).
  std::string address = format("%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
  ByteWriter frame(5);
  frame.u8(kSetAddress.code);
  for (uint8_t b : bytes) frame.u8(b);
  ExchangeOnce(frame.take(), kSetAddress.code, kSetAddress.replyMinimum);
  // Old entries would keep the host sending to the terminal's former
  // hardware mapping; their outcome does not matter.
  runDetached({{"arp", "-d", DeviceAddress()}, {"arp", "-d", address}});
  SetDeviceAddress(address);
}

void TCustomDriver::ShowMessage(std::string_view line1, std::string_view line2) {
  std::string text = twoLines(line1, line2, kMessageLineWidth);
  ExchangeOnce(ByteWriter(2 + text.size())
                   .u8(kShowMessage.code)
                   .u8(static_cast<unsigned>(text.size()))
                   .bytes(text)
                   .take(),
               kShowMessage.code, kShowMessage.replyMinimum);
}

void TCustomDriver::ShowMessage2(std::string_view line1, std::string_view line2,
                                 std::string_view parameters1, std::string_view parameters2,
                                 uint8_t outputTime) {
  std::string text = twoLines(line1, line2, kMessage2LineWidth);
  ExecuteCommand(kShowMessage2.code, ByteWriter(2 + 2 * kMessageParametersSize + text.size())
                                         .u8(outputTime)
                                         .u8(static_cast<unsigned>(text.size()))
                                         .fixed(parameters1, kMessageParametersSize)
                                         .fixed(parameters2, kMessageParametersSize)
                                         .bytes(text)
                                         .take());
}

void TCustomDriver::ShowLine(uint8_t lineNumber, uint8_t lineType, uint8_t lineSpeed,
                             std::string_view text) {
  ExecuteCommand(kShowLine.code, ByteWriter(4 + text.size())
                                     .u8(lineNumber)
                                     .u8(static_cast<unsigned>(text.size()))  // modulo 256
                                     .u8(lineType)
                                     .u8(lineSpeed)
                                     .bytes(text)
                                     .take());
}

TCustomDriver::TMessageLines TCustomDriver::ReadMessage(uint8_t number) {
  return decodeMessage(ExecuteCommand(kMessages.code, messageRequest(number, ReadStored, {})));
}

void TCustomDriver::WriteMessage(uint8_t number, std::string_view line1, std::string_view line2) {
  ExecuteCommand(kMessages.code,
                 messageRequest(number, WriteStored, twoLines(line1, line2, kMessageLineWidth)));
}

TCustomDriver::TMessageLines TCustomDriver::SetDefaultMessage(uint8_t number) {
  return decodeMessage(ExecuteCommand(kMessages.code, messageRequest(number, RestoreDefault, {})));
}

void TCustomDriver::SendBarcode(std::string_view barcode) {
  ExchangeOnce(ByteWriter(2 + barcode.size())
                   .u8(kSendBarcode.code)
                   .u8(static_cast<unsigned>(barcode.size()))  // modulo 256
                   .bytes(barcode)
                   .take(),
               kSendBarcode.code, kSendBarcode.replyMinimum);
}

std::optional<TTableRec> TCustomDriver::ReadTableStruct(uint8_t tableNumber) {
  std::optional<std::string> reply = exchangeStructure(
      *this, ByteWriter(2).u8(kTableStruct.code).u8(tableNumber).take(), kTableStruct);
  if (!reply) return std::nullopt;
  ByteReader reader(*reply, 2);
  TTableRec table;
  table.Number = tableNumber;
  table.Name = trimBlanksAndControls(reader.bytes(kNameWidth));
  table.RowCount = reader.u8();
  reader.skip(1);
  table.FieldCount = reader.u8();
  return table;
}

std::optional<TFieldRec> TCustomDriver::ReadFieldStruct(uint8_t tableNumber, uint8_t fieldNumber) {
  std::optional<std::string> reply = exchangeStructure(
      *this, ByteWriter(3).u8(kFieldStruct.code).u8(tableNumber).u8(fieldNumber).take(),
      kFieldStruct);
  if (!reply) return std::nullopt;
  ByteReader reader(*reply, 2);
  TFieldRec field;
  field.Number = fieldNumber;
  field.Name = trimBlanksAndControls(reader.bytes(kNameWidth));
  field.FieldType = reader.u8();
  field.Size = reader.u8();
  std::string_view minimum = reader.bytes(kLimitWidth);
  std::string_view maximum = reader.bytes(kLimitWidth);
  // Raises -15 for a number or IP field over 6 bytes.
  field.MinValue = decodeFieldLimit(field.FieldType, field.Size, minimum);
  field.MaxValue = decodeFieldLimit(field.FieldType, field.Size, maximum);
  makeLimitTexts(field);
  return field;
}

std::string TCustomDriver::ReadTable(uint8_t tableNumber) {
  std::string reply = ExchangeOnce(ByteWriter(2).u8(kReadTable.code).u8(tableNumber).take(),
                                   kReadTable.code, kReadTable.replyMinimum);
  // Byte 2 carries nothing the driver uses.
  return reply.substr(3);
}

void TCustomDriver::WriteTable(uint8_t tableNumber, std::string_view rowData) {
  ExchangeOnce(
      ByteWriter(2 + rowData.size()).u8(kWriteTable.code).u8(tableNumber).bytes(rowData).take(),
      kWriteTable.code, kWriteTable.replyMinimum);
}

TCustomDriver::TDataBlock TCustomDriver::ReadDataBlock(uint8_t deviceCode, uint16_t blockNumber) {
  std::string reply =
      ExchangeOnce(ByteWriter(4).u8(kReadData.code).u8(deviceCode).u16le(blockNumber).take(),
                   kReadData.code, kReadData.replyMinimum);
  ByteReader reader(reply, 2);
  TDataBlock block;
  block.BlockCount = reader.u16le();
  block.Data = std::string(reader.bytes(kDataBlockSize));
  return block;
}

}  // namespace mirelo
