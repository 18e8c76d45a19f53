#pragma once
// libmirelo.so, loaded as a host loads an in-process server: dlopen, the
// four entry points by name, dlclose.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/com/creation.h"

namespace mirelo::test {

// The library the build made, by its canonical path (as registration records it).
inline std::string libraryPath() {
  return std::filesystem::weakly_canonical(std::string(MIRELO_BINARY_DIR) + "/lib/libmirelo.so")
      .string();
}

class ServerLibrary {
 public:
  explicit ServerLibrary(const std::string& path = libraryPath())
      : handle_(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (!handle_) {
      const char* why = ::dlerror();
      ADD_FAILURE() << "cannot load " << path << ": " << (why ? why : "?");
      return;
    }
    getClassObject = entry<DllGetClassObjectFunction>("DllGetClassObject");
    canUnloadNow = entry<DllCanUnloadNowFunction>("DllCanUnloadNow");
    registerServer = entry<DllRegisterServerFunction>("DllRegisterServer");
    unregisterServer = entry<DllUnregisterServerFunction>("DllUnregisterServer");
  }
  ~ServerLibrary() { close(); }
  ServerLibrary(const ServerLibrary&) = delete;
  ServerLibrary& operator=(const ServerLibrary&) = delete;

  bool loaded() const {
    return handle_ && getClassObject && canUnloadNow && registerServer && unregisterServer;
  }
  void* handle() const { return handle_; }
  void close() {
    if (handle_) ::dlclose(handle_);
    handle_ = nullptr;
  }

  DllGetClassObjectFunction getClassObject = nullptr;
  DllCanUnloadNowFunction canUnloadNow = nullptr;
  DllRegisterServerFunction registerServer = nullptr;
  DllUnregisterServerFunction unregisterServer = nullptr;

 private:
  template <class F>
  F entry(const char* name) {
    return reinterpret_cast<F>(::dlsym(handle_, name));
  }
  void* handle_;
};

}  // namespace mirelo::test
