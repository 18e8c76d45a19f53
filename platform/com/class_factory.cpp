#include "platform/com/class_factory.h"

#include "platform/com/error_info.h"

namespace mirelo {

ClassFactory::ClassFactory(Creator create, std::atomic<long>& locks, std::u16string source)
    : create_(std::move(create)), locks_(locks), source_(std::move(source)) {}

HRESULT ClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
  if (!ppvObject) return E_POINTER;
  *ppvObject = nullptr;
  if (pUnkOuter) return CLASS_E_NOAGGREGATION;
  ComPtr<IUnknown> object;
  try {
    object = create_();
  } catch (...) {
    return reportCurrentException(IID_IClassFactory, source_);
  }
  if (!object) return E_OUTOFMEMORY;
  return object->QueryInterface(riid, ppvObject);
}

HRESULT changeServerLock(std::atomic<long>& locks, BOOL lock) {
  if (lock) {
    locks.fetch_add(1);
    return S_OK;
  }
  // Never below zero: an unbalanced unlock must not let the library unload
  // under a client that still holds a lock.
  long current = locks.load();
  do {
    if (current <= 0) return E_UNEXPECTED;
  } while (!locks.compare_exchange_weak(current, current - 1));
  return S_OK;
}

HRESULT ClassFactory::LockServer(BOOL fLock) {
  return changeServerLock(locks_, fLock);
}

}  // namespace mirelo
