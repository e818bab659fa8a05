#include "libs/captionpainter/previewrenderer.h"

#include <cstring>
#include <new>


// ---- the input pin ----------------------------------------------------------------------------

CPreviewInputPin::CPreviewInputPin(CPreviewRenderer* renderer, HRESULT* phr)
    : CRendererInputPin(renderer, phr, u"Input"), m_pPreview(renderer) {}

STDMETHODIMP CPreviewInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (m_pAllocator) return m_pAllocator.CopyTo(allocator);
  *allocator = &m_pPreview->m_ImageAllocator;
  (*allocator)->AddRef();
  return S_OK;
}

STDMETHODIMP CPreviewInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  const HRESULT hr = CRendererInputPin::NotifyAllocator(allocator, readOnly);
  if (FAILED(hr)) return hr;
  const BOOL own = allocator == static_cast<IMemAllocator*>(&m_pPreview->m_ImageAllocator);
  if (ComPtr<IFrameDrawer> drawer = m_pPreview->Drawer()) drawer->NotifyAllocator(own);
  return S_OK;
}

// ---- IBasicVideo's picture ----------------------------------------------------------------------

HRESULT CPreviewRenderer::GetStaticImage(LONG* bufferSize, LONG* image) {
  CAutoLock lock(&m_DrawLock);
  const VIDEOINFOHEADER* vih = VideoInfoOf(m_mtCurrent);
  if (!m_current || !vih) return E_UNEXPECTED;
  BYTE* bits = nullptr;
  m_current->GetPointer(&bits);
  const LONG length = m_current->GetActualDataLength();
  const LONG need = LONG(sizeof(BITMAPINFOHEADER)) + length;
  if (!image) {
    *bufferSize = need;
    return S_OK;
  }
  if (*bufferSize < need) return E_OUTOFMEMORY;
  std::memcpy(image, &vih->bmiHeader, sizeof(BITMAPINFOHEADER));
  std::memcpy(reinterpret_cast<BYTE*>(image) + sizeof(BITMAPINFOHEADER), bits, size_t(length));
  *bufferSize = need;
  return S_OK;
}

// ---- the renderer ------------------------------------------------------------------------------------

CUnknown* CPreviewRenderer::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* r = new (std::nothrow) CPreviewRenderer(outer, phr);
  if (!r && phr) *phr = E_OUTOFMEMORY;
  return r;
}

namespace {
const CWindowedVideoRenderer::WindowSetup kPreviewWindow = {
    NAME("KORVA Subtitle Renderer window"), NAME("KORVA Subtitle Renderer video"), "KORVA Subtitle Renderer", 320, 240,
    false};
}  // namespace

CPreviewRenderer::CPreviewRenderer(LPUNKNOWN outer, HRESULT* phr)
    : CWindowedVideoRenderer(CLSID_SubtitleRenderer, NAME("VXCMN Subtitle Renderer"), outer, phr, kPreviewWindow),
      m_ImageAllocator(this, NAME("preview images"), phr) {
  PrepareControls(phr);
  HRESULT made = S_OK;
  auto* copies = new (std::nothrow) CMemAllocator(NAME("preview current frame"), nullptr, &made);
  if (copies) m_copyAllocator = ComPtr<IMemAllocator>(static_cast<IMemAllocator*>(copies));
  if (!m_copyAllocator && phr) *phr = E_OUTOFMEMORY;
}

CPreviewRenderer::~CPreviewRenderer() {
  // The window thread calls back into the renderer: it goes first.
  m_Window.DoneWithWindow();
  ComPtr<IFrameDrawer> drawer;
  {
    CAutoLock lock(&m_DrawLock);
    drawer = std::move(m_drawer);
    m_current = nullptr;
  }
  if (drawer) drawer->SetWindowSource(nullptr);
  if (m_copyAllocator) m_copyAllocator->Decommit();
}

STDMETHODIMP CPreviewRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IDrawerHost) return GetInterface(static_cast<IDrawerHost*>(this), ppv);
  if (riid == IID_IRendererWindow) return GetInterface(static_cast<IRendererWindow*>(this), ppv);
  if (riid == IID_IRendererSurfaceLock) return GetInterface(static_cast<IRendererSurfaceLock*>(this), ppv);
  return CWindowedVideoRenderer::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CPreviewRenderer::GetPin(int n) {
  CAutoLock lock(&m_InterfaceLock);
  if (n != 0) return nullptr;
  if (!m_pInputPin) {
    HRESULT hr = S_OK;
    m_pInputPin.reset(new (std::nothrow) CPreviewInputPin(this, &hr));
    if (FAILED(hr)) m_pInputPin.reset();
  }
  return m_pInputPin.get();
}

STDMETHODIMP CPreviewRenderer::Pause() {
  const HRESULT hr = CBaseVideoRenderer::Pause();
  if (SUCCEEDED(hr) && m_pInputPin && m_pInputPin->IsConnected()) m_Window.DoShowWindow();
  return hr;
}

STDMETHODIMP CPreviewRenderer::Run(REFERENCE_TIME start) {
  const HRESULT hr = CBaseVideoRenderer::Run(start);
  if (SUCCEEDED(hr) && m_pInputPin && m_pInputPin->IsConnected()) m_Window.DoShowWindow();
  return hr;
}

// ---- negotiation --------------------------------------------------------------------------------------

HRESULT CPreviewRenderer::CheckMediaType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  CMediaType copy(*mt);
  if (copy.formattype == FORMAT_VideoInfo && copy.cbFormat >= sizeof(VIDEOINFOHEADER) && copy.pbFormat) {
    BITMAPINFOHEADER& h = reinterpret_cast<VIDEOINFOHEADER*>(copy.pbFormat)->bmiHeader;
    if ((h.biBitCount == 24 || h.biBitCount == 32) && (h.biCompression == BI_RGB || h.biCompression == BI_BITFIELDS)) {
      h.biPlanes = 1;
      h.biCompression = BI_RGB;
    }
  }
  return CImageDisplay::CheckMediaType(&copy) == S_OK ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CPreviewRenderer::SetMediaType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  CMediaType previous;
  {
    CAutoLock lock(&m_DrawLock);
    previous = m_mtIn;
    m_mtIn = *mt;
    LONG w = 0, h = 0;
    if (VideoSizeLocked(&w, &h)) {
      if (m_defaultSource || m_source.right > w || m_source.bottom > h) {
        SetRect(&m_source, 0, 0, w, h);
        m_defaultSource = true;
      }
    }
  }
  m_ImageAllocator.NotifyMediaType(mt);
  if (ComPtr<IFrameDrawer> drawer = Drawer()) {
    drawer->Reserved4(const_cast<CMediaType*>(mt), &previous, nullptr, nullptr);
    ConfigureDrawer(drawer.Get());
  }
  return S_OK;
}

HRESULT CPreviewRenderer::CompleteConnect(IPin* receivePin) {
  HRESULT hr = CBaseVideoRenderer::CompleteConnect(receivePin);
  if (FAILED(hr)) return hr;
  ComPtr<IFrameDrawer> drawer = Drawer();
  if (drawer) drawer->ResetPaletteVersion();
  LONG w = 0, h = 0;
  bool resized = false;
  {
    CAutoLock lock(&m_DrawLock);
    if (VideoSizeLocked(&w, &h)) {
      resized = w != m_lastWidth || h != m_lastHeight;
      m_lastWidth = w;
      m_lastHeight = h;
    }
  }
  if (resized) {
    RECT r = m_Window.GetWindowRect();
    r.right = r.left + w;
    r.bottom = r.top + h;
    m_Window.SetWindowRect(r);  // the window thread remakes the surface and updates the drawer
    if (drawer) drawer->SetDrawContext();
  }
  return S_OK;
}

HRESULT CPreviewRenderer::BreakConnect() {
  const HRESULT hr = CBaseVideoRenderer::BreakConnect();
  if (FAILED(hr)) return hr;
  {
    CAutoLock lock(&m_DrawLock);
    m_current = nullptr;
    m_mtCurrent = CMediaType();
  }
  if (ComPtr<IFrameDrawer> drawer = Drawer()) drawer->Reserved3(nullptr);
  return S_OK;
}

// ---- drawing -------------------------------------------------------------------------------------------

ComPtr<IFrameDrawer> CPreviewRenderer::Drawer() {
  CAutoLock lock(&m_DrawLock);
  return m_drawer;
}

void CPreviewRenderer::ConfigureDrawer(IFrameDrawer* drawer) {
  CMediaType type;
  RECT source, target;
  {
    CAutoLock lock(&m_DrawLock);
    type = m_mtIn;
    source = m_source;
    target = m_target;
  }
  if (type.majortype != GUID_NULL) drawer->NotifyMediaType(&type);
  drawer->SetDrawContext();
  drawer->SetSourceRect(&source);
  drawer->SetTargetRect(&target);
}

namespace {
// Copies of the current frame: the one kept, and one for each other thread that may still be
// drawing an earlier one.
constexpr LONG kCopyBuffers = 3;
}  // namespace

void CPreviewRenderer::KeepCurrentFrame(IMediaSample* sample) {
  BYTE* bits = nullptr;
  const LONG length = sample->GetActualDataLength();
  if (FAILED(sample->GetPointer(&bits)) || !bits || length <= 0) return;
  CAutoLock lock(&m_DrawLock);
  m_current = nullptr;  // gives its buffer back before asking for another
  ALLOCATOR_PROPERTIES props{}, actual{};
  m_copyAllocator->GetProperties(&props);
  if (props.cbBuffer < length || props.cBuffers < kCopyBuffers) {
    m_copyAllocator->Decommit();
    // The window thread (a repaint) and the owner (Repaint) may each still draw the previous
    // copy while a new frame arrives: with one buffer the new frame found none free and was
    // not kept, and a paused preview then had no current frame to give.
    props.cBuffers = kCopyBuffers;
    props.cbBuffer = length;
    props.cbAlign = 1;
    props.cbPrefix = 0;
    if (FAILED(m_copyAllocator->SetProperties(&props, &actual))) return;
  }
  if (FAILED(m_copyAllocator->Commit())) return;
  ComPtr<IMediaSample> copy;
  if (m_copyAllocator->GetBuffer(copy.ReleaseAndGetAddressOf(), nullptr, nullptr, AM_GBF_NOWAIT) != S_OK || !copy)
    return;
  BYTE* out = nullptr;
  copy->GetPointer(&out);
  std::memcpy(out, bits, size_t(length));
  copy->SetActualDataLength(length);
  REFERENCE_TIME start = 0, end = 0;
  const HRESULT timed = sample->GetTime(&start, &end);
  if (SUCCEEDED(timed)) copy->SetTime(&start, &end);
  if (!SampleMediaType(sample, &m_mtCurrent) && (m_mtCurrent.majortype == GUID_NULL || !(m_mtCurrent == m_mtIn)))
    m_mtCurrent = m_mtIn;
  m_segmentStart = m_pInputPin ? m_pInputPin->CurrentStartTime() : 0;
  m_current = copy;
}

ComPtr<IMediaSample> CPreviewRenderer::CurrentFrame(REFERENCE_TIME* segmentStart) {
  CAutoLock lock(&m_DrawLock);
  *segmentStart = m_segmentStart;
  return m_current;
}

void CPreviewRenderer::Draw(IMediaSample* sample, REFERENCE_TIME segmentStart) {
  ComPtr<IFrameDrawer> drawer = Drawer();
  if (!drawer || !sample) return;
  // A drawer without the overlay interface takes no lock; its offset is still set first.
  ComPtr<ISubtitleOverlay> overlay = drawer.As<ISubtitleOverlay>();
  if (overlay) overlay->Lock(TRUE);
  drawer->SetTimeOffset(segmentStart);
  drawer->DrawImage(sample);
  if (overlay) overlay->Lock(FALSE);
  m_Window.PresentToOwner();
}

HRESULT CPreviewRenderer::DoRenderSample(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  KeepCurrentFrame(sample);
  // NewSegment comes on this thread, in order with the samples.
  Draw(sample, m_pInputPin ? m_pInputPin->CurrentStartTime() : 0);
  return S_OK;
}

void CPreviewRenderer::OnReceiveFirstSample(IMediaSample* sample) {
  // The first frame of a pause is shown at once, so a paused preview has a picture.
  DoRenderSample(sample);
}

void CPreviewRenderer::ConfigureCurrentDrawer() {
  if (ComPtr<IFrameDrawer> drawer = Drawer()) ConfigureDrawer(drawer.Get());
}

void CPreviewRenderer::OnWindowSized() { ConfigureCurrentDrawer(); }

void CPreviewRenderer::OnRectanglesChanged() { ConfigureCurrentDrawer(); }

void CPreviewRenderer::OnEraseWindow() {
  const FILTER_STATE state = m_State;
  if (state == State_Running) return;  // the stream repaints
  REFERENCE_TIME segmentStart = 0;
  ComPtr<IMediaSample> current = CurrentFrame(&segmentStart);
  if (current && Drawer()) {
    Draw(current.Get(), segmentStart);
  } else if (state == State_Stopped) {
    const RECT client = m_Window.GetClientRect();
    CAutoLock lock(m_Window.SurfaceLock());
    FillRect(m_Window.GetWindowHDC(), &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  }
}

// ---- IDrawerHost --------------------------------------------------------------------------------------

STDMETHODIMP CPreviewRenderer::SetDrawer(IFrameDrawer* drawer) {
  ComPtr<IFrameDrawer> previous;
  {
    CAutoLock lock(&m_DrawLock);
    previous = std::move(m_drawer);
    m_drawer = drawer;
  }
  // Called without m_DrawLock: the drawer takes its own lock and calls back for contexts.
  if (previous && previous.Get() != drawer) previous->SetWindowSource(nullptr);
  if (drawer) {
    drawer->SetWindowSource(this);
    const BOOL own = m_pInputPin && m_pInputPin->Allocator() ==
                                        static_cast<IMemAllocator*>(&m_ImageAllocator);
    drawer->NotifyAllocator(own);
    ConfigureDrawer(drawer);
  }
  return S_OK;
}

STDMETHODIMP CPreviewRenderer::GetDrawer(IFrameDrawer** drawer) {
  CAutoLock lock(&m_DrawLock);
  return m_drawer.CopyTo(drawer);
}

STDMETHODIMP CPreviewRenderer::Repaint() {
  REFERENCE_TIME segmentStart = 0;
  ComPtr<IMediaSample> current = CurrentFrame(&segmentStart);
  if (current) Draw(current.Get(), segmentStart);
  return S_OK;
}

STDMETHODIMP CPreviewRenderer::GetCurrentFrame(AM_MEDIA_TYPE* type, LONG* size, BYTE** data, REFERENCE_TIME* start,
                                               REFERENCE_TIME* end) {
  if (!type || !size || !data || !start || !end) return E_POINTER;
  CAutoLock lock(&m_DrawLock);
  if (!m_current || m_current->GetActualDataLength() == 0) return E_FAIL;
  BYTE* bits = nullptr;
  m_current->GetPointer(&bits);
  const LONG length = m_current->GetActualDataLength();
  tav::TaskMemPtr<BYTE> block(static_cast<BYTE*>(CoTaskMemAlloc(size_t(length))));
  if (!block) return E_OUTOFMEMORY;
  if (FAILED(CopyMediaType(type, &m_mtCurrent))) return E_OUTOFMEMORY;
  std::memcpy(block.Get(), bits, size_t(length));
  REFERENCE_TIME s = 0, e = 0;
  m_current->GetTime(&s, &e);
  *size = length;
  *data = block.Release();  // the caller frees the block
  *start = s + m_segmentStart;
  *end = e + m_segmentStart;
  return S_OK;
}

// ---- IRendererWindow --------------------------------------------------------------------------------

STDMETHODIMP CPreviewRenderer::GetWindowHandle(HWND* hwnd) {
  return ReadLocked(&m_DrawLock, hwnd, [this] { return m_Window.GetWindowHWND(); });
}

STDMETHODIMP CPreviewRenderer::GetWindowDC(HDC* dc) {
  return ReadLocked(&m_DrawLock, dc, [this] { return m_Window.GetWindowHDC(); });
}

STDMETHODIMP CPreviewRenderer::GetMemoryDC(HDC* dc) {
  return ReadLocked(&m_DrawLock, dc, [this] { return m_Window.GetMemoryHDC(); });
}

// ---- registration -------------------------------------------------------------------------------------

namespace {
const REGPINTYPES kInputTypes[] = {{&MEDIATYPE_Video, &GUID_NULL}};
const AMOVIESETUP_PIN kPins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, u"Output", UINT(std::size(kInputTypes)), kInputTypes}};
}  // namespace

const AMOVIESETUP_FILTER sudPreviewRenderer = {&CLSID_SubtitleRenderer, u"VXCMN Subtitle Renderer", MERIT_DO_NOT_USE, 1,
                                               kPins};
