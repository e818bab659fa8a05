// CBaseRenderer: a filter with one input pin that presents each sample at its time on the
// reference clock (immediately without a clock), reports EC_COMPLETE once the stream has
// ended and the last sample was presented, and completes Pause only once a sample has
// arrived (until then GetState answers VFW_S_STATE_INTERMEDIATE).
//
// Lock order: m_InterfaceLock (the filter lock: state changes, connection, flushing) before
// m_RendererLock (the pending sample, end-of-stream and scheduling state). The streaming
// thread waits for the presentation time holding neither.
//
// Events:
//   m_evComplete  manual reset. Set when the state change is complete (a sample arrived,
//                 end of stream, or not paused); reset when Pause waits for data. GetState
//                 waits on it.
//   m_RenderEvent auto reset. Set by the clock's advise (or directly without a clock) when
//                 the pending sample is due; the streaming thread waits on it.
//   m_ThreadSignal auto reset. Set by Stop and BeginFlush to release the streaming thread
//                 from its wait; reset when waiting is allowed again (Pause, Run, EndFlush).
#pragma once

#include <atomic>
#include <memory>

#include "platform/streaming/base/basefilter.h"
#include "platform/streaming/base/posthru.h"
#include "platform/streaming/base/streampins.h"

class CBaseRenderer;

class CRendererInputPin : public CBaseInputPin {
 public:
  CRendererInputPin(CBaseRenderer* renderer, HRESULT* phr, LPCWSTR pinName);

  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP QueryId(LPWSTR* id) override;

  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT SetMediaType(const CMediaType* mt) override;
  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT Active() override;
  HRESULT Inactive() override;

  IMemAllocator* Allocator() const { return m_pAllocator.Get(); }

 protected:
  CBaseRenderer* m_pRenderer;
};

class CBaseRenderer : public CBaseFilter {
 public:
  CBaseRenderer(REFCLSID clsid, LPCTSTR name, LPUNKNOWN outer, HRESULT* phr);
  ~CBaseRenderer() override;

  // IMediaSeeking / IMediaPosition through the renderer position pass-through.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  virtual HRESULT GetMediaPositionInterface(REFIID riid, void** ppv);

  STDMETHODIMP Stop() override;
  // S_FALSE while waiting for the first sample.
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  // Waits up to timeoutMs for a pending Pause; VFW_S_STATE_INTERMEDIATE on time-out.
  STDMETHODIMP GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;

  int GetPinCount() override { return 1; }
  // Makes the input pin ("In") on first request; override to make one of your own.
  CBasePin* GetPin(int n) override;

  // Negotiation and connection hooks.
  virtual HRESULT CheckMediaType(const CMediaType* mt) = 0;
  virtual HRESULT SetMediaType(const CMediaType* mt) { return S_OK; }
  virtual HRESULT CompleteConnect(IPin* receivePin);
  virtual HRESULT BreakConnect();

  // Presentation
  virtual HRESULT DoRenderSample(IMediaSample* sample) = 0;
  virtual void OnReceiveFirstSample(IMediaSample* sample) {}
  virtual void OnRenderStart(IMediaSample* sample) {}
  virtual void OnRenderEnd(IMediaSample* sample) {}
  virtual HRESULT OnStartStreaming() { return S_OK; }
  virtual HRESULT OnStopStreaming() { return S_OK; }
  virtual void OnWaitStart() {}
  virtual void OnWaitEnd() {}
  virtual void PrepareRender() {}
  // S_OK: draw now; S_FALSE: schedule at the sample's time; an error drops the sample.
  virtual HRESULT ShouldDrawSampleNow(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME* end) {
    return S_FALSE;
  }
  virtual HRESULT GetSampleTimes(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME* end);
  // Sets the render event now or through a clock advise; FALSE when it cannot.
  virtual BOOL ScheduleSample(IMediaSample* sample);
  virtual HRESULT Render(IMediaSample* sample);

  // Streaming, called by the input pin.
  virtual HRESULT Receive(IMediaSample* sample);
  virtual HRESULT PrepareReceive(IMediaSample* sample);
  virtual HRESULT WaitForRenderTime();
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();
  virtual HRESULT Active() { return S_OK; }
  virtual HRESULT Inactive();
  virtual HRESULT StartStreaming();
  virtual HRESULT StopStreaming();

  // End of stream: EC_COMPLETE once the stream ended and nothing waits to be presented.
  virtual HRESULT SendEndOfStream();
  HRESULT NotifyEndOfStream();
  HRESULT ResetEndOfStream();
  BOOL IsEndOfStream() const { return m_bEOS; }
  BOOL IsEndOfStreamDelivered() const { return m_bEOSDelivered; }
  BOOL IsStreaming() const { return m_bStreaming; }

  // The sample waiting to be presented (or kept for repainting while paused), with a
  // reference; null when there is none.
  virtual IMediaSample* GetCurrentSample();
  BOOL HaveCurrentSample();
  void ClearPendingSample();
  HRESULT CancelNotification();
  void Ready() { m_evComplete.Set(); }
  void NotReady() { m_evComplete.Reset(); }
  BOOL CheckReady() { return WaitForSingleObject(m_evComplete, 0) == WAIT_OBJECT_0; }
  HRESULT CompleteStateChange(FILTER_STATE oldState);
  void SetRepaintStatus(BOOL repaint);
  void SendRepaint();
  void SetAbortSignal(BOOL abort) { m_bAbort = abort; }
  // Allows (TRUE) or breaks (FALSE) the streaming thread's wait for presentation.
  void SourceThreadCanWait(BOOL canWait);
  CRendererInputPin* InputPinObject() const { return m_pInputPin.get(); }
  CRendererPosPassThru* Position() const { return m_pPosition; }

  // The filter lock.
  CCritSec m_InterfaceLock;
  // Guards the pending sample and the streaming flags below.
  CCritSec m_RendererLock;

 protected:
  friend class CRendererInputPin;
  // Blocks until the streaming thread has left Receive (Stop and BeginFlush, after breaking
  // its wait with the thread signal).
  void WaitForReceiveToComplete();
  // Called by the streaming thread on its way out of Receive; wakes WaitForReceiveToComplete.
  void LeaveReceive();

  CAMEvent m_evComplete{TRUE};
  CAMEvent m_RenderEvent{FALSE};
  CAMEvent m_ThreadSignal{FALSE};

  // Made on first request, deleted with the filter (a pin's count is its filter's).
  std::unique_ptr<CRendererInputPin> m_pInputPin;
  CRendererPosPassThru* m_pPosition = nullptr;  // kept alive by m_pPositionInner
  ComPtr<IUnknown> m_pPositionInner;            // the pass-through's inner unknown

  // Guarded by m_RendererLock
  ComPtr<IMediaSample> m_pMediaSample;     // the pending sample
  BOOL m_bStreaming = FALSE;               // running: samples are scheduled
  BOOL m_bEOS = FALSE;                     // end of stream received
  BOOL m_bEOSDelivered = FALSE;            // EC_COMPLETE sent
  BOOL m_bAbort = FALSE;                   // a streaming error stopped rendering
  BOOL m_bRepaintStatus = TRUE;            // EC_REPAINT may be sent
  DWORD_PTR m_dwAdvise = 0;                // clock advise cookie
  REFERENCE_TIME m_SignalTime = 0;         // end time of the last sample
  std::atomic<bool> m_bInReceive{false};   // the streaming thread is inside Receive
  // The filter state when PrepareReceive took the sample (streaming thread only).
  FILTER_STATE m_stateAtReceive = State_Stopped;
};
