#include "platform/com/data_object.h"

#include <vector>

namespace mirelo {
namespace {

class DataAdviseHolder final : public ComObject<IDataAdviseHolder> {
 public:
  HRESULT Advise(IDataObject*, FORMATETC* pFetc, DWORD advf, IAdviseSink* pAdvise,
                 DWORD* pdwConnection) override {
    if (pdwConnection) *pdwConnection = 0;
    if (!pFetc || !pAdvise || !pdwConnection) return E_INVALIDARG;
    Connection connection{nextConnection_++, *pFetc, advf, ComPtr<IAdviseSink>(pAdvise)};
    connection.format.ptd = nullptr;  // the target device belongs to the caller
    *pdwConnection = connection.id;
    if (advf & ADVF_PRIMEFIRST) {
      notify(connection);
      if (advf & ADVF_ONLYONCE) return S_OK;
    }
    connections_.push_back(std::move(connection));
    return S_OK;
  }

  HRESULT Unadvise(DWORD dwConnection) override {
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
      if (it->id == dwConnection) {
        connections_.erase(it);
        return S_OK;
      }
    }
    return OLE_E_NOCONNECTION;
  }

  HRESULT EnumAdvise(IEnumSTATDATA** ppenumAdvise) override {
    if (ppenumAdvise) *ppenumAdvise = nullptr;
    return E_NOTIMPL;
  }

  HRESULT SendOnDataChange(IDataObject*, DWORD, DWORD) override {
    // A sink may unadvise from inside its call: work on a copy.
    std::vector<Connection> round = connections_;
    for (Connection& connection : round) {
      notify(connection);
      if (connection.advf & ADVF_ONLYONCE) Unadvise(connection.id);
    }
    return S_OK;
  }

 private:
  struct Connection {
    DWORD id;
    FORMATETC format;
    DWORD advf;
    ComPtr<IAdviseSink> sink;
  };

  static void notify(Connection& connection) {
    STGMEDIUM empty{};
    empty.tymed = TYMED_NULL;
    connection.sink->OnDataChange(&connection.format, &empty);
  }

  std::vector<Connection> connections_;
  DWORD nextConnection_ = 1;
};

}  // namespace

HRESULT CreateDataAdviseHolder(IDataAdviseHolder** ppDAHolder) {
  if (!ppDAHolder) return E_INVALIDARG;
  ComPtr<IDataAdviseHolder> holder(new DataAdviseHolder());
  *ppDAHolder = holder.detach();
  return S_OK;
}

}  // namespace mirelo
