#include "tools/regsvr/regsvr.h"

#include <dlfcn.h>

#include <filesystem>

#include "platform/com/creation.h"
#include "platform/format.h"

namespace mirelo::regsvr {
namespace {

constexpr const char* kUsage =
    "usage: mirelo-regsvr [-u] [-s] LIBRARY\n"
    "  Registers the in-process server LIBRARY (calls its DllRegisterServer).\n"
    "  -u  unregister instead (DllUnregisterServer)\n"
    "  -s  print nothing on success\n"
    "The registrations go to the registry store: $MIRELO_REGISTRY, else\n"
    "$XDG_CONFIG_HOME/korvex/registry.db (~/.config/korvex/registry.db).\n";

// Closes the library on every path.
struct Library {
  void* handle;
  ~Library() {
    if (handle) ::dlclose(handle);
  }
};

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool unregister = false, silent = false;
  std::string path;
  for (const std::string& arg : args) {
    if (arg == "-h" || arg == "--help") {
      out << kUsage;
      return 0;
    }
    if (arg == "-u" || arg == "/u") {
      unregister = true;
    } else if (arg == "-s" || arg == "/s") {
      silent = true;
    } else if (!arg.empty() && arg[0] == '-') {
      err << "mirelo-regsvr: unknown option " << arg << "\n" << kUsage;
      return 2;
    } else if (path.empty()) {
      path = arg;
    } else {
      err << "mirelo-regsvr: one library at a time\n" << kUsage;
      return 2;
    }
  }
  if (path.empty()) {
    err << kUsage;
    return 2;
  }
  // The library registers the path it was loaded from: make it absolute.
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (!error) path = absolute.lexically_normal().string();

  ::dlerror();
  Library library{::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)};
  if (!library.handle) {
    const char* why = ::dlerror();
    err << "mirelo-regsvr: cannot load " << path << ": " << (why ? why : "unknown error") << "\n";
    return 1;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto function = reinterpret_cast<DllRegisterServerFunction>(::dlsym(library.handle, entry));
  if (!function) {
    err << "mirelo-regsvr: " << path << " has no entry point " << entry << "\n";
    return 1;
  }
  HRESULT hr = function();
  if (FAILED(hr)) {
    err << "mirelo-regsvr: " << entry << " in " << path
        << " failed: " << format("0x%.8X", static_cast<unsigned>(hr)) << " " << hresultMessage(hr)
        << "\n";
    return 1;
  }
  if (!silent) out << entry << " in " << path << " succeeded.\n";
  return 0;
}

}  // namespace mirelo::regsvr
