#include "converter/cli/jobs.h"

#include <fcntl.h>
#include <poll.h>
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

#include "converter/engine/conversionrun.h"
#include "converter/engine/timetext.h"
#include "media/contract/sync.h"

namespace tav::cli {

namespace {

// Where this program is, for its workers.
std::string SelfPath() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.string();
}

// Report lines are single lines: a line break in a text would start a new report.
std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::replace(text.begin(), text.end(), '\r', ' ');
  return text;
}

// The worker's file descriptor for its reports.
constexpr int kReportFd = 3;

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

}  // namespace

int LanesFor(int requested, int checkedEntries, int cores) {
  const int wanted = requested > 0 ? requested : std::max(cores, 1);
  return std::max(1, std::min(wanted, checkedEntries));
}

// ---- the running program's side -------------------------------------------------------------

struct SimultaneousRun::Worker {
  pid_t pid = -1;                  // -1: the lane is free
  int fd = -1;                     // read end of the worker's report pipe
  std::string pending;             // the start of a report line not yet whole
  CConvertOrder* entry = nullptr;  // the entry it converts
  std::string folder;              // the worker's batch file and recovery folder; removed when it ends
  bool interruptSent = false;      // "Break" passed on (only once: a second one would quit it at once)
  bool reportedEnd = false;        // it reported a state other than converting
  long percent = 0;
  long long estimateBytes = 0;
};

SimultaneousRun::SimultaneousRun(CTavrionConverterDoc& batch, const Options& options, int lanes)
    : batch_(batch), options_(options), laneCount_(std::max(lanes, 1)), program_(SelfPath()) {}

SimultaneousRun::~SimultaneousRun() {
  Stop();
  // The workers finish what a Break leaves them to finish; their reports still count.
  while (IsConverting()) Poll(200, -1);
}

void SimultaneousRun::Start(bool resumeInterrupted) {
  resume_ = resumeInterrupted;
  RemoveFoldersOfGonePrograms();
  for (int i = 0; i < laneCount_; ++i) workers_.push_back(std::make_unique<Worker>());
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
  for (auto& w : workers_)
    if (next_ < queue_.size()) Launch(*w, queue_[next_++]);
}

void SimultaneousRun::Launch(Worker& w, CConvertOrder* entry) {
  w = Worker{};
  w.entry = entry;
  auto fail = [&](const std::string& why) {
    entry->SetFailed(E_FAIL, why);
    batch_.UpdateAllViews(kHintEntryStateChanged, entry);
    ++finishedCount_;
    finishedBytes_ += entry->GetFileSize();
    if (!w.folder.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(w.folder, ec);
    }
    w = Worker{};
  };
  // The entry as a batch of its own, every name in full.
  std::string folder = TempFolder() + "/" + kWorkerFolderPrefix + std::to_string(getpid()) + "-XXXXXX";
  if (!mkdtemp(folder.data())) return fail(std::string("no folder for the conversion: ") + std::strerror(errno));
  w.folder = folder;
  const std::string batchFile = folder + "/entry.tvc";
  {
    CTavrionConverterDoc one;
    one.Borrow(entry);
    std::ofstream out(batchFile, std::ios::binary);
    out << one.SaveToBytes(std::string());
    out.close();
    if (!out) return fail("the entry cannot be handed to a worker: " + batchFile + " cannot be written");
  }
  std::vector<std::string> args = {program_, "--quiet", "--worker", std::to_string(kReportFd), "--worker-folder",
                                   folder + "/recovery"};
  if (options_.subtitleEncoding) args.insert(args.end(), {"--subtitle-encoding", *options_.subtitleEncoding});
  if (resume_ && entry->CanResume()) {
    const CConvertOrder::ResumePoint point = entry->GetResumePoint();
    args.insert(args.end(), {"--worker-resume", std::to_string(point.at) + ":" + std::to_string(point.nextPart)});
  }
  args.insert(args.end(), {"--", batchFile});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int fds[2];
  if (program_.empty() || pipe2(fds, O_CLOEXEC) != 0) return fail("no worker can be started");
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // A group of its own: Ctrl-C at the terminal reaches the running program alone, which
    // passes one Break on. It dies with the running program.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    if (dup2(fds[1], kReportFd) < 0) _exit(1);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    const int none = open("/dev/null", O_RDONLY);
    if (none >= 0) dup2(none, STDIN_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return fail(std::string("no worker can be started: ") + std::strerror(errno));
  }
  fcntl(fds[0], F_SETFL, O_NONBLOCK);
  w.pid = pid;
  w.fd = fds[0];
}

void SimultaneousRun::Poll(int timeoutMs, int wakeFd) {
  std::vector<pollfd> fds;
  for (auto& w : workers_)
    if (w->fd >= 0) fds.push_back({w->fd, POLLIN, 0});
  if (wakeFd >= 0) fds.push_back({wakeFd, POLLIN, 0});
  if (!fds.empty()) poll(fds.data(), nfds_t(fds.size()), timeoutMs);
  for (auto& w : workers_) {
    if (w->fd >= 0) ReadReports(*w);
    if (w->pid < 0 && !stopping_ && next_ < queue_.size()) Launch(*w, queue_[next_++]);
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
        Report(w, w.pending.substr(0, end));
        w.pending.erase(0, end + 1);
      }
      continue;
    }
    if (n < 0 && (errno == EINTR)) continue;
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
    batch_.UpdateAllViews(kHintEntryStateChanged, e);
  }
}

void SimultaneousRun::Reap(Worker& w, int status) {
  CConvertOrder* e = w.entry;
  if (!w.reportedEnd) {
    // It died without saying how its entry ended (killed, or it crashed).
    const std::string why = WIFSIGNALED(status) ? std::string("the conversion was killed (signal ") +
                                                      std::to_string(WTERMSIG(status)) + ")"
                                                : "the conversion ended unexpectedly";
    e->SetFailed(E_FAIL, why);
    statuses_.erase(e);
    batch_.UpdateAllViews(kHintEntryStateChanged, e);
  }
  ++finishedCount_;
  finishedBytes_ += e->GetFileSize();
  std::error_code ec;
  std::filesystem::remove_all(w.folder, ec);
  const bool converted = e->GetState() == CConvertOrder::kConverted;
  w = Worker{};
  if (converted && batch_.GetRemoveAfterConversion()) batch_.UpdateAllViews(kHintRemoveConverted, e);
}

void SimultaneousRun::Stop() {
  stopping_ = true;
  for (auto& w : workers_)
    if (w->pid > 0 && !w->interruptSent) {
      kill(w->pid, SIGINT);
      w->interruptSent = true;
    }
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

std::string SimultaneousRun::ProgressLine() const {
  std::string line;
  double doneBytes = double(finishedBytes_);
  long long estimate = 0;
  int running = 0;
  char part[384];
  for (const auto& w : workers_) {
    if (w->pid <= 0) continue;
    ++running;
    doneBytes += double(w->entry->GetFileSize()) * double(w->percent) / 100.0;
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

// ---- the worker's side -------------------------------------------------------------------------

void WorkerReporter::Write(const std::string& line) {
  const std::string text = line + "\n";
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the running program is gone; the conversion goes on regardless
    done += size_t(n);
  }
}

void WorkerReporter::OnDocumentUpdate(int hint, CConvertOrder* e, const std::string*) {
  if (hint != kHintEntryStateChanged || !e) return;
  // The outputs and the texts first: the state is what the running program acts on.
  Outputs(e);
  if (!e->GetSubtitleEncoding().empty()) Write("encoding " + OneLine(e->GetSubtitleEncoding()));
  Write("status " + OneLine(e->GetStatusText()));
  const CConvertOrder::ResumePoint point = e->GetResumePoint();
  char line[160];
  std::snprintf(line, sizeof line, "state %d %lld %ld %lld %ld\t", e->GetState(),
                static_cast<long long>(e->GetInterruptedAt()), long(e->GetResultCode()),
                static_cast<long long>(point.at), long(point.nextPart));
  Write(line + OneLine(e->GetFailureReason()));
}

void WorkerReporter::Outputs(const CConvertOrder* e) {
  Write("outputs");
  for (const std::string& f : run_.OutputsOf(e)) Write("output " + OneLine(f));
}

void WorkerReporter::Progress(long percent, long long estimateBytes) {
  Write("progress " + std::to_string(percent) + " " + std::to_string(estimateBytes));
}

}  // namespace tav::cli
