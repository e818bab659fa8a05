#include "platform/streaming/base/dllsetup.h"

#include <string>

#include "media/contract/codepage.h"
#include "media/contract/comreg.h"
#include "media/contract/trace.h"
#include "media/contract/uuids.h"

TAV_TRACE_SOURCE(kBase, "dllsetup");

namespace {

// Filter names for the trace and the registry; a null name is empty.
std::string Narrow(LPCWSTR text) { return text ? tav::Utf16ToUtf8(text) : std::string(); }

}  // namespace

// ---- class factory ---------------------------------------------------------------------

HRESULT CClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_IClassFactory) return GetInterface(this, ppv);
  return E_NOINTERFACE;
}

ULONG CClassFactory::AddRef() { return ULONG(__atomic_add_fetch(&m_cRef, 1, __ATOMIC_SEQ_CST)); }

ULONG CClassFactory::Release() {
  const LONG ref = __atomic_sub_fetch(&m_cRef, 1, __ATOMIC_SEQ_CST);
  if (ref == 0) delete this;  // the last reference owns the object
  return ULONG(ref);
}

HRESULT CClassFactory::CreateInstance(LPUNKNOWN outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregated object can only hand its inner unknown to the outer object.
  if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  HRESULT hr = S_OK;
  CUnknown* object = m_pTemplate->CreateInstance(outer, &hr);
  if (!object) return FAILED(hr) ? hr : E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete object;  // not counted yet: nothing else holds it
    return hr;
  }
  // The creation reference, held across the query (whose reference is the caller's) and
  // dropped by hand: a CUnknown counts through NonDelegating calls, which ComPtr does not make.
  object->NonDelegatingAddRef();
  hr = object->NonDelegatingQueryInterface(riid, ppv);
  object->NonDelegatingRelease();
  TAV_TRACE("CreateInstance %s -> 0x%08x", Narrow(m_pTemplate->m_Name).c_str(), unsigned(hr));
  return hr;
}

HRESULT CClassFactory::LockServer(BOOL lock) {
  if (lock)
    DllAddRef();
  else
    DllRelease();  // the caller's earlier LockServer(TRUE), undone as the contract asks
  return S_OK;
}

// ---- entry points ------------------------------------------------------------------------

HRESULT AMovieDllGetClassObject(const CFactoryTemplate* table, int count, REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
  for (int i = 0; i < count; ++i) {
    if (!table[i].IsClassID(clsid) || !table[i].m_lpfnNew) continue;
    auto* factory = new (std::nothrow) CClassFactory(&table[i]);
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    *ppv = static_cast<IClassFactory*>(factory);
    return S_OK;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT AMovieDllCanUnloadNow() {
  return CBaseObject::ObjectsActive() == 0 && DllLockCount() == 0 ? S_OK : S_FALSE;
}

void AMovieDllInitRoutines(const CFactoryTemplate* table, int count, BOOL loading) {
  for (int i = 0; i < count; ++i)
    if (table[i].m_lpfnInit) table[i].m_lpfnInit(loading, table[i].m_ClsID);
}

HRESULT AMovieSetupRegisterFilter2(const AMOVIESETUP_FILTER* filter, IFilterMapper2* mapper, BOOL doRegister) {
  if (!filter) return S_OK;
  if (!mapper) return E_POINTER;
  if (!doRegister) {
    HRESULT hr = mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, *filter->clsID);
    // A filter that was never registered is not an error when removing it.
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == VFW_E_NOT_FOUND) hr = S_OK;
    return hr;
  }
  REGFILTER2 data{};
  data.dwVersion = 1;
  data.dwMerit = filter->dwMerit;
  data.cPins = filter->nPins;
  data.rgPins = filter->lpPin;
  return mapper->RegisterFilter(*filter->clsID, filter->strName, nullptr, &CLSID_LegacyAmFilterCategory, nullptr,
                                &data);
}

HRESULT AMovieDllRegisterServer2(const CFactoryTemplate* table, int count, BOOL doRegister) {
  const std::string path = tav::ModulePathOf(reinterpret_cast<const void*>(&AMovieDllRegisterServer2));
  if (doRegister && path.empty()) return E_FAIL;
  TAV_TRACE("%s %d classes of %s", doRegister ? "register" : "unregister", count, path.c_str());

  HRESULT hr = S_OK;
  // Classes first when registering (the mapper may look at them), last when removing.
  if (doRegister) {
    for (int i = 0; i < count && SUCCEEDED(hr); ++i)
      hr = tav::RegisterInprocServer(*table[i].m_ClsID, Narrow(table[i].m_Name).c_str(), path.c_str(), "Both");
    if (FAILED(hr)) return hr;
  }

  bool anyFilter = false;
  for (int i = 0; i < count; ++i) anyFilter = anyFilter || table[i].m_pAMovieSetup_Filter != nullptr;
  if (anyFilter) {
    ComPtr<IFilterMapper2> mapper;
    hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper.AsVoidOut());
    if (SUCCEEDED(hr)) {
      for (int i = 0; i < count; ++i) {
        const HRESULT one = AMovieSetupRegisterFilter2(table[i].m_pAMovieSetup_Filter, mapper.Get(), doRegister);
        if (FAILED(one) && SUCCEEDED(hr)) hr = one;
        if (FAILED(hr) && doRegister) break;
      }
    }
    if (FAILED(hr) && doRegister) return hr;
  }

  if (!doRegister) {
    for (int i = 0; i < count; ++i) {
      const HRESULT one = tav::UnregisterInprocServer(*table[i].m_ClsID);
      if (FAILED(one) && SUCCEEDED(hr)) hr = one;
    }
  }
  return hr;
}
