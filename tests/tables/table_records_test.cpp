#include "driver/tables/table_records.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "driver/errors/driver_error.h"
#include "driver/tables/tables.h"
#include "platform/exception.h"

namespace mirelo {
namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

TFieldRec field(uint8_t type, uint8_t size, int32_t minValue = INT32_MIN,
                int32_t maxValue = INT32_MAX, const std::string& name = "Поле") {
  TFieldRec rec;
  rec.Name = name;
  rec.FieldType = type;
  rec.Size = size;
  rec.MinValue = minValue;
  rec.MaxValue = maxValue;
  return rec;
}

// The code and text a host would see for what the call raises.
template <class Call>
ResultOf failureOf(Call call) {
  try {
    call();
  } catch (const std::exception& error) {
    return resultOf(error);
  }
  ADD_FAILURE() << "nothing was raised";
  return resultOk();
}

// --- type names and value texts ---

TEST(FieldTypeName, NamesEveryTypeAndUnknownOnes) {
  struct Case {
    int type;
    const char* name;
  } cases[] = {
      {0, "число"}, {1, "строка"}, {2, "IP адрес"}, {3, "неизвестен"}, {255, "неизвестен"}};
  for (const auto& c : cases) EXPECT_EQ(fieldTypeName(static_cast<uint8_t>(c.type)), c.name);
}

TEST(FieldValueText, FollowsTheType) {
  EXPECT_EQ(fieldValueText(ftNumber, 4660), "4660");
  EXPECT_EQ(fieldValueText(ftNumber, -17), "-17");
  EXPECT_EQ(fieldValueText(ftNumber, INT32_MIN), "-2147483648");
  EXPECT_EQ(fieldValueText(ftIPAddress, static_cast<int32_t>(0xA600A8C0)), "192.168.0.166");
  EXPECT_EQ(fieldValueText(ftString, 12), "");
  EXPECT_EQ(fieldValueText(7, 12), "");
}

TEST(IPText, LeastSignificantByteFirst) {
  EXPECT_EQ(ipText(0x04030201), "1.2.3.4");
  EXPECT_EQ(ipText(0), "0.0.0.0");
  EXPECT_EQ(ipText(0xFFFFFFFF), "255.255.255.255");
}

TEST(MakeLimitTexts, UsesTheFieldType) {
  TFieldRec ip = field(ftIPAddress, 4, 0x0100000A, static_cast<int32_t>(0xFE00000A));
  makeLimitTexts(ip);
  EXPECT_EQ(ip.MinValueStr, "10.0.0.1");
  EXPECT_EQ(ip.MaxValueStr, "10.0.0.254");
  TFieldRec number = field(ftNumber, 1, 1, 99);
  makeLimitTexts(number);
  EXPECT_EQ(number.MinValueStr, "1");
  EXPECT_EQ(number.MaxValueStr, "99");
  TFieldRec text = field(ftString, 10, 1, 99);
  makeLimitTexts(text);
  EXPECT_EQ(text.MinValueStr, "");
  EXPECT_EQ(text.MaxValueStr, "");
}

// --- IP address text ---

TEST(ParseIPText, TerminalRules) {
  struct Case {
    const char* text;
    bool valid;
    IPBytes bytes;
  } cases[] = {
      {"192.168.0.166", true, {192, 168, 0, 166}},
      {"0.0.0.0", true, {0, 0, 0, 0}},
      {"255.255.255.254", true, {255, 255, 255, 254}},
      {"001.002.003.004", true, {1, 2, 3, 4}},
      {"1.2.3.4.", true, {1, 2, 3, 4}},
      {"1.2.3.4.5", true, {1, 2, 3, 4}},
      {"1.2.3.4.junk", true, {1, 2, 3, 4}},
      {"192.168.0.255", false, {}},
      {"10.0.0", false, {}},
      {"", false, {}},
      {".", false, {}},
      {"1..2.3", false, {}},
      {"256.1.1.1", false, {}},
      {"1.2.3.256", false, {}},
      {" 1.2.3.4", false, {}},
      {"1.2.3.4 ", false, {}},
      {"1.2.x.4", false, {}},
      {"-1.2.3.4", false, {}},
      {"99999999999999999999.1.1.1", false, {}},
  };
  for (const auto& c : cases) {
    IPBytes parsed{9, 9, 9, 9};
    EXPECT_EQ(tryParseIPText(c.text, parsed), c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(parsed, c.bytes) << c.text;
      EXPECT_EQ(parseIPText(c.text), c.bytes) << c.text;
    } else {
      EXPECT_EQ(parsed, (IPBytes{9, 9, 9, 9})) << "an invalid text leaves the bytes: " << c.text;
    }
  }
}

TEST(ParseIPText, CheckingParseRaisesInvalidValueNamingTheText) {
  for (const char* text : {"192.168.0.255", "10.0.0", "", "адрес"}) {
    ResultOf result = failureOf([&] { parseIPText(text); });
    EXPECT_EQ(result.code, ResultCode::InvalidValue);
    EXPECT_EQ(result.text, std::string("'") + text + "' не является корректным IP адресом.");
  }
}

// --- limits of the field structure reply ---

TEST(DecodeFieldLimit, LittleEndianBySize) {
  std::string area = bytes({0x2C, 0x01, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(decodeFieldLimit(ftNumber, 2, area), 300);
  EXPECT_EQ(decodeFieldLimit(ftNumber, 1, area), 0x2C);
  EXPECT_EQ(decodeFieldLimit(ftIPAddress, 4, bytes({10, 0, 0, 1, 7, 7})), 0x0100000A);
  EXPECT_EQ(decodeFieldLimit(ftNumber, 0, area), 0);
  EXPECT_EQ(decodeFieldLimit(ftNumber, 4, bytes({0xFF, 0xFF, 0xFF, 0xFF, 0, 0})), -1);
  EXPECT_EQ(decodeFieldLimit(ftString, 2, area), 0);
  EXPECT_EQ(decodeFieldLimit(9, 40, area), 0) << "other types are 0 whatever their size";
}

TEST(DecodeFieldLimit, FiveAndSixBytesStayWithin32Bits) {
  EXPECT_EQ(decodeFieldLimit(ftNumber, 5, bytes({0x10, 0, 0, 0, 0, 0xAA})), 0x10);
  EXPECT_EQ(decodeFieldLimit(ftNumber, 5, bytes({0, 0, 0, 0, 1, 0})), INT32_MAX);
  EXPECT_EQ(decodeFieldLimit(ftNumber, 6, bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})), INT32_MAX);
}

TEST(DecodeFieldLimit, ImpossibleSizeIsInvalidData) {
  std::string area(6, '\0');
  for (uint8_t type : {ftNumber, ftIPAddress}) {
    for (int size : {7, 40, 255}) {
      ResultOf result =
          failureOf([&] { decodeFieldLimit(type, static_cast<uint8_t>(size), area); });
      EXPECT_EQ(result.code, ResultCode::InvalidData);
      EXPECT_EQ(result.text, "Устройство вернуло неверные данные");
    }
  }
  EXPECT_EQ(failureOf([] { decodeFieldLimit(ftNumber, 4, "\x01\x02"); }).code,
            ResultCode::InvalidData)
      << "an area shorter than the size";
}

// --- split ---

struct SplitCase {
  uint8_t type;
  std::string data;
  std::string value;
};

TEST(SplitRowData, EveryTypeAndSize) {
  const std::string raw5 = bytes({0x01, 0x00, 0x00, 0x00, 0x00});
  const std::string raw6 = bytes({0xC0, 0xA8, 0x00, 0xA6, 0x00, 0xFF});
  const SplitCase cases[] = {
      {ftNumber, bytes({0x7F}), "127"},
      {ftNumber, bytes({0xFF}), "255"},
      {ftNumber, bytes({0x34, 0x12}), "4660"},
      {ftNumber, bytes({0xFF, 0xFF}), "65535"},
      {ftNumber, bytes({0x01, 0x02, 0x03}), "197121"},
      {ftNumber, bytes({0x78, 0x56, 0x34, 0x12}), "305419896"},
      {ftNumber, bytes({0xFF, 0xFF, 0xFF, 0xFF}), "-1"},
      {ftNumber, raw5, raw5},
      {ftNumber, raw6, raw6},
      {ftIPAddress, bytes({0xC0}), "192.0.0.0"},
      {ftIPAddress, bytes({0xC0, 0xA8}), "192.168.0.0"},
      {ftIPAddress, bytes({0xC0, 0xA8, 0x00}), "192.168.0.0"},
      {ftIPAddress, bytes({0xC0, 0xA8, 0x00, 0xA6}), "192.168.0.166"},
      {ftIPAddress, raw5, raw5},
      {ftIPAddress, raw6, raw6},
      {ftString, "A", ""},
      {ftString, "AB", ""},
      {ftString, "ABC", ""},
      {ftString, "ABCD", ""},
      {ftString, "Цена5", "Цена5"},
      {ftString, std::string("abc\0\0\0", 6), std::string("abc\0\0\0", 6)},
      {5, "xyz", ""},
      {5, "xyzuv", "xyzuv"},
  };
  for (const auto& c : cases) {
    TFields fields;
    new TField(&fields, field(c.type, static_cast<uint8_t>(c.data.size())));
    splitRowData(c.data, fields);
    EXPECT_EQ(fields.Items(0)->Data(), c.data);
    EXPECT_EQ(fields.Items(0)->Value(), c.value)
        << "type " << int(c.type) << " size " << c.data.size();
  }
}

TEST(SplitRowData, TwentyByteStringKeepsTrailingZeros) {
  TFields fields;
  new TField(&fields, field(ftString, 20));
  std::string data = "Добро пожаловать";
  data.append(20 - data.size(), '\0');
  splitRowData(data, fields);
  EXPECT_EQ(fields.Items(0)->Value(), data);
  EXPECT_EQ(fields.Items(0)->Value().size(), 20u);
}

TEST(SplitRowData, WalksFieldsInListOrderAcrossRows) {
  TFields fields;
  for (uint8_t row = 0; row < 2; ++row) {
    TFieldRec number = field(ftNumber, 2);
    number.Row = row;
    TFieldRec ip = field(ftIPAddress, 4);
    ip.Row = row;
    ip.Number = 1;
    new TField(&fields, number);
    new TField(&fields, ip);
  }
  std::string data = bytes({0x01, 0x00, 10, 0, 0, 1, 0x02, 0x00, 10, 0, 0, 2, 0xEE});
  splitRowData(data, fields);
  EXPECT_EQ(fields.Items(0)->Value(), "1");
  EXPECT_EQ(fields.Items(1)->Value(), "10.0.0.1");
  EXPECT_EQ(fields.Items(2)->Value(), "2");
  EXPECT_EQ(fields.Items(3)->Value(), "10.0.0.2");
  EXPECT_EQ(fields.Find(1, 1)->Data(), bytes({10, 0, 0, 2})) << "the extra byte is ignored";
}

TEST(SplitRowData, ShortDataRaisesFrameLengthAndChangesNothing) {
  TFields fields;
  TFieldRec first = field(ftNumber, 2);
  first.Value = "old";
  first.Data = "kept";
  new TField(&fields, first);
  new TField(&fields, field(ftString, 10));
  for (size_t length : {0u, 1u, 11u}) {
    std::string data(length, '\x05');
    ResultOf result = failureOf([&] { splitRowData(data, fields); });
    EXPECT_EQ(result.code, ResultCode::InvalidData);
    EXPECT_EQ(result.text, "Длина принятого кадра (" + std::to_string(length) +
                               ") меньше минимальной длины кадра (12).");
    EXPECT_EQ(fields.Items(0)->Value(), "old");
    EXPECT_EQ(fields.Items(0)->Data(), "kept");
  }
}

TEST(SplitRowData, NumberOrIPFieldOverSixBytesIsInvalidData) {
  for (uint8_t type : {ftNumber, ftIPAddress}) {
    TFields fields;
    new TField(&fields, field(ftNumber, 1));
    new TField(&fields, field(type, 7));
    ResultOf result = failureOf([&] { splitRowData(std::string(8, '\x01'), fields); });
    EXPECT_EQ(result.code, ResultCode::InvalidData);
    EXPECT_EQ(result.text, "Устройство вернуло неверные данные");
    EXPECT_EQ(fields.Items(0)->Data(), "") << "nothing is filled before the check";
  }
}

TEST(SplitRowData, EmptyListTakesAnyData) {
  TFields fields;
  EXPECT_NO_THROW(splitRowData("", fields));
  EXPECT_NO_THROW(splitRowData("abc", fields));
}

// --- encode ---

struct EncodeCase {
  uint8_t type;
  uint8_t size;
  const char* value;
  std::string data;
};

TEST(EncodeFieldValue, ChangedValuesOfEveryTypeAndSize) {
  const EncodeCase cases[] = {
      {ftNumber, 1, "200", bytes({0xC8})},
      {ftNumber, 2, "4660", bytes({0x34, 0x12})},
      {ftNumber, 3, "197121", bytes({0x01, 0x02, 0x03})},
      {ftNumber, 4, "305419896", bytes({0x78, 0x56, 0x34, 0x12})},
      {ftNumber, 4, "-2", bytes({0xFE, 0xFF, 0xFF, 0xFF})},
      {ftNumber, 5, "258", bytes({0x02, 0x01, 0x00, 0x00, 0x00})},
      {ftNumber, 5, "-2", bytes({0xFE, 0xFF, 0xFF, 0xFF, 0xFF})},
      {ftNumber, 6, "2147483647", bytes({0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00})},
      {ftNumber, 6, "-2147483648", bytes({0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF})},
      {ftIPAddress, 1, "192.168.0.166", bytes({0xC0})},
      {ftIPAddress, 2, "192.168.0.166", bytes({0xC0, 0xA8})},
      {ftIPAddress, 3, "192.168.0.166", bytes({0xC0, 0xA8, 0x00})},
      {ftIPAddress, 4, "192.168.0.166", bytes({0xC0, 0xA8, 0x00, 0xA6})},
      {ftIPAddress, 5, "10.1.2.3", bytes({10, 1, 2, 3, 0})},
      {ftIPAddress, 6, "10.1.2.3.", bytes({10, 1, 2, 3, 0, 0})},
      {ftString, 1, "Цена", "Ц"},
      {ftString, 3, "ab", bytes({'a', 'b', 0})},
      {ftString, 4, "x", std::string("x\0\0\0", 4)},
      {ftString, 5, "", std::string(5, '\0')},
      {ftString, 5, "Привет, мир", "Приве"},
      {ftString, 6, "Ёж", std::string("Ёж\0\0\0\0", 6)},
      {ftString, 20, "Сыр", "Сыр" + std::string(17, '\0')},
  };
  for (const auto& c : cases) {
    TFieldRec rec = field(c.type, c.size);
    rec.Data = std::string(c.size, '\x55');
    rec.Value = c.value;
    encodeFieldValue(rec);
    EXPECT_EQ(rec.Data, c.data) << "type " << int(c.type) << " size " << int(c.size) << " "
                                << c.value;
    EXPECT_EQ(rec.Data.size(), c.size);
    EXPECT_EQ(rec.Value, c.value);
  }
}

TEST(EncodeFieldValue, ShortStringLeftEmptyKeepsItsBytes) {
  // Below 5 bytes a string reads as an empty value: empty is "unchanged".
  TFieldRec rec = field(ftString, 3);
  rec.Data = "abc";
  rec.Value = "";
  encodeFieldValue(rec);
  EXPECT_EQ(rec.Data, "abc");
}

TEST(EncodeFieldValue, DataOfWrongLengthIsMadeExactlySize) {
  TFieldRec number = field(ftNumber, 2);
  number.Value = "0";  // the text of the (empty) data, yet the data has the wrong length
  encodeFieldValue(number);
  EXPECT_EQ(number.Data, bytes({0, 0}));

  TFieldRec unknown = field(9, 3);
  unknown.Data = "abcdef";
  unknown.Value = "ignored";
  encodeFieldValue(unknown);
  EXPECT_EQ(unknown.Data, "abc") << "unknown types keep their bytes, cut to Size";
  unknown.Data = "a";
  encodeFieldValue(unknown);
  EXPECT_EQ(unknown.Data, bytes({'a', 0, 0}));
}

TEST(EncodeFieldValue, NumberOutOfRangeNamesFieldAndRangeOnTwoLines) {
  TFieldRec rec = field(ftNumber, 1, 1, 99, "Номер кассы");
  rec.Data = bytes({5});
  for (const char* value : {"100", "0", "-1"}) {
    rec.Value = value;
    ResultOf result = failureOf([&] { encodeFieldValue(rec); });
    EXPECT_EQ(result.code, ResultCode::General);
    EXPECT_EQ(result.text,
              "Неверное значение поля 'Номер кассы'.\r\n"
              "Значения поля должны лежать в диапазоне 1..99.");
    EXPECT_EQ(rec.Data, bytes({5})) << "data unchanged";
    EXPECT_EQ(rec.Value, value) << "the new value stays";
  }
  rec.Value = "99";
  encodeFieldValue(rec);
  EXPECT_EQ(rec.Data, bytes({99}));
  rec.Value = "1";
  encodeFieldValue(rec);
  EXPECT_EQ(rec.Data, bytes({1}));
}

TEST(EncodeFieldValue, NumberThatTheSizeCannotHoldIsRefusedWithTheHeldRange) {
  TFieldRec rec = field(ftNumber, 1, -1000, 1000, "Яркость");
  rec.Data = bytes({7});
  rec.Value = "300";
  ResultOf result = failureOf([&] { encodeFieldValue(rec); });
  EXPECT_EQ(result.code, ResultCode::General);
  EXPECT_EQ(result.text,
            "Неверное значение поля 'Яркость'.\r\n"
            "Значения поля должны лежать в диапазоне 0..255.");
  rec.Value = "-1";
  EXPECT_EQ(failureOf([&] { encodeFieldValue(rec); }).text, result.text);
  EXPECT_EQ(rec.Data, bytes({7}));
}

TEST(EncodeFieldValue, NumberThatIsNoIntegerIsAConversionError) {
  TFieldRec rec = field(ftNumber, 2, 0, 100);
  rec.Data = bytes({1, 0});
  rec.Value = "12a";
  EXPECT_THROW(encodeFieldValue(rec), EConvertError);
  ResultOf result = failureOf([&] { encodeFieldValue(rec); });
  EXPECT_EQ(result.code, ResultCode::General);
  EXPECT_EQ(result.text, "'12a' is not a valid integer value");
  EXPECT_EQ(rec.Data, bytes({1, 0}));
}

TEST(EncodeFieldValue, InvalidIPAddressNamesFieldAndTextOnTwoLines) {
  TFieldRec rec = field(ftIPAddress, 4, 0, 0, "IP адрес сервера");
  rec.Data = bytes({10, 0, 0, 1});
  for (const char* value : {"192.168.0.255", "10.0.0", "", "сервер"}) {
    rec.Value = value;
    ResultOf result = failureOf([&] { encodeFieldValue(rec); });
    EXPECT_EQ(result.code, ResultCode::General);
    EXPECT_EQ(result.text, std::string("Неверное значение поля 'IP адрес сервера'.\r\n'") + value +
                               "' не является корректным IP адресом.");
    EXPECT_EQ(rec.Data, bytes({10, 0, 0, 1}));
  }
}

TEST(EncodeFieldValue, IPFieldReadAndWrittenBackGivesTheSameBytes) {
  TFields fields;
  TField* ip = new TField(&fields, field(ftIPAddress, 4));
  const std::string data = bytes({0xC0, 0xA8, 0x00, 0xA6});
  splitRowData(data, fields);
  EXPECT_EQ(ip->Value(), "192.168.0.166");
  ip->SetData(std::string(4, '\0'));  // so that the text itself must be parsed
  ip->EncodeValue();
  EXPECT_EQ(ip->Data(), data);
}

// --- join ---

TEST(JoinRowData, DataOfAllFieldsInListOrder) {
  TFields fields;
  TFieldRec a = field(ftNumber, 1);
  a.Data = "\x01";
  TFieldRec b = field(ftString, 5);
  b.Data = "hello";
  TFieldRec c = field(ftIPAddress, 4);
  c.Data = bytes({127, 0, 0, 1});
  new TField(&fields, a);
  new TField(&fields, b);
  new TField(&fields, c);
  EXPECT_EQ(joinRowData(fields), "\x01hello" + bytes({127, 0, 0, 1}));
  TFields empty;
  EXPECT_EQ(joinRowData(empty), "");
}

TEST(JoinRowData, FieldWhoseDataIsNotItsSizeIsRefused) {
  TFields fields;
  TFieldRec read = field(ftNumber, 2);
  read.Data = bytes({1, 2});
  new TField(&fields, read);
  new TField(&fields, field(ftNumber, 2));  // structure only, never read
  ResultOf result = failureOf([&] { joinRowData(fields); });
  EXPECT_EQ(result.code, ResultCode::InvalidValue);
  EXPECT_EQ(result.text, "Недопустимое значение");
}

// --- round trips ---

// A table of `rows` rows whose fields are every type at this size, with
// neighbours of other sizes so that any shift shows.
void addRoundTripFields(TFields& fields, uint8_t size, int rows) {
  const uint8_t types[] = {ftNumber, ftString, ftIPAddress, 3};
  for (int row = 0; row < rows; ++row) {
    uint8_t number = 0;
    for (uint8_t type : types) {
      // A narrow range: most data the terminal holds lies outside it.
      TFieldRec rec = field(type, size, 1, 2, "Поле");
      rec.Row = static_cast<uint8_t>(row);
      rec.Number = number++;
      new TField(&fields, rec);
      TFieldRec neighbour = field(ftNumber, 1, 0, 255);
      neighbour.Row = static_cast<uint8_t>(row);
      neighbour.Number = number++;
      new TField(&fields, neighbour);
    }
  }
}

std::string totalData(const TFields& fields, std::mt19937& random, int pattern) {
  size_t length = 0;
  for (int i = 0; i < fields.Count(); ++i) length += fields.Items(i)->Size();
  std::string data(length, '\0');
  for (auto& b : data) {
    switch (pattern) {
      case 0:
        b = '\0';
        break;
      case 1:
        b = '\xFF';
        break;
      default:
        b = static_cast<char>(random() & 0xFF);
        break;
    }
  }
  return data;
}

TEST(RoundTrip, SplitEncodeJoinChangesNoByteForEveryTypeAndSize) {
  std::mt19937 random(20240611);
  for (uint8_t size = 1; size <= 6; ++size) {
    for (int rows : {1, 3, 7}) {
      for (int pattern = 0; pattern < 12; ++pattern) {
        TFields fields;
        addRoundTripFields(fields, size, rows);
        const std::string original = totalData(fields, random, pattern);
        splitRowData(original, fields);
        for (int i = 0; i < fields.Count(); ++i) {
          TField* item = fields.Items(i);
          item->SetValue(std::string(item->Value()));  // as a host writing back what it read
          ASSERT_NO_THROW(item->EncodeValue())
              << "size " << int(size) << " type " << int(item->FieldType()) << " value "
              << item->Value();
        }
        ASSERT_EQ(joinRowData(fields), original) << "size " << int(size) << " rows " << rows;
      }
    }
  }
}

TEST(RoundTrip, IPWithLastByte255AndNumbersOutOfRangeComeBackUnchanged) {
  TFields fields;
  new TField(&fields, field(ftIPAddress, 4));
  new TField(&fields, field(ftNumber, 2, 1, 99));
  new TField(&fields, field(ftNumber, 5, 0, 10));
  const std::string original = bytes({10, 0, 0, 255, 0xE8, 0x03, '9', '9', '9', '9', '9'});
  splitRowData(original, fields);
  EXPECT_EQ(fields.Items(0)->Value(), "10.0.0.255");
  EXPECT_EQ(fields.Items(1)->Value(), "1000");
  EXPECT_EQ(fields.Items(2)->Value(), "99999");
  for (int i = 0; i < fields.Count(); ++i) fields.Items(i)->EncodeValue();
  EXPECT_EQ(joinRowData(fields), original);

  // Once changed, the same texts are validated like any other.
  fields.Items(1)->SetValue("1000");
  fields.Items(1)->SetData(bytes({1, 0}));
  EXPECT_THROW(fields.Items(1)->EncodeValue(), Exception);
}

TEST(RoundTrip, ValuesCarriedToAListReadFromOtherDataRebuildTheOriginal) {
  // As a table file applied after reading the terminal again: only the texts
  // travel. Holds for numbers in range, valid addresses and strings.
  std::mt19937 random(7);
  for (uint8_t size = 1; size <= 6; ++size) {
    TFields source, target;
    for (TFields* list : {&source, &target}) {
      for (int row = 0; row < 3; ++row) {
        TFieldRec number = field(ftNumber, std::min<uint8_t>(size, 4), INT32_MIN, INT32_MAX);
        number.Row = static_cast<uint8_t>(row);
        TFieldRec ip = field(ftIPAddress, 4);
        ip.Row = static_cast<uint8_t>(row);
        ip.Number = 1;
        TFieldRec text = field(ftString, static_cast<uint8_t>(size + 4));
        text.Row = static_cast<uint8_t>(row);
        text.Number = 2;
        new TField(list, number);
        new TField(list, ip);
        new TField(list, text);
      }
    }
    std::string original = totalData(source, random, 2);
    for (int i = 0; i < source.Count(); ++i)
      if (source.Items(i)->FieldType() == ftIPAddress) {
        // Keep the address valid: a fourth byte of 255 has no text form.
        size_t offset = 0;
        for (int j = 0; j <= i; ++j) offset += source.Items(j)->Size();
        original[offset - 1] = static_cast<char>(original[offset - 1] & 0x7F);
      }
    splitRowData(original, source);
    splitRowData(totalData(target, random, 2), target);
    for (int i = 0; i < target.Count(); ++i) {
      target.Items(i)->SetValue(source.Items(i)->Value());
      target.Items(i)->EncodeValue();
    }
    EXPECT_EQ(joinRowData(target), original) << "size " << int(size);
  }
}

}  // namespace
}  // namespace mirelo
