// tavrion-convert's pieces: the command line (options.cpp), the batch it builds
// (batch.cpp), and the run with its report (main.cpp).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "media/contract/wintypes.h"

namespace tav {
class CConvertOrder;
class CTavrionConverterDoc;
class FilterGraphBuilder;
class RecoveryKeeper;
}  // namespace tav

namespace tav::cli {

// The most movies --jobs converts at once.
inline constexpr int kMaxJobs = 64;

struct Options {
  std::optional<std::pair<int, int>> size;
  std::optional<double> fps;
  std::optional<int> fit;
  std::optional<ULONGLONG> split;
  std::optional<std::string> subtitles;
  std::optional<std::string> language;
  std::optional<std::string> subtitleSize;
  std::optional<std::string> subtitleEncoding;  // forced for every subtitle file without a byte-order mark
  std::optional<REFERENCE_TIME> start, end;
  std::optional<std::string> outputDir;
  bool removeAfter = false;
  std::optional<std::string> saveBatch;
  bool convert = false;
  bool restore = false;  // the batch of the last program that did not end cleanly
  bool resume = false;   // interrupted entries go on where they stopped
  int jobs = 1;           // movies converted at once; 0: one a core, at most the entries
  int workerFd = -1;  // a worker of --jobs (not for users): its report pipe
  int workerCores = 0;  // a worker's share of the cores (WorkerCores); 0: the machine's
  bool quiet = false;
  bool verbose = false;
  bool demo = false;
  std::vector<std::string> inputs;
};

// Prints the message and "(try --help)" on standard error and exits with status 2.
[[noreturn]] void UsageError(const std::string& message);
// The options of the command line, every name made absolute against the working folder.
// Usage errors exit; --help and --version print and exit.
Options Parse(int argc, char** argv);
// The output folder must exist and take new files; checked before anything is converted,
// since a run into it would fail every entry only once its graph starts. Returns the
// folder ending in a slash (a usage error otherwise).
std::string CheckOutputFolder(std::string dir);
// The batch is written only over nothing, an empty file or an older batch: never over a
// movie or a subtitle file named by mistake (a usage error otherwise).
void CheckBatchTarget(const Options& o, const std::string& target);
// With --convert the batch is saved after the run: never under a name the run's movies may
// take (an entry's output, its free "[n]" name or a numbered part). A usage error
// otherwise, before anything is converted.
void CheckBatchTargetIsNoOutput(const std::string& target, const CTavrionConverterDoc& doc);

// One result line: an entry of the batch, or a movie that could not be added and why.
struct ResultRow {
  std::string source;
  CConvertOrder* entry = nullptr;
  std::string failure;
};
struct Batch {
  std::string batchFile;        // the batch file given, if any
  std::vector<ResultRow> rows;  // in the order of the command line, batch entries first
  bool addFailed = false;       // a movie could not be added
};
// What a probe found of an entry's source (CConvertOrder::SetSourceInfo).
struct ProbedSource {
  REFERENCE_TIME duration = 0;
  int width = 0, height = 0;
  bool seekable = false;
};
// Loads the batch file given and adds the movies given, each probed with prober and set
// up from the options; with --jobs N the probes run N at a time (see ProbeAll). False when
// the batch file cannot be opened (said on standard error).
// probed: what the running program found of the source of a batch file of one entry (a
// worker's entry); that entry is not probed again.
bool BuildBatch(const Options& opt, const std::string& outputFolder, CTavrionConverterDoc& doc,
                FilterGraphBuilder& prober, Batch* out, const ProbedSource* probed = nullptr);

// Brings back the batch of the newest recovery copy left by a program that did not end
// cleanly: entries, settings and states, each entry probed. The copy is the keeper's now:
// written anew by keeper and removed. False when there is none or it cannot be read (said
// on standard error; a damaged copy is kept aside).
// probeThreads: how many entries are probed at a time (see ProbeAll).
bool RestoreBatch(CTavrionConverterDoc& doc, FilterGraphBuilder& prober, RecoveryKeeper& keeper, Batch* out,
                  int probeThreads = 1);

// Probes the entries (duration, frame size, whether the source can seek) on up to `threads`
// threads side by side: prober on this one, and a graph builder of its own on each of the
// others, vetoing filters as prober does. One thread probes them in order.
void ProbeAll(FilterGraphBuilder& prober, const std::vector<CConvertOrder*>& entries, int threads);

// Makes the demo's sample: a 5-second 352 x 240 MPEG-4 AVI with MP3 sound and a SAMI file
// in two languages next to it. Returns the movie's path; exits when it cannot be made.
std::string MakeDemoSample();

}  // namespace tav::cli
