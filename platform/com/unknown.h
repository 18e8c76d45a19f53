#pragma once
// IUnknown, the smart pointer that holds one reference, and the reference
// counting base of every object this runtime implements.
//
// Interfaces are abstract classes without a virtual destructor whose members
// stand in the slot order of the interface tables, so the virtual table is
// COM's. Each interface names its identifier (kIid) and its base interface
// (Base); ComObject answers QueryInterface from these.
#include <atomic>
#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/types.h"

namespace mirelo {

inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class IUnknown {
 public:
  static constexpr const IID& kIid = IID_IUnknown;

  virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  // Objects die by Release, never by delete through an interface.
  ~IUnknown() = default;
};

// True when interface I is riid or derives from the interface riid names.
template <class I>
constexpr bool interfaceMatches(REFIID riid) {
  if (riid == I::kIid) return true;
  if constexpr (requires { typename I::Base; })
    return interfaceMatches<typename I::Base>(riid);
  else
    return false;
}

// Holds one reference to an interface: AddRef on copy, Release on reset and
// destruction.
template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Takes a new reference of its own (the caller keeps its reference).
  ComPtr(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U>
  requires std::is_convertible_v<U*, T*> ComPtr(const ComPtr<U>& other)
  noexcept : ComPtr(static_cast<T*>(other.get())) {}
  template <class U>
  requires std::is_convertible_v<U*, T*> ComPtr(ComPtr<U>&& other)
  noexcept : p_(other.detach()) {}
  ~ComPtr() { reset(); }

  ComPtr& operator=(const ComPtr& other) noexcept {
    ComPtr(other).swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).swap(*this);
    return *this;
  }
  ComPtr& operator=(T* p) noexcept {
    ComPtr(p).swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) noexcept {
    reset();
    return *this;
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // Releases what is held and returns the slot for an out parameter that
  // delivers a new reference (QueryInterface, GetTypeInfo, ...).
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }
  // Gives up the reference without releasing it.
  T* detach() noexcept { return std::exchange(p_, nullptr); }
  // Takes over a reference that the caller owned.
  void attach(T* p) noexcept {
    reset();
    p_ = p;
  }
  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  void swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

  // A new reference for an out parameter; E_POINTER for a null target.
  HRESULT copyTo(T** target) const noexcept {
    if (!target) return E_POINTER;
    *target = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }
  HRESULT queryInterface(REFIID riid, void** ppv) const noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return p_ ? p_->QueryInterface(riid, ppv) : E_POINTER;
  }
  // Another interface of the same object, or empty when it has none.
  template <class U>
  ComPtr<U> as() const noexcept {
    ComPtr<U> result;
    if (p_) p_->QueryInterface(U::kIid, result.putVoid());
    return result;
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.p_ == b.p_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

// Implements IUnknown for a class derived from the given interfaces (or from
// classes that implement one interface each, deriving from it alone, so that
// they share its address): QueryInterface answers IUnknown, each listed
// interface and its bases; AddRef and Release count atomically; the last
// Release deletes the object. A new object starts at count 0, so the first
// ComPtr holding it owns it: ComPtr<IFoo> foo(new Foo).
template <class... Interfaces>
class ComObject : public Interfaces... {
  static_assert(sizeof...(Interfaces) > 0, "an object implements at least one interface");

 public:
  ComObject() = default;
  // Passes its arguments to the first base (an implementation class that
  // needs them, such as DispatchImpl with its table).
  // (No is_constructible check: the first base is abstract until the object
  // implements its interface's slots.)
  template <class... Args>
  requires(sizeof...(Args) > 0) explicit ComObject(Args&&... args)
      : First(std::forward<Args>(args)...) {}
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    void* found = nullptr;
    if (riid == IID_IUnknown)
      found = identity();
    else
      ((found = found ? found : matchInterface<Interfaces>(riid)), ...);
    if (!found) found = queryOther(riid);
    if (!found) return E_NOINTERFACE;
    *ppvObject = found;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
      // A destructor that hands `this` out and releases it must not come back here.
      refs_.store(kDestroying, std::memory_order_relaxed);
      delete this;
    }
    return left;
  }

  // The IUnknown pointer that identifies the object.
  IUnknown* identity() { return static_cast<IUnknown*>(static_cast<First*>(this)); }

 protected:
  virtual ~ComObject() = default;
  // Interfaces answered besides the listed ones; return a pointer of the
  // exact interface type cast to void*, without AddRef.
  virtual void* queryOther(REFIID) { return nullptr; }
  ULONG refCount() const { return refs_.load(std::memory_order_relaxed); }

 private:
  using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;
  static constexpr ULONG kDestroying = 1u << 30;

  template <class I>
  void* matchInterface(REFIID riid) {
    return interfaceMatches<I>(riid) ? static_cast<void*>(static_cast<I*>(this)) : nullptr;
  }

  std::atomic<ULONG> refs_{0};
};

}  // namespace mirelo
