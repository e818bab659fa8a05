// tavrion-convert [options] MOVIE|BATCH.tvc ...
// Converts movies (or the checked entries of batch files) to camera movies from the command
// line, with the same document, graph builder, conversion run and player as the GUI.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "converter/cli/cli.h"
#include "converter/cli/interrupts.h"
#include "converter/cli/jobs.h"
#include "converter/engine/conversionrun.h"
#include "converter/engine/document.h"
#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/recovery.h"
#include "converter/engine/startup.h"
#include "converter/engine/timetext.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/sync.h"
#include "media/contract/window.h"

namespace {

using namespace tav;
using namespace tav::cli;

class ConsoleView : public DocumentObserver {
 public:
  explicit ConsoleView(CTavrionConverterDoc& doc) : doc_(doc) {}
  void OnDocumentUpdate(DocumentHint hint, CConvertOrder* entry, const std::string*) override {
    if (hint == DocumentHint::kRemoveConverted && entry) removed_.push_back(entry);
    if (hint == DocumentHint::kEntryStateChanged && entry && entry->GetState() == CConvertOrder::kConverted)
      finished_.push_back(entry);
  }
  std::vector<CConvertOrder*> removed_;
  // Converted entries whose last progress line (100%) is still to be printed.
  std::vector<CConvertOrder*> finished_;

 private:
  CTavrionConverterDoc& doc_;
};

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return a == b || (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
                    sa.st_ino == sb.st_ino);
}

std::string TimeOrUnknown(LONGLONG t) { return t == kUnknownRemaining ? std::string("--:--") : FormatTime(t); }

// The checks of the command line that need no platform: where the batch is to be saved and
// the output folder (both end the program with a message when unusable). Answers the output
// folder.
std::string CheckTargets(const Options& opt) {
  if (opt.saveBatch) CheckBatchTarget(opt, *opt.saveBatch);
  std::string outputFolder;
  if (opt.outputDir) outputFolder = CheckOutputFolder(*opt.outputDir);
  return outputFolder;
}

// --demo: a sample movie with subtitles joins the inputs.
void AddDemoSample(Options& opt) {
  const std::string movie = MakeDemoSample();
  std::printf("Sample movie with English and French subtitles: %s\n", movie.c_str());
  opt.inputs.push_back(movie);
  if (!opt.language) opt.language = "en-US";
}

// Without a registry nothing can be registered or created; every entry would fail with
// a misleading text of its own.
bool RegistryUsable() {
  if (const std::string problem = RegistryProblem(); !problem.empty()) {
    std::fprintf(stderr, "tavrion-convert: %s\n", problem.c_str());
    return false;
  }
  return true;
}

// The component model and the component libraries. These live next to the program in
// ../lib; registering them is repaired here as the GUI does at start-up.
void StartPlatform(const Options& opt) {
  if (opt.subtitleEncoding) SetSubtitleEncoding(*opt.subtitleEncoding);
  CoInitialize(nullptr);
  // The graph library first: the others register their filters through its mapper.
  ReregisterCodecs(std::string(), {"tavrionstreaming"});
  ReregisterCodecs(std::string(), {"tavrionfilters", "captionparser", "vxvideokit", "vxcamwriter"});
}

// One run of the program on a started platform: the batch it builds or restores, the
// conversion with its progress lines, the report and the batch it leaves. The members are
// declared in the order the steps create them, so they go in the reverse order.
class ConvertSession {
 public:
  ConvertSession(const Options& opt, std::vector<StartedWorker> workers)
      : opt_(opt), view_(doc_), workersAhead_(std::move(workers)) {
    app_.InitEnvironment("tavrion-convert.ini");
    doc_.AddObserver(&view_);
    doc_.SetRemoveAfterConversion(opt_.removeAfter);
  }

  ~ConvertSession() { DiscardWorkers(workersAhead_); }
  ConvertSession(const ConvertSession&) = delete;
  ConvertSession& operator=(const ConvertSession&) = delete;

  // Answers the program's exit status.
  int Run(const std::string& outputFolder) {
    if (!AttachGraphs() || !LoadBatch(outputFolder)) return 1;
    if (opt_.saveBatch && !opt_.convert) return SaveBatch(*opt_.saveBatch) && !batch_.addFailed ? 0 : 1;
    keeper_->Tick();
    InstallInterruptHandlers();
    RememberUncheckedStates();
    StartConversion();
    WatchConversion();
    GiveBackUncheckedStates();
    int status = ReportResults();
    if (!SaveBatchAfterRun()) status = 1;
    KeepInterruptedBatch();
    jobs_.reset();
    keeper_.reset();
    app_.ExitEnvironment();
    return status;
  }

 private:
  // The document's conversion graph builder, and a second builder that probes the inputs.
  bool AttachGraphs() {
    auto builder = std::make_unique<FilterGraphBuilder>();
    builder_ = builder.get();
    if (FAILED(doc_.AttachConversionGraph(std::move(builder), &app_))) {
      std::fprintf(stderr, "tavrion-convert: the media platform could not be started\n");
      return false;
    }
    prober_ = std::make_unique<FilterGraphBuilder>();
    if (FAILED(prober_->Init())) {
      std::fprintf(stderr, "tavrion-convert: the media platform could not be started\n");
      return false;
    }
    prober_->SetFilterVeto(&app_);
    return true;
  }

  // The batch of the command line, or the one a crash left (--restore).
  bool LoadBatch(const std::string& outputFolder) {
    if (opt_.restore) {
      keeper_ = std::make_unique<RecoveryKeeper>(doc_);
      if (!cli::RestoreBatch(doc_, *prober_, *keeper_, &batch_, LanesFor(opt_, INT_MAX))) return false;
      // Refused here, the restored batch stays for the next start.
      if (opt_.saveBatch && opt_.convert) CheckBatchTargetIsNoOutput(*opt_.saveBatch, doc_);
      if (!opt_.quiet) std::printf("Restored the unsaved batch (%zu entries)\n", doc_.GetCount());
    } else {
      if (!cli::BuildBatch(opt_, outputFolder, doc_, *prober_, &batch_)) return false;
      if (opt_.saveBatch && opt_.convert) CheckBatchTargetIsNoOutput(*opt_.saveBatch, doc_);
      // From here on a crash loses nothing of the batch: a copy is kept until a clean exit.
      keeper_ = std::make_unique<RecoveryKeeper>(doc_);
    }
    return true;
  }

  bool SaveBatch(const std::string& path) {
    std::string error;
    if (!doc_.OnSaveDocument(path, &error)) {
      std::fprintf(stderr, "tavrion-convert: %s: %s\n", path.c_str(), error.c_str());
      return false;
    }
    if (!opt_.quiet) std::printf("Saved the batch as %s\n", path.c_str());
    return true;
  }

  // A run resets every state; the entries of a restored batch that take no part in it
  // (converted before) get theirs back for the report.
  void RememberUncheckedStates() {
    if (opt_.restore)
      for (size_t i = 0; i < doc_.GetCount(); ++i)
        if (!doc_.GetAt(i)->IsChecked()) restoredStates_.emplace_back(doc_.GetAt(i), doc_.GetAt(i)->GetState());
  }

  void GiveBackUncheckedStates() {
    for (auto& [e, state] : restoredStates_)
      if (e->GetState() == CConvertOrder::kReady)
        e->RestoreState(state, e->GetInterruptedAt(), e->GetResultCode(), e->GetFailureReason());
  }

  void StartConversion() {
    player_ = std::make_unique<PlayerCore>();
    run_ = std::make_unique<ConversionRun>(doc_, *builder_);
    // No screen to show the frames on: the tee feeds the exporter alone.
    run_->SetLivePreview(false);
    // --jobs: several entries at once, each in a lane of its own; one lane is the run above.
    int checked = 0;
    for (size_t i = 0; i < doc_.GetCount(); ++i) checked += doc_.GetAt(i)->IsChecked() ? 1 : 0;
    if (const int lanes = LanesFor(opt_, checked); lanes > 1) {
      jobs_ = std::make_unique<SimultaneousRun>(doc_, WorkerCommand(opt_), lanes);
      jobs_->AdoptWorkers(std::exchange(workersAhead_, {}));
      jobs_->Start(opt_.resume);
    } else {
      DiscardWorkers(workersAhead_);
      run_->StartConversion(player_.get(), opt_.resume);
    }
  }

  bool Converting() const { return jobs_ ? jobs_->IsConverting() : run_->IsConverting(); }
  std::vector<std::string> OutputsOf(const CConvertOrder* e) const {
    return jobs_ ? jobs_->OutputsOf(e) : run_->OutputsOf(e);
  }

  // The main loop while the conversion runs: messages, the recovery copy, interrupts and
  // progress lines.
  void WatchConversion() {
    int shownInterrupts = 0;
    while (Converting()) {
      if (jobs_) {
        jobs_->Poll(200, InterruptWakeFd());
        DrainInterruptWake();
      } else {
        WaitForMessageOrInterrupt(200);
      }
      MSG msg;
      while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
      keeper_->Tick();
      WarnOnceIfRecoveryFails();
      if (InterruptCount() > shownInterrupts) {
        shownInterrupts = InterruptCount();
        if (jobs_) {
          // "Break" for every running entry; the loop goes on until their workers end.
          jobs_->Stop();
          continue;
        }
        run_->StopConversion();  // "Break"
        break;
      }
      PrintFinished();
      if (opt_.quiet || !Converting()) continue;
      PrintProgress();
    }
    PrintFinished();
    if (tty_ && !opt_.quiet) std::printf("\r\033[K");
  }

  void WarnOnceIfRecoveryFails() {
    if (keeper_->LastError().empty() || warnedRecovery_) return;
    // The run goes on; only a crash would now lose the batch.
    warnedRecovery_ = true;
    std::string why = keeper_->LastError();
    std::replace(why.begin(), why.end(), '\n', ' ');
    std::fprintf(stderr, "tavrion-convert: the batch cannot be kept for recovery: %s\n", why.c_str());
  }

  // A file's progress ends at 100%, with the size it came to, whenever the sampling
  // happened to look last.
  void PrintFinished() {
    if (!opt_.quiet) {
      for (CConvertOrder* done : view_.finished_) {
        LONGLONG bytes = 0;
        for (const std::string& f : OutputsOf(done)) {
          struct stat st {};
          if (::stat(f.c_str(), &st) == 0) bytes += st.st_size;
        }
        std::printf("%s%s 100%% | %lld KB\n", tty_ ? "\r\033[K" : "", DisplayText(done->SourcePath().FileName()).c_str(),
                    static_cast<long long>(bytes / 1024));
      }
      std::fflush(stdout);
    }
    view_.finished_.clear();
  }

  // One progress line: rewritten in place on a terminal, every 2 seconds otherwise.
  void PrintProgress() {
    const DWORD now = GetTickCount();
    if (!tty_ && now - lastPrint_ < 2000) return;
    lastPrint_ = now;
    if (jobs_) {
      const std::string line = jobs_->ProgressLine();
      if (tty_) std::printf("\r\033[K%s", line.c_str());
      else std::printf("%s\n", line.c_str());
      std::fflush(stdout);
      return;
    }
    int index = 0, count = 0;
    doc_.GetFileCounters(&index, &count);
    LONGLONG fe, fr, te, tr;
    const LONG filePct = run_->MapFileProgress(0, 100);
    run_->GetFileTimes(&fe, &fr);
    const LONG totalPct = run_->MapTotalProgress(0, 100);
    run_->GetTotalTimes(&te, &tr);
    CConvertOrder* cur = run_->GetCurrent();
    const LONGLONG estimate = run_->EstimateCurrentOutputSize();
    char line[512];
    std::snprintf(line, sizeof line, "%s %ld%% %s/%s | file #%d from %d: %ld%% %s/%s | ~%lld KB",
                  cur ? DisplayText(cur->SourcePath().FileName()).c_str() : "", long(filePct), FormatTime(fe).c_str(),
                  TimeOrUnknown(fr).c_str(), index + 1, count, long(totalPct), FormatTime(te).c_str(),
                  TimeOrUnknown(tr).c_str(), static_cast<long long>(estimate / 1024));
    if (tty_) std::printf("\r\033[K%s", line);
    else std::printf("%s\n", line);
    std::fflush(stdout);
  }

  // One line per input: its outputs and how it ended. Answers the exit status so far.
  int ReportResults() {
    int status = batch_.addFailed ? 1 : 0;
    for (const cli::ResultRow& row : batch_.rows) {
      if (!row.entry) {
        std::printf("%s -> -: %s\n", DisplayText(row.source).c_str(), DisplayText(row.failure).c_str());
        continue;
      }
      CConvertOrder* e = row.entry;
      entries_.push_back(e);
      std::string outputs;
      // Only files that are there: a failed entry's prepared name may never have been written.
      for (const std::string& f : OutputsOf(e)) {
        struct stat st {};
        if (::stat(f.c_str(), &st) == 0 && S_ISREG(st.st_mode)) outputs += (outputs.empty() ? "" : ", ") + f;
      }
      // An entry converted before the batch was restored.
      if (outputs.empty() && OutputsOf(e).empty() && e->GetState() == CConvertOrder::kConverted) {
        struct stat st {};
        if (::stat(e->OutputPath().Full().c_str(), &st) == 0) outputs = e->OutputPath().Full();
      }
      if (outputs.empty()) outputs = "-";
      const bool converted = e->GetState() == CConvertOrder::kConverted;
      // An entry that is not checked takes no part in the run: it neither failed nor was
      // interrupted.
      if (!converted && e->IsChecked()) status = 1;
      const std::string statusText = jobs_ ? jobs_->StatusOf(e) : e->GetStatusText();
      // Names keep their bytes on disk; shown, they are text (bytes that are not UTF-8 become
      // replacement characters).
      std::printf("%s -> %s: %s\n", DisplayText(e->SourcePath().Full()).c_str(), DisplayText(outputs).c_str(),
                  DisplayText(statusText).c_str());
      if (opt_.verbose && e->UsesSubtitles() && !e->GetSubtitleEncoding().empty())
        std::printf("  subtitles %s read in %s\n", e->SubtitlePath().Full().c_str(), e->GetSubtitleEncoding().c_str());
    }
    if (opt_.demo && status == 0 && !entries_.empty() && !OutputsOf(entries_.front()).empty())
      std::printf("The converted camera movie is at %s\n", OutputsOf(entries_.front()).back().c_str());
    return status;
  }

  // The batch as the run left it: converted entries unchecked, or gone with --remove-after.
  // Answers false when it should have been saved and was not.
  bool SaveBatchAfterRun() {
    for (CConvertOrder* e : view_.removed_) doc_.RemoveOrder(e);
    std::string batchOut;
    if (opt_.saveBatch) batchOut = *opt_.saveBatch;
    else if (opt_.removeAfter && !view_.removed_.empty()) batchOut = batch_.batchFile;
    bool saved = true;
    // Whatever the checks at the start foresaw, a movie this run wrote is never replaced.
    for (CConvertOrder* e : entries_)
      for (const std::string& f : run_->OutputsOf(e))
        if (!batchOut.empty() && SameFile(f, batchOut)) {
          std::fprintf(stderr, "tavrion-convert: %s is a movie this run wrote; the batch is not saved over it\n",
                       batchOut.c_str());
          batchOut.clear();
          saved = false;
        }
    if (!batchOut.empty() && !SaveBatch(batchOut)) saved = false;
    return saved;
  }

  // An interrupted movie can go on later only from the copy: it stays for the next start.
  void KeepInterruptedBatch() {
    bool interrupted = false;
    for (size_t i = 0; i < doc_.GetCount(); ++i)
      interrupted = interrupted || doc_.GetAt(i)->GetState() == CConvertOrder::kInterrupted;
    if (!interrupted) return;
    keeper_->SaveNow();
    keeper_->KeepOnExit(keeper_->LastError().empty());
    if (!opt_.quiet && keeper_->LastError().empty())
      std::printf("The batch is kept: tavrion-convert --restore --resume continues the interrupted movies\n");
  }

  const Options& opt_;
  const bool tty_ = isatty(STDOUT_FILENO);
  CTavrionConverterApp app_;
  CTavrionConverterDoc doc_;
  ConsoleView view_;
  FilterGraphBuilder* builder_ = nullptr;  // owned by the document
  std::unique_ptr<FilterGraphBuilder> prober_;
  cli::Batch batch_;
  std::unique_ptr<RecoveryKeeper> keeper_;
  std::vector<std::pair<CConvertOrder*, int>> restoredStates_;
  std::unique_ptr<PlayerCore> player_;
  std::unique_ptr<ConversionRun> run_;
  std::unique_ptr<SimultaneousRun> jobs_;
  std::vector<StartedWorker> workersAhead_;  // forked for --jobs before the session began
  bool warnedRecovery_ = false;
  DWORD lastPrint_ = 0;
  // The entries of the report, in the order of the inputs.
  std::vector<CConvertOrder*> entries_;
};

}  // namespace

int main(int argc, char** argv) {
  Options opt = Parse(argc, argv);
  if (opt.workerFd >= 0) return RunWorker(opt);
  const std::string outputFolder = CheckTargets(opt);
  if (opt.demo) AddDemoSample(opt);
  if (!RegistryUsable()) return 1;
  StartPlatform(opt);
  // The workers of --jobs are forked now, before this process makes any object of the
  // platform (a worker makes its own) and while it runs one thread.
  ConvertSession session(opt, StartWorkersAhead(opt));
  return session.Run(outputFolder);
}
