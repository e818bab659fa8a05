// CTransformFilter: one input pin ("XForm In"), one output pin ("XForm Out"), and a
// Transform from an input sample into a fresh output sample. Filters override the
// negotiation (CheckInputType, CheckTransform, GetMediaType, DecideBufferSize), the
// connection hooks (CheckConnect, CompleteConnect, SetMediaType, BreakConnect) and the
// streaming hooks (Receive, Transform, StartStreaming, StopStreaming, NewSegment,
// EndOfStream, flushing, AlterQuality). GetPin may be overridden to make pins of the
// filter's own classes (created on first request).
//
// Lock order: m_csFilter (state, connections) before m_csReceive (the streaming thread,
// held through Receive / EndOfStream) before any allocator lock. Stop decommits the input
// allocator first, so an upstream thread blocked in GetBuffer returns, then takes
// m_csReceive to wait for the sample in progress.
#pragma once

#include <memory>

#include "platform/streaming/base/basefilter.h"
#include "platform/streaming/base/posthru.h"
#include "platform/streaming/base/streampins.h"

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
 public:
  CTransformInputPin(LPCTSTR objectName, CTransformFilter* filter, HRESULT* phr, LPCWSTR pinName);

  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  // CheckInputType, then CheckTransform against a connected output.
  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT SetMediaType(const CMediaType* mt) override;
  // VFW_E_NOT_CONNECTED while the output is unconnected.
  HRESULT CheckStreaming() override;

  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

 protected:
  CTransformFilter* m_pTransformFilter;
};

class CTransformOutputPin : public CBaseOutputPin {
 public:
  CTransformOutputPin(LPCTSTR objectName, CTransformFilter* filter, HRESULT* phr, LPCWSTR pinName);

  // IMediaSeeking / IMediaPosition: a pass-through to the upstream pin, made on first use.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override;
  // CheckTransform from the input's type; E_INVALIDARG before the input is connected.
  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT SetMediaType(const CMediaType* mt) override;
  // The filter's GetMediaType once the input is connected.
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  // Quality messages: AlterQuality, else passed upstream.
  STDMETHODIMP Notify(IBaseFilter* sender, Quality q) override;

 protected:
  CTransformFilter* m_pTransformFilter;
  // The pass-through, made with the pin so that answering IMediaSeeking takes no lock
  // (renderers ask for it from streaming threads). Its inner unknown is owned.
  CPosPassThru* m_pPositionObject = nullptr;
  ComPtr<IUnknown> m_pPosition;
};

class CTransformFilter : public CBaseFilter {
 public:
  CTransformFilter(LPCTSTR name, LPUNKNOWN outer, REFCLSID clsid);
  ~CTransformFilter() override;

  int GetPinCount() override { return 2; }
  // Makes both pins on first request.
  CBasePin* GetPin(int n) override;

  // For GetPin overrides with pins of their own: on first request makes the input pin and
  // then the output pin through the two factories (each sets the HRESULT it is given); when
  // either fails neither is kept and the next request tries again. Returns pin n.
  template <class MakeInput, class MakeOutput>
  CBasePin* MakePins(int n, MakeInput makeInput, MakeOutput makeOutput) {
    if (!m_pInput) {
      HRESULT hr = S_OK;
      m_pInput.reset(makeInput(&hr));
      if (m_pInput && SUCCEEDED(hr)) m_pOutput.reset(makeOutput(&hr));
      if (!m_pOutput || FAILED(hr)) {
        m_pInput.reset();
        m_pOutput.reset();
      }
    }
    if (n == 0) return m_pInput.get();
    if (n == 1) return m_pOutput.get();
    return nullptr;
  }
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;

  // Negotiation
  virtual HRESULT CheckInputType(const CMediaType* mtIn) = 0;
  virtual HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) = 0;
  virtual HRESULT GetMediaType(int position, CMediaType* mt) = 0;
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) = 0;
  virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* mt) { return S_OK; }
  virtual HRESULT CheckConnect(PIN_DIRECTION dir, IPin* pin) { return S_OK; }
  virtual HRESULT BreakConnect(PIN_DIRECTION dir) { return S_OK; }
  virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* receivePin) { return S_OK; }

  // Streaming
  // S_OK delivers the output sample, S_FALSE drops it (and reports a quality change once).
  virtual HRESULT Transform(IMediaSample* in, IMediaSample* out) { return E_UNEXPECTED; }
  virtual HRESULT StartStreaming() { return S_OK; }
  virtual HRESULT StopStreaming() { return S_OK; }
  // S_FALSE passes the message upstream.
  virtual HRESULT AlterQuality(Quality q) { return S_FALSE; }
  virtual HRESULT Receive(IMediaSample* sample);
  // Gets an output buffer and copies the input sample's times and flags into it.
  HRESULT InitializeOutputSample(IMediaSample* sample, IMediaSample** outSample);
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();
  virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  CTransformInputPin* InputPinObject() const { return m_pInput.get(); }
  CTransformOutputPin* OutputPinObject() const { return m_pOutput.get(); }

 protected:
  friend class CTransformInputPin;
  friend class CTransformOutputPin;

  // An empty output buffer for the sample being received, asked for with its times and
  // with flags saying whether the previous sample was dropped and whether this one is a
  // sync point. E_UNEXPECTED when the allocator hands out nothing.
  HRESULT GetOutputBuffer(IMediaSample** out);
  // Acts on a successful Transform result for out: S_OK delivers it, S_FALSE drops it
  // (reporting a quality change once per Pause) and answers S_OK; other codes come back.
  HRESULT DeliverTransformed(IMediaSample* out, HRESULT transformed);
  // Copies the media times of from, when it has them, to to.
  static void CopyMediaTime(IMediaSample* from, IMediaSample* to);

  // Runtime, guarded by m_csReceive
  BOOL m_bEOSDelivered = FALSE;    // end of stream sent while the input was unconnected
  BOOL m_bSampleSkipped = FALSE;   // the last sample was dropped
  BOOL m_bQualityChanged = FALSE;  // EC_QUALITY_CHANGE sent since the last Pause

  // The filter lock (state, connections).
  CCritSec m_csFilter;
  // Held by the streaming thread while it processes a sample or end of stream.
  CCritSec m_csReceive;

  // Made by GetPin, deleted with the filter (a pin's count is its filter's).
  std::unique_ptr<CTransformInputPin> m_pInput;
  std::unique_ptr<CTransformOutputPin> m_pOutput;
};
