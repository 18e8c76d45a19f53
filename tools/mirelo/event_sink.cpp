#include "tools/mirelo/event_sink.h"

#include <stdexcept>

#include "platform/com/hresult.h"
#include "platform/com/variant.h"
#include "platform/format.h"

namespace mirelo::shell {
namespace {

size_t wideLength(LPCOLESTR text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

// Argument index (0 is the first parameter) converted to vt; rgvarg holds
// the arguments last first.
HRESULT argument(DISPPARAMS& params, UINT index, VARTYPE vt, Variant& value, UINT* puArgErr) {
  UINT position = params.cArgs - 1 - index;
  HRESULT hr = VariantChangeType(&value, &params.rgvarg[position], 0, vt);
  if (FAILED(hr) && puArgErr) *puArgErr = position;
  return hr;
}

}  // namespace

EventSink::EventSink(DataHandler onData, LogHandler onLog)
    : onData_(std::move(onData)), onLog_(std::move(onLog)) {}

HRESULT EventSink::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_INVALIDARG;
  *pctinfo = 0;
  return S_OK;
}

HRESULT EventSink::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
  if (ppTInfo) *ppTInfo = nullptr;
  return E_NOTIMPL;
}

HRESULT EventSink::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                                 DISPID* rgDispId) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (cNames == 0) return S_OK;
  if (!rgszNames || !rgDispId) return E_INVALIDARG;
  for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
  if (!rgszNames[0]) return DISP_E_UNKNOWNNAME;
  std::u16string_view name(rgszNames[0], wideLength(rgszNames[0]));
  if (name == u"DataEvent") rgDispId[0] = DISPID_DataEvent;
  if (name == u"LogEvent") rgDispId[0] = DISPID_LogEvent;
  return rgDispId[0] == DISPID_UNKNOWN || cNames > 1 ? DISP_E_UNKNOWNNAME : S_OK;
}

HRESULT EventSink::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                          DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO*,
                          UINT* puArgErr) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (!(wFlags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  if (!pDispParams || (pDispParams->cArgs && !pDispParams->rgvarg)) return E_INVALIDARG;
  if (pDispParams->cNamedArgs) return DISP_E_NONAMEDARGS;
  if (pVarResult) VariantClear(pVarResult);

  DISPPARAMS& params = *pDispParams;
  Variant data, sender;
  HRESULT hr;
  switch (dispIdMember) {
    case DISPID_DataEvent:
      if (params.cArgs != 2) return DISP_E_BADPARAMCOUNT;
      if (FAILED(hr = argument(params, 0, VT_BSTR, data, puArgErr))) return hr;
      if (FAILED(hr = argument(params, 1, VT_I4, sender, puArgErr))) return hr;
      if (onData_) onData_(sender.lVal, data.bstrVal);
      return S_OK;
    case DISPID_LogEvent:
      if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
      if (FAILED(hr = argument(params, 0, VT_BSTR, data, puArgErr))) return hr;
      if (onLog_) onLog_(data.bstrVal);
      return S_OK;
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

EventConnection::EventConnection(IUnknown& object, IUnknown& sink) {
  ComPtr<IConnectionPointContainer> container;
  HRESULT hr = object.QueryInterface(IID_IConnectionPointContainer, container.putVoid());
  if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(DIID_IVistelEvents, point_.put());
  if (SUCCEEDED(hr)) hr = point_->Advise(&sink, &cookie_);
  if (FAILED(hr)) {
    cookie_ = 0;
    point_ = nullptr;
    throw std::runtime_error(
        format("cannot connect to the object's events (%s)", hresultMessage(hr).c_str()));
  }
}

EventConnection::~EventConnection() {
  disconnect();
}

void EventConnection::disconnect() {
  if (point_ && cookie_) point_->Unadvise(cookie_);
  cookie_ = 0;
  point_ = nullptr;
}

}  // namespace mirelo::shell
