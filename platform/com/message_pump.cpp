#include "platform/com/message_pump.h"

#include <exception>

#include "platform/com/error_info.h"
#include "platform/message_loop.h"

namespace mirelo {

HRESULT pumpGetDescriptor(INT* pFd) {
  if (!pFd) return E_POINTER;
  *pFd = -1;
  try {
    *pFd = MessageLoop::current().fd();
    return S_OK;
  } catch (...) {
    return exceptionCode(std::current_exception());
  }
}

HRESULT pumpProcessMessages(INT* pDelivered) {
  if (pDelivered) *pDelivered = 0;
  try {
    int delivered = MessageLoop::current().processMessages();
    if (pDelivered) *pDelivered = delivered;
    return S_OK;
  } catch (...) {
    return exceptionCode(std::current_exception());
  }
}

}  // namespace mirelo
