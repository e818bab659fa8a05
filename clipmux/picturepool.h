// Pictures for the MPEG-4 encoder, from a pool of buffers laid out like the encoder's own.
//
// The encoder reads a picture in place (taking a reference to its buffer) only when the
// picture is reference-counted, aligned, and its line sizes equal those of the pictures it
// allocates for itself; any other picture it copies into one of its own first. Its own
// pictures carry an edge of kEncoderEdge pixels on every side, so their lines are longer than
// the frame. This pool asks libavcodec for a picture of that padded size once, keeps its line
// sizes, and hands out frame-sized pictures with them. A buffer goes back to the pool when
// both the caller and the encoder have let it go, so after the first few frames no picture
// memory is allocated.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
}

namespace clipmux {

class PicturePool {
 public:
  // The picture edge of libavcodec's MPEG-4 encoder, in luma pixels.
  static constexpr int kEncoderEdge = 16;
  // Plane starts are aligned to this many bytes (the widest SIMD the codecs use).
  static constexpr int kAlignBytes = 64;

  // Lays the pictures out for `encoder` (opened, 4:2:0 planar). Returns a negative AVERROR on
  // failure.
  int Open(AVCodecContext* encoder);

  // Fills `picture` (its old buffers unreferenced first) with a pooled buffer of the
  // encoder's size, format and line sizes. The contents are undefined. Returns a negative
  // AVERROR on failure.
  int Get(AVFrame* picture);

  int lineSize(int plane) const { return lines_[plane]; }

 private:
  struct PoolDeleter {
    void operator()(AVBufferPool* p) const { av_buffer_pool_uninit(&p); }
  };

  // Configuration, set by Open.
  int width_ = 0, height_ = 0;
  AVPixelFormat format_ = AV_PIX_FMT_NONE;
  int lines_[3] = {};
  size_t offsets_[3] = {};  // plane starts from the aligned buffer start
  // Runtime: freed once every buffer handed out has come back.
  std::unique_ptr<AVBufferPool, PoolDeleter> pool_;
};

}  // namespace clipmux
