#include "libs/captionparser/burninfilter.h"

#include <cstring>
#include <new>

#include "media/contract/mediatypes.h"
#include "media/contract/trace.h"
#include "media/contract/videoinfo.h"

TAV_TRACE_SOURCE(kCaptions, "burninfilter");

namespace {

bool IsRgbSubtype(const GUID& subtype) {
  return subtype == MEDIASUBTYPE_RGB32 || subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB555 ||
         subtype == MEDIASUBTYPE_RGB565;
}

}  // namespace

CBurnInFilter::CBurnInFilter(LPUNKNOWN outer) : CTransformFilter(NAME("Subtitle Filter"), outer, CLSID_SubtitleFilter) {}

CUnknown* CBurnInFilter::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* filter = new (std::nothrow) CBurnInFilter(outer);
  if (phr) *phr = filter ? S_OK : E_OUTOFMEMORY;
  return filter;
}

STDMETHODIMP CBurnInFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IBurnInFilter) return GetInterface(static_cast<IBurnInFilter*>(this), ppv);
  return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

// ---- negotiation ---------------------------------------------------------------------------

HRESULT CBurnInFilter::CheckInputType(const CMediaType* mtIn) {
  if (!mtIn) return E_POINTER;
  if (mtIn->majortype != MEDIATYPE_Video || !mtIn->bFixedSizeSamples || !IsRgbSubtype(mtIn->subtype))
    return E_INVALIDARG;
  const BITMAPINFOHEADER* header = VideoBitmapHeader(*mtIn);
  // Only bottom-up frames: the drawing works in the platform's bottom-up row order.
  if (!header || header->biHeight < 0) return E_INVALIDARG;
  return S_OK;
}

HRESULT CBurnInFilter::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
  if (!mtIn || !mtOut) return E_POINTER;
  if (FAILED(CheckInputType(mtIn)) || !(*mtIn == *mtOut)) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT CBurnInFilter::GetMediaType(int position, CMediaType* mt) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  if (!mt) return E_POINTER;
  if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
  *mt = m_pInput->CurrentMediaType();
  return S_OK;
}

HRESULT CBurnInFilter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) {
  if (!allocator || !props) return E_POINTER;
  const BITMAPINFOHEADER* header = VideoBitmapHeader(m_pOutput->CurrentMediaType());
  if (!header) return E_FAIL;
  const LONG rowBytes = LONG(DibStride(header->biWidth, header->biBitCount));
  const LONG height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
  // Twice the frame: room for a frame of the same width with a different row layout.
  props->cbBuffer = 2 * rowBytes * height;
  if (props->cBuffers < 1) props->cBuffers = 1;
  if (props->cbAlign < 1) props->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = allocator->SetProperties(props, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < props->cbBuffer ? E_FAIL : S_OK;
}

// ---- streaming -----------------------------------------------------------------------------

HRESULT CBurnInFilter::Transform(IMediaSample* in, IMediaSample* out) {
  CMediaType type;
  if (SampleMediaType(out, &type)) {
    const HRESULT hr = CheckTransform(&m_pInput->CurrentMediaType(), &type);
    if (FAILED(hr)) return hr;
    m_pOutput->SetMediaType(&type);
  }

  BYTE* src = nullptr;
  BYTE* dst = nullptr;
  if (FAILED(in->GetPointer(&src)) || FAILED(out->GetPointer(&dst))) return E_UNEXPECTED;
  const LONG length = in->GetActualDataLength();
  if (length < 0 || length > out->GetSize()) return VFW_E_BUFFER_OVERFLOW;
  std::memcpy(dst, src, size_t(length));
  out->SetActualDataLength(length);

  ComPtr<ISubtitleManager> manager;
  {
    CAutoLock lock(&m_csManager);
    manager = m_manager;
  }
  if (!manager) return S_OK;

  REFERENCE_TIME start = 0, stop = 0;
  // A sample without times is drawn at the segment start.
  if (FAILED(in->GetTime(&start, &stop))) start = 0;
  const REFERENCE_TIME mediaTime = start + m_pInput->CurrentStartTime();

  const BITMAPINFOHEADER* header = VideoBitmapHeader(m_pOutput->CurrentMediaType());
  // The manager writes a whole frame: a sample shorter than that must not be drawn into.
  if (header && LONG(GetBitmapSize(header)) > out->GetSize()) return VFW_E_INVALID_FILE_FORMAT;
  if (FAILED(manager->DrawOnBitmap(header, dst, mediaTime))) return VFW_E_INVALID_FILE_FORMAT;
  return S_OK;
}

// ---- IBurnInFilter -------------------------------------------------------------------------

STDMETHODIMP CBurnInFilter::GetManager(ISubtitleManager** manager) {
  if (!manager) return E_ABORT;
  CAutoLock lock(&m_csManager);
  *manager = m_manager.Get();
  if (*manager) (*manager)->AddRef();
  return S_OK;
}

STDMETHODIMP CBurnInFilter::SetManager(ISubtitleManager* manager) {
  if (!manager) return E_ABORT;
  TAV_TRACE("SetManager(%p)", static_cast<void*>(manager));
  ComPtr<ISubtitleManager> old;
  {
    CAutoLock lock(&m_csManager);
    old = m_manager;  // released after the new one is referenced, outside the lock
    m_manager = manager;
  }
  return S_OK;
}

// ---- registration --------------------------------------------------------------------------

namespace {
const AMOVIESETUP_MEDIATYPE kVideoAny[] = {{&MEDIATYPE_Video, &GUID_NULL}};
const AMOVIESETUP_PIN kPins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kVideoAny},
    {u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kVideoAny},
};
}  // namespace

const AMOVIESETUP_FILTER sudBurnInFilter = {&CLSID_SubtitleFilter, u"Subtitle Filter", MERIT_DO_NOT_USE, 2, kPins};
