#include "clipmux/picturepool.h"

#include <cstdint>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace clipmux {

namespace {

size_t AlignUp(size_t n, size_t a) { return (n + a - 1) / a * a; }

}  // namespace

int PicturePool::Open(AVCodecContext* encoder) {
  if (!encoder || encoder->width <= 0 || encoder->height <= 0) return AVERROR(EINVAL);
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(encoder->pix_fmt);
  if (!desc || desc->nb_components != 3 || desc->log2_chroma_w != 1 || desc->log2_chroma_h != 1)
    return AVERROR(EINVAL);
  width_ = encoder->width;
  height_ = encoder->height;
  format_ = encoder->pix_fmt;

  // The encoder's own pictures come from the codec's default buffer allocator at the padded
  // size: a picture asked for the same way has the same line sizes.
  AVFrame* probe = av_frame_alloc();
  if (!probe) return AVERROR(ENOMEM);
  probe->format = format_;
  probe->width = width_ + 2 * kEncoderEdge;
  probe->height = height_ + 2 * kEncoderEdge;
  int err = avcodec_default_get_buffer2(encoder, probe, 0);
  if (err >= 0) {
    for (int i = 0; i < 3; ++i) lines_[i] = probe->linesize[i];
  }
  av_frame_free(&probe);
  if (err < 0) {
    // Still a correct picture; the encoder just copies it.
    err = av_image_fill_linesizes(lines_, format_, int(AlignUp(size_t(width_), kAlignBytes)));
    if (err < 0) return err;
  }

  const size_t chromaRows = size_t(height_ + 1) / 2;
  const size_t rows[3] = {size_t(height_), chromaRows, chromaRows};
  size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    offsets_[i] = at;
    at = AlignUp(at + size_t(lines_[i]) * rows[i], kAlignBytes);
  }
  // Room to align the start, and a tail for SIMD reads past the last row.
  const size_t bytes = at + 2 * kAlignBytes;
  if (bytes > size_t(INT32_MAX)) return AVERROR(EINVAL);
  pool_.reset(av_buffer_pool_init(bytes, av_buffer_alloc));
  return pool_ ? 0 : AVERROR(ENOMEM);
}

int PicturePool::Get(AVFrame* picture) {
  if (!pool_ || !picture) return AVERROR(EINVAL);
  av_frame_unref(picture);
  AVBufferRef* buffer = av_buffer_pool_get(pool_.get());
  if (!buffer) return AVERROR(ENOMEM);
  picture->buf[0] = buffer;
  const uintptr_t start = AlignUp(reinterpret_cast<uintptr_t>(buffer->data), kAlignBytes);
  auto* base = reinterpret_cast<uint8_t*>(start);
  for (int i = 0; i < 3; ++i) {
    picture->data[i] = base + offsets_[i];
    picture->linesize[i] = lines_[i];
  }
  picture->format = format_;
  picture->width = width_;
  picture->height = height_;
  return 0;
}

}  // namespace clipmux
