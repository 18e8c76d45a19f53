#pragma once
// Small objects shared by the runtime's tests: a counted object, a
// table-driven automation object with members of every kind, and helpers to
// build Invoke calls.
#include <atomic>
#include <iterator>
#include <string>
#include <vector>

#include "platform/com/com.h"
#include "platform/cp1251.h"

namespace mirelo::test {

// Objects alive of the test classes below; every test ends where it began.
inline std::atomic<int> liveObjects{0};

// The count of an object, without changing it.
inline ULONG refCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

// Answers IUnknown only.
class Plain final : public ComObject<IUnknown> {
 public:
  Plain() { ++liveObjects; }
  ~Plain() override { --liveObjects; }
};

inline constexpr IID IID_IFoo{
    0x6A0F1C20, 0x1D2B, 0x4E8A, {0x9B, 0x01, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};
inline constexpr IID DIID_IFooEvents{
    0x6A0F1C21, 0x1D2B, 0x4E8A, {0x9B, 0x01, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};

// A dual interface as the driver declares one.
class IFoo : public IDispatch {
 public:
  static constexpr const IID& kIid = IID_IFoo;
  using Base = IDispatch;
  virtual HRESULT Subtract(LONG a, LONG b, LONG* value) = 0;
  virtual HRESULT get_Name(BSTR* value) = 0;
  virtual HRESULT put_Name(BSTR value) = 0;
  virtual HRESULT Fail(LONG* value) = 0;
};

// An outgoing dispatch interface: its table is IDispatch's.
class IFooEvents : public IDispatch {
 public:
  static constexpr const IID& kIid = DIID_IFooEvents;
  using Base = IDispatch;
};

namespace dispid {
constexpr DISPID Subtract = 1, Name = 2, Flag = 3, Fail = 4, FailCode = 5, Counter = 6, Swap = 7,
                 Data = 8, Item = 9, ReadOnly = 10, Unbound = 11, Money = 12, Any = 13;
}

class Foo final : public ComObject<DispatchImpl<Foo, IFoo>> {
 public:
  Foo() : ComObject(map()) { ++liveObjects; }
  ~Foo() override { --liveObjects; }

  static const DispatchMap<Foo>& map() {
    static const DispatchMap<Foo> table(
        {IID_IFoo, "IFoo", "Тестовый объект", u"Foo.Source",
         TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE, 1, 2},
        {
            {{"Subtract",
              dispid::Subtract,
              INVOKE_FUNC,
              VT_I4,
              {{VT_I4, "A"}, {VT_I4, "B"}},
              "Вычесть"},
             [](Foo&, DispatchCall& c) { c.result = c.args[0].lVal - c.args[1].lVal; }},
            {{"Name", dispid::Name, INVOKE_PROPERTYGET, VT_BSTR, {}, "Имя"},
             [](Foo& self, DispatchCall& c) { c.result = self.name; }},
            {{"Name", dispid::Name, INVOKE_PROPERTYPUT, VT_VOID, {VT_BSTR}, "Имя"},
             [](Foo& self, DispatchCall& c) { self.name = c.args[0].bstrVal; }},
            // Returns 1 on purpose: the table makes it the automation Boolean.
            {{"Flag", dispid::Flag, INVOKE_PROPERTYGET, VT_BOOL, {}, "Флаг"},
             [](Foo& self, DispatchCall& c) { c.result = self.flag ? 1 : 0; }},
            {{"Flag", dispid::Flag, INVOKE_PROPERTYPUT, VT_VOID, {VT_BOOL}, "Флаг"},
             [](Foo& self, DispatchCall& c) { self.flag = c.args[0].boolVal != 0; }},
            {{"Fail", dispid::Fail, INVOKE_FUNC, VT_I4, {}, "Сбой"},
             [](Foo&, DispatchCall&) { throw Exception("Нет связи"); }},
            {{"FailCode", dispid::FailCode, INVOKE_FUNC, VT_I4, {}, ""},
             [](Foo&, DispatchCall&) { throw EOleSysError("Доступ запрещён", E_ACCESSDENIED); }},
            {{"Счётчик", dispid::Counter, INVOKE_PROPERTYGET, VT_I4, {}, "Counter"},
             [](Foo& self, DispatchCall& c) { c.result = ++self.counter; }},
            {{"Swap",
              dispid::Swap,
              INVOKE_FUNC,
              VT_VOID,
              {{VT_BYREF | VT_I4, "Number"}, {VT_BYREF | VT_BSTR, "Text"}},
              ""},
             [](Foo&, DispatchCall& c) {
               c.args[0] = c.args[0].lVal + 1;
               c.args[1] = c.args[1].bstrVal + u"!";
             }},
            {{"Data", dispid::Data, INVOKE_PROPERTYGET, VT_VARIANT, {}, "Данные"},
             [](Foo& self, DispatchCall& c) { c.result = Variant::fromBytes(self.data); }},
            {{"Data", dispid::Data, INVOKE_PROPERTYPUT, VT_VOID, {VT_VARIANT}, "Данные"},
             [](Foo& self, DispatchCall& c) { self.data = c.args[0].toBytes(); }},
            {{"Item", dispid::Item, INVOKE_PROPERTYGET, VT_BSTR, {{VT_I4, "Index"}}, ""},
             [](Foo& self, DispatchCall& c) { c.result = self.items.at(c.args[0].lVal); }},
            {{"Item", dispid::Item, INVOKE_PROPERTYPUT, VT_VOID, {{VT_I4, "Index"}, VT_BSTR}, ""},
             [](Foo& self, DispatchCall& c) { self.items.at(c.args[0].lVal) = c.args[1].bstrVal; }},
            {{"ReadOnly", dispid::ReadOnly, INVOKE_PROPERTYGET, VT_I4, {}, ""},
             [](Foo&, DispatchCall& c) { c.result = 7; }},
            {{"AboutBox", DISPID_ABOUTBOX, INVOKE_FUNC, VT_VOID, {}, "ОПрограмме"},
             [](Foo& self, DispatchCall&) { ++self.aboutShown; }},
            {{"Unbound", dispid::Unbound, INVOKE_FUNC, VT_I4, {}, ""}, {}},
            {{"Money", dispid::Money, INVOKE_PROPERTYGET, VT_CY, {}, ""},
             [](Foo&, DispatchCall& c) { c.result = Variant::currency(125000); }},
            {{"Any", dispid::Any, INVOKE_FUNC, VT_VARIANT, {VT_VARIANT}, ""},
             [](Foo&, DispatchCall& c) { c.result = c.args[0]; }},
        });
    return table;
  }

  // The virtual table reaches the same handlers.
  HRESULT Subtract(LONG a, LONG b, LONG* value) override {
    Variant args[] = {a, b};
    Variant result;
    HRESULT hr = callMember(dispid::Subtract, INVOKE_FUNC, args, &result);
    if (SUCCEEDED(hr)) *value = result.lVal;
    return hr;
  }
  HRESULT get_Name(BSTR* value) override {
    Variant result;
    HRESULT hr = callMember(dispid::Name, INVOKE_PROPERTYGET, {}, &result);
    if (SUCCEEDED(hr)) *value = result.bstrVal;
    return hr;
  }
  HRESULT put_Name(BSTR value) override {
    Variant args[] = {Variant(value)};
    return callMember(dispid::Name, INVOKE_PROPERTYPUT, args);
  }
  HRESULT Fail(LONG* value) override {
    Variant result;
    HRESULT hr = callMember(dispid::Fail, INVOKE_FUNC, {}, &result);
    if (SUCCEEDED(hr)) *value = result.lVal;
    return hr;
  }

  std::u16string name = u"Начало";
  bool flag = false;
  int counter = 0;
  int aboutShown = 0;
  std::string data;
  std::vector<std::u16string> items = std::vector<std::u16string>(5);
};

// Builds DISPPARAMS from arguments given in natural order (first parameter
// first) and, for a put, the value last.
class Args {
 public:
  Args(std::initializer_list<Variant> natural, bool put = false) {
    reversed_.assign(std::rbegin(natural), std::rend(natural));
    if (put && !reversed_.empty()) named_.push_back(DISPID_PROPERTYPUT);
    update();
  }
  Args(Args&& other) noexcept
      : reversed_(std::move(other.reversed_)), named_(std::move(other.named_)) {
    update();
  }
  Args(const Args&) = delete;
  // Arguments as rgvarg holds them, with named DISPIDs for the first ones.
  static Args raw(std::vector<Variant> rgvarg, std::vector<DISPID> named) {
    Args a(std::initializer_list<Variant>{});
    a.reversed_ = std::move(rgvarg);
    a.named_ = std::move(named);
    a.update();
    return a;
  }
  DISPPARAMS* get() { return &params_; }
  Variant& operator[](size_t rgvargIndex) { return reversed_[rgvargIndex]; }

 private:
  void update() {
    params_ = {reversed_.empty() ? nullptr : reversed_.data(),
               named_.empty() ? nullptr : named_.data(), static_cast<UINT>(reversed_.size()),
               static_cast<UINT>(named_.size())};
  }
  std::vector<Variant> reversed_;
  std::vector<DISPID> named_;
  DISPPARAMS params_{};
};

struct InvokeResult {
  HRESULT hr;
  Variant result;
  EXCEPINFO excep;
  UINT argErr;
};

inline InvokeResult invoke(IDispatch* object, DISPID id, WORD flags, Args args) {
  InvokeResult r{S_OK, {}, {}, 12345};
  r.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, args.get(), &r.result, &r.excep,
                        &r.argErr);
  return r;
}

inline InvokeResult call(IDispatch* object, DISPID id, std::initializer_list<Variant> args) {
  return invoke(object, id, DISPATCH_METHOD, Args(args));
}
inline InvokeResult get(IDispatch* object, DISPID id, std::initializer_list<Variant> index = {}) {
  return invoke(object, id, DISPATCH_PROPERTYGET, Args(index));
}
inline InvokeResult put(IDispatch* object, DISPID id,
                        std::initializer_list<Variant> indexAndValue) {
  return invoke(object, id, DISPATCH_PROPERTYPUT, Args(indexAndValue, true));
}

// All 256 byte values, in order.
inline std::string everyByte() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  return bytes;
}

}  // namespace mirelo::test
