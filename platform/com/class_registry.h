#pragma once
// The class registrations: where in-process servers, programmatic
// identifiers and type libraries are recorded in the registry store's
// classes root, as the Windows classes root records them:
//
//   CLSID\{clsid}                   (default) description
//     InprocServer32                (default) library path; ThreadingModel
//     ProgID                        (default) programmatic identifier
//     TypeLib, Version              (default) library identifier, "1.0"
//     Control, MiscStatus, MiscStatus\1, ToolboxBitmap32   (controls only)
//   <progid>                        (default) description
//     CLSID                         (default) {clsid}
//   TypeLib\{libid}\<major>.<minor> (default) description
//     FLAGS, HELPDIR                (default) flags in decimal, help folder
//     <lcid in hex>\win32           (default) library path
//
// Text is Windows-1251 in the store; paths are handed in and out in the file
// system's UTF-8. Each function is one transaction: a failure leaves the
// registrations as they were. Failures raise (ERegistryError or Exception).
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/guid.h"
#include "platform/registry/registry.h"

namespace mirelo {

enum class ThreadingModel { Single, Apartment, Free, Both };

// Type library flags (LIBFLAGS).
constexpr WORD LIBFLAG_FRESTRICTED = 0x1;
constexpr WORD LIBFLAG_FCONTROL = 0x2;
constexpr WORD LIBFLAG_FHIDDEN = 0x4;

struct ClassRegistration {
  CLSID clsid{};
  std::string description;  // Windows-1251
  std::string serverPath;   // UTF-8
  ThreadingModel threading = ThreadingModel::Apartment;
  std::string progId;  // empty: none
  // Control marks: the Control key, MiscStatus (with its aspect 1) and the
  // toolbox bitmap, a resource number in the server library.
  bool control = false;
  int miscStatus = 0;
  int toolboxBitmap = 1;
  GUID typeLib = GUID_NULL;  // GUID_NULL: no type library reference
  WORD typeLibMajor = 1;
  WORD typeLibMinor = 0;
};

struct TypeLibRegistration {
  GUID libid{};
  WORD major = 1;
  WORD minor = 0;
  LCID lcid = 0;
  std::string description;  // Windows-1251
  std::string path;         // UTF-8
  std::string helpDir;      // UTF-8
  WORD flags = 0;
};

struct InprocServer {
  std::string path;  // UTF-8
  ThreadingModel threading = ThreadingModel::Single;
};

// Writes the class's keys (replacing an older registration of it). A path
// with characters that Windows-1251 lacks raises: stored, it would name
// another file.
void registerClass(Registry& registry, const ClassRegistration& registration);
// Removes the class's key, and the programmatic identifier's key when it
// names this class; then the CLSID container if it is left empty. True when
// something was removed.
bool unregisterClass(Registry& registry, REFCLSID clsid, std::string_view progId);
void registerTypeLib(Registry& registry, const TypeLibRegistration& registration);
// Removes the version's key and, once empty, the library's and the TypeLib
// container. True when the version was registered.
bool unregisterTypeLib(Registry& registry, REFGUID libid, WORD major, WORD minor);

// The registered in-process server of a class, or nullopt.
std::optional<InprocServer> findInprocServer(Registry& registry, REFCLSID clsid);
// The class a programmatic identifier names, or nullopt (also for a value
// that is not a class identifier).
std::optional<CLSID> findProgIdClass(Registry& registry, std::string_view progId);
// The registration of a type library version, or nullopt.
std::optional<TypeLibRegistration> findTypeLib(Registry& registry, REFGUID libid, WORD major,
                                               WORD minor);

// "Apartment", "Free", "Both", or "" for the single model (no value).
const char* threadingModelName(ThreadingModel model);

}  // namespace mirelo
