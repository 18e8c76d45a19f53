#pragma once
// A small stand-in for the 1C:Enterprise platform: it loads the component
// from libmirelo.so through DllGetClassObject, connects it with Init and a
// connection object that offers IAsyncEvent, registers the extension, uses
// properties and methods by name through ILanguageExtender, and keeps the
// external events it receives. The component's messages are delivered by
// this thread's message loop, which the library shares.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "mirelo/addin_interfaces.h"
#include "mirelo/vistel.h"
#include "platform/com/class_factory.h"
#include "platform/com/variant_array.h"
#include "platform/cp1251.h"
#include "platform/message_loop.h"
#include "tests/server/library.h"

namespace mirelo::test {

struct ExternalEventRecord {
  std::string source, message, data;  // Windows-1251
};

// The platform's connection object: a dispatch object that also answers
// IAsyncEvent, as the platform's does.
class PlatformConnection final : public ComObject<IDispatch, IAsyncEvent> {
 public:
  std::vector<ExternalEventRecord> events;
  int failuresLeft = 0;                         // the next ExternalEvent calls that fail
  std::vector<std::string>* journal = nullptr;  // shared with an event sink, for ordering

  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  HRESULT SetEventBufferDepth(LONG) override { return S_OK; }
  HRESULT GetEventBufferDepth(LONG* depth) override {
    *depth = 1;
    return S_OK;
  }
  HRESULT ExternalEvent(const BSTR& source, const BSTR& message, const BSTR& data) override {
    events.push_back({wideToAnsi(source), wideToAnsi(message), wideToAnsi(data)});
    if (journal) journal->push_back("ExternalEvent " + wideToAnsi(data));
    if (failuresLeft > 0) {
      --failuresLeft;
      return E_FAIL;
    }
    return S_OK;
  }
  HRESULT CleanBuffer() override { return S_OK; }
};

class PlatformHost {
 public:
  PlatformHost() {
    if (!library.loaded()) return;
    EXPECT_EQ(library.getClassObject(CLASS_Vistel, IID_IClassFactory, factory.putVoid()), S_OK);
    if (!factory) return;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IInitDone, component.putVoid()), S_OK);
    extender = component.as<ILanguageExtender>();
    EXPECT_TRUE(extender) << "the component answers ILanguageExtender";
  }
  ~PlatformHost() {
    extender = nullptr;
    component = nullptr;
    factory = nullptr;
  }

  bool ready() const { return component && extender; }

  void init() { EXPECT_EQ(component->Init(static_cast<IDispatch*>(connection.get())), S_OK); }
  void done() { EXPECT_EQ(component->Done(), S_OK); }
  std::u16string registerExtension() {
    BSTR name;
    EXPECT_EQ(extender->RegisterExtensionAs(&name), S_OK);
    return name;
  }

  LONG findProp(const std::string& name) {
    LONG index = 12345;
    extender->FindProp(ansiToWide(name), &index);
    return index;
  }
  LONG findMethod(const std::string& name) {
    LONG index = 12345;
    extender->FindMethod(ansiToWide(name), &index);
    return index;
  }
  Variant get(const std::string& name, HRESULT* status = nullptr) {
    Variant value;
    HRESULT hr = extender->GetPropVal(findProp(name), &value);
    if (status)
      *status = hr;
    else
      EXPECT_EQ(hr, S_OK) << name;
    return value;
  }
  HRESULT set(const std::string& name, Variant value) {
    return extender->SetPropVal(findProp(name), &value);
  }
  HRESULT set(const std::string& name, const char* text) {
    return set(name, Variant::fromAnsi(text));
  }
  // A method through CallAsFunc: its result code.
  int32_t call(const std::string& name, HRESULT* status = nullptr) {
    Variant result;
    HRESULT hr = extender->CallAsFunc(findMethod(name), &result, nullptr);
    if (status)
      *status = hr;
    else
      EXPECT_EQ(hr, S_OK) << name;
    return result.vt == VT_EMPTY ? 0 : result.toInt();
  }

  // Drives this thread's loop, which the component's objects share, until
  // done() or the timeout.
  bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    return MessageLoop::current().runUntil(done, timeoutMs);
  }

  ServerLibrary library;
  ComPtr<IClassFactory> factory;
  ComPtr<IInitDone> component;
  ComPtr<ILanguageExtender> extender;
  ComPtr<PlatformConnection> connection{new PlatformConnection()};
};

}  // namespace mirelo::test
