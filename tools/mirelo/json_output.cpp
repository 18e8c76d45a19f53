#include "tools/mirelo/json_output.h"

#include "platform/cp1251.h"
#include "platform/format.h"
#include "tools/mirelo/value_text.h"

namespace mirelo::shell {

std::string jsonString(std::u16string_view text) {
  std::u16string escaped = u"\"";
  for (char16_t c : text) {
    switch (c) {
      case u'"':
        escaped += u"\\\"";
        break;
      case u'\\':
        escaped += u"\\\\";
        break;
      case u'\b':
        escaped += u"\\b";
        break;
      case u'\f':
        escaped += u"\\f";
        break;
      case u'\n':
        escaped += u"\\n";
        break;
      case u'\r':
        escaped += u"\\r";
        break;
      case u'\t':
        escaped += u"\\t";
        break;
      default:
        // Every control character as \u: no line of output carries one.
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
          for (char d : format("\\u%.4x", static_cast<unsigned>(c)))
            escaped += static_cast<char16_t>(d);
        } else {
          escaped += c;
        }
    }
  }
  escaped += u'"';
  return wideToUtf8(escaped);
}

std::string jsonStringUtf8(std::string_view utf8) {
  return jsonString(utf8ToWide(utf8));
}

std::string jsonValue(const Variant& value) {
  switch (value.type()) {
    case VT_BOOL:
      return value.boolVal ? "true" : "false";
    case VT_I4:
    case VT_I2:
    case VT_UI1:
      return formatValue(value);
    case VT_BSTR:
      return jsonString(value.bstrVal);
    default:
      // Byte arrays and anything unexpected: their printed form as a string.
      return jsonStringUtf8(formatValue(value));
  }
}

JsonObject& JsonObject::raw(std::string_view key, std::string_view json) {
  if (body_.size() > 1) body_ += ',';
  body_ += jsonStringUtf8(key);
  body_ += ':';
  body_ += json;
  return *this;
}

JsonObject& JsonObject::text(std::string_view key, std::u16string_view value) {
  return raw(key, jsonString(value));
}

JsonObject& JsonObject::textUtf8(std::string_view key, std::string_view value) {
  return raw(key, jsonStringUtf8(value));
}

JsonObject& JsonObject::number(std::string_view key, int64_t value) {
  return raw(key, std::to_string(value));
}

JsonObject& JsonObject::boolean(std::string_view key, bool value) {
  return raw(key, value ? "true" : "false");
}

}  // namespace mirelo::shell
