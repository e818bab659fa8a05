#include "platform/filters/renderers/videorenderer.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "media/contract/window.h"
#include "media/contract/wingdi.h"
#include "platform/filters/avcodecutil.h"
#include "platform/runtime/trace.h"

TAV_TRACE_SOURCE(kFilters, "videorenderer");

namespace tav::filters {

namespace {

LONG Width(const RECT& r) { return r.right - r.left; }
LONG Height(const RECT& r) { return r.bottom - r.top; }

// A 32-bit top-down section bitmap, black.
HBITMAP MakeSurface(LONG width, LONG height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
}

}  // namespace

bool ReadWindowSurface(HWND window, WindowSurface* out) {
  HBITMAP surface = tav::GetWindowSurface(window);
  DIBSECTION ds{};
  if (!surface || GetObject(surface, sizeof ds, &ds) != int(sizeof ds) || !ds.dsBm.bmBits || ds.dsBm.bmBitsPixel != 32)
    return false;
  out->width = ds.dsBm.bmWidth;
  out->height = ds.dsBm.bmHeight;
  out->pixels.resize(size_t(out->width) * size_t(out->height));
  const bool bottomUp = ds.dsBmih.biHeight > 0;
  const auto* bits = static_cast<const BYTE*>(ds.dsBm.bmBits);
  for (LONG y = 0; y < out->height; ++y)
    std::memcpy(out->pixels.data() + size_t(y) * size_t(out->width),
                bits + size_t(bottomUp ? out->height - 1 - y : y) * size_t(ds.dsBm.bmWidthBytes), size_t(out->width) * 4);
  return true;
}

CVideoRenderer::CVideoRenderer(REFCLSID clsid, LPUNKNOWN outer, HRESULT* phr)
    : CBaseVideoRenderer(clsid, NAME("Video Renderer"), outer, phr) {}

CVideoRenderer::~CVideoRenderer() {
  CAutoLock frame(&frameLock_);
  DropOwnSurfaceLocked();
}

void CVideoRenderer::DropOwnSurfaceLocked() {
  if (!ownSurface_) return;
  if (tav::GetWindowSurface(ownSurfaceWindow_) == ownSurface_) tav::SetWindowSurface(ownSurfaceWindow_, nullptr);
  DeleteObject(ownSurface_);
  ownSurface_ = nullptr;
  ownSurfaceWindow_ = nullptr;
}

CUnknown* CVideoRenderer::CreateVideoRenderer(LPUNKNOWN outer, HRESULT* phr) {
  auto* f = new (std::nothrow) CVideoRenderer(CLSID_VideoRenderer, outer, phr);
  if (!f && phr) *phr = E_OUTOFMEMORY;
  return f;
}
CUnknown* CVideoRenderer::CreateVmr7(LPUNKNOWN outer, HRESULT* phr) {
  auto* f = new (std::nothrow) CVideoRenderer(CLSID_VideoMixingRenderer, outer, phr);
  if (!f && phr) *phr = E_OUTOFMEMORY;
  return f;
}
CUnknown* CVideoRenderer::CreateVmr9(LPUNKNOWN outer, HRESULT* phr) {
  auto* f = new (std::nothrow) CVideoRenderer(CLSID_VideoMixingRenderer9, outer, phr);
  if (!f && phr) *phr = E_OUTOFMEMORY;
  return f;
}

STDMETHODIMP CVideoRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), ppv);
  if (riid == IID_IBasicVideo) return GetInterface(static_cast<IBasicVideo*>(this), ppv);
  return CBaseVideoRenderer::NonDelegatingQueryInterface(riid, ppv);
}

// ---- negotiation and drawing --------------------------------------------------------------

HRESULT CVideoRenderer::CheckMediaType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (mt->majortype != MEDIATYPE_Video || mt->formattype != FORMAT_VideoInfo) return VFW_E_TYPE_NOT_ACCEPTED;
  if (!FindVideoOutputKind(mt->subtype) || mt->subtype == MEDIASUBTYPE_YUY2) return VFW_E_TYPE_NOT_ACCEPTED;
  const BITMAPINFOHEADER* bih = VideoBitmapHeader(*mt);
  if (!bih || bih->biWidth <= 0 || bih->biWidth > 16384 || bih->biHeight == 0 || std::abs(bih->biHeight) > 16384)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return RawPixelFormat(*mt) != AV_PIX_FMT_NONE ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CVideoRenderer::SetMediaType(const CMediaType* mt) {
  CAutoLock lock(&m_InterfaceLock);
  const BITMAPINFOHEADER* bih = VideoBitmapHeader(*mt, &avgTimePerFrame_);
  inFormat_ = RawPixelFormat(*mt, &inBottomUp_);
  videoWidth_ = bih->biWidth;
  videoHeight_ = std::abs(bih->biHeight);
  if (defaultSource_) source_ = {0, 0, videoWidth_, videoHeight_};
  if (Width(window_) == 0 || Height(window_) == 0) window_ = {0, 0, videoWidth_, videoHeight_};
  if (defaultDest_) dest_ = {0, 0, Width(window_), Height(window_)};
  CAutoLock frame(&frameLock_);
  current_.assign(size_t(videoWidth_) * size_t(videoHeight_), 0);
  toCurrent_.reset();
  return S_OK;
}

HRESULT CVideoRenderer::DoRenderSample(IMediaSample* sample) {
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const int bits = inFormat_ == AV_PIX_FMT_BGRA ? 32 : inFormat_ == AV_PIX_FMT_BGR24 ? 24 : 16;
  const long stride = ((videoWidth_ * bits + 31) / 32) * 4;
  if (!data || sample->GetActualDataLength() < stride * videoHeight_) return S_OK;  // short frame: nothing drawn
  const uint8_t* src[4] = {inBottomUp_ ? data + stride * (videoHeight_ - 1) : data};
  const int srcLines[4] = {int(inBottomUp_ ? -stride : stride)};
  toCurrent_.reset(sws_getCachedContext(toCurrent_.release(), videoWidth_, videoHeight_, inFormat_, videoWidth_,
                                        videoHeight_, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr));
  if (!toCurrent_) return E_OUTOFMEMORY;
  CAutoLock lock(&frameLock_);
  uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(current_.data())};
  const int dstLines[4] = {int(videoWidth_ * 4)};
  sws_scale(toCurrent_.get(), src, srcLines, 0, videoHeight_, dst, dstLines);
  DrawToOwnerLocked();
  return S_OK;
}

void CVideoRenderer::DrawToOwnerLocked(bool notifyOwner) {
  HWND owner = reinterpret_cast<HWND>(owner_);
  if (ownSurfaceWindow_ && ownSurfaceWindow_ != owner) DropOwnSurfaceLocked();
  // Without an owner, or while hidden, only the current frame is kept.
  if (!owner || visible_ == OAFALSE) return;
  const LONG w = Width(window_), h = Height(window_);
  if (w <= 0 || h <= 0 || current_.empty()) return;
  RECT src = source_, dst = dest_;
  src.left = std::clamp<LONG>(src.left, 0, videoWidth_);
  src.top = std::clamp<LONG>(src.top, 0, videoHeight_);
  src.right = std::clamp<LONG>(src.right, src.left, videoWidth_);
  src.bottom = std::clamp<LONG>(src.bottom, src.top, videoHeight_);
  if (Width(dst) <= 0 || Height(dst) <= 0 || Width(src) <= 0 || Height(src) <= 0) return;

  // The owner's surface: the host's own, or one made here that holds the window.
  HBITMAP surface = tav::GetWindowSurface(owner);
  if (!surface || surface == ownSurface_) {
    const LONG needW = std::max<LONG>(window_.right, 1), needH = std::max<LONG>(window_.bottom, 1);
    BITMAP bm{};
    if (!surface || !GetObject(surface, sizeof bm, &bm) || bm.bmWidth < needW || bm.bmHeight < needH) {
      DropOwnSurfaceLocked();
      ownSurface_ = MakeSurface(needW, needH);
      if (!ownSurface_) return;
      ownSurfaceWindow_ = owner;
      tav::SetWindowSurface(owner, ownSurface_);
    }
  }
  // The pixels are written directly: a context over the owner keeps the surface it draws
  // into alive while they are (a host may replace its surface at any time).
  struct OwnerContext {
    HWND hwnd;
    HDC dc;
    ~OwnerContext() {
      if (dc) ReleaseDC(hwnd, dc);
    }
  } context{owner, GetDC(owner)};
  surface = context.dc ? static_cast<HBITMAP>(GetCurrentObject(context.dc, OBJ_BITMAP)) : nullptr;
  DIBSECTION ds{};
  if (!surface || GetObject(surface, sizeof ds, &ds) != int(sizeof ds) || !ds.dsBm.bmBits || ds.dsBm.bmBitsPixel != 32)
    return;

  // Scale the source into the destination's size, then copy what falls inside both the
  // window and the surface.
  toWindow_.reset(sws_getCachedContext(toWindow_.release(), Width(src), Height(src), AV_PIX_FMT_BGRA, Width(dst),
                                       Height(dst), AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!toWindow_) return;
  scaled_.resize(size_t(Width(dst)) * size_t(Height(dst)));
  const uint8_t* in[4] = {reinterpret_cast<const uint8_t*>(current_.data() + size_t(src.top) * videoWidth_ + src.left)};
  const int inLines[4] = {int(videoWidth_ * 4)};
  uint8_t* out[4] = {reinterpret_cast<uint8_t*>(scaled_.data())};
  const int outLines[4] = {int(Width(dst) * 4)};
  sws_scale(toWindow_.get(), in, inLines, 0, Height(src), out, outLines);

  RECT visible = dst;  // window coordinates
  visible.left = std::max<LONG>(visible.left, 0);
  visible.top = std::max<LONG>(visible.top, 0);
  visible.right = std::min(visible.right, w);
  visible.bottom = std::min(visible.bottom, h);
  OffsetRect(&visible, window_.left, window_.top);  // owner coordinates
  visible.left = std::max<LONG>(visible.left, 0);
  visible.top = std::max<LONG>(visible.top, 0);
  visible.right = std::min<LONG>(visible.right, ds.dsBm.bmWidth);
  visible.bottom = std::min<LONG>(visible.bottom, ds.dsBm.bmHeight);
  if (Width(visible) <= 0 || Height(visible) <= 0) return;
  const bool bottomUp = ds.dsBmih.biHeight > 0;
  auto* bits = static_cast<BYTE*>(ds.dsBm.bmBits);
  const LONG dx = window_.left + dst.left, dy = window_.top + dst.top;  // scaled_ origin in owner coordinates
  for (LONG y = visible.top; y < visible.bottom; ++y) {
    BYTE* row = bits + size_t(bottomUp ? ds.dsBm.bmHeight - 1 - y : y) * size_t(ds.dsBm.bmWidthBytes);
    std::memcpy(row + size_t(visible.left) * 4, scaled_.data() + size_t(y - dy) * Width(dst) + (visible.left - dx),
                size_t(Width(visible)) * 4);
  }
  // The host repaints the owner when its queue sees this.
  if (notifyOwner && IsWindow(owner)) PostMessage(owner, WM_PAINT, 0, 0);
}

HRESULT CVideoRenderer::CheckConnected() const {
  return m_pInputPin && m_pInputPin->IsConnected() ? S_OK : VFW_E_NOT_CONNECTED;
}

// ---- IVideoWindow ---------------------------------------------------------------------------

#define TAV_VW_PROP(Name, member)                                \
  STDMETHODIMP CVideoRenderer::put_##Name(LONG v) {              \
    CAutoLock lock(&m_InterfaceLock);                            \
    member = v;                                                  \
    return S_OK;                                                 \
  }                                                              \
  STDMETHODIMP CVideoRenderer::get_##Name(LONG* v) {             \
    if (!v) return E_POINTER;                                    \
    CAutoLock lock(&m_InterfaceLock);                            \
    *v = member;                                                 \
    return S_OK;                                                 \
  }
TAV_VW_PROP(WindowStyle, style_)
TAV_VW_PROP(WindowStyleEx, styleEx_)
TAV_VW_PROP(AutoShow, autoShow_)
TAV_VW_PROP(WindowState, windowState_)
#undef TAV_VW_PROP

STDMETHODIMP CVideoRenderer::put_Caption(BSTR caption) {
  CAutoLock lock(&m_InterfaceLock);
  caption_ = caption ? std::u16string(caption) : std::u16string();
  return S_OK;
}
STDMETHODIMP CVideoRenderer::get_Caption(BSTR* caption) {
  if (!caption) return E_POINTER;
  CAutoLock lock(&m_InterfaceLock);
  *caption = SysAllocString(caption_.c_str());
  return *caption ? S_OK : E_OUTOFMEMORY;
}
STDMETHODIMP CVideoRenderer::put_BackgroundPalette(LONG) { return S_OK; }
STDMETHODIMP CVideoRenderer::get_BackgroundPalette(LONG* palette) {
  if (!palette) return E_POINTER;
  *palette = OAFALSE;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::put_Visible(LONG visible) {
  CAutoLock lock(&m_InterfaceLock);
  CAutoLock frame(&frameLock_);
  visible_ = visible ? OATRUE : OAFALSE;
  DrawToOwnerLocked();
  return S_OK;
}
STDMETHODIMP CVideoRenderer::get_Visible(LONG* visible) {
  if (!visible) return E_POINTER;
  CAutoLock lock(&m_InterfaceLock);
  *visible = visible_;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::put_Left(LONG v) {
  LONG l, t, w, h;
  GetWindowPosition(&l, &t, &w, &h);
  return SetWindowPosition(v, t, w, h);
}
STDMETHODIMP CVideoRenderer::get_Left(LONG* v) {
  LONG t, w, h;
  return v ? GetWindowPosition(v, &t, &w, &h) : E_POINTER;
}
STDMETHODIMP CVideoRenderer::put_Width(LONG v) {
  LONG l, t, w, h;
  GetWindowPosition(&l, &t, &w, &h);
  return SetWindowPosition(l, t, v, h);
}
STDMETHODIMP CVideoRenderer::get_Width(LONG* v) {
  LONG l, t, h;
  return v ? GetWindowPosition(&l, &t, v, &h) : E_POINTER;
}
STDMETHODIMP CVideoRenderer::put_Top(LONG v) {
  LONG l, t, w, h;
  GetWindowPosition(&l, &t, &w, &h);
  return SetWindowPosition(l, v, w, h);
}
STDMETHODIMP CVideoRenderer::get_Top(LONG* v) {
  LONG l, w, h;
  return v ? GetWindowPosition(&l, v, &w, &h) : E_POINTER;
}
STDMETHODIMP CVideoRenderer::put_Height(LONG v) {
  LONG l, t, w, h;
  GetWindowPosition(&l, &t, &w, &h);
  return SetWindowPosition(l, t, w, v);
}
STDMETHODIMP CVideoRenderer::get_Height(LONG* v) {
  LONG l, t, w;
  return v ? GetWindowPosition(&l, &t, &w, v) : E_POINTER;
}
STDMETHODIMP CVideoRenderer::put_Owner(OAHWND owner) {
  TAV_TRACE("%p put_Owner %lx", static_cast<void*>(this), long(owner));
  CAutoLock lock(&m_InterfaceLock);
  CAutoLock frame(&frameLock_);
  owner_ = owner;
  DrawToOwnerLocked();
  return S_OK;
}
STDMETHODIMP CVideoRenderer::get_Owner(OAHWND* owner) {
  if (!owner) return E_POINTER;
  CAutoLock lock(&m_InterfaceLock);
  *owner = owner_;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::put_MessageDrain(OAHWND drain) {
  CAutoLock lock(&m_InterfaceLock);
  drain_ = drain;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::get_MessageDrain(OAHWND* drain) {
  if (!drain) return E_POINTER;
  CAutoLock lock(&m_InterfaceLock);
  *drain = drain_;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::get_BorderColor(LONG* color) {
  if (!color) return E_POINTER;
  CAutoLock lock(&m_InterfaceLock);
  *color = borderColor_;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::put_BorderColor(LONG color) {
  CAutoLock lock(&m_InterfaceLock);
  borderColor_ = color;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::get_FullScreenMode(LONG* mode) {
  if (!mode) return E_POINTER;
  *mode = OAFALSE;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::put_FullScreenMode(LONG mode) { return mode ? E_NOTIMPL : S_OK; }
STDMETHODIMP CVideoRenderer::SetWindowForeground(LONG) { return S_OK; }
STDMETHODIMP CVideoRenderer::NotifyOwnerMessage(OAHWND, LONG msg, LONG_PTR, LONG_PTR) {
  // The owner paints (or has a new surface): the current frame goes into it now.
  if (UINT(msg) == WM_PAINT || UINT(msg) == WM_SIZE) {
    CAutoLock lock(&m_InterfaceLock);
    CAutoLock frame(&frameLock_);
    DrawToOwnerLocked(false);
  }
  return S_OK;
}
STDMETHODIMP CVideoRenderer::SetWindowPosition(LONG left, LONG top, LONG width, LONG height) {
  if (width < 0 || height < 0) return E_INVALIDARG;
  CAutoLock lock(&m_InterfaceLock);
  CAutoLock frame(&frameLock_);
  window_ = {left, top, left + width, top + height};
  if (defaultDest_) dest_ = {0, 0, width, height};
  DrawToOwnerLocked();
  return S_OK;
}
STDMETHODIMP CVideoRenderer::GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  if (!left || !top || !width || !height) return E_POINTER;
  CAutoLock lock(&m_InterfaceLock);
  *left = window_.left;
  *top = window_.top;
  *width = Width(window_);
  *height = Height(window_);
  return S_OK;
}
STDMETHODIMP CVideoRenderer::GetMinIdealImageSize(LONG* width, LONG* height) {
  return GetVideoSize(width, height);
}
STDMETHODIMP CVideoRenderer::GetMaxIdealImageSize(LONG* width, LONG* height) {
  return GetVideoSize(width, height);
}
STDMETHODIMP CVideoRenderer::GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  return GetWindowPosition(left, top, width, height);
}
STDMETHODIMP CVideoRenderer::HideCursor(LONG hide) {
  CAutoLock lock(&m_InterfaceLock);
  cursorHidden_ = hide ? OATRUE : OAFALSE;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::IsCursorHidden(LONG* hidden) {
  if (!hidden) return E_POINTER;
  CAutoLock lock(&m_InterfaceLock);
  *hidden = cursorHidden_;
  return S_OK;
}

// ---- IBasicVideo ----------------------------------------------------------------------------

STDMETHODIMP CVideoRenderer::get_AvgTimePerFrame(REFTIME* time) {
  if (!time) return E_POINTER;
  CAutoLock lock(&m_InterfaceLock);
  if (CheckConnected() != S_OK) return VFW_E_NOT_CONNECTED;
  *time = double(avgTimePerFrame_) / 1e7;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::get_BitRate(LONG* rate) {
  if (!rate) return E_POINTER;
  *rate = 0;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::get_BitErrorRate(LONG* rate) {
  if (!rate) return E_POINTER;
  *rate = 0;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::get_VideoWidth(LONG* width) {
  LONG h;
  return width ? GetVideoSize(width, &h) : E_POINTER;
}
STDMETHODIMP CVideoRenderer::get_VideoHeight(LONG* height) {
  LONG w;
  return height ? GetVideoSize(&w, height) : E_POINTER;
}

#define TAV_BV_RECT_PROP(Name, Rect, Set, Get, Field)                       \
  STDMETHODIMP CVideoRenderer::put_##Name(LONG v) {                         \
    LONG l, t, w, h;                                                        \
    HRESULT hr = Get(&l, &t, &w, &h);                                       \
    if (FAILED(hr)) return hr;                                              \
    Field = v;                                                              \
    return Set(l, t, w, h);                                                 \
  }                                                                         \
  STDMETHODIMP CVideoRenderer::get_##Name(LONG* v) {                        \
    if (!v) return E_POINTER;                                               \
    LONG l, t, w, h;                                                        \
    HRESULT hr = Get(&l, &t, &w, &h);                                       \
    if (FAILED(hr)) return hr;                                              \
    *v = Field;                                                             \
    return S_OK;                                                            \
  }
TAV_BV_RECT_PROP(SourceLeft, source_, SetSourcePosition, GetSourcePosition, l)
TAV_BV_RECT_PROP(SourceTop, source_, SetSourcePosition, GetSourcePosition, t)
TAV_BV_RECT_PROP(SourceWidth, source_, SetSourcePosition, GetSourcePosition, w)
TAV_BV_RECT_PROP(SourceHeight, source_, SetSourcePosition, GetSourcePosition, h)
TAV_BV_RECT_PROP(DestinationLeft, dest_, SetDestinationPosition, GetDestinationPosition, l)
TAV_BV_RECT_PROP(DestinationTop, dest_, SetDestinationPosition, GetDestinationPosition, t)
TAV_BV_RECT_PROP(DestinationWidth, dest_, SetDestinationPosition, GetDestinationPosition, w)
TAV_BV_RECT_PROP(DestinationHeight, dest_, SetDestinationPosition, GetDestinationPosition, h)
#undef TAV_BV_RECT_PROP

STDMETHODIMP CVideoRenderer::SetSourcePosition(LONG left, LONG top, LONG width, LONG height) {
  CAutoLock lock(&m_InterfaceLock);
  if (CheckConnected() != S_OK) return VFW_E_NOT_CONNECTED;
  if (left < 0 || top < 0 || width <= 0 || height <= 0 || left + width > videoWidth_ || top + height > videoHeight_)
    return E_INVALIDARG;
  CAutoLock frame(&frameLock_);
  source_ = {left, top, left + width, top + height};
  defaultSource_ = left == 0 && top == 0 && width == videoWidth_ && height == videoHeight_;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  if (!left || !top || !width || !height) return E_POINTER;
  CAutoLock lock(&m_InterfaceLock);
  if (CheckConnected() != S_OK) return VFW_E_NOT_CONNECTED;
  *left = source_.left;
  *top = source_.top;
  *width = Width(source_);
  *height = Height(source_);
  return S_OK;
}
STDMETHODIMP CVideoRenderer::SetDefaultSourcePosition() {
  CAutoLock lock(&m_InterfaceLock);
  if (CheckConnected() != S_OK) return VFW_E_NOT_CONNECTED;
  CAutoLock frame(&frameLock_);
  source_ = {0, 0, videoWidth_, videoHeight_};
  defaultSource_ = true;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) {
  if (width <= 0 || height <= 0) return E_INVALIDARG;
  CAutoLock lock(&m_InterfaceLock);
  if (CheckConnected() != S_OK) return VFW_E_NOT_CONNECTED;
  CAutoLock frame(&frameLock_);
  dest_ = {left, top, left + width, top + height};
  defaultDest_ = false;
  DrawToOwnerLocked();
  return S_OK;
}
STDMETHODIMP CVideoRenderer::GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  if (!left || !top || !width || !height) return E_POINTER;
  CAutoLock lock(&m_InterfaceLock);
  if (CheckConnected() != S_OK) return VFW_E_NOT_CONNECTED;
  *left = dest_.left;
  *top = dest_.top;
  *width = Width(dest_);
  *height = Height(dest_);
  return S_OK;
}
STDMETHODIMP CVideoRenderer::SetDefaultDestinationPosition() {
  CAutoLock lock(&m_InterfaceLock);
  if (CheckConnected() != S_OK) return VFW_E_NOT_CONNECTED;
  CAutoLock frame(&frameLock_);
  dest_ = {0, 0, Width(window_), Height(window_)};
  defaultDest_ = true;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::GetVideoSize(LONG* width, LONG* height) {
  if (!width || !height) return E_POINTER;
  CAutoLock lock(&m_InterfaceLock);
  if (CheckConnected() != S_OK) return VFW_E_NOT_CONNECTED;
  *width = videoWidth_;
  *height = videoHeight_;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::GetVideoPaletteEntries(LONG, LONG, LONG*, LONG*) { return VFW_E_NO_PALETTE_AVAILABLE; }
STDMETHODIMP CVideoRenderer::GetCurrentImage(LONG* bufferSize, LONG* image) {
  if (!bufferSize) return E_POINTER;
  CAutoLock lock(&m_InterfaceLock);
  if (CheckConnected() != S_OK) return VFW_E_NOT_CONNECTED;
  const LONG need = LONG(sizeof(BITMAPINFOHEADER)) + videoWidth_ * videoHeight_ * 4;
  if (!image) {
    *bufferSize = need;
    return S_OK;
  }
  if (*bufferSize < need) return E_OUTOFMEMORY;
  BITMAPINFOHEADER bih{};
  bih.biSize = sizeof(bih);
  bih.biWidth = videoWidth_;
  bih.biHeight = videoHeight_;
  bih.biPlanes = 1;
  bih.biBitCount = 32;
  bih.biCompression = BI_RGB;
  bih.biSizeImage = DWORD(videoWidth_ * videoHeight_ * 4);
  auto* out = reinterpret_cast<BYTE*>(image);
  std::memcpy(out, &bih, sizeof(bih));
  CAutoLock frame(&frameLock_);
  // Packed bitmaps are stored bottom row first.
  for (LONG y = 0; y < videoHeight_; ++y)
    std::memcpy(out + sizeof(bih) + size_t(videoHeight_ - 1 - y) * videoWidth_ * 4,
                current_.data() + size_t(y) * videoWidth_, size_t(videoWidth_) * 4);
  *bufferSize = need;
  return S_OK;
}
STDMETHODIMP CVideoRenderer::IsUsingDefaultSource() {
  CAutoLock lock(&m_InterfaceLock);
  return defaultSource_ ? S_OK : S_FALSE;
}
STDMETHODIMP CVideoRenderer::IsUsingDefaultDestination() {
  CAutoLock lock(&m_InterfaceLock);
  return defaultDest_ ? S_OK : S_FALSE;
}

}  // namespace tav::filters

// ---- registration -------------------------------------------------------------------------------

namespace {
const REGPINTYPES kVideoIn[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32}, {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24},
                                {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB565}, {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB555}};
const AMOVIESETUP_PIN kVideoPins[] = {
    {u"Input", TRUE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, UINT(std::size(kVideoIn)), kVideoIn}};
}  // namespace

const AMOVIESETUP_FILTER sudVideoRenderer = {&CLSID_VideoRenderer, u"Video Renderer", MERIT_PREFERRED + 1, 1, kVideoPins};
const AMOVIESETUP_FILTER sudVmr7 = {&CLSID_VideoMixingRenderer, u"Video Mixing Renderer", MERIT_DO_NOT_USE, 1, kVideoPins};
const AMOVIESETUP_FILTER sudVmr9 = {&CLSID_VideoMixingRenderer9, u"Video Mixing Renderer 9", MERIT_DO_NOT_USE, 1, kVideoPins};
