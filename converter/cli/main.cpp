// tavrion-convert [options] MOVIE|BATCH.tvc ...
// Converts movies (or the checked entries of batch files) to camera movies from the command
// line, with the same document, graph builder, conversion run and player as the GUI.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "converter/cli/cli.h"
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

// Ctrl-C, SIGTERM and SIGHUP: the first acts as "Break" (handled on the main loop), so the
// movie being written is finished and plays; a second one quits at once.
volatile std::sig_atomic_t g_interrupts = 0;
// Written by the handler so that the main loop wakes at once: a Break that waited for the
// loop's next turn could land in a later part of a split.
int g_wakePipe[2] = {-1, -1};
void OnSigint(int) {
  g_interrupts = g_interrupts + 1;
  if (g_interrupts >= 2) _exit(1);
  if (g_wakePipe[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = write(g_wakePipe[1], &byte, 1);
  }
}

void DrainWakePipe() {
  char drain[16];
  while (g_wakePipe[0] >= 0 && read(g_wakePipe[0], drain, sizeof drain) > 0) {
  }
}

// Waits up to timeoutMs for a message of this thread or a Ctrl-C.
void WaitForMessageOrInterrupt(int timeoutMs) {
  pollfd fds[2] = {{MessageQueueFd(), POLLIN, 0}, {g_wakePipe[0], POLLIN, 0}};
  if (poll(fds, g_wakePipe[0] >= 0 ? 2 : 1, timeoutMs) > 0 && (fds[1].revents & POLLIN)) DrainWakePipe();
}

class ConsoleView : public DocumentObserver {
 public:
  explicit ConsoleView(CTavrionConverterDoc& doc) : doc_(doc) {}
  void OnDocumentUpdate(int hint, CConvertOrder* entry, const std::string*) override {
    if (hint == kHintRemoveConverted && entry) removed_.push_back(entry);
    if (hint == kHintEntryStateChanged && entry && entry->GetState() == CConvertOrder::kConverted)
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

}  // namespace

int main(int argc, char** argv) {
  Options opt = Parse(argc, argv);
  if (opt.workerFd >= 0) return RunWorker(opt);
  if (opt.saveBatch) CheckBatchTarget(opt, *opt.saveBatch);
  std::string outputFolder;
  if (opt.outputDir) outputFolder = CheckOutputFolder(*opt.outputDir);
  if (opt.demo) {
    const std::string movie = MakeDemoSample();
    std::printf("Sample movie with English and French subtitles: %s\n", movie.c_str());
    opt.inputs.push_back(movie);
    if (!opt.language) opt.language = "en-US";
  }
  // Without a registry nothing can be registered or created; every entry would fail with
  // a misleading text of its own.
  if (const std::string problem = RegistryProblem(); !problem.empty()) {
    std::fprintf(stderr, "tavrion-convert: %s\n", problem.c_str());
    return 1;
  }
  if (opt.subtitleEncoding) SetSubtitleEncoding(*opt.subtitleEncoding);
  CoInitialize(nullptr);
  // Component libraries live next to the program in ../lib; registering them is repaired
  // here as the GUI does at start-up.
  // The graph library first: the others register their filters through its mapper.
  ReregisterCodecs(std::string(), {"tavrionstreaming"});
  ReregisterCodecs(std::string(), {"tavrionfilters", "captionparser", "vxvideokit", "vxcamwriter"});

  CTavrionConverterApp app;
  app.InitEnvironment("tavrion-convert.ini");
  CTavrionConverterDoc doc;
  ConsoleView view(doc);
  doc.AddObserver(&view);
  doc.SetRemoveAfterConversion(opt.removeAfter);

  auto builder = std::make_unique<FilterGraphBuilder>();
  FilterGraphBuilder* b = builder.get();
  if (FAILED(doc.AttachConversionGraph(std::move(builder), &app))) {
    std::fprintf(stderr, "tavrion-convert: the media platform could not be started\n");
    return 1;
  }
  FilterGraphBuilder prober;
  if (FAILED(prober.Init())) {
    std::fprintf(stderr, "tavrion-convert: the media platform could not be started\n");
    return 1;
  }
  prober.SetFilterVeto(&app);

  cli::Batch batch;
  std::unique_ptr<RecoveryKeeper> keeper;
  if (opt.restore) {
    keeper = std::make_unique<RecoveryKeeper>(doc);
    if (!cli::RestoreBatch(doc, prober, *keeper, &batch)) return 1;
    // Refused here, the restored batch stays for the next start.
    if (opt.saveBatch && opt.convert) CheckBatchTargetIsNoOutput(*opt.saveBatch, doc);
    if (!opt.quiet) std::printf("Restored the unsaved batch (%zu entries)\n", doc.GetCount());
  } else {
    if (!cli::BuildBatch(opt, outputFolder, doc, prober, &batch)) return 1;
    if (opt.saveBatch && opt.convert) CheckBatchTargetIsNoOutput(*opt.saveBatch, doc);
    // From here on a crash loses nothing of the batch: a copy is kept until a clean exit.
    keeper = std::make_unique<RecoveryKeeper>(doc);
  }
  const std::string& batchFile = batch.batchFile;
  const bool addFailed = batch.addFailed;
  const std::vector<cli::ResultRow>& rows = batch.rows;

  auto saveBatch = [&](const std::string& path) {
    std::string error;
    if (!doc.OnSaveDocument(path, &error)) {
      std::fprintf(stderr, "tavrion-convert: %s: %s\n", path.c_str(), error.c_str());
      return false;
    }
    if (!opt.quiet) std::printf("Saved the batch as %s\n", path.c_str());
    return true;
  };
  if (opt.saveBatch && !opt.convert) return saveBatch(*opt.saveBatch) && !addFailed ? 0 : 1;
  keeper->Tick();

  if (pipe2(g_wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) g_wakePipe[0] = g_wakePipe[1] = -1;
  struct sigaction action {};
  action.sa_handler = OnSigint;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
  // A run resets every state; the entries of a restored batch that take no part in it
  // (converted before) get theirs back for the report.
  std::vector<std::pair<CConvertOrder*, int>> restoredStates;
  if (opt.restore)
    for (size_t i = 0; i < doc.GetCount(); ++i)
      if (!doc.GetAt(i)->IsChecked()) restoredStates.emplace_back(doc.GetAt(i), doc.GetAt(i)->GetState());
  PlayerCore player;
  ConversionRun run(doc, *b);
  // No screen to show the frames on: the tee feeds the exporter alone.
  run.SetLivePreview(false);
  // --jobs: several entries at once, each in a lane of its own; one lane is the run above.
  int checked = 0;
  for (size_t i = 0; i < doc.GetCount(); ++i) checked += doc.GetAt(i)->IsChecked() ? 1 : 0;
  std::unique_ptr<SimultaneousRun> jobs;
  if (const int lanes = LanesFor(opt.jobs, checked, int(sysconf(_SC_NPROCESSORS_ONLN))); lanes > 1) {
    jobs = std::make_unique<SimultaneousRun>(doc, opt, lanes);
    jobs->Start(opt.resume);
  } else {
    run.StartConversion(&player, opt.resume);
  }
  auto converting = [&] { return jobs ? jobs->IsConverting() : run.IsConverting(); };
  auto outputsOf = [&](const CConvertOrder* e) { return jobs ? jobs->OutputsOf(e) : run.OutputsOf(e); };

  const bool tty = isatty(STDOUT_FILENO);
  int shownInterrupts = 0;
  bool warnedRecovery = false;
  DWORD lastPrint = 0;
  // A file's progress ends at 100%, with the size it came to, whenever the sampling
  // happened to look last.
  auto printFinished = [&] {
    if (!opt.quiet) {
      for (CConvertOrder* done : view.finished_) {
        LONGLONG bytes = 0;
        for (const std::string& f : outputsOf(done)) {
          struct stat st {};
          if (::stat(f.c_str(), &st) == 0) bytes += st.st_size;
        }
        std::printf("%s%s 100%% | %lld KB\n", tty ? "\r\033[K" : "", DisplayText(done->SourcePath().FileName()).c_str(),
                    static_cast<long long>(bytes / 1024));
      }
      std::fflush(stdout);
    }
    view.finished_.clear();
  };
  while (converting()) {
    if (jobs) {
      jobs->Poll(200, g_wakePipe[0]);
      DrainWakePipe();
    } else {
      WaitForMessageOrInterrupt(200);
    }
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
    keeper->Tick();
    if (!keeper->LastError().empty() && !warnedRecovery) {
      // The run goes on; only a crash would now lose the batch.
      warnedRecovery = true;
      std::string why = keeper->LastError();
      std::replace(why.begin(), why.end(), '\n', ' ');
      std::fprintf(stderr, "tavrion-convert: the batch cannot be kept for recovery: %s\n", why.c_str());
    }
    if (g_interrupts > shownInterrupts) {
      shownInterrupts = g_interrupts;
      if (jobs) {
        // "Break" for every running entry; the loop goes on until their workers end.
        jobs->Stop();
        continue;
      }
      run.StopConversion();  // "Break"
      break;
    }
    printFinished();
    if (opt.quiet || !converting()) continue;
    const DWORD now = GetTickCount();
    if (!tty && now - lastPrint < 2000) continue;
    lastPrint = now;
    if (jobs) {
      const std::string line = jobs->ProgressLine();
      if (tty) std::printf("\r\033[K%s", line.c_str());
      else std::printf("%s\n", line.c_str());
      std::fflush(stdout);
      continue;
    }
    int index = 0, count = 0;
    doc.GetFileCounters(&index, &count);
    LONGLONG fe, fr, te, tr;
    const LONG filePct = run.MapFileProgress(0, 100);
    run.GetFileTimes(&fe, &fr);
    const LONG totalPct = run.MapTotalProgress(0, 100);
    run.GetTotalTimes(&te, &tr);
    CConvertOrder* cur = run.GetCurrent();
    const LONGLONG estimate = run.EstimateCurrentOutputSize();
    char line[512];
    std::snprintf(line, sizeof line, "%s %ld%% %s/%s | file #%d from %d: %ld%% %s/%s | ~%lld KB",
                  cur ? DisplayText(cur->SourcePath().FileName()).c_str() : "", long(filePct), FormatTime(fe).c_str(),
                  TimeOrUnknown(fr).c_str(), index + 1, count, long(totalPct), FormatTime(te).c_str(),
                  TimeOrUnknown(tr).c_str(), static_cast<long long>(estimate / 1024));
    if (tty) std::printf("\r\033[K%s", line);
    else std::printf("%s\n", line);
    std::fflush(stdout);
  }
  printFinished();
  if (tty && !opt.quiet) std::printf("\r\033[K");

  for (auto& [e, state] : restoredStates)
    if (e->GetState() == CConvertOrder::kReady) e->RestoreState(state, e->GetInterruptedAt(), e->GetResultCode(), e->GetFailureReason());

  int status = addFailed ? 1 : 0;
  std::vector<CConvertOrder*> entries;
  for (const cli::ResultRow& row : rows) {
    if (!row.entry) {
      std::printf("%s -> -: %s\n", DisplayText(row.source).c_str(), DisplayText(row.failure).c_str());
      continue;
    }
    CConvertOrder* e = row.entry;
    entries.push_back(e);
    std::string outputs;
    // Only files that are there: a failed entry's prepared name may never have been written.
    for (const std::string& f : outputsOf(e)) {
      struct stat st {};
      if (::stat(f.c_str(), &st) == 0 && S_ISREG(st.st_mode)) outputs += (outputs.empty() ? "" : ", ") + f;
    }
    // An entry converted before the batch was restored.
    if (outputs.empty() && outputsOf(e).empty() && e->GetState() == CConvertOrder::kConverted) {
      struct stat st {};
      if (::stat(e->OutputPath().Full().c_str(), &st) == 0) outputs = e->OutputPath().Full();
    }
    if (outputs.empty()) outputs = "-";
    const bool converted = e->GetState() == CConvertOrder::kConverted;
    // An entry that is not checked takes no part in the run: it neither failed nor was
    // interrupted.
    if (!converted && e->IsChecked()) status = 1;
    const std::string statusText = jobs ? jobs->StatusOf(e) : e->GetStatusText();
    // Names keep their bytes on disk; shown, they are text (bytes that are not UTF-8 become
    // replacement characters).
    std::printf("%s -> %s: %s\n", DisplayText(e->SourcePath().Full()).c_str(), DisplayText(outputs).c_str(),
                DisplayText(statusText).c_str());
    if (opt.verbose && e->UsesSubtitles() && !e->GetSubtitleEncoding().empty())
      std::printf("  subtitles %s read in %s\n", e->SubtitlePath().Full().c_str(), e->GetSubtitleEncoding().c_str());
  }
  if (opt.demo && status == 0 && !entries.empty() && !outputsOf(entries.front()).empty())
    std::printf("The converted camera movie is at %s\n", outputsOf(entries.front()).back().c_str());
  for (CConvertOrder* e : view.removed_) doc.RemoveOrder(e);
  // The batch as the run left it: converted entries unchecked, or gone with --remove-after.
  std::string batchOut;
  if (opt.saveBatch) batchOut = *opt.saveBatch;
  else if (opt.removeAfter && !view.removed_.empty()) batchOut = batchFile;
  // Whatever the checks at the start foresaw, a movie this run wrote is never replaced.
  for (CConvertOrder* e : entries)
    for (const std::string& f : run.OutputsOf(e))
      if (!batchOut.empty() && SameFile(f, batchOut)) {
        std::fprintf(stderr, "tavrion-convert: %s is a movie this run wrote; the batch is not saved over it\n",
                     batchOut.c_str());
        batchOut.clear();
        status = 1;
      }
  if (!batchOut.empty() && !saveBatch(batchOut)) status = 1;
  // An interrupted movie can go on later only from the copy: it stays for the next start.
  bool interrupted = false;
  for (size_t i = 0; i < doc.GetCount(); ++i) interrupted = interrupted || doc.GetAt(i)->GetState() == CConvertOrder::kInterrupted;
  if (interrupted) {
    keeper->SaveNow();
    keeper->KeepOnExit(keeper->LastError().empty());
    if (!opt.quiet && keeper->LastError().empty())
      std::printf("The batch is kept: tavrion-convert --restore --resume continues the interrupted movies\n");
  }
  jobs.reset();
  keeper.reset();
  app.ExitEnvironment();
  return status;
}
