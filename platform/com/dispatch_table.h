#pragma once
// A table-driven IDispatch. One table of members is the single source of
// GetIDsOfNames, of Invoke (argument count, named arguments, coercion of
// each argument to its declared type, the result's type, exceptions) and of
// the type description (ITypeInfo) that hosts enumerate members from.
//
// Names and help strings are Windows-1251 text, as the driver's sources
// hold them; they cross the boundary as UTF-16 and names compare without
// regard to case under the Windows-1251 rules (Cyrillic included).
//
//   static const DispatchMap<TFoo> map(
//       {IID_IFoo, "IFoo", "Foo object"},
//       {{{"Add", 1, INVOKE_FUNC, VT_I4, {VT_I4, VT_I4}, "Сложить"},
//         [](TFoo& self, DispatchCall& call) {
//           call.result = self.add(call.args[0].lVal, call.args[1].lVal);
//         }},
//        {{"Name", 2, INVOKE_PROPERTYGET, VT_BSTR, {}, "Имя"},
//         [](TFoo& self, DispatchCall& call) { call.result = self.name(); }}});
//   class TFoo : public ComObject<DispatchImpl<TFoo, IFoo>> {
//    public:
//     TFoo() : ComObject(map) ...
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/com/dispatch.h"
#include "platform/com/error_info.h"
#include "platform/com/variant.h"

namespace mirelo {

// One parameter: its type and, optionally, its name. A type with VT_BYREF
// is an in/out parameter: the host passes a reference (of that type or to a
// VARIANT) and the member's value is written back through it.
struct DispatchParam {
  DispatchParam(VARTYPE type) : type(type) {}
  DispatchParam(VARTYPE type, std::string name) : type(type), name(std::move(name)) {}
  VARTYPE type;
  std::string name;
};

struct DispatchMember {
  std::string name;  // a property's get and put entries share name and DISPID
  DISPID dispid;
  INVOKEKIND kind;  // INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT(REF)
  VARTYPE result;   // VT_VOID for none; puts have none; VT_VARIANT for any value
  std::vector<DispatchParam> params{};  // for a put, the last one is the value
  std::string help{};                   // may be empty
};

// Attributes of the described interface.
struct DispatchType {
  IID iid;
  std::string name;
  std::string help{};
  std::u16string source{};  // EXCEPINFO / error information source; empty: the name
  WORD flags = TYPEFLAG_FDISPATCHABLE;
  WORD majorVersion = 1;
  WORD minorVersion = 0;
};

// One call of a member: the arguments in their natural order (first
// parameter first, the value of a put last), converted to the declared
// types (a VT_VARIANT parameter gets the value as passed, a reference
// followed). The handler sets result (converted to the member's result type
// afterwards) and may change in/out arguments. It reports a failure by
// raising: the call then ends with DISP_E_EXCEPTION and the exception's
// message as the description.
struct DispatchCall {
  const DispatchMember& member;
  std::vector<Variant> args;
  Variant result;
  LCID lcid = 0;
};

using MemberInvoker = std::function<void(size_t index, DispatchCall& call)>;

// The description: immutable, cheap to copy (copies share it).
class DispatchTable {
 public:
  // Raises Exception for a malformed table: an empty name, an unknown kind,
  // two entries with the same DISPID and kind, a put without a value
  // parameter or with a result, an unsupported type.
  DispatchTable(DispatchType type, std::vector<DispatchMember> members);

  const DispatchType& type() const { return data_->type; }
  const std::vector<DispatchMember>& members() const { return data_->members; }
  // Index of the entry with this DISPID and kind, or -1.
  int find(DISPID dispid, INVOKEKIND kind) const;
  // Index of the first entry with this DISPID, or -1.
  int findAny(DISPID dispid) const;
  // Index of the first entry named name (case-insensitive), or -1.
  int findName(std::u16string_view name) const;

  // The bodies of IDispatch's members.
  HRESULT getTypeInfoCount(UINT* pctinfo) const;
  HRESULT getTypeInfo(UINT iTInfo, ITypeInfo** ppTInfo) const;
  // The first name is the member's, the others its parameters' (their
  // DISPIDs are their positions). Unknown names get DISPID_UNKNOWN and the
  // call DISP_E_UNKNOWNNAME.
  HRESULT getIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, DISPID* rgDispId) const;
  // Chooses the entry (a put for DISPATCH_PROPERTYPUT(REF); otherwise a
  // method, then a property get, as wFlags allow), checks and converts the
  // arguments, calls invoker, writes back in/out arguments and the result:
  //   riid not IID_NULL: DISP_E_UNKNOWNINTERFACE; no entry: DISP_E_MEMBERNOTFOUND;
  //   argument count not the parameter count: DISP_E_BADPARAMCOUNT;
  //   a put whose value is not the named argument DISPID_PROPERTYPUT, or a
  //     named argument that names no free parameter: DISP_E_PARAMNOTFOUND;
  //   an argument that does not convert: DISP_E_TYPEMISMATCH (or
  //     DISP_E_OVERFLOW, DISP_E_BADVARTYPE) with *puArgErr its index in rgvarg;
  //   the handler raised: DISP_E_EXCEPTION, EXCEPINFO filled (scode per
  //     exceptionCode, description the message in UTF-16, source the
  //     type's); without an EXCEPINFO the thread's error information gets it.
  HRESULT invoke(const MemberInvoker& invoker, DISPID dispIdMember, REFIID riid, LCID lcid,
                 WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                 UINT* puArgErr) const;
  // The same member reached through a virtual table: args in natural order,
  // converted as by invoke; a raised exception becomes the thread's error
  // information and its status is returned. result may be null.
  HRESULT call(const MemberInvoker& invoker, DISPID dispid, INVOKEKIND kind,
               std::span<const Variant> args, Variant* result) const;
  // The same, taking over arguments that are of their parameter's type
  // already (they are left empty): for arguments made for the call.
  HRESULT callTaking(const MemberInvoker& invoker, DISPID dispid, INVOKEKIND kind,
                     std::span<Variant> args, Variant* result) const;
  // The status of a member that raised, the exception made the thread's
  // error information, as call reports it: for members run without the table.
  HRESULT reportCurrentFailure() const;

  // A type description (TKIND_DISPATCH) of this table: GetTypeAttr,
  // GetFuncDesc, GetNames, GetDocumentation, GetIDsOfNames, Invoke (through
  // the instance's IDispatch) and the Release functions; GetVarDesc,
  // GetRefTypeOfImplType and GetImplTypeFlags find nothing
  // (TYPE_E_ELEMENTNOTFOUND); the rest answer E_NOTIMPL.
  ComPtr<ITypeInfo> typeInfo() const;

 private:
  struct Data {
    DispatchType type;
    std::vector<DispatchMember> members;
    // Entry index by DISPID and kind: every call through a virtual table
    // looks its member up.
    std::unordered_map<uint64_t, int> index;
  };
  HRESULT convertArguments(const DispatchMember& member, DISPPARAMS& params,
                           std::vector<int>& positions, DispatchCall& call, UINT* puArgErr) const;
  template <class Arg>
  HRESULT callWith(const MemberInvoker& invoker, DISPID dispid, INVOKEKIND kind,
                   std::span<Arg> args, Variant* result) const;
  std::u16string source() const;

  std::shared_ptr<const Data> data_;
};

// A member's entry together with its handler, for DispatchMap.
template <class Object>
struct DispatchEntry {
  DispatchMember member;
  std::function<void(Object& self, DispatchCall& call)> invoke;  // empty: E_NOTIMPL
};

// The table of a class that implements it, with a handler per entry.
template <class Object>
class DispatchMap {
 public:
  DispatchMap(DispatchType type, std::vector<DispatchEntry<Object>> entries)
      : table_(std::move(type), membersOf(entries)) {
    handlers_.reserve(entries.size());
    for (auto& entry : entries) handlers_.push_back(std::move(entry.invoke));
  }

  const DispatchTable& table() const { return table_; }
  void invoke(Object& self, size_t index, DispatchCall& call) const {
    const auto& handler = handlers_.at(index);
    if (!handler) throw EOleSysError(E_NOTIMPL);
    handler(self, call);
  }

 private:
  static std::vector<DispatchMember> membersOf(const std::vector<DispatchEntry<Object>>& entries) {
    std::vector<DispatchMember> members;
    members.reserve(entries.size());
    for (const auto& entry : entries) members.push_back(entry.member);
    return members;
  }

  DispatchTable table_;
  std::vector<std::function<void(Object&, DispatchCall&)>> handlers_;
};

// Implements IDispatch's four members of Interface (IDispatch or an
// interface derived from it) over Object's DispatchMap. Object derives from
// DispatchImpl<Object, Interface> (usually through ComObject); the map must
// outlive the object (a function-local static suits).
template <class Object, class Interface = IDispatch>
class DispatchImpl : public Interface {
 public:
  explicit DispatchImpl(const DispatchMap<Object>& map) : map_(map) {}

  HRESULT GetTypeInfoCount(UINT* pctinfo) override {
    return map_.table().getTypeInfoCount(pctinfo);
  }
  HRESULT GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) override {
    return map_.table().getTypeInfo(iTInfo, ppTInfo);
  }
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                        DISPID* rgDispId) override {
    return map_.table().getIDsOfNames(riid, rgszNames, cNames, rgDispId);
  }
  HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
    return map_.table().invoke(invoker(), dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult,
                               pExcepInfo, puArgErr);
  }

 protected:
  ~DispatchImpl() = default;

  const DispatchMap<Object>& dispatchMap() const { return map_; }
  // For the virtual-table members of a dual interface: the same handler as
  // Invoke, failures through the thread's error information.
  HRESULT callMember(DISPID dispid, INVOKEKIND kind, std::span<const Variant> args = {},
                     Variant* result = nullptr) {
    return map_.table().call(invoker(), dispid, kind, args, result);
  }
  // Arguments of the parameter's type are taken over (left empty).
  HRESULT callMemberTaking(DISPID dispid, INVOKEKIND kind, std::span<Variant> args,
                           Variant* result = nullptr) {
    return map_.table().callTaking(invoker(), dispid, kind, args, result);
  }

 private:
  MemberInvoker invoker() {
    return [this](size_t index, DispatchCall& call) {
      map_.invoke(static_cast<Object&>(*this), index, call);
    };
  }

  const DispatchMap<Object>& map_;
};

}  // namespace mirelo
