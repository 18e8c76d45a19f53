#include "platform/com/creation.h"

#include <dlfcn.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/com/class_factory.h"
#include "platform/com/class_registry.h"
#include "platform/com/error_info.h"
#include "platform/com/message_pump.h"
#include "platform/cp1251.h"
#include "platform/message_loop.h"
#include "platform/registry/registry.h"

namespace mirelo {
namespace {

constexpr std::u16string_view kSource = u"CoGetClassObject";

// Drives a library's message loop from the owning thread's loop. The watcher
// only waits: it posts one message when the library's descriptor is readable
// and then waits until the owning thread has processed it, so every
// procedure of the library still runs on the owning thread.
class PumpBridge {
 public:
  explicit PumpBridge(ComPtr<IMessagePump> pump)
      : pump_(std::move(pump)), window_([this](const Message& m) { onMessage(m); }) {
    INT fd = -1;
    oleCheck(pump_->GetDescriptor(&fd));
    source_ = fd;
    resume_ = eventfd(0, EFD_CLOEXEC);
    if (resume_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    try {
      watcher_ = std::thread([this] { watch(); });
    } catch (...) {
      ::close(resume_);
      throw;
    }
  }

  int processNow() {
    INT delivered = 0;
    pump_->ProcessMessages(&delivered);
    return delivered;
  }

  ~PumpBridge() {
    stop_.store(true);
    signal();
    watcher_.join();
    ::close(resume_);
  }

  PumpBridge(const PumpBridge&) = delete;
  PumpBridge& operator=(const PumpBridge&) = delete;

 private:
  static constexpr uint32_t WM_PUMP = WM_USER + 0x7E0;

  void signal() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(resume_, &one, sizeof one);
  }

  // Waits for the resume descriptor; false once stopping.
  bool waitResume() {
    pollfd entry{resume_, POLLIN, 0};
    while (::poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
    uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(resume_, &value, sizeof value);
    return !stop_.load();
  }

  void watch() {
    while (!stop_.load()) {
      pollfd entries[2] = {{source_, POLLIN, 0}, {resume_, POLLIN, 0}};
      int ready = ::poll(entries, 2, -1);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (entries[1].revents) {
        if (!waitResume()) return;
        continue;
      }
      if (entries[0].revents & (POLLERR | POLLNVAL)) return;
      if (entries[0].revents) {
        window_.post(WM_PUMP);
        if (!waitResume()) return;
      }
    }
  }

  void onMessage(const Message& message) {
    if (message.msg != WM_PUMP) return;
    pump_->ProcessMessages(nullptr);
    signal();
  }

  ComPtr<IMessagePump> pump_;
  int source_ = -1;
  int resume_ = -1;
  std::atomic<bool> stop_{false};
  MessageWindow window_;
  std::thread watcher_;
};

struct LoadedLibrary {
  std::string path;
  void* handle = nullptr;
  DllGetClassObjectFunction getClassObject = nullptr;
  DllCanUnloadNowFunction canUnloadNow = nullptr;
  bool pumpChecked = false;
  std::unique_ptr<PumpBridge> bridge;

  bool mayUnload() const { return !canUnloadNow || canUnloadNow() == S_OK; }
  void unload() {
    // The bridge holds the library's pump: it goes while the code is still there.
    bridge.reset();
    if (handle) ::dlclose(handle);
    handle = nullptr;
  }
};

// The libraries of one thread.
struct ThreadLibraries {
  std::vector<std::unique_ptr<LoadedLibrary>> items;
  ~ThreadLibraries() {
    for (auto& library : items) {
      library->bridge.reset();
      // A library with live objects stays: unloading it would pull their code away.
      if (library->mayUnload()) library->unload();
    }
  }
};

ThreadLibraries& threadLibraries() {
  // The thread's loop first, so that it outlives the libraries' bridges,
  // which post to it until they stop.
  MessageLoop::current();
  thread_local ThreadLibraries libraries;
  return libraries;
}

std::mutex gLinkedMutex;
std::vector<LinkedClass>& linkedClasses() {
  static std::vector<LinkedClass> classes;
  return classes;
}

std::optional<LinkedClass> findLinked(REFCLSID clsid) {
  std::lock_guard lock(gLinkedMutex);
  for (const auto& linked : linkedClasses())
    if (linked.clsid == clsid) return linked;
  return std::nullopt;
}

std::optional<LinkedClass> findLinkedByProgId(std::string_view progId) {
  std::lock_guard lock(gLinkedMutex);
  for (const auto& linked : linkedClasses())
    if (!linked.progId.empty() && ansiSameText(linked.progId, progId)) return linked;
  return std::nullopt;
}

std::string canonicalPath(const std::string& path) {
  std::error_code error;
  std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
  return error ? path : canonical.string();
}

HRESULT loadLibrary(const std::string& registeredPath, LoadedLibrary*& library) {
  std::string path = canonicalPath(registeredPath);
  auto& items = threadLibraries().items;
  auto found = std::find_if(items.begin(), items.end(), [&](const auto& l) { return l->path == path; });
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
  loaded->canUnloadNow = reinterpret_cast<DllCanUnloadNowFunction>(::dlsym(handle, "DllCanUnloadNow"));
  if (!loaded->getClassObject) {
    ::dlclose(handle);
    return reportError(CO_E_ERRORINDLL, IID_NULL, kSource,
                       utf8ToWide(path + ": no DllGetClassObject"));
  }
  items.push_back(std::move(loaded));
  library = items.back().get();
  return S_OK;
}

// Drives the library's loop from this thread's loop, once per library.
HRESULT bridgeLibrary(LoadedLibrary& library, REFCLSID clsid) {
  if (library.pumpChecked) return S_OK;
  library.pumpChecked = true;
  ComPtr<IMessagePump> pump;
  if (FAILED(library.getClassObject(clsid, IID_IMessagePump, pump.putVoid())) || !pump) return S_OK;
  try {
    library.bridge = std::make_unique<PumpBridge>(std::move(pump));
  } catch (...) {
    library.pumpChecked = false;
    return reportCurrentException(IID_NULL, kSource);
  }
  return S_OK;
}

}  // namespace

void registerLinkedClass(const LinkedClass& linked) {
  std::lock_guard lock(gLinkedMutex);
  auto& classes = linkedClasses();
  std::erase_if(classes, [&](const LinkedClass& c) { return c.clsid == linked.clsid; });
  classes.push_back(linked);
}

void revokeLinkedClass(REFCLSID clsid) {
  std::lock_guard lock(gLinkedMutex);
  std::erase_if(linkedClasses(), [&](const LinkedClass& c) { return c.clsid == clsid; });
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
    // An unreadable store registers nothing; the linked classes may still know the name.
  }
  if (auto linked = findLinkedByProgId(name)) {
    *clsid = linked->clsid;
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
  if (server) {
    LoadedLibrary* library = nullptr;
    HRESULT hr = loadLibrary(server->path, library);
    if (FAILED(hr)) return hr;
    hr = library->getClassObject(rclsid, riid, ppv);
    if (FAILED(hr)) return hr;
    // Only for a class the library has: its factory tells whether it has a pump.
    HRESULT bridged = bridgeLibrary(*library, rclsid);
    if (FAILED(bridged)) {
      static_cast<IUnknown*>(*ppv)->Release();
      *ppv = nullptr;
      return bridged;
    }
    return hr;
  }
  if (auto linked = findLinked(rclsid)) return linked->getClassObject(rclsid, riid, ppv);
  return storeRead ? REGDB_E_CLASSNOTREG : REGDB_E_READREGDB;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  ComPtr<IClassFactory> factory;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, factory.putVoid());
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

int processServerMessages() {
  int delivered = 0;
  for (const auto& library : threadLibraries().items)
    if (library->bridge) delivered += library->bridge->processNow();
  return delivered;
}

std::vector<std::string> loadedServerLibraries() {
  std::vector<std::string> paths;
  for (const auto& library : threadLibraries().items) paths.push_back(library->path);
  return paths;
}

}  // namespace mirelo
