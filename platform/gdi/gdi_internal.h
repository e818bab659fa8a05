// Objects behind the drawing handles, shared by the files of the drawing library.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "media/contract/wingdi.h"

typedef struct _PangoFontDescription PangoFontDescription;

namespace tav::gdi {

enum class Kind { Dc, Bitmap, Font, Brush };

struct GdiObject {
  explicit GdiObject(Kind k) : kind(k) {}
  virtual ~GdiObject() = default;
  Kind kind;
  bool stock = false;  // stock objects are never deleted
};

enum class PixelFormat { Rgb555, Rgb565, Rgb24, Rgb32 };

// A window onto pixel memory in one of the section formats, addressed in picture coordinates
// (y = 0 is the top row shown, whatever the row order in memory).
struct PixelView {
  BYTE* bits = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes per row in memory
  bool bottomUp = true;
  PixelFormat format = PixelFormat::Rgb32;

  BYTE* Row(int y) const { return bits + size_t(bottomUp ? height - 1 - y : y) * size_t(stride); }
  int BytesPerPixel() const {
    return format == PixelFormat::Rgb32 ? 4 : format == PixelFormat::Rgb24 ? 3 : 2;
  }
  bool Valid() const { return bits && width > 0 && height > 0; }
};

// The view of a DIB described by a header (and, for BI_BITFIELDS, the masks that follow it).
// False for depths and compressions the library does not draw.
bool ViewFromInfo(const BITMAPINFO* info, const void* bits, PixelView* view);

// 0x00RRGGBB pixels.
uint32_t LoadPixel(const PixelView& v, const BYTE* p);
void StorePixel(const PixelView& v, BYTE* p, uint32_t rgb);
inline uint32_t RgbFromColorref(COLORREF c) {
  return (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) | GetBValue(c);
}

struct GdiBitmap : GdiObject {
  GdiBitmap() : GdiObject(Kind::Bitmap) {}
  PixelView view;
  BITMAPINFOHEADER header{};  // as created (height sign gives the row order)
  DWORD masks[3]{};
  std::unique_ptr<BYTE[]> storage;
  bool section = false;      // CreateDIBSection (bits visible to the caller)
  HDC selectedInto = nullptr;  // a memory context holding it, at most one
  int windowUses = 0;          // window contexts drawing into it
};

// What outlining a mask with a given radius does, worked out once per mask: the pixels of the
// grown mask that end up black whatever they were, and for the rest the coverage values of the
// black copies in drawing order.
struct OutlinePlan {
  int radius = -1;
  std::vector<uint32_t> full;         // index ey * width + ex in the grown mask
  std::vector<uint32_t> partial;      // same indexing
  std::vector<uint32_t> partialFirst; // start of each partial pixel's values in alphas (+ sentinel)
  std::vector<uint8_t> alphas;
};

// A rendered piece of text: coverage of the glyphs for one font and string, kept so that a
// string drawn many times (outlines) is shaped and rasterised once.
struct TextMask {
  int width = 0;       // logical advance, pixels
  int height = 0;      // logical line height, pixels
  int baseline = 0;    // from the logical top
  int maskX = 0;       // mask origin relative to the logical top-left corner
  int maskY = 0;
  int maskWidth = 0;
  int maskHeight = 0;
  bool rendered = false;       // alpha holds the coverage (a measured-only entry does not)
  std::vector<uint8_t> alpha;  // maskWidth x maskHeight coverage
  std::vector<uint16_t> spanStart, spanEnd;  // per row: the columns holding coverage [start, end)
  // Outline plans by radius, made on first use; guarded by planLock (masks are shared).
  mutable std::mutex planLock;
  mutable std::vector<std::shared_ptr<const OutlinePlan>> plans;  // guarded by planLock
};

struct GdiFont : GdiObject {
  GdiFont() : GdiObject(Kind::Font) {}
  ~GdiFont() override;
  LOGFONTW logfont{};
  PangoFontDescription* description = nullptr;
  bool antialias = true;
};

struct GdiBrush : GdiObject {
  GdiBrush() : GdiObject(Kind::Brush) {}
  COLORREF color = 0;
  bool hollow = false;
};

enum class DcKind { Screen, Memory, Window };

struct GdiDc : GdiObject {
  GdiDc() : GdiObject(Kind::Dc) {}
  DcKind dcKind = DcKind::Memory;
  HWND hwnd = nullptr;
  GdiBitmap* bitmap = nullptr;  // drawing target: selected bitmap or window surface
  GdiFont* font = nullptr;      // null: the default font
  GdiBrush* brush = nullptr;
  COLORREF textColor = RGB(0, 0, 0);
  COLORREF bkColor = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  UINT textAlign = TA_TOP | TA_LEFT | TA_NOUPDATECP;
  POINT position{0, 0};
  int stretchMode = BLACKONWHITE;
  POINT brushOrigin{0, 0};
};

// Handle validation: every live object is registered; a handle that is not is refused.
void Register(GdiObject* object);
void Unregister(GdiObject* object);
GdiObject* Lookup(const void* handle);
GdiDc* LookupDc(HDC dc);
GdiFont* DefaultFont();

// Text (text.cpp). Measured and rendered strings are kept process-wide per LOGFONT and
// string, so a font made again for every frame (captions) reuses the earlier work.
// withMask: the coverage is needed too (drawing), not only the extents (measuring).
std::shared_ptr<const TextMask> RenderText(GdiFont* font, std::u16string_view text, bool withMask);
bool InitFont(GdiFont* font);

// Pixel work (pixels.cpp).
void FillView(const PixelView& v, RECT r, uint32_t rgb);
// Blends a coverage mask in one colour at (x, y); pixels with no coverage are not touched.
void BlendMask(const PixelView& v, const TextMask& mask, int x, int y, uint32_t rgb, const RECT* clip);
// The same pixels as blending the mask in black at every offset (dx, dy) in [-radius, radius]
// (dy outer, dx inner), then once in rgb at (x, y); the black copies cost far less.
void BlendOutlined(const PixelView& v, const TextMask& mask, int x, int y, int radius, uint32_t rgb);
// Copies or resamples src rectangle into dst rectangle (negative extents mirror), clipped to
// both views. halftone: area averaging; otherwise nearest pixel.
bool Transfer(const PixelView& dst, int x, int y, int w, int h, const PixelView& src, int sx, int sy, int sw, int sh,
              bool halftone);

}  // namespace tav::gdi
