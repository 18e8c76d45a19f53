#include "responder/driver_object.h"

#include "platform/cp1251.h"
#include "platform/exception.h"

namespace mirelo {

ComPtr<IVistel4> createDriverObject() {
  return createVistelObject<IVistel4>();
}

// ---- sink ----

TDataEventSink::TDataEventSink(Handler handler) {
  if (handler)
    OnDataEvent = [handler = std::move(handler)](const std::u16string& data, int32_t senderId) {
      handler(wideToAnsi(data), senderId);
    };
  OnHandlerError = [this](const std::string& message) { lastHandlerError = message; };
}

// ---- object ----

TDriverObject::TDriverObject(TDataEventSink::Handler onData)
    : object_(createDriverObject()), sink_(new TDataEventSink(std::move(onData))) {
  if (!object_) throw Exception("Не удалось создать объект драйвера");
  events_ = std::make_unique<TEventConnection>(*object_, sink_.get());
}

TDriverObject::~TDriverObject() = default;

void TDriverObject::check(HRESULT hr, const char* member) {
  checkMemberCall(hr, member);
}

namespace {
template <class Slot>
int32_t callMethod(IVistel4& object, Slot slot, LONG& result) {
  result = 0;
  return (object.*slot)(&result);
}
}  // namespace

#define MIRELO_CALL(name)                                        \
  int32_t TDriverObject::name() {                                \
    LONG result = 0;                                             \
    check(callMethod(*object_, &IVistel4::name, result), #name); \
    return result;                                               \
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

void TDriverObject::SetSenderID(int32_t id) {
  check(object_->put_SenderID(id), "SenderID");
}
// Converted into one buffer: the lines are set for every scan.
void TDriverObject::SetLine1(std::string_view text) {
  ansiToWide(text, wide_);
  check(object_->put_Line1(wide_), "Line1");
}
void TDriverObject::SetLine2(std::string_view text) {
  ansiToWide(text, wide_);
  check(object_->put_Line2(wide_), "Line2");
}

}  // namespace mirelo
