// Pixel formats of section bitmaps, fills, coverage blending and block transfers.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "media/contract/mediatypes.h"
#include "platform/gdi/gdi_internal.h"

namespace tav::gdi {

bool ViewFromInfo(const BITMAPINFO* info, const void* bits, PixelView* view) {
  if (!info || !view) return false;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0) return false;
  if (h.biPlanes != 1 && h.biPlanes != 0) return false;
  if (h.biHeight == INT32_MIN || h.biWidth > 65535 || std::abs(h.biHeight) > 65535) return false;
  PixelView v;
  switch (h.biBitCount) {
    case 32:
      if (h.biCompression != BI_RGB && h.biCompression != BI_BITFIELDS) return false;
      if (h.biCompression == BI_BITFIELDS) {
        const DWORD* m = reinterpret_cast<const DWORD*>(reinterpret_cast<const BYTE*>(info) + h.biSize);
        if (m[0] != 0xFF0000 || m[1] != 0xFF00 || m[2] != 0xFF) return false;
      }
      v.format = PixelFormat::Rgb32;
      break;
    case 24:
      if (h.biCompression != BI_RGB) return false;
      v.format = PixelFormat::Rgb24;
      break;
    case 16:
      if (h.biCompression == BI_RGB) {
        v.format = PixelFormat::Rgb555;
      } else if (h.biCompression == BI_BITFIELDS) {
        const DWORD* m = reinterpret_cast<const DWORD*>(reinterpret_cast<const BYTE*>(info) + h.biSize);
        if (m[0] == 0x7C00 && m[1] == 0x3E0 && m[2] == 0x1F) {
          v.format = PixelFormat::Rgb555;
        } else if (m[0] == 0xF800 && m[1] == 0x7E0 && m[2] == 0x1F) {
          v.format = PixelFormat::Rgb565;
        } else {
          return false;
        }
      } else {
        return false;
      }
      break;
    default:
      return false;
  }
  v.bits = static_cast<BYTE*>(const_cast<void*>(bits));
  v.width = h.biWidth;
  v.height = std::abs(h.biHeight);
  v.bottomUp = h.biHeight > 0;
  v.stride = decltype(v.stride)(DibStride(h.biWidth, h.biBitCount));
  *view = v;
  return true;
}

uint32_t LoadPixel(const PixelView& v, const BYTE* p) {
  switch (v.format) {
    case PixelFormat::Rgb32:
    case PixelFormat::Rgb24:
      return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    case PixelFormat::Rgb555: {
      const uint32_t w = p[0] | (uint32_t(p[1]) << 8);
      const uint32_t r = (w >> 10) & 31, g = (w >> 5) & 31, b = w & 31;
      return (((r << 3) | (r >> 2)) << 16) | (((g << 3) | (g >> 2)) << 8) | ((b << 3) | (b >> 2));
    }
    case PixelFormat::Rgb565: {
      const uint32_t w = p[0] | (uint32_t(p[1]) << 8);
      const uint32_t r = (w >> 11) & 31, g = (w >> 5) & 63, b = w & 31;
      return (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
    }
  }
  return 0;
}

void StorePixel(const PixelView& v, BYTE* p, uint32_t rgb) {
  const uint32_t r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  switch (v.format) {
    case PixelFormat::Rgb32:
    case PixelFormat::Rgb24:
      // The fourth byte of a 32-bit pixel is left as it is.
      p[0] = BYTE(b);
      p[1] = BYTE(g);
      p[2] = BYTE(r);
      break;
    case PixelFormat::Rgb555: {
      const uint32_t w = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
      p[0] = BYTE(w);
      p[1] = BYTE(w >> 8);
      break;
    }
    case PixelFormat::Rgb565: {
      const uint32_t w = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
      p[0] = BYTE(w);
      p[1] = BYTE(w >> 8);
      break;
    }
  }
}

static bool Intersect(RECT* r, const RECT& with) {
  r->left = std::max(r->left, with.left);
  r->top = std::max(r->top, with.top);
  r->right = std::min(r->right, with.right);
  r->bottom = std::min(r->bottom, with.bottom);
  return r->left < r->right && r->top < r->bottom;
}

void FillView(const PixelView& v, RECT r, uint32_t rgb) {
  if (!v.Valid() || !Intersect(&r, RECT{0, 0, v.width, v.height})) return;
  const int bpp = v.BytesPerPixel();
  for (int y = r.top; y < r.bottom; ++y) {
    BYTE* p = v.Row(y) + size_t(r.left) * bpp;
    for (int x = r.left; x < r.right; ++x, p += bpp) StorePixel(v, p, rgb);
  }
}

namespace {

// One coverage value of one colour onto one pixel; every text blend goes through here, so the
// outlined-text shortcut below gives the same pixels as the copies drawn one by one.
inline void BlendPixel(const PixelView& v, BYTE* p, uint32_t alpha, uint32_t rgb) {
  const uint32_t cr = (rgb >> 16) & 0xFF, cg = (rgb >> 8) & 0xFF, cb = rgb & 0xFF;
  if (v.format == PixelFormat::Rgb32 || v.format == PixelFormat::Rgb24) {
    if (alpha == 255) {
      p[0] = BYTE(cb);
      p[1] = BYTE(cg);
      p[2] = BYTE(cr);
    } else {
      const uint32_t inv = 255 - alpha;
      p[0] = BYTE((p[0] * inv + cb * alpha + 127) / 255);
      p[1] = BYTE((p[1] * inv + cg * alpha + 127) / 255);
      p[2] = BYTE((p[2] * inv + cr * alpha + 127) / 255);
    }
  } else if (alpha == 255) {
    StorePixel(v, p, rgb);
  } else {
    const uint32_t d = LoadPixel(v, p), inv = 255 - alpha;
    const uint32_t r8 = (((d >> 16) & 0xFF) * inv + cr * alpha + 127) / 255;
    const uint32_t g8 = (((d >> 8) & 0xFF) * inv + cg * alpha + 127) / 255;
    const uint32_t b8 = ((d & 0xFF) * inv + cb * alpha + 127) / 255;
    const uint32_t blended = (r8 << 16) | (g8 << 8) | b8;
    // A blend that rounds back to the stored value leaves the pixel alone.
    if (blended != d) StorePixel(v, p, blended);
  }
}

}  // namespace

void BlendMask(const PixelView& v, const TextMask& mask, int x, int y, uint32_t rgb, const RECT* clip) {
  if (!v.Valid() || mask.alpha.empty()) return;
  RECT r{x + mask.maskX, y + mask.maskY, x + mask.maskX + mask.maskWidth, y + mask.maskY + mask.maskHeight};
  const int originX = r.left, originY = r.top;
  if (!Intersect(&r, RECT{0, 0, v.width, v.height})) return;
  if (clip && !Intersect(&r, *clip)) return;
  const int bpp = v.BytesPerPixel();
  for (int py = r.top; py < r.bottom; ++py) {
    // Only the columns of this row that hold coverage.
    const int my = py - originY;
    const int left = std::max<int>(r.left, originX + mask.spanStart[size_t(my)]);
    const int right = std::min<int>(r.right, originX + mask.spanEnd[size_t(my)]);
    if (left >= right) continue;
    const uint8_t* a = mask.alpha.data() + size_t(my) * mask.maskWidth + (left - originX);
    BYTE* p = v.Row(py) + size_t(left) * bpp;
    for (int px = left; px < right; ++px, ++a, p += bpp) {
      if (*a) BlendPixel(v, p, *a, rgb);
    }
  }
}

namespace {

std::shared_ptr<const OutlinePlan> PlanFor(const TextMask& m, int R) {
  {
    std::lock_guard<std::mutex> lock(m.planLock);
    for (const auto& p : m.plans)
      if (p->radius == R) return p;
  }
  auto plan = std::make_shared<OutlinePlan>();
  plan->radius = R;
  const int mw = m.maskWidth, mh = m.maskHeight, ew = mw + 2 * R, eh = mh + 2 * R;
  auto at = [&](int my, int mx) -> uint32_t {
    return (mx < 0 || my < 0 || mx >= mw || my >= mh) ? 0 : m.alpha[size_t(my) * mw + mx];
  };
  // Greatest coverage any black copy gives each pixel: full coverage anywhere in the sequence
  // leaves the pixel black whatever came before, and black over black stays black.
  std::vector<uint8_t> rowMax(size_t(ew) * mh, 0);
  for (int my = 0; my < mh; ++my)
    for (int ex = 0; ex < ew; ++ex) {
      uint32_t best = 0;
      for (int dx = -R; dx <= R && best < 255; ++dx) best = std::max(best, at(my, ex - R - dx));
      rowMax[size_t(my) * ew + ex] = uint8_t(best);
    }
  for (int ey = 0; ey < eh; ++ey)
    for (int ex = 0; ex < ew; ++ex) {
      uint32_t best = 0;
      for (int dy = -R; dy <= R && best < 255; ++dy) {
        const int my = ey - R - dy;
        if (my >= 0 && my < mh) best = std::max<uint32_t>(best, rowMax[size_t(my) * ew + ex]);
      }
      const uint32_t index = uint32_t(ey) * uint32_t(ew) + uint32_t(ex);
      if (best == 255) {
        plan->full.push_back(index);
      } else if (best > 0) {
        // Only partial coverage: the copies in drawing order, as they would be drawn.
        plan->partial.push_back(index);
        plan->partialFirst.push_back(uint32_t(plan->alphas.size()));
        for (int dy = -R; dy <= R; ++dy)
          for (int dx = -R; dx <= R; ++dx)
            if (const uint32_t a = at(ey - R - dy, ex - R - dx)) plan->alphas.push_back(uint8_t(a));
      }
    }
  plan->partialFirst.push_back(uint32_t(plan->alphas.size()));
  std::lock_guard<std::mutex> lock(m.planLock);
  if (m.plans.size() >= 4) m.plans.erase(m.plans.begin());
  m.plans.push_back(plan);
  return plan;
}

}  // namespace

void BlendOutlined(const PixelView& v, const TextMask& m, int x, int y, int radius, uint32_t rgb) {
  if (!v.Valid() || m.alpha.empty()) return;
  const int R = radius, ew = m.maskWidth + 2 * R, eh = m.maskHeight + 2 * R;
  const int originX = x + m.maskX - R, originY = y + m.maskY - R;
  const auto plan = PlanFor(m, R);
  const int bpp = v.BytesPerPixel();
  const bool inside = originX >= 0 && originY >= 0 && originX + ew <= v.width && originY + eh <= v.height;
  auto pixel = [&](uint32_t index) -> BYTE* {
    const int px = originX + int(index % uint32_t(ew)), py = originY + int(index / uint32_t(ew));
    if (!inside && (px < 0 || py < 0 || px >= v.width || py >= v.height)) return nullptr;
    return v.Row(py) + size_t(px) * bpp;
  };
  for (uint32_t index : plan->full)
    if (BYTE* p = pixel(index)) BlendPixel(v, p, 255, 0);
  for (size_t i = 0; i < plan->partial.size(); ++i) {
    BYTE* p = pixel(plan->partial[i]);
    if (!p) continue;
    for (uint32_t k = plan->partialFirst[i]; k < plan->partialFirst[i + 1]; ++k) BlendPixel(v, p, plan->alphas[k], 0);
  }
  BlendMask(v, m, x, y, rgb, nullptr);
}

namespace {

// One axis of a transfer: for each destination pixel, the source pixels it covers and their
// weights (16.16 fixed point, summing to 1 << 16). Nearest sampling gives one pixel each.
struct AxisMap {
  std::vector<int> first;    // index into taps
  std::vector<int> count;
  std::vector<int> index;    // source coordinate
  std::vector<int> weight;
};

AxisMap BuildAxis(int dstCount, int srcStart, int srcCount, bool mirror, int srcLimit, bool area) {
  AxisMap m;
  m.first.resize(dstCount);
  m.count.resize(dstCount);
  const double scale = double(srcCount) / double(dstCount);
  for (int i = 0; i < dstCount; ++i) {
    const int di = mirror ? dstCount - 1 - i : i;
    m.first[i] = int(m.index.size());
    if (!area || scale <= 1.0) {
      if (area && scale < 1.0) {
        // Enlarging with averaging: blend the two nearest source pixels (bilinear).
        const double c = (di + 0.5) * scale - 0.5;
        int s0 = int(std::floor(c));
        double f = c - s0;
        int a = std::clamp(srcStart + s0, 0, srcLimit - 1), b = std::clamp(srcStart + s0 + 1, 0, srcLimit - 1);
        if (s0 < 0) f = 1.0, a = b;
        if (s0 + 1 >= srcCount) f = 0.0, b = a;
        const int wb = int(std::lround(f * 65536.0));
        m.index.push_back(a);
        m.weight.push_back(65536 - wb);
        m.index.push_back(b);
        m.weight.push_back(wb);
        m.count[i] = 2;
      } else {
        const int s = std::clamp(srcStart + int((di + 0.5) * scale), 0, srcLimit - 1);
        m.index.push_back(s);
        m.weight.push_back(65536);
        m.count[i] = 1;
      }
      continue;
    }
    // Reducing with averaging: every source pixel weighted by how much of it the destination
    // pixel covers.
    const double lo = di * scale, hi = (di + 1) * scale;
    std::vector<std::pair<int, double>> taps;
    double total = 0;
    for (int s = int(std::floor(lo)); s < int(std::ceil(hi)); ++s) {
      const double w = std::min(hi, double(s + 1)) - std::max(lo, double(s));
      if (w <= 0) continue;
      taps.emplace_back(std::clamp(srcStart + s, 0, srcLimit - 1), w);
      total += w;
    }
    int sum = 0;
    for (size_t t = 0; t < taps.size(); ++t) {
      int w = int(std::lround(taps[t].second / total * 65536.0));
      if (t + 1 == taps.size()) w = 65536 - sum;
      sum += w;
      m.index.push_back(taps[t].first);
      m.weight.push_back(w);
    }
    m.count[i] = int(taps.size());
  }
  return m;
}

}  // namespace

bool Transfer(const PixelView& dst, int x, int y, int w, int h, const PixelView& src, int sx, int sy, int sw, int sh,
              bool halftone) {
  if (!dst.Valid() || !src.Valid()) return false;
  if (w == 0 || h == 0 || sw == 0 || sh == 0) return true;
  bool mirrorX = false, mirrorY = false;
  if (w < 0) x += w, w = -w, mirrorX = !mirrorX;
  if (h < 0) y += h, h = -h, mirrorY = !mirrorY;
  if (sw < 0) sx += sw, sw = -sw, mirrorX = !mirrorX;
  if (sh < 0) sy += sh, sh = -sh, mirrorY = !mirrorY;
  // Source pixels outside the source bitmap are not read: the source rectangle is clipped and
  // the destination shrunk in proportion.
  if (sx < 0 || sy < 0 || sx + sw > src.width || sy + sh > src.height) {
    const int cx0 = std::max(sx, 0), cy0 = std::max(sy, 0);
    const int cx1 = std::min(sx + sw, src.width), cy1 = std::min(sy + sh, src.height);
    if (cx0 >= cx1 || cy0 >= cy1) return true;
    const auto map = [](int v, int s, int sl, int d, int dl) { return d + int((int64_t(v - s) * dl) / sl); };
    int nx0 = map(cx0, sx, sw, 0, w), nx1 = map(cx1, sx, sw, 0, w);
    int ny0 = map(cy0, sy, sh, 0, h), ny1 = map(cy1, sy, sh, 0, h);
    if (mirrorX) std::swap(nx0, nx1), nx0 = w - nx0, nx1 = w - nx1;
    if (mirrorY) std::swap(ny0, ny1), ny0 = h - ny0, ny1 = h - ny1;
    x += nx0, w = nx1 - nx0, y += ny0, h = ny1 - ny0;
    sx = cx0, sw = cx1 - cx0, sy = cy0, sh = cy1 - cy0;
    if (w <= 0 || h <= 0) return true;
  }
  // Destination clipping keeps the mapping: clip afterwards by skipping pixels.
  const int x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int x1 = std::min(x + w, dst.width), y1 = std::min(y + h, dst.height);
  if (x0 >= x1 || y0 >= y1) return true;

  // Same size, same format, no mirror: rows are copied as bytes.
  if (w == sw && h == sh && !mirrorX && !mirrorY && dst.format == src.format) {
    const int bpp = dst.BytesPerPixel();
    const bool overlap = dst.bits == src.bits;
    std::vector<BYTE> row;
    for (int i = 0; i < y1 - y0; ++i) {
      // Overlapping moves downwards go bottom first.
      const int yy = (overlap && y > sy) ? (y1 - y0 - 1 - i) : i;
      const BYTE* s = src.Row(sy + (y0 - y) + yy) + size_t(sx + (x0 - x)) * bpp;
      BYTE* d = dst.Row(y0 + yy) + size_t(x0) * bpp;
      std::memmove(d, s, size_t(x1 - x0) * bpp);
    }
    return true;
  }

  const AxisMap ax = BuildAxis(w, sx, sw, mirrorX, src.width, halftone);
  const AxisMap ay = BuildAxis(h, sy, sh, mirrorY, src.height, halftone);
  const int sbpp = src.BytesPerPixel(), dbpp = dst.BytesPerPixel();
  // Read into a separate buffer first, so that a transfer within one bitmap reads the original.
  std::vector<uint32_t> out(size_t(x1 - x0) * size_t(y1 - y0));
  for (int dy = y0; dy < y1; ++dy) {
    const int iy = dy - y;
    for (int dx = x0; dx < x1; ++dx) {
      const int ix = dx - x;
      uint32_t acc[3] = {0, 0, 0};
      uint64_t accw[3] = {0, 0, 0};
      if (ay.count[iy] == 1 && ax.count[ix] == 1) {
        out[size_t(dy - y0) * (x1 - x0) + (dx - x0)] =
            LoadPixel(src, src.Row(ay.index[ay.first[iy]]) + size_t(ax.index[ax.first[ix]]) * sbpp);
        continue;
      }
      for (int ty = 0; ty < ay.count[iy]; ++ty) {
        const int wy = ay.weight[ay.first[iy] + ty];
        if (!wy) continue;
        const BYTE* row = src.Row(ay.index[ay.first[iy] + ty]);
        for (int tx = 0; tx < ax.count[ix]; ++tx) {
          const int wx = ax.weight[ax.first[ix] + tx];
          if (!wx) continue;
          const uint64_t wgt = (uint64_t(wy) * uint64_t(wx)) >> 16;
          const uint32_t p = LoadPixel(src, row + size_t(ax.index[ax.first[ix] + tx]) * sbpp);
          accw[0] += ((p >> 16) & 0xFF) * wgt;
          accw[1] += ((p >> 8) & 0xFF) * wgt;
          accw[2] += (p & 0xFF) * wgt;
        }
      }
      for (int c = 0; c < 3; ++c) acc[c] = uint32_t(std::min<uint64_t>(255, (accw[c] + 32768) >> 16));
      out[size_t(dy - y0) * (x1 - x0) + (dx - x0)] = (acc[0] << 16) | (acc[1] << 8) | acc[2];
    }
  }
  for (int dy = y0; dy < y1; ++dy) {
    BYTE* d = dst.Row(dy) + size_t(x0) * dbpp;
    const uint32_t* s = out.data() + size_t(dy - y0) * (x1 - x0);
    for (int dx = x0; dx < x1; ++dx, d += dbpp, ++s) StorePixel(dst, d, *s);
  }
  return true;
}

}  // namespace tav::gdi
