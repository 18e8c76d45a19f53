#pragma once
// The responder's view of the driver: one automation object, used only
// through its dual interface, and a sink that receives its DataEvent.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "client/event_sink.h"
#include "mirelo/vistel.h"

namespace mirelo {

// A new driver object. The one place that decides how it is made.
ComPtr<IVistel4> createDriverObject();

// Receives the object's events; DataEvent goes to the handler with Data as
// Windows-1251 bytes. The handler's failures are the handler's: the sink
// always reports success, so the driver goes on delivering queued messages.
class TDataEventSink : public TVistelEventSink {
 public:
  using Handler = std::function<void(const std::string& data, int32_t senderId)>;
  explicit TDataEventSink(Handler handler);

  // Set when a handler raised: what it said (Windows-1251).
  std::string lastHandlerError;
};

// The driver object with its DataEvent connected for as long as this lives.
// Calls go through the IVistel4 slots; a call that fails at the platform
// level raises Exception with the object's error description.
class TDriverObject {
 public:
  explicit TDriverObject(TDataEventSink::Handler onData);
  ~TDriverObject();
  TDriverObject(const TDriverObject&) = delete;
  TDriverObject& operator=(const TDriverObject&) = delete;

  IVistel4& object() { return *object_; }

  // Methods return the result code; success is judged from ResultCode.
  int32_t OpenServer();
  int32_t CloseServer();
  int32_t SendAnswer();
  int32_t GetSenderParams();
  int32_t ShowProperties();

  bool ServerOpened();
  int32_t ResultCode();
  std::string ResultCodeDescription();
  int32_t ServerPort();
  int32_t ServerProtocol();
  std::string SenderIP();

  void SetSenderID(int32_t id);
  void SetLine1(std::string_view text);
  void SetLine2(std::string_view text);

 private:
  void check(HRESULT hr, const char* member);

  ComPtr<IVistel4> object_;
  ComPtr<TDataEventSink> sink_;
  std::unique_ptr<TEventConnection> events_;
  std::u16string wide_;
};

}  // namespace mirelo
