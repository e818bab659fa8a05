// The component model: creation by class identifier, the task allocator, BSTR and
// identifier text. Implemented by the platform runtime (libtavrionrt).
#pragma once

#include "media/contract/unknown.h"

enum CLSCTX : DWORD {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10,
  CLSCTX_INPROC = 0x3,
  CLSCTX_SERVER = 0x15,
  CLSCTX_ALL = 0x17,
};
enum COINIT : DWORD {
  COINIT_MULTITHREADED = 0x0,
  COINIT_APARTMENTTHREADED = 0x2,
};

HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD coinit);
void CoUninitialize();
HRESULT OleInitialize(void* reserved);
void OleUninitialize();

// Reads CLSID\{clsid}\InprocServer32 from the classes root, loads the library once and
// asks its DllGetClassObject. Class objects are cached per class.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsctx, void* reserved, REFIID riid, void** ppv);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, REFIID riid, void** ppv);
// Unloads libraries whose DllCanUnloadNow answers S_OK (dropping their cached class objects).
void CoFreeUnusedLibraries();
// Registers a class object for this process only (the lookup tries these first).
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD clsctx, DWORD flags, DWORD* cookie);
HRESULT CoRevokeClassObject(DWORD cookie);

template <typename T>
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, T** out) {
  return CoCreateInstance(clsid, outer, clsctx, TavIidOf<T>(), reinterpret_cast<void**>(out));
}

// Task allocator: memory handed across interfaces, freed by the receiver.
void* CoTaskMemAlloc(SIZE_T cb);
void* CoTaskMemRealloc(void* pv, SIZE_T cb);
void CoTaskMemFree(void* pv);

// BSTR: length-prefixed UTF-16 strings.
BSTR SysAllocString(const OLECHAR* s);
BSTR SysAllocStringLen(const OLECHAR* s, UINT len);
UINT SysStringLen(BSTR s);
void SysFreeString(BSTR s);

// "{XXXXXXXX-...}" in a caller buffer of at least 39 characters; returns the characters
// written including the terminator, 0 when the buffer is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR buf, int cchMax);
// Task-allocated text form of a class identifier.
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* out);
HRESULT StringFromIID(REFIID iid, LPOLESTR* out);
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID out);
HRESULT IIDFromString(LPCOLESTR text, LPGUID out);

// The entry points every component library exports.
using PFN_DllGetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
using PFN_DllCanUnloadNow = HRESULT (*)();
using PFN_DllRegisterServer = HRESULT (*)();
using PFN_DllUnregisterServer = HRESULT (*)();
