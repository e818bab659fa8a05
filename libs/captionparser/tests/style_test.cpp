// Caption styles (properties, copying, merging, sizes, colours) and text runs.
#include <gtest/gtest.h>

#include "libs/captionparser/captionentry.h"
#include "libs/captionparser/captionstyle.h"

using namespace captionparser;

TEST(captionparser_CaptionStyle, DefaultsAndPropertyBits) {
  CCaptionStyle s;
  EXPECT_EQ(s.kind, CCaptionStyle::kElement);
  EXPECT_EQ(s.flags, 0u);
  EXPECT_EQ(s.fontFamily, "Tahoma");
  EXPECT_EQ(s.fontSize, (CaptionSize{SizeUnit::Percent, 10}));
  EXPECT_EQ(s.marginBottom, (CaptionSize{SizeUnit::Percent, 10}));
  EXPECT_EQ(s.color, 0x000000u);
  EXPECT_EQ(s.backgroundColor, 0xFFFFFFu);

  s.SetProperty("Name", "Korean");
  s.SetProperty("LANG", "ko-KR");
  s.SetProperty("samitype", "CC");
  s.SetProperty("font-weight", "BOLD");
  s.SetProperty("font-style", "Italic");
  s.SetProperty("text-align", "Center");
  s.SetProperty("font-family", "Arial, Sans-serif");
  s.SetProperty("unknown", "x");
  s.SetProperty("name ", "ignored: the space is part of the name");
  EXPECT_EQ(s.name, "Korean");
  EXPECT_EQ(s.lang, "ko-KR");
  EXPECT_EQ(s.samiType, "CC");
  EXPECT_TRUE(s.bold);
  EXPECT_TRUE(s.italic);
  EXPECT_EQ(s.textAlign, CCaptionStyle::kCenter);
  EXPECT_EQ(s.fontFamily, "Arial");
  EXPECT_EQ(s.flags, CCaptionStyle::kName | CCaptionStyle::kLang | CCaptionStyle::kSamiType | CCaptionStyle::kBold |
                         CCaptionStyle::kItalic | CCaptionStyle::kTextAlign | CCaptionStyle::kFontFamily);

  // Values that do not fit degrade to defaults but still mark the property as set.
  s.SetProperty("font-weight", "700");
  s.SetProperty("text-align", "justify");
  s.SetProperty("margin-left", "12 ");
  EXPECT_FALSE(s.bold);
  EXPECT_EQ(s.textAlign, CCaptionStyle::kLeft);
  EXPECT_EQ(s.marginLeft, (CaptionSize{SizeUnit::Pixels, 0}));
  EXPECT_TRUE(s.Has(CCaptionStyle::kMarginLeft));
}

TEST(captionparser_CaptionStyle, SizesAndColours) {
  EXPECT_EQ(ParseCaptionSize("12pt"), (CaptionSize{SizeUnit::Points, 12}));
  EXPECT_EQ(ParseCaptionSize("12PT"), (CaptionSize{SizeUnit::Points, 12}));
  EXPECT_EQ(ParseCaptionSize("7%"), (CaptionSize{SizeUnit::Percent, 7}));
  EXPECT_EQ(ParseCaptionSize("24"), (CaptionSize{SizeUnit::Pixels, 24}));
  EXPECT_EQ(ParseCaptionSize("24px"), (CaptionSize{SizeUnit::Pixels, 24}));
  EXPECT_EQ(ParseCaptionSize("7% "), (CaptionSize{SizeUnit::Pixels, 0}));
  EXPECT_EQ(ParseCaptionSize("-3"), (CaptionSize{SizeUnit::Pixels, 0}));

  EXPECT_EQ(ParseCaptionColor("#ff8000"), CaptionRgb(0xFF, 0x80, 0x00));
  EXPECT_EQ(ParseCaptionColor("#FF8000"), 0x0080FFu);
  EXPECT_EQ(ParseCaptionColor("#ff8000 "), CaptionRgb(0xFF, 0x80, 0x00));
  EXPECT_EQ(ParseCaptionColor("Red"), CaptionRgb(0xFF, 0, 0));
  EXPECT_EQ(ParseCaptionColor("white"), 0xFFFFFFu);
  EXPECT_EQ(ParseCaptionColor("orange"), 0u);
  EXPECT_EQ(ParseCaptionColor("#fff"), 0u);
  EXPECT_EQ(ParseCaptionColor("ff8000"), 0u);
  EXPECT_EQ(ParseCaptionColor(""), 0u);

  EXPECT_EQ(ResolveSize({SizeUnit::Pixels, 24}, 480, 96), 24);
  EXPECT_EQ(ResolveSize({SizeUnit::Percent, 7}, 240, 96), 18);   // (7 x 240 + 150) / 100
  EXPECT_EQ(ResolveSize({SizeUnit::Percent, 10}, 480, 96), 49);  // (4800 + 150) / 100
  EXPECT_EQ(ResolveSize({SizeUnit::Points, 12}, 480, 96), 16);
  EXPECT_EQ(ResolveSize({SizeUnit::Points, 12}, 480, 72), 12);
}

TEST(captionparser_CaptionStyle, CopyUnflaggedAndMerge) {
  CCaptionStyle p("P");
  p.SetProperty("color", "yellow");
  p.SetProperty("font-size", "20");

  CCaptionStyle copy;
  copy.CopyFrom(p);
  EXPECT_EQ(copy.selector, "P");
  EXPECT_EQ(copy.flags, CCaptionStyle::kAllProperties);

  CCaptionStyle derived;
  derived.CopyUnflagged(p);
  EXPECT_EQ(derived.selector, "P");
  EXPECT_EQ(derived.color, CaptionRgb(0xFF, 0xFF, 0));
  EXPECT_EQ(derived.fontSize, (CaptionSize{SizeUnit::Pixels, 20}));
  EXPECT_EQ(derived.flags, 0u);

  CCaptionStyle encc("ENCC", CCaptionStyle::kClass);
  encc.SetProperty("font-family", "Arial");
  encc.SetProperty("color", "#00ff00");
  derived.MergeFrom(encc);
  EXPECT_EQ(derived.selector, "P.ENCC");
  EXPECT_EQ(derived.kind, CCaptionStyle::kElement);
  EXPECT_EQ(derived.fontFamily, "Arial");
  EXPECT_EQ(derived.color, CaptionRgb(0, 0xFF, 0));
  EXPECT_EQ(derived.fontSize, (CaptionSize{SizeUnit::Pixels, 20}));  // not set in ENCC: kept
  EXPECT_EQ(derived.flags, CCaptionStyle::kFontFamily | CCaptionStyle::kColor);
}

TEST(captionparser_TextRun, EdgeSpaceAndEntities) {
  CCaptionStyle style;
  CCaptionEntry e(0);
  e.AddRun("A&nbsp;&amp;B", &style);
  e.AddRun("&NBSP", &style);
  e.AddRun("x&nbspy", &style);  // \w+ takes "nbspy": an unknown entity
  e.AddRun("  two  ", &style);
  e.AddRun("\t \r", &style);
  e.AddRun("&#44;&lt;", &style);
  e.AddRun("\n", &style);
  e.AddRun("", &style);
  ASSERT_EQ(e.Runs().size(), 8u);
  EXPECT_EQ(e.Runs()[0].text, "A B");
  EXPECT_EQ(e.Runs()[1].text, " ");
  EXPECT_EQ(e.Runs()[2].text, "x");
  EXPECT_EQ(e.Runs()[3].text, " two ");
  EXPECT_EQ(e.Runs()[4].text, " ");
  EXPECT_EQ(e.Runs()[5].text, "&#44;");
  EXPECT_EQ(e.Runs()[6].text, "\n");
  EXPECT_EQ(e.Runs()[7].text, "");
  EXPECT_EQ(e.Runs()[0].style, &style);
}
