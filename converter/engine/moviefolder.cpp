#include "converter/engine/moviefolder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <set>
#include <utility>

#include "converter/engine/document.h"
#include "converter/engine/strings.h"

namespace tav {

namespace {

struct DirClose {
  void operator()(DIR* d) const { closedir(d); }
};
using UniqueDir = std::unique_ptr<DIR, DirClose>;

// The folders already walked, by device and inode, so that a link back up is not followed.
using Visited = std::set<std::pair<dev_t, ino_t>>;

// The fixed text between the folder and the title of the default output name ("[QVF]-").
std::string OwnOutputPrefix() {
  const std::string pattern = res::Text(res::IDS_OUTPUT_NAME);
  const size_t folder = pattern.find("%1"), title = pattern.find("%2");
  if (folder == std::string::npos || title == std::string::npos || title < folder + 2) return std::string();
  return pattern.substr(folder + 2, title - folder - 2);
}

void Walk(const std::string& folder, Visited& visited, std::vector<std::string>* out) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  if (!visited.emplace(st.st_dev, st.st_ino).second) return;
  std::vector<std::string> names;
  {
    const UniqueDir dir(opendir(folder.c_str()));
    if (!dir) return;
    while (const dirent* e = readdir(dir.get())) {
      if (e->d_name[0] == '.') continue;  // ".", ".." and hidden entries
      names.emplace_back(e->d_name);
    }
  }
  std::sort(names.begin(), names.end());
  const std::string base = folder.back() == '/' ? folder : folder + '/';
  for (const std::string& name : names) {
    const std::string path = base + name;
    if (::stat(path.c_str(), &st) != 0) continue;  // a dangling link
    if (S_ISDIR(st.st_mode)) {
      Walk(path, visited, out);
    } else if (S_ISREG(st.st_mode) && CTavrionConverterDoc::IsMovieFile(name) && !IsOwnOutputName(name)) {
      out->push_back(path);
    }
  }
}

}  // namespace

bool IsOwnOutputName(const std::string& fileName) {
  const std::string prefix = OwnOutputPrefix();
  return !prefix.empty() && fileName.compare(0, prefix.size(), prefix) == 0;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> MovieFilesInFolder(const std::string& folder) {
  std::vector<std::string> found;
  Visited visited;
  if (!folder.empty()) Walk(folder, visited, &found);
  return found;
}

}  // namespace tav
