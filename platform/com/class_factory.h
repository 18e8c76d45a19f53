#pragma once
// IClassFactory, and a factory that makes objects of one class through a
// creation function and counts its locks.
#include <atomic>
#include <functional>
#include <string>

#include "platform/com/types.h"
#include "platform/com/unknown.h"

namespace mirelo {

inline constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class IClassFactory : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IClassFactory;
  using Base = IUnknown;

  virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT LockServer(BOOL fLock) = 0;

 protected:
  ~IClassFactory() = default;
};

// LockServer's count: up on lock, down on unlock but never below zero
// (E_UNEXPECTED then).
HRESULT changeServerLock(std::atomic<long>& locks, BOOL lock);

// CreateInstance: an outer object gives CLASS_E_NOAGGREGATION, a null target
// E_POINTER; otherwise the creation function makes the object (an exception
// from it becomes its status, EOleSysError's code, E_OUTOFMEMORY or E_FAIL,
// with its message in the thread's error information under `source`) and
// the object is asked for riid (E_NOINTERFACE leaves nothing alive).
// LockServer counts up and down in `locks`, which the library's
// DllCanUnloadNow reads; unlocking below zero is refused with E_UNEXPECTED.
class ClassFactory : public ComObject<IClassFactory> {
 public:
  using Creator = std::function<ComPtr<IUnknown>()>;

  ClassFactory(Creator create, std::atomic<long>& locks, std::u16string source = u"IClassFactory");

  HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override;
  HRESULT LockServer(BOOL fLock) override;

 private:
  Creator create_;
  std::atomic<long>& locks_;
  std::u16string source_;
};

}  // namespace mirelo
