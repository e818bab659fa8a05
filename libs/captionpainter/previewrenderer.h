// CPreviewRenderer ("VXCMN Subtitle Renderer"): the preview's video renderer. It owns a
// window ("KORVA Subtitle Renderer", 320 x 240 until a video connects) and an image
// allocator whose frames live in section bitmaps, and it draws every frame through a drawer
// object (IFrameDrawer, normally the "VXCMN Subtitle Drawer") handed to it with
// IDrawerHost::SetDrawer. Without a drawer frames are received and kept but not drawn.
// IVideoWindow and IBasicVideo come from the window and video objects of the
// windowed-renderer base class.
//
// The renderer keeps a copy of the last frame it drew (its "current sample"), so Repaint,
// the window's background and snapshots work whatever the filter state, without holding one
// of the upstream allocator's buffers.
//
// Lock order: m_InterfaceLock and m_RendererLock (the base renderer's, held around
// DoRenderSample) before the drawer's locks before m_DrawLock (the base class's lock, which
// here also guards the drawer reference and the current frame) and the window's surface
// lock. The drawer is never called with m_DrawLock held; a counted reference is taken under
// it instead.
//
// Frames carry times from the start of their segment (after a seek, 0 is the seek target);
// captions are due at movie times. Every drawing hands the drawer the segment start of the
// frame it draws as its time offset, holding the drawer's overlay lock across both calls so
// that a repaint of an older frame and a new frame never swap offsets.
#pragma once

#include <vector>

#include "libs/captionpainter/captionpainter.h"
#include "libs/captionpainter/subtitledrawer.h"
#include "media/contract/comptr.h"
#include "platform/streaming/base/streams.h"
#include "platform/streaming/base/windowedrenderer.h"

class CPreviewRenderer;

class CPreviewInputPin final : public CRendererInputPin {
 public:
  CPreviewInputPin(CPreviewRenderer* renderer, HRESULT* phr);
  // The renderer's image allocator, unless upstream already settled on one.
  STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;

 private:
  CPreviewRenderer* m_pPreview;
};

class CPreviewRenderer final : public CWindowedVideoRenderer,
                               public IDrawerHost,
                               public IRendererWindow,
                               public IRendererSurfaceLock {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
  ~CPreviewRenderer() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  CBasePin* GetPin(int n) override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;

  // Renderer overrides.
  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT SetMediaType(const CMediaType* mt) override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT BreakConnect() override;
  HRESULT DoRenderSample(IMediaSample* sample) override;
  void OnReceiveFirstSample(IMediaSample* sample) override;

  // IDrawerHost
  STDMETHODIMP SetDrawer(IFrameDrawer* drawer) override;
  STDMETHODIMP GetDrawer(IFrameDrawer** drawer) override;
  STDMETHODIMP Repaint() override;
  STDMETHODIMP GetCurrentFrame(AM_MEDIA_TYPE* type, LONG* size, BYTE** data, REFERENCE_TIME* start,
                               REFERENCE_TIME* end) override;

  // IRendererWindow
  STDMETHODIMP GetWindowHandle(HWND* hwnd) override;
  STDMETHODIMP GetWindowDC(HDC* dc) override;
  STDMETHODIMP GetMemoryDC(HDC* dc) override;

  // IRendererSurfaceLock
  STDMETHODIMP_(CCritSec*) SurfaceLock() override { return m_Window.SurfaceLock(); }

  CRendererWindow& Window() { return m_Window; }

 protected:
  // The drawer's contexts and default target follow the new size.
  void OnWindowSized() override;
  // The current frame when not running; black when stopped without one.
  void OnEraseWindow() override;
  // The drawer gets the new rectangles.
  void OnRectanglesChanged() override;
  // The current frame as a packed bitmap: its header then its bits as received.
  HRESULT GetStaticImage(LONG* bufferSize, LONG* image) override;

 private:
  friend class CPreviewInputPin;

  CPreviewRenderer(LPUNKNOWN outer, HRESULT* phr);

  // The drawer with a reference, or null (takes m_DrawLock).
  ComPtr<IFrameDrawer> Drawer();
  // Keeps a copy of the sample as the current frame.
  void KeepCurrentFrame(IMediaSample* sample);
  // The current frame as a sample of the copy allocator, or null, and its segment start.
  ComPtr<IMediaSample> CurrentFrame(REFERENCE_TIME* segmentStart);
  // Draws a sample of the segment starting at segmentStart through the drawer and shows
  // the window's surface in its owner.
  void Draw(IMediaSample* sample, REFERENCE_TIME segmentStart);
  // Hands the drawer the connected type, its rectangles and the window's contexts.
  void ConfigureDrawer(IFrameDrawer* drawer);
  // ConfigureDrawer on the current drawer, if there is one.
  void ConfigureCurrentDrawer();

  CImageAllocator m_ImageAllocator;

  // Guarded by m_DrawLock (with the connected type and the rectangles of the base class; the
  // renderer's lock of IDrawerHost and IRendererWindow).
  ComPtr<IFrameDrawer> m_drawer;
  LONG m_lastWidth = 0, m_lastHeight = 0;  // the video size the window was last sized to
  // The current frame: a sample of a small allocator of its own holding a copy of the last frame.
  ComPtr<IMemAllocator> m_copyAllocator;
  ComPtr<IMediaSample> m_current;
  CMediaType m_mtCurrent;                 // the current frame's type
  REFERENCE_TIME m_segmentStart = 0;      // of the current frame
};

extern const AMOVIESETUP_FILTER sudPreviewRenderer;
