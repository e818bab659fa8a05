// The counters of a conversion run: the run clock with its pause accounting, the mapping
// of the current file's and the whole run's progress onto a range, and the elapsed and
// remaining time estimates the form shows. Times are milliseconds of the run clock (pause
// time excluded); the estimates come out in 100 ns units.
#pragma once

#include <functional>

#include "media/contract/wintypes.h"

namespace tav {

// Remaining time when it cannot be estimated.
inline constexpr LONGLONG kUnknownRemaining = 0x7FFFFFFFFFFFFFFFLL;

// One progress mapping: the last result and the range it was mapped to.
struct ProgressMapping {
  bool valid = false;
  LONG result = 0;
  LONG low = 0;
  LONG high = 0;
};

// Percent (0..100) of a mapping; 50 for an empty range.
LONG MappingPercent(const ProgressMapping& m);

// Elapsed and remaining time (100 ns) from the start time, the time of the last sample
// (0 = never sampled) and the percent done, all at run-clock time now. startPercent is what
// was done before the clock started (a movie resumed where it was interrupted): the rate
// comes from the progress made since.
void EstimateTimes(DWORD now, DWORD start, DWORD sample, LONG percent, LONGLONG* elapsed,
                   LONGLONG* remaining, LONG startPercent = 0);

// The bytes of a source an entry converts, which weigh it in the total progress: its whole
// size, or with valid trim points and a known duration the share they cover.
LONGLONG ConvertedBytes(LONGLONG fileSize, REFERENCE_TIME duration, bool trimmed, REFERENCE_TIME start,
                        REFERENCE_TIME end);

// The expected size of a running entry's output: nominal (from the bit rate) until the file
// has run kRefineAfterMs of run time with some media time done; from then on the bytes
// written so far scaled from the media time done to the whole span.
inline constexpr DWORD kRefineAfterMs = 3000;
LONGLONG RefineSizeEstimate(LONGLONG nominal, LONGLONG bytesWritten, REFERENCE_TIME mediaDone,
                            REFERENCE_TIME span, DWORD fileElapsedMs);

// Where the current file is, for MapFileProgress.
struct FilePosition {
  bool trimmed = false;       // start/end are valid trim points
  REFERENCE_TIME start = 0;
  REFERENCE_TIME end = 0;
  REFERENCE_TIME position = 0;
  // Without trim points: the player's slider position mapped to (low, high).
  std::function<LONG(LONG, LONG)> sliderPos;
};

class RunCounters {
 public:
  using Clock = std::function<DWORD()>;  // system millisecond time
  explicit RunCounters(Clock clock = nullptr);

  // ---- clock and pause ----
  // pauseStart while paused, else the system time; pause time excluded in both cases.
  DWORD Now() const;
  void SetPaused(bool paused);
  bool IsPaused() const { return pauseStart_ != 0; }

  // ---- run and file life cycle ----
  void StartRun(LONGLONG totalBytes);
  void StartFile();
  // The file shown as current started at run-clock time start (simultaneous entries: the
  // first of those running, which began before it became the one shown).
  void StartFileAt(DWORD start);
  // Run-clock milliseconds since the current file started.
  DWORD FileElapsedMs() const { return Now() - fileStart_; }
  void FileDone(LONGLONG fileBytes) { bytesDone_ += fileBytes; }
  // The file just started goes on where an earlier run left it (pos): that much was not done
  // by this run's clock, and does not speed up its estimates.
  void FileResumedAt(const FilePosition& pos, LONGLONG currentFileBytes);
  void InvalidateMappings() { fileProgress_.valid = false; totalProgress_.valid = false; }

  // ---- progress ----
  LONG MapFileProgress(LONG low, LONG high, const FilePosition& pos);
  // currentFileBytes: the size of the file being converted.
  LONG MapTotalProgress(LONG low, LONG high, const FilePosition& pos, LONGLONG currentFileBytes);
  // With several files converting at once: runningBytesDone is what of them is done (each
  // file's bytes times its progress).
  LONG MapTotalProgressOf(LONG low, LONG high, LONGLONG runningBytesDone);

  // ---- time estimates ----
  void SampleFileTime() { fileSample_ = Now(); }
  void SampleTotalTime() { totalSample_ = Now(); }
  void GetFileTimes(const FilePosition& pos, LONGLONG* elapsed, LONGLONG* remaining);
  void GetTotalTimes(const FilePosition& pos, LONGLONG currentFileBytes, LONGLONG* elapsed,
                     LONGLONG* remaining);

  const ProgressMapping& FileProgress() const { return fileProgress_; }
  const ProgressMapping& TotalProgress() const { return totalProgress_; }
  LONGLONG TotalBytes() const { return totalBytes_; }
  LONGLONG BytesDone() const { return bytesDone_; }

 private:
  DWORD SystemMs() const;

  Clock clock_;  // configuration: where the millisecond time comes from

  // Progress of the current file and of the run, as last mapped.
  ProgressMapping fileProgress_;
  ProgressMapping totalProgress_;
  // Bytes: the source sizes of the run's checked entries, and of those already finished.
  LONGLONG totalBytes_ = 0;
  LONGLONG bytesDone_ = 0;
  // Run-clock milliseconds.
  DWORD fileStart_ = 0, fileSample_ = 0, totalStart_ = 0, totalSample_ = 0;
  // What was done before the clock started, in percent: of the file, when it was resumed
  // where it had been interrupted; of the run, the sum of those resumed parts.
  LONG fileStartPercent_ = 0, totalStartPercent_ = 0;
  // System milliseconds at the pause, 0 while running; the sum of finished pauses.
  DWORD pauseStart_ = 0, pausedTotal_ = 0;
};

}  // namespace tav
