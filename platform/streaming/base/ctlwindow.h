// The video renderer's own window: CBaseWindow owns a platform window handle on a thread
// of its own (the handle's messages are dispatched there, so the window answers even
// while the application's thread is busy), and keeps the window's geometry, caption,
// styles and visibility. CBaseControlWindow adds IVideoWindow on top of it for a
// renderer to expose; every call needs the renderer's input pin connected.
//
// The platform's window handles carry no geometry of their own; the numbers here are
// what the renderer draws into and what IVideoWindow reports. The window's pixels are a
// 32-bit section bitmap of the client size set as the handle's drawing surface
// (tav::SetWindowSurface), remade on WM_SIZE; GetWindowHDC draws into it. When an owner
// window is set, the picture is also copied into the owner's surface at the window's
// position (the child-window arrangement), so a host that shows the owner shows the video.
//
// Lock order: a renderer's own locks before m_SurfaceLock.
#pragma once

#include <string>
#include <thread>

#include "media/contract/window.h"
#include "media/contract/wingdi.h"
#include "platform/streaming/base/basepin.h"
#include "platform/streaming/base/combase.h"
#include "platform/streaming/base/wxutil.h"

// A 32-bit top-down section bitmap of the given size, black, as window surfaces and drawing
// canvases are made; null for an empty size or when it cannot be made.
HBITMAP CreateSurfaceBitmap(LONG width, LONG height);

class CBaseWindow {
 public:
  // defaultWidth/Height: the size before anybody sets one.
  CBaseWindow(LONG defaultWidth = 320, LONG defaultHeight = 240);
  virtual ~CBaseWindow();
  CBaseWindow(const CBaseWindow&) = delete;
  CBaseWindow& operator=(const CBaseWindow&) = delete;

  // Creates the window thread and the handle; the class name and styles come from
  // GetClassWindowStyles.
  virtual HRESULT PrepareWindow();
  // Destroys the handle and ends the thread (safe to call twice).
  virtual HRESULT DoneWithWindow();
  HWND GetWindowHWND() const { return m_hwnd; }
  DWORD WindowThreadId() const { return m_threadId; }

  // The class name, class styles, window style and extended style of the window.
  virtual LPCTSTR GetClassWindowStyles(DWORD* classStyles, DWORD* windowStyle, DWORD* windowStyleEx) = 0;
  // Runs on the window thread for every message of the handle. WM_SIZE remakes the surface
  // (OnSize), WM_ERASEBKGND calls OnEraseBackground, WM_PAINT calls OnPaint.
  virtual LRESULT OnReceiveMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  // The surface follows the client size (ResizeSurface). Called without locks held.
  virtual void OnSize(LONG width, LONG height);
  // Fills the client area black by default. Called without locks held.
  virtual void OnEraseBackground();
  // Makes a new surface of the given size (none for an empty one) and new contexts over it.
  void ResizeSurface(LONG width, LONG height);
  // Shows the surface in the owner (PresentToOwner) by default.
  virtual void OnPaint();
  // Copies the surface into the owner's at the window position; nothing without an owner.
  // notifyOwner: post WM_PAINT to the owner afterwards (not when the owner is painting).
  virtual void PresentToOwner(BOOL notifyOwner = TRUE) {}

  // The context over the window's surface and a memory context for blitting from section
  // bitmaps; both live as long as the window and are remade with the surface (a drawer
  // fetches them again after WM_SIZE). Draw only with m_SurfaceLock held.
  HDC GetWindowHDC() const { return m_hdc; }
  HDC GetMemoryHDC() const { return m_MemoryDC; }
  HBITMAP GetSurface() const { return m_surface.Get(); }
  CCritSec* SurfaceLock() { return &m_SurfaceLock; }
  // Asks for a repaint (WM_ERASEBKGND then WM_PAINT on the window thread).
  void PaintWindow(BOOL erase);
  BOOL PostWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT SendWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam);

  // Geometry and appearance (guarded by m_WindowLock).
  RECT GetWindowRect();
  void SetWindowRect(const RECT& rect);
  // The client area, at the window's own origin.
  RECT GetClientRect();
  BOOL IsVisible();
  void SetVisible(BOOL visible);
  DWORD ClassStyles() const { return m_classStyles; }
  DWORD WindowStyle() const { return m_windowStyle; }
  std::string ClassName() const { return m_className; }

 protected:
  // Guards the window state below; never held while sending messages.
  CCritSec m_WindowLock;
  RECT m_rcWindow;             // guarded by m_WindowLock
  BOOL m_bVisible = FALSE;     // guarded by m_WindowLock
  // Guards the surface and the two contexts, and is held while drawing into them, so the
  // surface is never remade under a drawing thread.
  CCritSec m_SurfaceLock;
  tav::GdiObjectPtr<HBITMAP> m_surface;  // guarded by m_SurfaceLock
  HDC m_hdc = nullptr;          // guarded by m_SurfaceLock
  HDC m_MemoryDC = nullptr;     // guarded by m_SurfaceLock
  DWORD m_classStyles = 0;     // set by PrepareWindow
  DWORD m_windowStyle = 0;
  DWORD m_windowStyleEx = 0;
  std::string m_className;

 private:
  static LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void ThreadProc();

  HWND m_hwnd = nullptr;
  DWORD m_threadId = 0;
  std::thread m_thread;
  // Set by the window thread once the handle exists (or failed); PrepareWindow waits on it.
  CAMEvent m_created{TRUE};
};

class CBaseControlWindow : public CBaseWindow, public CUnknown, public IVideoWindow {
 public:
  // owner: the renderer's controlling unknown; lock: the renderer's interface lock.
  CBaseControlWindow(CBaseFilter* filter, CCritSec* lock, LPCTSTR name, LPUNKNOWN owner, HRESULT* phr,
                     LONG defaultWidth = 320, LONG defaultHeight = 240);
  ~CBaseControlWindow() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // The pin whose connection the calls need.
  void SetControlWindowPin(CBasePin* pin) { m_pPin = pin; }

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

  // Forwards a message from the window to the drain window when one is set.
  LRESULT OnReceiveMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  // Shows the window when the renderer starts, if AutoShow is on.
  void DoShowWindow();
  // Copies the window's surface into the owner's surface at the window position and asks
  // the owner to repaint; an owner without a surface gets one of its own, big enough for
  // the window, which the control window takes away again when the owner changes or the
  // window goes. Takes m_SurfaceLock.
  void PresentToOwner(BOOL notifyOwner = TRUE) override;
  HRESULT DoneWithWindow() override;

 protected:
  // VFW_E_NOT_CONNECTED unless the pin is connected.
  HRESULT CheckConnected();
  // The native video size, for the ideal-size answers; E_NOTIMPL by default.
  virtual HRESULT GetVideoSize(LONG* width, LONG* height);

  CBaseFilter* m_pFilter;  // not counted
  CCritSec* m_pInterfaceLock;
  CBasePin* m_pPin = nullptr;
  // Guarded by m_WindowLock
  std::u16string m_caption;
  LONG m_autoShow = OATRUE;
  LONG m_windowState = 1;  // shown normally
  LONG m_backgroundPalette = OAFALSE;
  OAHWND m_owner = 0;
  OAHWND m_drain = 0;
  LONG m_borderColor = 0;
  LONG m_cursorHidden = OAFALSE;
  // A surface this window gave its owner (guarded by m_SurfaceLock), and the owner it is on.
  tav::GdiObjectPtr<HBITMAP> m_ownerSurface;
  HWND m_ownerSurfaceWindow = nullptr;
  void DropOwnerSurfaceLocked();

 private:
  // The checks every call makes, in order: somewhere to write the answer (getters), then the
  // pin connected; then the call's own work.
  template <class Call>
  HRESULT Checked(Call call);
  template <class T, class Read>
  HRESULT Answer(T* out, Read read);
  // A member of the window state read or written under m_WindowLock after those checks.
  template <class T, class Field>
  HRESULT GetLocked(T* out, const Field& field);
  template <class Field, class T>
  HRESULT PutLocked(Field& field, T value);
  // One of the window position's left, top, width and height (in that order) read or
  // changed through GetWindowPosition and SetWindowPosition.
  HRESULT GetPositionField(int index, LONG* value);
  HRESULT PutPositionField(int index, LONG value);
};
