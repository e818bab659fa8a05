// The video engine: compressed video through libavcodec, uncompressed input taken as is,
// and every picture converted into the negotiated RGB or YUY2 layout, RGB bottom row first:
// by libyuv, or by libswscale where it scales (the DV decoder's reduced sizes, pixels made
// square) or the layout is a rare one. Pictures are delivered as a viewer sees them: a
// libavfilter graph deinterlaces interlaced pictures (one picture out per picture in) and
// turns or mirrors them upright as the source's display geometry says; the scaler then
// makes the pixels square. A picture delivered smaller than it is (IDecimateVideoImage) is
// shrunk first and turned small.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "media/contract/mediatypes.h"
#include "media/contract/trace.h"
#include "platform/filters/avcodecutil.h"
#include "platform/filters/decoders/avdecodeloop.h"
#include "platform/filters/decoders/avfilterlib.h"
#include "platform/filters/decoders/decoderengine.h"
#include "platform/filters/decoders/packetpool.h"
#include "platform/filters/decoders/pixelconvert.h"

TAV_TRACE_SOURCE(kFilters, "videoengine");

namespace tav::filters {

namespace {

constexpr LONG kMaxDimension = 16384;

// Codecs whose pictures are RGB or palette images: the RGB kinds come first for them.
bool DecodesToRgb(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_CINEPAK:
    case AV_CODEC_ID_MSVIDEO1:
    case AV_CODEC_ID_MSRLE:
    case AV_CODEC_ID_PNG:
    case AV_CODEC_ID_QTRLE:
    case AV_CODEC_ID_TSCC:
    case AV_CODEC_ID_RPZA:
    case AV_CODEC_ID_SMC:
      return true;
    default:
      return false;
  }
}

// Only graphs made through the loaded library exist, so the library is there to free them.
struct FilterGraphFreer {
  void operator()(AVFilterGraph* g) const { AvFilter()->graph_free(&g); }
};
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphFreer>;

// The libavfilter chain for a geometry: deinterlacing first, then the mirror and the turn.
std::string FilterChain(const DisplayGeometry& g, bool deinterlace) {
  std::string chain;
  auto add = [&chain](const char* f) {
    if (!chain.empty()) chain += ',';
    chain += f;
  };
  if (deinterlace) add("bwdif=mode=send_frame:parity=auto:deint=interlaced");
  if (g.mirror && g.quarterTurns == 2) {
    add("vflip");  // mirrored and turned half way: upside down
  } else {
    if (g.mirror) add("hflip");
    if (g.quarterTurns == 1) add("transpose=clock");
    else if (g.quarterTurns == 2) add("hflip,vflip");
    else if (g.quarterTurns == 3) add("transpose=cclock");
  }
  return chain;
}

class VideoEngine final : public DecoderEngine {
 public:
  explicit VideoEngine(const VideoEngineOptions& o) : options_(o) {}

  void SetScale(int divisor) { scale_ = std::clamp(divisor, 1, 8); }

  HRESULT SetDecimation(const CMediaType& in, LONG width, LONG height) {
    if (width == 0 && height == 0) {
      decimatedWidth_ = decimatedHeight_ = 0;
      return S_OK;
    }
    const BITMAPINFOHEADER* bih = VideoBitmapHeader(in);
    if (!bih) return E_FAIL;
    LONG w = 0, h = 0;
    DisplaySize(InputGeometry(in), bih->biWidth, std::abs(bih->biHeight), &w, &h);
    if (width < 1 || height < 1 || width > w || height > h) return E_FAIL;
    decimatedWidth_ = width;
    decimatedHeight_ = height;
    return S_OK;
  }

  // ---- negotiation ----------------------------------------------------------------------

  HRESULT CheckInputType(const CMediaType& in) override {
    if (in.majortype != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
    if (options_.subtypes) {
      bool listed = false;
      for (const GUID* const* s = options_.subtypes; *s; ++s) listed = listed || **s == in.subtype;
      if (!listed) return VFW_E_TYPE_NOT_ACCEPTED;
    }
    const BITMAPINFOHEADER* bih = VideoBitmapHeader(in);
    if (!bih || bih->biWidth <= 0 || bih->biWidth > kMaxDimension || bih->biHeight == 0 ||
        std::abs(bih->biHeight) > kMaxDimension)
      return VFW_E_TYPE_NOT_ACCEPTED;
    const bool raw = RawPixelFormat(in) != AV_PIX_FMT_NONE;
    if (raw) return options_.compressedOnly ? VFW_E_TYPE_NOT_ACCEPTED : S_OK;
    if (options_.uncompressedOnly) return VFW_E_TYPE_NOT_ACCEPTED;
    return VideoCodecId(in) != AV_CODEC_ID_NONE ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT GetMediaType(const CMediaType& in, int position, CMediaType* out) override {
    if (position < 0) return E_INVALIDARG;
    const VideoOutputKind* order[5];
    const int n = OutputOrder(in, order);
    if (position >= n) return VFW_S_NO_MORE_ITEMS;
    REFERENCE_TIME avg = 0;
    const BITMAPINFOHEADER* bih = VideoBitmapHeader(in, &avg);
    if (!bih) return E_UNEXPECTED;
    const DisplayGeometry g = InputGeometry(in);
    MakeVideoOutputType(*order[position], OutWidth(*bih, g), OutHeight(*bih, g), avg, out);
    return out->Format() ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT CheckTransform(const CMediaType& in, const CMediaType& out) override {
    if (out.majortype != MEDIATYPE_Video || out.formattype != FORMAT_VideoInfo) return VFW_E_TYPE_NOT_ACCEPTED;
    const VideoOutputKind* kind = FindVideoOutputKind(out.subtype);
    if (!kind || (options_.rgbOutputOnly && out.subtype == MEDIASUBTYPE_YUY2)) return VFW_E_TYPE_NOT_ACCEPTED;
    const BITMAPINFOHEADER* ih = VideoBitmapHeader(in);
    const BITMAPINFOHEADER* oh = VideoBitmapHeader(out);
    if (!ih || !oh || oh->biBitCount != kind->bitCount) return VFW_E_TYPE_NOT_ACCEPTED;
    const DisplayGeometry g = InputGeometry(in);
    if (oh->biWidth != OutWidth(*ih, g) || std::abs(oh->biHeight) != OutHeight(*ih, g)) return VFW_E_TYPE_NOT_ACCEPTED;
    // YUY2 has no bottom-up form.
    if (out.subtype == MEDIASUBTYPE_YUY2 && oh->biHeight < 0) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
  }

  HRESULT DecideBufferSize(const CMediaType& out, IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override {
    const BITMAPINFOHEADER* oh = VideoBitmapHeader(out);
    if (!oh) return E_UNEXPECTED;
    const LONG size = LONG(GetBitmapSize(oh));
    props->cBuffers = std::max<LONG>(props->cBuffers, 1);
    props->cbBuffer = std::max<LONG>(props->cbBuffer, size);
    props->cbAlign = std::max<LONG>(props->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(props, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < size ? E_FAIL : S_OK;
  }

  // ---- streaming ------------------------------------------------------------------------

  HRESULT Start(const CMediaType& in, const CMediaType& out) override {
    Stop();
    const BITMAPINFOHEADER* ih = VideoBitmapHeader(in, &avgTimePerFrame_);
    const BITMAPINFOHEADER* oh = VideoBitmapHeader(out);
    kind_ = FindVideoOutputKind(out.subtype);
    if (!ih || !oh || !kind_) return VFW_E_TYPE_NOT_ACCEPTED;
    inWidth_ = ih->biWidth;
    inHeight_ = std::abs(ih->biHeight);
    outWidth_ = oh->biWidth;
    outHeight_ = std::abs(oh->biHeight);
    outTopDown_ = oh->biHeight < 0 || out.subtype == MEDIASUBTYPE_YUY2;
    outStride_ = LONG(DibStride(outWidth_, kind_->bitCount));
    if (out.subtype == MEDIASUBTYPE_YUY2) outStride_ = outWidth_ * 2;
    rawFormat_ = RawPixelFormat(in, &rawBottomUp_);
    swapChroma_ = in.subtype == MEDIASUBTYPE_YV12;
    rawBits_ = ih->biBitCount;
    geometry_ = InputGeometry(in);
    if (rawFormat_ == AV_PIX_FMT_NONE) {
      HRESULT hr = OpenVideoDecoder(in, &codec_);
      if (FAILED(hr)) return hr;
    }
    packetsIn_ = wholePictures_ = damagedPictures_ = decodeErrors_ = 0;
    refused_ = false;
    frame_.reset(av_frame_alloc());
    filtered_.reset(av_frame_alloc());
    if (!filtered_) return E_OUTOFMEMORY;
    packet_.reset(av_packet_alloc());
    if (!frame_ || !packet_) return E_OUTOFMEMORY;
    Flush();
    return S_OK;
  }

  void Stop() override {
    codec_.reset();
    sws_.reset();
    frame_.reset();
    filtered_.reset();
    packet_.reset();
    ResetGraph();
  }

  HRESULT Receive(IMediaSample* in, SampleSink& sink) override {
    BYTE* data = nullptr;
    if (FAILED(in->GetPointer(&data)) || !data) return E_POINTER;
    const long length = in->GetActualDataLength();
    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT timeResult = in->GetTime(&start, &stop);
    const bool timed = SUCCEEDED(timeResult);
    if (in->IsDiscontinuity() == S_OK) discontinuity_ = true;
    TAV_TRACE("receive %ld bytes time %lld (%d) sync %d disc %d", length, (long long)start, int(timed),
              int(in->IsSyncPoint() == S_OK), int(in->IsDiscontinuity() == S_OK));

    if (timed) lastInputTime_ = start;
    if (!codec_) return DeliverRaw(data, length, timed ? start : kNoTime, sink);

    // The compressed bytes are copied: the sample goes back to the splitter's allocator when
    // this call returns, and the codec (with frame threads) may keep the packet longer.
    if (length < 0 || packets_.Fill(packet_.get(), data, int(length)) < 0) return E_OUTOFMEMORY;
    packet_->pts = timed ? start : AV_NOPTS_VALUE;
    // The picture lasts as long as its sample says (the container's own frame times, which
    // vary in a variable-rate movie); without a stop time the format's frame period.
    packet_->duration = timeResult == S_OK && stop > start ? stop - start : 0;
    if (in->IsSyncPoint() == S_OK) packet_->flags |= AV_PKT_FLAG_KEY;
    ++packetsIn_;
    const HRESULT hr = Decode(packet_.get(), sink);
    if (hr == S_OK && wholePictures_ == 0 && damagedPictures_ >= kDamagedPicturesLimit) return Undecodable();
    return hr;
  }

  HRESULT Drain(SampleSink& sink) override {
    if (!codec_) return S_OK;
    HRESULT hr = Decode(nullptr, sink);
    avcodec_flush_buffers(codec_.get());
    // The deinterlacer holds one picture back for its look-ahead.
    if (hr == S_OK && graph_ && AvFilter()->buffersrc_add_frame(graphIn_, nullptr) >= 0) hr = PullFiltered(sink);
    ResetGraph();
    if (hr == S_OK && packetsIn_ > 0 && wholePictures_ == 0 && !refused_) return Undecodable();
    return hr;
  }

  void Flush() override {
    if (codec_) avcodec_flush_buffers(codec_.get());
    ResetGraph();
    nextTime_ = kNoTime;
    lastInputTime_ = kNoTime;
    prevStart_ = kNoTime;
    discontinuity_ = true;
  }

 private:
  static constexpr REFERENCE_TIME kNoTime = INT64_MIN;

  // Uncompressed input is taken as stored.
  static DisplayGeometry InputGeometry(const CMediaType& in) {
    return RawPixelFormat(in) == AV_PIX_FMT_NONE ? ReadDisplayGeometry(in) : DisplayGeometry{};
  }
  LONG OutWidth(const BITMAPINFOHEADER& bih, const DisplayGeometry& g) const {
    if (decimatedWidth_ > 0) return decimatedWidth_;
    LONG w = 0, h = 0;
    DisplaySize(g, bih.biWidth, std::abs(bih.biHeight), &w, &h);
    return std::max<LONG>(1, w / scale_);
  }
  LONG OutHeight(const BITMAPINFOHEADER& bih, const DisplayGeometry& g) const {
    if (decimatedHeight_ > 0) return decimatedHeight_;
    LONG w = 0, h = 0;
    DisplaySize(g, bih.biWidth, std::abs(bih.biHeight), &w, &h);
    return std::max<LONG>(1, h / scale_);
  }

  void ResetGraph() {
    graph_.reset();
    graphIn_ = graphOut_ = nullptr;
    graphFailed_ = false;
  }

  // The filter graph for pictures of this size and layout; false when the picture needs
  // none (or the graph cannot be made: the picture is then shown as stored).
  bool EnsureGraph(const AVFrame* f) {
    const bool deinterlace = geometry_.interlaced || f->interlaced_frame;
    const bool turn = geometry_.quarterTurns != 0 || geometry_.mirror;
    if (!deinterlace && !turn && !graph_) return false;
    if (graph_ && f->width == graphWidth_ && f->height == graphHeight_ && f->format == graphFormat_ &&
        (graphDeinterlaces_ || !deinterlace))
      return true;
    if (graphFailed_ && f->width == graphWidth_ && f->height == graphHeight_ && f->format == graphFormat_) return false;
    ResetGraph();
    graphWidth_ = f->width;
    graphHeight_ = f->height;
    graphFormat_ = f->format;
    graphDeinterlaces_ = deinterlace;
    // Lines too few for the deinterlacer's look-around are left as they are.
    const bool canDeinterlace = deinterlace && f->width >= 3 && f->height >= 4;
    const std::string chain = FilterChain(geometry_, canDeinterlace);
    if (chain.empty()) {
      graphFailed_ = true;
      return false;
    }
    if (!BuildGraph(f, chain)) {
      TAV_TRACE("filter graph '%s' not made", chain.c_str());
      ResetGraph();
      graphFailed_ = true;
      return false;
    }
    return true;
  }

  bool BuildGraph(const AVFrame* f, const std::string& chain) {
    const AvFilterApi* af = AvFilter();
    if (!af) return false;  // shown as stored
    graph_.reset(af->graph_alloc());
    if (!graph_) return false;
    graph_->nb_threads = 1;
    char args[160];
    std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/10000000:pixel_aspect=1/1", f->width,
                  f->height, f->format);
    if (af->graph_create_filter(&graphIn_, af->get_by_name("buffer"), "in", args, nullptr, graph_.get()) < 0 ||
        af->graph_create_filter(&graphOut_, af->get_by_name("buffersink"), "out", nullptr, nullptr,
                                     graph_.get()) < 0)
      return false;
    AVFilterInOut* outputs = af->inout_alloc();
    AVFilterInOut* inputs = af->inout_alloc();
    bool ok = outputs && inputs;
    if (ok) {
      outputs->name = av_strdup("in");
      outputs->filter_ctx = graphIn_;
      inputs->name = av_strdup("out");
      inputs->filter_ctx = graphOut_;
      ok = af->graph_parse_ptr(graph_.get(), chain.c_str(), &inputs, &outputs, nullptr) >= 0 &&
           af->graph_config(graph_.get(), nullptr) >= 0;
    }
    af->inout_free(&inputs);
    af->inout_free(&outputs);
    return ok;
  }

  // Delivers what the filter graph has ready.
  HRESULT PullFiltered(SampleSink& sink) {
    for (;;) {
      const int err = AvFilter()->buffersink_get_frame(graphOut_, filtered_.get());
      if (err < 0) return S_OK;  // needs more input, or at its end
      // The deinterlacer counts in half the input's time base.
      const AVRational base = AvFilter()->buffersink_get_time_base(graphOut_);
      const REFERENCE_TIME t =
          filtered_->pts != AV_NOPTS_VALUE ? av_rescale_q(filtered_->pts, base, kReferenceTimeBase) : kNoTime;
      // The picture's own duration is copied through unscaled: only trusted when the base
      // is unchanged (else the frame time of the type is used).
      const int64_t duration = av_cmp_q(base, kReferenceTimeBase) == 0 ? filtered_->pkt_duration : 0;
      HRESULT hr = DeliverFrame(filtered_->data, filtered_->linesize, AVPixelFormat(filtered_->format),
                                filtered_->width, filtered_->height, t, duration, sink);
      av_frame_unref(filtered_.get());
      if (hr != S_OK) return hr;
    }
  }

  int OutputOrder(const CMediaType& in, const VideoOutputKind** order) const {
    int count = 0;
    const VideoOutputKind* kinds = VideoOutputKinds(&count);
    const AVPixelFormat raw = RawPixelFormat(in);
    bool rgbFirst = options_.rgbOutputOnly;
    if (raw != AV_PIX_FMT_NONE) rgbFirst = rgbFirst || !IsYuvPixelFormat(raw);
    else rgbFirst = rgbFirst || DecodesToRgb(VideoCodecId(in));
    int n = 0;
    const VideoOutputKind* yuy2 = &kinds[count - 1];
    if (!rgbFirst) order[n++] = yuy2;
    // An RGB24 source offers its own kind first.
    const bool rgb24 = raw == AV_PIX_FMT_BGR24;
    if (rgb24) order[n++] = &kinds[1];
    for (int i = 0; i < count - 1; ++i)
      if (!(rgb24 && i == 1)) order[n++] = &kinds[i];
    if (rgbFirst && !options_.rgbOutputOnly) order[n++] = yuy2;
    return n;
  }

  // Sends a packet (null: the end of the stream) and delivers the pictures it gives. A
  // damaged packet or picture costs that picture, not the stream.
  HRESULT Decode(const AVPacket* packet, SampleSink& sink) {
    return DecodePacket(
        codec_.get(), packet, frame_.get(), S_OK, [&](AVFrame* f) { return DeliverDecoded(f, sink); },
        [this](int) -> HRESULT {
          ++decodeErrors_;
          return S_OK;
        });
  }

  // A stream whose pictures all come out concealed (or that gives none at all) is not one
  // this codec reads: its pictures would be a flat grey, or nothing. The stream fails,
  // rather than a movie of grey pictures being taken for a good one.
  HRESULT Undecodable() {
    refused_ = true;  // said once: the end of the stream does not say it again
    TAV_TRACE("no whole picture in %ld packets (%ld concealed, %ld decoding errors)", packetsIn_, damagedPictures_,
              decodeErrors_);
    return VFW_E_UNSUPPORTED_VIDEO;
  }

  HRESULT DeliverDecoded(AVFrame* f, SampleSink& sink) {
    if (f->decode_error_flags != 0 || (f->flags & AV_FRAME_FLAG_CORRUPT) || f->width <= 0 || f->height <= 0 ||
        !f->data[0]) {
      ++damagedPictures_;
    } else {
      ++wholePictures_;
    }
    const REFERENCE_TIME t = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : kNoTime;
    // A turned picture delivered smaller (a phone's movie in a conversion) is shrunk first
    // and turned small, rather than turned full size by the filter graph. Only while no
    // graph holds pictures back (a deinterlacer's look-ahead), so that none overtakes another.
    const bool turn = geometry_.quarterTurns != 0 || geometry_.mirror;
    if (turn && !graph_ && decimatedWidth_ > 0 && !geometry_.interlaced && !f->interlaced_frame &&
        CanScaleTurnConvert(AVPixelFormat(f->format), kind_->pixFmt)) {
      turnSmall_ = true;
      const HRESULT hr = DeliverFrame(f->data, f->linesize, AVPixelFormat(f->format), f->width, f->height, t,
                                      f->pkt_duration, sink);
      turnSmall_ = false;
      return hr;
    }
    if (EnsureGraph(f)) {
      f->pts = t == kNoTime ? AV_NOPTS_VALUE : t;
      if (AvFilter()->buffersrc_add_frame_flags(graphIn_, f, AV_BUFFERSRC_FLAG_KEEP_REF) < 0) {
        ++decodeErrors_;
        return S_OK;
      }
      return PullFiltered(sink);
    }
    return DeliverFrame(f->data, f->linesize, AVPixelFormat(f->format), f->width, f->height, t, f->pkt_duration, sink);
  }

  HRESULT DeliverRaw(BYTE* data, long length, REFERENCE_TIME start, SampleSink& sink) {
    uint8_t* planes[4] = {};
    int lines[4] = {};
    if (rawFormat_ == AV_PIX_FMT_BGRA || rawFormat_ == AV_PIX_FMT_BGR24 || rawFormat_ == AV_PIX_FMT_RGB565LE ||
        rawFormat_ == AV_PIX_FMT_RGB555LE) {
      const int bits = rawFormat_ == AV_PIX_FMT_BGRA ? 32 : rawFormat_ == AV_PIX_FMT_BGR24 ? 24 : 16;
      const long stride = long(DibStride(inWidth_, bits));
      if (length < stride * inHeight_) return S_OK;  // a short frame is dropped, not read past
      planes[0] = rawBottomUp_ ? data + stride * (inHeight_ - 1) : data;
      lines[0] = int(rawBottomUp_ ? -stride : stride);
    } else {
      const int need = av_image_get_buffer_size(rawFormat_, inWidth_, inHeight_, 1);
      if (need < 0 || length < need) return S_OK;
      av_image_fill_arrays(planes, lines, data, rawFormat_, inWidth_, inHeight_, 1);
      if (swapChroma_) std::swap(planes[1], planes[2]);
    }
    return DeliverFrame(planes, lines, rawFormat_, inWidth_, inHeight_, start, 0, sink);
  }

  // libswscale for what libyuv does not do: scaling (the DV decoder's reduced sizes) and
  // the less common layouts.
  HRESULT Scale(uint8_t* const* planes, const int* lines, AVPixelFormat format, int width, int height, BYTE* dst,
                uint8_t* top, int step) {
    sws_.reset(sws_getCachedContext(sws_.release(), width, height, format, outWidth_, outHeight_, kind_->pixFmt,
                                    // Same size: only the colour layout changes, and the fast path does.
                                    width == outWidth_ && height == outHeight_ ? SWS_FAST_BILINEAR : SWS_BICUBIC,
                                    nullptr, nullptr, nullptr));
    if (!sws_) return E_OUTOFMEMORY;
    if (outWidth_ % 16 == 0) {
      uint8_t* dstPlanes[4] = {top};
      int dstLines[4] = {step};
      sws_scale(sws_.get(), planes, lines, 0, height, dstPlanes, dstLines);
      return S_OK;
    }
    // The scaler's vector code writes whole blocks of pixels, past the end of a row whose
    // width is not a multiple of 16 (and past the sample on its last row): scale into a
    // padded picture and copy the rows.
    const int padded = ((int(outStride_) + 63) & ~63) + 64;
    scratch_.resize(size_t(padded) * size_t(outHeight_ + 1));
    uint8_t* scratchPlanes[4] = {scratch_.data()};
    int scratchLines[4] = {padded};
    sws_scale(sws_.get(), planes, lines, 0, height, scratchPlanes, scratchLines);
    for (LONG y = 0; y < outHeight_; ++y)
      std::memcpy(dst + outStride_ * (outTopDown_ ? y : outHeight_ - 1 - y), scratch_.data() + size_t(padded) * y,
                  size_t(outStride_));
    return S_OK;
  }

  HRESULT DeliverFrame(uint8_t* const* planes, const int* lines, AVPixelFormat format, int width, int height,
                       REFERENCE_TIME start, int64_t duration, SampleSink& sink) {
    if (width <= 0 || height <= 0 || format == AV_PIX_FMT_NONE) return S_OK;
    // Containers without presentation times (AVI) stamp packets in decoding order; a
    // picture stamped at or before the start of the previous one follows on from it
    // instead. A later stamp is kept even when it falls before the previous picture's end:
    // with reordered pictures a picture's duration is that of another packet, and moving
    // the pictures of a variable-rate movie after it would put them out of step with the
    // sound.
    if (start == kNoTime || (prevStart_ != kNoTime && start <= prevStart_))
      start = nextTime_ != kNoTime ? nextTime_ : lastInputTime_ != kNoTime ? lastInputTime_ : 0;
    prevStart_ = start;
    if (duration <= 0) duration = avgTimePerFrame_ > 0 ? avgTimePerFrame_ : 1;
    REFERENCE_TIME stop = start + duration;
    nextTime_ = stop;
    // After a seek between key frames the pictures before the new segment start are decoded
    // only to reach it: they are not shown. The picture that spans the start is shown from
    // there when most of it lies after it; a sliver left by rounding the seek target does not
    // count (the next picture follows at once).
    if (stop <= 0 || start + stop < 0) return S_OK;
    if (start < 0) start = 0;

    IMediaSample* out = nullptr;
    HRESULT hr = sink.GetBuffer(&out);
    if (FAILED(hr)) return hr;
    ComPtr<IMediaSample> hold;
    hold.Attach(out);
    BYTE* dst = nullptr;
    out->GetPointer(&dst);
    if (!dst || out->GetSize() < outStride_ * outHeight_) return E_FAIL;
    uint8_t* const top = outTopDown_ ? dst : dst + outStride_ * (outHeight_ - 1);
    const int step = int(outTopDown_ ? outStride_ : -outStride_);
    // Same size: only the layout changes, which libyuv does for the usual pairs, straight
    // into the sample.
    const bool sameSize = width == outWidth_ && height == outHeight_;
    // Smaller: libyuv scales the decoder's own picture and converts only the small one.
    bool done;
    if (turnSmall_) {
      done = ScaleTurnConvertPixels(planes, lines, format, width, height, geometry_.quarterTurns, geometry_.mirror, top,
                                    step, outWidth_, outHeight_, kind_->pixFmt, &small_);
      if (!done) return E_FAIL;  // the scaler below would not turn it
    } else {
      done = sameSize ? ConvertPixels(planes, lines, format, width, height, top, step, kind_->pixFmt)
                      : ScaleConvertPixels(planes, lines, format, width, height, top, step, outWidth_, outHeight_,
                                           kind_->pixFmt, &small_);
    }
    if (!done) {
      hr = Scale(planes, lines, format, width, height, dst, top, step);
      if (FAILED(hr)) return hr;
    }

    TAV_TRACE("deliver %lld-%lld", (long long)start, (long long)stop);
    out->SetTime(&start, &stop);
    out->SetSyncPoint(TRUE);
    out->SetDiscontinuity(discontinuity_);
    out->SetPreroll(FALSE);
    out->SetActualDataLength(outStride_ * outHeight_);
    discontinuity_ = false;
    return sink.Deliver(out);
  }

  // Configuration
  const VideoEngineOptions options_;
  int scale_ = 1;  // output size divisor (DV display resolution)
  // The size asked for through IDecimateVideoImage, 0 x 0 for the display size; set only
  // while the output is unconnected.
  LONG decimatedWidth_ = 0, decimatedHeight_ = 0;

  // Negotiated at Start
  AvCodecContextPtr codec_;  // null for uncompressed input
  AVPixelFormat rawFormat_ = AV_PIX_FMT_NONE;
  bool rawBottomUp_ = false;
  bool swapChroma_ = false;
  WORD rawBits_ = 0;
  const VideoOutputKind* kind_ = nullptr;
  LONG inWidth_ = 0, inHeight_ = 0;
  LONG outWidth_ = 0, outHeight_ = 0, outStride_ = 0;
  bool outTopDown_ = false;
  REFERENCE_TIME avgTimePerFrame_ = 0;
  DisplayGeometry geometry_;

  // Runtime, streaming thread
  AvFramePtr frame_;
  AvPacketPtr packet_;
  PacketPool packets_;  // buffers of the packets handed to the codec
  SwsContextPtr sws_;
  std::vector<uint8_t> scratch_;  // padded picture for widths the scaler overruns
  std::vector<uint8_t> small_;   // the scaled picture in the decoder's layout, before conversion
  bool turnSmall_ = false;        // the picture being delivered is turned after it is shrunk
  // Deinterlacing and turning, made for the first picture that needs it.
  FilterGraphPtr graph_;
  AVFilterContext* graphIn_ = nullptr;
  AVFilterContext* graphOut_ = nullptr;
  AvFramePtr filtered_;
  int graphWidth_ = 0, graphHeight_ = 0, graphFormat_ = -1;
  bool graphDeinterlaces_ = false;
  bool graphFailed_ = false;  // no graph for pictures of this size and layout
  REFERENCE_TIME nextTime_ = kNoTime;  // stop time of the last picture, for pictures without a time
  REFERENCE_TIME prevStart_ = kNoTime;  // start time of the last picture delivered
  REFERENCE_TIME lastInputTime_ = kNoTime;  // time of the last timed input sample since the flush
  bool discontinuity_ = true;          // the next output sample starts a new run
  // Statistics since Start: a stream that gives damaged pictures only is refused.
  static constexpr long kDamagedPicturesLimit = 50;  // without a whole one among them
  long decodeErrors_ = 0;
  long packetsIn_ = 0;
  long wholePictures_ = 0;
  long damagedPictures_ = 0;  // concealed, marked corrupt by the codec, or empty
  bool refused_ = false;      // the stream was refused for giving no whole picture
};

}  // namespace

std::unique_ptr<DecoderEngine> MakeVideoEngine(const VideoEngineOptions& options) {
  return std::make_unique<VideoEngine>(options);
}

void SetVideoEngineScale(DecoderEngine* engine, int divisor) {
  if (auto* v = dynamic_cast<VideoEngine*>(engine)) v->SetScale(divisor);
}

HRESULT SetVideoEngineDecimation(DecoderEngine* engine, const CMediaType& in, LONG width, LONG height) {
  auto* v = dynamic_cast<VideoEngine*>(engine);
  return v ? v->SetDecimation(in, width, height) : E_FAIL;
}

}  // namespace tav::filters
