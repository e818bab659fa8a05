#include "platform/streaming/base/streampins.h"

#include <utility>

#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kBase, "streampins");

// ---- CBaseInputPin -----------------------------------------------------------------------

CBaseInputPin::CBaseInputPin(LPCTSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                             LPCWSTR pinName)
    : CBasePin(objectName, filter, lock, phr, pinName, PINDIR_INPUT) {}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), ppv);
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (!m_pAllocator) {
    const HRESULT hr = CreateMemoryAllocator(&m_pAllocator);
    if (FAILED(hr)) return hr;
  }
  return m_pAllocator.CopyTo(allocator);
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (!allocator) return E_POINTER;
  CAutoLock lock(m_pLock);
  m_pAllocator = allocator;
  m_bReadOnly = readOnly;
  return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT CBaseInputPin::BreakConnect() {
  if (m_pAllocator) m_pAllocator->Decommit();
  m_pAllocator = nullptr;
  return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
  m_bRunTimeError = FALSE;
  m_bFlushing = FALSE;
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Decommit();
}

HRESULT CBaseInputPin::CheckStreaming() {
  if (IsStopped()) return VFW_E_WRONG_STATE;
  if (m_bFlushing) return S_FALSE;
  if (m_bRunTimeError) return VFW_E_RUNTIME_ERROR;
  return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;

  ComPtr<IMediaSample2> sample2;
  tav::MediaTypePtr typeCopy;
  if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, sample2.AsVoidOut())) && sample2) {
    hr = sample2->GetProperties(sizeof m_SampleProps, reinterpret_cast<BYTE*>(&m_SampleProps));
    if (FAILED(hr)) return hr;
  } else {
    m_SampleProps = AM_SAMPLE2_PROPERTIES{};
    m_SampleProps.cbData = sizeof m_SampleProps;
    hr = sample->GetTime(&m_SampleProps.tStart, &m_SampleProps.tStop);
    if (SUCCEEDED(hr)) m_SampleProps.dwSampleFlags |= AM_SAMPLE_TIMEVALID;
    if (hr == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_STOPVALID;
    if (sample->GetMediaType(typeCopy.Out()) == S_OK) {
      m_SampleProps.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
      m_SampleProps.pMediaType = typeCopy.Get();
    }
    if (sample->IsDiscontinuity() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
    if (sample->IsPreroll() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_PREROLL;
    if (sample->IsSyncPoint() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
    sample->GetPointer(&m_SampleProps.pbBuffer);
    m_SampleProps.lActual = sample->GetActualDataLength();
    m_SampleProps.cbBuffer = sample->GetSize();
  }

  hr = S_OK;
  if ((m_SampleProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) && m_SampleProps.pMediaType) {
    CMediaType type(*m_SampleProps.pMediaType);
    if (CheckMediaType(&type) != S_OK) {
      // A type the pin cannot take ends this stream: the graph gets an error.
      m_bRunTimeError = TRUE;
      EndOfStream();
      m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
      hr = VFW_E_INVALIDMEDIATYPE;
    }
  }
  if (typeCopy) m_SampleProps.pMediaType = nullptr;
  return hr;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
  if (!samples || !processed) return E_POINTER;
  *processed = 0;
  HRESULT hr = S_OK;
  while (count-- > 0) {
    hr = Receive(samples[*processed]);
    if (hr != S_OK) break;
    ++*processed;
  }
  return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock() {
  int outputs = 0;
  const int count = m_pFilter->GetPinCount();
  for (int i = 0; i < count; ++i) {
    CBasePin* pin = m_pFilter->GetPin(i);
    if (!pin || pin->Direction() != PINDIR_OUTPUT) continue;
    IPin* peer = pin->GetConnected();
    if (!peer) continue;
    ++outputs;
    ComPtr<IMemInputPin> input;
    if (FAILED(peer->QueryInterface(IID_IMemInputPin, input.AsVoidOut())) || !input) return S_OK;
    if (input->ReceiveCanBlock() != S_FALSE) return S_OK;
  }
  // A pin with no connected outputs is a renderer: it may block.
  return outputs == 0 ? S_OK : S_FALSE;
}

HRESULT CBaseInputPin::BeginFlush() {
  CAutoLock lock(m_pLock);
  m_bFlushing = TRUE;
  return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
  CAutoLock lock(m_pLock);
  m_bFlushing = FALSE;
  m_bRunTimeError = FALSE;
  return S_OK;
}

HRESULT CBaseInputPin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

HRESULT CBaseInputPin::PassNotify(Quality& q) {
  if (m_pQSink) return m_pQSink->Notify(m_pFilter, q);
  if (!m_Connected) return VFW_E_NOT_FOUND;
  ComPtr<IQualityControl> qc;
  if (FAILED(m_Connected->QueryInterface(IID_IQualityControl, qc.AsVoidOut())) || !qc) return VFW_E_NOT_FOUND;
  return qc->Notify(m_pFilter, q);
}

// ---- CBaseOutputPin ----------------------------------------------------------------------

CBaseOutputPin::CBaseOutputPin(LPCTSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                               LPCWSTR pinName)
    : CBasePin(objectName, filter, lock, phr, pinName, PINDIR_OUTPUT) {}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
  return DecideAllocator(m_pInputPin.Get(), &m_pAllocator);
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pin) {
  HRESULT hr = CBasePin::CheckConnect(pin);
  if (FAILED(hr)) return hr;
  hr = pin->QueryInterface(IID_IMemInputPin, m_pInputPin.AsVoidOut());
  if (FAILED(hr) || !m_pInputPin) {
    m_pInputPin.Detach();  // a failed query leaves no reference behind
    return VFW_E_NO_TRANSPORT;
  }
  return S_OK;
}

HRESULT CBaseOutputPin::BreakConnect() {
  if (m_pAllocator) m_pAllocator->Decommit();
  m_pAllocator = nullptr;
  m_pInputPin = nullptr;
  return S_OK;
}

HRESULT CBaseOutputPin::Active() {
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
  m_bRunTimeError = FALSE;
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  if (!pin || !allocator) return E_POINTER;
  // Whatever was decided before goes.
  ComPtr<IMemAllocator>::Adopt(std::exchange(*allocator, nullptr)).Reset();
  ALLOCATOR_PROPERTIES props{};
  pin->GetAllocatorRequirements(&props);
  if (props.cbAlign == 0) props.cbAlign = 1;

  // The peer's allocator first, then the pin's own.
  HRESULT hr = S_OK;
  for (const bool own : {false, true}) {
    ComPtr<IMemAllocator> candidate;
    hr = own ? InitAllocator(&candidate) : pin->GetAllocator(&candidate);
    if (FAILED(hr) || !candidate) continue;
    hr = DecideBufferSize(candidate.Get(), &props);
    if (SUCCEEDED(hr)) hr = pin->NotifyAllocator(candidate.Get(), SamplesReadOnly());
    if (SUCCEEDED(hr)) {
      *allocator = candidate.Detach();
      return S_OK;
    }
  }
  return FAILED(hr) ? hr : E_FAIL;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** allocator) { return CreateMemoryAllocator(allocator); }

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                          DWORD flags) {
  if (!m_pAllocator) return E_NOINTERFACE;
  return m_pAllocator->GetBuffer(sample, start, end, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
  if (!m_pInputPin) return VFW_E_NOT_CONNECTED;
  return m_pInputPin->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->NewSegment(start, stop, rate);
}
