#include "platform/filters/avcodecutil.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/pixdesc.h>
}

#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kFilters, "avcodecutil");

namespace tav::filters {

namespace {

FOURCC SubtypeFourcc(const GUID& subtype) { return IsFourccSubtype(subtype) ? subtype.Data1 : 0; }

bool CopyExtradata(AVCodecContext* ctx, const BYTE* data, size_t size) {
  if (size == 0) return true;
  ctx->extradata = static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!ctx->extradata) return false;
  std::memcpy(ctx->extradata, data, size);
  ctx->extradata_size = int(size);
  return true;
}

// Number of format bytes after the bitmap header of a VIDEOINFOHEADER(2) type: the
// codec's extra data as the splitters put it there.
size_t VideoExtraOffset(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype == FORMAT_VideoInfo) return sizeof(VIDEOINFOHEADER);
  if (mt.formattype == FORMAT_VideoInfo2) return sizeof(VIDEOINFOHEADER2);
  return 0;
}

constexpr DWORD kGeometryTag = MAKEFOURCC('D', 'G', 'E', 'O');

bool HasGeometryTrailer(const AM_MEDIA_TYPE& mt) {
  const size_t off = VideoExtraOffset(mt);
  if (!off || !mt.pbFormat || mt.cbFormat < off + kDisplayGeometryBytes) return false;
  DWORD tag = 0;
  std::memcpy(&tag, mt.pbFormat + mt.cbFormat - kDisplayGeometryBytes, sizeof tag);
  return tag == kGeometryTag;
}

const VideoOutputKind kVideoOutputKinds[] = {
    {&MEDIASUBTYPE_RGB32, 32, AV_PIX_FMT_BGRA},
    {&MEDIASUBTYPE_RGB24, 24, AV_PIX_FMT_BGR24},
    {&MEDIASUBTYPE_RGB565, 16, AV_PIX_FMT_RGB565LE},
    {&MEDIASUBTYPE_RGB555, 16, AV_PIX_FMT_RGB555LE},
    {&MEDIASUBTYPE_YUY2, 16, AV_PIX_FMT_YUYV422},
};

}  // namespace

HRESULT HResultFromAv(int err) {
  if (err >= 0) return S_OK;
  if (err == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
  if (err == AVERROR_INVALIDDATA) return VFW_E_INVALIDMEDIATYPE;
  if (err == AVERROR_DECODER_NOT_FOUND) return VFW_E_NO_DECOMPRESSOR;
  return E_FAIL;
}

// ---- video ------------------------------------------------------------------------------

AVPixelFormat RawPixelFormat(const AM_MEDIA_TYPE& mt, bool* bottomUp) {
  const BITMAPINFOHEADER* bih = VideoBitmapHeader(mt);
  if (bottomUp) *bottomUp = false;
  if (!bih) return AV_PIX_FMT_NONE;
  const GUID& s = mt.subtype;
  AVPixelFormat rgb = AV_PIX_FMT_NONE;
  if (s == MEDIASUBTYPE_RGB32 || s == MEDIASUBTYPE_ARGB32) rgb = AV_PIX_FMT_BGRA;
  else if (s == MEDIASUBTYPE_RGB24) rgb = AV_PIX_FMT_BGR24;
  else if (s == MEDIASUBTYPE_RGB565) rgb = AV_PIX_FMT_RGB565LE;
  else if (s == MEDIASUBTYPE_RGB555) rgb = AV_PIX_FMT_RGB555LE;
  else if (bih->biCompression == BI_RGB && mt.formattype != FORMAT_MPEGVideo &&
           (s == GUID_NULL || s == FourccSubtype(0))) {
    // A bare bitmap header without a platform RGB subtype.
    switch (bih->biBitCount) {
      case 32: rgb = AV_PIX_FMT_BGRA; break;
      case 24: rgb = AV_PIX_FMT_BGR24; break;
      case 16: rgb = AV_PIX_FMT_RGB555LE; break;
      default: break;
    }
  }
  if (rgb != AV_PIX_FMT_NONE) {
    if (bottomUp) *bottomUp = bih->biHeight > 0;
    return rgb;
  }
  switch (SubtypeFourcc(s)) {
    case MAKEFOURCC('Y', 'U', 'Y', '2'):
    case MAKEFOURCC('Y', 'U', 'Y', 'V'): return AV_PIX_FMT_YUYV422;
    case MAKEFOURCC('U', 'Y', 'V', 'Y'): return AV_PIX_FMT_UYVY422;
    case MAKEFOURCC('Y', 'V', 'Y', 'U'): return AV_PIX_FMT_YVYU422;
    case MAKEFOURCC('I', '4', '2', '0'):
    case MAKEFOURCC('i', '4', '2', '0'):
    case MAKEFOURCC('I', 'Y', 'U', 'V'):
    case MAKEFOURCC('i', 'y', 'u', 'v'):
    case MAKEFOURCC('Y', 'V', '1', '2'): return AV_PIX_FMT_YUV420P;  // YV12 swaps the chroma planes
    case MAKEFOURCC('N', 'V', '1', '2'): return AV_PIX_FMT_NV12;
    default: return AV_PIX_FMT_NONE;
  }
}

AVCodecID VideoCodecId(const AM_MEDIA_TYPE& mt) {
  if (mt.majortype != MEDIATYPE_Video) return AV_CODEC_ID_NONE;
  if (mt.subtype == MEDIASUBTYPE_MPEG1Packet || mt.subtype == MEDIASUBTYPE_MPEG1Payload ||
      mt.subtype == MEDIASUBTYPE_MPEG1Video)
    return AV_CODEC_ID_MPEG1VIDEO;
  if (mt.subtype == MEDIASUBTYPE_MPEG2_VIDEO) return AV_CODEC_ID_MPEG2VIDEO;
  FOURCC fcc = SubtypeFourcc(mt.subtype);
  if (!fcc) {
    if (const BITMAPINFOHEADER* bih = VideoBitmapHeader(mt)) fcc = bih->biCompression;
  }
  if (!fcc) return AV_CODEC_ID_NONE;
  // The tag tables match a code in any case, and the AVI table's "S263" (Sorenson's
  // H.263, the Flash codec) would claim the "s263" of 3GP and QuickTime, which is plain
  // H.263: that one is named here before the tables are asked.
  if (fcc == MAKEFOURCC('s', '2', '6', '3')) return AV_CODEC_ID_H263;
  const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), avformat_get_mov_video_tags(), nullptr};
  AVCodecID id = av_codec_get_id(tags, fcc);
  // FOURCCs of the platform's own decoders that the tag tables spell differently.
  if (id == AV_CODEC_ID_NONE) {
    switch (fcc) {
      case MAKEFOURCC('m', '2', '6', '1'): id = AV_CODEC_ID_H261; break;
      case MAKEFOURCC('H', 'E', 'V', 'C'):
      case MAKEFOURCC('H', '2', '6', '5'): id = AV_CODEC_ID_HEVC; break;
      case MAKEFOURCC('m', '2', '6', '3'): id = AV_CODEC_ID_H263; break;
      case MAKEFOURCC('m', 'r', 'l', 'e'): id = AV_CODEC_ID_MSRLE; break;
      case MAKEFOURCC('W', 'M', 'V', 'A'): id = AV_CODEC_ID_VC1; break;
      default: break;
    }
  }
  if (id == AV_CODEC_ID_RAWVIDEO) return AV_CODEC_ID_NONE;  // uncompressed kinds take the raw path
  return avcodec_find_decoder(id) ? id : AV_CODEC_ID_NONE;
}

// Small H.264 and HEVC pictures decode fast enough on slice threads, which add no delay;
// above 720p a picture is too much work for one core, and these streams rarely carry
// several slices, so whole pictures are decoded side by side on frame threads, at most
// FFmpeg's own limit of 16; on one core, one thread (more would only take turns). HEVC gets
// one thread a core and one more, as the ffmpeg program gives it. H.264 gets two more than
// that: the thread that feeds the decoder also shrinks every picture it takes out, and
// while it does, frame threads that have finished wait for their next packet; with two
// more pictures in flight the cores stay busy (a 1080p60 movie on two cores: 4% less time,
// the same processor time, 13 MB more memory). For HEVC, whose pictures are bigger and
// whose frame threads wait on each other more, more threads only cost time and memory. The codec still hands out every
// picture, in display order: frame threads only hold a few back, which the end of the
// stream drains.
//
// "A core" is av_cpu_count(), FFmpeg's own count, which every other codec's automatic
// choice (thread_count 0) uses as well. A worker of simultaneous conversions is given its
// share of the cores that way (av_cpu_force_count, see tav::WorkerCores), so that all its
// decoders, these and the others, shrink together without a parameter passed through the
// filters; a program converting one entry at a time keeps the machine's count.
void ChooseDecoderThreads(AVCodecContext* ctx) {
  constexpr int kMaxThreads = 16;
  constexpr int kLargestSlicedArea = 1280 * 720;
  ctx->thread_count = 0;  // as many as FFmpeg thinks fit
  if (ctx->codec_id != AV_CODEC_ID_H264 && ctx->codec_id != AV_CODEC_ID_HEVC) return;
  if (int64_t(ctx->width) * ctx->height <= kLargestSlicedArea) {
    ctx->thread_type = FF_THREAD_SLICE;
    return;
  }
  const int cores = av_cpu_count();
  const int inFlight = ctx->codec_id == AV_CODEC_ID_H264 ? 3 : 1;
  ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  ctx->thread_count = cores > 1 ? std::min(cores + inFlight, kMaxThreads) : 1;
}

HRESULT OpenVideoDecoder(const AM_MEDIA_TYPE& mt, AvCodecContextPtr* out) {
  AVCodecID id = VideoCodecId(mt);
  const AVCodec* codec = id != AV_CODEC_ID_NONE ? avcodec_find_decoder(id) : nullptr;
  REFERENCE_TIME avg = 0;
  const BITMAPINFOHEADER* bih = VideoBitmapHeader(mt, &avg);
  if (!codec || !bih) return VFW_E_TYPE_NOT_ACCEPTED;
  AvCodecContextPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx) return E_OUTOFMEMORY;
  ctx->width = bih->biWidth;
  ctx->height = std::abs(bih->biHeight);
  ctx->codec_tag = IsFourccSubtype(mt.subtype) ? mt.subtype.Data1 : bih->biCompression;
  ctx->bits_per_coded_sample = bih->biBitCount;
  ctx->pkt_timebase = kReferenceTimeBase;
  ChooseDecoderThreads(ctx.get());
  bool ok = true;
  if (mt.formattype == FORMAT_MPEGVideo && mt.cbFormat >= offsetof(MPEG1VIDEOINFO, bSequenceHeader)) {
    auto* mvi = reinterpret_cast<const MPEG1VIDEOINFO*>(mt.pbFormat);
    size_t len = std::min<size_t>(mvi->cbSequenceHeader, mt.cbFormat - offsetof(MPEG1VIDEOINFO, bSequenceHeader));
    ok = CopyExtradata(ctx.get(), mvi->bSequenceHeader, len);
  } else if (size_t off = VideoExtraOffset(mt); off && mt.cbFormat > off) {
    size_t extra = mt.cbFormat - off;
    if (HasGeometryTrailer(mt)) extra -= kDisplayGeometryBytes;
    ok = CopyExtradata(ctx.get(), mt.pbFormat + off, extra);
  }
  if (!ok) return E_OUTOFMEMORY;
  int err = avcodec_open2(ctx.get(), codec, nullptr);
  if (err < 0) return HResultFromAv(err);
  // The threads FFmpeg started, once the codec is open (it fills in an automatic count).
  TAV_TRACE("video decoder %s %dx%d: %d thread(s)%s", codec->name, ctx->width, ctx->height, ctx->thread_count,
            (ctx->active_thread_type & FF_THREAD_FRAME)   ? " on frames"
            : (ctx->active_thread_type & FF_THREAD_SLICE) ? " on slices"
                                                          : "");
  *out = std::move(ctx);
  return S_OK;
}

DisplayGeometry GeometryFromDisplayMatrix(const int32_t* m) {
  // A point (x, y) of the stored picture is shown at (a x + c y, b x + d y) plus a shift.
  const double a = m[0], b = m[1], c = m[3], d = m[4];
  DisplayGeometry g;
  if (std::abs(a) + std::abs(d) >= std::abs(b) + std::abs(c)) {
    // No turn, or half a turn: each axis kept or reversed.
    const bool flipX = a < 0, flipY = d < 0;
    if (flipX && flipY) g.quarterTurns = 2;
    else if (flipX) g.mirror = true;
    else if (flipY) {
      g.mirror = true;  // upside down and mirrored: a mirror image turned half way
      g.quarterTurns = 2;
    }
  } else if (b > 0 && c < 0) {
    g.quarterTurns = 1;  // the left column becomes the top row
  } else if (b < 0 && c > 0) {
    g.quarterTurns = 3;
  } else if (b > 0 && c > 0) {
    // Rows become columns as they are (a transpose): a mirror image turned a quarter back.
    g.mirror = true;
    g.quarterTurns = 3;
  } else {
    g.mirror = true;
    g.quarterTurns = 1;
  }
  return g;
}

void WriteDisplayGeometry(const DisplayGeometry& g, BYTE* out) {
  const int32_t values[7] = {int32_t(kGeometryTag), g.quarterTurns & 3, g.mirror ? 1 : 0, g.sarNum, g.sarDen,
                             g.interlaced ? 1 : 0, 0};
  static_assert(sizeof values == kDisplayGeometryBytes);
  std::memcpy(out, values, sizeof values);
}

DisplayGeometry ReadDisplayGeometry(const AM_MEDIA_TYPE& mt) {
  DisplayGeometry g;
  if (!HasGeometryTrailer(mt)) return g;
  int32_t values[7];
  std::memcpy(values, mt.pbFormat + mt.cbFormat - kDisplayGeometryBytes, sizeof values);
  g.quarterTurns = values[1] & 3;
  g.mirror = values[2] != 0;
  // A pixel shape beyond 1:8 .. 8:1 is taken for damage, not for a picture.
  if (values[3] > 0 && values[4] > 0 && values[3] <= 8 * int64_t(values[4]) && values[4] <= 8 * int64_t(values[3])) {
    g.sarNum = values[3];
    g.sarDen = values[4];
  }
  g.interlaced = values[5] != 0;
  return g;
}

void DisplaySize(const DisplayGeometry& g, LONG width, LONG height, LONG* outWidth, LONG* outHeight) {
  LONG w = width;
  if (g.sarNum != g.sarDen && g.sarNum > 0 && g.sarDen > 0) {
    w = LONG((int64_t(width) * g.sarNum + int64_t(g.sarDen) / 2) / g.sarDen);
    // A shape within a few percent of 4:3 (the usual 12:11 and 10:11 of 720-wide video,
    // whose nominal 4:3 area is narrower than the stored width) is shown as 4:3, so that
    // it fills a 4:3 screen instead of leaving a few black rows.
    const int64_t fourByThree = (int64_t(height) * 4 + 1) / 3;
    if (std::abs(w - fourByThree) * 100 <= fourByThree * 3) w = LONG(fourByThree);
    w = std::max<LONG>(2, (w + 1) & ~LONG(1));
  }
  const bool turned = g.quarterTurns & 1;
  *outWidth = turned ? height : w;
  *outHeight = turned ? w : height;
}

const VideoOutputKind* VideoOutputKinds(int* count) {
  *count = int(std::size(kVideoOutputKinds));
  return kVideoOutputKinds;
}

const VideoOutputKind* FindVideoOutputKind(const GUID& subtype) {
  for (const VideoOutputKind& k : kVideoOutputKinds)
    if (*k.subtype == subtype) return &k;
  return nullptr;
}

void MakeVideoOutputType(const VideoOutputKind& kind, LONG width, LONG height, REFERENCE_TIME avgTimePerFrame,
                         CMediaType* mt) {
  mt->InitMediaType();
  mt->SetType(&MEDIATYPE_Video);
  mt->SetSubtype(kind.subtype);
  mt->SetFormatType(&FORMAT_VideoInfo);
  bool masks = *kind.subtype == MEDIASUBTYPE_RGB565;
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(
      mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER) + (masks ? 3 * sizeof(DWORD) : 0)));
  if (!vih) return;
  vih->rcSource = {0, 0, width, height};
  vih->rcTarget = vih->rcSource;
  vih->AvgTimePerFrame = avgTimePerFrame;
  BITMAPINFOHEADER& bih = vih->bmiHeader;
  bih.biSize = sizeof(BITMAPINFOHEADER);
  bih.biWidth = width;
  bih.biHeight = height;
  bih.biPlanes = 1;
  bih.biBitCount = kind.bitCount;
  bool yuv = *kind.subtype == MEDIASUBTYPE_YUY2;
  bih.biCompression = yuv ? kind.subtype->Data1 : (masks ? BI_BITFIELDS : BI_RGB);
  bih.biSizeImage = GetBitmapSize(&bih);
  if (masks) {
    DWORD* m = reinterpret_cast<DWORD*>(vih + 1);
    m[0] = 0xF800;
    m[1] = 0x07E0;
    m[2] = 0x001F;
  }
  vih->dwBitRate = avgTimePerFrame > 0 ? DWORD(std::min<double>(bih.biSizeImage * 8.0 * 1e7 / avgTimePerFrame, 4e9)) : 0;
  mt->SetSampleSize(bih.biSizeImage);
  mt->SetTemporalCompression(FALSE);
}

bool IsYuvPixelFormat(AVPixelFormat fmt) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(fmt);
  return d && !(d->flags & AV_PIX_FMT_FLAG_RGB) && d->nb_components >= 3;
}

// ---- audio ------------------------------------------------------------------------------

const WAVEFORMATEX* AudioWaveFormat(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat || mt.cbFormat < sizeof(WAVEFORMATEX) - 2) return nullptr;
  return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
}

AVSampleFormat RawSampleFormat(const AM_MEDIA_TYPE& mt, bool* packed24) {
  if (packed24) *packed24 = false;
  const WAVEFORMATEX* wfx = AudioWaveFormat(mt);
  if (!wfx) return AV_SAMPLE_FMT_NONE;
  WORD tag = wfx->wFormatTag;
  if (tag == WAVE_FORMAT_EXTENSIBLE) {
    if (mt.cbFormat < sizeof(WAVEFORMATEXTENSIBLE) || wfx->cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX))
      return AV_SAMPLE_FMT_NONE;
    auto* ext = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(wfx);
    if (ext->SubFormat == KSDATAFORMAT_SUBTYPE_PCM) tag = WAVE_FORMAT_PCM;
    else if (ext->SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT) tag = WAVE_FORMAT_IEEE_FLOAT;
    else return AV_SAMPLE_FMT_NONE;
  }
  if (wfx->nChannels == 0 || wfx->nSamplesPerSec == 0) return AV_SAMPLE_FMT_NONE;
  if (tag == WAVE_FORMAT_IEEE_FLOAT) {
    if (wfx->wBitsPerSample == 32) return AV_SAMPLE_FMT_FLT;
    if (wfx->wBitsPerSample == 64) return AV_SAMPLE_FMT_DBL;
    return AV_SAMPLE_FMT_NONE;
  }
  if (tag != WAVE_FORMAT_PCM) return AV_SAMPLE_FMT_NONE;
  switch (wfx->wBitsPerSample) {
    case 8: return AV_SAMPLE_FMT_U8;
    case 16: return AV_SAMPLE_FMT_S16;
    case 24:
      if (packed24) *packed24 = true;
      return AV_SAMPLE_FMT_S32;
    case 32: return AV_SAMPLE_FMT_S32;
    default: return AV_SAMPLE_FMT_NONE;
  }
}

AVCodecID AudioCodecId(const AM_MEDIA_TYPE& mt) {
  if (mt.majortype != MEDIATYPE_Audio) return AV_CODEC_ID_NONE;
  if (RawSampleFormat(mt) != AV_SAMPLE_FMT_NONE) return AV_CODEC_ID_NONE;
  const WAVEFORMATEX* wfx = AudioWaveFormat(mt);
  AVCodecID id = AV_CODEC_ID_NONE;
  if (mt.subtype == MEDIASUBTYPE_DOLBY_AC3) id = AV_CODEC_ID_AC3;
  else if (mt.subtype == MEDIASUBTYPE_MPEG2_AUDIO) id = AV_CODEC_ID_MP2;
  else if (mt.subtype == MEDIASUBTYPE_MPEG1Packet || mt.subtype == MEDIASUBTYPE_MPEG1Payload ||
           mt.subtype == MEDIASUBTYPE_MPEG1Audio)
    id = AV_CODEC_ID_MP2;  // the MPEG audio decoder reads layers I to III alike
  else if (wfx && wfx->wFormatTag == 0 && IsFourccSubtype(mt.subtype) && (mt.subtype.Data1 >> 16) != 0) {
    // A codec without a wave format tag, named by its QuickTime code.
    const AVCodecTag* const tags[] = {avformat_get_mov_audio_tags(), nullptr};
    id = av_codec_get_id(tags, mt.subtype.Data1);
  } else if (wfx) {
    WORD tag = wfx->wFormatTag;
    if (tag == WAVE_FORMAT_MPEG) id = AV_CODEC_ID_MP2;
    else if (tag == 0x0057) id = AV_CODEC_ID_AMR_NB;
    else if (tag == 0x0058) id = AV_CODEC_ID_AMR_WB;
    else {
      const AVCodecTag* const tags[] = {avformat_get_riff_audio_tags(), nullptr};
      id = av_codec_get_id(tags, tag);
    }
  } else if (IsFourccSubtype(mt.subtype) && (mt.subtype.Data1 >> 16) == 0) {
    const AVCodecTag* const tags[] = {avformat_get_riff_audio_tags(), nullptr};
    id = av_codec_get_id(tags, mt.subtype.Data1);
  }
  return id != AV_CODEC_ID_NONE && avcodec_find_decoder(id) ? id : AV_CODEC_ID_NONE;
}

HRESULT OpenAudioDecoder(const AM_MEDIA_TYPE& mt, AvCodecContextPtr* out) {
  AVCodecID id = AudioCodecId(mt);
  const AVCodec* codec = id != AV_CODEC_ID_NONE ? avcodec_find_decoder(id) : nullptr;
  const WAVEFORMATEX* wfx = AudioWaveFormat(mt);
  if (!codec || !wfx) return VFW_E_TYPE_NOT_ACCEPTED;
  AvCodecContextPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx) return E_OUTOFMEMORY;
  ctx->sample_rate = int(wfx->nSamplesPerSec);
  av_channel_layout_default(&ctx->ch_layout, std::max<int>(wfx->nChannels, 1));
  ctx->block_align = wfx->nBlockAlign;
  ctx->bit_rate = int64_t(wfx->nAvgBytesPerSec) * 8;
  ctx->bits_per_coded_sample = wfx->wBitsPerSample;
  ctx->codec_tag = wfx->wFormatTag;
  ctx->pkt_timebase = kReferenceTimeBase;
  // Extra bytes after the wave format are the codec's extra data, except the MP3 header's
  // own fields, which the decoder does not want.
  if (wfx->wFormatTag != WAVE_FORMAT_MPEGLAYER3 && wfx->wFormatTag != WAVE_FORMAT_MPEG &&
      mt.cbFormat >= sizeof(WAVEFORMATEX)) {
    size_t extra = std::min<size_t>(wfx->cbSize, mt.cbFormat - sizeof(WAVEFORMATEX));
    if (extra) {
      ctx->extradata = static_cast<uint8_t*>(av_mallocz(extra + AV_INPUT_BUFFER_PADDING_SIZE));
      if (!ctx->extradata) return E_OUTOFMEMORY;
      std::memcpy(ctx->extradata, mt.pbFormat + sizeof(WAVEFORMATEX), extra);
      ctx->extradata_size = int(extra);
    }
  }
  int err = avcodec_open2(ctx.get(), codec, nullptr);
  if (err < 0) return HResultFromAv(err);
  *out = std::move(ctx);
  return S_OK;
}

void MakePcmType(DWORD samplesPerSec, WORD channels, WORD bitsPerSample, CMediaType* mt) {
  mt->InitMediaType();
  mt->SetType(&MEDIATYPE_Audio);
  mt->SetSubtype(&MEDIASUBTYPE_PCM);
  mt->SetFormatType(&FORMAT_WaveFormatEx);
  bool ext = channels > 2;
  auto* wfx = reinterpret_cast<WAVEFORMATEX*>(
      mt->AllocFormatBuffer(ext ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX)));
  if (!wfx) return;
  wfx->wFormatTag = ext ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM;
  wfx->nChannels = channels;
  wfx->nSamplesPerSec = samplesPerSec;
  wfx->wBitsPerSample = bitsPerSample;
  wfx->nBlockAlign = WORD(bitsPerSample / 8 * channels);
  wfx->nAvgBytesPerSec = samplesPerSec * wfx->nBlockAlign;
  wfx->cbSize = ext ? 22 : 0;
  if (ext) {
    auto* x = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(wfx);
    x->Samples.wValidBitsPerSample = bitsPerSample;
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
    x->dwChannelMask = layout.order == AV_CHANNEL_ORDER_NATIVE ? DWORD(layout.u.mask) : 0;
    av_channel_layout_uninit(&layout);
    x->SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  }
  mt->SetSampleSize(wfx->nBlockAlign);
}

}  // namespace tav::filters
