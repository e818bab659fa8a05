#include "libs/vxvideokit/bilinearresize.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "libs/vxvideokit/nearestresize.h"

namespace vxvk {
namespace {

LONG AbsHeight(LONG h) { return h < 0 ? -h : h; }

size_t ImageBytes(WORD bitCount, LONG width, LONG height) {
  return size_t(DibStride(width, bitCount)) * size_t(height);
}

// ---- prepasses -----------------------------------------------------------------------------

void DoubleLines(BYTE* f, size_t stride, LONG rows) {
  for (LONG i = 0; i + 1 < rows; i += 2) std::memcpy(f + stride * (i + 1), f + stride * i, stride);
}

void InterpolateLines(BYTE* f, size_t stride, LONG rows) {
  for (LONG i = 0; i + 1 < rows; i += 2) {
    const BYTE* above = f + stride * i;
    BYTE* row = f + stride * (i + 1);
    // The last odd row has no even row below it and is averaged with itself (kept).
    const BYTE* below = i + 2 < rows ? f + stride * (i + 2) : row;
    for (size_t b = 0; b < stride; ++b) row[b] = BYTE((above[b] + below[b]) >> 1);
  }
}

void BlendLines(BYTE* f, size_t stride, LONG rows) {
  for (LONG j = 1; j + 1 < rows; j += 2) {
    const BYTE* above = f + stride * (j - 1);
    BYTE* row = f + stride * j;
    const BYTE* below = j + 2 < rows ? f + stride * (j + 1) : row;
    for (size_t b = 0; b < stride; ++b) {
      const int a = above[b], c = row[b], d = below[b];
      const int mean = (a + d) >> 1;
      // A byte far from the mean of its neighbours (combing), or between neighbours that
      // agree, takes the mean; detail that the neighbours also show stays.
      if (std::abs(mean - c) > 15 || std::abs(a - d) < 4) row[b] = BYTE(mean);
    }
  }
}

// ---- pixel formats -------------------------------------------------------------------------

// Each format reads a pixel into three channels (blue, green, red) and writes them back.

// A byte per channel, blue first; a fourth byte (RGB32) is written as zero.
template <int Bytes>
struct BgrBytes {
  static constexpr int kBytes = Bytes;
  static void Load(const BYTE* p, unsigned c[3]) {
    c[0] = p[0];
    c[1] = p[1];
    c[2] = p[2];
  }
  static void Store(BYTE* p, const unsigned c[3]) {
    if constexpr (Bytes == 4) {
      const uint32_t v = c[0] | c[1] << 8 | c[2] << 16;
      std::memcpy(p, &v, 4);
    } else {
      p[0] = BYTE(c[0]);
      p[1] = BYTE(c[1]);
      p[2] = BYTE(c[2]);
    }
  }
};
using Bgr32 = BgrBytes<4>;
using Bgr24 = BgrBytes<3>;

// A little-endian 16-bit word: five bits of blue at the bottom, then GreenBits of green, then
// five of red (RGB555 leaves bit 15 out of every channel).
template <int GreenBits>
struct Rgb16 {
  static constexpr int kBytes = 2;
  static constexpr unsigned kRedShift = 5 + GreenBits;
  static void Load(const BYTE* p, unsigned c[3]) {
    const unsigned v = unsigned(p[0]) | unsigned(p[1]) << 8;
    c[0] = v & 31;
    c[1] = (v >> 5) & ((1u << GreenBits) - 1);
    c[2] = (v >> kRedShift) & 31;
  }
  static void Store(BYTE* p, const unsigned c[3]) {
    const unsigned v = c[2] << kRedShift | c[1] << 5 | c[0];
    p[0] = BYTE(v);
    p[1] = BYTE(v >> 8);
  }
};
using Rgb555 = Rgb16<5>;
using Rgb565 = Rgb16<6>;

// One destination column: byte offsets of its left and right source pixels within a row
// and the right pixel's weight in 1/128.
struct Column {
  uint32_t left;
  uint32_t right;
  unsigned weight;
};

std::vector<Column> ColumnTable(const BilinearPlan& plan, LONG srcWidth, int pixelBytes) {
  const LONG sw = plan.sx1 - plan.sx0 + 1, dw = plan.dx1 - plan.dx0 + 1;
  const LONGLONG step = LONGLONG(sw) * 16384 / dw;  // source pixels per output pixel, in 1/16384
  std::vector<Column> cols(static_cast<size_t>(dw));
  for (LONG x = 0; x < dw; ++x) {
    const LONGLONG u = LONGLONG(plan.sx0) * 128 + ((LONGLONG(x) * step) >> 7);
    const LONG c = LONG(u >> 7);
    // The last pixel of a row has no right neighbour: it pairs with itself.
    const LONG right = c < srcWidth - 1 ? c + 1 : c;
    cols[size_t(x)] = {uint32_t(c) * uint32_t(pixelBytes), uint32_t(right) * uint32_t(pixelBytes),
                       unsigned(u & 127)};
  }
  return cols;
}

// The horizontal half of the blend for one source row: per destination column and channel
// wl x left + wr x right (at most 128 x 255, so 16 bits hold it).
template <class Px>
void BlendRow(const BYTE* row, const std::vector<Column>& cols, uint16_t* out) {
  unsigned a[3], b[3];
  for (const Column& col : cols) {
    const unsigned wr = col.weight, wl = 128 - wr;
    Px::Load(row + col.left, a);
    Px::Load(row + col.right, b);
    out[0] = uint16_t(wl * a[0] + wr * b[0]);
    out[1] = uint16_t(wl * a[1] + wr * b[1]);
    out[2] = uint16_t(wl * a[2] + wr * b[2]);
    out += 3;
  }
}

// Horizontally blended source rows, two at a time: an enlarged picture reads each source row
// for several output rows, and each is blended across only once.
template <class Px>
class BlendedRows {
 public:
  BlendedRows(const BYTE* src, size_t srcStride, const std::vector<Column>& cols)
      : m_src(src), m_stride(srcStride), m_cols(cols) {
    for (auto& slot : m_slots) slot.assign(cols.size() * 3, 0);
  }
  // Row `r`, keeping row `keep` if it is cached.
  const uint16_t* Get(LONG r, LONG keep) {
    for (int i = 0; i < 2; ++i)
      if (m_rows[i] == r) return m_slots[i].data();
    const int slot = m_rows[0] == keep ? 1 : 0;
    BlendRow<Px>(m_src + m_stride * size_t(r), m_cols, m_slots[slot].data());
    m_rows[slot] = r;
    return m_slots[slot].data();
  }

 private:
  const BYTE* m_src;
  size_t m_stride;
  const std::vector<Column>& m_cols;
  std::vector<uint16_t> m_slots[2];
  LONG m_rows[2] = {-1, -1};
};

// Fills the destination rectangle row by row: each output row blends two horizontally
// blended source rows. The weights of the four pixels add up to 128 x 128, so a flat area
// keeps its value exactly.
template <class Px>
void ScaleRect(const BYTE* src, size_t srcStride, LONG srcWidth, LONG srcHeight, BYTE* dst, size_t dstStride,
               const BilinearPlan& plan, bool fieldWise) {
  const std::vector<Column> cols = ColumnTable(plan, srcWidth, Px::kBytes);
  const size_t count = cols.size();
  BlendedRows<Px> rows(src, srcStride, cols);
  std::vector<unsigned> channels(count * 3);
  for (LONG y = plan.dy0; y <= plan.dy1; ++y) {
    const RowSample rs = SampleRow(plan, srcHeight, y, fieldWise);
    const uint16_t* top = rows.Get(rs.top, rs.bottom);
    unsigned* ch = channels.data();
    if (rs.weight == 0 || rs.top == rs.bottom) {
      // Only one row contributes: (128 x h) >> 14 is h >> 7.
      for (size_t i = 0; i < count * 3; ++i) ch[i] = unsigned(top[i]) >> 7;
    } else {
      const uint16_t* bottom = rows.Get(rs.bottom, rs.top);
      const unsigned wb = unsigned(rs.weight), wt = 128 - wb;
      for (size_t i = 0; i < count * 3; ++i) ch[i] = (wt * top[i] + wb * bottom[i]) >> 14;
    }
    BYTE* out = dst + dstStride * size_t(y) + size_t(plan.dx0) * Px::kBytes;
    for (size_t x = 0; x < count; ++x, out += Px::kBytes) Px::Store(out, ch + 3 * x);
  }
}

}  // namespace

bool RunPrepass(int type, BYTE* frame, size_t bytes, WORD bitCount, LONG width, LONG height) {
  if (type != kPrepassLineDoubling && type != kPrepassLineInterpolation && type != kPrepassAdaptiveBlend)
    return false;
  const LONG rows = AbsHeight(height);
  if (!frame || width <= 0 || rows <= 0 || bitCount == 0) return false;
  const size_t stride = size_t(DibStride(width, bitCount));
  if (bytes < stride * size_t(rows)) return false;
  switch (type) {
    case kPrepassLineDoubling: DoubleLines(frame, stride, rows); break;
    case kPrepassLineInterpolation: InterpolateLines(frame, stride, rows); break;
    default: BlendLines(frame, stride, rows); break;
  }
  return true;
}

namespace {

// The middle `part` of `whole` pixels along one axis: [*first, *last], at least one pixel.
void Middle(LONG whole, LONG part, LONG* first, LONG* last) {
  *first = (whole - part) >> 1;
  *last = std::max(*first, *first + part - 1);
}

// One axis of the centred mode, 1:1: the middle of the source when it is the larger, else the
// whole source in the middle of the destination.
void CentreAxis(LONG source, LONG dest, LONG* sourceFirst, LONG* sourceLast, LONG* destFirst, LONG* destLast) {
  if (dest < source) Middle(source, dest, sourceFirst, sourceLast);
  else Middle(dest, source, destFirst, destLast);
}

}  // namespace

BilinearPlan PlanBilinear(LONG ws, LONG hs, LONG wd, LONG hd, int mode) {
  BilinearPlan p{0, 0, ws - 1, hs - 1, 0, 0, wd - 1, hd - 1, false};
  if (ws <= 0 || hs <= 0 || wd <= 0 || hd <= 0) return p;
  if (mode == kModeCentre) {
    p.centre = true;
    CentreAxis(ws, wd, &p.sx0, &p.sx1, &p.dx0, &p.dx1);
    CentreAxis(hs, hd, &p.sy0, &p.sy1, &p.dy0, &p.dy1);
    return p;
  }
  const long double rh = static_cast<long double>(hd) / hs;
  const long double rw = static_cast<long double>(wd) / ws;
  if (rh == rw) return p;
  if (mode == kModeFit) {
    // The whole source, in the middle of the destination's longer side.
    if (rh > rw) Middle(hd, LONG(LONGLONG(hs) * wd / ws), &p.dy0, &p.dy1);
    else Middle(wd, LONG(LONGLONG(ws) * hd / hs), &p.dx0, &p.dx1);
  } else if (mode == kModeCrop) {
    // The middle of the source's longer side, over the whole destination.
    if (rh > rw) Middle(ws, LONG(LONGLONG(hs) * wd / hd), &p.sx0, &p.sx1);
    else Middle(hs, LONG(LONGLONG(ws) * hd / wd), &p.sy0, &p.sy1);
  }
  return p;
}

RowSample SampleRow(const BilinearPlan& plan, LONG hs, LONG y, bool fieldWise) {
  const LONGLONG sh = plan.sy1 - plan.sy0 + 1, dh = plan.dy1 - plan.dy0 + 1;
  // Position in 1/128 of a source row.
  LONGLONG v = LONGLONG(plan.sy0) * 128 + (LONGLONG(y - plan.dy0) * sh * 128) / dh;
  RowSample rs;
  if (!fieldWise) {
    const LONGLONG r = std::min<LONGLONG>(v >> 7, hs - 1);
    rs.top = LONG(r);
    rs.bottom = r < hs - 1 ? LONG(r + 1) : LONG(r);
    rs.weight = int(v & 127);
    return rs;
  }
  // Each output row reads the field of its own parity: the rows of that field are two
  // apart, so the weight is the distance from the field row in 1/128 of that gap.
  LONGLONG r = (v >> 7) & ~LONGLONG(1);
  if (y & 1) {
    r += 1;
    v += 128;
  }
  rs.weight = int((v - r * 128) >> 1);
  if (r > hs - 1) r = r - 2 - 2 * ((r - hs) / 2);  // back inside, same parity
  if (r < 0) r = 0;  // a one-row frame has no second field
  rs.top = LONG(r);
  rs.bottom = r < hs - 2 ? LONG(r + 2) : LONG(r);
  return rs;
}

HRESULT ScaleBilinear(const BITMAPINFOHEADER& sh, const BYTE* src, size_t srcBytes, const BITMAPINFOHEADER& dh,
                      BYTE* dst, size_t dstBytes, int mode, int fieldMode, bool rgb555) {
  if ((sh.biCompression != BI_RGB && sh.biCompression != BI_BITFIELDS) || dh.biCompression != BI_RGB)
    return E_FAIL;
  const WORD bits = sh.biBitCount;
  if (bits != dh.biBitCount || (bits != 16 && bits != 24 && bits != 32)) return E_FAIL;
  if (!src || !dst || sh.biWidth <= 0 || dh.biWidth <= 0 || sh.biHeight == 0 || dh.biHeight == 0) return E_FAIL;
  const LONG ws = sh.biWidth, hs = AbsHeight(sh.biHeight), wd = dh.biWidth, hd = AbsHeight(dh.biHeight);
  const size_t srcImage = ImageBytes(bits, ws, hs), dstImage = ImageBytes(bits, wd, hd);
  // A short buffer on either side is an error, not a partial picture.
  if (srcBytes < srcImage || dstBytes < dstImage) return E_FAIL;

  const size_t srcStride = size_t(DibStride(ws, bits)), dstStride = size_t(DibStride(wd, bits));
  const int pixelBytes = bits / 8;
  std::memset(dst, 0, dstImage);
  const BilinearPlan plan = PlanBilinear(ws, hs, wd, hd, mode);
  if (plan.centre) {
    const size_t rowBytes = size_t(plan.dx1 - plan.dx0 + 1) * size_t(pixelBytes);
    for (LONG y = plan.dy0; y <= plan.dy1; ++y) {
      std::memcpy(dst + dstStride * size_t(y) + size_t(plan.dx0) * size_t(pixelBytes),
                  src + srcStride * size_t(plan.sy0 + (y - plan.dy0)) + size_t(plan.sx0) * size_t(pixelBytes),
                  rowBytes);
    }
    return S_OK;
  }
  const bool fieldWise = IsFieldWise(fieldMode);
  switch (bits) {
    case 32: ScaleRect<Bgr32>(src, srcStride, ws, hs, dst, dstStride, plan, fieldWise); break;
    case 24: ScaleRect<Bgr24>(src, srcStride, ws, hs, dst, dstStride, plan, fieldWise); break;
    default:
      if (rgb555)
        ScaleRect<Rgb555>(src, srcStride, ws, hs, dst, dstStride, plan, fieldWise);
      else
        ScaleRect<Rgb565>(src, srcStride, ws, hs, dst, dstStride, plan, fieldWise);
      break;
  }
  return S_OK;
}

}  // namespace vxvk
