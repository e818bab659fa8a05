// The encoder's picture pool: the MPEG-4 encoder reads its pictures in place (no copy), and
// the buffers come back to the pool once the encoder lets them go.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>

#include "clipmux/picturepool.h"
#include "platform/filters/avptr.h"

namespace {

using tav::filters::AvCodecContextPtr;
using tav::filters::AvFramePtr;
using tav::filters::AvPacketPtr;

// The MPEG-4 encoder as the movie encoder opens it (the settings that shape its pictures).
AvCodecContextPtr OpenEncoder(int width, int height) {
  const AVCodec* codec = avcodec_find_encoder_by_name("mpeg4");
  if (!codec) return nullptr;
  AvCodecContextPtr c(avcodec_alloc_context3(codec));
  c->width = width;
  c->height = height;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = AVRational{1, 30};
  c->framerate = AVRational{30, 1};
  c->bit_rate = 600000;
  c->thread_count = 1;
  c->max_b_frames = 0;
  c->gop_size = 60;
  if (avcodec_open2(c.get(), codec, nullptr) < 0) return nullptr;
  return c;
}

void Grey(AVFrame* f) {
  for (int i = 0; i < 3; ++i) {
    const int rows = i == 0 ? f->height : (f->height + 1) / 2;
    for (int y = 0; y < rows; ++y) std::memset(f->data[i] + size_t(y) * f->linesize[i], 128, size_t(f->linesize[i]));
  }
}

}  // namespace

TEST(clipmux_PicturePool, TheEncoderTakesPooledPicturesByReference_AndTheBuffersCycle) {
  for (const auto& size : {std::pair{640, 480}, std::pair{320, 240}}) {
    SCOPED_TRACE(size.first);
    AvCodecContextPtr encoder = OpenEncoder(size.first, size.second);
    ASSERT_TRUE(encoder) << "the MPEG-4 encoder is not available";
    clipmux::PicturePool pool;
    ASSERT_GE(pool.Open(encoder.get()), 0);
    EXPECT_GT(pool.lineSize(0), size.first) << "lines as long as the encoder's own, edges included";

    // Two pictures in turn, as the movie encoder's two slots use them.
    AvFramePtr slots[2] = {AvFramePtr(av_frame_alloc()), AvFramePtr(av_frame_alloc())};
    AvPacketPtr packet(av_packet_alloc());
    std::set<const uint8_t*> seen;
    for (int n = 0; n < 12; ++n) {
      AVFrame* picture = slots[n % 2].get();
      ASSERT_GE(pool.Get(picture), 0);
      EXPECT_EQ(size.first, picture->width);
      EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(picture->data[0]) % clipmux::PicturePool::kAlignBytes);
      Grey(picture);
      picture->pts = n;
      ASSERT_EQ(0, avcodec_send_frame(encoder.get(), picture));
      // The encoder learns its line sizes when it makes its first picture of its own, so it
      // copies the very first frame.
      if (n > 0) {
        EXPECT_EQ(2, av_buffer_get_ref_count(picture->buf[0])) << "read in place, not copied (frame " << n << ")";
      }
      while (avcodec_receive_packet(encoder.get(), packet.get()) == 0) av_packet_unref(packet.get());
      seen.insert(picture->data[0]);
    }
    EXPECT_LE(seen.size(), 3u) << "buffers the encoder let go are handed out again";
  }
}
