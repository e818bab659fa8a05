#include "platform/streaming/base/posthru.h"

#include <new>

#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kBase, "posthru");

CPosPassThru::CPosPassThru(LPCTSTR name, LPUNKNOWN outer, HRESULT*, IPin* pin) : CUnknown(name, outer), m_pPin(pin) {}

CPosPassThru::~CPosPassThru() = default;

HRESULT CPosPassThru::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  if (riid == IID_IMediaPosition) return GetInterface(static_cast<IMediaPosition*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

namespace {

// The IMediaSeeking of the filter upstream of pin; E_NOTIMPL when there is no pin or the
// filter has none.
HRESULT PeerSeekingOf(IPin* pin, IMediaSeeking** seeking) {
  *seeking = nullptr;
  if (!pin) return E_NOTIMPL;
  ComPtr<IPin> peer;
  if (FAILED(pin->ConnectedTo(peer.ReleaseAndGetAddressOf())) || !peer) return VFW_E_NOT_CONNECTED;
  if (FAILED(peer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(seeking))) || !*seeking) {
    *seeking = nullptr;
    return E_NOTIMPL;
  }
  return S_OK;
}

// One call forwarded to that IMediaSeeking; a failed look-up is the call's answer.
template <class... Params, class... Args>
HRESULT AskPeer(IPin* pin, HRESULT (STDMETHODCALLTYPE IMediaSeeking::*method)(Params...), Args... args) {
  ComPtr<IMediaSeeking> peer;
  const HRESULT hr = PeerSeekingOf(pin, peer.ReleaseAndGetAddressOf());
  return FAILED(hr) ? hr : (peer.Get()->*method)(args...);
}

}  // namespace

HRESULT CPosPassThru::GetPeerSeeking(IMediaSeeking** seeking) { return PeerSeekingOf(m_pPin.load(), seeking); }

HRESULT CPosPassThru::GetCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  return AskPeer(Pin(), &IMediaSeeking::GetCapabilities, capabilities);
}
HRESULT CPosPassThru::CheckCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  return AskPeer(Pin(), &IMediaSeeking::CheckCapabilities, capabilities);
}
HRESULT CPosPassThru::IsFormatSupported(const GUID* format) {
  if (!format) return E_POINTER;
  return AskPeer(Pin(), &IMediaSeeking::IsFormatSupported, format);
}
HRESULT CPosPassThru::QueryPreferredFormat(GUID* format) {
  if (!format) return E_POINTER;
  return AskPeer(Pin(), &IMediaSeeking::QueryPreferredFormat, format);
}
HRESULT CPosPassThru::GetTimeFormat(GUID* format) {
  if (!format) return E_POINTER;
  return AskPeer(Pin(), &IMediaSeeking::GetTimeFormat, format);
}
HRESULT CPosPassThru::IsUsingTimeFormat(const GUID* format) {
  if (!format) return E_POINTER;
  return AskPeer(Pin(), &IMediaSeeking::IsUsingTimeFormat, format);
}
HRESULT CPosPassThru::SetTimeFormat(const GUID* format) {
  if (!format) return E_POINTER;
  return AskPeer(Pin(), &IMediaSeeking::SetTimeFormat, format);
}
HRESULT CPosPassThru::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  return AskPeer(Pin(), &IMediaSeeking::GetDuration, duration);
}
HRESULT CPosPassThru::GetStopPosition(LONGLONG* stop) {
  if (!stop) return E_POINTER;
  return AskPeer(Pin(), &IMediaSeeking::GetStopPosition, stop);
}
HRESULT CPosPassThru::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                        const GUID* sourceFormat) {
  if (!target) return E_POINTER;
  return AskPeer(Pin(), &IMediaSeeking::ConvertTimeFormat, target, targetFormat, source, sourceFormat);
}
HRESULT CPosPassThru::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  TAV_TRACE("%p SetPositions(%lld, 0x%x, %lld, 0x%x)", static_cast<void*>(this),
            static_cast<long long>(current ? *current : -1), unsigned(currentFlags),
            static_cast<long long>(stop ? *stop : -1), unsigned(stopFlags));
  return AskPeer(Pin(), &IMediaSeeking::SetPositions, current, currentFlags, stop, stopFlags);
}
HRESULT CPosPassThru::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  return AskPeer(Pin(), &IMediaSeeking::GetAvailable, earliest, latest);
}
HRESULT CPosPassThru::SetRate(double rate) {
  if (rate == 0.0) return E_INVALIDARG;
  return AskPeer(Pin(), &IMediaSeeking::SetRate, rate);
}
HRESULT CPosPassThru::GetRate(double* rate) {
  if (!rate) return E_POINTER;
  return AskPeer(Pin(), &IMediaSeeking::GetRate, rate);
}
HRESULT CPosPassThru::GetPreroll(LONGLONG* preroll) {
  if (!preroll) return E_POINTER;
  return AskPeer(Pin(), &IMediaSeeking::GetPreroll, preroll);
}

HRESULT CPosPassThru::GetCurrentPosition(LONGLONG* current) {
  if (!current) return E_POINTER;
  // Our own media time first (renderer form), the upstream filter's answer otherwise.
  LONGLONG end = 0;
  if (SUCCEEDED(GetMediaTime(current, &end))) return S_OK;
  return AskPeer(Pin(), &IMediaSeeking::GetCurrentPosition, current);
}

HRESULT CPosPassThru::GetPositions(LONGLONG* current, LONGLONG* stop) {
  ComPtr<IMediaSeeking> peer;
  const HRESULT hr = GetPeerSeeking(peer.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  LONGLONG end = 0;
  LONGLONG ownCurrent = 0;
  if (current && SUCCEEDED(GetMediaTime(&ownCurrent, &end))) {
    const HRESULT hr2 = peer->GetPositions(nullptr, stop);
    *current = ownCurrent;
    return hr2;
  }
  return peer->GetPositions(current, stop);
}

// ---- CRendererPosPassThru ----------------------------------------------------------------

CRendererPosPassThru::CRendererPosPassThru(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr, IPin* pin)
    : CPosPassThru(name, outer, phr, pin) {}

HRESULT CRendererPosPassThru::RegisterMediaTime(IMediaSample* sample, REFERENCE_TIME segmentStart) {
  if (!sample) return E_POINTER;
  REFERENCE_TIME start = 0, end = 0;
  const HRESULT hr = sample->GetTime(&start, &end);
  if (FAILED(hr)) return hr;
  return RegisterMediaTime(start + segmentStart, end + segmentStart);
}

HRESULT CRendererPosPassThru::RegisterMediaTime(LONGLONG start, LONGLONG end) {
  CAutoLock lock(&m_PositionLock);
  m_StartMedia = start;
  m_EndMedia = end;
  m_bReset = FALSE;
  return S_OK;
}

HRESULT CRendererPosPassThru::ResetMediaTime() {
  CAutoLock lock(&m_PositionLock);
  m_StartMedia = 0;
  m_EndMedia = 0;
  m_bReset = TRUE;
  return S_OK;
}

HRESULT CRendererPosPassThru::EOS() {
  LONGLONG stop = 0;
  HRESULT hr = S_OK;
  {
    CAutoLock lock(&m_PositionLock);
    if (m_bReset) return S_OK;
  }
  hr = GetStopPosition(&stop);
  CAutoLock lock(&m_PositionLock);
  if (SUCCEEDED(hr)) {
    m_StartMedia = m_EndMedia = stop;
  } else {
    // Without a stop position the stream ended where its last sample ended.
    m_StartMedia = m_EndMedia;
  }
  return S_OK;
}

HRESULT CRendererPosPassThru::GetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (!start) return E_POINTER;
  CAutoLock lock(&m_PositionLock);
  if (m_bReset) return E_FAIL;
  *start = m_StartMedia;
  if (end) *end = m_EndMedia;
  return S_OK;
}

HRESULT CreatePosPassThru(LPUNKNOWN outer, BOOL renderer, IPin* pin, IUnknown** passThru) {
  if (!passThru) return E_POINTER;
  *passThru = nullptr;
  HRESULT hr = S_OK;
  CPosPassThru* object = renderer
      ? new (std::nothrow) CRendererPosPassThru(NAME("renderer position pass-through"), outer, &hr, pin)
      : new (std::nothrow) CPosPassThru(NAME("position pass-through"), outer, &hr, pin);
  if (!object) return E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete object;  // not counted yet: nothing else holds it
    return hr;
  }
  *passThru = object->GetInnerUnknown();
  object->NonDelegatingAddRef();
  return S_OK;
}
