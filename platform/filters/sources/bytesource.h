// Random-access byte sources the demuxers read from: a file read with pread, or an
// upstream pin's IAsyncReader.
#pragma once

#include <string>

#include "media/contract/comptr.h"
#include "media/contract/strmif.h"

namespace tav::filters {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The stream's length in bytes; negative when unknown.
  virtual LONGLONG Size() = 0;
  // Reads up to count bytes at offset; the bytes read (fewer at the end), or -1 on failure.
  virtual LONG ReadAt(LONGLONG offset, LONG count, BYTE* buffer) = 0;
};

// A file opened read-only. Reads are positioned (pread), so any thread may read at once.
class FileByteSource final : public ByteSource {
 public:
  FileByteSource() = default;
  ~FileByteSource() override;
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;

  // The Win32 error of the failed open wrapped as a result code.
  HRESULT Open(const std::string& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  LONGLONG Size() override;
  LONG ReadAt(LONGLONG offset, LONG count, BYTE* buffer) override;

 private:
  int fd_ = -1;
};

// Reads through an upstream pin's IAsyncReader (SyncRead), clipped to its Length.
class AsyncReaderByteSource final : public ByteSource {
 public:
  explicit AsyncReaderByteSource(IAsyncReader* reader) : reader_(reader) {}
  LONGLONG Size() override;
  LONG ReadAt(LONGLONG offset, LONG count, BYTE* buffer) override;

 private:
  ComPtr<IAsyncReader> reader_;
};

// The ReadAtFn of mediatyperegistry.h over a ByteSource.
LONG ReadAtByteSource(void* source, LONGLONG offset, LONG count, BYTE* buffer);

}  // namespace tav::filters
