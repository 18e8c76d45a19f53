#include "platform/com/connection_point.h"

#include <algorithm>

namespace mirelo {

ConnectionPoint::ConnectionPoint(IConnectionPointContainer& container, REFIID iid,
                                 size_t maxConnections, ConnectHandler onConnect)
    : container_(container),
      iid_(iid),
      maxConnections_(maxConnections),
      onConnect_(std::move(onConnect)) {}

ConnectionPoint::~ConnectionPoint() = default;

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** ppvObject) {
  if (!ppvObject) return E_POINTER;
  *ppvObject = nullptr;
  if (riid != IID_IUnknown && riid != IID_IConnectionPoint) return E_NOINTERFACE;
  *ppvObject = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}

ULONG ConnectionPoint::AddRef() {
  return container_.AddRef();
}

// The container may die here, and this point with it.
ULONG ConnectionPoint::Release() {
  return container_.Release();
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* pIID) {
  if (!pIID) return E_POINTER;
  *pIID = iid_;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
  if (!ppCPC) return E_POINTER;
  *ppCPC = &container_;
  container_.AddRef();
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
  if (!pdwCookie) return E_POINTER;
  *pdwCookie = 0;
  if (!pUnkSink) return E_POINTER;
  if (sinks_.size() >= maxConnections_) return CONNECT_E_ADVISELIMIT;
  ComPtr<IUnknown> sink;
  if (FAILED(pUnkSink->QueryInterface(iid_, sink.putVoid())) || !sink)
    return CONNECT_E_CANNOTCONNECT;
  DWORD cookie = nextCookie_++;
  sinks_.push_back({cookie, sink});
  *pdwCookie = cookie;
  if (onConnect_) onConnect_(sink.get(), true);
  return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD dwCookie) {
  auto it = std::find_if(sinks_.begin(), sinks_.end(),
                         [dwCookie](const Sink& s) { return s.cookie == dwCookie; });
  if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
  // Off the list before anyone hears of it; released last.
  ComPtr<IUnknown> sink = std::move(it->sink);
  sinks_.erase(it);
  if (onConnect_) onConnect_(sink.get(), false);
  return S_OK;
}

namespace {

// A snapshot of the connections: sinks that connect or disconnect while a
// caller walks it do not disturb the walk.
class ConnectionEnumerator final : public ComObject<IEnumConnections> {
 public:
  ConnectionEnumerator(std::vector<CONNECTDATA> items, size_t position)
      : items_(std::move(items)), position_(position) {
    for (CONNECTDATA& item : items_) item.pUnk->AddRef();
  }

  HRESULT Next(ULONG cConnections, CONNECTDATA* rgcd, ULONG* pcFetched) override {
    if (!rgcd || (cConnections != 1 && !pcFetched)) return E_POINTER;
    ULONG fetched = 0;
    for (; fetched < cConnections && position_ < items_.size(); ++fetched, ++position_) {
      rgcd[fetched] = items_[position_];
      rgcd[fetched].pUnk->AddRef();  // the caller releases what it receives
    }
    if (pcFetched) *pcFetched = fetched;
    return fetched == cConnections ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG cConnections) override {
    size_t left = items_.size() - position_;
    position_ += std::min<size_t>(left, cConnections);
    return cConnections <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumConnections** ppEnum) override {
    if (!ppEnum) return E_POINTER;
    *ppEnum = new ConnectionEnumerator(items_, position_);
    (*ppEnum)->AddRef();
    return S_OK;
  }

 private:
  ~ConnectionEnumerator() override {
    for (CONNECTDATA& item : items_) item.pUnk->Release();
  }

  std::vector<CONNECTDATA> items_;
  size_t position_;
};

}  // namespace

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
  if (!ppEnum) return E_POINTER;
  std::vector<CONNECTDATA> items;
  for (const Sink& s : sinks_) items.push_back({s.sink.get(), s.cookie});
  *ppEnum = new ConnectionEnumerator(std::move(items), 0);
  (*ppEnum)->AddRef();
  return S_OK;
}

std::vector<ComPtr<IUnknown>> ConnectionPoint::sinks() const {
  std::vector<ComPtr<IUnknown>> result;
  result.reserve(sinks_.size());
  for (const Sink& s : sinks_) result.push_back(s.sink);
  return result;
}

HRESULT ConnectionPoint::fire(DISPID dispid, std::span<const Variant> args) {
  HRESULT first = S_OK;
  for (const ComPtr<IUnknown>& sink : sinks()) {
    // A fresh copy for each sink: a sink may change or clear its arguments.
    std::vector<Variant> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    // The outgoing interface is a dispatch interface: IDispatch's table.
    auto* target = reinterpret_cast<IDispatch*>(sink.get());
    HRESULT hr = target->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                nullptr, nullptr, nullptr);
    if (FAILED(hr) && SUCCEEDED(first)) first = hr;
  }
  return first;
}

void ConnectionPoint::unadviseAll() {
  std::vector<Sink> sinks = std::move(sinks_);
  sinks_.clear();
  for (Sink& s : sinks)
    if (onConnect_) onConnect_(s.sink.get(), false);
}

HRESULT findConnectionPoint(std::span<ConnectionPoint* const> points, REFIID riid,
                            IConnectionPoint** ppCP) {
  if (!ppCP) return E_POINTER;
  *ppCP = nullptr;
  for (ConnectionPoint* point : points) {
    if (point && point->iid() == riid) {
      *ppCP = point;
      point->AddRef();
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

}  // namespace mirelo
