#include <gtest/gtest.h>

#include <functional>

#include "tests/com/test_objects.h"

namespace mirelo {
namespace {

using namespace test;

constexpr DISPID kDataEvent = 1, kLogEvent = 2;

// A host's event sink, built on the same table-driven dispatch.
class Sink final : public ComObject<DispatchImpl<Sink, IFooEvents>> {
 public:
  Sink() : ComObject(map()) { ++liveObjects; }
  ~Sink() override { --liveObjects; }

  static const DispatchMap<Sink>& map() {
    static const DispatchMap<Sink> table(
        {DIID_IFooEvents, "IFooEvents", ""},
        {{{"DataEvent",
           kDataEvent,
           INVOKE_FUNC,
           VT_VOID,
           {{VT_BSTR, "Data"}, {VT_I4, "SenderID"}},
           ""},
          [](Sink& self, DispatchCall& c) {
            self.received.push_back(wideToAnsi(c.args[0].bstrVal) + "/" +
                                    std::to_string(c.args[1].lVal));
            if (self.onEvent) self.onEvent();
            if (self.fail) throw Exception("sink failed");
          }},
         {{"LogEvent", kLogEvent, INVOKE_FUNC, VT_VOID, {{VT_BSTR, "Data"}}, ""},
          [](Sink& self, DispatchCall& c) {
            self.received.push_back("log " + wideToAnsi(c.args[0].bstrVal));
          }}});
    return table;
  }

  std::vector<std::string> received;
  std::function<void()> onEvent;
  bool fail = false;
};

// An object with one outgoing interface.
class Source final : public ComObject<IConnectionPointContainer> {
 public:
  explicit Source(size_t maxConnections = ConnectionPoint::kUnlimited)
      : events(*this, DIID_IFooEvents, maxConnections, [this](IUnknown* sink, bool connected) {
          changes.push_back({sink, connected});
        }) {
    ++liveObjects;
  }
  ~Source() override { --liveObjects; }

  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
  }
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
    ConnectionPoint* points[] = {&events};
    return findConnectionPoint(points, riid, ppCP);
  }

  ConnectionPoint events;
  std::vector<std::pair<IUnknown*, bool>> changes;
};

class ConnectionPointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(source_->FindConnectionPoint(DIID_IFooEvents, point_.put()), S_OK);
  }
  void TearDown() override {
    point_.reset();
    source_.reset();
    sinks_.clear();
    EXPECT_EQ(liveObjects, 0);
  }
  Source& source() { return *static_cast<Source*>(source_.get()); }
  Sink& sink(size_t i) { return *static_cast<Sink*>(sinks_.at(i).get()); }
  IUnknown* sinkUnknown(size_t i) { return static_cast<IDispatch*>(sinks_.at(i).get()); }
  DWORD advise(size_t i) {
    DWORD cookie = 0;
    EXPECT_EQ(point_->Advise(sinkUnknown(i), &cookie), S_OK);
    return cookie;
  }

  ComPtr<IConnectionPointContainer> source_{new Source};
  ComPtr<IConnectionPoint> point_;
  std::vector<ComPtr<IFooEvents>> sinks_{ComPtr<IFooEvents>(new Sink),
                                         ComPtr<IFooEvents>(new Sink)};
};

TEST_F(ConnectionPointTest, TheContainerFindsItsPointByInterface) {
  IID iid{};
  EXPECT_EQ(point_->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, DIID_IFooEvents);
  ComPtr<IConnectionPointContainer> container;
  EXPECT_EQ(point_->GetConnectionPointContainer(container.put()), S_OK);
  EXPECT_EQ(container.get(), source_.get());

  ComPtr<IConnectionPoint> none;
  EXPECT_EQ(source_->FindConnectionPoint(IID_IFoo, none.put()), CONNECT_E_NOCONNECTION);
  EXPECT_FALSE(none);
  EXPECT_EQ(source_->FindConnectionPoint(DIID_IFooEvents, nullptr), E_POINTER);
  ComPtr<IEnumConnectionPoints> enumPoints;
  EXPECT_EQ(source_->EnumConnectionPoints(enumPoints.put()), E_NOTIMPL);
}

TEST_F(ConnectionPointTest, EnumeratingConnectionsWalksASnapshot) {
  DWORD first = advise(0), second = advise(1);
  ComPtr<IEnumConnections> connections;
  ASSERT_EQ(point_->EnumConnections(connections.put()), S_OK);
  ASSERT_EQ(point_->Unadvise(first), S_OK) << "a sink leaving during the walk";
  CONNECTDATA data[3]{};
  ULONG fetched = 0;
  EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(data[0].dwCookie, first);
  EXPECT_EQ(data[1].dwCookie, second);
  for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
  EXPECT_EQ(connections->Next(1, data, nullptr), S_FALSE);
  EXPECT_EQ(point_->EnumConnections(nullptr), E_POINTER);
}

TEST_F(ConnectionPointTest, FiredEventsReachEverySinkInOrderWithTheirArguments) {
  DWORD first = advise(0), second = advise(1);
  EXPECT_NE(first, 0u);
  EXPECT_NE(second, first);
  EXPECT_EQ(source().events.count(), 2u);

  Variant args[] = {u"Test", 123};
  EXPECT_EQ(source().events.fire(kDataEvent, args), S_OK);
  Variant log[] = {u"12:00:00 строка"};
  EXPECT_EQ(source().events.fire(kLogEvent, log), S_OK);
  for (size_t i = 0; i < 2; ++i)
    EXPECT_EQ(sink(i).received, (std::vector<std::string>{"Test/123", "log 12:00:00 строка"}));

  // The arguments the owner passed are its own again afterwards.
  EXPECT_EQ(args[0].bstrVal, u"Test");
}

TEST_F(ConnectionPointTest, UnadviseStopsEventsAndUnknownCookiesAreRefused) {
  DWORD first = advise(0), second = advise(1);
  EXPECT_EQ(point_->Unadvise(first), S_OK);
  Variant args[] = {u"x", 1};
  source().events.fire(kDataEvent, args);
  EXPECT_TRUE(sink(0).received.empty());
  EXPECT_EQ(sink(1).received.size(), 1u);
  EXPECT_EQ(point_->Unadvise(first), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point_->Unadvise(0), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point_->Unadvise(second + 100), CONNECT_E_NOCONNECTION);
  // Cookies are not reused.
  DWORD again = advise(0);
  EXPECT_NE(again, first);
  EXPECT_NE(again, second);
  EXPECT_EQ(source().changes.size(), 4u);
  EXPECT_EQ(source().changes[2], (std::pair<IUnknown*, bool>{sinkUnknown(0), false}));
  EXPECT_EQ(source().changes[3], (std::pair<IUnknown*, bool>{sinkUnknown(0), true}));
}

TEST_F(ConnectionPointTest, SinksWithoutTheInterfaceCannotConnect) {
  ComPtr<IUnknown> plain(new Plain);
  DWORD cookie = 77;
  EXPECT_EQ(point_->Advise(plain.get(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(refCount(plain.get()), 1u);
  EXPECT_EQ(point_->Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(point_->Advise(sinkUnknown(0), nullptr), E_POINTER);
  EXPECT_EQ(source().events.count(), 0u);
  EXPECT_TRUE(source().changes.empty());
}

TEST_F(ConnectionPointTest, ASingleSinkPointRefusesASecondSink) {
  ComPtr<IConnectionPointContainer> single(new Source(1));
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(single->FindConnectionPoint(DIID_IFooEvents, point.put()), S_OK);
  DWORD first = 0, second = 0;
  EXPECT_EQ(point->Advise(sinkUnknown(0), &first), S_OK);
  EXPECT_EQ(point->Advise(sinkUnknown(1), &second), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(second, 0u);
  EXPECT_EQ(point->Unadvise(first), S_OK);
  EXPECT_EQ(point->Advise(sinkUnknown(1), &second), S_OK);
  Variant args[] = {u"only", 2};
  static_cast<Source*>(single.get())->events.fire(kDataEvent, args);
  EXPECT_TRUE(sink(0).received.empty());
  EXPECT_EQ(sink(1).received, std::vector<std::string>{"only/2"});
}

TEST_F(ConnectionPointTest, AFailingSinkDoesNotStopTheOthers) {
  advise(0);
  advise(1);
  sink(0).fail = true;
  Variant args[] = {u"a", 5};
  EXPECT_EQ(source().events.fire(kDataEvent, args), DISP_E_EXCEPTION);
  EXPECT_EQ(sink(1).received, std::vector<std::string>{"a/5"});
  // A sink called with arguments it does not take answers, nobody crashes.
  Variant wrong[] = {u"a"};
  EXPECT_EQ(source().events.fire(kDataEvent, wrong), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(source().events.fire(99), DISP_E_MEMBERNOTFOUND);
}

TEST_F(ConnectionPointTest, SinksMayDisconnectWhileAnEventIsDelivered) {
  DWORD first = advise(0);
  advise(1);
  // The first sink disconnects itself and the second one from inside the event.
  DWORD secondCookie = first + 1;
  sink(0).onEvent = [&] {
    EXPECT_EQ(point_->Unadvise(first), S_OK);
    EXPECT_EQ(point_->Unadvise(secondCookie), S_OK);
  };
  Variant args[] = {u"b", 6};
  EXPECT_EQ(source().events.fire(kDataEvent, args), S_OK);
  // The round began with both, so both heard it.
  EXPECT_EQ(sink(1).received.size(), 1u);
  EXPECT_EQ(source().events.count(), 0u);
  EXPECT_EQ(refCount(sinkUnknown(0)), 1u);
  EXPECT_EQ(refCount(sinkUnknown(1)), 1u);
}

TEST_F(ConnectionPointTest, ReferencesAreHeldAndReleased) {
  ULONG before = refCount(sinkUnknown(0));
  DWORD cookie = advise(0);
  EXPECT_EQ(refCount(sinkUnknown(0)), before + 1);
  EXPECT_EQ(source().events.sinks().size(), 1u);
  EXPECT_EQ(point_->Unadvise(cookie), S_OK);
  EXPECT_EQ(refCount(sinkUnknown(0)), before);

  // The point keeps its container alive.
  advise(0);
  advise(1);
  source_.reset();
  EXPECT_EQ(liveObjects, 3);
  EXPECT_EQ(refCount(sinkUnknown(0)), before + 1);
  // The last reference goes with the point; the sinks are let go.
  point_.reset();
  EXPECT_EQ(liveObjects, 2);
  EXPECT_EQ(refCount(sinkUnknown(0)), before);
  EXPECT_EQ(refCount(sinkUnknown(1)), before);
}

TEST_F(ConnectionPointTest, UnadviseAllTellsTheOwnerOfEverySink) {
  advise(0);
  advise(1);
  source().changes.clear();
  source().events.unadviseAll();
  EXPECT_EQ(source().events.count(), 0u);
  ASSERT_EQ(source().changes.size(), 2u);
  EXPECT_FALSE(source().changes[0].second);
  EXPECT_FALSE(source().changes[1].second);
  Variant args[] = {u"c", 7};
  EXPECT_EQ(source().events.fire(kDataEvent, args), S_OK);
  EXPECT_TRUE(sink(0).received.empty());
}

}  // namespace
}  // namespace mirelo
