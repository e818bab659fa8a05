#include "platform/filters/pixelconvert.h"

#include <libyuv/convert.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>

namespace tav::filters {

// libyuv names packed layouts by their 32-bit word: its "ARGB" is B, G, R, A in memory
// (RGB32 / AV_PIX_FMT_BGRA) and its "RGB24" is B, G, R (RGB24 / AV_PIX_FMT_BGR24). The YUV
// sources are BT.601, studio range except the J (full range) kind, as libswscale takes them
// when the picture carries no other colour description. Every function returns 0 on
// success.
bool ConvertPixels(const uint8_t* const* p, const int* l, AVPixelFormat in, int w, int h, uint8_t* dst, int stride,
                   AVPixelFormat out) {
  int r = -1;
  if (out == AV_PIX_FMT_BGRA) {
    switch (in) {
      case AV_PIX_FMT_YUV420P: r = libyuv::I420ToARGB(p[0], l[0], p[1], l[1], p[2], l[2], dst, stride, w, h); break;
      case AV_PIX_FMT_YUVJ420P: r = libyuv::J420ToARGB(p[0], l[0], p[1], l[1], p[2], l[2], dst, stride, w, h); break;
      case AV_PIX_FMT_YUV422P: r = libyuv::I422ToARGB(p[0], l[0], p[1], l[1], p[2], l[2], dst, stride, w, h); break;
      case AV_PIX_FMT_YUVJ422P: r = libyuv::J422ToARGB(p[0], l[0], p[1], l[1], p[2], l[2], dst, stride, w, h); break;
      case AV_PIX_FMT_YUV444P: r = libyuv::I444ToARGB(p[0], l[0], p[1], l[1], p[2], l[2], dst, stride, w, h); break;
      case AV_PIX_FMT_NV12: r = libyuv::NV12ToARGB(p[0], l[0], p[1], l[1], dst, stride, w, h); break;
      case AV_PIX_FMT_NV21: r = libyuv::NV21ToARGB(p[0], l[0], p[1], l[1], dst, stride, w, h); break;
      case AV_PIX_FMT_YUYV422: r = libyuv::YUY2ToARGB(p[0], l[0], dst, stride, w, h); break;
      case AV_PIX_FMT_UYVY422: r = libyuv::UYVYToARGB(p[0], l[0], dst, stride, w, h); break;
      case AV_PIX_FMT_BGR24: r = libyuv::RGB24ToARGB(p[0], l[0], dst, stride, w, h); break;
      case AV_PIX_FMT_BGRA: r = libyuv::ARGBCopy(p[0], l[0], dst, stride, w, h); break;
      default: break;
    }
  } else if (out == AV_PIX_FMT_BGR24) {
    switch (in) {
      case AV_PIX_FMT_YUV420P: r = libyuv::I420ToRGB24(p[0], l[0], p[1], l[1], p[2], l[2], dst, stride, w, h); break;
      case AV_PIX_FMT_YUVJ420P: r = libyuv::J420ToRGB24(p[0], l[0], p[1], l[1], p[2], l[2], dst, stride, w, h); break;
      case AV_PIX_FMT_YUV422P: r = libyuv::I422ToRGB24(p[0], l[0], p[1], l[1], p[2], l[2], dst, stride, w, h); break;
      case AV_PIX_FMT_YUV444P: r = libyuv::I444ToRGB24(p[0], l[0], p[1], l[1], p[2], l[2], dst, stride, w, h); break;
      case AV_PIX_FMT_NV12: r = libyuv::NV12ToRGB24(p[0], l[0], p[1], l[1], dst, stride, w, h); break;
      case AV_PIX_FMT_NV21: r = libyuv::NV21ToRGB24(p[0], l[0], p[1], l[1], dst, stride, w, h); break;
      case AV_PIX_FMT_BGRA: r = libyuv::ARGBToRGB24(p[0], l[0], dst, stride, w, h); break;
      case AV_PIX_FMT_BGR24: libyuv::CopyPlane(p[0], l[0], dst, stride, w * 3, h); r = 0; break;
      default: break;
    }
  } else if (out == AV_PIX_FMT_YUYV422) {
    switch (in) {
      case AV_PIX_FMT_YUV420P: r = libyuv::I420ToYUY2(p[0], l[0], p[1], l[1], p[2], l[2], dst, stride, w, h); break;
      case AV_PIX_FMT_YUV422P: r = libyuv::I422ToYUY2(p[0], l[0], p[1], l[1], p[2], l[2], dst, stride, w, h); break;
      case AV_PIX_FMT_YUYV422: libyuv::CopyPlane(p[0], l[0], dst, stride, ((w + 1) / 2) * 4, h); r = 0; break;
      default: break;
    }
  }
  return r == 0;
}

bool ScaleConvertPixels(const uint8_t* const* p, const int* l, AVPixelFormat in, int w, int h, uint8_t* dst,
                        int stride, int ow, int oh, AVPixelFormat out, std::vector<uint8_t>* scratch) {
  const bool tenBits = in == AV_PIX_FMT_YUV420P10LE;
  if (in != AV_PIX_FMT_YUV420P && in != AV_PIX_FMT_YUVJ420P && !tenBits) return false;
  if (out != AV_PIX_FMT_BGRA && out != AV_PIX_FMT_BGR24 && out != AV_PIX_FMT_YUYV422) return false;
  if (in == AV_PIX_FMT_YUVJ420P && out == AV_PIX_FMT_YUYV422) return false;
  if (w <= 0 || h <= 0 || ow <= 0 || oh <= 0) return false;
  // The small picture's planes, one after the other, each row as wide as the picture; for
  // 10 bits first the full-size picture at 8 bits: libyuv's 16-bit box filter is plain C,
  // four times slower than narrowing the samples and filtering 8-bit ones.
  const int cw = (ow + 1) / 2, ch = (oh + 1) / 2;
  const int fw = (w + 1) / 2, fh = (h + 1) / 2;
  const size_t small = size_t(ow) * size_t(oh) + 2 * size_t(cw) * size_t(ch);
  const size_t narrowed = tenBits ? size_t(w) * size_t(h) + 2 * size_t(fw) * size_t(fh) : 0;
  scratch->resize(small + narrowed);
  uint8_t* y = scratch->data();
  uint8_t* u = y + size_t(ow) * size_t(oh);
  uint8_t* v = u + size_t(cw) * size_t(ch);
  const uint8_t* src[3] = {p[0], p[1], p[2]};
  int srcLines[3] = {l[0], l[1], l[2]};
  if (tenBits) {
    uint8_t* n[3] = {y + small, nullptr, nullptr};
    n[1] = n[0] + size_t(w) * size_t(h);
    n[2] = n[1] + size_t(fw) * size_t(fh);
    constexpr int kTenToEight = 1 << 14;  // (sample x scale) >> 16 keeps the top 8 of 10 bits
    libyuv::Convert16To8Plane(reinterpret_cast<const uint16_t*>(p[0]), l[0] / 2, n[0], w, kTenToEight, w, h);
    libyuv::Convert16To8Plane(reinterpret_cast<const uint16_t*>(p[1]), l[1] / 2, n[1], fw, kTenToEight, fw, fh);
    libyuv::Convert16To8Plane(reinterpret_cast<const uint16_t*>(p[2]), l[2] / 2, n[2], fw, kTenToEight, fw, fh);
    for (int i = 0; i < 3; ++i) src[i] = n[i];
    srcLines[0] = w;
    srcLines[1] = srcLines[2] = fw;
  }
  // A box filter: every source pixel counts, so fine detail does not shimmer.
  if (libyuv::I420Scale(src[0], srcLines[0], src[1], srcLines[1], src[2], srcLines[2], w, h, y, ow, u, cw, v, cw, ow,
                        oh, libyuv::kFilterBox) != 0)
    return false;
  const uint8_t* const planes[3] = {y, u, v};
  const int lines[3] = {ow, cw, cw};
  return ConvertPixels(planes, lines, tenBits ? AV_PIX_FMT_YUV420P : in, ow, oh, dst, stride, out);
}

}  // namespace tav::filters
