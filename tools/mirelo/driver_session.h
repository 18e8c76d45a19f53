#pragma once
// One driver object for one command for people, driven through IVistel4
// exactly as a host drives it, and the way such a command reports failures.
//
// A method that returns a code other than 0, or a call that fails at the
// platform level (a rejected property write), raises DriverFailure with the
// code and text the object gave (client/call_failure.h).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "mirelo/vistel.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"
#include "tools/mirelo/commands.h"

namespace mirelo::shell {

class EventConnection;

class DriverFailure : public std::runtime_error {
 public:
  // text is UTF-8; context (UTF-8, may be empty) says what was being done.
  DriverFailure(int32_t code, const std::string& text, const std::string& context = {});
  int32_t code() const { return code_; }
  const std::string& text() const { return text_; }
  const std::string& context() const { return context_; }
  // "(code) text", after "context: " when there is a context.
  std::string line() const;
  DriverFailure within(const std::string& context) const {
    return DriverFailure(code_, text_, context);
  }

 private:
  int32_t code_;
  std::string text_;
  std::string context_;
};

// An exception of the driver (Windows-1251 message) as the host would see it.
DriverFailure failureOf(const std::exception& error);

// Runs a command body: UsageError prints "mirelo: message" and the hint to
// --help and gives 2; DriverFailure, the driver's exceptions and other
// failures print "mirelo: ..." and give 1.
int runGuarded(const CommandContext& context, const char* command,
               const std::function<int()>& body);
// Prints help (Windows-1251) as UTF-8 and gives 0.
int printHelp(const CommandContext& context, const char* help);

class DriverSession {
 public:
  using Method = HRESULT (IVistel4::*)(LONG*);
  template <class T>
  using Getter = HRESULT (IVistel4::*)(T*);
  using IntSetter = HRESULT (IVistel4::*)(LONG);
  using TextSetter = HRESULT (IVistel4::*)(const BSTR&);
  using BoolSetter = HRESULT (IVistel4::*)(VARIANT_BOOL);

  // Creates the object (which loads the stored settings).
  DriverSession();
  // Restores the device selection that useDevice changed, then releases the
  // object, which saves the settings.
  ~DriverSession();
  DriverSession(const DriverSession&) = delete;
  DriverSession& operator=(const DriverSession&) = delete;

  IVistel4& object() { return *object_; }

  // The method's result code; raises only when the call itself fails.
  LONG call(Method method);
  // Raises DriverFailure (with ResultCodeDescription) for a code other than 0.
  void run(Method method);
  // The same for a code that a property write left in ResultCode.
  void checkResultCode();

  int32_t readInt(Getter<LONG> getter);
  std::u16string readText(Getter<BSTR> getter);
  bool readBool(Getter<VARIANT_BOOL> getter);
  void readVariant(Getter<VARIANT> getter, Variant& value);
  void write(IntSetter setter, int32_t value);
  void write(TextSetter setter, const std::u16string& value);
  void write(BoolSetter setter, bool value);

  // Points the driver core at logical device `number` for this session, or
  // at the current device again when there is none. The stored current
  // device is selected again when the session ends.
  void useDevice(std::optional<int32_t> number);
  // Selects logical device `number` to change its settings: the stored
  // current device is selected again when the session ends. Unlike
  // useDevice, a device that cannot be applied to the driver core (a stored
  // timeout of 0) is selected too, so that its settings can be mended.
  void chooseDevice(int32_t number);
  // Selects the stored current device again now (after useDevice or
  // chooseDevice).
  void restoreDevice();
  // Makes device `number` current (LDNumber), as chooseDevice selects it.
  void selectNumber(int32_t number);
  // Makes the device at index current (LDIndex). A device that cannot be
  // applied to the driver core (a stored timeout of 0) is still selected:
  // the object takes the index before it applies the device.
  void selectIndex(int32_t index);
  // SaveParams: the devices and the driver parameters into the settings file.
  void saveSettings();
  // Why the object could not read the settings file, when it could not (it
  // then works on the defaults and saves nothing). Asks through SaveParams,
  // which saves what the object changed: ask before changing anything.
  std::optional<std::string> unreadableSettings();
  // "№ 1 Name (127.0.0.1:1002 UDP)" of the current device, UTF-8.
  std::string deviceSummary();

  // Every LogEvent of the object, from now on.
  void onLogLine(std::function<void(const std::u16string& line)> handler);

 private:
  void check(HRESULT hr);

  ComPtr<IDispatch> dispatch_;
  ComPtr<IVistel4> object_;
  ComPtr<IVistelEvents> sink_;
  std::unique_ptr<EventConnection> connection_;
  std::optional<int32_t> restoreIndex_;
};

// A connection to the chosen terminal for the life of the object: Connect on
// construction (which applies the device and, over TCP, refuses a terminal
// in programming mode), Disconnect on destruction whatever happened.
class TerminalConnection {
 public:
  // device: a logical device number, or none for the current device.
  // Raises DriverFailure naming the device.
  TerminalConnection(DriverSession& session, std::optional<int32_t> device);
  ~TerminalConnection();
  TerminalConnection(const TerminalConnection&) = delete;
  TerminalConnection& operator=(const TerminalConnection&) = delete;

  // Runs a method; a failure names what was done ("locking") and the device.
  void run(DriverSession::Method method, const char* doing);
  const std::string& summary() const { return summary_; }
  void close();

 private:
  DriverSession& session_;
  std::string summary_;
  bool open_ = false;
};

// Prints on standard error that the settings could not be read (reason) and
// that what is shown are the defaults; gives the exit status 1.
int reportUnreadableSettings(const CommandContext& context, const std::string& reason,
                             const char* shown);

// "UDP" or "TCP".
const char* protocolName(int32_t protocol);

}  // namespace mirelo::shell
