#pragma once
// Connection points: how an object calls back the sinks that hosts connect to
// it (its events), and a reusable implementation that keeps the sinks.
#include <functional>
#include <span>
#include <vector>

#include "platform/com/dispatch.h"
#include "platform/com/types.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"

namespace mirelo {

inline constexpr IID IID_IConnectionPointContainer{
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IEnumConnectionPoints{
    0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IConnectionPoint{
    0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IEnumConnections{
    0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

class IConnectionPoint;
class IConnectionPointContainer;

struct CONNECTDATA {
  IUnknown* pUnk;
  DWORD dwCookie;
};

// IEnumConnectionPoints is declared for the slot layout only. A connection
// point's IEnumConnections enumerates the sinks connected when it was made.
class IEnumConnections : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IEnumConnections;
  using Base = IUnknown;

  virtual HRESULT Next(ULONG cConnections, CONNECTDATA* rgcd, ULONG* pcFetched) = 0;
  virtual HRESULT Skip(ULONG cConnections) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnections** ppEnum) = 0;

 protected:
  ~IEnumConnections() = default;
};

class IEnumConnectionPoints : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IEnumConnectionPoints;
  using Base = IUnknown;

  virtual HRESULT Next(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) = 0;
  virtual HRESULT Skip(ULONG cConnections) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnectionPoints** ppEnum) = 0;

 protected:
  ~IEnumConnectionPoints() = default;
};

class IConnectionPoint : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IConnectionPoint;
  using Base = IUnknown;

  virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
  virtual HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
  virtual HRESULT Unadvise(DWORD dwCookie) = 0;
  virtual HRESULT EnumConnections(IEnumConnections** ppEnum) = 0;

 protected:
  ~IConnectionPoint() = default;
};

class IConnectionPointContainer : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IConnectionPointContainer;
  using Base = IUnknown;

  virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
  virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};

// One outgoing interface of an object, kept inside the object that owns it:
// its reference count is the container's, so a host holding the connection
// point keeps the object alive and the point never outlives its owner.
//
// Advise asks the sink for the outgoing interface (CONNECT_E_CANNOTCONNECT
// when it lacks it) and keeps that reference; cookies count from 1 and are
// never reused by one point. The outgoing interface must be a dispatch
// interface for fire(): events are IDispatch::Invoke calls on each sink.
class ConnectionPoint final : public IConnectionPoint {
 public:
  // Called with (sink, true) after a sink connects and with (sink, false)
  // after it disconnects (sink: its outgoing interface), so that the owner
  // can follow the connected sink. The destructor disconnects silently.
  using ConnectHandler = std::function<void(IUnknown* sink, bool connected)>;
  static constexpr size_t kUnlimited = static_cast<size_t>(-1);

  // maxConnections 1 makes a single-sink point: a second Advise gives
  // CONNECT_E_ADVISELIMIT until the first sink disconnects.
  ConnectionPoint(IConnectionPointContainer& container, REFIID iid,
                  size_t maxConnections = kUnlimited, ConnectHandler onConnect = {});
  ~ConnectionPoint();
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetConnectionInterface(IID* pIID) override;
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
  HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
  HRESULT Unadvise(DWORD dwCookie) override;
  HRESULT EnumConnections(IEnumConnections** ppEnum) override;

  const IID& iid() const { return iid_; }
  size_t count() const { return sinks_.size(); }
  // The connected sinks' outgoing interfaces, in the order they connected.
  std::vector<ComPtr<IUnknown>> sinks() const;
  // Calls method dispid on every sink with args in their natural order (the
  // first parameter first); no named arguments, results ignored. A sink that
  // connects or disconnects meanwhile does not disturb the round: it goes to
  // the sinks connected when it began. Every sink is called even when one
  // fails; returns S_OK or the first failure.
  HRESULT fire(DISPID dispid, std::span<const Variant> args = {});
  // Disconnects every sink, telling the handler of each.
  void unadviseAll();

 private:
  struct Sink {
    DWORD cookie;
    ComPtr<IUnknown> sink;
  };

  IConnectionPointContainer& container_;
  IID iid_;
  size_t maxConnections_;
  ConnectHandler onConnect_;
  std::vector<Sink> sinks_;
  DWORD nextCookie_ = 1;
};

// FindConnectionPoint over an object's points, for its IConnectionPointContainer.
HRESULT findConnectionPoint(std::span<ConnectionPoint* const> points, REFIID riid,
                            IConnectionPoint** ppCP);

}  // namespace mirelo
