#include "libs/vxvideokit/deferredresizer.h"

#include <cstdlib>
#include <new>

#include "libs/vxvideokit/nearestresize.h"
#include "libs/vxvideokit/videopins.h"
namespace {

// Whether resizing a frame of `src` into one of `dst` only copies its bytes, whatever the
// mode: the same width, height and bit count, in layouts the resize reads and writes.
bool IsPlainCopy(const BITMAPINFOHEADER& src, const BITMAPINFOHEADER& dst) {
  if ((src.biCompression != BI_RGB && src.biCompression != BI_BITFIELDS) || dst.biCompression != BI_RGB)
    return false;
  const WORD bits = src.biBitCount;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  return bits == dst.biBitCount && src.biWidth > 0 && src.biWidth == dst.biWidth && src.biHeight != 0 &&
         std::abs(src.biHeight) == std::abs(dst.biHeight);
}

// ---- pins ----------------------------------------------------------------------------------

class CDeferredInputPin final : public CTransformInputPin {
 public:
  CDeferredInputPin(CTransformFilter* filter, HRESULT* phr)
      : CTransformInputPin(NAME("deferred resizer input"), filter, phr, u"Input") {}
  // The input takes whatever buffers upstream has: no requirements of its own.
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
};

class CDeferredOutputPin final : public CTransformOutputPin {
 public:
  CDeferredOutputPin(CDeferredResizer* filter, HRESULT* phr)
      : CTransformOutputPin(NAME("deferred resizer output"), filter, phr, u"Output"), m_pResizer(filter) {}

  // Always the filter's own allocator: only its samples can resize on read.
  HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override {
    if (!pin || !allocator) return E_POINTER;
    *allocator = nullptr;
    ALLOCATOR_PROPERTIES request{};
    pin->GetAllocatorRequirements(&request);
    if (request.cbAlign == 0) request.cbAlign = 1;
    ComPtr<IMemAllocator> own(static_cast<IMemAllocator*>(m_pResizer->Allocator()));
    if (!own) return E_OUTOFMEMORY;
    HRESULT hr = DecideBufferSize(own.Get(), &request);
    if (FAILED(hr)) return hr;
    hr = pin->NotifyAllocator(own.Get(), FALSE);
    if (FAILED(hr)) return hr;
    *allocator = own.Detach();
    return S_OK;
  }

 private:
  CDeferredResizer* m_pResizer;
};

}  // namespace

// ---- CDeferredSample -----------------------------------------------------------------------

CDeferredSample::CDeferredSample(LPCTSTR name, CBaseAllocator* allocator, HRESULT* phr, LPBYTE buffer, LONG length)
    : CMediaSample(name, allocator, phr, buffer, length), m_pOwnBuffer(buffer), m_cbOwnBuffer(length) {}

HRESULT CDeferredSample::GetPointer(BYTE** buffer) {
  if (!buffer) return E_POINTER;
  CAutoLock lock(&m_sampleLock);
  if (m_pAttached && !m_bLent) {
    // Taken off first: whatever happens, the input sample is released exactly once.
    ComPtr<IMediaSample> input = std::move(m_pAttached);
    CDeferredResizer* filter = static_cast<DeferredMemAlloc*>(m_pAllocator)->Filter();
    if (!filter) return E_POINTER;
    if (FAILED(filter->ResizeInto(input.Get(), m_pBuffer, m_cbBuffer))) return E_FAIL;
  }
  return CMediaSample::GetPointer(buffer);
}

HRESULT CDeferredSample::AttachInput(IMediaSample* input) {
  CAutoLock lock(&m_sampleLock);
  if (m_pAttached) return E_FAIL;
  m_pAttached = input;
  return S_OK;
}

HRESULT CDeferredSample::LendInput(IMediaSample* input, BYTE* buffer, LONG bytes) {
  if (!input || !buffer || bytes < 0) return E_POINTER;
  CAutoLock lock(&m_sampleLock);
  if (m_pAttached) return E_FAIL;
  // The reference keeps the buffer from going back upstream while downstream reads it.
  m_pAttached = input;
  m_bLent = true;
  m_pBuffer = buffer;
  m_cbBuffer = bytes;
  return S_OK;
}

void CDeferredSample::ReleaseInputUnread() {
  ComPtr<IMediaSample> input;
  {
    CAutoLock lock(&m_sampleLock);
    input = std::move(m_pAttached);
    if (m_bLent) {
      m_pBuffer = m_pOwnBuffer;
      m_cbBuffer = m_cbOwnBuffer;
      m_bLent = false;
    }
  }
  // Released outside the lock: it goes back to the upstream allocator.
}

bool CDeferredSample::HasInput() {
  CAutoLock lock(&m_sampleLock);
  return bool(m_pAttached);
}

// ---- DeferredMemAlloc ----------------------------------------------------------------------

DeferredMemAlloc::DeferredMemAlloc(CDeferredResizer* filter, HRESULT* phr)
    : CMemAllocator(NAME("deferred resizer allocator"), nullptr, phr), m_pFilter(filter) {}

HRESULT DeferredMemAlloc::ReleaseBuffer(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  static_cast<CDeferredSample*>(static_cast<CMediaSample*>(sample))->ReleaseInputUnread();
  return CMemAllocator::ReleaseBuffer(sample);
}

CDeferredResizer* DeferredMemAlloc::Filter() {
  CAutoLock lock(&m_filterLock);
  return m_pFilter;
}

void DeferredMemAlloc::DetachFilter() {
  CAutoLock lock(&m_filterLock);
  m_pFilter = nullptr;
}

CMediaSample* DeferredMemAlloc::NewSample(LPBYTE buffer, LONG length, HRESULT* phr) {
  return new (std::nothrow) CDeferredSample(NAME("deferred sample"), this, phr, buffer, length);
}

// ---- the filter ----------------------------------------------------------------------------

CUnknown* CDeferredResizer::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  return vxvk::CreateFilterInstance<CDeferredResizer>(outer, phr);
}

CDeferredResizer::CDeferredResizer(LPUNKNOWN outer, HRESULT* phr)
    : CResizerFilter(NAME("VXCMN Deferred Resizer"), outer, CLSID_VxDeferredResizer) {
  HRESULT hr = S_OK;
  m_pDeferredAlloc = new (std::nothrow) DeferredMemAlloc(this, &hr);
  if (!m_pDeferredAlloc || FAILED(hr)) {
    delete m_pDeferredAlloc;  // not counted yet: nothing else holds it
    m_pDeferredAlloc = nullptr;
    if (phr) *phr = E_OUTOFMEMORY;
    return;
  }
  m_allocatorRef = static_cast<IMemAllocator*>(m_pDeferredAlloc);
}

CDeferredResizer::~CDeferredResizer() {
  // Samples still held downstream must not reach back into a deleted filter.
  if (m_pDeferredAlloc) m_pDeferredAlloc->DetachFilter();
}

CBasePin* CDeferredResizer::GetPin(int n) {
  CAutoLock lock(&m_csFilter);
  return MakePins(
      n, [this](HRESULT* hr) { return new (std::nothrow) CDeferredInputPin(this, hr); },
      [this](HRESULT* hr) { return new (std::nothrow) CDeferredOutputPin(this, hr); });
}

// ---- negotiation ---------------------------------------------------------------------------

HRESULT CDeferredResizer::CheckInputType(const CMediaType* in) {
  if (!in) return E_POINTER;
  if (in->formattype != FORMAT_VideoInfo && in->formattype != FORMAT_VideoInfo2) return E_FAIL;
  return CheckVideoInput(in);
}

HRESULT CDeferredResizer::GetMediaType(int position, CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
  if (position < 0) return E_INVALIDARG;
  CAutoLock lock(&m_csFilter);
  if (position == 0) {
    // A fixed default size, RGB32, offered before a size is set.
    constexpr LONG kDefaultOutputWidth = 320;
    constexpr LONG kDefaultOutputHeight = 240;
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Video);
    mt->SetSubtype(&MEDIASUBTYPE_RGB32);
    mt->SetFormatType(&FORMAT_VideoInfo);
    mt->SetTemporalCompression(FALSE);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (!vih) return E_OUTOFMEMORY;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = kDefaultOutputWidth;
    vih->bmiHeader.biHeight = kDefaultOutputHeight;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = 32;
    vih->bmiHeader.biCompression = BI_RGB;
    vih->bmiHeader.biSizeImage = GetBitmapSize(&vih->bmiHeader);
    mt->SetSampleSize(vih->bmiHeader.biSizeImage);
    return S_OK;
  }
  if (position == 1 && m_configured.IsValid()) {
    *mt = m_configured;
    return S_OK;
  }
  return VFW_S_NO_MORE_ITEMS;
}

// ---- streaming -----------------------------------------------------------------------------

HRESULT CDeferredResizer::Transform(IMediaSample* in, IMediaSample* out) {
  if (!in || !out) return E_POINTER;
  // Output samples come from the filter's own allocator, so they are deferred samples.
  auto* deferred = dynamic_cast<CDeferredSample*>(out);
  if (!deferred) return E_UNEXPECTED;
  out->SetPreroll(in->IsPreroll() == S_OK);
  const BITMAPINFOHEADER* h = VideoBitmapHeader(m_outputType);
  if (!h) return E_UNEXPECTED;
  const LONG frameBytes = LONG(GetBitmapSize(h));
  HRESULT hr = out->SetActualDataLength(frameBytes);
  if (FAILED(hr)) return hr;
  // A frame that already has the output's size and layout is handed on in its own buffer:
  // the resize would copy it row by row and change nothing. Nothing downstream of this
  // filter writes into the frames it receives in place (the subtitle filter draws into a
  // copy), and the upstream filter fills a fresh sample for every frame, so the buffer is
  // read-only for as long as it is lent. A short input buffer takes the ordinary path and
  // fails on read as before.
  const BITMAPINFOHEADER* src = VideoBitmapHeader(m_inputType);
  if (src && IsPlainCopy(*src, *h)) {
    BYTE* buffer = nullptr;
    const LONG bytes = in->GetSize();
    if (SUCCEEDED(in->GetPointer(&buffer)) && buffer && bytes >= frameBytes) {
      hr = deferred->LendInput(in, buffer, bytes);
      if (SUCCEEDED(hr)) ++m_lentCount;
      return hr;
    }
  }
  return deferred->AttachInput(in);
}

HRESULT CDeferredResizer::ResizeInto(IMediaSample* input, BYTE* out, LONG outBytes) {
  if (!input || !out) return E_POINTER;
  const BITMAPINFOHEADER* src = VideoBitmapHeader(m_inputType);
  const BITMAPINFOHEADER* dst = VideoBitmapHeader(m_outputType);
  if (!src || !dst) return E_FAIL;
  BYTE* in = nullptr;
  if (FAILED(input->GetPointer(&in)) || !in) return E_FAIL;
  const LONG inBytes = input->GetSize();
  if (inBytes <= 0 || outBytes <= 0) return E_FAIL;
  const HRESULT hr = vxvk::ResizeFrame(*src, in, size_t(inBytes), *dst, out, size_t(outBytes), m_mode.load());
  if (SUCCEEDED(hr)) ++m_resizeCount;
  return hr;
}

// ---- registration --------------------------------------------------------------------------

const AMOVIESETUP_FILTER sudDeferredResizer = {&CLSID_VxDeferredResizer, u"VXCMN Deferred Resizer", MERIT_DO_NOT_USE, 2,
                                               vxvk::kAnyVideoPins};
