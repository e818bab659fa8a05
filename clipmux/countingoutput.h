// The file end of the muxer: an AVIOContext over a file descriptor that knows how far the
// file has grown and can give the RIFF header the camera's form type.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct AVIOContext;

namespace clipmux {

class CountingOutput {
 public:
  // Offset of the last byte of the RIFF form type; "AVI " there becomes "AVI\x19".
  static constexpr int64_t kFormTypeLastByte = 11;
  static constexpr uint8_t kQvfFormTypeByte = 0x19;

  CountingOutput() = default;
  ~CountingOutput();
  CountingOutput(const CountingOutput&) = delete;
  CountingOutput& operator=(const CountingOutput&) = delete;

  // Creates (or truncates) the file. Returns 0 or a negative errno.
  int Open(const std::string& path, bool qvfFormType);
  // Flushes the context and closes the file. Returns 0 or a negative errno (a late write
  // failure shows here).
  int Close();

  AVIOContext* context() const { return avio_; }
  // Bytes the file holds once the buffer is flushed. Safe to read from any thread.
  int64_t BytesWritten() const { return bytes_.load(std::memory_order_relaxed); }
  // Brings BytesWritten up to date with what sits in the context's buffer.
  void UpdateCount();
  // Bytes the file holds once everything handed to the muxer is written, including packets
  // the muxer still holds back to interleave the streams; BytesWritten never reports less.
  void SetCommitted(int64_t bytes);
  // errno of the first failed write, or 0.
  int lastError() const { return error_; }

 private:
  static int WritePacket(void* opaque, uint8_t* buf, int size);
  static int64_t Seek(void* opaque, int64_t offset, int whence);

  int fd_ = -1;
  bool qvf_ = false;
  AVIOContext* avio_ = nullptr;
  // Where the next write lands and how far the file reaches (written on the encoder thread).
  int64_t position_ = 0;
  int64_t end_ = 0;
  int error_ = 0;
  int64_t committed_ = 0;  // see SetCommitted; 0 once the movie is closed
  // end_ plus buffered bytes, published for readers on other threads.
  std::atomic<int64_t> bytes_{0};
};

}  // namespace clipmux
