#include "converter/engine/runprogress.h"

#include <algorithm>

#include "media/contract/sync.h"

namespace tav {
namespace {

constexpr LONGLONG k100nsPerMs = 10000;

LONG Midpoint(LONG low, LONG high) {
  return static_cast<LONG>((static_cast<LONGLONG>(low) + high + 1) / 2);
}

// Keeps a mapped value inside its range (a position before the start point or after the
// end point must not push a progress bar out of its range).
LONG ClampTo(__int128 v, LONG low, LONG high) {
  const LONG lo = std::min(low, high), hi = std::max(low, high);
  if (v < lo) return lo;
  if (v > hi) return hi;
  return static_cast<LONG>(v);
}

}  // namespace

LONGLONG ConvertedBytes(LONGLONG fileSize, REFERENCE_TIME duration, bool trimmed, REFERENCE_TIME start,
                        REFERENCE_TIME end) {
  if (fileSize <= 0) return 0;
  if (!trimmed || duration <= 0 || duration == kUnknownRemaining) return fileSize;
  const REFERENCE_TIME from = std::clamp<REFERENCE_TIME>(start, 0, duration);
  const REFERENCE_TIME to = std::clamp<REFERENCE_TIME>(end, from, duration);
  return static_cast<LONGLONG>(static_cast<__int128>(fileSize) * (to - from) / duration);
}

LONGLONG RefineSizeEstimate(LONGLONG nominal, LONGLONG bytesWritten, REFERENCE_TIME mediaDone,
                            REFERENCE_TIME span, DWORD fileElapsedMs) {
  if (fileElapsedMs < kRefineAfterMs || bytesWritten <= 0 || mediaDone <= 0 || span <= 0 ||
      span == kUnknownRemaining)
    return nominal;
  return static_cast<LONGLONG>(static_cast<__int128>(bytesWritten) * span / mediaDone);
}

LONG MappingPercent(const ProgressMapping& m) {
  const LONGLONG range = static_cast<LONGLONG>(m.high) - m.low;
  if (range == 0) return 50;
  return static_cast<LONG>(((range + 1) / 2 + (static_cast<LONGLONG>(m.result) - m.low) * 100) / range);
}

void EstimateTimes(DWORD now, DWORD start, DWORD sample, LONG percent, LONGLONG* elapsed,
                   LONGLONG* remaining, LONG startPercent) {
  const LONGLONG e = static_cast<LONGLONG>(static_cast<DWORD>(now - start)) * k100nsPerMs;
  // A file that was never sampled estimates from the whole elapsed time.
  const LONGLONG since =
      (e != 0 && sample != 0) ? static_cast<LONGLONG>(static_cast<DWORD>(now - sample)) * k100nsPerMs : 0;
  *elapsed = e;
  const LONGLONG done = static_cast<LONGLONG>(percent) - std::max<LONG>(startPercent, 0);
  if (percent <= 0 || done <= 0) {
    *remaining = kUnknownRemaining;
    return;
  }
  // The time the progress since the start took, scaled to what is left.
  LONGLONG r;
  if (since == 0) {
    r = (100 - static_cast<LONGLONG>(percent)) * e / done;
  } else {
    r = (e - since) * (100 - static_cast<LONGLONG>(percent)) / done - since;
  }
  *remaining = r < 0 ? kUnknownRemaining : r;
}

RunCounters::RunCounters(Clock clock) : clock_(std::move(clock)) {}

DWORD RunCounters::SystemMs() const { return clock_ ? clock_() : GetTickCount(); }

DWORD RunCounters::Now() const {
  const DWORD t = pauseStart_ != 0 ? pauseStart_ : SystemMs();
  return t - pausedTotal_;
}

void RunCounters::SetPaused(bool paused) {
  if (paused) {
    if (pauseStart_ == 0) {
      pauseStart_ = SystemMs();
      // 0 means "running"; a pause at tick 0 is recorded a millisecond later.
      if (pauseStart_ == 0) pauseStart_ = 1;
    }
  } else if (pauseStart_ != 0) {
    pausedTotal_ += SystemMs() - pauseStart_;
    pauseStart_ = 0;
  }
}

void RunCounters::StartRun(LONGLONG totalBytes) {
  InvalidateMappings();
  totalStartPercent_ = 0;
  totalBytes_ = totalBytes;
  bytesDone_ = 0;
  pauseStart_ = 0;
  pausedTotal_ = 0;
  totalStart_ = Now();
  totalSample_ = 0;
}

void RunCounters::StartFile() { StartFileAt(Now()); }

void RunCounters::StartFileAt(DWORD start) {
  fileStartPercent_ = 0;
  fileStart_ = start;
  fileSample_ = 0;
}

LONG RunCounters::MapFileProgress(LONG low, LONG high, const FilePosition& pos) {
  LONG result;
  if (pos.trimmed) {
    const LONGLONG span = pos.end - pos.start;
    if (span == 0) {
      result = Midpoint(low, high);
    } else {
      const __int128 v = low + (static_cast<__int128>(static_cast<LONGLONG>(high) - low) * (pos.position - pos.start) +
                                (span + 1) / 2) / span;
      result = ClampTo(v, low, high);
    }
  } else {
    // A source that runs past the duration it announced (an elementary stream whose length
    // was guessed from its bit rate) would put the slider far beyond its range.
    result = pos.sliderPos ? ClampTo(pos.sliderPos(low, high), low, high) : low;
  }
  fileProgress_ = {true, result, low, high};
  return result;
}

LONG RunCounters::MapTotalProgress(LONG low, LONG high, const FilePosition& pos, LONGLONG currentFileBytes) {
  if (!fileProgress_.valid) MapFileProgress(0, 100, pos);
  return MapTotalProgressOf(low, high, currentFileBytes * MappingPercent(fileProgress_) / 100);
}

LONG RunCounters::MapTotalProgressOf(LONG low, LONG high, LONGLONG runningBytesDone) {
  LONG result;
  if (totalBytes_ == 0) {
    result = Midpoint(low, high);
  } else {
    const __int128 done = static_cast<__int128>(bytesDone_) + runningBytesDone;
    const __int128 v = low + (done * (static_cast<LONGLONG>(high) - low) + (totalBytes_ + 1) / 2) / totalBytes_;
    result = ClampTo(v, low, high);
  }
  totalProgress_ = {true, result, low, high};
  return result;
}

void RunCounters::FileResumedAt(const FilePosition& pos, LONGLONG currentFileBytes) {
  fileStartPercent_ = MappingPercent({true, MapFileProgress(0, 100, pos), 0, 100});
  if (totalBytes_ > 0)
    totalStartPercent_ += LONG(currentFileBytes * fileStartPercent_ / totalBytes_);
  InvalidateMappings();
}

void RunCounters::GetFileTimes(const FilePosition& pos, LONGLONG* elapsed, LONGLONG* remaining) {
  if (!fileProgress_.valid) MapFileProgress(0, 100, pos);
  EstimateTimes(Now(), fileStart_, fileSample_, MappingPercent(fileProgress_), elapsed, remaining,
                fileStartPercent_);
}

void RunCounters::GetTotalTimes(const FilePosition& pos, LONGLONG currentFileBytes, LONGLONG* elapsed,
                                LONGLONG* remaining) {
  if (!totalProgress_.valid) MapTotalProgress(0, 100, pos, currentFileBytes);
  EstimateTimes(Now(), totalStart_, totalSample_, MappingPercent(totalProgress_), elapsed, remaining,
                totalStartPercent_);
}

}  // namespace tav
