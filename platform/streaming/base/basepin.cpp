#include "platform/streaming/base/basepin.h"

#include <cstring>
#include <new>

#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kBase, "basepin");

namespace {
// Failures that only say "this type was not taken"; anything else is worth reporting.
bool IsPlainRefusal(HRESULT hr) {
  return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED || hr == VFW_E_NO_ACCEPTABLE_TYPES;
}
}  // namespace

CBasePin::CBasePin(LPCTSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT*, LPCWSTR pinName,
                   PIN_DIRECTION dir)
    : CUnknown(objectName, nullptr), m_pName(nullptr), m_dir(dir), m_pFilter(filter), m_pLock(lock) {
  const size_t n = WideLength(pinName) + 1;
  m_pName = new WCHAR[n];
  if (pinName)
    std::memcpy(m_pName, pinName, n * sizeof(WCHAR));
  else
    m_pName[0] = 0;
}

// m_pName is the raw WCHAR* the base classes publish to derived pins; the pin owns it.
CBasePin::~CBasePin() { delete[] m_pName; }

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), ppv);
  if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

// A pin has no count of its own: a reference to it is one to its filter, which deletes it.
ULONG CBasePin::NonDelegatingAddRef() { return m_pFilter->AddRef(); }
ULONG CBasePin::NonDelegatingRelease() { return m_pFilter->Release(); }

// ---- connection ---------------------------------------------------------------------------

HRESULT CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
  if (!receivePin) return E_POINTER;
  CAutoLock lock(m_pLock);
  TAV_TRACE("%p Connect(%p)", static_cast<void*>(this), static_cast<void*>(receivePin));
  if (m_Connected) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
  if (mt) {
    CMediaType partial(*mt);
    return AgreeMediaType(receivePin, &partial);
  }
  return AgreeMediaType(receivePin, nullptr);
}

HRESULT CBasePin::AgreeMediaType(IPin* receivePin, const CMediaType* partial) {
  // A fully specified type is tried on its own.
  if (partial && !partial->IsPartiallySpecified()) return AttemptConnection(receivePin, partial);

  HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
  for (int pass = 0; pass < 2; ++pass) {
    const bool useOwn = (pass == 0) == bool(m_bTryMyTypesFirst);
    ComPtr<IEnumMediaTypes> types;
    HRESULT hr = useOwn ? EnumMediaTypes(types.ReleaseAndGetAddressOf())
                        : receivePin->EnumMediaTypes(types.ReleaseAndGetAddressOf());
    if (FAILED(hr) || !types) continue;
    hr = TryMediaTypes(receivePin, partial, types.Get());
    if (SUCCEEDED(hr)) return S_OK;
    if (!IsPlainRefusal(hr)) failure = hr;
  }
  return failure;
}

HRESULT CBasePin::TryMediaTypes(IPin* receivePin, const CMediaType* partial, IEnumMediaTypes* types) {
  HRESULT failure = S_OK;
  types->Reset();
  for (;;) {
    tav::MediaTypePtr raw;
    ULONG fetched = 0;
    if (types->Next(1, raw.Out(), &fetched) != S_OK || fetched != 1 || !raw) break;
    CMediaType candidate(*raw.Get());
    if (partial && !candidate.MatchesPartial(partial)) continue;
    const HRESULT hr = AttemptConnection(receivePin, &candidate);
    if (SUCCEEDED(hr)) return hr;
    // Keep the first failure that says more than "not this type".
    if (failure == S_OK || (IsPlainRefusal(failure) && !IsPlainRefusal(hr))) failure = hr;
  }
  return failure == S_OK ? VFW_E_NO_ACCEPTABLE_TYPES : failure;
}

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const CMediaType* mt) {
  HRESULT hr = CheckConnect(receivePin);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(mt);
  if (hr == S_OK) {
    m_Connected = receivePin;
    hr = SetMediaType(mt);
    if (SUCCEEDED(hr)) {
      hr = receivePin->ReceiveConnection(this, mt);
      if (SUCCEEDED(hr)) {
        hr = CompleteConnect(receivePin);
        if (SUCCEEDED(hr)) return hr;
        receivePin->Disconnect();
      }
    }
  } else if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) {
    hr = VFW_E_TYPE_NOT_ACCEPTED;
  }
  m_Connected = nullptr;
  BreakConnect();
  return hr;
}

HRESULT CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
  if (!connector || !mt) return E_POINTER;
  CAutoLock lock(m_pLock);
  TAV_TRACE("%p ReceiveConnection(%p)", static_cast<void*>(this), static_cast<void*>(connector));
  if (m_Connected) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
  HRESULT hr = CheckConnect(connector);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  CMediaType type(*mt);
  hr = CheckMediaType(&type);
  if (hr != S_OK) {
    BreakConnect();
    if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) hr = VFW_E_TYPE_NOT_ACCEPTED;
    return hr;
  }
  m_Connected = connector;
  hr = SetMediaType(&type);
  if (SUCCEEDED(hr)) {
    hr = CompleteConnect(connector);
    if (SUCCEEDED(hr)) return S_OK;
  }
  m_Connected = nullptr;
  BreakConnect();
  return hr;
}

HRESULT CBasePin::Disconnect() {
  CAutoLock lock(m_pLock);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
  CAutoLock lock(m_pLock);
  if (!m_Connected) return S_FALSE;
  const HRESULT hr = BreakConnect();
  if (FAILED(hr)) return hr;
  m_Connected = nullptr;
  return S_OK;
}

// No lock, as IsConnected and GetConnected: the peer changes only while the graph is
// stopped, and the seeking pass-through asks for it from a streaming thread at the end of
// the stream while that thread holds the renderer's lock; taking the filter's lock here
// ordered the two locks against Pause and the connection calls, which take them the other
// way round (ThreadSanitizer reported the cycle).
HRESULT CBasePin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  m_Connected.CopyTo(pin);
  return *pin ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (!m_Connected) {
    std::memset(mt, 0, sizeof *mt);
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(mt, &m_mt);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = m_pFilter;
  m_pFilter->AddRef();
  CopyWideString(info->achName, MAX_PIN_NAME, m_pName);
  info->dir = m_dir;
  return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* dir) {
  if (!dir) return E_POINTER;
  *dir = m_dir;
  return S_OK;
}

HRESULT CBasePin::QueryId(LPWSTR* id) { return AMGetWideString(m_pName, id); }

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  CMediaType type(*mt);
  const HRESULT hr = CheckMediaType(&type);
  return hr == S_OK ? S_OK : S_FALSE;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** out) {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) CEnumMediaTypes(this, nullptr);
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT CBasePin::EndOfStream() { return S_OK; }

HRESULT CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  m_tStart = start;
  m_tStop = stop;
  m_dRate = rate;
  return S_OK;
}

HRESULT CBasePin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

HRESULT CBasePin::SetSink(IQualityControl* sink) {
  CAutoLock lock(m_pLock);
  m_pQSink = sink;
  return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  return m_mt.Set(*mt);
}

HRESULT CBasePin::CheckConnect(IPin* pin) {
  if (!pin) return E_POINTER;
  PIN_DIRECTION dir;
  const HRESULT hr = pin->QueryDirection(&dir);
  if (FAILED(hr)) return hr;
  if (dir == m_dir) return VFW_E_INVALID_DIRECTION;
  return S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }

HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }

HRESULT CBasePin::GetMediaType(int, CMediaType*) { return E_UNEXPECTED; }

HRESULT CBasePin::Inactive() {
  m_bRunTimeError = FALSE;
  return S_OK;
}

// ---- CEnumMediaTypes ---------------------------------------------------------------------

HRESULT CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  const HRESULT checked = CheckNext(types, count, fetched);
  if (checked != S_OK) return checked;
  ULONG n = 0;
  while (n < count) {
    CMediaType mt;
    if (m_pOwner->GetMediaType(m_Position, &mt) != S_OK) break;
    ++m_Position;
    types[n] = CreateMediaType(&mt);
    if (!types[n]) break;
    ++n;
  }
  if (fetched) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT CEnumMediaTypes::Skip(ULONG count) {
  if (!InSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  while (count > 0) {
    CMediaType mt;
    if (m_pOwner->GetMediaType(m_Position, &mt) != S_OK) return S_FALSE;
    ++m_Position;
    --count;
  }
  return S_OK;
}
