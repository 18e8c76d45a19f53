#include "platform/com/guid.h"

#include <cstdio>

#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {
namespace {

constexpr size_t kTextLength = 38;

int hexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// Reads `digits` hex digits at text[pos]; false on any other character.
template <class Char>
bool readHex(std::basic_string_view<Char> text, size_t pos, int digits, uint64_t& value) {
  value = 0;
  for (int i = 0; i < digits; ++i) {
    int v = hexValue(static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(text[pos + i])));
    if (v < 0) return false;
    value = (value << 4) | static_cast<uint64_t>(v);
  }
  return true;
}

template <class Char>
bool parseGuid(std::basic_string_view<Char> text, GUID& guid) {
  if (text.size() != kTextLength || text[0] != '{' || text[37] != '}' || text[9] != '-' ||
      text[14] != '-' || text[19] != '-' || text[24] != '-')
    return false;
  GUID result{};
  uint64_t v = 0;
  if (!readHex(text, 1, 8, v)) return false;
  result.Data1 = static_cast<uint32_t>(v);
  if (!readHex(text, 10, 4, v)) return false;
  result.Data2 = static_cast<uint16_t>(v);
  if (!readHex(text, 15, 4, v)) return false;
  result.Data3 = static_cast<uint16_t>(v);
  // The fourth group holds Data4[0..1], the fifth Data4[2..7].
  const size_t bytePositions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!readHex(text, bytePositions[i], 2, v)) return false;
    result.Data4[i] = static_cast<uint8_t>(v);
  }
  guid = result;
  return true;
}

size_t wideLength(LPCOLESTR text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

}  // namespace

std::string guidToString(const GUID& g) {
  char buffer[kTextLength + 1];
  std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return std::string(buffer, kTextLength);
}

std::u16string guidToWide(const GUID& guid) {
  return ansiToWide(guidToString(guid));
}

bool tryStringToGuid(std::string_view text, GUID& guid) {
  return parseGuid(text, guid);
}
bool tryStringToGuid(std::u16string_view text, GUID& guid) {
  return parseGuid(text, guid);
}

GUID stringToGuid(std::string_view text) {
  GUID guid{};
  if (!parseGuid(text, guid))
    throw EConvertError(format("'%s' is not a valid GUID value", std::string(text).c_str()));
  return guid;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
  if (!text || !clsid) return E_INVALIDARG;
  std::u16string_view view(text, wideLength(text));
  return parseGuid(view, *clsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
  return CLSIDFromString(text, iid);
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax) {
  if (!buffer || cchMax < static_cast<int>(kTextLength + 1)) return 0;
  std::string text = guidToString(guid);
  for (size_t i = 0; i < kTextLength; ++i) buffer[i] = static_cast<char16_t>(text[i]);
  buffer[kTextLength] = 0;
  return static_cast<int>(kTextLength + 1);
}

}  // namespace mirelo
