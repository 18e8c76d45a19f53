#include "platform/com/creation.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/com/class_factory.h"
#include "platform/com/class_registry.h"
#include "platform/com/error_info.h"
#include "platform/cp1251.h"
#include "platform/message_loop.h"
#include "platform/registry/registry.h"

namespace mirelo {
namespace {

constexpr std::u16string_view kSource = u"CoGetClassObject";

struct LoadedLibrary {
  std::string path;
  void* handle = nullptr;
  DllGetClassObjectFunction getClassObject = nullptr;
  DllCanUnloadNowFunction canUnloadNow = nullptr;

  bool mayUnload() const { return !canUnloadNow || canUnloadNow() == S_OK; }
  void unload() {
    if (handle) ::dlclose(handle);
    handle = nullptr;
  }
};

// The libraries of one thread.
struct ThreadLibraries {
  std::vector<std::unique_ptr<LoadedLibrary>> items;
  ~ThreadLibraries() {
    // A library with live objects stays: unloading it would pull their code away.
    for (auto& library : items)
      if (library->mayUnload()) library->unload();
  }
};

ThreadLibraries& threadLibraries() {
  // The thread's loop first, so that it outlives the libraries whose objects
  // may still hold windows of it.
  MessageLoop::current();
  thread_local ThreadLibraries libraries;
  return libraries;
}

std::mutex gDefaultsMutex;
std::vector<DefaultServer>& defaultServers() {
  static std::vector<DefaultServer> servers;
  return servers;
}

std::optional<DefaultServer> findDefault(REFCLSID clsid) {
  std::lock_guard lock(gDefaultsMutex);
  for (const auto& server : defaultServers())
    if (server.clsid == clsid) return server;
  return std::nullopt;
}

std::optional<DefaultServer> findDefaultByProgId(std::string_view progId) {
  std::lock_guard lock(gDefaultsMutex);
  for (const auto& server : defaultServers())
    if (!server.progId.empty() && ansiSameText(server.progId, progId)) return server;
  return std::nullopt;
}

// The folder this runtime was loaded from.
std::string runtimeFolder() {
  Dl_info info{};
  if (!::dladdr(reinterpret_cast<void*>(&defaultServerPath), &info) || !info.dli_fname) return ".";
  return std::filesystem::path(info.dli_fname).parent_path().string();
}

std::string canonicalPath(const std::string& path) {
  std::error_code error;
  std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
  return error ? path : canonical.string();
}

HRESULT loadLibrary(const std::string& registeredPath, LoadedLibrary*& library) {
  std::string path = canonicalPath(registeredPath);
  auto& items = threadLibraries().items;
  auto found =
      std::find_if(items.begin(), items.end(), [&](const auto& l) { return l->path == path; });
  if (found != items.end()) {
    library = found->get();
    return S_OK;
  }
  ::dlerror();
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    std::error_code error;
    HRESULT hr = std::filesystem::exists(path, error) ? CO_E_ERRORINDLL : CO_E_DLLNOTFOUND;
    return reportError(hr, IID_NULL, kSource, utf8ToWide(why ? why : path));
  }
  auto loaded = std::make_unique<LoadedLibrary>();
  loaded->path = path;
  loaded->handle = handle;
  loaded->getClassObject =
      reinterpret_cast<DllGetClassObjectFunction>(::dlsym(handle, "DllGetClassObject"));
  loaded->canUnloadNow =
      reinterpret_cast<DllCanUnloadNowFunction>(::dlsym(handle, "DllCanUnloadNow"));
  if (!loaded->getClassObject) {
    ::dlclose(handle);
    return reportError(CO_E_ERRORINDLL, IID_NULL, kSource,
                       utf8ToWide(path + ": no DllGetClassObject"));
  }
  items.push_back(std::move(loaded));
  library = items.back().get();
  return S_OK;
}

}  // namespace

void registerDefaultServer(const DefaultServer& server) {
  std::lock_guard lock(gDefaultsMutex);
  auto& servers = defaultServers();
  std::erase_if(servers, [&](const DefaultServer& s) { return s.clsid == server.clsid; });
  servers.push_back(server);
}

void revokeDefaultServer(REFCLSID clsid) {
  std::lock_guard lock(gDefaultsMutex);
  std::erase_if(defaultServers(), [&](const DefaultServer& s) { return s.clsid == clsid; });
}

std::string defaultServerPath(const std::string& library) {
  if (library.find('/') != std::string::npos) return library;
  return runtimeFolder() + "/" + library;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
  if (!clsid) return E_INVALIDARG;
  *clsid = GUID_NULL;
  if (!progId || !*progId) return CO_E_CLASSSTRING;
  std::u16string_view wide(progId);
  std::string name = wideToAnsi(wide);
  if (ansiToWide(name) != wide) return CO_E_CLASSSTRING;
  try {
    Registry registry;
    if (auto found = findProgIdClass(registry, name)) {
      *clsid = *found;
      return S_OK;
    }
  } catch (const std::exception&) {
    // An unreadable store registers nothing; a default server may still know the name.
  }
  if (auto server = findDefaultByProgId(name)) {
    *clsid = server->clsid;
    return S_OK;
  }
  return CO_E_CLASSSTRING;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void*, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(dwClsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  std::optional<InprocServer> server;
  bool storeRead = true;
  try {
    Registry registry;
    server = findInprocServer(registry, rclsid);
  } catch (const std::exception&) {
    storeRead = false;
  }
  std::string path;
  if (server) {
    path = server->path;
  } else if (auto fallback = findDefault(rclsid)) {
    path = defaultServerPath(fallback->library);
  } else {
    return storeRead ? REGDB_E_CLASSNOTREG : REGDB_E_READREGDB;
  }
  LoadedLibrary* library = nullptr;
  HRESULT hr = loadLibrary(path, library);
  if (FAILED(hr)) return hr;
  return library->getClassObject(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  ComPtr<IClassFactory> factory;
  HRESULT hr =
      CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, factory.putVoid());
  if (FAILED(hr)) return hr;
  if (!factory) return E_NOINTERFACE;
  return factory->CreateInstance(pUnkOuter, riid, ppv);
}

void CoFreeUnusedLibraries() {
  auto& items = threadLibraries().items;
  for (auto it = items.begin(); it != items.end();) {
    if ((*it)->mayUnload()) {
      (*it)->unload();
      it = items.erase(it);
    } else {
      ++it;
    }
  }
}

HRESULT classIdFromText(std::u16string_view text, CLSID* clsid) {
  if (!clsid) return E_INVALIDARG;
  *clsid = GUID_NULL;
  if (!text.empty() && text.front() == u'{')
    return tryStringToGuid(text, *clsid) ? S_OK : CO_E_CLASSSTRING;
  std::u16string name(text);
  return CLSIDFromProgID(name.c_str(), clsid);
}

HRESULT createObject(std::u16string_view text, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  CLSID clsid;
  HRESULT hr = classIdFromText(text, &clsid);
  // A name that nothing registers is a class that is not registered.
  if (hr == CO_E_CLASSSTRING && (text.empty() || text.front() != u'{')) return REGDB_E_CLASSNOTREG;
  if (FAILED(hr)) return hr;
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid, object);
}

std::vector<std::string> loadedServerLibraries() {
  std::vector<std::string> paths;
  for (const auto& library : threadLibraries().items) paths.push_back(library->path);
  return paths;
}

}  // namespace mirelo
