#pragma once
// What the control framework adds to the automation object: the picture of
// the control through uniform data transfer, and the object's own interface
// that tells whether its property frame is up.
//
// The picture itself is drawn by the dialogs module: it registers an
// IControlPicture when it is linked in. Without one, a request for the
// metafile medium is answered DV_E_FORMATETC like any other medium.
#include "mirelo/vistel.h"
#include "platform/com/data_object.h"
#include "platform/com/unknown.h"

namespace mirelo {

class TVistel;

// The main property page, the one page the class declares (its factory
// comes with the dialogs).
// {66BE8939-7F4A-4316-BAB8-FA71DE3DAD02}
inline constexpr CLSID CLASS_VistelPropertyPage{
    0x66BE8939, 0x7F4A, 0x4316, {0xBA, 0xB8, 0xFA, 0x71, 0xDE, 0x3D, 0xAD, 0x02}};

// {66BE8939-7F4A-4316-BAB8-FA71DE3DAD01}
inline constexpr IID IID_IVistelControl{
    0x66BE8939, 0x7F4A, 0x4316, {0xBA, 0xB8, 0xFA, 0x71, 0xDE, 0x3D, 0xAD, 0x01}};

class IVistelControl : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IVistelControl;
  using Base = IUnknown;

  // 1 while ShowProperties shows the property frame, 0 otherwise.
  virtual BYTE GetPropertyFrameShown() = 0;

 protected:
  ~IVistelControl() = default;
};

// The seam for the control's picture.
class IControlPicture {
 public:
  virtual ~IControlPicture() = default;
  // Fills medium with the control's picture for a request of the metafile
  // medium: a metafile picture in anisotropic mode (MM_ANISOTROPIC) of the
  // control's extent in HIMETRIC units, handle and release as the
  // implementation documents. Returns E_UNEXPECTED when the picture cannot
  // be closed and STG_E_MEDIUMFULL when its memory cannot be had.
  virtual HRESULT RenderMetafile(TVistel& control, const FORMATETC& format, STGMEDIUM& medium) = 0;
};

// The registered picture, or null. Registering null removes it.
IControlPicture* controlPicture();
void registerControlPicture(IControlPicture* picture);

// The seam for the control's visible window (IVistelWindow).
class IControlWindowFactory {
 public:
  virtual ~IControlWindowFactory() = default;
  virtual HRESULT CreateControlWindow(void* parent, void** window) = 0;
};

IControlWindowFactory* controlWindowFactory();
void registerControlWindowFactory(IControlWindowFactory* factory);

// IDataObject and IVistelControl for the class that mixes this in; that
// class supplies IUnknown.
//   GetData: null arguments E_INVALIDARG; any medium but TYMED_MFPICT, and
//     the metafile without a registered picture, DV_E_FORMATETC.
//   GetDataHere, QueryGetData, GetCanonicalFormatEtc, SetData: E_NOTIMPL;
//     EnumFormatEtc: E_NOTIMPL with its output cleared.
//   DAdvise: the data-advise holder, made on first use; DUnadvise without
//     one: OLE_E_NOCONNECTION; EnumDAdvise without one: E_FAIL.
//   CreateControlWindow: the registered window factory's, E_NOTIMPL without one.
class TControlInterfaces : public IDataObject, public IVistelControl, public IVistelWindow {
 public:
  explicit TControlInterfaces(TVistel& control) : control_(control) {}

  HRESULT GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) override;
  HRESULT GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) override;
  HRESULT QueryGetData(FORMATETC* pformatetc) override;
  HRESULT GetCanonicalFormatEtc(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) override;
  HRESULT SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) override;
  HRESULT EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) override;
  HRESULT DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                  DWORD* pdwConnection) override;
  HRESULT DUnadvise(DWORD dwConnection) override;
  HRESULT EnumDAdvise(IEnumSTATDATA** ppenumAdvise) override;

  BYTE GetPropertyFrameShown() override;
  HRESULT CreateControlWindow(void* parent, void** window) override;

 protected:
  ~TControlInterfaces() = default;
  // The interface pointer for riid among these, or null (for queryOther).
  void* queryControlInterface(REFIID riid);

 private:
  TVistel& control_;
  ComPtr<IDataAdviseHolder> adviseHolder_;
};

}  // namespace mirelo
