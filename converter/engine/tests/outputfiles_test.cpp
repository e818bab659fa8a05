// Output names and numbered parts, split limits, the exporter's bit rate and the output
// size estimate.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "converter/engine/convertorder.h"
#include "converter/engine/document.h"
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

// Every file the program makes has the mode the user's umask leaves of 0666.
TEST(OutputFileSequence, PrepareName_CreatesTheFileAsTheUmaskSays) {
  const std::string dir = tavtest::MakeTempSubdir("umask") + "/";
  const mode_t previous = ::umask(002);
  OutputFileSequence seq(dir + "[QVF]-clip.qvf");
  const std::string name = seq.PrepareName();
  const std::string batch = dir + "b.tvc";
  WriteFileAtomically(batch, "batch");
  ::umask(previous);
  EXPECT_EQ(fs::status(name).permissions(), fs::perms(0664));
  EXPECT_EQ(fs::status(batch).permissions(), fs::perms(0664));
  for (const auto& e : fs::directory_iterator(dir))
    EXPECT_TRUE(e.path() == name || e.path() == batch) << "left behind: " << e.path();
}

// A folder that takes no file is said with its name and the reason; the sequence does not
// claim to have made anything.
TEST(OutputFileSequence, PrepareName_InAFolderThatIsNotThere_SaysWhichAndWhy) {
  const std::string dir = tavtest::MakeTempSubdir("nofolder");
  OutputFileSequence seq(dir + "/gone/[QVF]-clip.qvf");
  seq.PrepareName();
  ASSERT_EQ(seq.CreateError(), ENOENT);
  HRESULT hr = S_OK;
  EXPECT_EQ(OutputFolderProblem(seq.BasePath().Full(), seq.CreateError(), &hr),
            "The output folder " + dir + "/gone does not exist");
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));

  Write(dir + "/file", "x");
  OutputFileSequence inFile(dir + "/file/[QVF]-clip.qvf");
  inFile.PrepareName();
  EXPECT_EQ(OutputFolderProblem(inFile.BasePath().Full(), inFile.CreateError(), &hr),
            "The output folder " + dir + "/file is not a folder");
  // A folder the user may not write into (as root, only a read-only mount refuses).
  EXPECT_EQ(OutputFolderProblem(dir + "/x.qvf", EROFS, &hr), "The output folder " + dir + " is read-only");
  EXPECT_EQ(OutputFolderProblem(dir + "/x.qvf", EACCES, &hr), "The output folder " + dir + " is read-only");
  EXPECT_EQ(hr, E_ACCESSDENIED);

  OutputFileSequence fine(dir + "/[QVF]-clip.qvf");
  fine.PrepareName();
  EXPECT_EQ(fine.CreateError(), 0);
}

// The names a conversion into an output may write: a batch must never be saved there.
TEST(OutputFileNames, MayBecomeOutputOf_TheNameItsFreeNamesAndItsParts) {
  const std::string dir = tavtest::MakeTempSubdir("family");
  const std::string out = dir + "/[QVF]-clip.qvf";
  EXPECT_TRUE(MayBecomeOutputOf(out, out));
  EXPECT_TRUE(MayBecomeOutputOf(out, dir + "/[QVF]-clip[3].qvf"));
  EXPECT_TRUE(MayBecomeOutputOf(out, dir + "/[QVF]-clip0002.qvf"));
  EXPECT_TRUE(MayBecomeOutputOf(out, dir + "/[QVF]-clip[1]0001.qvf"));
  EXPECT_TRUE(MayBecomeOutputOf(out, dir + "/./[QVF]-clip.qvf"));
  EXPECT_TRUE(MayBecomeOutputOf(dir + "/[QVF]-clip[2].qvf", out));
  EXPECT_FALSE(MayBecomeOutputOf(out, dir + "/[QVF]-clip.tvc"));
  EXPECT_FALSE(MayBecomeOutputOf(out, dir + "/[QVF]-clip2.qvf"));
  EXPECT_FALSE(MayBecomeOutputOf(out, dir + "/[QVF]-other.qvf"));
  EXPECT_FALSE(MayBecomeOutputOf(out, dir + "/sub/[QVF]-clip.qvf"));
}

// What restoring a batch checks before it removes or renames a file at an output name.
TEST(OutputFileNames, Stamp_HoldsForTheSameFileOnly) {
  const std::string dir = tavtest::MakeTempSubdir("stamp");
  const std::string movie = dir + "/[QVF]-clip.qvf";
  EXPECT_FALSE(StampOf(movie).IsSet());
  Write(movie, "");
  const CConvertOrder::OutputStamp created = StampOf(movie);
  ASSERT_TRUE(created.IsSet());
  EXPECT_TRUE(StampHolds(created, movie, false));
  EXPECT_FALSE(StampHolds(CConvertOrder::OutputStamp{}, movie, true)) << "nothing recorded, nothing holds";

  std::ofstream(movie, std::ios::binary | std::ios::app) << "frames";
  EXPECT_TRUE(StampHolds(created, movie, true)) << "a movie being written grows";
  EXPECT_FALSE(StampHolds(created, movie, false)) << "a finished movie does not change";
  const CConvertOrder::OutputStamp finished = StampOf(movie);

  // Another file put under the same name.
  Write(dir + "/other", "someone else's");
  fs::rename(dir + "/other", movie);
  EXPECT_FALSE(StampHolds(finished, movie, false));
  EXPECT_FALSE(StampHolds(created, movie, true));
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
