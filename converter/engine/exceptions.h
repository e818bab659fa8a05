// The file and archive errors of the engine (the counterparts of the framework's file
// and archive exceptions). Both carry a complete, user-readable message.
#pragma once

#include <stdexcept>
#include <string>

namespace tav {

class FileException : public std::runtime_error {
 public:
  // errnum: the errno of the failed call.
  FileException(std::string path, int errnum, const std::string& message)
      : std::runtime_error(message), path_(std::move(path)), errno_(errnum) {}
  const std::string& Path() const { return path_; }
  int Errno() const { return errno_; }

 private:
  std::string path_;
  int errno_;
};

class ArchiveException : public std::runtime_error {
 public:
  enum class Cause {
    kEndOfFile,    // the data ends inside a value
    kBadFormat,    // a value that cannot be (a length, a count, a tag where it may not be)
    kBadClass,     // an unknown class name
    kBadIndex,     // a reference to an object or class that was not read
  };
  ArchiveException(Cause cause, size_t offset);
  Cause GetCause() const { return cause_; }
  // Byte offset in the archive where reading stopped.
  size_t Offset() const { return offset_; }

 private:
  Cause cause_;
  size_t offset_;
};

// strerror text for errnum.
std::string ErrnoText(int errnum);

}  // namespace tav
