#include "native1c/vistel_component.h"

#include "client/call_failure.h"
#include "driver/errors/driver_error.h"
#include "mirelo/vistel.h"
#include "platform/com/error_info.h"
#include "platform/cp1251.h"
#include "platform/format.h"

namespace mirelo::native {

namespace {
constexpr char16_t kSource[] = u"Vistel";
}  // namespace

// The connection object that the add-in's Init takes: its IAsyncEvent hands
// each external event to the platform. Used on the driver thread only.
class EventBridge final : public ComObject<IDispatch, IAsyncEvent> {
 public:
  explicit EventBridge(IAddInDefBase* platform) : platform_(platform) {}
  // The platform is gone (Done): events are refused from now on.
  void detach() { platform_ = nullptr; }

  HRESULT GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  // The component sets the depth itself, on the platform's thread, at Init.
  HRESULT SetEventBufferDepth(LONG) override { return E_NOTIMPL; }
  HRESULT GetEventBufferDepth(LONG*) override { return E_NOTIMPL; }
  // A refusal comes back as a failure with its reason: the add-in raises it
  // and the driver writes it to its log.
  HRESULT ExternalEvent(const BSTR& source, const BSTR& message, const BSTR& data) override {
    try {
      if (!platform_)
        return reportError(E_FAIL, IID_IAsyncEvent, kSource,
                           ansiToWide("Компонента отключена от платформы"));
      std::basic_string<WCHAR_T> s = toPlatform(source), m = toPlatform(message),
                                 d = toPlatform(data);
      if (platform_->ExternalEvent(s.data(), m.data(), d.data())) return S_OK;
      return reportError(E_FAIL, IID_IAsyncEvent, kSource,
                         ansiToWide("Платформа не приняла внешнее событие (буфер событий полон)"));
    } catch (...) {
      return reportCurrentException(IID_IAsyncEvent, kSource);
    }
  }
  HRESULT CleanBuffer() override { return E_NOTIMPL; }

 private:
  IAddInDefBase* platform_;
};

VistelComponent::VistelComponent() {
  thread_.run([this] {
    try {
      HRESULT hr = createVistelObject(IID_IInitDone, initDone_.putVoid());
      if (SUCCEEDED(hr)) {
        extender_ = initDone_.as<ILanguageExtender>();
        if (!extender_) hr = E_NOINTERFACE;
      }
      checkCall(hr);
      LONG count = 0;
      checkCall(extender_->GetNProps(&count));
      for (LONG index = 0; index < count; ++index) {
        Property property;
        BOOL readable = 0, writable = 0;
        checkCall(extender_->GetPropName(index, 0, &property.name));
        checkCall(extender_->IsPropReadable(index, &readable));
        checkCall(extender_->IsPropWritable(index, &writable));
        property.kind = propertyKind(property.name);
        property.readable = readable != 0;
        property.writable = writable != 0;
        properties_.push_back(std::move(property));
      }
      checkCall(extender_->GetNMethods(&count));
      methodCount_ = count;
    } catch (const std::exception& error) {
      creationFailure_ = format("Не удалось создать объект Addin.Vistel: %s", error.what());
      properties_.clear();
      methodCount_ = 0;
      extender_ = nullptr;
      initDone_ = nullptr;
    }
  });
}

VistelComponent::~VistelComponent() {
  try {
    thread_.run([this] {
      if (events_) events_->detach();
      events_ = nullptr;
      extender_ = nullptr;
      initDone_ = nullptr;  // the driver saves its settings as it goes
    });
  } catch (...) {
  }
}

template <class Result, class Body>
Result VistelComponent::guarded(Result failed, Body body) noexcept {
  try {
    return body();
  } catch (const std::exception& error) {
    ResultOf result = resultOf(error);
    reportFailure(result.code, result.text);
  } catch (...) {
    reportFailure(ResultCode::General, "Неизвестная ошибка");
  }
  return failed;
}

void VistelComponent::reportFailure(int32_t code, const std::string& text) noexcept {
  if (!platform_) return;
  try {
    std::basic_string<WCHAR_T> description =
        toPlatform(ansiToWide(format("(%d) %s", code, text.c_str())));
    platform_->AddError(ADDIN_E_FAIL, toPlatform(kSource).c_str(), description.c_str(), code);
  } catch (...) {
  }
}

// ---- IInitDoneBase ----

bool VistelComponent::Init(void* connection) {
  platform_ = static_cast<IAddInDefBase*>(connection);
  return guarded(false, [&] {
    if (!platform_) return false;
    if (!driverReady()) raiseError(ResultCode::General, creationFailure_);
    if (platform_->GetEventBufferDepth() < kEventBufferDepth)
      platform_->SetEventBufferDepth(kEventBufferDepth);
    IAddInDefBase* platform = platform_;
    thread_.run([this, platform] {
      if (events_) events_->detach();
      events_ = new EventBridge(platform);
      checkCall(initDone_->Init(static_cast<IDispatch*>(events_.get())));
    });
    return true;
  });
}

bool VistelComponent::setMemManager(void* memory) {
  memory_ = static_cast<IMemoryManager*>(memory);
  return memory_ != nullptr;
}

void VistelComponent::Done() {
  guarded(false, [&] {
    thread_.run([this] {
      if (events_) events_->detach();
      events_ = nullptr;
      if (initDone_) checkCall(initDone_->Done());
    });
    return true;
  });
  platform_ = nullptr;
}

// ---- ILanguageExtenderBase ----

bool VistelComponent::RegisterExtensionAs(WCHAR_T** name) {
  return guarded(false, [&] {
    if (!name || !driverReady()) return false;
    std::u16string extension = thread_.run([this] {
      BSTR text;
      checkCall(extender_->RegisterExtensionAs(&text));
      return text;
    });
    *name = allocateText(memory_, extension);
    return true;
  });
}

long VistelComponent::findMember(bool method, const WCHAR_T* name) {
  return guarded(-1L, [&] {
    if (!name || !driverReady()) return -1L;
    std::u16string text = fromPlatform(name);
    return thread_.run([&] {
      LONG index = -1;
      if (method)
        extender_->FindMethod(text, &index);
      else
        extender_->FindProp(text, &index);
      return static_cast<long>(index);
    });
  });
}

const WCHAR_T* VistelComponent::memberName(bool method, long index, long alias) {
  return guarded<const WCHAR_T*>(nullptr, [&]() -> const WCHAR_T* {
    if (!(method ? validMethod(index) : validProperty(index))) return nullptr;
    std::u16string name = thread_.run([&] {
      BSTR text;
      LONG item = static_cast<LONG>(index), language = alias == 0 ? 0 : 1;
      checkCall(method ? extender_->GetMethodName(item, language, &text)
                       : extender_->GetPropName(item, language, &text));
      return text;
    });
    return allocateText(memory_, name);
  });
}

long VistelComponent::FindProp(const WCHAR_T* name) {
  return findMember(false, name);
}

const WCHAR_T* VistelComponent::GetPropName(long prop, long alias) {
  return memberName(false, prop, alias);
}

bool VistelComponent::GetPropVal(const long prop, tVariant* value) {
  return guarded(false, [&] {
    if (!value || !validProperty(prop)) return false;
    Variant result = thread_.run([&] {
      Variant read;
      checkCall(extender_->GetPropVal(static_cast<LONG>(prop), &read));
      return read;
    });
    *value = toPlatform(result, properties_[prop].kind, memory_);
    return true;
  });
}

bool VistelComponent::SetPropVal(const long prop, tVariant* value) {
  return guarded(false, [&] {
    if (!value || !validProperty(prop)) return false;
    const Property& property = properties_[prop];
    if (!property.writable)
      raiseError(ResultCode::General,
                 format("Свойство %s только для чтения", wideToAnsi(property.name).c_str()));
    Variant written = toAutomation(*value, property.kind, property.name);
    thread_.run([&] { checkCall(extender_->SetPropVal(static_cast<LONG>(prop), &written)); });
    return true;
  });
}

bool VistelComponent::IsPropReadable(const long prop) {
  return validProperty(prop) && properties_[prop].readable;
}

bool VistelComponent::IsPropWritable(const long prop) {
  return validProperty(prop) && properties_[prop].writable;
}

long VistelComponent::FindMethod(const WCHAR_T* name) {
  return findMember(true, name);
}

const WCHAR_T* VistelComponent::GetMethodName(const long method, const long alias) {
  return memberName(true, method, alias);
}

bool VistelComponent::callMethod(long method, tVariant* result) {
  return guarded(false, [&] {
    if (!validMethod(method)) return false;
    Variant value = thread_.run([&] {
      Variant returned;
      LONG item = static_cast<LONG>(method);
      // The parameters are not read: no method takes any.
      checkCall(result ? extender_->CallAsFunc(item, &returned, nullptr)
                       : extender_->CallAsProc(item, nullptr));
      return returned;
    });
    if (result) *result = toPlatform(value, ValueKind::Any, memory_);
    return true;
  });
}

bool VistelComponent::CallAsProc(const long method, tVariant*, const long) {
  return callMethod(method, nullptr);
}

bool VistelComponent::CallAsFunc(const long method, tVariant* result, tVariant*, const long) {
  return result && callMethod(method, result);
}

}  // namespace mirelo::native
