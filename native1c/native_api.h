#pragma once
// The binary contract of a 1C:Enterprise external component of the "Native"
// kind on Linux: the value type tVariant, the interfaces a component
// implements (IComponentBase and its four bases) and those the platform lends
// it (IMemoryManager, IAddInDefBase). No header of the platform's is used;
// these declarations are the contract, so their order is fixed: g++ (Itanium
// ABI) gives each class a virtual table of its destructor's two slots
// followed by the members in the order declared, and IComponentBase the four
// bases in the order listed. The names are the platform's own, in the global
// namespace, so that the classes' run-time type names match its.
#include <cstddef>
#include <cstdint>
#include <ctime>

// A UTF-16 code unit (not wchar_t, which is 32 bits on Linux).
using WCHAR_T = uint16_t;

// tVariant::vt.
enum : uint16_t {
  VTYPE_EMPTY = 0,
  VTYPE_NULL = 1,
  VTYPE_I2 = 2,
  VTYPE_I4 = 3,
  VTYPE_R4 = 4,
  VTYPE_R8 = 5,
  VTYPE_DATE = 6,
  VTYPE_TM = 7,
  VTYPE_PSTR = 8,
  VTYPE_INTERFACE = 9,
  VTYPE_ERROR = 10,
  VTYPE_BOOL = 11,
  VTYPE_VARIANT = 12,
  VTYPE_I1 = 13,
  VTYPE_UI1 = 14,
  VTYPE_UI2 = 15,
  VTYPE_UI4 = 16,
  VTYPE_I8 = 17,
  VTYPE_UI8 = 18,
  VTYPE_INT = 19,
  VTYPE_UINT = 20,
  VTYPE_HRESULT = 21,
  VTYPE_PWSTR = 22,
  VTYPE_BLOB = 23,
  VTYPE_CLSID = 24,
  VTYPE_VECTOR = 0x1000,
  VTYPE_ARRAY = 0x2000,
  VTYPE_BYREF = 0x4000,
};

struct tVariant {
  union {
    int8_t i8Val;
    int16_t shortVal;
    int32_t lVal;
    int intVal;
    unsigned int uintVal;
    int64_t llVal;
    uint8_t ui8Val;
    uint16_t ushortVal;
    uint32_t ulVal;
    uint64_t ullVal;
    int32_t errCode;
    long hRes;
    float fltVal;
    double dblVal;
    bool bVal;
    char chVal;
    wchar_t wchVal;
    double date;
    uint8_t IDVal[16];
    tVariant* pvarVal;
    struct tm tmVal;
    struct {
      void* pInterfaceVal;
      uint8_t InterfaceID[16];
    };
    struct {
      char* pstrVal;  // VTYPE_PSTR and VTYPE_BLOB: bytes
      uint32_t strLen;
    };
    struct {
      WCHAR_T* pwstrVal;  // VTYPE_PWSTR: code units
      uint32_t wstrLen;
    };
  };
  uint32_t cbElements;
  uint16_t vt;
};
static_assert(sizeof(tVariant) == 64 && offsetof(tVariant, cbElements) == 56 &&
                  offsetof(tVariant, vt) == 60,
              "tVariant as the platform lays it out on x86-64 Linux");

enum AppCapabilities {
  eAppCapabilitiesInvalid = -1,
  eAppCapabilities1 = 1,
  eAppCapabilities2,
  eAppCapabilities3
};
enum AttachType { eCanAttachNotIsolated = 1, eCanAttachIsolated, eCanAttachAny };

// AddError's codes: 1006 makes the script's call raise with the description.
enum : unsigned short { ADDIN_E_NONE = 1000, ADDIN_E_INFO = 1005, ADDIN_E_FAIL = 1006 };

// ---- implemented by the component ----

class IInitDoneBase {
 public:
  virtual ~IInitDoneBase() = default;
  virtual bool Init(void* connection) = 0;       // the platform's IAddInDefBase
  virtual bool setMemManager(void* memory) = 0;  // the platform's IMemoryManager
  virtual long GetInfo() = 0;
  virtual void Done() = 0;
};

class ILanguageExtenderBase {
 public:
  virtual ~ILanguageExtenderBase() = default;
  virtual bool RegisterExtensionAs(WCHAR_T** name) = 0;
  virtual long GetNProps() = 0;
  virtual long FindProp(const WCHAR_T* name) = 0;
  virtual const WCHAR_T* GetPropName(long prop, long alias) = 0;
  virtual bool GetPropVal(const long prop, tVariant* value) = 0;
  virtual bool SetPropVal(const long prop, tVariant* value) = 0;
  virtual bool IsPropReadable(const long prop) = 0;
  virtual bool IsPropWritable(const long prop) = 0;
  virtual long GetNMethods() = 0;
  virtual long FindMethod(const WCHAR_T* name) = 0;
  virtual const WCHAR_T* GetMethodName(const long method, const long alias) = 0;
  virtual long GetNParams(const long method) = 0;
  virtual bool GetParamDefValue(const long method, const long param, tVariant* value) = 0;
  virtual bool HasRetVal(const long method) = 0;
  virtual bool CallAsProc(const long method, tVariant* params, const long count) = 0;
  virtual bool CallAsFunc(const long method, tVariant* result, tVariant* params,
                          const long count) = 0;
};

class LocaleBase {
 public:
  virtual ~LocaleBase() = default;
  virtual void SetLocale(const WCHAR_T* locale) = 0;
};

class UserLanguageBase {
 public:
  virtual ~UserLanguageBase() = default;
  virtual void SetUserInterfaceLanguageCode(const WCHAR_T* lang) = 0;
};

class IComponentBase : public IInitDoneBase,
                       public ILanguageExtenderBase,
                       public LocaleBase,
                       public UserLanguageBase {
 public:
  ~IComponentBase() override = default;
};

// ---- lent by the platform ----

class IMemoryManager {
 public:
  virtual ~IMemoryManager() = default;
  virtual bool AllocMemory(void** block, unsigned long bytes) = 0;
  virtual void FreeMemory(void** block) = 0;
};

class IAddInDefBase {
 public:
  virtual ~IAddInDefBase() = default;
  virtual bool AddError(unsigned short code, const WCHAR_T* source, const WCHAR_T* description,
                        long scode) = 0;
  virtual bool Read(WCHAR_T* name, tVariant* value, long* error, WCHAR_T** description) = 0;
  virtual bool Write(WCHAR_T* name, tVariant* value) = 0;
  virtual bool RegisterProfileAs(WCHAR_T* name) = 0;
  virtual bool SetEventBufferDepth(long depth) = 0;
  virtual long GetEventBufferDepth() = 0;
  virtual bool ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) = 0;
  virtual void CleanEventBuffer() = 0;
  virtual bool SetStatusLine(WCHAR_T* text) = 0;
  virtual void ResetStatusLine() = 0;
};
