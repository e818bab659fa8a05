#include "platform/streaming/base/winutil.h"

#include <cstring>

#include "media/contract/videoinfo.h"



namespace {

LONG Width(const RECT& r) { return r.right - r.left; }
LONG Height(const RECT& r) { return r.bottom - r.top; }

// The standard masks of the 16- and 32-bit formats.
const DWORD kMasks555[3] = {0x7C00, 0x03E0, 0x001F};
const DWORD kMasks565[3] = {0xF800, 0x07E0, 0x001F};
const DWORD kMasks888[3] = {0xFF0000, 0x00FF00, 0x0000FF};

bool SameMasks(const DWORD* a, const DWORD* b) { return std::memcmp(a, b, 3 * sizeof(DWORD)) == 0; }

// A BITMAPINFO big enough for a header and three masks.
struct HeaderWithMasks {
  BITMAPINFOHEADER header;
  DWORD masks[3];
};

}  // namespace

// ---- CImageDisplay -----------------------------------------------------------------------------

HRESULT CImageDisplay::CheckMediaType(const CMediaType* mt) {
  if (!mt || mt->majortype != MEDIATYPE_Video || mt->formattype != FORMAT_VideoInfo) return E_INVALIDARG;
  if (mt->cbFormat < sizeof(VIDEOINFOHEADER) || !mt->pbFormat) return E_INVALIDARG;
  const auto* vi = reinterpret_cast<const VIDEOINFO*>(mt->pbFormat);
  const WORD bits = vi->bmiHeader.biBitCount;
  const GUID& s = mt->subtype;
  const bool subtypeAgrees = (s == MEDIASUBTYPE_RGB32 && bits == 32) || (s == MEDIASUBTYPE_RGB24 && bits == 24) ||
                             ((s == MEDIASUBTYPE_RGB565 || s == MEDIASUBTYPE_RGB555) && bits == 16);
  if (!subtypeAgrees) return E_INVALIDARG;
  // Bit fields follow the header: the block must hold them.
  if (vi->bmiHeader.biCompression == BI_BITFIELDS && mt->cbFormat < sizeof(VIDEOINFOHEADER) + 3 * sizeof(DWORD))
    return E_INVALIDARG;
  if (FAILED(CheckVideoType(vi))) return E_INVALIDARG;
  // The subtype names the masks of a 16-bit format.
  if (bits == 16 && vi->bmiHeader.biCompression == BI_BITFIELDS) {
    const DWORD* masks = GetBitMasks(vi);
    if (s == MEDIASUBTYPE_RGB565 ? !SameMasks(masks, kMasks565) : !SameMasks(masks, kMasks555)) return E_INVALIDARG;
  } else if (bits == 16 && s == MEDIASUBTYPE_RGB565) {
    return E_INVALIDARG;  // 5-6-5 needs its masks spelled out
  }
  return S_OK;
}

HRESULT CImageDisplay::CheckVideoType(const VIDEOINFO* input) {
  if (!input) return E_INVALIDARG;
  if (IsPalettised(input)) return E_INVALIDARG;  // the display has no palette
  if (!CheckHeaderValidity(input)) return E_INVALIDARG;
  const WORD bits = input->bmiHeader.biBitCount;
  if (bits != 16 && bits != 24 && bits != 32) return E_INVALIDARG;
  if (input->bmiHeader.biCompression == BI_BITFIELDS) {
    if (bits == 24 || !CheckBitFields(input)) return E_INVALIDARG;
    const DWORD* masks = GetBitMasks(input);
    if (bits == 32 ? !SameMasks(masks, kMasks888) : !SameMasks(masks, kMasks555) && !SameMasks(masks, kMasks565))
      return E_INVALIDARG;
  }
  return S_OK;
}

BOOL CImageDisplay::CheckHeaderValidity(const VIDEOINFO* input) {
  if (!input) return FALSE;
  const BITMAPINFOHEADER& h = input->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER)) return FALSE;
  if (h.biPlanes != 1) return FALSE;
  if (h.biWidth <= 0 || h.biHeight == 0) return FALSE;
  if (h.biCompression != BI_RGB && h.biCompression != BI_BITFIELDS) return FALSE;
  if (h.biClrUsed > 256 || h.biClrImportant > 256) return FALSE;
  // An image size that is given must hold the picture.
  if (h.biSizeImage != 0) {
    const LONGLONG rows = h.biHeight < 0 ? -LONGLONG(h.biHeight) : LONGLONG(h.biHeight);
    if (LONGLONG(h.biSizeImage) < LONGLONG(DIBWIDTHBYTES(h)) * rows) return FALSE;
  }
  return TRUE;
}

BOOL CImageDisplay::CheckBitFields(const VIDEOINFO* input) {
  const DWORD* masks = GetBitMasks(input);
  if (!masks) return FALSE;
  DWORD all = 0;
  for (int i = 0; i < 3; ++i) {
    DWORD m = masks[i];
    if (m == 0 || (all & m)) return FALSE;
    all |= m;
    // One contiguous run: shifting out the trailing zeros leaves 2^n - 1.
    while (!(m & 1)) m >>= 1;
    if (m & (m + 1)) return FALSE;
  }
  return TRUE;
}

const DWORD* CImageDisplay::GetBitMasks(const VIDEOINFO* input) {
  if (!input) return nullptr;
  if (input->bmiHeader.biCompression == BI_BITFIELDS) return input->dwBitMasks;
  switch (input->bmiHeader.biBitCount) {
    case 16: return kMasks555;
    case 24:
    case 32: return kMasks888;
  }
  return nullptr;
}

// ---- CDrawImage ----------------------------------------------------------------------------------

CDrawImage::CDrawImage(CBaseWindow* window) : m_pBaseWindow(window) {}

void CDrawImage::SetDrawContext() {
  if (!m_pBaseWindow) return;
  m_hdc = m_pBaseWindow->GetWindowHDC();
  m_MemoryDC = m_pBaseWindow->GetMemoryHDC();
}

void CDrawImage::SetTargetRect(const RECT* rect) {
  if (!rect) return;
  m_TargetRect = *rect;
  SetStretchMode();
}

void CDrawImage::GetTargetRect(RECT* rect) const {
  if (rect) *rect = m_TargetRect;
}

void CDrawImage::SetSourceRect(const RECT* rect) {
  if (!rect) return;
  m_SourceRect = *rect;
  SetStretchMode();
}

void CDrawImage::GetSourceRect(RECT* rect) const {
  if (rect) *rect = m_SourceRect;
}

void CDrawImage::SetStretchMode() {
  m_bStretch = Width(m_SourceRect) != Width(m_TargetRect) || Height(m_SourceRect) != Height(m_TargetRect);
}

const BITMAPINFOHEADER* CDrawImage::Header() const {
  return m_pMediaType ? VideoBitmapHeader(*m_pMediaType) : nullptr;
}

BOOL CDrawImage::DrawImage(IMediaSample* sample) {
  const BOOL drawn = DrawVideoImageHere(m_hdc, sample, nullptr, nullptr);
  GdiFlush();
  return drawn;
}

BOOL CDrawImage::DrawVideoImageHere(HDC dc, IMediaSample* sample, const RECT* source, const RECT* target) {
  if (!dc || !sample) return FALSE;
  const RECT& src = source ? *source : m_SourceRect;
  const RECT& dst = target ? *target : m_TargetRect;
  if (IsRectEmpty(&src) || IsRectEmpty(&dst)) return FALSE;
  // A sample of the image allocator carries its own section bitmap.
  CImageSample* image = nullptr;
  if (m_bUsingImageAllocator) {
    image = dynamic_cast<CImageSample*>(sample);
    if (image && !image->GetDIBData()->hBitmap) image = nullptr;
  }
  if (image)
    FastRender(dc, sample, src, dst);
  else
    SlowRender(dc, sample, src, dst);
  return TRUE;
}

void CDrawImage::FastRender(HDC dc, IMediaSample* sample, const RECT& source, const RECT& target) {
  DIBDATA* dib = static_cast<CImageSample*>(sample)->GetDIBData();
  HGDIOBJ previous = SelectObject(m_MemoryDC, dib->hBitmap);
  if (!previous) return;
  if (Width(source) != Width(target) || Height(source) != Height(target)) {
    const int oldMode = SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, target.left, target.top, Width(target), Height(target), m_MemoryDC, source.left, source.top,
               Width(source), Height(source), SRCCOPY);
    SetStretchBltMode(dc, oldMode);
  } else {
    BitBlt(dc, target.left, target.top, Width(target), Height(target), m_MemoryDC, source.left, source.top, SRCCOPY);
  }
  SelectObject(m_MemoryDC, previous);
  dib->bSyncSample = TRUE;
}

void CDrawImage::SlowRender(HDC dc, IMediaSample* sample, const RECT& source, const RECT& target) {
  const BITMAPINFOHEADER* h = Header();
  BYTE* bits = nullptr;
  if (!h || FAILED(sample->GetPointer(&bits)) || !bits) return;
  if (sample->GetActualDataLength() < LONG(GetBitmapSize(h))) return;  // a short frame draws nothing
  HeaderWithMasks info{};
  info.header = *h;
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  if (h->biCompression == BI_BITFIELDS && m_pMediaType->formattype == FORMAT_VideoInfo &&
      m_pMediaType->cbFormat >= sizeof(VIDEOINFOHEADER) + sizeof info.masks)
    std::memcpy(info.masks, m_pMediaType->pbFormat + sizeof(VIDEOINFOHEADER), sizeof info.masks);
  const auto* bmi = reinterpret_cast<const BITMAPINFO*>(&info);
  if (Width(source) != Width(target) || Height(source) != Height(target)) {
    const int oldMode = SetStretchBltMode(dc, HALFTONE);
    StretchDIBits(dc, target.left, target.top, Width(target), Height(target), source.left, source.top, Width(source),
                  Height(source), bits, bmi, DIB_RGB_COLORS, SRCCOPY);
    SetStretchBltMode(dc, oldMode);
  } else {
    // Picture coordinates: y counts from the top row shown whatever the row order.
    StretchDIBits(dc, target.left, target.top, Width(target), Height(target), source.left, source.top, Width(source),
                  Height(source), bits, bmi, DIB_RGB_COLORS, SRCCOPY);
  }
}

// ---- CBaseControlVideo ---------------------------------------------------------------------------

CBaseControlVideo::CBaseControlVideo(CBaseFilter* filter, CCritSec* lock, LPCTSTR name, LPUNKNOWN owner, HRESULT*)
    : CUnknown(name, owner), m_pFilter(filter), m_pInterfaceLock(lock) {}

STDMETHODIMP CBaseControlVideo::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IBasicVideo) return GetInterface(static_cast<IBasicVideo*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseControlVideo::CheckConnected() {
  return m_pPin && m_pPin->IsConnected() ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseControlVideo::CheckSourceRect(const RECT* rect) {
  LONG w = 0, h = 0;
  const HRESULT hr = GetVideoSize(&w, &h);
  if (FAILED(hr)) return hr;
  if (rect->left < 0 || rect->top < 0 || rect->right > w || rect->bottom > h) return E_INVALIDARG;
  if (Width(*rect) <= 0 || Height(*rect) <= 0) return E_INVALIDARG;
  return S_OK;
}

HRESULT CBaseControlVideo::CheckTargetRect(const RECT* rect) {
  return Width(*rect) <= 0 || Height(*rect) <= 0 ? E_INVALIDARG : S_OK;
}

template <class Call>
HRESULT CBaseControlVideo::Locked(Call call) {
  CAutoLock lock(m_pInterfaceLock);
  const HRESULT hr = CheckConnected();
  return FAILED(hr) ? hr : call();
}

template <class T, class Read>
HRESULT CBaseControlVideo::ReadFormat(T* out, Read read) {
  if (!out) return E_POINTER;
  return Locked([&] {
    const VIDEOINFOHEADER* vih = GetVideoFormat();
    if (!vih) return VFW_E_NOT_CONNECTED;
    *out = read(*vih);
    return S_OK;
  });
}

STDMETHODIMP CBaseControlVideo::get_AvgTimePerFrame(REFTIME* time) {
  return ReadFormat(time, [](const VIDEOINFOHEADER& vih) { return double(vih.AvgTimePerFrame) / 1e7; });
}

STDMETHODIMP CBaseControlVideo::get_BitRate(LONG* rate) {
  return ReadFormat(rate, [](const VIDEOINFOHEADER& vih) { return LONG(vih.dwBitRate); });
}

STDMETHODIMP CBaseControlVideo::get_BitErrorRate(LONG* rate) {
  return ReadFormat(rate, [](const VIDEOINFOHEADER& vih) { return LONG(vih.dwBitErrorRate); });
}

STDMETHODIMP CBaseControlVideo::get_VideoWidth(LONG* width) {
  LONG h;
  return width ? GetVideoSize(width, &h) : E_POINTER;
}

STDMETHODIMP CBaseControlVideo::get_VideoHeight(LONG* height) {
  LONG w;
  return height ? GetVideoSize(&w, height) : E_POINTER;
}

STDMETHODIMP CBaseControlVideo::GetVideoSize(LONG* width, LONG* height) {
  if (!width || !height) return E_POINTER;
  return Locked([&] {
    const VIDEOINFOHEADER* vih = GetVideoFormat();
    if (!vih) return VFW_E_NOT_CONNECTED;
    *width = vih->bmiHeader.biWidth;
    *height = vih->bmiHeader.biHeight < 0 ? -vih->bmiHeader.biHeight : vih->bmiHeader.biHeight;
    return S_OK;
  });
}

// One field of the source or destination rectangle, read or written through the whole.
#define TAV_CV_RECT_FIELD(Name, Get, Set, field)                      \
  STDMETHODIMP CBaseControlVideo::put_##Name(LONG v) {                \
    LONG l, t, w, h;                                                   \
    HRESULT hr = Get(&l, &t, &w, &h);                                  \
    if (FAILED(hr)) return hr;                                         \
    field = v;                                                         \
    return Set(l, t, w, h);                                            \
  }                                                                    \
  STDMETHODIMP CBaseControlVideo::get_##Name(LONG* v) {               \
    if (!v) return E_POINTER;                                          \
    LONG l, t, w, h;                                                   \
    HRESULT hr = Get(&l, &t, &w, &h);                                  \
    if (FAILED(hr)) return hr;                                         \
    *v = field;                                                        \
    return S_OK;                                                       \
  }
TAV_CV_RECT_FIELD(SourceLeft, GetSourcePosition, SetSourcePosition, l)
TAV_CV_RECT_FIELD(SourceTop, GetSourcePosition, SetSourcePosition, t)
TAV_CV_RECT_FIELD(SourceWidth, GetSourcePosition, SetSourcePosition, w)
TAV_CV_RECT_FIELD(SourceHeight, GetSourcePosition, SetSourcePosition, h)
TAV_CV_RECT_FIELD(DestinationLeft, GetDestinationPosition, SetDestinationPosition, l)
TAV_CV_RECT_FIELD(DestinationTop, GetDestinationPosition, SetDestinationPosition, t)
TAV_CV_RECT_FIELD(DestinationWidth, GetDestinationPosition, SetDestinationPosition, w)
TAV_CV_RECT_FIELD(DestinationHeight, GetDestinationPosition, SetDestinationPosition, h)
#undef TAV_CV_RECT_FIELD

HRESULT CBaseControlVideo::SetPosition(RectCheck check, RectAccess set, LONG left, LONG top, LONG width,
                                       LONG height) {
  return Locked([&] {
    RECT r;
    SetRect(&r, left, top, left + width, top + height);
    HRESULT hr = (this->*check)(&r);
    if (FAILED(hr)) return hr;
    hr = (this->*set)(&r);
    return FAILED(hr) ? hr : OnUpdateRectangles();
  });
}

HRESULT CBaseControlVideo::GetPosition(RectAccess get, LONG* left, LONG* top, LONG* width, LONG* height) {
  if (!left || !top || !width || !height) return E_POINTER;
  return Locked([&] {
    RECT r{};
    const HRESULT hr = (this->*get)(&r);
    if (FAILED(hr)) return hr;
    *left = r.left;
    *top = r.top;
    *width = Width(r);
    *height = Height(r);
    return S_OK;
  });
}

HRESULT CBaseControlVideo::SetDefaultPosition(RectDefault setDefault) {
  return Locked([&] {
    const HRESULT hr = (this->*setDefault)();
    return FAILED(hr) ? hr : OnUpdateRectangles();
  });
}

STDMETHODIMP CBaseControlVideo::SetSourcePosition(LONG left, LONG top, LONG width, LONG height) {
  return SetPosition(&CBaseControlVideo::CheckSourceRect, &CBaseControlVideo::SetSourceRect, left, top, width, height);
}

STDMETHODIMP CBaseControlVideo::GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  return GetPosition(&CBaseControlVideo::GetSourceRect, left, top, width, height);
}

STDMETHODIMP CBaseControlVideo::SetDefaultSourcePosition() {
  return SetDefaultPosition(&CBaseControlVideo::SetDefaultSourceRect);
}

STDMETHODIMP CBaseControlVideo::SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) {
  return SetPosition(&CBaseControlVideo::CheckTargetRect, &CBaseControlVideo::SetTargetRect, left, top, width, height);
}

STDMETHODIMP CBaseControlVideo::GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  return GetPosition(&CBaseControlVideo::GetTargetRect, left, top, width, height);
}

STDMETHODIMP CBaseControlVideo::SetDefaultDestinationPosition() {
  return SetDefaultPosition(&CBaseControlVideo::SetDefaultTargetRect);
}

STDMETHODIMP CBaseControlVideo::GetVideoPaletteEntries(LONG, LONG, LONG* retrieved, LONG* palette) {
  if (!retrieved) return E_POINTER;
  // Only RGB formats without a palette are drawn.
  return Locked([] { return VFW_E_NO_PALETTE_AVAILABLE; });
}

STDMETHODIMP CBaseControlVideo::GetCurrentImage(LONG* bufferSize, LONG* image) {
  if (!bufferSize) return E_POINTER;
  return Locked([&] { return GetStaticImage(bufferSize, image); });
}

STDMETHODIMP CBaseControlVideo::IsUsingDefaultSource() {
  return Locked([this] { return IsDefaultSourceRect(); });
}

STDMETHODIMP CBaseControlVideo::IsUsingDefaultDestination() {
  return Locked([this] { return IsDefaultTargetRect(); });
}
