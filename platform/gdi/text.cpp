// Fonts and text on Pango: a LOGFONT becomes a font description; text is shaped and rasterised
// into a coverage mask that the drawing calls blend in the text colour.
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "media/contract/codepage.h"
#include "platform/gdi/gdi_internal.h"

namespace tav::gdi {
namespace {

// A font with no usable height gets this character height.
constexpr int kDefaultCharHeightPx = 13;
// Strings kept before the cache starts over.
constexpr size_t kMaxCachedStrings = 4096;

// Guards TextCache(): measured and rendered strings of every font, keyed by the LOGFONT's
// bytes followed by the string.
std::mutex& TextCacheLock() {
  static std::mutex lock;
  return lock;
}
std::unordered_map<std::u16string, std::shared_ptr<const TextMask>>& TextCache() {
  static std::unordered_map<std::u16string, std::shared_ptr<const TextMask>> cache;
  return cache;
}

// Pango contexts are not shared between threads: each thread gets a font map and two contexts
// (antialiased and not) of its own.
struct ThreadPango {
  PangoFontMap* map = nullptr;
  PangoContext* contexts[2] = {nullptr, nullptr};
  ThreadPango() {
    map = pango_cairo_font_map_new();
    for (int aa = 0; aa < 2; ++aa) {
      PangoContext* ctx = pango_font_map_create_context(map);
      cairo_font_options_t* options = cairo_font_options_create();
      cairo_font_options_set_antialias(options, aa ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE);
      // Whole-pixel advances, so that the width of a string is the sum of its pieces' widths
      // as far as possible (text is measured whole and drawn word by word).
      cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
      cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
      pango_cairo_context_set_font_options(ctx, options);
      pango_cairo_context_set_resolution(ctx, 96.0);
      cairo_font_options_destroy(options);
      contexts[aa] = ctx;
    }
  }
  ~ThreadPango() {
    for (PangoContext* c : contexts) g_object_unref(c);
    g_object_unref(map);
  }
};

PangoContext* ContextFor(bool antialias) {
  thread_local ThreadPango pango;
  return pango.contexts[antialias ? 1 : 0];
}

// UTF-16 to UTF-8 for Pango; unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size() * 3);
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    } else if (c < 0x20) {
      // Control characters take no room and draw nothing (Pango would break lines at them).
      c = 0x200B;
    }
    tav::AppendUtf8(out, c);
  }
  return out;
}

}  // namespace

GdiFont::~GdiFont() {
  if (description) pango_font_description_free(description);
}

bool InitFont(GdiFont* font) {
  const LOGFONTW& lf = font->logfont;
  PangoFontDescription* desc = pango_font_description_new();
  std::u16string face(lf.lfFaceName, std::find(lf.lfFaceName, lf.lfFaceName + LF_FACESIZE, u'\0'));
  // A face that is not installed, and characters the face lacks (Korean in a Latin face), are
  // found by fontconfig's substitution when the text is shaped.
  pango_font_description_set_family(desc, face.empty() ? "sans-serif" : ToUtf8(face).c_str());
  const int weight = lf.lfWeight == FW_DONTCARE ? FW_NORMAL : std::clamp<int>(lf.lfWeight, 100, 1000);
  pango_font_description_set_weight(desc, PangoWeight(weight));
  pango_font_description_set_style(desc, lf.lfItalic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  font->antialias = lf.lfQuality != NONANTIALIASED_QUALITY;

  // Pango sizes the em square, which is the character height; a positive height is the cell
  // (ascent + descent) and is scaled by the face's own proportions.
  double em = kDefaultCharHeightPx;
  if (lf.lfHeight < 0) {
    em = -double(lf.lfHeight);
  } else if (lf.lfHeight > 0) {
    constexpr int kProbe = 100;
    pango_font_description_set_absolute_size(desc, kProbe * PANGO_SCALE);
    PangoContext* ctx = ContextFor(font->antialias);
    PangoFontMetrics* metrics = pango_context_get_metrics(ctx, desc, nullptr);
    const double cell = double(pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics)) /
                        PANGO_SCALE;
    pango_font_metrics_unref(metrics);
    em = cell > 0 ? lf.lfHeight * kProbe / cell : lf.lfHeight;
  }
  if (em > 4096) em = 4096;  // masks stay within 16-bit spans too  // beyond any frame; keeps the rasteriser's work bounded
  pango_font_description_set_absolute_size(desc, em * PANGO_SCALE);
  font->description = desc;
  return true;
}

std::shared_ptr<const TextMask> RenderText(GdiFont* font, std::u16string_view text, bool withMask) {
  std::u16string key(reinterpret_cast<const char16_t*>(&font->logfont), sizeof(LOGFONTW) / sizeof(char16_t));
  key.append(text);
  {
    std::lock_guard<std::mutex> lock(TextCacheLock());
    auto it = TextCache().find(key);
    if (it != TextCache().end() && (it->second->rendered || !withMask)) return it->second;
  }
  auto mask = std::make_shared<TextMask>();
  PangoLayout* layout = pango_layout_new(ContextFor(font->antialias));
  pango_layout_set_font_description(layout, font->description);
  const std::string utf8 = ToUtf8(text);
  pango_layout_set_text(layout, utf8.data(), int(utf8.size()));
  PangoRectangle ink, logical;
  pango_layout_get_pixel_extents(layout, &ink, &logical);
  mask->width = logical.width;
  mask->height = logical.height;
  if (mask->height <= 0) {
    // An empty string still has the font's line height.
    pango_layout_set_text(layout, " ", 1);
    PangoRectangle ink2, logical2;
    pango_layout_get_pixel_extents(layout, &ink2, &logical2);
    mask->height = logical2.height;
    pango_layout_set_text(layout, utf8.data(), int(utf8.size()));
  }
  mask->baseline = pango_layout_get_baseline(layout) / PANGO_SCALE;
  if (withMask && ink.width > 0 && ink.height > 0) {
    // One pixel of room on each side for antialiasing that spills past the ink extents.
    mask->maskX = ink.x - logical.x - 1;
    mask->maskY = ink.y - logical.y - 1;
    mask->maskWidth = ink.width + 2;
    mask->maskHeight = ink.height + 2;
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, mask->maskWidth);
    std::vector<uint8_t> pixels(size_t(stride) * mask->maskHeight, 0);
    cairo_surface_t* surface = cairo_image_surface_create_for_data(pixels.data(), CAIRO_FORMAT_A8, mask->maskWidth,
                                                                   mask->maskHeight, stride);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    cairo_move_to(cr, -mask->maskX - logical.x, -mask->maskY - logical.y);
    pango_cairo_show_layout(cr, layout);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    mask->alpha.resize(size_t(mask->maskWidth) * mask->maskHeight);
    for (int y = 0; y < mask->maskHeight; ++y)
      std::memcpy(mask->alpha.data() + size_t(y) * mask->maskWidth, pixels.data() + size_t(y) * stride,
                  size_t(mask->maskWidth));
  }
  mask->spanStart.assign(size_t(mask->maskHeight), 0);
  mask->spanEnd.assign(size_t(mask->maskHeight), 0);
  for (int y = 0; y < mask->maskHeight; ++y) {
    const uint8_t* row = mask->alpha.data() + size_t(y) * mask->maskWidth;
    int b = 0, e = mask->maskWidth;
    while (b < e && !row[b]) ++b;
    while (e > b && !row[e - 1]) --e;
    mask->spanStart[y] = uint16_t(std::min(b, 65535));
    mask->spanEnd[y] = uint16_t(std::min(e, 65535));
  }
  mask->rendered = withMask;
  g_object_unref(layout);

  std::lock_guard<std::mutex> lock(TextCacheLock());
  if (TextCache().size() >= kMaxCachedStrings) TextCache().clear();
  TextCache()[std::move(key)] = mask;
  return mask;
}

}  // namespace tav::gdi
