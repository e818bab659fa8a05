// Helpers of the CaptionPainter tests: a window source over a real drawing surface, RGB32
// frames as samples, a loaded subtitle manager from the caption library, and pixel reading.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "libs/captionpainter/captionpainter.h"
#include "libs/captionpainter/subtitledrawer.h"
#include "libs/vxvideokit/tests/testgraph.h"
#include "tests/support/testenv.h"

namespace paintertest {

constexpr REFERENCE_TIME kSecond = 10'000'000;
constexpr uint32_t kGreen = 0x00FF00, kBlack = 0;

// A window source: a platform window handle with a 32-bit surface of the given size.
class SurfaceSource final : public IRendererWindow {
 public:
  SurfaceSource(int width, int height);
  ~SurfaceSource();
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetWindowHandle(HWND* hwnd) override;
  STDMETHODIMP GetWindowDC(HDC* dc) override;
  STDMETHODIMP GetMemoryDC(HDC* dc) override;

  // 0x00RRGGBB, top row first.
  uint32_t Pixel(int x, int y) const;
  std::vector<uint32_t> Pixels() const;
  void Clear(uint32_t rgb);
  int width, height;

 private:
  HWND hwnd_ = nullptr;
  HBITMAP surface_ = nullptr;
  HDC dc_ = nullptr, memory_ = nullptr;
};

// An RGB32 VIDEOINFOHEADER type (bottom-up unless height < 0).
CMediaType Rgb32Type(LONG width, LONG height);

// Samples of plain memory (not the image allocator's).
class Frames {
 public:
  Frames();
  ~Frames();
  // A frame of `pixels` (0x00RRGGBB, top row first) stored bottom-up, with times.
  ComPtr<IMediaSample> Make(int width, int height, const std::vector<uint32_t>& pixels, REFERENCE_TIME start);
  ComPtr<IMediaSample> Solid(int width, int height, uint32_t rgb, REFERENCE_TIME start);

 private:
  ComPtr<IMemAllocator> allocator_;
};

// Bottom-up bits of a top-row-first picture.
std::vector<uint32_t> BottomUp(int width, int height, const std::vector<uint32_t>& pixels);

// Registers the caption library (and the graph library) in the private registry.
void RegisterLibraries();
// Makes an object of this library directly (create is its class's CreateInstance) and asks
// it for iid into *out.
inline ::testing::AssertionResult MakeObject(CUnknown* (*create)(LPUNKNOWN, HRESULT*), REFIID iid, void** out) {
  HRESULT hr = S_OK;
  CUnknown* object = create(nullptr, &hr);
  if (!object || FAILED(hr)) return ::testing::AssertionFailure() << "CreateInstance failed: 0x" << std::hex << hr;
  object->NonDelegatingQueryInterface(iid, out);
  return ::testing::AssertionSuccess();
}
// A "Subtitle Manager" with `file` loaded and the default size, or null.
ComPtr<ISubtitleManager> LoadedManager(const std::string& file, const char16_t* language = nullptr);
// A SubRip file with one caption from 1 s to 3 s.
std::string CaptionFile();

// Pixels bright in all three channels: the caption's text.
int CountBright(const std::vector<uint32_t>& pixels);
// Pixels that are neither black nor `rgb` within a small tolerance.
bool NearlyEqual(uint32_t a, uint32_t b, int tolerance = 8);

}  // namespace paintertest
