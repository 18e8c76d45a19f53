#include "tools/mirelo/driver_session.h"

#include "client/call_failure.h"
#include "driver/errors/driver_error.h"
#include "platform/com/error_info.h"
#include "platform/com/hresult.h"
#include "platform/cp1251.h"
#include "platform/format.h"
#include "tools/mirelo/event_sink.h"
#include "tools/mirelo/usage_error.h"

namespace mirelo::shell {
namespace {

std::string failureLine(int32_t code, const std::string& text, const std::string& context) {
  std::string line = format("(%d) ", code) + text;
  return context.empty() ? line : context + ": " + line;
}

}  // namespace

DriverFailure::DriverFailure(int32_t code, const std::string& text, const std::string& context)
    : std::runtime_error(failureLine(code, text, context)),
      code_(code),
      text_(text),
      context_(context) {}

std::string DriverFailure::line() const {
  return what();
}

DriverFailure failureOf(const std::exception& error) {
  if (auto* failure = dynamic_cast<const DriverFailure*>(&error)) return *failure;
  ResultOf result = resultOf(error);
  return DriverFailure(result.code, ansiToUtf8(result.text));
}

int runGuarded(const CommandContext& context, const char* command,
               const std::function<int()>& body) {
  try {
    return body();
  } catch (const UsageError& e) {
    context.err << "mirelo: " << e.what() << "\nRun 'mirelo " << command
                << " --help' for its usage.\n";
    context.err.flush();
    return 2;
  } catch (const DriverFailure& e) {
    context.err << "mirelo: " << e.line() << '\n';
  } catch (const Exception& e) {
    // The driver's own classes raise with Windows-1251 texts.
    context.err << "mirelo: " << failureOf(e).line() << '\n';
  } catch (const std::exception& e) {
    context.err << "mirelo: " << e.what() << '\n';
  }
  context.err.flush();
  return 1;
}

int printHelp(const CommandContext& context, const char* help) {
  context.out << ansiToUtf8(help);
  context.out.flush();
  return 0;
}

const char* protocolName(int32_t protocol) {
  return protocol == 0 ? "UDP" : protocol == 1 ? "TCP" : "?";
}

DriverSession::DriverSession() : dispatch_(createVistelObject<IDispatch>()) {
  check(dispatch_->QueryInterface(IID_IVistel4, object_.putVoid()));
}

DriverSession::~DriverSession() {
  // The object must not call a sink that is going away.
  connection_.reset();
  sink_ = nullptr;
  if (restoreIndex_) {
    SetErrorInfo(0, nullptr);
    object_->put_LDIndex(*restoreIndex_);
  }
  object_ = nullptr;
  dispatch_ = nullptr;
}

void DriverSession::check(HRESULT hr) {
  if (SUCCEEDED(hr)) return;
  CallFailure failure = takeCallFailure(hr);
  throw DriverFailure(failure.code, ansiToUtf8(failure.text));
}

LONG DriverSession::call(Method method) {
  SetErrorInfo(0, nullptr);
  LONG code = 0;
  check(((*object_).*method)(&code));
  return code;
}

void DriverSession::run(Method method) {
  if (call(method) != 0) checkResultCode();
}

void DriverSession::checkResultCode() {
  int32_t code = readInt(&IVistel4::get_ResultCode);
  if (code == 0) return;
  throw DriverFailure(code, wideToUtf8(readText(&IVistel4::get_ResultCodeDescription)));
}

int32_t DriverSession::readInt(Getter<LONG> getter) {
  SetErrorInfo(0, nullptr);
  LONG value = 0;
  check(((*object_).*getter)(&value));
  return value;
}

std::u16string DriverSession::readText(Getter<BSTR> getter) {
  SetErrorInfo(0, nullptr);
  BSTR value;
  check(((*object_).*getter)(&value));
  return value;
}

bool DriverSession::readBool(Getter<VARIANT_BOOL> getter) {
  SetErrorInfo(0, nullptr);
  VARIANT_BOOL value = VARIANT_FALSE;
  check(((*object_).*getter)(&value));
  return value != VARIANT_FALSE;
}

void DriverSession::readVariant(Getter<VARIANT> getter, Variant& value) {
  SetErrorInfo(0, nullptr);
  Variant result;
  check(((*object_).*getter)(&result));
  value = std::move(result);
}

void DriverSession::write(IntSetter setter, int32_t value) {
  SetErrorInfo(0, nullptr);
  check(((*object_).*setter)(value));
}

void DriverSession::write(TextSetter setter, const std::u16string& value) {
  SetErrorInfo(0, nullptr);
  check(((*object_).*setter)(value));
}

void DriverSession::write(BoolSetter setter, bool value) {
  SetErrorInfo(0, nullptr);
  check(((*object_).*setter)(value ? VARIANT_TRUE : VARIANT_FALSE));
}

void DriverSession::useDevice(std::optional<int32_t> number) {
  int32_t index = readInt(&IVistel4::get_LDIndex);
  if (!number) {
    // Writing the index applies the device to the driver core.
    write(&IVistel4::put_LDIndex, index);
    return;
  }
  if (!restoreIndex_) restoreIndex_ = index;
  try {
    write(&IVistel4::put_LDNumber, *number);
  } catch (const DriverFailure& failure) {
    throw failure.within(format("logical device %d", *number));
  }
}

void DriverSession::chooseDevice(int32_t number) {
  int32_t index = readInt(&IVistel4::get_LDIndex);
  selectNumber(number);
  if (!restoreIndex_) restoreIndex_ = index;
}

void DriverSession::selectNumber(int32_t number) {
  try {
    write(&IVistel4::put_LDNumber, number);
  } catch (const DriverFailure& failure) {
    // The object selects before it applies the device.
    if (readInt(&IVistel4::get_LDNumber) != number)
      throw failure.within(format("logical device %d", number));
  }
}

void DriverSession::restoreDevice() {
  if (!restoreIndex_) return;
  int32_t index = *restoreIndex_;
  restoreIndex_.reset();
  selectIndex(index);
}

void DriverSession::selectIndex(int32_t index) {
  try {
    write(&IVistel4::put_LDIndex, index);
  } catch (const DriverFailure&) {
    if (readInt(&IVistel4::get_LDIndex) != index) throw;
  }
}

void DriverSession::saveSettings() {
  try {
    run(&IVistel4::SaveParams);
  } catch (const DriverFailure& failure) {
    throw failure.within("saving the settings");
  }
}

std::optional<std::string> DriverSession::unreadableSettings() {
  if (call(&IVistel4::SaveParams) == 0) return std::nullopt;
  return wideToUtf8(readText(&IVistel4::get_ResultCodeDescription));
}

int reportUnreadableSettings(const CommandContext& context, const std::string& reason,
                             const char* shown) {
  context.err << "mirelo: the settings file could not be read (" << reason << "); " << shown
              << ", and nothing is saved\n";
  context.err.flush();
  return 1;
}

std::string DriverSession::deviceSummary() {
  std::string summary = format("№ %d ", readInt(&IVistel4::get_LDNumber)) +
                        wideToAnsi(readText(&IVistel4::get_LDName)) + " (" +
                        wideToAnsi(readText(&IVistel4::get_ClientIP)) +
                        format(":%d %s)", readInt(&IVistel4::get_ClientPort),
                               protocolName(readInt(&IVistel4::get_ClientProtocol)));
  return ansiToUtf8(summary);
}

void DriverSession::onLogLine(std::function<void(const std::u16string& line)> handler) {
  connection_.reset();
  sink_ = ComPtr<IVistelEvents>(new EventSink({}, std::move(handler)));
  connection_ = std::make_unique<EventConnection>(*object_, *sink_);
}

TerminalConnection::TerminalConnection(DriverSession& session, std::optional<int32_t> device)
    : session_(session) {
  if (device) session.useDevice(device);
  summary_ = session.deviceSummary();
  run(&IVistel4::Connect, "connecting to");
  open_ = true;
}

TerminalConnection::~TerminalConnection() {
  try {
    close();
  } catch (const std::exception&) {
    // Closing a connection has nothing to report.
  }
}

void TerminalConnection::run(DriverSession::Method method, const char* doing) {
  try {
    session_.run(method);
  } catch (const DriverFailure& failure) {
    throw failure.within(std::string(doing) + " " + summary_);
  }
}

void TerminalConnection::close() {
  if (!open_) return;
  open_ = false;
  session_.call(&IVistel4::Disconnect);
}

}  // namespace mirelo::shell
