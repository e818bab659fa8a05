// The video drawing helpers: which types the image display takes, the image drawer's slow
// path (device-independent bits, stretched) and fast path (the image allocator's section
// bitmaps), and the window surface that both draw into.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/streaming/tests/base_testutil.h"
#include "tests/support/windowsurface.h"

using namespace tavtest;
using namespace basetest;

namespace {

class SurfaceWindow : public CBaseWindow {
 public:
  SurfaceWindow() : CBaseWindow(4, 2) {}
  ~SurfaceWindow() override { DoneWithWindow(); }
  LPCTSTR GetClassWindowStyles(DWORD* classStyles, DWORD* windowStyle, DWORD* windowStyleEx) override {
    *classStyles = 0;
    *windowStyle = 0;
    *windowStyleEx = 0;
    return "surface test";
  }
  // The window's pixels, top row first, as 0x00RRGGBB.
  std::vector<uint32_t> Pixels() {
    CAutoLock lock(SurfaceLock());
    return tavtest::SurfacePixels(GetWindowHWND());
  }
};

constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF, kGreen = 0x00FF00;

TEST(StrmBaseImageDisplay, TakesDrawableRgbAndRefusesTheRest) {
  CMediaType rgb32 = MakeVideoType(MEDIASUBTYPE_RGB32, 8, 4, 1);
  EXPECT_EQ(CImageDisplay::CheckMediaType(&rgb32), S_OK);
  CMediaType rgb24 = MakeVideoType(MEDIASUBTYPE_RGB24, 8, -4, 1);
  EXPECT_EQ(CImageDisplay::CheckMediaType(&rgb24), S_OK) << "top-down frames too";

  CMediaType wrongBits = MakeVideoType(MEDIASUBTYPE_RGB32, 8, 4, 1);
  reinterpret_cast<VIDEOINFOHEADER*>(wrongBits.pbFormat)->bmiHeader.biBitCount = 24;
  EXPECT_EQ(CImageDisplay::CheckMediaType(&wrongBits), E_INVALIDARG) << "subtype and bit count disagree";
  CMediaType planes = MakeVideoType(MEDIASUBTYPE_RGB32, 8, 4, 1);
  reinterpret_cast<VIDEOINFOHEADER*>(planes.pbFormat)->bmiHeader.biPlanes = 2;
  EXPECT_EQ(CImageDisplay::CheckMediaType(&planes), E_INVALIDARG);
  CMediaType shortImage = MakeVideoType(MEDIASUBTYPE_RGB32, 8, 4, 1);
  reinterpret_cast<VIDEOINFOHEADER*>(shortImage.pbFormat)->bmiHeader.biSizeImage = 8 * 4 * 4 - 1;
  EXPECT_EQ(CImageDisplay::CheckMediaType(&shortImage), E_INVALIDARG) << "an image size too small for the picture";
  CMediaType noWidth = MakeVideoType(MEDIASUBTYPE_RGB32, 8, 4, 1);
  reinterpret_cast<VIDEOINFOHEADER*>(noWidth.pbFormat)->bmiHeader.biWidth = 0;
  EXPECT_EQ(CImageDisplay::CheckMediaType(&noWidth), E_INVALIDARG);
  CMediaType yuv = MakeVideoType(MEDIASUBTYPE_YUY2, 8, 4, 1);
  EXPECT_EQ(CImageDisplay::CheckMediaType(&yuv), E_INVALIDARG);
  CMediaType info2 = MakeVideoType(MEDIASUBTYPE_RGB32, 8, 4, 1);
  info2.formattype = FORMAT_VideoInfo2;
  EXPECT_EQ(CImageDisplay::CheckMediaType(&info2), E_INVALIDARG);

  // 16 bits: 5-5-5 by default; 5-6-5 only with its masks spelled out.
  CMediaType rgb555 = MakeVideoType(MEDIASUBTYPE_RGB555, 8, 4, 1);
  reinterpret_cast<VIDEOINFOHEADER*>(rgb555.pbFormat)->bmiHeader.biBitCount = 16;
  reinterpret_cast<VIDEOINFOHEADER*>(rgb555.pbFormat)->bmiHeader.biSizeImage = 16 * 4;
  EXPECT_EQ(CImageDisplay::CheckMediaType(&rgb555), S_OK);
  CMediaType rgb565 = MakeVideoType(MEDIASUBTYPE_RGB565, 8, 4, 1);
  auto* vi = reinterpret_cast<VIDEOINFO*>(rgb565.ReallocFormatBuffer(sizeof(VIDEOINFOHEADER) + 12));
  vi->bmiHeader.biBitCount = 16;
  vi->bmiHeader.biSizeImage = 16 * 4;
  vi->bmiHeader.biCompression = BI_RGB;
  EXPECT_EQ(CImageDisplay::CheckMediaType(&rgb565), E_INVALIDARG);
  vi->bmiHeader.biCompression = BI_BITFIELDS;
  vi->dwBitMasks[0] = 0xF800;
  vi->dwBitMasks[1] = 0x07E0;
  vi->dwBitMasks[2] = 0x001F;
  EXPECT_EQ(CImageDisplay::CheckMediaType(&rgb565), S_OK);
  vi->dwBitMasks[1] = 0x0FE0;  // overlaps red
  EXPECT_EQ(CImageDisplay::CheckMediaType(&rgb565), E_INVALIDARG);
}

TEST(StrmBaseDrawImage, SlowPathStretchesBottomUpBitsIntoTheWindowSurface) {
  SurfaceWindow window;
  ASSERT_EQ(window.PrepareWindow(), S_OK);
  ASSERT_EQ(window.Pixels().size(), 8u) << "a 4 x 2 surface from the start";

  // A 2 x 1 frame: red then blue.
  CMediaType type = MakeVideoType(MEDIASUBTYPE_RGB32, 2, 1, 1);
  HRESULT hr = S_OK;
  ComPtr<IMemAllocator> memory(new CMemAllocator(NAME("frames"), nullptr, &hr));
  ALLOCATOR_PROPERTIES req{1, 8, 1, 0}, got{};
  ASSERT_EQ(memory->SetProperties(&req, &got), S_OK);
  ASSERT_EQ(memory->Commit(), S_OK);
  ComPtr<IMediaSample> sample;
  ASSERT_EQ(memory->GetBuffer(sample.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
  BYTE* bits = nullptr;
  sample->GetPointer(&bits);
  const uint32_t frame[2] = {kRed, kBlue};
  std::memcpy(bits, frame, 8);
  sample->SetActualDataLength(8);

  CDrawImage drawer(&window);
  drawer.SetDrawContext();
  drawer.NotifyMediaType(&type);
  RECT source{0, 0, 2, 1}, target{0, 0, 4, 2};
  drawer.SetSourceRect(&source);
  drawer.SetTargetRect(&target);
  {
    CAutoLock lock(window.SurfaceLock());
    EXPECT_TRUE(drawer.DrawImage(sample.Get()));
  }
  const std::vector<uint32_t> px = window.Pixels();
  ASSERT_EQ(px.size(), 8u);
  EXPECT_EQ(px[0], kRed);
  EXPECT_EQ(px[3], kBlue);
  EXPECT_EQ(px[4], kRed) << "both rows of the stretched picture";
  EXPECT_EQ(px[7], kBlue);

  // A short sample draws nothing rather than reading past its end.
  sample->SetActualDataLength(4);
  RECT whole{0, 0, 4, 2};
  FillRect(window.GetWindowHDC(), &whole, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  {
    CAutoLock lock(window.SurfaceLock());
    drawer.DrawImage(sample.Get());
  }
  EXPECT_EQ(window.Pixels()[0], 0u);
  sample = nullptr;
  memory->Decommit();
}

TEST(StrmBaseDrawImage, FastPathBlitsTheImageAllocatorsSectionBitmap) {
  ComPtr<IBaseFilter> rnd;
  CTestRenderer* renderer = CTestRenderer::Create({}, rnd);
  HRESULT hr = S_OK;
  SurfaceWindow window;
  ASSERT_EQ(window.PrepareWindow(), S_OK);
  {
    CImageAllocator images(renderer, NAME("images"), &hr);
    CMediaType type = MakeVideoType(MEDIASUBTYPE_RGB32, 4, 2, 1);  // bottom-up
    images.NotifyMediaType(&type);
    ALLOCATOR_PROPERTIES req{1, 1, 1, 0}, got{};
    ASSERT_EQ(images.SetProperties(&req, &got), S_OK);
    ASSERT_EQ(images.Commit(), S_OK);
    IMediaSample* s = nullptr;
    ASSERT_EQ(images.GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    DIBDATA* dib = static_cast<CImageSample*>(s)->GetDIBData();
    ASSERT_NE(dib->hBitmap, nullptr) << "an RGB image lives in a section bitmap";
    BYTE* bits = nullptr;
    s->GetPointer(&bits);
    EXPECT_EQ(bits, dib->pBase);
    // Bottom row green, top row blue.
    const uint32_t rows[8] = {kGreen, kGreen, kGreen, kGreen, kBlue, kBlue, kBlue, kBlue};
    std::memcpy(bits, rows, sizeof rows);
    s->SetActualDataLength(sizeof rows);

    CDrawImage drawer(&window);
    drawer.SetDrawContext();
    drawer.NotifyMediaType(&type);
    drawer.NotifyAllocator(TRUE);
    RECT r{0, 0, 4, 2};
    drawer.SetSourceRect(&r);
    drawer.SetTargetRect(&r);
    {
      CAutoLock lock(window.SurfaceLock());
      EXPECT_TRUE(drawer.DrawImage(s));
    }
    EXPECT_TRUE(dib->bSyncSample) << "drawn through the section";
    const std::vector<uint32_t> px = window.Pixels();
    ASSERT_EQ(px.size(), 8u);
    EXPECT_EQ(px[0], kBlue);
    EXPECT_EQ(px[7], kGreen);
    s->Release();
    images.Decommit();
  }
}

TEST(StrmBaseDrawImage, TheSurfaceFollowsTheWindowSize) {
  SurfaceWindow window;
  ASSERT_EQ(window.PrepareWindow(), S_OK);
  RECT r{0, 0, 6, 3};
  window.SetWindowRect(r);
  EXPECT_EQ(window.Pixels().size(), 18u) << "remade before SetWindowRect returns";
  HDC dc = window.GetWindowHDC();
  RECT all{0, 0, 6, 3};
  {
    CAutoLock lock(window.SurfaceLock());
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &all, red);
    DeleteObject(red);
  }
  EXPECT_EQ(window.Pixels()[17], kRed) << "the window's context draws into its surface";
  window.DoneWithWindow();
  EXPECT_EQ(tav::GetWindowSurface(window.GetWindowHWND()), nullptr);
}

}  // namespace
