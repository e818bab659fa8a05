// Preview drawing cost per frame: the subtitle drawer composing each frame on a canvas (with
// the fit and a two-line caption) and showing it in a window surface, against the platform's
// plain image drawer putting the same frame into the same surface. Frames come as plain
// samples (the slow path of both). Target: composition with a caption at most 2 ms per
// 640 x 480 frame, so a 30 fps preview uses well under a core.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "bench/captionbench.h"
#include "libs/captionpainter/subtitledrawer.h"
#include "media/contract/com.h"
#include "media/contract/window.h"

using Clock = std::chrono::steady_clock;
using captionbench::kSecond;

namespace {

constexpr int kFrames = 300;

LRESULT Ignore(HWND, UINT, WPARAM, LPARAM) { return 0; }

// A window with a 32-bit surface, as the renderer's window has.
struct Window final : IRendererWindow {
  Window(int w, int h) {
    hwnd = CreatePlatformWindow(&Ignore, nullptr);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    surface = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    tav::SetWindowSurface(hwnd, surface);
    dc = GetDC(hwnd);
    memory = CreateCompatibleDC(dc);
  }
  ~Window() {
    tav::SetWindowSurface(hwnd, nullptr);
    ReleaseDC(hwnd, dc);
    DeleteDC(memory);
    DeleteObject(surface);
    DestroyWindow(hwnd);
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid != IID_IUnknown && riid != IID_IRendererWindow) return E_NOINTERFACE;
    *ppv = static_cast<IRendererWindow*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetWindowHandle(HWND* h) override { return *h = hwnd, S_OK; }
  STDMETHODIMP GetWindowDC(HDC* d) override { return *d = dc, S_OK; }
  STDMETHODIMP GetMemoryDC(HDC* d) override { return *d = memory, S_OK; }
  HWND hwnd;
  HBITMAP surface;
  HDC dc, memory;
};

// The platform's image drawer over the window's context.
class PlainDrawer : public CDrawImage {
 public:
  explicit PlainDrawer(Window& w) : CDrawImage(nullptr) {
    m_hdc = w.dc;
    m_MemoryDC = w.memory;
  }
};

CMediaType Rgb32(int w, int h) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&MEDIASUBTYPE_RGB32);
  mt.SetFormatType(&FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  std::memset(vih, 0, sizeof *vih);
  vih->bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 32, BI_RGB, DWORD(w * h * 4), 0, 0, 0, 0};
  mt.SetSampleSize(DWORD(w * h * 4));
  return mt;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count() / kFrames; }

}  // namespace

int main() {
  CoInitialize(nullptr);
  const captionbench::TwoLineCaption caption("tavrion-previewdraw-bench.srt");
  ISubtitleManager* const manager = caption.Manager();
  if (!manager) return 1;
  HRESULT hr = E_FAIL;
  HRESULT made = S_OK;
  ComPtr<IMemAllocator> allocator(new CMemAllocator(NAME("bench frames"), nullptr, &made));
  ALLOCATOR_PROPERTIES req{1, 640 * 480 * 4, 1, 0}, got{};
  allocator->SetProperties(&req, &got);
  allocator->Commit();

  struct Case {
    int frameW, frameH, canvasW, canvasH;
    double targetMs;
  // The preview's resizer delivers frames of the canvas size; the last case (a frame the
  // drawer has to scale itself) is shown for information and has no target.
  } cases[] = {{320, 240, 320, 240, 1.0}, {640, 480, 640, 480, 2.0}, {352, 240, 640, 480, 0.0}};
  bool missed = false;
  for (const Case& c : cases) {
    Window window(c.canvasW, c.canvasH);
    const CMediaType type = Rgb32(c.frameW, c.frameH);
    ComPtr<IMediaSample> sample;
    allocator->GetBuffer(sample.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
    BYTE* bits = nullptr;
    sample->GetPointer(&bits);
    for (int i = 0; i < c.frameW * c.frameH * 4; ++i) bits[i] = BYTE(i * 7);
    sample->SetActualDataLength(c.frameW * c.frameH * 4);
    const RECT source{0, 0, c.frameW, c.frameH}, target{0, 0, c.canvasW, c.canvasH};

    PlainDrawer plain(window);
    plain.NotifyMediaType(&type);
    plain.SetSourceRect(&source);
    plain.SetTargetRect(&target);
    plain.DrawImage(sample.Get());
    auto t0 = Clock::now();
    for (int i = 0; i < kFrames; ++i) plain.DrawImage(sample.Get());
    const double plainMs = Ms(Clock::now() - t0);

    ComPtr<IFrameDrawer> drawer;
    CSubtitleDrawer::CreateInstance(nullptr, &hr)->NonDelegatingQueryInterface(IID_IFrameDrawer, drawer.AsVoidOut());
    ComPtr<ISubtitleOverlay> overlay = drawer.As<ISubtitleOverlay>();
    drawer->SetWindowSource(&window);
    drawer->SetDrawContext();
    drawer->NotifyMediaType(&type);
    drawer->SetSourceRect(&source);
    drawer->SetTargetRect(&target);
    overlay->SetCanvasSize(c.canvasW, c.canvasH);
    overlay->SetFitMode(2);
    overlay->SetManager(manager);
    REFERENCE_TIME start = kSecond, stop = kSecond + kSecond / 30;
    sample->SetTime(&start, &stop);
    drawer->DrawImage(sample.Get());  // warm-up: canvas, fonts and caches
    t0 = Clock::now();
    for (int i = 0; i < kFrames; ++i) {
      start = kSecond + i * (kSecond / 30);
      stop = start + kSecond / 30;
      sample->SetTime(&start, &stop);
      drawer->DrawImage(sample.Get());
    }
    const double composedMs = Ms(Clock::now() - t0);
    drawer->SetWindowSource(nullptr);
    const bool met = c.targetMs <= 0 || composedMs <= c.targetMs;
    missed = missed || !met;
    char verdict[48] = "no target";
    if (c.targetMs > 0) std::snprintf(verdict, sizeof verdict, "target %.1f ms, %s", c.targetMs, met ? "met" : "MISSED");
    std::printf("preview %dx%d frame on %dx%d canvas: composed with caption %.3f ms/frame (%s); "
                "plain image drawer %.3f ms (x%.1f); %.0f%% of a core at 30 fps\n",
                c.frameW, c.frameH, c.canvasW, c.canvasH, composedMs, verdict, plainMs,
                plainMs > 0 ? composedMs / plainMs : 0.0, composedMs * 30 / 10);
  }
  allocator->Decommit();
  CoUninitialize();
  return missed ? 1 : 0;
}
