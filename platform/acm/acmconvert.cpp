#include "platform/acm/acmconvert.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "platform/filters/avptr.h"
#include "platform/filters/decoders/avdecodeloop.h"

namespace tav::acm {

namespace {

using tav::filters::AvCodecContextPtr;
using tav::filters::AvFramePtr;
using tav::filters::AvPacketPtr;
using tav::filters::SwrContextPtr;

struct ParserCloser {
  void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserCloser>;

// Source frames a PCM converter takes per step, and source bytes per step of a decoder fed
// by a parser; both keep the output waiting for the caller's next buffer small.
constexpr DWORD kPcmStepFrames = 4096;
constexpr DWORD kParserStepBytes = 1024;

// The part every converter shares: output waiting for room in the caller's buffer, handed
// out in whole destination blocks, and the loop that takes source only while nothing waits.
class ConverterBase : public Converter {
 public:
  ConverterBase(DWORD srcBlock, DWORD dstBlock) : srcBlock_(std::max<DWORD>(srcBlock, 1)), dstBlock_(std::max<DWORD>(dstBlock, 1)) {}

  MMRESULT Convert(const BYTE* src, DWORD srcLength, BYTE* dst, DWORD dstLength, DWORD flags, DWORD* srcUsed,
                   DWORD* dstUsed) override {
    *srcUsed = 0;
    *dstUsed = 0;
    if (flags & ACM_STREAMCONVERTF_START) Reset();
    Drain(dst, dstLength, dstUsed);
    const DWORD usable = srcLength / srcBlock_ * srcBlock_;
    while (Waiting() == 0 && *srcUsed < usable) {
      if (ended_) {
        // More source after the end of a stream begins a new one.
        if (!Restart()) return MMSYSERR_ERROR;
        ended_ = false;
      }
      DWORD taken = 0;
      if (!Consume(src + *srcUsed, usable - *srcUsed, &taken)) return MMSYSERR_ERROR;
      if (taken == 0) break;
      *srcUsed += taken;
      Drain(dst, dstLength, dstUsed);
    }
    if ((flags & ACM_STREAMCONVERTF_END) && *srcUsed == usable && !ended_) {
      if (!Flush()) return MMSYSERR_ERROR;
      ended_ = true;
      Drain(dst, dstLength, dstUsed);
    }
    return MMSYSERR_NOERROR;
  }

  void Reset() override {
    pending_.clear();
    pendingPos_ = 0;
    ended_ = false;
    Restart();
  }

  // Makes the codec ready for a new stream.
  virtual bool Restart() = 0;

 protected:
  // Takes some of `length` source bytes (whole source blocks), appending what comes out.
  virtual bool Consume(const BYTE* src, DWORD length, DWORD* taken) = 0;
  // Appends what the codec still holds.
  virtual bool Flush() = 0;

  void Append(const BYTE* data, size_t bytes) { pending_.insert(pending_.end(), data, data + bytes); }

 private:
  size_t Waiting() const { return pending_.size() - pendingPos_; }

  void Drain(BYTE* dst, DWORD dstLength, DWORD* dstUsed) {
    const size_t room = (dstLength - *dstUsed) / dstBlock_ * dstBlock_;
    const size_t n = std::min(room, Waiting() / dstBlock_ * dstBlock_);
    if (n) std::memcpy(dst + *dstUsed, pending_.data() + pendingPos_, n);
    *dstUsed += DWORD(n);
    pendingPos_ += n;
    if (pendingPos_ == pending_.size()) {
      pending_.clear();
      pendingPos_ = 0;
    }
  }

  const DWORD srcBlock_, dstBlock_;
  std::vector<BYTE> pending_;  // converted bytes not yet handed out, from pendingPos_ on
  size_t pendingPos_ = 0;
  bool ended_ = false;  // the codec has been flushed (END) and must restart for more source
};

void DefaultLayout(AVChannelLayout* layout, int channels) {
  av_channel_layout_uninit(layout);
  av_channel_layout_default(layout, channels);
}

AVSampleFormat PcmSampleFormat(const WAVEFORMATEX& w) { return w.wBitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16; }

// Converts interleaved or planar audio to the interleaved PCM of `out`, appending to `sink`.
class Resampler {
 public:
  ~Resampler() {
    av_channel_layout_uninit(&inLayout_);
  }

  bool Setup(const AVChannelLayout& inLayout, AVSampleFormat inFormat, int inRate, const WAVEFORMATEX& out) {
    if (swr_ && inFormat == inFormat_ && inRate == inRate_ && av_channel_layout_compare(&inLayout, &inLayout_) == 0)
      return true;
    AVChannelLayout outLayout{};
    DefaultLayout(&outLayout, out.nChannels);
    SwrContext* s = nullptr;
    const int r = swr_alloc_set_opts2(&s, &outLayout, PcmSampleFormat(out), int(out.nSamplesPerSec),
                                      const_cast<AVChannelLayout*>(&inLayout),
                                      inFormat, inRate, 0, nullptr);
    av_channel_layout_uninit(&outLayout);
    if (r < 0 || !s) return false;
    swr_.reset(s);
    if (swr_init(swr_.get()) < 0) {
      swr_.reset();
      return false;
    }
    inFormat_ = inFormat;
    inRate_ = inRate;
    av_channel_layout_uninit(&inLayout_);
    av_channel_layout_copy(&inLayout_, &inLayout);
    outBlock_ = out.nBlockAlign;
    return true;
  }

  // `in` null flushes what the resampler holds.
  bool Run(const uint8_t* const* in, int frames, std::vector<BYTE>* out) {
    if (!swr_) return true;
    const int room = swr_get_out_samples(swr_.get(), frames);
    if (room < 0) return false;
    if (room == 0) return true;
    buffer_.resize(size_t(room) * outBlock_);
    uint8_t* dst = buffer_.data();
    const int got = swr_convert(swr_.get(), &dst, room, const_cast<const uint8_t**>(in), frames);
    if (got < 0) return false;
    out->insert(out->end(), buffer_.begin(), buffer_.begin() + size_t(got) * outBlock_);
    return true;
  }

  void Drop() { swr_.reset(); }

 private:
  SwrContextPtr swr_;
  AVSampleFormat inFormat_ = AV_SAMPLE_FMT_NONE;
  int inRate_ = 0;
  AVChannelLayout inLayout_{};
  DWORD outBlock_ = 1;
  std::vector<BYTE> buffer_;
};

// ---- PCM to PCM ----------------------------------------------------------------------------

class PcmConverter final : public ConverterBase {
 public:
  PcmConverter(const WAVEFORMATEX& src, const WAVEFORMATEX& dst)
      : ConverterBase(src.nBlockAlign, dst.nBlockAlign), src_(src), dst_(dst) {}
  ~PcmConverter() override { av_channel_layout_uninit(&layout_); }

  bool Restart() override {
    resampler_.Drop();
    DefaultLayout(&layout_, src_.nChannels);
    return resampler_.Setup(layout_, PcmSampleFormat(src_), int(src_.nSamplesPerSec), dst_);
  }

 protected:
  bool Consume(const BYTE* src, DWORD length, DWORD* taken) override {
    const DWORD frames = std::min(length / src_.nBlockAlign, kPcmStepFrames);
    const uint8_t* in[1] = {src};
    if (!resampler_.Run(in, int(frames), &out_)) return false;
    Append(out_.data(), out_.size());
    out_.clear();
    *taken = frames * src_.nBlockAlign;
    return true;
  }

  bool Flush() override {
    if (!resampler_.Run(nullptr, 0, &out_)) return false;
    Append(out_.data(), out_.size());
    out_.clear();
    return true;
  }

 private:
  const WAVEFORMATEX src_, dst_;
  AVChannelLayout layout_{};
  Resampler resampler_;
  std::vector<BYTE> out_;
};

// ---- compressing ---------------------------------------------------------------------------

class Encoder final : public ConverterBase {
 public:
  Encoder(const AVCodec* codec, const WAVEFORMATEX& src, const WAVEFORMATEX& dst)
      : ConverterBase(src.nBlockAlign, dst.nBlockAlign), codec_(codec), src_(src), dst_(dst) {}

  bool Restart() override {
    held_.clear();
    nextPts_ = 0;
    ctx_.reset(avcodec_alloc_context3(codec_));
    if (!ctx_) return false;
    ctx_->sample_rate = int(src_.nSamplesPerSec);
    DefaultLayout(&ctx_->ch_layout, src_.nChannels);
    ctx_->sample_fmt = AV_SAMPLE_FMT_NONE;
    for (const AVSampleFormat* f = codec_->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f)
      if (*f == AV_SAMPLE_FMT_S16P || (*f == AV_SAMPLE_FMT_S16 && ctx_->sample_fmt == AV_SAMPLE_FMT_NONE))
        ctx_->sample_fmt = *f;
    if (ctx_->sample_fmt == AV_SAMPLE_FMT_NONE) return false;
    ctx_->time_base = AVRational{1, int(src_.nSamplesPerSec)};
    AVDictionary* options = nullptr;
    if (dst_.wFormatTag == WAVE_FORMAT_MPEGLAYER3) ctx_->bit_rate = int64_t(dst_.nAvgBytesPerSec) * 8;
    if (dst_.wFormatTag == WAVE_FORMAT_IMA_ADPCM) av_dict_set_int(&options, "block_size", dst_.nBlockAlign, 0);
    const int r = avcodec_open2(ctx_.get(), codec_, &options);
    av_dict_free(&options);
    if (r < 0) return false;
    // The blocks the encoder makes must be the blocks the format announces.
    if (dst_.nBlockAlign > 1 && ctx_->block_align && ctx_->block_align != dst_.nBlockAlign) return false;
    frameSamples_ = ctx_->frame_size > 0 ? ctx_->frame_size : int(kPcmStepFrames);
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    return frame_ && packet_;
  }

 protected:
  bool Consume(const BYTE* src, DWORD length, DWORD* taken) override {
    const DWORD channels = src_.nChannels;
    const DWORD heldFrames = DWORD(held_.size() / channels);
    const DWORD frames = std::min<DWORD>(length / src_.nBlockAlign, DWORD(frameSamples_) - heldFrames);
    const size_t at = held_.size();
    held_.resize(at + size_t(frames) * channels);
    std::memcpy(held_.data() + at, src, size_t(frames) * src_.nBlockAlign);
    *taken = frames * src_.nBlockAlign;
    if (held_.size() / channels == size_t(frameSamples_)) return EncodeHeld();
    return true;
  }

  bool Flush() override {
    if (!held_.empty() && !EncodeHeld()) return false;
    if (avcodec_send_frame(ctx_.get(), nullptr) < 0) return false;
    return ReceivePackets();
  }

 private:
  bool EncodeHeld() {
    const int channels = src_.nChannels;
    int frames = int(held_.size() / channels);
    const bool smallLastFrame = codec_->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    if (frames < frameSamples_ && !smallLastFrame) {
      held_.resize(size_t(frameSamples_) * channels, 0);  // the last block is filled with silence
      frames = frameSamples_;
    }
    av_frame_unref(frame_.get());
    frame_->nb_samples = frames;
    frame_->format = ctx_->sample_fmt;
    frame_->sample_rate = ctx_->sample_rate;
    if (av_channel_layout_copy(&frame_->ch_layout, &ctx_->ch_layout) < 0) return false;
    if (av_frame_get_buffer(frame_.get(), 0) < 0) return false;
    if (ctx_->sample_fmt == AV_SAMPLE_FMT_S16P) {
      for (int c = 0; c < channels; ++c) {
        auto* plane = reinterpret_cast<int16_t*>(frame_->extended_data[c]);
        for (int i = 0; i < frames; ++i) plane[i] = held_[size_t(i) * channels + c];
      }
    } else {
      std::memcpy(frame_->data[0], held_.data(), size_t(frames) * channels * sizeof(int16_t));
    }
    frame_->pts = nextPts_;
    nextPts_ += frames;
    held_.clear();
    if (avcodec_send_frame(ctx_.get(), frame_.get()) < 0) return false;
    return ReceivePackets();
  }

  bool ReceivePackets() {
    for (;;) {
      const int r = avcodec_receive_packet(ctx_.get(), packet_.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return false;
      Append(packet_->data, size_t(packet_->size));
      av_packet_unref(packet_.get());
    }
  }

  const AVCodec* const codec_;
  const WAVEFORMATEX src_, dst_;
  AvCodecContextPtr ctx_;
  AvFramePtr frame_;
  AvPacketPtr packet_;
  int frameSamples_ = 0;
  std::vector<int16_t> held_;  // interleaved source samples short of a whole codec frame
  int64_t nextPts_ = 0;
};

// ---- decompressing -------------------------------------------------------------------------

class Decoder final : public ConverterBase {
 public:
  Decoder(const AVCodec* codec, const WAVEFORMATEX& src, const WAVEFORMATEX& dst)
      : ConverterBase(src.nBlockAlign, dst.nBlockAlign), codec_(codec), src_(src), dst_(dst) {}

  bool Restart() override {
    resampler_.Drop();
    ctx_.reset(avcodec_alloc_context3(codec_));
    if (!ctx_) return false;
    ctx_->sample_rate = int(src_.nSamplesPerSec);
    DefaultLayout(&ctx_->ch_layout, src_.nChannels);
    ctx_->block_align = src_.nBlockAlign;
    ctx_->bits_per_coded_sample = src_.wBitsPerSample;
    if (avcodec_open2(ctx_.get(), codec_, nullptr) < 0) return false;
    if (codec_->id == AV_CODEC_ID_MP3) {
      parser_.reset(av_parser_init(AV_CODEC_ID_MP3));
      if (!parser_) return false;
    }
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    return frame_ && packet_;
  }

 protected:
  bool Consume(const BYTE* src, DWORD length, DWORD* taken) override {
    if (parser_) {
      // The parser reads (and copies) up to AV_INPUT_BUFFER_PADDING_SIZE bytes past the end
      // of what it is given, so it gets a zero-padded copy rather than the caller's buffer.
      const DWORD step = std::min(length, kParserStepBytes);
      *taken = step;
      std::memcpy(parserInput_.data(), src, step);
      std::memset(parserInput_.data() + step, 0, AV_INPUT_BUFFER_PADDING_SIZE);
      return Parse(parserInput_.data(), int(step));
    }
    // Block formats: one block per packet for ADPCM, a run of whole frames for G.711.
    DWORD bytes = src_.nBlockAlign;
    if (src_.wFormatTag != WAVE_FORMAT_IMA_ADPCM) bytes = std::min(length, kPcmStepFrames * src_.nBlockAlign);
    *taken = bytes;
    return Decode(src, int(bytes));
  }

  bool Flush() override {
    if (parser_ && !Parse(nullptr, 0)) return false;
    return Decode(nullptr);
  }

 private:
  bool Parse(const BYTE* data, int size) {
    do {
      uint8_t* out = nullptr;
      int outSize = 0;
      const int used = av_parser_parse2(parser_.get(), ctx_.get(), &out, &outSize, data, size, AV_NOPTS_VALUE,
                                        AV_NOPTS_VALUE, 0);
      if (used < 0) return false;
      if (data) {
        data += used;
        size -= used;
      }
      if (outSize > 0 && !Decode(out, outSize)) return false;
      if (outSize == 0 && (!data || used == 0)) break;  // flushed, or nothing more to take
    } while (size > 0);
    return true;
  }

  bool Decode(const BYTE* data, int size) {
    packet_->data = const_cast<uint8_t*>(data);
    packet_->size = size;
    const bool ok = Decode(packet_.get());
    packet_->data = nullptr;
    packet_->size = 0;
    return ok;
  }

  // Sends a packet (null: the end of the stream) and keeps the converted sound it gives.
  // Damaged data is skipped, as a decoder in a stream does; the next packet goes on.
  bool Decode(const AVPacket* packet) {
    return tav::filters::DecodePacket(
        ctx_.get(), packet, frame_.get(), true,
        [this](AVFrame* f) {
          if (!resampler_.Setup(f->ch_layout, AVSampleFormat(f->format), f->sample_rate, dst_) ||
              !resampler_.Run(f->extended_data, f->nb_samples, &out_))
            return false;
          Append(out_.data(), out_.size());
          out_.clear();
          return true;
        },
        [](int err) { return err == AVERROR_INVALIDDATA; });
  }

  const AVCodec* const codec_;
  const WAVEFORMATEX src_, dst_;
  AvCodecContextPtr ctx_;
  ParserPtr parser_;
  std::vector<BYTE> parserInput_ = std::vector<BYTE>(kParserStepBytes + AV_INPUT_BUFFER_PADDING_SIZE);
  AvFramePtr frame_;
  AvPacketPtr packet_;
  Resampler resampler_;
  std::vector<BYTE> out_;
};

AVCodecID CodecOf(WORD tag) {
  switch (tag) {
    case WAVE_FORMAT_MPEGLAYER3: return AV_CODEC_ID_MP3;
    case WAVE_FORMAT_IMA_ADPCM: return AV_CODEC_ID_ADPCM_IMA_WAV;
    case WAVE_FORMAT_ALAW: return AV_CODEC_ID_PCM_ALAW;
    case WAVE_FORMAT_MULAW: return AV_CODEC_ID_PCM_MULAW;
    default: return AV_CODEC_ID_NONE;
  }
}

}  // namespace

std::unique_ptr<Converter> MakeConverter(const DriverInfo& driver, const WAVEFORMATEX& src, const WAVEFORMATEX& dst) {
  std::unique_ptr<ConverterBase> converter;
  if (src.wFormatTag == WAVE_FORMAT_PCM && dst.wFormatTag == WAVE_FORMAT_PCM) {
    converter = std::make_unique<PcmConverter>(src, dst);
  } else if (src.wFormatTag == WAVE_FORMAT_PCM) {
    const AVCodec* codec = dst.wFormatTag == WAVE_FORMAT_MPEGLAYER3 ? avcodec_find_encoder_by_name("libmp3lame")
                                                                     : avcodec_find_encoder(CodecOf(dst.wFormatTag));
    if (!codec) return nullptr;
    converter = std::make_unique<Encoder>(codec, src, dst);
  } else {
    const AVCodec* codec = avcodec_find_decoder(CodecOf(src.wFormatTag));
    if (!codec) return nullptr;
    converter = std::make_unique<Decoder>(codec, src, dst);
  }
  if (!converter->Restart()) return nullptr;
  return converter;
}

}  // namespace tav::acm
