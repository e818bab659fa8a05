#include <cmath>
#include <cstdio>
#include <vector>

#include "converter/tools/probe/pngfile.h"
#include "converter/tools/probe/probe.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/comptr.h"
#include "media/contract/errortext.h"
#include "media/contract/mediatypeptr.h"
#include "media/contract/mediatypes.h"
#include "media/contract/memoryowners.h"
#include "media/contract/strmif.h"
#include "media/contract/videoinfo.h"

namespace probe {

namespace {

// A 24-bit BGR picture (bottom-up when the height is positive) as 0x00RRGGBB words, top row
// first; empty when the header or the length does not describe such a picture.
std::vector<uint32_t> RgbWords(const BYTE* bits, LONG length, const BITMAPINFOHEADER& bmi) {
  if (bmi.biBitCount != 24 || bmi.biWidth <= 0 || bmi.biHeight == 0) return {};
  const int w = bmi.biWidth, h = bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight;
  const size_t stride = size_t(DibStride(w, 24));
  if (length < 0 || size_t(length) < stride * size_t(h)) return {};
  std::vector<uint32_t> px(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y) {
    const BYTE* row = bits + stride * size_t(bmi.biHeight > 0 ? h - 1 - y : y);
    uint32_t* out = px.data() + size_t(y) * size_t(w);
    for (int x = 0; x < w; ++x)
      out[x] = uint32_t(row[3 * x]) | uint32_t(row[3 * x + 1]) << 8 | uint32_t(row[3 * x + 2]) << 16;
  }
  return px;
}

}  // namespace

int RunFrame(const FrameOptions& o) {
  ComPtr<IMediaReaderHolder> holder;
  HRESULT hr = CoCreateInstance(CLSID_VxMediaReaderHolder, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaReaderHolder,
                                holder.AsVoidOut());
  if (FAILED(hr)) {
    std::fprintf(stderr, "tavrion-probe: cannot create the media reader holder: %s\n", tav::ResultText(hr).c_str());
    return 1;
  }
  const std::u16string file = tav::Utf8ToUtf16(o.file);
  hr = holder->OpenVideo(file.c_str(), &TIME_FORMAT_MEDIA_TIME, nullptr);
  if (FAILED(hr)) {
    std::fprintf(stderr, "tavrion-probe: cannot open %s for reading pictures: %s\n", o.file.c_str(),
                 tav::ResultText(hr).c_str());
    return 1;
  }
  tav::TaskMemPtr<BYTE> data;
  LONG length = 0;
  tav::ScopedMediaType type;
  hr = holder->ReadSample(REFERENCE_TIME(std::llround(o.seconds * UNITS)), data.Out(), &length, type.Out());
  if (FAILED(hr)) {
    std::fprintf(stderr, "tavrion-probe: no picture at %.3f s in %s: %s\n", o.seconds, o.file.c_str(),
                 tav::ResultText(hr).c_str());
    return 1;
  }
  const BITMAPINFOHEADER* bmi = VideoBitmapHeader(type.Get());
  const std::vector<uint32_t> px = bmi ? RgbWords(data.Get(), length, *bmi) : std::vector<uint32_t>();
  const long height = bmi ? (bmi->biHeight < 0 ? -long(bmi->biHeight) : long(bmi->biHeight)) : 0;
  if (px.empty() || !WritePng(o.output, bmi->biWidth, int(height), px.data())) {
    std::fprintf(stderr, "tavrion-probe: cannot write %s\n", o.output.c_str());
    return 1;
  }
  std::printf("Frame: %ldx%ld at %.3f s -> %s\n", long(bmi->biWidth), height, o.seconds, o.output.c_str());
  return 0;
}

}  // namespace probe
