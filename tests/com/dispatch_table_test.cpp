#include <gtest/gtest.h>

#include "tests/com/test_objects.h"

namespace mirelo {
namespace {

using namespace test;

class DispatchTableTest : public ::testing::Test {
 protected:
  void TearDown() override {
    foo_.reset();
    EXPECT_EQ(liveObjects, 0);
  }
  IDispatch* object() { return foo_.get(); }
  Foo& self() { return *static_cast<Foo*>(foo_.get()); }

  // Looks names up the way a host does: UTF-16 in, DISPIDs out.
  HRESULT idsOf(std::vector<std::u16string> names, std::vector<DISPID>& ids) {
    std::vector<LPOLESTR> pointers;
    for (auto& name : names) pointers.push_back(name.data());
    ids.assign(names.size(), 999);
    return object()->GetIDsOfNames(IID_NULL, pointers.data(), static_cast<UINT>(pointers.size()),
                                   LOCALE_USER_DEFAULT, ids.data());
  }

  ComPtr<IFoo> foo_{new Foo};
};

TEST_F(DispatchTableTest, NamesMatchWithoutRegardToCaseCyrillicIncluded) {
  struct Case {
    std::u16string name;
    HRESULT hr;
    DISPID id;
  } cases[] = {
      {u"Subtract", S_OK, dispid::Subtract},
      {u"subtract", S_OK, dispid::Subtract},
      {u"SUBTRACT", S_OK, dispid::Subtract},
      {u"name", S_OK, dispid::Name},
      {u"Счётчик", S_OK, dispid::Counter},
      {u"СЧЁТЧИК", S_OK, dispid::Counter},
      {u"счётчик", S_OK, dispid::Counter},
      {u"Счетчик", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},  // Е is not Ё
      {u"aboutbox", S_OK, DISPID_ABOUTBOX},
      {u"Missing", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
      {u"Вычесть", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},  // a help string is not a name
      {u"Subtract\u4E2D", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
      {u"Subtrac?", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
      {u"", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
  };
  for (const auto& c : cases) {
    std::vector<DISPID> ids;
    EXPECT_EQ(idsOf({c.name}, ids), c.hr) << wideToUtf8(c.name);
    EXPECT_EQ(ids[0], c.id) << wideToUtf8(c.name);
  }
}

TEST_F(DispatchTableTest, ParameterNamesGiveTheirPositions) {
  std::vector<DISPID> ids;
  EXPECT_EQ(idsOf({u"subtract", u"b", u"A"}, ids), S_OK);
  EXPECT_EQ(ids, (std::vector<DISPID>{dispid::Subtract, 1, 0}));
  EXPECT_EQ(idsOf({u"Subtract", u"C", u"a"}, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids, (std::vector<DISPID>{dispid::Subtract, DISPID_UNKNOWN, 0}));
  EXPECT_EQ(idsOf({u"Nothing", u"A"}, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids, (std::vector<DISPID>{DISPID_UNKNOWN, DISPID_UNKNOWN}));

  LPOLESTR none[] = {nullptr};
  DISPID id = 0;
  EXPECT_EQ(object()->GetIDsOfNames(IID_NULL, none, 1, 0, &id), DISP_E_UNKNOWNNAME);
  char16_t name[] = u"Name";
  LPOLESTR names[] = {name};
  EXPECT_EQ(object()->GetIDsOfNames(IID_IFoo, names, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(object()->GetIDsOfNames(IID_NULL, names, 1, 0, nullptr), E_INVALIDARG);
}

TEST_F(DispatchTableTest, MethodArgumentsArriveInTheirNaturalOrder) {
  InvokeResult r = call(object(), dispid::Subtract, {50, 8});
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.result.vt, VT_I4);
  EXPECT_EQ(r.result.lVal, 42);
  // Arguments convert to the declared types, references are followed.
  LONG fifty = 50;
  r = call(object(), dispid::Subtract, {u"50", 8.0});
  EXPECT_EQ(r.result.lVal, 42);
  r = call(object(), dispid::Subtract, {Variant::byRef(&fifty), u" 8 "});
  EXPECT_EQ(r.result.lVal, 42);
  r = call(object(), dispid::Subtract, {true, Variant::currency(125000)});  // -1 - 12
  EXPECT_EQ(r.result.lVal, -13);
}

TEST_F(DispatchTableTest, NamedArgumentsGoToTheirParameters) {
  // B named, A positional: rgvarg = {B, A}.
  Args mixed = Args::raw({8, 50}, {1});
  EXPECT_EQ(invoke(object(), dispid::Subtract, DISPATCH_METHOD, std::move(mixed)).result.lVal, 42);
  // Both named, in the other order.
  Args both = Args::raw({50, 8}, {0, 1});
  EXPECT_EQ(invoke(object(), dispid::Subtract, DISPATCH_METHOD, std::move(both)).result.lVal, 42);

  struct Case {
    std::vector<DISPID> named;
    UINT argErr;
  } bad[] = {
      {{0, 0}, 1},                   // the same parameter twice
      {{5, 0}, 0},                   // no such parameter
      {{DISPID_PROPERTYPUT, 0}, 0},  // a put's argument on a method
      {{-1, 1}, 0},
  };
  for (const auto& c : bad) {
    InvokeResult r =
        invoke(object(), dispid::Subtract, DISPATCH_METHOD, Args::raw({50, 8}, c.named));
    EXPECT_EQ(r.hr, DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(r.argErr, c.argErr);
  }
  // Named A while A is also given positionally.
  InvokeResult r = invoke(object(), dispid::Subtract, DISPATCH_METHOD, Args::raw({8, 50}, {1 - 1}));
  EXPECT_EQ(r.hr, DISP_E_PARAMNOTFOUND);
}

TEST_F(DispatchTableTest, WrongArgumentCountsAreRefused) {
  for (auto args : {std::vector<Variant>{}, {1}, {1, 2, 3}}) {
    InvokeResult r = invoke(object(), dispid::Subtract, DISPATCH_METHOD, Args::raw(args, {}));
    EXPECT_EQ(r.hr, DISP_E_BADPARAMCOUNT) << args.size();
    EXPECT_EQ(r.result.vt, VT_EMPTY);
  }
  EXPECT_EQ(call(object(), dispid::Fail, {1}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(get(object(), dispid::Name, {1}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(invoke(object(), dispid::Name, DISPATCH_PROPERTYPUT,
                   Args::raw({u"a", u"b"}, {DISPID_PROPERTYPUT}))
                .hr,
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(self().name, u"Начало");
}

TEST_F(DispatchTableTest, ArgumentsThatDoNotConvertNameTheirIndex) {
  struct Case {
    Variant a, b;
    HRESULT hr;
    UINT argErr;  // index in rgvarg: b is 0, a is 1
  } cases[] = {
      {u"abc", 8, DISP_E_TYPEMISMATCH, 1},
      {50, u"x", DISP_E_TYPEMISMATCH, 0},
      {1e10, 8, DISP_E_OVERFLOW, 1},
      {Variant::null(), 8, DISP_E_TYPEMISMATCH, 1},
      {50, Variant::fromBytes("\x01"), DISP_E_TYPEMISMATCH, 0},
      {50, Variant::error(DISP_E_PARAMNOTFOUND), DISP_E_TYPEMISMATCH, 0},
      {Variant::byRef(VT_I4, nullptr), 8, DISP_E_TYPEMISMATCH, 1},
  };
  for (auto& c : cases) {
    InvokeResult r = call(object(), dispid::Subtract, {c.a, c.b});
    EXPECT_EQ(r.hr, c.hr) << hresultMessage(r.hr);
    EXPECT_EQ(r.argErr, c.argErr);
  }
  // A type the runtime does not know.
  VARIANT unknown[2];
  unknown[0].vt = VT_I4;
  unknown[0].lVal = 8;
  unknown[1].vt = VT_DATE;
  DISPPARAMS withDate{unknown, nullptr, 2, 0};
  UINT argErr = 99;
  EXPECT_EQ(object()->Invoke(dispid::Subtract, IID_NULL, 0, DISPATCH_METHOD, &withDate, nullptr,
                             nullptr, &argErr),
            DISP_E_BADVARTYPE);
  EXPECT_EQ(argErr, 1u);
  // Without puArgErr nothing breaks either.
  Args args({u"abc", 8});
  EXPECT_EQ(object()->Invoke(dispid::Subtract, IID_NULL, 0, DISPATCH_METHOD, args.get(), nullptr,
                             nullptr, nullptr),
            DISP_E_TYPEMISMATCH);
}

TEST_F(DispatchTableTest, MembersAreChosenByDispidAndKind) {
  EXPECT_EQ(call(object(), 999, {}).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(get(object(), 999).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(get(object(), dispid::Subtract, {50, 8}).hr, DISP_E_MEMBERNOTFOUND);  // a method
  EXPECT_EQ(call(object(), dispid::ReadOnly, {}).hr, DISP_E_MEMBERNOTFOUND);      // a property
  EXPECT_EQ(put(object(), dispid::ReadOnly, {5}).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(invoke(object(), dispid::ReadOnly, 0, Args({})).hr, DISP_E_MEMBERNOTFOUND);
  // Hosts that do not know which it is ask for either.
  InvokeResult r =
      invoke(object(), dispid::ReadOnly, DISPATCH_METHOD | DISPATCH_PROPERTYGET, Args({}));
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.result.lVal, 7);
  r = invoke(object(), dispid::Subtract, DISPATCH_METHOD | DISPATCH_PROPERTYGET, Args({50, 8}));
  EXPECT_EQ(r.result.lVal, 42);
  // The standard about-box identifier.
  r = call(object(), DISPID_ABOUTBOX, {});
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.result.vt, VT_EMPTY);
  EXPECT_EQ(self().aboutShown, 1);

  Args args({});
  EXPECT_EQ(object()->Invoke(dispid::ReadOnly, IID_IFoo, 0, DISPATCH_PROPERTYGET, args.get(),
                             nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

TEST_F(DispatchTableTest, PropertyPutTakesItsValueAsTheNamedArgument) {
  EXPECT_EQ(get(object(), dispid::Name).result.bstrVal, u"Начало");
  EXPECT_EQ(put(object(), dispid::Name, {u"Хлеб"}).hr, S_OK);
  InvokeResult r = get(object(), dispid::Name);
  EXPECT_EQ(r.result.vt, VT_BSTR);
  EXPECT_EQ(r.result.bstrVal, u"Хлеб");
  EXPECT_EQ(self().name, u"Хлеб");
  // Values convert to the property's type.
  EXPECT_EQ(put(object(), dispid::Name, {12.5}).hr, S_OK);
  EXPECT_EQ(self().name, u"12,5");

  // Without the named argument a put is refused and changes nothing.
  r = invoke(object(), dispid::Name, DISPATCH_PROPERTYPUT, Args::raw({u"Молоко"}, {}));
  EXPECT_EQ(r.hr, DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(self().name, u"12,5");
  r = invoke(object(), dispid::Name, DISPATCH_PROPERTYPUT, Args::raw({u"Молоко"}, {0}));
  EXPECT_EQ(r.hr, DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(self().name, u"12,5");
}

TEST_F(DispatchTableTest, IndexedPropertiesTakeTheIndexPositionally) {
  EXPECT_EQ(put(object(), dispid::Item, {3, u"три"}).hr, S_OK);
  EXPECT_EQ(self().items[3], u"три");
  EXPECT_EQ(get(object(), dispid::Item, {3}).result.bstrVal, u"три");
  EXPECT_EQ(get(object(), dispid::Item, {u"3"}).result.bstrVal, u"три");
  // The handler's own failure (index out of its range) is an exception.
  InvokeResult r = get(object(), dispid::Item, {10});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.excep.scode, E_FAIL);
}

TEST_F(DispatchTableTest, ResultsTakeTheDeclaredType) {
  self().flag = true;
  InvokeResult r = get(object(), dispid::Flag);
  EXPECT_EQ(r.result.vt, VT_BOOL);
  EXPECT_EQ(r.result.boolVal, VARIANT_TRUE);  // the handler returned 1
  EXPECT_EQ(put(object(), dispid::Flag, {u"False"}).hr, S_OK);
  EXPECT_FALSE(self().flag);
  EXPECT_EQ(get(object(), dispid::Flag).result.boolVal, VARIANT_FALSE);
  r = put(object(), dispid::Flag, {u"maybe"});
  EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(r.argErr, 0u);

  r = get(object(), dispid::Money);
  EXPECT_EQ(r.result.vt, VT_CY);
  EXPECT_EQ(r.result.cyVal.int64, 125000);

  // A VT_VARIANT result passes as it is.
  r = call(object(), dispid::Any, {u"как есть"});
  EXPECT_EQ(r.result.vt, VT_BSTR);
  EXPECT_EQ(r.result.bstrVal, u"как есть");

  // Whatever the result variant held before is released, not leaked.
  ComPtr<IUnknown> plain(new Plain);
  Variant result(plain.get());
  Args args({});
  EXPECT_EQ(object()->Invoke(dispid::ReadOnly, IID_NULL, 0, DISPATCH_PROPERTYGET, args.get(),
                             &result, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(result.lVal, 7);
  EXPECT_EQ(refCount(plain.get()), 1u);
}

TEST_F(DispatchTableTest, ExceptionsBecomeExcepinfoWithTheMessageInUtf16) {
  InvokeResult r = call(object(), dispid::Fail, {});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.excep.bstrDescription, u"Нет связи");
  EXPECT_EQ(r.excep.bstrSource, u"Foo.Source");
  EXPECT_EQ(r.excep.scode, E_FAIL);
  EXPECT_EQ(r.excep.wCode, 0);
  EXPECT_EQ(r.result.vt, VT_EMPTY);

  r = call(object(), dispid::FailCode, {});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.excep.scode, E_ACCESSDENIED);
  EXPECT_EQ(r.excep.bstrDescription, u"Доступ запрещён");

  r = call(object(), dispid::Unbound, {});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.excep.scode, E_NOTIMPL);

  // Without an EXCEPINFO the thread's error information carries it.
  Args args({});
  EXPECT_EQ(object()->Invoke(dispid::Fail, IID_NULL, 0, DISPATCH_METHOD, args.get(), nullptr,
                             nullptr, nullptr),
            DISP_E_EXCEPTION);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
  BSTR description, source;
  GUID iid{};
  info->GetDescription(&description);
  info->GetSource(&source);
  info->GetGUID(&iid);
  EXPECT_EQ(description, u"Нет связи");
  EXPECT_EQ(source, u"Foo.Source");
  EXPECT_EQ(iid, IID_IFoo);
}

TEST_F(DispatchTableTest, ReferenceParametersAreWrittenBack) {
  LONG number = 41;
  BSTR text = u"Привет";
  InvokeResult r = call(object(), dispid::Swap, {Variant::byRef(&number), Variant::byRef(&text)});
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(number, 42);
  EXPECT_EQ(text, u"Привет!");

  // A reference to a VARIANT takes the value in the parameter's type.
  Variant numberBox(u"9"), textBox(5);
  r = call(object(), dispid::Swap, {Variant::byRef(&numberBox), Variant::byRef(&textBox)});
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(numberBox.vt, VT_I4);
  EXPECT_EQ(numberBox.lVal, 10);
  EXPECT_EQ(textBox.vt, VT_BSTR);
  EXPECT_EQ(textBox.bstrVal, u"5!");

  // A value where a reference is needed, or a reference of another type.
  r = call(object(), dispid::Swap, {41, Variant::byRef(&text)});
  EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(r.argErr, 1u);
  r = call(object(), dispid::Swap, {Variant::byRef(&text), Variant::byRef(&text)});
  EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(r.argErr, 1u);
  r = call(object(), dispid::Swap, {Variant::byRef(&number), Variant::byRef(&number)});
  EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(r.argErr, 0u);
  EXPECT_EQ(number, 42);
}

TEST_F(DispatchTableTest, ByteArraysCrossInBothDirections) {
  const std::string all = everyByte();
  EXPECT_EQ(put(object(), dispid::Data, {Variant::fromBytes(all, 7)}).hr, S_OK);
  EXPECT_EQ(self().data, all);
  InvokeResult r = get(object(), dispid::Data);
  EXPECT_EQ(r.result.vt, VT_ARRAY | VT_UI1);
  LONG lbound = -1;
  SafeArrayGetLBound(r.result.parray, 1, &lbound);
  EXPECT_EQ(lbound, 0);
  EXPECT_EQ(r.result.toBytes(), all);
  // By reference, as some hosts pass them.
  Variant reversed = Variant::fromBytes(std::string(all.rbegin(), all.rend()));
  EXPECT_EQ(put(object(), dispid::Data, {Variant::byRef(&reversed)}).hr, S_OK);
  EXPECT_EQ(self().data, std::string(all.rbegin(), all.rend()));
  EXPECT_EQ(put(object(), dispid::Data, {u"not bytes"}).hr, DISP_E_EXCEPTION);
}

TEST_F(DispatchTableTest, MalformedCallsAreRefusedWithoutTouchingMemory) {
  EXPECT_EQ(object()->Invoke(dispid::Subtract, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr,
                             nullptr, nullptr),
            E_INVALIDARG);
  DISPPARAMS noArray{nullptr, nullptr, 2, 0};
  EXPECT_EQ(object()->Invoke(dispid::Subtract, IID_NULL, 0, DISPATCH_METHOD, &noArray, nullptr,
                             nullptr, nullptr),
            E_INVALIDARG);
  Variant two[2] = {1, 2};
  DISPPARAMS tooManyNamed{two, nullptr, 2, 3};
  EXPECT_EQ(object()->Invoke(dispid::Subtract, IID_NULL, 0, DISPATCH_METHOD, &tooManyNamed, nullptr,
                             nullptr, nullptr),
            E_INVALIDARG);
  DISPPARAMS namedWithoutIds{two, nullptr, 2, 1};
  EXPECT_EQ(object()->Invoke(dispid::Subtract, IID_NULL, 0, DISPATCH_METHOD, &namedWithoutIds,
                             nullptr, nullptr, nullptr),
            E_INVALIDARG);
}

// Every member, every kind of call, every count of arguments of several
// types: each call answers with a status and nothing crashes (ASan watches).
TEST_F(DispatchTableTest, NoCombinationOfCallCrashes) {
  const DISPID ids[] = {dispid::Subtract,
                        dispid::Name,
                        dispid::Flag,
                        dispid::Fail,
                        dispid::FailCode,
                        dispid::Counter,
                        dispid::Swap,
                        dispid::Data,
                        dispid::Item,
                        dispid::ReadOnly,
                        dispid::Unbound,
                        dispid::Money,
                        dispid::Any,
                        DISPID_ABOUTBOX,
                        0,
                        -1,
                        100};
  const WORD flags[] = {0,
                        DISPATCH_METHOD,
                        DISPATCH_PROPERTYGET,
                        DISPATCH_PROPERTYPUT,
                        DISPATCH_PROPERTYPUTREF,
                        DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                        0xFFFF};
  LONG number = 1;
  BSTR text = u"t";
  auto values = [&]() {
    return std::vector<Variant>{Variant(),
                                Variant::null(),
                                2,
                                u"2",
                                u"x",
                                2.5,
                                true,
                                Variant::currency(20000),
                                Variant::fromBytes("ab"),
                                Variant::error(DISP_E_PARAMNOTFOUND),
                                Variant::byRef(&number),
                                Variant::byRef(&text)};
  };
  const std::vector<std::vector<DISPID>> namedSets = {{}, {DISPID_PROPERTYPUT}, {0}, {1, 0}};
  int calls = 0;
  for (DISPID id : ids)
    for (WORD f : flags)
      for (size_t count = 0; count <= 3; ++count)
        for (const Variant& value : values())
          for (const auto& named : namedSets) {
            if (named.size() > count) continue;
            std::vector<Variant> args(count, value);
            InvokeResult r = invoke(object(), id, f, Args::raw(args, named));
            ++calls;
            if (SUCCEEDED(r.hr)) continue;
            EXPECT_TRUE(r.hr == DISP_E_MEMBERNOTFOUND || r.hr == DISP_E_BADPARAMCOUNT ||
                        r.hr == DISP_E_PARAMNOTFOUND || r.hr == DISP_E_TYPEMISMATCH ||
                        r.hr == DISP_E_OVERFLOW || r.hr == DISP_E_EXCEPTION ||
                        r.hr == DISP_E_BADVARTYPE)
                << hresultMessage(r.hr);
          }
  EXPECT_GT(calls, 5000);
}

TEST_F(DispatchTableTest, TheVirtualTableReachesTheSameHandlers) {
  LONG value = 0;
  EXPECT_EQ(foo_->Subtract(50, 8, &value), S_OK);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(foo_->put_Name(u"Сыр"), S_OK);
  BSTR name;
  EXPECT_EQ(foo_->get_Name(&name), S_OK);
  EXPECT_EQ(name, u"Сыр");
  EXPECT_EQ(get(object(), dispid::Name).result.bstrVal, u"Сыр");

  // A failure through the virtual table leaves the thread's error information.
  ComPtr<IErrorInfo> stale;
  GetErrorInfo(0, stale.put());
  EXPECT_EQ(foo_->Fail(&value), E_FAIL);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
  BSTR description;
  info->GetDescription(&description);
  EXPECT_EQ(description, u"Нет связи");
}

TEST(DispatchTable, MalformedTablesAreRefusedWhenBuilt) {
  DispatchType type{IID_IDispatch, "IBad", ""};
  struct Case {
    std::vector<DispatchMember> members;
  } cases[] = {
      {{{"", 1, INVOKE_FUNC, VT_VOID, {}, ""}}},
      {{{"A", 1, INVOKE_FUNC, VT_VOID, {}, ""}, {"B", 1, INVOKE_FUNC, VT_I4, {}, ""}}},
      {{{"A", 1, INVOKE_PROPERTYPUT, VT_VOID, {}, ""}}},
      {{{"A", 1, INVOKE_PROPERTYPUT, VT_I4, {VT_I4}, ""}}},
      {{{"A", 1, static_cast<INVOKEKIND>(3), VT_VOID, {}, ""}}},
      {{{"A", 1, INVOKE_FUNC, VT_DATE, {}, ""}}},
      {{{"A", 1, INVOKE_FUNC, VT_VOID, {VT_VOID}, ""}}},
  };
  for (auto& c : cases) EXPECT_THROW(DispatchTable(type, c.members), Exception);
  // A get and a put may share their DISPID.
  EXPECT_NO_THROW(DispatchTable(type, {{"A", 1, INVOKE_PROPERTYGET, VT_I4, {}, ""},
                                       {"A", 1, INVOKE_PROPERTYPUT, VT_VOID, {VT_I4}, ""}}));
}

}  // namespace
}  // namespace mirelo
