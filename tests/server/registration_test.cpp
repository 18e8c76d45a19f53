// Registration in the registry store's classes root and creation by
// identifier through it: the layout written, the round trip through
// Addin.Vistel, removal of exactly what was written, the tool, the linked
// fallback and the failures of a broken registration.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sstream>

#include "driver/addin/vistel_server.h"
#include "library.h"
#include "mirelo/addin_interfaces.h"
#include "mirelo/vistel.h"
#include "platform/com/class_registry.h"
#include "platform/com/creation.h"
#include "platform/com/error_info.h"
#include "tests/automation/vistel_fixture.h"
#include "tools/regsvr/regsvr.h"

namespace mirelo {
namespace {

class RegistrationTest : public ::testing::Test {
 protected:
  test::ScratchRegistry scratch;

  void TearDown() override { CoFreeUnusedLibraries(); }

  static std::string defaultOf(const std::string& path) {
    Registry store;
    std::optional<RegistryKey> key = store.openKey(RegistryRoot::ClassesRoot, path, false);
    if (!key) return "<no key>";
    if (key->valueType("") != RegistryValueType::String) return "<no value>";
    return key->readString("");
  }
  static std::vector<std::string> rootKeys() {
    Registry store;
    return store.root(RegistryRoot::ClassesRoot).subKeyNames();
  }
};

TEST_F(RegistrationTest, RegisterWritesTheClassAndTheTypeLibrary) {
  test::ServerLibrary library;
  ASSERT_TRUE(library.loaded());
  ASSERT_EQ(library.registerServer(), S_OK);
  const std::string path = test::libraryPath();
  const std::string folder = std::filesystem::path(path).parent_path().string();
  const std::string clsid = "CLSID\\" + guidToString(CLASS_Vistel);
  const std::string libid = guidToString(LIBID_Mirelo);
  struct Row {
    std::string key, value;
  };
  const Row rows[] = {
      {clsid, kLibraryHelp},
      {clsid + "\\InprocServer32", path},
      {clsid + "\\ProgID", "Addin.Vistel"},
      {clsid + "\\TypeLib", libid},
      {clsid + "\\Version", "1.0"},
      {clsid + "\\MiscStatus", "0"},
      {clsid + "\\MiscStatus\\1", "0"},
      {clsid + "\\ToolboxBitmap32", path + ", 1"},
      {"Addin.Vistel", kLibraryHelp},
      {"Addin.Vistel\\CLSID", guidToString(CLASS_Vistel)},
      {"TypeLib\\" + libid + "\\1.0", kLibraryHelp},
      {"TypeLib\\" + libid + "\\1.0\\FLAGS", "2"},
      {"TypeLib\\" + libid + "\\1.0\\HELPDIR", folder},
      {"TypeLib\\" + libid + "\\1.0\\409\\win32", path},
  };
  for (const Row& row : rows) EXPECT_EQ(defaultOf(row.key), row.value) << row.key;
  Registry store;
  EXPECT_TRUE(store.keyExists(RegistryRoot::ClassesRoot, clsid + "\\Control"));
  EXPECT_EQ(store.openKey(RegistryRoot::ClassesRoot, clsid + "\\InprocServer32", false)
                ->readString("ThreadingModel"),
            "Apartment");
  std::optional<TypeLibRegistration> typeLib = findTypeLib(store, LIBID_Mirelo, 1, 0);
  ASSERT_TRUE(typeLib);
  EXPECT_EQ(typeLib->lcid, 0x0409u);
  EXPECT_EQ(typeLib->path, path);
  EXPECT_EQ(typeLib->helpDir, folder);
  EXPECT_EQ(typeLib->flags, LIBFLAG_FCONTROL);
  // Registering again changes nothing.
  ASSERT_EQ(library.registerServer(), S_OK);
  for (const Row& row : rows) EXPECT_EQ(defaultOf(row.key), row.value) << row.key;
  EXPECT_EQ(library.unregisterServer(), S_OK);
}

TEST_F(RegistrationTest, RoundTripThroughTheProgrammaticIdentifier) {
  ASSERT_EQ(rootKeys(), std::vector<std::string>{}) << "a fresh store";
  {
    test::ServerLibrary tool;
    ASSERT_EQ(tool.registerServer(), S_OK);
  }
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(u"addin.vistel", &clsid), S_OK) << "names compare without case";
  EXPECT_EQ(clsid, CLASS_Vistel);
  {
    ComPtr<IVistel4> object = createObject<IVistel4>(u"Addin.Vistel");
    ASSERT_TRUE(object);
    EXPECT_EQ(loadedServerLibraries(), std::vector<std::string>{test::libraryPath()});
    LONG code = -1;
    ASSERT_EQ(object->AddLD(&code), S_OK);
    EXPECT_EQ(code, 0);
    LONG count = 0;
    object->get_LDCount(&count);
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(object.as<ILanguageExtender>()) << "every object is the add-in too";
    // By the class identifier's text, the same class.
    ComPtr<IDispatch> second = createObject<IDispatch>(guidToWide(CLASS_Vistel));
    EXPECT_TRUE(second);
    CoFreeUnusedLibraries();
    EXPECT_EQ(loadedServerLibraries().size(), 1u) << "objects alive: the library stays";
  }
  CoFreeUnusedLibraries();
  EXPECT_TRUE(loadedServerLibraries().empty()) << "released: the library goes";
  {
    test::ServerLibrary tool;
    ASSERT_EQ(tool.unregisterServer(), S_OK);
  }
  EXPECT_EQ(rootKeys(), std::vector<std::string>{}) << "exactly what was written is gone";
  void* object = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(createObject(u"Addin.Vistel", IID_IDispatch, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(createObject(guidToWide(CLASS_Vistel), IID_IDispatch, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLASS_Vistel, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CLSIDFromProgID(u"Addin.Vistel", &clsid), CO_E_CLASSSTRING);
  EXPECT_THROW(createObject<IDispatch>(u"Addin.Vistel"), EOleSysError);
}

TEST_F(RegistrationTest, UnregistrationLeavesOtherRegistrationsAlone) {
  Registry store;
  const CLSID other{0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 6, 6, 7, 7}};
  ClassRegistration foreign;
  foreign.clsid = other;
  foreign.description = "Другой класс";
  foreign.serverPath = "/opt/other/libother.so";
  foreign.progId = "Other.Thing";
  registerClass(store, foreign);
  TypeLibRegistration otherVersion;
  otherVersion.libid = LIBID_Mirelo;
  otherVersion.major = 2;
  otherVersion.path = "/opt/other/libmirelo2.so";
  registerTypeLib(store, otherVersion);
  test::ServerLibrary library;
  ASSERT_EQ(library.registerServer(), S_OK);
  ASSERT_EQ(library.unregisterServer(), S_OK);
  EXPECT_EQ(findInprocServer(store, other)->path, "/opt/other/libother.so");
  EXPECT_EQ(findProgIdClass(store, "Other.Thing"), other);
  EXPECT_TRUE(findTypeLib(store, LIBID_Mirelo, 2, 0)) << "another version of the library stays";
  EXPECT_FALSE(findTypeLib(store, LIBID_Mirelo, 1, 0));
  EXPECT_FALSE(findInprocServer(store, CLASS_Vistel));
  // A programmatic identifier that another class took over is not removed.
  ASSERT_EQ(library.registerServer(), S_OK);
  ClassRegistration thief = foreign;
  thief.progId = "Addin.Vistel";
  registerClass(store, thief);
  ASSERT_EQ(library.unregisterServer(), S_OK);
  EXPECT_EQ(findProgIdClass(store, "Addin.Vistel"), other);
  EXPECT_EQ(library.unregisterServer(), S_OK) << "nothing left to remove is no failure";
}

TEST_F(RegistrationTest, AFailedRegistrationChangesNothing) {
  Registry store;
  for (int writes = 0; writes < 40; ++writes) {
    store.failAfterWrites(writes);
    bool failed = false;
    try {
      VistelServer().UpdateRegistry(store, true, "/opt/mirelo/libmirelo.so");
    } catch (const std::exception&) {
      failed = true;
    }
    store.failAfterWrites(-1);
    if (!failed) {
      EXPECT_GT(writes, 10) << "registration takes many writes";
      EXPECT_EQ(findInprocServer(store, CLASS_Vistel)->path, "/opt/mirelo/libmirelo.so");
      VistelServer().UpdateRegistry(store, false, "/opt/mirelo/libmirelo.so");
      break;
    }
    EXPECT_EQ(store.root(RegistryRoot::ClassesRoot).subKeyNames(), std::vector<std::string>{})
        << "after " << writes << " writes";
  }
  EXPECT_EQ(store.root(RegistryRoot::ClassesRoot).subKeyNames(), std::vector<std::string>{});
  // A path the store cannot hold is refused rather than stored wrongly.
  EXPECT_THROW(VistelServer().UpdateRegistry(store, true, "/opt/\xE4\xB8\xAD/libmirelo.so"),
               Exception);
  EXPECT_EQ(store.root(RegistryRoot::ClassesRoot).subKeyNames(), std::vector<std::string>{});
}

TEST_F(RegistrationTest, TheToolRegistersAndUnregistersALibrary) {
  std::ostringstream out, err;
  EXPECT_EQ(regsvr::run({test::libraryPath()}, out, err), 0) << err.str();
  EXPECT_NE(out.str().find("DllRegisterServer"), std::string::npos);
  Registry store;
  EXPECT_EQ(findInprocServer(store, CLASS_Vistel)->path, test::libraryPath());
  out.str("");
  EXPECT_EQ(regsvr::run({"-s", "-u", test::libraryPath()}, out, err), 0) << err.str();
  EXPECT_EQ(out.str(), "") << "silent";
  EXPECT_FALSE(findInprocServer(store, CLASS_Vistel));

  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  };
  Dl_info sqlite{};
  ::dladdr(reinterpret_cast<void*>(&sqlite3_libversion), &sqlite);
  const Case cases[] = {
      {{}, 2, "usage"},
      {{"-x", "lib.so"}, 2, "unknown option"},
      {{"a.so", "b.so"}, 2, "one library"},
      {{"/nonexistent/libnothing.so"}, 1, "cannot load"},
      {{sqlite.dli_fname}, 1, "no entry point DllRegisterServer"},
  };
  for (const Case& c : cases) {
    std::ostringstream o, e;
    EXPECT_EQ(regsvr::run(c.args, o, e), c.status);
    EXPECT_NE(e.str().find(c.says), std::string::npos) << e.str();
  }
  std::ostringstream help, none;
  EXPECT_EQ(regsvr::run({"--help"}, help, none), 0);
  EXPECT_NE(help.str().find("usage"), std::string::npos);
}

TEST_F(RegistrationTest, AnUnregisteredClassComesFromTheLibraryBesideTheRuntime) {
  void* out = nullptr;
  EXPECT_EQ(createObject(u"Addin.Vistel", IID_IDispatch, &out), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(defaultServerPath(kVistelLibrary), test::libraryPath())
      << "both sit in lib/ of the build";
  EXPECT_EQ(defaultServerPath("/opt/x/libmirelo.so"), "/opt/x/libmirelo.so");
  {
    ComPtr<ILanguageExtender> object = createVistelObject<ILanguageExtender>();
    ASSERT_TRUE(object);
    EXPECT_EQ(loadedServerLibraries(), std::vector<std::string>{test::libraryPath()});
    BSTR name;
    EXPECT_EQ(object->RegisterExtensionAs(&name), S_OK);
    EXPECT_EQ(name, u"Vistel");
  }
  CoFreeUnusedLibraries();
  // A registration takes precedence over the default.
  {
    test::ServerLibrary tool;
    ASSERT_EQ(tool.registerServer(), S_OK);
    registerDefaultServer({CLASS_Vistel, "Addin.Vistel", "/nonexistent/libmirelo.so"});
    ComPtr<IDispatch> object = createObject<IDispatch>(u"Addin.Vistel");
    EXPECT_TRUE(object) << "made from the registered library";
    object = nullptr;
    ASSERT_EQ(tool.unregisterServer(), S_OK);
  }
  // A default server whose library is missing fails as a missing registration would.
  EXPECT_EQ(createObject(u"Addin.Vistel", IID_IDispatch, &out), CO_E_DLLNOTFOUND);
  revokeDefaultServer(CLASS_Vistel);
  EXPECT_EQ(createObject(u"Addin.Vistel", IID_IDispatch, &out), REGDB_E_CLASSNOTREG);
  CoFreeUnusedLibraries();
}

TEST_F(RegistrationTest, ABrokenRegistrationFailsClearly) {
  Registry store;
  ClassRegistration broken;
  broken.clsid = CLASS_Vistel;
  broken.description = "broken";
  broken.serverPath = "/nonexistent/libmirelo.so";
  broken.progId = "Addin.Vistel";
  registerClass(store, broken);
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(createObject(u"Addin.Vistel", IID_IDispatch, &out), CO_E_DLLNOTFOUND);
  EXPECT_EQ(out, nullptr);
  ComPtr<IErrorInfo> error;
  ASSERT_EQ(GetErrorInfo(0, error.put()), S_OK);
  BSTR text;
  error->GetDescription(&text);
  EXPECT_NE(wideToUtf8(text).find("/nonexistent/libmirelo.so"), std::string::npos)
      << wideToUtf8(text);

  // A library without the entry point.
  Dl_info sqlite{};
  ::dladdr(reinterpret_cast<void*>(&sqlite3_libversion), &sqlite);
  broken.serverPath = sqlite.dli_fname;
  registerClass(store, broken);
  EXPECT_EQ(createObject(u"Addin.Vistel", IID_IDispatch, &out), CO_E_ERRORINDLL);
  EXPECT_TRUE(loadedServerLibraries().empty()) << "nothing kept of it";
  EXPECT_TRUE(unregisterClass(store, CLASS_Vistel, "Addin.Vistel"));
  EXPECT_FALSE(unregisterClass(store, CLASS_Vistel, "Addin.Vistel"));

  // Bad names and arguments.
  CLSID clsid;
  EXPECT_EQ(classIdFromText(u"{not a guid}", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(createObject(u"{not a guid}", IID_IDispatch, &out), CO_E_CLASSSTRING);
  EXPECT_EQ(createObject(u"", IID_IDispatch, &out), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(createObject(u"Addin.Vistel", IID_IDispatch, nullptr), E_POINTER);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"Addin.Vistel", nullptr), E_INVALIDARG);
  EXPECT_EQ(CoGetClassObject(CLASS_Vistel, 0x4 /* a local server */, nullptr, IID_IUnknown, &out),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoGetClassObject(CLASS_Vistel, CLSCTX_INPROC_SERVER, nullptr, IID_IUnknown, nullptr),
            E_POINTER);
}

}  // namespace
}  // namespace mirelo
