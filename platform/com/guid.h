#pragma once
// Globally unique identifiers: interface, class and library identifiers.
// Text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case when written,
// either case when read.
#include <compare>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "platform/com/hresult.h"
#include "platform/com/types.h"

namespace mirelo {

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];

  friend constexpr bool operator==(const GUID&, const GUID&) = default;
  // Field by field, Data1 first: a stable order for sorted containers.
  friend constexpr std::strong_ordering operator<=>(const GUID&, const GUID&) = default;
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr GUID GUID_NULL{};
inline constexpr IID IID_NULL{};

// "{00020400-0000-0000-C000-000000000046}".
std::string guidToString(const GUID& guid);
std::u16string guidToWide(const GUID& guid);
// Exactly the braced form of 38 characters; false otherwise.
bool tryStringToGuid(std::string_view text, GUID& guid);
bool tryStringToGuid(std::u16string_view text, GUID& guid);
// Raises EConvertError "'%s' is not a valid GUID value".
GUID stringToGuid(std::string_view text);

// The runtime's own functions. The string ones give CO_E_CLASSSTRING for bad
// text and E_INVALIDARG for null pointers; StringFromGUID2 returns the number
// of characters written with the terminating zero, or 0 when cchMax < 39.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
HRESULT IIDFromString(LPCOLESTR text, IID* iid);
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax);
inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  return a == b;
}
inline bool IsEqualIID(REFIID a, REFIID b) {
  return a == b;
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
  return a == b;
}

}  // namespace mirelo

template <>
struct std::hash<mirelo::GUID> {
  size_t operator()(const mirelo::GUID& guid) const noexcept {
    uint64_t high = (uint64_t{guid.Data1} << 32) | (uint64_t{guid.Data2} << 16) | guid.Data3;
    uint64_t low = 0;
    for (uint8_t b : guid.Data4) low = (low << 8) | b;
    return std::hash<uint64_t>{}(high * 0x9E3779B97F4A7C15ull ^ low);
  }
};
