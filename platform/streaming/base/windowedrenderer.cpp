#include "platform/streaming/base/windowedrenderer.h"

// ---- the window ------------------------------------------------------------------------------

CRendererWindow::CRendererWindow(CWindowedVideoRenderer* renderer, LPCTSTR objectName, LPCTSTR className,
                                 LONG defaultWidth, LONG defaultHeight, HRESULT* phr)
    : CBaseControlWindow(renderer, &renderer->m_InterfaceLock, objectName, renderer->GetOwner(), phr, defaultWidth,
                         defaultHeight),
      m_pRenderer(renderer),
      m_windowClass(className) {}

CRendererWindow::~CRendererWindow() { DoneWithWindow(); }

LPCTSTR CRendererWindow::GetClassWindowStyles(DWORD* classStyles, DWORD* windowStyle, DWORD* windowStyleEx) {
  *classStyles = 0x1083;     // redraw on resize, double clicks
  *windowStyle = 0x2000000;  // clip children
  *windowStyleEx = 0;
  return m_windowClass;
}

void CRendererWindow::OnSize(LONG width, LONG height) {
  CBaseControlWindow::OnSize(width, height);
  {
    CAutoLock lock(&m_pRenderer->m_DrawLock);
    if (m_pRenderer->m_defaultTarget) m_pRenderer->m_target = GetClientRect();
  }
  m_pRenderer->OnWindowSized();
}

void CRendererWindow::OnEraseBackground() { m_pRenderer->OnEraseWindow(); }

HRESULT CRendererWindow::GetVideoSize(LONG* width, LONG* height) {
  return m_pRenderer->m_Video.GetVideoSize(width, height);
}

// ---- IBasicVideo's rectangles and picture ----------------------------------------------------

CRendererVideo::CRendererVideo(CWindowedVideoRenderer* renderer, LPCTSTR objectName, HRESULT* phr)
    : CBaseControlVideo(renderer, &renderer->m_InterfaceLock, objectName, renderer->GetOwner(), phr),
      m_pRenderer(renderer) {}

HRESULT CRendererVideo::IsDefaultTargetRect() {
  CAutoLock lock(&m_pRenderer->m_DrawLock);
  return m_pRenderer->m_defaultTarget ? S_OK : S_FALSE;
}

HRESULT CRendererVideo::SetDefaultTargetRect() {
  const RECT client = m_pRenderer->m_Window.GetClientRect();
  CAutoLock lock(&m_pRenderer->m_DrawLock);
  m_pRenderer->m_target = client;
  m_pRenderer->m_defaultTarget = true;
  return S_OK;
}

HRESULT CRendererVideo::SetTargetRect(RECT* rect) {
  CAutoLock lock(&m_pRenderer->m_DrawLock);
  m_pRenderer->m_target = *rect;
  m_pRenderer->m_defaultTarget = false;
  return S_OK;
}

HRESULT CRendererVideo::GetTargetRect(RECT* rect) {
  CAutoLock lock(&m_pRenderer->m_DrawLock);
  *rect = m_pRenderer->m_target;
  return S_OK;
}

HRESULT CRendererVideo::IsDefaultSourceRect() {
  CAutoLock lock(&m_pRenderer->m_DrawLock);
  return m_pRenderer->m_defaultSource ? S_OK : S_FALSE;
}

HRESULT CRendererVideo::SetDefaultSourceRect() {
  CAutoLock lock(&m_pRenderer->m_DrawLock);
  LONG width = 0, height = 0;
  if (!m_pRenderer->VideoSizeLocked(&width, &height)) return VFW_E_NOT_CONNECTED;
  SetRect(&m_pRenderer->m_source, 0, 0, width, height);
  m_pRenderer->m_defaultSource = true;
  return S_OK;
}

HRESULT CRendererVideo::SetSourceRect(RECT* rect) {
  CAutoLock lock(&m_pRenderer->m_DrawLock);
  m_pRenderer->m_source = *rect;
  LONG width = 0, height = 0;
  m_pRenderer->m_defaultSource = m_pRenderer->m_wholeSourceIsDefault &&
                                 m_pRenderer->VideoSizeLocked(&width, &height) && rect->left == 0 &&
                                 rect->top == 0 && rect->right == width && rect->bottom == height;
  return S_OK;
}

HRESULT CRendererVideo::GetSourceRect(RECT* rect) {
  CAutoLock lock(&m_pRenderer->m_DrawLock);
  *rect = m_pRenderer->m_source;
  return S_OK;
}

const VIDEOINFOHEADER* CRendererVideo::GetVideoFormat() {
  CAutoLock lock(&m_pRenderer->m_DrawLock);
  return m_pRenderer->VideoFormatLocked();
}

HRESULT CRendererVideo::GetStaticImage(LONG* bufferSize, LONG* image) {
  return m_pRenderer->GetStaticImage(bufferSize, image);
}

HRESULT CRendererVideo::OnUpdateRectangles() {
  m_pRenderer->OnRectanglesChanged();
  return S_OK;
}

// ---- the renderer --------------------------------------------------------------------------------

CWindowedVideoRenderer::CWindowedVideoRenderer(REFCLSID clsid, LPCTSTR name, LPUNKNOWN outer, HRESULT* phr,
                                               const WindowSetup& setup)
    : CBaseVideoRenderer(clsid, name, outer, phr),
      m_Window(this, setup.windowObjectName, setup.windowClass, setup.defaultWidth, setup.defaultHeight, phr),
      m_Video(this, setup.videoObjectName, phr),
      m_wholeSourceIsDefault(setup.wholeSourceIsDefault) {}

void CWindowedVideoRenderer::PrepareControls(HRESULT* phr) {
  m_Window.SetControlWindowPin(GetPin(0));
  m_Video.SetControlVideoPin(GetPin(0));
  const HRESULT hr = m_Window.PrepareWindow();
  if (FAILED(hr) && phr) *phr = hr;
  const RECT client = m_Window.GetClientRect();
  CAutoLock lock(&m_DrawLock);
  m_target = client;
}

STDMETHODIMP CWindowedVideoRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IVideoWindow) return m_Window.NonDelegatingQueryInterface(riid, ppv);
  if (riid == IID_IBasicVideo) return m_Video.NonDelegatingQueryInterface(riid, ppv);
  return CBaseVideoRenderer::NonDelegatingQueryInterface(riid, ppv);
}

const VIDEOINFOHEADER* CWindowedVideoRenderer::VideoInfoOf(const CMediaType& mt) {
  if (mt.formattype != FORMAT_VideoInfo || mt.cbFormat < sizeof(VIDEOINFOHEADER) || !mt.pbFormat) return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

bool CWindowedVideoRenderer::VideoSizeLocked(LONG* width, LONG* height) const {
  const VIDEOINFOHEADER* vih = VideoFormatLocked();
  if (!vih) return false;
  *width = vih->bmiHeader.biWidth;
  *height = vih->bmiHeader.biHeight < 0 ? -vih->bmiHeader.biHeight : vih->bmiHeader.biHeight;
  return true;
}
