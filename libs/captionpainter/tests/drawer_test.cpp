// The subtitle drawer through the real drawing layer: composed frames with their bars where
// the fit puts them, captions at their time only, the plain path when nothing is composed,
// raw frames through DrawFrame, and the overlay settings.
#include <gtest/gtest.h>

#include "libs/captionpainter/tests/painter_testutil.h"

using namespace paintertest;

namespace {

class captionpainter_Drawer : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterLibraries();
    ASSERT_TRUE(MakeObject(&CSubtitleDrawer::CreateInstance, IID_IFrameDrawer, drawer.AsVoidOut()));
    overlay = drawer.As<ISubtitleOverlay>();
    ASSERT_TRUE(drawer && overlay);
  }
  void TearDown() override {
    if (drawer) drawer->SetWindowSource(nullptr);
    overlay = nullptr;
    drawer = nullptr;
    CoFreeUnusedLibraries();
    CoUninitialize();
  }
  // Hands the drawer a window, a frame type and its rectangles.
  void Attach(SurfaceSource& window, int frameWidth, int frameHeight) {
    type = Rgb32Type(frameWidth, frameHeight);
    drawer->SetWindowSource(&window);
    drawer->SetDrawContext();
    drawer->NotifyMediaType(&type);
    RECT source{0, 0, frameWidth, frameHeight}, target{0, 0, window.width, window.height};
    drawer->SetSourceRect(&source);
    drawer->SetTargetRect(&target);
  }

  ComPtr<IFrameDrawer> drawer;
  ComPtr<ISubtitleOverlay> overlay;
  CMediaType type;
  Frames frames;
};

TEST_F(captionpainter_Drawer, FitPutsBlackBarsWhereTheGeometrySays) {
  SurfaceSource window(320, 240);
  Attach(window, 320, 120);  // a wide frame on a 4:3 canvas
  overlay->SetCanvasSize(320, 240);
  overlay->SetFitMode(2);
  window.Clear(0xFF00FF);  // whatever was there before must not show through
  ASSERT_EQ(drawer->DrawImage(frames.Solid(320, 120, kGreen, 0).Get()), S_OK);
  EXPECT_EQ(window.Pixel(160, 0), kBlack) << "top bar";
  EXPECT_EQ(window.Pixel(160, 59), kBlack);
  EXPECT_EQ(window.Pixel(160, 60), kGreen) << "the picture starts at 60";
  EXPECT_EQ(window.Pixel(160, 179), kGreen);
  EXPECT_EQ(window.Pixel(160, 180), kBlack) << "bottom bar";
  EXPECT_EQ(window.Pixel(0, 120), kGreen) << "full width";

  // Crop: a tall frame fills the width and overhangs; the middle rows show.
  Attach(window, 160, 240);
  overlay->SetFitMode(3);
  std::vector<uint32_t> rows(size_t(160) * 240);
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 160; ++x) rows[size_t(y) * 160 + x] = y < 120 ? 0xFF0000 : 0x0000FF;
  drawer->DrawImage(frames.Make(160, 240, rows, 0).Get());
  EXPECT_EQ(window.Pixel(5, 0), 0xFF0000u) << "no bars when cropping";
  EXPECT_EQ(window.Pixel(315, 239), 0x0000FFu);
  // The canvas is 320 x 240, the frame scaled to 320 x 480 centred: row 0 shows frame row 60.
  EXPECT_EQ(window.Pixel(160, 119), 0xFF0000u);
  EXPECT_EQ(window.Pixel(160, 121), 0x0000FFu);
}

TEST_F(captionpainter_Drawer, CaptionShowsAtItsTimeOnlyAndNotWhenDisabled) {
  ComPtr<ISubtitleManager> manager = LoadedManager(CaptionFile());
  ASSERT_TRUE(manager) << "the caption library must be registered";
  SurfaceSource window(320, 240);
  Attach(window, 320, 240);
  overlay->SetCanvasSize(320, 240);
  overlay->SetFitMode(2);
  ASSERT_EQ(overlay->SetManager(manager.Get()), S_OK);

  drawer->DrawImage(frames.Solid(320, 240, kGreen, 2 * kSecond).Get());
  const int during = CountBright(window.Pixels());
  EXPECT_GT(during, 30) << "the caption's text at 2 s";
  drawer->DrawImage(frames.Solid(320, 240, kGreen, 4 * kSecond).Get());
  EXPECT_EQ(CountBright(window.Pixels()), 0) << "nothing after the caption ends";
  drawer->DrawImage(frames.Solid(320, 240, kGreen, 0).Get());
  EXPECT_EQ(CountBright(window.Pixels()), 0) << "nothing before it starts";

  // The time offset moves sample times.
  drawer->SetTimeOffset(2 * kSecond);
  drawer->DrawImage(frames.Solid(320, 240, kGreen, 0).Get());
  EXPECT_GT(CountBright(window.Pixels()), 30);
  drawer->SetTimeOffset(0);

  // Disabled: fit and canvas stay, no caption.
  Attach(window, 320, 120);
  overlay->EnableSubtitles(FALSE);
  drawer->DrawImage(frames.Solid(320, 120, kGreen, 2 * kSecond).Get());
  EXPECT_EQ(CountBright(window.Pixels()), 0);
  EXPECT_EQ(window.Pixel(160, 10), kBlack) << "still letterboxed";
  EXPECT_EQ(window.Pixel(160, 120), kGreen);
  overlay->EnableSubtitles(TRUE);
  drawer->DrawImage(frames.Solid(320, 120, kGreen, 2 * kSecond).Get());
  EXPECT_GT(CountBright(window.Pixels()), 30);
}

TEST_F(captionpainter_Drawer, CentredFrameLeavesNoOldCaptionInTheBorder) {
  // 1:1 centred: the frame covers only the middle of the canvas. The border must be black on
  // every frame, not what the last caption drew there.
  ComPtr<ISubtitleManager> manager = LoadedManager(CaptionFile());
  ASSERT_TRUE(manager);
  SurfaceSource window(320, 240);
  Attach(window, 64, 48);
  overlay->SetCanvasSize(320, 240);
  overlay->SetFitMode(1);
  overlay->SetManager(manager.Get());
  drawer->DrawImage(frames.Solid(64, 48, kGreen, 2 * kSecond).Get());
  ASSERT_GT(CountBright(window.Pixels()), 30);
  drawer->DrawImage(frames.Solid(64, 48, kGreen, 5 * kSecond).Get());
  EXPECT_EQ(CountBright(window.Pixels()), 0);
  EXPECT_EQ(window.Pixel(160, 120), kGreen);
  EXPECT_EQ(window.Pixel(10, 10), kBlack);
}

TEST_F(captionpainter_Drawer, EmptySourceDrawsBlackAndCaptionsOnly) {
  ComPtr<ISubtitleManager> manager = LoadedManager(CaptionFile());
  ASSERT_TRUE(manager);
  SurfaceSource window(320, 240);
  Attach(window, 320, 240);
  RECT empty{0, 0, 0, 240};
  drawer->SetSourceRect(&empty);
  overlay->SetCanvasSize(320, 240);
  overlay->SetManager(manager.Get());
  window.Clear(0xFF00FF);
  drawer->DrawImage(frames.Solid(320, 240, kGreen, 2 * kSecond).Get());
  const std::vector<uint32_t> px = window.Pixels();
  EXPECT_GT(CountBright(px), 30);
  int green = 0;
  for (uint32_t p : px) green += p == kGreen;
  EXPECT_EQ(green, 0) << "no picture";
  EXPECT_EQ(window.Pixel(0, 0), kBlack);
}

TEST_F(captionpainter_Drawer, WithoutManagerAndFitZeroDrawsAsThePlainImageDrawer) {
  SurfaceSource composed(200, 150), plain(200, 150);
  Attach(composed, 64, 48);
  std::vector<uint32_t> pattern(size_t(64) * 48);
  for (int i = 0; i < 64 * 48; ++i) pattern[size_t(i)] = uint32_t(i * 2654435761u) & 0xFFFFFF;
  ComPtr<IMediaSample> sample = frames.Make(64, 48, pattern, 0);
  ASSERT_EQ(drawer->DrawImage(sample.Get()), S_OK);

  // The platform's image drawer over the same rectangles.
  class PlainWindow : public CDrawImage {
   public:
    PlainWindow(HDC dc, HDC memory) : CDrawImage(nullptr) {
      m_hdc = dc;
      m_MemoryDC = memory;
    }
  };
  HDC dc = nullptr, memory = nullptr;
  plain.GetWindowDC(&dc);
  plain.GetMemoryDC(&memory);
  PlainWindow reference(dc, memory);
  reference.NotifyMediaType(&type);
  RECT source{0, 0, 64, 48}, target{0, 0, 200, 150};
  reference.SetSourceRect(&source);
  reference.SetTargetRect(&target);
  ASSERT_TRUE(reference.DrawImage(sample.Get()));
  EXPECT_EQ(composed.Pixels(), plain.Pixels());
  EXPECT_FALSE(static_cast<CSubtitleDrawer*>(drawer.Get())->Geometry().compose);
}

TEST_F(captionpainter_Drawer, DrawFrameComposesRawBitsWithTheCaptionAtTheGivenTime) {
  ComPtr<ISubtitleManager> manager = LoadedManager(CaptionFile());
  ASSERT_TRUE(manager);
  SurfaceSource window(320, 240), other(160, 120);
  Attach(window, 320, 120);
  overlay->SetCanvasSize(320, 240);
  overlay->SetFitMode(2);
  overlay->SetManager(manager.Get());
  drawer->SetTimeOffset(10 * kSecond);  // not used by DrawFrame
  const std::vector<uint32_t> bits = BottomUp(320, 120, std::vector<uint32_t>(320 * 120, kGreen));
  EXPECT_EQ(drawer->DrawFrame(nullptr, nullptr, nullptr, nullptr, reinterpret_cast<const BYTE*>(bits.data()), 0),
            E_POINTER);
  ASSERT_EQ(drawer->DrawFrame(nullptr, nullptr, &type, nullptr, reinterpret_cast<const BYTE*>(bits.data()),
                              2 * kSecond),
            S_OK);
  EXPECT_EQ(window.Pixel(160, 10), kBlack);
  EXPECT_EQ(window.Pixel(160, 100), kGreen);
  EXPECT_GT(CountBright(window.Pixels()), 30);

  // Onto another context and rectangle: the canvas is scaled down into it.
  HDC dc = nullptr;
  other.GetWindowDC(&dc);
  RECT half{0, 0, 160, 120};
  ASSERT_EQ(drawer->DrawFrame(dc, &half, &type, nullptr, reinterpret_cast<const BYTE*>(bits.data()), 5 * kSecond),
            S_OK);
  EXPECT_EQ(other.Pixel(80, 5), kBlack);
  EXPECT_TRUE(NearlyEqual(other.Pixel(80, 60), kGreen));
  EXPECT_EQ(CountBright(other.Pixels()), 0) << "no caption at 5 s";
}

TEST_F(captionpainter_Drawer, OverlaySettingsKeepCountedManagersAndCheckPointers) {
  ComPtr<ISubtitleManager> manager = LoadedManager(CaptionFile());
  ASSERT_TRUE(manager);
  EXPECT_EQ(overlay->GetManager(nullptr), E_POINTER);
  ComPtr<ISubtitleManager> got;
  ASSERT_EQ(overlay->GetManager(got.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_FALSE(got) << "none at first";
  overlay->SetManager(manager.Get());
  ASSERT_EQ(overlay->GetManager(got.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(got.Get(), manager.Get());
  EXPECT_TRUE(static_cast<CSubtitleDrawer*>(drawer.Get())->Geometry().compose) << "a manager composes";
  overlay->SetManager(nullptr);
  EXPECT_FALSE(static_cast<CSubtitleDrawer*>(drawer.Get())->Geometry().compose);

  EXPECT_EQ(drawer->GetSourceRect(nullptr), E_POINTER);
  EXPECT_EQ(drawer->GetPaletteVersion(nullptr), E_POINTER);
  EXPECT_EQ(drawer->DrawImage(nullptr), E_POINTER);
  int version = 0;
  drawer->IncrementPaletteVersion();
  drawer->ResetPaletteVersion();
  drawer->GetPaletteVersion(&version);
  EXPECT_EQ(version, 1);
  EXPECT_EQ(drawer->UsingImageAllocator(), S_FALSE);
  drawer->NotifyAllocator(TRUE);
  EXPECT_EQ(drawer->UsingImageAllocator(), S_OK);

  // Lock and unlock from one thread; unlocking what is not held is refused.
  EXPECT_EQ(overlay->Lock(TRUE), S_OK);
  EXPECT_EQ(overlay->SetFitMode(3), S_OK) << "the lock is the caller's own";
  EXPECT_EQ(overlay->Lock(FALSE), S_OK);
  EXPECT_EQ(overlay->Lock(FALSE), E_UNEXPECTED);
}

}  // namespace
