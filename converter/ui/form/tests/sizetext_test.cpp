#include "converter/ui/form/sizetext.h"

#include <gtest/gtest.h>

#include "converter/engine/timetext.h"

namespace tav {
namespace {

TEST(SizeText, ParseSplitItemsAndSuffixes) {
  EXPECT_EQ(ParseSize("unlimited"), 0u);
  EXPECT_EQ(ParseSize(""), 0u);
  EXPECT_EQ(ParseSize("32 M"), 33554432u);
  EXPECT_EQ(ParseSize("512 M"), 536870912u);
  EXPECT_EQ(ParseSize("64 MB"), 67108864u);     // the split list's items name the unit
  EXPECT_EQ(ParseSize("제한 없음"), 0u);        // "unlimited" in Korean
  EXPECT_EQ(ParseSize("1k"), 1024u);            // suffix upper-cased, no blank needed
  EXPECT_EQ(ParseSize("2 G"), 2147483648u);
  EXPECT_EQ(ParseSize("7 X"), 7u);              // unknown suffix: the number as it is
  EXPECT_EQ(ParseSize("  12345"), 12345u);
}

TEST(SizeText, ParseStopsBeforeOverflow) {
  // 2^43 T: one step reaches 2^53, the next would pass the signed 64-bit range.
  EXPECT_EQ(ParseSize("8796093022208 T"), 9007199254740992u);
  EXPECT_EQ(ParseSize("9000000000000000000 K"), 9000000000000000000u);
}

TEST(SizeText, FormatKeepsAtLeastTwoOfTheLargerUnit) {
  EXPECT_EQ(FormatSize(1048576), "1024 K");
  EXPECT_EQ(FormatSize(1048577), "1024 K");
  EXPECT_EQ(FormatSize(2000000), "1953 K");
  EXPECT_EQ(FormatSize(15728640), "15 M");
  EXPECT_EQ(FormatSize(1024), "1024 ");
  EXPECT_EQ(FormatSize(2047), "2047 ");
  EXPECT_EQ(FormatSize(2048), "2 K");
  EXPECT_EQ(FormatSize(0), "0 ");
  // Past T there is no suffix left.
  EXPECT_EQ(FormatSize(1ULL << 62), "4 ");
}

TEST(SizeText, TimesOfTheStatusArea) {
  constexpr REFERENCE_TIME kSecond = 10000000;
  EXPECT_EQ(FormatTime((59 * 60 + 59) * kSecond), "59:59");
  EXPECT_EQ(FormatTime(3600 * kSecond), "1:00:00");
  EXPECT_EQ(FormatTime(kUnknownTime), "--:--");
}

}  // namespace
}  // namespace tav
