#include "driver/devices/driver_params.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <system_error>

#include "driver/devices/registry_layout.h"
#include "platform/cp1251.h"
#include "platform/registry/registry.h"

namespace mirelo {

namespace {

namespace Value = RegistryLayout::ParamValue;

// True when the value exists with the type wanted. One of another type is
// noted in skipped and left alone.
bool storedAs(const RegistryKey& key, const char* name, RegistryValueType type,
              std::vector<std::string>& skipped) {
  RegistryValueType actual = key.valueType(name);
  if (actual == RegistryValueType::None) return false;
  if (actual != type) {
    skipped.push_back(name);
    return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> ReadParams(Registry& registry, TDriverParams& params) {
  std::vector<std::string> skipped;
  std::optional<RegistryKey> key =
      registry.openKey(RegistryRoot::CurrentUser, RegistryLayout::ParamsKey, false);
  if (!key) return skipped;
  constexpr auto String = RegistryValueType::String;
  constexpr auto Integer = RegistryValueType::Integer;
  if (storedAs(*key, Value::SoftFileName, String, skipped))
    params.SoftFileName = key->readString(Value::SoftFileName);
  if (storedAs(*key, Value::ServerPort, Integer, skipped))
    params.ServerPort = key->readInteger(Value::ServerPort);
  if (storedAs(*key, Value::ServerProtocol, Integer, skipped)) {
    // Taken as unsigned: only 0 and 1 name a transport.
    uint32_t protocol = static_cast<uint32_t>(key->readInteger(Value::ServerProtocol));
    if (isProtocol(protocol)) params.ServerProtocol = static_cast<TProtocol>(protocol);
  }
  if (storedAs(*key, Value::LogEnabled, Integer, skipped))
    params.LogEnabled = key->readBool(Value::LogEnabled);
  if (storedAs(*key, Value::LogFileName, String, skipped))
    params.LogFileName = key->readString(Value::LogFileName);
  return skipped;
}

void WriteParams(Registry& registry, const TDriverParams& params) {
  Registry::Transaction transaction(registry);
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, RegistryLayout::ParamsKey, true);
  key.writeString(Value::SoftFileName, params.SoftFileName);
  key.writeInteger(Value::ServerPort, params.ServerPort);
  key.writeInteger(Value::ServerProtocol, params.ServerProtocol);
  key.writeInteger(Value::LogEnabled, params.LogEnabled ? 1 : 0);
  key.writeString(Value::LogFileName, params.LogFileName);
  transaction.commit();
}

void WriteParamChanges(Registry& registry, const TDriverParams& params,
                       const TDriverParams& before) {
  bool soft = params.SoftFileName != before.SoftFileName;
  bool port = params.ServerPort != before.ServerPort;
  bool protocol = params.ServerProtocol != before.ServerProtocol;
  bool logEnabled = params.LogEnabled != before.LogEnabled;
  bool logFile = params.LogFileName != before.LogFileName;
  if (!soft && !port && !protocol && !logEnabled && !logFile) return;
  Registry::Transaction transaction(registry);
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, RegistryLayout::ParamsKey, true);
  if (soft) key.writeString(Value::SoftFileName, params.SoftFileName);
  if (port) key.writeInteger(Value::ServerPort, params.ServerPort);
  if (protocol) key.writeInteger(Value::ServerProtocol, params.ServerProtocol);
  if (logEnabled) key.writeInteger(Value::LogEnabled, params.LogEnabled ? 1 : 0);
  if (logFile) key.writeString(Value::LogFileName, params.LogFileName);
  transaction.commit();
}

std::string defaultLogFileName() {
  // The object file this function lives in: the driver library when loaded
  // as one, the program when linked statically.
  std::filesystem::path path;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&defaultLogFileName), &info) && info.dli_fname &&
      *info.dli_fname)
    path = info.dli_fname;
  std::error_code error;
  if (path.empty() || !path.has_parent_path()) {
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) path = self;
  }
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (!error) path = absolute;
  path.replace_extension(".log");
  return utf8ToAnsi(path.string());
}

}  // namespace mirelo
