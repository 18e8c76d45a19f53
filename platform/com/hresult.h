#pragma once
// Status codes of the component runtime with their Windows values, and the
// exception that carries one through the driver's own code.
#include <string>

#include "platform/com/types.h"
#include "platform/exception.h"

namespace mirelo {

constexpr HRESULT hresultFrom(uint32_t value) {
  return static_cast<HRESULT>(value);
}
constexpr bool SUCCEEDED(HRESULT hr) {
  return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
  return hr < 0;
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;

constexpr HRESULT E_NOTIMPL = hresultFrom(0x80004001);
constexpr HRESULT E_NOINTERFACE = hresultFrom(0x80004002);
constexpr HRESULT E_POINTER = hresultFrom(0x80004003);
constexpr HRESULT E_ABORT = hresultFrom(0x80004004);
constexpr HRESULT E_FAIL = hresultFrom(0x80004005);
constexpr HRESULT E_UNEXPECTED = hresultFrom(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = hresultFrom(0x80070005);
constexpr HRESULT E_OUTOFMEMORY = hresultFrom(0x8007000E);
constexpr HRESULT E_INVALIDARG = hresultFrom(0x80070057);

constexpr HRESULT CLASS_E_NOAGGREGATION = hresultFrom(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hresultFrom(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = hresultFrom(0x80040154);
constexpr HRESULT CO_E_CLASSSTRING = hresultFrom(0x800401F3);

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = hresultFrom(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = hresultFrom(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = hresultFrom(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = hresultFrom(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = hresultFrom(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = hresultFrom(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = hresultFrom(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = hresultFrom(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = hresultFrom(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = hresultFrom(0x8002000B);
constexpr HRESULT DISP_E_ARRAYISLOCKED = hresultFrom(0x8002000D);
constexpr HRESULT DISP_E_BADPARAMCOUNT = hresultFrom(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = hresultFrom(0x8002000F);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = hresultFrom(0x8002802B);

// CONNECT_E_* and SELFREG_E_* share their numbers, as on Windows.
constexpr HRESULT CONNECT_E_NOCONNECTION = hresultFrom(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = hresultFrom(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = hresultFrom(0x80040202);
constexpr HRESULT CONNECT_E_OVERRIDDEN = hresultFrom(0x80040203);
constexpr HRESULT SELFREG_E_TYPELIB = hresultFrom(0x80040200);
constexpr HRESULT SELFREG_E_CLASS = hresultFrom(0x80040201);

constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = hresultFrom(0x80040003);
constexpr HRESULT OLE_E_NOCONNECTION = hresultFrom(0x80040004);
constexpr HRESULT DV_E_FORMATETC = hresultFrom(0x80040064);
constexpr HRESULT DV_E_LINDEX = hresultFrom(0x80040068);
constexpr HRESULT DV_E_TYMED = hresultFrom(0x80040069);
constexpr HRESULT STG_E_MEDIUMFULL = hresultFrom(0x80030070);

// The system's English text for the codes above ("Type mismatch."), or
// "Error 0x%.8X" for any other code.
std::string hresultMessage(HRESULT hr);

// A failure with its status code. Raised by oleCheck and by Variant's value
// accessors; a dispatch member that raises it reports its code as the
// exception's scode.
class EOleSysError : public Exception {
 public:
  explicit EOleSysError(HRESULT code) : Exception(hresultMessage(code)), code_(code) {}
  EOleSysError(const std::string& message, HRESULT code) : Exception(message), code_(code) {}
  HRESULT ErrorCode() const { return code_; }

 private:
  HRESULT code_;
};

// Raises EOleSysError for a failure code; returns success codes unchanged.
inline HRESULT oleCheck(HRESULT hr) {
  if (FAILED(hr)) throw EOleSysError(hr);
  return hr;
}

}  // namespace mirelo
