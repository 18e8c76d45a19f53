#pragma once
// The driver's interface, all a host needs besides the runtime: the type
// library Mirelo (identifiers, the dual interfaces IVistel .. IVistel4 with
// virtual tables produced from the member table, the outgoing dispatch
// interface IVistelEvents, TProtocol), the private interfaces the object
// also answers, and the creation of the object. The identifiers are fixed
// for ever: hosts bind to them.
//
// Errors: an operation method returns its result code and leaves it in
// ResultCode and ResultCodeDescription. A call that fails at the platform
// level (a rejected property write, SetDefaults, ...) returns a failure
// status and leaves error information: its description is the driver's text
// and its help context the driver's result code as a 32-bit two's
// complement (-199 for a failure that is not the driver's own).
#include "mirelo/vistel_members.h"
#include "mirelo/vistel_protocol.h"
#include "platform/com/creation.h"
#include "platform/com/dispatch.h"
#include "platform/com/variant.h"

namespace mirelo {

inline constexpr GUID LIBID_Mirelo{
    0x97A8AE13, 0xE58B, 0x41B9, {0x91, 0xB4, 0x8D, 0x99, 0xDB, 0xB9, 0x55, 0x19}};
inline constexpr IID IID_IVistel{
    0x329CC6F4, 0x78F3, 0x47FE, {0xB4, 0x38, 0x78, 0xB7, 0x9C, 0x00, 0xE1, 0x0A}};
inline constexpr IID DIID_IVistelEvents{
    0x17AA17F2, 0xDCC9, 0x4E31, {0x95, 0x57, 0x74, 0x82, 0x9F, 0x45, 0x50, 0x22}};
inline constexpr IID IID_IVistel2{
    0x0CEDEC72, 0xF976, 0x4EFC, {0xA7, 0x73, 0x82, 0x41, 0x75, 0xE1, 0x7D, 0x53}};
inline constexpr IID IID_IVistel3{
    0xA8807C3C, 0x1826, 0x4BDD, {0xB5, 0xBC, 0x3D, 0x37, 0xC5, 0x94, 0xC4, 0x48}};
inline constexpr IID IID_IVistel4{
    0xB1E76F78, 0xC8EF, 0x4ACA, {0x95, 0x08, 0xA1, 0xE9, 0x33, 0xC4, 0x81, 0x50}};
inline constexpr CLSID CLASS_Vistel{
    0x6E6F866C, 0x39F8, 0x4109, {0x88, 0xF5, 0xBA, 0xF6, 0x05, 0x06, 0xF3, 0x18}};
inline constexpr GUID GUID_TProtocol{
    0x024354EB, 0x9CD5, 0x4791, {0xB5, 0xFF, 0x3A, 0x53, 0x50, 0x4D, 0xDA, 0x80}};

// The help string of the library and of its types but TProtocol, in
// Windows-1251 whatever the host's execution character set ("Korvex:
// Драйвер Vistel"). The member table's help strings are narrow literals of
// the including file's character set: the driver compiles them as
// Windows-1251; a host reads them from the type information instead.
inline constexpr const char* kLibraryHelp = "Korvex: \xC4\xF0\xE0\xE9\xE2\xE5\xF0 Vistel";

inline constexpr const char16_t* kVistelProgID = u"Addin.Vistel";
// The driver library: registered (mirelo-regsvr), or else looked for in the
// folder the runtime was loaded from (both sit in lib/ of a build or prefix).
inline constexpr const char* kVistelLibrary = "libmirelo.so";

// Dispatch identifiers of IVistelEvents.
constexpr DISPID DISPID_DataEvent = 1;
constexpr DISPID DISPID_LogEvent = 2;

// How a slot takes a value of each member type.
template <class T>
struct SlotArg {
  using type = T;
};
template <>
struct SlotArg<BSTR> {
  using type = const BSTR&;
};
template <>
struct SlotArg<VARIANT> {
  using type = const VARIANT&;
};

#define MIRELO_SLOT_ABOUT(name, id, T) virtual HRESULT name() = 0;
#define MIRELO_SLOT_METHOD(name, id, T) virtual HRESULT name(LONG* Value) = 0;
#define MIRELO_SLOT_READ(name, id, T) virtual HRESULT get_##name(T* Value) = 0;
#define MIRELO_SLOT_READWRITE(name, id, T) \
  MIRELO_SLOT_READ(name, id, T)            \
  virtual HRESULT put_##name(SlotArg<T>::type Value) = 0;
#define MIRELO_SLOT(kind, name, id, T, help) MIRELO_SLOT_##kind(name, id, T)

class IVistel : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IVistel;
  MIRELO_IVISTEL_MEMBERS(MIRELO_SLOT)

 protected:
  ~IVistel() = default;
};

class IVistel2 : public IVistel {
 public:
  using Base = IVistel;
  static constexpr const IID& kIid = IID_IVistel2;
  MIRELO_IVISTEL2_MEMBERS(MIRELO_SLOT)

 protected:
  ~IVistel2() = default;
};

class IVistel3 : public IVistel2 {
 public:
  using Base = IVistel2;
  static constexpr const IID& kIid = IID_IVistel3;
  MIRELO_IVISTEL3_MEMBERS(MIRELO_SLOT)

 protected:
  ~IVistel3() = default;
};

class IVistel4 : public IVistel3 {
 public:
  using Base = IVistel3;
  static constexpr const IID& kIid = IID_IVistel4;
  MIRELO_IVISTEL4_MEMBERS(MIRELO_SLOT)

 protected:
  ~IVistel4() = default;
};

// The outgoing interface: a host implements it as a dispatch interface.
class IVistelEvents : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = DIID_IVistelEvents;

 protected:
  ~IVistelEvents() = default;
};

// ---- private interfaces (not in the type library) ----

inline constexpr IID IID_IVistelSearch{
    0x5C1B7E0A, 0x3F4D, 0x4E52, {0x9A, 0x61, 0x2D, 0x8E, 0x47, 0xB0, 0x13, 0x6C}};
inline constexpr IID IID_IVistelSearchSink{
    0x5C1B7E0B, 0x3F4D, 0x4E52, {0x9A, 0x61, 0x2D, 0x8E, 0x47, 0xB0, 0x13, 0x6C}};
inline constexpr IID IID_IVistelProgress{
    0x5C1B7E0C, 0x3F4D, 0x4E52, {0x9A, 0x61, 0x2D, 0x8E, 0x47, 0xB0, 0x13, 0x6C}};
inline constexpr IID IID_IVistelProgressSink{
    0x5C1B7E0D, 0x3F4D, 0x4E52, {0x9A, 0x61, 0x2D, 0x8E, 0x47, 0xB0, 0x13, 0x6C}};

// A host's receiver of the terminals a search finds: one call per terminal
// address and port, on the thread that started the search.
class IVistelSearchSink : public IUnknown {
 public:
  using Base = IUnknown;
  static constexpr const IID& kIid = IID_IVistelSearchSink;
  virtual HRESULT Found(const BSTR& ipAddress, LONG port, LONG serialNumber, LONG modelCode,
                        const BSTR& typeName) = 0;

 protected:
  ~IVistelSearchSink() = default;
};

// Finds terminals without knowing their addresses: the status request goes
// three times from localPort to remotePort of address (a text that is no
// dotted address goes to the limited broadcast, 255.255.255.255); answers
// reach the sink through the thread's message loop until StopSearch or the
// object's release. StartSearch returns the result code (0, or the socket
// failure, e.g. -199 with 10048 when the local port is taken) and leaves it
// in ResultCode and ResultCodeDescription like an operation method.
class IVistelSearch : public IUnknown {
 public:
  using Base = IUnknown;
  static constexpr const IID& kIid = IID_IVistelSearch;
  virtual HRESULT StartSearch(const BSTR& address, LONG localPort, LONG remotePort,
                              VARIANT_BOOL allTypes, IVistelSearchSink* sink, LONG* resultCode) = 0;
  virtual HRESULT StopSearch() = 0;

 protected:
  ~IVistelSearch() = default;
};

// Told each program block a terminal confirmed during UpdateSoft (block
// from 1 to count), from inside the call.
class IVistelProgressSink : public IUnknown {
 public:
  using Base = IUnknown;
  static constexpr const IID& kIid = IID_IVistelProgressSink;
  virtual HRESULT FirmwareBlock(LONG block, LONG count) = 0;

 protected:
  ~IVistelProgressSink() = default;
};

class IVistelProgress : public IUnknown {
 public:
  using Base = IUnknown;
  static constexpr const IID& kIid = IID_IVistelProgress;
  // The sink of the next updates; null removes it.
  virtual HRESULT SetProgressSink(IVistelProgressSink* sink) = 0;

 protected:
  ~IVistelProgress() = default;
};

inline constexpr IID IID_IVistelWindow{
    0x5C1B7E0E, 0x3F4D, 0x4E52, {0x9A, 0x61, 0x2D, 0x8E, 0x47, 0xB0, 0x13, 0x6C}};

// The control's visible window (40 x 40, its picture centred) for a Qt
// container: window receives a new QWidget* that is a child of parent (a
// QWidget*) and belongs to it. E_POINTER for a null output, E_NOTIMPL from
// a library built without the dialogs, E_FAIL without a QApplication.
class IVistelWindow : public IUnknown {
 public:
  using Base = IUnknown;
  static constexpr const IID& kIid = IID_IVistelWindow;

  virtual HRESULT CreateControlWindow(void* parent, void** window) = 0;

 protected:
  ~IVistelWindow() = default;
};

// A new driver object, by its programmatic identifier: from the registered
// library when there is one, else from kVistelLibrary beside the runtime.
// Statuses as createObject's.
inline HRESULT createVistelObject(REFIID riid, void** object) {
  registerDefaultServer({CLASS_Vistel, "Addin.Vistel", kVistelLibrary});
  return createObject(kVistelProgID, riid, object);
}
// The same for interface I; raises EOleSysError with the status.
template <class I>
ComPtr<I> createVistelObject() {
  ComPtr<I> object;
  oleCheck(createVistelObject(I::kIid, object.putVoid()));
  return object;
}

// Slots a member takes in a virtual table.
#define MIRELO_SLOTS_ABOUT 1
#define MIRELO_SLOTS_METHOD 1
#define MIRELO_SLOTS_READ 1
#define MIRELO_SLOTS_READWRITE 2
#define MIRELO_COUNT_SLOTS(kind, name, id, T, help) +MIRELO_SLOTS_##kind
constexpr int kVistel4Slots =
    7 MIRELO_IVISTEL_MEMBERS(MIRELO_COUNT_SLOTS) MIRELO_IVISTEL2_MEMBERS(MIRELO_COUNT_SLOTS)
        MIRELO_IVISTEL3_MEMBERS(MIRELO_COUNT_SLOTS) MIRELO_IVISTEL4_MEMBERS(MIRELO_COUNT_SLOTS);
static_assert(kVistel4Slots == 156, "IVistel4's virtual table holds 156 slots");

}  // namespace mirelo
