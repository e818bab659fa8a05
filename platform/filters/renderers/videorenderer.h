// The video renderer, registered as "Video Renderer" and under the two mixing-renderer
// class identifiers. It takes RGB32, RGB24, RGB565 and RGB555 (either row order) and keeps
// the current frame as a top-down 32-bit picture. IVideoWindow (owner, position,
// visibility) and IBasicVideo (native size, source and destination rectangles) come from
// the window and video objects of the windowed-renderer base class; both need the input
// pin connected.
//
// Every frame is drawn, its source rectangle scaled to the destination rectangle, into the
// window's own surface, which the window then copies into its owner's drawing surface
// (tav::SetWindowSurface) at the window's position; a host that shows the owner's surface
// shows the video. An owner without a surface gets one from the window, which takes it away
// again when the owner changes or the renderer goes. The window takes the video's size on
// the first connection unless a size was set before.
//
// Lock order: m_InterfaceLock (the filter lock, held by the video object around its
// callbacks) before m_DrawLock (the base class's lock of the connected type and the
// rectangles, which here also guards the current frame; taken by the streaming thread and
// the window thread to draw) before the window's surface lock.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/filters/avptr.h"
#include "platform/streaming/base/streams.h"
#include "platform/streaming/base/windowedrenderer.h"

namespace tav::filters {

// A copy of a window handle's drawing surface: 32-bit top-down pixels.
struct WindowSurface {
  LONG width = 0, height = 0;
  std::vector<uint32_t> pixels;
};
// Copies the surface of a window handle; false when it has none.
bool ReadWindowSurface(HWND window, WindowSurface* out);

class CVideoRenderer final : public CWindowedVideoRenderer {
 public:
  CVideoRenderer(REFCLSID clsid, LPUNKNOWN outer, HRESULT* phr);
  ~CVideoRenderer() override;
  static CUnknown* CreateVideoRenderer(LPUNKNOWN outer, HRESULT* phr);
  static CUnknown* CreateVmr7(LPUNKNOWN outer, HRESULT* phr);
  static CUnknown* CreateVmr9(LPUNKNOWN outer, HRESULT* phr);

  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT SetMediaType(const CMediaType* mt) override;
  HRESULT DoRenderSample(IMediaSample* sample) override;
  // A paused graph shows its first picture: the sample that completes the pause is drawn.
  void OnReceiveFirstSample(IMediaSample* sample) override { DoRenderSample(sample); }

 protected:
  // The new surface gets the current frame (the default destination has the new size).
  void OnWindowSized() override;
  // The current frame over black instead of black alone.
  void OnEraseWindow() override;
  // The picture is drawn again with the new rectangles.
  void OnRectanglesChanged() override { DrawAndPresent(); }
  // The current frame as a packed bitmap: BITMAPINFOHEADER then bottom-up 32-bit rows.
  HRESULT GetStaticImage(LONG* bufferSize, LONG* image) override;

 private:
  // Draws the current frame into the window's surface (m_DrawLock held).
  void DrawLocked();
  // Draws the current frame and shows the surface in the owner; notifyOwner posts WM_PAINT
  // to the owner afterwards.
  void DrawAndPresent(bool notifyOwner = true);

  // Guarded by m_DrawLock.
  LONG videoWidth_ = 0, videoHeight_ = 0;
  AVPixelFormat inFormat_ = AV_PIX_FMT_NONE;
  bool inBottomUp_ = true;
  std::vector<uint32_t> current_;  // the current frame, top-down RGB32
  SwsContextPtr toCurrent_;        // streaming thread only
  SwsContextPtr toWindow_;
  std::vector<uint32_t> scaled_;   // the destination-sized picture
};

}  // namespace tav::filters

extern const AMOVIESETUP_FILTER sudVideoRenderer;
extern const AMOVIESETUP_FILTER sudVmr7;
extern const AMOVIESETUP_FILTER sudVmr9;
