// The decoders' send / receive loop over real libavcodec codecs: an MPEG-4 stream with
// B-pictures (the codec holds pictures back, so the end of the stream must give them out),
// a status that stops delivery half way, and PCM packets too short to decode (the codec's
// error reaches the caller, who skips the packet or refuses the stream).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/filters/decoders/avdecodeloop.h"
#include "media/contract/hresult.h"
#include "platform/filters/avptr.h"

namespace {

using tav::filters::AvCodecContextPtr;
using tav::filters::AvFramePtr;
using tav::filters::AvPacketPtr;
using tav::filters::DecodePacket;

constexpr int kPictures = 12;

// kPictures MPEG-4 packets (two B-pictures between references), in decoding order.
std::vector<AvPacketPtr> EncodeMpeg4() {
  std::vector<AvPacketPtr> packets;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  if (!codec) return packets;
  AvCodecContextPtr ctx(avcodec_alloc_context3(codec));
  ctx->width = 64;
  ctx->height = 48;
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->time_base = {1, 25};
  ctx->max_b_frames = 2;
  ctx->gop_size = kPictures;
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return packets;
  AvFramePtr frame(av_frame_alloc());
  frame->width = ctx->width;
  frame->height = ctx->height;
  frame->format = ctx->pix_fmt;
  av_frame_get_buffer(frame.get(), 0);
  AvPacketPtr packet(av_packet_alloc());
  auto take = [&] {
    while (avcodec_receive_packet(ctx.get(), packet.get()) == 0) {
      packets.emplace_back(av_packet_clone(packet.get()));
      av_packet_unref(packet.get());
    }
  };
  for (int i = 0; i < kPictures; ++i) {
    av_frame_make_writable(frame.get());
    for (int p = 0; p < 3; ++p)
      std::memset(frame->data[p], 40 + i * 10, size_t(frame->linesize[p]) * (p ? ctx->height / 2 : ctx->height));
    frame->pts = i;
    avcodec_send_frame(ctx.get(), frame.get());
    take();
  }
  avcodec_send_frame(ctx.get(), nullptr);
  take();
  return packets;
}

AvCodecContextPtr OpenDecoder(AVCodecID id, int channels = 0) {
  const AVCodec* codec = avcodec_find_decoder(id);
  AvCodecContextPtr ctx(avcodec_alloc_context3(codec));
  if (channels) {
    ctx->sample_rate = 8000;
    av_channel_layout_default(&ctx->ch_layout, channels);
  }
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) ctx.reset();
  return ctx;
}

HRESULT NoErrorExpected(int err) {
  ADD_FAILURE() << "codec error " << err;
  return E_FAIL;
}

TEST(DecodeLoop, HeldPicturesComeOutAtTheEndInOrder_AndAStopStatusStopsAtOnce) {
  const auto packets = EncodeMpeg4();
  ASSERT_EQ(packets.size(), size_t(kPictures));
  AvCodecContextPtr ctx = OpenDecoder(AV_CODEC_ID_MPEG4);
  ASSERT_TRUE(ctx);
  AvFramePtr frame(av_frame_alloc());

  // The sink refuses the third picture it is offered, once: the loop stops there and says so.
  std::vector<int64_t> shown;
  int offered = 0;
  auto onFrame = [&](AVFrame* f) -> HRESULT {
    if (++offered == 3) return S_FALSE;
    shown.push_back(f->best_effort_timestamp);
    return S_OK;
  };
  int refusals = 0;
  for (const auto& packet : packets) {
    const HRESULT hr = DecodePacket(ctx.get(), packet.get(), frame.get(), S_OK, onFrame, NoErrorExpected);
    if (hr == S_FALSE) {
      ++refusals;
      EXPECT_EQ(offered, 3);
    } else {
      EXPECT_EQ(hr, S_OK);
    }
  }
  EXPECT_EQ(refusals, 1);
  // The codec held back pictures for reordering: the end of the stream gives them out.
  EXPECT_LT(offered, kPictures);
  EXPECT_EQ(DecodePacket(ctx.get(), nullptr, frame.get(), S_OK, onFrame, NoErrorExpected), S_OK);
  EXPECT_EQ(offered, kPictures);
  ASSERT_EQ(shown.size(), size_t(kPictures - 1));
  for (size_t i = 1; i < shown.size(); ++i) EXPECT_LT(shown[i - 1], shown[i]);
  // A second end of the stream finds nothing to send and nothing to give.
  EXPECT_EQ(DecodePacket(ctx.get(), nullptr, frame.get(), S_OK, onFrame, NoErrorExpected), S_OK);
  EXPECT_EQ(shown.size(), size_t(kPictures - 1));
}

TEST(DecodeLoop, ADamagedPacketGoesToTheCallerWhoSkipsItOrRefusesTheStream) {
  av_log_set_level(AV_LOG_QUIET);  // the codec says why it refuses the short packets
  AvCodecContextPtr ctx = OpenDecoder(AV_CODEC_ID_PCM_S16LE, 1);
  ASSERT_TRUE(ctx);
  AvFramePtr frame(av_frame_alloc());
  AvPacketPtr packet(av_packet_alloc());
  int samples = 0;
  std::vector<int> errors;
  auto onFrame = [&](AVFrame* f) {
    samples += f->nb_samples;
    return true;
  };
  auto send = [&](int bytes, bool skipDamage) {
    av_packet_unref(packet.get());
    av_new_packet(packet.get(), bytes);
    std::memset(packet->data, 0, size_t(bytes));
    return DecodePacket(ctx.get(), packet.get(), frame.get(), true, onFrame, [&](int err) {
      errors.push_back(err);
      return skipDamage;
    });
  };

  EXPECT_TRUE(send(200, true));
  EXPECT_EQ(samples, 100);
  // One byte is less than a sample: skipped, and the stream goes on.
  EXPECT_TRUE(send(1, true));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], AVERROR_INVALIDDATA);
  EXPECT_TRUE(send(40, true));
  EXPECT_EQ(samples, 120);
  // A caller that refuses damage hears of it as its own status.
  EXPECT_FALSE(send(1, false));
  EXPECT_EQ(errors.size(), 2u);
  EXPECT_EQ(samples, 120);
}

}  // namespace
