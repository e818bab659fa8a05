#include "converter/cli/jobs.h"

#include <algorithm>
#include <filesystem>

namespace tav::cli {

int LanesFor(int requested, int checkedEntries, int cores) {
  const int wanted = requested > 0 ? requested : std::max(cores, 1);
  return std::max(1, std::min(wanted, checkedEntries));
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
