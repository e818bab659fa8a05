// The run clock with pauses, the progress mappings and the time estimates, on a fake clock.
#include <gtest/gtest.h>

#include "converter/engine/runprogress.h"

namespace tav {
namespace {

constexpr LONGLONG kMs = 10000;  // 100 ns units per millisecond
constexpr REFERENCE_TIME kSec = 10000000;

struct FakeClock {
  DWORD ms = 5000;
  RunCounters::Clock Fn() { return [this] { return ms; }; }
};

TEST(RunClock, PausesDoNotCountAsElapsed) {
  FakeClock clock;
  RunCounters run(clock.Fn());
  run.StartRun(1000);
  run.StartFile();
  clock.ms += 10000;
  run.SetPaused(true);
  EXPECT_TRUE(run.IsPaused());
  clock.ms += 60000;  // a minute of pause
  const DWORD duringPause = run.Now();
  run.SetPaused(false);
  EXPECT_FALSE(run.IsPaused());
  EXPECT_EQ(run.Now(), duringPause);
  clock.ms += 5000;

  FilePosition pos;
  pos.trimmed = true;
  pos.start = 0;
  pos.end = 100 * kSec;
  pos.position = 50 * kSec;
  LONGLONG elapsed = 0, remaining = 0;
  run.GetFileTimes(pos, &elapsed, &remaining);
  EXPECT_EQ(elapsed, 15000 * kMs);
  EXPECT_EQ(remaining, 15000 * kMs);  // half done in 15 s: 15 s to go
  run.GetTotalTimes(pos, 1000, &elapsed, &remaining);
  EXPECT_EQ(elapsed, 15000 * kMs);

  // A second pause request while paused keeps the first pause's start.
  run.SetPaused(true);
  clock.ms += 1000;
  run.SetPaused(true);
  clock.ms += 1000;
  run.SetPaused(false);
  run.GetFileTimes(pos, &elapsed, &remaining);
  EXPECT_EQ(elapsed, 15000 * kMs);
}

TEST(RunProgress, FileMappingMeasuresFromTheStartPoint) {
  RunCounters run([] { return DWORD(1); });
  FilePosition pos;
  pos.trimmed = true;
  pos.start = 10 * kSec;
  pos.end = 20 * kSec;
  pos.position = 15 * kSec;  // resumed at 15 s: half of the trimmed range is done
  EXPECT_EQ(run.MapFileProgress(0, 100, pos), 50);
  EXPECT_EQ(run.MapFileProgress(0, 1000, pos), 500);
  pos.position = 10 * kSec + kSec / 3;
  EXPECT_EQ(run.MapFileProgress(0, 100, pos), 3);
  pos.position = 25 * kSec;  // past the end point
  EXPECT_EQ(run.MapFileProgress(0, 100, pos), 100);
  pos.end = pos.start;       // an empty range
  EXPECT_EQ(run.MapFileProgress(0, 100, pos), 50);
  EXPECT_EQ(run.MapFileProgress(0, 7, pos), 4);

  FilePosition whole;
  whole.sliderPos = [](LONG low, LONG high) { return low + (high - low) / 4; };
  EXPECT_EQ(run.MapFileProgress(0, 100, whole), 25);
  EXPECT_TRUE(run.FileProgress().valid);
  EXPECT_EQ(run.FileProgress().high, 100);
  // A movie running far past its announced duration stays within the range, and so do the
  // total and its remaining time.
  whole.sliderPos = [](LONG low, LONG high) { return low + (high - low) * 295; };
  EXPECT_EQ(run.MapFileProgress(0, 100, whole), 100);
  run.StartRun(2000);
  run.FileDone(500);
  EXPECT_EQ(run.MapTotalProgress(0, 100, whole, 500), 50);
}

TEST(RunProgress, TotalMappingWeighsFilesBySize) {
  RunCounters run([] { return DWORD(1); });
  run.StartRun(1000);
  run.FileDone(400);
  FilePosition pos;
  pos.trimmed = true;
  pos.start = 0;
  pos.end = 10 * kSec;
  pos.position = 5 * kSec;
  // The file mapping is made first (0..100) when it is not valid.
  EXPECT_EQ(run.MapTotalProgress(0, 100, pos, 600), 70);
  EXPECT_EQ(run.FileProgress().result, 50);
  // A mapping made to another range counts in percent.
  run.MapFileProgress(0, 1000, pos);
  EXPECT_EQ(run.MapTotalProgress(0, 10000, pos, 600), 7000);

  run.InvalidateMappings();
  EXPECT_FALSE(run.FileProgress().valid);
  EXPECT_FALSE(run.TotalProgress().valid);

  RunCounters empty([] { return DWORD(1); });
  empty.StartRun(0);
  EXPECT_EQ(empty.MapTotalProgress(0, 100, pos, 0), 50);
  // Multi-gigabyte batches do not overflow.
  RunCounters big([] { return DWORD(1); });
  big.StartRun(400LL << 30);
  big.FileDone(100LL << 30);
  EXPECT_EQ(big.MapTotalProgress(0, 0x7FFFFFFF, pos, 200LL << 30), 0x40000000);  // half, rounded
}

// Two equal sources each trimmed to their first tenth: when the second starts, half of the
// work is done, not the share of the first source's whole size.
TEST(RunProgress, TrimmedEntriesWeighOnlyWhatTheyConvert) {
  const LONGLONG size = 100000000;
  const REFERENCE_TIME duration = 600 * kSec;
  const LONGLONG share = ConvertedBytes(size, duration, true, 0, 60 * kSec);
  EXPECT_EQ(share, size / 10);
  EXPECT_EQ(ConvertedBytes(size, duration, false, 0, 0), size);
  EXPECT_EQ(ConvertedBytes(size, kUnknownRemaining, true, 0, 60 * kSec), size) << "unknown length: the whole file";
  EXPECT_EQ(ConvertedBytes(size, duration, true, 590 * kSec, 700 * kSec), size / 60) << "clipped at the end";

  FakeClock clock;
  RunCounters run(clock.Fn());
  run.StartRun(2 * share);
  run.FileDone(share);
  FilePosition second;
  second.trimmed = true;
  second.start = 0;
  second.end = 60 * kSec;
  second.position = 0;
  run.InvalidateMappings();
  EXPECT_EQ(run.MapTotalProgress(0, 100, second, share), 50);
}

// The nominal size stands until a file has run a few seconds; then the bytes written so far,
// against the media time they cover, tell the size of the whole span.
TEST(RunProgress, EstimatedSizeFollowsTheBytesWritten) {
  const LONGLONG nominal = 1600000;
  EXPECT_EQ(RefineSizeEstimate(nominal, 500000, 5 * kSec, 50 * kSec, 1000), nominal) << "too early";
  EXPECT_EQ(RefineSizeEstimate(nominal, 0, 0, 50 * kSec, 5000), nominal) << "nothing done yet";
  EXPECT_EQ(RefineSizeEstimate(nominal, 440000, 5 * kSec, 50 * kSec, 5000), 4400000);
  EXPECT_EQ(RefineSizeEstimate(nominal, 440000, 5 * kSec, 0, 5000), nominal) << "unknown span";
}

TEST(RunProgress, TimeEstimates) {
  LONGLONG elapsed, remaining;
  // 25 % in 10 s, never sampled: 30 s to go.
  EstimateTimes(11000, 1000, 0, 25, &elapsed, &remaining);
  EXPECT_EQ(elapsed, 10000 * kMs);
  EXPECT_EQ(remaining, 30000 * kMs);
  // Sampled 2 s ago when the elapsed time was 8 s: 8 s for 25 % -> 32 s in all, 22 s left.
  EstimateTimes(11000, 1000, 9000, 25, &elapsed, &remaining);
  EXPECT_EQ(remaining, 22000 * kMs);
  // Nothing done yet: unknown.
  EstimateTimes(11000, 1000, 0, 0, &elapsed, &remaining);
  EXPECT_EQ(remaining, kUnknownRemaining);
  // An estimate that would be negative is unknown.
  EstimateTimes(11000, 1000, 1500, 100, &elapsed, &remaining);
  EXPECT_EQ(remaining, kUnknownRemaining);
  // Zero elapsed at the very start.
  EstimateTimes(1000, 1000, 1000, 10, &elapsed, &remaining);
  EXPECT_EQ(elapsed, 0);
  EXPECT_EQ(remaining, 0);
  // The millisecond counter wraps between start and now.
  EstimateTimes(999, 0xFFFFFFFF - 999, 0, 50, &elapsed, &remaining);
  EXPECT_EQ(elapsed, 1999 * kMs);

  ProgressMapping m{true, 30, 0, 100};
  EXPECT_EQ(MappingPercent(m), 30);
  m = {true, 300, 0, 1000};
  EXPECT_EQ(MappingPercent(m), 30);
  m = {true, 5, 5, 5};
  EXPECT_EQ(MappingPercent(m), 50);
}

}  // namespace
}  // namespace tav

namespace tav {
namespace {

// A movie resumed at 60 % is not nearly done after a second: what is left is timed by the
// progress made since the resume, for the file and for the run.
TEST(RunProgress, ResumedMovie_RemainingTimeCountsOnlyTheProgressSinceTheResume) {
  LONGLONG elapsed = 0, remaining = 0;
  EstimateTimes(11000, 1000, 0, 70, &elapsed, &remaining, 60);  // 10 % in 10 s, 30 % left
  EXPECT_EQ(remaining, 30000 * kMs);
  EstimateTimes(11000, 1000, 9000, 70, &elapsed, &remaining, 60);  // 10 % in 8 s, 2 s ago
  EXPECT_EQ(remaining, 22000 * kMs);
  EstimateTimes(11000, 1000, 0, 60, &elapsed, &remaining, 60);
  EXPECT_EQ(remaining, kUnknownRemaining) << "nothing done since the resume";

  FakeClock clock;
  RunCounters run(clock.Fn());
  run.StartRun(1000);
  run.StartFile();
  FilePosition pos;
  pos.trimmed = true;
  pos.start = 0;
  pos.end = 100 * kSec;
  pos.position = 60 * kSec;  // where the interruption left it
  run.FileResumedAt(pos, 1000);
  clock.ms += 4000;
  pos.position = 70 * kSec;
  run.MapFileProgress(0, 100, pos);
  run.MapTotalProgress(0, 100, pos, 1000);
  run.GetFileTimes(pos, &elapsed, &remaining);
  EXPECT_EQ(remaining, 12000 * kMs);  // 10 % in 4 s: 12 s for the 30 % left
  run.GetTotalTimes(pos, 1000, &elapsed, &remaining);
  EXPECT_EQ(remaining, 12000 * kMs);
}

}  // namespace
}  // namespace tav
