#include "clipmux/movieencoder.h"

#include "clipmux/rgbtoyuv.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libavutil/rational.h>
}

namespace clipmux {

namespace {

constexpr uint32_t kXvidTag = MKTAG('X', 'V', 'I', 'D');
// Longest key-frame distance small players cope with.
constexpr int kMaxKeyIntervalMs = 2000;
// Every packet becomes an AVI chunk: four-character code and 32-bit size, then the data.
constexpr int64_t kChunkHeaderBytes = 8;
// Closing the movie adds the index ("idx1"): an 8-byte header and 16 bytes per chunk.
constexpr int64_t kIndexHeaderBytes = 8;
constexpr int64_t kIndexEntryBytes = 16;
// Past 1 GiB the muxer closes the RIFF list and opens another ("AVIX"): the first list keeps
// its "idx1", and every list gets an OpenDML index ("ix##", 8 bytes a chunk) with a header per
// stream. Those bytes go into the middle of the file, outside the committed count.
constexpr int64_t kRiffListBytes = int64_t(1) << 30;
constexpr int64_t kOpenDmlEntryBytes = 8;
constexpr int64_t kRiffListOverheadBytes = 1024;  // list and index headers of one RIFF list
// MP3 frames beyond those that the sound and the encoder's delay fill: the padded last one
// and the one the encoder may add when it is flushed.
constexpr int64_t kMp3EndFrames = 2;

int64_t ChunkBytes(int64_t dataBytes) { return kChunkHeaderBytes + dataBytes + (dataBytes & 1); }

std::string AvError(int err) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(err, text, sizeof text);
  return text;
}

}  // namespace

MovieEncoder::MovieEncoder(const MovieJob& job, CountingOutput& output) : job_(job), output_(output) {}

MovieEncoder::~MovieEncoder() { StopWorker(); }

void MovieEncoder::Fail(const std::string& what, int averror) {
  if (averror == AVERROR(ENOSPC) || averror == AVERROR(EFBIG) || output_.lastError() == ENOSPC ||
      output_.lastError() == EFBIG)
    throw MyError("the disk is full: cannot write '" + job_.path + "' (" + what + ")", ENOSPC);
  if (output_.lastError() != 0)
    throw MyError("cannot write '" + job_.path + "': " + std::strerror(output_.lastError()) + " (" + what + ")",
                  output_.lastError());
  throw MyError(what + ": " + AvError(averror));
}

void MovieEncoder::OpenVideoEncoder() {
  const AVCodec* codec = avcodec_find_encoder_by_name("mpeg4");
  if (!codec) throw MyError("the MPEG-4 video encoder is not available");
  videoCodec_.reset(avcodec_alloc_context3(codec));
  if (!videoCodec_) throw MyError("out of memory (video encoder)");
  AVCodecContext* c = videoCodec_.get();
  const VideoLayout& v = job_.video;
  const CONFIG& cfg = job_.config;
  AVRational rate = av_d2q(v.frameRate, 1001000);
  c->width = v.width;
  c->height = v.height;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = av_inv_q(rate);
  c->framerate = rate;
  c->bit_rate = int64_t(cfg.videoKbps) * 1000;
  c->qmin = int(cfg.minQuantizer);
  c->qmax = int(cfg.maxQuantizer);
  c->mb_decision = int(cfg.macroblockDecision);
  c->thread_count = int(cfg.encoderThreads);
  // Simple Profile: I and P frames only, half-pel motion, no global motion compensation.
  c->max_b_frames = 0;
  c->flags &= ~(AV_CODEC_FLAG_QPEL);
  c->profile = FF_PROFILE_MPEG4_SIMPLE;
  c->level = (v.width * v.height <= 352 * 288) ? 3 : 5;
  int keyMs = int(std::min<DWORD>(cfg.keyIntervalMs, kMaxKeyIntervalMs));
  c->gop_size = std::max(1, int(std::floor(keyMs * v.frameRate / 1000.0 + 1e-9)));
  c->codec_tag = kXvidTag;
  c->sample_aspect_ratio = AVRational{1, 1};
  if (muxer_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int err = avcodec_open2(c, codec, nullptr);
  if (err < 0) Fail("cannot start the MPEG-4 encoder", err);

  if ((err = pictures_.Open(c)) < 0) Fail("cannot allocate a picture", err);
  for (Slot& slot : slots_) {
    slot.picture.reset(av_frame_alloc());
    if (!slot.picture) throw MyError("out of memory (picture)");
    if ((err = pictures_.Get(slot.picture.get())) < 0) Fail("cannot allocate a picture", err);
  }

  lastPicture_.reset(av_frame_alloc());
  if (!lastPicture_) throw MyError("out of memory (picture)");
  frameBuffer_.assign(size_t(v.frameBytes()), 0);
}

void MovieEncoder::OpenAudioEncoder() {
  const AudioLayout& a = *job_.audio;
  const AVCodec* codec = avcodec_find_encoder_by_name("libmp3lame");
  if (!codec) throw MyError("the MP3 encoder (libmp3lame) is not available");
  audioCodec_.reset(avcodec_alloc_context3(codec));
  if (!audioCodec_) throw MyError("out of memory (audio encoder)");
  AVCodecContext* c = audioCodec_.get();
  c->sample_fmt = AV_SAMPLE_FMT_S16P;
  c->sample_rate = a.sampleRate;
  av_channel_layout_default(&c->ch_layout, a.channels);
  c->bit_rate = a.bitRate;
  c->time_base = AVRational{1, a.sampleRate};
  if (muxer_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int err = avcodec_open2(c, codec, nullptr);
  if (err < 0) Fail("cannot start the MP3 encoder", err);

  samples_.reset(av_frame_alloc());
  fifo_.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_S16P, a.channels, std::max(c->frame_size, 1) * 4));
  if (!samples_ || !fifo_) throw MyError("out of memory (audio buffers)");
  samples_->format = c->sample_fmt;
  samples_->nb_samples = c->frame_size;
  samples_->sample_rate = c->sample_rate;
  av_channel_layout_copy(&samples_->ch_layout, &c->ch_layout);
  if ((err = av_frame_get_buffer(samples_.get(), 0)) < 0) Fail("cannot allocate an audio frame", err);
  // One frame's worth of audio is bytes-per-second / frame rate; leave room for generous
  // callers: two seconds, and never less than two frames' worth.
  int perSecond = a.sampleRate * a.blockAlign;
  int perFrame = int(std::ceil(perSecond / job_.video.frameRate));
  chunkBuffer_.assign(size_t(std::max(2 * perSecond, 2 * perFrame)), 0);
}

void MovieEncoder::OpenMuxer() {
  AVFormatContext* ctx = nullptr;
  int err = avformat_alloc_output_context2(&ctx, nullptr, "avi", nullptr);
  if (err < 0 || !ctx) throw MyError("the AVI writer is not available");
  muxer_.reset(ctx);
  ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  // The muxer would otherwise empty the output's buffer after every packet (two or three
  // writes a frame); the output counts buffered bytes as written, so only the system calls
  // change: the file is written in whole buffers.
  ctx->flush_packets = 0;
  ctx->pb = output_.context();
}

int MovieEncoder::Run() {
  if (!job_.callback) throw MyError("no callback to take frames from");
  OpenMuxer();
  OpenVideoEncoder();
  if (job_.audio) OpenAudioEncoder();

  videoStream_ = avformat_new_stream(muxer_.get(), nullptr);
  if (!videoStream_) throw MyError("out of memory (video stream)");
  avcodec_parameters_from_context(videoStream_->codecpar, videoCodec_.get());
  videoStream_->codecpar->codec_tag = kXvidTag;
  videoStream_->time_base = videoCodec_->time_base;
  videoStream_->avg_frame_rate = videoCodec_->framerate;
  if (audioCodec_) {
    audioStream_ = avformat_new_stream(muxer_.get(), nullptr);
    if (!audioStream_) throw MyError("out of memory (audio stream)");
    avcodec_parameters_from_context(audioStream_->codecpar, audioCodec_.get());
    audioStream_->time_base = audioCodec_->time_base;
  }
  packet_.reset(av_packet_alloc());
  if (!packet_) throw MyError("out of memory (packet)");

  int err = output_.Open(job_.path, job_.qvfFormType);
  if (err < 0) throw MyError("cannot create the movie file '" + job_.path + "': " + std::strerror(-err));
  fileCreated_ = true;
  muxer_->pb = output_.context();
  if ((err = avformat_write_header(muxer_.get(), nullptr)) < 0) Fail("cannot write the movie header", err);
  headerWritten_ = true;
  committed_ = avio_tell(muxer_->pb);
  output_.SetCommitted(committed_);

  for (Slot& slot : slots_) freeSlots_.push_back(&slot);
  worker_ = std::thread([this] { WorkerLoop(); });

  try {
    PullFrames();
  } catch (...) {
    // The encoding thread must be gone before the caller closes the file.
    StopWorker();
    throw;
  }
  Submit(nullptr);
  StopWorker();
  {
    std::lock_guard lock(slotLock_);
    if (workerError_) std::rethrow_exception(workerError_);
  }

  // Flush the encoders, then let the muxer write the index and the final header. A movie
  // closed at its size limit takes no more video: the encoder's last frame was left out.
  if (!full_.load()) {
    if ((err = avcodec_send_frame(videoCodec_.get(), nullptr)) < 0) Fail("cannot finish the video", err);
    Drain(videoCodec_.get(), videoStream_);
  }
  if (audioCodec_) {
    EncodeAudio(true);
    if ((err = avcodec_send_frame(audioCodec_.get(), nullptr)) < 0) Fail("cannot finish the audio", err);
    Drain(audioCodec_.get(), audioStream_);
  }
  if ((err = av_write_trailer(muxer_.get())) < 0) Fail("cannot write the movie index", err);
  if ((err = output_.Close()) < 0) Fail("cannot complete the movie file", err);
  if (full_.load()) job_.callback->SizeLimitReached(int(framesInFile_), projected_);
  return int(framesInFile_);
}

void MovieEncoder::PullFrames() {
  IDubberCallback* cb = job_.callback;
  const int frameBytes = job_.video.frameBytes();
  // Once a frame did not fit, the movie ends: a frame pulled meanwhile is left out as well.
  while (!full_.load()) {
    // The slot comes first: the callback lends its frame until it is converted, and the
    // sender waits meanwhile, so nothing may wait between the lend and the return.
    Slot* slot = TakeFreeSlot();
    if (full_.load()) {
      GiveBackSlot(slot);
      break;
    }
    const char* frame = nullptr;
    int bytes = 0;
    // The conversion reads the lent frame in place; only a short frame is copied, to be
    // completed with black rows. The YUV picture it writes is laid out as the encoder's own
    // pictures are (the picture pool), so the encoder reads it without a further copy.
    cb->LendVideoFrame(reinterpret_cast<char*>(frameBuffer_.data()), &frame, &bytes);
    if (bytes == IDubberCallback::kRepeatPicture && lastPicture_->buf[0]) {
      // The last picture once more: its converted buffer is shared, not copied.
      cb->ReturnVideoFrame();
      av_frame_unref(slot->picture.get());
      if (av_frame_ref(slot->picture.get(), lastPicture_.get()) < 0) {
        GiveBackSlot(slot);
        Fail("cannot repeat a picture", AVERROR(ENOMEM));
      }
      slot->picture->pts = framesPulled_++;
    } else if (bytes <= 0 || !frame || bytes > frameBytes) {
      cb->ReturnVideoFrame();
      GiveBackSlot(slot);
      if (bytes > frameBytes) throw MyError("the callback returned a frame larger than the frame size");
      break;
    } else {
      try {
        ConvertVideo(reinterpret_cast<const uint8_t*>(frame), bytes, slot->picture.get());
      } catch (...) {
        cb->ReturnVideoFrame();
        GiveBackSlot(slot);
        throw;
      }
      cb->ReturnVideoFrame();
      // Kept (a reference, not a copy) for a repeat.
      av_frame_unref(lastPicture_.get());
      if (av_frame_ref(lastPicture_.get(), slot->picture.get()) < 0) av_frame_unref(lastPicture_.get());
    }
    slot->audio.clear();
    if (audioCodec_) {
      int audioBytes = 0, blocks = 0;
      cb->GetAudioChunk(reinterpret_cast<char*>(chunkBuffer_.data()), &audioBytes, &blocks);
      if (audioBytes > int(chunkBuffer_.size())) {
        GiveBackSlot(slot);
        throw MyError("the callback returned more audio than the buffer holds");
      }
      if (audioBytes > 0) slot->audio.assign(chunkBuffer_.begin(), chunkBuffer_.begin() + audioBytes);
    }
    Submit(slot);
  }
}

void MovieEncoder::GiveBackSlot(Slot* slot) {
  std::lock_guard lock(slotLock_);
  freeSlots_.push_back(slot);
}

MovieEncoder::Slot* MovieEncoder::TakeFreeSlot() {
  std::unique_lock lock(slotLock_);
  slotFreed_.wait(lock, [this] { return !freeSlots_.empty() || workerError_; });
  if (workerError_) std::rethrow_exception(workerError_);
  Slot* slot = freeSlots_.back();
  freeSlots_.pop_back();
  return slot;
}

void MovieEncoder::Submit(Slot* slot) {
  {
    std::lock_guard lock(slotLock_);
    if (slot)
      queuedSlots_.push_back(slot);
    else
      endQueued_ = true;
  }
  slotQueued_.notify_one();
}

void MovieEncoder::StopWorker() {
  if (!worker_.joinable()) return;
  {
    // Also the way out when the caller's side fails: the slots still queued are encoded,
    // and the thread ends.
    std::lock_guard lock(slotLock_);
    endQueued_ = true;
  }
  slotQueued_.notify_one();
  worker_.join();
}

void MovieEncoder::WorkerLoop() {
  for (;;) {
    Slot* slot = nullptr;
    {
      std::unique_lock lock(slotLock_);
      slotQueued_.wait(lock, [this] { return !queuedSlots_.empty() || endQueued_; });
      if (queuedSlots_.empty()) return;  // the end, and everything before it is written
      slot = queuedSlots_.front();
      queuedSlots_.erase(queuedSlots_.begin());
    }
    try {
      EncodeSlot(*slot);
    } catch (...) {
      std::lock_guard lock(slotLock_);
      workerError_ = std::current_exception();
      slotFreed_.notify_one();
      return;
    }
    {
      std::lock_guard lock(slotLock_);
      freeSlots_.push_back(slot);
    }
    slotFreed_.notify_one();
  }
}

void MovieEncoder::EncodeSlot(Slot& slot) {
  // After the frame that did not fit, nothing more goes in (neither video nor its sound).
  if (full_.load()) return;
  const int64_t samples = audioCodec_ ? int64_t(slot.audio.size()) / job_.audio->blockAlign : 0;
  if (EncodeVideo(slot.picture.get(), samples) && audioCodec_ && !slot.audio.empty())
    QueueAudio(slot.audio.data(), int(slot.audio.size()));
  output_.UpdateCount();
}

void MovieEncoder::ConvertVideo(const uint8_t* data, int bytes, AVFrame* picture) {
  const VideoLayout& v = job_.video;
  const int frameBytes = v.frameBytes();
  if (bytes < frameBytes) {
    // A short frame keeps what it has; the missing rows are black.
    if (data != frameBuffer_.data()) std::memcpy(frameBuffer_.data(), data, size_t(bytes));
    std::memset(frameBuffer_.data() + bytes, 0, size_t(frameBytes - bytes));
    data = frameBuffer_.data();
  }
  // The encoder may still hold the buffer of this slot's last picture (it reads pictures in
  // place): every frame takes a fresh one from the pool, and the old one goes back once the
  // encoder is done with it.
  int err = pictures_.Get(picture);
  if (err < 0) Fail("cannot get a picture buffer", err);
  const int stride = v.strideBytes();
  const uint8_t* top = data;
  int step = stride;
  if (v.bottomUp) {
    // Bottom-up bitmaps hold the last picture row first.
    top = data + int64_t(stride) * (v.height - 1);
    step = -stride;
  }
  RgbToYuv420(top, step, v.bitsPerPixel / 8, v.width, v.height, picture->data, picture->linesize);
  picture->pts = framesPulled_++;
}

bool MovieEncoder::EncodeVideo(AVFrame* picture, int64_t audioSamples) {
  int err = avcodec_send_frame(videoCodec_.get(), picture);
  if (err < 0) Fail("cannot encode a frame", err);
  Drain(videoCodec_.get(), videoStream_, /*hold=*/true);
  if (job_.sizeLimit > 0) {
    const int64_t closed = ClosedSizeWith(audioSamples);
    if (closed > job_.sizeLimit) {
      held_.clear();
      projected_ = closed;
      full_.store(true);
      return false;
    }
  }
  for (AvPacketPtr& packet : held_) WritePacket(packet.get());
  held_.clear();
  ++framesInFile_;
  return true;
}

// An upper bound of the finished file's size if the held video packets, audioSamples more
// samples of sound and then the end of the movie were written now. Every part of the file is
// counted as it will be: what is committed (header, chunks written or held by the muxer), the
// held video chunks, every MP3 frame still to come, and the index entries of all chunks.
int64_t MovieEncoder::ClosedSizeWith(int64_t audioSamples) const {
  int64_t size = committed_;
  int64_t chunks = videoChunks_ + audioChunks_;
  for (const AvPacketPtr& packet : held_) {
    size += ChunkBytes(packet->size);
    ++chunks;
  }
  if (audioCodec_) {
    // The MP3 encoder puts out a frame per frame_size samples of its delay (initial_padding)
    // and of the sound, the last one padded, and may add one when flushed. Frames that
    // carry only the delay are left out of the file, so this counts some frames too many.
    const AudioLayout& a = *job_.audio;
    const int64_t frameSamples = std::max(audioCodec_->frame_size, 1);
    const int64_t samples = std::max(audioCodec_->initial_padding, 0) + samplesQueued_ + audioSamples;
    const int64_t total = (samples + frameSamples - 1) / frameSamples + kMp3EndFrames;
    const int64_t toCome = std::max<int64_t>(total - audioChunks_, 0);
    // Constant bit rate: every frame has the same size but for a padding byte.
    const int64_t frameBytes =
        std::max(frameSamples * a.bitRate / (8 * int64_t(a.sampleRate)) + 1, largestAudioPacket_);
    size += toCome * ChunkBytes(frameBytes + (frameBytes & 1));
    chunks += toCome;
  }
  size += kIndexHeaderBytes + kIndexEntryBytes * chunks;
  if (job_.sizeLimit > kRiffListBytes)
    size += kOpenDmlEntryBytes * chunks + kRiffListOverheadBytes * (job_.sizeLimit / kRiffListBytes + 1);
  return size;
}

void MovieEncoder::WritePacket(AVPacket* packet) {
  if (audioStream_ && packet->stream_index == audioStream_->index) {
    ++audioChunks_;
    largestAudioPacket_ = std::max<int64_t>(largestAudioPacket_, packet->size);
  } else {
    ++videoChunks_;
  }
  // The muxer may hold the packet back to interleave it; it is counted now, as the chunk
  // it becomes: header, data and the pad byte that keeps chunks at even offsets.
  committed_ += ChunkBytes(packet->size);
  output_.SetCommitted(committed_);
  int err = av_interleaved_write_frame(muxer_.get(), packet);
  if (err < 0) Fail("cannot write to the movie file", err);
}

void MovieEncoder::QueueAudio(const uint8_t* data, int bytes) {
  const AudioLayout& a = *job_.audio;
  const int count = bytes / a.blockAlign;  // a trailing partial block is dropped
  if (count <= 0) return;
  planar_.resize(size_t(count) * a.channels);
  const auto* pcm = reinterpret_cast<const int16_t*>(data);
  void* planes[8] = {};
  for (int ch = 0; ch < a.channels; ++ch) {
    int16_t* plane = planar_.data() + size_t(ch) * count;
    for (int i = 0; i < count; ++i) plane[i] = pcm[size_t(i) * a.channels + ch];
    planes[ch] = plane;
  }
  if (av_audio_fifo_write(fifo_.get(), planes, count) < count) throw MyError("out of memory (audio queue)");
  samplesQueued_ += count;
  EncodeAudio(false);
}

void MovieEncoder::EncodeAudio(bool final) {
  const int frameSize = audioCodec_->frame_size;
  while (av_audio_fifo_size(fifo_.get()) >= frameSize || (final && av_audio_fifo_size(fifo_.get()) > 0)) {
    int n = std::min(frameSize, av_audio_fifo_size(fifo_.get()));
    samples_->nb_samples = frameSize;
    int err = av_frame_make_writable(samples_.get());
    if (err < 0) Fail("cannot get an audio buffer", err);
    samples_->nb_samples = n;
    av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(samples_->data), n);
    samples_->pts = samplesEncoded_;
    samplesEncoded_ += n;
    if ((err = avcodec_send_frame(audioCodec_.get(), samples_.get())) < 0) Fail("cannot encode audio", err);
    Drain(audioCodec_.get(), audioStream_);
  }
}

void MovieEncoder::Drain(AVCodecContext* codec, AVStream* stream, bool hold) {
  for (;;) {
    int err = avcodec_receive_packet(codec, packet_.get());
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
    if (err < 0) Fail("the encoder failed", err);
    if (codec == audioCodec_.get()) {
      // MP3 starts with the encoder's priming samples, stamped before zero. AVI places audio
      // by position only, so a packet that holds nothing but priming would make the sound
      // late; it is left out, and the audio is stamped from zero on.
      if (!audioStarted_ && packet_->pts != AV_NOPTS_VALUE && packet_->pts + packet_->duration <= 0) {
        av_packet_unref(packet_.get());
        continue;
      }
      if (!audioStarted_) {
        audioStarted_ = true;
        audioPtsShift_ = packet_->pts == AV_NOPTS_VALUE ? 0 : -packet_->pts;
      }
      if (packet_->pts != AV_NOPTS_VALUE) packet_->pts += audioPtsShift_;
      if (packet_->dts != AV_NOPTS_VALUE) packet_->dts += audioPtsShift_;
    }
    av_packet_rescale_ts(packet_.get(), codec->time_base, stream->time_base);
    packet_->stream_index = stream->index;
    if (!hold) {
      WritePacket(packet_.get());
      continue;
    }
    AvPacketPtr kept(av_packet_alloc());
    if (!kept) throw MyError("out of memory (packet)");
    av_packet_move_ref(kept.get(), packet_.get());
    held_.push_back(std::move(kept));
  }
}

}  // namespace clipmux
