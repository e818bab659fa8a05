// One movie from start to index: pulls frames and audio through the callback, encodes them
// and hands the packets to the AVI muxer writing into a CountingOutput.
//
// Two threads share the work of a movie: the caller's thread (the one in StartEncoder)
// pulls a frame and its audio through the callback and converts the frame to YUV 4:2:0
// (RgbToYuv420);
// an encoding thread, started by Run and joined before Run returns, encodes the frames and
// audio in the order they were pulled and writes the packets. They meet through two slots:
// while one slot's frame is encoded the next is pulled and converted into the other, so up
// to two frames are on their way to the file when the callback is asked for the next one.
// The flush and the index are written on the caller's thread after the encoding thread has
// ended.
//
// Size limit: the encoding thread decides, frame by frame, just before it writes a frame's
// video packet, whether the file closed after that frame would stay within the limit (see
// ClosedSizeWith). That is the one place where the frame's size is known and nothing else is
// being written, so the decision does not depend on how far the two threads are apart. The
// first frame that does not fit is not written, nor anything pulled after it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "clipmux/clipmux.h"
#include "clipmux/countingoutput.h"
#include "clipmux/picturepool.h"
#include "media/contract/mediatypes.h"
#include "platform/filters/avptr.h"

namespace clipmux {

using tav::filters::AvAudioFifoPtr;
using tav::filters::AvCodecContextPtr;
using tav::filters::AvFormatOutputPtr;
using tav::filters::AvFramePtr;
using tav::filters::AvPacketPtr;

struct VideoLayout {
  int width = 0;
  int height = 0;      // always positive
  int bitsPerPixel = 32;
  bool bottomUp = true;
  double frameRate = 0;
  int strideBytes() const { return int(DibStride(width, bitsPerPixel)); }
  int frameBytes() const { return strideBytes() * height; }
};

struct AudioLayout {
  int channels = 0;
  int sampleRate = 0;
  int blockAlign = 0;  // bytes per sample frame: channels * 2
  int bitRate = 0;     // MP3 bit rate, bit/s
};

struct MovieJob {
  std::string path;
  IDubberCallback* callback = nullptr;
  bool deleteOnFailure = false;
  bool qvfFormType = false;
  CONFIG config{};
  VideoLayout video;
  std::optional<AudioLayout> audio;
  int64_t sizeLimit = 0;  // bytes; 0 = none
};

class MovieEncoder {
 public:
  MovieEncoder(const MovieJob& job, CountingOutput& output);
  ~MovieEncoder();
  MovieEncoder(const MovieEncoder&) = delete;
  MovieEncoder& operator=(const MovieEncoder&) = delete;

  // Creates the file, writes the movie until the callback's frames run out, writes the
  // index. Returns the number of video frames written. Throws MyError.
  int Run();
  // True once Run has created (or truncated) the file.
  bool fileCreated() const { return fileCreated_; }

 private:
  void OpenVideoEncoder();
  void OpenAudioEncoder();
  void OpenMuxer();

  // One pulled frame with the audio that came after it.
  struct Slot {
    AvFramePtr picture;         // YUV 4:2:0, stamped
    std::vector<uint8_t> audio;  // interleaved PCM, whole blocks
  };
  // Caller's thread: pulls frames and audio until the callback's frames run out.
  void PullFrames();
  // Caller's thread: converts a pulled RGB frame into the slot's picture.
  void ConvertVideo(const uint8_t* data, int bytes, AVFrame* picture);
  // Caller's thread: a slot the encoding thread is done with (rethrows its failure).
  Slot* TakeFreeSlot();
  // Caller's thread: puts back a slot it took but did not fill.
  void GiveBackSlot(Slot* slot);
  // Caller's thread: hands a filled slot (or, with null, the end) to the encoding thread.
  void Submit(Slot* slot);
  // Caller's thread: tells the encoding thread to finish and joins it.
  void StopWorker();
  // The encoding thread.
  void WorkerLoop();
  void EncodeSlot(Slot& slot);
  // Encodes one frame and writes its packets, unless the file with them would pass the size
  // limit; false when it would (the part is full, and nothing was written).
  bool EncodeVideo(AVFrame* picture, int64_t audioSamples);
  // The size of the file if it were closed once the held video packets and audioSamples
  // more samples of sound were written: see the comment in the source.
  int64_t ClosedSizeWith(int64_t audioSamples) const;
  // Writes one packet (already stamped for its stream) as an AVI chunk.
  void WritePacket(AVPacket* packet);
  void QueueAudio(const uint8_t* data, int bytes);
  void EncodeAudio(bool final);
  // Takes every packet the codec has ready: written, or with hold, kept in held_.
  void Drain(AVCodecContext* codec, AVStream* stream, bool hold = false);
  void Fail(const std::string& what, int averror);

  const MovieJob& job_;
  CountingOutput& output_;

  // Made when the movie starts, freed when it ends.
  AvCodecContextPtr videoCodec_;
  AvCodecContextPtr audioCodec_;
  AvFormatOutputPtr muxer_;
  AVStream* videoStream_ = nullptr;  // owned by muxer_
  AVStream* audioStream_ = nullptr;  // owned by muxer_
  PicturePool pictures_;  // the slots' YUV pictures, laid out for the encoder to read in place
  // The last picture converted (a reference to its pooled buffer), for a repeat.
  AvFramePtr lastPicture_;
  AvFramePtr samples_;
  AvAudioFifoPtr fifo_;
  AvPacketPtr packet_;
  std::vector<uint8_t> frameBuffer_;
  std::vector<uint8_t> chunkBuffer_;
  std::vector<int16_t> planar_;

  // The hand-over between the two threads. Lock order: only slotLock_.
  static constexpr int kSlots = 2;
  Slot slots_[kSlots];
  std::thread worker_;
  // Guards the queues and flags below; held only to move slot pointers.
  std::mutex slotLock_;
  // Signalled by the encoding thread when a slot comes free or it fails; the caller waits.
  std::condition_variable slotFreed_;
  // Signalled by the caller when a slot is queued or the end is handed over; the encoding
  // thread waits.
  std::condition_variable slotQueued_;
  std::vector<Slot*> freeSlots_;    // guarded by slotLock_
  std::vector<Slot*> queuedSlots_;  // guarded by slotLock_; in pull order
  bool endQueued_ = false;          // guarded by slotLock_: no more slots will come
  std::exception_ptr workerError_;  // guarded by slotLock_: why the encoding thread stopped

  // Progress. framesPulled_ counts pulled frames (caller's thread); the rest belong to the
  // encoding thread while it runs.
  int64_t framesPulled_ = 0;
  int64_t samplesEncoded_ = 0;
  bool headerWritten_ = false;
  bool fileCreated_ = false;
  bool audioStarted_ = false;   // the first audio packet past the priming went out
  int64_t audioPtsShift_ = 0;   // added to audio stamps so the kept audio starts at 0
  int64_t committed_ = 0;       // header and every chunk handed to the muxer, in bytes

  // The size limit's account, kept by the encoding thread (read by the caller's thread only
  // after it has joined it, or through full_).
  std::vector<AvPacketPtr> held_;   // the video packets of the frame being decided
  int64_t framesInFile_ = 0;         // frames whose video went into the file
  int64_t videoChunks_ = 0;          // video packets written
  int64_t audioChunks_ = 0;          // audio packets written
  int64_t samplesQueued_ = 0;        // audio samples given to the MP3 side
  int64_t largestAudioPacket_ = 0;   // bytes
  int64_t projected_ = 0;            // the closed size with the frame that did not fit
  std::atomic<bool> full_{false};    // a frame did not fit: nothing more goes in
};

}  // namespace clipmux
