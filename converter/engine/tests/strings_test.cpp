// The texts of the engine: times and sizes as text, the string table with its formatting,
// and the translation and satellite files that replace its texts.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "converter/engine/bytesize.h"
#include "converter/engine/convertorder.h"
#include "converter/engine/strings.h"
#include "converter/engine/timetext.h"
#include "tests/support/testenv.h"

namespace tav {
namespace {

TEST(EngineTimeText, FormatsMinutesSecondsAndHours) {
  constexpr LONGLONG s = 10000000;
  EXPECT_EQ(FormatTime(0), "00:00");
  EXPECT_EQ(FormatTime(90 * s), "01:30");
  EXPECT_EQ(FormatTime(3725 * s), "1:02:05");
  EXPECT_EQ(FormatTime(3599 * s), "59:59");
  EXPECT_EQ(FormatTime(3600 * s), "1:00:00");
  EXPECT_EQ(FormatTime(s - 1), "00:00");
  EXPECT_EQ(FormatTime(kUnknownTime), "--:--");
}

TEST(EngineSizeText, BytesThenOneDecimalOfTheLargestWholeUnit) {
  EXPECT_EQ(ByteSizeText(0), "0 bytes");
  EXPECT_EQ(ByteSizeText(1023), "1023 bytes");
  EXPECT_EQ(ByteSizeText(1024), "1.0 KB");
  EXPECT_EQ(ByteSizeText(3 * 1048576 / 2), "1.5 MB");
  EXPECT_EQ(ByteSizeText(1048575), "1.0 MB");  // 1023.999 KB would round to "1024.0 KB"
  EXPECT_EQ(ByteSizeText(45ULL * 1048576), "45.0 MB");
  EXPECT_EQ(ByteSizeText(3435973837ULL), "3.2 GB");
  EXPECT_EQ(ByteSizeText(1ULL << 62), "4194304.0 TB");  // past the last unit the number grows
}

TEST(EngineStringTable, FormatsAndTranslates) {
  EXPECT_EQ(res::Format("%1[QVF]-%2%3", {"/m/", "clip", ".qvf"}), "/m/[QVF]-clip.qvf");
  EXPECT_EQ(res::Format("Cannot decode %1 video. Please install %1 video codec", {"DIVX"}),
            "Cannot decode DIVX video. Please install DIVX video codec");
  EXPECT_EQ(res::Format("%2 of %1, 100%% %x %", {"a"}), " of a, 100% %x %");
  EXPECT_EQ(res::SplitItems(res::Text(res::IDS_SPLIT_ITEMS)).size(), 6u);
  EXPECT_EQ(res::SplitItems(res::Text(res::IDS_VIDEO_FILTER)).size(), 4u);
  EXPECT_EQ(res::Text(res::IDS_COMPANY_FOLDER), "Merolan");
  EXPECT_TRUE(res::Text(99999).empty());

  const std::string file = tavtest::MakeTempSubdir("lang") + "/ko.txt";
  std::ofstream(file) << "# test\n" << res::IDS_STATUS_READY << "\tJunbi\n" << res::IDS_MARKER_START << "\tA\\nB\n";
  std::string error;
  ASSERT_TRUE(res::LoadTranslationFile(file, &error)) << error;
  EXPECT_EQ(res::Text(res::IDS_STATUS_READY), "Junbi");
  EXPECT_EQ(res::Text(res::IDS_MARKER_START), "A\nB");
  EXPECT_EQ(res::Text(res::IDS_STATUS_PAUSED), "Paused");  // untranslated: built in
  CConvertOrder entry;
  EXPECT_EQ(entry.GetStatusText(), "Junbi");
  std::ofstream(file) << "nonsense line\n";
  EXPECT_FALSE(res::LoadTranslationFile(file, &error));
  EXPECT_EQ(res::Text(res::IDS_STATUS_READY), "Junbi");  // a bad file changes nothing
  res::SetTranslation({});
  EXPECT_EQ(res::Text(res::IDS_STATUS_READY), "Ready");
}

TEST(EngineStringTable, SatelliteFileNextToTheProgram) {
  const std::string dir = tavtest::MakeTempSubdir("satellite");
  std::ofstream(dir + "/TavrionConverter.ko.strings") << res::IDS_STATUS_READY << "\tJunbi\n";
  EXPECT_TRUE(res::LoadSatelliteStrings(dir + "/TavrionConverter", "ko_KR.UTF-8"));
  EXPECT_EQ(res::Text(res::IDS_STATUS_READY), "Junbi");
  res::SetTranslation({});
  EXPECT_FALSE(res::LoadSatelliteStrings(dir + "/TavrionConverter", "de_DE.UTF-8"));
  EXPECT_FALSE(res::LoadSatelliteStrings(dir + "/TavrionConverter", "C"));
  const std::string deep = dir + "/" + std::string(260, 'x') + "/TavrionConverter";
  EXPECT_FALSE(res::LoadSatelliteStrings(deep, "ko"));  // too long a path: no search
  EXPECT_EQ(res::Text(res::IDS_STATUS_READY), "Ready");
}

}  // namespace
}  // namespace tav
