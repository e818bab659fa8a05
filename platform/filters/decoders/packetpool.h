// Compressed input for a decoder: a sample's bytes copied into a reference-counted packet
// whose buffer comes from a pool. The codec keeps references to the packets it is still
// working on (frame threads do), so the bytes must be copied out of the sample; the pool
// lets a stream's packets cycle through a few buffers instead of allocating one each.
#pragma once

#include <cstdint>
#include <memory>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/buffer.h>
}

namespace tav::filters {

class PacketPool {
 public:
  // Smallest buffer made, in bytes (padding included).
  static constexpr int kMinBufferBytes = 16 * 1024;

  // Unreferences `packet`, then fills it with a copy of `size` bytes at `data`, followed by
  // the zeroed padding libavcodec reads past the end. A packet larger than the pool's
  // buffers starts a pool of larger ones (the old buffers go once the codec lets them go).
  // Returns a negative AVERROR on failure.
  int Fill(AVPacket* packet, const uint8_t* data, int size);

  // The size of the pool's buffers (0 before the first packet).
  int bufferBytes() const { return bufferBytes_; }

 private:
  struct PoolDeleter {
    void operator()(AVBufferPool* p) const { av_buffer_pool_uninit(&p); }
  };

  // Runtime, the streaming thread's.
  int bufferBytes_ = 0;
  std::unique_ptr<AVBufferPool, PoolDeleter> pool_;
};

}  // namespace tav::filters
