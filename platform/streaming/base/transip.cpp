#include "platform/streaming/base/transip.h"

#include <cstring>

#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kBase, "transip");

// ---- CTransInPlaceInputPin ---------------------------------------------------------------

CTransInPlaceInputPin::CTransInPlaceInputPin(LPCTSTR objectName, CTransInPlaceFilter* filter, HRESULT* phr,
                                             LPCWSTR pinName)
    : CTransformInputPin(objectName, filter, phr, pinName), m_pTIPFilter(filter) {}

HRESULT CTransInPlaceInputPin::EnumMediaTypes(IEnumMediaTypes** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  CTransInPlaceOutputPin* output = m_pTIPFilter->OutputPin();
  if (!output || !output->IsConnected()) return VFW_E_NOT_CONNECTED;
  return output->GetConnected()->EnumMediaTypes(out);
}

HRESULT CTransInPlaceInputPin::CheckMediaType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  const HRESULT hr = m_pTIPFilter->CheckInputType(mt);
  if (hr != S_OK) return hr;
  CTransInPlaceOutputPin* output = m_pTIPFilter->OutputPin();
  if (output && output->IsConnected()) return output->GetConnected()->QueryAccept(mt);
  return S_OK;
}

HRESULT CTransInPlaceInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  CAutoLock lock(m_pLock);
  CTransInPlaceOutputPin* output = m_pTIPFilter->OutputPin();
  if (output && output->IsConnected() && output->ConnectedIMemInputPin()) {
    const HRESULT hr = output->ConnectedIMemInputPin()->GetAllocator(allocator);
    if (SUCCEEDED(hr)) output->SetAllocator(*allocator);
    return hr;
  }
  return CTransformInputPin::GetAllocator(allocator);
}

HRESULT CTransInPlaceInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (!allocator) return E_POINTER;
  CAutoLock lock(m_pLock);
  CTransInPlaceOutputPin* output = m_pTIPFilter->OutputPin();
  // Until the output connects any allocator will do: connecting the output reconnects
  // this pin.
  if (!output || !output->IsConnected() || !output->ConnectedIMemInputPin())
    return CTransformInputPin::NotifyAllocator(allocator, readOnly);

  HRESULT hr = S_OK;
  if (readOnly && m_pTIPFilter->m_bModifiesData) {
    // Read-only buffers cannot be changed in place: copy into the output's own allocator.
    ComPtr<IMemAllocator> outAlloc = output->PeekAllocator();
    if (!outAlloc) {
      hr = output->ConnectedIMemInputPin()->GetAllocator(outAlloc.ReleaseAndGetAddressOf());
      if (FAILED(hr)) hr = CreateMemoryAllocator(outAlloc.ReleaseAndGetAddressOf());
      if (SUCCEEDED(hr)) output->SetAllocator(outAlloc.Get());
    }
    if (SUCCEEDED(hr) && outAlloc.Get() == allocator) hr = E_FAIL;
    if (SUCCEEDED(hr)) {
      ALLOCATOR_PROPERTIES props{}, actual{};
      hr = allocator->GetProperties(&props);
      if (SUCCEEDED(hr)) hr = outAlloc->SetProperties(&props, &actual);
      if (SUCCEEDED(hr) &&
          (props.cBuffers > actual.cBuffers || props.cbBuffer > actual.cbBuffer || props.cbAlign > actual.cbAlign))
        hr = E_FAIL;
      if (SUCCEEDED(hr)) hr = output->ConnectedIMemInputPin()->NotifyAllocator(outAlloc.Get(), FALSE);
    }
  } else {
    hr = output->ConnectedIMemInputPin()->NotifyAllocator(allocator, readOnly);
    if (SUCCEEDED(hr)) output->SetAllocator(allocator);
  }
  if (SUCCEEDED(hr)) {
    m_pAllocator = allocator;
    m_bReadOnly = readOnly;
  }
  return hr;
}

HRESULT CTransInPlaceInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) {
  CTransInPlaceOutputPin* output = m_pTIPFilter->OutputPin();
  if (output && output->IsConnected() && output->ConnectedIMemInputPin())
    return output->ConnectedIMemInputPin()->GetAllocatorRequirements(props);
  return E_NOTIMPL;
}

// ---- CTransInPlaceOutputPin --------------------------------------------------------------

CTransInPlaceOutputPin::CTransInPlaceOutputPin(LPCTSTR objectName, CTransInPlaceFilter* filter, HRESULT* phr,
                                               LPCWSTR pinName)
    : CTransformOutputPin(objectName, filter, phr, pinName), m_pTIPFilter(filter) {}

HRESULT CTransInPlaceOutputPin::EnumMediaTypes(IEnumMediaTypes** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  CTransInPlaceInputPin* input = m_pTIPFilter->InputPin();
  if (!input || !input->IsConnected()) return VFW_E_NOT_CONNECTED;
  return input->GetConnected()->EnumMediaTypes(out);
}

HRESULT CTransInPlaceOutputPin::CheckMediaType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  HRESULT hr = CTransformOutputPin::CheckMediaType(mt);
  if (hr != S_OK) return hr;
  // While streaming with separate allocators the type cannot change.
  if (m_pTIPFilter->UsingDifferentAllocators() && !m_pFilter->IsStopped())
    return *mt == m_mt ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  CTransInPlaceInputPin* input = m_pTIPFilter->InputPin();
  if (input && input->IsConnected()) return input->GetConnected()->QueryAccept(mt);
  return S_OK;
}

void CTransInPlaceOutputPin::SetAllocator(IMemAllocator* allocator) { m_pAllocator = allocator; }

// ---- CTransInPlaceFilter -----------------------------------------------------------------

CTransInPlaceFilter::CTransInPlaceFilter(LPCTSTR name, LPUNKNOWN outer, REFCLSID clsid, HRESULT*, bool modifiesData)
    : CTransformFilter(name, outer, clsid), m_bModifiesData(modifiesData) {}

CBasePin* CTransInPlaceFilter::GetPin(int n) {
  return MakePins(
      n,
      [this](HRESULT* hr) {
        return new (std::nothrow) CTransInPlaceInputPin(NAME("in-place input pin"), this, hr, u"Input");
      },
      [this](HRESULT* hr) {
        return new (std::nothrow) CTransInPlaceOutputPin(NAME("in-place output pin"), this, hr, u"Output");
      });
}

HRESULT CTransInPlaceFilter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) {
  ALLOCATOR_PROPERTIES request{}, actual{};
  if (m_pInput->IsConnected() && InputPin()->PeekAllocator()) {
    const HRESULT hr = InputPin()->PeekAllocator()->GetProperties(&request);
    if (FAILED(hr)) return hr;
  }
  // Before the upstream allocator is known, one byte will do: the input's reconnection
  // sizes the shared allocator again.
  if (request.cBuffers < 1) request.cBuffers = 1;
  if (request.cbBuffer < 1) request.cbBuffer = 1;
  if (request.cbAlign < 1) request.cbAlign = 1;
  const HRESULT hr = allocator->SetProperties(&request, &actual);
  if (FAILED(hr)) return hr;
  if (actual.cBuffers < request.cBuffers || actual.cbBuffer < request.cbBuffer) return E_FAIL;
  return S_OK;
}

HRESULT CTransInPlaceFilter::CompleteConnect(PIN_DIRECTION dir, IPin*) {
  if (dir == PINDIR_OUTPUT) {
    if (!m_pInput->IsConnected()) return S_OK;
    // In a graph the input is always reconnected, so that the upstream filter picks up
    // the downstream allocator. Outside a graph that is only possible when not needed.
    if (!m_pGraph) return TypesMatch() ? S_OK : VFW_E_NOT_IN_GRAPH;
    return ReconnectPin(m_pInput.get(), &m_pOutput->CurrentMediaType());
  }
  if (m_pOutput && m_pOutput->IsConnected() && !TypesMatch()) {
    if (!m_pGraph) return VFW_E_NOT_IN_GRAPH;
    return ReconnectPin(m_pOutput.get(), &m_pInput->CurrentMediaType());
  }
  return S_OK;
}

ComPtr<IMediaSample> CTransInPlaceFilter::Copy(IMediaSample* source) {
  AM_SAMPLE2_PROPERTIES* const props = m_pInput->SampleProps();
  ComPtr<IMediaSample> dest;
  if (FAILED(GetOutputBuffer(&dest))) return nullptr;

  BYTE* src = nullptr;
  BYTE* dst = nullptr;
  const LONG length = source->GetActualDataLength();
  if (FAILED(source->GetPointer(&src)) || FAILED(dest->GetPointer(&dst)) || length > dest->GetSize()) return nullptr;
  if (length > 0) std::memcpy(dst, src, size_t(length));
  dest->SetActualDataLength(length);

  if (props->dwSampleFlags & AM_SAMPLE_TIMEVALID)
    dest->SetTime(&props->tStart, (props->dwSampleFlags & AM_SAMPLE_STOPVALID) ? &props->tStop : nullptr);
  dest->SetSyncPoint((props->dwSampleFlags & AM_SAMPLE_SPLICEPOINT) != 0);
  dest->SetPreroll((props->dwSampleFlags & AM_SAMPLE_PREROLL) != 0);
  dest->SetDiscontinuity((props->dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) != 0);
  if (props->dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) m_bSampleSkipped = FALSE;
  tav::MediaTypePtr type;
  if (source->GetMediaType(type.Out()) == S_OK && type) dest->SetMediaType(type.Get());
  CopyMediaTime(source, dest.Get());
  return dest;
}

HRESULT CTransInPlaceFilter::Receive(IMediaSample* sample) {
  AM_SAMPLE2_PROPERTIES* const props = m_pInput->SampleProps();
  if (props->dwStreamId != AM_STREAM_MEDIA) return m_pOutput->Deliver(sample);

  const bool copying = UsingDifferentAllocators();
  ComPtr<IMediaSample> work;
  if (copying) {
    work = Copy(sample);
    if (!work) return E_UNEXPECTED;
  } else {
    work = sample;
  }
  const HRESULT hr = Transform(work.Get());
  if (FAILED(hr)) return hr;
  return DeliverTransformed(work.Get(), hr);
}
