// One movie from start to index: pulls frames and audio through the callback, encodes them
// and hands the packets to the AVI muxer writing into a CountingOutput.
//
// Two threads share the work of a movie: the caller's thread (the one in StartEncoder)
// pulls a frame and its audio through the callback and converts the frame to YUV 4:2:0
// (RgbToYuv420);
// an encoding thread, started by Run and joined before Run returns, encodes the frames and
// audio in the order they were pulled and writes the packets. They meet through two slots:
// while one slot's frame is encoded the next is pulled and converted into the other, so at
// most one frame is on its way to the file when the callback is asked for the next one
// (the byte count seen from the callback lags by that frame). The flush and the index are
// written on the caller's thread after the encoding thread has ended.
#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "clipmux/countingoutput.h"
#include "clipmux/ffmpeg_ptr.h"
#include "libs/vxcamwriter/clipmux.h"

namespace clipmux {

struct VideoLayout {
  int width = 0;
  int height = 0;      // always positive
  int bitsPerPixel = 32;
  bool bottomUp = true;
  double frameRate = 0;
  int strideBytes() const { return ((bitsPerPixel * width + 31) / 32) * 4; }
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
    AVFrameUPtr picture;         // YUV 4:2:0, stamped
    std::vector<uint8_t> audio;  // interleaved PCM, whole blocks
  };
  // Caller's thread: pulls frames and audio until the callback's frames run out.
  void PullFrames();
  // Caller's thread: converts a pulled RGB frame into the slot's picture.
  void ConvertVideo(const uint8_t* data, int bytes, AVFrame* picture);
  // Caller's thread: a slot the encoding thread is done with (rethrows its failure).
  Slot* TakeFreeSlot();
  // Caller's thread: hands a filled slot (or, with null, the end) to the encoding thread.
  void Submit(Slot* slot);
  // Caller's thread: tells the encoding thread to finish and joins it.
  void StopWorker();
  // The encoding thread.
  void WorkerLoop();
  void EncodeSlot(Slot& slot);
  void EncodeVideo(AVFrame* picture);
  void QueueAudio(const uint8_t* data, int bytes);
  void EncodeAudio(bool final);
  void Drain(AVCodecContext* codec, AVStream* stream);
  void Fail(const std::string& what, int averror);

  const MovieJob& job_;
  CountingOutput& output_;

  // Made when the movie starts, freed when it ends.
  AVCodecContextUPtr videoCodec_;
  AVCodecContextUPtr audioCodec_;
  AVFormatContextUPtr muxer_;
  AVStream* videoStream_ = nullptr;  // owned by muxer_
  AVStream* audioStream_ = nullptr;  // owned by muxer_
  AVFrameUPtr samples_;
  AVAudioFifoUPtr fifo_;
  AVPacketUPtr packet_;
  std::vector<uint8_t> frameBuffer_;
  std::vector<uint8_t> chunkBuffer_;
  std::vector<int16_t> planar_;

  // The hand-over between the two threads. Lock order: only slotLock_.
  // The camera exporter sizes a part on the byte count, which does not yet hold the frames in
  // the slots: it allows for kSlots of them (CCamExportEngine::kFramesInFlight).
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

  // Progress. framesWritten_ counts pulled frames (caller's thread); the rest belong to the
  // encoding thread while it runs.
  int64_t framesWritten_ = 0;
  int64_t samplesEncoded_ = 0;
  bool headerWritten_ = false;
  bool fileCreated_ = false;
  bool audioStarted_ = false;   // the first audio packet past the priming went out
  int64_t audioPtsShift_ = 0;   // added to audio stamps so the kept audio starts at 0
  int64_t committed_ = 0;       // header and every chunk handed to the muxer, in bytes
};

}  // namespace clipmux
