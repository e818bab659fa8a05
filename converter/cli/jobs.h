// Simultaneous conversions (tavrion-convert --jobs N): up to N checked entries of the batch
// convert at once, each by a worker: this program again (RunWorker), which converts the
// entries it is handed one after the other, each as a batch of that one entry. A worker is a
// process of its own because the movie library writes one movie per process; it keeps its
// libraries, graph builder and memory from entry to entry, and everything an entry meets in
// it (its output names, reserved on the disk as with one at a time, a full disk, a split, a
// failure) is an ordinary conversion run.
//
// The batch stays here: every state a worker reports goes into its entry at once, so the
// views see it as with one run, the recovery copy of the batch follows the running entries,
// and an entry the program was killed in is restored and resumed like any other. Workers
// run in process groups of their own: Ctrl-C and SIGTERM reach this program, which passes a
// single "Break" on to each running worker; the workers die with this program.
//
// States of the whole:
//   idle        Start               converting (entries handed out in batch order)
//   converting  an entry is done    converting (that worker takes the next entry, or ends
//                                   when none is left) or idle (the last worker ended)
//   converting  a worker died       converting (its entry failed; a new worker for the next)
//   converting  Stop ("Break")      stopping: no new entry; the running ones interrupted
//   stopping    the last ended      idle
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "converter/cli/cli.h"
#include "converter/engine/document.h"

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
  // Starts a worker process for the lane; false when it cannot be started.
  bool Launch(Worker& w);
  // Hands the lane's worker the next entry (starting the worker when it has none), or ends
  // the worker when nothing is left.
  void GiveNext(Worker& w);
  void ReadReports(Worker& w);
  void Report(Worker& w, const std::string& line);
  // The lane's entry is finished with; failure is its reason when no end was reported.
  void Finish(Worker& w, const std::string& failure);
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

// The worker's program (tavrion-convert --worker FD): converts the batch files named on its
// standard input one after the other ("convert PATH RESUME-AT NEXT-PART" a line; the end of
// the input ends it), telling the running program about each entry on FD. Returns the exit
// status.
int RunWorker(const Options& options);

}  // namespace tav::cli
