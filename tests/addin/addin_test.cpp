// The add-in through a stand-in of the 1C:Enterprise platform that loads
// libmirelo.so: extension name and version, the member tables, names in both
// languages, values, methods and their result codes, bad input, and the
// external events with their delivery.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <sstream>

#include "driver/automation/control.h"
#include "platform_host.h"
#include "test_support.h"
#include "tests/automation/vistel_fixture.h"

namespace mirelo {
namespace {

class AddinTest : public ::testing::Test {
 protected:
  test::ScratchRegistry registry;  // before any object
  test::PlatformHost host;

  void SetUp() override { ASSERT_TRUE(host.ready()); }

  // A free port on this machine for the driver's server.
  static int32_t freeTcpPort() {
    test::TcpListener probe;
    return probe.port;
  }

  // Logging into log, a UDP server open on a free port: that port.
  uint16_t openLoggingUdpServer(const std::string& log) {
    EXPECT_EQ(host.set("LogFileName", log.c_str()), S_OK);
    EXPECT_EQ(host.set("LogEnabled", Variant(true)), S_OK);
    EXPECT_EQ(host.set("ServerProtocol", Variant(int32_t{0})), S_OK);
    int32_t port;
    {
      test::UdpPeer probe;
      port = probe.port;
    }
    EXPECT_EQ(host.set("ServerPort", Variant(port)), S_OK);
    EXPECT_EQ(host.call("OpenServer"), 0);
    return static_cast<uint16_t>(port);
  }
};

// A host's sink of IVistelEvents that writes into a journal shared with the platform.
class JournalSink final : public ComObject<IVistelEvents> {
 public:
  explicit JournalSink(std::vector<std::string>& journal) : journal_(journal) {}
  std::vector<int32_t> senderIds;
  bool fail = false;

  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                 UINT*) override {
    if (id != DISPID_DataEvent || params->cArgs != 2) return S_OK;
    journal_.push_back("DataEvent " + Variant(params->rgvarg[1]).toAnsi());
    senderIds.push_back(Variant(params->rgvarg[0]).toInt());
    return fail ? E_FAIL : S_OK;
  }

 private:
  std::vector<std::string>& journal_;
};

ComPtr<JournalSink> connectSink(IUnknown* object, std::vector<std::string>& journal) {
  ComPtr<JournalSink> sink(new JournalSink(journal));
  ComPtr<IConnectionPointContainer> container;
  object->QueryInterface(IID_IConnectionPointContainer, container.putVoid());
  ComPtr<IConnectionPoint> point;
  EXPECT_EQ(container->FindConnectionPoint(DIID_IVistelEvents, point.put()), S_OK);
  DWORD cookie = 0;
  EXPECT_EQ(point->Advise(static_cast<IDispatch*>(sink.get()), &cookie), S_OK);
  return sink;
}

TEST_F(AddinTest, RegistersAsVistelAndReportsItsInterfaceVersion) {
  EXPECT_EQ(host.registerExtension(), u"Vistel");
  VariantArray info(0, 1);
  EXPECT_EQ(host.component->GetInfo(info.address()), S_OK);
  ASSERT_EQ(info.at(0)->vt, VT_BSTR);
  EXPECT_EQ(info.at(0)->bstrVal, u"1000");

  VariantArray empty(0, 0), fromOne(1, 3);
  SAFEARRAY* none = nullptr;
  EXPECT_EQ(host.component->GetInfo(nullptr), S_FALSE);
  EXPECT_EQ(host.component->GetInfo(&none), S_FALSE);
  EXPECT_EQ(host.component->GetInfo(empty.address()), S_FALSE);
  EXPECT_EQ(host.component->GetInfo(fromOne.address()), S_FALSE) << "no element 0";
  EXPECT_EQ(fromOne.at(1)->vt, VT_EMPTY);
}

// The tables against the object's own type information, read independently.
TEST_F(AddinTest, TablesFollowTheTypeInformation) {
  ComPtr<IDispatch> dispatch = host.component.as<IDispatch>();
  ASSERT_TRUE(dispatch);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(dispatch->GetTypeInfo(0, 0, info.put()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  UINT count = attr->cFuncs;
  info->ReleaseTypeAttr(attr);

  struct Expected {
    DISPID id;
    std::u16string name, help;
    BOOL writable = 0;
  };
  std::vector<Expected> props, methods;
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* desc = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &desc), S_OK);
    BSTR name, help;
    info->GetDocumentation(desc->memid, &name, &help, nullptr, nullptr);
    if (desc->invkind == INVOKE_FUNC) methods.push_back({desc->memid, name, help});
    if (desc->invkind == INVOKE_PROPERTYGET) props.push_back({desc->memid, name, help});
    if (desc->invkind == INVOKE_PROPERTYPUT)
      for (auto it = props.rbegin(); it != props.rend(); ++it)
        if (it->id == desc->memid) {
          it->writable = 1;
          break;
        }
    info->ReleaseFuncDesc(desc);
  }
  ASSERT_FALSE(props.empty());
  ASSERT_FALSE(methods.empty());

  LONG n = 0;
  ASSERT_EQ(host.extender->GetNProps(&n), S_OK);
  ASSERT_EQ(n, static_cast<LONG>(props.size()));
  for (LONG i = 0; i < n; ++i) {
    BSTR english, russian;
    BOOL readable = -1, writable = -1;
    EXPECT_EQ(host.extender->GetPropName(i, 0, &english), S_OK);
    EXPECT_EQ(host.extender->GetPropName(i, 1, &russian), S_OK);
    EXPECT_EQ(host.extender->IsPropReadable(i, &readable), S_OK);
    EXPECT_EQ(host.extender->IsPropWritable(i, &writable), S_OK);
    EXPECT_EQ(english, props[i].name) << i;
    EXPECT_EQ(russian, props[i].help) << i;
    EXPECT_EQ(readable, 1);
    EXPECT_EQ(writable, props[i].writable) << wideToAnsi(english);
  }
  ASSERT_EQ(host.extender->GetNMethods(&n), S_OK);
  ASSERT_EQ(n, static_cast<LONG>(methods.size()));
  for (LONG i = 0; i < n; ++i) {
    BSTR english, russian;
    LONG params = -1;
    EXPECT_EQ(host.extender->GetMethodName(i, 0, &english), S_OK);
    EXPECT_EQ(host.extender->GetMethodName(i, 7, &russian), S_OK) << "any alias but 0 is Russian";
    EXPECT_EQ(host.extender->GetNParams(i, &params), S_OK);
    EXPECT_EQ(english, methods[i].name);
    EXPECT_EQ(russian, methods[i].help);
    EXPECT_EQ(params, 0);
  }
  // Spot checks of the kinds.
  BOOL flag = -1;
  host.extender->IsPropWritable(host.findProp("ResultCode"), &flag);
  EXPECT_EQ(flag, 0);
  host.extender->IsPropWritable(host.findProp("LDNumber"), &flag);
  EXPECT_EQ(flag, 1);
  BSTR name = u"x";
  EXPECT_EQ(host.extender->GetMethodName(host.findMethod("SetDefaultMessage"), 1, &name), S_OK);
  EXPECT_EQ(name, u"") << "no help string, no Russian name";
}

TEST_F(AddinTest, FindsMembersByEnglishNameInAnyCaseAndByRussianName) {
  struct Case {
    bool property;
    const char* english;
    std::vector<const char*> names;
  };
  const Case cases[] = {
      {true,
       "LDNumber",
       {"LDNumber", "ldnumber", "LDNUMBER", "lDnUmBeR", "НомерЛУ", "номерлу", "НОМЕРЛУ"}},
      {true, "StatusFlags", {"statusflags", "ФлагиCостояния", "флагиcостояния"}},
      {true, "LogEnabled", {"LOGENABLED", "ЛогВключен", "логвключен"}},
      {false, "AddLD", {"addld", "ДобавитьЛУ", "добавитьлу", "ДОБАВИТЬЛУ"}},
      {false, "ShowMessage2", {"showmessage2", "ВывестиСообщение2"}},
      {false, "ShowMessage", {"SHOWMESSAGE", "ВывестиСообщение"}},
  };
  for (const Case& c : cases) {
    LONG expected = -1;
    LONG count = 0;
    c.property ? host.extender->GetNProps(&count) : host.extender->GetNMethods(&count);
    for (LONG i = 0; i < count; ++i) {
      BSTR name;
      c.property ? host.extender->GetPropName(i, 0, &name)
                 : host.extender->GetMethodName(i, 0, &name);
      if (name == ansiToWide(c.english)) expected = i;
    }
    ASSERT_GE(expected, 0) << c.english;
    for (const char* name : c.names)
      EXPECT_EQ(c.property ? host.findProp(name) : host.findMethod(name), expected) << name;
  }
  // "ФлагиCостояния" has a Latin C: the all-Cyrillic spelling is another name.
  EXPECT_EQ(host.findProp("ФлагиСостояния"), -1);
}

TEST_F(AddinTest, BooleanPropertiesReadAsZeroOrOne) {
  Variant opened = host.get("ServerOpened");
  EXPECT_EQ(opened.vt, VT_I4);
  EXPECT_EQ(opened.lVal, 0);
  EXPECT_EQ(host.set("LogEnabled", Variant(true)), S_OK);
  Variant on = host.get("ЛогВключен");
  EXPECT_EQ(on.vt, VT_I4);
  EXPECT_EQ(on.lVal, 1);
  EXPECT_EQ(host.set("LockDevices", Variant(int32_t{1})), S_OK) << "the platform's 1 is true";
  EXPECT_EQ(host.get("LockDevices").lVal, 1);
  EXPECT_EQ(host.set("LockDevices", Variant(int32_t{0})), S_OK);
  EXPECT_EQ(host.get("LockDevices").lVal, 0);
  EXPECT_EQ(host.set("LogEnabled", Variant(false)), S_OK);
  EXPECT_EQ(host.get("LogEnabled").lVal, 0);
  // Other types come as the getter gives them.
  EXPECT_EQ(host.get("LDCount").vt, VT_I4);
  EXPECT_EQ(host.get("FileVersion").vt, VT_BSTR);
  EXPECT_EQ(host.get("DataBlockSA").vt, VT_ARRAY | VT_UI1);
}

TEST_F(AddinTest, ValuesGoThroughEitherName) {
  EXPECT_EQ(host.set("Строка1", "Молоко 3,2%"), S_OK);
  EXPECT_EQ(host.get("Line1").toAnsi(), "Молоко 3,2%");
  EXPECT_EQ(host.set("ClientIP", "127.0.0.1"), S_OK);
  EXPECT_EQ(host.get("IPУстройства").toAnsi(), "127.0.0.1");
}

TEST_F(AddinTest, CallAsFuncHandsOverResultCodes) {
  EXPECT_EQ(host.get("LDCount").toInt(), 1);
  for (int added = 1; added < 99; ++added) ASSERT_EQ(host.call("AddLD"), 0) << added;
  EXPECT_EQ(host.get("КоличествоЛУ").toInt(), 99);
  HRESULT status = E_FAIL;
  EXPECT_EQ(host.call("ДобавитьЛУ", &status), -7);
  EXPECT_EQ(status, S_OK) << "a result code is no failure of the call";
  EXPECT_EQ(host.get("ResultCode").toInt(), -7);
  EXPECT_EQ(host.call("DeleteLD"), 0);
  EXPECT_EQ(host.extender->CallAsProc(host.findMethod("AddLD"), nullptr), S_OK);
  EXPECT_EQ(host.get("LDCount").toInt(), 99);
  EXPECT_EQ(host.call("ShowTables"), -199) << "no dialogs, or no display for them";
  BOOL hasResult = 0;
  EXPECT_EQ(host.extender->HasRetVal(host.findMethod("AboutBox"), &hasResult), S_OK);
  EXPECT_EQ(hasResult, 1);
  Variant defaultValue(int32_t{5});
  EXPECT_EQ(host.extender->GetParamDefValue(0, 3, &defaultValue), S_OK);
  EXPECT_EQ(defaultValue.vt, VT_EMPTY);
}

TEST_F(AddinTest, FailuresInsideMembersAreInvokeFailures) {
  EXPECT_EQ(host.set("ResultCode", Variant(int32_t{3})), DISP_E_MEMBERNOTFOUND) << "read-only";
  EXPECT_EQ(host.set("LDIndex", Variant(int32_t{99})), DISP_E_EXCEPTION);
  HRESULT status = S_OK;
  host.call("AboutBox", &status);
  EXPECT_EQ(status, DISP_E_EXCEPTION) << "the About box needs the dialogs and a display";
}

TEST_F(AddinTest, BadInputAnswersNoAndBreaksNothing) {
  LONG props = 0, methods = 0;
  host.extender->GetNProps(&props);
  host.extender->GetNMethods(&methods);
  ILanguageExtender& x = *host.extender;
  for (LONG index : {LONG{-1}, props, methods, LONG{INT_MAX}, LONG{INT_MIN}, LONG{1000}}) {
    SCOPED_TRACE(index);
    BSTR name = u"unchanged";
    Variant value(int32_t{7});
    BOOL flag = 7;
    LONG count = 7;
    if (index >= props || index < 0) {
      EXPECT_EQ(x.GetPropName(index, 0, &name), S_FALSE);
      EXPECT_EQ(x.GetPropVal(index, &value), S_FALSE);
      EXPECT_EQ(x.SetPropVal(index, &value), S_FALSE);
      EXPECT_EQ(x.IsPropReadable(index, &flag), S_FALSE);
      EXPECT_EQ(x.IsPropWritable(index, &flag), S_FALSE);
    }
    if (index >= methods || index < 0) {
      EXPECT_EQ(x.GetMethodName(index, 1, &name), S_FALSE);
      EXPECT_EQ(x.GetNParams(index, &count), S_FALSE);
      EXPECT_EQ(x.CallAsProc(index, nullptr), S_FALSE);
      EXPECT_EQ(x.CallAsFunc(index, &value, nullptr), S_FALSE);
      EXPECT_EQ(x.HasRetVal(index, &flag), S_OK) << "every method has a result";
      EXPECT_EQ(flag, 1);
      flag = 7;
    }
    EXPECT_EQ(name, u"unchanged");
    EXPECT_EQ(value.toInt(), 7);
    EXPECT_EQ(flag, 7);
    EXPECT_EQ(count, 7);
  }
  // Null outputs with valid indexes.
  EXPECT_EQ(x.RegisterExtensionAs(nullptr), S_FALSE);
  EXPECT_EQ(x.GetNProps(nullptr), S_FALSE);
  EXPECT_EQ(x.GetNMethods(nullptr), S_FALSE);
  EXPECT_EQ(x.FindProp(u"LDCount", nullptr), S_FALSE);
  EXPECT_EQ(x.FindMethod(u"AddLD", nullptr), S_FALSE);
  EXPECT_EQ(x.GetPropName(0, 0, nullptr), S_FALSE);
  EXPECT_EQ(x.GetPropVal(0, nullptr), S_FALSE);
  EXPECT_EQ(x.SetPropVal(0, nullptr), S_FALSE);
  EXPECT_EQ(x.IsPropReadable(0, nullptr), S_FALSE);
  EXPECT_EQ(x.IsPropWritable(0, nullptr), S_FALSE);
  EXPECT_EQ(x.GetMethodName(0, 0, nullptr), S_FALSE);
  EXPECT_EQ(x.GetNParams(0, nullptr), S_FALSE);
  EXPECT_EQ(x.GetParamDefValue(0, 0, nullptr), S_FALSE);
  EXPECT_EQ(x.HasRetVal(0, nullptr), S_FALSE);
  EXPECT_EQ(x.CallAsFunc(host.findMethod("AddLD"), nullptr, nullptr), S_FALSE);
  EXPECT_EQ(host.get("LDCount").toInt(), 1) << "nothing was called";
  // Names that match nothing.
  for (std::u16string name :
       {u"", u"Nothing", u"LDNumber ", u" LDNumber", u"LDNumber\u4E2D", u"?"}) {
    LONG index = 7;
    EXPECT_EQ(x.FindProp(name, &index), S_FALSE);
    EXPECT_EQ(index, -1);
    index = 7;
    EXPECT_EQ(x.FindMethod(name, &index), S_FALSE);
    EXPECT_EQ(index, -1);
  }
}

TEST_F(AddinTest, ExternalEventsOnlyBetweenInitAndDone) {
  HRESULT status;
  EXPECT_EQ(host.call("SendEvent", &status), 0);
  EXPECT_TRUE(host.connection->events.empty()) << "none before Init";
  host.init();
  EXPECT_EQ(host.call("ПослатьСобытие"), 0);
  ASSERT_EQ(host.connection->events.size(), 1u);
  EXPECT_EQ(host.connection->events[0].source, "Vistel");
  EXPECT_EQ(host.connection->events[0].message, "123");
  EXPECT_EQ(host.connection->events[0].data, "Test");
  host.done();
  host.call("SendEvent");
  EXPECT_EQ(host.connection->events.size(), 1u) << "none after Done";

  // A connection without IAsyncEvent connects nothing.
  ComPtr<test::EventSink> plain(new test::EventSink());
  EXPECT_EQ(host.component->Init(plain.get()), S_OK);
  EXPECT_EQ(host.component->Init(nullptr), S_OK);
  host.call("SendEvent");
  EXPECT_EQ(host.connection->events.size(), 1u);
  EXPECT_EQ(plain->events.size(), 0u);
}

TEST_F(AddinTest, ATerminalBlockReachesTheHostThenThePlatform) {
  std::vector<std::string> journal;
  ComPtr<JournalSink> sink = connectSink(host.component.get(), journal);
  host.connection->journal = &journal;
  host.init();
  int32_t port = freeTcpPort();
  ASSERT_EQ(host.set("ClientIP", "127.0.0.1"), S_OK);
  ASSERT_EQ(host.set("ServerProtocol", Variant(int32_t{1})), S_OK);
  ASSERT_EQ(host.set("ServerPort", Variant(port)), S_OK);
  ASSERT_EQ(host.call("OpenServer"), 0);
  int terminal = test::connectTo(static_cast<uint16_t>(port));
  ASSERT_GE(terminal, 0);
  test::writeAll(terminal, std::string("\xAB\x00", 2) + "4600000000001");
  ASSERT_TRUE(host.pumpUntil([&] { return !host.connection->events.empty(); }));
  const auto& event = host.connection->events.at(0);
  EXPECT_EQ(event.source, "Vistel");
  EXPECT_EQ(event.data, "4600000000001");
  ASSERT_EQ(sink->senderIds.size(), 1u);
  EXPECT_EQ(event.message, std::to_string(sink->senderIds[0])) << "the sender ID in decimal";
  EXPECT_GT(sink->senderIds[0], 0);
  EXPECT_EQ(journal,
            (std::vector<std::string>{"DataEvent 4600000000001", "ExternalEvent 4600000000001"}));
  ::close(terminal);
  EXPECT_EQ(host.call("CloseServer"), 0);
}

// A failing ExternalEvent (or sink) costs only its own message: the queue
// behind it is still delivered, and the failure goes to the log.
TEST_F(AddinTest, AFailingExternalEventDoesNotStrandTheQueue) {
  std::vector<std::string> journal;
  ComPtr<JournalSink> sink = connectSink(host.component.get(), journal);
  sink->fail = true;
  host.connection->journal = &journal;
  host.connection->failuresLeft = 1;
  host.init();
  std::string log = registry.path("driver.log");
  uint16_t port = openLoggingUdpServer(log);
  test::UdpPeer terminal;
  terminal.sendTo(port, std::string("\xAB\x00"
                                    "1",
                                    3));
  terminal.sendTo(port, std::string("\xAB\x00"
                                    "2",
                                    3));
  ASSERT_TRUE(host.pumpUntil([&] { return host.connection->events.size() == 2; }));
  EXPECT_EQ(host.connection->events[0].data, "1");
  EXPECT_EQ(host.connection->events[1].data, "2");
  EXPECT_EQ(journal, (std::vector<std::string>{"DataEvent 1", "ExternalEvent 1", "DataEvent 2",
                                               "ExternalEvent 2"}))
      << "the platform hears of a message even when the host's sink fails";
  EXPECT_EQ(host.call("CloseServer"), 0);
  ASSERT_EQ(host.set("LogEnabled", Variant(false)), S_OK);
  std::ifstream file(log);
  std::stringstream text;
  text << file.rdbuf();
  // Both messages failed in the sink; the sink's failure is the one raised.
  size_t first = text.str().find("DataEvent: ");
  ASSERT_NE(first, std::string::npos) << text.str();
  EXPECT_NE(text.str().find("DataEvent: ", first + 1), std::string::npos) << text.str();
}

TEST_F(AddinTest, AFailingExternalEventIsLoggedWhenTheSinkIsFine) {
  host.connection->failuresLeft = 1;
  host.init();
  std::string log = registry.path("driver.log");
  uint16_t port = openLoggingUdpServer(log);
  test::UdpPeer terminal;
  terminal.sendTo(port, std::string("\xAB\x00"
                                    "A",
                                    3));
  terminal.sendTo(port, std::string("\xAB\x00"
                                    "B",
                                    3));
  ASSERT_TRUE(host.pumpUntil([&] { return host.connection->events.size() == 2; }));
  EXPECT_EQ(host.connection->events[1].data, "B");
  host.call("CloseServer");
  host.set("LogEnabled", Variant(false));
  std::ifstream file(log);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_NE(text.str().find("DataEvent: ExternalEvent: "), std::string::npos) << text.str();
  // SendEvent reaches the platform directly: its failure fails the call.
  host.connection->failuresLeft = 1;
  HRESULT status = S_OK;
  host.call("SendEvent", &status);
  EXPECT_EQ(status, DISP_E_EXCEPTION);
  EXPECT_EQ(host.call("SendEvent"), 0);
}

TEST_F(AddinTest, ControlInterfacesAnswerAsTheFrameworkDoes) {
  ComPtr<IDataObject> data = host.component.as<IDataObject>();
  ASSERT_TRUE(data);
  FORMATETC format{CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
  STGMEDIUM medium{};
#ifdef MIRELO_LIBRARY_HAS_DIALOGS
  // Drawn as a PNG image, no display needed.
  ASSERT_EQ(data->GetData(&format, &medium), S_OK);
  ASSERT_EQ(medium.tymed, TYMED_MFPICT);
  const auto* picture = static_cast<const METAFILEPICT*>(medium.hMetaFilePict);
  EXPECT_EQ(picture->mm, MM_ANISOTROPIC);
  EXPECT_EQ(picture->xExt, 1058) << "40 pixels in HIMETRIC";
  ASSERT_GT(picture->cbMF, 8u);
  EXPECT_EQ(std::string(static_cast<const char*>(picture->hMF), 8), "\x89PNG\r\n\x1A\n");
  ReleaseStgMedium(&medium);
  EXPECT_EQ(medium.pUnkForRelease, nullptr);
#else
  EXPECT_EQ(data->GetData(&format, &medium), DV_E_FORMATETC) << "no picture without the dialogs";
#endif
  format.tymed = TYMED_HGLOBAL;
  EXPECT_EQ(data->GetData(&format, &medium), DV_E_FORMATETC);
  EXPECT_EQ(data->GetData(nullptr, &medium), E_INVALIDARG);
  EXPECT_EQ(data->GetData(&format, nullptr), E_INVALIDARG);
  EXPECT_EQ(data->GetDataHere(&format, &medium), E_NOTIMPL);
  EXPECT_EQ(data->QueryGetData(&format), E_NOTIMPL);
  EXPECT_EQ(data->GetCanonicalFormatEtc(&format, &format), E_NOTIMPL);
  EXPECT_EQ(data->SetData(&format, &medium, 0), E_NOTIMPL);
  IEnumFORMATETC* formats = reinterpret_cast<IEnumFORMATETC*>(&format);
  EXPECT_EQ(data->EnumFormatEtc(1, &formats), E_NOTIMPL);
  EXPECT_EQ(formats, nullptr);
  EXPECT_EQ(data->DUnadvise(1), OLE_E_NOCONNECTION) << "no holder yet";
  IEnumSTATDATA* advises = reinterpret_cast<IEnumSTATDATA*>(&format);
  EXPECT_EQ(data->EnumDAdvise(&advises), E_FAIL);
  EXPECT_EQ(advises, nullptr);

  ComPtr<IVistelControl> control = host.component.as<IVistelControl>();
  ASSERT_TRUE(control);
  EXPECT_EQ(control->GetPropertyFrameShown(), 0);
  // One object: every interface leads back to the same identity.
  ComPtr<IUnknown> a = host.component.as<IUnknown>(), b = control.as<IUnknown>(),
                   c = data.as<IUnknown>();
  EXPECT_EQ(a.get(), b.get());
  EXPECT_EQ(a.get(), c.get());
  EXPECT_TRUE(data.as<ILanguageExtender>());
  EXPECT_TRUE(control.as<IInitDone>());
  EXPECT_TRUE(host.extender.as<IVistel4>());
}

}  // namespace
}  // namespace mirelo
