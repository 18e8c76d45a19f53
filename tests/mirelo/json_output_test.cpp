#include "tools/mirelo/json_output.h"

#include <gtest/gtest.h>

#include "platform/cp1251.h"
#include "shell_test_support.h"

namespace mirelo::shell {
namespace {

TEST(JsonOutputTest, EscapesStrings) {
  const std::pair<std::u16string, std::string> cases[] = {
      {u"", "\"\""},
      {u"plain", "\"plain\""},
      {u"a\"b", "\"a\\\"b\""},
      {u"a\\b", "\"a\\\\b\""},
      {u"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
      {std::u16string(1, u'\0'), "\"\\u0000\""},
      {u"\x01\x1F", "\"\\u0001\\u001f\""},
      {u"/\x7F\x98", "\"/\\u007f\\u0098\""},
      {ansiToWide("Ошибок нет"), "\"" + test::utf8("Ошибок нет") + "\""},
  };
  for (const auto& [text, json] : cases) EXPECT_EQ(jsonString(text), json) << json;
}

TEST(JsonOutputTest, WritesValuesByType) {
  EXPECT_EQ(jsonValue(Variant(true)), "true");
  EXPECT_EQ(jsonValue(Variant(false)), "false");
  EXPECT_EQ(jsonValue(Variant(int32_t{-199})), "-199");
  EXPECT_EQ(jsonValue(Variant(u"1.0")), "\"1.0\"");
  EXPECT_EQ(jsonValue(Variant::fromBytes(std::string("\xAB\x00", 2))), "\"AB 00\"");
}

TEST(JsonOutputTest, BuildsObjectsInOrder) {
  EXPECT_EQ(JsonObject().str(), "{}");
  EXPECT_EQ(JsonObject()
                .textUtf8("call", "GetStatus")
                .number("code", -6)
                .text("description", u"x\"")
                .str(),
            "{\"call\":\"GetStatus\",\"code\":-6,\"description\":\"x\\\"\"}");
  EXPECT_EQ(JsonObject().boolean("done", true).raw("value", "[1]").str(),
            "{\"done\":true,\"value\":[1]}");
}

}  // namespace
}  // namespace mirelo::shell
