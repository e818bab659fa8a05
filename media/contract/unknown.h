// IUnknown, the class factory, and the interface-identifier lookup used by ComPtr.
#pragma once

#include "media/contract/guid.h"
#include "media/contract/hresult.h"

// Interface identifiers are looked up by type: TAV_INTERFACE(IFoo, IID_IFoo) after
// declaring IFoo lets ComPtr<IFoo>::As, QueryInterface helpers and IID_PPV_ARGS find it.
template <typename T>
struct TavInterfaceId;
#define TAV_INTERFACE(Itf, iid)                         \
  template <>                                           \
  struct TavInterfaceId<Itf> {                          \
    static constexpr const GUID& value() { return iid; } \
  }
template <typename T>
constexpr const GUID& TavIidOf() { return TavInterfaceId<T>::value(); }
#define TAV_IID_PPV_ARGS(pp) TavIidOf<std::remove_pointer_t<std::remove_reference_t<decltype(*(pp))>>>(), \
    reinterpret_cast<void**>(pp)

TAV_DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TAV_DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) = 0;
  STDMETHOD_(ULONG, AddRef)() = 0;
  STDMETHOD_(ULONG, Release)() = 0;

 protected:
  ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;
TAV_INTERFACE(IUnknown, IID_IUnknown);

struct IClassFactory : IUnknown {
  STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) = 0;
  STDMETHOD(LockServer)(BOOL lock) = 0;
};
TAV_INTERFACE(IClassFactory, IID_IClassFactory);

// The methods every enumerator interface has (IEnumPins, IEnumMoniker, ...), declared as
// `struct IEnumFoo : TavEnumerator<IEnumFoo, Foo*> {};`. Next hands out up to count items
// (S_FALSE when fewer were left; fetched may be null only when count is 1), Skip passes
// over items, Reset goes back to the first and Clone copies the enumerator with its position.
template <typename Self, typename Item>
struct TavEnumerator : IUnknown {
  STDMETHOD(Next)(ULONG count, Item* items, ULONG* fetched) = 0;
  STDMETHOD(Skip)(ULONG count) = 0;
  STDMETHOD(Reset)() = 0;
  STDMETHOD(Clone)(Self** out) = 0;
};

#include <type_traits>
