// CBaseVideoRenderer: the renderer base with the video side's bookkeeping: frames drawn
// and dropped, lateness against the clock, and quality messages to the upstream filter
// (IQualityControl). Frames are never dropped by default: a late frame is drawn at once.
#pragma once

#include "platform/streaming/base/renderer.h"

class CBaseVideoRenderer : public CBaseRenderer, public IQualityControl {
 public:
  CBaseVideoRenderer(REFCLSID clsid, LPCTSTR name, LPUNKNOWN outer, HRESULT* phr);
  ~CBaseVideoRenderer() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IQualityControl: messages from downstream (none for a renderer) and the sink for ours.
  STDMETHODIMP Notify(IBaseFilter* sender, Quality q) override;
  STDMETHODIMP SetSink(IQualityControl* sink) override;

  // A frame whose start time has already passed by more than the late limit is drawn
  // immediately instead of being scheduled.
  HRESULT ShouldDrawSampleNow(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  void OnRenderStart(IMediaSample* sample) override;
  void OnRenderEnd(IMediaSample* sample) override;
  HRESULT OnStartStreaming() override;
  HRESULT OnStopStreaming() override;

  // Statistics since streaming started.
  LONG FramesDrawn() const { return m_cFramesDrawn; }
  LONG FramesDropped() const { return m_cFramesDropped; }
  // Lateness of the last frame drawn (stream time when drawn - start time), 100-ns units.
  REFERENCE_TIME LastLateness() const { return m_trLate; }
  void ResetStreamingTimes();

 protected:
  // Sends a quality message to the sink or the upstream pin.
  HRESULT SendQuality(REFERENCE_TIME late, REFERENCE_TIME realStream);

  // Runtime, streaming thread (reset by OnStartStreaming)
  LONG m_cFramesDrawn = 0;
  LONG m_cFramesDropped = 0;
  REFERENCE_TIME m_trLate = 0;
  REFERENCE_TIME m_trRenderStart = 0;  // stream time when the last draw started
  IQualityControl* m_pQSink = nullptr;  // not counted
};
