#pragma once
// VistelComponent: the driver object offered to 1C:Enterprise as a Native
// component. It is a host of the driver like any program: it creates the
// object "Addin.Vistel" through the runtime, so one process has one driver
// library, one platform layer and one settings store whoever loads it. The
// object is the COM add-in of the driver (Tole1C), and the component drives
// that add-in's own IInitDone and ILanguageExtender: member tables, names in
// both languages, name lookup, the calls and the external events ("Vistel",
// sender ID in decimal, data) are the add-in's. This class carries values
// and strings across the Native contract; the types of the properties come
// from the interface's member table, so the Booleans the add-in reads as 0
// or 1 reach the platform as Booleans.
//
// Threads: every call into the driver is made on the component's driver
// thread (driver_thread.h). The platform's threads call the members below,
// which hand their driver work to that thread and wait; memory manager and
// AddError calls stay on the platform's calling thread. ExternalEvent is
// called from the driver thread, whenever a terminal's message arrives.
//
// Failures: a member call that fails in the driver (a rejected property
// write, SetDefaults, a value of the wrong type, no memory from the platform)
// is reported with AddError(1006, "Vistel", "(code) text") and the member
// returns false; operation methods return their result code and leave it in
// ResultCode, as they do for every host. Bad indexes and null pointers get
// false (-1 for names) and change nothing. Nothing is raised to the platform.
#include <string>
#include <vector>

#include "mirelo/addin_interfaces.h"
#include "native1c/driver_thread.h"
#include "native1c/native_api.h"
#include "native1c/values.h"

namespace mirelo::native {

class EventBridge;

class VistelComponent final : public IComponentBase {
 public:
  // How many external events the platform keeps for the script: enough for
  // the 99 logical devices the driver knows to scan ten times each while a
  // script is busy. An event is a few dozen bytes; the default of 1 loses
  // the second of two scans that arrive together.
  static constexpr long kEventBufferDepth = 1000;

  // Starts the driver thread and creates the driver object on it; a failure
  // to create it is reported at Init. Raises only when no thread can start.
  VistelComponent();
  ~VistelComponent() override;

  // ---- IInitDoneBase ----
  // Raises the platform's event buffer to kEventBufferDepth and connects the
  // add-in's events to the platform; false without a connection or a driver.
  bool Init(void* connection) override;
  bool setMemManager(void* memory) override;
  long GetInfo() override { return 2000; }
  // No more external events; no more AddError.
  void Done() override;

  // ---- ILanguageExtenderBase ----
  bool RegisterExtensionAs(WCHAR_T** name) override;
  long GetNProps() override { return static_cast<long>(properties_.size()); }
  long FindProp(const WCHAR_T* name) override;
  const WCHAR_T* GetPropName(long prop, long alias) override;
  bool GetPropVal(const long prop, tVariant* value) override;
  bool SetPropVal(const long prop, tVariant* value) override;
  bool IsPropReadable(const long prop) override;
  bool IsPropWritable(const long prop) override;
  long GetNMethods() override { return methodCount_; }
  long FindMethod(const WCHAR_T* name) override;
  const WCHAR_T* GetMethodName(const long method, const long alias) override;
  // No method takes parameters: 0, and no default values.
  long GetNParams(const long) override { return 0; }
  bool GetParamDefValue(const long, const long, tVariant*) override { return false; }
  bool HasRetVal(const long method) override { return validMethod(method); }
  bool CallAsProc(const long method, tVariant* params, const long count) override;
  // The method's result code (empty for AboutBox).
  bool CallAsFunc(const long method, tVariant* result, tVariant* params, const long count) override;

  // ---- LocaleBase, UserLanguageBase: the driver's texts are Russian ----
  void SetLocale(const WCHAR_T*) override {}
  void SetUserInterfaceLanguageCode(const WCHAR_T*) override {}

 private:
  // What the add-in's table says of a property, read once at creation.
  struct Property {
    std::u16string name;  // English
    ValueKind kind = ValueKind::Any;
    bool readable = false, writable = false;
  };

  bool driverReady() const { return creationFailure_.empty(); }
  bool validProperty(long prop) const {
    return prop >= 0 && prop < static_cast<long>(properties_.size());
  }
  bool validMethod(long method) const { return method >= 0 && method < methodCount_; }
  // Runs body; a failure it raises goes to the platform through AddError and
  // gives failed.
  template <class Result, class Body>
  Result guarded(Result failed, Body body) noexcept;
  // AddError(1006, "Vistel", "(code) text"), while the platform is connected.
  void reportFailure(int32_t code, const std::string& text) noexcept;
  // A property's or method's name, allocated for the platform; null for a
  // bad index.
  const WCHAR_T* memberName(bool method, long index, long alias);
  long findMember(bool method, const WCHAR_T* name);
  // A method call; with result, its return value.
  bool callMethod(long method, tVariant* result);

  DriverThread thread_;
  // Driver thread only:
  ComPtr<IInitDone> initDone_;
  ComPtr<ILanguageExtender> extender_;
  ComPtr<EventBridge> events_;
  // Set once at creation:
  std::string creationFailure_;  // Windows-1251; empty when the driver object exists
  std::vector<Property> properties_;
  long methodCount_ = 0;
  // Platform's calling thread:
  IAddInDefBase* platform_ = nullptr;
  IMemoryManager* memory_ = nullptr;
};

}  // namespace mirelo::native
