#pragma once
// Records of a terminal's settings tables and fields, and the conversion
// between a field's bytes in the row data and the text value a host sees.
//
// Row data is the Data of every field of a table, row 0's fields first, each
// field exactly Size bytes. Reading fills Data and Value (splitRowData); a
// host changes Value; encoding rebuilds Data (encodeFieldValue); writing joins
// the Data back (joinRowData). A Value still equal to the text its Data reads
// as is encoded back to the same bytes, so an unchanged table is written back
// byte for byte.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace mirelo {

// FieldType values.
constexpr uint8_t ftNumber = 0;
constexpr uint8_t ftString = 1;
constexpr uint8_t ftIPAddress = 2;

// Number and IP fields hold at most this many bytes; a terminal that reports
// more has sent invalid data.
constexpr uint8_t MaxNumberFieldSize = 6;

struct TTableRec {
  uint8_t Number = 0;  // counted from 0
  std::string Name;
  uint16_t RowCount = 0;
  uint8_t FieldCount = 0;
};

struct TFieldRec {
  uint8_t Number = 0;  // within the row, counted from 0
  std::string Name;
  uint8_t FieldType = ftNumber;
  uint8_t Size = 0;  // bytes in the row data
  int32_t MinValue = 0;
  int32_t MaxValue = 0;
  uint8_t Row = 0;  // counted from 0
  std::string Value;
  std::string Data;
  std::string MinValueStr;
  std::string MaxValueStr;
};

// Four address bytes in written order: 192.168.0.166 is C0 A8 00 A6.
using IPBytes = std::array<uint8_t, 4>;

// "число", "строка", "IP адрес", else "неизвестен".
std::string fieldTypeName(uint8_t fieldType);

// Number: signed decimal; IP address: ipText; any other type: empty.
std::string fieldValueText(uint8_t fieldType, int32_t value);

// "%d.%d.%d.%d" of the value's bytes from the least significant one up.
std::string ipText(uint32_t value);

// The terminal's rules: four dot-separated decimal bytes, the fourth below
// 255; text after the fourth byte's dot is ignored. False for anything else.
bool tryParseIPText(std::string_view text, IPBytes& bytes);
// The same, raising -6 "'%s' не является корректным IP адресом." for an
// invalid text.
IPBytes parseIPText(std::string_view text);
// "'%s' не является корректным IP адресом." for text.
std::string invalidIPText(std::string_view text);

// The Value that the bytes of a field read as: below 5 bytes the
// little-endian number as fieldValueText of the type; from 5 bytes on the
// bytes themselves.
std::string dataValueText(uint8_t fieldType, std::string_view data);

// Validates field.Value and rebuilds field.Data with exactly field.Size bytes.
// Raises EConvertError for a number that is no integer, Exception with the
// two-line field text for a number out of range or an invalid IP address;
// Data is unchanged then, Value keeps the new text.
void encodeFieldValue(TFieldRec& field);

// Minimum or maximum of a field from its 6-byte area of the field structure
// reply: the first `size` bytes, little-endian, for number and IP fields; 0
// for other types. Raises -15 for a number or IP field over 6 bytes.
int32_t decodeFieldLimit(uint8_t fieldType, uint8_t size, std::string_view area);

// MinValueStr and MaxValueStr from MinValue and MaxValue by the field's type.
void makeLimitTexts(TFieldRec& field);

class TFields;

// Fills Data and Value of every field of the list from the row data, in list
// order. Raises -15 with the frame length text when the data is shorter than
// the fields' sizes together, and -15 for a number or IP field over 6 bytes;
// no field is changed then. Bytes past the last field are ignored.
void splitRowData(std::string_view rowData, TFields& fields);

// The Data of every field in list order. Raises -6 when a field's Data is not
// exactly its Size (a field never read or encoded), since such data would
// shift every later field of the table.
std::string joinRowData(const TFields& fields);

}  // namespace mirelo
