#include "platform/streaming/base/combase.h"

#include <atomic>

#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kBase, "combase");

namespace {
// Live objects of this library (CBaseObject) and server locks (LockServer).
std::atomic<LONG> g_objectsActive{0};
std::atomic<LONG> g_serverLocks{0};
}  // namespace

CBaseObject::CBaseObject(LPCTSTR name) : m_pObjectName(name) { ++g_objectsActive; }
CBaseObject::~CBaseObject() { --g_objectsActive; }
LONG CBaseObject::ObjectsActive() { return g_objectsActive.load(); }

void DllAddRef() { ++g_serverLocks; }
void DllRelease() { --g_serverLocks; }
LONG DllLockCount() { return g_serverLocks.load(); }

CUnknown::CUnknown(LPCTSTR name, LPUNKNOWN outer)
    : CBaseObject(name), m_pUnknown(outer ? outer : static_cast<IUnknown*>(&m_inner)) {}

CUnknown::CUnknown(LPCTSTR name, LPUNKNOWN outer, HRESULT*) : CUnknown(name, outer) {}

CUnknown::~CUnknown() = default;

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown) return GetInterface(&m_inner, ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() { return ULONG(__atomic_add_fetch(&m_cRef, 1, __ATOMIC_SEQ_CST)); }

ULONG CUnknown::NonDelegatingRelease() {
  const LONG ref = __atomic_sub_fetch(&m_cRef, 1, __ATOMIC_SEQ_CST);
  if (ref == 0) {
    // Guards against a destructor that takes and drops a reference of its own.
    m_cRef = 1;
    TAV_TRACE("delete %s %p", ObjectName() ? ObjectName() : "?", static_cast<void*>(this));
    delete this;  // the last reference owns the object
    return 0;
  }
  return ULONG(ref);
}

HRESULT GetInterface(LPUNKNOWN p, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = p;
  if (p) p->AddRef();
  return S_OK;
}
