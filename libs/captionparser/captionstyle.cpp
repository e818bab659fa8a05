#include "libs/captionparser/captionstyle.h"

#include <algorithm>
#include <climits>

#include "libs/captionparser/patterns.h"

namespace captionparser {

namespace {

struct NamedColor {
  const char* name;
  CaptionColor color;
};

constexpr NamedColor kColorNames[] = {
    {"black", CaptionRgb(0x00, 0x00, 0x00)},   {"blue", CaptionRgb(0x00, 0x00, 0xFF)},
    {"green", CaptionRgb(0x00, 0xFF, 0x00)},   {"cyan", CaptionRgb(0x00, 0xFF, 0xFF)},
    {"red", CaptionRgb(0xFF, 0x00, 0x00)},     {"magenta", CaptionRgb(0xFF, 0x00, 0xFF)},
    {"yellow", CaptionRgb(0xFF, 0xFF, 0x00)},  {"white", CaptionRgb(0xFF, 0xFF, 0xFF)},
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int ClampToInt(long long v) { return int(std::clamp<long long>(v, INT_MIN, INT_MAX)); }

}  // namespace

int ResolveSize(const CaptionSize& size, int base, int dpiY) {
  switch (size.unit) {
    case SizeUnit::Pixels:
      return size.number;
    case SizeUnit::Percent:
      return ClampToInt((static_cast<long long>(size.number) * base + 150) / 100);
    case SizeUnit::Points:
      // A point is 1/72 inch.
      return ClampToInt((static_cast<long long>(size.number) * dpiY + 36) / 72);
  }
  return 0;
}

CaptionColor ParseCaptionColor(std::string_view value) {
  // "#" and six hexadecimal digits; what follows them (a space before the semicolon of the
  // declaration, say) does not matter.
  if (value.size() >= 7 && value[0] == '#') {
    int digits[6];
    bool hex = true;
    for (int i = 0; i < 6; ++i) hex = hex && (digits[i] = HexDigit(value[1 + i])) >= 0;
    if (hex) {
      return CaptionRgb(BYTE(digits[0] * 16 + digits[1]), BYTE(digits[2] * 16 + digits[3]),
                        BYTE(digits[4] * 16 + digits[5]));
    }
  }
  if (!value.empty() && IsPcreWord(static_cast<unsigned char>(value[0]))) {
    for (const NamedColor& c : kColorNames) {
      if (EqualsNoCase(value, c.name)) return c.color;
    }
  }
  return CaptionRgb(0, 0, 0);
}

CaptionSize ParseCaptionSize(std::string_view value) {
  RegexMatch m;
  if (!Patterns().sizeValue.Search(value, 0, &m)) return {SizeUnit::Pixels, 0};
  CaptionSize size;
  size.number = ParseDigits(m.Group(1));
  std::string_view unit = m.Group(2);
  if (EqualsNoCase(unit, "pt")) {
    size.unit = SizeUnit::Points;
  } else if (unit == "%") {
    size.unit = SizeUnit::Percent;
  } else {
    size.unit = SizeUnit::Pixels;
  }
  return size;
}

void CCaptionStyle::CopyFrom(const CCaptionStyle& other) {
  *this = other;
  flags = kAllProperties;
}

void CCaptionStyle::CopyUnflagged(const CCaptionStyle& other) {
  *this = CCaptionStyle();
  CopyFrom(other);
  flags = 0;
}

void CCaptionStyle::MergeFrom(const CCaptionStyle& other) {
  selector = selector + "." + other.selector;
  kind = kElement;
  auto take = [&](uint64_t bit, auto& field, const auto& source) {
    if (other.Has(bit)) {
      field = source;
      flags |= bit;
    }
  };
  take(kName, name, other.name);
  take(kLang, lang, other.lang);
  take(kSamiType, samiType, other.samiType);
  take(kMarginLeft, marginLeft, other.marginLeft);
  take(kMarginRight, marginRight, other.marginRight);
  take(kMarginTop, marginTop, other.marginTop);
  take(kMarginBottom, marginBottom, other.marginBottom);
  take(kTextAlign, textAlign, other.textAlign);
  take(kFontFamily, fontFamily, other.fontFamily);
  take(kFontSize, fontSize, other.fontSize);
  take(kBold, bold, other.bold);
  take(kItalic, italic, other.italic);
  take(kColor, color, other.color);
  take(kBackgroundColor, backgroundColor, other.backgroundColor);
}

void CCaptionStyle::SetProperty(std::string_view property, std::string_view value) {
  auto sizeProperty = [&](uint64_t bit, CaptionSize& field) {
    field = ParseCaptionSize(value);
    flags |= bit;
  };
  if (EqualsNoCase(property, "name")) {
    name = value;
    flags |= kName;
  } else if (EqualsNoCase(property, "lang")) {
    lang = value;
    flags |= kLang;
  } else if (EqualsNoCase(property, "SAMIType")) {
    samiType = value;
    flags |= kSamiType;
  } else if (EqualsNoCase(property, "margin-left")) {
    sizeProperty(kMarginLeft, marginLeft);
  } else if (EqualsNoCase(property, "margin-right")) {
    sizeProperty(kMarginRight, marginRight);
  } else if (EqualsNoCase(property, "margin-top")) {
    sizeProperty(kMarginTop, marginTop);
  } else if (EqualsNoCase(property, "margin-bottom")) {
    sizeProperty(kMarginBottom, marginBottom);
  } else if (EqualsNoCase(property, "font-size")) {
    sizeProperty(kFontSize, fontSize);
  } else if (EqualsNoCase(property, "text-align")) {
    if (EqualsNoCase(value, "center")) {
      textAlign = kCenter;
    } else if (EqualsNoCase(value, "right")) {
      textAlign = kRight;
    } else {
      textAlign = kLeft;
    }
    flags |= kTextAlign;
  } else if (EqualsNoCase(property, "font-family")) {
    fontFamily = value.substr(0, value.find(','));
    flags |= kFontFamily;
  } else if (EqualsNoCase(property, "font-weight")) {
    bold = EqualsNoCase(value, "bold");
    flags |= kBold;
  } else if (EqualsNoCase(property, "font-style")) {
    italic = EqualsNoCase(value, "italic");
    flags |= kItalic;
  } else if (EqualsNoCase(property, "color")) {
    color = ParseCaptionColor(value);
    flags |= kColor;
  } else if (EqualsNoCase(property, "background-color")) {
    backgroundColor = ParseCaptionColor(value);
    flags |= kBackgroundColor;
  }
}

}  // namespace captionparser
