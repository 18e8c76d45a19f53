// The hosts' event sink: what it hands on, what a raising handler costs, and
// its connection to a real object.
#include "client/event_sink.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "tests/automation/vistel_fixture.h"

namespace mirelo {
namespace {

// Invokes the sink as the object raises an event: arguments last first.
HRESULT raise(TVistelEventSink& sink, DISPID id, std::vector<Variant> args) {
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  return sink.Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

TEST(EventSink, HandsEachEventToItsHandler) {
  ComPtr<TVistelEventSink> sink(new TVistelEventSink());
  std::vector<std::u16string> data, lines;
  std::vector<int32_t> senders;
  sink->OnDataEvent = [&](const std::u16string& d, int32_t sender) {
    data.push_back(d);
    senders.push_back(sender);
  };
  sink->OnLogEvent = [&](const std::u16string& line) { lines.push_back(line); };
  EXPECT_EQ(raise(*sink, DISPID_DataEvent, {Variant(u"Штрих\r\n"), Variant(int32_t{7})}), S_OK);
  EXPECT_EQ(raise(*sink, DISPID_LogEvent, {Variant(u"строка")}), S_OK);
  EXPECT_EQ(raise(*sink, DISPID_DataEvent, {Variant(u"no sender")}), S_OK) << "ignored";
  EXPECT_EQ(raise(*sink, 99, {Variant(u"x"), Variant(int32_t{1})}), S_OK) << "ignored";
  EXPECT_EQ(data, std::vector<std::u16string>{u"Штрих\r\n"});
  EXPECT_EQ(senders, std::vector<int32_t>{7});
  EXPECT_EQ(lines, std::vector<std::u16string>{u"строка"});
}

TEST(EventSink, ARaisingHandlerIsReportedAndTheEventStillSucceeds) {
  ComPtr<TVistelEventSink> sink(new TVistelEventSink());
  EXPECT_EQ(raise(*sink, DISPID_LogEvent, {Variant(u"no handler")}), S_OK);
  std::vector<std::string> reported;
  sink->OnLogEvent = [](const std::u16string&) { throw std::runtime_error("handler failed"); };
  sink->OnHandlerError = [&](const std::string& message) { reported.push_back(message); };
  EXPECT_EQ(raise(*sink, DISPID_LogEvent, {Variant(u"line")}), S_OK);
  EXPECT_EQ(reported, std::vector<std::string>{"handler failed"});
}

TEST(EventSink, TheConnectionDeliversUntilItEnds) {
  test::ScratchRegistry registry;
  termsim::Simulator sim;
  sim.start();
  test::Host host;
  host.aim(sim.port(), ptUDP);
  ASSERT_EQ(host.put("LogFileName", registry.path("mirelo.log").c_str()), "");
  ASSERT_EQ(host.put("LogEnabled", 1), "");
  ComPtr<TVistelEventSink> sink(new TVistelEventSink());
  int lines = 0;
  sink->OnLogEvent = [&](const std::u16string&) { ++lines; };
  auto connection = std::make_unique<TEventConnection>(*host.object, sink.get());
  EXPECT_EQ(host.call("GetStatus"), 0);
  EXPECT_GT(lines, 0) << "each log line of the exchange";
  connection.reset();
  const int before = lines;
  EXPECT_EQ(host.call("GetStatus"), 0);
  EXPECT_EQ(lines, before) << "unadvised";
}

}  // namespace
}  // namespace mirelo
