#include "tools/mirelo/item_runner.h"

#include <chrono>

#include "platform/com/creation.h"
#include "platform/com/error_info.h"
#include "platform/cp1251.h"
#include "platform/format.h"
#include "platform/message_loop.h"
#include "tools/mirelo/usage_error.h"
#include "tools/mirelo/value_text.h"

namespace mirelo::shell {
namespace {

bool isWait(std::string_view name) {
  if (name.size() != 4) return false;
  for (size_t i = 0; i < 4; ++i)
    if ((name[i] | 0x20) != "wait"[i]) return false;
  return true;
}

}  // namespace

ItemRunner::ItemRunner(IDispatch& object, Report& report)
    : object_(&object), report_(report), catalog_(object) {
  description_ = catalog_.find("ResultCodeDescription");
  sink_ = ComPtr<IVistelEvents>(new EventSink(
      [this](int32_t senderId, const std::u16string& data) { report_.dataEvent(senderId, data); },
      [this](const std::u16string& data) { report_.logEvent(data); }));
  connection_ = std::make_unique<EventConnection>(object, *sink_);
}

ItemRunner::~ItemRunner() {
  // The object must not call a sink that is going away, nor keep it alive.
  connection_.reset();
  sink_ = nullptr;
  object_ = nullptr;
}

Item ItemRunner::parse(std::string_view text) const {
  size_t equals = text.find('=');
  std::string_view name = trimBlanks(text.substr(0, equals));
  bool hasValue = equals != std::string_view::npos;
  std::string_view value = hasValue ? text.substr(equals + 1) : std::string_view();

  Item item;
  if (isWait(name)) {
    if (!hasValue) throw UsageError("wait needs a time: wait=MS");
    item.kind = Item::Kind::Wait;
    int32_t ms = parseInteger(value);
    if (ms < 0) throw UsageError("wait needs a time of 0 milliseconds or more");
    item.waitMs = ms;
    return item;
  }
  item.member = catalog_.find(name);
  if (!item.member) throw UsageError("unknown member '" + std::string(name) + "'");
  const MemberInfo& member = *item.member;
  if (member.kind == MemberKind::Method) {
    if (hasValue) throw UsageError(member.name + " is a method and takes no value");
    item.kind = Item::Kind::Call;
  } else if (hasValue) {
    if (!member.writable) throw UsageError(member.name + " is read-only");
    item.kind = Item::Kind::Write;
    try {
      item.value = parseValue(member.type, value);
    } catch (const UsageError& e) {
      throw UsageError("invalid value for " + member.name + ": " + e.what());
    }
  } else {
    if (!member.readable) throw UsageError(member.name + " cannot be read");
    item.kind = Item::Kind::Read;
  }
  return item;
}

ItemRunner::Outcome ItemRunner::invoke(DISPID dispid, WORD flags, const Variant* value) {
  Variant argument;
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params{nullptr, nullptr, 0, 0};
  if (value) {
    argument = *value;
    params = DISPPARAMS{&argument, &putId, 1, 1};
  }
  Outcome outcome;
  EXCEPINFO exception;
  UINT argumentError = 0;
  SetErrorInfo(0, nullptr);
  HRESULT hr = object_->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                               value ? nullptr : &outcome.value, &exception, &argumentError);
  if (SUCCEEDED(hr)) {
    outcome.ok = true;
    return outcome;
  }
  // The message: the member's exception, else the thread's error
  // information, else the system's text for the status.
  if (hr == DISP_E_EXCEPTION) {
    if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
    outcome.error = exception.bstrDescription;
    if (outcome.error.empty() && exception.scode) hr = exception.scode;
  }
  if (outcome.error.empty()) {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) == S_OK && info) info->GetDescription(&outcome.error);
  }
  if (outcome.error.empty()) outcome.error = ansiToWide(hresultMessage(hr));
  return outcome;
}

bool ItemRunner::run(const Item& item) {
  switch (item.kind) {
    case Item::Kind::Wait:
      runMessageLoop(item.waitMs);
      return true;
    case Item::Kind::Read: {
      Outcome read = invoke(item.member->dispid, DISPATCH_PROPERTYGET, nullptr);
      if (!read.ok) {
        report_.readFailed(item.member->name, read.error);
        return false;
      }
      report_.read(item.member->name, read.value);
      return true;
    }
    case Item::Kind::Write: {
      Outcome write = invoke(item.member->dispid, DISPATCH_PROPERTYPUT, &item.value);
      if (!write.ok) report_.writeFailed(item.member->name, write.error);
      return write.ok;
    }
    case Item::Kind::Call: {
      Outcome call = invoke(item.member->dispid, DISPATCH_METHOD, nullptr);
      if (!call.ok) {
        report_.callFailed(item.member->name, call.error);
        return false;
      }
      if (item.member->type == VT_VOID) {
        report_.done(item.member->name);
        return true;
      }
      int32_t code = 0;
      try {
        code = call.value.toInt();
      } catch (const std::exception&) {
        report_.callFailed(item.member->name, u"the method returned no result code");
        return false;
      }
      std::u16string description;
      if (description_) {
        Outcome text = invoke(description_->dispid, DISPATCH_PROPERTYGET, nullptr);
        if (text.ok && text.value.type() == VT_BSTR) description = text.value.bstrVal;
      }
      report_.called(item.member->name, code, description);
      return code == 0;
    }
  }
  return false;
}

void ItemRunner::processMessages() {
  MessageLoop::current().processMessages();
}

void ItemRunner::runMessageLoop(int ms) {
  runMessageLoopFor(ms);
}

void runMessageLoopFor(int ms) {
  using Clock = std::chrono::steady_clock;
  MessageLoop& loop = MessageLoop::current();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  loop.processMessages();
  for (;;) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    loop.waitAndProcess(static_cast<int>(left));
  }
}

}  // namespace mirelo::shell
