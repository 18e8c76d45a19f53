// Objects made inside the loaded library deliver their events through the
// program's own message loop: the library shares the program's runtime.
#include "platform/com/creation.h"

#include <gtest/gtest.h>

#include "library.h"
#include "mirelo/vistel.h"
#include "platform/message_loop.h"
#include "test_support.h"
#include "tests/automation/vistel_fixture.h"

namespace mirelo {
namespace {

class CreationTest : public ::testing::Test {
 protected:
  test::ScratchRegistry registry;
  void SetUp() override {
    test::ServerLibrary tool;
    ASSERT_EQ(tool.registerServer(), S_OK);
  }
  void TearDown() override { CoFreeUnusedLibraries(); }
};

TEST_F(CreationTest, TerminalMessagesArriveThroughTheProgramsLoop) {
  ComPtr<IVistel4> object = createObject<IVistel4>(u"Addin.Vistel");
  ComPtr<test::EventSink> sink(new test::EventSink());
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(
      object.as<IConnectionPointContainer>()->FindConnectionPoint(DIID_IVistelEvents, point.put()),
      S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(static_cast<IDispatch*>(sink.get()), &cookie), S_OK);
  ASSERT_EQ(object->put_ClientIP(u"127.0.0.1"), S_OK);
  ASSERT_EQ(object->put_ServerProtocol(0), S_OK);
  test::UdpPeer terminal;
  int32_t port;
  {
    test::UdpPeer probe;
    port = probe.port;
  }
  ASSERT_EQ(object->put_ServerPort(port), S_OK);
  LONG code = -1;
  ASSERT_EQ(object->OpenServer(&code), S_OK);
  ASSERT_EQ(code, 0);
  for (const char* barcode : {"4600000000001", "4600000000002", "4600000000003"})
    terminal.sendTo(static_cast<uint16_t>(port), std::string("\xAB\x00", 2) + barcode);
  ASSERT_TRUE(
      MessageLoop::current().runUntil([&] { return sink->of(DISPID_DataEvent).size() == 3; }, 5000))
      << "the library's messages come through this thread's loop";
  EXPECT_EQ(sink->of(DISPID_DataEvent)[0].data, "4600000000001");
  EXPECT_EQ(sink->of(DISPID_DataEvent)[2].data, "4600000000003");
  // The answer goes back to the terminal through the library's server.
  ASSERT_EQ(object->put_SenderID(sink->of(DISPID_DataEvent)[0].senderId), S_OK);
  ASSERT_EQ(object->put_Line1(u"Хлеб"), S_OK);
  ASSERT_EQ(object->SendAnswer(&code), S_OK);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(terminal.receive().substr(0, 7), std::string("\xAB\x00\x3C", 3) + "Хлеб");
  ASSERT_EQ(object->CloseServer(&code), S_OK);
  ASSERT_EQ(point->Unadvise(cookie), S_OK);
}

TEST_F(CreationTest, TheLibraryStaysWhileAnyObjectLives) {
  ComPtr<IDispatch> first = createObject<IDispatch>(u"Addin.Vistel");
  ComPtr<IDispatch> second = createObject<IDispatch>(u"ADDIN.VISTEL");
  EXPECT_EQ(loadedServerLibraries().size(), 1u) << "one library for both";
  first = nullptr;
  CoFreeUnusedLibraries();
  EXPECT_EQ(loadedServerLibraries().size(), 1u);
  // Still usable after the other object went.
  DISPID id = DISPID_UNKNOWN;
  std::u16string name = u"LDCount";
  LPOLESTR names[] = {name.data()};
  EXPECT_EQ(second->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 61);
  second = nullptr;
  CoFreeUnusedLibraries();
  EXPECT_TRUE(loadedServerLibraries().empty());
}

}  // namespace
}  // namespace mirelo
