#include "platform/format.h"

#include <cstdarg>
#include <cstdio>

#include "platform/exception.h"

namespace mirelo {

std::string format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int length = std::vsnprintf(small, sizeof small, pattern, args);
  va_end(args);
  std::string result;
  if (length < 0) {
    va_end(copy);
    return result;
  }
  if (static_cast<size_t>(length) < sizeof small) {
    result.assign(small, static_cast<size_t>(length));
  } else {
    result.resize(static_cast<size_t>(length));
    std::vsnprintf(result.data(), result.size() + 1, pattern, copy);
  }
  va_end(copy);
  return result;
}

bool tryStrToInt(std::string_view text, int32_t& value) {
  text = trimBlanks(text);
  if (text.empty()) return false;
  size_t i = 0, end = text.size();
  bool negative = false;
  if (text[i] == '-' || text[i] == '+') {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < end && text[i] == '$') {
    base = 16;
    ++i;
  } else if (end - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == end) return false;
  int64_t result = 0;
  for (; i < end; ++i) {
    int digit = hexDigitValue(text[i]);
    if (digit < 0 || digit >= base) return false;
    result = result * base + digit;
    // Hexadecimal may fill all 32 bits (as $FFFFFFFF = -1); decimal may not.
    if (result > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL)) return false;
  }
  if (base == 16) {
    value = static_cast<int32_t>(static_cast<uint32_t>(result));
    if (negative) value = static_cast<int32_t>(0u - static_cast<uint32_t>(value));
    return true;
  }
  if (negative) result = -result;
  if (result > INT32_MAX || result < INT32_MIN) return false;
  value = static_cast<int32_t>(result);
  return true;
}

int32_t strToInt(std::string_view text) {
  int32_t value = 0;
  if (!tryStrToInt(text, value))
    throw EConvertError(
        format("'%.*s' is not a valid integer value", static_cast<int>(text.size()), text.data()));
  return value;
}

int32_t strToIntDef(std::string_view text, int32_t fallback) {
  int32_t value = 0;
  return tryStrToInt(text, value) ? value : fallback;
}

char hexDigit(unsigned value) {
  return "0123456789ABCDEF"[value & 15];
}

int hexDigitValue(char c, HexCase accepted) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (accepted == HexCase::Any && c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string bytesToHex(std::string_view bytes, std::string_view separator) {
  std::string text;
  text.reserve(bytes.size() * (2 + separator.size()));
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) text += separator;
    auto b = static_cast<unsigned char>(bytes[i]);
    text += hexDigit(b >> 4);
    text += hexDigit(b);
  }
  return text;
}

std::string hexTextToBytes(std::string_view text) {
  std::string bytes;
  int digits = 0;  // digits of the byte being read: 0, 1 or 2
  for (char c : text) {
    int value = hexDigitValue(c, HexCase::Upper);
    if (value < 0) {
      digits = 0;
    } else if (digits == 1) {
      bytes.back() = static_cast<char>((static_cast<unsigned char>(bytes.back()) << 4) | value);
      digits = 2;
    } else {
      bytes += static_cast<char>(value);
      digits = 1;
    }
  }
  return bytes;
}

std::optional<std::string> parseHexBytes(std::string_view text, std::string_view separators) {
  std::string bytes;
  for (size_t at = 0; at < text.size();) {
    if (!bytes.empty() && !separators.empty()) {
      if (separators.find(text[at]) == std::string_view::npos) return std::nullopt;
      ++at;
    }
    int high = at < text.size() ? hexDigitValue(text[at]) : -1;
    int low = at + 1 < text.size() ? hexDigitValue(text[at + 1]) : -1;
    if (high < 0 || low < 0) return std::nullopt;
    bytes += static_cast<char>(high << 4 | low);
    at += 2;
  }
  return bytes;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

namespace {
template <class Predicate>
std::string_view trimWhere(std::string_view text, Predicate trimmed) {
  while (!text.empty() && trimmed(text.front())) text.remove_prefix(1);
  while (!text.empty() && trimmed(text.back())) text.remove_suffix(1);
  return text;
}
}  // namespace

std::string_view trimBlanks(std::string_view text) {
  return trimWhere(text, isBlank);
}

std::string_view trimBlanksAndControls(std::string_view text) {
  return trimWhere(text, [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

}  // namespace mirelo
