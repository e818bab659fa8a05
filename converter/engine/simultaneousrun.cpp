#include "converter/engine/simultaneousrun.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "converter/engine/timetext.h"
#include "media/contract/sync.h"

namespace tav {

namespace {

std::string TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

// A worker's folder is "tavrion-worker-<pid of the running program>-XXXXXX". A program
// killed with its workers leaves theirs; the next one removes those whose program is gone.
constexpr const char* kWorkerFolderPrefix = "tavrion-worker-";

void RemoveFoldersOfGonePrograms() {
  std::error_code ec;
  for (const auto& d : std::filesystem::directory_iterator(TempFolder(), ec)) {
    const std::string name = d.path().filename().string();
    if (name.rfind(kWorkerFolderPrefix, 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + std::strlen(kWorkerFolderPrefix), nullptr, 10);
    if (pid <= 0 || (kill(pid_t(pid), 0) != 0 && errno == ESRCH)) {
      std::error_code ignored;
      std::filesystem::remove_all(d.path(), ignored);
    }
  }
}

// In a worker's child process, before it becomes the worker: a process group of its own
// (Ctrl-C at the terminal reaches the running program alone, which passes one Break on),
// death with the running program, its commands on its standard input and nothing on the
// running program's standard output. *reports becomes a descriptor above the standard ones
// (a program started with one of them closed may have been given it for a pipe). False
// when the running program is gone already.
bool BecomeWorker(pid_t parent, int commands, int* reports) {
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) return false;
  constexpr int kAboveStandard = 10;
  const int report = fcntl(*reports, F_DUPFD_CLOEXEC, kAboveStandard),
            command = fcntl(commands, F_DUPFD_CLOEXEC, kAboveStandard);
  if (report < 0 || command < 0 || dup2(command, STDIN_FILENO) < 0) return false;
  close(command);
  if (const int null = open("/dev/null", O_WRONLY); null >= 0) {
    dup2(null, STDOUT_FILENO);
    if (null != STDOUT_FILENO) close(null);
  }
  *reports = report;
  return true;
}

void ClosePipes(int a[2], int b[2]) {
  for (int fd : {a[0], a[1], b[0], b[1]})
    if (fd >= 0) close(fd);
}

}  // namespace

StartedWorker ForkWorker(const std::function<int(int reportFd)>& body, const std::vector<int>& closeInChild) {
  StartedWorker started;
  // A worker that dies while it is told something must fail its entry, not end this
  // program: a write to its closed pipe then gives EPIPE.
  signal(SIGPIPE, SIG_IGN);
  int reports[2] = {-1, -1}, commands[2] = {-1, -1};
  if (pipe2(reports, O_CLOEXEC) != 0 || pipe2(commands, O_CLOEXEC) != 0) {
    ClosePipes(reports, commands);
    return started;
  }
  // What this process has buffered is its own: the child must not write it again.
  std::fflush(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    for (int fd : closeInChild) close(fd);
    close(reports[0]);
    close(commands[1]);
    int report = reports[1];
    if (!BecomeWorker(parent, commands[0], &report)) _exit(1);
    if (commands[0] != STDIN_FILENO) close(commands[0]);
    if (reports[1] != report && reports[1] > STDERR_FILENO) close(reports[1]);
    // Ends as a program ends (its exit handlers run), as the worker started by its command
    // line would.
    std::exit(body(report));
  }
  close(reports[1]);
  close(commands[0]);
  if (pid < 0) {
    close(reports[0]);
    close(commands[1]);
    return started;
  }
  started.pid = pid;
  started.reports = reports[0];
  started.commands = commands[1];
  return started;
}

void DiscardWorkers(std::vector<StartedWorker>& workers) {
  // The end of its input ends a worker waiting for its first entry.
  for (const StartedWorker& w : workers) {
    if (w.commands >= 0) close(w.commands);
    if (w.reports >= 0) close(w.reports);
  }
  for (const StartedWorker& w : workers)
    while (w.pid > 0 && waitpid(w.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  workers.clear();
}

int WorkerCores(int cores, int lanes) { return std::max(1, std::max(cores, 1) / std::max(lanes, 1)); }

int AvailableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return int(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
}

// ---- the running program's side -------------------------------------------------------------

struct SimultaneousRun::Worker {
  pid_t pid = -1;                  // -1: no process (none started yet, or it ended)
  int in = -1;                     // write end of the worker's standard input: its commands
  int fd = -1;                     // read end of the worker's report pipe
  std::string pending;             // the start of a report line not yet whole
  CConvertOrder* entry = nullptr;  // the entry it converts; null while it waits for one
  std::string folder;              // the worker's batch files; removed when it ends
  bool interruptSent = false;      // "Break" passed on (only once: a second one would quit it at once)
  bool reportedEnd = false;        // the entry's last state came: neither ready nor converting
  long percent = 0;
  long long estimateBytes = 0;
};

SimultaneousRun::SimultaneousRun(CTavrionConverterDoc& batch, std::vector<std::string> workerCommand, int lanes)
    : batch_(batch),
      command_(std::move(workerCommand)),
      laneCount_(std::max(lanes, 1)),
      workerCores_(laneCount_ > 1 ? WorkerCores(AvailableCores(), laneCount_) : 0) {}

SimultaneousRun::~SimultaneousRun() {
  Stop();
  // The workers finish what a Break leaves them to finish; their reports still count.
  while (IsConverting()) Poll(200, -1);
  DiscardWorkers(spares_);
}

void SimultaneousRun::Start(bool resumeInterrupted) {
  resume_ = resumeInterrupted;
  RemoveFoldersOfGonePrograms();
  for (int i = 0; i < laneCount_; ++i) workers_.push_back(std::make_unique<Worker>());
  if (spares_.size() > size_t(laneCount_)) {
    std::vector<StartedWorker> unneeded(spares_.begin() + laneCount_, spares_.end());
    spares_.resize(size_t(laneCount_));
    DiscardWorkers(unneeded);
  }
  // As a run does over the whole batch: every state starts again.
  for (size_t i = 0; i < batch_.GetCount(); ++i) {
    CConvertOrder* e = batch_.GetAt(i);
    e->ResetState();
    if (!resumeInterrupted) e->ClearResumePoint();
    if (e->IsChecked()) {
      queue_.push_back(e);
      totalBytes_ += e->GetFileSize();
    }
  }
  entryCount_ = int(queue_.size());
  startTicks_ = GetTickCount();
  for (auto& w : workers_) GiveNext(*w);
}

bool SimultaneousRun::Launch(Worker& w) {
  const std::string folder = TempFolder() + "/" + kWorkerFolderPrefix + std::to_string(getpid()) + "-XXXXXX";
  std::vector<char> name(folder.begin(), folder.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) return false;
  w.folder = name.data();
  if (!spares_.empty()) {
    const StartedWorker spare = spares_.front();
    spares_.erase(spares_.begin());
    w.pid = spare.pid;
    w.fd = spare.reports;
    w.in = spare.commands;
    // Forked before the lanes were counted: told its share of the cores before its first
    // entry opens a codec.
    if (workerCores_ > 0) {
      const std::string cores = "cores " + std::to_string(workerCores_) + "\n";
      [[maybe_unused]] const ssize_t n = write(w.in, cores.data(), cores.size());
    }
  } else {
    std::vector<std::string> args = command_;
    if (args.empty()) return false;
    if (workerCores_ > 0) args.insert(args.end(), {"--worker-cores", std::to_string(workerCores_)});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const StartedWorker started = ForkWorker(
        [&argv](int report) -> int {
          if (dup2(report, kWorkerReportFd) < 0) _exit(1);
          execv(argv[0], argv.data());
          _exit(127);
        },
        {});
    if (started.pid < 0) return false;
    w.pid = started.pid;
    w.fd = started.reports;
    w.in = started.commands;
  }
  fcntl(w.fd, F_SETFL, O_NONBLOCK);
  if (paused_) kill(w.pid, SIGSTOP);
  return true;
}

void SimultaneousRun::GiveNext(Worker& w) {
  while (!stopping_ && next_ < queue_.size()) {
    CConvertOrder* entry = queue_[next_++];
    std::string why;
    if (w.pid < 0 && !Launch(w)) why = std::string("no worker could be started: ") + std::strerror(errno);
    // The entry as a batch of its own, every name in full.
    const std::string batchFile = w.folder + "/entry.tvc";
    if (why.empty()) {
      CTavrionConverterDoc one;
      one.Borrow(entry);
      std::ofstream out(batchFile, std::ios::binary | std::ios::trunc);
      out << one.SaveToBytes(std::string());
      out.close();
      if (!out) why = "the entry cannot be handed to a worker: " + batchFile + " cannot be written";
    }
    if (why.empty()) {
      const CConvertOrder::ResumePoint point =
          resume_ && entry->CanResume() ? entry->GetResumePoint() : CConvertOrder::ResumePoint{};
      // The entry's movie as this program last left it goes first: the batch file does not
      // hold it, and a resume renames only that file.
      const CConvertOrder::OutputStamp& st = entry->GetOutputStamp();
      std::string command = "stamp " + std::to_string(st.device) + " " + std::to_string(st.inode) + " " +
                            std::to_string(st.size) + " " + std::to_string(st.changeSec) + " " +
                            std::to_string(st.changeNsec) + "\n";
      // What this program's probe found of the source: the worker takes it instead of
      // probing the movie again (which costs about what the probe cost here). An entry whose
      // probe failed or found nothing is probed there, and fails there as it would here.
      if (entry->GetDuration() > 0 && !entry->HasProbeError())
        command += "source " + std::to_string(entry->GetDuration()) + " " + std::to_string(entry->GetSourceWidth()) +
                   " " + std::to_string(entry->GetSourceHeight()) + " " + (entry->IsSeekable() ? "1" : "0") + "\n";
      command += "convert " + batchFile + " " + std::to_string(point.at) + " " + std::to_string(point.nextPart) + "\n";
      if (write(w.in, command.data(), command.size()) == ssize_t(command.size())) {
        w.entry = entry;
        w.reportedEnd = false;
        w.percent = 0;
        w.estimateBytes = 0;
        return;
      }
      why = "the worker took no entry";
    }
    entry->SetFailed(E_FAIL, why);
    batch_.UpdateAllViews(DocumentHint::kEntryStateChanged, entry);
    ++finishedCount_;
    finishedBytes_ += entry->GetFileSize();
  }
  // Nothing more for it: the end of its input ends it.
  if (w.in >= 0) {
    close(w.in);
    w.in = -1;
  }
}

void SimultaneousRun::Poll(int timeoutMs, int wakeFd) {
  std::vector<pollfd> fds;
  for (auto& w : workers_)
    if (w->fd >= 0) fds.push_back({w->fd, POLLIN, 0});
  if (wakeFd >= 0) fds.push_back({wakeFd, POLLIN, 0});
  if (!fds.empty()) poll(fds.data(), nfds_t(fds.size()), timeoutMs);
  for (auto& w : workers_) {
    if (w->fd >= 0) ReadReports(*w);
    // A lane whose worker died goes on with a new one.
    if (w->pid < 0 && !w->entry && !stopping_ && next_ < queue_.size()) GiveNext(*w);
  }
}

void SimultaneousRun::ReadReports(Worker& w) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(w.fd, buffer, sizeof buffer);
    if (n > 0) {
      w.pending.append(buffer, size_t(n));
      size_t end;
      while ((end = w.pending.find('\n')) != std::string::npos) {
        const std::string line = w.pending.substr(0, end);
        w.pending.erase(0, end + 1);
        Report(w, line);
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    // The worker closed its end: it is ending.
    close(w.fd);
    w.fd = -1;
    int status = 0;
    while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
    }
    Reap(w, status);
    return;
  }
}

void SimultaneousRun::Report(Worker& w, const std::string& line) {
  CConvertOrder* e = w.entry;
  if (!e) return;
  const size_t space = line.find(' ');
  const std::string word = line.substr(0, space);
  const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
  if (word == "progress") {
    std::istringstream in(rest);
    in >> w.percent >> w.estimateBytes;
  } else if (word == "outputs") {
    outputs_[e].clear();
  } else if (word == "output") {
    outputs_[e].push_back(rest);
  } else if (word == "encoding") {
    e->SetSubtitleEncoding(rest);
  } else if (word == "status") {
    statuses_[e] = rest;
  } else if (word == "stamp") {
    // device inode size seconds nanoseconds, a tab, and the output file's name.
    const size_t tab = rest.find('\t');
    if (tab != std::string::npos && tab + 1 < rest.size()) e->SetOutputPath(rest.substr(tab + 1));
    std::istringstream in(rest.substr(0, tab));
    CConvertOrder::OutputStamp st;
    unsigned long long device = 0, inode = 0;
    long long size = -1, sec = 0, nsec = 0;
    if (in >> device >> inode >> size >> sec >> nsec) {
      st.device = device;
      st.inode = inode;
      st.size = size;
      st.changeSec = sec;
      st.changeNsec = nsec;
      e->SetOutputStamp(st);
    }
  } else if (word == "state") {
    // state interruptedAt resultCode resumeAt nextPart, a tab, and the reason.
    const size_t tab = rest.find('\t');
    std::istringstream in(rest.substr(0, tab));
    int state = CConvertOrder::kReady;
    long long at = 0, resumeAt = 0;
    long hr = 0, nextPart = 0;
    in >> state >> at >> hr >> resumeAt >> nextPart;
    e->RestoreState(state, at, HRESULT(hr), tab == std::string::npos ? std::string() : rest.substr(tab + 1));
    e->SetResumePoint(resumeAt, LONG(nextPart));
    w.reportedEnd = state != CConvertOrder::kConverting && state != CConvertOrder::kReady;
    batch_.UpdateAllViews(DocumentHint::kEntryStateChanged, e);
  } else if (word == "created") {
    // The state just reported is in the recovery copy: the worker may write the new file.
    static const char kRecorded[] = "recorded\n";
    if (w.in >= 0) {
      [[maybe_unused]] const ssize_t n = write(w.in, kRecorded, sizeof kRecorded - 1);
    }
  } else if (word == "done") {
    Finish(w, "the worker could not read the entry");
    GiveNext(w);
  }
}

void SimultaneousRun::Finish(Worker& w, const std::string& failure) {
  CConvertOrder* e = w.entry;
  if (!e) return;
  if (!w.reportedEnd) {
    e->SetFailed(E_FAIL, failure);
    statuses_.erase(e);
    batch_.UpdateAllViews(DocumentHint::kEntryStateChanged, e);
  }
  ++finishedCount_;
  finishedBytes_ += e->GetFileSize();
  w.entry = nullptr;
  if (e->GetState() == CConvertOrder::kConverted && batch_.GetRemoveAfterConversion())
    batch_.UpdateAllViews(DocumentHint::kRemoveConverted, e);
}

void SimultaneousRun::Reap(Worker& w, int status) {
  // It died without saying how its entry ended (killed, or it crashed).
  Finish(w, WIFSIGNALED(status) ? std::string("the conversion was killed (signal ") + std::to_string(WTERMSIG(status)) + ")"
                                : std::string("the conversion ended unexpectedly"));
  if (w.in >= 0) close(w.in);
  std::error_code ec;
  std::filesystem::remove_all(w.folder, ec);
  w = Worker{};
}

void SimultaneousRun::Stop() {
  stopping_ = true;
  for (auto& w : workers_) {
    if (w->pid > 0 && w->entry && !w->interruptSent) {
      kill(w->pid, SIGINT);
      w->interruptSent = true;
    }
    if (w->in >= 0 && !w->entry) {
      close(w->in);
      w->in = -1;
    }
  }
  // A paused worker takes its Break when it goes on.
  SetPaused(false);
}

void SimultaneousRun::Kill() {
  stopping_ = true;
  for (auto& w : workers_)
    if (w->pid > 0) kill(w->pid, SIGKILL);
  // Their pipes close: the next Poll reaps them and fails their entries.
}

void SimultaneousRun::SetPaused(bool paused) {
  if (paused == paused_) return;
  paused_ = paused;
  // A worker is a process group of its own with nothing else in it.
  for (auto& w : workers_)
    if (w->pid > 0) kill(w->pid, paused ? SIGSTOP : SIGCONT);
}

std::vector<int> SimultaneousRun::WatchFds() const {
  std::vector<int> fds;
  for (const auto& w : workers_)
    if (w->fd >= 0) fds.push_back(w->fd);
  return fds;
}

const SimultaneousRun::Worker* SimultaneousRun::WorkerOf(const CConvertOrder* entry) const {
  for (const auto& w : workers_)
    if (w->pid > 0 && w->entry && w->entry == entry) return w.get();
  return nullptr;
}

std::vector<CConvertOrder*> SimultaneousRun::RunningEntries() const {
  std::vector<CConvertOrder*> running;
  for (const auto& w : workers_)
    if (w->pid > 0 && w->entry) running.push_back(w->entry);
  // Entries are handed out in batch order, but a short one ends before a long one that
  // started earlier: order them as the batch does.
  std::sort(running.begin(), running.end(),
            [this](const CConvertOrder* a, const CConvertOrder* b) { return batch_.IndexOf(a) < batch_.IndexOf(b); });
  return running;
}

int SimultaneousRun::EntryPercent(const CConvertOrder* entry) const {
  const Worker* w = WorkerOf(entry);
  return w ? int(std::clamp<long>(w->percent, 0, 100)) : -1;
}

long long SimultaneousRun::EntryEstimate(const CConvertOrder* entry) const {
  const Worker* w = WorkerOf(entry);
  return w ? w->estimateBytes : 0;
}

bool SimultaneousRun::IsConverting() const {
  for (const auto& w : workers_)
    if (w->pid > 0) return true;
  return !stopping_ && next_ < queue_.size();
}

std::vector<std::string> SimultaneousRun::OutputsOf(const CConvertOrder* entry) const {
  auto it = outputs_.find(entry);
  return it == outputs_.end() ? std::vector<std::string>() : it->second;
}

std::string SimultaneousRun::StatusOf(const CConvertOrder* entry) const {
  auto it = statuses_.find(entry);
  return it == statuses_.end() ? entry->GetStatusText() : it->second;
}

long long SimultaneousRun::DoneBytes() const {
  double doneBytes = double(finishedBytes_);
  for (const auto& w : workers_)
    if (w->pid > 0 && w->entry)
      doneBytes += double(w->entry->GetFileSize()) * double(std::clamp<long>(w->percent, 0, 100)) / 100.0;
  return static_cast<long long>(doneBytes);
}

std::string SimultaneousRun::ProgressLine() const {
  std::string line;
  const double doneBytes = double(DoneBytes());
  long long estimate = 0;
  int running = 0;
  char part[384];
  for (const auto& w : workers_) {
    if (w->pid <= 0 || !w->entry) continue;
    ++running;
    estimate += w->estimateBytes;
    std::snprintf(part, sizeof part, "%s %ld%% | ", w->entry->SourcePath().FileName().c_str(), w->percent);
    line += part;
  }
  const double fraction = totalBytes_ > 0 ? std::min(1.0, doneBytes / double(totalBytes_)) : 0.0;
  const REFERENCE_TIME elapsed = REFERENCE_TIME(GetTickCount() - DWORD(startTicks_)) * 10000;
  const std::string remaining =
      fraction > 0.01 ? FormatTime(REFERENCE_TIME(double(elapsed) * (1.0 - fraction) / fraction)) : "--:--";
  std::snprintf(part, sizeof part, "%d-%d of %d: %d%% %s/%s | ~%lld KB", finishedCount_ + (running ? 1 : 0),
                finishedCount_ + running, entryCount_, int(fraction * 100), FormatTime(elapsed).c_str(),
                remaining.c_str(), estimate / 1024);
  return line + part;
}

}  // namespace tav
