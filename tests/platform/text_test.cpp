#include <gtest/gtest.h>
#include <iconv.h>

#include <optional>

#include "platform/bytes.h"
#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {
namespace {

// The system's own converter is the reference for every defined byte.
TEST(Cp1251, EveryByteMatchesTheSystemConverterAndRoundTrips) {
  iconv_t cd = iconv_open("UTF-16LE", "CP1251");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    char out[4] = {};
    char* inPtr = &in;
    char* outPtr = out;
    size_t inLeft = 1, outLeft = sizeof out;
    size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    char16_t ours = ansiToWide(static_cast<unsigned char>(b));
    if (result != static_cast<size_t>(-1)) {
      char16_t reference = static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                                 (static_cast<unsigned char>(out[1]) << 8));
      EXPECT_EQ(ours, reference) << "byte " << b;
    } else {
      EXPECT_EQ(b, 0x98) << "only 0x98 is undefined";
    }
    EXPECT_EQ(wideToAnsi(std::u16string(1, ours)), std::string(1, in)) << "byte " << b;
  }
  iconv_close(cd);
  EXPECT_EQ(ansiToWide(0x98), u'\u0098');
}

TEST(Cp1251, UnmappableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(wideToAnsi(u"a\u4E2Db"), "a?b");
  EXPECT_EQ(wideToAnsi(u"\U0001F600"), "?");  // a surrogate pair is one character
  EXPECT_EQ(utf8ToAnsi("\xFF"), "?");
}

TEST(Cp1251, Utf8RoundTrip) {
  std::string ansi = "Цена: 12,50 руб. Ёлка №5";
  std::string utf8 = ansiToUtf8(ansi);
  EXPECT_EQ(utf8, std::string(reinterpret_cast<const char*>(u8"Цена: 12,50 руб. Ёлка №5")));
  EXPECT_EQ(utf8ToAnsi(utf8), ansi);
  EXPECT_EQ(wideToUtf8(utf8ToWide(utf8)), utf8);
}

TEST(Cp1251, CaseFollowsTheRussianCodePage) {
  EXPECT_EQ(ansiUpperCase("abc ёлка яЯ ў"), "ABC ЁЛКА ЯЯ Ў");
  EXPECT_EQ(ansiLowerCase("ЁЛКА Ї"), "ёлка ї");
  EXPECT_TRUE(ansiSameText("Ёжик", "ёЖИК"));
  EXPECT_FALSE(ansiSameText("Ежик", "Ёжик"));
  EXPECT_EQ(ansiCompareText("ёж", "ЁЖ"), 0);
  EXPECT_LT(ansiCompareText("Е", "Ё"), 0);
  EXPECT_LT(ansiCompareText("Ё", "Ж"), 0);
  EXPECT_LT(ansiCompareText("z", "а"), 0);  // Latin before Cyrillic
  EXPECT_LT(ansiCompareText("ab", "abc"), 0);
}

TEST(Format, FormsTheDriverUses) {
  EXPECT_EQ(format("%.2d.%.2d.%.4d", 5, 12, 2026), "05.12.2026");
  EXPECT_EQ(format("%.3d|%.2x|%.6x", 7, 10, 0xABC), "007|0a|000abc");
  EXPECT_EQ(format("%-30s|", "Хлеб"), "Хлеб                          |");
  EXPECT_EQ(format("%s", std::string(1000, 'x').c_str()).size(), 1000u);
}

TEST(Format, StrToIntAcceptsWhatTheDriverReadsAndNamesTheTextOtherwise) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {{"1002", true, 1002},
               {" -5 ", true, -5},
               {"+7", true, 7},
               {"$FF", true, 255},
               {"0x10", true, 16},
               {"2147483647", true, INT32_MAX},
               {"-2147483648", true, INT32_MIN},
               {"2147483648", false, 0},
               {"abc", false, 0},
               {"", false, 0},
               {"12a", false, 0},
               {"$", false, 0}};
  for (const auto& c : cases) {
    int32_t value = 0;
    EXPECT_EQ(tryStrToInt(c.text, value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
  try {
    strToInt("abc");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
  EXPECT_EQ(strToIntDef("x", 42), 42);
}

TEST(Bytes, ReaderReadsBothByteOrdersAndNeverPastTheEnd) {
  std::string frame = "\x01\x02\x03\x04\x05";
  ByteReader r(frame);
  EXPECT_EQ(r.u8(), 1);
  EXPECT_EQ(r.u16le(), 0x0302);
  EXPECT_EQ(r.u16be(), 0x0405);
  EXPECT_EQ(r.remaining(), 0u);
  EXPECT_THROW(r.u8(), EBoundsError);
  ByteReader r2(frame);
  EXPECT_EQ(r2.u24be(), 0x010203u);
  EXPECT_THROW(r2.u24le(), EBoundsError);
  EXPECT_EQ(r2.position(), 3u);  // a failed read moves nothing
  EXPECT_EQ(r2.upTo(10), "\x04\x05");
  EXPECT_THROW(ByteReader(frame).bytes(6), EBoundsError);
  EXPECT_EQ(ByteReader(frame).uintLe(3), 0x030201u);
}

TEST(Bytes, WriterBuildsFixedWidthFields) {
  std::string out = ByteWriter()
                        .u8(0xAB)
                        .u16le(0x0102)
                        .u16be(0x0102)
                        .u24be(0x010203)
                        .fixed("abc", 5)
                        .fixed("abcdef", 2)
                        .take();
  EXPECT_EQ(out, std::string("\xAB\x02\x01\x01\x02\x01\x02\x03"
                             "abc\0\0"
                             "ab",
                             15));
  EXPECT_EQ(bytesToHex(std::string("\x00\xAB\x0F", 3)), "00 AB 0F");
}

TEST(HexText, BytesAreWrittenWithTheCallersSeparator) {
  const std::string bytes("\x00\xAB\x0F", 3);
  EXPECT_EQ(bytesToHex(bytes, "-"), "00-AB-0F");
  EXPECT_EQ(bytesToHex(bytes, ""), "00AB0F");
  EXPECT_EQ(bytesToHex(""), "");
  EXPECT_EQ(hexDigitValue('a'), 10);
  EXPECT_EQ(hexDigitValue('a', HexCase::Upper), -1);
  EXPECT_EQ(hexDigitValue('G'), -1);
}

TEST(HexText, OnlyUpperCaseDigitsCount) {
  struct Case {
    const char* text;
    std::string bytes;
  } cases[] = {
      {"BB", "\xBB"},
      {"B B", std::string("\x0B\x0B")},
      {"BBB", std::string("\xBB\x0B")},
      {"bb", ""},
      {"AD 00 01 3C", std::string("\xAD\x00\x01\x3C", 4)},
      {"C3,1-2", std::string("\xC3\x01\x02")},
      {"0a1", std::string("\x00\x01", 2)},
      {"Ф1Ж2", std::string("\x01\x02")},
      {"", ""},
      {"FFFF", "\xFF\xFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(hexTextToBytes(c.text), c.bytes) << c.text;
}

TEST(HexText, StrictParsingTakesOnlyWholePairsAndTheGivenSeparators) {
  struct Case {
    const char* text;
    const char* separators;
    std::optional<std::string> bytes;
  } cases[] = {
      {"0aFF", "", std::string("\x0A\xFF")},
      {"", "", std::string()},
      {"0A-ff:01", "-:", std::string("\x0A\xFF\x01")},
      {"0A1", "", std::nullopt},
      {"1 ", "", std::nullopt},
      {"0A 01", "", std::nullopt},
      {"0A--01", "-", std::nullopt},
      {"0A-01-", "-", std::nullopt},
      {"0A01", "-", std::nullopt},
      {"0G", "", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parseHexBytes(c.text, c.separators), c.bytes) << c.text;
}

TEST(Trim, BlanksOrAllControlCharactersComeOffBothEnds) {
  EXPECT_EQ(trimBlanks(" \tab c\t "), "ab c");
  EXPECT_EQ(trimBlanks("\rab\n"), "\rab\n");
  EXPECT_EQ(trimBlanks(" \t"), "");
  EXPECT_EQ(trimBlanksAndControls(std::string("\x01 \xD5\xEB\xE5\xE1\0\0", 8)), "\xD5\xEB\xE5\xE1");
  EXPECT_EQ(trimBlanksAndControls("\r\n"), "");
}

}  // namespace
}  // namespace mirelo
