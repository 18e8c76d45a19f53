#pragma once
// The driver library's server: the server name "Addin" (so that the
// control class's programmatic identifier is "Addin.Vistel") and the control
// class factory, which makes a Tole1C for every client; and the four
// entry points of an in-process server, exported by libmirelo.so with C
// linkage and nothing else.
//
// The property page's factory joins the server with the dialogs.
#include "driver/automation/com_server.h"

namespace mirelo {

inline constexpr const char* kServerName = "Addin";

// This module's server with its factories, made on first use.
TComServer& VistelServer();

}  // namespace mirelo

extern "C" {
// DllGetClassObject: S_OK; E_NOINTERFACE when the factory lacks riid;
// CLASS_E_CLASSNOTAVAILABLE with a null output for another class; E_POINTER
// for a null output.
__attribute__((visibility("default"))) mirelo::HRESULT DllGetClassObject(mirelo::REFCLSID rclsid,
                                                                         mirelo::REFIID riid,
                                                                         void** ppv);
// S_OK when no object lives and no factory is locked, S_FALSE otherwise.
__attribute__((visibility("default"))) mirelo::HRESULT DllCanUnloadNow();
// The type library and the classes in the registry store's classes root, at
// this library's path: S_OK or E_FAIL (and then nothing changed).
__attribute__((visibility("default"))) mirelo::HRESULT DllRegisterServer();
// Removes exactly what DllRegisterServer wrote: S_OK or E_FAIL.
__attribute__((visibility("default"))) mirelo::HRESULT DllUnregisterServer();
}
