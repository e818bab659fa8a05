// The libyuv conversions of the video engine, checked against libswscale (which the engine
// used for every picture before) on a picture with a gradient, a coloured corner and odd
// sizes: channel order, chroma planes, value range, bottom-up writing and row ends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "media/contract/mediatypes.h"
#include "platform/filters/pixelconvert.h"

namespace {

struct Picture {
  AVPixelFormat format;
  int width, height;
  std::vector<uint8_t> bytes;
  uint8_t* planes[4] = {};
  int lines[4] = {};

  Picture(AVPixelFormat f, int w, int h) : format(f), width(w), height(h) {
    bytes.resize(size_t(av_image_get_buffer_size(f, w, h, 32)));
    av_image_fill_arrays(planes, lines, bytes.data(), f, w, h, 32);
  }
};

// An RGB32 picture: red grows to the right, green downwards, blue in the top left quarter.
Picture Pattern(int w, int h) {
  Picture p(AV_PIX_FMT_BGRA, w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* px = p.planes[0] + y * p.lines[0] + x * 4;
      px[0] = (x < w / 2 && y < h / 2) ? 200 : 30;
      px[1] = uint8_t(20 + 200 * y / h);
      px[2] = uint8_t(20 + 200 * x / w);
      px[3] = 255;
    }
  return p;
}

Picture Swscale(const Picture& in, AVPixelFormat out) {
  Picture p(out, in.width, in.height);
  SwsContext* sws = sws_getContext(in.width, in.height, in.format, in.width, in.height, out,
                                   SWS_POINT | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
  sws_scale(sws, in.planes, in.lines, 0, in.height, p.planes, p.lines);
  sws_freeContext(sws);
  return p;
}

int BytesPerPixel(AVPixelFormat f) { return f == AV_PIX_FMT_BGRA ? 4 : f == AV_PIX_FMT_BGR24 ? 3 : 2; }

TEST(filters_PixelConvert, UsualLayouts_MatchTheScaler_TopDownAndBottomUp) {
  // 38 x 22: rows that no SIMD block size divides.
  const int w = 38, h = 22;
  const Picture rgb = Pattern(w, h);
  const AVPixelFormat sources[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_NV12, AV_PIX_FMT_YUYV422,
                                   AV_PIX_FMT_UYVY422, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV444P, AV_PIX_FMT_BGR24};
  for (AVPixelFormat source : sources) {
    const Picture in = Swscale(rgb, source);
    for (AVPixelFormat target : {AV_PIX_FMT_BGRA, AV_PIX_FMT_BGR24}) {
      if (source == AV_PIX_FMT_YUYV422 && target == AV_PIX_FMT_BGR24) continue;  // left to the scaler
      if (source == AV_PIX_FMT_UYVY422 && target == AV_PIX_FMT_BGR24) continue;
      const Picture expected = Swscale(in, target);
      const int bpp = BytesPerPixel(target);
      const int stride = int(DibStride(w, bpp * 8));
      for (bool bottomUp : {false, true}) {
        SCOPED_TRACE(std::string(av_get_pix_fmt_name(source)) + " to " + av_get_pix_fmt_name(target) +
                     (bottomUp ? " bottom-up" : " top-down"));
        // One guard row on each side catches a write past the picture.
        std::vector<uint8_t> out(size_t(stride) * (h + 2), 0xA5);
        uint8_t* first = out.data() + stride;
        uint8_t* top = bottomUp ? first + stride * (h - 1) : first;
        ASSERT_TRUE(tav::filters::ConvertPixels(in.planes, in.lines, source, w, h, top, bottomUp ? -stride : stride,
                                                target));
        int worst = 0;
        for (int y = 0; y < h; ++y) {
          const uint8_t* row = first + stride * (bottomUp ? h - 1 - y : y);
          for (int x = 0; x < w * bpp; ++x) {
            if (bpp == 4 && x % 4 == 3) continue;  // alpha
            worst = std::max(worst, std::abs(int(row[x]) - int(expected.planes[0][y * expected.lines[0] + x])));
          }
        }
        // Chroma is spread over its block by the scaler and repeated by libyuv.
        EXPECT_LE(worst, source == AV_PIX_FMT_BGR24 ? 0 : 6);
        for (int i = 0; i < stride; ++i) {
          ASSERT_EQ(out[size_t(i)], 0xA5) << "written before the picture";
          ASSERT_EQ(out[out.size() - 1 - size_t(i)], 0xA5) << "written after the picture";
        }
      }
    }
  }
}

TEST(filters_PixelConvert, PairsWithoutALibyuvConversion_AreRefusedUntouched) {
  const Picture in = Swscale(Pattern(16, 8), AV_PIX_FMT_YUYV422);
  std::vector<uint8_t> out(16 * 8 * 4, 0x5A);
  EXPECT_FALSE(tav::filters::ConvertPixels(in.planes, in.lines, AV_PIX_FMT_YUYV422, 16, 8, out.data(), 16 * 3,
                                           AV_PIX_FMT_BGR24));
  EXPECT_FALSE(tav::filters::ConvertPixels(in.planes, in.lines, AV_PIX_FMT_YUV420P10LE, 16, 8, out.data(), 16 * 4,
                                           AV_PIX_FMT_BGRA));
  EXPECT_FALSE(tav::filters::ConvertPixels(in.planes, in.lines, AV_PIX_FMT_YUV420P, 16, 8, out.data(), 16 * 2,
                                           AV_PIX_FMT_RGB565LE));
  for (uint8_t b : out) ASSERT_EQ(b, 0x5A);
}

}  // namespace
