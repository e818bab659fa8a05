// CPath: a file path split into its parts. Paths are POSIX paths: a path "has a drive"
// when it is absolute, and the folder separator is '/'.
#pragma once

#include <string>

namespace tav {

class CPath {
 public:
  CPath() = default;
  explicit CPath(std::string path) { Set(std::move(path)); }

  void Set(std::string path);
  void Clear() { Set(std::string()); }

  const std::string& Full() const { return full_; }
  bool IsEmpty() const { return full_.empty(); }
  // Drive (here "/" of an absolute path, else empty) + directory, ending in '/' when
  // not empty.
  std::string Folder() const { return drive_ + dir_; }
  std::string FileName() const { return title_ + ext_; }
  const std::string& Title() const { return title_; }
  // With its dot (".avi"), empty when the name has none.
  const std::string& Extension() const { return ext_; }
  bool HasDrive() const { return !drive_.empty(); }

  // Against the path of a file (base): a path without a drive becomes base's folder +
  // the file name; a path whose folder begins with base's folder keeps the rest of the
  // folder + the file name (relative); any other path is left as it is.
  void MakeRelative(const CPath& base);
  // A non-empty path without a drive becomes base's folder + the path, when base is not
  // empty.
  void MakeAbsolute(const CPath& base);

  bool operator==(const CPath& other) const { return full_ == other.full_; }

 private:
  std::string full_;
  std::string drive_;
  std::string dir_;
  std::string title_;
  std::string ext_;
};

// The path's extension in lower case, with its dot.
std::string LowerExtension(const std::string& path);
std::string ToLowerAscii(std::string s);

}  // namespace tav
