// Simultaneous conversions: up to N checked entries of the batch convert at once, each by a
// worker: the command-line converter started as "tavrion-convert --worker FD", which converts
// the entries it is handed one after the other, each as a batch of that one entry. A worker is
// a process of its own because the movie library writes one movie per process; it keeps its
// libraries, graph builder and memory from entry to entry, and everything an entry meets in
// it (its output names, reserved on the disk as with one at a time, a full disk, a split, a
// failure) is an ordinary conversion run. A program that runs one thread may fork its
// workers before the run instead (ForkWorker, AdoptWorkers): they start with its libraries
// loaded and relocated, which costs a worker started from its command line a tenth of a
// second of the processor.
//
// The batch stays with the program that runs this: every state a worker reports goes into
// its entry at once, so the views see it as with one run, the recovery copy of the batch
// follows the running entries, and an entry the program was killed in is restored and
// resumed like any other. Workers run in process groups of their own: Ctrl-C and SIGTERM
// reach the running program, which passes a single "Break" on to each running worker; the
// workers die with the running program.
//
// States of the whole:
//   idle        Start               converting (entries handed out in batch order)
//   converting  an entry is done    converting (that worker takes the next entry, or ends
//                                   when none is left) or idle (the last worker ended)
//   converting  a worker died       converting (its entry failed; a new worker for the next)
//   converting  SetPaused(true)     paused: every worker stopped where it is (SIGSTOP)
//   paused      SetPaused(false)    converting
//   converting, Stop ("Break")      stopping: no new entry; the running ones interrupted
//   paused
//   stopping    the last ended      idle
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "converter/engine/document.h"

namespace tav {

// The descriptor on which a worker writes its reports: the worker's command line names it
// ("--worker 3").
inline constexpr int kWorkerReportFd = 3;

// The cores a worker sizes its codecs' threads by when `lanes` workers convert at once on a
// machine with `cores`: its share, cores / lanes rounded down and at least one, so that the
// decoders of all the workers together start about one thread a core instead of one a core
// each (a 1080p H.264 decoder alone already keeps two cores busy). A worker is told its share
// on its command line ("--worker-cores 1"); a run one at a time never is, and keeps the
// whole machine.
int WorkerCores(int cores, int lanes);
// The cores this process may run on (its affinity), as FFmpeg counts them.
int AvailableCores();

// A worker started ahead of the run by forking the program (ForkWorker), so that it costs
// no second loading of the media libraries: its process, the read end of its report pipe and
// the write end of its standard input.
struct StartedWorker {
  pid_t pid = -1;
  int reports = -1;
  int commands = -1;
};

// Forks this process into a worker: the child, in a process group of its own that dies with
// this program, takes its commands on its standard input (its standard output goes to
// /dev/null) and exits with what body(report descriptor) returns. closeInChild: descriptors
// the child must not keep, such as the other workers' ends of their pipes (a worker that held
// another's standard input open would keep it from ever seeing its end). A body that runs
// the worker in the child needs a process that runs one thread (the child has no copy of
// the others); one that starts the worker's program at once (execv) may be forked from
// any. pid -1 when it fails.
StartedWorker ForkWorker(const std::function<int(int reportFd)>& body, const std::vector<int>& closeInChild);
// Ends workers that were never given an entry: their input closes and they are reaped.
void DiscardWorkers(std::vector<StartedWorker>& workers);

class SimultaneousRun {
 public:
  // batch: the document whose checked entries are converted; workerCommand: the worker's
  // program and arguments (its reports come on kWorkerReportFd, its commands on its standard
  // input; with more than one lane "--worker-cores K" is added, K = WorkerCores(cores,
  // lanes)). lanes >= 1.
  SimultaneousRun(CTavrionConverterDoc& batch, std::vector<std::string> workerCommand, int lanes);
  ~SimultaneousRun();
  SimultaneousRun(const SimultaneousRun&) = delete;
  SimultaneousRun& operator=(const SimultaneousRun&) = delete;

  // Workers forked ahead of the run (ForkWorker), taken before any is started by the worker
  // command; those the lanes do not need are discarded at Start. Call before Start.
  void AdoptWorkers(std::vector<StartedWorker> workers) { spares_ = std::move(workers); }

  // Resets every entry's state (and, unless resumeInterrupted, where it was interrupted),
  // as a run does, and starts the first workers.
  void Start(bool resumeInterrupted);
  // Reads what the workers reported, collects the ones that ended and starts the next
  // entries. Waits at most timeoutMs for a report or wakeFd (the interrupt pipe; -1 for
  // none) to become readable.
  void Poll(int timeoutMs, int wakeFd);
  // "Break": each running entry is interrupted where its movie ends; nothing new starts.
  void Stop();
  // The last resort when a Break is not answered: every worker is killed; its entry fails.
  void Kill();
  bool IsConverting() const;

  // Pause stops every worker where it is (its graph, its encoder); nothing is lost, and
  // the movies stay open. Resume lets them go on.
  void SetPaused(bool paused);
  bool IsPaused() const { return paused_; }

  // What a watcher waits on: one descriptor per running worker, readable when it reported
  // something or ended. The set changes as workers come and go.
  std::vector<int> WatchFds() const;
  // The entries being converted now, in batch order.
  std::vector<CConvertOrder*> RunningEntries() const;
  // How far a running entry is, 0..100 as its worker last said; -1 when it is not running.
  int EntryPercent(const CConvertOrder* entry) const;
  // The output size its worker expects for a running entry (0 when unknown).
  long long EntryEstimate(const CConvertOrder* entry) const;
  int FinishedCount() const { return finishedCount_; }
  int EntryCount() const { return entryCount_; }
  // The sources' bytes of the run's entries, and what of them is done: those finished and,
  // of those running, their share.
  long long TotalBytes() const { return totalBytes_; }
  long long DoneBytes() const;

  // "a.mp4 45% | b.mp4 12% | 1-2 of 6: 38% 00:25/00:41 | ~1234 KB"
  std::string ProgressLine() const;
  // Output files written for an entry during this run (parts in order).
  std::vector<std::string> OutputsOf(const CConvertOrder* entry) const;
  const std::map<const CConvertOrder*, std::vector<std::string>>& Outputs() const { return outputs_; }
  // The status text the worker gave the entry (it knows the failed stream's codec, for
  // one); the entry's own text when the worker gave none.
  std::string StatusOf(const CConvertOrder* entry) const;

 private:
  struct Worker;
  // Gives the lane a worker process: one forked ahead of the run when one is left, else a new
  // one from the worker command; false when none can be started.
  bool Launch(Worker& w);
  // Hands the lane's worker the next entry (starting the worker when it has none), or ends
  // the worker when nothing is left.
  void GiveNext(Worker& w);
  void ReadReports(Worker& w);
  void Report(Worker& w, const std::string& line);
  // The lane's entry is finished with; failure is its reason when no end was reported.
  void Finish(Worker& w, const std::string& failure);
  void Reap(Worker& w, int status);
  const Worker* WorkerOf(const CConvertOrder* entry) const;

  CTavrionConverterDoc& batch_;
  const std::vector<std::string> command_;  // the worker's program and arguments
  const int laneCount_;
  const int workerCores_;  // each worker's share of the cores; 0: not limited (one lane)

  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<StartedWorker> spares_;  // forked ahead of the run, not given a lane yet
  std::vector<CConvertOrder*> queue_;  // checked entries not started yet, in batch order
  size_t next_ = 0;
  bool resume_ = false;
  bool stopping_ = false;
  bool paused_ = false;  // every worker is stopped (SIGSTOP)
  // Figures
  unsigned long startTicks_ = 0;
  int entryCount_ = 0;
  int finishedCount_ = 0;
  long long totalBytes_ = 0, finishedBytes_ = 0;  // sources' bytes, for the total progress
  // Statistics: what each entry produced, for the report.
  std::map<const CConvertOrder*, std::vector<std::string>> outputs_;
  std::map<const CConvertOrder*, std::string> statuses_;
};

}  // namespace tav
