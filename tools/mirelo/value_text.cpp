#include "tools/mirelo/value_text.h"

#include <limits>

#include "platform/cp1251.h"
#include "platform/format.h"
#include "tools/mirelo/usage_error.h"

namespace mirelo::shell {
namespace {

bool sameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

}  // namespace

std::string escapeText(std::u16string_view text) {
  std::u16string escaped;
  escaped.reserve(text.size());
  for (char16_t c : text) {
    switch (c) {
      case u'\\':
        escaped += u"\\\\";
        break;
      case u'\r':
        escaped += u"\\r";
        break;
      case u'\n':
        escaped += u"\\n";
        break;
      case u'\t':
        escaped += u"\\t";
        break;
      default:
        // C0, DEL, and the one C1 control a Windows-1251 byte gives (0x98).
        if (c < 0x20 || c == 0x7F || c == 0x98) {
          escaped += u"\\x";
          escaped += static_cast<char16_t>(hexDigit(c >> 4));
          escaped += static_cast<char16_t>(hexDigit(c));
        } else {
          escaped += c;
        }
    }
  }
  return wideToUtf8(escaped);
}

std::u16string utf8Text(std::string_view utf8) {
  std::u16string wide = utf8ToWide(utf8);
  // Invalid bytes would silently become '?'.
  if (wideToUtf8(wide) != utf8) throw UsageError("the text is not valid UTF-8");
  return wide;
}

void requireWindows1251(std::u16string_view text) {
  for (char16_t c : text) {
    std::u16string_view one(&c, 1);
    if (ansiToWide(wideToAnsi(one)) == one) continue;
    if (c >= 0xD800 && c <= 0xDFFF)
      throw UsageError("a character beyond U+FFFF has no Windows-1251 byte");
    throw UsageError(format("'%s' (U+%.4X) has no Windows-1251 byte", wideToUtf8(one).c_str(),
                            static_cast<unsigned>(c)));
  }
}

std::u16string unescapeText(std::string_view utf8) {
  std::u16string text;
  // A backslash never occurs inside a multi-byte UTF-8 sequence, so the plain
  // runs between escapes convert on their own.
  auto plain = [&text](std::string_view run) { text += utf8Text(run); };
  size_t start = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] != '\\') continue;
    plain(utf8.substr(start, i - start));
    if (i + 1 >= utf8.size()) throw UsageError("a text ends with a lone '\\' (write '\\\\')");
    char kind = utf8[i + 1];
    switch (kind) {
      case '\\':
        text += u'\\';
        break;
      case 'r':
        text += u'\r';
        break;
      case 'n':
        text += u'\n';
        break;
      case 't':
        text += u'\t';
        break;
      case 'x': {
        int high = i + 2 < utf8.size() ? hexDigitValue(utf8[i + 2]) : -1;
        int low = i + 3 < utf8.size() ? hexDigitValue(utf8[i + 3]) : -1;
        if (high < 0 || low < 0) throw UsageError("'\\x' needs two hexadecimal digits");
        text += ansiToWide(static_cast<unsigned char>(high * 16 + low));
        i += 2;
        break;
      }
      default:
        if (kind > 0x20 && kind < 0x7F)
          throw UsageError(format("unknown escape '\\%c' (known: \\\\ \\r \\n \\t \\xHH)", kind));
        throw UsageError("unknown escape after '\\' (known: \\\\ \\r \\n \\t \\xHH)");
    }
    ++i;
    start = i + 1;
  }
  plain(utf8.substr(start));
  return text;
}

int32_t parseInteger(std::string_view input) {
  std::string_view text = trimBlanks(input);
  auto fail = [input]() -> int32_t {
    throw UsageError("'" + std::string(input) +
                     "' is not an integer (decimal, or hexadecimal with 0x)");
  };
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    std::string_view digits = text.substr(2);
    if (digits.size() > 8) fail();
    uint32_t value = 0;
    for (char c : digits) {
      int digit = hexDigitValue(c);
      if (digit < 0) fail();
      value = value << 4 | static_cast<uint32_t>(digit);
    }
    return static_cast<int32_t>(value);
  }
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) fail();
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') fail();
    value = value * 10 + (c - '0');
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) fail();
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) fail();
  return static_cast<int32_t>(value);
}

bool parseBoolean(std::string_view input) {
  std::string_view text = trimBlanks(input);
  if (sameAscii(text, "true") || text == "1" || text == "-1") return true;
  if (sameAscii(text, "false") || text == "0") return false;
  throw UsageError("'" + std::string(input) + "' is not a Boolean (true, false, 1, 0, -1)");
}

Variant parseValue(VARTYPE vt, std::string_view utf8) {
  switch (vt) {
    case VT_I4:
      return Variant(parseInteger(utf8));
    case VT_BOOL:
      return Variant(parseBoolean(utf8));
    case VT_BSTR: {
      std::u16string text = unescapeText(utf8);
      requireWindows1251(text);
      return Variant(std::move(text));
    }
    default:
      throw UsageError(format("values of type %u cannot be written", static_cast<unsigned>(vt)));
  }
}

std::string formatValue(const Variant& value) {
  switch (value.type()) {
    case VT_EMPTY:
      return {};
    case VT_BOOL:
      return value.boolVal ? "true" : "false";
    case VT_I4:
      return format("%d", value.lVal);
    case VT_I2:
      return format("%d", value.iVal);
    case VT_UI1:
      return format("%u", static_cast<unsigned>(value.bVal));
    case VT_BSTR:
      return escapeText(value.bstrVal);
    case VT_ARRAY | VT_UI1:
      return bytesToHex(value.toBytes());
    default: {
      // Anything else the object might hand out is shown as its text form.
      Variant text(value);
      if (FAILED(text.changeType(VT_BSTR)))
        return format("<type %u>", static_cast<unsigned>(value.type()));
      return escapeText(text.bstrVal);
    }
  }
}

}  // namespace mirelo::shell
