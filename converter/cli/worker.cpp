// A worker of tavrion-convert --jobs: one process that converts entry after entry for the
// program that started it. It keeps its component libraries, its graph builder and its memory
// from entry to entry; what it reports is all the running program knows of the entry:
//
//   progress PERCENT ESTIMATED-BYTES        while it converts
//   outputs / output PATH ...               the files of the entry so far
//   encoding NAME                           the subtitle file's encoding
//   status TEXT                             the entry's status text
//   state STATE AT RESULT RESUME-AT NEXT-PART<tab>REASON   whenever the state changes
//   created                                 a new output file; it waits for "recorded"
//   done                                    the entry is finished with; the next may come
//
// What it is told, a line each, on its standard input:
//
//   cores K                                       its share of the cores, before its first
//                                                 entry (a worker forked ahead of the run)
//   stamp DEVICE INODE SIZE SECONDS NANOSECONDS   the movie the next entry resumes
//   source DURATION WIDTH HEIGHT SEEKABLE         what a probe found of the next entry's
//                                                 source (not probed again when told)
//   convert PATH RESUME-AT NEXT-PART              the batch file of the entry to convert
//   recorded                                      the answer to "created"
//
// The running program keeps the batch and its recovery copy: a worker keeps none.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>

extern "C" {
#include <libavutil/cpu.h>
}

#include "converter/cli/interrupts.h"
#include "converter/cli/jobs.h"
#include "converter/engine/conversionrun.h"
#include "converter/engine/document.h"
#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/startup.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/sync.h"
#include "media/contract/window.h"

namespace tav::cli {

namespace {

// How often a converting worker tells its progress: often enough for a window's bar to move
// smoothly, rarely enough to cost nothing.
constexpr DWORD kProgressEveryMs = 250;

// Report lines are single lines: a line break in a text would start a new report.
std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::replace(text.begin(), text.end(), '\r', ' ');
  return text;
}

class Reporter final : public DocumentObserver {
 public:
  Reporter(int fd, const ConversionRun& run) : fd_(fd), run_(run) {}

  void Write(const std::string& line) {
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // the running program is gone; it takes this process with it
      done += size_t(n);
    }
  }
  void Outputs(const CConvertOrder* e) {
    Write("outputs");
    for (const std::string& f : run_.OutputsOf(e)) Write("output " + OneLine(f));
  }
  void State(CConvertOrder* e) {
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
  // The output file (its name and its stamp) as the run created or finished it, so the
  // running program's recovery copy names it and can tell it from a file put there since.
  void Stamp(const CConvertOrder* e) {
    const CConvertOrder::OutputStamp& st = e->GetOutputStamp();
    char line[160];
    std::snprintf(line, sizeof line, "stamp %llu %llu %lld %lld %lld", static_cast<unsigned long long>(st.device),
                  static_cast<unsigned long long>(st.inode), static_cast<long long>(st.size),
                  static_cast<long long>(st.changeSec), static_cast<long long>(st.changeNsec));
    Write(line + std::string("\t") + OneLine(e->OutputPath().Full()));
  }
  void OnDocumentUpdate(DocumentHint hint, CConvertOrder* e, const std::string*) override {
    if (!e) return;
    if (hint == DocumentHint::kEntryStateChanged || hint == DocumentHint::kOutputCreated) {
      Stamp(e);
      State(e);
    }
    // A new output file: nothing goes into it before the running program's recovery copy
    // names it and its stamp. Killed before that, the copy would still name the part just
    // finished, and the next start would take this file for a stranger's.
    if (hint == DocumentHint::kOutputCreated) {
      Write("created");
      AwaitRecorded();
    }
  }

 private:
  // Until the running program answers "recorded" (or is gone, or this worker is told to
  // stop): the rest of its line is not looked at.
  static void AwaitRecorded() {
    char c;
    for (;;) {
      const ssize_t n = read(STDIN_FILENO, &c, 1);
      if (n < 0 && errno == EINTR && InterruptCount() == 0) continue;
      if (n <= 0 || c == '\n') return;
    }
  }

  int fd_;
  const ConversionRun& run_;
};

// The next line of standard input, false at its end.
bool ReadCommand(std::string* line) {
  line->clear();
  char c;
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return !line->empty();
    if (c == '\n') return true;
    *line += c;
  }
}

}  // namespace

int RunWorker(const Options& options) {
  // Its share of the cores when several workers run at once: from here on FFmpeg counts that
  // many in this process, and every codec that sizes its threads by the cores follows it
  // (the decoders' own choice, ChooseDecoderThreads in the filters, an encoder at automatic
  // threads). Set before any codec opens; a worker alone keeps the machine's count.
  if (options.workerCores > 0) av_cpu_force_count(options.workerCores);
  if (options.subtitleEncoding) SetSubtitleEncoding(*options.subtitleEncoding);
  CoInitialize(nullptr);
  // The running program registered the libraries; this repairs nothing unless one went.
  ReregisterCodecs(std::string(), {"tavrionstreaming"});
  ReregisterCodecs(std::string(), {"tavrionfilters", "captionparser", "vxvideokit", "vxcamwriter"});
  CTavrionConverterApp app;
  app.InitEnvironment("tavrion-convert.ini");
  CTavrionConverterDoc doc;
  auto builder = std::make_unique<FilterGraphBuilder>();
  FilterGraphBuilder* b = builder.get();
  FilterGraphBuilder prober;
  if (FAILED(doc.AttachConversionGraph(std::move(builder), &app)) || FAILED(prober.Init())) {
    std::fprintf(stderr, "tavrion-convert: the media platform could not be started\n");
    return 1;
  }
  prober.SetFilterVeto(&app);
  // Signals as the running program has them (Ctrl-C or SIGTERM from it, once, breaks the entry
  // off as with one at a time and ends the worker), but this worker's own.
  InstallInterruptHandlers();
  signal(SIGPIPE, SIG_IGN);

  PlayerCore player;
  ConversionRun run(doc, *b);
  run.SetLivePreview(false);
  Reporter reporter(options.workerFd, run);
  doc.AddObserver(&reporter);

  std::string command;
  CConvertOrder::OutputStamp stamp;  // of the movie the next entry resumes, when one is told
  std::optional<ProbedSource> probed;  // of the next entry's source, when it is told
  while (InterruptCount() == 0 && ReadCommand(&command)) {
    // "cores K": as "--worker-cores K" says it on the command line, before any codec opens.
    if (command.rfind("cores ", 0) == 0) {
      if (const int cores = std::atoi(command.c_str() + 6); cores > 0) av_cpu_force_count(cores);
      continue;
    }
    // "stamp DEVICE INODE SIZE SECONDS NANOSECONDS": the movie the next entry goes on from, as
    // this program last left it; a resume renames only that file into its numbered part.
    if (command.rfind("stamp ", 0) == 0) {
      unsigned long long device = 0, inode = 0;
      long long size = -1, sec = 0, nsec = 0;
      if (std::sscanf(command.c_str() + 6, "%llu %llu %lld %lld %lld", &device, &inode, &size, &sec, &nsec) == 5)
        stamp = CConvertOrder::OutputStamp{device, inode, size, sec, nsec};
      continue;
    }
    // "source DURATION WIDTH HEIGHT SEEKABLE": the running program probed the next entry's
    // source already; probing it again would cost as much as the probe did there.
    if (command.rfind("source ", 0) == 0) {
      long long duration = 0;
      int width = 0, height = 0, seekable = 0;
      if (std::sscanf(command.c_str() + 7, "%lld %d %d %d", &duration, &width, &height, &seekable) == 4 && duration > 0)
        probed = ProbedSource{REFERENCE_TIME(duration), width, height, seekable != 0};
      continue;
    }
    // "convert PATH RESUME-AT NEXT-PART": the path is everything between the word and the
    // last two numbers.
    const size_t last = command.rfind(' '), before = last == std::string::npos ? last : command.rfind(' ', last - 1);
    if (command.rfind("convert ", 0) != 0 || before == std::string::npos || before <= 8) continue;
    const std::string path = command.substr(8, before - 8);
    const long long resumeAt = std::atoll(command.c_str() + before + 1);
    const long nextPart = std::atol(command.c_str() + last + 1);

    doc.DeleteContents();
    Options one = options;
    one.inputs = {path};
    Batch batch;
    const std::optional<ProbedSource> known = std::exchange(probed, std::nullopt);
    if (!BuildBatch(one, std::string(), doc, prober, &batch, known ? &*known : nullptr) || doc.GetCount() != 1) {
      reporter.Write("done");
      continue;
    }
    CConvertOrder* entry = doc.GetAt(0);
    if (nextPart > 0) entry->SetResumePoint(resumeAt, LONG(nextPart));
    entry->SetOutputStamp(stamp);
    stamp = CConvertOrder::OutputStamp{};
    run.StartConversion(&player, nextPart > 0);
    DWORD lastProgress = 0;
    while (run.IsConverting()) {
      WaitForMessageOrInterrupt(200);
      MSG msg;
      while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
      if (InterruptCount() > 0) {
        run.StopConversion();  // "Break"
        break;
      }
      if (run.IsConverting() && GetTickCount() - lastProgress >= kProgressEveryMs) {
        lastProgress = GetTickCount();
        reporter.Write("progress " + std::to_string(run.MapFileProgress(0, 100)) + " " +
                       std::to_string(run.EstimateCurrentOutputSize()));
      }
    }
    // The last part is named only when the run tears down, after the last state change.
    reporter.Outputs(entry);
    reporter.Write("done");
  }
  doc.RemoveObserver(&reporter);
  doc.DeleteContents();
  app.ExitEnvironment();
  return InterruptCount() > 0 ? 1 : 0;
}

}  // namespace tav::cli
