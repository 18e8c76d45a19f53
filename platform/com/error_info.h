#pragma once
// The thread's last error information: what a failed call through a virtual
// table leaves for its caller (source, description, interface, help).
// Each thread has its own; GetErrorInfo hands it over and clears it.
#include <exception>
#include <string_view>

#include "platform/com/types.h"
#include "platform/com/unknown.h"

namespace mirelo {

inline constexpr IID IID_IErrorInfo{
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ICreateErrorInfo{
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ISupportErrorInfo{
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

class IErrorInfo : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IErrorInfo;
  using Base = IUnknown;

  virtual HRESULT GetGUID(GUID* pGUID) = 0;
  virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
  virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
  virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
  virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;

 protected:
  ~IErrorInfo() = default;
};

class ICreateErrorInfo : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_ICreateErrorInfo;
  using Base = IUnknown;

  virtual HRESULT SetGUID(REFGUID rguid) = 0;
  virtual HRESULT SetSource(LPOLESTR szSource) = 0;
  virtual HRESULT SetDescription(LPOLESTR szDescription) = 0;
  virtual HRESULT SetHelpFile(LPOLESTR szHelpFile) = 0;
  virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;

 protected:
  ~ICreateErrorInfo() = default;
};

// Answered by objects that leave error information after their failures.
class ISupportErrorInfo : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_ISupportErrorInfo;
  using Base = IUnknown;

  // S_OK when failures of interface riid leave error information, else S_FALSE.
  virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};

// A new, empty error information object (it answers IErrorInfo too).
HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
// Makes perrinfo (AddRef'd; null clears) the calling thread's error information.
HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
// Hands over the calling thread's error information and clears it: S_OK with
// the object, or S_FALSE with null when there is none.
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);

// Sets the thread's error information and returns code, for
// `return reportError(E_FAIL, iid, u"Addin.Vistel", text);`.
HRESULT reportError(HRESULT code, REFGUID iid, std::u16string_view source,
                    std::u16string_view description, DWORD helpContext = 0);
// The status for an exception: an EOleSysError's code, E_OUTOFMEMORY for
// bad_alloc, E_FAIL for any other exception.
HRESULT exceptionCode(const std::exception_ptr& error);
// The description for an exception: its message (Windows-1251) in UTF-16.
std::u16string exceptionDescription(const std::exception_ptr& error);
// The help context of an Exception (platform/exception.h), else 0.
DWORD exceptionHelpContext(const std::exception_ptr& error);
// For a catch (...) block: reports the exception in flight through the
// thread's error information and returns its status.
HRESULT reportCurrentException(REFGUID iid, std::u16string_view source);

}  // namespace mirelo
