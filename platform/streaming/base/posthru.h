// Position pass-through: IMediaSeeking and IMediaPosition of a filter that cannot seek
// by itself, forwarded to the filter upstream of one of its input pins. The renderer
// form (CRendererPosPassThru) also remembers the media time of the last sample the
// renderer handled, and answers the current position from it.
#pragma once

#include <atomic>

#include "media/contract/positionseconds.h"
#include "platform/streaming/base/combase.h"
#include "platform/streaming/base/wxutil.h"

class CPosPassThru : public CUnknown, public IMediaSeeking, public MediaPositionThroughSeeking<CPosPassThru> {
 public:
  // pin: the input pin whose upstream peer gets the calls (not counted; it belongs to the
  // filter that owns this object).
  CPosPassThru(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr, IPin* pin);
  ~CPosPassThru() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IMediaSeeking
  DECLARE_IMEDIASEEKING_METHODS

  // IMediaPosition (seconds) comes from MediaPositionThroughSeeking, through the calls above.

  // The renderer form answers these; the plain form has no media time of its own.
  virtual HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) { return E_FAIL; }
  HRESULT ForceRefresh() { return S_OK; }
  // The pin may be bound after construction (null until then: every call E_NOTIMPL).
  void SetPin(IPin* pin) { m_pPin.store(pin); }
  IPin* Pin() const { return m_pPin.load(); }

 protected:
  // The upstream filter's IMediaSeeking; E_NOTIMPL when not connected or it has none.
  HRESULT GetPeerSeeking(IMediaSeeking** seeking);

  std::atomic<IPin*> m_pPin;  // not counted
};

class CRendererPosPassThru : public CPosPassThru {
 public:
  CRendererPosPassThru(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr, IPin* pin);

  // Remembers the sample's times, moved by the segment start (so positions are media
  // times after a seek).
  HRESULT RegisterMediaTime(IMediaSample* sample, REFERENCE_TIME segmentStart = 0);
  HRESULT RegisterMediaTime(LONGLONG start, LONGLONG end);
  // Forgets the media time (after a flush or a stop).
  HRESULT ResetMediaTime();
  // At end of stream the position is the stop position.
  HRESULT EOS();
  HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) override;

 private:
  // Guards the media times: the streaming thread writes, the application reads.
  CCritSec m_PositionLock;
  LONGLONG m_StartMedia = 0;  // guarded by m_PositionLock
  LONGLONG m_EndMedia = 0;    // guarded by m_PositionLock
  BOOL m_bReset = TRUE;       // guarded by m_PositionLock
};

// Makes a pass-through (renderer form when renderer is TRUE) aggregated by outer and
// returns its inner unknown with one reference.
HRESULT CreatePosPassThru(LPUNKNOWN outer, BOOL renderer, IPin* pin, IUnknown** passThru);
