#pragma once
// VARIANT, the value of automation, with the byte arrays (SAFEARRAY of
// VT_UI1) that carry binary data, the conversions between value types, and
// Variant, the RAII wrapper.
//
// Supported types: VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R8, VT_CY, VT_BSTR,
// VT_DISPATCH, VT_ERROR, VT_BOOL, VT_UNKNOWN, VT_UI1, VT_ARRAY|VT_UI1 (one
// dimension), and VT_BYREF of each of them and of VT_VARIANT. Any other type
// gives DISP_E_BADVARTYPE.
#include <string>
#include <string_view>

#include "platform/com/dispatch.h"
#include "platform/com/types.h"
#include "platform/com/unknown.h"

namespace mirelo {

constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_NULL = 1;
constexpr VARTYPE VT_I2 = 2;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_R4 = 4;
constexpr VARTYPE VT_R8 = 5;
constexpr VARTYPE VT_CY = 6;
constexpr VARTYPE VT_DATE = 7;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_DISPATCH = 9;
constexpr VARTYPE VT_ERROR = 10;
constexpr VARTYPE VT_BOOL = 11;
constexpr VARTYPE VT_VARIANT = 12;
constexpr VARTYPE VT_UNKNOWN = 13;
constexpr VARTYPE VT_DECIMAL = 14;
constexpr VARTYPE VT_I1 = 16;
constexpr VARTYPE VT_UI1 = 17;
constexpr VARTYPE VT_UI2 = 18;
constexpr VARTYPE VT_UI4 = 19;
constexpr VARTYPE VT_I8 = 20;
constexpr VARTYPE VT_UI8 = 21;
constexpr VARTYPE VT_INT = 22;
constexpr VARTYPE VT_UINT = 23;
constexpr VARTYPE VT_VOID = 24;
constexpr VARTYPE VT_HRESULT = 25;
constexpr VARTYPE VT_PTR = 26;
constexpr VARTYPE VT_SAFEARRAY = 27;
constexpr VARTYPE VT_USERDEFINED = 29;
constexpr VARTYPE VT_ARRAY = 0x2000;
constexpr VARTYPE VT_BYREF = 0x4000;
constexpr VARTYPE VT_TYPEMASK = 0x0FFF;

// Flags of VariantChangeType.
constexpr USHORT VARIANT_NOVALUEPROP = 0x1;  // do not read an object's default value
constexpr USHORT VARIANT_ALPHABOOL = 0x2;    // Boolean to text as "True"/"False"
constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x4;
constexpr USHORT VARIANT_LOCALBOOL = 0x10;  // as VARIANT_ALPHABOOL

// Currency: a 64-bit integer scaled by 10000 (12.5 is 125000).
// A value type a VARIANT of this runtime can hold (no reference).
bool isValueType(VARTYPE vt);

struct CY {
  LONGLONG int64;
};
constexpr LONGLONG CY_SCALE = 10000;

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

// Only one-dimensional arrays of bytes are made here.
struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};
constexpr USHORT FADF_HAVEVARTYPE = 0x80;

// vt must be VT_UI1 and cDims 1; anything else (or no memory) gives null.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
// DISP_E_ARRAYISLOCKED while locked; null is E_INVALIDARG.
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
UINT SafeArrayGetDim(SAFEARRAY* psa);
UINT SafeArrayGetElemsize(SAFEARRAY* psa);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
// nDim is 1; anything else is DISP_E_BADINDEX. The upper bound of an empty
// array is its lower bound - 1.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);  // E_UNEXPECTED when not locked
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
// An index outside the bounds is DISP_E_BADINDEX.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);

// The automation value. vt says which field holds it. The text of VT_BSTR is
// the bstrVal member, outside the union; every other value is in the union.
// Copying the struct copies interface and array pointers without counting
// them, as the bitwise copies of COM do: use VariantCopy or Variant instead.
struct VARIANT {
  VARTYPE vt = VT_EMPTY;
  WORD wReserved1 = 0;
  WORD wReserved2 = 0;
  WORD wReserved3 = 0;
  union {
    CY cyVal{};
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    DOUBLE* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    CY* pcyVal;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    SAFEARRAY** pparray;
    VARIANT* pvarVal;
    void* byref;
  };
  BSTR bstrVal;
};

// VT_EMPTY, forgetting any content without releasing it (as COM does).
void VariantInit(VARIANTARG* pvarg);
// Releases the content (interface, array, text) and leaves VT_EMPTY. A
// reference (VT_BYREF) is not followed. DISP_E_BADVARTYPE for an unknown type,
// DISP_E_ARRAYISLOCKED for a locked array (both leave the variant as it was).
HRESULT VariantClear(VARIANTARG* pvarg);
// Clears the target, then copies: text and arrays are duplicated, interfaces
// AddRef'd; a reference is copied as the same reference.
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
// The same, but a reference is replaced by a copy of what it refers to.
HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
// Converts pvarSrc (a reference is followed) to type vt into pvargDest, which
// may be the same variant; on failure the target is unchanged.
//   numbers among themselves: DISP_E_OVERFLOW when out of the target's range;
//     doubles and currency round half to even when they become integers;
//   Boolean: true is -1; to Boolean any non-zero number is true; to VT_UI1
//     true is 255;
//   to text: decimal, with ',' as the decimal separator (the fixed Russian
//     profile), currency with up to four decimals, doubles with up to 15
//     significant digits; Booleans as "-1"/"0", or "True"/"False" with
//     VARIANT_ALPHABOOL or VARIANT_LOCALBOOL;
//   from text: blanks around, a sign, digits with '.' or ',' as the decimal
//     separator, an exponent; "True"/"False" (any case) for Booleans. Anything
//     else (an empty text too) is DISP_E_TYPEMISMATCH; too large a number is
//     DISP_E_OVERFLOW;
//   VT_EMPTY becomes 0, "", false or a null object; VT_NULL converts to
//     nothing else; an object converts to a value through its default member
//     (DISPID_VALUE) unless VARIANT_NOVALUEPROP;
//   other pairs: DISP_E_TYPEMISMATCH; a target type that is not a value type
//     (VT_BYREF, VT_VARIANT, unknown) is DISP_E_BADVARTYPE.
HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt);
// The locale is ignored: the profile is fixed.
HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                            USHORT wFlags, VARTYPE vt);

// A VARIANT that owns its content: copies deep, clears on destruction. It
// adds no data, so an array of Variant is an array of VARIANT (DISPPARAMS).
class Variant : public VARIANT {
 public:
  Variant() noexcept = default;
  // Deep copies; raise EOleSysError when the source's type is not supported.
  Variant(const Variant& other);
  explicit Variant(const VARIANT& other);
  Variant(Variant&& other) noexcept;
  Variant(int32_t value);         // VT_I4
  Variant(int16_t value);         // VT_I2
  Variant(uint8_t value);         // VT_UI1
  Variant(double value);          // VT_R8
  Variant(bool value);            // VT_BOOL, -1 or 0
  Variant(std::u16string value);  // VT_BSTR
  Variant(const char16_t* value);
  // 8-bit text is Windows-1251 and must be converted on purpose: fromAnsi.
  Variant(const char*) = delete;
  Variant(IDispatch* value);  // VT_DISPATCH, AddRef'd; null allowed
  Variant(IUnknown* value);   // VT_UNKNOWN, AddRef'd; null allowed
  ~Variant();

  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;

  static Variant fromAnsi(std::string_view text);  // VT_BSTR from Windows-1251
  static Variant currency(LONGLONG scaled);        // VT_CY, scaled by 10000
  static Variant error(SCODE code);                // VT_ERROR
  static Variant null();                           // VT_NULL
  // VT_ARRAY|VT_UI1 holding the bytes; bounds lowerBound..lowerBound+size-1
  // (EOleSysError E_INVALIDARG when the upper bound would not fit a LONG).
  static Variant fromBytes(std::string_view bytes, LONG lowerBound = 0);
  // VT_BYREF|baseType referring to target, which must outlive the variant
  // (VARIANT_BOOL and SHORT are the same C++ type, hence the explicit type).
  static Variant byRef(VARTYPE baseType, void* target);
  static Variant byRef(VARIANT* target) { return byRef(VT_VARIANT, target); }
  static Variant byRef(LONG* target) { return byRef(VT_I4, target); }
  static Variant byRef(BSTR* target) { return byRef(VT_BSTR, target); }
  static Variant byRef(DOUBLE* target) { return byRef(VT_R8, target); }

  VARTYPE type() const { return vt; }
  void clear();
  // Converts in place; returns the failure and keeps the value on failure.
  HRESULT changeType(VARTYPE target, USHORT flags = 0);

  // The value converted (a reference followed); EOleSysError with the
  // conversion's code when it does not convert.
  int32_t toInt() const;
  double toDouble() const;
  bool toBool() const;
  LONGLONG toCurrency() const;  // scaled by 10000
  std::u16string toString() const;
  std::string toAnsi() const;  // text in Windows-1251
  // The bytes of a byte array from its lower to its upper bound;
  // DISP_E_TYPEMISMATCH for anything else.
  std::string toBytes() const;
  ComPtr<IDispatch> toDispatch() const;
  ComPtr<IUnknown> toUnknown() const;

  // Hands the content over to a plain VARIANT (an out parameter) and becomes empty.
  VARIANT detach();
  // Takes over the content of source, which becomes VT_EMPTY without release.
  void attach(VARIANT& source);
};
static_assert(sizeof(Variant) == sizeof(VARIANT));

}  // namespace mirelo
