#include "driver/addin/ole_1c.h"

#include <exception>

#include "platform/com/error_info.h"
#include "platform/com/variant_array.h"
#include "platform/cp1251.h"
#include "platform/format.h"

namespace mirelo {

namespace {

// The platform's reason when it left one (why it refused an event), else the
// status's own text.
std::string failureText(HRESULT hr) {
  ComPtr<IErrorInfo> info;
  BSTR description;
  if (GetErrorInfo(0, info.put()) == S_OK && SUCCEEDED(info->GetDescription(&description)) &&
      !description.empty())
    return wideToAnsi(description);
  return hresultMessage(hr);
}

}  // namespace

Tole1C::Tole1C() : TControlInterfaces(static_cast<TVistel&>(*this)) {}

Tole1C::~Tole1C() = default;

void* Tole1C::queryOther(REFIID riid) {
  if (riid == IID_IInitDone) return static_cast<IInitDone*>(this);
  if (void* found = queryControlInterface(riid)) return found;
  return ToleAddin::queryOther(riid);
}

HRESULT Tole1C::Init(IDispatch* pConnection) {
  asyncEvent_ = nullptr;
  if (pConnection) pConnection->QueryInterface(IID_IAsyncEvent, asyncEvent_.putVoid());
  return S_OK;
}

HRESULT Tole1C::Done() {
  asyncEvent_ = nullptr;
  return S_OK;
}

HRESULT Tole1C::GetInfo(SAFEARRAY** pInfo) {
  VARIANT* first = pInfo ? variantArrayElement(*pInfo, 0) : nullptr;
  if (!first) return S_FALSE;
  VariantClear(first);
  Variant version(u"1000");
  *first = version.detach();
  return S_OK;
}

void Tole1C::FireDataEvent(const std::string& data, int32_t senderId) {
  std::exception_ptr failure;
  try {
    ToleAddin::FireDataEvent(data, senderId);
  } catch (...) {
    // The host's sink failing is no reason to keep the message from the platform.
    failure = std::current_exception();
  }
  // A reference of its own: the platform may call Done from inside the event.
  if (ComPtr<IAsyncEvent> platform = asyncEvent_) {
    SetErrorInfo(0, nullptr);  // what failed before is not the platform's reason
    HRESULT hr =
        platform->ExternalEvent(u"Vistel", ansiToWide(format("%d", senderId)), ansiToWide(data));
    if (FAILED(hr) && !failure)
      failure = std::make_exception_ptr(EOleSysError("ExternalEvent: " + failureText(hr), hr));
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace mirelo
