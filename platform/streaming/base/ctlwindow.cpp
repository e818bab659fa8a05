#include "platform/streaming/base/ctlwindow.h"

#include <algorithm>

#include "media/contract/trace.h"
#include "media/contract/wingdi.h"
#include "platform/streaming/base/basefilter.h"

TAV_TRACE_SOURCE(kBase, "ctlwindow");

// ---- CBaseWindow -------------------------------------------------------------------------

HBITMAP CreateSurfaceBitmap(LONG width, LONG height) {
  if (width <= 0 || height <= 0) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down, as a host reads pixels
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  // A new section is black.
  return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
}

CBaseWindow::CBaseWindow(LONG defaultWidth, LONG defaultHeight) {
  SetRect(&m_rcWindow, 0, 0, defaultWidth, defaultHeight);
}

CBaseWindow::~CBaseWindow() { DoneWithWindow(); }

HRESULT CBaseWindow::PrepareWindow() {
  if (m_thread.joinable()) return S_OK;
  LPCTSTR name = GetClassWindowStyles(&m_classStyles, &m_windowStyle, &m_windowStyleEx);
  m_className = name ? name : "";
  m_created.Reset();
  m_thread = std::thread([this] { ThreadProc(); });
  m_created.Wait();
  if (!m_hwnd) {
    m_thread.join();
    return E_FAIL;
  }
  TAV_TRACE("%p window %p on thread %u", static_cast<void*>(this), static_cast<void*>(m_hwnd), unsigned(m_threadId));
  return S_OK;
}

HRESULT CBaseWindow::DoneWithWindow() {
  if (!m_thread.joinable()) return S_FALSE;
  // The thread destroys the handle itself once its loop ends.
  PostThreadMessage(m_threadId, WM_QUIT, 0, 0);
  if (m_thread.get_id() == std::this_thread::get_id())
    m_thread.detach();
  else
    m_thread.join();
  m_hwnd = nullptr;
  m_threadId = 0;
  return S_OK;
}

void CBaseWindow::ThreadProc() {
  m_threadId = GetCurrentThreadId();
  m_hwnd = CreatePlatformWindow(&CBaseWindow::WindowProc, this);
  if (m_hwnd) {
    const RECT client = GetClientRect();
    ResizeSurface(client.right, client.bottom);
  }
  m_created.Set();
  if (!m_hwnd) return;
  MSG msg;
  while (GetMessage(&msg, nullptr, 0, 0)) DispatchMessage(&msg);
  {
    CAutoLock lock(&m_SurfaceLock);
    tav::SetWindowSurface(m_hwnd, nullptr);
    if (m_hdc) ReleaseDC(m_hwnd, m_hdc);
    if (m_MemoryDC) DeleteDC(m_MemoryDC);
    m_surface.Reset();
    m_hdc = m_MemoryDC = nullptr;
  }
  DestroyWindow(m_hwnd);
}

void CBaseWindow::OnSize(LONG width, LONG height) { ResizeSurface(width, height); }

void CBaseWindow::ResizeSurface(LONG width, LONG height) {
  CAutoLock lock(&m_SurfaceLock);
  if (m_surface) {
    BITMAP bm{};
    if (GetObject(m_surface.Get(), sizeof bm, &bm) && bm.bmWidth == width && bm.bmHeight == height) return;
  }
  HBITMAP surface = CreateSurfaceBitmap(width, height);
  tav::SetWindowSurface(m_hwnd, surface);
  if (m_hdc) ReleaseDC(m_hwnd, m_hdc);
  m_surface.Reset(surface);
  m_hdc = GetDC(m_hwnd);
  if (!m_MemoryDC) m_MemoryDC = CreateCompatibleDC(m_hdc);
}

void CBaseWindow::OnEraseBackground() {
  const RECT client = GetClientRect();
  CAutoLock lock(&m_SurfaceLock);
  FillRect(m_hdc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

void CBaseWindow::OnPaint() { PresentToOwner(); }

LRESULT CBaseWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<CBaseWindow*>(GetWindowUserData(hwnd));
  return self ? self->OnReceiveMessage(hwnd, msg, wParam, lParam) : 0;
}

LRESULT CBaseWindow::OnReceiveMessage(HWND, UINT msg, WPARAM, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE:
      // Closing the video window hides it; the filter decides when it goes away.
      SetVisible(FALSE);
      break;
    case WM_SIZE:
      OnSize(LOWORD(lParam), HIWORD(lParam));
      break;
    case WM_ERASEBKGND:
      OnEraseBackground();
      return 1;
    case WM_PAINT:
      OnPaint();
      break;
  }
  return 0;
}

void CBaseWindow::PaintWindow(BOOL erase) {
  if (erase) PostWindowMessage(WM_ERASEBKGND, 0, 0);
  PostWindowMessage(WM_PAINT, 0, 0);
}

BOOL CBaseWindow::PostWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  return m_hwnd ? PostMessage(m_hwnd, msg, wParam, lParam) : FALSE;
}

LRESULT CBaseWindow::SendWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  return m_hwnd ? SendMessage(m_hwnd, msg, wParam, lParam) : 0;
}

RECT CBaseWindow::GetWindowRect() {
  CAutoLock lock(&m_WindowLock);
  return m_rcWindow;
}

void CBaseWindow::SetWindowRect(const RECT& rect) {
  {
    CAutoLock lock(&m_WindowLock);
    m_rcWindow = rect;
  }
  // Sent, so the surface has the new size when the call returns.
  SendWindowMessage(WM_SIZE, 0, MAKELONG(WORD(rect.right - rect.left), WORD(rect.bottom - rect.top)));
  PaintWindow(TRUE);
}

RECT CBaseWindow::GetClientRect() {
  CAutoLock lock(&m_WindowLock);
  RECT r;
  SetRect(&r, 0, 0, m_rcWindow.right - m_rcWindow.left, m_rcWindow.bottom - m_rcWindow.top);
  return r;
}

BOOL CBaseWindow::IsVisible() {
  CAutoLock lock(&m_WindowLock);
  return m_bVisible;
}

void CBaseWindow::SetVisible(BOOL visible) {
  {
    CAutoLock lock(&m_WindowLock);
    if (m_bVisible == visible) return;
    m_bVisible = visible;
  }
  PostWindowMessage(WM_SHOWWINDOW, visible ? 1 : 0, 0);
  if (visible) PaintWindow(TRUE);
}

// ---- CBaseControlWindow ------------------------------------------------------------------

CBaseControlWindow::CBaseControlWindow(CBaseFilter* filter, CCritSec* lock, LPCTSTR name, LPUNKNOWN owner,
                                       HRESULT*, LONG defaultWidth, LONG defaultHeight)
    : CBaseWindow(defaultWidth, defaultHeight), CUnknown(name, owner), m_pFilter(filter), m_pInterfaceLock(lock) {}

CBaseControlWindow::~CBaseControlWindow() { CBaseControlWindow::DoneWithWindow(); }

HRESULT CBaseControlWindow::DoneWithWindow() {
  {
    CAutoLock lock(&m_SurfaceLock);
    DropOwnerSurfaceLocked();
  }
  return CBaseWindow::DoneWithWindow();
}

void CBaseControlWindow::DropOwnerSurfaceLocked() {
  if (!m_ownerSurface) return;
  // Only while the owner still has ours: a surface it has taken since stays.
  tav::ExchangeWindowSurface(m_ownerSurfaceWindow, m_ownerSurface.Get(), nullptr);
  m_ownerSurface.Reset();
  m_ownerSurfaceWindow = nullptr;
}

void CBaseControlWindow::PresentToOwner(BOOL notifyOwner) {
  HWND owner = nullptr;
  RECT rc;
  BOOL visible;
  {
    CAutoLock lock(&m_WindowLock);
    owner = reinterpret_cast<HWND>(m_owner);
    rc = m_rcWindow;
    visible = m_bVisible;
  }
  CAutoLock lock(&m_SurfaceLock);
  if (m_ownerSurfaceWindow && m_ownerSurfaceWindow != owner) DropOwnerSurfaceLocked();
  if (!owner || !IsWindow(owner) || !visible || !m_surface) return;
  const LONG width = rc.right - rc.left, height = rc.bottom - rc.top;
  HBITMAP target = tav::GetWindowSurface(owner);
  if (!target || target == m_ownerSurface.Get()) {
    // The owner has no surface of its own: give it one that holds the window.
    BITMAP bm{};
    const LONG needW = std::max<LONG>(rc.right, 1), needH = std::max<LONG>(rc.bottom, 1);
    if (!target || !GetObject(target, sizeof bm, &bm) || bm.bmWidth < needW || bm.bmHeight < needH) {
      DropOwnerSurfaceLocked();
      m_ownerSurface.Reset(CreateSurfaceBitmap(needW, needH));
      if (!m_ownerSurface) return;
      // The owner (another thread) may give itself a surface between the look above and
      // now; installing ours over it would leave the owner showing its own, never drawn.
      if (tav::ExchangeWindowSurface(owner, nullptr, m_ownerSurface.Get())) {
        m_ownerSurfaceWindow = owner;
      } else {
        m_ownerSurface.Reset();
        target = tav::GetWindowSurface(owner);
        if (!target) return;
      }
    }
  }
  HDC dc = GetDC(owner);
  if (m_ownerSurface && tav::GetWindowSurface(owner) == m_ownerSurface.Get()) {
    // A surface of our own holds nothing but this window: where it was before goes black.
    BITMAP bm{};
    GetObject(m_ownerSurface.Get(), sizeof bm, &bm);
    RECT all;
    SetRect(&all, 0, 0, bm.bmWidth, bm.bmHeight);
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  }
  BitBlt(dc, rc.left, rc.top, width, height, m_hdc, 0, 0, SRCCOPY);
  ReleaseDC(owner, dc);
  if (notifyOwner) PostMessage(owner, WM_PAINT, 0, 0);
}

HRESULT CBaseControlWindow::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseControlWindow::CheckConnected() {
  return m_pPin && m_pPin->IsConnected() ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseControlWindow::GetVideoSize(LONG*, LONG*) { return E_NOTIMPL; }

template <class Call>
HRESULT CBaseControlWindow::Checked(Call call) {
  const HRESULT hr = CheckConnected();
  return FAILED(hr) ? hr : call();
}

template <class T, class Read>
HRESULT CBaseControlWindow::Answer(T* out, Read read) {
  if (!out) return E_POINTER;
  return Checked([&] {
    *out = read();
    return S_OK;
  });
}

template <class T, class Field>
HRESULT CBaseControlWindow::GetLocked(T* out, const Field& field) {
  return Answer(out, [&] {
    CAutoLock lock(&m_WindowLock);
    return T(field);
  });
}

template <class Field, class T>
HRESULT CBaseControlWindow::PutLocked(Field& field, T value) {
  return Checked([&] {
    CAutoLock lock(&m_WindowLock);
    field = Field(value);
    return S_OK;
  });
}

HRESULT CBaseControlWindow::GetPositionField(int index, LONG* value) {
  if (!value) return E_POINTER;
  LONG position[4];
  const HRESULT hr = GetWindowPosition(&position[0], &position[1], &position[2], &position[3]);
  if (SUCCEEDED(hr)) *value = position[index];
  return hr;
}

HRESULT CBaseControlWindow::PutPositionField(int index, LONG value) {
  LONG position[4];
  const HRESULT hr = GetWindowPosition(&position[0], &position[1], &position[2], &position[3]);
  if (FAILED(hr)) return hr;
  position[index] = value;
  return SetWindowPosition(position[0], position[1], position[2], position[3]);
}

namespace {
bool IsOaBool(LONG value) { return value == OATRUE || value == OAFALSE; }
enum PositionField { kLeft, kTop, kWidth, kHeight };
}  // namespace

HRESULT CBaseControlWindow::put_Caption(BSTR caption) {
  return PutLocked(m_caption, caption ? std::u16string(caption, SysStringLen(caption)) : std::u16string());
}

HRESULT CBaseControlWindow::get_Caption(BSTR* caption) {
  if (!caption) return E_POINTER;
  return Checked([&] {
    CAutoLock lock(&m_WindowLock);
    *caption = SysAllocStringLen(m_caption.data(), UINT(m_caption.size()));
    return *caption ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT CBaseControlWindow::put_WindowStyle(LONG style) { return PutLocked(m_windowStyle, style); }
HRESULT CBaseControlWindow::get_WindowStyle(LONG* style) { return GetLocked(style, m_windowStyle); }
HRESULT CBaseControlWindow::put_WindowStyleEx(LONG style) { return PutLocked(m_windowStyleEx, style); }
HRESULT CBaseControlWindow::get_WindowStyleEx(LONG* style) { return GetLocked(style, m_windowStyleEx); }
HRESULT CBaseControlWindow::put_AutoShow(LONG autoShow) { return PutLocked(m_autoShow, autoShow ? OATRUE : OAFALSE); }
HRESULT CBaseControlWindow::get_AutoShow(LONG* autoShow) { return GetLocked(autoShow, m_autoShow); }

HRESULT CBaseControlWindow::put_WindowState(LONG state) {
  return Checked([&] {
    {
      CAutoLock lock(&m_WindowLock);
      m_windowState = state;
    }
    SetVisible(state != 0);  // 0 hides, anything else shows
    return S_OK;
  });
}

HRESULT CBaseControlWindow::get_WindowState(LONG* state) {
  return Answer(state, [&] {
    CAutoLock lock(&m_WindowLock);
    return m_bVisible ? m_windowState : 0;
  });
}

HRESULT CBaseControlWindow::put_BackgroundPalette(LONG palette) {
  return Checked([&] {
    if (!IsOaBool(palette)) return E_INVALIDARG;
    CAutoLock lock(&m_WindowLock);
    m_backgroundPalette = palette;
    return S_OK;
  });
}

HRESULT CBaseControlWindow::get_BackgroundPalette(LONG* palette) { return GetLocked(palette, m_backgroundPalette); }

HRESULT CBaseControlWindow::put_Visible(LONG visible) {
  return Checked([&] {
    if (!IsOaBool(visible)) return E_INVALIDARG;
    SetVisible(visible == OATRUE);
    return S_OK;
  });
}

HRESULT CBaseControlWindow::get_Visible(LONG* visible) {
  return Answer(visible, [&] { return IsVisible() ? OATRUE : OAFALSE; });
}

HRESULT CBaseControlWindow::put_Left(LONG left) { return PutPositionField(kLeft, left); }
HRESULT CBaseControlWindow::get_Left(LONG* left) { return GetPositionField(kLeft, left); }
HRESULT CBaseControlWindow::put_Width(LONG width) { return PutPositionField(kWidth, width); }
HRESULT CBaseControlWindow::get_Width(LONG* width) { return GetPositionField(kWidth, width); }
HRESULT CBaseControlWindow::put_Top(LONG top) { return PutPositionField(kTop, top); }
HRESULT CBaseControlWindow::get_Top(LONG* top) { return GetPositionField(kTop, top); }
HRESULT CBaseControlWindow::put_Height(LONG height) { return PutPositionField(kHeight, height); }
HRESULT CBaseControlWindow::get_Height(LONG* height) { return GetPositionField(kHeight, height); }

HRESULT CBaseControlWindow::put_Owner(OAHWND owner) {
  return Checked([&] {
    {
      CAutoLock lock(&m_WindowLock);
      m_owner = owner;
    }
    PaintWindow(FALSE);
    return S_OK;
  });
}

HRESULT CBaseControlWindow::get_Owner(OAHWND* owner) { return GetLocked(owner, m_owner); }
HRESULT CBaseControlWindow::put_MessageDrain(OAHWND drain) { return PutLocked(m_drain, drain); }
HRESULT CBaseControlWindow::get_MessageDrain(OAHWND* drain) { return GetLocked(drain, m_drain); }
HRESULT CBaseControlWindow::get_BorderColor(LONG* color) { return GetLocked(color, m_borderColor); }
HRESULT CBaseControlWindow::put_BorderColor(LONG color) { return PutLocked(m_borderColor, color); }

// This renderer window has no full-screen mode.
HRESULT CBaseControlWindow::get_FullScreenMode(LONG* mode) {
  return Answer(mode, [] { return OAFALSE; });
}

HRESULT CBaseControlWindow::put_FullScreenMode(LONG mode) {
  return Checked([&] { return mode == OAFALSE ? S_OK : E_NOTIMPL; });
}

HRESULT CBaseControlWindow::SetWindowForeground(LONG focus) {
  return Checked([&] { return IsOaBool(focus) ? S_OK : E_INVALIDARG; });
}

HRESULT CBaseControlWindow::NotifyOwnerMessage(OAHWND, LONG msg, LONG_PTR wParam, LONG_PTR lParam) {
  return Checked([&] {
    // Messages the owner passes on that matter to the video window. The owner is painting:
    // the picture goes into its surface now, and it is not asked to paint again.
    if (UINT(msg) == WM_PAINT || UINT(msg) == WM_SIZE)
      PresentToOwner(FALSE);
    else if (UINT(msg) == WM_ERASEBKGND)
      PostWindowMessage(UINT(msg), WPARAM(wParam), lParam);
    return S_OK;
  });
}

HRESULT CBaseControlWindow::SetWindowPosition(LONG left, LONG top, LONG width, LONG height) {
  return Checked([&] {
    if (width < 0 || height < 0) return E_INVALIDARG;
    RECT r;
    SetRect(&r, left, top, left + width, top + height);
    SetWindowRect(r);
    return S_OK;
  });
}

HRESULT CBaseControlWindow::GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  if (!left || !top || !width || !height) return E_POINTER;
  return Checked([&] {
    const RECT r = GetWindowRect();
    *left = r.left;
    *top = r.top;
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    return S_OK;
  });
}

HRESULT CBaseControlWindow::GetMinIdealImageSize(LONG* width, LONG* height) {
  if (!width || !height) return E_POINTER;
  return Checked([&] { return m_pFilter->IsStopped() ? VFW_E_WRONG_STATE : GetVideoSize(width, height); });
}

HRESULT CBaseControlWindow::GetMaxIdealImageSize(LONG* width, LONG* height) {
  return GetMinIdealImageSize(width, height);
}

HRESULT CBaseControlWindow::GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  return GetWindowPosition(left, top, width, height);
}

HRESULT CBaseControlWindow::HideCursor(LONG hide) { return PutLocked(m_cursorHidden, hide ? OATRUE : OAFALSE); }
HRESULT CBaseControlWindow::IsCursorHidden(LONG* hidden) { return GetLocked(hidden, m_cursorHidden); }

LRESULT CBaseControlWindow::OnReceiveMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  OAHWND drain = 0;
  {
    CAutoLock lock(&m_WindowLock);
    drain = m_drain;
  }
  // With a drain, user input goes to the application's window instead.
  if (drain && msg >= WM_USER && msg < WM_APP) {
    PostMessage(reinterpret_cast<HWND>(drain), msg, wParam, lParam);
    return 0;
  }
  return CBaseWindow::OnReceiveMessage(hwnd, msg, wParam, lParam);
}

void CBaseControlWindow::DoShowWindow() {
  LONG autoShow = OAFALSE;
  {
    CAutoLock lock(&m_WindowLock);
    autoShow = m_autoShow;
  }
  if (autoShow == OATRUE) SetVisible(TRUE);
}
