#include "tests/tree/sourcetree.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace treetest {

namespace fs = std::filesystem;

namespace {

bool Skipped(const fs::path& dir) {
  const std::string name = dir.filename().string();
  if (name == ".git" || name == ".cache" || name.rfind("build", 0) == 0) return true;
  std::error_code ec;
  return fs::exists(dir / "CMakeCache.txt", ec);
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::vector<std::string> FilesUnder(const std::string& root, const std::string& sub,
                                    const std::vector<std::string>& suffixes) {
  std::vector<std::string> out;
  const fs::path base = sub.empty() ? fs::path(root) : fs::path(root) / sub;
  std::error_code ec;
  if (!fs::is_directory(base, ec)) return out;
  for (auto it = fs::recursive_directory_iterator(base, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_directory(ec)) {
      if (Skipped(it->path())) it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file(ec)) continue;
    const std::string rel = fs::relative(it->path(), root, ec).generic_string();
    if (suffixes.empty() ||
        std::any_of(suffixes.begin(), suffixes.end(), [&](const std::string& s) { return EndsWith(rel, s); }))
      out.push_back(rel);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace treetest
