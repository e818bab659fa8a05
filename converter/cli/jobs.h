// Simultaneous conversions (tavrion-convert --jobs N): up to N checked entries of the batch
// convert at once, each by a worker: this program again, converting a batch of that one
// entry. A worker is a process of its own because the movie library writes one movie per
// process; each has its own graph, and everything an entry meets in it (its output names,
// reserved on the disk as with one at a time, a full disk, a split, a failure) is an
// ordinary conversion run.
//
// The batch stays here: every state a worker reports goes into its entry at once, so the
// views see it as with one run, the recovery copy of the batch follows the running entries,
// and an entry the program was killed in is restored and resumed like any other. Workers
// run in process groups of their own: Ctrl-C and SIGTERM reach this program, which passes a
// single "Break" on to each running worker; the workers die with this program.
//
// States of the whole:
//   idle        Start             converting (workers started in batch order)
//   converting  a worker ended    converting (the next entry) or idle (none left)
//   converting  Stop ("Break")    stopping: no new entry; the running ones interrupted
//   stopping    the last ended    idle
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "converter/cli/cli.h"
#include "converter/engine/document.h"

namespace tav {
class ConversionRun;
}

namespace tav::cli {

// Workers for --jobs: requested (0 for one a core), never more than the checked entries,
// at least 1.
int LanesFor(int requested, int checkedEntries, int cores);

class SimultaneousRun {
 public:
  // batch: the document whose checked entries are converted; options: the command line
  // (what a worker takes over from it). lanes >= 1.
  SimultaneousRun(CTavrionConverterDoc& batch, const Options& options, int lanes);
  ~SimultaneousRun();
  SimultaneousRun(const SimultaneousRun&) = delete;
  SimultaneousRun& operator=(const SimultaneousRun&) = delete;

  // Resets every entry's state (and, unless resumeInterrupted, where it was interrupted),
  // as a run does, and starts the first workers.
  void Start(bool resumeInterrupted);
  // Reads what the workers reported, collects the ones that ended and starts the next
  // entries. Waits at most timeoutMs for a report or wakeFd (the interrupt pipe; -1 for
  // none) to become readable.
  void Poll(int timeoutMs, int wakeFd);
  // "Break": each running entry is interrupted where its movie ends; nothing new starts.
  void Stop();
  bool IsConverting() const;

  // "a.mp4 45% | b.mp4 12% | 1-2 of 6: 38% 00:25/00:41 | ~1234 KB"
  std::string ProgressLine() const;
  // Output files written for an entry during this run (parts in order).
  std::vector<std::string> OutputsOf(const CConvertOrder* entry) const;
  // The status text the worker gave the entry (it knows the failed stream's codec, for
  // one); the entry's own text when the worker gave none.
  std::string StatusOf(const CConvertOrder* entry) const;

 private:
  struct Worker;
  void Launch(Worker& w, CConvertOrder* entry);
  void ReadReports(Worker& w);
  void Report(Worker& w, const std::string& line);
  void Reap(Worker& w, int status);

  CTavrionConverterDoc& batch_;
  const Options options_;
  const int laneCount_;
  std::string program_;  // this program, for the workers

  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<CConvertOrder*> queue_;  // checked entries not started yet, in batch order
  size_t next_ = 0;
  bool resume_ = false;
  bool stopping_ = false;
  // Figures
  unsigned long startTicks_ = 0;
  int entryCount_ = 0;
  int finishedCount_ = 0;
  long long totalBytes_ = 0, finishedBytes_ = 0;  // sources' bytes, for the total progress
  // Statistics: what each entry produced, for the report.
  std::map<const CConvertOrder*, std::vector<std::string>> outputs_;
  std::map<const CConvertOrder*, std::string> statuses_;
};

// The worker's side: tells the running program about the one entry it converts, a line at a
// time on a pipe ("state", "output", "status" when the entry's state changes, "progress"
// while it converts).
class WorkerReporter final : public DocumentObserver {
 public:
  WorkerReporter(int fd, const ConversionRun& run) : fd_(fd), run_(run) {}
  void OnDocumentUpdate(int hint, CConvertOrder* entry, const std::string* path) override;
  void Progress(long percent, long long estimateBytes);
  // The entry's outputs as the run left them (its last part is named only when the run ends).
  void Outputs(const CConvertOrder* entry);

 private:
  void Write(const std::string& line);
  int fd_;
  const ConversionRun& run_;
};

}  // namespace tav::cli
