#include "platform/com/class_registry.h"

#include <cstdlib>

#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {
namespace {

// Names of the layout, one place.
namespace Key {
constexpr const char* Clsid = "CLSID";
constexpr const char* TypeLib = "TypeLib";
constexpr const char* InprocServer = "InprocServer32";
constexpr const char* ProgId = "ProgID";
constexpr const char* Version = "Version";
constexpr const char* Control = "Control";
constexpr const char* MiscStatus = "MiscStatus";
constexpr const char* MiscStatusContent = "MiscStatus\\1";
constexpr const char* ToolboxBitmap = "ToolboxBitmap32";
constexpr const char* Flags = "FLAGS";
constexpr const char* HelpDir = "HELPDIR";
constexpr const char* SystemKind = "win32";
}  // namespace Key
constexpr const char* kDefault = "";
constexpr const char* kThreadingModel = "ThreadingModel";

struct ThreadingName {
  ThreadingModel model;
  const char* name;
};
constexpr ThreadingName kThreadingNames[] = {{ThreadingModel::Single, ""},
                                             {ThreadingModel::Apartment, "Apartment"},
                                             {ThreadingModel::Free, "Free"},
                                             {ThreadingModel::Both, "Both"}};

std::string classKey(REFCLSID clsid) {
  return std::string(Key::Clsid) + "\\" + guidToString(clsid);
}

std::string versionText(WORD major, WORD minor) {
  return format("%d.%d", major, minor);
}

std::string typeLibKey(REFGUID libid) {
  return std::string(Key::TypeLib) + "\\" + guidToString(libid);
}

// A UTF-8 path as Windows-1251 text; raises when the code page lacks one of
// its characters.
std::string storedPath(const std::string& path) {
  std::string ansi = utf8ToAnsi(path);
  if (ansiToUtf8(ansi) != path)
    throw Exception(
        format("The path '%s' cannot be registered: it has characters outside Windows-1251",
               ansi.c_str()));
  return ansi;
}

RegistryKey createKey(Registry& registry, const std::string& path) {
  return *registry.openKey(RegistryRoot::ClassesRoot, path, true);
}

void setDefault(Registry& registry, const std::string& path, std::string_view value) {
  createKey(registry, path).writeString(kDefault, value);
}

std::optional<std::string> readDefault(Registry& registry, const std::string& path) {
  std::optional<RegistryKey> key = registry.openKey(RegistryRoot::ClassesRoot, path, false);
  if (!key || key->valueType(kDefault) != RegistryValueType::String) return std::nullopt;
  return key->readString(kDefault);
}

void deleteIfEmpty(Registry& registry, const std::string& path) {
  std::optional<RegistryKey> key = registry.openKey(RegistryRoot::ClassesRoot, path, false);
  if (key && !key->hasSubKeys() && key->valueNames().empty())
    registry.deleteKey(RegistryRoot::ClassesRoot, path);
}

}  // namespace

const char* threadingModelName(ThreadingModel model) {
  for (const auto& entry : kThreadingNames)
    if (entry.model == model) return entry.name;
  return "";
}

void registerClass(Registry& registry, const ClassRegistration& registration) {
  std::string path = storedPath(registration.serverPath);
  std::string clsidText = guidToString(registration.clsid);
  std::string key = classKey(registration.clsid);
  Registry::Transaction transaction(registry);
  // A new registration replaces whatever an older one left.
  registry.deleteKey(RegistryRoot::ClassesRoot, key);
  setDefault(registry, key, registration.description);
  RegistryKey server = createKey(registry, key + "\\" + Key::InprocServer);
  server.writeString(kDefault, path);
  if (registration.threading != ThreadingModel::Single)
    server.writeString(kThreadingModel, threadingModelName(registration.threading));
  if (!registration.progId.empty()) {
    setDefault(registry, key + "\\" + Key::ProgId, registration.progId);
    registry.deleteKey(RegistryRoot::ClassesRoot, registration.progId);
    setDefault(registry, registration.progId, registration.description);
    setDefault(registry, registration.progId + "\\" + Key::Clsid, clsidText);
  }
  if (registration.typeLib != GUID_NULL) {
    setDefault(registry, key + "\\" + Key::TypeLib, guidToString(registration.typeLib));
    setDefault(registry, key + "\\" + Key::Version,
               versionText(registration.typeLibMajor, registration.typeLibMinor));
  }
  if (registration.control) {
    createKey(registry, key + "\\" + Key::Control);
    setDefault(registry, key + "\\" + Key::MiscStatus, "0");
    setDefault(registry, key + "\\" + Key::MiscStatusContent,
               format("%d", registration.miscStatus));
    setDefault(registry, key + "\\" + Key::ToolboxBitmap,
               format("%s, %d", path.c_str(), registration.toolboxBitmap));
  }
  transaction.commit();
}

bool unregisterClass(Registry& registry, REFCLSID clsid, std::string_view progId) {
  Registry::Transaction transaction(registry);
  bool removed = registry.deleteKey(RegistryRoot::ClassesRoot, classKey(clsid));
  // A programmatic identifier that another class has taken over stays.
  if (!progId.empty() && findProgIdClass(registry, progId) == clsid)
    removed = registry.deleteKey(RegistryRoot::ClassesRoot, progId) || removed;
  deleteIfEmpty(registry, Key::Clsid);
  transaction.commit();
  return removed;
}

void registerTypeLib(Registry& registry, const TypeLibRegistration& registration) {
  std::string path = storedPath(registration.path);
  std::string helpDir = storedPath(registration.helpDir);
  std::string key =
      typeLibKey(registration.libid) + "\\" + versionText(registration.major, registration.minor);
  Registry::Transaction transaction(registry);
  registry.deleteKey(RegistryRoot::ClassesRoot, key);
  setDefault(registry, key, registration.description);
  setDefault(registry, key + "\\" + Key::Flags, format("%d", registration.flags));
  setDefault(registry, key + "\\" + Key::HelpDir, helpDir);
  setDefault(registry, key + "\\" + format("%x", registration.lcid) + "\\" + Key::SystemKind, path);
  transaction.commit();
}

bool unregisterTypeLib(Registry& registry, REFGUID libid, WORD major, WORD minor) {
  Registry::Transaction transaction(registry);
  bool removed = registry.deleteKey(RegistryRoot::ClassesRoot,
                                    typeLibKey(libid) + "\\" + versionText(major, minor));
  deleteIfEmpty(registry, typeLibKey(libid));
  deleteIfEmpty(registry, Key::TypeLib);
  transaction.commit();
  return removed;
}

std::optional<InprocServer> findInprocServer(Registry& registry, REFCLSID clsid) {
  std::optional<RegistryKey> key = registry.openKey(
      RegistryRoot::ClassesRoot, classKey(clsid) + "\\" + Key::InprocServer, false);
  if (!key || key->valueType(kDefault) != RegistryValueType::String) return std::nullopt;
  InprocServer server;
  server.path = ansiToUtf8(key->readString(kDefault));
  if (server.path.empty()) return std::nullopt;
  if (key->valueType(kThreadingModel) == RegistryValueType::String) {
    std::string name = key->readString(kThreadingModel);
    for (const auto& entry : kThreadingNames)
      if (*entry.name && ansiSameText(name, entry.name)) server.threading = entry.model;
  }
  return server;
}

std::optional<CLSID> findProgIdClass(Registry& registry, std::string_view progId) {
  if (progId.empty()) return std::nullopt;
  std::optional<std::string> text = readDefault(registry, std::string(progId) + "\\" + Key::Clsid);
  GUID clsid;
  if (!text || !tryStringToGuid(*text, clsid)) return std::nullopt;
  return clsid;
}

std::optional<TypeLibRegistration> findTypeLib(Registry& registry, REFGUID libid, WORD major,
                                               WORD minor) {
  std::string key = typeLibKey(libid) + "\\" + versionText(major, minor);
  std::optional<RegistryKey> version = registry.openKey(RegistryRoot::ClassesRoot, key, false);
  if (!version) return std::nullopt;
  TypeLibRegistration registration;
  registration.libid = libid;
  registration.major = major;
  registration.minor = minor;
  if (auto text = readDefault(registry, key)) registration.description = *text;
  if (auto text = readDefault(registry, key + "\\" + Key::Flags))
    registration.flags = static_cast<WORD>(strToIntDef(*text, 0));
  if (auto text = readDefault(registry, key + "\\" + Key::HelpDir))
    registration.helpDir = ansiToUtf8(*text);
  // The locale is the one subkey whose name is a hexadecimal number.
  for (const std::string& name : version->subKeyNames()) {
    if (ansiSameText(name, Key::Flags) || ansiSameText(name, Key::HelpDir)) continue;
    char* end = nullptr;
    unsigned long lcid = std::strtoul(name.c_str(), &end, 16);
    if (name.empty() || *end) continue;
    registration.lcid = static_cast<LCID>(lcid);
    if (auto text = readDefault(registry, key + "\\" + name + "\\" + Key::SystemKind))
      registration.path = ansiToUtf8(*text);
    break;
  }
  return registration;
}

}  // namespace mirelo
