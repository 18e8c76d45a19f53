#include "client/call_failure.h"

#include "driver/errors/driver_error.h"
#include "platform/com/error_info.h"
#include "platform/cp1251.h"

namespace mirelo {

CallFailure takeCallFailure(HRESULT hr) {
  CallFailure failure{ResultCode::General, hresultMessage(hr), false};
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return failure;
  BSTR description;
  if (SUCCEEDED(info->GetDescription(&description)) && !description.empty()) {
    failure.text = wideToAnsi(description);
    failure.described = true;
  }
  DWORD context = 0;
  if (SUCCEEDED(info->GetHelpContext(&context)) && context != 0)
    failure.code = static_cast<int32_t>(context);
  return failure;
}

void checkCall(HRESULT hr) {
  if (SUCCEEDED(hr)) return;
  CallFailure failure = takeCallFailure(hr);
  throw EDriverError(failure.code, failure.text);
}

}  // namespace mirelo
