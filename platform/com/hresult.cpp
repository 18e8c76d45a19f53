#include "platform/com/hresult.h"

#include "platform/format.h"

namespace mirelo {
namespace {

struct MessageRow {
  HRESULT code;
  const char* text;
};

// CONNECT_E_* come before SELFREG_E_*: the same numbers, and connection
// points are what this runtime reports them for.
constexpr MessageRow kMessages[] = {
    {S_OK, "The operation completed successfully."},
    {S_FALSE, "Incorrect function."},
    {E_NOTIMPL, "Not implemented"},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_ABORT, "Operation aborted"},
    {E_FAIL, "Unspecified error"},
    {E_UNEXPECTED, "Catastrophic failure"},
    {E_ACCESSDENIED, "Access is denied."},
    {E_OUTOFMEMORY, "Not enough storage is available to complete this operation."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {CLASS_E_NOAGGREGATION, "Class does not support aggregation (or class object is remote)"},
    {CLASS_E_CLASSNOTAVAILABLE, "ClassFactory cannot supply requested class"},
    {REGDB_E_CLASSNOTREG, "Class not registered"},
    {CO_E_CLASSSTRING, "Invalid class string"},
    {DISP_E_UNKNOWNINTERFACE, "Unknown interface."},
    {DISP_E_MEMBERNOTFOUND, "Member not found."},
    {DISP_E_PARAMNOTFOUND, "Parameter not found."},
    {DISP_E_TYPEMISMATCH, "Type mismatch."},
    {DISP_E_UNKNOWNNAME, "Unknown name."},
    {DISP_E_NONAMEDARGS, "No named arguments."},
    {DISP_E_BADVARTYPE, "Bad variable type."},
    {DISP_E_EXCEPTION, "Exception occurred."},
    {DISP_E_OVERFLOW, "Out of present range."},
    {DISP_E_BADINDEX, "Invalid index."},
    {DISP_E_ARRAYISLOCKED, "Memory is locked."},
    {DISP_E_BADPARAMCOUNT, "Invalid number of parameters."},
    {DISP_E_PARAMNOTOPTIONAL, "Parameter not optional."},
    {TYPE_E_ELEMENTNOTFOUND, "Element not found."},
    {CONNECT_E_NOCONNECTION, "There is no connection for this connection ID."},
    {CONNECT_E_ADVISELIMIT,
     "This implementation's limit for advisory connections has been reached."},
    {CONNECT_E_CANNOTCONNECT, "Connection attempt failed."},
    {CONNECT_E_OVERRIDDEN, "Must use a derived interface to connect."},
    {OLE_E_ADVISENOTSUPPORTED, "This implementation doesn't take advises"},
    {OLE_E_NOCONNECTION, "There is no connection for this connection ID"},
    {DV_E_FORMATETC, "Invalid FORMATETC structure"},
    {DV_E_LINDEX, "Invalid lindex"},
    {DV_E_TYMED, "Invalid tymed"},
    {STG_E_MEDIUMFULL, "There is insufficient disk space to complete operation."},
};

}  // namespace

std::string hresultMessage(HRESULT hr) {
  for (const auto& row : kMessages)
    if (row.code == hr) return row.text;
  return format("Error 0x%.8X", static_cast<unsigned>(hr));
}

}  // namespace mirelo
