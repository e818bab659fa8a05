// A flat picture of the registry for comparisons: one line per key and per value.
#pragma once

#include <set>
#include <string>

#include "media/contract/registry.h"

namespace qvftest {

// "K HKCR\a\b" for each key, "V HKCR\a\b|name=type:data" for each value, below both
// HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE.
std::set<std::string> SnapshotRegistry();
// Entries of after that are not in before.
std::set<std::string> Added(const std::set<std::string>& before, const std::set<std::string>& after);

}  // namespace qvftest
