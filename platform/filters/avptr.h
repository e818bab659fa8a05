// Owning handles for FFmpeg objects: the one set every user of FFmpeg holds them in (the
// platform's filters, the audio compression manager and clipmux).
#pragma once

#include <memory>

extern "C" {
#include <libavformat/avformat.h>
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace tav::filters {

// An input context (avformat_open_input).
struct AvFormatCloser {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
// An output context (avformat_alloc_output_context2); its file is closed by its writer.
struct AvFormatOutputFreer {
  void operator()(AVFormatContext* c) const { avformat_free_context(c); }
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
struct AvCodecContextFreer {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct AvFrameFreer {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct SwsContextFreer {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct SwrContextFreer {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
struct AvAudioFifoFreer {
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
using AvFormatPtr = std::unique_ptr<AVFormatContext, AvFormatCloser>;
using AvFormatOutputPtr = std::unique_ptr<AVFormatContext, AvFormatOutputFreer>;
using AvPacketPtr = std::unique_ptr<AVPacket, AvPacketFreer>;
using AvioPtr = std::unique_ptr<AVIOContext, AvioFreer>;
using AvCodecContextPtr = std::unique_ptr<AVCodecContext, AvCodecContextFreer>;
using AvFramePtr = std::unique_ptr<AVFrame, AvFrameFreer>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextFreer>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextFreer>;
using AvAudioFifoPtr = std::unique_ptr<AVAudioFifo, AvAudioFifoFreer>;

}  // namespace tav::filters
