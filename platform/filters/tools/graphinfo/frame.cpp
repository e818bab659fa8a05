#include "platform/filters/tools/graphinfo/frame.h"

#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "libs/vxvideokit/vxvideokit.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/errortext.h"
#include "media/contract/comptr.h"
#include "media/contract/mediatypeptr.h"
#include "media/contract/memoryowners.h"
#include "media/contract/mediatypes.h"
#include "media/contract/strmif.h"
#include "media/contract/videoinfo.h"

namespace {

std::string CodeText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  char text[512];
  if (AMGetErrorTextA(hr, text, sizeof text) == 0) return code;
  std::string t = text;
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r' || t.back() == ' ' || t.back() == '.')) t.pop_back();
  return std::string(code) + " (" + t + ")";
}

// Writes a 24-bit BGR picture (bottom-up when the height is positive) as an RGB PNG.
bool WritePng(const BYTE* bits, LONG length, const BITMAPINFOHEADER& bmi, const std::string& path) {
  if (bmi.biBitCount != 24 || bmi.biWidth <= 0 || bmi.biHeight == 0) return false;
  const int w = bmi.biWidth, h = bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight;
  const size_t stride = size_t(DibStride(w, 24));
  if (size_t(length) < stride * size_t(h)) return false;
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) return false;
  cairo_surface_flush(image);
  unsigned char* out = cairo_image_surface_get_data(image);
  const int outStride = cairo_image_surface_get_stride(image);
  for (int y = 0; y < h; ++y) {
    const BYTE* row = bits + stride * size_t(bmi.biHeight > 0 ? h - 1 - y : y);
    auto* px = reinterpret_cast<uint32_t*>(out + size_t(y) * size_t(outStride));
    for (int x = 0; x < w; ++x)
      px[x] = uint32_t(row[3 * x]) | uint32_t(row[3 * x + 1]) << 8 | uint32_t(row[3 * x + 2]) << 16;
  }
  cairo_surface_mark_dirty(image);
  const bool ok = cairo_surface_write_to_png(image, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(image);
  return ok;
}

}  // namespace

int RunFrame(const FrameOptions& o) {
  ComPtr<IMediaReaderHolder> holder;
  HRESULT hr = CoCreateInstance(CLSID_VxMediaReaderHolder, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaReaderHolder,
                                holder.AsVoidOut());
  if (FAILED(hr)) {
    std::fprintf(stderr, "graphinfo: cannot create the media reader holder: %s\n", CodeText(hr).c_str());
    return 1;
  }
  const std::u16string file = tav::Utf8ToUtf16(o.file);
  hr = holder->OpenVideo(file.c_str(), &TIME_FORMAT_MEDIA_TIME, nullptr);
  if (FAILED(hr)) {
    std::fprintf(stderr, "graphinfo: cannot open %s for reading pictures: %s\n", o.file.c_str(), CodeText(hr).c_str());
    return 1;
  }
  tav::TaskMemPtr<BYTE> data;
  LONG length = 0;
  tav::ScopedMediaType type;
  hr = holder->ReadSample(REFERENCE_TIME(std::llround(o.seconds * UNITS)), data.Out(), &length, type.Out());
  if (FAILED(hr)) {
    std::fprintf(stderr, "graphinfo: no picture at %.3f s in %s: %s\n", o.seconds, o.file.c_str(),
                 CodeText(hr).c_str());
    return 1;
  }
  const BITMAPINFOHEADER* bmi = VideoBitmapHeader(type.Get());
  const bool written = bmi && WritePng(data.Get(), length, *bmi, o.output);
  if (!written) {
    std::fprintf(stderr, "graphinfo: cannot write %s\n", o.output.c_str());
    return 1;
  }
  const long height = bmi->biHeight < 0 ? -long(bmi->biHeight) : long(bmi->biHeight);
  std::printf("Frame: %ldx%ld at %.3f s -> %s\n", long(bmi->biWidth), height, o.seconds, o.output.c_str());
  return 0;
}
