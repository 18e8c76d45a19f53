#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/cp1251.h"
#include "platform/format.h"
#include "tests/com/test_objects.h"

namespace mirelo {
namespace {

using test::everyByte;
using test::liveObjects;
using test::refCount;

// A readable form of a value for failure messages.
std::string describe(const VARIANT& v) {
  std::string text = format("vt=0x%X", v.vt);
  switch (v.vt) {
    case VT_I2:
      return text + format(" %d", v.iVal);
    case VT_I4:
      return text + format(" %d", v.lVal);
    case VT_UI1:
      return text + format(" %u", v.bVal);
    case VT_BOOL:
      return text + format(" %d", v.boolVal);
    case VT_R8:
      return text + format(" %.17g", v.dblVal);
    case VT_CY:
      return text + format(" %lld", static_cast<long long>(v.cyVal.int64));
    case VT_BSTR:
      return text + " \"" + wideToUtf8(v.bstrVal) + "\"";
    default:
      return text;
  }
}

bool sameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I2:
      return a.iVal == b.iVal;
    case VT_I4:
      return a.lVal == b.lVal;
    case VT_UI1:
      return a.bVal == b.bVal;
    case VT_BOOL:
      return a.boolVal == b.boolVal;
    case VT_R8:
      return a.dblVal == b.dblVal;
    case VT_CY:
      return a.cyVal.int64 == b.cyVal.int64;
    case VT_BSTR:
      return a.bstrVal == b.bstrVal;
    case VT_ERROR:
      return a.scode == b.scode;
    default:
      return false;
  }
}

struct Conversion {
  Variant from;
  VARTYPE to;
  HRESULT hr;
  Variant expected;  // when hr is S_OK
  USHORT flags = 0;
};

void checkConversions(const std::vector<Conversion>& cases) {
  for (size_t i = 0; i < cases.size(); ++i) {
    const Conversion& c = cases[i];
    Variant out = Variant(u"untouched");
    HRESULT hr = VariantChangeType(&out, &c.from, c.flags, c.to);
    SCOPED_TRACE(format("case %zu: %s -> 0x%X", i, describe(c.from).c_str(), c.to));
    EXPECT_EQ(hr, c.hr) << hresultMessage(hr);
    if (c.hr == S_OK)
      EXPECT_TRUE(sameValue(out, c.expected))
          << describe(out) << " expected " << describe(c.expected);
    else
      EXPECT_TRUE(sameValue(out, Variant(u"untouched")))
          << "a failed conversion changed its target";
  }
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const int16_t kTrue = VARIANT_TRUE, kFalse = VARIANT_FALSE;

Variant boolean(bool value) {
  return Variant(value);
}
Variant i2(int16_t value) {
  return Variant(value);
}
Variant ui1(uint8_t value) {
  return Variant(value);
}
Variant cy(LONGLONG scaled) {
  return Variant::currency(scaled);
}

TEST(VariantChangeType, IntegersAmongThemselvesWithRangeChecks) {
  checkConversions({
      {32767, VT_I2, S_OK, i2(32767)},
      {32768, VT_I2, DISP_E_OVERFLOW, {}},
      {-32768, VT_I2, S_OK, i2(-32768)},
      {-32769, VT_I2, DISP_E_OVERFLOW, {}},
      {255, VT_UI1, S_OK, ui1(255)},
      {256, VT_UI1, DISP_E_OVERFLOW, {}},
      {-1, VT_UI1, DISP_E_OVERFLOW, {}},
      {i2(-5), VT_I4, S_OK, -5},
      {ui1(200), VT_I2, S_OK, i2(200)},
      {ui1(200), VT_I4, S_OK, 200},
      {7, VT_CY, S_OK, cy(70000)},
      {std::numeric_limits<int32_t>::min(), VT_CY, S_OK, cy(-21474836480000LL)},
      {7, VT_R8, S_OK, 7.0},
  });
}

TEST(VariantChangeType, BooleanIsMinusOneAndZero) {
  checkConversions({
      {boolean(true), VT_I4, S_OK, -1},
      {boolean(false), VT_I4, S_OK, 0},
      {boolean(true), VT_I2, S_OK, i2(-1)},
      {boolean(true), VT_UI1, S_OK, ui1(255)},
      {boolean(true), VT_R8, S_OK, -1.0},
      {boolean(true), VT_CY, S_OK, cy(-10000)},
      {boolean(false), VT_CY, S_OK, cy(0)},
      {0, VT_BOOL, S_OK, boolean(false)},
      {1, VT_BOOL, S_OK, boolean(true)},
      {5, VT_BOOL, S_OK, boolean(true)},
      {-1, VT_BOOL, S_OK, boolean(true)},
      {0.0, VT_BOOL, S_OK, boolean(false)},
      {0.25, VT_BOOL, S_OK, boolean(true)},
      {cy(1), VT_BOOL, S_OK, boolean(true)},
      {cy(0), VT_BOOL, S_OK, boolean(false)},
      {ui1(0), VT_BOOL, S_OK, boolean(false)},
  });
  // Exactly -1 and 0, never 1.
  Variant v(true);
  EXPECT_EQ(v.boolVal, kTrue);
  EXPECT_EQ(Variant(false).boolVal, kFalse);
}

TEST(VariantChangeType, DoublesRoundHalfToEvenAndOverflow) {
  checkConversions({
      {2.5, VT_I4, S_OK, 2},
      {3.5, VT_I4, S_OK, 4},
      {-2.5, VT_I4, S_OK, -2},
      {-3.5, VT_I4, S_OK, -4},
      {2.4999, VT_I4, S_OK, 2},
      {2.5001, VT_I4, S_OK, 3},
      {2147483647.4, VT_I4, S_OK, 2147483647},
      {2147483647.5, VT_I4, DISP_E_OVERFLOW, {}},
      {-2147483648.5, VT_I4, S_OK, std::numeric_limits<int32_t>::min()},
      {-2147483649.0, VT_I4, DISP_E_OVERFLOW, {}},
      {kNaN, VT_I4, DISP_E_OVERFLOW, {}},
      {kInf, VT_I4, DISP_E_OVERFLOW, {}},
      {255.4, VT_UI1, S_OK, ui1(255)},
      {255.5, VT_UI1, DISP_E_OVERFLOW, {}},
      {-0.5, VT_UI1, S_OK, ui1(0)},
      {32767.5, VT_I2, DISP_E_OVERFLOW, {}},
      {12.5, VT_CY, S_OK, cy(125000)},
      {-1.25, VT_CY, S_OK, cy(-12500)},
      {9e14, VT_CY, S_OK, cy(9000000000000000000LL)},
      {1e15, VT_CY, DISP_E_OVERFLOW, {}},
      {-1e15, VT_CY, DISP_E_OVERFLOW, {}},
      {kNaN, VT_CY, DISP_E_OVERFLOW, {}},
  });
}

TEST(VariantChangeType, CurrencyIsScaledByTenThousand) {
  const LONGLONG max = std::numeric_limits<LONGLONG>::max();
  const LONGLONG min = std::numeric_limits<LONGLONG>::min();
  checkConversions({
      {cy(125000), VT_I4, S_OK, 12},  // 12.5 to even
      {cy(135000), VT_I4, S_OK, 14},
      {cy(-125000), VT_I4, S_OK, -12},
      {cy(124999), VT_I4, S_OK, 12},
      {cy(125001), VT_I4, S_OK, 13},
      {cy(max), VT_I4, DISP_E_OVERFLOW, {}},
      {cy(125000), VT_R8, S_OK, 12.5},
      {cy(-1), VT_R8, S_OK, -0.0001},
      {cy(125000), VT_BSTR, S_OK, u"12,5"},
      {cy(10000), VT_BSTR, S_OK, u"1"},
      {cy(0), VT_BSTR, S_OK, u"0"},
      {cy(-1), VT_BSTR, S_OK, u"-0,0001"},
      {cy(123456), VT_BSTR, S_OK, u"12,3456"},
      {cy(max), VT_BSTR, S_OK, u"922337203685477,5807"},
      {cy(min), VT_BSTR, S_OK, u"-922337203685477,5808"},
  });
}

TEST(VariantChangeType, NumbersToText) {
  checkConversions({
      {42, VT_BSTR, S_OK, u"42"},
      {std::numeric_limits<int32_t>::min(), VT_BSTR, S_OK, u"-2147483648"},
      {i2(-7), VT_BSTR, S_OK, u"-7"},
      {ui1(255), VT_BSTR, S_OK, u"255"},
      {1.5, VT_BSTR, S_OK, u"1,5"},
      {0.1, VT_BSTR, S_OK, u"0,1"},
      {-0.0, VT_BSTR, S_OK, u"0"},
      {1e20, VT_BSTR, S_OK, u"1E+20"},
      {123456789.125, VT_BSTR, S_OK, u"123456789,125"},
      {1.0 / 3, VT_BSTR, S_OK, u"0,333333333333333"},
      {boolean(true), VT_BSTR, S_OK, u"-1"},
      {boolean(false), VT_BSTR, S_OK, u"0"},
      {boolean(true), VT_BSTR, S_OK, u"True", VARIANT_ALPHABOOL},
      {boolean(false), VT_BSTR, S_OK, u"False", VARIANT_ALPHABOOL},
      {boolean(true), VT_BSTR, S_OK, u"True", VARIANT_LOCALBOOL},
  });
}

TEST(VariantChangeType, TextToNumbers) {
  const LONGLONG max = std::numeric_limits<LONGLONG>::max();
  checkConversions({
      {u"42", VT_I4, S_OK, 42},
      {u"  -17  ", VT_I4, S_OK, -17},
      {u"+8", VT_I4, S_OK, 8},
      {u"007", VT_I4, S_OK, 7},
      {u"2147483647", VT_I4, S_OK, 2147483647},
      {u"-2147483648", VT_I4, S_OK, std::numeric_limits<int32_t>::min()},
      {u"2147483648", VT_I4, DISP_E_OVERFLOW, {}},
      {u"-2147483649", VT_I4, DISP_E_OVERFLOW, {}},
      {u"99999999999999999999999", VT_I4, DISP_E_OVERFLOW, {}},
      {u"1,5", VT_I4, S_OK, 2},
      {u"2.5", VT_I4, S_OK, 2},
      {u"1e3", VT_I4, S_OK, 1000},
      {u"0,0000001", VT_I4, S_OK, 0},
      {u"abc", VT_I4, DISP_E_TYPEMISMATCH, {}},
      {u"", VT_I4, DISP_E_TYPEMISMATCH, {}},
      {u"   ", VT_I4, DISP_E_TYPEMISMATCH, {}},
      {u"12abc", VT_I4, DISP_E_TYPEMISMATCH, {}},
      {u"1e", VT_I4, DISP_E_TYPEMISMATCH, {}},
      {u"- 5", VT_I4, DISP_E_TYPEMISMATCH, {}},
      {u"0x10", VT_I4, DISP_E_TYPEMISMATCH, {}},
      {u"1,2,3", VT_I4, DISP_E_TYPEMISMATCH, {}},
      {u"сто", VT_I4, DISP_E_TYPEMISMATCH, {}},
      {u"255", VT_UI1, S_OK, ui1(255)},
      {u"256", VT_UI1, DISP_E_OVERFLOW, {}},
      {u"-1", VT_UI1, DISP_E_OVERFLOW, {}},
      {u"-32768", VT_I2, S_OK, i2(-32768)},
      {u"32768", VT_I2, DISP_E_OVERFLOW, {}},
      {u"1,5", VT_R8, S_OK, 1.5},
      {u"1.5", VT_R8, S_OK, 1.5},
      {u"-2.5e-3", VT_R8, S_OK, -0.0025},
      {u"1e400", VT_R8, DISP_E_OVERFLOW, {}},
      {u"1e-400", VT_R8, S_OK, 0.0},
      {u"x", VT_R8, DISP_E_TYPEMISMATCH, {}},
      {u"12,5", VT_CY, S_OK, cy(125000)},
      {u"922337203685477,5807", VT_CY, S_OK, cy(max)},
      {u"922337203685477,5808", VT_CY, DISP_E_OVERFLOW, {}},
      {u"12,34565", VT_CY, S_OK, cy(123456)},  // half to even at the fifth decimal
      {u"12,34575", VT_CY, S_OK, cy(123458)},
      {u"True", VT_BOOL, S_OK, boolean(true)},
      {u"false", VT_BOOL, S_OK, boolean(false)},
      {u" TRUE ", VT_BOOL, S_OK, boolean(true)},
      {u"0", VT_BOOL, S_OK, boolean(false)},
      {u"2", VT_BOOL, S_OK, boolean(true)},
      {u"yes", VT_BOOL, DISP_E_TYPEMISMATCH, {}},
      {u"", VT_BOOL, DISP_E_TYPEMISMATCH, {}},
  });
}

TEST(VariantChangeType, EmptyNullAndUnsupportedTypes) {
  checkConversions({
      {Variant(), VT_I4, S_OK, 0},
      {Variant(), VT_BSTR, S_OK, u""},
      {Variant(), VT_BOOL, S_OK, boolean(false)},
      {Variant(), VT_R8, S_OK, 0.0},
      {Variant(), VT_CY, S_OK, cy(0)},
      {42, VT_EMPTY, S_OK, Variant()},
      {Variant::null(), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {Variant::null(), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
      {Variant::null(), VT_NULL, S_OK, Variant::null()},
      {5, VT_NULL, DISP_E_TYPEMISMATCH, {}},
      {Variant::error(DISP_E_PARAMNOTFOUND), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {Variant::fromBytes("ab"), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
      {u"ab", static_cast<VARTYPE>(VT_ARRAY | VT_UI1), DISP_E_TYPEMISMATCH, {}},
      {u"ab", VT_UNKNOWN, DISP_E_TYPEMISMATCH, {}},
      {42, VT_VARIANT, DISP_E_BADVARTYPE, {}},
      {42, static_cast<VARTYPE>(VT_BYREF | VT_I4), DISP_E_BADVARTYPE, {}},
      {42, VT_DATE, DISP_E_BADVARTYPE, {}},
  });
  // A source of a type the runtime does not know (such a Variant cannot be copied).
  for (VARTYPE unknown :
       {VT_DATE, VT_DECIMAL, VT_I8, static_cast<VARTYPE>(0x0FFF),
        static_cast<VARTYPE>(VT_ARRAY | VT_I4), static_cast<VARTYPE>(VT_BYREF | VT_EMPTY)}) {
    VARIANT source;
    source.vt = unknown;
    Variant out(u"untouched");
    EXPECT_EQ(VariantChangeType(&out, &source, 0, VT_BSTR), DISP_E_BADVARTYPE) << unknown;
    EXPECT_EQ(out.bstrVal, u"untouched");
    EXPECT_THROW(Variant{source}, EOleSysError);
  }
}

TEST(VariantChangeType, ReferencesAreFollowed) {
  LONG number = 41;
  BSTR text = u"17";
  Variant inner(2.5);
  VARIANT_BOOL flag = VARIANT_TRUE;
  checkConversions({
      {Variant::byRef(&number), VT_BSTR, S_OK, u"41"},
      {Variant::byRef(&text), VT_I4, S_OK, 17},
      {Variant::byRef(&inner), VT_I4, S_OK, 2},
      {Variant::byRef(VT_BOOL, &flag), VT_I4, S_OK, -1},
      {Variant::byRef(VT_I4, nullptr), VT_I4, E_INVALIDARG, {}},
  });
  // A reference to a variant that refers to itself is refused, not followed forever.
  Variant loop;
  loop.vt = VT_BYREF | VT_VARIANT;
  loop.pvarVal = &loop;
  Variant out;
  EXPECT_EQ(VariantChangeType(&out, &loop, 0, VT_I4), DISP_E_BADVARTYPE);
  loop.vt = VT_EMPTY;
}

TEST(VariantChangeType, InPlaceKeepsTheValueOnFailure) {
  Variant v(u"12");
  EXPECT_EQ(v.changeType(VT_I4), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 12);
  EXPECT_TRUE(v.bstrVal.empty());
  Variant text(u"abc");
  EXPECT_EQ(text.changeType(VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(text.vt, VT_BSTR);
  EXPECT_EQ(text.bstrVal, u"abc");
  EXPECT_EQ(VariantChangeType(nullptr, &v, 0, VT_I4), E_INVALIDARG);
}

TEST(VariantChangeType, ObjectsGiveTheirDefaultValueOrTheirOtherInterface) {
  {
    ComPtr<test::IFoo> foo(new test::Foo);
    // Foo has no DISPID_VALUE member: the object does not convert to a number.
    Variant object(static_cast<IDispatch*>(foo.get()));
    Variant out;
    EXPECT_EQ(VariantChangeType(&out, &object, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&out, &object, 0, VT_UNKNOWN), S_OK);
    ComPtr<IUnknown> identity;
    foo->QueryInterface(IID_IUnknown, identity.putVoid());
    EXPECT_EQ(out.punkVal, identity.get());
    Variant back;
    EXPECT_EQ(VariantChangeType(&back, &out, 0, VT_DISPATCH), S_OK);
    EXPECT_EQ(back.pdispVal, static_cast<IDispatch*>(foo.get()));
  }
  {
    // An object with a default value converts through it.
    struct Valued;
    static const DispatchMap<Valued> map(
        {IID_IDispatch, "IValued", ""},
        {{{"Value", DISPID_VALUE, INVOKE_PROPERTYGET, VT_BSTR, {}, ""},
          [](Valued&, DispatchCall& c) { c.result = u"1234"; }}});
    struct Valued final : ComObject<DispatchImpl<Valued>> {
      Valued() : ComObject(map) {}
    };
    ComPtr<IDispatch> valued(new Valued);
    Variant object(valued.get());
    Variant out;
    EXPECT_EQ(VariantChangeType(&out, &object, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, 1234);
    EXPECT_EQ(VariantChangeType(&out, &object, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
  }
  {
    ComPtr<IUnknown> plain(new test::Plain);
    Variant object(plain.get());
    Variant out;
    EXPECT_EQ(VariantChangeType(&out, &object, 0, VT_DISPATCH), DISP_E_TYPEMISMATCH);
    Variant none;
    EXPECT_EQ(VariantChangeType(&out, &none, 0, VT_DISPATCH), S_OK);
    EXPECT_EQ(out.vt, VT_DISPATCH);
    EXPECT_EQ(out.pdispVal, nullptr);
  }
  EXPECT_EQ(liveObjects, 0);
}

TEST(VariantCopy, DuplicatesTextArraysAndCountsInterfaces) {
  ComPtr<IUnknown> plain(new test::Plain);
  ULONG before = refCount(plain.get());
  {
    Variant source(plain.get());
    EXPECT_EQ(refCount(plain.get()), before + 1);
    Variant copy;
    EXPECT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_EQ(refCount(plain.get()), before + 2);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(copy.vt, VT_EMPTY);
    EXPECT_EQ(refCount(plain.get()), before + 1);
    // Copying over a held interface releases it.
    EXPECT_EQ(VariantCopy(&copy, &source), S_OK);
    Variant text(u"текст");
    EXPECT_EQ(VariantCopy(&copy, &text), S_OK);
    EXPECT_EQ(refCount(plain.get()), before + 1);
    EXPECT_EQ(copy.bstrVal, u"текст");
  }
  EXPECT_EQ(refCount(plain.get()), before);

  Variant bytes = Variant::fromBytes("abc", 3);
  Variant copy(bytes);
  ASSERT_NE(copy.parray, bytes.parray);
  static_cast<BYTE*>(copy.parray->pvData)[0] = 'X';
  EXPECT_EQ(bytes.toBytes(), "abc");
  EXPECT_EQ(copy.toBytes(), "Xbc");
  EXPECT_EQ(copy.parray->rgsabound[0].lLbound, 3);

  // A reference stays a reference; VariantCopyInd copies what it refers to.
  LONG number = 5;
  Variant ref = Variant::byRef(&number);
  Variant refCopy;
  EXPECT_EQ(VariantCopy(&refCopy, &ref), S_OK);
  EXPECT_EQ(refCopy.vt, VT_BYREF | VT_I4);
  EXPECT_EQ(refCopy.plVal, &number);
  Variant value;
  EXPECT_EQ(VariantCopyInd(&value, &ref), S_OK);
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 5);

  EXPECT_EQ(VariantCopy(&value, &value), S_OK);
  VARIANT unsupported;
  unsupported.vt = VT_DATE;
  EXPECT_EQ(VariantCopy(&value, &unsupported), DISP_E_BADVARTYPE);
  EXPECT_EQ(value.lVal, 5);  // unchanged after a refused copy
}

TEST(VariantClear, RefusesUnknownTypesAndLockedArrays) {
  VARIANT raw;
  raw.vt = VT_DATE;
  EXPECT_EQ(VariantClear(&raw), DISP_E_BADVARTYPE);
  EXPECT_EQ(raw.vt, VT_DATE);
  VariantInit(&raw);
  EXPECT_EQ(raw.vt, VT_EMPTY);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);

  Variant bytes = Variant::fromBytes("xyz");
  EXPECT_EQ(SafeArrayLock(bytes.parray), S_OK);
  EXPECT_EQ(VariantClear(&bytes), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(bytes.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(SafeArrayUnlock(bytes.parray), S_OK);
  EXPECT_EQ(SafeArrayUnlock(bytes.parray), E_UNEXPECTED);
  EXPECT_EQ(VariantClear(&bytes), S_OK);
  EXPECT_EQ(bytes.vt, VT_EMPTY);

  // A reference is not followed: what it refers to stays.
  BSTR text = u"keep";
  Variant ref = Variant::byRef(&text);
  EXPECT_EQ(VariantClear(&ref), S_OK);
  EXPECT_EQ(text, u"keep");
}

TEST(ByteArrays, CarryEveryByteIntoAndOutOfAVariant) {
  const std::string all = everyByte();
  for (LONG lower : {0, 1, -5}) {
    Variant v = Variant::fromBytes(all, lower);
    ASSERT_EQ(v.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(SafeArrayGetDim(v.parray), 1u);
    EXPECT_EQ(SafeArrayGetElemsize(v.parray), 1u);
    VARTYPE vt = 0;
    EXPECT_EQ(SafeArrayGetVartype(v.parray, &vt), S_OK);
    EXPECT_EQ(vt, VT_UI1);
    LONG lbound = 0, ubound = 0;
    EXPECT_EQ(SafeArrayGetLBound(v.parray, 1, &lbound), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(v.parray, 1, &ubound), S_OK);
    EXPECT_EQ(lbound, lower);
    EXPECT_EQ(ubound, lower + 255);
    // Element by element, lower bound to upper bound, as a host reads it.
    std::string read;
    for (LONG i = lbound; i <= ubound; ++i) {
      BYTE b = 0;
      ASSERT_EQ(SafeArrayGetElement(v.parray, &i, &b), S_OK);
      read += static_cast<char>(b);
    }
    EXPECT_EQ(read, all);
    EXPECT_EQ(v.toBytes(), all);
    LONG outside[] = {lbound - 1, ubound + 1};
    BYTE b = 0;
    for (LONG& i : outside) EXPECT_EQ(SafeArrayGetElement(v.parray, &i, &b), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetLBound(v.parray, 2, &lbound), DISP_E_BADINDEX);
  }

  // The other way: a host fills an array and hands it over in a variant.
  SAFEARRAYBOUND bound{256, 1};
  SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
  ASSERT_NE(array, nullptr);
  for (LONG i = 1; i <= 256; ++i) {
    BYTE b = static_cast<BYTE>(256 - i);
    ASSERT_EQ(SafeArrayPutElement(array, &i, &b), S_OK);
  }
  VARIANT raw;
  raw.vt = VT_ARRAY | VT_UI1;
  raw.parray = array;
  Variant owned;
  owned.attach(raw);
  EXPECT_EQ(raw.vt, VT_EMPTY);
  std::string reversed(all.rbegin(), all.rend());
  EXPECT_EQ(owned.toBytes(), reversed);
  void* data = nullptr;
  EXPECT_EQ(SafeArrayAccessData(owned.parray, &data), S_OK);
  EXPECT_EQ(std::string(static_cast<const char*>(data), 256), reversed);
  EXPECT_EQ(SafeArrayUnaccessData(owned.parray), S_OK);
  // Through a reference too.
  Variant ref = Variant::byRef(&owned);
  EXPECT_EQ(ref.toBytes(), reversed);
}

TEST(ByteArrays, EmptyArraysAndRefusedShapes) {
  Variant empty = Variant::fromBytes("");
  LONG lbound = -1, ubound = 0;
  EXPECT_EQ(SafeArrayGetLBound(empty.parray, 1, &lbound), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(empty.parray, 1, &ubound), S_OK);
  EXPECT_EQ(lbound, 0);
  EXPECT_EQ(ubound, -1);
  EXPECT_EQ(empty.toBytes(), "");
  LONG index = 0;
  BYTE b = 0;
  EXPECT_EQ(SafeArrayGetElement(empty.parray, &index, &b), DISP_E_BADINDEX);

  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_I4, 1, bounds), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_UI1, 2, bounds), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_UI1, std::numeric_limits<LONG>::max(), 2), nullptr);
  EXPECT_THROW(Variant::fromBytes("ab", std::numeric_limits<LONG>::max()), EOleSysError);
  EXPECT_EQ(Variant::fromBytes("a", std::numeric_limits<LONG>::max()).toBytes(), "a");
  EXPECT_EQ(SafeArrayDestroy(nullptr), E_INVALIDARG);
  SAFEARRAY* copy = reinterpret_cast<SAFEARRAY*>(1);
  EXPECT_EQ(SafeArrayCopy(nullptr, &copy), S_OK);
  EXPECT_EQ(copy, nullptr);

  try {
    Variant(42).toBytes();
    FAIL();
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), DISP_E_TYPEMISMATCH);
  }
}

TEST(VariantWrapper, OwnsCopiesAndMovesItsContent) {
  ComPtr<IUnknown> plain(new test::Plain);
  ULONG before = refCount(plain.get());
  {
    Variant a(plain.get());
    Variant b(a);
    Variant c(std::move(a));
    EXPECT_EQ(a.vt, VT_EMPTY);
    EXPECT_EQ(refCount(plain.get()), before + 2);
    b = c;
    EXPECT_EQ(refCount(plain.get()), before + 2);
    b = Variant(u"x");
    EXPECT_EQ(refCount(plain.get()), before + 1);
    VARIANT out = c.detach();
    EXPECT_EQ(c.vt, VT_EMPTY);
    EXPECT_EQ(refCount(plain.get()), before + 1);
    EXPECT_EQ(VariantClear(&out), S_OK);
    EXPECT_EQ(refCount(plain.get()), before);
    Variant self(u"self");
    self = self;
    EXPECT_EQ(self.bstrVal, u"self");
  }
  EXPECT_EQ(refCount(plain.get()), before);

  EXPECT_EQ(Variant(int32_t{5}).vt, VT_I4);
  EXPECT_EQ(Variant(int16_t{5}).vt, VT_I2);
  EXPECT_EQ(Variant(uint8_t{5}).vt, VT_UI1);
  EXPECT_EQ(Variant(5.0).vt, VT_R8);
  EXPECT_EQ(Variant(u"5").vt, VT_BSTR);
  EXPECT_EQ(Variant::currency(5).vt, VT_CY);
  EXPECT_EQ(Variant::fromAnsi("Цена").bstrVal, u"Цена");
  EXPECT_EQ(Variant(u"Цена").toAnsi(), "Цена");
  EXPECT_EQ(Variant(u"12").toInt(), 12);
  EXPECT_EQ(Variant(u"1,5").toDouble(), 1.5);
  EXPECT_TRUE(Variant(u"True").toBool());
  EXPECT_EQ(Variant(u"12,5").toCurrency(), 125000);
  EXPECT_EQ(Variant(7).toString(), u"7");
  try {
    Variant(u"много").toInt();
    FAIL();
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), DISP_E_TYPEMISMATCH);
    EXPECT_STREQ(e.what(), "Type mismatch.");
  }
  try {
    Variant(1e10).toInt();
    FAIL();
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), DISP_E_OVERFLOW);
  }
  // Arrays of Variant are arrays of VARIANT (DISPPARAMS takes them).
  Variant array[3] = {1, 2, 3};
  VARIANT* raw = array;
  EXPECT_EQ(raw[2].lVal, 3);
  EXPECT_EQ(liveObjects, 1);
}

}  // namespace
}  // namespace mirelo
