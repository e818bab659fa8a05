// Walking the source tree for the tests that check the tree itself: its files (build folders
// and version-control data left out) and their text.
#pragma once

#include <string>
#include <vector>

namespace treetest {

// Every regular file below root/sub whose name ends with one of suffixes (all files when
// suffixes is empty), as paths relative to root with '/' separators, sorted. Folders that
// hold a build (CMakeCache.txt), version-control data or caches are skipped.
std::vector<std::string> FilesUnder(const std::string& root, const std::string& sub,
                                    const std::vector<std::string>& suffixes);
// The whole file, or empty when it cannot be read.
std::string ReadText(const std::string& path);

}  // namespace treetest
