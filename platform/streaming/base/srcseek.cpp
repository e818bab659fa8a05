#include "platform/streaming/base/srcseek.h"

#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kBase, "srcseek");

// ---- CMediaTimeSeeking -------------------------------------------------------------------

HRESULT CMediaTimeSeeking::CheckCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  DWORD have = 0;
  GetCapabilities(&have);
  const DWORD asked = *capabilities;
  *capabilities &= have;
  if (*capabilities == asked) return S_OK;
  return *capabilities ? S_FALSE : E_FAIL;
}

HRESULT CMediaTimeSeeking::IsFormatSupported(const GUID* format) {
  if (!format) return E_POINTER;
  return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT CMediaTimeSeeking::QueryPreferredFormat(GUID* format) {
  if (!format) return E_POINTER;
  *format = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

HRESULT CMediaTimeSeeking::GetTimeFormat(GUID* format) { return QueryPreferredFormat(format); }

HRESULT CMediaTimeSeeking::IsUsingTimeFormat(const GUID* format) { return IsFormatSupported(format); }

HRESULT CMediaTimeSeeking::SetTimeFormat(const GUID* format) {
  if (!format) return E_POINTER;
  return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT CMediaTimeSeeking::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                             const GUID* sourceFormat) {
  if (!target) return E_POINTER;
  const bool targetOk = !targetFormat || *targetFormat == TIME_FORMAT_MEDIA_TIME;
  const bool sourceOk = !sourceFormat || *sourceFormat == TIME_FORMAT_MEDIA_TIME;
  if (!targetOk || !sourceOk) return E_INVALIDARG;
  *target = source;
  return S_OK;
}

HRESULT CMediaTimeSeeking::GetPreroll(LONGLONG* preroll) {
  if (!preroll) return E_POINTER;
  *preroll = 0;
  return S_OK;
}

// ---- CSourceSeeking ----------------------------------------------------------------------

CSourceSeeking::CSourceSeeking(LPCTSTR name, LPUNKNOWN outer, HRESULT*, CCritSec* lock)
    : CUnknown(name, outer),
      m_rtDuration(REFERENCE_TIME(0)),
      m_rtStart(REFERENCE_TIME(0)),
      m_rtStop(MAX_TIME),
      m_dwSeekingCaps(AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanSeekAbsolute |
                      AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration),
      m_pLock(lock) {}

HRESULT CSourceSeeking::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CSourceSeeking::GetCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  *capabilities = m_dwSeekingCaps;
  return S_OK;
}

HRESULT CSourceSeeking::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  CAutoLock lock(m_pLock);
  *duration = m_rtDuration;
  return S_OK;
}

HRESULT CSourceSeeking::GetStopPosition(LONGLONG* stop) {
  if (!stop) return E_POINTER;
  CAutoLock lock(m_pLock);
  *stop = m_rtStop;
  return S_OK;
}

HRESULT CSourceSeeking::GetCurrentPosition(LONGLONG*) { return E_NOTIMPL; }

HRESULT CSourceSeeking::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  const DWORD startBits = currentFlags & AM_SEEKING_PositioningBitsMask;
  const DWORD stopBits = stopFlags & AM_SEEKING_PositioningBitsMask;
  if (startBits && !current) return E_POINTER;
  if (stopBits && !stop) return E_POINTER;
  if (startBits == AM_SEEKING_IncrementalPositioning) return E_INVALIDARG;

  bool startChanged = false, stopChanged = false;
  {
    CAutoLock lock(m_pLock);
    REFERENCE_TIME newStart = m_rtStart, newStop = m_rtStop;
    if (startBits == AM_SEEKING_AbsolutePositioning) newStart = *current;
    else if (startBits == AM_SEEKING_RelativePositioning) newStart = m_rtStart + *current;
    if (stopBits == AM_SEEKING_AbsolutePositioning) newStop = *stop;
    else if (stopBits == AM_SEEKING_IncrementalPositioning) newStop = newStart + *stop;
    else if (stopBits == AM_SEEKING_RelativePositioning) newStop = m_rtStop + *stop;
    if (newStart < 0) newStart = 0;
    TAV_TRACE("%p SetPositions start %lld stop %lld", static_cast<void*>(this), static_cast<long long>(newStart),
              static_cast<long long>(newStop));
    if (startBits) {
      m_rtStart = newStart;
      startChanged = true;
    }
    if (stopBits) {
      stopChanged = newStop != m_rtStop;
      m_rtStop = newStop;
    }
    if (startBits && (currentFlags & AM_SEEKING_ReturnTime)) *current = m_rtStart;
    if (stopBits && (stopFlags & AM_SEEKING_ReturnTime)) *stop = m_rtStop;
  }
  // A new start always restarts the stream (even at the same time: it is a seek).
  HRESULT hr = S_OK;
  if (stopChanged && !startChanged) hr = ChangeStop();
  if (startChanged) hr = ChangeStart();
  return hr;
}

HRESULT CSourceSeeking::GetPositions(LONGLONG* current, LONGLONG* stop) {
  CAutoLock lock(m_pLock);
  if (current) *current = m_rtStart;
  if (stop) *stop = m_rtStop;
  return S_OK;
}

HRESULT CSourceSeeking::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  CAutoLock lock(m_pLock);
  if (earliest) *earliest = 0;
  if (latest) *latest = m_rtDuration;
  return S_OK;
}

HRESULT CSourceSeeking::SetRate(double rate) {
  if (rate <= 0.0) return E_INVALIDARG;
  {
    CAutoLock lock(m_pLock);
    m_dRateSeeking = rate;
  }
  return ChangeRate();
}

HRESULT CSourceSeeking::GetRate(double* rate) {
  if (!rate) return E_POINTER;
  CAutoLock lock(m_pLock);
  *rate = m_dRateSeeking;
  return S_OK;
}
