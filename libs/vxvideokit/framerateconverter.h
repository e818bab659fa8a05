// "VXCMN Frame Rate Converter": an in-place filter that turns video of any frame rate into
// a fixed rate by dropping frames, delivering frames again and rewriting time stamps. No
// pixel is touched: a dropped frame costs nothing and a repeated frame is the same sample
// delivered again.
//
// Because the filter works in place, both sides carry the same type except for the frame
// period: types offered downstream have it rewritten to 1 / target rate, and a table maps
// each rewritten type back to the upstream type it came from.
//
// Lock order: 1. m_csFilter  2. m_csClock  3. m_csTypes. Nothing is delivered downstream
// while m_csClock is held.
#pragma once

#include <atomic>
#include <utility>
#include <vector>

#include "libs/vxvideokit/filterfactory.h"
#include "libs/vxvideokit/frameclock.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "platform/streaming/base/dllsetup.h"
#include "platform/streaming/base/transip.h"

class CFrameRateConverter : public CTransInPlaceFilter, public IFrameRateControl {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  CBasePin* GetPin(int n) override;
  HRESULT CheckInputType(const CMediaType* in) override;
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override { return S_OK; }
  HRESULT CompleteConnect(PIN_DIRECTION dir, IPin* receivePin) override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  HRESULT Transform(IMediaSample* sample) override;

  // IFrameRateControl
  STDMETHODIMP GetFrameRate(double* fps) override;
  STDMETHODIMP SetFrameRate(double fps) override;

  // The upstream type with its frame period set for the target rate (a copy when the rate
  // is 0 or the type has no video header). With `record`, the pair joins the table.
  CMediaType RewriteType(const AM_MEDIA_TYPE& upstream, bool record);
  // The upstream type a rewritten type came from; the type itself when it is not in the table.
  CMediaType UpstreamTypeOf(const AM_MEDIA_TYPE& type);

 private:
  CFrameRateConverter(LPUNKNOWN outer, HRESULT* phr);
  friend CUnknown* vxvk::CreateFilterInstance<CFrameRateConverter>(LPUNKNOWN, HRESULT*);

  // Configuration: a double store, read at every sample.
  std::atomic<double> m_targetRate{30.0};
  // Guards m_clock: NewSegment (filter lock held) and Transform (streaming thread).
  CCritSec m_csClock;
  vxvk::FrameClock m_clock;  // guarded by m_csClock
  // The pictures placed so far: each delivery carries its picture's number as its media time
  // (start n, stop n + 1), so that a repeat is known downstream. Streaming thread.
  LONGLONG m_pictures = 0;
  // Guards m_typeTable: types are enumerated and checked during connections from either side.
  CCritSec m_csTypes;
  std::vector<std::pair<CMediaType, CMediaType>> m_typeTable;  // (upstream, rewritten); guarded by m_csTypes
  // Set while CompleteConnect reconnects the other pin (connections run on one thread).
  bool m_bReconnecting = false;
};

extern const AMOVIESETUP_FILTER sudFrameRateConverter;
