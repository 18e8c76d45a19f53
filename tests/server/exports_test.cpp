// libmirelo.so's entry points: exactly four exports, the statuses of
// DllGetClassObject, and DllCanUnloadNow following objects and locks.
#include <gtest/gtest.h>

#include "library.h"
#include "mirelo/addin_interfaces.h"
#include "mirelo/vistel.h"
#include "platform/com/class_factory.h"
#include "platform/message_loop.h"
#include "tests/automation/vistel_fixture.h"

namespace mirelo {
namespace {

class ExportsTest : public ::testing::Test {
 protected:
  test::ScratchRegistry registry;
  test::ServerLibrary library;
  void SetUp() override { ASSERT_TRUE(library.loaded()); }
};

TEST_F(ExportsTest, OnlyTheFourEntryPointsAreVisible) {
  // Everything else of the driver stays inside.
  for (const char* hidden :
       {"_ZN6mirelo9ComServerEv", "_ZN6mirelo12VistelServerEv", "_ZN6mirelo12CreateVistelEv"})
    EXPECT_EQ(::dlsym(library.handle(), hidden), nullptr) << hidden;
  // The platform is not the library's own: it is the one runtime of the process.
  Dl_info loop{};
  ASSERT_NE(::dladdr(::dlsym(library.handle(), "_ZN6mirelo11MessageLoop7currentEv"), &loop), 0);
  EXPECT_NE(std::string(loop.dli_fname).find("libmirelo-runtime.so"), std::string::npos)
      << loop.dli_fname;
  EXPECT_EQ(::dlsym(library.handle(), "_ZN6mirelo11MessageLoop7currentEv"),
            reinterpret_cast<void*>(&MessageLoop::current));
  Dl_info info{};
  ASSERT_NE(::dladdr(reinterpret_cast<void*>(library.getClassObject), &info), 0);
  EXPECT_EQ(std::filesystem::weakly_canonical(info.dli_fname).string(), test::libraryPath())
      << "the entry point is the library's own, not the program's";
}

TEST_F(ExportsTest, GetClassObjectAnswersEachCase) {
  struct Case {
    CLSID clsid;
    IID iid;
    HRESULT expected;
  };
  const CLSID unknown{0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  const Case cases[] = {
      {CLASS_Vistel, IID_IClassFactory, S_OK},
      {CLASS_Vistel, IID_IUnknown, S_OK},
      {CLASS_Vistel, IID_IDispatch, E_NOINTERFACE},
      {CLASS_Vistel, IID_IVistel4, E_NOINTERFACE},
      {CLASS_Vistel, unknown, E_NOINTERFACE},
      {unknown, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
      {IID_IVistel4, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
      {GUID_NULL, IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
  };
  for (const Case& c : cases) {
    void* out = reinterpret_cast<void*>(0x1);  // must be cleared on failure
    HRESULT hr = library.getClassObject(c.clsid, c.iid, &out);
    EXPECT_EQ(hr, c.expected) << guidToString(c.clsid) << " " << guidToString(c.iid);
    if (SUCCEEDED(hr)) {
      ASSERT_NE(out, nullptr);
      static_cast<IUnknown*>(out)->Release();
    } else {
      EXPECT_EQ(out, nullptr);
    }
  }
  EXPECT_EQ(library.getClassObject(CLASS_Vistel, IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_EQ(library.getClassObject(GUID_NULL, IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_EQ(library.canUnloadNow(), S_OK) << "factories alone keep nothing alive";
}

TEST_F(ExportsTest, CanUnloadNowFollowsObjectsAndLocks) {
  ASSERT_EQ(library.canUnloadNow(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(library.getClassObject(CLASS_Vistel, IID_IClassFactory, factory.putVoid()), S_OK);

  EXPECT_EQ(factory->LockServer(1), S_OK);
  EXPECT_EQ(library.canUnloadNow(), S_FALSE) << "a lock";
  EXPECT_EQ(factory->LockServer(1), S_OK);
  EXPECT_EQ(factory->LockServer(0), S_OK);
  EXPECT_EQ(library.canUnloadNow(), S_FALSE) << "one lock left";
  EXPECT_EQ(factory->LockServer(0), S_OK);
  EXPECT_EQ(library.canUnloadNow(), S_OK);
  EXPECT_EQ(factory->LockServer(0), E_UNEXPECTED) << "never below zero";
  EXPECT_EQ(library.canUnloadNow(), S_OK);

  ComPtr<IVistel4> object;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IVistel4, object.putVoid()), S_OK);
  EXPECT_EQ(library.canUnloadNow(), S_FALSE) << "an object";
  ComPtr<IUnknown> second;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IInitDone, second.putVoid()), S_OK);
  object = nullptr;
  EXPECT_EQ(library.canUnloadNow(), S_FALSE) << "the second object";
  second = nullptr;
  EXPECT_EQ(library.canUnloadNow(), S_OK);

  // Creation that gives nothing leaves nothing alive.
  void* out = reinterpret_cast<void*>(0x1);
  const IID unknown{0x87654321, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(factory->CreateInstance(nullptr, unknown, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  ComPtr<IUnknown> outer;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, outer.putVoid()), S_OK);
  out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
  outer = nullptr;
  EXPECT_EQ(library.canUnloadNow(), S_OK);
}

TEST_F(ExportsTest, AnObjectFromTheLibraryIsTheAutomationObject) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(library.getClassObject(CLASS_Vistel, IID_IClassFactory, factory.putVoid()), S_OK);
  ComPtr<IVistel4> object;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IVistel4, object.putVoid()), S_OK);
  BSTR version;
  ASSERT_EQ(object->get_FileVersion(&version), S_OK);
  EXPECT_EQ(version, u"1.0.0.1");
  LONG count = 0;
  ASSERT_EQ(object->get_LDCount(&count), S_OK);
  EXPECT_EQ(count, 1);
  LONG code = -1;
  ASSERT_EQ(object->AddLD(&code), S_OK);
  EXPECT_EQ(code, 0);
  ComPtr<IUnknown> any;
  for (const IID& iid : {IID_IVistel, IID_IVistel2, IID_IVistel3, IID_IDispatch,
                         IID_ILanguageExtender, IID_IInitDone, IID_IConnectionPointContainer}) {
    EXPECT_EQ(object->QueryInterface(iid, any.putVoid()), S_OK) << guidToString(iid);
  }
}

}  // namespace
}  // namespace mirelo
