#include "converter/cli/jobs.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <limits>

#include "converter/engine/startup.h"

namespace tav::cli {

int LanesFor(int requested, int checkedEntries, int cores) {
  const int wanted = requested > 0 ? requested : std::max(cores, 1);
  return std::max(1, std::min(wanted, checkedEntries));
}

int LanesFor(const Options& options, int checkedEntries) {
  return LanesFor(options.jobs, checkedEntries, int(sysconf(_SC_NPROCESSORS_ONLN)));
}

namespace {

// The options a worker runs with: what its command line (WorkerCommand) gives it.
Options WorkerOptions(const Options& options, int reportFd) {
  Options worker;
  worker.workerFd = reportFd;
  worker.subtitleEncoding = options.subtitleEncoding;
  return worker;
}

// How many entries the inputs make, as far as their names tell: a folder, a batch file or
// a restored batch may hold any number.
int ExpectedEntries(const Options& options) {
  if (options.restore) return std::numeric_limits<int>::max();
  for (const std::string& input : options.inputs) {
    std::error_code ec;
    const bool batchFile = input.size() > 4 && strcasecmp(input.c_str() + input.size() - 4, ".tvc") == 0;
    if (batchFile || std::filesystem::is_directory(input, ec)) return std::numeric_limits<int>::max();
  }
  return int(options.inputs.size());
}

int ThreadsOfThisProcess() {
  std::error_code ec;
  int threads = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/task", ec); !ec && it != std::filesystem::directory_iterator();
       it.increment(ec))
    ++threads;
  return threads;
}

}  // namespace

std::vector<StartedWorker> StartWorkersAhead(const Options& options) {
  if (options.jobs == 1 || (options.saveBatch && !options.convert)) return {};
  const int lanes = LanesFor(options, ExpectedEntries(options));
  if (lanes < 2 || ThreadsOfThisProcess() != 1) return {};
  PreloadComponentLibraries(std::string(), {"tavrionstreaming", "tavrionfilters", "captionparser", "vxvideokit",
                                            "vxcamwriter"});
  std::vector<StartedWorker> started;
  std::vector<int> parentEnds;  // the earlier workers' pipes: a later one must not hold them open
  for (int i = 0; i < lanes; ++i) {
    const StartedWorker w =
        ForkWorker([&options](int reportFd) { return RunWorker(WorkerOptions(options, reportFd)); }, parentEnds);
    if (w.pid < 0) break;  // the lanes start the rest from the worker command
    parentEnds.insert(parentEnds.end(), {w.reports, w.commands});
    started.push_back(w);
  }
  return started;
}

std::vector<std::string> WorkerCommand(const Options& options) {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  std::vector<std::string> command = {self.string(), "--worker", std::to_string(kWorkerReportFd)};
  if (options.subtitleEncoding) command.insert(command.end(), {"--subtitle-encoding", *options.subtitleEncoding});
  return command;
}

}  // namespace tav::cli
