#include "platform/com/error_info.h"

#include <new>

#include "platform/cp1251.h"
#include "platform/exception.h"

namespace mirelo {
namespace {

class ErrorInfo final : public ComObject<IErrorInfo, ICreateErrorInfo> {
 public:
  HRESULT GetGUID(GUID* pGUID) override {
    if (!pGUID) return E_INVALIDARG;
    *pGUID = guid_;
    return S_OK;
  }
  HRESULT GetSource(BSTR* pBstrSource) override { return get(source_, pBstrSource); }
  HRESULT GetDescription(BSTR* pBstrDescription) override {
    return get(description_, pBstrDescription);
  }
  HRESULT GetHelpFile(BSTR* pBstrHelpFile) override { return get(helpFile_, pBstrHelpFile); }
  HRESULT GetHelpContext(DWORD* pdwHelpContext) override {
    if (!pdwHelpContext) return E_INVALIDARG;
    *pdwHelpContext = helpContext_;
    return S_OK;
  }

  HRESULT SetGUID(REFGUID rguid) override {
    guid_ = rguid;
    return S_OK;
  }
  HRESULT SetSource(LPOLESTR szSource) override { return set(source_, szSource); }
  HRESULT SetDescription(LPOLESTR szDescription) override {
    return set(description_, szDescription);
  }
  HRESULT SetHelpFile(LPOLESTR szHelpFile) override { return set(helpFile_, szHelpFile); }
  HRESULT SetHelpContext(DWORD dwHelpContext) override {
    helpContext_ = dwHelpContext;
    return S_OK;
  }

 private:
  static HRESULT get(const BSTR& value, BSTR* target) {
    if (!target) return E_INVALIDARG;
    *target = value;
    return S_OK;
  }
  static HRESULT set(BSTR& value, LPOLESTR text) {
    value = text ? BSTR(text) : BSTR();
    return S_OK;
  }

  GUID guid_{};
  BSTR source_, description_, helpFile_;
  DWORD helpContext_ = 0;
};

ComPtr<IErrorInfo>& threadErrorInfo() {
  thread_local ComPtr<IErrorInfo> info;
  return info;
}

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_INVALIDARG;
  auto* info = new (std::nothrow) ErrorInfo;
  *pperrinfo = info;
  if (!info) return E_OUTOFMEMORY;
  info->AddRef();
  return S_OK;
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* perrinfo) {
  threadErrorInfo() = perrinfo;
  return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_INVALIDARG;
  *pperrinfo = threadErrorInfo().detach();
  return *pperrinfo ? S_OK : S_FALSE;
}

HRESULT reportError(HRESULT code, REFGUID iid, std::u16string_view source,
                    std::u16string_view description, DWORD helpContext) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.put()))) return code;
  BSTR sourceText(source), descriptionText(description);
  create->SetGUID(iid);
  create->SetSource(sourceText.data());
  create->SetDescription(descriptionText.data());
  create->SetHelpContext(helpContext);
  SetErrorInfo(0, create.as<IErrorInfo>().get());
  return code;
}

HRESULT exceptionCode(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const EOleSysError& e) {
    // A failure must not reach the caller as success.
    return FAILED(e.ErrorCode()) ? e.ErrorCode() : E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

std::u16string exceptionDescription(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return ansiToWide(e.what());
  } catch (...) {
    return ansiToWide(hresultMessage(E_UNEXPECTED));
  }
}

DWORD exceptionHelpContext(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    return static_cast<DWORD>(e.HelpContext());
  } catch (...) {
    return 0;
  }
}

HRESULT reportCurrentException(REFGUID iid, std::u16string_view source) {
  std::exception_ptr error = std::current_exception();
  if (!error) return E_UNEXPECTED;
  return reportError(exceptionCode(error), iid, source, exceptionDescription(error),
                     exceptionHelpContext(error));
}

}  // namespace mirelo
