// The libyuv conversions of the video engine, checked against libswscale (which the engine
// used for every picture before) on a picture with a gradient, a coloured corner and odd
// sizes: channel order, chroma planes, value range, bottom-up writing and row ends; and the
// scaling ones that shrink a decoder's big picture on the way, against libswscale's area
// scaler.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "media/contract/mediatypes.h"
#include "platform/filters/decoders/pixelconvert.h"

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

Picture Scaled(const Picture& in, AVPixelFormat out, int w, int h) {
  Picture p(out, w, h);
  SwsContext* sws = sws_getContext(in.width, in.height, in.format, w, h, out, SWS_AREA | SWS_ACCURATE_RND, nullptr,
                                   nullptr, nullptr);
  sws_scale(sws, in.planes, in.lines, 0, in.height, p.planes, p.lines);
  sws_freeContext(sws);
  return p;
}

TEST(filters_PixelConvert, BigPicturesShrunk_MatchTheAreaScaler_At8And10Bits) {
  // A picture six times the size of the result, and one whose sizes divide nothing.
  const Picture rgb = Pattern(384, 216);
  struct Size {
    int w, h;
  };
  for (Size size : {Size{64, 36}, Size{61, 35}}) {
    for (AVPixelFormat source : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P10LE}) {
      const Picture in = Swscale(rgb, source);
      for (AVPixelFormat target : {AV_PIX_FMT_BGRA, AV_PIX_FMT_BGR24}) {
        const Picture expected = Scaled(in, target, size.w, size.h);
        const int bpp = BytesPerPixel(target);
        const int stride = ((size.w * bpp + 3) / 4) * 4;
        std::vector<uint8_t> scratch;
        for (bool bottomUp : {false, true}) {
          SCOPED_TRACE(std::string(av_get_pix_fmt_name(source)) + " to " + av_get_pix_fmt_name(target) + " " +
                       std::to_string(size.w) + (bottomUp ? " bottom-up" : " top-down"));
          std::vector<uint8_t> out(size_t(stride) * (size.h + 2), 0xA5);
          uint8_t* first = out.data() + stride;
          uint8_t* top = bottomUp ? first + stride * (size.h - 1) : first;
          ASSERT_TRUE(tav::filters::ScaleConvertPixels(in.planes, in.lines, source, in.width, in.height, top,
                                                       bottomUp ? -stride : stride, size.w, size.h, target, &scratch));
          double total = 0;
          int worst = 0;
          for (int y = 0; y < size.h; ++y) {
            const uint8_t* row = first + stride * (bottomUp ? size.h - 1 - y : y);
            for (int x = 0; x < size.w * bpp; ++x) {
              if (bpp == 4 && x % 4 == 3) continue;
              const int d = std::abs(int(row[x]) - int(expected.planes[0][y * expected.lines[0] + x]));
              worst = std::max(worst, d);
              total += d;
            }
          }
          // The blue corner's edge falls inside a box of the filter or between two, and the
          // two scalers place their boxes a fraction of a pixel apart; the rest of the
          // picture is a gradient, which both average alike (10 bits lose a fraction of a
          // level to narrowing). A swapped channel, a wrong range or a shifted row costs tens.
          EXPECT_LE(total / (size.w * size.h * 3), 3.5);
          EXPECT_LE(worst, 120);
          for (int i = 0; i < stride; ++i) {
            ASSERT_EQ(out[size_t(i)], 0xA5) << "written before the picture";
            ASSERT_EQ(out[out.size() - 1 - size_t(i)], 0xA5) << "written after the picture";
          }
        }
      }
    }
  }
  // Layouts it has no path for are left to libswscale, nothing written.
  const Picture nv12 = Swscale(rgb, AV_PIX_FMT_NV12);
  std::vector<uint8_t> out(64 * 36 * 4, 0x5A), scratch;
  EXPECT_FALSE(tav::filters::ScaleConvertPixels(nv12.planes, nv12.lines, AV_PIX_FMT_NV12, 384, 216, out.data(), 64 * 4,
                                                64, 36, AV_PIX_FMT_BGRA, &scratch));
  for (uint8_t b : out) ASSERT_EQ(b, 0x5A);
}

TEST(filters_PixelConvert, ShrunkAndTurned_IsTheShrunkPictureTurned) {
  const Picture in = Swscale(Pattern(192, 108), AV_PIX_FMT_YUV420P);
  const int w = 32, h = 18;  // the shrunk picture before its turn
  std::vector<uint8_t> scratch;
  std::vector<uint8_t> plain(size_t(w) * h * 4);
  ASSERT_TRUE(tav::filters::ScaleConvertPixels(in.planes, in.lines, AV_PIX_FMT_YUV420P, 192, 108, plain.data(), w * 4, w,
                                               h, AV_PIX_FMT_BGRA, &scratch));
  for (bool mirror : {false, true}) {
    for (int turns = 0; turns < 4; ++turns) {
      if (!mirror && turns == 0) continue;
      SCOPED_TRACE(std::to_string(turns) + " quarter turns" + (mirror ? ", mirrored" : ""));
      const int ow = turns % 2 ? h : w, oh = turns % 2 ? w : h;
      std::vector<uint8_t> out(size_t(ow) * oh * 4);
      ASSERT_TRUE(tav::filters::ScaleTurnConvertPixels(in.planes, in.lines, AV_PIX_FMT_YUV420P, 192, 108, turns, mirror,
                                                       out.data(), ow * 4, ow, oh, AV_PIX_FMT_BGRA, &scratch));
      int worst = 0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          // Where pixel (x, y) of the plain picture goes: mirrored, then turned clockwise.
          int mx = mirror ? w - 1 - x : x, my = y;
          int tx = mx, ty = my;
          if (turns == 1) tx = h - 1 - my, ty = mx;
          if (turns == 2) tx = w - 1 - mx, ty = h - 1 - my;
          if (turns == 3) tx = my, ty = w - 1 - mx;
          for (int c = 0; c < 3; ++c)
            worst = std::max(worst, std::abs(int(plain[(size_t(y) * w + x) * 4 + c]) -
                                             int(out[(size_t(ty) * ow + tx) * 4 + c])));
        }
      // Chroma is shared by pixel pairs that a turn pairs differently.
      EXPECT_LE(worst, 40);
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
