#include "testbench/vistel_object.h"

#include "client/call_failure.h"
#include "forms/qt_text.h"
#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {

HRESULT TEventSink::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT TEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                           UINT*) {
  if (!params || params->cArgs < 1) return S_OK;
  try {
    // Arguments arrive last first: Data, then SenderID.
    QString data = fromWide(Variant(params->rgvarg[params->cArgs - 1]).toString());
    if (id == DISPID_DataEvent && params->cArgs >= 2 && OnDataEvent)
      OnDataEvent(data, Variant(params->rgvarg[0]).toInt());
    else if (id == DISPID_LogEvent && OnLogEvent)
      OnLogEvent(data);
  } catch (const std::exception& e) {
    if (OnHandlerError) OnHandlerError(fromAnsi(e.what()));
  }
  return S_OK;
}

TVistelObject::TVistelObject(ComPtr<TEventSink> sink) : object_(createVistelObject<IVistel4>()) {
  ComPtr<IConnectionPointContainer> container = object_.as<IConnectionPointContainer>();
  if (!container)
    throw Exception(toAnsi(QString::fromUtf16(u"Объект драйвера не поддерживает события")));
  check(container->FindConnectionPoint(DIID_IVistelEvents, point_.put()), "FindConnectionPoint");
  check(point_->Advise(static_cast<IDispatch*>(sink.get()), &cookie_), "Advise");
}

TVistelObject::~TVistelObject() {
  if (point_ && cookie_) point_->Unadvise(cookie_);
}

void TVistelObject::check(HRESULT hr, const char* member) {
  if (SUCCEEDED(hr)) return;
  CallFailure failure = takeCallFailure(hr);
  if (failure.described) throw Exception(failure.text);
  throw Exception(format("%s: %s", member, failure.text.c_str()));
}

int32_t TVistelObject::call(HRESULT (IVistel4::*method)(LONG*), const char* member) {
  LONG result = 0;
  check((object_.get()->*method)(&result), member);
  return result;
}

int32_t TVistelObject::getLong(HRESULT (IVistel4::*get)(LONG*), const char* member) {
  LONG value = 0;
  check((object_.get()->*get)(&value), member);
  return value;
}

QString TVistelObject::getText(HRESULT (IVistel4::*get)(BSTR*), const char* member) {
  BSTR value;
  check((object_.get()->*get)(&value), member);
  return fromWide(value);
}

bool TVistelObject::getBool(HRESULT (IVistel4::*get)(VARIANT_BOOL*), const char* member) {
  VARIANT_BOOL value = VARIANT_FALSE;
  check((object_.get()->*get)(&value), member);
  return value != VARIANT_FALSE;
}

std::string TVistelObject::DataBlockBytes() {
  Variant value;
  check(object_->get_DataBlockSA(&value), "DataBlockSA");
  return value.toBytes();
}

}  // namespace mirelo
