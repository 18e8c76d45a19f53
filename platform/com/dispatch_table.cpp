#include "platform/com/dispatch_table.h"

#include <set>
#include <type_traits>
#include <utility>

#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {
namespace {

// The argument vectors of finished calls, kept on their thread for the next
// ones: the puts made for every answered scan then allocate nothing. They
// are emptied when given back, so no value outlives its call.
class ArgumentLease {
 public:
  explicit ArgumentLease(DispatchCall& call) : call_(call) {
    auto& spare = spares();
    if (spare.empty()) return;
    call_.args = std::move(spare.back());
    spare.pop_back();
  }
  ~ArgumentLease() {
    call_.args.clear();  // may release objects, which may make calls of their own
    auto& spare = spares();
    if (spare.size() < 8 && call_.args.capacity() <= 16) spare.push_back(std::move(call_.args));
  }
  ArgumentLease(const ArgumentLease&) = delete;
  ArgumentLease& operator=(const ArgumentLease&) = delete;

 private:
  static std::vector<std::vector<Variant>>& spares() {
    thread_local std::vector<std::vector<Variant>> vectors;
    return vectors;
  }
  DispatchCall& call_;
};

bool isParameterType(VARTYPE vt) {
  VARTYPE base = vt & ~VT_BYREF;
  return (base == VT_VARIANT || isValueType(base)) && base != VT_EMPTY && base != VT_NULL;
}

bool isResultType(VARTYPE vt) {
  return vt == VT_VOID || vt == VT_VARIANT || isValueType(vt);
}

uint64_t indexKey(DISPID dispid, INVOKEKIND kind) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(dispid)) << 8) | static_cast<uint8_t>(kind);
}

bool isPut(INVOKEKIND kind) {
  return kind == INVOKE_PROPERTYPUT || kind == INVOKE_PROPERTYPUTREF;
}

size_t wideLength(LPCOLESTR text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

// The Windows-1251 form of a name, or false when it has characters that the
// code page lacks (and so matches no member).
bool nameToAnsi(std::u16string_view name, std::string& ansi) {
  ansi = wideToAnsi(name);
  return ansiToWide(ansi) == name;
}

// Stores value into what the reference ref refers to, converting it to the
// referred type.
HRESULT storeThroughReference(VARIANT& ref, const Variant& value) {
  VARTYPE base = ref.vt & ~VT_BYREF;
  if (!ref.byref) return E_INVALIDARG;
  if (base == VT_VARIANT) return VariantCopy(ref.pvarVal, &value);
  Variant converted;
  HRESULT hr = VariantChangeType(&converted, &value, 0, base);
  if (FAILED(hr)) return hr;
  switch (base) {
    case VT_I2:
      *ref.piVal = converted.iVal;
      break;
    case VT_I4:
      *ref.plVal = converted.lVal;
      break;
    case VT_R8:
      *ref.pdblVal = converted.dblVal;
      break;
    case VT_CY:
      *ref.pcyVal = converted.cyVal;
      break;
    case VT_BOOL:
      *ref.pboolVal = converted.boolVal;
      break;
    case VT_ERROR:
      *ref.pscode = converted.scode;
      break;
    case VT_UI1:
      *ref.pbVal = converted.bVal;
      break;
    case VT_BSTR:
      *ref.pbstrVal = std::move(converted.bstrVal);
      break;
    case VT_DISPATCH:
      if (*ref.ppdispVal) (*ref.ppdispVal)->Release();
      *ref.ppdispVal = std::exchange(converted.pdispVal, nullptr);
      break;
    case VT_UNKNOWN:
      if (*ref.ppunkVal) (*ref.ppunkVal)->Release();
      *ref.ppunkVal = std::exchange(converted.punkVal, nullptr);
      break;
    case VT_ARRAY | VT_UI1:
      if (*ref.pparray) SafeArrayDestroy(*ref.pparray);
      *ref.pparray = std::exchange(converted.parray, nullptr);
      break;
    default:
      return DISP_E_BADVARTYPE;
  }
  return S_OK;
}

// ---------------------------------------------------------------------------
// The type description over a table.

TYPEDESC typeDesc(VARTYPE vt) {
  TYPEDESC desc{};
  if (vt & VT_BYREF) {
    desc.vt = VT_PTR;
    desc.lptdesc = new TYPEDESC{};
    desc.lptdesc->vt = vt & ~VT_BYREF;
  } else {
    desc.vt = vt;
  }
  return desc;
}

void freeTypeDesc(TYPEDESC& desc) {
  if (desc.vt == VT_PTR) delete desc.lptdesc;
}

class TableTypeInfo final : public ComObject<ITypeInfo> {
 public:
  explicit TableTypeInfo(DispatchTable table) : table_(std::move(table)) {}

  HRESULT GetTypeAttr(TYPEATTR** ppTypeAttr) override {
    if (!ppTypeAttr) return E_INVALIDARG;
    auto* attr = new TYPEATTR{};
    const DispatchType& type = table_.type();
    attr->guid = type.iid;
    attr->memidConstructor = MEMBERID_NIL;
    attr->memidDestructor = MEMBERID_NIL;
    attr->cbSizeInstance = sizeof(void*);
    attr->typekind = TKIND_DISPATCH;
    attr->cFuncs = static_cast<WORD>(table_.members().size());
    attr->cbSizeVft = static_cast<WORD>(7 * sizeof(void*));  // IDispatch's table
    attr->cbAlignment = static_cast<WORD>(alignof(void*));
    attr->wTypeFlags = type.flags;
    attr->wMajorVerNum = type.majorVersion;
    attr->wMinorVerNum = type.minorVersion;
    *ppTypeAttr = attr;
    return S_OK;
  }

  HRESULT GetTypeComp(ITypeComp** ppTComp) override {
    if (ppTComp) *ppTComp = nullptr;
    return E_NOTIMPL;
  }

  HRESULT GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override {
    if (!ppFuncDesc) return E_INVALIDARG;
    *ppFuncDesc = nullptr;
    if (index >= table_.members().size()) return TYPE_E_ELEMENTNOTFOUND;
    const DispatchMember& member = table_.members()[index];
    auto* desc = new FUNCDESC{};
    desc->memid = member.dispid;
    desc->funckind = FUNC_DISPATCH;
    desc->invkind = member.kind;
    desc->callconv = CC_STDCALL;
    desc->cParams = static_cast<SHORT>(member.params.size());
    if (!member.params.empty()) {
      desc->lprgelemdescParam = new ELEMDESC[member.params.size()]{};
      for (size_t i = 0; i < member.params.size(); ++i) {
        VARTYPE vt = member.params[i].type;
        desc->lprgelemdescParam[i].tdesc = typeDesc(vt);
        desc->lprgelemdescParam[i].paramdesc.wParamFlags =
            (vt & VT_BYREF) ? PARAMFLAG_FIN | PARAMFLAG_FOUT : PARAMFLAG_FIN;
      }
    }
    desc->elemdescFunc.tdesc = typeDesc(member.result);
    *ppFuncDesc = desc;
    return S_OK;
  }

  HRESULT GetVarDesc(UINT, VARDESC** ppVarDesc) override {
    if (ppVarDesc) *ppVarDesc = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }

  HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) override {
    if (!rgBstrNames || !pcNames) return E_INVALIDARG;
    *pcNames = 0;
    int index = table_.findAny(memid);
    if (index < 0) return TYPE_E_ELEMENTNOTFOUND;
    const DispatchMember& member = table_.members()[static_cast<size_t>(index)];
    std::vector<std::u16string> names{ansiToWide(member.name)};
    // The value of a put has no name of its own.
    size_t named = member.params.size() - (isPut(member.kind) ? 1 : 0);
    for (size_t i = 0; i < named && !member.params[i].name.empty(); ++i)
      names.push_back(ansiToWide(member.params[i].name));
    UINT count = std::min<UINT>(cMaxNames, static_cast<UINT>(names.size()));
    for (UINT i = 0; i < count; ++i) rgBstrNames[i] = names[i];
    *pcNames = count;
    return S_OK;
  }

  HRESULT GetRefTypeOfImplType(UINT, HREFTYPE* pRefType) override {
    if (pRefType) *pRefType = 0;
    return TYPE_E_ELEMENTNOTFOUND;
  }

  HRESULT GetImplTypeFlags(UINT, INT* pImplTypeFlags) override {
    if (pImplTypeFlags) *pImplTypeFlags = 0;
    return TYPE_E_ELEMENTNOTFOUND;
  }

  HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override {
    return table_.getIDsOfNames(IID_NULL, rgszNames, cNames, pMemId);
  }

  HRESULT Invoke(void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
    if (!pvInstance) return E_INVALIDARG;
    // A dispatch interface is called through its IDispatch.
    auto* instance = static_cast<IDispatch*>(pvInstance);
    return instance->Invoke(memid, IID_NULL, LOCALE_USER_DEFAULT, wFlags, pDispParams, pVarResult,
                            pExcepInfo, puArgErr);
  }

  HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                           DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override {
    const std::string* name = &table_.type().name;
    const std::string* help = &table_.type().help;
    if (memid != MEMBERID_NIL) {
      int index = table_.findAny(memid);
      if (index < 0) return TYPE_E_ELEMENTNOTFOUND;
      name = &table_.members()[static_cast<size_t>(index)].name;
      help = &table_.members()[static_cast<size_t>(index)].help;
    }
    if (pBstrName) *pBstrName = ansiToWide(*name);
    if (pBstrDocString) *pBstrDocString = ansiToWide(*help);
    if (pdwHelpContext) *pdwHelpContext = 0;
    if (pBstrHelpFile) pBstrHelpFile->clear();
    return S_OK;
  }

  HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }

  HRESULT GetRefTypeInfo(HREFTYPE, ITypeInfo** ppTInfo) override {
    if (ppTInfo) *ppTInfo = nullptr;
    return E_NOTIMPL;
  }

  HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void** ppv) override {
    if (ppv) *ppv = nullptr;
    return E_NOTIMPL;
  }

  HRESULT CreateInstance(IUnknown*, REFIID, void** ppvObj) override {
    if (ppvObj) *ppvObj = nullptr;
    return E_NOTIMPL;
  }

  HRESULT GetMops(MEMBERID, BSTR* pBstrMops) override {
    if (pBstrMops) pBstrMops->clear();
    return E_NOTIMPL;
  }

  HRESULT GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override {
    if (ppTLib) *ppTLib = nullptr;
    if (pIndex) *pIndex = 0;
    return E_NOTIMPL;
  }

  void ReleaseTypeAttr(TYPEATTR* pTypeAttr) override { delete pTypeAttr; }

  void ReleaseFuncDesc(FUNCDESC* pFuncDesc) override {
    if (!pFuncDesc) return;
    for (SHORT i = 0; i < pFuncDesc->cParams; ++i)
      freeTypeDesc(pFuncDesc->lprgelemdescParam[i].tdesc);
    delete[] pFuncDesc->lprgelemdescParam;
    freeTypeDesc(pFuncDesc->elemdescFunc.tdesc);
    delete pFuncDesc;
  }

  void ReleaseVarDesc(VARDESC*) override {}

 private:
  DispatchTable table_;
};

}  // namespace

// ---------------------------------------------------------------------------

DispatchTable::DispatchTable(DispatchType type, std::vector<DispatchMember> members) {
  auto fail = [&type](const DispatchMember& member, const char* what) {
    throw Exception(
        format("Dispatch table %s, member %s: %s", type.name.c_str(), member.name.c_str(), what));
  };
  std::set<std::pair<DISPID, int>> seen;
  for (const DispatchMember& member : members) {
    if (member.name.empty()) fail(member, "no name");
    if (member.kind != INVOKE_FUNC && member.kind != INVOKE_PROPERTYGET && !isPut(member.kind))
      fail(member, "unknown kind");
    if (!seen.insert({member.dispid, member.kind}).second) fail(member, "DISPID and kind repeated");
    if (!isResultType(member.result)) fail(member, "unsupported result type");
    for (const DispatchParam& param : member.params)
      if (!isParameterType(param.type)) fail(member, "unsupported parameter type");
    if (isPut(member.kind) && (member.params.empty() || member.result != VT_VOID))
      fail(member, "a put takes a value and returns nothing");
  }
  std::unordered_map<uint64_t, int> index;
  for (size_t i = 0; i < members.size(); ++i)
    index.emplace(indexKey(members[i].dispid, members[i].kind), static_cast<int>(i));
  data_ = std::make_shared<const Data>(Data{std::move(type), std::move(members), std::move(index)});
}

int DispatchTable::find(DISPID dispid, INVOKEKIND kind) const {
  auto found = data_->index.find(indexKey(dispid, kind));
  return found == data_->index.end() ? -1 : found->second;
}

int DispatchTable::findAny(DISPID dispid) const {
  const auto& list = members();
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].dispid == dispid) return static_cast<int>(i);
  return -1;
}

int DispatchTable::findName(std::u16string_view name) const {
  std::string ansi;
  if (!nameToAnsi(name, ansi)) return -1;
  const auto& list = members();
  for (size_t i = 0; i < list.size(); ++i)
    if (ansiSameText(list[i].name, ansi)) return static_cast<int>(i);
  return -1;
}

std::u16string DispatchTable::source() const {
  return type().source.empty() ? ansiToWide(type().name) : type().source;
}

HRESULT DispatchTable::getTypeInfoCount(UINT* pctinfo) const {
  if (!pctinfo) return E_INVALIDARG;
  *pctinfo = 1;
  return S_OK;
}

HRESULT DispatchTable::getTypeInfo(UINT iTInfo, ITypeInfo** ppTInfo) const {
  if (!ppTInfo) return E_INVALIDARG;
  *ppTInfo = nullptr;
  if (iTInfo != 0) return DISP_E_BADINDEX;
  return typeInfo().copyTo(ppTInfo);
}

ComPtr<ITypeInfo> DispatchTable::typeInfo() const {
  return ComPtr<ITypeInfo>(new TableTypeInfo(*this));
}

HRESULT DispatchTable::getIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                     DISPID* rgDispId) const {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (cNames == 0) return S_OK;
  if (!rgszNames || !rgDispId) return E_INVALIDARG;
  for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
  if (!rgszNames[0]) return DISP_E_UNKNOWNNAME;
  int index = findName(std::u16string_view(rgszNames[0], wideLength(rgszNames[0])));
  if (index < 0) return DISP_E_UNKNOWNNAME;
  const DispatchMember& member = members()[static_cast<size_t>(index)];
  rgDispId[0] = member.dispid;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < cNames; ++i) {
    std::string ansi;
    if (rgszNames[i] &&
        nameToAnsi(std::u16string_view(rgszNames[i], wideLength(rgszNames[i])), ansi)) {
      for (size_t k = 0; k < member.params.size(); ++k)
        if (!member.params[k].name.empty() && ansiSameText(member.params[k].name, ansi))
          rgDispId[i] = static_cast<DISPID>(k);
    }
    if (rgDispId[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

// Maps each parameter to its argument (positions[k] is its index in rgvarg)
// and converts the arguments into call.args.
HRESULT DispatchTable::convertArguments(const DispatchMember& member, DISPPARAMS& params,
                                        std::vector<int>& positions, DispatchCall& call,
                                        UINT* puArgErr) const {
  const size_t count = member.params.size();
  const bool put = isPut(member.kind);
  if (params.cArgs != count) return DISP_E_BADPARAMCOUNT;
  positions.assign(count, -1);
  const UINT positional = params.cArgs - params.cNamedArgs;
  for (UINT i = 0; i < positional; ++i) positions[i] = static_cast<int>(params.cArgs - 1 - i);
  bool valueNamed = false;
  for (UINT j = 0; j < params.cNamedArgs; ++j) {
    DISPID named = params.rgdispidNamedArgs[j];
    int64_t k = named;
    if (put && named == DISPID_PROPERTYPUT) {
      k = static_cast<int64_t>(count) - 1;
      valueNamed = true;
    } else if (put && k == static_cast<int64_t>(count) - 1) {
      k = -1;  // the value goes only by DISPID_PROPERTYPUT
    }
    if (k < 0 || k >= static_cast<int64_t>(count) || positions[static_cast<size_t>(k)] >= 0) {
      if (puArgErr) *puArgErr = j;
      return DISP_E_PARAMNOTFOUND;
    }
    positions[static_cast<size_t>(k)] = static_cast<int>(j);
  }
  if (put && !valueNamed) {
    if (puArgErr) *puArgErr = 0;
    return DISP_E_PARAMNOTFOUND;
  }

  call.args.resize(count);
  for (size_t k = 0; k < count; ++k) {
    VARIANT& arg = params.rgvarg[positions[k]];
    VARTYPE declared = member.params[k].type;
    HRESULT hr = S_OK;
    if (declared & VT_BYREF) {
      VARTYPE base = declared & ~VT_BYREF;
      VARTYPE referred = arg.vt & ~VT_BYREF;
      if (!(arg.vt & VT_BYREF) || !arg.byref ||
          !(base == VT_VARIANT || referred == VT_VARIANT || referred == base))
        hr = DISP_E_TYPEMISMATCH;
      else if (base == VT_VARIANT)
        hr = VariantCopyInd(&call.args[k], &arg);
      else
        hr = VariantChangeType(&call.args[k], &arg, 0, base);
    } else if (declared == VT_VARIANT) {
      hr = VariantCopyInd(&call.args[k], &arg);
    } else {
      hr = VariantChangeType(&call.args[k], &arg, 0, declared);
    }
    if (FAILED(hr)) {
      if (puArgErr) *puArgErr = static_cast<UINT>(positions[k]);
      return hr == E_INVALIDARG ? DISP_E_TYPEMISMATCH : hr;
    }
  }
  return S_OK;
}

HRESULT DispatchTable::invoke(const MemberInvoker& invoker, DISPID dispIdMember, REFIID riid,
                              LCID lcid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                              EXCEPINFO* pExcepInfo, UINT* puArgErr) const {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (!pDispParams || (pDispParams->cArgs && !pDispParams->rgvarg) ||
      pDispParams->cNamedArgs > pDispParams->cArgs ||
      (pDispParams->cNamedArgs && !pDispParams->rgdispidNamedArgs))
    return E_INVALIDARG;

  int index = -1;
  if (wFlags & DISPATCH_PROPERTYPUT) index = find(dispIdMember, INVOKE_PROPERTYPUT);
  if (index < 0 && (wFlags & DISPATCH_PROPERTYPUTREF))
    index = find(dispIdMember, INVOKE_PROPERTYPUTREF);
  if (!(wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))) {
    if (wFlags & DISPATCH_METHOD) index = find(dispIdMember, INVOKE_FUNC);
    if (index < 0 && (wFlags & DISPATCH_PROPERTYGET))
      index = find(dispIdMember, INVOKE_PROPERTYGET);
  }
  if (index < 0) return DISP_E_MEMBERNOTFOUND;
  const DispatchMember& member = members()[static_cast<size_t>(index)];

  DispatchCall call{member, {}, {}, lcid};
  ArgumentLease lease(call);
  std::vector<int> positions;
  HRESULT hr = convertArguments(member, *pDispParams, positions, call, puArgErr);
  if (FAILED(hr)) return hr;

  try {
    invoker(static_cast<size_t>(index), call);
  } catch (...) {
    std::exception_ptr error = std::current_exception();
    HRESULT code = exceptionCode(error);
    std::u16string description = exceptionDescription(error);
    if (pExcepInfo) {
      *pExcepInfo = EXCEPINFO{};
      pExcepInfo->scode = code;
      pExcepInfo->bstrSource = source();
      pExcepInfo->bstrDescription = std::move(description);
      pExcepInfo->dwHelpContext = exceptionHelpContext(error);
    } else {
      reportError(code, type().iid, source(), description, exceptionHelpContext(error));
    }
    return DISP_E_EXCEPTION;
  }

  for (size_t k = 0; k < member.params.size(); ++k) {
    if (!(member.params[k].type & VT_BYREF)) continue;
    hr = storeThroughReference(pDispParams->rgvarg[positions[k]], call.args[k]);
    if (FAILED(hr)) {
      if (puArgErr) *puArgErr = static_cast<UINT>(positions[k]);
      return hr;
    }
  }

  if (pVarResult && !isPut(member.kind)) {
    if (member.result == VT_VOID) {
      call.result.clear();
    } else if (member.result != VT_VARIANT) {
      hr = call.result.changeType(member.result);
      if (FAILED(hr)) return hr;
    }
    hr = VariantClear(pVarResult);
    if (FAILED(hr)) return hr;
    VARIANT content = call.result.detach();
    *pVarResult = std::move(content);
  }
  return S_OK;
}

template <class Arg>
HRESULT DispatchTable::callWith(const MemberInvoker& invoker, DISPID dispid, INVOKEKIND kind,
                                std::span<Arg> args, Variant* result) const {
  int index = find(dispid, kind);
  if (index < 0) return DISP_E_MEMBERNOTFOUND;
  const DispatchMember& member = members()[static_cast<size_t>(index)];
  DispatchCall call{member, {}, {}, LOCALE_USER_DEFAULT};
  ArgumentLease lease(call);
  bool byReference = false;
  for (const DispatchParam& param : member.params)
    byReference = byReference || (param.type & VT_BYREF);
  if (byReference || args.size() != member.params.size()) {
    // The arguments travel as Invoke has them, so both ways convert alike.
    std::vector<Variant> reversed(args.rbegin(), args.rend());
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (isPut(kind) && !reversed.empty()) {
      params.rgdispidNamedArgs = &putId;
      params.cNamedArgs = 1;
    }
    std::vector<int> positions;
    HRESULT hr = convertArguments(member, params, positions, call, nullptr);
    if (FAILED(hr)) return hr;
  } else {
    // In order and by value: each argument converted as Invoke converts it.
    call.args.resize(args.size());
    for (size_t k = 0; k < args.size(); ++k) {
      VARTYPE declared = member.params[k].type;
      HRESULT hr;
      if constexpr (!std::is_const_v<Arg>) {
        if (args[k].vt == declared && declared != VT_VARIANT) {
          call.args[k] = std::move(args[k]);
          continue;
        }
      }
      if (declared == VT_VARIANT)
        hr = VariantCopyInd(&call.args[k], &args[k]);
      else
        hr = VariantChangeType(&call.args[k], &args[k], 0, declared);
      if (FAILED(hr)) return hr == E_INVALIDARG ? DISP_E_TYPEMISMATCH : hr;
    }
  }
  try {
    invoker(static_cast<size_t>(index), call);
    if (member.result != VT_VOID && member.result != VT_VARIANT)
      oleCheck(call.result.changeType(member.result));
  } catch (...) {
    return reportCurrentFailure();
  }
  if (result) *result = std::move(call.result);
  return S_OK;
}

HRESULT DispatchTable::reportCurrentFailure() const {
  return reportCurrentException(type().iid, source());
}

HRESULT DispatchTable::call(const MemberInvoker& invoker, DISPID dispid, INVOKEKIND kind,
                            std::span<const Variant> args, Variant* result) const {
  return callWith(invoker, dispid, kind, args, result);
}

HRESULT DispatchTable::callTaking(const MemberInvoker& invoker, DISPID dispid, INVOKEKIND kind,
                                  std::span<Variant> args, Variant* result) const {
  return callWith(invoker, dispid, kind, args, result);
}

}  // namespace mirelo
