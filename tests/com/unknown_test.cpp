#include <gtest/gtest.h>

#include <thread>

#include "tests/com/test_objects.h"

namespace mirelo {
namespace {

using namespace test;

// An object that answers two unrelated interfaces.
class Both;
const DispatchMap<Both>& bothMap() {
  static const DispatchMap<Both> map({IID_IFoo, "IFoo", ""}, {});
  return map;
}
class Both final : public ComObject<DispatchImpl<Both, IFoo>, IConnectionPointContainer> {
 public:
  Both() : ComObject(bothMap()) { ++liveObjects; }
  ~Both() override { --liveObjects; }
  HRESULT Subtract(LONG, LONG, LONG*) override { return E_NOTIMPL; }
  HRESULT get_Name(BSTR*) override { return E_NOTIMPL; }
  HRESULT put_Name(BSTR) override { return E_NOTIMPL; }
  HRESULT Fail(LONG*) override { return E_NOTIMPL; }
  HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT FindConnectionPoint(REFIID, IConnectionPoint**) override {
    return CONNECT_E_NOCONNECTION;
  }
};

// Hands itself out from its destructor, as careless teardown code does.
class SelfReferencing final : public ComObject<IUnknown> {
 public:
  SelfReferencing() { ++liveObjects; }
  ~SelfReferencing() override {
    ComPtr<IUnknown> again(this);  // AddRef and Release while dying
    --liveObjects;
  }
};

class UnknownTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(liveObjects, 0); }
};

TEST_F(UnknownTest, ComPtrHoldsExactlyOneReference) {
  ComPtr<IUnknown> a(new Plain);
  EXPECT_EQ(refCount(a.get()), 1u);
  {
    ComPtr<IUnknown> b(a);
    EXPECT_EQ(refCount(a.get()), 2u);
    ComPtr<IUnknown> c(std::move(b));
    EXPECT_FALSE(b);
    EXPECT_EQ(refCount(a.get()), 2u);
    c = a;  // the same object: no change
    EXPECT_EQ(refCount(a.get()), 2u);
    c = nullptr;
    EXPECT_EQ(refCount(a.get()), 1u);
    EXPECT_TRUE(c == nullptr);
  }
  IUnknown* raw = a.detach();
  EXPECT_FALSE(a);
  EXPECT_EQ(refCount(raw), 1u);
  a.attach(raw);
  EXPECT_EQ(refCount(a.get()), 1u);

  IUnknown* out = nullptr;
  EXPECT_EQ(a.copyTo(&out), S_OK);
  EXPECT_EQ(refCount(a.get()), 2u);
  out->Release();
  EXPECT_EQ(a.copyTo(nullptr), E_POINTER);

  // put() lets go of what was held before an out parameter fills it.
  ComPtr<IUnknown> other(new Plain);
  EXPECT_EQ(liveObjects, 2);
  a->QueryInterface(IID_IUnknown, other.putVoid());
  EXPECT_EQ(liveObjects, 1);
  EXPECT_EQ(other, a);
  EXPECT_EQ(refCount(a.get()), 2u);
  a.reset();
  other.reset();
  EXPECT_EQ(liveObjects, 0);
}

TEST_F(UnknownTest, QueryInterfaceAnswersTheInterfaceItsBasesAndIdentity) {
  ComPtr<IFoo> foo(new Foo);
  struct Case {
    IID iid;
    bool answered;
  } cases[] = {{IID_IFoo, true},       {IID_IDispatch, true},    {IID_IUnknown, true},
               {IID_ITypeInfo, false}, {DIID_IFooEvents, false}, {IID_IConnectionPoint, false},
               {GUID_NULL, false}};
  for (const auto& c : cases) {
    void* p = reinterpret_cast<void*>(1);
    HRESULT hr = foo->QueryInterface(c.iid, &p);
    EXPECT_EQ(hr, c.answered ? S_OK : E_NOINTERFACE) << guidToString(c.iid);
    if (c.answered) {
      EXPECT_EQ(p, static_cast<void*>(foo.get()));
      static_cast<IUnknown*>(p)->Release();
    } else {
      EXPECT_EQ(p, nullptr);
    }
  }
  EXPECT_EQ(foo->QueryInterface(IID_IFoo, nullptr), E_POINTER);
  EXPECT_EQ(refCount(foo.get()), 1u);
  EXPECT_TRUE(foo.as<IDispatch>());
  EXPECT_FALSE(foo.as<IClassFactory>());
}

TEST_F(UnknownTest, SeveralInterfacesShareOneIdentity) {
  ComPtr<IFoo> foo(new Both);
  ComPtr<IConnectionPointContainer> container = foo.as<IConnectionPointContainer>();
  ASSERT_TRUE(container);
  EXPECT_NE(static_cast<void*>(container.get()), static_cast<void*>(foo.get()));
  ComPtr<IUnknown> one = foo.as<IUnknown>(), two = container.as<IUnknown>();
  EXPECT_EQ(one, two);
  EXPECT_EQ(container.as<IFoo>(), foo);
  // Calls through either interface reach the same object.
  ComPtr<IConnectionPoint> point;
  EXPECT_EQ(container->FindConnectionPoint(IID_IFoo, point.put()), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(foo->Subtract(1, 2, nullptr), E_NOTIMPL);
  EXPECT_EQ(refCount(foo.get()), 4u);
  EXPECT_EQ(refCount(container.get()), 4u);
}

// Calls made through the raw table, by slot number, as a C host makes them.
TEST_F(UnknownTest, VirtualTablesHaveTheSlotsOfTheInterfaceTables) {
  ComPtr<IFoo> foo(new Foo);
  void** table = *reinterpret_cast<void***>(foo.get());
  using AddRefSlot = ULONG (*)(IFoo*);
  using GetTypeInfoCountSlot = HRESULT (*)(IFoo*, UINT*);
  using GetIDsOfNamesSlot = HRESULT (*)(IFoo*, REFIID, LPOLESTR*, UINT, LCID, DISPID*);
  using SubtractSlot = HRESULT (*)(IFoo*, LONG, LONG, LONG*);
  EXPECT_EQ(reinterpret_cast<AddRefSlot>(table[1])(foo.get()), 2u);
  EXPECT_EQ(reinterpret_cast<AddRefSlot>(table[2])(foo.get()), 1u);  // Release
  UINT count = 0;
  EXPECT_EQ(reinterpret_cast<GetTypeInfoCountSlot>(table[3])(foo.get(), &count), S_OK);
  EXPECT_EQ(count, 1u);
  char16_t name[] = u"name";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_EQ(reinterpret_cast<GetIDsOfNamesSlot>(table[5])(foo.get(), IID_NULL, names, 1, 0, &id),
            S_OK);
  EXPECT_EQ(id, dispid::Name);
  LONG value = 0;
  EXPECT_EQ(reinterpret_cast<SubtractSlot>(table[7])(foo.get(), 50, 8, &value),
            S_OK);  // first own slot
  EXPECT_EQ(value, 42);

  ComPtr<ITypeInfo> info;
  ASSERT_EQ(foo->GetTypeInfo(0, 0, info.put()), S_OK);
  void** infoTable = *reinterpret_cast<void***>(info.get());
  using GetTypeAttrSlot = HRESULT (*)(ITypeInfo*, TYPEATTR**);
  using ReleaseTypeAttrSlot = void (*)(ITypeInfo*, TYPEATTR*);
  TYPEATTR* attr = nullptr;
  EXPECT_EQ(reinterpret_cast<GetTypeAttrSlot>(infoTable[3])(info.get(), &attr), S_OK);
  EXPECT_EQ(attr->guid, IID_IFoo);
  reinterpret_cast<ReleaseTypeAttrSlot>(infoTable[19])(info.get(), attr);

  ComPtr<ICreateErrorInfo> create;
  CreateErrorInfo(create.put());
  ComPtr<IErrorInfo> error = create.as<IErrorInfo>();
  void** errorTable = *reinterpret_cast<void***>(error.get());
  using GetGuidSlot = HRESULT (*)(IErrorInfo*, GUID*);
  create->SetGUID(IID_IFoo);
  GUID guid{};
  EXPECT_EQ(reinterpret_cast<GetGuidSlot>(errorTable[3])(error.get(), &guid), S_OK);
  EXPECT_EQ(guid, IID_IFoo);
}

TEST_F(UnknownTest, TheLastReleaseDestroysOnceEvenIfTheDestructorCountsAgain) {
  IUnknown* object = new SelfReferencing;
  EXPECT_EQ(object->AddRef(), 1u);
  EXPECT_EQ(liveObjects, 1);
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_EQ(liveObjects, 0);
}

TEST_F(UnknownTest, CountsAreAtomicAcrossThreads) {
  ComPtr<IUnknown> shared(new Plain);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 100000; ++i) ComPtr<IUnknown> copy(shared);
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(refCount(shared.get()), 1u);
  EXPECT_EQ(liveObjects, 1);
  shared.reset();
}

TEST_F(UnknownTest, AClassFactoryMakesObjectsAndCountsLocks) {
  std::atomic<long> locks{0};
  int made = 0;
  ComPtr<IClassFactory> factory(new ClassFactory(
      [&made]() -> ComPtr<IUnknown> {
        ++made;
        return ComPtr<IFoo>(new Foo);
      },
      locks));
  ComPtr<IDispatch> object;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.putVoid()), S_OK);
  ASSERT_TRUE(object);
  EXPECT_EQ(refCount(object.get()), 1u);
  EXPECT_EQ(liveObjects, 1);

  // An interface the object lacks: nothing is left alive.
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(liveObjects, 1);
  EXPECT_EQ(factory->CreateInstance(object.get(), IID_IDispatch, &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, nullptr), E_POINTER);
  EXPECT_EQ(made, 2);

  EXPECT_EQ(factory->LockServer(1), S_OK);
  EXPECT_EQ(factory->LockServer(1), S_OK);
  EXPECT_EQ(locks, 2);
  EXPECT_EQ(factory->LockServer(0), S_OK);
  EXPECT_EQ(factory->LockServer(0), S_OK);
  EXPECT_EQ(factory->LockServer(0), E_UNEXPECTED);
  EXPECT_EQ(locks, 0);
  EXPECT_TRUE(factory.as<IUnknown>());
  object.reset();

  ComPtr<IClassFactory> failing(
      new ClassFactory([]() -> ComPtr<IUnknown> { throw EOleSysError(E_ACCESSDENIED); }, locks));
  EXPECT_EQ(failing->CreateInstance(nullptr, IID_IUnknown, &p), E_ACCESSDENIED);
  ComPtr<IClassFactory> empty(new ClassFactory([]() { return ComPtr<IUnknown>(); }, locks));
  EXPECT_EQ(empty->CreateInstance(nullptr, IID_IUnknown, &p), E_OUTOFMEMORY);
}

}  // namespace
}  // namespace mirelo
