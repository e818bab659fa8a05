#include "converter/ui/form/sizetext.h"

#include <gtest/gtest.h>

#include "converter/engine/timetext.h"

namespace tav {
namespace {

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
