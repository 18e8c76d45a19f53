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
  size_t i = 0, end = text.size();
  while (i < end && (text[i] == ' ' || text[i] == '\t')) ++i;
  while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  if (i == end) return false;
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
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
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
    throw EConvertError(format("'%.*s' is not a valid integer value", static_cast<int>(text.size()),
                               text.data()));
  return value;
}

int32_t strToIntDef(std::string_view text, int32_t fallback) {
  int32_t value = 0;
  return tryStrToInt(text, value) ? value : fallback;
}

std::string bytesToHex(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) text += ' ';
    auto b = static_cast<unsigned char>(bytes[i]);
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

}  // namespace mirelo
