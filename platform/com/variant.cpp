#include "platform/com/variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "platform/cp1251.h"

namespace mirelo {

// ---------------------------------------------------------------------------
// Byte arrays

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  if (vt != VT_UI1 || cDims != 1 || !rgsabound) return nullptr;
  return SafeArrayCreateVector(vt, rgsabound[0].lLbound, rgsabound[0].cElements);
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  if (vt != VT_UI1) return nullptr;
  // The upper bound must be a LONG too.
  if (int64_t{lLbound} + int64_t{cElements} - 1 > std::numeric_limits<LONG>::max()) return nullptr;
  auto* psa = new (std::nothrow) SAFEARRAY{};
  if (!psa) return nullptr;
  if (cElements > 0) {
    psa->pvData = new (std::nothrow) BYTE[cElements]();
    if (!psa->pvData) {
      delete psa;
      return nullptr;
    }
  }
  psa->cDims = 1;
  psa->fFeatures = FADF_HAVEVARTYPE;
  psa->cbElements = 1;
  psa->rgsabound[0] = {cElements, lLbound};
  return psa;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  delete[] static_cast<BYTE*>(psa->pvData);
  delete psa;
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
  return psa ? psa->cDims : 0;
}
UINT SafeArrayGetElemsize(SAFEARRAY* psa) {
  return psa ? psa->cbElements : 0;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!psa || !pvt) return E_INVALIDARG;
  *pvt = VT_UI1;
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (!psa || !plLbound) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (!psa || !plUbound) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  *plUbound =
      static_cast<LONG>(int64_t{psa->rgsabound[0].lLbound} + psa->rgsabound[0].cElements - 1);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  ++psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!psa || !ppvData) return E_INVALIDARG;
  ++psa->cLocks;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
  return SafeArrayUnlock(psa);
}

namespace {

// Offset of an element, or -1 outside the bounds.
int64_t elementOffset(const SAFEARRAY* psa, LONG index) {
  int64_t offset = int64_t{index} - psa->rgsabound[0].lLbound;
  return offset >= 0 && offset < int64_t{psa->rgsabound[0].cElements} ? offset : -1;
}

}  // namespace

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices || !pv) return E_INVALIDARG;
  int64_t offset = elementOffset(psa, rgIndices[0]);
  if (offset < 0) return DISP_E_BADINDEX;
  *static_cast<BYTE*>(pv) = static_cast<const BYTE*>(psa->pvData)[offset];
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices || !pv) return E_INVALIDARG;
  int64_t offset = elementOffset(psa, rgIndices[0]);
  if (offset < 0) return DISP_E_BADINDEX;
  static_cast<BYTE*>(psa->pvData)[offset] = *static_cast<const BYTE*>(pv);
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (!ppsaOut) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (!psa) return S_OK;
  SAFEARRAY* copy =
      SafeArrayCreateVector(VT_UI1, psa->rgsabound[0].lLbound, psa->rgsabound[0].cElements);
  if (!copy) return E_OUTOFMEMORY;
  if (psa->rgsabound[0].cElements > 0)
    std::memcpy(copy->pvData, psa->pvData, psa->rgsabound[0].cElements);
  *ppsaOut = copy;
  return S_OK;
}

// ---------------------------------------------------------------------------
// VARIANT

bool isValueType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R8:
    case VT_CY:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_UI1:
    case VT_ARRAY | VT_UI1:
      return true;
    default:
      return false;
  }
}

namespace {

constexpr VARTYPE kByteArray = VT_ARRAY | VT_UI1;

bool isSupportedType(VARTYPE vt) {
  if (!(vt & VT_BYREF)) return isValueType(vt);
  VARTYPE base = vt & ~VT_BYREF;
  return base == VT_VARIANT || (isValueType(base) && base != VT_EMPTY && base != VT_NULL);
}

// Moves the content of src into dest, which holds nothing that needs release.
void moveInto(VARIANT& dest, VARIANT& src) {
  BSTR text = std::move(src.bstrVal);
  dest = src;  // type and the union's bits
  dest.bstrVal = std::move(text);
  src.vt = VT_EMPTY;
  src.bstrVal.clear();
}

// A copy of what src holds or, for a reference, of what it refers to.
HRESULT copyValue(VARIANT& dest, const VARIANT& src, bool followReference, int depth = 0) {
  if (!isSupportedType(src.vt)) return DISP_E_BADVARTYPE;
  if (!(src.vt & VT_BYREF) || !followReference) {
    // Bitwise first, then the parts that are owned.
    static_assert(sizeof(CY) >= sizeof(void*), "cyVal spans the whole union");
    dest.vt = src.vt;
    std::memcpy(static_cast<void*>(&dest.cyVal), static_cast<const void*>(&src.cyVal), sizeof(CY));
    if (src.vt & VT_BYREF) return S_OK;
    switch (src.vt) {
      case VT_BSTR:
        dest.bstrVal = src.bstrVal;
        break;
      case VT_DISPATCH:
        if (dest.pdispVal) dest.pdispVal->AddRef();
        break;
      case VT_UNKNOWN:
        if (dest.punkVal) dest.punkVal->AddRef();
        break;
      case kByteArray: {
        SAFEARRAY* copy = nullptr;
        HRESULT hr = SafeArrayCopy(src.parray, &copy);
        if (FAILED(hr)) {
          dest.vt = VT_EMPTY;
          return hr;
        }
        dest.parray = copy;
        break;
      }
      default:
        break;
    }
    return S_OK;
  }
  if (!src.byref) return E_INVALIDARG;
  VARTYPE base = src.vt & ~VT_BYREF;
  VARIANT value;
  switch (base) {
    case VT_VARIANT:
      // A reference to a variant that is itself a reference is followed
      // once more; deeper chains (or a variant referring to itself) are refused.
      if (depth > 0 && (src.pvarVal->vt & VT_BYREF)) return DISP_E_BADVARTYPE;
      return copyValue(dest, *src.pvarVal, true, depth + 1);
    case VT_I2:
      value.iVal = *src.piVal;
      break;
    case VT_I4:
      value.lVal = *src.plVal;
      break;
    case VT_R8:
      value.dblVal = *src.pdblVal;
      break;
    case VT_CY:
      value.cyVal = *src.pcyVal;
      break;
    case VT_BOOL:
      value.boolVal = *src.pboolVal;
      break;
    case VT_ERROR:
      value.scode = *src.pscode;
      break;
    case VT_UI1:
      value.bVal = *src.pbVal;
      break;
    case VT_BSTR:
      value.bstrVal = *src.pbstrVal;
      break;
    case VT_DISPATCH:
      value.pdispVal = *src.ppdispVal;
      break;
    case VT_UNKNOWN:
      value.punkVal = *src.ppunkVal;
      break;
    case kByteArray:
      value.parray = *src.pparray;
      break;
    default:
      return DISP_E_BADVARTYPE;
  }
  value.vt = base;
  return copyValue(dest, value, false);
}

// ---- numbers ----

// A number read from text: digits * 10^exponent, digits without leading zeros.
struct Decimal {
  bool negative = false;
  std::string digits;
  int64_t exponent = 0;
};

bool isBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\u00A0';
}
bool isDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

bool parseDecimal(std::u16string_view text, Decimal& number) {
  size_t i = 0, end = text.size();
  while (i < end && isBlank(text[i])) ++i;
  while (end > i && isBlank(text[end - 1])) --end;
  if (i < end && (text[i] == u'+' || text[i] == u'-')) number.negative = text[i++] == u'-';
  bool anyDigit = false, point = false;
  for (; i < end; ++i) {
    char16_t c = text[i];
    if (isDigit(c)) {
      anyDigit = true;
      if (!number.digits.empty() || c != u'0') number.digits += static_cast<char>(c);
      if (point) --number.exponent;
    } else if ((c == u'.' || c == u',') && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!anyDigit) return false;
  if (i < end && (text[i] == u'e' || text[i] == u'E')) {
    ++i;
    bool negative = false;
    if (i < end && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    if (i == end || !isDigit(text[i])) return false;
    int64_t exponent = 0;
    for (; i < end && isDigit(text[i]); ++i)
      exponent = std::min<int64_t>(exponent * 10 + (text[i] - u'0'), 1000000);
    number.exponent += negative ? -exponent : exponent;
  }
  return i == end;
}

// Rounds digits * 10^(exponent + scale) half to even; false when the
// magnitude does not fit in 64 bits.
bool decimalToInteger(const Decimal& number, int scale, int64_t& value) {
  using u128 = unsigned __int128;
  int64_t exponent = number.exponent + scale;
  const std::string& digits = number.digits;
  int64_t integerDigits = static_cast<int64_t>(digits.size()) + exponent;
  if (digits.empty() || integerDigits < 0) {
    value = 0;
    return true;
  }
  if (integerDigits > 20) return false;
  u128 magnitude = 0;
  for (int64_t k = 0; k < integerDigits; ++k) {
    int d = k < static_cast<int64_t>(digits.size()) ? digits[k] - '0' : 0;
    magnitude = magnitude * 10 + static_cast<u128>(d);
  }
  if (integerDigits < static_cast<int64_t>(digits.size())) {
    char first = digits[integerDigits];
    bool restNonZero = digits.find_first_not_of('0', integerDigits + 1) != std::string::npos;
    if (first > '5' || (first == '5' && (restNonZero || (magnitude & 1)))) ++magnitude;
  }
  if (number.negative) {
    if (magnitude > u128{1} << 63) return false;
    value = static_cast<int64_t>(-static_cast<__int128>(magnitude));
  } else {
    if (magnitude >= u128{1} << 63) return false;
    value = static_cast<int64_t>(magnitude);
  }
  return true;
}

HRESULT decimalToDouble(const Decimal& number, double& value) {
  if (number.digits.empty()) {
    value = 0;
    return S_OK;
  }
  std::string text = number.digits + "e" + std::to_string(number.exponent);
  double magnitude = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (error == std::errc::result_out_of_range) {
    // Too small is zero; too large does not fit.
    if (static_cast<int64_t>(number.digits.size()) + number.exponent > 0) return DISP_E_OVERFLOW;
    magnitude = 0;
  } else if (error != std::errc() || end != text.data() + text.size()) {
    return DISP_E_TYPEMISMATCH;
  }
  value = number.negative ? -magnitude : magnitude;
  return S_OK;
}

// Half to even, as the runtime rounds doubles and currency to integers.
double roundHalfEven(double x) {
  double lower = std::floor(x);
  double fraction = x - lower;
  if (fraction > 0.5) return lower + 1;
  if (fraction < 0.5) return lower;
  return std::fmod(lower, 2) == 0 ? lower : lower + 1;
}

int64_t divideHalfEven(int64_t value, int64_t divisor) {
  int64_t quotient = value / divisor, remainder = value % divisor;
  int64_t twice = 2 * (remainder < 0 ? -remainder : remainder);
  if (twice > divisor || (twice == divisor && (quotient & 1))) quotient += value < 0 ? -1 : 1;
  return quotient;
}

// The value of a variant read as a number.
struct Number {
  enum Kind { Integer, Real, Currency } kind = Integer;
  int64_t integer = 0;  // Integer, or Currency scaled by 10000
  double real = 0;
};

bool sameTextIgnoringCase(std::u16string_view text, const char* word) {
  size_t i = 0, end = text.size();
  while (i < end && isBlank(text[i])) ++i;
  while (end > i && isBlank(text[end - 1])) --end;
  return ansiSameText(wideToAnsi(text.substr(i, end - i)), word);
}

HRESULT readNumber(const VARIANT& v, Number& number) {
  switch (v.vt) {
    case VT_EMPTY:
      number = {};
      return S_OK;
    case VT_I2:
      number = {Number::Integer, v.iVal, 0};
      return S_OK;
    case VT_I4:
      number = {Number::Integer, v.lVal, 0};
      return S_OK;
    case VT_UI1:
      number = {Number::Integer, v.bVal, 0};
      return S_OK;
    case VT_BOOL:
      number = {Number::Integer, v.boolVal, 0};
      return S_OK;
    case VT_R8:
      number = {Number::Real, 0, v.dblVal};
      return S_OK;
    case VT_CY:
      number = {Number::Currency, v.cyVal.int64, 0};
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// An integer type's value of a number, or its failure.
HRESULT toInteger(const Number& number, int64_t min, int64_t max, int64_t& value) {
  switch (number.kind) {
    case Number::Integer:
      value = number.integer;
      break;
    case Number::Currency:
      value = divideHalfEven(number.integer, CY_SCALE);
      break;
    case Number::Real: {
      if (!std::isfinite(number.real)) return DISP_E_OVERFLOW;
      double rounded = roundHalfEven(number.real);
      if (rounded < static_cast<double>(min) || rounded > static_cast<double>(max))
        return DISP_E_OVERFLOW;
      value = static_cast<int64_t>(rounded);
      break;
    }
  }
  return value < min || value > max ? DISP_E_OVERFLOW : S_OK;
}

HRESULT toCurrency(const Number& number, int64_t& scaled) {
  switch (number.kind) {
    case Number::Integer:
      scaled = number.integer * CY_SCALE;  // at most 2^31 * 10^4: fits
      return S_OK;
    case Number::Currency:
      scaled = number.integer;
      return S_OK;
    case Number::Real: {
      if (!std::isfinite(number.real)) return DISP_E_OVERFLOW;
      double rounded = roundHalfEven(number.real * CY_SCALE);
      // 2^63 is exactly representable; anything from it on does not fit.
      if (rounded < -9223372036854775808.0 || rounded >= 9223372036854775808.0)
        return DISP_E_OVERFLOW;
      scaled = static_cast<int64_t>(rounded);
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

double toReal(const Number& number) {
  switch (number.kind) {
    case Number::Integer:
      return static_cast<double>(number.integer);
    case Number::Currency:
      return static_cast<double>(number.integer) / CY_SCALE;
    case Number::Real:
      return number.real;
  }
  return 0;
}

bool isZero(const Number& number) {
  return number.kind == Number::Real ? number.real == 0 : number.integer == 0;
}

// ---- text ----

std::u16string asciiToWide(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

std::string formatDouble(double value) {
  if (value == 0) return "0";
  char buffer[64];
  auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  std::string text(buffer, error == std::errc() ? end : buffer);
  for (char& c : text) {
    if (c == '.')
      c = ',';
    else if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string formatCurrency(int64_t scaled) {
  bool negative = scaled < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string text = (negative ? "-" : "") + std::to_string(magnitude / CY_SCALE);
  uint64_t fraction = magnitude % CY_SCALE;
  if (fraction) {
    std::string digits = std::to_string(fraction + CY_SCALE).substr(1);  // four digits
    digits.erase(digits.find_last_not_of('0') + 1);
    text += "," + digits;
  }
  return text;
}

HRESULT toText(const VARIANT& v, USHORT flags, std::u16string& text) {
  switch (v.vt) {
    case VT_EMPTY:
      text.clear();
      return S_OK;
    case VT_I2:
      text = asciiToWide(std::to_string(v.iVal));
      return S_OK;
    case VT_I4:
      text = asciiToWide(std::to_string(v.lVal));
      return S_OK;
    case VT_UI1:
      text = asciiToWide(std::to_string(v.bVal));
      return S_OK;
    case VT_BOOL:
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL))
        text = v.boolVal ? u"True" : u"False";
      else
        text = asciiToWide(std::to_string(v.boolVal));
      return S_OK;
    case VT_R8:
      text = asciiToWide(formatDouble(v.dblVal));
      return S_OK;
    case VT_CY:
      text = asciiToWide(formatCurrency(v.cyVal.int64));
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// ---- conversion of a value (no reference) ----

HRESULT convert(const VARIANT& v, USHORT flags, VARTYPE target, Variant& out, int depth = 0);

HRESULT defaultValue(const VARIANT& v, USHORT flags, VARTYPE target, Variant& out, int depth) {
  if ((flags & VARIANT_NOVALUEPROP) || !v.pdispVal || depth > 0) return DISP_E_TYPEMISMATCH;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  Variant value;
  HRESULT hr = v.pdispVal->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                  &none, &value, nullptr, nullptr);
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  Variant plain;
  hr = copyValue(plain, value, true);
  if (FAILED(hr)) return hr;
  return convert(plain, flags, target, out, depth + 1);
}

HRESULT convertToNumber(const VARIANT& v, VARTYPE target, Variant& out) {
  Number number;
  if (v.vt == VT_BSTR) {
    if (target == VT_BOOL) {
      if (sameTextIgnoringCase(v.bstrVal, "True")) {
        out.boolVal = VARIANT_TRUE;
        out.vt = VT_BOOL;
        return S_OK;
      }
      if (sameTextIgnoringCase(v.bstrVal, "False")) {
        out.boolVal = VARIANT_FALSE;
        out.vt = VT_BOOL;
        return S_OK;
      }
    }
    Decimal decimal;
    if (!parseDecimal(v.bstrVal, decimal)) return DISP_E_TYPEMISMATCH;
    if (target == VT_R8 || target == VT_BOOL) {
      number.kind = Number::Real;
      HRESULT hr = decimalToDouble(decimal, number.real);
      if (FAILED(hr)) return hr;
    } else {
      number.kind = target == VT_CY ? Number::Currency : Number::Integer;
      if (!decimalToInteger(decimal, target == VT_CY ? 4 : 0, number.integer))
        return DISP_E_OVERFLOW;
    }
  } else {
    HRESULT hr = readNumber(v, number);
    if (FAILED(hr)) return hr;
  }

  int64_t value = 0;
  HRESULT hr = S_OK;
  switch (target) {
    case VT_I2:
      hr = toInteger(number, std::numeric_limits<SHORT>::min(), std::numeric_limits<SHORT>::max(),
                     value);
      out.iVal = static_cast<SHORT>(value);
      break;
    case VT_I4:
      hr = toInteger(number, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(),
                     value);
      out.lVal = static_cast<LONG>(value);
      break;
    case VT_UI1:
      // True is all bits set, in a byte too.
      if (v.vt == VT_BOOL) {
        out.bVal = static_cast<BYTE>(v.boolVal);
        break;
      }
      hr = toInteger(number, 0, 255, value);
      out.bVal = static_cast<BYTE>(value);
      break;
    case VT_R8:
      out.dblVal = toReal(number);
      break;
    case VT_CY:
      hr = toCurrency(number, value);
      out.cyVal.int64 = value;
      break;
    case VT_BOOL:
      out.boolVal = isZero(number) ? VARIANT_FALSE : VARIANT_TRUE;
      break;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  if (FAILED(hr)) {
    out.cyVal = {};
    return hr;
  }
  out.vt = target;
  return S_OK;
}

HRESULT convert(const VARIANT& v, USHORT flags, VARTYPE target, Variant& out, int depth) {
  if (!isValueType(target)) return DISP_E_BADVARTYPE;
  if (target == VT_EMPTY) return S_OK;
  if (v.vt == target) return copyValue(out, v, false);
  if (v.vt == VT_DISPATCH && target != VT_UNKNOWN)
    return defaultValue(v, flags, target, out, depth);
  switch (target) {
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      IUnknown* object = v.vt == VT_DISPATCH  ? v.pdispVal
                         : v.vt == VT_UNKNOWN ? v.punkVal
                                              : nullptr;
      if (v.vt != VT_EMPTY && v.vt != VT_DISPATCH && v.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
      void* result = nullptr;
      if (object && FAILED(object->QueryInterface(
                        target == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &result)))
        return DISP_E_TYPEMISMATCH;
      out.byref = result;  // the reference QueryInterface added is the copy's
      out.vt = target;
      return S_OK;
    }
    case VT_BSTR: {
      HRESULT hr = toText(v, flags, out.bstrVal);
      if (SUCCEEDED(hr)) out.vt = VT_BSTR;
      return hr;
    }
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_R8:
    case VT_CY:
    case VT_BOOL:
      return convertToNumber(v, target, out);
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace

void VariantInit(VARIANTARG* pvarg) {
  if (!pvarg) return;
  pvarg->vt = VT_EMPTY;
  pvarg->cyVal = {};
  pvarg->bstrVal.clear();
}

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  if (!isSupportedType(pvarg->vt)) return DISP_E_BADVARTYPE;
  VARTYPE vt = pvarg->vt;
  if (vt == kByteArray && pvarg->parray) {
    HRESULT hr = SafeArrayDestroy(pvarg->parray);
    if (FAILED(hr)) return hr;
  }
  // Emptied before Release, which may run code that looks at this variant.
  IUnknown* object = vt == VT_DISPATCH  ? pvarg->pdispVal
                     : vt == VT_UNKNOWN ? pvarg->punkVal
                                        : nullptr;
  pvarg->vt = VT_EMPTY;
  pvarg->cyVal = {};
  pvarg->bstrVal.clear();
  if (object) object->Release();
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  Variant copy;
  HRESULT hr = copyValue(copy, *pvargSrc, false);
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) return hr;
  moveInto(*pvargDest, copy);
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
  if (!pvarDest || !pvargSrc) return E_INVALIDARG;
  Variant copy;
  HRESULT hr = copyValue(copy, *pvargSrc, true);
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvarDest);
  if (FAILED(hr)) return hr;
  moveInto(*pvarDest, copy);
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt) {
  if (!pvargDest || !pvarSrc) return E_INVALIDARG;
  if (!isValueType(vt)) return DISP_E_BADVARTYPE;
  Variant value;
  HRESULT hr = copyValue(value, *pvarSrc, true);
  if (FAILED(hr)) return hr;
  if (value.vt == vt) {
    // Already of the type: the copy is the result.
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) return hr;
    moveInto(*pvargDest, value);
    return S_OK;
  }
  Variant result;
  hr = convert(value, wFlags, vt, result);
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) return hr;
  moveInto(*pvargDest, result);
  return S_OK;
}

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID, USHORT wFlags,
                            VARTYPE vt) {
  return VariantChangeType(pvargDest, pvarSrc, wFlags, vt);
}

// ---------------------------------------------------------------------------
// Variant

Variant::Variant(const Variant& other) : Variant(static_cast<const VARIANT&>(other)) {}

Variant::Variant(const VARIANT& other) {
  HRESULT hr = copyValue(*this, other, false);
  if (FAILED(hr)) throw EOleSysError(hr);
}

Variant::Variant(Variant&& other) noexcept {
  moveInto(*this, other);
}

Variant::Variant(int32_t value) {
  vt = VT_I4;
  lVal = value;
}
Variant::Variant(int16_t value) {
  vt = VT_I2;
  iVal = value;
}
Variant::Variant(uint8_t value) {
  vt = VT_UI1;
  bVal = value;
}
Variant::Variant(double value) {
  vt = VT_R8;
  dblVal = value;
}
Variant::Variant(bool value) {
  vt = VT_BOOL;
  boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}
Variant::Variant(std::u16string value) {
  vt = VT_BSTR;
  bstrVal = std::move(value);
}
Variant::Variant(const char16_t* value) : Variant(std::u16string(value ? value : u"")) {}
Variant::Variant(IDispatch* value) {
  vt = VT_DISPATCH;
  pdispVal = value;
  if (value) value->AddRef();
}
Variant::Variant(IUnknown* value) {
  vt = VT_UNKNOWN;
  punkVal = value;
  if (value) value->AddRef();
}

Variant::~Variant() {
  VariantClear(this);
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    clear();
    moveInto(*this, copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    clear();
    moveInto(*this, other);
  }
  return *this;
}

Variant Variant::fromAnsi(std::string_view text) {
  return Variant(ansiToWide(text));
}

Variant Variant::currency(LONGLONG scaled) {
  Variant v;
  v.vt = VT_CY;
  v.cyVal.int64 = scaled;
  return v;
}

Variant Variant::error(SCODE code) {
  Variant v;
  v.vt = VT_ERROR;
  v.scode = code;
  return v;
}

Variant Variant::null() {
  Variant v;
  v.vt = VT_NULL;
  return v;
}

Variant Variant::fromBytes(std::string_view bytes, LONG lowerBound) {
  // The upper bound must fit a LONG as well.
  if (bytes.size() > std::numeric_limits<ULONG>::max() ||
      int64_t{lowerBound} + static_cast<int64_t>(bytes.size()) - 1 >
          std::numeric_limits<LONG>::max())
    throw EOleSysError(E_INVALIDARG);
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, lowerBound, static_cast<ULONG>(bytes.size()));
  if (!array) throw EOleSysError(E_OUTOFMEMORY);
  if (!bytes.empty()) std::memcpy(array->pvData, bytes.data(), bytes.size());
  Variant v;
  v.vt = kByteArray;
  v.parray = array;
  return v;
}

Variant Variant::byRef(VARTYPE baseType, void* target) {
  Variant v;
  v.vt = static_cast<VARTYPE>(VT_BYREF | baseType);
  v.byref = target;
  return v;
}

void Variant::clear() {
  // Only a locked array can refuse; its memory stays with whoever locked it.
  if (FAILED(VariantClear(this))) {
    vt = VT_EMPTY;
    cyVal = {};
  }
}

HRESULT Variant::changeType(VARTYPE target, USHORT flags) {
  if (vt == target && isValueType(target)) return S_OK;
  return VariantChangeType(this, this, flags, target);
}

namespace {

Variant converted(const Variant& v, VARTYPE target) {
  Variant result;
  HRESULT hr = VariantChangeType(&result, &v, 0, target);
  if (FAILED(hr)) throw EOleSysError(hr);
  return result;
}

}  // namespace

int32_t Variant::toInt() const {
  if (vt == VT_I4) return lVal;
  return converted(*this, VT_I4).lVal;
}
double Variant::toDouble() const {
  return converted(*this, VT_R8).dblVal;
}
bool Variant::toBool() const {
  return converted(*this, VT_BOOL).boolVal != VARIANT_FALSE;
}
LONGLONG Variant::toCurrency() const {
  return converted(*this, VT_CY).cyVal.int64;
}
std::u16string Variant::toString() const {
  if (vt == VT_BSTR) return bstrVal;
  return std::move(converted(*this, VT_BSTR).bstrVal);
}
std::string Variant::toAnsi() const {
  if (vt == VT_BSTR) return wideToAnsi(bstrVal);
  return wideToAnsi(toString());
}

std::string Variant::toBytes() const {
  Variant value;
  HRESULT hr = copyValue(value, *this, true);
  if (FAILED(hr)) throw EOleSysError(hr);
  if (value.vt != kByteArray) throw EOleSysError(DISP_E_TYPEMISMATCH);
  if (!value.parray || value.parray->rgsabound[0].cElements == 0) return {};
  return std::string(static_cast<const char*>(value.parray->pvData),
                     value.parray->rgsabound[0].cElements);
}

ComPtr<IDispatch> Variant::toDispatch() const {
  Variant result = converted(*this, VT_DISPATCH);
  ComPtr<IDispatch> object;
  object.attach(result.pdispVal);
  result.vt = VT_EMPTY;
  return object;
}

ComPtr<IUnknown> Variant::toUnknown() const {
  Variant result = converted(*this, VT_UNKNOWN);
  ComPtr<IUnknown> object;
  object.attach(result.punkVal);
  result.vt = VT_EMPTY;
  return object;
}

VARIANT Variant::detach() {
  VARIANT out;
  moveInto(out, *this);
  return out;
}

void Variant::attach(VARIANT& source) {
  clear();
  moveInto(*this, source);
}

}  // namespace mirelo
