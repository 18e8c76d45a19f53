#pragma once
// Uniform data transfer: IDataObject, through which a container asks a
// control for its picture, the advise sinks that hear of changes, and the
// data-advise holder that keeps them for an object.
//
// The enumerators are declared for the slot layout; nothing in this runtime
// implements them.
#include "platform/com/types.h"
#include "platform/com/unknown.h"

namespace mirelo {

inline constexpr IID IID_IEnumFORMATETC{0x00000103, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumSTATDATA{0x00000105, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDataObject{0x0000010E, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IAdviseSink{0x0000010F, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDataAdviseHolder{
    0x00000110, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

using CLIPFORMAT = WORD;
constexpr CLIPFORMAT CF_TEXT = 1;
constexpr CLIPFORMAT CF_BITMAP = 2;
constexpr CLIPFORMAT CF_METAFILEPICT = 3;

// Storage media (FORMATETC::tymed is a set of them, STGMEDIUM::tymed one).
constexpr DWORD TYMED_NULL = 0;
constexpr DWORD TYMED_HGLOBAL = 1;
constexpr DWORD TYMED_FILE = 2;
constexpr DWORD TYMED_ISTREAM = 4;
constexpr DWORD TYMED_ISTORAGE = 8;
constexpr DWORD TYMED_GDI = 16;
constexpr DWORD TYMED_MFPICT = 32;
constexpr DWORD TYMED_ENHMF = 64;

constexpr DWORD DVASPECT_CONTENT = 1;
constexpr DWORD DVASPECT_THUMBNAIL = 2;
constexpr DWORD DVASPECT_ICON = 4;
constexpr DWORD DVASPECT_DOCPRINT = 8;

// Advise flags.
constexpr DWORD ADVF_NODATA = 1;
constexpr DWORD ADVF_PRIMEFIRST = 2;
constexpr DWORD ADVF_ONLYONCE = 4;
constexpr DWORD ADVF_DATAONSTOP = 64;

// The picture a metafile medium carries (MM_ANISOTROPIC is mode 8).
constexpr LONG MM_ANISOTROPIC = 8;

struct DVTARGETDEVICE;
class IMoniker;
class IStream;
class IStorage;

struct FORMATETC {
  CLIPFORMAT cfFormat;
  DVTARGETDEVICE* ptd;
  DWORD dwAspect;
  LONG lindex;
  DWORD tymed;
};

// The picture of a metafile medium (STGMEDIUM::hMetaFilePict points to
// one). Linux has no metafiles: hMF holds a PNG image of cbMF bytes
// instead, drawn at the picture's pixel size; xExt and yExt are the extent
// in HIMETRIC units (0.01 mm), as a metafile's would be.
struct METAFILEPICT {
  LONG mm;
  LONG xExt;
  LONG yExt;
  const void* hMF;
  ULONG cbMF;
};

// The medium's handle is an opaque block here: whoever fills a medium
// documents what its handle holds and releases it through pUnkForRelease.
struct STGMEDIUM {
  DWORD tymed;
  union {
    void* hBitmap;
    void* hMetaFilePict;
    void* hEnhMetaFile;
    void* hGlobal;
    LPOLESTR lpszFileName;
    IStream* pstm;
    IStorage* pstg;
  };
  IUnknown* pUnkForRelease;
};

// Frees what a medium holds: its pUnkForRelease is released (a medium of
// this runtime always has one when it holds anything), and the medium is
// left empty.
inline void ReleaseStgMedium(STGMEDIUM* medium) {
  if (!medium) return;
  if (medium->pUnkForRelease) medium->pUnkForRelease->Release();
  medium->tymed = TYMED_NULL;
  medium->hGlobal = nullptr;
  medium->pUnkForRelease = nullptr;
}

class IAdviseSink;

struct STATDATA {
  FORMATETC formatetc;
  DWORD advf;
  IAdviseSink* pAdvSink;
  DWORD dwConnection;
};

class IEnumFORMATETC : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IEnumFORMATETC;
  using Base = IUnknown;

  virtual HRESULT Next(ULONG celt, FORMATETC* rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumFORMATETC** ppenum) = 0;

 protected:
  ~IEnumFORMATETC() = default;
};

class IEnumSTATDATA : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IEnumSTATDATA;
  using Base = IUnknown;

  virtual HRESULT Next(ULONG celt, STATDATA* rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumSTATDATA** ppenum) = 0;

 protected:
  ~IEnumSTATDATA() = default;
};

// The container's sink; its members return nothing, as COM has them.
class IAdviseSink : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IAdviseSink;
  using Base = IUnknown;

  virtual void OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) = 0;
  virtual void OnViewChange(DWORD dwAspect, LONG lindex) = 0;
  virtual void OnRename(IMoniker* pmk) = 0;
  virtual void OnSave() = 0;
  virtual void OnClose() = 0;

 protected:
  ~IAdviseSink() = default;
};

class IDataObject : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IDataObject;
  using Base = IUnknown;

  virtual HRESULT GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) = 0;
  virtual HRESULT GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) = 0;
  virtual HRESULT QueryGetData(FORMATETC* pformatetc) = 0;
  virtual HRESULT GetCanonicalFormatEtc(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) = 0;
  virtual HRESULT SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) = 0;
  virtual HRESULT EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) = 0;
  virtual HRESULT DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                          DWORD* pdwConnection) = 0;
  virtual HRESULT DUnadvise(DWORD dwConnection) = 0;
  virtual HRESULT EnumDAdvise(IEnumSTATDATA** ppenumAdvise) = 0;

 protected:
  ~IDataObject() = default;
};

class IDataAdviseHolder : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IDataAdviseHolder;
  using Base = IUnknown;

  virtual HRESULT Advise(IDataObject* pDataObject, FORMATETC* pFetc, DWORD advf,
                         IAdviseSink* pAdvise, DWORD* pdwConnection) = 0;
  virtual HRESULT Unadvise(DWORD dwConnection) = 0;
  virtual HRESULT EnumAdvise(IEnumSTATDATA** ppenumAdvise) = 0;
  virtual HRESULT SendOnDataChange(IDataObject* pDataObject, DWORD dwReserved, DWORD advf) = 0;

 protected:
  ~IDataAdviseHolder() = default;
};

// A new holder. Advise keeps the sink with its format and flags (the data
// object is not kept, so an object that owns its holder makes no cycle);
// connections count from 1. Unadvise of an unknown connection gives
// OLE_E_NOCONNECTION. EnumAdvise answers E_NOTIMPL. SendOnDataChange calls
// OnDataChange of every sink with an empty medium (TYMED_NULL), as sinks
// advised with ADVF_NODATA receive it, and drops the ADVF_ONLYONCE ones
// after their call; ADVF_PRIMEFIRST sends one such call at once.
HRESULT CreateDataAdviseHolder(IDataAdviseHolder** ppDAHolder);

}  // namespace mirelo
