#include <gtest/gtest.h>

#include <set>
#include <unordered_set>

#include "platform/com/com.h"

namespace mirelo {
namespace {

TEST(Guid, WellKnownInterfaceIdentifiersHaveTheirWindowsText) {
  struct Case {
    const IID& iid;
    const char* text;
  } cases[] = {
      {IID_IUnknown, "{00000000-0000-0000-C000-000000000046}"},
      {IID_IClassFactory, "{00000001-0000-0000-C000-000000000046}"},
      {IID_IDispatch, "{00020400-0000-0000-C000-000000000046}"},
      {IID_ITypeInfo, "{00020401-0000-0000-C000-000000000046}"},
      {IID_IConnectionPointContainer, "{B196B284-BAB4-101A-B69C-00AA00341D07}"},
      {IID_IConnectionPoint, "{B196B286-BAB4-101A-B69C-00AA00341D07}"},
      {IID_IErrorInfo, "{1CF2B120-547D-101B-8E65-08002B2BD119}"},
      {IID_IPropertyNotifySink, "{9BFBBC02-EFF1-101A-84ED-00AA00341D07}"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(guidToString(c.iid), c.text);
    EXPECT_EQ(stringToGuid(c.text), c.iid) << c.text;
  }
}

TEST(Guid, TextRoundTripsForEveryByteValueInEveryField) {
  for (int b = 0; b < 256; ++b) {
    GUID guid{static_cast<uint32_t>(b * 0x01010101u),
              static_cast<uint16_t>(b * 0x0101),
              static_cast<uint16_t>((255 - b) * 0x0101),
              {}};
    for (int i = 0; i < 8; ++i) guid.Data4[i] = static_cast<uint8_t>(b + i * 37);
    std::string text = guidToString(guid);
    ASSERT_EQ(text.size(), 38u);
    GUID back{};
    ASSERT_TRUE(tryStringToGuid(text, back)) << text;
    EXPECT_EQ(back, guid) << text;
    GUID wide{};
    ASSERT_TRUE(tryStringToGuid(guidToWide(guid), wide));
    EXPECT_EQ(wide, guid);
  }
}

TEST(Guid, FieldsLandInTheirPlaces) {
  GUID guid = stringToGuid("{01234567-89AB-CDEF-0123-456789ABCDEF}");
  EXPECT_EQ(guid.Data1, 0x01234567u);
  EXPECT_EQ(guid.Data2, 0x89AB);
  EXPECT_EQ(guid.Data3, 0xCDEF);
  const uint8_t data4[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(guid.Data4[i], data4[i]) << i;
  // Lower case is read; writing is upper case.
  EXPECT_EQ(stringToGuid("{01234567-89ab-cdef-0123-456789abcdef}"), guid);
}

TEST(Guid, MalformedTextIsRefused) {
  const char* bad[] = {
      "",
      "01234567-89AB-CDEF-0123-456789ABCDEF",     // no braces
      "{01234567-89AB-CDEF-0123-456789ABCDEF",    // no closing brace
      "{01234567-89AB-CDEF-0123-456789ABCDEF}x",  // trailing text
      "{01234567-89AB-CDEF-0123456789ABCDEF0}",   // dash moved
      "{0123456G-89AB-CDEF-0123-456789ABCDEF}",   // not hex
      "{01234567-89AB-CDEF-0123-456789ABCDE }",
      "{+1234567-89AB-CDEF-0123-456789ABCDEF}",
      "(01234567-89AB-CDEF-0123-456789ABCDEF)",
  };
  for (const char* text : bad) {
    GUID guid{};
    EXPECT_FALSE(tryStringToGuid(text, guid)) << text;
    EXPECT_THROW(stringToGuid(text), EConvertError) << text;
  }
  try {
    stringToGuid("{bad}");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'{bad}' is not a valid GUID value");
  }
}

TEST(Guid, RuntimeFunctionsParseAndFormatWideText) {
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromString(u"{00020400-0000-0000-C000-000000000046}", &clsid), S_OK);
  EXPECT_EQ(clsid, IID_IDispatch);
  EXPECT_EQ(CLSIDFromString(u"{00020400-0000-0000-C000-00000000004}", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(nullptr, &clsid), E_INVALIDARG);
  IID iid{};
  EXPECT_EQ(IIDFromString(u"{b196b286-bab4-101a-b69c-00aa00341d07}", &iid), S_OK);
  EXPECT_EQ(iid, IID_IConnectionPoint);

  char16_t buffer[39];
  EXPECT_EQ(StringFromGUID2(IID_IErrorInfo, buffer, 39), 39);
  EXPECT_EQ(std::u16string(buffer), u"{1CF2B120-547D-101B-8E65-08002B2BD119}");
  EXPECT_EQ(StringFromGUID2(IID_IErrorInfo, buffer, 38), 0);  // no room for the zero
}

TEST(Guid, ComparesAndHashesAsAValue) {
  GUID a = stringToGuid("{00000001-0000-0000-0000-000000000000}");
  GUID b = stringToGuid("{00000001-0000-0000-0000-000000000001}");
  GUID c = stringToGuid("{00000002-0000-0000-0000-000000000000}");
  EXPECT_TRUE(a < b && b < c);
  EXPECT_NE(a, b);
  EXPECT_TRUE(IsEqualGUID(a, stringToGuid(guidToString(a))));
  EXPECT_EQ(GUID_NULL, IID_NULL);
  std::set<GUID> ordered{c, a, b, a};
  EXPECT_EQ(ordered.size(), 3u);
  std::unordered_set<GUID> hashed{IID_IUnknown, IID_IDispatch, IID_ITypeInfo, IID_IUnknown};
  EXPECT_EQ(hashed.size(), 3u);
  EXPECT_TRUE(hashed.count(IID_IDispatch));
}

}  // namespace
}  // namespace mirelo
