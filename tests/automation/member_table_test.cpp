// The automation interface as hosts bind to it: identifiers, kinds, types,
// help strings and the virtual-table order.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "vistel_fixture.h"

namespace mirelo {
namespace {

struct Described {
  std::string name, help;
  DISPID id;
  INVOKEKIND kind;
  VARTYPE result;
  VARTYPE param = VT_EMPTY;
};

std::vector<Described> describe(IDispatch* object) {
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(object->GetTypeInfo(0, 0, info.put()), S_OK);
  TYPEATTR* attr = nullptr;
  info->GetTypeAttr(&attr);
  std::vector<Described> members;
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* func = nullptr;
    info->GetFuncDesc(i, &func);
    BSTR name, help;
    info->GetDocumentation(func->memid, &name, &help, nullptr, nullptr);
    Described d{wideToAnsi(name), wideToAnsi(help), func->memid, func->invkind,
                func->elemdescFunc.tdesc.vt};
    if (func->cParams > 0) d.param = func->lprgelemdescParam[0].tdesc.vt;
    members.push_back(d);
    info->ReleaseFuncDesc(func);
  }
  EXPECT_EQ(attr->guid, IID_IVistel4);
  info->ReleaseTypeAttr(attr);
  return members;
}

TEST(MemberTable, IdentifiersFollowAlphabeticalOrderWithinMethodsAndProperties) {
  test::ScratchRegistry registry;
  test::Host host;
  auto members = describe(host.object.get());
  std::vector<std::pair<std::string, DISPID>> methods, properties;
  for (const auto& m : members) {
    if (m.id < 1 || m.id > 88) continue;
    if (m.kind == INVOKE_FUNC)
      methods.emplace_back(m.name, m.id);
    else if (m.kind == INVOKE_PROPERTYGET)
      properties.emplace_back(m.name, m.id);
  }
  ASSERT_EQ(methods.size(), 34u);
  ASSERT_EQ(properties.size(), 54u);
  auto byName = [](auto& list) {
    std::sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.first < b.first; });
  };
  byName(methods);
  byName(properties);
  for (size_t i = 0; i < methods.size(); ++i)
    EXPECT_EQ(methods[i].second, DISPID(i + 1)) << methods[i].first;
  for (size_t i = 0; i < properties.size(); ++i)
    EXPECT_EQ(properties[i].second, DISPID(i + 35)) << properties[i].first;
}

TEST(MemberTable, TheMembersHostsRelyOn) {
  test::ScratchRegistry registry;
  test::Host host;
  auto members = describe(host.object.get());
  EXPECT_EQ(members.size(), 149u) << "one function for each slot past IDispatch";
  std::map<std::pair<std::string, INVOKEKIND>, Described> byKey;
  std::set<DISPID> ids;
  for (const auto& m : members) {
    byKey[{m.name, m.kind}] = m;
    ids.insert(m.id);
  }
  struct Case {
    const char* name;
    INVOKEKIND kind;
    DISPID id;
    VARTYPE type;
    const char* help;
  } cases[] = {
      {"AboutBox", INVOKE_FUNC, -552, VT_VOID, "ОПрограмме"},
      {"GetStatus", INVOKE_FUNC, 14, VT_I4, "ПолучитьСостояние"},
      {"ClientConnected", INVOKE_PROPERTYGET, 35, VT_BOOL, "СвязьУстановлена"},
      {"DataBlockSA", INVOKE_PROPERTYGET, 44, VT_VARIANT, "БлокДанныхМассив"},
      {"StatusFlags", INVOKE_PROPERTYGET, 86, VT_I4, "Флаги\x43остояния"},  // a Latin C
      {"TableNumber", INVOKE_PROPERTYPUT, 88, VT_VOID, "НомерТаблицы"},
      {"Barcode", INVOKE_PROPERTYGET, 89, VT_BSTR, "ШтрихКод"},
      {"SendBarcode", INVOKE_FUNC, 90, VT_I4, "ПередатьШтрихКод"},
      {"Reset", INVOKE_FUNC, 91, VT_I4, "Сброс"},
      {"LogEnabled", INVOKE_PROPERTYGET, 92, VT_BOOL, "ЛогВключен"},
      {"LogFileName", INVOKE_PROPERTYPUT, 93, VT_VOID, "ФайлЛога"},
      {"ReadMessage", INVOKE_FUNC, 100, VT_I4, "ПрочитатьСообщение"},
      {"SetDefaultMessage", INVOKE_FUNC, 102, VT_I4, ""},
      {"LineData", INVOKE_PROPERTYGET, 112, VT_BSTR, ""},
      {"LineNumber", INVOKE_PROPERTYGET, 113, VT_I4, ""},
      {"LineSpeed", INVOKE_PROPERTYPUT, 114, VT_VOID, ""},
      {"LineType", INVOKE_PROPERTYGET, 115, VT_I4, ""},
      {"RepeatCount", INVOKE_PROPERTYGET, 118, VT_I4, "КоличествоПовторов"},
  };
  for (const auto& c : cases) {
    auto found = byKey.find({c.name, c.kind});
    ASSERT_NE(found, byKey.end()) << c.name;
    EXPECT_EQ(found->second.id, c.id) << c.name;
    EXPECT_EQ(found->second.result, c.type) << c.name;
    EXPECT_EQ(found->second.help, c.help) << c.name;
  }
  EXPECT_EQ((byKey[{"StatusFlags", INVOKE_PROPERTYGET}].help.substr(5, 1)), "C");
  for (DISPID unused = 94; unused <= 99; ++unused) EXPECT_EQ(ids.count(unused), 0u) << unused;
  // Read-only properties have no write entry.
  EXPECT_EQ(byKey.count({"ResultCode", INVOKE_PROPERTYPUT}), 0u);
  EXPECT_EQ((byKey[{"LDName", INVOKE_PROPERTYPUT}].param), VT_BSTR);
}

TEST(MemberTable, NamesAndHelpStringsResolveWithoutRegardToCase) {
  test::ScratchRegistry registry;
  test::Host host;
  EXPECT_EQ(host.id("getstatus"), 14);
  EXPECT_EQ(host.id("RESULTCODE"), 72);
  std::u16string unknown = u"NoSuchMember";
  LPOLESTR names[] = {unknown.data()};
  DISPID id = 0;
  EXPECT_EQ(host.object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
}

// The slot of each member in IVistel4's virtual table, from the member table.
std::vector<std::string> slotNames() {
  std::vector<std::string> slots = {
      "QueryInterface", "AddRef",        "Release", "GetTypeInfoCount",
      "GetTypeInfo",    "GetIDsOfNames", "Invoke"};
#define SLOT_ABOUT(name) slots.push_back(#name);
#define SLOT_METHOD(name) slots.push_back(#name);
#define SLOT_READ(name) slots.push_back("get_" #name);
#define SLOT_READWRITE(name) slots.push_back("get_" #name), slots.push_back("put_" #name);
#define SLOT(kind, name, id, T, help) SLOT_##kind(name)
  MIRELO_IVISTEL_MEMBERS(SLOT)
  MIRELO_IVISTEL2_MEMBERS(SLOT)
  MIRELO_IVISTEL3_MEMBERS(SLOT)
  MIRELO_IVISTEL4_MEMBERS(SLOT)
  return slots;
}

void** vtable(IVistel4* object) {
  return *reinterpret_cast<void***>(object);
}
int slotOf(const std::string& name) {
  auto slots = slotNames();
  return static_cast<int>(std::find(slots.begin(), slots.end(), name) - slots.begin());
}

TEST(MemberTable, SlotsByPositionReachTheSameImplementationAsInvoke) {
  test::ScratchRegistry registry;
  test::Host host;
  ASSERT_EQ(slotNames().size(), 156u);
  EXPECT_EQ(slotOf("AboutBox"), 7);
  EXPECT_EQ(slotOf("AddLD"), 8);
  EXPECT_EQ(slotOf("get_LogFileName"), 154);
  IVistel4* object = host.object.get();
  void** slots = vtable(object);
  // The slot found by position is the member itself, not only the same name.
  EXPECT_EQ(slots[slotOf("AddLD")], vtable(object)[8]);
  using PutText = HRESULT (*)(IVistel4*, const BSTR&);
  using GetText = HRESULT (*)(IVistel4*, BSTR*);
  using GetLong = HRESULT (*)(IVistel4*, LONG*);
  using GetBool = HRESULT (*)(IVistel4*, VARIANT_BOOL*);
  using Method = HRESULT (*)(IVistel4*, LONG*);
  // Written through a slot, read by name; written by name, read through a slot.
  ASSERT_EQ(reinterpret_cast<PutText>(slots[slotOf("put_Line1")])(object, u"Молоко"), S_OK);
  EXPECT_EQ(host.getText("Line1"), "Молоко");
  EXPECT_EQ(host.put("Line2", "Хлеб"), "");
  BSTR line2;
  ASSERT_EQ(reinterpret_cast<GetText>(slots[slotOf("get_Line2")])(object, &line2), S_OK);
  EXPECT_EQ(wideToAnsi(line2), "Хлеб");
  LONG before = 0, after = 0, code = -1;
  reinterpret_cast<GetLong>(slots[slotOf("get_LDCount")])(object, &before);
  ASSERT_EQ(reinterpret_cast<Method>(slots[slotOf("AddLD")])(object, &code), S_OK);
  EXPECT_EQ(code, 0);
  object->get_LDCount(&after);
  EXPECT_EQ(after, before + 1);
  EXPECT_EQ(host.getInt("LDCount"), after);
  BSTR version;
  reinterpret_cast<GetText>(slots[slotOf("get_FileVersion")])(object, &version);
  EXPECT_EQ(wideToAnsi(version), "1.0.0.1");
  // Booleans are -1 through the slot, never 1.
  EXPECT_EQ(host.put("LockDevices", Variant(true)), "");
  VARIANT_BOOL locked = 0;
  reinterpret_cast<GetBool>(slots[slotOf("get_LockDevices")])(object, &locked);
  EXPECT_EQ(locked, -1);
  LONG logLast = 0;
  EXPECT_EQ(object->get_RepeatCount(&logLast), S_OK);
  EXPECT_EQ(logLast, 3);
}

TEST(MemberTable, InvokeRefusesWrongCallsWithoutCrashing) {
  test::ScratchRegistry registry;
  test::Host host;
  Variant result;
  EXPECT_EQ(host.invoke("GetStatus", DISPATCH_METHOD, {Variant(int32_t(1))}, &result),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(host.invoke("LDIndex", DISPATCH_PROPERTYPUT, {Variant(u"abc")}, nullptr),
            DISP_E_TYPEMISMATCH);
  DISPPARAMS empty{nullptr, nullptr, 0, 0};
  EXPECT_NE(host.object->Invoke(host.id("LDIndex"), IID_NULL, 0, DISPATCH_PROPERTYPUT, &empty,
                                nullptr, nullptr, nullptr),
            S_OK);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(host.object->Invoke(95, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  // The object is still usable.
  EXPECT_EQ(host.put("Line1", "ok"), "");
  EXPECT_EQ(host.getText("Line1"), "ok");
}

}  // namespace
}  // namespace mirelo
