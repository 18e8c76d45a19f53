#pragma once
// The in-process server of the driver library: its class factories, the
// counts of live objects and factory locks that answer DllCanUnloadNow, and
// the registration of its classes and its type library (DllRegisterServer).
//
// One server per module: the library has its own, and a program that links
// the driver statically has one too (its linked classes). The counts are the
// only values that more than one thread may change; they are atomic.
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform/com/class_factory.h"
#include "platform/com/class_registry.h"
#include "platform/registry/registry.h"

namespace mirelo {

class TComServer;

// What registration records of one class.
struct TClassInfo {
  CLSID clsid{};
  // The type library's name of the class; the programmatic identifier is
  // the server name, a full stop and this name.
  std::string className;
  std::string description;  // Windows-1251
  ThreadingModel threading = ThreadingModel::Apartment;
  bool control = false;  // control marks and the toolbox bitmap
  int toolboxBitmap = 1;
  int miscStatus = 0;
  bool internal = false;  // never registered
};

// A class factory of the server: the runtime's factory (creation, locks
// counted in the server, failures under the class's programmatic
// identifier) with what registration records of its class. The objects
// count themselves (TComServerObject).
class TComObjectFactory final : public ClassFactory {
 public:
  TComObjectFactory(TComServer& server, TClassInfo info, Creator create);

  const TClassInfo& Info() const { return info_; }
  std::string ProgID() const;

 private:
  TComServer& server_;
  TClassInfo info_;
};

// The type library as registration describes it.
struct TTypeLibInfo {
  GUID libid{};
  WORD major = 1;
  WORD minor = 0;
  LCID lcid = 0;
  std::string help;  // Windows-1251
  WORD flags = 0;
};

class TComServer {
 public:
  // The server of the type library Mirelo, without factories.
  TComServer();
  TComServer(const TComServer&) = delete;
  TComServer& operator=(const TComServer&) = delete;

  const std::string& ServerName() const { return serverName_; }
  // Fixed before factories are added: it forms their programmatic identifiers.
  void SetServerName(std::string name) { serverName_ = std::move(name); }
  const TTypeLibInfo& TypeLib() const { return typeLib_; }

  // Raises Exception for a class identifier that already has a factory.
  TComObjectFactory& AddFactory(TClassInfo info, TComObjectFactory::Creator create);
  TComObjectFactory* FindFactory(REFCLSID clsid) const;
  const std::vector<ComPtr<TComObjectFactory>>& Factories() const { return factories_; }

  // DllGetClassObject: E_POINTER for a null output; CLASS_E_CLASSNOTAVAILABLE
  // with a null output for a class without a factory; E_NOINTERFACE (null
  // output) when the factory lacks riid.
  HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) const;
  // DllCanUnloadNow: S_OK with no live object and no lock, else S_FALSE.
  HRESULT CanUnloadNow() const;
  // DllRegisterServer / DllUnregisterServer on the default store at this
  // module's own path: S_OK, or E_FAIL when any step fails (nothing is
  // changed then).
  HRESULT RegisterServer();
  HRESULT UnregisterServer();
  // The type library and every factory that is not internal, registered for
  // serverPath (UTF-8) or removed, in one transaction; raises on failure.
  void UpdateRegistry(Registry& registry, bool registering, const std::string& serverPath) const;

  void ObjectCreated() { objects_.fetch_add(1); }
  void ObjectDestroyed() { objects_.fetch_sub(1); }
  long ObjectCount() const { return objects_.load(); }
  std::atomic<long>& Locks() { return locks_; }
  long LockCount() const { return locks_.load(); }

 private:
  std::string serverName_;
  TTypeLibInfo typeLib_;
  std::vector<ComPtr<TComObjectFactory>> factories_;
  std::atomic<long> objects_{0};
  std::atomic<long> locks_{0};
};

// The server of this module.
TComServer& ComServer();

// A base for the server's objects: counts one live object from its
// construction to its destruction. Put it first among the bases, so that
// the count covers every other base's destructor too.
class TComServerObject {
 protected:
  TComServerObject() { ComServer().ObjectCreated(); }
  ~TComServerObject() { ComServer().ObjectDestroyed(); }

 public:
  TComServerObject(const TComServerObject&) = delete;
  TComServerObject& operator=(const TComServerObject&) = delete;
};

// The absolute path (UTF-8) of the file this code was loaded from: the
// driver library when it is one, the program when linked statically.
std::string ServerModulePath();

}  // namespace mirelo
