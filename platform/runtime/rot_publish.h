// Publishing the running object table of each process as a file, so that tools outside
// the process (platform/tools/rotlist) can list what a running conversion registered.
//
// Each process that has entries keeps one file, <folder>/<pid>, rewritten atomically
// (temporary file + rename) on every change and removed when its last entry goes or the
// process exits. The file names the process's start time, so a file left behind by a
// crashed process is recognised as stale even after its pid has been reused.
#pragma once

#include <string>
#include <vector>

#include "media/contract/wintypes.h"

namespace tav::rt {

// $XDG_RUNTIME_DIR/tavrion-rot, or /tmp/tavrion-rot-<uid> without a runtime folder.
std::string RunningObjectFolder();

// Replaces this process's published names (an empty list removes the file).
void PublishRunningObjects(const std::vector<std::string>& names);

struct PublishedProcess {
  DWORD pid = 0;
  std::string exe;
  std::vector<std::string> names;
};
// The entries of every live process, by pid; stale files are skipped (and removed).
std::vector<PublishedProcess> ReadPublishedRunningObjects();

}  // namespace tav::rt
