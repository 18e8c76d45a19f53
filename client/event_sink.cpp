#include "client/event_sink.h"

#include "client/call_failure.h"
#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {

HRESULT TVistelEventSink::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT TVistelEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                 EXCEPINFO*, UINT*) {
  if (!params || params->cArgs < 1) return S_OK;
  try {
    // Arguments arrive last first: Data, then SenderID. Of the usual types
    // they are read in place (an event per scan), others converted.
    const VARIANT& data = params->rgvarg[params->cArgs - 1];
    auto withText = [&data](const auto& take) {
      if (data.vt == VT_BSTR)
        take(data.bstrVal);
      else
        take(Variant(data).toString());
    };
    if (id == DISPID_DataEvent && params->cArgs >= 2 && OnDataEvent) {
      const VARIANT& sender = params->rgvarg[0];
      int32_t senderId = sender.vt == VT_I4 ? sender.lVal : Variant(sender).toInt();
      withText([&](const std::u16string& text) { OnDataEvent(text, senderId); });
    } else if (id == DISPID_LogEvent && OnLogEvent) {
      withText([&](const std::u16string& text) { OnLogEvent(text); });
    }
  } catch (const std::exception& e) {
    if (OnHandlerError) OnHandlerError(e.what());
  }
  return S_OK;
}

TEventConnection::TEventConnection(IVistel4& object, IDispatch* sink) {
  ComPtr<IConnectionPointContainer> container =
      ComPtr<IVistel4>(&object).as<IConnectionPointContainer>();
  if (!container) throw Exception("Объект драйвера не поддерживает события");
  checkMemberCall(container->FindConnectionPoint(DIID_IVistelEvents, point_.put()),
                  "FindConnectionPoint");
  checkMemberCall(point_->Advise(sink, &cookie_), "Advise");
}

TEventConnection::~TEventConnection() {
  if (point_ && cookie_) point_->Unadvise(cookie_);
}

void checkMemberCall(HRESULT hr, const char* member) {
  if (SUCCEEDED(hr)) return;
  CallFailure failure = takeCallFailure(hr);
  if (failure.described) throw Exception(failure.text);
  throw Exception(format("%s: %s", member, failure.text.c_str()));
}

}  // namespace mirelo
