#include "converter/ui/form/readysummary.h"

#include <gtest/gtest.h>

#include <memory>

#include "converter/engine/document.h"
#include "converter/engine/outputfiles.h"
#include "tests/support/testenv.h"

namespace tav {
namespace {

constexpr REFERENCE_TIME kSecond = 10000000;

CConvertOrder* Entry(CTavrionConverterDoc& doc, const std::string& name, REFERENCE_TIME duration) {
  static const std::string dir = tavtest::MakeTempSubdir("readysummary");
  auto entry = std::make_unique<CConvertOrder>(dir + "/" + name);
  entry->SetFrameSize(320, 240);
  entry->SetFrameRate(30.0);
  if (duration != kUnknownTime) entry->SetSourceInfo(duration, 320, 240, true);
  return doc.AppendOrder(std::move(entry));
}

// The status area's sentence: what is checked, with the trim ranges, and nothing said of a
// size while a checked movie's length is unknown.
TEST(ReadySummary, CountsCheckedMoviesAndSumsTheirTrimmedSizes) {
  CTavrionConverterDoc doc;
  EXPECT_EQ(ReadySummaryText(SummariseBatch(doc, 300)), "Add movies to convert, or drop them here.");

  CConvertOrder* whole = Entry(doc, "a.avi", 600 * kSecond);
  CConvertOrder* trimmed = Entry(doc, "b.avi", 900 * kSecond);
  trimmed->SetTrimPoints(100 * kSecond, 400 * kSecond);
  CConvertOrder* unchecked = Entry(doc, "c.avi", 3600 * kSecond);
  unchecked->SetChecked(false);

  // 300 kbit/s at 320 x 240 and 30 fps, plus 69 kbit/s: 47,232 bytes a second, for 900 s.
  const ReadySummary summary = SummariseBatch(doc, 300);
  EXPECT_EQ(summary.checked, 2u);
  EXPECT_EQ(summary.unsized, 0u);
  EXPECT_EQ(summary.bytes, 47232LL * 900);
  EXPECT_EQ(ReadySummaryText(summary), "2 movies, about 40.5 MB, ready to convert");

  whole->SetChecked(false);
  EXPECT_EQ(ReadySummaryText(SummariseBatch(doc, 300)), "1 movie, about 13.5 MB, ready to convert");
  // A short clip: about 1.4 MB, in the largest unit with a decimal, not a count of KB.
  trimmed->SetTrimPoints(100 * kSecond, 130 * kSecond);
  EXPECT_EQ(ReadySummaryText(SummariseBatch(doc, 300)), "1 movie, about 1.4 MB, ready to convert");
  trimmed->SetTrimPoints(100 * kSecond, 400 * kSecond);

  // A movie that could not be read is counted and makes nothing.
  Entry(doc, "broken.avi", kUnknownTime)->SetProbeResult(E_FAIL, MediaTypeValue(), "unreadable");
  EXPECT_EQ(ReadySummaryText(SummariseBatch(doc, 300)), "2 movies, about 13.5 MB, ready to convert");
  // Not probed yet: counted, but no size that would leave it out.
  Entry(doc, "d.avi", kUnknownTime);
  EXPECT_EQ(ReadySummaryText(SummariseBatch(doc, 300)), "3 movies ready to convert");

  for (size_t i = 0; i < doc.GetCount(); ++i) doc.GetAt(i)->SetChecked(false);
  EXPECT_EQ(ReadySummaryText(SummariseBatch(doc, 300)), "No movie is checked: check the movies to convert.");
}

}  // namespace
}  // namespace tav
