// The demuxer over a ByteSource, and the mapping of its streams to platform media types.
#include "platform/filters/sources/avdemuxer.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

#include "media/contract/trace.h"
#include "platform/filters/avcodecutil.h"

namespace tav::filters {
namespace {

constexpr int kIoBufferBytes = 64 * 1024;
constexpr AVRational kRefTimeBase = {1, 10000000};

TAV_TRACE_SOURCE(kFfmpeg, nullptr);

void FfmpegLogLine(void* context, int level, const char* format, va_list args) {
  if (level > av_log_get_level()) return;
  // FFmpeg may log a line in pieces; the prefix (the logging context's name) starts a line.
  thread_local int printPrefix = 1;
  char line[1024];
  av_log_format_line2(context, level, format, args, line, sizeof line, &printPrefix);
  tav::trace::Text(kTraceSource, line);
}

// FFmpeg's own messages go to the trace when its category is on; otherwise FFmpeg is quiet.
void RouteFfmpegLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (tav::trace::On(kTraceSource.category))
      av_log_set_callback(FfmpegLogLine);
    else
      av_log_set_level(AV_LOG_QUIET);
  });
}

}  // namespace

// ---- I/O ------------------------------------------------------------------------------------

int AvDemuxer::ReadCallback(void* opaque, uint8_t* buffer, int size) {
  auto* self = static_cast<AvDemuxer*>(opaque);
  LONG n = self->source_->ReadAt(self->position_, size, buffer);
  if (n < 0) return AVERROR(EIO);
  if (n == 0) return AVERROR_EOF;
  self->position_ += n;
  return n;
}

int64_t AvDemuxer::SeekCallback(void* opaque, int64_t offset, int whence) {
  auto* self = static_cast<AvDemuxer*>(opaque);
  const LONGLONG size = self->source_->Size();
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
      return size >= 0 ? size : AVERROR(ENOSYS);
    case SEEK_SET:
      break;
    case SEEK_CUR:
      offset += self->position_;
      break;
    case SEEK_END:
      if (size < 0) return AVERROR(ENOSYS);
      offset += size;
      break;
    default:
      return AVERROR(EINVAL);
  }
  if (offset < 0) return AVERROR(EINVAL);
  self->position_ = offset;
  return offset;
}

HRESULT AvDemuxer::Open(ByteSource* source, const char* format) {
  RouteFfmpegLog();
  source_ = source;
  position_ = 0;
  if (source->Size() <= 0) return VFW_E_INVALID_FILE_FORMAT;
  auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
  if (!buffer) return E_OUTOFMEMORY;
  io_.reset(avio_alloc_context(buffer, kIoBufferBytes, 0, this, ReadCallback, nullptr, SeekCallback));
  if (!io_) {
    av_free(buffer);
    return E_OUTOFMEMORY;
  }
  AVFormatContext* ctx = avformat_alloc_context();
  if (!ctx) return E_OUTOFMEMORY;
  ctx->pb = io_.get();
  ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  const AVInputFormat* fmt = format ? av_find_input_format(format) : nullptr;
  if (avformat_open_input(&ctx, nullptr, fmt, nullptr) < 0) return VFW_E_UNKNOWN_FILE_TYPE;  // ctx freed
  ctx_.reset(ctx);
  // The header is read: the packets begin here.
  dataStart_ = avio_tell(ctx->pb);
  if (avformat_find_stream_info(ctx, nullptr) < 0 || ctx->nb_streams == 0) return VFW_E_INVALID_FILE_FORMAT;
  startTime_ = ctx->start_time != AV_NOPTS_VALUE ? ctx->start_time : 0;
  // Transport streams and Flash video give their own stream type numbers as codec tags,
  // which are neither FOURCCs nor wave format tags: the streams are typed by codec.
  const char* name = ctx->iformat ? ctx->iformat->name : "";
  if (std::strcmp(name, "mpegts") == 0 || std::strcmp(name, "flv") == 0)
    for (unsigned i = 0; i < ctx->nb_streams; ++i) ctx->streams[i]->codecpar->codec_tag = 0;
  // A transport stream's time search can land past the first key frame: its start is
  // found by position instead.
  startByPosition_ = std::strcmp(name, "mpegts") == 0;
  const REFERENCE_TIME duration = Duration();
  if (duration > 0 && ctx->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
    latestTime_ = duration + kTimeMargin;
  // Start again at the first packet, whatever the probing read.
  if (Seekable()) Seek(0);
  return S_OK;
}

HRESULT AvDemuxer::ReadPacket(AVPacket* packet) {
  int err = av_read_frame(ctx_.get(), packet);
  if (err == AVERROR_EOF) return S_FALSE;
  if (err < 0) return avio_feof(ctx_->pb) ? S_FALSE : VFW_E_INVALID_FILE_FORMAT;
  return S_OK;
}

void AvDemuxer::SetStreamWanted(int stream, bool wanted) {
  if (stream >= 0 && stream < StreamCount()) ctx_->streams[stream]->discard = wanted ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

HRESULT AvDemuxer::Seek(REFERENCE_TIME time) {
  if (time <= 0 && startByPosition_ && av_seek_frame(ctx_.get(), -1, 0, AVSEEK_FLAG_BYTE) >= 0) return S_OK;
  int64_t ts = av_rescale_q(time, kRefTimeBase, AV_TIME_BASE_Q) + startTime_;
  if (av_seek_frame(ctx_.get(), -1, ts, AVSEEK_FLAG_BACKWARD) >= 0) return S_OK;
  // A container without an index (Flash video) is sought among the key frames read so
  // far, and the start, before the first of them, finds none: the failed search has read
  // on past the probed packets, and what came before would be lost. The start is where
  // the packets begin.
  if (time <= 0 && !(ctx_->iformat->flags & AVFMT_NO_BYTE_SEEK) &&
      av_seek_frame(ctx_.get(), -1, dataStart_, AVSEEK_FLAG_BYTE) >= 0)
    return S_OK;
  if (av_seek_frame(ctx_.get(), -1, ts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0) return E_FAIL;
  return S_OK;
}

int AvDemuxer::VideoStream() const {
  // A cover picture is no video stream: it has no pictures to seek among.
  for (int i = 0; i < StreamCount(); ++i)
    if (ctx_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
        !(ctx_->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC))
      return i;
  return -1;
}

HRESULT AvDemuxer::SeekToKeyFrame(REFERENCE_TIME time, REFERENCE_TIME* keyTime) {
  *keyTime = kNoKeyFrame;
  const int video = VideoStream();
  if (video < 0) return Seek(time);
  AvPacketPtr packet(av_packet_alloc());
  if (!packet) return E_OUTOFMEMORY;
  // The container may land after the key frame that rules time; back off further until
  // a key frame at or before time shows up, then scan on to the last one before time.
  constexpr REFERENCE_TIME kSecond = 10'000'000;
  constexpr int kScanLimit = 20000;  // packets read per attempt
  REFERENCE_TIME backOff = 0;
  REFERENCE_TIME firstKey = kNoKeyFrame, firstFrom = 0;
  for (;;) {
    const REFERENCE_TIME from = std::max<REFERENCE_TIME>(0, time - backOff);
    if (FAILED(Seek(from))) break;
    REFERENCE_TIME best = kNoKeyFrame, firstHere = kNoKeyFrame;
    for (int n = 0; n < kScanLimit; ++n) {
      if (ReadPacket(packet.get()) != S_OK) break;
      REFERENCE_TIME t;
      const bool isVideo = packet->stream_index == video;
      const bool timed = isVideo && ToReferenceTime(video, packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts, &t);
      const bool key = isVideo && (packet->flags & AV_PKT_FLAG_KEY);
      av_packet_unref(packet.get());
      if (!timed) continue;
      if (key && firstHere == kNoKeyFrame) firstHere = t;
      if (t > time) break;  // past the target: the last key frame seen rules it
      if (key) best = t;
    }
    if (firstHere != kNoKeyFrame && firstKey == kNoKeyFrame) {
      firstKey = firstHere;
      firstFrom = from;
    }
    if (best != kNoKeyFrame) {
      *keyTime = best;
      return Seek(from);
    }
    if (from == 0 || backOff >= 64 * kSecond) break;
    backOff = backOff == 0 ? kSecond / 2 : backOff * 2;
  }
  // No key frame at or before time: start at the first one after it.
  if (firstKey != kNoKeyFrame) {
    *keyTime = firstKey;
    return Seek(firstFrom);
  }
  return Seek(time);
}

REFERENCE_TIME AvDemuxer::Duration() const {
  if (!ctx_) return 0;
  // The streams' own lengths. One that claims far more than the others (more than twice the
  // next longest and two seconds more) has a damaged rate or scale, unless its packets say
  // otherwise: a screen recording's pictures may run a minute past its sound, each picture
  // a fraction of a second, while a damaged rate stretches every packet to seconds or hours.
  // Then the movie holds what the others say.
  constexpr REFERENCE_TIME kTwoSeconds = 20'000'000;
  REFERENCE_TIME longest = 0, next = 0;
  int64_t longestPackets = 0;
  for (unsigned i = 0; i < ctx_->nb_streams; ++i) {
    const AVStream* s = ctx_->streams[i];
    if (s->duration == AV_NOPTS_VALUE || s->duration <= 0 || (s->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
    const REFERENCE_TIME d = av_rescale_q(s->duration, s->time_base, kRefTimeBase);
    if (d > longest) {
      next = longest;
      longest = d;
      // The index counts the packets the file really holds; a header's count can be damaged
      // with the rest of its stream's header.
      const int indexed = avformat_index_get_entries_count(s);
      longestPackets = indexed > 0 ? indexed : s->nb_frames;
    } else if (d > next) {
      next = d;
    }
  }
  const bool packetsPlausible = longestPackets > 0 && longest / longestPackets <= kTwoSeconds / 2;
  if (next > 0 && longest > 2 * next + kTwoSeconds && !packetsPlausible) {
    TAV_TRACE("a stream claims %lld, the others %lld: taken as damaged", static_cast<long long>(longest),
              static_cast<long long>(next));
    return next;
  }
  if (ctx_->duration != AV_NOPTS_VALUE && ctx_->duration > 0)
    return av_rescale_q(ctx_->duration, AV_TIME_BASE_Q, kRefTimeBase);
  return longest;
}

bool AvDemuxer::Seekable() const {
  return ctx_ && ctx_->pb && (ctx_->pb->seekable & AVIO_SEEKABLE_NORMAL);
}

bool AvDemuxer::ToReferenceTime(int stream, int64_t ts, REFERENCE_TIME* out) const {
  if (ts == AV_NOPTS_VALUE) return false;
  const AVStream* s = ctx_->streams[stream];
  *out = av_rescale_q(ts, s->time_base, kRefTimeBase) - av_rescale_q(startTime_, AV_TIME_BASE_Q, kRefTimeBase);
  return true;
}

REFERENCE_TIME AvDemuxer::ToReferenceDuration(int stream, int64_t duration) const {
  return duration > 0 ? av_rescale_q(duration, ctx_->streams[stream]->time_base, kRefTimeBase) : 0;
}

// ---- damaged times -------------------------------------------------------------------------

void TimeSpikeGuard::Push(AvPacketPtr packet, REFERENCE_TIME pts, REFERENCE_TIME dts,
                          std::vector<AvPacketPtr>* out) {
  if (pts != kNoTime && dts != kNoTime && (pts - dts > Reach() || dts - pts > Reach())) {
    ClearTimes(packet.get());
    pts = dts = kNoTime;
  }
  // The time the packet is delivered with.
  const REFERENCE_TIME time = pts != kNoTime ? pts : dts;
  if (!held_.empty()) {
    if (time == kNoTime && held_.size() < kMaxHeld) {
      held_.push_back(std::move(packet));
      return;
    }
    // Back near the course before the leap: the leap was damage. Otherwise a new course.
    const bool cameBack = time != kNoTime && time - last_ <= Reach() && last_ - time <= Reach();
    Release(cameBack, out);
  } else if (time != kNoTime && last_ != kNoTime && (time - last_ > Reach() || last_ - time > Reach())) {
    held_.push_back(std::move(packet));
    heldTime_ = time;
    return;
  }
  if (time != kNoTime) Advance(time);
  out->push_back(std::move(packet));
}

void TimeSpikeGuard::Finish(std::vector<AvPacketPtr>* out) { Release(true, out); }

void TimeSpikeGuard::Release(bool damaged, std::vector<AvPacketPtr>* out) {
  if (held_.empty()) return;
  if (damaged) ClearTimes(held_.front().get());
  else Advance(heldTime_);
  for (AvPacketPtr& p : held_) out->push_back(std::move(p));
  held_.clear();
}

void TimeSpikeGuard::Advance(REFERENCE_TIME time) {
  if (last_ != kNoTime && time > last_) step_ = time - last_;
  last_ = time;
}

void TimeSpikeGuard::ClearTimes(AVPacket* packet) {
  TAV_TRACE("packet time %lld of stream %d is damaged: dropped", static_cast<long long>(packet->pts),
            packet->stream_index);
  packet->pts = packet->dts = AV_NOPTS_VALUE;
  packet->duration = 0;
}

// ---- media types ------------------------------------------------------------------------------

namespace {

constexpr DWORD Fourcc(char a, char b, char c, char d) {
  return DWORD(BYTE(a)) | DWORD(BYTE(b)) << 8 | DWORD(BYTE(c)) << 16 | DWORD(BYTE(d)) << 24;
}

// The FOURCC a codec goes by in AVI files, for containers that name codecs otherwise.
DWORD FourccForCodec(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_MPEG4: return Fourcc('F', 'M', 'P', '4');
    case AV_CODEC_ID_H264: return Fourcc('H', '2', '6', '4');
    case AV_CODEC_ID_HEVC: return Fourcc('H', 'E', 'V', 'C');
    case AV_CODEC_ID_H263: return Fourcc('H', '2', '6', '3');
    case AV_CODEC_ID_MSMPEG4V3: return Fourcc('M', 'P', '4', '3');
    case AV_CODEC_ID_MSMPEG4V2: return Fourcc('M', 'P', '4', '2');
    case AV_CODEC_ID_WMV1: return Fourcc('W', 'M', 'V', '1');
    case AV_CODEC_ID_WMV2: return Fourcc('W', 'M', 'V', '2');
    case AV_CODEC_ID_WMV3: return Fourcc('W', 'M', 'V', '3');
    case AV_CODEC_ID_VC1: return Fourcc('W', 'V', 'C', '1');
    case AV_CODEC_ID_MJPEG: return Fourcc('M', 'J', 'P', 'G');
    case AV_CODEC_ID_CINEPAK: return Fourcc('c', 'v', 'i', 'd');
    case AV_CODEC_ID_DVVIDEO: return Fourcc('d', 'v', 's', 'd');
    case AV_CODEC_ID_MPEG2VIDEO: return Fourcc('M', 'P', 'G', '2');
    case AV_CODEC_ID_VP8: return Fourcc('V', 'P', '8', '0');
    case AV_CODEC_ID_VP9: return Fourcc('V', 'P', '9', '0');
    default: break;
  }
  // The list of tag tables ends with a null entry.
  const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
  return av_codec_get_tag(tables, id);
}

bool IsAviTag(const AVStream* s) {
  // Tags from QuickTime-like containers ("avc1", "mp4v", "s263") are kept as well: they
  // name the same codecs in the platform's subtypes.
  return s->codecpar->codec_tag != 0;
}

// Uncompressed pictures: the platform's RGB / YUV subtype and bit depth.
bool RawVideoSubtype(const AVCodecParameters* p, GUID* subtype, WORD* bits, DWORD* compression) {
  switch (p->format) {
    case AV_PIX_FMT_BGR24: *subtype = MEDIASUBTYPE_RGB24; *bits = 24; *compression = BI_RGB; return true;
    case AV_PIX_FMT_BGRA:
    case AV_PIX_FMT_BGR0: *subtype = MEDIASUBTYPE_RGB32; *bits = 32; *compression = BI_RGB; return true;
    case AV_PIX_FMT_RGB555LE: *subtype = MEDIASUBTYPE_RGB555; *bits = 16; *compression = BI_RGB; return true;
    case AV_PIX_FMT_RGB565LE: *subtype = MEDIASUBTYPE_RGB565; *bits = 16; *compression = BI_BITFIELDS; return true;
    case AV_PIX_FMT_PAL8: *subtype = MEDIASUBTYPE_RGB8; *bits = 8; *compression = BI_RGB; return true;
    case AV_PIX_FMT_YUYV422: *subtype = MEDIASUBTYPE_YUY2; *bits = 16; *compression = Fourcc('Y', 'U', 'Y', '2'); return true;
    case AV_PIX_FMT_UYVY422: *subtype = MEDIASUBTYPE_UYVY; *bits = 16; *compression = Fourcc('U', 'Y', 'V', 'Y'); return true;
    case AV_PIX_FMT_YUV420P:
      *bits = 12;
      *compression = p->codec_tag ? p->codec_tag : Fourcc('I', '4', '2', '0');
      *subtype = FourccSubtype(*compression);
      return true;
    default: return false;
  }
}

REFERENCE_TIME FrameTime(const AVStream* s) {
  AVRational r = s->avg_frame_rate.num > 0 && s->avg_frame_rate.den > 0 ? s->avg_frame_rate : s->r_frame_rate;
  if (r.num <= 0 || r.den <= 0) return 0;
  return av_rescale(10000000, r.den, r.num);
}

// How the stream's pictures are shown: the display matrix (or a "rotate" tag), the
// pixel shape the container or the codec headers give, and the field order.
DisplayGeometry StreamGeometry(const AVStream* s) {
  const AVCodecParameters* p = s->codecpar;
  DisplayGeometry g;
  size_t size = 0;
  const uint8_t* matrix = av_stream_get_side_data(s, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (matrix && size >= 9 * sizeof(int32_t)) {
    int32_t m[9];
    std::memcpy(m, matrix, sizeof m);
    g = GeometryFromDisplayMatrix(m);
  } else if (const AVDictionaryEntry* e = av_dict_get(s->metadata, "rotate", nullptr, 0)) {
    const long degrees = std::strtol(e->value, nullptr, 10);
    g.quarterTurns = int((((degrees + 45) / 90) % 4 + 4) % 4);
  }
  AVRational sar = s->sample_aspect_ratio.num > 0 && s->sample_aspect_ratio.den > 0 ? s->sample_aspect_ratio
                                                                                     : p->sample_aspect_ratio;
  if (sar.num > 0 && sar.den > 0) {
    av_reduce(&sar.num, &sar.den, sar.num, sar.den, 1 << 16);
    g.sarNum = sar.num;
    g.sarDen = sar.den;
  }
  g.interlaced = p->field_order != AV_FIELD_UNKNOWN && p->field_order != AV_FIELD_PROGRESSIVE;
  return g;
}

HRESULT VideoType(const AVStream* s, bool mpegSplitter, CMediaType* mt) {
  const AVCodecParameters* p = s->codecpar;
  const ULONG extra = p->extradata ? ULONG(p->extradata_size) : 0;
  mt->SetType(&MEDIATYPE_Video);
  mt->SetTemporalCompression(TRUE);
  mt->SetVariableSize();

  VIDEOINFOHEADER header{};
  header.rcSource = {0, 0, p->width, p->height};
  header.rcTarget = header.rcSource;
  header.dwBitRate = p->bit_rate > 0 && p->bit_rate < INT32_MAX ? DWORD(p->bit_rate) : 0;
  header.AvgTimePerFrame = FrameTime(s);
  BITMAPINFOHEADER& bih = header.bmiHeader;
  bih.biSize = sizeof(BITMAPINFOHEADER);
  bih.biWidth = p->width;
  bih.biHeight = p->height;
  bih.biPlanes = 1;

  if (p->codec_id == AV_CODEC_ID_MPEG1VIDEO) {
    // MPEG-1 video: the payload subtype, MPEG1VIDEOINFO with the sequence header.
    mt->SetSubtype(&MEDIASUBTYPE_MPEG1Payload);
    mt->SetFormatType(&FORMAT_MPEGVideo);
    bih.biBitCount = 24;
    const ULONG size = ULONG(offsetof(MPEG1VIDEOINFO, bSequenceHeader)) + extra;
    BYTE* block = mt->AllocFormatBuffer(std::max<ULONG>(size, sizeof(MPEG1VIDEOINFO)));
    if (!block) return E_OUTOFMEMORY;
    auto* info = reinterpret_cast<MPEG1VIDEOINFO*>(block);
    info->hdr = header;
    info->dwStartTimeCode = 0;
    info->cbSequenceHeader = extra;
    if (extra) std::memcpy(info->bSequenceHeader, p->extradata, extra);
    return S_OK;
  }

  GUID subtype;
  WORD bits = 24;
  DWORD compression = 0;
  if (p->codec_id == AV_CODEC_ID_RAWVIDEO && RawVideoSubtype(p, &subtype, &bits, &compression)) {
    mt->SetTemporalCompression(FALSE);
  } else {
    compression = IsAviTag(s) ? p->codec_tag : FourccForCodec(p->codec_id);
    if (compression == 0) return VFW_E_UNSUPPORTED_VIDEO;
    // MPEG-2 video of program streams goes by the platform's MPEG-2 subtype.
    subtype = p->codec_id == AV_CODEC_ID_MPEG2VIDEO && !IsAviTag(s) ? MEDIASUBTYPE_MPEG2_VIDEO
                                                                    : FourccSubtype(compression);
    bits = p->bits_per_coded_sample > 0 ? WORD(p->bits_per_coded_sample) : 24;
  }
  mt->SetSubtype(&subtype);
  mt->SetFormatType(&FORMAT_VideoInfo);
  bih.biBitCount = bits;
  bih.biCompression = compression;
  bih.biSizeImage = GetBitmapSize(&bih);
  if (!mt->IsTemporalCompressed()) mt->SetSampleSize(bih.biSizeImage);
  bih.biSize = sizeof(BITMAPINFOHEADER) + extra;
  // Compressed pictures shown otherwise than stored carry their display geometry after
  // the codec's extra data, for the decoder.
  const DisplayGeometry geometry = mt->IsTemporalCompressed() ? StreamGeometry(s) : DisplayGeometry{};
  const ULONG trailer = geometry.IsPlain() ? 0 : ULONG(kDisplayGeometryBytes);
  BYTE* block = mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER) + extra + trailer);
  if (!block) return E_OUTOFMEMORY;
  std::memcpy(block, &header, sizeof header);
  if (extra) std::memcpy(block + sizeof(VIDEOINFOHEADER), p->extradata, extra);
  if (trailer) WriteDisplayGeometry(geometry, block + sizeof(VIDEOINFOHEADER) + extra);
  (void)mpegSplitter;
  return S_OK;
}

WORD AudioTag(const AVStream* s) {
  const AVCodecParameters* p = s->codecpar;
  // AVI and ASF carry the tag itself; other containers name the codec.
  if (p->codec_tag != 0 && p->codec_tag <= 0xFFFF) return WORD(p->codec_tag);
  switch (p->codec_id) {
    case AV_CODEC_ID_PCM_U8:
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S24LE:
    case AV_CODEC_ID_PCM_S32LE: return WAVE_FORMAT_PCM;
    case AV_CODEC_ID_PCM_F32LE: return WAVE_FORMAT_IEEE_FLOAT;
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2: return WAVE_FORMAT_MPEG;
    case AV_CODEC_ID_MP3: return WAVE_FORMAT_MPEGLAYER3;
    case AV_CODEC_ID_AAC: return 0x00FF;
    case AV_CODEC_ID_AC3: return 0x2000;
    default: break;
  }
  // The list of tag tables ends with a null entry: without it a codec the table lacks
  // (big-endian PCM of a QuickTime movie) read past the list.
  const AVCodecTag* const tables[] = {avformat_get_riff_audio_tags(), nullptr};
  return WORD(av_codec_get_tag(tables, p->codec_id));
}

// The QuickTime four-character code of a codec that has no wave format tag (big-endian PCM
// "twos", ALAC, IMA ADPCM "ima4"); 0 when there is none.
FOURCC QuickTimeAudioTag(AVCodecID id) {
  const AVCodecTag* const tables[] = {avformat_get_mov_audio_tags(), nullptr};
  return FOURCC(av_codec_get_tag(tables, id));
}

HRESULT AudioType(const AVStream* s, CMediaType* mt) {
  const AVCodecParameters* p = s->codecpar;
  const WORD channels = WORD(p->ch_layout.nb_channels);
  const WORD tag = AudioTag(s);
  // Without a wave format tag the stream is typed by its QuickTime code, format tag 0.
  const FOURCC quickTime = tag == 0 ? QuickTimeAudioTag(p->codec_id) : 0;
  if ((tag == 0 && quickTime <= 0xFFFF) || channels == 0 || p->sample_rate <= 0) return VFW_E_UNSUPPORTED_AUDIO;
  const bool pcm = tag == WAVE_FORMAT_PCM || tag == WAVE_FORMAT_IEEE_FLOAT;
  WAVEFORMATEX wfx{};
  wfx.wFormatTag = tag;
  wfx.nChannels = channels;
  wfx.nSamplesPerSec = DWORD(p->sample_rate);
  wfx.wBitsPerSample = WORD(p->bits_per_coded_sample > 0 ? p->bits_per_coded_sample : pcm ? 16 : 0);
  wfx.nBlockAlign = WORD(p->block_align > 0 ? p->block_align : pcm ? channels * wfx.wBitsPerSample / 8 : 1);
  wfx.nAvgBytesPerSec = pcm ? wfx.nSamplesPerSec * wfx.nBlockAlign : DWORD(std::max<int64_t>(p->bit_rate / 8, 0));
  mt->SetType(&MEDIATYPE_Audio);
  mt->SetFormatType(&FORMAT_WaveFormatEx);
  if (pcm && channels > 2) {
    // More than two channels: the extensible form, with the speaker positions.
    WAVEFORMATEXTENSIBLE ext{};
    ext.Format = wfx;
    ext.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    ext.Format.cbSize = sizeof ext - sizeof(WAVEFORMATEX);
    ext.Samples.wValidBitsPerSample = wfx.wBitsPerSample;
    ext.dwChannelMask = p->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? DWORD(p->ch_layout.u.mask) : 0;
    ext.SubFormat = tag == WAVE_FORMAT_PCM ? KSDATAFORMAT_SUBTYPE_PCM : KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    mt->SetSubtype(&ext.SubFormat);
    mt->SetSampleSize(wfx.nBlockAlign);
    return mt->SetFormat(reinterpret_cast<const BYTE*>(&ext), sizeof ext) ? S_OK : E_OUTOFMEMORY;
  }
  const GUID subtype = FourccSubtype(tag != 0 ? FOURCC(tag) : quickTime);
  mt->SetSubtype(&subtype);
  if (pcm) mt->SetSampleSize(wfx.nBlockAlign);
  else mt->SetVariableSize();
  const ULONG extra = p->extradata && p->extradata_size > 0 ? ULONG(p->extradata_size) : 0;
  wfx.cbSize = WORD(extra);
  BYTE* block = mt->AllocFormatBuffer(sizeof wfx + extra);
  if (!block) return E_OUTOFMEMORY;
  std::memcpy(block, &wfx, sizeof wfx);
  if (extra) std::memcpy(block + sizeof wfx, p->extradata, extra);
  return S_OK;
}

}  // namespace

HRESULT MediaTypeForStream(const AVStream* s, bool mpegSplitter, CMediaType* mt) {
  mt->InitMediaType();
  switch (s->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      // A cover picture (album art of a song, a poster of a movie) is one still image, not
      // a stream: it gets no pin, so that nothing downstream waits on it.
      if (s->disposition & AV_DISPOSITION_ATTACHED_PIC) return VFW_E_UNSUPPORTED_STREAM;
      return VideoType(s, mpegSplitter, mt);
    case AVMEDIA_TYPE_AUDIO:
      return AudioType(s, mt);
    case AVMEDIA_TYPE_SUBTITLE:
      mt->SetType(&MEDIATYPE_Text);
      mt->SetFormatType(&FORMAT_None);
      mt->SetVariableSize();
      return S_OK;
    default:
      break;
  }
  // Data and anything else (DVD navigation packets, time codes, timed metadata, fonts
  // attached to a movie) has a type no decoder takes. Never the byte stream type of a
  // file: that one would be offered to the splitters, as a file of unknown kind is.
  if (s->codecpar->codec_id == AV_CODEC_ID_DVD_NAV) {
    mt->SetType(&MEDIATYPE_DVD_NAVIGATION);
    mt->SetSubtype(&MEDIASUBTYPE_DVD_NAVIGATION_PCI);
  } else {
    mt->SetType(&MEDIATYPE_AvData);
    const GUID code = s->codecpar->codec_tag ? FourccSubtype(s->codecpar->codec_tag) : GUID_NULL;
    mt->SetSubtype(&code);
  }
  mt->SetFormatType(&FORMAT_None);
  mt->SetVariableSize();
  return S_OK;
}

LONG SampleSizeForStream(const AVStream* s) {
  const AVCodecParameters* p = s->codecpar;
  if (p->codec_type == AVMEDIA_TYPE_VIDEO) {
    int64_t frame = int64_t(std::max(p->width, 16)) * std::max(p->height, 16) * 4 + 64 * 1024;
    return LONG(std::clamp<int64_t>(frame, 256 * 1024, 64 * 1024 * 1024));
  }
  return 512 * 1024;
}

}  // namespace tav::filters
