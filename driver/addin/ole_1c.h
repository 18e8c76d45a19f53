#pragma once
// Tole1C: the class of every object that the library's class factory makes.
// It adds IInitDone to ToleAddin and passes each terminal message on to the
// 1C:Enterprise platform as an external event, once the platform has
// connected through Init and until Done. It also answers the control
// framework's interfaces (control.h). A host that never calls Init sees the
// plain automation object.
#include "driver/addin/ole_addin.h"
#include "driver/automation/control.h"

namespace mirelo {

class Tole1C : public ToleAddin, public IInitDone, public TControlInterfaces {
 public:
  Tole1C();
  ~Tole1C() override;

  HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
    return ToleAddin::QueryInterface(riid, ppvObject);
  }
  ULONG AddRef() override { return ToleAddin::AddRef(); }
  ULONG Release() override { return ToleAddin::Release(); }

  // ---- IInitDone ----
  // Keeps the connection's IAsyncEvent (or none, when it offers none).
  HRESULT Init(IDispatch* pConnection) override;
  // Drops the platform's IAsyncEvent.
  HRESULT Done() override;
  // "1000", the add-in interface version, into element 0 of the array;
  // 1 (S_FALSE) without an array of VARIANT holding index 0.
  HRESULT GetInfo(SAFEARRAY** pInfo) override;

  // DataEvent to the host's sink (TVistel), then ExternalEvent("Vistel",
  // sender ID in decimal, data) to the platform when it is connected. A
  // failure of either is raised after both were tried, the sink's first:
  // the driver core logs it and goes on with the next message.
  void FireDataEvent(const std::string& data, int32_t senderId) override;

  bool PlatformConnected() const { return static_cast<bool>(asyncEvent_); }

 protected:
  void* queryOther(REFIID riid) override;

 private:
  ComPtr<IAsyncEvent> asyncEvent_;
};

}  // namespace mirelo
