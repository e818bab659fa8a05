#include "libs/captionpainter/tests/painter_testutil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "media/contract/codepage.h"
#include "media/contract/window.h"
#include "tests/support/windowsurface.h"

namespace paintertest {

SurfaceSource::SurfaceSource(int w, int h) : width(w), height(h) {
  hwnd_ = CreatePlatformWindow(&tavtest::IgnoreMessages, nullptr);
  surface_ = CreateSurfaceBitmap(w, h);
  tav::SetWindowSurface(hwnd_, surface_);
  dc_ = GetDC(hwnd_);
  memory_ = CreateCompatibleDC(dc_);
}

SurfaceSource::~SurfaceSource() {
  tav::SetWindowSurface(hwnd_, nullptr);
  ReleaseDC(hwnd_, dc_);
  DeleteDC(memory_);
  DeleteObject(surface_);
  DestroyWindow(hwnd_);
}

STDMETHODIMP SurfaceSource::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IRendererWindow) {
    *ppv = static_cast<IRendererWindow*>(this);
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP SurfaceSource::GetWindowHandle(HWND* hwnd) {
  if (!hwnd) return E_POINTER;
  *hwnd = hwnd_;
  return S_OK;
}
STDMETHODIMP SurfaceSource::GetWindowDC(HDC* dc) {
  if (!dc) return E_POINTER;
  *dc = dc_;
  return S_OK;
}
STDMETHODIMP SurfaceSource::GetMemoryDC(HDC* dc) {
  if (!dc) return E_POINTER;
  *dc = memory_;
  return S_OK;
}

uint32_t SurfaceSource::Pixel(int x, int y) const {
  DIBSECTION ds{};
  GetObject(surface_, sizeof ds, &ds);
  uint32_t p = 0;
  std::memcpy(&p, static_cast<const BYTE*>(ds.dsBm.bmBits) + y * ds.dsBm.bmWidthBytes + x * 4, 4);
  return p & 0xFFFFFF;
}

std::vector<uint32_t> SurfaceSource::Pixels() const {
  std::vector<uint32_t> out;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) out.push_back(Pixel(x, y));
  return out;
}

void SurfaceSource::Clear(uint32_t rgb) {
  HBRUSH brush = CreateSolidBrush(RGB(BYTE(rgb >> 16), BYTE(rgb >> 8), BYTE(rgb)));
  RECT all{0, 0, width, height};
  FillRect(dc_, &all, brush);
  DeleteObject(brush);
}

CMediaType Rgb32Type(LONG width, LONG height) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&MEDIASUBTYPE_RGB32);
  mt.SetFormatType(&FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  vih->bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  vih->bmiHeader.biSizeImage = GetBitmapSize(&vih->bmiHeader);
  vih->AvgTimePerFrame = 400000;
  SetRect(&vih->rcSource, 0, 0, width, height < 0 ? -height : height);
  SetRect(&vih->rcTarget, 0, 0, width, height < 0 ? -height : height);
  mt.SetSampleSize(vih->bmiHeader.biSizeImage);
  mt.SetTemporalCompression(FALSE);
  return mt;
}

Frames::Frames() {
  HRESULT hr = S_OK;
  allocator_ = ComPtr<IMemAllocator>(new CMemAllocator(NAME("test frames"), nullptr, &hr));
  ALLOCATOR_PROPERTIES req{8, 1024 * 1024 * 4, 1, 0}, got{};
  allocator_->SetProperties(&req, &got);
  allocator_->Commit();
}

Frames::~Frames() { allocator_->Decommit(); }

std::vector<uint32_t> BottomUp(int width, int height, const std::vector<uint32_t>& pixels) {
  std::vector<uint32_t> out(pixels.size());
  for (int y = 0; y < height; ++y)
    std::memcpy(&out[size_t(height - 1 - y) * width], &pixels[size_t(y) * width], size_t(width) * 4);
  return out;
}

ComPtr<IMediaSample> Frames::Make(int width, int height, const std::vector<uint32_t>& pixels, REFERENCE_TIME start) {
  ComPtr<IMediaSample> s;
  if (allocator_->GetBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0) != S_OK) return nullptr;
  const std::vector<uint32_t> rows = BottomUp(width, height, pixels);
  BYTE* p = nullptr;
  s->GetPointer(&p);
  std::memcpy(p, rows.data(), rows.size() * 4);
  s->SetActualDataLength(LONG(rows.size() * 4));
  REFERENCE_TIME stop = start + 400000;
  s->SetTime(&start, &stop);
  return s;
}

ComPtr<IMediaSample> Frames::Solid(int width, int height, uint32_t rgb, REFERENCE_TIME start) {
  return Make(width, height, std::vector<uint32_t>(size_t(width) * height, rgb), start);
}

void RegisterLibraries() {
  CoInitialize(nullptr);
  vktest::RegisterLibrary("tavrionstreaming");
  vktest::RegisterLibrary("captionparser");
  vktest::RegisterLibrary("captionpainter");
}

std::string CaptionFile() {
  return tavtest::WriteTempFile("caption.srt", "1\n00:00:01,000 --> 00:00:03,000\nHELLO WORLD\n\n");
}

ComPtr<ISubtitleManager> LoadedManager(const std::string& file, const char16_t* language) {
  ComPtr<ISubtitleManager> m;
  if (FAILED(CoCreateInstance(CLSID_SubtitleManager, nullptr, CLSCTX_ALL, IID_ISubtitleManager, m.AsVoidOut())))
    return nullptr;
  const std::u16string path = tav::AnsiToWide(file);
  if (FAILED(m->LoadFile(path.c_str(), FALSE))) return nullptr;
  m->SelectSizeById(kCaptionSizeNormal);
  if (language) m->SelectLanguageByCode(language);
  return m;
}

int CountBright(const std::vector<uint32_t>& pixels) {
  int n = 0;
  for (uint32_t p : pixels)
    if (((p >> 16) & 0xFF) > 200 && ((p >> 8) & 0xFF) > 200 && (p & 0xFF) > 200) ++n;
  return n;
}

bool NearlyEqual(uint32_t a, uint32_t b, int tolerance) {
  for (int shift : {0, 8, 16}) {
    const int d = int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF);
    if (d > tolerance || d < -tolerance) return false;
  }
  return true;
}

}  // namespace paintertest
