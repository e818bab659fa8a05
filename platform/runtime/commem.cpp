// Memory that crosses interfaces: the task allocator, BSTR strings, identifier text,
// variants and one-dimensional safe arrays.
#include <malloc.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "media/contract/com.h"
#include "media/contract/objidl.h"
#include "media/contract/registry.h"

// ---- task allocator ----

void* CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb ? cb : 1); }

void* CoTaskMemRealloc(void* pv, SIZE_T cb) {
  if (pv && cb == 0) {
    std::free(pv);
    return nullptr;
  }
  return std::realloc(pv, cb ? cb : 1);
}

void CoTaskMemFree(void* pv) { std::free(pv); }

namespace {

// The process's one task allocator object; its reference count does not matter.
class TaskAllocator final : public IMalloc {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMalloc) {
      *ppv = static_cast<IMalloc*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP_(void*) Alloc(SIZE_T cb) override { return CoTaskMemAlloc(cb); }
  STDMETHODIMP_(void*) Realloc(void* pv, SIZE_T cb) override { return CoTaskMemRealloc(pv, cb); }
  STDMETHODIMP_(void) Free(void* pv) override { CoTaskMemFree(pv); }
  STDMETHODIMP_(SIZE_T) GetSize(void* pv) override { return pv ? malloc_usable_size(pv) : static_cast<SIZE_T>(-1); }
  STDMETHODIMP_(int) DidAlloc(void* pv) override { return pv ? -1 : 0; }  // cannot tell
  STDMETHODIMP_(void) HeapMinimize() override {}
};

}  // namespace

HRESULT CoGetMalloc(DWORD, IMalloc** out) {
  if (!out) return E_POINTER;
  static TaskAllocator allocator;
  *out = &allocator;
  return S_OK;
}

// ---- BSTR: a 32-bit byte count, the characters, a terminator ----

BSTR SysAllocStringLen(const OLECHAR* s, UINT len) {
  if (len > (0x7FFFFFFFu - sizeof(UINT) - sizeof(OLECHAR)) / sizeof(OLECHAR)) return nullptr;
  const size_t bytes = static_cast<size_t>(len) * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(sizeof(UINT) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  const UINT byteCount = static_cast<UINT>(bytes);
  std::memcpy(block, &byteCount, sizeof byteCount);
  auto* text = reinterpret_cast<OLECHAR*>(block + sizeof(UINT));
  if (s) {
    std::memcpy(text, s, bytes);
  } else {
    std::memset(text, 0, bytes);
  }
  text[len] = 0;
  return text;
}

BSTR SysAllocString(const OLECHAR* s) {
  if (!s) return nullptr;
  return SysAllocStringLen(s, static_cast<UINT>(std::char_traits<OLECHAR>::length(s)));
}

UINT SysStringLen(BSTR s) {
  if (!s) return 0;
  UINT bytes;
  std::memcpy(&bytes, reinterpret_cast<unsigned char*>(s) - sizeof(UINT), sizeof bytes);
  return bytes / sizeof(OLECHAR);
}

void SysFreeString(BSTR s) {
  if (s) std::free(reinterpret_cast<unsigned char*>(s) - sizeof(UINT));
}

// ---- identifier text ----

int StringFromGUID2(REFGUID guid, LPOLESTR buf, int cchMax) {
  const std::u16string text = tav::GuidToWString(guid);
  if (!buf || cchMax < static_cast<int>(text.size() + 1)) return 0;
  std::memcpy(buf, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
  return static_cast<int>(text.size() + 1);
}

namespace {

HRESULT TaskString(const std::u16string& text, LPOLESTR* out) {
  auto* p = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (!p) return E_OUTOFMEMORY;
  std::memcpy(p, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
  *out = p;
  return S_OK;
}

bool BracedGuid(LPCOLESTR text, GUID* out) {
  const std::u16string_view t(text);
  return t.size() == 38 && t.front() == u'{' && t.back() == u'}' && tav::GuidFromString(t, out);
}

}  // namespace

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  return TaskString(tav::GuidToWString(clsid), out);
}

HRESULT StringFromIID(REFIID iid, LPOLESTR* out) { return StringFromCLSID(iid, out); }

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID out) {
  if (!out) return E_INVALIDARG;
  *out = CLSID_NULL;
  if (!text) return S_OK;
  if (BracedGuid(text, out)) return S_OK;
  // Not an identifier: a program name whose CLSID key names the class.
  std::string name;
  for (const OLECHAR* p = text; *p; ++p) {
    if (*p >= 0x80 || *p < 0x20 || *p == u'\\') return CO_E_CLASSSTRING;
    name += static_cast<char>(*p);
  }
  char buf[64];
  LONG cb = sizeof buf;
  if (name.empty() || RegQueryValue(HKEY_CLASSES_ROOT, (name + "\\CLSID").c_str(), buf, &cb) != ERROR_SUCCESS ||
      !tav::GuidFromString(std::string_view(buf), out)) {
    *out = CLSID_NULL;
    return CO_E_CLASSSTRING;
  }
  return S_OK;
}

HRESULT IIDFromString(LPCOLESTR text, LPGUID out) {
  if (!out) return E_INVALIDARG;
  *out = IID_NULL;
  if (!text) return S_OK;
  if (BracedGuid(text, out)) return S_OK;
  *out = IID_NULL;
  return E_INVALIDARG;
}

// ---- safe arrays (one dimension) ----

namespace {

constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;

// The element type travels in front of the descriptor, where callers do not look.
struct SafeArrayBlock {
  VARTYPE vt;
  SAFEARRAY sa;
};

SafeArrayBlock* BlockOf(SAFEARRAY* sa) {
  return reinterpret_cast<SafeArrayBlock*>(reinterpret_cast<char*>(sa) - offsetof(SafeArrayBlock, sa));
}

ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_UI1: return 1;
    case VT_I2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4: return 4;
    case VT_I8:
    case VT_UI8: return 8;
    case VT_BSTR:
    case VT_UNKNOWN: return sizeof(void*);
    default: return 0;
  }
}

}  // namespace

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lbound, ULONG elements) {
  const ULONG size = ElementSize(vt);
  if (!size || elements > 0x7FFFFFFFu / size) return nullptr;
  auto* block = static_cast<SafeArrayBlock*>(std::calloc(1, sizeof(SafeArrayBlock)));
  if (!block) return nullptr;
  void* data = std::calloc(elements ? elements : 1, size);
  if (!data) {
    std::free(block);
    return nullptr;
  }
  block->vt = vt;
  SAFEARRAY* sa = &block->sa;
  sa->cDims = 1;
  sa->fFeatures = FADF_HAVEVARTYPE | (vt == VT_BSTR ? FADF_BSTR : 0) | (vt == VT_UNKNOWN ? FADF_UNKNOWN : 0);
  sa->cbElements = size;
  sa->pvData = data;
  sa->rgsabound[0].cElements = elements;
  sa->rgsabound[0].lLbound = lbound;
  return sa;
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds) {
  if (dims != 1 || !bounds) return nullptr;  // only vectors are used here
  return SafeArrayCreateVector(vt, bounds[0].lLbound, bounds[0].cElements);
}

HRESULT SafeArrayDestroy(SAFEARRAY* sa) {
  if (!sa) return S_OK;
  if (sa->cLocks) return DISP_E_ARRAYISLOCKED;
  const ULONG n = sa->rgsabound[0].cElements;
  // Destroying the array is what frees its elements: the owners end here.
  if (sa->fFeatures & FADF_BSTR) {
    for (ULONG i = 0; i < n; ++i) SysFreeString(static_cast<BSTR*>(sa->pvData)[i]);
  } else if (sa->fFeatures & FADF_UNKNOWN) {
    for (ULONG i = 0; i < n; ++i) {
      if (IUnknown* u = static_cast<IUnknown**>(sa->pvData)[i]) u->Release();
    }
  }
  std::free(sa->pvData);
  std::free(BlockOf(sa));
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* sa, void** data) {
  if (!sa || !data) return E_INVALIDARG;
  ++sa->cLocks;
  *data = sa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* sa) {
  if (!sa) return E_INVALIDARG;
  if (sa->cLocks == 0) return E_UNEXPECTED;
  --sa->cLocks;
  return S_OK;
}

namespace {

HRESULT CopySafeArray(SAFEARRAY* src, SAFEARRAY** out) {
  *out = nullptr;
  if (!src) return S_OK;
  const VARTYPE vt = BlockOf(src)->vt;
  SAFEARRAY* copy = SafeArrayCreateVector(vt, src->rgsabound[0].lLbound, src->rgsabound[0].cElements);
  if (!copy) return E_OUTOFMEMORY;
  const ULONG n = src->rgsabound[0].cElements;
  if (vt == VT_BSTR) {
    for (ULONG i = 0; i < n; ++i) {
      BSTR s = static_cast<BSTR*>(src->pvData)[i];
      if (s && !(static_cast<BSTR*>(copy->pvData)[i] = SysAllocStringLen(s, SysStringLen(s)))) {
        SafeArrayDestroy(copy);
        return E_OUTOFMEMORY;
      }
    }
  } else {
    std::memcpy(copy->pvData, src->pvData, static_cast<size_t>(n) * src->cbElements);
    if (vt == VT_UNKNOWN) {
      for (ULONG i = 0; i < n; ++i) {
        if (IUnknown* u = static_cast<IUnknown**>(copy->pvData)[i]) u->AddRef();
      }
    }
  }
  *out = copy;
  return S_OK;
}

}  // namespace

// ---- variants ----

void VariantInit(VARIANT* v) {
  if (!v) return;
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  HRESULT hr = S_OK;
  // Clearing the variant is what frees what it holds: the owners end here.
  if (v->vt & VT_ARRAY) {
    hr = SafeArrayDestroy(v->parray);
    if (FAILED(hr)) return hr;
  } else if (v->vt == VT_BSTR) {
    SysFreeString(v->bstrVal);
  } else if (v->vt == VT_UNKNOWN) {
    if (v->punkVal) v->punkVal->Release();
  }
  VariantInit(v);
  return hr;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) {
  if (!dst || !src) return E_INVALIDARG;
  if (dst == src) return S_OK;
  VARIANT copy = *src;
  if (src->vt & VT_ARRAY) {
    if (FAILED(CopySafeArray(src->parray, &copy.parray))) return E_OUTOFMEMORY;
  } else if (src->vt == VT_BSTR) {
    if (src->bstrVal && !(copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal)))) {
      return E_OUTOFMEMORY;
    }
  } else if (src->vt == VT_UNKNOWN) {
    if (src->punkVal) src->punkVal->AddRef();
  }
  const HRESULT hr = VariantClear(dst);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *dst = copy;
  return S_OK;
}
