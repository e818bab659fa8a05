// Owning handles for FFmpeg objects.
#pragma once

#include <memory>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

namespace tav::filters {

struct AvFormatCloser {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct AvPacketFreer {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct AvioFreer {
  void operator()(AVIOContext* c) const {
    if (c) av_freep(&c->buffer);
    avio_context_free(&c);
  }
};
using AvFormatPtr = std::unique_ptr<AVFormatContext, AvFormatCloser>;
using AvPacketPtr = std::unique_ptr<AVPacket, AvPacketFreer>;
using AvioPtr = std::unique_ptr<AVIOContext, AvioFreer>;

}  // namespace tav::filters
