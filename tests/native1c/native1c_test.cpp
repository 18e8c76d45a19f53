// libmirelo1c.so as 1C:Enterprise loads it: dlopen, the exports, the members
// by both names, values of every type, methods against termsim, external
// events from a terminal's scan, failures through AddError, bad input, and a
// thousand lives with nothing left behind. The host links neither the runtime
// nor the driver (the component brings them) and runs termsim as a program.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "native_host.h"
#include "test_support.h"

namespace {

using namespace host;
const std::string kLib = MIRELO_BINARY_DIR "/lib/libmirelo1c.so";
const std::string kTermsim = MIRELO_BINARY_DIR "/tools/termsim/termsim";

// `termsim serve` on 127.0.0.1 and a port of its choosing (the shell says its
// process number, then becomes termsim).
struct Terminal {
  FILE* out = popen(
      ("exec sh -c 'echo $$; exec " + kTermsim + " serve --port 0 --no-discovery --serial 42'")
          .c_str(),
      "r");
  int pid = 0, port = 0;
  Terminal() { fscanf(out, "%d termsim: terminal on 127.0.0.1 port %d", &pid, &port); }
  ~Terminal() { kill(pid, SIGTERM), pclose(out); }
};

class NativeComponent : public ::testing::Test {
 protected:
  std::string dir = mkdtemp(std::string("/tmp/mirelo-1c-XXXXXX").data());
  void* library = dlopen(kLib.c_str(), RTLD_NOW);
  CountingMemory memory;
  RecordingPlatform platform;
  IComponentBase* c = nullptr;
  std::deque<std::basic_string<WCHAR_T>> kept;  // strings handed in

  static tVariant number(int32_t n) { return {.lVal = n, .cbElements = 0, .vt = VTYPE_I4}; }
  static tVariant real(double d) { return {.dblVal = d, .cbElements = 0, .vt = VTYPE_R8}; }
  static tVariant boolean(bool b) { return {.bVal = b, .cbElements = 0, .vt = VTYPE_BOOL}; }
  static std::string narrow(std::u16string_view s) { return {s.begin(), s.end()}; }  // ASCII
  tVariant str(std::u16string_view s) {
    return {.pwstrVal = kept.emplace_back(wide(s)).data(),
            .wstrLen = uint32_t(s.size()),
            .cbElements = 0,
            .vt = VTYPE_PWSTR};
  }

  template <class F>
  F entry(const char* name) {
    return reinterpret_cast<F>(dlsym(library, name));
  }
  long getClassObject(const WCHAR_T* name, IComponentBase** out) {
    return entry<long (*)(const WCHAR_T*, IComponentBase**)>("GetClassObject")(name, out);
  }
  IComponentBase* create(IComponentBase* object = nullptr) {
    return getClassObject(wide(u"Vistel").c_str(), &object), object;
  }
  long destroy(IComponentBase** object) {
    return entry<long (*)(IComponentBase**)>("DestroyObject")(object);
  }

  void SetUp() override {
    setenv("MIRELO_REGISTRY", (dir + "/registry.db").c_str(), 1);
    ASSERT_TRUE(library) << dlerror();
    ASSERT_TRUE(c = create());
    EXPECT_TRUE(c->setMemManager(&memory) && c->Init(&platform));
  }
  void TearDown() override {
    c->Done();
    EXPECT_EQ(destroy(&c), 0);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(memory.live, 0) << "the platform freed every block it was handed";
    EXPECT_EQ(dlclose(library), 0);
    std::filesystem::remove_all(dir);
  }

  // What the component handed over, taken and freed as the platform does.
  std::u16string take(const void* block, std::u16string s) {
    void* p = const_cast<void*>(block);
    return memory.FreeMemory(&p), s;
  }
  std::u16string take(const WCHAR_T* name) { return take(name, text(name)); }
  std::u16string take(const tVariant& v) {
    EXPECT_TRUE(v.vt == VTYPE_BLOB || v.vt == VTYPE_PWSTR) << v.vt;
    return take(v.pstrVal, v.vt == VTYPE_BLOB ? std::u16string(v.pstrVal, v.pstrVal + v.strLen)
                                              : std::u16string(v.pwstrVal, v.pwstrVal + v.wstrLen));
  }
  long prop(std::u16string_view name) { return c->FindProp(wide(name).c_str()); }
  long method(std::u16string_view name) { return c->FindMethod(wide(name).c_str()); }
  tVariant get(std::u16string_view name) {
    tVariant v{};
    EXPECT_TRUE(c->GetPropVal(prop(name), &v)) << narrow(name);
    return v;
  }
  bool set(std::u16string_view name, tVariant v) { return c->SetPropVal(prop(name), &v); }
  int32_t call(std::u16string_view name) {
    tVariant result{};
    EXPECT_TRUE(c->CallAsFunc(method(name), &result, nullptr, 0) && result.vt == VTYPE_I4)
        << narrow(name);
    return result.lVal;
  }
  std::u16string lastError() {
    return platform.errors.empty() ? u"" : platform.errors.back().second;
  }
};

// Where the contract puts a member; a destructor takes two slots.
template <class Member>
size_t slot(Member member) {
  uintptr_t raw[2];
  static_assert(sizeof raw == sizeof member);
  return memcpy(raw, &member, sizeof raw), (raw[0] - 1) / sizeof(void*);
}

TEST_F(NativeComponent, ExportsAndLayoutAreTheContracts) {
  FILE* nm = popen(("nm -D --defined-only " + kLib + " | awk '{print $3}' | sort").c_str(), "r");
  char names[4096] = {};
  names[fread(names, 1, sizeof names - 1, nm)] = 0;
  pclose(nm);
  EXPECT_STREQ(
      names,
      "DestroyObject\nGetAttachType\nGetClassNames\nGetClassObject\nSetPlatformCapabilities\n");
  EXPECT_EQ(text(entry<const WCHAR_T* (*)()>("GetClassNames")()), u"Vistel");
  EXPECT_EQ(entry<int (*)(int)>("SetPlatformCapabilities")(2), 3);
  EXPECT_EQ(entry<int (*)()>("GetAttachType")(), 3);
  IComponentBase* none = nullptr;
  EXPECT_FALSE(getClassObject(wide(u"Other").c_str(), &none) || getClassObject(nullptr, &none) ||
               getClassObject(wide(u"Vistel").c_str(), nullptr) || none);
  EXPECT_EQ(destroy(nullptr), -1);
  EXPECT_EQ(destroy(&none), -1);

  EXPECT_EQ(sizeof(tVariant), 64u);
  EXPECT_EQ(offsetof(tVariant, cbElements), 56u);
  EXPECT_EQ(offsetof(tVariant, vt), 60u);
  // Init, Done; GetPropVal, CallAsFunc; SetUserInterfaceLanguageCode; FreeMemory;
  // SetEventBufferDepth, ExternalEvent.
  EXPECT_EQ(
      (std::vector{
          slot(&IInitDoneBase::Init), slot(&IInitDoneBase::Done),
          slot(&ILanguageExtenderBase::GetPropVal), slot(&ILanguageExtenderBase::CallAsFunc),
          slot(&UserLanguageBase::SetUserInterfaceLanguageCode), slot(&IMemoryManager::FreeMemory),
          slot(&IAddInDefBase::SetEventBufferDepth), slot(&IAddInDefBase::ExternalEvent)}),
      (std::vector<size_t>{2, 5, 6, 17, 2, 3, 6, 8}));
  EXPECT_EQ(reinterpret_cast<char*>(static_cast<LocaleBase*>(c)) - reinterpret_cast<char*>(c), 16);
}

TEST_F(NativeComponent, OffersTheAddinsMembersUnderBothNames) {
  EXPECT_EQ(c->GetInfo(), 2000);
  EXPECT_EQ(platform.depths, std::vector<long>{1000});
  WCHAR_T* extension = nullptr;
  ASSERT_TRUE(c->RegisterExtensionAs(&extension));
  EXPECT_EQ(take(extension), u"Vistel");
  ASSERT_EQ(c->GetNProps(), 68);
  ASSERT_EQ(c->GetNMethods(), 45);
  for (long i = 0; i < c->GetNProps(); ++i) {
    std::u16string english = take(c->GetPropName(i, 0)), russian = take(c->GetPropName(i, 1));
    EXPECT_TRUE(prop(english) == i && (russian.empty() || prop(russian) == i)) << narrow(english);
  }
  for (long i = 0; i < c->GetNMethods(); ++i) {
    std::u16string english = take(c->GetMethodName(i, 0)), russian = take(c->GetMethodName(i, 1));
    EXPECT_TRUE(method(english) == i && (russian.empty() || method(russian) == i))
        << narrow(english);
    EXPECT_TRUE(c->GetNParams(i) == 0 && c->HasRetVal(i));
  }
  EXPECT_EQ(prop(u"serveropened"), prop(u"СЕРВЕРОТКРЫТ"));
  EXPECT_EQ(take(c->GetMethodName(method(u"SetDefaultMessage"), 1)), u"");
  EXPECT_TRUE(c->IsPropReadable(prop(u"ClientConnected")) &&
              !c->IsPropWritable(prop(u"ClientConnected")));
  EXPECT_TRUE(c->IsPropWritable(prop(u"ПортУстройства")));
}

TEST_F(NativeComponent, PropertiesOfEveryType) {
  EXPECT_TRUE(set(u"ClientPort", number(5002)));
  EXPECT_EQ(get(u"ClientPort").lVal, 5002);
  EXPECT_TRUE(set(u"ClientPort", real(5003.0)));
  EXPECT_EQ(get(u"ПортУстройства").lVal, 5003);
  EXPECT_TRUE(set(u"LDName", str(u"Касса №1 ёЁ")));
  EXPECT_EQ(take(get(u"ИмяЛУ")), u"Касса №1 ёЁ");
  for (auto [value, expected] : {std::pair{boolean(true), true}, {number(0), false}}) {
    EXPECT_TRUE(set(u"LockDevices", value));
    tVariant read = get(u"LockDevices");
    EXPECT_TRUE(read.vt == VTYPE_BOOL && read.bVal == expected);
  }
  // A binary member: one byte a character (Windows-1251), bytes from a blob.
  char bytes[] = {'\x00', 'A', '\xC0', '\x98', '\xFF'};
  tVariant blob{.pstrVal = bytes, .strLen = sizeof bytes, .cbElements = 0, .vt = VTYPE_BLOB};
  EXPECT_TRUE(set(u"ClientData", blob));
  EXPECT_EQ(take(get(u"ClientData")), (std::u16string{0, u'A', u'А', 0x98, u'я'}));
}

TEST_F(NativeComponent, MethodsAgainstTermsim) {
  Terminal terminal;
  ASSERT_NE(terminal.port, 0);
  EXPECT_TRUE(set(u"ClientIP", str(u"127.0.0.1")) && set(u"ClientPort", number(terminal.port)) &&
              set(u"ClientProtocol", number(0)) &&
              set(u"LDIndex", number(0)));  // LDIndex applies them
  EXPECT_EQ(call(u"ПолучитьСостояние"), 0);
  EXPECT_EQ(get(u"SerialNumber").lVal, 42);
  EXPECT_EQ(take(get(u"ОписаниеКодаОшибки")), u"Ошибок нет");
  EXPECT_EQ(call(u"GetData"), 0);
  std::u16string bytes = take(get(u"DataBlockSA"));
  EXPECT_GT(bytes.size(), 0u);
  EXPECT_EQ(bytes.size(), take(get(u"DataBlock")).size());
  // A failed operation is its result code, not a failed call.
  EXPECT_TRUE(set(u"ClientPort", number(mirelo::test::TcpListener().port)) &&
              set(u"ClientTimeout", number(100)));
  int32_t code = call(u"GetStatus");
  EXPECT_NE(code, 0);
  EXPECT_EQ(get(u"КодОшибки").lVal, code);
  EXPECT_TRUE(c->CallAsProc(method(u"GetStatus"), nullptr, 0));
  EXPECT_TRUE(platform.errors.empty());
}

// The driver thread delivers the events while this thread makes no call.
TEST_F(NativeComponent, ScansBecomeExternalEventsAndARefusedOneIsLogged) {
  std::string log = dir + "/driver.log";
  int port = mirelo::test::TcpListener().port;
  EXPECT_TRUE(set(u"LogFileName", str(std::u16string(log.begin(), log.end()))) &&
              set(u"LogEnabled", boolean(true)) && set(u"ServerProtocol", number(1)) &&
              set(u"ServerPort", number(port)));
  ASSERT_EQ(call(u"OpenServer"), 0);
  auto scan = [&](const char* code) {
    return kTermsim + " scan " + code + " --timeout 300 --port " + std::to_string(port);
  };
  platform.refuse = true;
  EXPECT_NE(system((scan("111") + " 2>/dev/null").c_str()), 0) << "no answer to a lost event";
  ASSERT_TRUE(platform.waitUntil([&] { return platform.refused == 1; }));
  platform.refuse = false;
  FILE* answered = popen(scan("4600000000001").c_str(), "r");
  ASSERT_TRUE(platform.waitUntil([&] { return platform.events.size() == 1; }));
  std::u16string event = platform.events[0], id = event.substr(7, event.rfind(u'|') - 7);
  EXPECT_EQ(event, u"Vistel|" + id + u"|4600000000001");
  EXPECT_TRUE(set(u"SenderID", number(std::stoi(narrow(id)))) && set(u"Line1", str(u"Молоко")) &&
              set(u"Line2", str(u"89.90")));
  EXPECT_EQ(call(u"ПередатьОтвет"), 0);
  char answer[256] = {};
  answer[fread(answer, 1, sizeof answer - 1, answered)] = 0;
  EXPECT_EQ(pclose(answered), 0);
  EXPECT_STREQ(answer, reinterpret_cast<const char*>(u8"Молоко\n89.90\n"));  // termsim prints UTF-8
  std::stringstream written;
  written << std::ifstream(log).rdbuf();
  EXPECT_NE(written.str().find("DataEvent: ExternalEvent: Платформа не приняла внешнее событие"),
            std::string::npos);
}

TEST_F(NativeComponent, SendEventReachesThePlatformUntilDone) {
  EXPECT_EQ(call(u"SendEvent"), 0);
  EXPECT_EQ(platform.events, std::vector<std::u16string>{u"Vistel|123|Test"});
  platform.refuse = true;  // raised inside the call, a refusal fails it
  tVariant result{};
  EXPECT_FALSE(c->CallAsFunc(method(u"SendEvent"), &result, nullptr, 0));
  EXPECT_NE(lastError().find(u"Vistel: (-199) ExternalEvent: Платформа не приняла"),
            std::u16string::npos);
  platform.refuse = false;
  c->Done();
  EXPECT_EQ(call(u"SendEvent"), 0);
  EXPECT_EQ(platform.events.size(), 1u);
}

TEST_F(NativeComponent, FailuresRaiseInTheScriptThroughAddErrorAndBadInputChangesNothing) {
  struct {
    const char16_t* property;
    tVariant value;
    const char16_t* error;
  } cases[] = {
      {u"ClientPort", str(u"abc"),
       u"Vistel: (-6) Недопустимое значение (ClientPort: ожидается целое число)"},
      {u"ClientPort", real(1.5), u"(-6)"},
      {u"LDName", number(1), u"(-6) Недопустимое значение (LDName: ожидается строка)"},
      {u"LockDevices", str(u"да"), u"ожидается Булево"},
      {u"LineData", {.tmVal = {}, .cbElements = 0, .vt = VTYPE_TM}, u"ожидается строка"},
      {u"FirmID", number(1), u"(-199) Свойство FirmID только для чтения"},
      {u"LDNumber", number(55), u"(-9) "},  // the driver refuses the write: no such device
  };
  for (auto& test : cases) {
    EXPECT_FALSE(set(test.property, test.value));
    EXPECT_NE(lastError().find(test.error), std::u16string::npos) << narrow(test.property);
  }
  memory.refuse = true;
  tVariant value{};
  EXPECT_FALSE(c->GetPropVal(prop(u"LDName"), &value));
  EXPECT_EQ(c->GetPropName(0, 0), nullptr);
  EXPECT_EQ(platform.errors.size(), std::size(cases) + 2);
  for (auto& error : platform.errors) EXPECT_EQ(error.first, 1006);
  platform.errors.clear();

  // Bad input: -1 for names, false (nothing written) for indexes and null pointers.
  EXPECT_EQ(prop(u"NoSuchProperty") + method(u"") + c->FindProp(nullptr) + c->FindMethod(nullptr),
            -4);
  tVariant sentinel = number(777);
  value = sentinel;
  for (long bad : {-1L, c->GetNProps(), 1L << 40})
    EXPECT_FALSE(c->GetPropVal(bad, &value) || c->SetPropVal(bad, &value) ||
                 c->IsPropReadable(bad) || c->GetPropName(bad, 0));
  for (long bad : {-1L, c->GetNMethods(), 1L << 40})
    EXPECT_FALSE(c->CallAsFunc(bad, &value, nullptr, 0) || c->CallAsProc(bad, nullptr, 0) ||
                 c->HasRetVal(bad) || c->GetMethodName(bad, 1));
  EXPECT_FALSE(c->GetParamDefValue(0, 0, &value) || c->GetPropVal(0, nullptr) ||
               c->SetPropVal(0, nullptr) || c->CallAsFunc(0, nullptr, nullptr, 0) ||
               c->RegisterExtensionAs(nullptr));
  EXPECT_EQ(memcmp(&value, &sentinel, sizeof value), 0);
  EXPECT_TRUE(platform.errors.empty());
  IComponentBase* other = create();
  EXPECT_FALSE(other->Init(nullptr) || other->setMemManager(nullptr));
  EXPECT_EQ(destroy(&other), 0);
}

TEST_F(NativeComponent, AThousandLivesLeaveDescriptorsAndThreadsAsTheyWere) {
  auto live = [&] {
    IComponentBase* object = create();
    EXPECT_TRUE(object->setMemManager(&memory) && object->Init(&platform));
    object->Done();
    EXPECT_EQ(destroy(&object), 0);
  };
  auto threads = [] {
    auto tasks = std::filesystem::directory_iterator("/proc/self/task");
    return std::distance(begin(tasks), end(tasks));
  };
  // First one life: SQLite keeps one closed connection's descriptor for reuse
  // while another (the fixture's object) has the file open.
  live();
  auto descriptors = mirelo::test::openDescriptors(), running = int(threads());
  for (int round = 0; round < 1000; ++round) live();
  EXPECT_EQ(mirelo::test::openDescriptors(), descriptors);
  EXPECT_EQ(threads(), running);
}

}  // namespace
