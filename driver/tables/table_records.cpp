#include "driver/tables/table_records.h"

#include <algorithm>
#include <limits>

#include "driver/errors/driver_error.h"
#include "driver/tables/tables.h"
#include "platform/bytes.h"
#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {

namespace {

struct FieldTypeRow {
  uint8_t type;
  const char* name;
};
constexpr FieldTypeRow kFieldTypes[] = {
    {ftNumber, "число"},
    {ftString, "строка"},
    {ftIPAddress, "IP адрес"},
};
const char* const kUnknownFieldType = "неизвестен";

// Validation texts: the first line names the field, the second the reason.
const char* const kInvalidFieldValue = "Неверное значение поля '%.*s'.\r\n";
const char* const kFieldRange = "Значения поля должны лежать в диапазоне %d..%d.";
const char* const kInvalidIPAddress = "'%.*s' не является корректным IP адресом.";

std::string invalidFieldText(const TFieldRec& field) {
  return format(kInvalidFieldValue, static_cast<int>(field.Name.size()), field.Name.data());
}

bool isNumberLike(uint8_t fieldType) {
  return fieldType == ftNumber || fieldType == ftIPAddress;
}

// Exactly `size` bytes: cut, or padded with the fill byte.
std::string fitted(std::string_view bytes, size_t size, char fill = '\0') {
  return ByteWriter(size).fixed(bytes, size, fill).take();
}

// The `size` least significant bytes of a value, least significant first;
// beyond 4 bytes the sign continues (0x00, or 0xFF for a negative value).
std::string numberBytes(int32_t value, size_t size) {
  ByteWriter writer(size);
  auto bits = static_cast<uint32_t>(value);
  for (size_t i = 0; i < size && i < 4; ++i) writer.u8(bits >> (8 * i));
  for (size_t i = 4; i < size; ++i) writer.u8(value < 0 ? 0xFF : 0x00);
  return writer.take();
}

// The values a number field of `size` bytes reads back unchanged: below 4
// bytes the data is read zero-extended.
void sizeLimits(size_t size, int64_t& lowest, int64_t& highest) {
  if (size >= 4) {
    lowest = std::numeric_limits<int32_t>::min();
    highest = std::numeric_limits<int32_t>::max();
  } else {
    lowest = 0;
    highest = (int64_t{1} << (8 * size)) - 1;
  }
}

std::string encodeNumber(const TFieldRec& field) {
  int32_t value = strToInt(field.Value);
  int64_t lowest = field.MinValue, highest = field.MaxValue;
  if (value >= field.MinValue && value <= field.MaxValue) {
    // A range wider than the field would be cut silently; refuse with the
    // part of the range the field can hold.
    int64_t sizeLowest, sizeHighest;
    sizeLimits(field.Size, sizeLowest, sizeHighest);
    if (value >= sizeLowest && value <= sizeHighest) return numberBytes(value, field.Size);
    lowest = std::max(lowest, sizeLowest);
    highest = std::min(highest, sizeHighest);
  }
  throw Exception(invalidFieldText(field) +
                  format(kFieldRange, static_cast<int>(lowest), static_cast<int>(highest)));
}

std::string encodeIPAddress(const TFieldRec& field) {
  IPBytes bytes;
  if (!tryParseIPText(field.Value, bytes))
    throw Exception(invalidFieldText(field) + invalidIPText(field.Value));
  return fitted(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                field.Size);
}

}  // namespace

std::string fieldTypeName(uint8_t fieldType) {
  for (const auto& row : kFieldTypes)
    if (row.type == fieldType) return row.name;
  return kUnknownFieldType;
}

std::string fieldValueText(uint8_t fieldType, int32_t value) {
  switch (fieldType) {
    case ftNumber:
      return format("%d", value);
    case ftIPAddress:
      return ipText(static_cast<uint32_t>(value));
    default:
      return std::string();
  }
}

std::string ipText(uint32_t value) {
  return format("%d.%d.%d.%d", static_cast<int>(value & 0xFF),
                static_cast<int>((value >> 8) & 0xFF), static_cast<int>((value >> 16) & 0xFF),
                static_cast<int>(value >> 24));
}

bool tryParseIPText(std::string_view text, IPBytes& bytes) {
  if (text.empty()) return false;
  IPBytes collected{};
  size_t count = 0;
  int run = -1;  // no digit yet
  // A text without a final dot is read as if it had one.
  bool addDot = text.back() != '.';
  for (size_t i = 0; i < text.size() + (addDot ? 1 : 0); ++i) {
    char c = i < text.size() ? text[i] : '.';
    if (c >= '0' && c <= '9') {
      run = (run < 0 ? 0 : run) * 10 + (c - '0');
      // Every run ends at a dot, where it would be refused anyway.
      if (run > 255) return false;
    } else if (c == '.') {
      if (run < 0) return false;
      collected[count++] = static_cast<uint8_t>(run);
      run = -1;
      if (count == 4) break;
    } else {
      return false;
    }
  }
  if (count != 4 || collected[3] == 255) return false;
  bytes = collected;
  return true;
}

std::string invalidIPText(std::string_view text) {
  return format(kInvalidIPAddress, static_cast<int>(text.size()), text.data());
}

IPBytes parseIPText(std::string_view text) {
  IPBytes bytes;
  if (!tryParseIPText(text, bytes)) raiseError(ResultCode::InvalidValue, invalidIPText(text));
  return bytes;
}

std::string dataValueText(uint8_t fieldType, std::string_view data) {
  if (data.size() >= 5) return std::string(data);
  return fieldValueText(fieldType, static_cast<int32_t>(ByteReader(data).uintLe(data.size())));
}

void encodeFieldValue(TFieldRec& field) {
  // Untouched values go back as they came, whatever the type or size: a
  // 5-byte number's bytes are no integer text, and the terminal's own data may
  // lie outside the field's range.
  if (field.Data.size() == field.Size && field.Value == dataValueText(field.FieldType, field.Data))
    return;
  switch (field.FieldType) {
    case ftNumber:
      field.Data = encodeNumber(field);
      break;
    case ftIPAddress:
      field.Data = encodeIPAddress(field);
      break;
    case ftString:
      field.Data = fitted(field.Value, field.Size);
      break;
    default:
      // Unknown types keep their bytes; only the length is made right.
      field.Data = fitted(field.Data, field.Size);
      break;
  }
}

int32_t decodeFieldLimit(uint8_t fieldType, uint8_t size, std::string_view area) {
  if (!isNumberLike(fieldType)) return 0;
  if (size > MaxNumberFieldSize || area.size() < size) raiseInvalidData();
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) value |= uint64_t{static_cast<uint8_t>(area[i])} << (8 * i);
  // Up to 4 bytes the value is taken as signed 32-bit; 5 and 6 bytes do not
  // fit, and the greatest 32-bit value keeps a range check of 32-bit values
  // meaningful.
  if (size <= 4) return static_cast<int32_t>(static_cast<uint32_t>(value));
  return static_cast<int32_t>(
      std::min<uint64_t>(value, static_cast<uint64_t>(std::numeric_limits<int32_t>::max())));
}

void makeLimitTexts(TFieldRec& field) {
  field.MinValueStr = fieldValueText(field.FieldType, field.MinValue);
  field.MaxValueStr = fieldValueText(field.FieldType, field.MaxValue);
}

void splitRowData(std::string_view rowData, TFields& fields) {
  // Check everything before changing anything: a failed split leaves the
  // fields as they were.
  size_t needed = 0;
  for (int i = 0; i < fields.Count(); ++i) {
    const TField* field = fields.Items(i);
    if (isNumberLike(field->FieldType()) && field->Size() > MaxNumberFieldSize) raiseInvalidData();
    needed += field->Size();
  }
  if (rowData.size() < needed)
    raiseError(ResultCode::InvalidData,
               format(ResultText::FrameTooShort, static_cast<int>(rowData.size()),
                      static_cast<int>(needed)));
  ByteReader reader(rowData);
  for (int i = 0; i < fields.Count(); ++i) {
    TField* field = fields.Items(i);
    std::string data(reader.bytes(field->Size()));
    field->SetValue(dataValueText(field->FieldType(), data));
    field->SetData(data);
  }
}

std::string joinRowData(const TFields& fields) {
  ByteWriter writer;
  for (int i = 0; i < fields.Count(); ++i) {
    const TField* field = fields.Items(i);
    if (field->Data().size() != field->Size()) raiseInvalidValue();
    writer.bytes(field->Data());
  }
  return writer.take();
}

}  // namespace mirelo
