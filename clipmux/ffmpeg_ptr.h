// Owning handles for the FFmpeg objects the encoder keeps.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
}

namespace clipmux {

struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FormatContextDeleter {
  void operator()(AVFormatContext* f) const { avformat_free_context(f); }
};
struct AudioFifoDeleter {
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};

using AVCodecContextUPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using AVFrameUPtr = std::unique_ptr<AVFrame, FrameDeleter>;
using AVPacketUPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using AVFormatContextUPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using AVAudioFifoUPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

}  // namespace clipmux
