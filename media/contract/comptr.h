// ComPtr: a counted reference to a component object. Ordinary code never calls Release().
#pragma once

#include <utility>

#include "media/contract/unknown.h"

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference to p.
  ComPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  ComPtr(const ComPtr<U>& o) : ComPtr(static_cast<T*>(o.Get())) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& o) {
    ComPtr(o).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    ComPtr(std::move(o)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(T* p) {
    ComPtr(p).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  // Adopts a reference the caller already owns (no AddRef).
  static ComPtr Adopt(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  void Attach(T* p) {
    Reset();
    p_ = p;
  }
  T* Detach() { return std::exchange(p_, nullptr); }
  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  void Swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out-parameters: releases what is held and exposes the slot.
  T** ReleaseAndGetAddressOf() {
    Reset();
    return &p_;
  }
  T** operator&() { return ReleaseAndGetAddressOf(); }
  void** AsVoidOut() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

  // CopyTo hands an out-parameter its own reference.
  HRESULT CopyTo(T** out) const {
    if (!out) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }

  template <typename U>
  HRESULT As(ComPtr<U>* out) const {
    if (!out) return E_POINTER;
    if (!p_) return E_POINTER;
    return p_->QueryInterface(TavIidOf<U>(), out->AsVoidOut());
  }
  template <typename U>
  ComPtr<U> As() const {
    ComPtr<U> r;
    if (p_) p_->QueryInterface(TavIidOf<U>(), r.AsVoidOut());
    return r;
  }

  bool operator==(const ComPtr& o) const { return p_ == o.p_; }
  bool operator==(const T* o) const { return p_ == o; }

 private:
  T* p_ = nullptr;
};

// Same object identity: compares the IUnknown pointers.
inline bool IsSameObject(IUnknown* a, IUnknown* b) {
  if (a == b) return true;
  if (!a || !b) return false;
  ComPtr<IUnknown> ua, ub;
  a->QueryInterface(IID_IUnknown, ua.AsVoidOut());
  b->QueryInterface(IID_IUnknown, ub.AsVoidOut());
  return ua.Get() == ub.Get();
}
