#include "platform/streaming/base/transform.h"

#include <new>

#include "media/contract/trace.h"
#include "platform/streaming/base/posthru.h"

TAV_TRACE_SOURCE(kBase, "transform");

// ---- CTransformInputPin ------------------------------------------------------------------

CTransformInputPin::CTransformInputPin(LPCTSTR objectName, CTransformFilter* filter, HRESULT* phr,
                                       LPCWSTR pinName)
    : CBaseInputPin(objectName, filter, &filter->m_csFilter, phr, pinName), m_pTransformFilter(filter) {}

HRESULT CTransformInputPin::CheckConnect(IPin* pin) {
  const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pin);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::CheckConnect(pin);
}

HRESULT CTransformInputPin::BreakConnect() {
  m_pTransformFilter->BreakConnect(PINDIR_INPUT);
  return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* receivePin) {
  const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, receivePin);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  HRESULT hr = m_pTransformFilter->CheckInputType(mt);
  if (hr != S_OK) return hr;
  CTransformOutputPin* out = m_pTransformFilter->m_pOutput.get();
  if (out && out->IsConnected()) return m_pTransformFilter->CheckTransform(mt, &out->CurrentMediaType());
  return S_OK;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* mt) {
  const HRESULT hr = CBasePin::SetMediaType(mt);
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->SetMediaType(PINDIR_INPUT, mt);
}

HRESULT CTransformInputPin::CheckStreaming() {
  CTransformOutputPin* out = m_pTransformFilter->m_pOutput.get();
  if (!out || !out->IsConnected()) return VFW_E_NOT_CONNECTED;
  return CBaseInputPin::CheckStreaming();
}

HRESULT CTransformInputPin::Receive(IMediaSample* sample) {
  CAutoLock lock(&m_pTransformFilter->m_csReceive);
  HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr == S_OK) hr = m_pTransformFilter->Receive(sample);
  return hr;
}

HRESULT CTransformInputPin::EndOfStream() {
  CAutoLock lock(&m_pTransformFilter->m_csReceive);
  HRESULT hr = CheckStreaming();
  if (hr == S_OK) hr = m_pTransformFilter->EndOfStream();
  return hr;
}

HRESULT CTransformInputPin::BeginFlush() {
  CAutoLock lock(&m_pTransformFilter->m_csFilter);
  CTransformOutputPin* out = m_pTransformFilter->m_pOutput.get();
  if (!IsConnected() || !out || !out->IsConnected()) return VFW_E_NOT_CONNECTED;
  const HRESULT hr = CBaseInputPin::BeginFlush();
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->BeginFlush();
}

HRESULT CTransformInputPin::EndFlush() {
  CAutoLock lock(&m_pTransformFilter->m_csFilter);
  CTransformOutputPin* out = m_pTransformFilter->m_pOutput.get();
  if (!IsConnected() || !out || !out->IsConnected()) return VFW_E_NOT_CONNECTED;
  const HRESULT hr = m_pTransformFilter->EndFlush();
  if (FAILED(hr)) return hr;
  return CBaseInputPin::EndFlush();
}

HRESULT CTransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CBasePin::NewSegment(start, stop, rate);
  return m_pTransformFilter->NewSegment(start, stop, rate);
}

// ---- CTransformOutputPin -----------------------------------------------------------------

CTransformOutputPin::CTransformOutputPin(LPCTSTR objectName, CTransformFilter* filter, HRESULT* phr,
                                         LPCWSTR pinName)
    : CBaseOutputPin(objectName, filter, &filter->m_csFilter, phr, pinName), m_pTransformFilter(filter) {
  m_pPositionObject = new (std::nothrow) CPosPassThru(NAME("position pass-through"), GetOwner(), phr, nullptr);
  if (!m_pPositionObject) {
    if (phr) *phr = E_OUTOFMEMORY;
    return;
  }
  m_pPosition = m_pPositionObject->GetInnerUnknown();
}

HRESULT CTransformOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaPosition || riid == IID_IMediaSeeking) {
    if (!m_pPosition) return E_OUTOFMEMORY;
    // Bound to the input pin on first use: the filter may make its pins in any order.
    if (!m_pPositionObject->Pin()) m_pPositionObject->SetPin(m_pTransformFilter->InputPinObject());
    return m_pPosition->QueryInterface(riid, ppv);
  }
  return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CTransformOutputPin::CheckConnect(IPin* pin) {
  CTransformInputPin* in = m_pTransformFilter->m_pInput.get();
  // The output's types depend on the input's.
  if (!in || !in->IsConnected()) return E_UNEXPECTED;
  const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pin);
  if (FAILED(hr)) return hr;
  return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTransformOutputPin::BreakConnect() {
  m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
  return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* receivePin) {
  const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, receivePin);
  if (FAILED(hr)) return hr;
  return CBaseOutputPin::CompleteConnect(receivePin);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) {
  return m_pTransformFilter->DecideBufferSize(allocator, props);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  CTransformInputPin* in = m_pTransformFilter->m_pInput.get();
  if (!in || !in->IsConnected()) return E_INVALIDARG;
  return m_pTransformFilter->CheckTransform(&in->CurrentMediaType(), mt);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* mt) {
  const HRESULT hr = CBasePin::SetMediaType(mt);
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, mt);
}

HRESULT CTransformOutputPin::GetMediaType(int position, CMediaType* mt) {
  CTransformInputPin* in = m_pTransformFilter->m_pInput.get();
  if (!in || !in->IsConnected()) return E_UNEXPECTED;
  return m_pTransformFilter->GetMediaType(position, mt);
}

HRESULT CTransformOutputPin::Notify(IBaseFilter*, Quality q) {
  const HRESULT hr = m_pTransformFilter->AlterQuality(q);
  if (hr != S_FALSE) return hr;
  CTransformInputPin* in = m_pTransformFilter->m_pInput.get();
  return in ? in->PassNotify(q) : VFW_E_NOT_FOUND;
}

// ---- CTransformFilter --------------------------------------------------------------------

CTransformFilter::CTransformFilter(LPCTSTR name, LPUNKNOWN outer, REFCLSID clsid)
    : CBaseFilter(name, outer, &m_csFilter, clsid) {}

CTransformFilter::~CTransformFilter() = default;

CBasePin* CTransformFilter::GetPin(int n) {
  return MakePins(
      n,
      [this](HRESULT* hr) {
        return new (std::nothrow) CTransformInputPin(NAME("transform input pin"), this, hr, u"XForm In");
      },
      [this](HRESULT* hr) {
        return new (std::nothrow) CTransformOutputPin(NAME("transform output pin"), this, hr, u"XForm Out");
      });
}

HRESULT CTransformFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!pin) return E_POINTER;
  // Pins are also found by their conventional identifiers "In" and "Out".
  if (id && WideCompare(id, u"In") == 0) {
    *pin = GetPin(0);
  } else if (id && WideCompare(id, u"Out") == 0) {
    *pin = GetPin(1);
  } else {
    return CBaseFilter::FindPin(id, pin);
  }
  if (!*pin) return VFW_E_NOT_FOUND;
  (*pin)->AddRef();
  return S_OK;
}

HRESULT CTransformFilter::Stop() {
  CAutoLock lock(&m_csFilter);
  if (m_State == State_Stopped) return S_OK;
  if (!m_pInput || !m_pInput->IsConnected() || !m_pOutput || !m_pOutput->IsConnected()) {
    m_State = State_Stopped;
    m_bEOSDelivered = FALSE;
    return S_OK;
  }
  // Decommitting the input allocator releases an upstream thread blocked in GetBuffer;
  // then the receive lock waits for a sample in progress.
  m_pInput->Inactive();
  CAutoLock receive(&m_csReceive);
  m_pOutput->Inactive();
  const HRESULT hr = StopStreaming();
  if (SUCCEEDED(hr)) {
    m_State = State_Stopped;
    m_bEOSDelivered = FALSE;
  }
  return hr;
}

HRESULT CTransformFilter::Pause() {
  CAutoLock lock(&m_csFilter);
  HRESULT hr = S_OK;
  if (m_State == State_Paused) {
    // nothing to do
  } else if (!m_pInput || !m_pInput->IsConnected()) {
    // Without input the output stream is over before it starts.
    if (m_pOutput && m_pOutput->IsConnected() && !m_bEOSDelivered) {
      m_pOutput->DeliverEndOfStream();
      m_bEOSDelivered = TRUE;
    }
    m_State = State_Paused;
  } else if (!m_pOutput->IsConnected()) {
    m_State = State_Paused;
  } else {
    if (m_State == State_Stopped) {
      CAutoLock receive(&m_csReceive);
      hr = StartStreaming();
    }
    if (SUCCEEDED(hr)) hr = CBaseFilter::Pause();
  }
  m_bSampleSkipped = FALSE;
  m_bQualityChanged = FALSE;
  return hr;
}

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* sample, IMediaSample** outSample) {
  if (!outSample) return E_POINTER;
  *outSample = nullptr;
  AM_SAMPLE2_PROPERTIES* const props = m_pInput->SampleProps();
  ComPtr<IMediaSample> out;
  HRESULT hr = GetOutputBuffer(&out);
  if (FAILED(hr)) return hr;

  ComPtr<IMediaSample2> out2;
  if (SUCCEEDED(out->QueryInterface(IID_IMediaSample2, out2.AsVoidOut())) && out2) {
    AM_SAMPLE2_PROPERTIES outProps{};
    hr = out2->GetProperties(offsetof(AM_SAMPLE2_PROPERTIES, tStart), reinterpret_cast<BYTE*>(&outProps));
    if (SUCCEEDED(hr)) {
      outProps.dwTypeSpecificFlags = props->dwTypeSpecificFlags;
      outProps.dwSampleFlags =
          (outProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) | (props->dwSampleFlags & ~DWORD(AM_SAMPLE_TYPECHANGED));
      outProps.tStart = props->tStart;
      outProps.tStop = props->tStop;
      outProps.cbData = offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId);
      hr = out2->SetProperties(offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId), reinterpret_cast<BYTE*>(&outProps));
    }
    if (props->dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) m_bSampleSkipped = FALSE;
  } else {
    if (props->dwSampleFlags & AM_SAMPLE_TIMEVALID)
      out->SetTime(&props->tStart, (props->dwSampleFlags & AM_SAMPLE_STOPVALID) ? &props->tStop : nullptr);
    if (props->dwSampleFlags & AM_SAMPLE_SPLICEPOINT) out->SetSyncPoint(TRUE);
    if (props->dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) {
      out->SetDiscontinuity(TRUE);
      m_bSampleSkipped = FALSE;
    }
  }
  CopyMediaTime(sample, out.Get());
  *outSample = out.Detach();
  return S_OK;
}

HRESULT CTransformFilter::GetOutputBuffer(IMediaSample** out) {
  AM_SAMPLE2_PROPERTIES* const props = m_pInput->SampleProps();
  DWORD flags = m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0;
  if (!(props->dwSampleFlags & AM_SAMPLE_SPLICEPOINT)) flags |= AM_GBF_NOTASYNCPOINT;
  const HRESULT hr =
      m_pOutput->GetDeliveryBuffer(out, (props->dwSampleFlags & AM_SAMPLE_TIMEVALID) ? &props->tStart : nullptr,
                                   (props->dwSampleFlags & AM_SAMPLE_STOPVALID) ? &props->tStop : nullptr, flags);
  if (FAILED(hr)) return hr;
  return *out ? S_OK : E_UNEXPECTED;
}

HRESULT CTransformFilter::DeliverTransformed(IMediaSample* out, HRESULT transformed) {
  if (transformed == S_OK) {
    const HRESULT hr = m_pOutput->Deliver(out);
    m_bSampleSkipped = FALSE;
    return hr;
  }
  if (transformed == S_FALSE) {
    // Dropped on purpose: not an error for the upstream filter.
    m_bSampleSkipped = TRUE;
    if (!m_bQualityChanged) {
      NotifyEvent(EC_QUALITY_CHANGE, 0, 0);
      m_bQualityChanged = TRUE;
    }
    return S_OK;
  }
  return transformed;
}

void CTransformFilter::CopyMediaTime(IMediaSample* from, IMediaSample* to) {
  LONGLONG mediaStart = 0, mediaEnd = 0;
  if (from->GetMediaTime(&mediaStart, &mediaEnd) == S_OK) to->SetMediaTime(&mediaStart, &mediaEnd);
}

HRESULT CTransformFilter::Receive(IMediaSample* sample) {
  AM_SAMPLE2_PROPERTIES* const props = m_pInput->SampleProps();
  if (props->dwStreamId != AM_STREAM_MEDIA) return m_pOutput->Deliver(sample);

  ComPtr<IMediaSample> out;
  HRESULT hr = InitializeOutputSample(sample, &out);
  if (FAILED(hr)) return hr;
  hr = Transform(sample, out.Get());
  if (FAILED(hr)) {
    TAV_TRACE("%p Transform failed 0x%08x", static_cast<void*>(this), unsigned(hr));
    return hr;
  }
  return DeliverTransformed(out.Get(), hr);
}

HRESULT CTransformFilter::EndOfStream() {
  return m_pOutput ? m_pOutput->DeliverEndOfStream() : S_OK;
}

HRESULT CTransformFilter::BeginFlush() {
  return m_pOutput ? m_pOutput->DeliverBeginFlush() : S_OK;
}

HRESULT CTransformFilter::EndFlush() {
  return m_pOutput ? m_pOutput->DeliverEndFlush() : S_OK;
}

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  return m_pOutput ? m_pOutput->DeliverNewSegment(start, stop, rate) : S_OK;
}
