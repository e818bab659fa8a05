// A batch that survives the converter being killed, and an interrupted movie that goes on
// into its next part: real conversions through tavrion-convert.
//
// The movies are 160 x 120 and a few tens of seconds long: what is proven (where the run
// was cut, which parts exist, that they meet frame to frame) does not depend on the length,
// and a short small movie keeps the suite fast. The converter is frozen (SIGSTOP) at the
// moment its output reaches the point wanted, so that a fast machine cannot run past it
// before the signal lands.
//
// The frame-number movies carry their number as eight black or white blocks along the
// bottom (bit i in the block at x = 20 i of the source, 40 i of the 320 x 240 output).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "converter/engine/document.h"
#include "converter/engine/recovery.h"
#include "tests/e2e/clirun.h"
#include "tests/e2e/moviefacts.h"
#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;
using namespace clitest;
using tav::CConvertOrder;

// The recovery folder, rid of the copies earlier runs left: what a restore finds there is the
// test's own.
std::string RecoveryFolderWithoutCopies() {
  const std::string folder = tav::DefaultRecoveryFolder();
  for (const std::string& left : tav::FindOrphanedCopies(folder)) tav::DiscardOrphanedCopy(left);
  return folder;
}

// Waits until the file being written reaches bytes, then freezes the converter there.
bool FreezeWhenWritten(Background& run, const std::string& file, uintmax_t bytes) {
  const bool reached =
      tavtest::WaitFor([&] { return SizeOr0(file) >= bytes || !run.Running(); }, std::chrono::seconds(60));
  if (reached && run.Running()) run.Signal(SIGSTOP);
  return reached && SizeOr0(file) >= bytes;
}

// Converts movie in the background into output and breaks the run off (Ctrl-C) once output
// holds bytes; said receives what the program printed.
void BreakWhenWritten(const std::string& dir, const std::string& movie, const std::string& output, uintmax_t bytes,
                      std::string* said) {
  Background run("--quiet " + Quote(movie), dir + "/out.txt");
  ASSERT_TRUE(FreezeWhenWritten(run, output, bytes)) << run.Output();
  run.Signal(SIGINT);
  run.Signal(SIGCONT);
  EXPECT_EQ(run.Wait(20000), 1) << run.Output();
  *said = run.Output();
}

// ---- kill -9 --------------------------------------------------------------------------------

TEST(CliRecover, KilledMidRun_TheCopyHoldsTheBatch_AndRestoreConvertsWhatWasLeft) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("recover-kill");
  const std::string a = CounterMovie(dir, "a", 2), b = CounterMovie(dir, "b", 30), c = CounterMovie(dir, "c", 2);
  const std::string folder = RecoveryFolderWithoutCopies();

  Background run(
      "--quiet --size 640x480 --fps 15 --split 64M --language ko-kr " + Quote(a) + " " + Quote(b) + " " + Quote(c),
      dir + "/out.txt");
  // b's movie grows by some 70 KB a second of movie: about a third of it written.
  ASSERT_TRUE(FreezeWhenWritten(run, dir + "/[QVF]-b.qvf", 600000)) << run.Output();
  run.Signal(SIGKILL);
  ASSERT_EQ(run.Wait(20000), 128 + SIGKILL);

  const std::vector<std::string> copies = tav::FindOrphanedCopies(folder);
  ASSERT_EQ(copies.size(), 1u) << "the killed run left no recovery copy";
  std::string error;
  const auto batch = tav::ReadOrphanedCopy(copies.front(), &error);
  ASSERT_TRUE(batch.has_value()) << error;
  ASSERT_EQ(batch->states.size(), 3u);
  EXPECT_EQ(batch->states[0].state, CConvertOrder::kConverted);
  EXPECT_EQ(batch->states[1].state, CConvertOrder::kConverting);
  EXPECT_EQ(batch->states[2].state, CConvertOrder::kReady);
  {
    // Loaded as the next start loads it. (Loading removes b's unfinished movie.)
    tav::CTavrionConverterDoc doc;
    tav::LoadRecoveredBatch(doc, *batch);
    ASSERT_EQ(doc.GetCount(), 3u);
    const char* titles[] = {"a", "b", "c"};
    for (size_t i = 0; i < 3; ++i) {
      SCOPED_TRACE(titles[i]);
      const CConvertOrder* e = doc.GetAt(i);
      EXPECT_EQ(e->SourcePath().Full(), dir + "/" + titles[i] + ".avi");
      EXPECT_EQ(e->GetFrameWidth(), 640);
      EXPECT_EQ(e->GetFrameRate(), 15.0);
      EXPECT_EQ(e->GetStoredSplitSize(), 64ull << 20);
      EXPECT_EQ(e->GetSubtitleLanguage(), "ko-kr");
      EXPECT_EQ(e->IsChecked(), i != 0);
    }
    EXPECT_EQ(doc.GetAt(0)->GetStatusText(), "Converted");
    EXPECT_EQ(doc.GetAt(1)->GetState(), CConvertOrder::kInterrupted);
    EXPECT_EQ(doc.GetAt(2)->GetStatusText(), "Ready");
  }
  EXPECT_FALSE(fs::exists(dir + "/[QVF]-b.qvf")) << "b's unfinished movie, which cannot play, stayed";
  const auto aOutput = fs::last_write_time(dir + "/[QVF]-a.qvf");

  // The next start converts what was left: b from its start (nothing of it was finished),
  // then c; a stays as it was converted.
  int status = 0;
  const std::string out = Convert("--quiet --restore", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find(a + " -> " + dir + "/[QVF]-a.qvf: Converted"), std::string::npos) << out;
  EXPECT_NE(out.find(b + " -> " + dir + "/[QVF]-b.qvf: Converted"), std::string::npos) << out;
  EXPECT_NE(out.find(c + " -> " + dir + "/[QVF]-c.qvf: Converted"), std::string::npos) << out;
  EXPECT_EQ(fs::last_write_time(dir + "/[QVF]-a.qvf"), aOutput) << "a was converted again";
  EXPECT_NEAR(VideoDuration(dir + "/[QVF]-b.qvf"), 30.0, 0.1);
  EXPECT_TRUE(tav::FindOrphanedCopies(folder).empty()) << "the restored copy is still offered";

  // Nothing left to restore now.
  const std::string none = Convert("--restore", &status);
  EXPECT_EQ(status, 1) << none;
  EXPECT_NE(none.find("no unsaved batch"), std::string::npos) << none;
}

TEST(CliRecover, RestoreWithSaveBatch_OnlySavesTheBatch) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("recover-save");
  const std::string folder = RecoveryFolderWithoutCopies();
  const std::string movie = CounterMovie(dir, "s", 2);
  {
    // What a program that died left: one entry at 15 fps.
    tav::CTavrionConverterDoc doc;
    doc.AddOrder(movie)->SetFrameRate(15.0);
    tav::RecoveryKeeper keeper(doc, folder);
    keeper.SaveNow();
    keeper.KeepOnExit(true);
  }
  const std::string saved = dir + "/saved.tvc";
  int status = 0;
  const std::string out = Convert("--restore --save-batch " + Quote(saved), &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_FALSE(fs::exists(dir + "/[QVF]-s.qvf")) << "the batch was converted";
  tav::CTavrionConverterDoc doc;
  std::string error;
  ASSERT_TRUE(doc.OnOpenDocument(saved, &error)) << error;
  ASSERT_EQ(doc.GetCount(), 1u);
  EXPECT_EQ(doc.GetAt(0)->GetFrameRate(), 15.0);
  EXPECT_TRUE(tav::FindOrphanedCopies(folder).empty()) << "the saved batch is still offered";
  EXPECT_TRUE(fs::is_empty(folder)) << "a copy or lock file stayed";
}

// ---- resume -----------------------------------------------------------------------------------

TEST(CliRecover, InterruptedAtAThird_ResumesIntoPartTwo_ThatContinuesPartOneFrameForFrame) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("recover-resume");
  const std::string movie = CounterMovie(dir, "count", 24);
  const std::string folder = RecoveryFolderWithoutCopies();
  const std::string output = dir + "/[QVF]-count.qvf";

  std::string said;
  // About a third: 8 of 24 seconds at some 50 KB a second.
  ASSERT_NO_FATAL_FAILURE(BreakWhenWritten(dir, movie, output, 400000, &said));
  const int at = InterruptedAt(said);
  ASSERT_GT(at, 2) << said;
  ASSERT_LT(at, 20) << said;
  EXPECT_EQ(tav::FindOrphanedCopies(folder).size(), 1u) << "the interrupted run kept no copy to resume from";

  int status = 0;
  const std::string out = Convert("--quiet --restore --resume", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find(Part(dir, "count", 1) + ", " + Part(dir, "count", 2) + ": Converted"), std::string::npos) << out;
  ASSERT_TRUE(fs::exists(Part(dir, "count", 1)));
  ASSERT_TRUE(fs::exists(Part(dir, "count", 2)));
  EXPECT_FALSE(fs::exists(output)) << "a part was left under the unnumbered name";
  EXPECT_FALSE(fs::exists(Part(dir, "count", 3)));

  // Together the parts are the source once: one frame at most lost or repeated at the seam.
  const double frame = 1.0 / 30;
  EXPECT_NEAR(VideoDuration(Part(dir, "count", 1)) + VideoDuration(Part(dir, "count", 2)), VideoDuration(movie),
              frame + 1e-3);
  EXPECT_NEAR(VideoDuration(Part(dir, "count", 1)), at, 1.0) << "part 1 does not end where the entry was interrupted";
  const std::vector<int> first = FrameNumbers(Part(dir, "count", 1));
  const std::vector<int> second = FrameNumbers(Part(dir, "count", 2));
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  // The numbers count modulo 256.
  EXPECT_EQ(first.front(), 0);
  EXPECT_EQ(second.back(), (24 * 30 - 1) % 256);
  EXPECT_NEAR(double(first.size() + second.size()), 24 * 30, 1.0);
  const int last = first.back(), next = second.front();
  EXPECT_LE((next - last + 256) % 256, 2) << "part 2 starts at frame " << next << " after " << last;
}

// The interrupted movie was changed after the run (another program wrote to it, or the
// copy was edited to name another file): resuming must neither rename nor touch it; the
// entry converts anew under a free name.
TEST(CliRecover, InterruptedMovieChangedSince_IsLeftAlone_AndTheEntryConvertsAnew) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("recover-foreign");
  const std::string movie = CounterMovie(dir, "own", 12);
  const std::string folder = RecoveryFolderWithoutCopies();
  const std::string output = dir + "/[QVF]-own.qvf";

  std::string said;
  ASSERT_NO_FATAL_FAILURE(BreakWhenWritten(dir, movie, output, 150000, &said));
  ASSERT_GT(InterruptedAt(said), 0) << said;
  std::ofstream(output, std::ios::binary | std::ios::app) << "written by another program";
  std::ifstream in(output, std::ios::binary);
  const std::string before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  int status = 0;
  const std::string out = Convert("--quiet --restore --resume", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find(movie + " -> " + dir + "/[QVF]-own[1].qvf: Converted"), std::string::npos) << out;
  std::ifstream again(output, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()), before);
  EXPECT_FALSE(fs::exists(Part(dir, "own", 1))) << "the changed movie was taken for a part";
  EXPECT_NEAR(VideoDuration(dir + "/[QVF]-own[1].qvf"), 12.0, 0.1);
}

// A split movie whose program died in its third part: the parts already numbered stay, the
// unfinished one goes, and resuming writes the rest as parts 3, 4, ... from where part 2
// ended.
TEST(CliRecover, KilledInTheThirdPartOfASplit_ResumesFromTheEndOfPartTwo) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("recover-split");
  const std::string movie = CounterMovie(dir, "cut", 24);
  const std::string folder = RecoveryFolderWithoutCopies();
  const std::string batch = dir + "/split.tvc";
  constexpr uint64_t kLimit = 200000;
  {
    tav::CTavrionConverterDoc doc;
    CConvertOrder* e = doc.AddOrder(movie);
    e->SetSourceInfo(240000000, 160, 120, true);
    e->SetSplitSize(kLimit);
    std::string error;
    ASSERT_TRUE(doc.OnSaveDocument(batch, &error)) << error;
  }
  Background run("--quiet " + Quote(batch), dir + "/out.txt");
  const std::string base = dir + "/[QVF]-cut.qvf";
  ASSERT_TRUE(
      tavtest::WaitFor([&] { return fs::exists(Part(dir, "cut", 2)) || !run.Running(); }, std::chrono::seconds(60)));
  ASSERT_TRUE(FreezeWhenWritten(run, base, 60000)) << run.Output();
  ASSERT_FALSE(fs::exists(Part(dir, "cut", 3))) << "too late: the third part was complete";
  run.Signal(SIGKILL);
  ASSERT_EQ(run.Wait(20000), 128 + SIGKILL);

  int status = 0;
  const std::string out = Convert("--quiet --restore --resume", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_FALSE(fs::exists(base)) << "a part was left under the unnumbered name";
  std::vector<std::string> parts;
  while (fs::exists(Part(dir, "cut", int(parts.size()) + 1))) parts.push_back(Part(dir, "cut", int(parts.size()) + 1));
  ASSERT_GE(parts.size(), 3u) << out;

  // Parts 1 and 2 as the killed run left them, then the rest: the source once, one frame
  // at most lost or repeated at each seam.
  std::vector<int> all;
  double total = 0;
  for (const std::string& part : parts) {
    SCOPED_TRACE(part);
    const std::vector<int> numbers = FrameNumbers(part);
    ASSERT_FALSE(numbers.empty());
    if (!all.empty()) {
      EXPECT_LE((numbers.front() - all.back() + 256) % 256, 2)
          << "starts at frame " << numbers.front() << " after " << all.back();
    }
    all.insert(all.end(), numbers.begin(), numbers.end());
    total += VideoDuration(part);
  }
  EXPECT_EQ(all.front(), 0);
  EXPECT_EQ(all.back(), (24 * 30 - 1) % 256);
  EXPECT_NEAR(double(all.size()), 24 * 30, double(parts.size() - 1));
  EXPECT_NEAR(total, VideoDuration(movie), double(parts.size() - 1) / 30 + 1e-3);
}

}  // namespace
