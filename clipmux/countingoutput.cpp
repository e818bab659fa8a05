#include "clipmux/countingoutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace clipmux {

namespace {
constexpr int kBufferBytes = 64 * 1024;
}

CountingOutput::~CountingOutput() { Close(); }

int CountingOutput::Open(const std::string& path, bool qvfFormType) {
  Close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) return -errno;
  qvf_ = qvfFormType;
  position_ = end_ = 0;
  error_ = 0;
  committed_ = 0;
  bytes_.store(0);
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
  if (buffer) avio_ = avio_alloc_context(buffer, kBufferBytes, 1, this, nullptr, &WritePacket, &Seek);
  if (!avio_) {
    av_free(buffer);
    ::close(fd_);
    fd_ = -1;
    return -ENOMEM;
  }
  // The AVI muxer goes back to fill in sizes and the header when the movie completes.
  avio_->seekable = AVIO_SEEKABLE_NORMAL;
  return 0;
}

int CountingOutput::Close() {
  int result = 0;
  // From here on the count is the size of the file itself.
  committed_ = 0;
  if (avio_) {
    avio_flush(avio_);
    if (avio_->error < 0) result = avio_->error;
    UpdateCount();
    av_freep(&avio_->buffer);
    avio_context_free(&avio_);
  }
  if (fd_ >= 0) {
    if (::close(fd_) != 0 && result == 0) result = -errno;
    fd_ = -1;
  }
  if (result == 0 && error_ != 0) result = -error_;
  return result;
}

void CountingOutput::UpdateCount() {
  int64_t reach = std::max(end_, committed_);
  if (avio_) reach = std::max(reach, avio_tell(avio_));
  bytes_.store(reach, std::memory_order_relaxed);
}

void CountingOutput::SetCommitted(int64_t bytes) {
  committed_ = bytes;
  UpdateCount();
}

int CountingOutput::WritePacket(void* opaque, uint8_t* buf, int size) {
  auto* self = static_cast<CountingOutput*>(opaque);
  if (self->error_ != 0) return AVERROR(self->error_);
  const uint8_t* data = buf;
  // The form type is written at the start and again when the muxer rewrites the header on
  // completion; whichever write covers its last byte carries the camera's value.
  std::vector<uint8_t> patched;
  const int64_t at = self->position_;
  if (self->qvf_ && at <= kFormTypeLastByte && at + size > kFormTypeLastByte) {
    patched.assign(buf, buf + size);
    patched[kFormTypeLastByte - at] = kQvfFormTypeByte;
    data = patched.data();
  }
  int done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(self->fd_, data + done, size - done, at + done);
    if (n < 0 && errno == ESPIPE) n = ::write(self->fd_, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      self->error_ = errno;
      return AVERROR(errno);
    }
    if (n == 0) {
      self->error_ = ENOSPC;
      return AVERROR(ENOSPC);
    }
    done += static_cast<int>(n);
  }
  self->position_ += size;
  self->end_ = std::max(self->end_, self->position_);
  self->bytes_.store(std::max(self->end_, self->committed_), std::memory_order_relaxed);
  return size;
}

int64_t CountingOutput::Seek(void* opaque, int64_t offset, int whence) {
  auto* self = static_cast<CountingOutput*>(opaque);
  int64_t target;
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
      return self->end_;
    case SEEK_SET:
      target = offset;
      break;
    case SEEK_CUR:
      target = self->position_ + offset;
      break;
    case SEEK_END:
      target = self->end_ + offset;
      break;
    default:
      return AVERROR(EINVAL);
  }
  if (target < 0) return AVERROR(EINVAL);
  self->position_ = target;
  return target;
}

}  // namespace clipmux
