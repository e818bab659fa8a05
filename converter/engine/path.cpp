#include "converter/engine/path.h"

namespace tav {

void CPath::Set(std::string path) {
  full_ = std::move(path);
  drive_.clear();
  dir_.clear();
  title_.clear();
  ext_.clear();
  std::string_view rest = full_;
  if (!rest.empty() && rest.front() == '/') {
    drive_ = "/";
    rest.remove_prefix(1);
  }
  const size_t slash = rest.rfind('/');
  std::string_view name = rest;
  if (slash != std::string_view::npos) {
    dir_ = std::string(rest.substr(0, slash + 1));
    name = rest.substr(slash + 1);
  }
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) {
    title_ = std::string(name);
  } else {
    title_ = std::string(name.substr(0, dot));
    ext_ = std::string(name.substr(dot));
  }
}

void CPath::MakeRelative(const CPath& base) {
  const std::string baseFolder = base.Folder();
  if (!HasDrive()) {
    Set(baseFolder + FileName());
    return;
  }
  const std::string folder = Folder();
  if (folder.compare(0, baseFolder.size(), baseFolder) == 0 && !baseFolder.empty()) {
    Set(folder.substr(baseFolder.size()) + FileName());
  }
}

void CPath::MakeAbsolute(const CPath& base) {
  if (!IsEmpty() && !base.IsEmpty() && !HasDrive()) Set(base.Folder() + full_);
}

std::string ToLowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

std::string LowerExtension(const std::string& path) { return ToLowerAscii(CPath(path).Extension()); }

}  // namespace tav
