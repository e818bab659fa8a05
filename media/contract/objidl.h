// Monikers, bind contexts, the running object table, property bags and variants:
// the parts of the component model that filter enumeration and graph inspection use.
#pragma once

#include "media/contract/com.h"

TAV_DEFINE_GUID(IID_IPersist, 0x0000010C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TAV_DEFINE_GUID(IID_IMoniker, 0x0000000F, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TAV_DEFINE_GUID(IID_IBindCtx, 0x0000000E, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TAV_DEFINE_GUID(IID_IEnumMoniker, 0x00000102, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TAV_DEFINE_GUID(IID_IRunningObjectTable, 0x00000010, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TAV_DEFINE_GUID(IID_IPropertyBag, 0x55272A00, 0x42CB, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);
TAV_DEFINE_GUID(IID_IErrorLog, 0x3127CA40, 0x446E, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);
TAV_DEFINE_GUID(IID_IMalloc, 0x00000002, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// Variants: only the kinds property bags and filter data use.
using VARTYPE = WORD;
enum : VARTYPE {
  VT_EMPTY = 0,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_UNKNOWN = 13,
  VT_UI1 = 17,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_ARRAY = 0x2000,
};
struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};
// One-dimensional byte arrays are all that is needed ("FilterData").
struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};
using VARIANT_BOOL = SHORT;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;
struct VARIANT {
  VARTYPE vt;
  WORD reserved1, reserved2, reserved3;
  union {
    LONG lVal;
    ULONG ulVal;
    SHORT iVal;
    BYTE bVal;
    LONGLONG llVal;
    ULONGLONG ullVal;
    VARIANT_BOOL boolVal;
    BSTR bstrVal;
    IUnknown* punkVal;
    SAFEARRAY* parray;
  };
};
void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
HRESULT VariantCopy(VARIANT* dst, const VARIANT* src);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lbound, ULONG elements);
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds);
HRESULT SafeArrayDestroy(SAFEARRAY* sa);
HRESULT SafeArrayAccessData(SAFEARRAY* sa, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* sa);

struct IMalloc : IUnknown {
  STDMETHOD_(void*, Alloc)(SIZE_T cb) = 0;
  STDMETHOD_(void*, Realloc)(void* pv, SIZE_T cb) = 0;
  STDMETHOD_(void, Free)(void* pv) = 0;
  STDMETHOD_(SIZE_T, GetSize)(void* pv) = 0;
  STDMETHOD_(int, DidAlloc)(void* pv) = 0;
  STDMETHOD_(void, HeapMinimize)() = 0;
};
TAV_INTERFACE(IMalloc, IID_IMalloc);
HRESULT CoGetMalloc(DWORD context, IMalloc** out);

struct IPersist : IUnknown {
  STDMETHOD(GetClassID)(CLSID* clsid) = 0;
};
TAV_INTERFACE(IPersist, IID_IPersist);

struct IErrorLog : IUnknown {
  STDMETHOD(AddError)(LPCOLESTR prop, void* excepinfo) = 0;
};
TAV_INTERFACE(IErrorLog, IID_IErrorLog);

struct IPropertyBag : IUnknown {
  STDMETHOD(Read)(LPCOLESTR name, VARIANT* var, IErrorLog* log) = 0;
  STDMETHOD(Write)(LPCOLESTR name, VARIANT* var) = 0;
};
TAV_INTERFACE(IPropertyBag, IID_IPropertyBag);

struct IBindCtx : IUnknown {
  STDMETHOD(RegisterObjectBound)(IUnknown* obj) = 0;
  STDMETHOD(RevokeObjectBound)(IUnknown* obj) = 0;
  STDMETHOD(ReleaseBoundObjects)() = 0;
};
TAV_INTERFACE(IBindCtx, IID_IBindCtx);
HRESULT CreateBindCtx(DWORD reserved, IBindCtx** out);

// Monikers carry the operations filter enumeration and the object table use.
struct IMoniker : IPersist {
  STDMETHOD(BindToObject)(IBindCtx* bc, IMoniker* left, REFIID riid, void** ppv) = 0;
  STDMETHOD(BindToStorage)(IBindCtx* bc, IMoniker* left, REFIID riid, void** ppv) = 0;
  // Task-allocated display name.
  STDMETHOD(GetDisplayName)(IBindCtx* bc, IMoniker* left, LPOLESTR* name) = 0;
  STDMETHOD(IsEqual)(IMoniker* other) = 0;
};
TAV_INTERFACE(IMoniker, IID_IMoniker);
// An item moniker: delimiter + item name (display name "!FilterGraph ...").
HRESULT CreateItemMoniker(LPCOLESTR delimiter, LPCOLESTR item, IMoniker** out);

struct IEnumMoniker : TavEnumerator<IEnumMoniker, IMoniker*> {};
TAV_INTERFACE(IEnumMoniker, IID_IEnumMoniker);

constexpr DWORD ROTFLAGS_REGISTRATIONKEEPSALIVE = 0x1;
constexpr DWORD ROTFLAGS_ALLOWANYCLIENT = 0x2;
struct IRunningObjectTable : IUnknown {
  STDMETHOD(Register)(DWORD flags, IUnknown* obj, IMoniker* name, DWORD* cookie) = 0;
  STDMETHOD(Revoke)(DWORD cookie) = 0;
  STDMETHOD(IsRunning)(IMoniker* name) = 0;
  STDMETHOD(GetObject)(IMoniker* name, IUnknown** obj) = 0;
  STDMETHOD(EnumRunning)(IEnumMoniker** out) = 0;
};
TAV_INTERFACE(IRunningObjectTable, IID_IRunningObjectTable);
HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable** out);

// ---- streams and stream persistence ----------------------------------------------------------
// Byte streams that objects save their settings to (IPersistStream). STATSTG is only passed
// by pointer here.
TAV_DEFINE_GUID(IID_ISequentialStream, 0x0C733A30, 0x2A1C, 0x11CE, 0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D);
TAV_DEFINE_GUID(IID_IStream, 0x0000000C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TAV_DEFINE_GUID(IID_IPersistStream, 0x00000109, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

enum STREAM_SEEK : DWORD { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };
struct STATSTG;

struct ISequentialStream : IUnknown {
  STDMETHOD(Read)(void* buffer, ULONG bytes, ULONG* read) = 0;
  STDMETHOD(Write)(const void* buffer, ULONG bytes, ULONG* written) = 0;
};
TAV_INTERFACE(ISequentialStream, IID_ISequentialStream);

struct IStream : ISequentialStream {
  STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) = 0;
  STDMETHOD(SetSize)(ULARGE_INTEGER size) = 0;
  STDMETHOD(CopyTo)(IStream* target, ULARGE_INTEGER bytes, ULARGE_INTEGER* read, ULARGE_INTEGER* written) = 0;
  STDMETHOD(Commit)(DWORD flags) = 0;
  STDMETHOD(Revert)() = 0;
  STDMETHOD(LockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER bytes, DWORD lockType) = 0;
  STDMETHOD(UnlockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER bytes, DWORD lockType) = 0;
  STDMETHOD(Stat)(STATSTG* stat, DWORD flags) = 0;
  STDMETHOD(Clone)(IStream** out) = 0;
};
TAV_INTERFACE(IStream, IID_IStream);

struct IPersistStream : IPersist {
  // S_OK when changed since the last save, else S_FALSE.
  STDMETHOD(IsDirty)() = 0;
  STDMETHOD(Load)(IStream* stream) = 0;
  STDMETHOD(Save)(IStream* stream, BOOL clearDirty) = 0;
  STDMETHOD(GetSizeMax)(ULARGE_INTEGER* size) = 0;
};
TAV_INTERFACE(IPersistStream, IID_IPersistStream);
