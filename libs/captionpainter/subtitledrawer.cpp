#include "libs/captionpainter/subtitledrawer.h"

#include <cstring>
#include <new>

#include "media/contract/videoinfo.h"


namespace {

LONG Width(const RECT& r) { return r.right - r.left; }
LONG Height(const RECT& r) { return r.bottom - r.top; }

// Bitmap header (and masks) of a VIDEOINFOHEADER type, for the device-independent calls.
struct FrameInfo {
  BITMAPINFOHEADER header;
  DWORD masks[3];
};

bool FrameInfoOf(const AM_MEDIA_TYPE* type, FrameInfo* info) {
  const BITMAPINFOHEADER* h = type ? VideoBitmapHeader(*type) : nullptr;
  if (!h || h->biWidth <= 0 || h->biHeight == 0) return false;
  *info = FrameInfo{};
  info->header = *h;
  info->header.biSize = sizeof(BITMAPINFOHEADER);
  if (h->biCompression == BI_BITFIELDS && type->formattype == FORMAT_VideoInfo &&
      type->cbFormat >= sizeof(VIDEOINFOHEADER) + sizeof info->masks)
    std::memcpy(info->masks, type->pbFormat + sizeof(VIDEOINFOHEADER), sizeof info->masks);
  return true;
}

// Holds a lock that may be absent (a window source without a surface lock).
class OptionalLock {
 public:
  explicit OptionalLock(CCritSec* lock) : lock_(lock) {
    if (lock_) lock_->Lock();
  }
  ~OptionalLock() {
    if (lock_) lock_->Unlock();
  }
  OptionalLock(const OptionalLock&) = delete;
  OptionalLock& operator=(const OptionalLock&) = delete;

 private:
  CCritSec* lock_;
};

}  // namespace

CUnknown* CSubtitleDrawer::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* d = new (std::nothrow) CSubtitleDrawer(outer, phr);
  if (!d && phr) *phr = E_OUTOFMEMORY;
  return d;
}

CSubtitleDrawer::CSubtitleDrawer(LPUNKNOWN outer, HRESULT*) : CUnknown(NAME("VXCMN Subtitle Drawer"), outer) {
  m_plain.NotifyMediaType(&m_mediaType);
}

CSubtitleDrawer::~CSubtitleDrawer() {
  if (m_canvasDC) {
    SelectObject(m_canvasDC, m_canvasOld);
    DeleteDC(m_canvasDC);
  }
}

STDMETHODIMP CSubtitleDrawer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IFrameDrawer) return GetInterface(static_cast<IFrameDrawer*>(this), ppv);
  if (riid == IID_ISubtitleOverlay) return GetInterface(static_cast<ISubtitleOverlay*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

// ---- settings and geometry -------------------------------------------------------------------

void CSubtitleDrawer::RecomputeLocked() {
  // Until a canvas size is set the canvas is the frame's own size.
  int w = m_canvasWidth, h = m_canvasHeight;
  if (w <= 0 || h <= 0) {
    w = Width(m_source);
    h = Height(m_source);
  }
  m_geometry = ComputeDrawerGeometry(m_source, m_target, w, h, m_fit, m_manager.Get() != nullptr);
}

DrawerGeometry CSubtitleDrawer::Geometry() {
  CAutoLock lock(&m_Lock);
  return m_geometry;
}

STDMETHODIMP CSubtitleDrawer::SetWindowSource(IRendererWindow* window) {
  CAutoLock lock(&m_Lock);
  // Waits for a drawing under way: the old source may be going away.
  CAutoLock draw(&m_DrawLock);
  m_pWindow = window;
  m_surfaceLock = nullptr;
  // The lock lives as long as the source: no reference to it is kept.
  ComPtr<IRendererSurfaceLock> surface;
  if (window && SUCCEEDED(window->QueryInterface(IID_IRendererSurfaceLock, surface.AsVoidOut())) && surface)
    m_surfaceLock = surface->SurfaceLock();
  if (!window) m_plain.SetContexts(nullptr, nullptr);
  return S_OK;
}

STDMETHODIMP CSubtitleDrawer::SetDrawContext() {
  CAutoLock lock(&m_Lock);
  HDC window = nullptr, memory = nullptr;
  if (m_pWindow) {
    m_pWindow->GetWindowDC(&window);
    m_pWindow->GetMemoryDC(&memory);
  }
  CAutoLock draw(&m_DrawLock);
  m_plain.SetContexts(window, memory);
  return S_OK;
}

HRESULT CSubtitleDrawer::SetRectangle(RECT* field, const RECT* rect) {
  if (!rect) return E_POINTER;
  CAutoLock lock(&m_Lock);
  *field = *rect;
  RecomputeLocked();
  return S_OK;
}

STDMETHODIMP CSubtitleDrawer::SetSourceRect(const RECT* rect) { return SetRectangle(&m_source, rect); }
STDMETHODIMP CSubtitleDrawer::SetTargetRect(const RECT* rect) { return SetRectangle(&m_target, rect); }

STDMETHODIMP CSubtitleDrawer::GetSourceRect(RECT* rect) {
  return ReadLocked(&m_Lock, rect, [this] { return m_source; });
}

STDMETHODIMP CSubtitleDrawer::GetTargetRect(RECT* rect) {
  return ReadLocked(&m_Lock, rect, [this] { return m_target; });
}

STDMETHODIMP CSubtitleDrawer::CopyRect(const RECT* in, RECT* out) {
  if (!in || !out) return E_POINTER;
  *out = *in;
  return S_OK;
}

STDMETHODIMP CSubtitleDrawer::GetPaletteVersion(int* version) {
  return ReadLocked(&m_DrawLock, version, [this] { return int(m_plain.GetPaletteVersion()); });
}

STDMETHODIMP CSubtitleDrawer::ResetPaletteVersion() {
  CAutoLock draw(&m_DrawLock);
  m_plain.ResetPaletteVersion();
  return S_OK;
}

STDMETHODIMP CSubtitleDrawer::IncrementPaletteVersion() {
  CAutoLock draw(&m_DrawLock);
  m_plain.IncrementPaletteVersion();
  return S_OK;
}

STDMETHODIMP CSubtitleDrawer::NotifyAllocator(BOOL usingImageAllocator) {
  CAutoLock draw(&m_DrawLock);
  m_plain.NotifyAllocator(usingImageAllocator);
  return S_OK;
}

STDMETHODIMP CSubtitleDrawer::NotifyMediaType(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  CAutoLock lock(&m_Lock);
  CAutoLock draw(&m_DrawLock);
  m_mediaType = *type;
  return S_OK;
}

STDMETHODIMP CSubtitleDrawer::UsingImageAllocator() {
  CAutoLock draw(&m_DrawLock);
  return m_plain.UsingImageAllocator() ? S_OK : S_FALSE;
}

STDMETHODIMP CSubtitleDrawer::SetTimeOffset(REFERENCE_TIME offset) {
  CAutoLock lock(&m_Lock);
  m_timeOffset = offset;
  return S_OK;
}

STDMETHODIMP CSubtitleDrawer::EnableSubtitles(BOOL enable) {
  CAutoLock lock(&m_Lock);
  m_enabled = enable;
  return S_OK;
}

STDMETHODIMP CSubtitleDrawer::SetManager(ISubtitleManager* manager) {
  CAutoLock lock(&m_Lock);
  m_manager = manager;
  RecomputeLocked();
  return S_OK;
}

STDMETHODIMP CSubtitleDrawer::GetManager(ISubtitleManager** manager) {
  CAutoLock lock(&m_Lock);
  return m_manager.CopyTo(manager);
}

STDMETHODIMP CSubtitleDrawer::SetCanvasSize(int width, int height) {
  CAutoLock lock(&m_Lock);
  SetDrawContext();
  m_canvasWidth = width > 0 ? width : 0;
  m_canvasHeight = height > 0 ? height : 0;
  RecomputeLocked();
  return S_OK;
}

STDMETHODIMP CSubtitleDrawer::SetFitMode(int mode) {
  CAutoLock lock(&m_Lock);
  m_fit = mode;
  RecomputeLocked();
  return S_OK;
}

STDMETHODIMP CSubtitleDrawer::Lock(BOOL lock) {
  if (lock)
    m_Lock.Lock();
  else if (m_Lock.IsLockedByMe())
    m_Lock.Unlock();
  else
    return E_UNEXPECTED;  // releasing a lock this thread does not hold
  return S_OK;
}

// ---- drawing --------------------------------------------------------------------------------------

CSubtitleDrawer::Settings CSubtitleDrawer::BeginDraw() {
  CAutoLock lock(&m_Lock);
  Settings s;
  s.enabled = m_enabled;
  s.manager = m_manager;
  s.geometry = m_geometry;
  s.canvasWidth = m_canvasWidth > 0 ? m_canvasWidth : Width(m_source);
  s.canvasHeight = m_canvasHeight > 0 ? m_canvasHeight : Height(m_source);
  s.source = m_source;
  s.target = m_target;
  s.offset = m_timeOffset;
  s.surfaceLock = m_surfaceLock;
  m_DrawLock.Lock();  // taken before m_Lock is given up, so settings and drawing stay in order
  return s;
}

bool CSubtitleDrawer::EnsureCanvasLocked(int width, int height) {
  if (width <= 0 || height <= 0) return false;
  if (m_canvas && m_canvasBitmapWidth == width && m_canvasBitmapHeight == height) return true;
  if (!m_canvasDC) {
    m_canvasDC = CreateCompatibleDC(nullptr);
    if (!m_canvasDC) return false;
  }
  if (m_canvas) {
    SelectObject(m_canvasDC, m_canvasOld);
    m_canvas.Reset();
  }
  m_canvas.Reset(CreateSurfaceBitmap(width, height));
  if (!m_canvas) return false;
  m_canvasOld = SelectObject(m_canvasDC, m_canvas.Get());
  m_canvasBitmapWidth = width;
  m_canvasBitmapHeight = height;
  return true;
}

void CSubtitleDrawer::FillCanvasBlackLocked(const Settings& s) {
  RECT all;
  SetRect(&all, 0, 0, s.canvasWidth, s.canvasHeight);
  FillRect(m_canvasDC, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

void CSubtitleDrawer::PresentCanvasLocked(const Settings& s, HDC dc, const RECT& target) {
  if (!dc || IsRectEmpty(&target)) return;
  OptionalLock surface(s.surfaceLock);
  if (Width(target) != s.canvasWidth || Height(target) != s.canvasHeight) {
    const int old = SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, target.left, target.top, Width(target), Height(target), m_canvasDC, 0, 0, s.canvasWidth,
               s.canvasHeight, SRCCOPY);
    SetStretchBltMode(dc, old);
  } else {
    BitBlt(dc, target.left, target.top, Width(target), Height(target), m_canvasDC, 0, 0, SRCCOPY);
  }
}

HRESULT CSubtitleDrawer::DrawComposedLocked(const Settings& s, IMediaSample* sample) {
  if (!EnsureCanvasLocked(s.canvasWidth, s.canvasHeight)) return E_OUTOFMEMORY;
  const DrawerGeometry& g = s.geometry;
  const RECT& dest = g.videoDest;
  // The frame leaves part of the canvas uncovered: that part must be black, not whatever the
  // previous frame's caption left there.
  RECT canvasRect;
  SetRect(&canvasRect, 0, 0, s.canvasWidth, s.canvasHeight);
  const bool coversCanvas = dest.left <= 0 && dest.top <= 0 && dest.right >= s.canvasWidth &&
                            dest.bottom >= s.canvasHeight;

  CImageSample* image = nullptr;
  if (m_plain.UsingImageAllocator()) {
    image = dynamic_cast<CImageSample*>(sample);
    if (image && !image->GetDIBData()->hBitmap) image = nullptr;
  }
  if (!IsRectEmpty(&dest) && image) {
    FillCanvasBlackLocked(s);
    HGDIOBJ previous = SelectObject(m_plain.MemoryDC(), image->GetDIBData()->hBitmap);
    if (previous) {
      if (g.scaleVideo) {
        const int old = SetStretchBltMode(m_canvasDC, COLORONCOLOR);
        StretchBlt(m_canvasDC, dest.left, dest.top, Width(dest), Height(dest), m_plain.MemoryDC(), s.source.left,
                   s.source.top, Width(s.source), Height(s.source), SRCCOPY);
        SetStretchBltMode(m_canvasDC, old);
      } else {
        BitBlt(m_canvasDC, dest.left, dest.top, Width(dest), Height(dest), m_plain.MemoryDC(), s.source.left,
               s.source.top, SRCCOPY);
      }
      SelectObject(m_plain.MemoryDC(), previous);
    }
  } else if (!IsRectEmpty(&dest)) {
    FrameInfo info;
    BYTE* bits = nullptr;
    if (!FrameInfoOf(&m_mediaType, &info) || FAILED(sample->GetPointer(&bits)) || !bits ||
        sample->GetActualDataLength() < LONG(GetBitmapSize(&info.header))) {
      FillCanvasBlackLocked(s);  // a frame that cannot be read shows as black
    } else {
      const auto* bmi = reinterpret_cast<const BITMAPINFO*>(&info);
      if (g.scaleVideo || !coversCanvas) FillCanvasBlackLocked(s);
      const int old = SetStretchBltMode(m_canvasDC, COLORONCOLOR);
      // Source coordinates are picture coordinates: the top row shown is y = 0 whatever
      // the frame's row order.
      StretchDIBits(m_canvasDC, dest.left, dest.top, Width(dest), Height(dest), s.source.left, s.source.top,
                    Width(s.source), Height(s.source), bits, bmi, DIB_RGB_COLORS, SRCCOPY);
      SetStretchBltMode(m_canvasDC, old);
    }
  } else {
    FillCanvasBlackLocked(s);  // no picture: black and captions only
  }

  if (s.enabled && s.manager) {
    REFERENCE_TIME start = 0, stop = 0;
    sample->GetTime(&start, &stop);
    const REFERENCE_TIME time = REFERENCE_TIME(uint64_t(start) + uint64_t(s.offset));
    s.manager->DrawOnDC(m_canvasDC, time, &canvasRect);
  }
  PresentCanvasLocked(s, m_plain.WindowDC(), s.target);
  return S_OK;
}

STDMETHODIMP CSubtitleDrawer::DrawImage(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  Settings s = BeginDraw();
  HRESULT hr = S_OK;
  if (s.geometry.compose) {
    hr = DrawComposedLocked(s, sample);
  } else {
    OptionalLock surface(s.surfaceLock);
    m_plain.SetSourceRect(&s.source);
    m_plain.SetTargetRect(&s.target);
    hr = m_plain.DrawImage(sample) ? S_OK : S_FALSE;
  }
  GdiFlush();
  m_DrawLock.Unlock();
  return hr;
}

STDMETHODIMP CSubtitleDrawer::DrawTo(HDC dc, IMediaSample* sample, const RECT* source, const RECT* target) {
  if (!dc || !sample) return E_POINTER;
  Settings s = BeginDraw();
  const BOOL drawn = m_plain.DrawVideoImageHere(dc, sample, source ? source : &s.source, target ? target : &s.target);
  m_DrawLock.Unlock();
  return drawn ? S_OK : S_FALSE;
}

STDMETHODIMP CSubtitleDrawer::DrawFrame(HDC dc, const RECT* target, const AM_MEDIA_TYPE* type, void*, const BYTE* bits,
                                        REFERENCE_TIME time) {
  if (!type || !bits) return E_POINTER;
  FrameInfo info;
  if (!FrameInfoOf(type, &info)) return E_INVALIDARG;
  Settings s = BeginDraw();
  HDC out = dc ? dc : m_plain.WindowDC();
  const RECT to = target ? *target : s.target;
  const LONG frameWidth = info.header.biWidth;
  const LONG frameHeight = info.header.biHeight < 0 ? -info.header.biHeight : info.header.biHeight;
  if (s.canvasWidth <= 0 || s.canvasHeight <= 0) {
    // Neither a canvas nor a connected frame size yet: the frame is the canvas.
    RECT frame;
    SetRect(&frame, 0, 0, frameWidth, frameHeight);
    s.canvasWidth = frameWidth;
    s.canvasHeight = frameHeight;
    s.geometry = ComputeDrawerGeometry(frame, to, frameWidth, frameHeight, 0, s.manager.Get() != nullptr);
  }
  if (!EnsureCanvasLocked(s.canvasWidth, s.canvasHeight)) {
    m_DrawLock.Unlock();
    return E_OUTOFMEMORY;
  }
  const RECT& dest = s.geometry.videoDest;
  const auto* bmi = reinterpret_cast<const BITMAPINFO*>(&info);
  const bool coversCanvas = dest.left <= 0 && dest.top <= 0 && dest.right >= s.canvasWidth &&
                            dest.bottom >= s.canvasHeight;
  if (IsRectEmpty(&dest)) {
    FillCanvasBlackLocked(s);
  } else if (frameWidth == Width(dest) && frameHeight == Height(dest)) {
    if (!coversCanvas) FillCanvasBlackLocked(s);
    SetDIBitsToDevice(m_canvasDC, dest.left, dest.top, DWORD(frameWidth), DWORD(frameHeight), 0, 0, 0,
                      UINT(frameHeight), bits, bmi, DIB_RGB_COLORS);
  } else {
    FillCanvasBlackLocked(s);
    const int old = SetStretchBltMode(m_canvasDC, COLORONCOLOR);
    StretchDIBits(m_canvasDC, dest.left, dest.top, Width(dest), Height(dest), 0, 0, frameWidth, frameHeight, bits,
                  bmi, DIB_RGB_COLORS, SRCCOPY);
    SetStretchBltMode(m_canvasDC, old);
  }
  if (s.enabled && s.manager) {
    RECT canvasRect;
    SetRect(&canvasRect, 0, 0, s.canvasWidth, s.canvasHeight);
    s.manager->DrawOnDC(m_canvasDC, time, &canvasRect);
  }
  PresentCanvasLocked(s, out, to);
  GdiFlush();
  m_DrawLock.Unlock();
  return S_OK;
}

// The drawer is a plain component object: no filter data.
const AMOVIESETUP_FILTER* const sudSubtitleDrawer = nullptr;
