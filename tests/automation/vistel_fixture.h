#pragma once
// An automation object on a scratch registry, a sink that records its events,
// and calls through IDispatch by name, as a host makes them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "driver/automation/vistel.h"
#include "platform/cp1251.h"
#include "tools/termsim/termsim.h"

namespace mirelo::test {

class ScratchRegistry {
 public:
  ScratchRegistry() {
    char pattern[] = "/tmp/mirelo-vistel-XXXXXX";
    directory_ = mkdtemp(pattern);
    setenv("MIRELO_REGISTRY", (directory_ + "/registry.db").c_str(), 1);
  }
  ~ScratchRegistry() { std::filesystem::remove_all(directory_); }
  std::string path(const std::string& name) const { return directory_ + "/" + name; }

 private:
  std::string directory_;
};

struct Event {
  DISPID id;
  std::string data;  // Windows-1251
  int32_t senderId = 0;
};

class EventSink : public ComObject<IVistelEvents> {
 public:
  std::vector<Event> events;
  bool failDataEvents = false;

  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                 UINT*) override {
    Event event{id, {}, 0};
    // Arguments arrive last first.
    if (params->cArgs >= 1) event.data = Variant(params->rgvarg[params->cArgs - 1]).toAnsi();
    if (params->cArgs >= 2) event.senderId = Variant(params->rgvarg[0]).toInt();
    events.push_back(event);
    if (id == DISPID_DataEvent && failDataEvents) return E_FAIL;
    return S_OK;
  }
  std::vector<Event> of(DISPID id) const {
    std::vector<Event> out;
    for (const auto& e : events)
      if (e.id == id) out.push_back(e);
    return out;
  }
};

// Late-bound calls by name, converting Windows-1251 text at the boundary.
class Host {
 public:
  ComPtr<IVistel4> object = CreateVistel();

  DISPID id(const std::string& name) {
    std::u16string wide = ansiToWide(name);
    LPOLESTR names[] = {wide.data()};
    DISPID dispid = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
    EXPECT_EQ(hr, S_OK) << name;
    return dispid;
  }
  HRESULT invoke(const std::string& name, WORD flags, std::vector<Variant> args, Variant* result,
                 EXCEPINFO* info = nullptr) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), flags == DISPATCH_PROPERTYPUT ? &named : nullptr,
                      static_cast<UINT>(reversed.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    UINT argErr = 0;
    return object->Invoke(id(name), IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, info,
                          &argErr);
  }
  // A method: its result code.
  int32_t call(const std::string& name) {
    Variant result;
    EXPECT_EQ(invoke(name, DISPATCH_METHOD, {}, &result), S_OK) << name;
    return result.toInt();
  }
  Variant get(const std::string& name) {
    Variant result;
    EXPECT_EQ(invoke(name, DISPATCH_PROPERTYGET, {}, &result), S_OK) << name;
    return result;
  }
  int32_t getInt(const std::string& name) { return get(name).toInt(); }
  std::string getText(const std::string& name) { return get(name).toAnsi(); }
  // A property write; the failure's description when it fails, else "".
  std::string put(const std::string& name, Variant value) {
    EXCEPINFO info{};
    HRESULT hr = invoke(name, DISPATCH_PROPERTYPUT, {std::move(value)}, nullptr, &info);
    if (hr == S_OK) return "";
    return info.bstrDescription.empty() ? "failed" : wideToAnsi(info.bstrDescription);
  }
  std::string put(const std::string& name, const char* text) {
    return put(name, Variant::fromAnsi(text));
  }
  std::string put(const std::string& name, int32_t value) { return put(name, Variant(value)); }
  std::string resultText() { return getText("ResultCodeDescription"); }

  // The current device aimed at a simulator on loopback.
  void aim(uint16_t port, TProtocol protocol, int32_t timeout = 300) {
    EXPECT_EQ(put("ClientIP", "127.0.0.1"), "");
    EXPECT_EQ(put("ClientPort", static_cast<int32_t>(port)), "");
    EXPECT_EQ(put("ClientProtocol", static_cast<int32_t>(protocol)), "");
    EXPECT_EQ(put("ClientTimeout", timeout), "");
    EXPECT_EQ(put("RepeatCount", 1), "");
    EXPECT_EQ(put("LDIndex", getInt("LDIndex")), "");  // applies the device
  }

  ComPtr<EventSink> sink;
  DWORD cookie = 0;
  void connectSink() {
    sink = ComPtr<EventSink>(new EventSink());
    ComPtr<IConnectionPointContainer> container = object.as<IConnectionPointContainer>();
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(DIID_IVistelEvents, point.put()), S_OK);
    ASSERT_EQ(point->Advise(static_cast<IDispatch*>(sink.get()), &cookie), S_OK);
  }
};

}  // namespace mirelo::test
