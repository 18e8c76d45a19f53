#include <gtest/gtest.h>

#include "tests/com/test_objects.h"

namespace mirelo {
namespace {

using namespace test;

// What a host reads of one function, the way the add-in adapter enumerates.
struct Described {
  DISPID memid;
  INVOKEKIND kind;
  VARTYPE result;
  std::vector<VARTYPE> params;
  std::u16string name;
  std::u16string help;
};

std::vector<Described> enumerate(ITypeInfo* info) {
  std::vector<Described> out;
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return out;
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* desc = nullptr;
    if (FAILED(info->GetFuncDesc(i, &desc))) continue;
    Described d{desc->memid, desc->invkind, desc->elemdescFunc.tdesc.vt, {}, {}, {}};
    for (SHORT p = 0; p < desc->cParams; ++p) {
      const TYPEDESC& t = desc->lprgelemdescParam[p].tdesc;
      d.params.push_back(t.vt == VT_PTR ? static_cast<VARTYPE>(VT_BYREF | t.lptdesc->vt) : t.vt);
    }
    info->GetDocumentation(desc->memid, &d.name, &d.help, nullptr, nullptr);
    out.push_back(d);
    info->ReleaseFuncDesc(desc);
  }
  info->ReleaseTypeAttr(attr);
  return out;
}

class TypeInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(foo_->GetTypeInfo(0, 0, info_.put()), S_OK); }
  void TearDown() override {
    info_.reset();
    foo_.reset();
    EXPECT_EQ(liveObjects, 0);
  }
  ComPtr<IFoo> foo_{new Foo};
  ComPtr<ITypeInfo> info_;
};

TEST_F(TypeInfoTest, OneDescriptionIsOffered) {
  UINT count = 0;
  EXPECT_EQ(foo_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> other;
  EXPECT_EQ(foo_->GetTypeInfo(1, 0, other.put()), DISP_E_BADINDEX);
  EXPECT_FALSE(other);
  EXPECT_EQ(foo_->GetTypeInfo(0, 0, nullptr), E_INVALIDARG);
}

TEST_F(TypeInfoTest, AttributesDescribeTheDispatchInterface) {
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info_->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID_IFoo);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_EQ(attr->cFuncs, Foo::map().table().members().size());
  EXPECT_EQ(attr->cVars, 0);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 2);
  info_->ReleaseTypeAttr(attr);

  BSTR name, help;
  EXPECT_EQ(info_->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr), S_OK);
  EXPECT_EQ(name, u"IFoo");
  EXPECT_EQ(help, u"Тестовый объект");
}

TEST_F(TypeInfoTest, FunctionsListEveryEntryOfTheTableInOrder) {
  std::vector<Described> all = enumerate(info_.get());
  const auto& members = Foo::map().table().members();
  ASSERT_EQ(all.size(), members.size());
  for (size_t i = 0; i < all.size(); ++i) {
    SCOPED_TRACE(members[i].name);
    EXPECT_EQ(all[i].memid, members[i].dispid);
    EXPECT_EQ(all[i].kind, members[i].kind);
    EXPECT_EQ(all[i].result, members[i].result);
    ASSERT_EQ(all[i].params.size(), members[i].params.size());
    for (size_t p = 0; p < all[i].params.size(); ++p)
      EXPECT_EQ(all[i].params[p], members[i].params[p].type);
    EXPECT_EQ(all[i].name, ansiToWide(members[i].name));
    EXPECT_EQ(all[i].help, ansiToWide(members[i].help));
  }
  // Spot checks against literal expectations.
  EXPECT_EQ(all[0].name, u"Subtract");
  EXPECT_EQ(all[0].help, u"Вычесть");
  EXPECT_EQ(all[0].params, (std::vector<VARTYPE>{VT_I4, VT_I4}));
  EXPECT_EQ(all[3].name, u"Flag");
  EXPECT_EQ(all[3].kind, INVOKE_PROPERTYGET);
  EXPECT_EQ(all[3].result, VT_BOOL);
  EXPECT_EQ(all[7].name, u"Счётчик");
  EXPECT_EQ(all[9].result, VT_VARIANT);
  EXPECT_EQ(all[10].kind, INVOKE_PROPERTYPUT);
  EXPECT_EQ(all[10].result, VT_VOID);
}

// The add-in adapter's rule: gets make properties, puts mark them writable.
TEST_F(TypeInfoTest, AHostCanSortMethodsAndPropertiesFromTheDescription) {
  struct Property {
    std::u16string name;
    VARTYPE type;
    bool writable;
  };
  std::vector<std::u16string> methods;
  std::vector<Property> properties;
  std::vector<DISPID> propertyIds;
  for (const Described& d : enumerate(info_.get())) {
    if (d.kind == INVOKE_FUNC) {
      methods.push_back(d.name);
    } else if (d.kind == INVOKE_PROPERTYGET) {
      properties.push_back({d.name, d.result, false});
      propertyIds.push_back(d.memid);
    } else {
      for (size_t i = properties.size(); i-- > 0;)
        if (propertyIds[i] == d.memid) {
          properties[i].writable = true;
          break;
        }
    }
  }
  EXPECT_EQ(methods, (std::vector<std::u16string>{u"Subtract", u"Fail", u"FailCode", u"Swap",
                                                  u"AboutBox", u"Unbound", u"Any"}));
  ASSERT_EQ(properties.size(), 7u);
  struct Expected {
    const char16_t* name;
    VARTYPE type;
    bool writable;
  } expected[] = {{u"Name", VT_BSTR, true},   {u"Flag", VT_BOOL, true},
                  {u"Счётчик", VT_I4, false}, {u"Data", VT_VARIANT, true},
                  {u"Item", VT_BSTR, true},   {u"ReadOnly", VT_I4, false},
                  {u"Money", VT_CY, false}};
  for (size_t i = 0; i < properties.size(); ++i) {
    EXPECT_EQ(properties[i].name, expected[i].name);
    EXPECT_EQ(properties[i].type, expected[i].type);
    EXPECT_EQ(properties[i].writable, expected[i].writable);
  }
}

TEST_F(TypeInfoTest, ReferenceParametersArePointersInAndOut) {
  FUNCDESC* desc = nullptr;
  int index = Foo::map().table().find(dispid::Swap, INVOKE_FUNC);
  ASSERT_GE(index, 0);
  ASSERT_EQ(info_->GetFuncDesc(static_cast<UINT>(index), &desc), S_OK);
  ASSERT_EQ(desc->cParams, 2);
  EXPECT_EQ(desc->cParamsOpt, 0);
  EXPECT_EQ(desc->funckind, FUNC_DISPATCH);
  EXPECT_EQ(desc->lprgelemdescParam[0].tdesc.vt, VT_PTR);
  EXPECT_EQ(desc->lprgelemdescParam[0].tdesc.lptdesc->vt, VT_I4);
  EXPECT_EQ(desc->lprgelemdescParam[1].tdesc.lptdesc->vt, VT_BSTR);
  EXPECT_EQ(desc->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOUT);
  info_->ReleaseFuncDesc(desc);

  index = Foo::map().table().find(dispid::Subtract, INVOKE_FUNC);
  ASSERT_EQ(info_->GetFuncDesc(static_cast<UINT>(index), &desc), S_OK);
  EXPECT_EQ(desc->lprgelemdescParam[1].paramdesc.wParamFlags, PARAMFLAG_FIN);
  info_->ReleaseFuncDesc(desc);
}

TEST_F(TypeInfoTest, NamesDocumentationAndIdentifiers) {
  BSTR names[4];
  UINT count = 0;
  EXPECT_EQ(info_->GetNames(dispid::Subtract, names, 4, &count), S_OK);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(names[0], u"Subtract");
  EXPECT_EQ(names[1], u"A");
  EXPECT_EQ(names[2], u"B");
  EXPECT_EQ(info_->GetNames(dispid::Subtract, names, 1, &count), S_OK);
  EXPECT_EQ(count, 1u);
  // A property's value has no name; its index does.
  EXPECT_EQ(info_->GetNames(dispid::Item, names, 4, &count), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(names[1], u"Index");
  EXPECT_EQ(info_->GetNames(999, names, 4, &count), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(count, 0u);

  BSTR name, help;
  DWORD context = 7;
  EXPECT_EQ(info_->GetDocumentation(dispid::Counter, &name, &help, &context, nullptr), S_OK);
  EXPECT_EQ(name, u"Счётчик");
  EXPECT_EQ(help, u"Counter");
  EXPECT_EQ(context, 0u);
  EXPECT_EQ(info_->GetDocumentation(dispid::FailCode, nullptr, &help, nullptr, nullptr), S_OK);
  EXPECT_EQ(help, u"");
  EXPECT_EQ(info_->GetDocumentation(999, &name, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);

  char16_t first[] = u"FLAG";
  LPOLESTR lookup[] = {first};
  MEMBERID id = 0;
  EXPECT_EQ(info_->GetIDsOfNames(lookup, 1, &id), S_OK);
  EXPECT_EQ(id, dispid::Flag);
  char16_t missing[] = u"Nope";
  lookup[0] = missing;
  EXPECT_EQ(info_->GetIDsOfNames(lookup, 1, &id), DISP_E_UNKNOWNNAME);
}

TEST_F(TypeInfoTest, InvokeGoesThroughTheInstance) {
  Args args({50, 8});
  Variant result;
  EXPECT_EQ(info_->Invoke(static_cast<IDispatch*>(foo_.get()), dispid::Subtract, DISPATCH_METHOD,
                          args.get(), &result, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(result.lVal, 42);
  EXPECT_EQ(info_->Invoke(nullptr, dispid::Subtract, DISPATCH_METHOD, args.get(), &result, nullptr,
                          nullptr),
            E_INVALIDARG);
}

TEST_F(TypeInfoTest, WhatIsNotDescribedAnswersPlainly) {
  FUNCDESC* desc = reinterpret_cast<FUNCDESC*>(1);
  EXPECT_EQ(info_->GetFuncDesc(1000, &desc), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(desc, nullptr);
  VARDESC* var = reinterpret_cast<VARDESC*>(1);
  EXPECT_EQ(info_->GetVarDesc(0, &var), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(var, nullptr);
  ITypeComp* comp = reinterpret_cast<ITypeComp*>(1);
  EXPECT_EQ(info_->GetTypeComp(&comp), E_NOTIMPL);
  EXPECT_EQ(comp, nullptr);
  ITypeLib* lib = reinterpret_cast<ITypeLib*>(1);
  UINT index = 5;
  EXPECT_EQ(info_->GetContainingTypeLib(&lib, &index), E_NOTIMPL);
  EXPECT_EQ(lib, nullptr);
  HREFTYPE ref = 5;
  EXPECT_EQ(info_->GetRefTypeOfImplType(0, &ref), TYPE_E_ELEMENTNOTFOUND);
  INT implFlags = 5;
  EXPECT_EQ(info_->GetImplTypeFlags(0, &implFlags), TYPE_E_ELEMENTNOTFOUND);
  ComPtr<ITypeInfo> refInfo;
  EXPECT_EQ(info_->GetRefTypeInfo(0, refInfo.put()), E_NOTIMPL);
  void* address = reinterpret_cast<void*>(1);
  EXPECT_EQ(info_->AddressOfMember(dispid::Subtract, INVOKE_FUNC, &address), E_NOTIMPL);
  EXPECT_EQ(address, nullptr);
  void* instance = reinterpret_cast<void*>(1);
  EXPECT_EQ(info_->CreateInstance(nullptr, IID_IUnknown, &instance), E_NOTIMPL);
  EXPECT_EQ(instance, nullptr);
  BSTR mops = u"x", dll, entry;
  WORD ordinal = 0;
  EXPECT_EQ(info_->GetMops(dispid::Subtract, &mops), E_NOTIMPL);
  EXPECT_EQ(info_->GetDllEntry(dispid::Subtract, INVOKE_FUNC, &dll, &entry, &ordinal), E_NOTIMPL);
  info_->ReleaseVarDesc(nullptr);
  info_->ReleaseFuncDesc(nullptr);
  info_->ReleaseTypeAttr(nullptr);
}

TEST_F(TypeInfoTest, TheDescriptionOutlivesTheObject) {
  foo_.reset();
  EXPECT_EQ(liveObjects, 0);
  EXPECT_EQ(enumerate(info_.get()).size(), Foo::map().table().members().size());
  // A table built on the spot and dropped: the description keeps what it needs.
  ComPtr<ITypeInfo> local;
  {
    DispatchTable table({IID_IDispatch, "ILocal", "Локальный"},
                        {{"Only", 5, INVOKE_FUNC, VT_BSTR, {VT_BSTR}, "Единственный"}});
    local = table.typeInfo();
  }
  std::vector<Described> all = enumerate(local.get());
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].name, u"Only");
  EXPECT_EQ(all[0].help, u"Единственный");
  EXPECT_EQ(all[0].params, std::vector<VARTYPE>{VT_BSTR});
}

}  // namespace
}  // namespace mirelo
