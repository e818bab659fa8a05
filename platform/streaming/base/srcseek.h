// CSourceSeeking: IMediaSeeking for a source's output pin. It keeps start, stop, rate and
// duration in media time and calls ChangeStart / ChangeStop / ChangeRate when a seek
// changes them; the source then flushes and restarts its stream from the new start.
#pragma once

#include "platform/streaming/base/combase.h"
#include "platform/streaming/base/wxutil.h"

class CSourceSeeking : public CUnknown, public IMediaSeeking {
 public:
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // GetCurrentPosition answers E_NOTIMPL: the source does not know what has been presented
  // (the graph asks the renderers).
  DECLARE_IMEDIASEEKING_METHODS

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
