#include "driver/addin/vistel_server.h"

#include "driver/addin/ole_1c.h"
#include "mirelo/vistel.h"

namespace mirelo {

TComServer& VistelServer() {
  static TComServer& server = []() -> TComServer& {
    TComServer& s = ComServer();
    // Before any factory: the name forms the programmatic identifiers.
    s.SetServerName(kServerName);
    TClassInfo control;
    control.clsid = CLASS_Vistel;
    control.className = "Vistel";
    control.description = kLibraryHelp;
    control.threading = ThreadingModel::Apartment;
    control.control = true;
    control.toolboxBitmap = 1;
    control.miscStatus = 0;
    s.AddFactory(control, [] { return ComPtr<IUnknown>((new Tole1C())->identity()); });
    return s;
  }();
  return server;
}

}  // namespace mirelo

mirelo::HRESULT DllGetClassObject(mirelo::REFCLSID rclsid, mirelo::REFIID riid, void** ppv) {
  return mirelo::VistelServer().GetClassObject(rclsid, riid, ppv);
}

mirelo::HRESULT DllCanUnloadNow() {
  return mirelo::VistelServer().CanUnloadNow();
}

mirelo::HRESULT DllRegisterServer() {
  return mirelo::VistelServer().RegisterServer();
}

mirelo::HRESULT DllUnregisterServer() {
  return mirelo::VistelServer().UnregisterServer();
}
