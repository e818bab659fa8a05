// Output names and numbered parts, split limits, the exporter's bit rate and the output
// size estimate.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "converter/engine/convertorder.h"
#include "converter/engine/outputfiles.h"
#include "tests/support/testenv.h"

namespace tav {
namespace {

namespace fs = std::filesystem;

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(OutputFileSequence, PrepareName_NumbersOnlyWhenTheNameIsTaken) {
  const std::string dir = tavtest::MakeTempSubdir("names") + "/";
  Write(dir + "clip.avi", "movie");
  CConvertOrder entry(dir + "clip.avi");
  ASSERT_EQ(entry.OutputPath().Full(), dir + "[QVF]-clip.qvf");
  EXPECT_FALSE(fs::exists(dir + "[QVF]-clip.qvf")) << "the entry must not leave its probe file";

  OutputFileSequence free(entry.OutputPath().Full());
  EXPECT_EQ(free.PrepareName(), dir + "[QVF]-clip.qvf");
  fs::remove(dir + "[QVF]-clip.qvf");

  Write(dir + "[QVF]-clip.qvf", "earlier result");
  OutputFileSequence taken(entry.OutputPath().Full());
  EXPECT_EQ(taken.PrepareName(), dir + "[QVF]-clip[1].qvf");
  EXPECT_EQ(taken.BasePath().Full(), dir + "[QVF]-clip[1].qvf");

  // A name that already carries a number continues from it.
  Write(dir + "[QVF]-clip[1].qvf", "x");
  OutputFileSequence numbered(dir + "[QVF]-clip[1].qvf");
  EXPECT_EQ(numbered.PrepareName(), dir + "[QVF]-clip[2].qvf");
  EXPECT_EQ(Read(dir + "[QVF]-clip.qvf"), "earlier result");
}

TEST(OutputFileSequence, FinishPart_MovesEachPartToTheNextFreeNumber) {
  const std::string dir = tavtest::MakeTempSubdir("parts") + "/";
  const std::string base = dir + "[QVF]-clip.qvf";
  OutputFileSequence seq(base, 32 * 1024 * 1024);
  ASSERT_EQ(seq.PrepareName(), base);

  Write(base, "part one");
  EXPECT_EQ(seq.FinishPart(), dir + "[QVF]-clip0001.qvf");
  EXPECT_FALSE(fs::exists(base));

  // Someone else's file under the next number is skipped, never overwritten.
  Write(dir + "[QVF]-clip0002.qvf", "not ours");
  Write(base, "part two");
  EXPECT_EQ(seq.FinishPart(), dir + "[QVF]-clip0003.qvf");
  Write(base, "part three");
  EXPECT_EQ(seq.FinishPart(), dir + "[QVF]-clip0004.qvf");
  EXPECT_EQ(seq.NextPart(), 5);

  EXPECT_EQ(Read(dir + "[QVF]-clip0001.qvf"), "part one");
  EXPECT_EQ(Read(dir + "[QVF]-clip0002.qvf"), "not ours");
  EXPECT_EQ(Read(dir + "[QVF]-clip0003.qvf"), "part two");
  EXPECT_EQ(Read(dir + "[QVF]-clip0004.qvf"), "part three");
  EXPECT_FALSE(fs::exists(base));
}

TEST(OutputFileSequence, FinishPart_WithoutAFileLeavesTheBaseName) {
  const std::string dir = tavtest::MakeTempSubdir("nofile") + "/";
  OutputFileSequence seq(dir + "gone.qvf");
  EXPECT_EQ(seq.FinishPart(), dir + "gone.qvf");
  EXPECT_FALSE(fs::exists(dir + "gone0001.qvf"));
  // No part was made, so the next one is still the first.
  EXPECT_EQ(seq.NextPart(), 1);
  Write(dir + "gone.qvf", "part one");
  EXPECT_EQ(seq.FinishPart(), dir + "gone0001.qvf");
}

// Two conversions of the same movie into one folder at once: each name is taken by creating
// the file, so the second never gets the first one's name, even before anything is written.
TEST(OutputFileSequence, PrepareName_ReservesTheNameAtOnce_AndDiscardRemovesIt) {
  const std::string dir = tavtest::MakeTempSubdir("reserve") + "/";
  OutputFileSequence first(dir + "[QVF]-clip.qvf"), second(dir + "[QVF]-clip.qvf");
  EXPECT_EQ(first.PrepareName(), dir + "[QVF]-clip.qvf");
  EXPECT_TRUE(fs::exists(dir + "[QVF]-clip.qvf"));
  EXPECT_EQ(second.PrepareName(), dir + "[QVF]-clip[1].qvf");
  EXPECT_TRUE(fs::exists(dir + "[QVF]-clip[1].qvf"));

  first.Discard();
  EXPECT_FALSE(fs::exists(dir + "[QVF]-clip.qvf"));
  EXPECT_TRUE(fs::exists(dir + "[QVF]-clip[1].qvf"));
}

TEST(SplitSize, NominalSizesBecomeSmallerLimits) {
  constexpr ULONGLONG M = 1024 * 1024;
  EXPECT_EQ(MapSplitSize(32 * M), 30408704u);
  EXPECT_EQ(MapSplitSize(64 * M), 61865984u);
  EXPECT_EQ(MapSplitSize(128 * M), 125829120u);
  EXPECT_EQ(MapSplitSize(256 * M), 251658240u);
  EXPECT_EQ(MapSplitSize(512 * M), 494927872u);
  EXPECT_EQ(MapSplitSize(1024 * M), 989855744u);
  EXPECT_EQ(MapSplitSize(0), 0u);
  EXPECT_EQ(MapSplitSize(32 * M + 1), 32 * M + 1);
}

TEST(ExporterBitrate, DependsOnFrameSizeAndRate) {
  EXPECT_EQ(AdjustBitrate(320, 30.0, 300), 300);
  EXPECT_EQ(AdjustBitrate(320, 25.0, 300), 300);
  EXPECT_EQ(AdjustBitrate(320, 15.0, 301), 225);  // 3 * 301 / 4, rounded down
  EXPECT_EQ(AdjustBitrate(640, 30.0, 300), 600);
  EXPECT_EQ(AdjustBitrate(640, 15.0, 301), 451);
  EXPECT_EQ(AdjustBitrate(640, 30.0, 0x7FFFFFFF), 0x7FFFFFFF) << "a huge configured rate must not wrap";

  std::vector<BYTE> block(kExportConfigBytes, 0xAB);
  const int32_t configured = 500;
  std::memcpy(block.data() + 4, &configured, 4);
  ASSERT_TRUE(AdjustConfigBitrate(block, 640, 15.0));
  int32_t written;
  std::memcpy(&written, block.data() + 4, 4);
  EXPECT_EQ(written, 750);
  EXPECT_EQ(block[3], 0xAB);
  EXPECT_EQ(block[8], 0xAB);
  std::vector<BYTE> tiny(6);
  EXPECT_FALSE(AdjustConfigBitrate(tiny, 320, 30.0));
}

TEST(OutputSize, EstimateFollowsCompressIni) {
  const std::string dir = tavtest::MakeTempSubdir("ini") + "/";
  const std::string missing = dir + "missing.ini";
  constexpr REFERENCE_TIME kSecond = 10000000;
  EXPECT_EQ(EstimateOutputSize(320, 30.0, kSecond, missing), 47232);
  EXPECT_EQ(EstimateOutputSize(320, 15.0, kSecond, missing), 37632);
  EXPECT_EQ(EstimateOutputSize(640, 30.0, kSecond, missing), 85632);
  EXPECT_EQ(EstimateOutputSize(640, 15.0, kSecond, missing), 66432);
  EXPECT_EQ(EstimateOutputSize(320, 30.0, kSecond * 5 / 2, missing), 118080);
  EXPECT_EQ(EstimateOutputSize(320, 30.0, 0, missing), 0);
  // Ten hours do not overflow.
  EXPECT_EQ(EstimateOutputSize(640, 30.0, kSecond * 36000, missing), 85632LL * 36000);

  const std::string ini = dir + "compress.ini";
  Write(ini, "[ZR44]\nBITRATE=400\n");
  EXPECT_EQ(EstimateOutputSize(320, 30.0, kSecond, ini), (400 + 69) * 1024 / 8);
  EXPECT_EQ(EstimateOutputSize(640, 15.0, kSecond, ini), (600 + 69) * 1024 / 8);
}

}  // namespace
}  // namespace tav
