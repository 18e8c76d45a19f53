#include "tools/mirelo/event_sink.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "mirelo/vistel.h"
#include "shell_test_support.h"
#include "tools/mirelo/item_runner.h"

namespace mirelo::shell {
namespace {

struct Received {
  std::vector<std::pair<int32_t, std::u16string>> data;
  std::vector<std::u16string> log;
};

ComPtr<IVistelEvents> makeSink(Received& received) {
  return ComPtr<IVistelEvents>(new EventSink(
      [&received](int32_t id, const std::u16string& text) { received.data.emplace_back(id, text); },
      [&received](const std::u16string& text) { received.log.push_back(text); }));
}

// Calls a sink as an object fires an event: arguments last first.
HRESULT fire(IDispatch& sink, DISPID id, std::vector<Variant> args, UINT* argErr = nullptr) {
  std::vector<Variant> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  return sink.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                     argErr);
}

TEST(EventSinkTest, AnswersTheOutgoingInterface) {
  Received received;
  ComPtr<IVistelEvents> sink = makeSink(received);
  EXPECT_TRUE(sink.as<IVistelEvents>());
  EXPECT_TRUE(sink.as<IDispatch>());
  EXPECT_TRUE(sink.as<IUnknown>());
  EXPECT_FALSE(sink.as<IConnectionPoint>());
}

TEST(EventSinkTest, DeliversDataAndLogEvents) {
  Received received;
  ComPtr<IVistelEvents> sink = makeSink(received);
  EXPECT_EQ(fire(*sink, DISPID_DataEvent, {Variant(u"4600000000001"), Variant(int32_t{7})}), S_OK);
  // Arguments convert as automation converts them.
  EXPECT_EQ(fire(*sink, DISPID_DataEvent, {Variant(int32_t{12}), Variant(u"42")}), S_OK);
  EXPECT_EQ(fire(*sink, DISPID_LogEvent, {Variant(u"12:00:00 line")}), S_OK);
  ASSERT_EQ(received.data.size(), 2u);
  EXPECT_EQ(received.data[0], std::make_pair(int32_t{7}, std::u16string(u"4600000000001")));
  EXPECT_EQ(received.data[1], std::make_pair(int32_t{42}, std::u16string(u"12")));
  EXPECT_EQ(received.log, std::vector<std::u16string>{u"12:00:00 line"});
}

TEST(EventSinkTest, RefusesOtherCalls) {
  Received received;
  ComPtr<IVistelEvents> sink = makeSink(received);
  EXPECT_EQ(fire(*sink, 3, {}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(fire(*sink, DISPID_DataEvent, {Variant(u"x")}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(fire(*sink, DISPID_LogEvent, {Variant(u"x"), Variant(u"y")}), DISP_E_BADPARAMCOUNT);
  UINT argErr = 99;
  EXPECT_EQ(fire(*sink, DISPID_DataEvent, {Variant(u"x"), Variant(u"not a number")}, &argErr),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);  // SenderID is rgvarg[0]
  EXPECT_TRUE(received.data.empty());
  EXPECT_TRUE(received.log.empty());

  LPOLESTR names[] = {const_cast<LPOLESTR>(u"LogEvent")};
  DISPID id = 0;
  EXPECT_EQ(sink->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, DISPID_LogEvent);
}

class EventConnectionTest : public test::ShellTest {};

// SendEvent raises DataEvent("Test", 123) at once when a sink is connected.
LONG sendEvent(IDispatch& object) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"SendEvent")};
  DISPID id = 0;
  EXPECT_EQ(object.GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  Variant result;
  EXPECT_EQ(object.Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            S_OK);
  return result.lVal;
}

TEST_F(EventConnectionTest, ReceivesEventsWhileConnected) {
  ComPtr<IDispatch> object(createVistelObject<IVistel4>());
  Received received;
  ComPtr<IVistelEvents> sink = makeSink(received);
  {
    EventConnection connection(*object, *sink);
    EXPECT_TRUE(connection.connected());
    EXPECT_EQ(sendEvent(*object), 0);
    ASSERT_EQ(received.data.size(), 1u);
    EXPECT_EQ(received.data[0], std::make_pair(int32_t{123}, std::u16string(u"Test")));
  }
  EXPECT_EQ(sendEvent(*object), 0);
  EXPECT_EQ(received.data.size(), 1u);
}

TEST_F(EventConnectionTest, RunnerDisconnectsBeforeLettingGo) {
  ComPtr<IDispatch> object(createVistelObject<IVistel4>());
  std::ostringstream out;
  Report report(out, false);
  {
    ItemRunner runner(*object, report);
    runner.run(runner.parse("SendEvent"));
  }
  EXPECT_EQ(out.str(),
            "DataEvent: SenderID=123 Data=Test\nSendEvent: 0 " + test::utf8("Ошибок нет") + "\n");
  // The object outlives the runner here and has no sink left to call.
  out.str("");
  EXPECT_EQ(sendEvent(*object), 0);
  EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace mirelo::shell
