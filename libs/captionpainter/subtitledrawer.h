// CSubtitleDrawer ("VXCMN Subtitle Drawer"): puts each frame of the preview renderer on its
// window. Without a manager and with fit 0 it draws as the platform's image drawer does.
// Otherwise it composes: the frame goes onto a canvas of the output frame size with the
// chosen fit (black around it), the subtitle manager draws the caption due at the frame's
// time onto the canvas, and the canvas is copied to the window's target rectangle.
//
// Lock order: m_Lock (the settings below; ISubtitleOverlay::Lock holds it across several
// calls) before m_DrawLock (the canvas and the plain drawer, held while drawing) before the
// window's surface lock (held only for the copy into the window). Drawing takes m_Lock just
// long enough to copy the settings out and to take m_DrawLock, so the manager is called
// without it; the counted manager reference taken then keeps the manager alive.
#pragma once

#include "libs/captionpainter/captionpainter.h"
#include "libs/captionpainter/drawergeometry.h"
#include "media/contract/comptr.h"
#include "platform/streaming/base/streams.h"

TAV_DEFINE_GUID(IID_IRendererSurfaceLock, 0x3C0F6F41, 0x6A8B, 0x4E1A, 0x9B, 0x52, 0x1E, 0x2D, 0x77, 0x40, 0x0A, 0x61);

// Library-private: the lock a renderer window holds while its surface may be remade. A
// drawer takes it around every copy into the window's context.
struct IRendererSurfaceLock : IUnknown {
  STDMETHOD_(CCritSec*, SurfaceLock)() = 0;
};
TAV_INTERFACE(IRendererSurfaceLock, IID_IRendererSurfaceLock);

class CSubtitleDrawer final : public CUnknown, public IFrameDrawer, public ISubtitleOverlay {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
  ~CSubtitleDrawer() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IFrameDrawer
  STDMETHODIMP SetWindowSource(IRendererWindow* window) override;
  STDMETHODIMP DrawImage(IMediaSample* sample) override;
  STDMETHODIMP DrawTo(HDC dc, IMediaSample* sample, const RECT* source, const RECT* target) override;
  STDMETHODIMP SetDrawContext() override;
  STDMETHODIMP SetSourceRect(const RECT* rect) override;
  STDMETHODIMP SetTargetRect(const RECT* rect) override;
  STDMETHODIMP GetSourceRect(RECT* rect) override;
  STDMETHODIMP GetTargetRect(RECT* rect) override;
  STDMETHODIMP CopyRect(const RECT* in, RECT* out) override;
  STDMETHODIMP GetPaletteVersion(int* version) override;
  STDMETHODIMP ResetPaletteVersion() override;
  STDMETHODIMP IncrementPaletteVersion() override;
  STDMETHODIMP NotifyAllocator(BOOL usingImageAllocator) override;
  STDMETHODIMP NotifyMediaType(const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP UsingImageAllocator() override;
  STDMETHODIMP Reserved1(void*) override { return S_OK; }
  STDMETHODIMP Reserved2(void*) override { return S_OK; }
  STDMETHODIMP Reserved3(void*) override { return S_OK; }
  STDMETHODIMP Reserved4(void*, void*, void*, void*) override { return S_OK; }
  STDMETHODIMP SetTimeOffset(REFERENCE_TIME offset) override;
  STDMETHODIMP DrawFrame(HDC dc, const RECT* target, const AM_MEDIA_TYPE* type, void* unused, const BYTE* bits,
                         REFERENCE_TIME time) override;

  // ISubtitleOverlay
  STDMETHODIMP EnableSubtitles(BOOL enable) override;
  STDMETHODIMP SetManager(ISubtitleManager* manager) override;
  STDMETHODIMP GetManager(ISubtitleManager** manager) override;
  STDMETHODIMP SetCanvasSize(int width, int height) override;
  STDMETHODIMP SetFitMode(int mode) override;
  STDMETHODIMP Lock(BOOL lock) override;

  // The geometry as last computed (for tests and the benchmark).
  DrawerGeometry Geometry();

 private:
  CSubtitleDrawer(LPUNKNOWN outer, HRESULT* phr);

  // The platform's image drawer, drawing into the contexts the window source gave us.
  class PlainDrawer : public CDrawImage {
   public:
    PlainDrawer() : CDrawImage(nullptr) {}
    void SetContexts(HDC window, HDC memory) {
      m_hdc = window;
      m_MemoryDC = memory;
    }
    HDC WindowDC() const { return m_hdc; }
    HDC MemoryDC() const { return m_MemoryDC; }
  };

  // What one drawing needs, copied out under m_Lock.
  struct Settings {
    BOOL enabled = TRUE;
    ComPtr<ISubtitleManager> manager;
    DrawerGeometry geometry;
    int canvasWidth = 0, canvasHeight = 0;
    RECT source{}, target{};
    REFERENCE_TIME offset = 0;
    CCritSec* surfaceLock = nullptr;
  };

  void RecomputeLocked();
  // Sets the source or the target rectangle (field) and recomputes the geometry.
  HRESULT SetRectangle(RECT* field, const RECT* rect);
  // Copies the settings and takes m_DrawLock (the caller releases it).
  Settings BeginDraw();
  // The canvas bitmap of the given size, made or remade as needed (m_DrawLock held).
  bool EnsureCanvasLocked(int width, int height);
  void FillCanvasBlackLocked(const Settings& s);
  // Copies the canvas into dc's target rectangle (halftone when the sizes differ).
  void PresentCanvasLocked(const Settings& s, HDC dc, const RECT& target);
  HRESULT DrawComposedLocked(const Settings& s, IMediaSample* sample);

  // Guards everything up to m_DrawLock; see the lock order above.
  CCritSec m_Lock;
  // Not counted: the renderer owns the drawer, and takes itself away (SetWindowSource(null))
  // before it goes.
  IRendererWindow* m_pWindow = nullptr;
  CCritSec* m_surfaceLock = nullptr;  // the window's, when the source has one
  RECT m_source{}, m_target{};
  BOOL m_enabled = TRUE;
  ComPtr<ISubtitleManager> m_manager;
  int m_canvasWidth = 0, m_canvasHeight = 0;
  int m_fit = 0;
  DrawerGeometry m_geometry;
  REFERENCE_TIME m_timeOffset = 0;
  CMediaType m_mediaType;  // the frames' type, read by the plain drawer

  // Guards the canvas and the plain drawer's drawing state.
  CCritSec m_DrawLock;
  PlainDrawer m_plain;
  HDC m_canvasDC = nullptr;             // guarded by m_DrawLock
  tav::GdiObjectPtr<HBITMAP> m_canvas;  // guarded by m_DrawLock, selected into m_canvasDC
  HGDIOBJ m_canvasOld = nullptr;        // what m_canvasDC held before
  int m_canvasBitmapWidth = 0, m_canvasBitmapHeight = 0;
};

extern const AMOVIESETUP_FILTER* const sudSubtitleDrawer;
