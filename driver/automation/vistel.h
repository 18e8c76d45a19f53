#pragma once
// TVistel: the automation object behind the class Vistel. Every operation
// takes its inputs from properties set before the call, leaves its outputs
// in properties and reports its outcome as ResultCode and
// ResultCodeDescription; the call itself succeeds. A failing property write
// fails the call instead, with the message in the error information.
//
// The virtual-table slots, the dispatch table and the type information all
// come from the member table (vistel_members.h); each member's behaviour is
// one Do/Get/Set function below, which every path runs, a failure reported
// alike.
#include <memory>
#include <string>
#include <type_traits>

#include "driver/devices/device_search.h"
#include "driver/devices/devices.h"
#include "driver/devices/driver_params.h"
#include "driver/protocol/custom_driver.h"
#include "driver/protocol/status_rec.h"
#include "driver/tables/tables.h"
#include "mirelo/vistel.h"
#include "platform/com/connection_point.h"
#include "platform/com/dispatch_table.h"
#include "platform/com/property_notify.h"
#include "platform/com/unknown.h"

namespace mirelo {

class Registry;

// The concrete driver core of the automation object.
class TDriver : public TCustomDriver {};

struct TLineRec {
  int32_t LineNumber = 0;
  int32_t LineType = 0;
  int32_t LineSpeed = 0;
  std::string LineData;
};

struct TDumpRec {
  uint8_t DeviceCode = 0;
  uint16_t BlockNumber = 0;
  uint16_t BlockCount = 0;
  std::string Data;
};

// The C++ type that holds a member's value.
template <class T>
struct MemberType {
  using type = T;
};
template <>
struct MemberType<VARIANT> {
  using type = Variant;
};

class TVistel : public ComObject<DispatchImpl<TVistel, IVistel4>, IConnectionPointContainer,
                                 IVistelSearch, IVistelProgress> {
 public:
  // Initialises as the control framework does: log defaults, device list,
  // driver parameters, the current device applied. Failures there end the
  // sequence silently.
  TVistel();
  // Saves the device list and the parameters (the outcome is ignored).
  ~TVistel() override;

  static const DispatchMap<TVistel>& dispatchMap();

  // ---- virtual-table slots (each does what its dispatch handler does) ----
#define MIRELO_IMPL_ABOUT(name, id, T)  \
  HRESULT name() override {             \
    return callMember(id, INVOKE_FUNC); \
  }
#define MIRELO_IMPL_METHOD(name, id, T)          \
  HRESULT name(LONG* Value) override {           \
    if (!Value) return E_POINTER;                \
    return direct([&] { *Value = Do##name(); }); \
  }
#define MIRELO_IMPL_READ(name, id, T)     \
  HRESULT get_##name(T* Value) override { \
    return slotGet(id, Value);            \
  }
#define MIRELO_IMPL_READWRITE(name, id, T)              \
  MIRELO_IMPL_READ(name, id, T)                         \
  HRESULT put_##name(SlotArg<T>::type Value) override { \
    if constexpr (std::is_same_v<T, VARIANT>)           \
      return slotPut(id, Variant(Value));               \
    else                                                \
      return direct([&] { Set##name(Value); });         \
  }
#define MIRELO_IMPL(kind, name, id, T, help) MIRELO_IMPL_##kind(name, id, T)
  MIRELO_IVISTEL_MEMBERS(MIRELO_IMPL)
  MIRELO_IVISTEL2_MEMBERS(MIRELO_IMPL)
  MIRELO_IVISTEL3_MEMBERS(MIRELO_IMPL)
  MIRELO_IVISTEL4_MEMBERS(MIRELO_IMPL)
#undef MIRELO_IMPL

  // ---- IConnectionPointContainer ----
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

  // ---- private interfaces ----
  HRESULT StartSearch(const BSTR& address, LONG localPort, LONG remotePort, VARIANT_BOOL allTypes,
                      IVistelSearchSink* sink, LONG* resultCode) override;
  HRESULT StopSearch() override;
  HRESULT SetProgressSink(IVistelProgressSink* sink) override;

  // ---- events ----
  // Raises DataEvent on the connected sink; without one the message is dropped.
  virtual void FireDataEvent(const std::string& data, int32_t senderId);
  void FireLogEvent(const std::string& line);

  // ---- member behaviour ----
  // Methods return the result code; property reads never change it.
#define MIRELO_DECL_ABOUT(name, id, T) void Do##name();
#define MIRELO_DECL_METHOD(name, id, T) LONG Do##name();
#define MIRELO_DECL_READ(name, id, T) MemberType<T>::type Get##name();
#define MIRELO_DECL_READWRITE(name, id, T) \
  MIRELO_DECL_READ(name, id, T) void Set##name(const MemberType<T>::type& value);
#define MIRELO_DECL(kind, name, id, T, help) MIRELO_DECL_##kind(name, id, T)
  MIRELO_IVISTEL_MEMBERS(MIRELO_DECL)
  MIRELO_IVISTEL2_MEMBERS(MIRELO_DECL)
  MIRELO_IVISTEL3_MEMBERS(MIRELO_DECL)
  MIRELO_IVISTEL4_MEMBERS(MIRELO_DECL)
#undef MIRELO_DECL

  // The current logical device copied into the driver core.
  void ApplyDevice();
  TDriver& Driver();
  TDevices& Devices() {
    return devices_;
  }
  TFields& Fields();
  bool PropertyFrameShown() const {
    return propertyFrameShown_;
  }

 protected:
  void SetSuccess();
  void SetErrorFromException(const std::exception& error);

 private:
  template <class Body>
  LONG run(Body body);
  LONG fail(int32_t code, const std::string& text);
  // Methods and puts of plain values, the members a host calls on every
  // scan, run the function their dispatch handler runs, without the
  // table's look-up and argument conversion; a failure is reported as the
  // table reports it.
  template <class Body>
  HRESULT direct(Body body) {
    try {
      body();
      return S_OK;
    } catch (...) {
      return dispatchMap().table().reportCurrentFailure();
    }
  }
  template <class T>
  HRESULT slotGet(DISPID id, T* value);
  HRESULT slotPut(DISPID id, Variant value);
  TDevice& currentDevice();
  Registry& registry();
  void readFieldsStruct();
  void onSinkChanged(IUnknown* sink, bool connected);

  std::string line1_, line2_;
  TLineRec lineRec_;
  TDumpRec dump_;
  std::unique_ptr<TFields> fields_;
  std::unique_ptr<TDriver> driver_;
  TTableRec table_;
  TFieldRec field_;
  std::string senderIP_;
  uint8_t outputTime_ = 0;
  int32_t senderID_ = 0;
  TDevices devices_;
  TStatusRec status_{};
  bool statusRead_ = false;
  std::string clientData_, line1Params_, line2Params_, serverData_;
  int32_t resultCode_ = 0;
  bool lockDevices_ = false;
  std::string softFileName_;
  int32_t messageNumber_ = 0;
  bool propertyFrameShown_ = false;
  std::string resultText_;
  std::string fileName_;
  ComPtr<IDispatch> sink_;
  std::unique_ptr<TDeviceSearch> search_;
  ComPtr<IVistelSearchSink> searchSink_;
  ComPtr<IVistelProgressSink> progressSink_;
  std::string commandData_, barcode_;
  std::unique_ptr<Registry> registry_;
  // Why the store could not be read at initialisation (empty: it could);
  // the parameters as read or last saved.
  std::string storeFailure_;
  TDriverParams storedParams_;
  std::unique_ptr<ConnectionPoint> events_;
  std::unique_ptr<ConnectionPoint> propertyNotify_;
};

// A new object with one reference, as the class factory hands it out.
ComPtr<IVistel4> CreateVistel();

}  // namespace mirelo
