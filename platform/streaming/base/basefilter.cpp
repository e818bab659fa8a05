#include "platform/streaming/base/basefilter.h"

#include <cstring>
#include <new>

#include "media/contract/trace.h"
#include "platform/streaming/base/basepin.h"

TAV_TRACE_SOURCE(kBase, "basefilter");

size_t WideLength(LPCWSTR s) {
  size_t n = 0;
  if (s)
    while (s[n]) ++n;
  return n;
}

int WideCompare(LPCWSTR a, LPCWSTR b) {
  if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
  while (*a && *a == *b) ++a, ++b;
  return int(*a) - int(*b);
}

void CopyWideString(WCHAR* dst, size_t dstChars, LPCWSTR src) {
  if (!dst || dstChars == 0) return;
  size_t n = std::min(WideLength(src), dstChars - 1);
  if (n) std::memcpy(dst, src, n * sizeof(WCHAR));
  dst[n] = 0;
}

HRESULT AMGetWideString(LPCWSTR src, LPWSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const size_t n = WideLength(src) + 1;
  *out = static_cast<LPWSTR>(CoTaskMemAlloc(n * sizeof(WCHAR)));
  if (!*out) return E_OUTOFMEMORY;
  if (src)
    std::memcpy(*out, src, n * sizeof(WCHAR));
  else
    (*out)[0] = 0;
  return S_OK;
}

// ---- CBaseFilter -------------------------------------------------------------------------

CBaseFilter::CBaseFilter(LPCTSTR name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid)
    : CUnknown(name, outer), m_clsid(clsid), m_pLock(lock) {}

CBaseFilter::CBaseFilter(LPCTSTR name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid, HRESULT*)
    : CBaseFilter(name, outer, lock, clsid) {}

// m_pName is the raw WCHAR* the base classes publish to derived filters; the filter owns it.
CBaseFilter::~CBaseFilter() { delete[] m_pName; }

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IBaseFilter) return GetInterface(static_cast<IBaseFilter*>(this), ppv);
  if (riid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), ppv);
  if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = m_clsid;
  return S_OK;
}

HRESULT CBaseFilter::Stop() {
  CAutoLock lock(m_pLock);
  TAV_TRACE("%p Stop (state %d)", static_cast<void*>(this), int(m_State));
  HRESULT hr = S_OK;
  if (m_State != State_Stopped) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (!pin || !pin->IsConnected()) continue;
      const HRESULT one = pin->Inactive();
      if (FAILED(one) && SUCCEEDED(hr)) hr = one;
    }
  }
  m_State = State_Stopped;
  return hr;
}

HRESULT CBaseFilter::Pause() {
  CAutoLock lock(m_pLock);
  TAV_TRACE("%p Pause (state %d)", static_cast<void*>(this), int(m_State));
  if (m_State == State_Stopped) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (!pin || !pin->IsConnected()) continue;
      const HRESULT hr = pin->Active();
      if (FAILED(hr)) return hr;
    }
  }
  m_State = State_Paused;
  return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME start) {
  CAutoLock lock(m_pLock);
  TAV_TRACE("%p Run(%lld) (state %d)", static_cast<void*>(this), static_cast<long long>(start), int(m_State));
  m_tStart = start;
  if (m_State == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  if (m_State != State_Running) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (!pin || !pin->IsConnected()) continue;
      const HRESULT hr = pin->Run(start);
      if (FAILED(hr)) return hr;
    }
  }
  m_State = State_Running;
  return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = m_State;
  return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* clock) {
  CAutoLock lock(m_pLock);
  m_pClock = clock;
  return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  CAutoLock lock(m_pLock);
  return m_pClock.CopyTo(clock);
}

HRESULT CBaseFilter::StreamTime(CRefTime& time) {
  CAutoLock lock(m_pLock);
  if (!m_pClock) return VFW_E_NO_CLOCK;
  REFERENCE_TIME now = 0;
  const HRESULT hr = m_pClock->GetTime(&now);
  if (FAILED(hr)) return hr;
  time = now - m_tStart;
  return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** out) {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) CEnumPins(this, nullptr);
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = nullptr;
  if (!id) return E_POINTER;
  CAutoLock lock(m_pLock);
  const int count = GetPinCount();
  for (int i = 0; i < count; ++i) {
    CBasePin* p = GetPin(i);
    if (p && WideCompare(p->Name(), id) == 0) {
      *pin = p;
      p->AddRef();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  CAutoLock lock(m_pLock);
  CopyWideString(info->achName, MAX_FILTER_NAME, m_pName);
  info->pGraph = m_pGraph;
  if (m_pGraph) m_pGraph->AddRef();
  return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  CAutoLock lock(m_pLock);
  TAV_TRACE("%p JoinFilterGraph(%p)", static_cast<void*>(this), static_cast<void*>(graph));
  m_pGraph = graph;
  m_pSink = nullptr;
  if (graph) {
    // Weak pointer: the graph owns this filter and outlives its membership.
    ComPtr<IMediaEventSink> sink;
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, sink.AsVoidOut()))) m_pSink = sink.Get();
  }
  delete[] m_pName;  // the published raw name (see the destructor)
  m_pName = nullptr;
  if (name) {
    const size_t n = WideLength(name) + 1;
    m_pName = new (std::nothrow) WCHAR[n];
    if (!m_pName) return E_OUTOFMEMORY;
    std::memcpy(m_pName, name, n * sizeof(WCHAR));
  }
  return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR* info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT CBaseFilter::NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
  IMediaEventSink* sink = m_pSink;
  if (!sink) return E_NOTIMPL;
  if (code == EC_COMPLETE) param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  return sink->Notify(code, param1, param2);
}

HRESULT CBaseFilter::ReconnectPin(IPin* pin, const AM_MEDIA_TYPE* mt) {
  IFilterGraph* graph = m_pGraph;
  if (!graph) return VFW_E_NOT_IN_GRAPH;
  ComPtr<IFilterGraph2> graph2;
  if (SUCCEEDED(graph->QueryInterface(IID_IFilterGraph2, graph2.AsVoidOut())) && graph2)
    return graph2->ReconnectEx(pin, mt);
  return mt ? E_NOINTERFACE : graph->Reconnect(pin);
}

// ---- CEnumPins ---------------------------------------------------------------------------

HRESULT CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched) {
  const HRESULT checked = CheckNext(pins, count, fetched);
  if (checked != S_OK) return checked;
  ULONG n = 0;
  CAutoLock lock(m_pOwner->FilterLock());
  const int total = m_pOwner->GetPinCount();
  while (n < count && m_Position < total) {
    CBasePin* pin = m_pOwner->GetPin(m_Position++);
    if (!pin) break;
    pins[n] = pin;
    pin->AddRef();
    ++n;
  }
  if (fetched) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT CEnumPins::Skip(ULONG count) {
  if (!InSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  const int total = m_pOwner->GetPinCount();
  if (LONGLONG(m_Position) + count > total) {
    m_Position = total;
    return S_FALSE;
  }
  m_Position += int(count);
  return S_OK;
}
