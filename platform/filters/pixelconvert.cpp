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
                        int stride, int ow, int oh, AVPixelFormat out, std::vector<uint16_t>* scratch) {
  const bool tenBits = in == AV_PIX_FMT_YUV420P10LE;
  if (in != AV_PIX_FMT_YUV420P && in != AV_PIX_FMT_YUVJ420P && !tenBits) return false;
  if (tenBits && out != AV_PIX_FMT_BGRA) return false;
  if (!tenBits && out != AV_PIX_FMT_BGRA && out != AV_PIX_FMT_BGR24 && out != AV_PIX_FMT_YUYV422) return false;
  if (in == AV_PIX_FMT_YUVJ420P && out == AV_PIX_FMT_YUYV422) return false;
  if (w <= 0 || h <= 0 || ow <= 0 || oh <= 0) return false;
  // The small picture's planes, one after the other, each row as wide as the picture.
  const int cw = (ow + 1) / 2, ch = (oh + 1) / 2;
  const size_t lumaBytes = size_t(ow) * size_t(oh) * (tenBits ? 2 : 1);
  const size_t chromaBytes = size_t(cw) * size_t(ch) * (tenBits ? 2 : 1);
  scratch->resize((lumaBytes + 2 * chromaBytes + 1) / 2);
  auto* y = reinterpret_cast<uint8_t*>(scratch->data());
  uint8_t* u = y + lumaBytes;
  uint8_t* v = u + chromaBytes;
  // A box filter: every source pixel counts, as when the picture is taken in at a glance.
  constexpr libyuv::FilterMode kFilter = libyuv::kFilterBox;
  int r;
  if (tenBits) {
    auto* y16 = reinterpret_cast<uint16_t*>(y);
    auto* u16 = reinterpret_cast<uint16_t*>(u);
    auto* v16 = reinterpret_cast<uint16_t*>(v);
    r = libyuv::I420Scale_16(reinterpret_cast<const uint16_t*>(p[0]), l[0] / 2,
                             reinterpret_cast<const uint16_t*>(p[1]), l[1] / 2,
                             reinterpret_cast<const uint16_t*>(p[2]), l[2] / 2, w, h, y16, ow, u16, cw, v16, cw, ow,
                             oh, kFilter);
    if (r == 0) r = libyuv::I010ToARGB(y16, ow, u16, cw, v16, cw, dst, stride, ow, oh);
    return r == 0;
  }
  r = libyuv::I420Scale(p[0], l[0], p[1], l[1], p[2], l[2], w, h, y, ow, u, cw, v, cw, ow, oh, kFilter);
  if (r != 0) return false;
  const uint8_t* const small[3] = {y, u, v};
  const int smallLines[3] = {ow, cw, cw};
  return ConvertPixels(small, smallLines, in, ow, oh, dst, stride, out);
}

}  // namespace tav::filters
