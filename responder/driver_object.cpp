#include "responder/driver_object.h"

#include "client/call_failure.h"
#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {

ComPtr<IVistel4> createDriverObject() { return createVistelObject<IVistel4>(); }

// ---- sink ----

HRESULT TDataEventSink::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT TDataEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                               EXCEPINFO*, UINT*) {
  if (id != DISPID_DataEvent || !params || params->cArgs < 2 || !handler_) return S_OK;
  try {
    // Arguments arrive last first: Data, then SenderID. The usual types are
    // read in place, anything else converted.
    const VARIANT& dataArg = params->rgvarg[params->cArgs - 1];
    const VARIANT& idArg = params->rgvarg[0];
    std::string data =
        dataArg.vt == VT_BSTR ? wideToAnsi(dataArg.bstrVal) : Variant(dataArg).toAnsi();
    int32_t senderId = idArg.vt == VT_I4 ? idArg.lVal : Variant(idArg).toInt();
    handler_(data, senderId);
  } catch (const std::exception& e) {
    lastHandlerError = e.what();
  }
  return S_OK;
}

// ---- object ----

TDriverObject::TDriverObject(TDataEventSink::Handler onData)
    : object_(createDriverObject()), sink_(new TDataEventSink(std::move(onData))) {
  if (!object_) throw Exception("Не удалось создать объект драйвера");
  ComPtr<IConnectionPointContainer> container = object_.as<IConnectionPointContainer>();
  if (!container) throw Exception("Объект драйвера не поддерживает события");
  check(container->FindConnectionPoint(DIID_IVistelEvents, point_.put()), "FindConnectionPoint");
  check(point_->Advise(static_cast<IDispatch*>(sink_.get()), &cookie_), "Advise");
}

TDriverObject::~TDriverObject() {
  if (point_ && cookie_) point_->Unadvise(cookie_);
}

void TDriverObject::check(HRESULT hr, const char* member) {
  if (SUCCEEDED(hr)) return;
  CallFailure failure = takeCallFailure(hr);
  if (failure.described) throw Exception(failure.text);
  throw Exception(format("%s: 0x%.8X", member, static_cast<unsigned>(hr)));
}

namespace {
template <class Slot>
int32_t callMethod(IVistel4& object, Slot slot, LONG& result) {
  result = 0;
  return (object.*slot)(&result);
}
}  // namespace

#define MIRELO_CALL(name)                                 \
  int32_t TDriverObject::name() {                         \
    LONG result = 0;                                      \
    check(callMethod(*object_, &IVistel4::name, result), #name); \
    return result;                                        \
  }
MIRELO_CALL(OpenServer)
MIRELO_CALL(CloseServer)
MIRELO_CALL(SendAnswer)
MIRELO_CALL(GetSenderParams)
MIRELO_CALL(ShowProperties)
#undef MIRELO_CALL

bool TDriverObject::ServerOpened() {
  VARIANT_BOOL value = VARIANT_FALSE;
  check(object_->get_ServerOpened(&value), "ServerOpened");
  return value != VARIANT_FALSE;
}

int32_t TDriverObject::ResultCode() {
  LONG value = 0;
  check(object_->get_ResultCode(&value), "ResultCode");
  return value;
}

std::string TDriverObject::ResultCodeDescription() {
  BSTR value;
  check(object_->get_ResultCodeDescription(&value), "ResultCodeDescription");
  return wideToAnsi(value);
}

int32_t TDriverObject::ServerPort() {
  LONG value = 0;
  check(object_->get_ServerPort(&value), "ServerPort");
  return value;
}

int32_t TDriverObject::ServerProtocol() {
  LONG value = 0;
  check(object_->get_ServerProtocol(&value), "ServerProtocol");
  return value;
}

std::string TDriverObject::SenderIP() {
  BSTR value;
  check(object_->get_SenderIP(&value), "SenderIP");
  return wideToAnsi(value);
}

void TDriverObject::SetSenderID(int32_t id) { check(object_->put_SenderID(id), "SenderID"); }
void TDriverObject::SetLine1(const std::string& text) { check(object_->put_Line1(ansiToWide(text)), "Line1"); }
void TDriverObject::SetLine2(const std::string& text) { check(object_->put_Line2(ansiToWide(text)), "Line2"); }

}  // namespace mirelo
