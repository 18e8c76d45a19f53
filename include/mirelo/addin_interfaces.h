#pragma once
// The add-in interfaces of the 1C:Enterprise platform, with the platform's
// published identifiers and slot order: IInitDone (start, stop,
// information) and ILanguageExtender (properties and methods under an
// English and a Russian name), which a component implements, and
// IAsyncEvent, the platform's sink for a component's external events.
// Every driver object answers the first two, so a host that stands in for
// the platform (the Native component, native1c/) drives the object's own
// add-in through them rather than keeping member tables of its own.
//
// Indexes are positions from 0. The platform reads 0 (S_OK) as "yes, done"
// and 1 (S_FALSE) as "no": an index out of range, a name not found.
#include "platform/com/dispatch.h"
#include "platform/com/variant.h"

namespace mirelo {

inline constexpr IID IID_IInitDone{
    0xAB634001, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
inline constexpr IID IID_ILanguageExtender{
    0xAB634003, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
inline constexpr IID IID_IAsyncEvent{
    0xAB634004, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};

class IInitDone : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IInitDone;
  using Base = IUnknown;

  virtual HRESULT Init(IDispatch* pConnection) = 0;
  virtual HRESULT Done() = 0;
  // pInfo: an array of VARIANT (variant_array.h).
  virtual HRESULT GetInfo(SAFEARRAY** pInfo) = 0;

 protected:
  ~IInitDone() = default;
};

class ILanguageExtender : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_ILanguageExtender;
  using Base = IUnknown;

  virtual HRESULT RegisterExtensionAs(BSTR* bstrExtensionName) = 0;
  virtual HRESULT GetNProps(LONG* plProps) = 0;
  virtual HRESULT FindProp(const BSTR& bstrPropName, LONG* plPropNum) = 0;
  virtual HRESULT GetPropName(LONG lPropNum, LONG lPropAlias, BSTR* pbstrPropName) = 0;
  virtual HRESULT GetPropVal(LONG lPropNum, VARIANT* pvarPropVal) = 0;
  virtual HRESULT SetPropVal(LONG lPropNum, VARIANT* varPropVal) = 0;
  virtual HRESULT IsPropReadable(LONG lPropNum, BOOL* pboolPropRead) = 0;
  virtual HRESULT IsPropWritable(LONG lPropNum, BOOL* pboolPropWrite) = 0;
  virtual HRESULT GetNMethods(LONG* plMethods) = 0;
  virtual HRESULT FindMethod(const BSTR& bstrMethodName, LONG* plMethodNum) = 0;
  virtual HRESULT GetMethodName(LONG lMethodNum, LONG lMethodAlias, BSTR* pbstrMethodName) = 0;
  virtual HRESULT GetNParams(LONG lMethodNum, LONG* plParams) = 0;
  virtual HRESULT GetParamDefValue(LONG lMethodNum, LONG lParamNum, VARIANT* pvarParamDefValue) = 0;
  virtual HRESULT HasRetVal(LONG lMethodNum, BOOL* pboolRetValue) = 0;
  // paParams: an array of VARIANT, or null.
  virtual HRESULT CallAsProc(LONG lMethodNum, SAFEARRAY** paParams) = 0;
  virtual HRESULT CallAsFunc(LONG lMethodNum, VARIANT* pvarRetValue, SAFEARRAY** paParams) = 0;

 protected:
  ~ILanguageExtender() = default;
};

class IAsyncEvent : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IAsyncEvent;
  using Base = IUnknown;

  virtual HRESULT SetEventBufferDepth(LONG lDepth) = 0;
  virtual HRESULT GetEventBufferDepth(LONG* plDepth) = 0;
  virtual HRESULT ExternalEvent(const BSTR& bstrSource, const BSTR& bstrMessage,
                                const BSTR& bstrData) = 0;
  virtual HRESULT CleanBuffer() = 0;

 protected:
  ~IAsyncEvent() = default;
};

}  // namespace mirelo
