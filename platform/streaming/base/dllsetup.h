// A filter library's entry points: its class-factory table, DllGetClassObject /
// DllCanUnloadNow over the live-object count, and self-registration of its classes and
// filters (pins, media types, merit) in the form the filter mapper reads.
//
// A library lists its classes in one sorted table and expands TAV_DLL_ENTRY_POINTS:
//
//   const CFactoryTemplate g_Templates[] = {
//     {L"My Filter", &CLSID_MyFilter, CMyFilter::CreateInstance, nullptr, &sudMyFilter},
//   };
//   TAV_DLL_ENTRY_POINTS(g_Templates, std::size(g_Templates))
#pragma once

#include "media/contract/strmif.h"
#include "platform/streaming/base/combase.h"

// The platform's setup structures: the filter data a library registers.
using AMOVIESETUP_MEDIATYPE = REGPINTYPES;
using AMOVIESETUP_PIN = REGFILTERPINS;
struct AMOVIESETUP_FILTER {
  const CLSID* clsID;
  LPCWSTR strName;
  DWORD dwMerit;
  UINT nPins;
  const AMOVIESETUP_PIN* lpPin;
};
using LPAMOVIESETUP_FILTER = const AMOVIESETUP_FILTER*;

using LPFNNewCOMObject = CUnknown* (*)(LPUNKNOWN outer, HRESULT* phr);
using LPFNInitRoutine = void (*)(BOOL loading, const CLSID* clsid);

struct CFactoryTemplate {
  LPCWSTR m_Name;
  const CLSID* m_ClsID;
  LPFNNewCOMObject m_lpfnNew;
  LPFNInitRoutine m_lpfnInit;
  const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;

  BOOL IsClassID(REFCLSID clsid) const { return m_ClsID && *m_ClsID == clsid; }
  CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr) const { return m_lpfnNew(outer, phr); }
};

// The class object of one table entry.
class CClassFactory final : public IClassFactory {
 public:
  explicit CClassFactory(const CFactoryTemplate* entry) : m_pTemplate(entry) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP CreateInstance(LPUNKNOWN outer, REFIID riid, void** ppv) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  ~CClassFactory() = default;
  const CFactoryTemplate* const m_pTemplate;
  volatile LONG m_cRef = 0;
};

HRESULT AMovieDllGetClassObject(const CFactoryTemplate* table, int count, REFCLSID clsid, REFIID riid, void** ppv);
// S_OK when no object of the library is alive and no server lock is held.
HRESULT AMovieDllCanUnloadNow();
// Registers (or removes) every class of the table as an in-process server of this
// library (threading model "Both") and every entry with filter data with the filter
// mapper (CLSID_FilterMapper2), in the legacy filter category. Unregistering ignores
// entries that are not registered.
HRESULT AMovieDllRegisterServer2(const CFactoryTemplate* table, int count, BOOL doRegister);
// Registers or removes one filter's data with the mapper.
HRESULT AMovieSetupRegisterFilter2(const AMOVIESETUP_FILTER* filter, IFilterMapper2* mapper, BOOL doRegister);
// Runs every entry's init routine (library load or unload).
void AMovieDllInitRoutines(const CFactoryTemplate* table, int count, BOOL loading);

#define TAV_DLL_EXPORT extern "C" __attribute__((visibility("default")))

// DllGetClassObject and DllCanUnloadNow for a table.
#define TAV_DLL_CLASS_OBJECT_ENTRY_POINTS(table, count)                                            \
  TAV_DLL_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {             \
    return AMovieDllGetClassObject(table, int(count), clsid, riid, ppv);                          \
  }                                                                                               \
  TAV_DLL_EXPORT HRESULT DllCanUnloadNow() { return AMovieDllCanUnloadNow(); }

// All four entry points, registration done by the table alone.
#define TAV_DLL_ENTRY_POINTS(table, count)                                                         \
  TAV_DLL_CLASS_OBJECT_ENTRY_POINTS(table, count)                                                  \
  TAV_DLL_EXPORT HRESULT DllRegisterServer() { return AMovieDllRegisterServer2(table, int(count), TRUE); } \
  TAV_DLL_EXPORT HRESULT DllUnregisterServer() { return AMovieDllRegisterServer2(table, int(count), FALSE); }
