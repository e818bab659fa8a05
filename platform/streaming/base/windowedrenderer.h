// CWindowedVideoRenderer: a video renderer that draws into a window of its own and exposes
// IVideoWindow through a window object (CRendererWindow, on CBaseControlWindow) and
// IBasicVideo through a video object (CRendererVideo, on CBaseControlVideo). The two
// objects keep nothing of their own: the connected type and the source and destination
// rectangles are the renderer's, guarded by its m_DrawLock, and what the window shows and
// the current picture come from the renderer's hooks. A renderer derived from it keeps
// only how it draws.
//
// The window is 0x1083 class styles (redraw on resize, double clicks) and clip-children;
// the derived renderer names it and gives its size before a video connects. The default
// destination follows the window's client area.
//
// Lock order: m_InterfaceLock (held by the video object around its callbacks) before
// m_DrawLock before the window's locks.
#pragma once

#include "platform/streaming/base/ctlwindow.h"
#include "platform/streaming/base/mtype.h"
#include "platform/streaming/base/vidrender.h"
#include "platform/streaming/base/winutil.h"

class CWindowedVideoRenderer;

class CRendererWindow final : public CBaseControlWindow {
 public:
  CRendererWindow(CWindowedVideoRenderer* renderer, LPCTSTR objectName, LPCTSTR className, LONG defaultWidth,
                  LONG defaultHeight, HRESULT* phr);
  ~CRendererWindow() override;
  LPCTSTR GetClassWindowStyles(DWORD* classStyles, DWORD* windowStyle, DWORD* windowStyleEx) override;
  // The default destination takes the new client size, then the renderer's OnWindowSized.
  void OnSize(LONG width, LONG height) override;
  // The renderer's OnEraseWindow.
  void OnEraseBackground() override;

 protected:
  // The video object's answer.
  HRESULT GetVideoSize(LONG* width, LONG* height) override;

 private:
  CWindowedVideoRenderer* m_pRenderer;
  LPCTSTR m_windowClass;
};

class CRendererVideo final : public CBaseControlVideo {
 public:
  CRendererVideo(CWindowedVideoRenderer* renderer, LPCTSTR objectName, HRESULT* phr);
  HRESULT IsDefaultTargetRect() override;
  HRESULT SetDefaultTargetRect() override;
  HRESULT SetTargetRect(RECT* rect) override;
  HRESULT GetTargetRect(RECT* rect) override;
  HRESULT IsDefaultSourceRect() override;
  HRESULT SetDefaultSourceRect() override;
  HRESULT SetSourceRect(RECT* rect) override;
  HRESULT GetSourceRect(RECT* rect) override;
  const VIDEOINFOHEADER* GetVideoFormat() override;
  // The renderer's GetStaticImage.
  HRESULT GetStaticImage(LONG* bufferSize, LONG* image) override;
  // The renderer's OnRectanglesChanged.
  HRESULT OnUpdateRectangles() override;

 private:
  CWindowedVideoRenderer* m_pRenderer;
};

class CWindowedVideoRenderer : public CBaseVideoRenderer {
 public:
  // IVideoWindow from the window object, IBasicVideo from the video object.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // How the renderer's window and video objects are named and what they start as.
  struct WindowSetup {
    LPCTSTR windowObjectName;
    LPCTSTR videoObjectName;
    LPCTSTR windowClass;
    LONG defaultWidth, defaultHeight;  // the window's size before anybody sets one
    // Whether a source rectangle set explicitly is the default one when it covers the whole
    // video; otherwise only SetDefaultSourcePosition (or a new connection) makes it so.
    bool wholeSourceIsDefault;
  };

 protected:
  CWindowedVideoRenderer(REFCLSID clsid, LPCTSTR name, LPUNKNOWN outer, HRESULT* phr, const WindowSetup& setup);
  ~CWindowedVideoRenderer() override = default;

  // Hands both objects the input pin and creates the window (a failure goes to *phr). Called
  // by the derived renderer's constructor, so that GetPin gives its own pin.
  void PrepareControls(HRESULT* phr);

  // The window's surface was remade at a new client size (a default destination already
  // follows it). Window thread, no locks held.
  virtual void OnWindowSized() = 0;
  // The window's background needs painting. Window thread, no locks held.
  virtual void OnEraseWindow() = 0;
  // A rectangle was changed through IBasicVideo. m_InterfaceLock held.
  virtual void OnRectanglesChanged() = 0;
  // The current picture as a packed bitmap (IBasicVideo::GetCurrentImage): with no image,
  // the size it needs in *bufferSize. m_InterfaceLock held.
  virtual HRESULT GetStaticImage(LONG* bufferSize, LONG* image) = 0;

  // The format block of a FORMAT_VideoInfo type, null for any other.
  static const VIDEOINFOHEADER* VideoInfoOf(const CMediaType& mt);
  // The connected type's format and video size (rows counted whatever their order); null
  // and false while none is set. m_DrawLock held.
  const VIDEOINFOHEADER* VideoFormatLocked() const { return VideoInfoOf(m_mtIn); }
  bool VideoSizeLocked(LONG* width, LONG* height) const;

  // Guards the members below; derived renderers guard their drawing state with it too.
  CCritSec m_DrawLock;
  CMediaType m_mtIn;                    // the connected type
  RECT m_source{}, m_target{};          // the source and destination rectangles
  bool m_defaultSource = true, m_defaultTarget = true;

  // Declared last: the window goes first. A derived renderer ends the window's thread
  // (m_Window.DoneWithWindow) in its own destructor, since the thread calls its hooks.
  CRendererWindow m_Window;
  CRendererVideo m_Video;

 private:
  friend class CRendererWindow;
  friend class CRendererVideo;

  bool m_wholeSourceIsDefault;
};
