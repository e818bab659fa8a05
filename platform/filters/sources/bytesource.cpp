#include "platform/filters/sources/bytesource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tav::filters {

FileByteSource::~FileByteSource() { Close(); }

HRESULT FileByteSource::Open(const std::string& path) {
  Close();
  // Not blocking in open: a named pipe would wait there for a writer. Only files (and
  // disks) are sources.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) return tav::HResultFromErrno(errno);
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
    Close();
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  return S_OK;
}

void FileByteSource::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

LONGLONG FileByteSource::Size() {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

LONG FileByteSource::ReadAt(LONGLONG offset, LONG count, BYTE* buffer) {
  if (fd_ < 0 || offset < 0 || count < 0) return -1;
  LONG done = 0;
  while (done < count) {
    ssize_t n = ::pread(fd_, buffer + done, size_t(count - done), off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return done ? done : -1;
    }
    if (n == 0) break;
    done += LONG(n);
  }
  return done;
}

LONGLONG AsyncReaderByteSource::Size() {
  LONGLONG total = 0, available = 0;
  if (FAILED(reader_->Length(&total, &available))) return -1;
  return total;
}

LONG AsyncReaderByteSource::ReadAt(LONGLONG offset, LONG count, BYTE* buffer) {
  const LONGLONG size = Size();
  if (offset < 0 || count < 0) return -1;
  if (size >= 0) {
    if (offset >= size) return 0;
    if (offset + count > size) count = LONG(size - offset);
  }
  if (count == 0) return 0;
  HRESULT hr = reader_->SyncRead(offset, count, buffer);
  return FAILED(hr) ? -1 : count;
}

LONG ReadAtByteSource(void* source, LONGLONG offset, LONG count, BYTE* buffer) {
  return static_cast<ByteSource*>(source)->ReadAt(offset, count, buffer);
}

}  // namespace tav::filters
