// CSourceSeeking: IMediaSeeking for a source's output pin. It keeps start, stop, rate and
// duration in media time and calls ChangeStart / ChangeStop / ChangeRate when a seek
// changes them; the source then flushes and restarts its stream from the new start.
#pragma once

#include "platform/streaming/base/combase.h"
#include "platform/streaming/base/wxutil.h"

// The IMediaSeeking methods of an object that seeks in media time only and has no preroll:
// the time-format questions, conversion (only from media time to media time) and
// CheckCapabilities against GetCapabilities. The positions are the object's own.
class CMediaTimeSeeking : public IMediaSeeking {
 public:
  STDMETHODIMP CheckCapabilities(DWORD* capabilities) override;
  STDMETHODIMP IsFormatSupported(const GUID* format) override;
  STDMETHODIMP QueryPreferredFormat(GUID* format) override;
  STDMETHODIMP GetTimeFormat(GUID* format) override;
  STDMETHODIMP IsUsingTimeFormat(const GUID* format) override;
  STDMETHODIMP SetTimeFormat(const GUID* format) override;
  STDMETHODIMP ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                 const GUID* sourceFormat) override;
  STDMETHODIMP GetPreroll(LONGLONG* preroll) override;

 protected:
  ~CMediaTimeSeeking() = default;
};

class CSourceSeeking : public CUnknown, public CMediaTimeSeeking {
 public:
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // GetCurrentPosition answers E_NOTIMPL: the source does not know what has been presented
  // (the graph asks the renderers).
  DECLARE_IMEDIASEEKING_POSITION_METHODS

 protected:
  // lock: guards the positions (m_pLock); the change callbacks are called with it released.
  CSourceSeeking(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr, CCritSec* lock);

  virtual HRESULT ChangeStart() = 0;
  virtual HRESULT ChangeStop() = 0;
  virtual HRESULT ChangeRate() = 0;

  // Guarded by m_pLock
  CRefTime m_rtDuration;
  CRefTime m_rtStart;
  CRefTime m_rtStop;
  double m_dRateSeeking = 1.0;
  // Configuration: Absolute | Forwards | Backwards | GetStopPos | GetDuration by default.
  DWORD m_dwSeekingCaps;
  CCritSec* m_pLock;
};
