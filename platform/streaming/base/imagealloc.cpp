#include "platform/streaming/base/imagealloc.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "media/contract/videoinfo.h"
#include "media/contract/wingdi.h"

CImageSample::CImageSample(CBaseAllocator* allocator, LPCTSTR name, HRESULT* phr, LPBYTE buffer, LONG length)
    : CMediaSample(name, allocator, phr, buffer, length) {}

CImageAllocator::CImageAllocator(CBaseFilter* filter, LPCTSTR name, HRESULT* phr)
    : CBaseAllocator(name, nullptr, phr), m_pFilter(filter) {}

CImageAllocator::~CImageAllocator() {
  CAutoLock lock(this);
  Free();
}

// Counted with the filter that owns it, as a pin is.
ULONG CImageAllocator::NonDelegatingAddRef() { return m_pFilter->AddRef(); }
ULONG CImageAllocator::NonDelegatingRelease() { return m_pFilter->Release(); }

void CImageAllocator::NotifyMediaType(const CMediaType* mt) {
  CAutoLock lock(this);
  if (mt) m_mtImage = *mt;
}

HRESULT CImageAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return E_POINTER;
  ALLOCATOR_PROPERTIES adjusted = *request;
  {
    CAutoLock lock(this);
    if (const BITMAPINFOHEADER* h = VideoBitmapHeader(m_mtImage)) {
      const LONG image = LONG(GetBitmapSize(h));
      if (adjusted.cbBuffer < image) adjusted.cbBuffer = image;
    }
  }
  if (adjusted.cBuffers < 1) adjusted.cBuffers = 1;
  adjusted.cbAlign = 1;
  adjusted.cbPrefix = 0;
  return CBaseAllocator::SetProperties(&adjusted, actual);
}

HRESULT CImageAllocator::CreateImageMemory(LONG size, DIBDATA* dib) {
  // An RGB image that fills the buffer exactly lives in a section bitmap, so a drawer can
  // blit it without converting.
  const BITMAPINFOHEADER& h = dib->header;
  const bool drawable = (h.biBitCount == 16 || h.biBitCount == 24 || h.biBitCount == 32) &&
                        (h.biCompression == BI_RGB || h.biCompression == BI_BITFIELDS) && h.biWidth > 0 &&
                        h.biHeight != 0 && h.biPlanes == 1;
  if (drawable && LONG(GetBitmapSize(&h)) == size) {
    struct {
      BITMAPINFOHEADER header;
      DWORD masks[3];
    } info{};
    info.header = h;
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    if (h.biCompression == BI_BITFIELDS) {
      const BYTE* format = m_mtImage.pbFormat;
      if (m_mtImage.formattype == FORMAT_VideoInfo && m_mtImage.cbFormat >= sizeof(VIDEOINFOHEADER) + sizeof info.masks)
        std::memcpy(info.masks, format + sizeof(VIDEOINFOHEADER), sizeof info.masks);
    }
    void* bits = nullptr;
    tav::GdiObjectPtr<HBITMAP> bitmap(CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&info),
                                                       DIB_RGB_COLORS, &bits, nullptr, 0));
    if (bitmap && bits) {
      dib->hBitmap = bitmap.Release();  // FreeImageMemory deletes it
      dib->pBase = static_cast<BYTE*>(bits);
      dib->cbImage = size;
      return S_OK;
    }
  }
  dib->pBase = static_cast<BYTE*>(std::calloc(1, size_t(size)));
  if (!dib->pBase) return E_OUTOFMEMORY;
  dib->cbImage = size;
  return S_OK;
}

// DIBDATA is the plain structure the drawing code reads; the section it names is freed
// here, when its sample goes.
void CImageAllocator::FreeImageMemory(DIBDATA* dib) {
  if (dib->hBitmap) {
    DeleteObject(dib->hBitmap);  // DIBDATA holds the section as a plain handle
    dib->hBitmap = nullptr;
    dib->pBase = nullptr;
    return;
  }
  std::free(dib->pBase);
  dib->pBase = nullptr;
}

HRESULT CImageAllocator::Alloc() {
  HRESULT hr = CBaseAllocator::Alloc();
  if (FAILED(hr)) return hr;
  if (m_lAllocated && !m_bChanged) return S_OK;
  Free();
  const BITMAPINFOHEADER* h = VideoBitmapHeader(m_mtImage);
  for (LONG i = 0; i < m_lCount; ++i) {
    DIBDATA dib;
    if (h) {
      dib.header = *h;
      dib.lStride = LONG(DIBWIDTHBYTES(*h));
    }
    hr = CreateImageMemory(m_lSize, &dib);
    if (FAILED(hr)) {
      Free();
      return hr;
    }
    hr = S_OK;
    auto* s = new (std::nothrow) CImageSample(this, NAME("image sample"), &hr, dib.pBase, m_lSize);
    if (!s || FAILED(hr)) {
      delete s;  // not counted yet: nothing else holds it
      FreeImageMemory(&dib);
      Free();
      return FAILED(hr) ? hr : E_OUTOFMEMORY;
    }
    s->SetDIBData(dib);
    m_lFree.Add(s);
    ++m_lAllocated;
  }
  m_bChanged = FALSE;
  return S_OK;
}

void CImageAllocator::Free() {
  while (CMediaSample* s = m_lFree.RemoveHead()) {
    auto* image = static_cast<CImageSample*>(s);
    FreeImageMemory(image->GetDIBData());
    delete image;  // the allocator owns its samples: their last Release only hands them back
    --m_lAllocated;
  }
}
