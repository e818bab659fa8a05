#include "tests/testfilters/testtransform.h"

#include <cstring>

namespace tavtest {

namespace {
const BITMAPINFOHEADER* Header(const CMediaType* mt) {
  if (!mt || mt->formattype != FORMAT_VideoInfo || mt->cbFormat < sizeof(VIDEOINFOHEADER) || !mt->pbFormat)
    return nullptr;
  return &reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader;
}
}  // namespace

// ---- deferred sample and allocator -------------------------------------------------------

CTestDeferredSample::CTestDeferredSample(CBaseAllocator* allocator, CTestTransform* filter, HRESULT* phr,
                                         LPBYTE buffer, LONG length)
    : CMediaSample(NAME("deferred sample"), allocator, phr, buffer, length), m_filter(filter) {}

CTestDeferredSample::~CTestDeferredSample() { DropInput(); }

void CTestDeferredSample::Attach(IMediaSample* input) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (input) input->AddRef();
  if (m_input) m_input->Release();
  m_input = input;
}

void CTestDeferredSample::DropInput() {
  IMediaSample* input = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    std::swap(input, m_input);
  }
  if (input) input->Release();
}

HRESULT CTestDeferredSample::GetPointer(BYTE** buffer) {
  if (!buffer) return E_POINTER;
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_input) {
    IMediaSample* input = m_input;
    m_input = nullptr;
    LONG written = 0;
    const HRESULT hr = m_filter ? m_filter->Convert(input, m_pBuffer, m_cbBuffer, &written) : E_POINTER;
    input->Release();
    if (FAILED(hr)) {
      *buffer = nullptr;
      return E_FAIL;
    }
    m_lActual = written;
  }
  *buffer = m_pBuffer;
  return S_OK;
}

CTestDeferredAllocator::CTestDeferredAllocator(CTestTransform* filter, HRESULT* phr)
    : CMemAllocator(NAME("deferred allocator"), nullptr, phr), m_filter(filter) {}

CMediaSample* CTestDeferredAllocator::NewSample(LPBYTE buffer, LONG length, HRESULT* phr) {
  return new (std::nothrow) CTestDeferredSample(this, m_filter, phr, buffer, length);
}

HRESULT CTestDeferredAllocator::ReleaseBuffer(IMediaSample* sample) {
  if (sample) static_cast<CTestDeferredSample*>(sample)->DropInput();
  return CMemAllocator::ReleaseBuffer(sample);
}

// ---- output pin --------------------------------------------------------------------------

CTestTransformOutputPin::CTestTransformOutputPin(CTestTransform* filter, HRESULT* phr)
    : CTransformOutputPin(NAME("deferred output pin"), filter, phr, u"XForm Out") {}

HRESULT CTestTransformOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  if (!pin || !allocator) return E_POINTER;
  if (*allocator) (*allocator)->Release();
  *allocator = static_cast<CTestTransform*>(m_pTransformFilter)->DeferredAllocator();
  if (!*allocator) return E_UNEXPECTED;
  (*allocator)->AddRef();
  ALLOCATOR_PROPERTIES props{};
  pin->GetAllocatorRequirements(&props);
  if (props.cbAlign == 0) props.cbAlign = 1;
  HRESULT hr = DecideBufferSize(*allocator, &props);
  if (SUCCEEDED(hr)) hr = pin->NotifyAllocator(*allocator, FALSE);
  if (FAILED(hr)) {
    (*allocator)->Release();
    *allocator = nullptr;
  }
  return hr;
}

// ---- filter ------------------------------------------------------------------------------

CTestTransform::CTestTransform(LPUNKNOWN outer, const Config& config, HRESULT* phr)
    : CTransformFilter(NAME("test transform"), outer, CLSID_TestTransform), m_config(config) {
  if (config.deferred) {
    auto* allocator = new (std::nothrow) CTestDeferredAllocator(this, phr);
    if (!allocator) {
      if (phr) *phr = E_OUTOFMEMORY;
      return;
    }
    allocator->NonDelegatingQueryInterface(IID_IMemAllocator, m_deferredAllocator.AsVoidOut());
  }
}

CTestTransform::~CTestTransform() = default;

CBasePin* CTestTransform::GetPin(int n) {
  if (!m_config.deferred) return CTransformFilter::GetPin(n);
  return MakePins(
      n,
      [this](HRESULT* hr) {
        return new (std::nothrow) CTransformInputPin(NAME("deferred input pin"), this, hr, u"XForm In");
      },
      [this](HRESULT* hr) { return new (std::nothrow) CTestTransformOutputPin(this, hr); });
}

HRESULT CTestTransform::CheckInputType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (mt->majortype != MEDIATYPE_Video || mt->subtype != m_config.inputSubtype) return VFW_E_TYPE_NOT_ACCEPTED;
  const BITMAPINFOHEADER* h = Header(mt);
  if (!h || h->biWidth <= 0 || h->biHeight == 0) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT CTestTransform::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
  if (!mtIn || !mtOut) return E_POINTER;
  if (mtOut->majortype != MEDIATYPE_Video || mtOut->subtype != m_config.outputSubtype) return VFW_E_TYPE_NOT_ACCEPTED;
  const BITMAPINFOHEADER* in = Header(mtIn);
  const BITMAPINFOHEADER* out = Header(mtOut);
  if (!in || !out || in->biWidth != out->biWidth || in->biHeight != out->biHeight) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT CTestTransform::GetMediaType(int position, CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  const CMediaType& in = m_pInput->CurrentMediaType();
  const BITMAPINFOHEADER* h = Header(&in);
  if (!h) return E_UNEXPECTED;
  const REFERENCE_TIME duration = reinterpret_cast<const VIDEOINFOHEADER*>(in.pbFormat)->AvgTimePerFrame;
  *mt = MakeVideoType(m_config.outputSubtype, h->biWidth, h->biHeight, duration);
  return S_OK;
}

HRESULT CTestTransform::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) {
  const BITMAPINFOHEADER* h = Header(&m_pOutput->CurrentMediaType());
  if (!h) return E_UNEXPECTED;
  ALLOCATOR_PROPERTIES request = *props;
  request.cBuffers = std::max(request.cBuffers, m_config.outputBuffers);
  request.cbBuffer = std::max<LONG>(request.cbBuffer, LONG(GetBitmapSize(h)));
  if (request.cbAlign < 1) request.cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = allocator->SetProperties(&request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < request.cbBuffer || actual.cBuffers < request.cBuffers ? E_FAIL : S_OK;
}

HRESULT CTestTransform::Convert(IMediaSample* in, BYTE* out, LONG outSize, LONG* written) {
  ++m_conversions;
  BYTE* src = nullptr;
  if (FAILED(in->GetPointer(&src)) || !src || !out) return E_POINTER;
  const LONG length = in->GetActualDataLength();
  if (m_config.inputSubtype == m_config.outputSubtype) {
    if (length > outSize) return E_FAIL;
    std::memcpy(out, src, size_t(length));
    *written = length;
    return S_OK;
  }
  // RGB24 -> RGB32 by pixels; the frame number (first four bytes) is carried over as is.
  const LONG pixels = length / 3;
  if (pixels * 4 > outSize || length < 4) return E_FAIL;
  for (LONG i = 0; i < pixels; ++i) {
    out[i * 4 + 0] = src[i * 3 + 0];
    out[i * 4 + 1] = src[i * 3 + 1];
    out[i * 4 + 2] = src[i * 3 + 2];
    out[i * 4 + 3] = 0;
  }
  std::memcpy(out, src, 4);
  *written = pixels * 4;
  return S_OK;
}

HRESULT CTestTransform::Transform(IMediaSample* in, IMediaSample* out) {
  ++m_transforms;
  if (m_config.deferred) {
    // The work waits until somebody reads the output buffer.
    const LONG length = in->GetActualDataLength();
    const LONG expected = m_config.inputSubtype == m_config.outputSubtype ? length : length / 3 * 4;
    out->SetActualDataLength(std::min(expected, out->GetSize()));
    static_cast<CTestDeferredSample*>(out)->Attach(in);
    return S_OK;
  }
  BYTE* dst = nullptr;
  HRESULT hr = out->GetPointer(&dst);
  if (FAILED(hr)) return hr;
  LONG written = 0;
  hr = Convert(in, dst, out->GetSize(), &written);
  if (FAILED(hr)) return hr;
  return out->SetActualDataLength(written);
}

HRESULT CTestTransform::StartStreaming() {
  ++m_starts;
  return S_OK;
}

HRESULT CTestTransform::StopStreaming() { return S_OK; }

}  // namespace tavtest
