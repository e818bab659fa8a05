// The manager's drawing methods on real frames: DrawOnBitmap on 16-, 24- and 32-bit frames
// changes only the caption's pixels, DrawOnDC honours its area, and the shared real-world
// subtitle files load and draw.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "libs/captionparser/subtitlemanager.h"
#include "libs/captionparser/tests/framecheck.h"
#include "libs/captionparser/tests/testutil.h"
#include "media/contract/com.h"
#include "media/contract/comptr.h"
#include "tests/support/testenv.h"

#include "media/contract/wingdi.h"

using captiontest::ChangedExtent;
using captiontest::Extent;

namespace {

constexpr REFERENCE_TIME kSecond = 10'000'000;

ComPtr<ISubtitleManager> Loaded(const std::string& path) {
  HRESULT hr = E_FAIL;
  ComPtr<ISubtitleManager> m;
  CSubtitleManager::CreateInstance(nullptr, &hr)->NonDelegatingQueryInterface(IID_ISubtitleManager, m.AsVoidOut());
  const std::u16string wide(path.begin(), path.end());
  EXPECT_EQ(S_OK, m->LoadFile(wide.c_str(), FALSE)) << path;
  return m;
}

BITMAPINFOHEADER Header(int width, int height, int bits) {
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = WORD(bits);
  h.biCompression = BI_RGB;
  h.biSizeImage = GetBitmapSize(&h);
  return h;
}

}  // namespace

TEST(captionparser_ManagerDrawing, DrawOnBitmapChangesOnlyCaptionPixels) {
  ComPtr<ISubtitleManager> m =
      Loaded(tavtest::WriteTempFile("one.srt", "1\n00:00:01,000 --> 00:00:05,000\nShort line\n\n"));
  for (int bits : {16, 24, 32}) {
    SCOPED_TRACE(bits);
    const BITMAPINFOHEADER h = Header(320, 240, bits);
    const std::vector<BYTE> grey(h.biSizeImage, 0x42);
    std::vector<BYTE> frame = grey;
    ASSERT_EQ(S_OK, m->DrawOnBitmap(&h, frame.data(), kSecond / 2));
    EXPECT_EQ(grey, frame) << "nothing due before the first caption";
    ASSERT_EQ(S_OK, m->DrawOnBitmap(&h, frame.data(), 2 * kSecond));
    const Extent e = ChangedExtent(frame, grey, 320, 240, bits);
    ASSERT_TRUE(e.any());
    // The text area of a 240-line frame starts at y = 198 between x = 6 and 314; the outline
    // reaches 2 pixels beyond the text.
    EXPECT_GE(e.top, 198 - 2);
    EXPECT_GE(e.left, 6 - 2);
    EXPECT_LE(e.right, 314 + 2);
    EXPECT_LE(e.bottom, 239);
    // Centred: as much room on the left as on the right, within a few pixels.
    EXPECT_NEAR(e.left, 319 - e.right, 4);
  }
}

TEST(captionparser_ManagerDrawing, DrawOnDCDrawsIntoTheAreaOrTheWholeBitmap) {
  ComPtr<ISubtitleManager> m =
      Loaded(tavtest::WriteTempFile("dc.srt", "1\n00:00:01,000 --> 00:00:05,000\nOn the picture\n\n"));
  BITMAPINFO info{};
  info.bmiHeader = Header(320, 240, 32);
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  ASSERT_TRUE(bitmap && pixels);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  const size_t size = info.bmiHeader.biSizeImage;
  const std::vector<BYTE> grey(size, 0x42);
  auto read = [&] {
    GdiFlush();
    return std::vector<BYTE>(static_cast<BYTE*>(pixels), static_cast<BYTE*>(pixels) + size);
  };

  std::memcpy(pixels, grey.data(), size);
  EXPECT_EQ(S_OK, m->DrawOnDC(dc, 2 * kSecond, nullptr));
  const Extent whole = ChangedExtent(read(), grey, 320, 240, 32);
  ASSERT_TRUE(whole.any());
  EXPECT_GE(whole.top, 196);

  std::memcpy(pixels, grey.data(), size);
  const RECT upperHalf{0, 0, 320, 120};
  EXPECT_EQ(S_OK, m->DrawOnDC(dc, 2 * kSecond, &upperHalf));
  const Extent upper = ChangedExtent(read(), grey, 320, 240, 32);
  ASSERT_TRUE(upper.any());
  EXPECT_LT(upper.bottom, 120) << "the caption stays in the given area";
  EXPECT_GE(upper.top, 60);

  std::memcpy(pixels, grey.data(), size);
  EXPECT_EQ(S_OK, m->DrawOnDC(dc, 0, nullptr));
  EXPECT_EQ(grey, read()) << "no caption due";
  EXPECT_EQ(E_POINTER, m->DrawOnDC(nullptr, 2 * kSecond, nullptr));

  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bitmap);
}

TEST(captionparser_ManagerDrawing, SharedSamplesLoadAndDraw) {
  const std::string dir = tavtest::SharedTestData("subtitles");
  if (dir.empty()) GTEST_SKIP() << "the shared subtitle samples are not present";
  const BITMAPINFOHEADER h = Header(320, 240, 32);
  int loaded = 0;
  for (const auto& item : std::filesystem::directory_iterator(dir)) {
    const std::string ext = item.path().extension().string();
    if (ext != ".srt" && ext != ".smi" && ext != ".sami" && ext != ".vtt" && ext != ".ass" && ext != ".ssa") continue;
    SCOPED_TRACE(item.path().string());
    HRESULT hr = E_FAIL;
    ComPtr<ISubtitleManager> m;
    CSubtitleManager::CreateInstance(nullptr, &hr)->NonDelegatingQueryInterface(IID_ISubtitleManager,
                                                                                 m.AsVoidOut());
    const std::string path = item.path().string();
    const std::u16string wide(path.begin(), path.end());
    hr = m->LoadFile(wide.c_str(), FALSE);
    // Every sample holds captions, so one of the readers takes it.
    ASSERT_EQ(S_OK, hr);
    ++loaded;
    int sizes = 0;
    ASSERT_EQ(S_OK, m->GetSizeCount(&sizes));
    EXPECT_GE(sizes, 3);
    ASSERT_EQ(S_OK, m->SelectSizeById(kCaptionSizeNormal));
    std::vector<BYTE> frame(h.biSizeImage, 0x42);
    // The first captions of the current language (or the default list) at their starts.
    const auto& state = static_cast<CSubtitleManager*>(m.Get())->State();
    const auto& entries = state.EntriesFor(state.CurrentLanguage());
    for (size_t i = 0; i < entries.size() && i < 8; ++i) {
      ASSERT_EQ(S_OK, m->DrawOnBitmap(&h, frame.data(), entries[i]->Start()));
    }
  }
  EXPECT_GT(loaded, 5);
}
