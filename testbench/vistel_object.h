#pragma once
// The test program's view of the driver: one automation object, created by
// its programmatic identifier and used only through IVistel4, with a sink on
// IVistelEvents. Methods return the result code the object left; a call that
// fails at the platform level (a rejected property write, ShowProperties
// without the dialogs) raises Exception with the object's text.
#include <QString>
#include <cstdint>
#include <memory>

#include "client/event_sink.h"
#include "mirelo/vistel.h"

namespace mirelo {

class TVistelObject {
 public:
  // The sink stays connected for as long as this lives.
  explicit TVistelObject(ComPtr<TVistelEventSink> sink);
  ~TVistelObject();
  TVistelObject(const TVistelObject&) = delete;
  TVistelObject& operator=(const TVistelObject&) = delete;

  IVistel4& object() { return *object_; }

#define ONDREL_METHOD(name)              \
  int32_t name() {                       \
    return call(&IVistel4::name, #name); \
  }
  ONDREL_METHOD(Connect)
  ONDREL_METHOD(Disconnect)
  ONDREL_METHOD(GetStatus)
  ONDREL_METHOD(LockDevice)
  ONDREL_METHOD(UnlockDevice)
  ONDREL_METHOD(Reset)
  ONDREL_METHOD(SendBarcode)
  ONDREL_METHOD(ShowMessage)
  ONDREL_METHOD(ShowLine)
  ONDREL_METHOD(ReadMessage)
  ONDREL_METHOD(WriteMessage)
  ONDREL_METHOD(SetDefaultMessage)
  ONDREL_METHOD(SendCommand)
  ONDREL_METHOD(OpenServer)
  ONDREL_METHOD(CloseServer)
  ONDREL_METHOD(SendAnswer)
  ONDREL_METHOD(GetSenderParams)
  ONDREL_METHOD(DeviceBySenderID)
  ONDREL_METHOD(GetData)
  ONDREL_METHOD(ShowProperties)
#undef ONDREL_METHOD

#define ONDREL_LONG(name)                         \
  int32_t name() {                                \
    return getLong(&IVistel4::get_##name, #name); \
  }
#define ONDREL_TEXT(name)                         \
  QString name() {                                \
    return getText(&IVistel4::get_##name, #name); \
  }
#define ONDREL_BOOL(name)                         \
  bool name() {                                   \
    return getBool(&IVistel4::get_##name, #name); \
  }
  ONDREL_TEXT(Input)
  ONDREL_TEXT(Output)
  ONDREL_LONG(ResultCode)
  ONDREL_TEXT(ResultCodeDescription)
  ONDREL_TEXT(SoftVersion)
  ONDREL_LONG(SoftBuild)
  ONDREL_TEXT(SoftDate)
  ONDREL_LONG(DeviceType)
  ONDREL_TEXT(DeviceTypeDescription)
  ONDREL_LONG(SerialNumber)
  ONDREL_LONG(StatusFlags)
  ONDREL_BOOL(IsDeviceLocked)
  ONDREL_BOOL(IsSetupTableError)
  ONDREL_TEXT(MAC)
  ONDREL_LONG(FirmID)
  ONDREL_BOOL(ServerOpened)
  ONDREL_TEXT(SenderIP)
  ONDREL_TEXT(LDName)
  ONDREL_TEXT(Line1)
  ONDREL_TEXT(Line2)
#undef ONDREL_LONG
#undef ONDREL_TEXT
#undef ONDREL_BOOL

  // The bytes of DataBlockSA, from its lower to its upper bound.
  std::string DataBlockBytes();

#define ONDREL_PUT_LONG(name)                 \
  void Set##name(int32_t value) {             \
    check(object_->put_##name(value), #name); \
  }
#define ONDREL_PUT_TEXT(name)                                  \
  void Set##name(const QString& value) {                       \
    check(object_->put_##name(value.toStdU16String()), #name); \
  }
  ONDREL_PUT_TEXT(Barcode)
  ONDREL_PUT_TEXT(Line1)
  ONDREL_PUT_TEXT(Line2)
  ONDREL_PUT_TEXT(LineData)
  ONDREL_PUT_TEXT(CommandData)
  ONDREL_PUT_LONG(LineNumber)
  ONDREL_PUT_LONG(LineSpeed)
  ONDREL_PUT_LONG(LineType)
  ONDREL_PUT_LONG(MessageNumber)
  ONDREL_PUT_LONG(SenderID)
  ONDREL_PUT_LONG(DeviceCode)
  ONDREL_PUT_LONG(DataBlockNumber)
#undef ONDREL_PUT_LONG
#undef ONDREL_PUT_TEXT

  // Raises Exception with the object's text for a failure status.
  void check(HRESULT hr, const char* member);

 private:
  int32_t call(HRESULT (IVistel4::*method)(LONG*), const char* member);
  int32_t getLong(HRESULT (IVistel4::*get)(LONG*), const char* member);
  QString getText(HRESULT (IVistel4::*get)(BSTR*), const char* member);
  bool getBool(HRESULT (IVistel4::*get)(VARIANT_BOOL*), const char* member);

  ComPtr<IVistel4> object_;
  std::unique_ptr<TEventConnection> events_;
};

}  // namespace mirelo
