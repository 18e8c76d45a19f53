#pragma once
// What every host needs to hear the driver object: a sink on IVistelEvents
// and its connection to the object's connection point.
#include <cstdint>
#include <functional>
#include <string>

#include "mirelo/vistel.h"
#include "platform/com/connection_point.h"
#include "platform/com/unknown.h"

namespace mirelo {

// Hands DataEvent and LogEvent on with their Data as the automation
// boundary's UTF-16. An event without a handler is dropped. A handler that
// raises is reported through OnHandlerError (its message, Windows-1251) and
// the sink still answers success, so the driver goes on delivering its queue.
class TVistelEventSink : public ComObject<IVistelEvents> {
 public:
  std::function<void(const std::u16string& data, int32_t senderId)> OnDataEvent;
  std::function<void(const std::u16string& line)> OnLogEvent;
  std::function<void(const std::string& message)> OnHandlerError;

  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                 UINT*) override;
};

// The sink connected to the object's IVistelEvents for as long as this
// lives. Raises Exception when the object has no such events or refuses.
class TEventConnection {
 public:
  TEventConnection(IVistel4& object, IDispatch* sink);
  ~TEventConnection();
  TEventConnection(const TEventConnection&) = delete;
  TEventConnection& operator=(const TEventConnection&) = delete;

 private:
  ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
};

// Returns for a success status of a call on the object; raises Exception
// with the object's text, or, when the object left none, with the member's
// name and the status's text.
void checkMemberCall(HRESULT hr, const char* member);

}  // namespace mirelo
