#include "driver/automation/com_server.h"

#include <dlfcn.h>

#include <filesystem>

#include "mirelo/vistel.h"
#include "platform/com/error_info.h"
#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {

// ---- factory ----

TComObjectFactory::TComObjectFactory(TComServer& server, TClassInfo info, Creator create)
    : ClassFactory(std::move(create), server.Locks(),
                   ansiToWide(server.ServerName() + "." + info.className)),
      server_(server),
      info_(std::move(info)) {}

std::string TComObjectFactory::ProgID() const {
  return server_.ServerName() + "." + info_.className;
}

// ---- server ----

TComServer::TComServer() {
  typeLib_.libid = LIBID_Mirelo;
  typeLib_.major = 1;
  typeLib_.minor = 0;
  typeLib_.lcid = 0x0409;
  typeLib_.help = kLibraryHelp;
  typeLib_.flags = LIBFLAG_FCONTROL;
}

TComObjectFactory& TComServer::AddFactory(TClassInfo info, TComObjectFactory::Creator create) {
  if (FindFactory(info.clsid))
    throw Exception(format("Class %s already has a factory", guidToString(info.clsid).c_str()));
  factories_.emplace_back(new TComObjectFactory(*this, std::move(info), std::move(create)));
  return *factories_.back().get();
}

TComObjectFactory* TComServer::FindFactory(REFCLSID clsid) const {
  for (const auto& factory : factories_)
    if (factory->Info().clsid == clsid) return factory.get();
  return nullptr;
}

HRESULT TComServer::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) const {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  TComObjectFactory* factory = FindFactory(rclsid);
  if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
  return factory->QueryInterface(riid, ppv);
}

HRESULT TComServer::CanUnloadNow() const {
  return objects_.load() == 0 && locks_.load() == 0 ? S_OK : S_FALSE;
}

void TComServer::UpdateRegistry(Registry& registry, bool registering,
                                const std::string& serverPath) const {
  Registry::Transaction transaction(registry);
  if (registering) {
    TypeLibRegistration library;
    library.libid = typeLib_.libid;
    library.major = typeLib_.major;
    library.minor = typeLib_.minor;
    library.lcid = typeLib_.lcid;
    library.description = typeLib_.help;
    library.path = serverPath;
    library.helpDir = std::filesystem::path(serverPath).parent_path().string();
    library.flags = typeLib_.flags;
    registerTypeLib(registry, library);
  } else {
    unregisterTypeLib(registry, typeLib_.libid, typeLib_.major, typeLib_.minor);
  }
  for (const auto& factory : factories_) {
    const TClassInfo& info = factory->Info();
    if (info.internal) continue;
    if (!registering) {
      unregisterClass(registry, info.clsid, factory->ProgID());
      continue;
    }
    ClassRegistration registration;
    registration.clsid = info.clsid;
    registration.description = info.description;
    registration.serverPath = serverPath;
    registration.threading = info.threading;
    registration.progId = factory->ProgID();
    registration.control = info.control;
    registration.miscStatus = info.miscStatus;
    registration.toolboxBitmap = info.toolboxBitmap;
    registration.typeLib = typeLib_.libid;
    registration.typeLibMajor = typeLib_.major;
    registration.typeLibMinor = typeLib_.minor;
    registerClass(registry, registration);
  }
  transaction.commit();
}

HRESULT TComServer::RegisterServer() {
  try {
    Registry registry;
    UpdateRegistry(registry, true, ServerModulePath());
    return S_OK;
  } catch (...) {
    reportError(E_FAIL, IID_NULL, u"DllRegisterServer",
                exceptionDescription(std::current_exception()));
    return E_FAIL;
  }
}

HRESULT TComServer::UnregisterServer() {
  try {
    Registry registry;
    UpdateRegistry(registry, false, ServerModulePath());
    return S_OK;
  } catch (...) {
    reportError(E_FAIL, IID_NULL, u"DllUnregisterServer",
                exceptionDescription(std::current_exception()));
    return E_FAIL;
  }
}

TComServer& ComServer() {
  static TComServer server;
  return server;
}

std::string ServerModulePath() {
  std::filesystem::path path;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ServerModulePath), &info) && info.dli_fname &&
      *info.dli_fname)
    path = info.dli_fname;
  std::error_code error;
  if (path.empty() || !path.has_parent_path()) {
    // The main program reports the name it was started by.
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) path = self;
  }
  std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
  return error ? path.string() : canonical.string();
}

}  // namespace mirelo
