#include "platform/filters/decoders/packetpool.h"

#include <climits>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tav::filters {

int PacketPool::Fill(AVPacket* packet, const uint8_t* data, int size) {
  if (!packet || size < 0 || (size > 0 && !data)) return AVERROR(EINVAL);
  av_packet_unref(packet);
  if (size > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE) return AVERROR(EINVAL);
  const int need = size + AV_INPUT_BUFFER_PADDING_SIZE;
  if (!pool_ || need > bufferBytes_) {
    // Twice what is needed, so that a stream whose packets slowly grow makes few pools.
    int bytes = need < kMinBufferBytes ? kMinBufferBytes : need;
    if (bytes <= INT_MAX / 2) bytes *= 2;
    pool_.reset(av_buffer_pool_init(size_t(bytes), av_buffer_alloc));
    if (!pool_) {
      bufferBytes_ = 0;
      return AVERROR(ENOMEM);
    }
    bufferBytes_ = bytes;
  }
  AVBufferRef* buffer = av_buffer_pool_get(pool_.get());
  if (!buffer) return AVERROR(ENOMEM);
  if (size > 0) std::memcpy(buffer->data, data, size_t(size));
  std::memset(buffer->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  packet->buf = buffer;
  packet->data = buffer->data;
  packet->size = size;
  return 0;
}

}  // namespace tav::filters
