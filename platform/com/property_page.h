#pragma once
// Property pages: the page interfaces a property frame drives (IPropertyPage,
// IPropertyPage2), the site the frame gives each page (IPropertyPageSite),
// and the task allocator that page information is returned in.
//
// A window handle is the host toolkit's window: in a Qt process a QWidget*.
#include <cstdlib>
#include <cstring>

#include "platform/com/types.h"
#include "platform/com/unknown.h"

namespace mirelo {

inline constexpr IID IID_IPropertyPage{
    0xB196B28D, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IPropertyPageSite{
    0xB196B28C, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IPropertyPage2{
    0x01E44665, 0x24AC, 0x101B, {0x84, 0xED, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13}};

using HWND = void*;

struct POINT {
  LONG x;
  LONG y;
};

struct SIZE {
  LONG cx;
  LONG cy;
};

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

struct MSG {
  HWND hwnd;
  UINT message;
  uintptr_t wParam;
  intptr_t lParam;
  DWORD time;
  POINT pt;
};

struct PROPPAGEINFO {
  ULONG cb;
  LPOLESTR pszTitle;  // task memory, freed by the caller
  SIZE size;
  LPOLESTR pszDocString;
  LPOLESTR pszHelpFile;
  DWORD dwHelpContext;
};

// IPropertyPageSite::OnStatusChange flags.
constexpr DWORD PROPPAGESTATUS_DIRTY = 1;
constexpr DWORD PROPPAGESTATUS_VALIDATE = 2;
constexpr DWORD PROPPAGESTATUS_CLEAN = 4;

// The task allocator: memory that one module allocates and another frees.
inline void* CoTaskMemAlloc(size_t size) {
  return std::malloc(size ? size : 1);
}
inline void CoTaskMemFree(void* block) {
  std::free(block);
}

class IPropertyPageSite : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IPropertyPageSite;
  using Base = IUnknown;

  virtual HRESULT OnStatusChange(DWORD dwFlags) = 0;
  virtual HRESULT GetLocaleID(LCID* pLocaleID) = 0;
  virtual HRESULT GetPageContainer(IUnknown** ppUnk) = 0;
  virtual HRESULT TranslateAccelerator(MSG* pMsg) = 0;

 protected:
  ~IPropertyPageSite() = default;
};

class IPropertyPage : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IPropertyPage;
  using Base = IUnknown;

  virtual HRESULT SetPageSite(IPropertyPageSite* pPageSite) = 0;
  virtual HRESULT Activate(HWND hWndParent, const RECT* pRect, BOOL bModal) = 0;
  virtual HRESULT Deactivate() = 0;
  virtual HRESULT GetPageInfo(PROPPAGEINFO* pPageInfo) = 0;
  virtual HRESULT SetObjects(ULONG cObjects, IUnknown** ppUnk) = 0;
  virtual HRESULT Show(UINT nCmdShow) = 0;
  virtual HRESULT Move(const RECT* pRect) = 0;
  virtual HRESULT IsPageDirty() = 0;
  virtual HRESULT Apply() = 0;
  virtual HRESULT Help(LPCOLESTR pszHelpDir) = 0;
  virtual HRESULT TranslateAccelerator(MSG* pMsg) = 0;

 protected:
  ~IPropertyPage() = default;
};

class IPropertyPage2 : public IPropertyPage {
 public:
  static constexpr const IID& kIid = IID_IPropertyPage2;
  using Base = IPropertyPage;

  virtual HRESULT EditProperty(DISPID dispID) = 0;

 protected:
  ~IPropertyPage2() = default;
};

}  // namespace mirelo
