#pragma once
// One JSON object per output line, for scripts that read --json output.
// Strings are UTF-8 with the escapes JSON requires.
#include <string>
#include <string_view>

#include "platform/com/variant.h"

namespace mirelo::shell {

// A quoted JSON string: '"' and '\' escaped, BS, FF, LF, CR and TAB as their
// short escapes, every other character below 0x20 as \u00XX.
std::string jsonString(std::u16string_view text);
// The same for text that is already UTF-8 (member names, fixed texts).
std::string jsonStringUtf8(std::string_view utf8);
// A read value as JSON: Booleans true/false, integers as numbers, text as a
// string, a byte array as a string of hexadecimal bytes ("AB 00 12").
std::string jsonValue(const Variant& value);

// Builds {"key":value,...} in the order the fields are added.
class JsonObject {
 public:
  JsonObject& raw(std::string_view key, std::string_view json);
  JsonObject& text(std::string_view key, std::u16string_view value);
  JsonObject& textUtf8(std::string_view key, std::string_view value);
  JsonObject& number(std::string_view key, int64_t value);
  JsonObject& boolean(std::string_view key, bool value);
  std::string str() const { return body_ + "}"; }

 private:
  std::string body_ = "{";
};

}  // namespace mirelo::shell
