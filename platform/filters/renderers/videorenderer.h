// The video renderer, registered as "Video Renderer" and under the two mixing-renderer
// class identifiers. It takes RGB32, RGB24, RGB565 and RGB555 (either row order), keeps
// the current frame as a top-down 32-bit picture, and, once an owner window is set and
// the window is visible, draws that frame scaled to the destination rectangle into the
// owner's drawing surface. IVideoWindow holds the window's owner, position and
// visibility; IBasicVideo the native size and the source and destination rectangles.
//
// The picture goes into the owner window's drawing surface (tav::SetWindowSurface) at the
// window's position within the owner; a host that shows the owner's surface shows the
// video. An owner without a surface gets one from the renderer, big enough to hold the
// window, which the renderer takes away again when the owner changes or it goes.
//
// Lock order: m_InterfaceLock (the filter lock, guards the window properties) before
// frameLock_ (the current frame and the surfaces, taken by the streaming thread to draw).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/filters/avptr.h"
#include "platform/streaming/base/streams.h"

namespace tav::filters {

// A copy of a window handle's drawing surface: 32-bit top-down pixels.
struct WindowSurface {
  LONG width = 0, height = 0;
  std::vector<uint32_t> pixels;
};
// Copies the surface of a window handle; false when it has none.
bool ReadWindowSurface(HWND window, WindowSurface* out);

class CVideoRenderer final : public CBaseVideoRenderer, public IVideoWindow, public IBasicVideo {
 public:
  CVideoRenderer(REFCLSID clsid, LPUNKNOWN outer, HRESULT* phr);
  ~CVideoRenderer() override;
  static CUnknown* CreateVideoRenderer(LPUNKNOWN outer, HRESULT* phr);
  static CUnknown* CreateVmr7(LPUNKNOWN outer, HRESULT* phr);
  static CUnknown* CreateVmr9(LPUNKNOWN outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT SetMediaType(const CMediaType* mt) override;
  HRESULT DoRenderSample(IMediaSample* sample) override;
  // A paused graph shows its first picture: the sample that completes the pause is drawn.
  void OnReceiveFirstSample(IMediaSample* sample) override { DoRenderSample(sample); }

  // IVideoWindow
  STDMETHODIMP put_Caption(BSTR caption) override;
  STDMETHODIMP get_Caption(BSTR* caption) override;
  STDMETHODIMP put_WindowStyle(LONG style) override;
  STDMETHODIMP get_WindowStyle(LONG* style) override;
  STDMETHODIMP put_WindowStyleEx(LONG style) override;
  STDMETHODIMP get_WindowStyleEx(LONG* style) override;
  STDMETHODIMP put_AutoShow(LONG autoShow) override;
  STDMETHODIMP get_AutoShow(LONG* autoShow) override;
  STDMETHODIMP put_WindowState(LONG state) override;
  STDMETHODIMP get_WindowState(LONG* state) override;
  STDMETHODIMP put_BackgroundPalette(LONG palette) override;
  STDMETHODIMP get_BackgroundPalette(LONG* palette) override;
  STDMETHODIMP put_Visible(LONG visible) override;
  STDMETHODIMP get_Visible(LONG* visible) override;
  STDMETHODIMP put_Left(LONG left) override;
  STDMETHODIMP get_Left(LONG* left) override;
  STDMETHODIMP put_Width(LONG width) override;
  STDMETHODIMP get_Width(LONG* width) override;
  STDMETHODIMP put_Top(LONG top) override;
  STDMETHODIMP get_Top(LONG* top) override;
  STDMETHODIMP put_Height(LONG height) override;
  STDMETHODIMP get_Height(LONG* height) override;
  STDMETHODIMP put_Owner(OAHWND owner) override;
  STDMETHODIMP get_Owner(OAHWND* owner) override;
  STDMETHODIMP put_MessageDrain(OAHWND drain) override;
  STDMETHODIMP get_MessageDrain(OAHWND* drain) override;
  STDMETHODIMP get_BorderColor(LONG* color) override;
  STDMETHODIMP put_BorderColor(LONG color) override;
  STDMETHODIMP get_FullScreenMode(LONG* mode) override;
  STDMETHODIMP put_FullScreenMode(LONG mode) override;
  STDMETHODIMP SetWindowForeground(LONG focus) override;
  STDMETHODIMP NotifyOwnerMessage(OAHWND hwnd, LONG msg, LONG_PTR wParam, LONG_PTR lParam) override;
  STDMETHODIMP SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override;
  STDMETHODIMP GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
  STDMETHODIMP GetMinIdealImageSize(LONG* width, LONG* height) override;
  STDMETHODIMP GetMaxIdealImageSize(LONG* width, LONG* height) override;
  STDMETHODIMP GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
  STDMETHODIMP HideCursor(LONG hide) override;
  STDMETHODIMP IsCursorHidden(LONG* hidden) override;

  // IBasicVideo
  STDMETHODIMP get_AvgTimePerFrame(REFTIME* time) override;
  STDMETHODIMP get_BitRate(LONG* rate) override;
  STDMETHODIMP get_BitErrorRate(LONG* rate) override;
  STDMETHODIMP get_VideoWidth(LONG* width) override;
  STDMETHODIMP get_VideoHeight(LONG* height) override;
  STDMETHODIMP put_SourceLeft(LONG v) override;
  STDMETHODIMP get_SourceLeft(LONG* v) override;
  STDMETHODIMP put_SourceWidth(LONG v) override;
  STDMETHODIMP get_SourceWidth(LONG* v) override;
  STDMETHODIMP put_SourceTop(LONG v) override;
  STDMETHODIMP get_SourceTop(LONG* v) override;
  STDMETHODIMP put_SourceHeight(LONG v) override;
  STDMETHODIMP get_SourceHeight(LONG* v) override;
  STDMETHODIMP put_DestinationLeft(LONG v) override;
  STDMETHODIMP get_DestinationLeft(LONG* v) override;
  STDMETHODIMP put_DestinationWidth(LONG v) override;
  STDMETHODIMP get_DestinationWidth(LONG* v) override;
  STDMETHODIMP put_DestinationTop(LONG v) override;
  STDMETHODIMP get_DestinationTop(LONG* v) override;
  STDMETHODIMP put_DestinationHeight(LONG v) override;
  STDMETHODIMP get_DestinationHeight(LONG* v) override;
  STDMETHODIMP SetSourcePosition(LONG left, LONG top, LONG width, LONG height) override;
  STDMETHODIMP GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
  STDMETHODIMP SetDefaultSourcePosition() override;
  STDMETHODIMP SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) override;
  STDMETHODIMP GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
  STDMETHODIMP SetDefaultDestinationPosition() override;
  STDMETHODIMP GetVideoSize(LONG* width, LONG* height) override;
  STDMETHODIMP GetVideoPaletteEntries(LONG start, LONG count, LONG* retrieved, LONG* palette) override;
  // The current frame as a packed bitmap: BITMAPINFOHEADER then bottom-up 32-bit rows.
  STDMETHODIMP GetCurrentImage(LONG* bufferSize, LONG* image) override;
  STDMETHODIMP IsUsingDefaultSource() override;
  STDMETHODIMP IsUsingDefaultDestination() override;

 private:
  // Draws the current frame into the owner's surface (frameLock_ held); notifyOwner posts
  // WM_PAINT to the owner afterwards (not when the owner itself asked, as it is painting).
  void DrawToOwnerLocked(bool notifyOwner = true);
  HRESULT CheckConnected() const;
  void DropOwnSurfaceLocked();

  // Negotiated on connect, guarded by m_InterfaceLock
  LONG videoWidth_ = 0, videoHeight_ = 0;
  AVPixelFormat inFormat_ = AV_PIX_FMT_NONE;
  bool inBottomUp_ = true;
  REFERENCE_TIME avgTimePerFrame_ = 0;

  // Window properties, guarded by m_InterfaceLock (read under frameLock_ when drawing)
  std::u16string caption_;
  LONG style_ = 0, styleEx_ = 0, autoShow_ = OATRUE, windowState_ = 1, visible_ = OAFALSE;
  LONG borderColor_ = 0, cursorHidden_ = OAFALSE;
  RECT window_{0, 0, 0, 0};
  OAHWND owner_ = 0, drain_ = 0;
  RECT source_{0, 0, 0, 0}, dest_{0, 0, 0, 0};
  bool defaultSource_ = true, defaultDest_ = true;

  // Guards current_ and the drawing into window surfaces.
  CCritSec frameLock_;
  std::vector<uint32_t> current_;  // the current frame, top-down RGB32; guarded by frameLock_
  SwsContextPtr toCurrent_;        // streaming thread
  SwsContextPtr toWindow_;         // guarded by frameLock_
  std::vector<uint32_t> scaled_;   // the destination-sized picture; guarded by frameLock_
  // A surface this renderer gave its owner, and that owner; guarded by frameLock_.
  HBITMAP ownSurface_ = nullptr;
  HWND ownSurfaceWindow_ = nullptr;
};

}  // namespace tav::filters

extern const AMOVIESETUP_FILTER sudVideoRenderer;
extern const AMOVIESETUP_FILTER sudVmr7;
extern const AMOVIESETUP_FILTER sudVmr9;
