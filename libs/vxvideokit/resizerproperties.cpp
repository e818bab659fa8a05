#include "libs/vxvideokit/resizerproperties.h"

#include <cwctype>
#include <mutex>
#include <new>

#include "media/contract/comptr.h"
#include "media/contract/memoryowners.h"
#include "media/contract/strmif.h"
#include "platform/streaming/base/basefilter.h"

namespace {

// Guards g_instance and the hand-over between the last release and the next creation.
std::mutex g_instanceLock;
CResizerProperties* g_instance = nullptr;  // guarded by g_instanceLock; holds no reference

// Filter graphs have no cycles, but a broken one must not overflow the stack.
constexpr int kMaxUpstreamDepth = 256;

char16_t FoldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return char16_t(c - u'A' + u'a');
  if (c < 0x80 || (c >= 0xD800 && c <= 0xDFFF)) return c;
  return char16_t(std::towlower(wint_t(c)));
}

bool EqualNoCase(LPCWSTR a, const std::u16string& b) {
  size_t i = 0;
  for (; a[i] && i < b.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return !a[i] && i == b.size();
}

HRESULT FindFrom(IBaseFilter* filter, int depth, IFileSourceFilter** source) {
  if (depth > kMaxUpstreamDepth) return S_FALSE;
  ComPtr<IFileSourceFilter> file;
  if (SUCCEEDED(filter->QueryInterface(IID_IFileSourceFilter, file.AsVoidOut())) && file) {
    *source = file.Detach();
    return S_OK;
  }
  ComPtr<IEnumPins> pins;
  HRESULT hr = filter->EnumPins(&pins);
  if (FAILED(hr)) return hr;
  if (!pins) return E_UNEXPECTED;
  for (;;) {
    ComPtr<IPin> pin;
    hr = pins->Next(1, &pin, nullptr);
    if (FAILED(hr)) return hr;
    if (hr != S_OK || !pin) return S_FALSE;
    PIN_DIRECTION dir;
    hr = pin->QueryDirection(&dir);
    if (FAILED(hr)) return hr;
    if (dir != PINDIR_INPUT) continue;
    ComPtr<IPin> peer;
    hr = pin->ConnectedTo(&peer);
    if (hr == VFW_E_NOT_CONNECTED) continue;
    if (FAILED(hr)) return hr;
    if (!peer) continue;
    PIN_INFO info{};
    hr = peer->QueryPinInfo(&info);
    if (FAILED(hr)) return hr;
    ComPtr<IBaseFilter> owner = ComPtr<IBaseFilter>::Adopt(info.pFilter);
    if (!owner) continue;
    hr = FindFrom(owner.Get(), depth + 1, source);
    if (hr != S_FALSE) return hr;  // found, or failed
  }
}

}  // namespace

HRESULT FindUpstreamSource(IBaseFilter* filter, IFileSourceFilter** source) {
  if (!filter || !source) return E_POINTER;
  *source = nullptr;
  return FindFrom(filter, 0, source);
}

// ---- the single instance -------------------------------------------------------------------

CResizerProperties::CResizerProperties() : CUnknown(NAME("VXCMN Resizer Properties"), nullptr) {}

CResizerProperties::~CResizerProperties() = default;

CUnknown* CResizerProperties::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  if (outer) {
    if (phr) *phr = CLASS_E_NOAGGREGATION;
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(g_instanceLock);
  if (!g_instance) g_instance = new (std::nothrow) CResizerProperties();
  if (phr) *phr = g_instance ? S_OK : E_OUTOFMEMORY;
  // The class factory adds the caller's reference. (Creating the class on one thread while
  // another drops the last reference is not supported: the registry is single-threaded.)
  return g_instance;
}

HRESULT CResizerProperties::Acquire(IInterlaceModeRegistry** registry) {
  if (!registry) return E_POINTER;
  *registry = nullptr;
  std::lock_guard<std::mutex> lock(g_instanceLock);
  if (!g_instance) g_instance = new (std::nothrow) CResizerProperties();
  if (!g_instance) return E_OUTOFMEMORY;
  g_instance->NonDelegatingAddRef();
  *registry = static_cast<IInterlaceModeRegistry*>(g_instance);
  return S_OK;
}

ULONG CResizerProperties::NonDelegatingRelease() {
  {
    std::lock_guard<std::mutex> lock(g_instanceLock);
    const LONG ref = __atomic_sub_fetch(&m_cRef, 1, __ATOMIC_SEQ_CST);
    if (ref != 0) return ULONG(ref);
    if (g_instance == this) g_instance = nullptr;
    m_cRef = 1;  // a destructor that takes and drops a reference must not delete twice
  }
  delete this;  // the last reference owns the object
  return 0;
}

HRESULT CResizerProperties::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IInterlaceModeRegistry) return GetInterface(static_cast<IInterlaceModeRegistry*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

// ---- IInterlaceModeRegistry ----------------------------------------------------------------

HRESULT CResizerProperties::Clear() {
  std::lock_guard<std::mutex> lock(m_entriesLock);
  m_entries.clear();
  return S_OK;
}

HRESULT CResizerProperties::SetMode(LPCWSTR file, REFERENCE_TIME start, REFERENCE_TIME stop, int fieldMode,
                                    int prepassType) {
  if (!file) return E_INVALIDARG;
  std::lock_guard<std::mutex> lock(m_entriesLock);
  for (Entry& e : m_entries) {
    if (e.start == start && e.stop == stop && EqualNoCase(file, e.file)) {
      e.fieldMode = fieldMode;
      e.prepassType = prepassType;
      return S_OK;
    }
  }
  try {
    m_entries.push_back({std::u16string(file), start, stop, fieldMode, prepassType});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CResizerProperties::IsEmpty(BOOL* empty) {
  if (!empty) return E_POINTER;
  std::lock_guard<std::mutex> lock(m_entriesLock);
  *empty = m_entries.empty() ? TRUE : FALSE;
  return S_OK;
}

HRESULT CResizerProperties::Lookup(LPCWSTR file, REFERENCE_TIME time, int* fieldMode, int* prepassType) {
  if (!file) return E_INVALIDARG;
  if (!fieldMode || !prepassType) return E_POINTER;
  *fieldMode = 0;
  *prepassType = 0;
  std::lock_guard<std::mutex> lock(m_entriesLock);
  for (const Entry& e : m_entries) {
    const bool wholeFile = e.start == -1 && e.stop == -1;
    if (!wholeFile && (time < e.start || time > e.stop)) continue;
    if (!EqualNoCase(file, e.file)) continue;
    *fieldMode = e.fieldMode;
    *prepassType = e.prepassType;
    return S_OK;
  }
  return S_FALSE;
}

HRESULT CResizerProperties::LookupByFilter(IBaseFilter* filter, REFERENCE_TIME time, int* fieldMode,
                                           int* prepassType) {
  if (!filter) return E_POINTER;
  if (!fieldMode || !prepassType) return E_POINTER;
  tav::TaskMemPtr<OLECHAR> name;
  const HRESULT hr = GetSourceFileName(filter, name.Out());
  if (FAILED(hr)) return hr;
  if (!name) {
    // No source file upstream: no entry can apply.
    *fieldMode = 0;
    *prepassType = 0;
    return S_FALSE;
  }
  return Lookup(name.Get(), time, fieldMode, prepassType);
}

HRESULT CResizerProperties::GetSourceFileName(IBaseFilter* filter, LPOLESTR* name) {
  if (!filter || !name) return E_POINTER;
  *name = nullptr;
  ComPtr<IFileSourceFilter> source;
  const HRESULT hr = FindUpstreamSource(filter, &source);
  if (hr != S_OK) return hr;
  LPOLESTR file = nullptr;
  const HRESULT got = source->GetCurFile(&file, nullptr);
  if (FAILED(got)) return got;
  if (!file) return S_FALSE;  // a source with no file loaded
  *name = file;
  return S_OK;
}
