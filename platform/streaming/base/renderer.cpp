#include "platform/streaming/base/renderer.h"

#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kBase, "renderer");

// ---- CRendererInputPin -------------------------------------------------------------------

CRendererInputPin::CRendererInputPin(CBaseRenderer* renderer, HRESULT* phr, LPCWSTR pinName)
    : CBaseInputPin(NAME("renderer input pin"), renderer, &renderer->m_InterfaceLock, phr, pinName),
      m_pRenderer(renderer) {}

HRESULT CRendererInputPin::EndOfStream() {
  CAutoLock interfaceLock(&m_pRenderer->m_InterfaceLock);
  CAutoLock sampleLock(&m_pRenderer->m_RendererLock);
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  hr = m_pRenderer->EndOfStream();
  if (SUCCEEDED(hr)) hr = CBaseInputPin::EndOfStream();
  return hr;
}

HRESULT CRendererInputPin::BeginFlush() {
  CAutoLock interfaceLock(&m_pRenderer->m_InterfaceLock);
  {
    CAutoLock sampleLock(&m_pRenderer->m_RendererLock);
    CBaseInputPin::BeginFlush();
    m_pRenderer->BeginFlush();
  }
  return m_pRenderer->ResetEndOfStream();
}

HRESULT CRendererInputPin::EndFlush() {
  CAutoLock interfaceLock(&m_pRenderer->m_InterfaceLock);
  CAutoLock sampleLock(&m_pRenderer->m_RendererLock);
  HRESULT hr = m_pRenderer->EndFlush();
  if (SUCCEEDED(hr)) hr = CBaseInputPin::EndFlush();
  return hr;
}

HRESULT CRendererInputPin::Receive(IMediaSample* sample) {
  const HRESULT hr = m_pRenderer->Receive(sample);
  if (FAILED(hr)) {
    // A failure the upstream filter cannot know about ends the stream with an error.
    CAutoLock interfaceLock(&m_pRenderer->m_InterfaceLock);
    if (!IsStopped() && !IsFlushing() && !m_pRenderer->m_bAbort && !m_bRunTimeError) {
      m_pRenderer->NotifyEvent(EC_ERRORABORT, hr, 0);
      {
        CAutoLock sampleLock(&m_pRenderer->m_RendererLock);
        if (m_pRenderer->IsStreaming() && !m_pRenderer->IsEndOfStreamDelivered()) m_pRenderer->NotifyEndOfStream();
      }
      m_bRunTimeError = TRUE;
    }
  }
  return hr;
}

HRESULT CRendererInputPin::QueryId(LPWSTR* id) { return AMGetWideString(u"In", id); }

HRESULT CRendererInputPin::BreakConnect() {
  const HRESULT hr = m_pRenderer->BreakConnect();
  if (FAILED(hr)) return hr;
  return CBaseInputPin::BreakConnect();
}

HRESULT CRendererInputPin::CompleteConnect(IPin* receivePin) {
  const HRESULT hr = m_pRenderer->CompleteConnect(receivePin);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CRendererInputPin::SetMediaType(const CMediaType* mt) {
  const HRESULT hr = CBaseInputPin::SetMediaType(mt);
  if (FAILED(hr)) return hr;
  return m_pRenderer->SetMediaType(mt);
}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* mt) { return m_pRenderer->CheckMediaType(mt); }

HRESULT CRendererInputPin::Active() { return m_pRenderer->Active(); }

HRESULT CRendererInputPin::Inactive() {
  m_bRunTimeError = FALSE;
  m_bFlushing = FALSE;
  return m_pRenderer->Inactive();
}

// ---- CBaseRenderer -----------------------------------------------------------------------

CBaseRenderer::CBaseRenderer(REFCLSID clsid, LPCTSTR name, LPUNKNOWN outer, HRESULT* phr)
    : CBaseFilter(name, outer, &m_InterfaceLock, clsid) {
  Ready();
}

CBaseRenderer::~CBaseRenderer() {
  StopStreaming();
  ClearPendingSample();
}

HRESULT CBaseRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaPosition || riid == IID_IMediaSeeking) return GetMediaPositionInterface(riid, ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseRenderer::GetMediaPositionInterface(REFIID riid, void** ppv) {
  CAutoLock lock(&m_InterfaceLock);
  if (!m_pPosition) {
    CBasePin* pin = GetPin(0);
    if (!pin) return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    std::unique_ptr<CRendererPosPassThru> position(
        new (std::nothrow) CRendererPosPassThru(NAME("renderer position"), GetOwner(), &hr, pin));
    if (!position) return E_OUTOFMEMORY;
    if (FAILED(hr)) return hr;
    m_pPosition = position.get();
    // From here the inner reference keeps the pass-through.
    m_pPositionInner = position.release()->GetInnerUnknown();
  }
  return m_pPositionInner->QueryInterface(riid, ppv);
}

CBasePin* CBaseRenderer::GetPin(int n) {
  CAutoLock lock(&m_InterfaceLock);
  if (n != 0) return nullptr;
  if (!m_pInputPin) {
    HRESULT hr = S_OK;
    m_pInputPin.reset(new (std::nothrow) CRendererInputPin(this, &hr, u"In"));
    if (FAILED(hr)) m_pInputPin.reset();
  }
  return m_pInputPin.get();
}

HRESULT CBaseRenderer::FindPin(LPCWSTR id, IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = nullptr;
  if (id && WideCompare(id, u"In") == 0) {
    CBasePin* p = GetPin(0);
    if (!p) return VFW_E_NOT_FOUND;
    *pin = p;
    p->AddRef();
    return S_OK;
  }
  return CBaseFilter::FindPin(id, pin);
}

HRESULT CBaseRenderer::CompleteConnect(IPin*) {
  SetRepaintStatus(TRUE);
  m_bAbort = FALSE;
  return S_OK;
}

HRESULT CBaseRenderer::BreakConnect() {
  if (m_pPosition) m_pPosition->ResetMediaTime();
  ClearPendingSample();
  return S_OK;
}

// ---- state -------------------------------------------------------------------------------

void CBaseRenderer::SourceThreadCanWait(BOOL canWait) {
  if (canWait)
    m_ThreadSignal.Reset();
  else
    m_ThreadSignal.Set();
}

void CBaseRenderer::WaitForReceiveToComplete() {
  // The streaming thread leaves Receive promptly once the thread signal is set.
  m_bInReceive.wait(true);
}

void CBaseRenderer::LeaveReceive() {
  m_bInReceive.store(false);
  m_bInReceive.notify_all();
}

HRESULT CBaseRenderer::Stop() {
  CAutoLock lock(&m_InterfaceLock);
  TAV_TRACE("%p Stop (state %d)", static_cast<void*>(this), int(m_State));
  if (m_State == State_Stopped) return S_OK;
  if (!m_pInputPin || !m_pInputPin->IsConnected()) {
    m_State = State_Stopped;
    return S_OK;
  }
  CBaseFilter::Stop();
  // Releases a source thread blocked in GetBuffer.
  if (m_pInputPin->Allocator()) m_pInputPin->Allocator()->Decommit();
  SetRepaintStatus(TRUE);
  StopStreaming();
  SourceThreadCanWait(FALSE);
  ResetEndOfStream();
  CancelNotification();
  Ready();
  WaitForReceiveToComplete();
  m_bAbort = FALSE;
  return S_OK;
}

HRESULT CBaseRenderer::Pause() {
  CAutoLock lock(&m_InterfaceLock);
  TAV_TRACE("%p Pause (state %d)", static_cast<void*>(this), int(m_State));
  const FILTER_STATE oldState = m_State;
  if (m_State == State_Paused) return CompleteStateChange(State_Paused);
  if (!m_pInputPin || !m_pInputPin->IsConnected()) {
    m_State = State_Paused;
    return CompleteStateChange(State_Paused);
  }
  HRESULT hr = CBaseFilter::Pause();
  if (FAILED(hr)) return hr;
  SetRepaintStatus(TRUE);
  StopStreaming();
  SourceThreadCanWait(TRUE);
  CancelNotification();
  if (m_pInputPin->Allocator()) m_pInputPin->Allocator()->Commit();
  if (oldState == State_Stopped) {
    m_bAbort = FALSE;
    ClearPendingSample();
  }
  return CompleteStateChange(oldState);
}

HRESULT CBaseRenderer::Run(REFERENCE_TIME start) {
  CAutoLock lock(&m_InterfaceLock);
  TAV_TRACE("%p Run(%lld) (state %d)", static_cast<void*>(this), static_cast<long long>(start), int(m_State));
  const FILTER_STATE oldState = m_State;
  if (m_State == State_Running) return S_OK;
  if (!m_pInputPin || !m_pInputPin->IsConnected()) {
    // Nothing will ever arrive: the stream is complete.
    NotifyEvent(EC_COMPLETE, S_OK, 0);
    m_State = State_Running;
    return S_OK;
  }
  Ready();
  HRESULT hr = CBaseFilter::Run(start);
  if (FAILED(hr)) return hr;
  SourceThreadCanWait(TRUE);
  SetRepaintStatus(FALSE);
  if (m_pInputPin->Allocator()) m_pInputPin->Allocator()->Commit();
  if (oldState == State_Stopped) {
    m_bAbort = FALSE;
    ClearPendingSample();
  }
  return StartStreaming();
}

HRESULT CBaseRenderer::GetState(DWORD timeoutMs, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  if (WaitForSingleObject(m_evComplete, timeoutMs) == WAIT_TIMEOUT) {
    *state = m_State;
    return VFW_S_STATE_INTERMEDIATE;
  }
  *state = m_State;
  return S_OK;
}

HRESULT CBaseRenderer::CompleteStateChange(FILTER_STATE oldState) {
  if (!m_pInputPin || !m_pInputPin->IsConnected()) {
    Ready();
    return S_OK;
  }
  if (IsEndOfStream()) {
    Ready();
    return S_OK;
  }
  if (HaveCurrentSample() && oldState != State_Stopped) {
    Ready();
    return S_OK;
  }
  NotReady();
  return S_FALSE;
}

HRESULT CBaseRenderer::Inactive() {
  if (m_pPosition) m_pPosition->ResetMediaTime();
  ClearPendingSample();
  return S_OK;
}

HRESULT CBaseRenderer::StartStreaming() {
  CAutoLock lock(&m_RendererLock);
  if (m_bStreaming) return S_OK;
  m_bStreaming = TRUE;
  OnStartStreaming();
  // An end of stream that came while paused is reported now.
  if (!m_pMediaSample) return SendEndOfStream();
  if (!ScheduleSample(m_pMediaSample.Get())) m_RenderEvent.Set();
  return S_OK;
}

HRESULT CBaseRenderer::StopStreaming() {
  CAutoLock lock(&m_RendererLock);
  if (m_bStreaming) {
    m_bStreaming = FALSE;
    OnStopStreaming();
  }
  return S_OK;
}

// ---- streaming ---------------------------------------------------------------------------

HRESULT CBaseRenderer::GetSampleTimes(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME* end) {
  if (SUCCEEDED(sample->GetTime(start, end))) {
    if (*end < *start) return VFW_E_START_TIME_AFTER_END;
  } else {
    // A sample without times is presented at once.
    return S_OK;
  }
  if (!m_pClock) return S_OK;
  return ShouldDrawSampleNow(sample, start, end);
}

BOOL CBaseRenderer::ScheduleSample(IMediaSample* sample) {
  if (!sample) return FALSE;
  REFERENCE_TIME start = 0, end = 0;
  HRESULT hr = GetSampleTimes(sample, &start, &end);
  if (FAILED(hr)) return FALSE;
  if (hr == S_OK) {
    m_RenderEvent.Set();
    return TRUE;
  }
  hr = m_pClock->AdviseTime(m_tStart, start, reinterpret_cast<HEVENT>(m_RenderEvent.Handle()), &m_dwAdvise);
  if (SUCCEEDED(hr)) return TRUE;
  m_dwAdvise = 0;
  return FALSE;
}

HRESULT CBaseRenderer::CancelNotification() {
  CAutoLock lock(&m_RendererLock);
  const DWORD_PTR advise = m_dwAdvise;
  if (advise) {
    m_pClock->Unadvise(advise);
    m_dwAdvise = 0;
  }
  m_RenderEvent.Reset();
  return advise ? S_OK : S_FALSE;
}

HRESULT CBaseRenderer::PrepareReceive(IMediaSample* sample) {
  CAutoLock interfaceLock(&m_InterfaceLock);
  m_bInReceive = true;
  HRESULT hr = m_pInputPin->CBaseInputPin::Receive(sample);
  if (hr != S_OK) {
    LeaveReceive();
    return E_FAIL;
  }
  // A format change travels with the sample; only one sample is ever in here.
  if (AM_MEDIA_TYPE* newType = m_pInputPin->SampleProps()->pMediaType) {
    CMediaType type(*newType);
    hr = m_pInputPin->SetMediaType(&type);
    if (FAILED(hr)) {
      LeaveReceive();
      return hr;
    }
  }
  // The state this sample arrived in, read under the lock for Receive.
  m_stateAtReceive = m_State;
  CAutoLock sampleLock(&m_RendererLock);
  if (m_pMediaSample || m_bEOS || m_bAbort) {
    Ready();
    LeaveReceive();
    return E_UNEXPECTED;
  }
  if (m_pPosition) m_pPosition->RegisterMediaTime(sample, m_pInputPin->CurrentStartTime());
  if (m_bStreaming && !ScheduleSample(sample)) {
    LeaveReceive();
    return VFW_E_SAMPLE_REJECTED;
  }
  m_SignalTime = m_pInputPin->SampleProps()->tStop;
  m_pMediaSample = sample;
  if (!m_bStreaming) SetRepaintStatus(TRUE);
  return S_OK;
}

HRESULT CBaseRenderer::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  HRESULT hr = PrepareReceive(sample);
  if (FAILED(hr)) {
    // A sample that cannot be scheduled (bad time stamps) is dropped quietly.
    if (hr == VFW_E_SAMPLE_REJECTED) return S_OK;
    return hr;
  }

  if (m_stateAtReceive == State_Paused) {
    PrepareRender();
    LeaveReceive();
    {
      CAutoLock interfaceLock(&m_InterfaceLock);
      if (m_State == State_Stopped) return S_OK;
      m_bInReceive = true;
      CAutoLock sampleLock(&m_RendererLock);
      OnReceiveFirstSample(sample);
    }
    // The pause is complete: the first sample is here.
    Ready();
  }

  hr = WaitForRenderTime();
  if (FAILED(hr)) {
    LeaveReceive();
    return S_OK;
  }
  PrepareRender();
  LeaveReceive();

  CAutoLock interfaceLock(&m_InterfaceLock);
  if (m_State == State_Stopped) return S_OK;
  CAutoLock sampleLock(&m_RendererLock);
  Render(m_pMediaSample.Get());
  ClearPendingSample();
  SendEndOfStream();
  CancelNotification();
  return S_OK;
}

HRESULT CBaseRenderer::WaitForRenderTime() {
  const HANDLE handles[2] = {m_ThreadSignal.Handle(), m_RenderEvent.Handle()};
  OnWaitStart();
  DWORD result = WAIT_TIMEOUT;
  while (result == WAIT_TIMEOUT) result = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  OnWaitEnd();
  if (result != WAIT_OBJECT_0 + 1) return VFW_E_STATE_CHANGED;
  return S_OK;
}

HRESULT CBaseRenderer::Render(IMediaSample* sample) {
  if (!sample) return S_FALSE;
  if (!m_bStreaming) return S_FALSE;
  OnRenderStart(sample);
  DoRenderSample(sample);
  OnRenderEnd(sample);
  return S_OK;
}

HRESULT CBaseRenderer::EndOfStream() {
  if (m_State == State_Stopped) return S_OK;
  m_bEOS = TRUE;
  // The pending sample is presented first; its Receive reports the end afterwards.
  if (m_pMediaSample) return S_OK;
  Ready();
  // While paused (for example after a seek) completion waits until we run.
  if (m_bStreaming) SendEndOfStream();
  return S_OK;
}

HRESULT CBaseRenderer::BeginFlush() {
  if (m_State == State_Paused) NotReady();
  SourceThreadCanWait(FALSE);
  CancelNotification();
  ClearPendingSample();
  WaitForReceiveToComplete();
  return S_OK;
}

HRESULT CBaseRenderer::EndFlush() {
  if (m_pPosition) m_pPosition->ResetMediaTime();
  SourceThreadCanWait(TRUE);
  return S_OK;
}

HRESULT CBaseRenderer::SendEndOfStream() {
  if (!m_bEOS || m_bEOSDelivered) return S_OK;
  // The completion is reported when the last sample has been presented, which with a
  // clock is already at its start time; the rest of its duration is not waited for.
  return NotifyEndOfStream();
}

HRESULT CBaseRenderer::NotifyEndOfStream() {
  CAutoLock lock(&m_RendererLock);
  if (!m_bStreaming) return S_OK;
  if (m_pPosition) m_pPosition->EOS();
  m_bEOSDelivered = TRUE;
  TAV_TRACE("%p EC_COMPLETE", static_cast<void*>(this));
  return NotifyEvent(EC_COMPLETE, S_OK, 0);
}

HRESULT CBaseRenderer::ResetEndOfStream() {
  CAutoLock lock(&m_RendererLock);
  m_bEOS = FALSE;
  m_bEOSDelivered = FALSE;
  m_SignalTime = 0;
  return S_OK;
}

IMediaSample* CBaseRenderer::GetCurrentSample() {
  CAutoLock lock(&m_RendererLock);
  IMediaSample* sample = nullptr;
  m_pMediaSample.CopyTo(&sample);
  return sample;
}

BOOL CBaseRenderer::HaveCurrentSample() {
  CAutoLock lock(&m_RendererLock);
  return m_pMediaSample ? TRUE : FALSE;
}

void CBaseRenderer::ClearPendingSample() {
  CAutoLock lock(&m_RendererLock);
  m_pMediaSample = nullptr;
}

void CBaseRenderer::SetRepaintStatus(BOOL repaint) {
  CAutoLock lock(&m_RendererLock);
  m_bRepaintStatus = repaint;
}

void CBaseRenderer::SendRepaint() {
  CAutoLock lock(&m_RendererLock);
  if (m_bAbort || !m_pInputPin || !m_pInputPin->IsConnected() || m_pInputPin->IsFlushing() || IsEndOfStream() ||
      !m_bRepaintStatus)
    return;
  IPin* pin = m_pInputPin.get();
  NotifyEvent(EC_REPAINT, reinterpret_cast<LONG_PTR>(pin), 0);
  m_bRepaintStatus = FALSE;
}
