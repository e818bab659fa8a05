#include "libs/vxvideokit/nearestresize.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vxvk {
namespace {

LONG AbsHeight(LONG h) { return h < 0 ? -h : h; }

bool FitsInside(const PixelRect& r, LONG width, LONG height) {
  return r.x >= 0 && r.y >= 0 && r.width >= 1 && r.height >= 1 && LONGLONG(r.x) + r.width <= width &&
         LONGLONG(r.y) + r.height <= height;
}

size_t ImageBytes(WORD bitCount, LONG width, LONG height) {
  return size_t(DibStride(width, bitCount)) * size_t(height);
}

// Copies one pixel of N bytes.
template <int N>
inline void CopyPixel(BYTE* d, const BYTE* s) {
  std::memcpy(d, s, N);
}

// One destination row segment from one source row segment through the column table.
template <int N>
void GatherRow(BYTE* d, const BYTE* s, const LONG* cols, LONG count) {
  for (LONG k = 0; k < count; ++k) CopyPixel<N>(d + size_t(k) * N, s + size_t(cols[k]) * N);
}

// Doubling: every source pixel twice (the stepping gives exactly this for D == 2S).
template <int N>
void DoubleRow(BYTE* d, const BYTE* s, LONG srcCount) {
  for (LONG k = 0; k < srcCount; ++k) {
    CopyPixel<N>(d, s);
    CopyPixel<N>(d + N, s);
    d += 2 * N;
    s += N;
  }
}

// Halving: every second source pixel (the stepping gives exactly this for S == 2D).
template <int N>
void HalveRow(BYTE* d, const BYTE* s, LONG dstCount) {
  for (LONG k = 0; k < dstCount; ++k) CopyPixel<N>(d + size_t(k) * N, s + size_t(k) * 2 * N);
}

template <>
void HalveRow<4>(BYTE* d, const BYTE* s, LONG dstCount) {
  uint32_t* out = reinterpret_cast<uint32_t*>(d);
  for (LONG k = 0; k < dstCount; ++k) {
    uint64_t pair;
    std::memcpy(&pair, s + size_t(k) * 8, 8);
    out[k] = uint32_t(pair);  // little-endian: the first pixel of the pair
  }
}

template <>
void GatherRow<4>(BYTE* d, const BYTE* s, const LONG* cols, LONG count) {
  uint32_t* out = reinterpret_cast<uint32_t*>(d);  // DIB rows are 4-byte aligned
  const uint32_t* in = reinterpret_cast<const uint32_t*>(s);
  LONG k = 0;
  for (; k + 4 <= count; k += 4) {
    out[k] = in[cols[k]];
    out[k + 1] = in[cols[k + 1]];
    out[k + 2] = in[cols[k + 2]];
    out[k + 3] = in[cols[k + 3]];
  }
  for (; k < count; ++k) out[k] = in[cols[k]];
}

template <int N>
void DrawRow(BYTE* d, const BYTE* s, const LONG* cols, LONG srcCount, LONG dstCount) {
  if (srcCount == dstCount) {
    // Kept size: still a copy, because the output sample owns its memory and the input
    // sample goes back to the decoder's pool as soon as it has been read.
    std::memcpy(d, s, size_t(dstCount) * N);
  } else if (dstCount == 2 * srcCount) {
    DoubleRow<N>(d, s, srcCount);
  } else if (srcCount == 2 * dstCount) {
    HalveRow<N>(d, s, dstCount);
  } else {
    GatherRow<N>(d, s, cols, dstCount);
  }
}

// Zeroes every byte of the image outside `r` (the stretch then covers `r`), which is the
// same as clearing the whole image first but touches each byte once.
void ClearOutside(const MutableImageView& img, const PixelRect& r) {
  const size_t stride = size_t(DibStride(img.width, img.bitCount));
  const LONG height = AbsHeight(img.height);
  if (!FitsInside(r, img.width, height)) {
    std::memset(img.bits, 0, stride * size_t(height));
    return;
  }
  const size_t left = size_t(img.bitCount) * r.x / 8;
  const size_t right = left + size_t(img.bitCount) * r.width / 8;
  std::memset(img.bits, 0, stride * size_t(r.y));
  for (LONG y = r.y; y < r.y + r.height; ++y) {
    BYTE* row = img.bits + stride * size_t(y);
    std::memset(row, 0, left);
    std::memset(row + right, 0, stride - right);
  }
  std::memset(img.bits + stride * size_t(r.y + r.height), 0, stride * size_t(height - r.y - r.height));
}

}  // namespace

void NearestSteps(LONG src, LONG dst, LONG* out) {
  LONG s = 0;
  if (dst >= src) {
    // Enlarging or keeping: the term starts at D - 1 and loses S per output pixel.
    LONGLONG term = dst - 1;
    for (LONG k = 0; k < dst; ++k) {
      out[k] = s;
      term -= src;
      if (term < 0) {
        term += dst;
        ++s;
      }
    }
  } else {
    // Reducing: the term starts at S - 1; each output pixel skips source pixels until the
    // term goes below zero.
    LONGLONG term = src - 1;
    for (LONG k = 0; k < dst; ++k) {
      out[k] = s;
      while (term >= 0) {
        term -= dst;
        ++s;
      }
      term += src;
    }
  }
}

bool StretchNearest(const ImageView& src, const PixelRect& sr, const MutableImageView& dst,
                    const PixelRect& dr) {
  const WORD bits = src.bitCount;
  if (bits != dst.bitCount || (bits != 8 && bits != 16 && bits != 24 && bits != 32)) return false;
  if (!src.bits || !dst.bits) return false;
  const LONG srcH = AbsHeight(src.height), dstH = AbsHeight(dst.height);
  if (!FitsInside(sr, src.width, srcH) || !FitsInside(dr, dst.width, dstH)) return false;
  if (src.bytes < ImageBytes(bits, src.width, srcH) || dst.bytes < ImageBytes(bits, dst.width, dstH))
    return false;

  const int pixelBytes = bits / 8;
  const size_t srcStride = size_t(DibStride(src.width, bits));
  const size_t dstStride = size_t(DibStride(dst.width, bits));
  const BYTE* srcBase = src.bits + srcStride * sr.y + size_t(bits) * sr.x / 8;
  BYTE* dstBase = dst.bits + dstStride * dr.y + size_t(bits) * dr.x / 8;
  const size_t rowBytes = size_t(dr.width) * pixelBytes;

  std::vector<LONG> cols(size_t(dr.width));
  std::vector<LONG> rows(size_t(dr.height));
  NearestSteps(sr.width, dr.width, cols.data());
  NearestSteps(sr.height, dr.height, rows.data());
  const bool rowsKeptOrEnlarged = dr.height >= sr.height;

  for (LONG r = 0; r < dr.height; ++r) {
    BYTE* d = dstBase + dstStride * r;
    // A row that samples the same source row as the one before is a copy of that row.
    if (rowsKeptOrEnlarged && r > 0 && rows[r] == rows[r - 1]) {
      std::memcpy(d, d - dstStride, rowBytes);
      continue;
    }
    const BYTE* s = srcBase + srcStride * rows[r];
    switch (pixelBytes) {
      case 1: DrawRow<1>(d, s, cols.data(), sr.width, dr.width); break;
      case 2: DrawRow<2>(d, s, cols.data(), sr.width, dr.width); break;
      case 3: DrawRow<3>(d, s, cols.data(), sr.width, dr.width); break;
      default: DrawRow<4>(d, s, cols.data(), sr.width, dr.width); break;
    }
  }
  return true;
}

void CopyCentred(const ImageView& src, const MutableImageView& dst) {
  const LONG hs = AbsHeight(src.height), hd = AbsHeight(dst.height);
  const size_t dstStride = size_t(DibStride(dst.width, dst.bitCount));
  const size_t dstImage = dstStride * size_t(hd);
  if (!dst.bits || dst.bytes < dstImage) return;
  std::memset(dst.bits, 0, dstImage);
  if (src.bitCount != dst.bitCount || !src.bits) return;
  const size_t srcStride = size_t(DibStride(src.width, src.bitCount));
  if (src.bytes < srcStride * size_t(hs)) return;

  LONG rows, srcRow0, dstRow0;
  if (hd < hs) {
    rows = hd;
    srcRow0 = (hs - hd + 1) / 2;  // ceiling((Hs - Hd) / 2)
    dstRow0 = 0;
  } else {
    rows = hs;
    srcRow0 = 0;
    dstRow0 = (hd - hs) >> 1;
  }

  const LONGLONG b = src.bitCount;
  const LONG dx = (dst.width - src.width) >> 1;  // arithmetic shift: negative when reducing
  size_t srcOffset, dstOffset, count;
  if (dst.width < src.width) {
    // -(((B x dx + 31) rounded down to a multiple of 32) / 8)
    const LONGLONG v = b * dx + 31;
    const LONGLONG floor32 = (v >= 0) ? (v / 32) * 32 : -(((-v) + 31) / 32) * 32;
    srcOffset = size_t(-(floor32 / 8));
    dstOffset = 0;
    count = dstStride;
  } else {
    srcOffset = 0;
    dstOffset = size_t(DibStride(dx, b));
    count = srcStride;
  }
  // A row copy never leaves its own row: with odd sizes the rounded offsets plus a whole
  // stride can reach past the row end (and past the buffer on the last row).
  if (srcOffset >= srcStride || dstOffset >= dstStride) return;
  count = std::min({count, srcStride - srcOffset, dstStride - dstOffset});
  for (LONG r = 0; r < rows; ++r) {
    std::memcpy(dst.bits + dstStride * size_t(dstRow0 + r) + dstOffset,
                src.bits + srcStride * size_t(srcRow0 + r) + srcOffset, count);
  }
}

ResizePlan PlanResize(LONG ws, LONG hs, LONG wd, LONG hd, int mode) {
  ResizePlan plan;
  plan.src = {0, 0, ws, hs};
  plan.dst = {0, 0, wd, hd};
  if (mode == kModeCentre) {
    plan.centre = true;
    plan.clearFirst = true;
    return plan;
  }
  if (ws <= 0 || hs <= 0) return plan;  // nothing to compare; the stretch draws nothing
  const long double rh = static_cast<long double>(hd) / hs;
  const long double rw = static_cast<long double>(wd) / ws;
  if (rh == rw) return plan;
  if (mode == kModeCrop) {
    if (rh < rw) {
      const LONG m = LONG(LONGLONG(hd) * ws / wd);
      plan.src = {0, (hs - m) >> 1, ws, m};
    } else {
      const LONG t = LONG(LONGLONG(wd) * hs / hd);
      plan.src = {(ws - t) >> 1, 0, t, hs};
    }
  } else if (mode == kModeFit) {
    plan.clearFirst = true;
    if (rh < rw) {
      const LONG r = LONG(LONGLONG(ws) * hd / hs);
      plan.dst = {(wd - r) >> 1, 0, r, hd};
    } else {
      const LONG o = LONG(LONGLONG(hs) * wd / ws);
      plan.dst = {0, (hd - o) >> 1, wd, o};
    }
  }
  return plan;
}

HRESULT ResizeFrame(const BITMAPINFOHEADER& sh, const BYTE* src, size_t srcBytes,
                    const BITMAPINFOHEADER& dh, BYTE* dst, size_t dstBytes, int mode) {
  if ((sh.biCompression != BI_RGB && sh.biCompression != BI_BITFIELDS) || dh.biCompression != BI_RGB)
    return E_FAIL;
  if (!src || !dst || sh.biWidth <= 0 || dh.biWidth <= 0 || sh.biHeight == 0 || dh.biHeight == 0)
    return E_FAIL;
  const ImageView in{src, srcBytes, sh.biWidth, AbsHeight(sh.biHeight), sh.biBitCount};
  const MutableImageView out{dst, dstBytes, dh.biWidth, AbsHeight(dh.biHeight), dh.biBitCount};
  // A short buffer on either side is an error, not a partial picture.
  if (srcBytes < ImageBytes(in.bitCount, in.width, in.height) ||
      dstBytes < ImageBytes(out.bitCount, out.width, out.height))
    return E_FAIL;

  const ResizePlan plan = PlanResize(in.width, in.height, out.width, out.height, mode);
  if (plan.centre) {
    CopyCentred(in, out);
    return S_OK;
  }
  if (plan.clearFirst) ClearOutside(out, plan.dst);
  if (!StretchNearest(in, plan.src, out, plan.dst) && plan.clearFirst)
    std::memset(dst, 0, ImageBytes(out.bitCount, out.width, out.height));  // nothing drawn: all black
  return S_OK;
}

}  // namespace vxvk
