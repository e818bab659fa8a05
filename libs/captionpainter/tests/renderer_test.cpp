// The preview renderer: its pin, window and interfaces, the types it takes, drawing through
// its drawer into its window and its owner's surface, Repaint and GetCurrentFrame.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "libs/captionpainter/previewrenderer.h"
#include "libs/captionpainter/tests/painter_testutil.h"
#include "media/contract/window.h"
#include "tests/support/windowsurface.h"

using namespace paintertest;
using tavtest::IgnoreMessages;
using tavtest::SurfacePixel;
using tavtest::SurfaceSize;

namespace {

class captionpainter_Renderer : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterLibraries();
    ASSERT_TRUE(MakeObject(&CPreviewRenderer::CreateInstance, IID_IBaseFilter, renderer.AsVoidOut()));
    host = renderer.As<IDrawerHost>();
    window = renderer.As<IRendererWindow>();
    ASSERT_TRUE(host && window);
  }
  void TearDown() override {
    if (renderer) renderer->Stop();
    if (pusher.joinable()) pusher.join();
    if (source) source->Stop();
    if (sourceFilter) {
      static_cast<IPin*>(source->OutPin())->Disconnect();
      Input()->Disconnect();
    }
    host = nullptr;
    window = nullptr;
    renderer = nullptr;
    sourceFilter = nullptr;
    EXPECT_EQ(CBaseObject::ObjectsActive(), 0) << "the renderer and its drawer must not keep each other alive";
    CoFreeUnusedLibraries();
    CoUninitialize();
  }
  ComPtr<IPin> Input() {
    ComPtr<IEnumPins> pins;
    renderer->EnumPins(&pins);
    ComPtr<IPin> pin;
    pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr);
    return pin;
  }
  HRESULT Connect(const CMediaType& type) {
    source = new vktest::TestSource(type);
    sourceFilter = vktest::AsFilter(source);
    return source->OutPin()->Connect(Input().Get(), nullptr);
  }
  // A drawer from the registered library, handed to the renderer and set up.
  ComPtr<ISubtitleOverlay> AttachDrawer(int canvasWidth, int canvasHeight, int fit) {
    ComPtr<IFrameDrawer> drawer;
    if (FAILED(CoCreateInstance(CLSID_SubtitleDrawer, nullptr, CLSCTX_ALL, IID_IFrameDrawer, drawer.AsVoidOut())))
      return nullptr;
    host->SetDrawer(drawer.Get());
    auto overlay = drawer.As<ISubtitleOverlay>();
    overlay->SetCanvasSize(canvasWidth, canvasHeight);
    overlay->SetFitMode(fit);
    return overlay;
  }
  // Pauses the renderer and delivers one frame, which a pause shows at once.
  void PauseWithFrame(uint32_t rgb, REFERENCE_TIME start) {
    ASSERT_EQ(renderer->Pause(), S_FALSE) << "a pause waits for its first frame";
    ASSERT_EQ(source->Pause(), S_OK);
    Push(start, start + 400000, rgb);
    FILTER_STATE state;
    ASSERT_EQ(renderer->GetState(2000, &state), S_OK);
  }
  // A paused renderer holds the frame's delivery until it runs or stops: deliver from a
  // thread of its own, joined once the renderer stopped.
  void Push(REFERENCE_TIME start, REFERENCE_TIME stop, uint32_t rgb) {
    pusher = std::thread([=, this] { source->Push(start, stop, rgb); });
  }
  HWND Hwnd() {
    HWND h = nullptr;
    window->GetWindowHandle(&h);
    return h;
  }

  ComPtr<IBaseFilter> renderer;
  ComPtr<IDrawerHost> host;
  ComPtr<IRendererWindow> window;
  vktest::TestSource* source = nullptr;
  ComPtr<IBaseFilter> sourceFilter;
  std::thread pusher;
};

TEST_F(captionpainter_Renderer, HasItsPinWindowAndInterfaces) {
  ComPtr<IPin> in = Input();
  PIN_INFO info{};
  ASSERT_EQ(in->QueryPinInfo(&info), S_OK);
  if (info.pFilter) info.pFilter->Release();
  EXPECT_EQ(std::u16string(info.achName), u"Input");
  EXPECT_TRUE(renderer.As<IVideoWindow>());
  EXPECT_TRUE(renderer.As<IBasicVideo>());
  auto* object = static_cast<CPreviewRenderer*>(static_cast<CBaseFilter*>(renderer.Get()));
  EXPECT_EQ(object->Window().ClassName(), "KORVA Subtitle Renderer");
  EXPECT_EQ(object->Window().ClassStyles(), 0x1083u);
  EXPECT_EQ(object->Window().WindowStyle(), 0x2000000u);
  ASSERT_NE(Hwnd(), nullptr);
  EXPECT_EQ(SurfaceSize(Hwnd()).cx, 320) << "320 x 240 until a video connects";
  EXPECT_EQ(SurfaceSize(Hwnd()).cy, 240);
  EXPECT_EQ(window->GetWindowHandle(nullptr), E_POINTER);
  EXPECT_EQ(window->GetWindowDC(nullptr), E_POINTER);
  EXPECT_EQ(window->GetMemoryDC(nullptr), E_POINTER);
  EXPECT_EQ(host->GetDrawer(nullptr), E_POINTER);
  ComPtr<IFrameDrawer> none;
  EXPECT_EQ(host->GetDrawer(none.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_FALSE(none);
  EXPECT_EQ(host->Repaint(), S_OK) << "nothing to repaint is no failure";
}

TEST_F(captionpainter_Renderer, TakesRgbVideoInfoOnly) {
  CMediaType yuv = Rgb32Type(64, 48);
  yuv.SetSubtype(&MEDIASUBTYPE_YUY2);
  reinterpret_cast<VIDEOINFOHEADER*>(yuv.pbFormat)->bmiHeader.biBitCount = 16;
  EXPECT_NE(Connect(yuv), S_OK);
  sourceFilter = nullptr;
  CMediaType info2 = Rgb32Type(64, 48);
  info2.formattype = FORMAT_VideoInfo2;
  EXPECT_NE(Connect(info2), S_OK);
  sourceFilter = nullptr;
  // 32-bit bit fields pass as plain RGB.
  CMediaType fields = Rgb32Type(64, 48);
  auto* vi = reinterpret_cast<VIDEOINFO*>(fields.ReallocFormatBuffer(sizeof(VIDEOINFOHEADER) + 12));
  vi->bmiHeader.biCompression = BI_BITFIELDS;
  vi->dwBitMasks[0] = 0xFF0000;
  vi->dwBitMasks[1] = 0x00FF00;
  vi->dwBitMasks[2] = 0x0000FF;
  EXPECT_EQ(Connect(fields), S_OK);
  static_cast<IPin*>(source->OutPin())->Disconnect();
  Input()->Disconnect();
  EXPECT_EQ(Connect(Rgb32Type(64, 48)), S_OK);
  EXPECT_EQ(SurfaceSize(Hwnd()).cx, 64) << "the window takes the video's size";
  EXPECT_EQ(SurfaceSize(Hwnd()).cy, 48);
}

TEST_F(captionpainter_Renderer, PausedPreviewShowsTheComposedFrameAndRepaintsOnChange) {
  ASSERT_EQ(Connect(Rgb32Type(320, 120)), S_OK);
  ComPtr<ISubtitleOverlay> overlay = AttachDrawer(320, 240, 2);
  ASSERT_TRUE(overlay);
  PauseWithFrame(kGreen, 0);
  // The window is 320 x 120 (the video's size); the 320 x 240 canvas is scaled into it.
  const HWND hwnd = Hwnd();
  EXPECT_EQ(SurfacePixel(hwnd, 160, 2), kBlack) << "top bar";
  EXPECT_EQ(SurfacePixel(hwnd, 160, 60), kGreen);
  EXPECT_EQ(SurfacePixel(hwnd, 160, 117), kBlack) << "bottom bar";

  // Stretch: no bars once repainted.
  overlay->SetFitMode(0);
  ASSERT_EQ(host->Repaint(), S_OK);
  EXPECT_EQ(SurfacePixel(hwnd, 160, 2), kGreen);

  // The owner's surface shows the window at its position.
  HWND owner = CreatePlatformWindow(&IgnoreMessages, nullptr);
  ComPtr<IVideoWindow> video = renderer.As<IVideoWindow>();
  ASSERT_EQ(video->put_Owner(OAHWND(owner)), S_OK);
  ASSERT_EQ(video->SetWindowPosition(10, 20, 160, 60), S_OK);
  ASSERT_EQ(host->Repaint(), S_OK);
  EXPECT_EQ(SurfacePixel(owner, 15, 25), kGreen);
  EXPECT_NE(SurfacePixel(owner, 5, 5), kGreen) << "outside the window";
  video->put_Owner(0);
  renderer->Stop();
  host->Repaint();  // takes the owner's surface away
  DestroyWindow(owner);
}

// After a seek to 3 s the frames of the new segment start at 0: the caption drawn with them
// is the one at the frame's time in the movie, on the first picture and on a repaint.
TEST_F(captionpainter_Renderer, CaptionIsTheOneAtTheFramesMovieTimeAfterASeek) {
  ComPtr<ISubtitleManager> manager = LoadedManager(CaptionFile());
  ASSERT_TRUE(manager) << "the caption library must be registered";
  ASSERT_EQ(Connect(Rgb32Type(320, 240)), S_OK);
  ComPtr<ISubtitleOverlay> overlay = AttachDrawer(320, 240, 2);
  ASSERT_TRUE(overlay);
  ASSERT_EQ(overlay->SetManager(manager.Get()), S_OK);
  auto bright = [&] {
    int n = 0;
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x) {
        const uint32_t p = SurfacePixel(Hwnd(), x, y);
        n += ((p >> 16) & 0xFF) > 0xC0 && ((p >> 8) & 0xFF) > 0xC0 && (p & 0xFF) > 0xC0;
      }
    return n;
  };
  // The caption runs from 1 s to 3 s: a frame at 0 of a segment starting at 2 s shows it,
  // although at 0 of the movie there is none.
  ASSERT_EQ(renderer->Pause(), S_FALSE);
  ASSERT_EQ(source->Pause(), S_OK);
  ASSERT_EQ(Input()->NewSegment(2 * kSecond, 100 * kSecond, 1.0), S_OK);
  Push(0, 400000, kBlack);
  FILTER_STATE state;
  ASSERT_EQ(renderer->GetState(2000, &state), S_OK);
  EXPECT_GT(bright(), 30) << "the caption at 2 s of the movie";
  ASSERT_EQ(host->Repaint(), S_OK);
  EXPECT_GT(bright(), 30) << "a repaint keeps the frame's movie time";
  renderer->Stop();
  pusher.join();
  source->Stop();

  // A segment starting at 4 s: past the caption.
  ASSERT_EQ(renderer->Pause(), S_FALSE);
  ASSERT_EQ(source->Pause(), S_OK);
  ASSERT_EQ(Input()->NewSegment(4 * kSecond, 100 * kSecond, 1.0), S_OK);
  Push(0, 400000, kBlack);
  ASSERT_EQ(renderer->GetState(2000, &state), S_OK);
  EXPECT_EQ(bright(), 0) << "no caption at 4 s of the movie";
}

TEST_F(captionpainter_Renderer, CurrentFrameIsACopyWithSegmentTimes) {
  AM_MEDIA_TYPE mt{};
  LONG size = 0;
  BYTE* data = nullptr;
  REFERENCE_TIME start = 0, end = 0;
  EXPECT_EQ(host->GetCurrentFrame(nullptr, &size, &data, &start, &end), E_POINTER);
  EXPECT_EQ(host->GetCurrentFrame(&mt, &size, nullptr, &start, &end), E_POINTER);
  EXPECT_EQ(host->GetCurrentFrame(&mt, &size, &data, &start, nullptr), E_POINTER);
  EXPECT_EQ(host->GetCurrentFrame(&mt, &size, &data, &start, &end), E_FAIL) << "no frame yet";

  ASSERT_EQ(Connect(Rgb32Type(32, 16)), S_OK);
  ASSERT_EQ(renderer->Pause(), S_FALSE);
  ASSERT_EQ(source->Pause(), S_OK);
  ASSERT_EQ(Input()->NewSegment(3 * kSecond, 100 * kSecond, 1.0), S_OK);
  Push(kSecond, 2 * kSecond, 0x123456);
  FILTER_STATE state;
  ASSERT_EQ(renderer->GetState(2000, &state), S_OK);
  ASSERT_EQ(host->GetCurrentFrame(&mt, &size, &data, &start, &end), S_OK);
  EXPECT_EQ(size, 32 * 16 * 4);
  EXPECT_EQ(start, 4 * kSecond) << "moved once by the segment start";
  EXPECT_EQ(end, 5 * kSecond);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_RGB32);
  ASSERT_TRUE(data);
  uint32_t first = 0;
  std::memcpy(&first, data, 4);
  EXPECT_EQ(first & 0xFFFFFF, 0x123456u);
  CoTaskMemFree(data);
  FreeMediaType(mt);

  // The copy outlives the stop, which gives the upstream buffer back.
  renderer->Stop();
  pusher.join();
  source->Stop();
  data = nullptr;
  ASSERT_EQ(host->GetCurrentFrame(&mt, &size, &data, &start, &end), S_OK);
  CoTaskMemFree(data);
  FreeMediaType(mt);
}

}  // namespace
