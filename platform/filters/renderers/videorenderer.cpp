#include "platform/filters/renderers/videorenderer.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "media/contract/mediatypes.h"
#include "media/contract/trace.h"
#include "media/contract/window.h"
#include "media/contract/wingdi.h"
#include "platform/filters/avcodecutil.h"

TAV_TRACE_SOURCE(kFilters, "videorenderer");

namespace tav::filters {

namespace {

LONG Width(const RECT& r) { return r.right - r.left; }
LONG Height(const RECT& r) { return r.bottom - r.top; }

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

// ---- IBasicVideo's picture ----------------------------------------------------------------

HRESULT CVideoRenderer::GetStaticImage(LONG* bufferSize, LONG* image) {
  CAutoLock lock(&m_DrawLock);
  const LONG w = videoWidth_, h = videoHeight_;
  const LONG need = LONG(sizeof(BITMAPINFOHEADER)) + w * h * 4;
  if (!image) {
    *bufferSize = need;
    return S_OK;
  }
  if (*bufferSize < need) return E_OUTOFMEMORY;
  BITMAPINFOHEADER bih{};
  bih.biSize = sizeof(bih);
  bih.biWidth = w;
  bih.biHeight = h;
  bih.biPlanes = 1;
  bih.biBitCount = 32;
  bih.biCompression = BI_RGB;
  bih.biSizeImage = DWORD(w * h * 4);
  auto* out = reinterpret_cast<BYTE*>(image);
  std::memcpy(out, &bih, sizeof(bih));
  // Packed bitmaps are stored bottom row first.
  for (LONG y = 0; y < h; ++y)
    std::memcpy(out + sizeof(bih) + size_t(h - 1 - y) * size_t(w) * 4,
                current_.data() + size_t(y) * size_t(w), size_t(w) * 4);
  *bufferSize = need;
  return S_OK;
}

// ---- the renderer ------------------------------------------------------------------------------

namespace {
// The window takes the video's size on the first connection unless one was set before.
const CWindowedVideoRenderer::WindowSetup kRendererWindow = {
    NAME("Video Renderer window"), NAME("Video Renderer video"), "VideoRenderer", 0, 0, true};
}  // namespace

CVideoRenderer::CVideoRenderer(REFCLSID clsid, LPUNKNOWN outer, HRESULT* phr)
    : CWindowedVideoRenderer(clsid, NAME("Video Renderer"), outer, phr, kRendererWindow) {
  PrepareControls(phr);
}

CVideoRenderer::~CVideoRenderer() {
  // The window thread calls back into the renderer: it ends before the renderer's members go.
  m_Window.DoneWithWindow();
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
  LONG width = 0, height = 0;
  {
    CAutoLock lock(&m_DrawLock);
    m_mtIn = *mt;
    const BITMAPINFOHEADER* bih = VideoBitmapHeader(*mt);
    inFormat_ = RawPixelFormat(*mt, &inBottomUp_);
    width = videoWidth_ = bih->biWidth;
    height = videoHeight_ = std::abs(bih->biHeight);
    if (m_defaultSource) m_source = {0, 0, videoWidth_, videoHeight_};
    current_.assign(size_t(videoWidth_) * size_t(videoHeight_), 0);
    toCurrent_.reset();
  }
  TAV_TRACE("%p connected %ldx%ld", static_cast<void*>(this), long(width), long(height));
  // A window nobody has sized takes the video's size (its thread sets the destination).
  RECT window = m_Window.GetWindowRect();
  if (window.right - window.left == 0 || window.bottom - window.top == 0) {
    window.right = window.left + width;
    window.bottom = window.top + height;
    m_Window.SetWindowRect(window);
  }
  return S_OK;
}

HRESULT CVideoRenderer::DoRenderSample(IMediaSample* sample) {
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const int bits = inFormat_ == AV_PIX_FMT_BGRA ? 32 : inFormat_ == AV_PIX_FMT_BGR24 ? 24 : 16;
  const long stride = long(DibStride(videoWidth_, bits));
  if (!data || sample->GetActualDataLength() < stride * videoHeight_) return S_OK;  // short frame: nothing drawn
  const uint8_t* src[4] = {inBottomUp_ ? data + stride * (videoHeight_ - 1) : data};
  const int srcLines[4] = {int(inBottomUp_ ? -stride : stride)};
  toCurrent_.reset(sws_getCachedContext(toCurrent_.release(), videoWidth_, videoHeight_, inFormat_, videoWidth_,
                                        videoHeight_, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr));
  if (!toCurrent_) return E_OUTOFMEMORY;
  {
    CAutoLock lock(&m_DrawLock);
    uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(current_.data())};
    const int dstLines[4] = {int(videoWidth_ * 4)};
    sws_scale(toCurrent_.get(), src, srcLines, 0, videoHeight_, dst, dstLines);
  }
  DrawAndPresent();
  return S_OK;
}

void CVideoRenderer::OnWindowSized() { OnEraseWindow(); }

void CVideoRenderer::OnEraseWindow() {
  CAutoLock lock(&m_DrawLock);
  DrawLocked();
}

void CVideoRenderer::DrawAndPresent(bool notifyOwner) {
  {
    CAutoLock lock(&m_DrawLock);
    DrawLocked();
  }
  m_Window.PresentToOwner(notifyOwner ? TRUE : FALSE);
}

void CVideoRenderer::DrawLocked() {
  CAutoLock surfaceLock(m_Window.SurfaceLock());
  HBITMAP surface = m_Window.GetSurface();
  DIBSECTION ds{};
  if (!surface || GetObject(surface, sizeof ds, &ds) != int(sizeof ds) || !ds.dsBm.bmBits || ds.dsBm.bmBitsPixel != 32)
    return;
  const bool bottomUp = ds.dsBmih.biHeight > 0;
  auto* bits = static_cast<BYTE*>(ds.dsBm.bmBits);
  for (LONG y = 0; y < ds.dsBm.bmHeight; ++y)
    std::memset(bits + size_t(y) * size_t(ds.dsBm.bmWidthBytes), 0, size_t(ds.dsBm.bmWidth) * 4);
  if (current_.empty()) return;
  RECT src = m_source;
  const RECT dst = m_target;
  src.left = std::clamp<LONG>(src.left, 0, videoWidth_);
  src.top = std::clamp<LONG>(src.top, 0, videoHeight_);
  src.right = std::clamp<LONG>(src.right, src.left, videoWidth_);
  src.bottom = std::clamp<LONG>(src.bottom, src.top, videoHeight_);
  if (Width(dst) <= 0 || Height(dst) <= 0 || Width(src) <= 0 || Height(src) <= 0) return;

  // Scale the source into the destination's size, then copy what falls inside the surface.
  toWindow_.reset(sws_getCachedContext(toWindow_.release(), Width(src), Height(src), AV_PIX_FMT_BGRA, Width(dst),
                                       Height(dst), AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!toWindow_) return;
  scaled_.resize(size_t(Width(dst)) * size_t(Height(dst)));
  const uint8_t* in[4] = {reinterpret_cast<const uint8_t*>(current_.data() + size_t(src.top) * videoWidth_ + src.left)};
  const int inLines[4] = {int(videoWidth_ * 4)};
  uint8_t* out[4] = {reinterpret_cast<uint8_t*>(scaled_.data())};
  const int outLines[4] = {int(Width(dst) * 4)};
  sws_scale(toWindow_.get(), in, inLines, 0, Height(src), out, outLines);

  RECT visible = dst;
  visible.left = std::max<LONG>(visible.left, 0);
  visible.top = std::max<LONG>(visible.top, 0);
  visible.right = std::min<LONG>(visible.right, ds.dsBm.bmWidth);
  visible.bottom = std::min<LONG>(visible.bottom, ds.dsBm.bmHeight);
  if (Width(visible) <= 0 || Height(visible) <= 0) return;
  for (LONG y = visible.top; y < visible.bottom; ++y) {
    BYTE* row = bits + size_t(bottomUp ? ds.dsBm.bmHeight - 1 - y : y) * size_t(ds.dsBm.bmWidthBytes);
    std::memcpy(row + size_t(visible.left) * 4,
                scaled_.data() + size_t(y - dst.top) * size_t(Width(dst)) + size_t(visible.left - dst.left),
                size_t(Width(visible)) * 4);
  }
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
