#include "driver/automation/control.h"

#include "driver/automation/vistel.h"

namespace mirelo {

namespace {
IControlPicture* gControlPicture = nullptr;
IControlWindowFactory* gControlWindowFactory = nullptr;
}  // namespace

IControlPicture* controlPicture() {
  return gControlPicture;
}
void registerControlPicture(IControlPicture* picture) {
  gControlPicture = picture;
}
IControlWindowFactory* controlWindowFactory() {
  return gControlWindowFactory;
}
void registerControlWindowFactory(IControlWindowFactory* factory) {
  gControlWindowFactory = factory;
}

HRESULT TControlInterfaces::GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) {
  if (!pformatetcIn || !pmedium) return E_INVALIDARG;
  if (!(pformatetcIn->tymed & TYMED_MFPICT)) return DV_E_FORMATETC;
  IControlPicture* picture = controlPicture();
  if (!picture) return DV_E_FORMATETC;
  return picture->RenderMetafile(control_, *pformatetcIn, *pmedium);
}

HRESULT TControlInterfaces::GetDataHere(FORMATETC*, STGMEDIUM*) {
  return E_NOTIMPL;
}
HRESULT TControlInterfaces::QueryGetData(FORMATETC*) {
  return E_NOTIMPL;
}
HRESULT TControlInterfaces::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) {
  return E_NOTIMPL;
}
HRESULT TControlInterfaces::SetData(FORMATETC*, STGMEDIUM*, BOOL) {
  return E_NOTIMPL;
}

HRESULT TControlInterfaces::EnumFormatEtc(DWORD, IEnumFORMATETC** ppenumFormatEtc) {
  if (ppenumFormatEtc) *ppenumFormatEtc = nullptr;
  return E_NOTIMPL;
}

HRESULT TControlInterfaces::DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                                    DWORD* pdwConnection) {
  if (!adviseHolder_) {
    HRESULT hr = CreateDataAdviseHolder(adviseHolder_.put());
    if (FAILED(hr)) return hr;
  }
  return adviseHolder_->Advise(static_cast<IDataObject*>(this), pformatetc, advf, pAdvSink,
                               pdwConnection);
}

HRESULT TControlInterfaces::DUnadvise(DWORD dwConnection) {
  return adviseHolder_ ? adviseHolder_->Unadvise(dwConnection) : OLE_E_NOCONNECTION;
}

HRESULT TControlInterfaces::EnumDAdvise(IEnumSTATDATA** ppenumAdvise) {
  if (adviseHolder_) return adviseHolder_->EnumAdvise(ppenumAdvise);
  if (ppenumAdvise) *ppenumAdvise = nullptr;
  return E_FAIL;
}

BYTE TControlInterfaces::GetPropertyFrameShown() {
  return control_.PropertyFrameShown() ? 1 : 0;
}

HRESULT TControlInterfaces::CreateControlWindow(void* parent, void** window) {
  if (!window) return E_POINTER;
  *window = nullptr;
  IControlWindowFactory* factory = controlWindowFactory();
  return factory ? factory->CreateControlWindow(parent, window) : E_NOTIMPL;
}

void* TControlInterfaces::queryControlInterface(REFIID riid) {
  if (riid == IID_IDataObject) return static_cast<IDataObject*>(this);
  if (riid == IID_IVistelControl) return static_cast<IVistelControl*>(this);
  if (riid == IID_IVistelWindow) return static_cast<IVistelWindow*>(this);
  return nullptr;
}

}  // namespace mirelo
