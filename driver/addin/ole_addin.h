#pragma once
// ToleAddin: the automation object offered to the 1C:Enterprise platform
// through ILanguageExtender. Its two tables, built from the object's own
// type information, list the properties and the methods in that
// information's order; every call goes through the object's own Invoke.
//
// Bad input gets the platform's "no" (1, S_FALSE) and changes nothing: an
// index outside its list, a null output, a name that matches nothing (its
// index -1), an empty name.
#include <memory>

#include "driver/addin/addin_items.h"
#include "driver/automation/com_server.h"
#include "driver/automation/vistel.h"
#include "mirelo/addin_interfaces.h"

namespace mirelo {

class ToleAddin : private TComServerObject, public TVistel, public ILanguageExtender {
 public:
  // The automation object's initialisation, then the two tables.
  ToleAddin();
  // The tables go first, then the automation object's own destruction.
  ~ToleAddin() override;

  HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
    return TVistel::QueryInterface(riid, ppvObject);
  }
  ULONG AddRef() override { return TVistel::AddRef(); }
  ULONG Release() override { return TVistel::Release(); }

  // ---- ILanguageExtender ----
  // The extension name "Vistel".
  HRESULT RegisterExtensionAs(BSTR* bstrExtensionName) override;
  HRESULT GetNProps(LONG* plProps) override;
  HRESULT FindProp(const BSTR& bstrPropName, LONG* plPropNum) override;
  // alias 0: the English name; any other: the Russian one.
  HRESULT GetPropName(LONG lPropNum, LONG lPropAlias, BSTR* pbstrPropName) override;
  // Invoke's status; a Boolean property reads as the integer 0 or 1, a
  // currency one as a double.
  HRESULT GetPropVal(LONG lPropNum, VARIANT* pvarPropVal) override;
  // Invoke's status (a property put with the value as its named argument).
  HRESULT SetPropVal(LONG lPropNum, VARIANT* varPropVal) override;
  HRESULT IsPropReadable(LONG lPropNum, BOOL* pboolPropRead) override;
  HRESULT IsPropWritable(LONG lPropNum, BOOL* pboolPropWrite) override;
  HRESULT GetNMethods(LONG* plMethods) override;
  HRESULT FindMethod(const BSTR& bstrMethodName, LONG* plMethodNum) override;
  HRESULT GetMethodName(LONG lMethodNum, LONG lMethodAlias, BSTR* pbstrMethodName) override;
  // No method takes parameters: 0.
  HRESULT GetNParams(LONG lMethodNum, LONG* plParams) override;
  // Clears the value; success whatever the indexes.
  HRESULT GetParamDefValue(LONG lMethodNum, LONG lParamNum, VARIANT* pvarParamDefValue) override;
  // 1 for every index, an invalid one too.
  HRESULT HasRetVal(LONG lMethodNum, BOOL* pboolRetValue) override;
  // The method through Invoke, its parameters unread; Invoke's status.
  HRESULT CallAsProc(LONG lMethodNum, SAFEARRAY** paParams) override;
  // The same, with the method's result code in pvarRetValue.
  HRESULT CallAsFunc(LONG lMethodNum, VARIANT* pvarRetValue, SAFEARRAY** paParams) override;

  const TAddinItems& Props() const { return *props_; }
  const TAddinItems& Methods() const { return *methods_; }

 protected:
  void* queryOther(REFIID riid) override;

 private:
  void buildTables();
  HRESULT invokeMember(DISPID dispid, WORD flags, DISPPARAMS& params, VARIANT* result);

  std::unique_ptr<TAddinItems> props_;
  std::unique_ptr<TAddinItems> methods_;
};

}  // namespace mirelo
