#include "tools/mirelo/value_text.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/cp1251.h"
#include "shell_test_support.h"
#include "tools/mirelo/usage_error.h"

namespace mirelo::shell {
namespace {

using test::utf8;

struct EscapeCase {
  std::u16string text;
  std::string printed;
};

TEST(ValueTextTest, EscapesBackslashLineEndsTabsAndControls) {
  const EscapeCase cases[] = {
      {u"plain text", "plain text"},
      {u"a\\b", "a\\\\b"},
      {u"\r\n\t", "\\r\\n\\t"},
      {std::u16string(1, u'\0'), "\\x00"},
      {u"\x01\x1F\x1B", "\\x01\\x1F\\x1B"},
      {u" \x7F\x98\x9B", " \\x7F\\x98\xC2\x9B"},  // DEL and the C1 control of Windows-1251 too
      {u"\u041C\u0438\u0440", "\xD0\x9C\xD0\xB8\xD1\x80"},  // UTF-8 out
      {u"\\x41", "\\\\x41"},
  };
  for (const EscapeCase& c : cases) EXPECT_EQ(escapeText(c.text), c.printed) << c.printed;
}

TEST(ValueTextTest, EveryPrintedTextReadsBackToItself) {
  std::u16string all;
  for (int byte = 0; byte < 256; ++byte) all += ansiToWide(static_cast<unsigned char>(byte));
  all += u"\\\\x\\";
  EXPECT_EQ(unescapeText(escapeText(all)), all);
}

TEST(ValueTextTest, ReadsEscapesOfInput) {
  const EscapeCase cases[] = {
      {u"a\tb", "a\\tb"},
      {u"\r\n", "\\r\\n"},
      {u"\\", "\\\\"},
      {u"A", "\\x41"},
      {u"AB", "\\x41B"},     // exactly two digits
      {u"\u0410", "\\xC0"},  // byte 0xC0 of Windows-1251 is Cyrillic A
      {u"\u0410", "\\xc0"},
      {u"\u0098", "\\x98"},  // a byte without a letter keeps its value
      {std::u16string(1, u'\0') + u"x", "\\x00x"},
      {u"\u041C\u0438\u0440 \u0434\u0430", "\xD0\x9C\xD0\xB8\xD1\x80 \xD0\xB4\xD0\xB0"},
      {u"", ""},
  };
  for (const EscapeCase& c : cases) EXPECT_EQ(unescapeText(c.printed), c.text) << c.printed;
}

TEST(ValueTextTest, RefusesBadEscapes) {
  for (const char* bad : {"\\", "abc\\", "\\q", "\\x", "\\x4", "\\xG0", "\\x4 ", "\\0"})
    EXPECT_THROW(unescapeText(bad), UsageError) << bad;
}

TEST(ValueTextTest, RefusesBytesThatAreNotUtf8) {
  for (const char* bad : {"\xFF", "a\xC0", "\xD0", "ok\\\\\xE2\x9C", "\xC0\xAF"})
    EXPECT_THROW(unescapeText(bad), UsageError) << bad;
  // Four-byte characters are UTF-8 too (they fail later, as text the object cannot keep).
  EXPECT_EQ(unescapeText("\xF0\x9F\x98\x80"), u"\U0001F600");
}

TEST(ValueTextTest, RefusesTextThatWindows1251CannotKeep) {
  // The Euro sign and the Cyrillic letters have bytes; a check mark has none.
  EXPECT_EQ(parseValue(VT_BSTR, "\xE2\x82\xAC \xD0\x81").bstrVal, u"\u20AC \u0401");
  EXPECT_EQ(parseValue(VT_BSTR, "\\x98").bstrVal, u"\u0098");
  for (const char* bad : {"\xE2\x9C\x93",
                          "a\xF0\x9F\x98\x80"
                          "b",
                          "\xC3\xA9"})
    EXPECT_THROW(parseValue(VT_BSTR, bad), UsageError) << bad;
}

TEST(ValueTextTest, ParsesIntegers) {
  const std::pair<const char*, int32_t> cases[] = {
      {"0", 0},
      {"1002", 1002},
      {"-1", -1},
      {"+7", 7},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"0x10", 16},
      {"0X3ea", 1002},
      {"0xFFFFFFFF", -1},
      {" 12 ", 12},
      {"\t0x1\t", 1},
      {"007", 7},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(parseInteger(text), value) << text;
  for (const char* bad : {"", " ", "abc", "12a", "1.5", "--1", "-", "0x", "0x123456789", "0xG",
                          "2147483648", "-2147483649", "99999999999999999999", "1 2", "$10"})
    EXPECT_THROW(parseInteger(bad), UsageError) << bad;
}

TEST(ValueTextTest, ParsesBooleans) {
  for (const char* yes : {"true", "TRUE", "True", "1", "-1", " true "})
    EXPECT_TRUE(parseBoolean(yes)) << yes;
  for (const char* no : {"false", "False", "0"}) EXPECT_FALSE(parseBoolean(no)) << no;
  for (const char* bad : {"", "yes", "2", "t", "truee", "-0x1"})
    EXPECT_THROW(parseBoolean(bad), UsageError) << bad;
}

TEST(ValueTextTest, ParsesValuesByType) {
  Variant number = parseValue(VT_I4, "0x10");
  EXPECT_EQ(number.type(), VT_I4);
  EXPECT_EQ(number.lVal, 16);
  Variant flag = parseValue(VT_BOOL, "true");
  EXPECT_EQ(flag.type(), VT_BOOL);
  EXPECT_EQ(flag.boolVal, VARIANT_TRUE);
  // Text is taken as given: blanks stay.
  Variant text = parseValue(VT_BSTR, " a b\\t ");
  EXPECT_EQ(text.type(), VT_BSTR);
  EXPECT_EQ(text.bstrVal, u" a b\t ");
  EXPECT_THROW(parseValue(VT_I4, "x"), UsageError);
  EXPECT_THROW(parseValue(VT_VARIANT, "00"), UsageError);
}

TEST(ValueTextTest, FormatsValuesByType) {
  EXPECT_EQ(formatValue(Variant(true)), "true");
  EXPECT_EQ(formatValue(Variant(false)), "false");
  EXPECT_EQ(formatValue(Variant(int32_t{-6})), "-6");
  EXPECT_EQ(formatValue(Variant(u"a\nb")), "a\\nb");
  EXPECT_EQ(formatValue(Variant::fromBytes(std::string("\x00\xAB\x10\xFF", 4))), "00 AB 10 FF");
  EXPECT_EQ(formatValue(Variant::fromBytes("")), "");
  EXPECT_EQ(formatValue(Variant()), "");
  EXPECT_EQ(formatValue(Variant(ansiToWide("Ошибок нет"))), utf8("Ошибок нет"));
}

}  // namespace
}  // namespace mirelo::shell
