#include "libs/vxvideokit/resizerfilter.h"

#include <algorithm>

#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kVideoKit, "resizer");

namespace {

BITMAPINFOHEADER* MutableVideoInfoHeader(AM_MEDIA_TYPE& mt) {
  if (!mt.pbFormat || mt.formattype != FORMAT_VideoInfo || mt.cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
  return &reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
}

}  // namespace

CResizerFilter::CResizerFilter(LPCTSTR name, LPUNKNOWN outer, REFCLSID clsid) : CTransformFilter(name, outer, clsid) {}

HRESULT CResizerFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IResizerControl) return GetInterface(static_cast<IResizerControl*>(this), ppv);
  return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

// ---- negotiation ---------------------------------------------------------------------------

HRESULT CResizerFilter::CheckVideoInput(const CMediaType* in) {
  if (!in) return E_POINTER;
  if (in->majortype != MEDIATYPE_Video) return E_FAIL;
  CAutoLock lock(&m_csFilter);
  if (in->subtype != m_configured.subtype) return E_FAIL;
  const BITMAPINFOHEADER* h = VideoBitmapHeader(*in);
  // Only bottom-up frames of a sensible size.
  if (!h || h->biWidth <= 0 || h->biHeight <= 0 || h->biWidth > vxvk::kMaxFrameSide ||
      h->biHeight > vxvk::kMaxFrameSide)
    return E_FAIL;
  return S_OK;
}

HRESULT CResizerFilter::CheckTransform(const CMediaType* in, const CMediaType* out) {
  if (!in || !out) return E_POINTER;
  if (CheckInputType(in) != S_OK) return E_FAIL;
  CAutoLock lock(&m_csFilter);
  if (out->majortype != m_configured.majortype || out->subtype != m_configured.subtype ||
      out->formattype != m_configured.formattype)
    return E_FAIL;
  const BITMAPINFOHEADER* want = VideoBitmapHeader(m_configured);
  const BITMAPINFOHEADER* got = VideoBitmapHeader(*out);
  if (!want || !got || got->biWidth != want->biWidth || got->biHeight != want->biHeight) return E_FAIL;
  return S_OK;
}

HRESULT CResizerFilter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  if (!allocator || !request) return E_POINTER;
  if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
  LONG size = 0;
  {
    CAutoLock lock(&m_csFilter);
    const BITMAPINFOHEADER* configured = VideoBitmapHeader(m_configured);
    if (!configured) return E_UNEXPECTED;
    size = LONG(configured->biSizeImage);
    // Never smaller than the frame the resize will write.
    if (const BITMAPINFOHEADER* out = VideoBitmapHeader(m_pOutput->CurrentMediaType()))
      size = std::max<LONG>(size, LONG(GetBitmapSize(out)));
  }
  request->cBuffers = 1;
  request->cbBuffer = size;
  if (request->cbAlign <= 0) request->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  if (actual.cBuffers < 1 || actual.cbBuffer < size) return E_FAIL;
  return S_OK;
}

HRESULT CResizerFilter::SetMediaType(PIN_DIRECTION dir, const CMediaType* mt) {
  if (!mt) return E_POINTER;
  CAutoLock lock(&m_csFilter);
  if (dir == PINDIR_INPUT)
    m_inputType = *mt;
  else
    m_outputType = *mt;
  return S_OK;
}

HRESULT CResizerFilter::BreakConnect(PIN_DIRECTION dir) {
  CAutoLock lock(&m_csFilter);
  if (dir == PINDIR_INPUT)
    m_inputType.InitMediaType();
  else
    m_outputType.InitMediaType();
  return CTransformFilter::BreakConnect(dir);
}

// ---- IResizerControl -----------------------------------------------------------------------

HRESULT CResizerFilter::GetOutputSize(int* height, int* width, int* mode) {
  TAV_TRACE("GetOutputSize(%p, %p, %p)", static_cast<void*>(height), static_cast<void*>(width),
            static_cast<void*>(mode));
  if (!height || !width || !mode) return E_POINTER;
  CAutoLock lock(&m_csFilter);
  const BITMAPINFOHEADER* h = VideoBitmapHeader(m_configured);
  if (!h) return E_UNEXPECTED;
  *height = h->biHeight;
  *width = h->biWidth;
  *mode = m_mode.load();
  return S_OK;
}

HRESULT CResizerFilter::GetInputSize(int* height, int* width) {
  TAV_TRACE("GetInputSize(%p, %p)", static_cast<void*>(height), static_cast<void*>(width));
  if (!height || !width) return E_POINTER;
  CAutoLock lock(&m_csFilter);
  const BITMAPINFOHEADER* h = VideoBitmapHeader(m_inputType);
  if (!h) return E_POINTER;
  *height = h->biHeight;
  *width = h->biWidth;
  return S_OK;
}

HRESULT CResizerFilter::SetOutputSize(int height, int width, int mode) {
  TAV_TRACE("SetOutputSize(%d, %d, %d)", height, width, mode);
  bool reconnect = false;
  {
    CAutoLock lock(&m_csFilter);
    BITMAPINFOHEADER* h = MutableVideoInfoHeader(m_configured);
    if (!h) return E_UNEXPECTED;
    if (height != h->biHeight || width != h->biWidth) {
      if (width <= 0 || height <= 0 || width > vxvk::kMaxFrameSide || height > vxvk::kMaxFrameSide)
        return E_INVALIDARG;
      // The new size is stored before the reconnection so that the output is renegotiated
      // at the new size, not the old one.
      h->biHeight = height;
      h->biWidth = width;
      h->biSizeImage = GetBitmapSize(h);
      m_configured.SetSampleSize(h->biSizeImage);
      reconnect = m_pOutput && m_pOutput->IsConnected();
    }
    m_mode.store(mode);
  }
  // Outside the filter lock: the graph reconnects through the pins, which take it.
  if (reconnect) return ReconnectPin(m_pOutput.get(), nullptr);
  return S_OK;
}

HRESULT CResizerFilter::GetOutputType(AM_MEDIA_TYPE* type) {
  TAV_TRACE("GetOutputType(%p)", static_cast<void*>(type));
  if (!type) return E_POINTER;
  CAutoLock lock(&m_csFilter);
  return CopyMediaType(type, &m_configured);
}

HRESULT CResizerFilter::SetOutputType(const AM_MEDIA_TYPE* type) {
  TAV_TRACE("SetOutputType(%p)", static_cast<const void*>(type));
  if (!type) return E_POINTER;
  CAutoLock lock(&m_csFilter);
  if ((m_pInput && m_pInput->IsConnected()) || (m_pOutput && m_pOutput->IsConnected()))
    return VFW_E_ALREADY_CONNECTED;
  if (type->majortype != MEDIATYPE_Video || type->formattype != FORMAT_VideoInfo || type->lSampleSize == 0 ||
      !type->pbFormat || type->cbFormat < sizeof(VIDEOINFOHEADER))
    return VFW_E_INVALID_MEDIA_TYPE;
  CMediaType copy;
  if (FAILED(copy.Set(*type))) return E_FAIL;
  m_configured = copy;
  if (!m_configured.IsValid()) return E_FAIL;
  return S_OK;
}
