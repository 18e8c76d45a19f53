#pragma once
// Creation of objects by class identifier or programmatic identifier.
//
// The class registrations (class_registry.h) name a class's in-process
// server library; it is loaded with dlopen, its DllGetClassObject gives the
// class factory, and the factory makes the object. A class that the store
// does not know may have a default server (registerDefaultServer): a library
// looked for beside this runtime, so that a fresh build and an installed
// prefix work before any registration.
//
// Loaded libraries belong to the thread that loaded them, as an apartment's
// do. CoFreeUnusedLibraries unloads those whose DllCanUnloadNow answers S_OK;
// the thread's end unloads the rest that may go. A library shares this
// runtime, and with it the thread's one MessageLoop: the objects it makes
// post to the loop the host already drives.
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/unknown.h"

namespace mirelo {

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;

constexpr HRESULT REGDB_E_READREGDB = hresultFrom(0x80040150);
constexpr HRESULT CO_E_DLLNOTFOUND = hresultFrom(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = hresultFrom(0x800401F9);

// The exports of an in-process server library.
using DllGetClassObjectFunction = HRESULT (*)(REFCLSID rclsid, REFIID riid, void** ppv);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();
using DllUnregisterServerFunction = HRESULT (*)();

// A class served without registration by a library of its own.
struct DefaultServer {
  CLSID clsid{};
  std::string progId;   // Windows-1251; may be empty
  std::string library;  // a path, or a file name looked for beside this runtime
};
// Adds a default server (replacing one with the same identifier); any thread.
void registerDefaultServer(const DefaultServer& server);
void revokeDefaultServer(REFCLSID clsid);
// The path a default server's library is loaded from: a name with a slash as
// it stands, a bare file name in the folder this runtime was loaded from.
std::string defaultServerPath(const std::string& library);

// The class of a programmatic identifier: the registrations first, then the
// default servers. CO_E_CLASSSTRING when neither knows it (or for null).
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
// The class factory (or the interface riid of it): the registered in-process
// server, else the default server. Statuses: E_POINTER for a null output;
// REGDB_E_CLASSNOTREG for a class known to neither (and for a context
// without CLSCTX_INPROC_SERVER); CO_E_DLLNOTFOUND when the library cannot be
// loaded, CO_E_ERRORINDLL when it lacks DllGetClassObject (both leave the
// loader's message in the thread's error information); REGDB_E_READREGDB
// when the store cannot be read and no default server helps; otherwise the
// server's own answer.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved, REFIID riid,
                         void** ppv);
// CoGetClassObject, then the factory's CreateInstance.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv);
// Unloads the calling thread's libraries whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

// The class named by text: a braced class identifier, or a programmatic
// identifier (CLSIDFromProgID). CO_E_CLASSSTRING for anything else.
HRESULT classIdFromText(std::u16string_view text, CLSID* clsid);
// Creates an object of the class named by text and asks it for riid. A name
// that no registration and no default server knows is REGDB_E_CLASSNOTREG.
HRESULT createObject(std::u16string_view text, REFIID riid, void** object);
// The same for interface I; raises EOleSysError with the status.
template <class I>
ComPtr<I> createObject(std::u16string_view text) {
  ComPtr<I> object;
  oleCheck(createObject(text, I::kIid, object.putVoid()));
  return object;
}

// The paths of the server libraries the calling thread holds loaded.
std::vector<std::string> loadedServerLibraries();

}  // namespace mirelo
