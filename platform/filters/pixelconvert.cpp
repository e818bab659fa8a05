#include "platform/filters/pixelconvert.h"

#include <libyuv/convert.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>

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

}  // namespace tav::filters
