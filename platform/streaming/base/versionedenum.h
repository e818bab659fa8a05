// What the pin and media-type enumerators share: their own reference count, the position,
// and the owner's version they were made at. Once the owner's version moves on (its pins
// or its preferred types changed), Next, Skip and Clone fail with VFW_E_ENUM_OUT_OF_SYNC
// until Reset.
#pragma once

#include <new>

#include "platform/streaming/base/combase.h"

// Derived supplies `static LONG VersionOf(Owner*)` and the constructor
// Derived(Owner*, const Derived* copyFrom) (copyFrom null: start at the beginning).
template <class Derived, class Interface, class Owner>
class CVersionedEnum : public Interface {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == TavIidOf<Interface>() || riid == IID_IUnknown) return GetInterface(static_cast<Interface*>(this), ppv);
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ULONG(__atomic_add_fetch(&m_cRef, 1, __ATOMIC_SEQ_CST)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG ref = __atomic_sub_fetch(&m_cRef, 1, __ATOMIC_SEQ_CST);
    if (ref == 0) delete static_cast<Derived*>(this);  // the last reference owns the object
    return ULONG(ref);
  }
  STDMETHODIMP Reset() override {
    m_Version = Derived::VersionOf(m_pOwner.Get());
    m_Position = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(Interface** out) override {
    if (!out) return E_POINTER;
    if (!InSync()) {
      *out = nullptr;
      return VFW_E_ENUM_OUT_OF_SYNC;
    }
    *out = new (std::nothrow) Derived(m_pOwner.Get(), static_cast<const Derived*>(this));
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 protected:
  CVersionedEnum(Owner* owner, const CVersionedEnum* copyFrom)
      : m_pOwner(owner),
        m_Position(copyFrom ? copyFrom->m_Position : 0),
        m_Version(copyFrom ? copyFrom->m_Version : Derived::VersionOf(owner)) {}
  ~CVersionedEnum() = default;

  bool InSync() const { return m_Version == Derived::VersionOf(m_pOwner.Get()); }
  // The checks every Next starts with; anything but S_OK is Next's answer.
  HRESULT CheckNext(const void* items, ULONG count, ULONG* fetched) const {
    if (!items) return E_POINTER;
    if (fetched) *fetched = 0;
    if (!fetched && count > 1) return E_INVALIDARG;
    return InSync() ? S_OK : VFW_E_ENUM_OUT_OF_SYNC;
  }

  ComPtr<Owner> m_pOwner;
  int m_Position;
  LONG m_Version;

 private:
  volatile LONG m_cRef = 1;
};
