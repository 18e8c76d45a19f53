#pragma once
// The shell's side of IVistelEvents: a small dispatch object that the driver
// object calls for DataEvent (1) and LogEvent (2), and the connection that
// advises it to the object's connection point and unadvises it again.
#include <cstdint>
#include <functional>
#include <string>

#include "mirelo/vistel.h"
#include "platform/com/connection_point.h"
#include "platform/com/unknown.h"

namespace mirelo::shell {

class EventSink final : public ComObject<IVistelEvents> {
 public:
  using DataHandler = std::function<void(int32_t senderId, const std::u16string& data)>;
  using LogHandler = std::function<void(const std::u16string& data)>;

  EventSink(DataHandler onData, LogHandler onLog);

  // No type information of its own: the object's describes the events.
  HRESULT GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  // "DataEvent" and "LogEvent"; their parameters by name are not offered.
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                        DISPID* rgDispId) override;
  // DataEvent(Data: text, SenderID: 32-bit) and LogEvent(Data: text), each
  // argument converted as automation converts it; other identifiers give
  // DISP_E_MEMBERNOTFOUND, another argument count DISP_E_BADPARAMCOUNT.
  HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

 private:
  DataHandler onData_;
  LogHandler onLog_;
};

// Advises a sink to an object's connection point for IVistelEvents for as
// long as it lives; the destructor (or disconnect) unadvises it, which must
// happen before the object is released.
class EventConnection {
 public:
  // Raises std::runtime_error when the object offers no such connection
  // point or refuses the sink.
  EventConnection(IUnknown& object, IUnknown& sink);
  ~EventConnection();
  EventConnection(const EventConnection&) = delete;
  EventConnection& operator=(const EventConnection&) = delete;

  void disconnect();
  bool connected() const { return cookie_ != 0; }

 private:
  ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
};

}  // namespace mirelo::shell
