// The non-delegating unknown that every object of a filter library is built on, with
// aggregation and the library's live-object count (DllCanUnloadNow answers from it).
#pragma once

#include "media/contract/com.h"
#include "media/contract/comptr.h"

// Debug names of objects are plain narrow strings.
using TCHAR = char;
using LPCTSTR = const char*;
using LPTSTR = char*;
#ifndef NAME
#define NAME(x) (x)
#endif

// The inner unknown of an aggregatable object: an outer object holds it and forwards
// only the interfaces it wants to expose.
struct INonDelegatingUnknown {
  virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG NonDelegatingAddRef() = 0;
  virtual ULONG NonDelegatingRelease() = 0;

 protected:
  ~INonDelegatingUnknown() = default;
};

// Counts the library's live objects. The count is per library: the base classes are
// linked statically with hidden symbols, so every library has its own.
class CBaseObject {
 public:
  explicit CBaseObject(LPCTSTR name);
  CBaseObject(const CBaseObject&) = delete;
  CBaseObject& operator=(const CBaseObject&) = delete;
  virtual ~CBaseObject();
  static LONG ObjectsActive();

 protected:
  LPCTSTR ObjectName() const { return m_pObjectName; }

 private:
  LPCTSTR m_pObjectName;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  CUnknown(LPCTSTR name, LPUNKNOWN outer);
  CUnknown(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr);
  ~CUnknown() override;

  // The controlling unknown: the outer object when aggregated, else this object's own.
  LPUNKNOWN GetOwner() const { return m_pUnknown; }
  // This object's own IUnknown (the one an aggregating outer object holds).
  LPUNKNOWN GetInnerUnknown() { return &m_inner; }

  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG NonDelegatingAddRef() override;
  ULONG NonDelegatingRelease() override;

 protected:
  volatile LONG m_cRef = 0;

 private:
  // Routes the inner IUnknown to the non-delegating methods.
  struct Inner final : IUnknown {
    explicit Inner(CUnknown* o) : owner(o) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return owner->NonDelegatingQueryInterface(riid, ppv); }
    ULONG AddRef() override { return owner->NonDelegatingAddRef(); }
    ULONG Release() override { return owner->NonDelegatingRelease(); }
    CUnknown* owner;
  };
  Inner m_inner{this};
  IUnknown* const m_pUnknown;
};

// Hands out p with a new reference.
HRESULT GetInterface(LPUNKNOWN p, void** ppv);

// The IUnknown methods of an object that delegates to its controlling unknown.
#define DECLARE_IUNKNOWN                                                                 \
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {                       \
    return GetOwner()->QueryInterface(riid, ppv);                                       \
  }                                                                                     \
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }               \
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }

// Keeps the library loaded (IClassFactory::LockServer).
void DllAddRef();
void DllRelease();
LONG DllLockCount();
