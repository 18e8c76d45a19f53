#include "driver/addin/ole_addin.h"

#include "platform/com/error_info.h"
#include "platform/cp1251.h"

namespace mirelo {

namespace {

// Windows-1251 of a platform name, or false when the name has characters
// that the code page lacks (no member can be named so).
bool nameToAnsi(const BSTR& name, std::string& ansi) {
  ansi = wideToAnsi(name);
  return ansiToWide(ansi) == name;
}

HRESULT findItem(const TAddinItems& items, const BSTR& name, LONG* index) {
  if (!index) return S_FALSE;
  *index = -1;
  std::string ansi;
  if (!nameToAnsi(name, ansi)) return S_FALSE;
  int found = items.Find(ansi);
  if (found < 0) return S_FALSE;
  *index = found;
  return S_OK;
}

HRESULT itemName(const TAddinItems& items, LONG index, LONG alias, BSTR* name) {
  const TAddinItem* item = items.ItemAt(index);
  if (!item || !name) return S_FALSE;
  *name = ansiToWide(alias == 0 ? item->Name : item->LocalName);
  return S_OK;
}

}  // namespace

ToleAddin::ToleAddin()
    : props_(std::make_unique<TAddinItems>()), methods_(std::make_unique<TAddinItems>()) {
  buildTables();
}

ToleAddin::~ToleAddin() {
  props_.reset();
  methods_.reset();
}

void ToleAddin::buildTables() {
  props_->Clear();
  methods_->Clear();
  ComPtr<ITypeInfo> info;
  if (FAILED(GetTypeInfo(0, 0, info.put())) || !info) return;
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr)) || !attr) return;
  UINT count = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < count; ++i) {
    FuncDescHolder holder{*info};
    if (FAILED(info->GetFuncDesc(i, &holder.desc)) || !holder.desc) continue;
    const FUNCDESC& desc = *holder.desc;
    BSTR name, help;
    if (FAILED(info->GetDocumentation(desc.memid, &name, &help, nullptr, nullptr))) continue;
    switch (desc.invkind) {
      case INVOKE_FUNC: {
        auto* item = new TAddinItem(methods_.get());
        item->DispID = desc.memid;
        item->Name = wideToAnsi(name);
        item->LocalName = wideToAnsi(help);
        break;
      }
      case INVOKE_PROPERTYGET: {
        auto* item = new TAddinItem(props_.get());
        item->DispID = desc.memid;
        item->Name = wideToAnsi(name);
        item->LocalName = wideToAnsi(help);
        item->IsReadable = 1;
        item->ValueType = static_cast<int32_t>(static_cast<uint16_t>(desc.elemdescFunc.tdesc.vt));
        break;
      }
      case INVOKE_PROPERTYPUT:
      case INVOKE_PROPERTYPUTREF:
        // A property that is only written is not offered.
        if (TAddinItem* item = props_->LastByDispID(desc.memid)) item->IsWritable = 1;
        break;
    }
  }
}

void* ToleAddin::queryOther(REFIID riid) {
  if (riid == IID_ILanguageExtender) return static_cast<ILanguageExtender*>(this);
  return TVistel::queryOther(riid);
}

HRESULT ToleAddin::invokeMember(DISPID dispid, WORD flags, DISPPARAMS& params, VARIANT* result) {
  // No EXCEPINFO: a failure's message goes to the thread's error information,
  // where the platform looks for it.
  return Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
}

HRESULT ToleAddin::RegisterExtensionAs(BSTR* bstrExtensionName) {
  if (!bstrExtensionName) return S_FALSE;
  *bstrExtensionName = u"Vistel";
  return S_OK;
}

HRESULT ToleAddin::GetNProps(LONG* plProps) {
  if (!plProps) return S_FALSE;
  *plProps = props_->Count();
  return S_OK;
}

HRESULT ToleAddin::FindProp(const BSTR& bstrPropName, LONG* plPropNum) {
  return findItem(*props_, bstrPropName, plPropNum);
}

HRESULT ToleAddin::GetPropName(LONG lPropNum, LONG lPropAlias, BSTR* pbstrPropName) {
  return itemName(*props_, lPropNum, lPropAlias, pbstrPropName);
}

HRESULT ToleAddin::GetPropVal(LONG lPropNum, VARIANT* pvarPropVal) {
  const TAddinItem* item = props_->ItemAt(lPropNum);
  if (!item || !pvarPropVal) return S_FALSE;
  VariantClear(pvarPropVal);
  Variant value;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  HRESULT hr = invokeMember(item->DispID, DISPATCH_PROPERTYGET, none, &value);
  if (SUCCEEDED(hr)) {
    try {
      // The platform has no automation Boolean or currency of its own.
      if (item->ValueType == VT_BOOL)
        value = Variant(static_cast<int32_t>(value.toBool() ? 1 : 0));
      else if (item->ValueType == VT_CY)
        value = Variant(value.toDouble());
    } catch (...) {
      return reportCurrentException(IID_ILanguageExtender, u"Vistel");
    }
  }
  *pvarPropVal = value.detach();
  return hr;
}

HRESULT ToleAddin::SetPropVal(LONG lPropNum, VARIANT* varPropVal) {
  const TAddinItem* item = props_->ItemAt(lPropNum);
  if (!item || !varPropVal) return S_FALSE;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{varPropVal, &named, 1, 1};
  return invokeMember(item->DispID, DISPATCH_PROPERTYPUT, params, nullptr);
}

HRESULT ToleAddin::IsPropReadable(LONG lPropNum, BOOL* pboolPropRead) {
  const TAddinItem* item = props_->ItemAt(lPropNum);
  if (!item || !pboolPropRead) return S_FALSE;
  *pboolPropRead = item->IsReadable;
  return S_OK;
}

HRESULT ToleAddin::IsPropWritable(LONG lPropNum, BOOL* pboolPropWrite) {
  const TAddinItem* item = props_->ItemAt(lPropNum);
  if (!item || !pboolPropWrite) return S_FALSE;
  *pboolPropWrite = item->IsWritable;
  return S_OK;
}

HRESULT ToleAddin::GetNMethods(LONG* plMethods) {
  if (!plMethods) return S_FALSE;
  *plMethods = methods_->Count();
  return S_OK;
}

HRESULT ToleAddin::FindMethod(const BSTR& bstrMethodName, LONG* plMethodNum) {
  return findItem(*methods_, bstrMethodName, plMethodNum);
}

HRESULT ToleAddin::GetMethodName(LONG lMethodNum, LONG lMethodAlias, BSTR* pbstrMethodName) {
  return itemName(*methods_, lMethodNum, lMethodAlias, pbstrMethodName);
}

HRESULT ToleAddin::GetNParams(LONG lMethodNum, LONG* plParams) {
  if (!methods_->ItemAt(lMethodNum) || !plParams) return S_FALSE;
  *plParams = 0;
  return S_OK;
}

HRESULT ToleAddin::GetParamDefValue(LONG, LONG, VARIANT* pvarParamDefValue) {
  if (!pvarParamDefValue) return S_FALSE;
  VariantClear(pvarParamDefValue);
  return S_OK;
}

HRESULT ToleAddin::HasRetVal(LONG, BOOL* pboolRetValue) {
  if (!pboolRetValue) return S_FALSE;
  *pboolRetValue = 1;
  return S_OK;
}

HRESULT ToleAddin::CallAsProc(LONG lMethodNum, SAFEARRAY**) {
  const TAddinItem* item = methods_->ItemAt(lMethodNum);
  if (!item) return S_FALSE;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  return invokeMember(item->DispID, DISPATCH_METHOD, none, nullptr);
}

HRESULT ToleAddin::CallAsFunc(LONG lMethodNum, VARIANT* pvarRetValue, SAFEARRAY**) {
  const TAddinItem* item = methods_->ItemAt(lMethodNum);
  if (!item || !pvarRetValue) return S_FALSE;
  VariantClear(pvarRetValue);
  Variant result;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  HRESULT hr = invokeMember(item->DispID, DISPATCH_METHOD, none, &result);
  *pvarRetValue = result.detach();
  return hr;
}

}  // namespace mirelo
