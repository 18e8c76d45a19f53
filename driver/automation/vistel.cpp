#include "driver/automation/vistel.h"

#include "driver/automation/control.h"
#include "driver/automation/dialog_host.h"
#include "driver/devices/driver_params.h"
#include "driver/errors/driver_error.h"
#include "driver/errors/wsa_error.h"
#include "platform/com/error_info.h"
#include "platform/cp1251.h"
#include "platform/format.h"
#include "platform/registry/registry.h"

namespace mirelo {

namespace {

IDialogHost* gDialogHost = nullptr;

std::u16string wide(std::string_view text) {
  return ansiToWide(text);
}
std::string ansi(const std::u16string& text) {
  return wideToAnsi(text);
}
VARIANT_BOOL boolean(bool value) {
  return value ? VARIANT_TRUE : VARIANT_FALSE;
}

constexpr LONG kMaxPort = 65535;
constexpr size_t kMaxIPText = 15;

const char* const kDeviceCodeTexts[] = {"Внешняя ПД", "Внутренняя ПД", "Внутренняя ПД CS8900A",
                                        "Внутренняя ПП"};

// VARTYPE of each member type.
template <class T>
constexpr VARTYPE vartypeOf();
template <>
constexpr VARTYPE vartypeOf<LONG>() {
  return VT_I4;
}
template <>
constexpr VARTYPE vartypeOf<BSTR>() {
  return VT_BSTR;
}
template <>
constexpr VARTYPE vartypeOf<VARIANT_BOOL>() {
  return VT_BOOL;
}
template <>
constexpr VARTYPE vartypeOf<VARIANT>() {
  return VT_VARIANT;
}

// A member's value as a Variant, and back.
Variant toVariant(LONG value) {
  return Variant(static_cast<int32_t>(value));
}
Variant toVariant(const BSTR& value) {
  return Variant(value);
}
Variant toVariant(VARIANT_BOOL value) {
  return Variant(value != 0);
}
Variant toVariant(const Variant& value) {
  return value;
}

// The call's own argument: a text is taken over rather than copied.
template <class T>
typename MemberType<T>::type fromVariant(Variant& value);
template <>
LONG fromVariant<LONG>(Variant& value) {
  return value.toInt();
}
template <>
BSTR fromVariant<BSTR>(Variant& value) {
  return value.vt == VT_BSTR ? std::move(value.bstrVal) : value.toString();
}
template <>
VARIANT_BOOL fromVariant<VARIANT_BOOL>(Variant& value) {
  return boolean(value.toBool());
}

}  // namespace

IDialogHost* dialogHost() {
  return gDialogHost;
}
void registerDialogHost(IDialogHost* host) {
  gDialogHost = host;
}

// ---- the dispatch table, from the member table ----

const DispatchMap<TVistel>& TVistel::dispatchMap() {
#define MIRELO_ENTRY_ABOUT(name, id, T, help)   \
  {{#name, id, INVOKE_FUNC, VT_VOID, {}, help}, \
   [](TVistel& self, DispatchCall&) { self.Do##name(); }},
#define MIRELO_ENTRY_METHOD(name, id, T, help) \
  {{#name, id, INVOKE_FUNC, VT_I4, {}, help},  \
   [](TVistel& self, DispatchCall& call) { call.result = toVariant(self.Do##name()); }},
#define MIRELO_ENTRY_READ(name, id, T, help)                  \
  {{#name, id, INVOKE_PROPERTYGET, vartypeOf<T>(), {}, help}, \
   [](TVistel& self, DispatchCall& call) { call.result = toVariant(self.Get##name()); }},
#define MIRELO_ENTRY_READWRITE(name, id, T, help)                       \
  MIRELO_ENTRY_READ(name, id, T, help){                                 \
      {#name, id, INVOKE_PROPERTYPUT, VT_VOID, {vartypeOf<T>()}, help}, \
      [](TVistel& self, DispatchCall& call) { self.Set##name(fromVariant<T>(call.args.at(0))); }},
#define MIRELO_ENTRY(kind, name, id, T, help) MIRELO_ENTRY_##kind(name, id, T, help)
  static const DispatchMap<TVistel> map(
      DispatchType{IID_IVistel4, "IVistel4", kLibraryHelp, u"Vistel",
                   TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE},
      {MIRELO_IVISTEL_MEMBERS(MIRELO_ENTRY) MIRELO_IVISTEL2_MEMBERS(MIRELO_ENTRY)
           MIRELO_IVISTEL3_MEMBERS(MIRELO_ENTRY) MIRELO_IVISTEL4_MEMBERS(MIRELO_ENTRY)});
#undef MIRELO_ENTRY
  return map;
}

// ---- life ----

TVistel::TVistel() : ComObject(dispatchMap()) {
  events_ = std::make_unique<ConnectionPoint>(
      *this, DIID_IVistelEvents, ConnectionPoint::kUnlimited,
      [this](IUnknown* sink, bool connected) { onSinkChanged(sink, connected); });
  // The container's sinks, told after a property page applied its changes.
  propertyNotify_ = std::make_unique<ConnectionPoint>(*this, IID_IPropertyNotifySink);
  try {
    DoSetDefaults();
    TDriverParams params;
    params.LogFileName = Driver().LogFileName();
    try {
      devices_.Load(registry());
      ReadParams(registry(), params);
    } catch (const std::exception& e) {
      // A store that cannot be read: the defaults, one default device, and
      // no save over it (SaveParams reports why).
      storeFailure_ = e.what();
      devices_.Clear();
      devices_.Add();
      params = TDriverParams{};
      params.LogFileName = Driver().LogFileName();
    }
    storedParams_ = params;
    Driver().SetServerPort(params.ServerPort);
    Driver().SetServerProtocol(params.ServerProtocol);
    Driver().SetLogFileName(params.LogFileName);
    Driver().SetLogEnabled(params.LogEnabled);
    softFileName_ = params.SoftFileName;
    ApplyDevice();
  } catch (const std::exception&) {
  }
}

TVistel::~TVistel() {
  DoSaveParams();
  events_.reset();
  propertyNotify_.reset();
  fields_.reset();
  driver_.reset();
}

ComPtr<IVistel4> CreateVistel() {
  return ComPtr<IVistel4>(new TVistel());
}

Registry& TVistel::registry() {
  if (!registry_) registry_ = std::make_unique<Registry>();
  return *registry_;
}

TDriver& TVistel::Driver() {
  if (!driver_) {
    driver_ = std::make_unique<TDriver>();
    // Virtual: a class that extends the object extends what a message does.
    driver_->OnMessage = [this](const std::string& payload, int32_t id) {
      FireDataEvent(payload, id);
    };
    driver_->OnLog = [this](const std::string& line) { FireLogEvent(line); };
  }
  return *driver_;
}

TFields& TVistel::Fields() {
  if (!fields_) fields_ = std::make_unique<TFields>();
  return *fields_;
}

TDevice& TVistel::currentDevice() {
  TDevice* device = devices_.Current();
  if (!device) raiseError(ResultCode::DeviceNotFound, ResultText::DeviceNotFound);
  return *device;
}

void TVistel::ApplyDevice() {
  TDevice& device = currentDevice();
  TDriver& driver = Driver();
  driver.SetTimeout(static_cast<uint16_t>(device.Timeout()));
  driver.SetDeviceAddress(device.IPAddress());
  driver.SetClientPort(device.ClientPort());
  driver.SetRepeatCount(device.RepeatCount());
  driver.SetClientProtocol(device.ClientProtocol());
}

// ---- result discipline ----

void TVistel::SetSuccess() {
  resultCode_ = ResultCode::Ok;
  resultText_ = ResultText::Ok;
}

void TVistel::SetErrorFromException(const std::exception& error) {
  ResultOf result = resultOf(error);
  resultCode_ = result.code;
  resultText_ = result.text;
}

template <class Body>
LONG TVistel::run(Body body) {
  try {
    body();
    SetSuccess();
  } catch (const std::exception& error) {
    SetErrorFromException(error);
  }
  return resultCode_;
}

LONG TVistel::fail(int32_t code, const std::string& text) {
  resultCode_ = code;
  resultText_ = text;
  return code;
}

template <class T>
HRESULT TVistel::slotGet(DISPID id, T* value) {
  if (!value) return E_POINTER;
  Variant result;
  HRESULT hr = callMember(id, INVOKE_PROPERTYGET, {}, &result);
  if (FAILED(hr)) return hr;
  if constexpr (std::is_same_v<T, VARIANT>) {
    VariantInit(value);
    return VariantCopy(value, &result);
  } else if constexpr (std::is_same_v<T, VARIANT_BOOL>) {
    *value = boolean(result.toBool());
  } else if constexpr (std::is_same_v<T, BSTR>) {
    *value = result.vt == VT_BSTR ? std::move(result.bstrVal) : result.toString();
  } else {
    *value = result.toInt();
  }
  return hr;
}

// The slots are inline in the header: a class derived in another file
// needs every instantiation to exist here.
template HRESULT TVistel::slotGet<LONG>(DISPID, LONG*);
template HRESULT TVistel::slotGet<BSTR>(DISPID, BSTR*);
template HRESULT TVistel::slotGet<VARIANT_BOOL>(DISPID, VARIANT_BOOL*);
template HRESULT TVistel::slotGet<VARIANT>(DISPID, VARIANT*);

HRESULT TVistel::slotPut(DISPID id, Variant value) {
  return callMemberTaking(id, INVOKE_PROPERTYPUT, std::span<Variant>(&value, 1));
}

// ---- events ----

void TVistel::onSinkChanged(IUnknown* sink, bool connected) {
  // The object keeps the sink it was given last.
  if (!connected) {
    if (sink_ && static_cast<IUnknown*>(sink_.get()) == sink) sink_ = nullptr;
    return;
  }
  sink_ = nullptr;
  if (sink) sink->QueryInterface(IID_IDispatch, sink_.putVoid());
}

HRESULT TVistel::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  return E_NOTIMPL;
}

HRESULT TVistel::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (!ppCP) return E_POINTER;
  *ppCP = nullptr;
  ConnectionPoint* points[] = {events_.get(), propertyNotify_.get()};
  return findConnectionPoint(points, riid, ppCP);
}

namespace {
// reversed: the arguments last first, as DISPPARAMS has them.
template <size_t N>
HRESULT invokeEvent(IDispatch* sink, DISPID id, Variant (&reversed)[N]) {
  DISPPARAMS params{reversed, nullptr, static_cast<UINT>(N), 0};
  return sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                      nullptr);
}
}  // namespace

void TVistel::FireDataEvent(const std::string& data, int32_t senderId) {
  if (!sink_) return;
  ComPtr<IDispatch> sink = sink_;
  Variant args[] = {Variant(static_cast<int32_t>(senderId)), Variant(wide(data))};
  HRESULT hr = invokeEvent(sink.get(), DISPID_DataEvent, args);
  if (FAILED(hr)) throw EOleSysError(hr);
}

void TVistel::FireLogEvent(const std::string& line) {
  if (!sink_) return;
  ComPtr<IDispatch> sink = sink_;
  // A sink that fails a log line has nobody to tell: logging it would recurse.
  Variant args[] = {Variant(wide(line))};
  invokeEvent(sink.get(), DISPID_LogEvent, args);
}

// ---- logical devices ----

LONG TVistel::GetLDCount() {
  return devices_.Count();
}
LONG TVistel::GetLDIndex() {
  return devices_.Index();
}
void TVistel::SetLDIndex(const LONG& value) {
  devices_.SetIndex(value);
  ApplyDevice();
  SetSuccess();
}
LONG TVistel::GetLDNumber() {
  return devices_.CurrentNumber();
}
void TVistel::SetLDNumber(const LONG& value) {
  devices_.SelectByNumber(value);
  ApplyDevice();
  SetSuccess();
}
BSTR TVistel::GetLDName() {
  return wide(devices_.CurrentName());
}
void TVistel::SetLDName(const BSTR& value) {
  devices_.SetCurrentName(ansi(value));
  SetSuccess();
}
LONG TVistel::DoAddLD() {
  return run([&] { devices_.Add(); });
}
LONG TVistel::DoDeleteLD() {
  return run([&] { devices_.DeleteCurrent(); });
}
LONG TVistel::DoSaveParams() {
  return run([&] {
    if (!storeFailure_.empty()) {
      // What could not be read is not written over.
      Driver().Log().WriteLine("Settings not saved: " + storeFailure_);
      throw ERegistryError(storeFailure_);
    }
    Registry& store = registry();
    TDriverParams params;
    params.SoftFileName = softFileName_;
    params.ServerPort = Driver().ServerPort();
    params.ServerProtocol = static_cast<TProtocol>(Driver().ServerProtocol());
    params.LogEnabled = Driver().LogEnabled();
    params.LogFileName = Driver().LogFileName();
    // Only what this object changed, so that other objects' changes survive.
    Registry::Transaction transaction(store);
    devices_.WriteChanges(store);
    WriteParamChanges(store, params, storedParams_);
    transaction.commit();
    devices_.ChangesSaved();
    storedParams_ = params;
  });
}
VARIANT_BOOL TVistel::GetLockDevices() {
  return boolean(lockDevices_);
}
void TVistel::SetLockDevices(const VARIANT_BOOL& value) {
  lockDevices_ = value != 0;
  SetSuccess();
}
BSTR TVistel::GetClientIP() {
  return wide(currentDevice().IPAddress());
}
void TVistel::SetClientIP(const BSTR& value) {
  std::string address = ansi(value);
  // Refused as SetIPAddress refuses it, so that no device holds an address
  // no command could use ("255.255.255.254" is the longest).
  if (address.size() > kMaxIPText) {
    std::string shown = address.substr(0, kMaxIPText + 1) + "...";
    raiseError(ResultCode::InvalidValue, invalidIPText(shown));
  }
  parseIPText(address);
  currentDevice().SetIPAddress(address);
  SetSuccess();
}
LONG TVistel::GetClientPort() {
  return currentDevice().ClientPort();
}
void TVistel::SetClientPort(const LONG& value) {
  if (value < 0 || value > kMaxPort) raiseOutOfRange(0, kMaxPort);
  currentDevice().SetClientPort(value);
  Driver().SetClientPort(value);
  SetSuccess();
}
LONG TVistel::GetClientTimeout() {
  return currentDevice().Timeout();
}
void TVistel::SetClientTimeout(const LONG& value) {
  TDevice& device = currentDevice();
  // The driver core takes the low 16 bits and refuses 0; a refused value is
  // not kept either.
  Driver().SetTimeout(static_cast<uint16_t>(value));
  device.SetTimeout(value);
  SetSuccess();
}
LONG TVistel::GetClientProtocol() {
  return currentDevice().ClientProtocol();
}
void TVistel::SetClientProtocol(const LONG& value) {
  if (!isProtocol(value)) {
    fail(ResultCode::InvalidValue, ResultText::InvalidValue);
    return;
  }
  currentDevice().SetClientProtocol(static_cast<TProtocol>(value));
  Driver().SetClientProtocol(static_cast<uint8_t>(value));
  SetSuccess();
}
LONG TVistel::GetRepeatCount() {
  return currentDevice().RepeatCount();
}
void TVistel::SetRepeatCount(const LONG& value) {
  // Fewer than one try would make the repeated commands succeed unsent.
  if (value < 1) raiseBelowMinimum(1);
  currentDevice().SetRepeatCount(value);
}

// ---- client connection ----

LONG TVistel::DoConnect() {
  return run([&] {
    ApplyDevice();
    Driver().CloseClient();
    Driver().Connect();
  });
}
LONG TVistel::DoDisconnect() {
  return run([&] { Driver().CloseClient(); });
}
LONG TVistel::DoCloseClient() {
  return DoDisconnect();
}
LONG TVistel::DoOpenClient() {
  return run([&] {
    TDriver& driver = Driver();
    driver.CloseClient();
    TDevice& device = currentDevice();
    driver.SetDeviceAddress(device.IPAddress());
    driver.SetClientPort(device.ClientPort());
    driver.SetClientProtocol(device.ClientProtocol());
    driver.OpenClient();
  });
}
VARIANT_BOOL TVistel::GetClientConnected() {
  return boolean(Driver().ClientConnected());
}
BSTR TVistel::GetClientData() {
  return wide(clientData_);
}
void TVistel::SetClientData(const BSTR& value) {
  clientData_ = ansi(value);
}
LONG TVistel::DoClientWrite() {
  return run([&] { Driver().SendFrame(clientData_); });
}
LONG TVistel::DoClientRead() {
  return run([&] { clientData_ = Driver().ReceiveFrame(); });
}
BSTR TVistel::GetInput() {
  return wide(bytesToHex(Driver().LastFrameSent()));
}
BSTR TVistel::GetOutput() {
  return wide(bytesToHex(Driver().LastFrameReceived()));
}

// ---- terminal commands ----

LONG TVistel::DoGetStatus() {
  return run([&] {
    status_ = Driver().ReadStatus();
    statusRead_ = true;
  });
}
LONG TVistel::GetStatusFlags() {
  return static_cast<LONG>(status_.Flags);
}
LONG TVistel::GetSoftBuild() {
  return status_.Build;
}
BSTR TVistel::GetSoftVersion() {
  return wide(status_.Version);
}
BSTR TVistel::GetSoftDate() {
  return statusRead_ ? wide(dateText(status_.Date)) : BSTR();
}
VARIANT_BOOL TVistel::GetIsDeviceLocked() {
  return boolean(status_.Locked);
}
VARIANT_BOOL TVistel::GetIsSetupTableError() {
  return boolean(status_.TableError);
}
BSTR TVistel::GetMAC() {
  return wide(status_.MAC);
}
LONG TVistel::GetSerialNumber() {
  return status_.SerialNumber;
}
LONG TVistel::GetFirmID() {
  return static_cast<LONG>(status_.FirmID);
}
LONG TVistel::GetDeviceType() {
  return static_cast<LONG>(status_.DeviceType);
}
BSTR TVistel::GetDeviceTypeDescription() {
  return wide(status_.DeviceTypeName);
}

LONG TVistel::DoLockDevice() {
  return run([&] { Driver().Lock(true); });
}
LONG TVistel::DoUnlockDevice() {
  return run([&] { Driver().Lock(false); });
}
LONG TVistel::DoReset() {
  return run([&] { Driver().Reset(); });
}
LONG TVistel::DoInitTable() {
  return run([&] { Driver().InitTables(); });
}
LONG TVistel::DoSetIPAddress() {
  return run([&] { Driver().SetIPAddress(currentDevice().IPAddress()); });
}
LONG TVistel::DoShowMessage() {
  return run([&] { Driver().ShowMessage(line1_, line2_); });
}
LONG TVistel::DoShowMessage2() {
  return run([&] {
    Driver().ShowMessage2(line1_, line2_, hexTextToBytes(line1Params_),
                          hexTextToBytes(line2Params_), outputTime_);
  });
}
LONG TVistel::DoShowLine() {
  return run([&] {
    Driver().ShowLine(static_cast<uint8_t>(lineRec_.LineNumber),
                      static_cast<uint8_t>(lineRec_.LineType),
                      static_cast<uint8_t>(lineRec_.LineSpeed), lineRec_.LineData);
  });
}
LONG TVistel::DoWriteMessage() {
  return run([&] { Driver().WriteMessage(static_cast<uint8_t>(messageNumber_), line1_, line2_); });
}
LONG TVistel::DoReadMessage() {
  return run([&] {
    auto lines = Driver().ReadMessage(static_cast<uint8_t>(messageNumber_));
    line1_ = lines.Line1;
    line2_ = lines.Line2;
  });
}
LONG TVistel::DoSetDefaultMessage() {
  return run([&] {
    auto lines = Driver().SetDefaultMessage(static_cast<uint8_t>(messageNumber_));
    line1_ = lines.Line1;
    line2_ = lines.Line2;
  });
}
LONG TVistel::DoSendBarcode() {
  return run([&] { Driver().SendBarcode(barcode_); });
}
LONG TVistel::DoTestTCP() {
  return run([&] { Driver().TestExchange(); });
}
LONG TVistel::DoSendCommand() {
  return run([&] { Driver().SendCommandText(commandData_); });
}
LONG TVistel::DoWriteCommand() {
  return run([&] { Driver().WriteCommandText(commandData_); });
}
LONG TVistel::DoGetData() {
  return run([&] {
    auto block = Driver().ReadDataBlock(dump_.DeviceCode, dump_.BlockNumber);
    dump_.BlockCount = block.BlockCount;
    dump_.Data = block.Data;
  });
}
BSTR TVistel::GetDataBlock() {
  return wide(dump_.Data);
}
LONG TVistel::GetDataBlockCount() {
  return dump_.BlockCount;
}
LONG TVistel::GetDataBlockNumber() {
  return dump_.BlockNumber;
}
void TVistel::SetDataBlockNumber(const LONG& value) {
  dump_.BlockNumber = static_cast<uint16_t>(value);
}
Variant TVistel::GetDataBlockSA() {
  return Variant::fromBytes(dump_.Data, 0);
}
LONG TVistel::GetDeviceCode() {
  return dump_.DeviceCode;
}
void TVistel::SetDeviceCode(const LONG& value) {
  dump_.DeviceCode = static_cast<uint8_t>(value);
}
BSTR TVistel::GetDeviceCodeDescription() {
  return wide(dump_.DeviceCode < 4 ? kDeviceCodeTexts[dump_.DeviceCode]
                                   : "Неизвестный код устройства");
}
LONG TVistel::DoUpdateSoft() {
  return run([&] {
    Driver().UpdateFirmware(softFileName_, [this](int block, int count) {
      if (progressSink_) progressSink_->FirmwareBlock(block, count);
    });
  });
}

// ---- plain stored values ----

BSTR TVistel::GetLine1() {
  return wide(line1_);
}
// The answer's lines are set for every scan: converted in place.
void TVistel::SetLine1(const BSTR& value) {
  wideToAnsi(value, line1_);
}
BSTR TVistel::GetLine2() {
  return wide(line2_);
}
void TVistel::SetLine2(const BSTR& value) {
  wideToAnsi(value, line2_);
}
BSTR TVistel::GetLine1Params() {
  return wide(line1Params_);
}
void TVistel::SetLine1Params(const BSTR& value) {
  line1Params_ = ansi(value);
}
BSTR TVistel::GetLine2Params() {
  return wide(line2Params_);
}
void TVistel::SetLine2Params(const BSTR& value) {
  line2Params_ = ansi(value);
}
LONG TVistel::GetOutputTime() {
  return outputTime_;
}
void TVistel::SetOutputTime(const LONG& value) {
  outputTime_ = static_cast<uint8_t>(value);
}
LONG TVistel::GetLineNumber() {
  return lineRec_.LineNumber;
}
void TVistel::SetLineNumber(const LONG& value) {
  lineRec_.LineNumber = value;
}
LONG TVistel::GetLineType() {
  return lineRec_.LineType;
}
void TVistel::SetLineType(const LONG& value) {
  lineRec_.LineType = value;
}
LONG TVistel::GetLineSpeed() {
  return lineRec_.LineSpeed;
}
void TVistel::SetLineSpeed(const LONG& value) {
  lineRec_.LineSpeed = value;
}
BSTR TVistel::GetLineData() {
  return wide(lineRec_.LineData);
}
void TVistel::SetLineData(const BSTR& value) {
  lineRec_.LineData = ansi(value);
}
LONG TVistel::GetMessageNumber() {
  return messageNumber_;
}
void TVistel::SetMessageNumber(const LONG& value) {
  messageNumber_ = value;
}
BSTR TVistel::GetBarcode() {
  return wide(barcode_);
}
void TVistel::SetBarcode(const BSTR& value) {
  barcode_ = ansi(value);
}
BSTR TVistel::GetCommandData() {
  return wide(commandData_);
}
void TVistel::SetCommandData(const BSTR& value) {
  commandData_ = ansi(value);
}
BSTR TVistel::GetFileName() {
  return wide(fileName_);
}
void TVistel::SetFileName(const BSTR& value) {
  fileName_ = ansi(value);
}
BSTR TVistel::GetSoftFileName() {
  return wide(softFileName_);
}
void TVistel::SetSoftFileName(const BSTR& value) {
  softFileName_ = ansi(value);
}
LONG TVistel::GetResultCode() {
  return resultCode_;
}
BSTR TVistel::GetResultCodeDescription() {
  return wide(resultText_);
}

// ---- settings tables ----

LONG TVistel::GetTableNumber() {
  return table_.Number;
}
void TVistel::SetTableNumber(const LONG& value) {
  table_.Number = static_cast<uint8_t>(value);
}
BSTR TVistel::GetTableName() {
  return wide(table_.Name);
}
LONG TVistel::GetRowNumber() {
  return table_.RowCount;
}
void TVistel::SetRowNumber(const LONG& value) {
  table_.RowCount = static_cast<uint16_t>(value);
}
LONG TVistel::GetFieldNumber() {
  return field_.Number;
}
void TVistel::SetFieldNumber(const LONG& value) {
  field_.Number = static_cast<uint8_t>(value);
}
BSTR TVistel::GetFieldName() {
  return wide(field_.Name);
}
LONG TVistel::GetFieldType() {
  return field_.FieldType;
}
LONG TVistel::GetFieldSize() {
  return field_.Size;
}
LONG TVistel::GetMinValueOfField() {
  return field_.MinValue;
}
LONG TVistel::GetMaxValueOfField() {
  return field_.MaxValue;
}
BSTR TVistel::GetFieldMinValueStr() {
  return wide(field_.MinValueStr);
}
BSTR TVistel::GetFieldMaxValueStr() {
  return wide(field_.MaxValueStr);
}
BSTR TVistel::GetFieldValue() {
  return wide(field_.Value);
}
void TVistel::SetFieldValue(const BSTR& value) {
  field_.Value = ansi(value);
}

LONG TVistel::DoGetTableStruct() {
  bool found = false;
  LONG code = run([&] {
    auto table = Driver().ReadTableStruct(table_.Number);
    if (!table) return;
    found = true;
    table_ = *table;
    field_.Number = table->FieldCount;
  });
  if (code == 0 && !found) return fail(ResultCode::InvalidParameters, deviceErrorText(211));
  return code;
}

LONG TVistel::DoGetFieldStruct() {
  bool found = false;
  LONG code = run([&] {
    auto field = Driver().ReadFieldStruct(table_.Number, field_.Number);
    if (!field) return;
    found = true;
    field_ = *field;
    makeLimitTexts(field_);
  });
  if (code == 0 && !found) return fail(ResultCode::InvalidParameters, deviceErrorText(211));
  return code;
}

void TVistel::readFieldsStruct() {
  TFields& fields = Fields();
  fields.Clear();
  for (int number = 0; number <= 0xFF; ++number) {
    auto rec = Driver().ReadFieldStruct(table_.Number, static_cast<uint8_t>(number));
    if (!rec) break;
    rec->Row = 0;
    makeLimitTexts(*rec);
    new TField(&fields, *rec);
  }
  // Only the row-0 fields that were read are copied into the other rows.
  int perRow = std::min<int>(table_.FieldCount, fields.Count());
  for (int row = 1; row < table_.RowCount; ++row) {
    for (int i = 0; i < perRow; ++i) {
      TFieldRec copy = fields.Items(i)->Rec();
      copy.Row = static_cast<uint8_t>(row);
      new TField(&fields, copy);
    }
  }
}

LONG TVistel::DoReadFieldsStruct() {
  return run([&] { readFieldsStruct(); });
}

LONG TVistel::DoGetFieldParams() {
  TField* field = Fields().Find(table_.RowCount, field_.Number);
  if (!field) return fail(ResultCode::InvalidValue, ResultText::InvalidValue);
  field_ = field->Rec();
  SetSuccess();
  return resultCode_;
}

LONG TVistel::DoSetFieldValue() {
  TField* field = Fields().Find(table_.RowCount, field_.Number);
  if (!field) return fail(ResultCode::InvalidValue, ResultText::InvalidValue);
  return run([&] {
    field->SetValue(field_.Value);
    field->EncodeValue();
  });
}

LONG TVistel::DoReadTable() {
  return run([&] {
    try {
      readFieldsStruct();
    } catch (const std::exception&) {
      // The table is read in any case, over the fields that were found.
    }
    splitRowData(Driver().ReadTable(table_.Number), Fields());
  });
}

LONG TVistel::DoWriteTable() {
  return run([&] { Driver().WriteTable(table_.Number, joinRowData(Fields())); });
}

// ---- server side ----

LONG TVistel::GetServerPort() {
  return Driver().ServerPort();
}
void TVistel::SetServerPort(const LONG& value) {
  if (value < 0 || value > kMaxPort) raiseOutOfRange(0, kMaxPort);
  Driver().SetServerPort(value);
  SetSuccess();
}
LONG TVistel::GetServerProtocol() {
  return Driver().ServerProtocol();
}
void TVistel::SetServerProtocol(const LONG& value) {
  if (!isProtocol(value)) {
    fail(ResultCode::InvalidValue, ResultText::InvalidValue);
    return;
  }
  Driver().SetServerProtocol(static_cast<uint8_t>(value));
  SetSuccess();
}
LONG TVistel::DoOpenServer() {
  return run([&] { Driver().OpenServer(); });
}
LONG TVistel::DoCloseServer() {
  return run([&] { Driver().CloseServer(); });
}
VARIANT_BOOL TVistel::GetServerOpened() {
  return boolean(Driver().ServerOpened());
}
LONG TVistel::GetSenderID() {
  return senderID_;
}
void TVistel::SetSenderID(const LONG& value) {
  senderID_ = value;
}
BSTR TVistel::GetSenderIP() {
  return wide(senderIP_);
}
BSTR TVistel::GetServerData() {
  return wide(serverData_);
}
void TVistel::SetServerData(const BSTR& value) {
  serverData_ = ansi(value);
}

LONG TVistel::DoGetSenderParams() {
  TClient* client = Driver().Server().Clients().ClientByID(senderID_);
  if (!client) return fail(ResultCode::InvalidValue, ResultText::InvalidValue);
  senderIP_ = TCustomWSocket::AddressToText(client->Address());
  SetSuccess();
  return resultCode_;
}

LONG TVistel::DoDeviceBySenderID() {
  TClient* client = Driver().Server().Clients().ClientByID(senderID_);
  if (!client)
    return fail(ResultCode::InvalidValue, format("Клиент с ID = %d не найден.", senderID_));
  std::string address = TCustomWSocket::AddressToText(client->Address());
  TDevice* device = devices_.ItemByIPAddress(address);
  if (!device)
    return fail(ResultCode::InvalidValue,
                format("Устройство с IP='%s' не найдено.", address.c_str()));
  return run([&] { devices_.SelectByNumber(device->DeviceNumber()); });
}

LONG TVistel::DoServerWrite() {
  return run([&] { Driver().WriteToClient(senderID_, serverData_); });
}
LONG TVistel::DoSendAnswer() {
  return run([&] { Driver().SendAnswer(senderID_, line1_, line2_); });
}
LONG TVistel::DoSendEvent() {
  FireDataEvent("Test", 123);
  SetSuccess();
  return resultCode_;
}

// ---- log, defaults, identity, dialogs ----

VARIANT_BOOL TVistel::GetLogEnabled() {
  return boolean(Driver().LogEnabled());
}
void TVistel::SetLogEnabled(const VARIANT_BOOL& value) {
  Driver().SetLogEnabled(value != 0);
}
BSTR TVistel::GetLogFileName() {
  return wide(Driver().LogFileName());
}
void TVistel::SetLogFileName(const BSTR& value) {
  Driver().SetLogFileName(ansi(value));
}

LONG TVistel::DoSetDefaults() {
  Driver().SetLogEnabled(false);
  Driver().SetLogFileName(defaultLogFileName());
  SetSuccess();
  return resultCode_;
}

BSTR TVistel::GetFileVersion() {
  return wide(format("%d.%d.%d.%d", MIRELO_VERSION_MAJOR, MIRELO_VERSION_MINOR,
                     MIRELO_VERSION_RELEASE, MIRELO_VERSION_BUILD));
}

void TVistel::DoAboutBox() {
  IDialogHost* host = dialogHost();
  if (!host) throw Exception(DialogsUnavailableText);
  std::string version = "Версия драйвера: " + ansi(GetFileVersion());
  host->AboutBox("Драйвер Vistel", version.c_str());
}

LONG TVistel::DoShowProperties() {
  struct Shown {
    bool& flag;
    explicit Shown(bool& f) : flag(f) { flag = true; }
    ~Shown() { flag = false; }
  } shown(propertyFrameShown_);
  IDialogHost* host = dialogHost();
  if (!host) throw Exception(DialogsUnavailableText);
  // The class declares one page: the main property page.
  const CLSID pages[] = {CLASS_VistelPropertyPage};
  host->ShowProperties(*this, pages);
  SetSuccess();
  return resultCode_;
}

LONG TVistel::DoShowTables() {
  return run([&] {
    IDialogHost* host = dialogHost();
    if (!host) throw Exception(DialogsUnavailableText);
    host->ShowTables(*this);
  });
}

// ---- private interfaces ----

HRESULT TVistel::StartSearch(const BSTR& address, LONG localPort, LONG remotePort,
                             VARIANT_BOOL allTypes, IVistelSearchSink* sink, LONG* resultCode) {
  if (!resultCode) return E_POINTER;
  *resultCode = run([&] {
    search_.reset();
    searchSink_ = sink;
    search_ =
        std::make_unique<TDeviceSearch>(std::to_string(localPort), std::to_string(remotePort));
    search_->ShowAllTypes = allTypes != VARIANT_FALSE;
    search_->OnFound = [this](const TFoundDevice& found) {
      if (searchSink_)
        searchSink_->Found(wide(found.IPAddress), found.Port, found.SerialNumber, found.ModelCode,
                           wide(found.TypeName));
    };
    search_->Start(ansi(address));
  });
  return S_OK;
}

HRESULT TVistel::StopSearch() {
  search_.reset();
  searchSink_ = nullptr;
  return S_OK;
}

HRESULT TVistel::SetProgressSink(IVistelProgressSink* sink) {
  progressSink_ = sink;
  return S_OK;
}

}  // namespace mirelo
