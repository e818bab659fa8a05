// A caption style: one rule of a SAMI style sheet, or a style derived while reading captions
// (italic, bold, font face, the centred white style of a SubRip cue). Each property has a flag
// bit that says whether it was set; merging copies only the set properties.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "media/contract/wintypes.h"
#include "libs/captionparser/textutil.h"

namespace captionparser {

enum class SizeUnit : int { Pixels = 0, Points = 1, Percent = 2 };

struct CaptionSize {
  SizeUnit unit = SizeUnit::Pixels;
  int number = 0;
  bool operator==(const CaptionSize&) const = default;
};

// Pixels for a size: pixels as they are, percent of `base` (rounded as (n x base + 150) / 100),
// points at `dpiY` dots per inch.
int ResolveSize(const CaptionSize& size, int base, int dpiY);

// Colours are 0x00BBGGRR (red in the low byte), as the drawing layer's COLORREF.
using CaptionColor = DWORD;
constexpr CaptionColor CaptionRgb(BYTE r, BYTE g, BYTE b) {
  return CaptionColor(r) | (CaptionColor(g) << 8) | (CaptionColor(b) << 16);
}
// "#RRGGBB" or one of the eight colour names; anything else is black.
CaptionColor ParseCaptionColor(std::string_view value);
// "12pt", "7%", "24"; anything that is not a number with an optional unit is {pixels, 0}.
CaptionSize ParseCaptionSize(std::string_view value);

class CCaptionStyle {
 public:
  enum Kind : int { kElement = 1, kClass = 2, kIdentifier = 4 };

  // Property bits of `flags`.
  static constexpr uint64_t kName = 0x1;
  static constexpr uint64_t kLang = 0x2;
  static constexpr uint64_t kSamiType = 0x4;
  static constexpr uint64_t kMarginLeft = 0x400;
  static constexpr uint64_t kMarginRight = 0x800;
  static constexpr uint64_t kMarginTop = 0x1000;
  static constexpr uint64_t kMarginBottom = 0x2000;
  static constexpr uint64_t kTextAlign = 0x4000;
  static constexpr uint64_t kFontFamily = 0x8000;
  static constexpr uint64_t kFontSize = 0x10000;
  static constexpr uint64_t kBold = 0x20000;
  static constexpr uint64_t kItalic = 0x40000;
  static constexpr uint64_t kColor = 0x80000;
  static constexpr uint64_t kBackgroundColor = 0x100000;
  static constexpr uint64_t kAllProperties = kName | kLang | kSamiType | kMarginLeft | kMarginRight | kMarginTop |
                                             kMarginBottom | kTextAlign | kFontFamily | kFontSize | kBold |
                                             kItalic | kColor | kBackgroundColor;

  enum Align : int { kLeft = 0, kCenter = 1, kRight = 2 };

  CCaptionStyle() = default;
  explicit CCaptionStyle(std::string selector, int kind = kElement) : selector(std::move(selector)), kind(kind) {}

  // Every field, and every property marked as set.
  void CopyFrom(const CCaptionStyle& other);
  // Defaults, then CopyFrom, then no property marked: a new style that starts from `other`.
  void CopyUnflagged(const CCaptionStyle& other);
  // Name becomes "<own>.<other's>", kind element, and the properties set in `other` are taken.
  void MergeFrom(const CCaptionStyle& other);
  // One declaration of a style sheet; names compare without case; unknown names are ignored.
  void SetProperty(std::string_view name, std::string_view value);

  bool Has(uint64_t bit) const { return (flags & bit) != 0; }

  std::string selector;
  int kind = kElement;
  uint64_t flags = 0;
  std::string name;       // "name"
  std::string lang;       // "lang"
  std::string samiType;   // "SAMIType"
  CaptionSize marginLeft{SizeUnit::Percent, 10};
  CaptionSize marginRight{SizeUnit::Percent, 10};
  CaptionSize marginTop{SizeUnit::Percent, 10};
  CaptionSize marginBottom{SizeUnit::Percent, 10};
  int textAlign = kLeft;
  std::string fontFamily = "Tahoma";
  CaptionSize fontSize{SizeUnit::Percent, 10};
  bool bold = false;
  bool italic = false;
  CaptionColor color = 0x000000;
  CaptionColor backgroundColor = 0xFFFFFF;
};

}  // namespace captionparser
