#include "libs/qvfreader/qvffilestream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

DWORD ReadDword(const BYTE* p) { return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24; }

int OpenForReading(const std::string& path) {
  if (path.empty() || path.size() > MAX_PATH) return -1;
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

}  // namespace

bool IsQvfHeader(const BYTE* h, int bytes) {
  if (!h || bytes < kQvfHeaderBytes) return false;
  DWORD form = ReadDword(h + 8);
  return std::memcmp(h, "RIFF", 4) == 0 && (form == kAviFormType || form == kQvfFormType) &&
         std::memcmp(h + 12, "LIST", 4) == 0 && std::memcmp(h + 20, "hdrl", 4) == 0 &&
         std::memcmp(h + 24, "avih", 4) == 0;
}

QvfProbe ProbeQvfFile(const std::string& path) {
  int fd = OpenForReading(path);
  if (fd < 0) return QvfProbe::CannotOpen;
  BYTE header[kQvfHeaderBytes];
  ssize_t got = 0;
  while (got < kQvfHeaderBytes) {
    ssize_t n = ::read(fd, header + got, size_t(kQvfHeaderBytes - got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += n;
  }
  ::close(fd);
  return IsQvfHeader(header, int(got)) ? QvfProbe::Movie : QvfProbe::Foreign;
}

void PatchQvfFormType(BYTE* buffer, LONGLONG position, LONG bytesRead) {
  if (buffer && position <= kQvfFormTypeLastByte && position + bytesRead > kQvfFormTypeLastByte)
    buffer[kQvfFormTypeLastByte - position] = 0x20;
}

QvfFileStream::QvfFileStream(std::function<std::string()> nameSource) : nameSource_(std::move(nameSource)) {
  InitializeCriticalSection(&lock_);
}

QvfFileStream::~QvfFileStream() {
  Lock();
  CloseLocked();
  Unlock();
  DeleteCriticalSection(&lock_);
}

HRESULT QvfFileStream::OpenLocked() {
  if (fd_ >= 0) return S_OK;
  fd_ = OpenForReading(nameSource_ ? nameSource_() : std::string());
  if (fd_ < 0) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  return S_OK;
}

void QvfFileStream::CloseLocked() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

HRESULT QvfFileStream::SetPointerLocked(LONGLONG position) {
  HRESULT hr = OpenLocked();
  if (FAILED(hr)) return hr;
  if (position < 0 || ::lseek(fd_, off_t(position), SEEK_SET) < 0) return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
  position_ = position;
  return S_OK;
}

HRESULT QvfFileStream::ReadLocked(BYTE* buffer, LONG count, BOOL /*aligned*/, LONG* read) {
  if (read) *read = 0;
  HRESULT hr = OpenLocked();
  if (FAILED(hr)) return hr;
  if (count < 0 || (!buffer && count > 0)) return E_FAIL;
  LONG got = 0;
  while (got < count) {
    ssize_t n = ::read(fd_, buffer + got, size_t(count - got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return E_FAIL;
    if (n == 0) break;
    got += LONG(n);
  }
  // Only a byte that was really delivered is rewritten: a short read near the start must
  // not leave a stray byte in the caller's buffer.
  PatchQvfFormType(buffer, position_, got);
  position_ += got;
  if (read) *read = got;
  return S_OK;
}

HRESULT QvfFileStream::SizeLocked(LONGLONG* size) {
  if (!size) return E_POINTER;
  HRESULT hr = OpenLocked();
  if (FAILED(hr)) return hr;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return E_FAIL;
  *size = LONGLONG(st.st_size);
  return S_OK;
}
