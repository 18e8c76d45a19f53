#pragma once
// The scalar types of the component runtime with their Windows widths. On
// Linux `long` is 64-bit, so LONG and HRESULT are fixed 32-bit integers here.
#include <cstdint>
#include <string>

namespace mirelo {

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using USHORT = uint16_t;
using SHORT = int16_t;
using ULONG = uint32_t;
using LONG = int32_t;
using UINT = uint32_t;
using INT = int32_t;
using BOOL = int32_t;
using LONGLONG = int64_t;
using DOUBLE = double;
using LCID = uint32_t;
using HRESULT = int32_t;
using SCODE = int32_t;
using DISPID = int32_t;
using MEMBERID = DISPID;
using HREFTYPE = uint32_t;
using VARTYPE = uint16_t;
// The automation Boolean: true is -1 (all bits set), false is 0.
using VARIANT_BOOL = int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
// The automation string. It owns its text, so there is no SysAllocString /
// SysFreeString pairing to get wrong; a BSTR* is an out parameter or a reference.
using BSTR = std::u16string;

constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_NEUTRAL = 0;

}  // namespace mirelo
