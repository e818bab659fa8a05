// The audio engine: compressed WAVE audio through libavcodec, PCM and float input taken as
// is, and everything converted by libswresample into the negotiated PCM format (16-bit at
// the stream's own rate and channels unless a format was forced). Output sample times
// count the samples delivered since the last discontinuity.
#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

#include "platform/filters/avcodecutil.h"
#include "platform/filters/decoders/avdecodeloop.h"
#include "platform/filters/decoders/decoderengine.h"
#include "platform/filters/decoders/packetpool.h"

namespace tav::filters {

namespace {

constexpr DWORD kMinRate = 1000;
constexpr DWORD kMaxRate = 384000;
constexpr WORD kMaxChannels = 8;
constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;

bool ValidPcmOutput(const CMediaType& mt, AVSampleFormat* fmt, bool* packed24) {
  if (mt.majortype != MEDIATYPE_Audio || mt.subtype != MEDIASUBTYPE_PCM) return false;
  const WAVEFORMATEX* wfx = AudioWaveFormat(mt);
  *fmt = RawSampleFormat(mt, packed24);
  if (!wfx || *fmt == AV_SAMPLE_FMT_NONE || *fmt == AV_SAMPLE_FMT_FLT || *fmt == AV_SAMPLE_FMT_DBL) return false;
  if (wfx->nChannels == 0 || wfx->nChannels > kMaxChannels) return false;
  if (wfx->nSamplesPerSec < kMinRate || wfx->nSamplesPerSec > kMaxRate) return false;
  return wfx->nBlockAlign == wfx->nChannels * wfx->wBitsPerSample / 8;
}

void LayoutFor(const WAVEFORMATEX& wfx, AVChannelLayout* layout) {
  if (wfx.wFormatTag == WAVE_FORMAT_EXTENSIBLE && wfx.cbSize >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) {
    const DWORD mask = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(wfx).dwChannelMask;
    if (mask && __builtin_popcount(mask) == wfx.nChannels) {
      av_channel_layout_from_mask(layout, mask);
      return;
    }
  }
  av_channel_layout_default(layout, wfx.nChannels);
}

class AudioEngineImpl final : public AudioEngine {
 public:
  explicit AudioEngineImpl(const AudioEngineOptions& o) : options_(o) {}

  // ---- forced output --------------------------------------------------------------------

  HRESULT SetForcedOutput(const CMediaType& mt) override {
    if (!mt.IsValid()) {
      forced_ = CMediaType();
      return S_OK;
    }
    AVSampleFormat fmt;
    bool p24;
    if (!ValidPcmOutput(mt, &fmt, &p24)) return VFW_E_INVALIDMEDIATYPE;
    forced_ = mt;
    return S_OK;
  }
  HRESULT GetForcedOutput(CMediaType* mt) override {
    if (!forced_.IsValid()) return S_FALSE;
    *mt = forced_;
    return S_OK;
  }

  // ---- negotiation ----------------------------------------------------------------------

  HRESULT CheckInputType(const CMediaType& in) override {
    if (in.majortype != MEDIATYPE_Audio) return VFW_E_TYPE_NOT_ACCEPTED;
    const WAVEFORMATEX* wfx = AudioWaveFormat(in);
    if (!wfx || wfx->nChannels == 0 || wfx->nChannels > kMaxChannels || wfx->nSamplesPerSec < kMinRate ||
        wfx->nSamplesPerSec > kMaxRate)
      return VFW_E_TYPE_NOT_ACCEPTED;
    if (RawSampleFormat(in) != AV_SAMPLE_FMT_NONE) return options_.acceptPcm ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    bool listed = !options_.tags && !options_.subtypes;
    if (options_.tags)
      for (const WORD* t = options_.tags; *t; ++t) listed = listed || *t == wfx->wFormatTag;
    if (options_.subtypes)
      for (const GUID* const* s = options_.subtypes; *s; ++s) listed = listed || **s == in.subtype;
    if (!listed) return VFW_E_TYPE_NOT_ACCEPTED;
    return AudioCodecId(in) != AV_CODEC_ID_NONE ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT GetMediaType(const CMediaType& in, int position, CMediaType* out) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    if (forced_.IsValid()) {
      *out = forced_;
      return S_OK;
    }
    const WAVEFORMATEX* wfx = AudioWaveFormat(in);
    if (!wfx) return E_UNEXPECTED;
    MakePcmType(wfx->nSamplesPerSec, wfx->nChannels, 16, out);
    return out->Format() ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT CheckTransform(const CMediaType& in, const CMediaType& out) override {
    AVSampleFormat fmt;
    bool p24;
    if (!ValidPcmOutput(out, &fmt, &p24)) return VFW_E_TYPE_NOT_ACCEPTED;
    const WAVEFORMATEX* ow = AudioWaveFormat(out);
    if (forced_.IsValid()) {
      const WAVEFORMATEX* fw = AudioWaveFormat(forced_);
      return fw->nSamplesPerSec == ow->nSamplesPerSec && fw->nChannels == ow->nChannels &&
                     fw->wBitsPerSample == ow->wBitsPerSample
                 ? S_OK
                 : VFW_E_TYPE_NOT_ACCEPTED;
    }
    // Converting rate, channels and width is the ACM wrapper's business; a decoder gives
    // the stream's own 16-bit PCM.
    if (options_.acceptPcm) return S_OK;
    const WAVEFORMATEX* iw = AudioWaveFormat(in);
    return iw && iw->nSamplesPerSec == ow->nSamplesPerSec && iw->nChannels == ow->nChannels && fmt == AV_SAMPLE_FMT_S16
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT DecideBufferSize(const CMediaType& out, IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override {
    const WAVEFORMATEX* ow = AudioWaveFormat(out);
    if (!ow || ow->nBlockAlign == 0) return E_UNEXPECTED;
    // About a tenth of a second per buffer.
    LONG size = LONG(ow->nAvgBytesPerSec / 10);
    size = std::max<LONG>(size - size % ow->nBlockAlign, ow->nBlockAlign * 256);
    props->cBuffers = std::max<LONG>(props->cBuffers, 8);
    props->cbBuffer = std::max<LONG>(props->cbBuffer, size);
    props->cbAlign = std::max<LONG>(props->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(props, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < ow->nBlockAlign ? E_FAIL : S_OK;
  }

  // ---- streaming ------------------------------------------------------------------------

  HRESULT Start(const CMediaType& in, const CMediaType& out) override {
    Stop();
    const WAVEFORMATEX* iw = AudioWaveFormat(in);
    const WAVEFORMATEX* ow = AudioWaveFormat(out);
    if (!iw || !ow || !ValidPcmOutput(out, &outFormat_, &outPacked24_)) return VFW_E_TYPE_NOT_ACCEPTED;
    outRate_ = int(ow->nSamplesPerSec);
    outBlockAlign_ = ow->nBlockAlign;
    LayoutFor(*ow, &outLayout_);
    rawFormat_ = RawSampleFormat(in, &rawPacked24_);
    inBlockAlign_ = iw->nBlockAlign;
    inRate_ = int(iw->nSamplesPerSec);
    LayoutFor(*iw, &inLayout_);
    if (rawFormat_ == AV_SAMPLE_FMT_NONE) {
      HRESULT hr = OpenAudioDecoder(in, &codec_);
      if (FAILED(hr)) return hr;
    } else if (inBlockAlign_ != iw->nChannels * iw->wBitsPerSample / 8) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!frame_ || !packet_) return E_OUTOFMEMORY;
    Flush();
    return S_OK;
  }

  void Stop() override {
    codec_.reset();
    swr_.reset();
    frame_.reset();
    packet_.reset();
    av_channel_layout_uninit(&inLayout_);
    av_channel_layout_uninit(&outLayout_);
    av_channel_layout_uninit(&swrInLayout_);
  }

  HRESULT Receive(IMediaSample* in, SampleSink& sink) override {
    BYTE* data = nullptr;
    if (FAILED(in->GetPointer(&data)) || !data) return E_POINTER;
    const long length = in->GetActualDataLength();
    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = SUCCEEDED(in->GetTime(&start, &stop));
    if (in->IsDiscontinuity() == S_OK || baseTime_ == kNoTime) {
      discontinuity_ = true;
      if (timed) {
        baseTime_ = start;
        samplesOut_ = 0;
      }
    }
    if (baseTime_ == kNoTime) baseTime_ = 0;

    if (!codec_) {
      const int count = int(length / inBlockAlign_);
      if (count <= 0) return S_OK;
      const uint8_t* planes[1] = {data};
      if (rawPacked24_) {
        // 24-bit PCM has no FFmpeg sample format: widen it to 32 bits first.
        const int n = count * inLayout_.nb_channels;
        widened_.resize(size_t(n) * 4);
        for (int i = 0; i < n; ++i) {
          const BYTE* s = data + i * 3;
          uint32_t v = (uint32_t(s[0]) << 8) | (uint32_t(s[1]) << 16) | (uint32_t(s[2]) << 24);
          std::memcpy(&widened_[size_t(i) * 4], &v, 4);
        }
        planes[0] = widened_.data();
      }
      return Convert(planes, count, rawFormat_, inLayout_, inRate_, sink);
    }

    if (length < 0 || packets_.Fill(packet_.get(), data, int(length)) < 0) return E_OUTOFMEMORY;
    packet_->pts = timed ? start : AV_NOPTS_VALUE;
    return Decode(packet_.get(), sink);
  }

  HRESULT Drain(SampleSink& sink) override {
    HRESULT hr = S_OK;
    if (codec_) {
      hr = Decode(nullptr, sink);
      avcodec_flush_buffers(codec_.get());
    }
    if (hr == S_OK && swr_) hr = Convert(nullptr, 0, AV_SAMPLE_FMT_NONE, swrInLayout_, swrInRate_, sink);
    return hr;
  }

  void Flush() override {
    if (codec_) avcodec_flush_buffers(codec_.get());
    swr_.reset();
    baseTime_ = kNoTime;
    samplesOut_ = 0;
    discontinuity_ = true;
  }

 private:
  static constexpr REFERENCE_TIME kNoTime = INT64_MIN;

  // Sends a packet (null: the end of the stream) and delivers the sound it gives. A damaged
  // packet costs its own samples, not the stream.
  HRESULT Decode(const AVPacket* packet, SampleSink& sink) {
    return DecodePacket(
        codec_.get(), packet, frame_.get(), S_OK,
        [&](AVFrame* f) {
          return Convert(const_cast<const uint8_t**>(f->extended_data), f->nb_samples, AVSampleFormat(f->format),
                         f->ch_layout, f->sample_rate, sink);
        },
        [this](int) -> HRESULT {
          ++decodeErrors_;
          return S_OK;
        });
  }

  // Converts count input samples (null input: what the resampler still holds) and
  // delivers them in as many output samples as their size needs.
  HRESULT Convert(const uint8_t** in, int count, AVSampleFormat format, const AVChannelLayout& layout, int rate,
                  SampleSink& sink) {
    if (in) {
      if (rate <= 0 || layout.nb_channels <= 0) return S_OK;
      if (!swr_ || format != swrInFormat_ || rate != swrInRate_ || av_channel_layout_compare(&layout, &swrInLayout_)) {
        SwrContext* s = nullptr;
        const AVSampleFormat outFmt = outFormat_;
        if (swr_alloc_set_opts2(&s, &outLayout_, outFmt, outRate_, const_cast<AVChannelLayout*>(&layout), format, rate, 0, nullptr) < 0 || !s)
          return E_OUTOFMEMORY;
        swr_.reset(s);
        if (swr_init(s) < 0) {
          swr_.reset();
          return E_FAIL;
        }
        swrInFormat_ = format;
        swrInRate_ = rate;
        av_channel_layout_uninit(&swrInLayout_);
        av_channel_layout_copy(&swrInLayout_, &layout);
      }
    }
    if (!swr_) return S_OK;
    const int capacity = swr_get_out_samples(swr_.get(), count);
    if (capacity <= 0) return S_OK;
    const int bytesPerSample = av_get_bytes_per_sample(outFormat_) * outLayout_.nb_channels;
    converted_.resize(size_t(capacity) * bytesPerSample);
    uint8_t* outPlanes[1] = {converted_.data()};
    const int produced = swr_convert(swr_.get(), outPlanes, capacity, in, count);
    if (produced <= 0) return S_OK;
    size_t bytes = size_t(produced) * bytesPerSample;
    if (outPacked24_) {
      // Narrow 32-bit samples to the 24-bit output in place.
      const size_t n = size_t(produced) * outLayout_.nb_channels;
      for (size_t i = 0; i < n; ++i) std::memmove(&converted_[i * 3], &converted_[i * 4 + 1], 3);
      bytes = n * 3;
    }
    return DeliverBytes(converted_.data(), bytes, sink);
  }

  HRESULT DeliverBytes(const uint8_t* data, size_t bytes, SampleSink& sink) {
    while (bytes > 0) {
      IMediaSample* out = nullptr;
      HRESULT hr = sink.GetBuffer(&out);
      if (FAILED(hr)) return hr;
      ComPtr<IMediaSample> hold;
      hold.Attach(out);
      BYTE* dst = nullptr;
      out->GetPointer(&dst);
      size_t room = size_t(out->GetSize());
      room -= room % outBlockAlign_;
      if (!dst || room == 0) return E_FAIL;
      const size_t chunk = std::min(room, bytes);
      std::memcpy(dst, data, chunk);
      const int64_t samples = int64_t(chunk / outBlockAlign_);
      REFERENCE_TIME start = baseTime_ + samplesOut_ * kUnitsPerSecond / outRate_;
      samplesOut_ += samples;
      REFERENCE_TIME stop = baseTime_ + samplesOut_ * kUnitsPerSecond / outRate_;
      out->SetTime(&start, &stop);
      out->SetActualDataLength(long(chunk));
      out->SetSyncPoint(TRUE);
      out->SetDiscontinuity(discontinuity_);
      out->SetPreroll(FALSE);
      discontinuity_ = false;
      hr = sink.Deliver(out);
      if (hr != S_OK) return hr;
      data += chunk;
      bytes -= chunk;
    }
    return S_OK;
  }

  // Configuration
  const AudioEngineOptions options_;
  CMediaType forced_;  // output forced through IAMStreamConfig; invalid when none

  // Negotiated at Start
  AvCodecContextPtr codec_;  // null for PCM / float input
  AVSampleFormat rawFormat_ = AV_SAMPLE_FMT_NONE;
  bool rawPacked24_ = false;
  int inBlockAlign_ = 0, inRate_ = 0;
  AVChannelLayout inLayout_{};
  AVSampleFormat outFormat_ = AV_SAMPLE_FMT_S16;
  bool outPacked24_ = false;
  int outRate_ = 0, outBlockAlign_ = 0;
  AVChannelLayout outLayout_{};

  // Runtime, streaming thread
  AvFramePtr frame_;
  AvPacketPtr packet_;
  PacketPool packets_;  // buffers of the packets handed to the codec
  SwrContextPtr swr_;
  AVSampleFormat swrInFormat_ = AV_SAMPLE_FMT_NONE;  // what swr_ was made for
  int swrInRate_ = 0;
  AVChannelLayout swrInLayout_{};
  std::vector<uint8_t> widened_, converted_;
  REFERENCE_TIME baseTime_ = kNoTime;  // start time of the run of output samples
  int64_t samplesOut_ = 0;             // samples delivered since baseTime_
  bool discontinuity_ = true;
  // Statistics
  long decodeErrors_ = 0;
};

}  // namespace

std::unique_ptr<AudioEngine> MakeAudioEngine(const AudioEngineOptions& options) {
  return std::make_unique<AudioEngineImpl>(options);
}

}  // namespace tav::filters
