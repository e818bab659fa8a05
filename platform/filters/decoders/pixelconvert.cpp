#include "platform/filters/decoders/pixelconvert.h"

#include <libyuv/convert.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/rotate.h>
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
  return ScaleTurnConvertPixels(p, l, in, w, h, 0, false, dst, stride, ow, oh, out, scratch);
}

bool CanScaleTurnConvert(AVPixelFormat in, AVPixelFormat out) {
  if (in != AV_PIX_FMT_YUV420P && in != AV_PIX_FMT_YUVJ420P && in != AV_PIX_FMT_YUV420P10LE) return false;
  if (out != AV_PIX_FMT_BGRA && out != AV_PIX_FMT_BGR24 && out != AV_PIX_FMT_YUYV422) return false;
  return !(in == AV_PIX_FMT_YUVJ420P && out == AV_PIX_FMT_YUYV422);
}

bool ScaleTurnConvertPixels(const uint8_t* const* p, const int* l, AVPixelFormat in, int w, int h, int quarterTurns,
                            bool mirror, uint8_t* dst, int stride, int ow, int oh, AVPixelFormat out,
                            std::vector<uint8_t>* scratch) {
  if (!CanScaleTurnConvert(in, out) || w <= 0 || h <= 0 || ow <= 0 || oh <= 0) return false;
  quarterTurns &= 3;
  const bool tenBits = in == AV_PIX_FMT_YUV420P10LE;
  // The small picture before its turn.
  const int sw = quarterTurns % 2 ? oh : ow, sh = quarterTurns % 2 ? ow : oh;
  // Small pictures, one after the other, each plane's rows as wide as the plane: the
  // shrunk one, the mirrored one and the turned one (the last two only when needed); for
  // 10 bits, first the full-size picture at 8 bits: libyuv's 16-bit box filter is plain C,
  // four times slower than narrowing the samples and filtering 8-bit ones.
  const size_t small = size_t(sw) * size_t(sh) + 2 * size_t((sw + 1) / 2) * size_t((sh + 1) / 2);
  const int fw = (w + 1) / 2, fh = (h + 1) / 2;
  const size_t narrowed = tenBits ? size_t(w) * size_t(h) + 2 * size_t(fw) * size_t(fh) : 0;
  const int copies = 1 + (mirror ? 1 : 0) + (quarterTurns ? 1 : 0);
  scratch->resize(small * size_t(copies) + narrowed);
  struct Planes {
    uint8_t* p[3];
    int l[3];
  };
  auto planesAt = [&](uint8_t* base, int pw, int ph) {
    const int cw = (pw + 1) / 2, ch = (ph + 1) / 2;
    return Planes{{base, base + size_t(pw) * size_t(ph), base + size_t(pw) * size_t(ph) + size_t(cw) * size_t(ch)},
                  {pw, cw, cw}};
  };
  uint8_t* base = scratch->data();
  const uint8_t* src[3] = {p[0], p[1], p[2]};
  int srcLines[3] = {l[0], l[1], l[2]};
  if (tenBits) {
    const Planes n = planesAt(base + small * size_t(copies), w, h);
    constexpr int kTenToEight = 1 << 14;  // (sample x scale) >> 16 keeps the top 8 of 10 bits
    libyuv::Convert16To8Plane(reinterpret_cast<const uint16_t*>(p[0]), l[0] / 2, n.p[0], w, kTenToEight, w, h);
    libyuv::Convert16To8Plane(reinterpret_cast<const uint16_t*>(p[1]), l[1] / 2, n.p[1], fw, kTenToEight, fw, fh);
    libyuv::Convert16To8Plane(reinterpret_cast<const uint16_t*>(p[2]), l[2] / 2, n.p[2], fw, kTenToEight, fw, fh);
    for (int i = 0; i < 3; ++i) {
      src[i] = n.p[i];
      srcLines[i] = n.l[i];
    }
  }
  // A box filter: every source pixel counts, so fine detail does not shimmer.
  Planes cur = planesAt(base, sw, sh);
  if (libyuv::I420Scale(src[0], srcLines[0], src[1], srcLines[1], src[2], srcLines[2], w, h, cur.p[0], cur.l[0],
                        cur.p[1], cur.l[1], cur.p[2], cur.l[2], sw, sh, libyuv::kFilterBox) != 0)
    return false;
  base += small;
  if (mirror) {
    const Planes m = planesAt(base, sw, sh);
    if (libyuv::I420Mirror(cur.p[0], cur.l[0], cur.p[1], cur.l[1], cur.p[2], cur.l[2], m.p[0], m.l[0], m.p[1], m.l[1],
                           m.p[2], m.l[2], sw, sh) != 0)
      return false;
    cur = m;
    base += small;
  }
  if (quarterTurns) {
    const Planes t = planesAt(base, ow, oh);
    const libyuv::RotationMode mode =
        quarterTurns == 1 ? libyuv::kRotate90 : quarterTurns == 2 ? libyuv::kRotate180 : libyuv::kRotate270;
    if (libyuv::I420Rotate(cur.p[0], cur.l[0], cur.p[1], cur.l[1], cur.p[2], cur.l[2], t.p[0], t.l[0], t.p[1], t.l[1],
                           t.p[2], t.l[2], sw, sh, mode) != 0)
      return false;
    cur = t;
  }
  const uint8_t* const planes[3] = {cur.p[0], cur.p[1], cur.p[2]};
  return ConvertPixels(planes, cur.l, tenBits ? AV_PIX_FMT_YUV420P : in, ow, oh, dst, stride, out);
}

}  // namespace tav::filters
