#include <gtest/gtest.h>

#include <thread>

#include "tests/com/test_objects.h"

namespace mirelo {
namespace {

struct Read {
  HRESULT hr;
  std::u16string source, description;
  GUID iid{};
};

Read takeErrorInfo() {
  ComPtr<IErrorInfo> info;
  Read r{GetErrorInfo(0, info.put()), {}, {}, {}};
  if (info) {
    info->GetSource(&r.source);
    info->GetDescription(&r.description);
    info->GetGUID(&r.iid);
  }
  return r;
}

class ErrorInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { SetErrorInfo(0, nullptr); }
  void TearDown() override {
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(test::liveObjects, 0);
  }
};

TEST_F(ErrorInfoTest, IsHandedOverOnceAndThenGone) {
  ComPtr<IErrorInfo> none;
  EXPECT_EQ(GetErrorInfo(0, none.put()), S_FALSE);
  EXPECT_FALSE(none);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);

  EXPECT_EQ(reportError(E_ACCESSDENIED, test::IID_IFoo, u"Addin.Vistel", u"Недопустимое значение"),
            E_ACCESSDENIED);
  Read r = takeErrorInfo();
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.source, u"Addin.Vistel");
  EXPECT_EQ(r.description, u"Недопустимое значение");
  EXPECT_EQ(r.iid, test::IID_IFoo);
  EXPECT_EQ(takeErrorInfo().hr, S_FALSE);
}

TEST_F(ErrorInfoTest, ACreatedObjectCarriesEveryField) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.put()), S_OK);
  char16_t source[] = u"Источник", description[] = u"Описание", help[] = u"help.chm";
  EXPECT_EQ(create->SetGUID(IID_IDispatch), S_OK);
  EXPECT_EQ(create->SetSource(source), S_OK);
  EXPECT_EQ(create->SetDescription(description), S_OK);
  EXPECT_EQ(create->SetHelpFile(help), S_OK);
  EXPECT_EQ(create->SetHelpContext(42), S_OK);
  ComPtr<IErrorInfo> info = create.as<IErrorInfo>();
  ASSERT_TRUE(info);
  EXPECT_EQ(SetErrorInfo(0, info.get()), S_OK);
  info.reset();
  create.reset();

  ComPtr<IErrorInfo> back;
  ASSERT_EQ(GetErrorInfo(0, back.put()), S_OK);
  BSTR text;
  DWORD context = 0;
  GUID iid{};
  back->GetSource(&text);
  EXPECT_EQ(text, u"Источник");
  back->GetDescription(&text);
  EXPECT_EQ(text, u"Описание");
  back->GetHelpFile(&text);
  EXPECT_EQ(text, u"help.chm");
  back->GetHelpContext(&context);
  EXPECT_EQ(context, 42u);
  back->GetGUID(&iid);
  EXPECT_EQ(iid, IID_IDispatch);
  EXPECT_EQ(back->GetSource(nullptr), E_INVALIDARG);
  // Held only by the caller now.
  EXPECT_EQ(test::refCount(back.get()), 1u);
}

TEST_F(ErrorInfoTest, EachThreadHasItsOwn) {
  reportError(E_FAIL, GUID_NULL, u"main", u"main thread");
  Read other;
  std::thread([&] {
    Read before = takeErrorInfo();
    EXPECT_EQ(before.hr, S_FALSE);
    reportError(E_FAIL, GUID_NULL, u"worker", u"worker thread");
    other = takeErrorInfo();
    // Left set on purpose: the thread's end must release it (ASan checks).
    reportError(E_FAIL, GUID_NULL, u"worker", u"left behind");
  }).join();
  EXPECT_EQ(other.description, u"worker thread");
  Read mine = takeErrorInfo();
  EXPECT_EQ(mine.hr, S_OK);
  EXPECT_EQ(mine.description, u"main thread");
}

TEST_F(ErrorInfoTest, ExceptionsMapToStatusAndDescription) {
  struct Case {
    std::function<void()> raise;
    HRESULT code;
    std::u16string description;
  } cases[] = {
      {[] { throw Exception("Нет связи"); }, E_FAIL, u"Нет связи"},
      {[] { throw EOleSysError("Отказано", E_ACCESSDENIED); }, E_ACCESSDENIED, u"Отказано"},
      {[] { throw EOleSysError(DISP_E_OVERFLOW); }, DISP_E_OVERFLOW, u"Out of present range."},
      {[] { throw EOleSysError("успех?", S_FALSE); }, E_FAIL, u"успех?"},  // never a success
      {[] { throw std::bad_alloc(); }, E_OUTOFMEMORY, u"std::bad_alloc"},
      {[] { throw 42; }, E_FAIL, u"Catastrophic failure"},
  };
  for (auto& c : cases) {
    HRESULT hr = S_OK;
    try {
      c.raise();
    } catch (...) {
      hr = reportCurrentException(test::IID_IFoo, u"Foo");
    }
    EXPECT_EQ(hr, c.code);
    Read r = takeErrorInfo();
    EXPECT_EQ(r.description, c.description);
    EXPECT_EQ(r.source, u"Foo");
  }
  EXPECT_EQ(reportCurrentException(GUID_NULL, u"none"), E_UNEXPECTED);  // nothing in flight
}

TEST(HResult, ConstantsHaveTheirWindowsValues) {
  struct Row {
    HRESULT value;
    uint32_t windows;
  } rows[] = {
      {S_OK, 0x00000000},
      {S_FALSE, 0x00000001},
      {E_NOTIMPL, 0x80004001},
      {E_NOINTERFACE, 0x80004002},
      {E_POINTER, 0x80004003},
      {E_FAIL, 0x80004005},
      {E_UNEXPECTED, 0x8000FFFF},
      {E_OUTOFMEMORY, 0x8007000E},
      {E_INVALIDARG, 0x80070057},
      {CLASS_E_NOAGGREGATION, 0x80040110},
      {CLASS_E_CLASSNOTAVAILABLE, 0x80040111},
      {DISP_E_UNKNOWNINTERFACE, 0x80020001},
      {DISP_E_MEMBERNOTFOUND, 0x80020003},
      {DISP_E_PARAMNOTFOUND, 0x80020004},
      {DISP_E_TYPEMISMATCH, 0x80020005},
      {DISP_E_UNKNOWNNAME, 0x80020006},
      {DISP_E_NONAMEDARGS, 0x80020007},
      {DISP_E_BADVARTYPE, 0x80020008},
      {DISP_E_EXCEPTION, 0x80020009},
      {DISP_E_OVERFLOW, 0x8002000A},
      {DISP_E_BADINDEX, 0x8002000B},
      {DISP_E_ARRAYISLOCKED, 0x8002000D},
      {DISP_E_BADPARAMCOUNT, 0x8002000E},
      {TYPE_E_ELEMENTNOTFOUND, 0x8002802B},
      {CONNECT_E_NOCONNECTION, 0x80040200},
      {CONNECT_E_ADVISELIMIT, 0x80040201},
      {CONNECT_E_CANNOTCONNECT, 0x80040202},
      {SELFREG_E_TYPELIB, 0x80040200},
      {SELFREG_E_CLASS, 0x80040201},
      {DV_E_FORMATETC, 0x80040064},
      {DV_E_LINDEX, 0x80040068},
      {DV_E_TYMED, 0x80040069},
      {OLE_E_ADVISENOTSUPPORTED, 0x80040003},
      {OLE_E_NOCONNECTION, 0x80040004},
      {STG_E_MEDIUMFULL, 0x80030070},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(static_cast<uint32_t>(row.value), row.windows) << hresultMessage(row.value);
    EXPECT_EQ(FAILED(row.value), row.windows >= 0x80000000u);
    EXPECT_EQ(SUCCEEDED(row.value), row.windows < 0x80000000u);
  }
  EXPECT_EQ(hresultMessage(DISP_E_TYPEMISMATCH), "Type mismatch.");
  EXPECT_EQ(hresultMessage(hresultFrom(0x8BADF00D)), "Error 0x8BADF00D");
  EXPECT_THROW(oleCheck(E_FAIL), EOleSysError);
  EXPECT_EQ(oleCheck(S_FALSE), S_FALSE);
}

}  // namespace
}  // namespace mirelo
