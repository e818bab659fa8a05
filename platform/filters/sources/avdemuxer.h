// A libavformat demuxer reading from a ByteSource through a custom I/O context, with the
// stream times turned into reference time (100 ns, the file's start at 0).
#pragma once

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "platform/filters/avptr.h"
#include "platform/filters/sources/bytesource.h"
#include "platform/streaming/base/mtype.h"

namespace tav::filters {

class AvDemuxer {
 public:
  AvDemuxer() = default;
  AvDemuxer(const AvDemuxer&) = delete;
  AvDemuxer& operator=(const AvDemuxer&) = delete;

  // Opens the container; format names the demuxer to use ("avi", "mpeg", ...), or null
  // to let libavformat probe. VFW_E_UNKNOWN_FILE_TYPE / VFW_E_INVALID_FILE_FORMAT when
  // the bytes are not such a file or carry no stream.
  HRESULT Open(ByteSource* source, const char* format);
  AVFormatContext* Context() const { return ctx_.get(); }
  int StreamCount() const { return ctx_ ? int(ctx_->nb_streams) : 0; }
  AVStream* Stream(int i) const { return ctx_->streams[i]; }

  // The next packet; S_FALSE at the end of the file, a failure when the file is damaged
  // beyond reading on.
  HRESULT ReadPacket(AVPacket* packet);
  // Whether ReadPacket gives the stream's packets; an unwanted stream's data is skipped in
  // the file rather than read and dropped. Every stream is wanted after Open.
  void SetStreamWanted(int stream, bool wanted);
  // Positions the demuxer near time (100 ns); the container decides where it lands, which
  // need not be a key frame (an MPEG system stream lands on any packet).
  HRESULT Seek(REFERENCE_TIME time);
  // Positions the demuxer so that the video key frame at or before time is read again,
  // and reports that key frame's time in *keyTime (the first key frame when none comes
  // before time; kNoKeyFrame when there is none). Video packets read before that key frame must be dropped: the position
  // may lie ahead of it. Without video, or without a key frame near time, the demuxer is
  // positioned by Seek(time).
  static constexpr REFERENCE_TIME kNoKeyFrame = std::numeric_limits<REFERENCE_TIME>::min();
  HRESULT SeekToKeyFrame(REFERENCE_TIME time, REFERENCE_TIME* keyTime);
  // The first video stream, -1 when there is none.
  int VideoStream() const;
  // The movie's duration (100 ns); 0 when unknown.
  REFERENCE_TIME Duration() const;
  bool Seekable() const;
  // A packet time of the stream in 100 ns from the file's start; false when it has none.
  bool ToReferenceTime(int stream, int64_t ts, REFERENCE_TIME* out) const;
  REFERENCE_TIME ToReferenceDuration(int stream, int64_t duration) const;
  // Whether a packet time (100 ns from the file's start) can belong to the file: not more
  // than a margin before its start or past its end, when the container knows its duration
  // (not merely estimated from the bit rate). A time far outside is damage; its packet goes
  // on without a time, and the decoder places it after the one before.
  bool PlausibleTime(REFERENCE_TIME time) const { return time >= -kTimeMargin && time <= latestTime_; }
  static constexpr REFERENCE_TIME kTimeMargin = 10'000'000;

 private:
  static int ReadCallback(void* opaque, uint8_t* buffer, int size);
  static int64_t SeekCallback(void* opaque, int64_t offset, int whence);

  ByteSource* source_ = nullptr;
  int64_t position_ = 0;  // read position of the I/O context
  AvioPtr io_;
  AvFormatPtr ctx_;
  int64_t startTime_ = 0;  // the container's start time, AV_TIME_BASE units
  int64_t dataStart_ = 0;  // byte position of the first packet, after the header
  bool startByPosition_ = false;  // the start is sought by byte position (transport streams)
  REFERENCE_TIME latestTime_ = std::numeric_limits<REFERENCE_TIME>::max();  // latest plausible packet time
};

// One stream's packet times as they are read. A time that leaps away from the stream's
// course and comes straight back with the next packet is damage, not a gap: that packet goes
// on without its times (the decoder places it after the one before), so a few damaged bytes
// never stretch the movie. A leap that the next packet follows is a real gap and is kept.
// The packet that leapt is held back, with the untimed ones after it, until the next timed
// one shows which it is.
class TimeSpikeGuard {
 public:
  static constexpr REFERENCE_TIME kNoTime = std::numeric_limits<REFERENCE_TIME>::min();
  // How far a packet may lie from the one before: half a second, or eight of the stream's
  // steps when those are longer (a slide show's pictures are seconds apart).
  static constexpr REFERENCE_TIME kMinReach = 5'000'000;

  // Takes the stream's next packet with its presentation and decoding times (kNoTime: none)
  // and appends the packets to deliver now, in order. Two times of one packet that lie far
  // apart are damage at once.
  void Push(AvPacketPtr packet, REFERENCE_TIME pts, REFERENCE_TIME dts, std::vector<AvPacketPtr>* out);
  // The end of the stream: a packet still held leapt at the very end, and goes without times.
  void Finish(std::vector<AvPacketPtr>* out);

 private:
  REFERENCE_TIME Reach() const { return std::max(kMinReach, 8 * step_); }
  void Advance(REFERENCE_TIME time);
  void Release(bool damaged, std::vector<AvPacketPtr>* out);
  static void ClearTimes(AVPacket* packet);

  REFERENCE_TIME last_ = kNoTime;  // time of the last packet taken at its word
  REFERENCE_TIME step_ = 0;        // the last forward step between such packets
  // The packet that leapt and the untimed packets read after it, until a timed one comes.
  std::vector<AvPacketPtr> held_;
  REFERENCE_TIME heldTime_ = 0;
  static constexpr size_t kMaxHeld = 256;
};

// The platform media type of a demuxed stream, as the platform's decoders expect it:
// FOURCC video subtypes with a VIDEOINFOHEADER (codec extra data after the bitmap header),
// MPEG-1 video with MPEG1VIDEOINFO, audio with a WAVEFORMATEX carrying the format tag,
// uncompressed video as the RGB / YUV subtypes, other streams typed by their kind.
// VFW_E_UNSUPPORTED_STREAM for a cover picture, which is no stream to deliver.
HRESULT MediaTypeForStream(const AVStream* stream, bool mpegSplitter, CMediaType* mt);
// Largest sample the stream should need (bytes).
LONG SampleSizeForStream(const AVStream* stream);

}  // namespace tav::filters
