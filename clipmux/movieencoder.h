// One movie from start to index: pulls frames and audio through the callback, encodes them
// and hands the packets to the AVI muxer writing into a CountingOutput.
#pragma once

#include <optional>
#include <string>
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
  void EncodeVideo(const uint8_t* data, int bytes);
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
  SwsContextUPtr scaler_;
  AVFrameUPtr picture_;
  AVFrameUPtr samples_;
  AVAudioFifoUPtr fifo_;
  AVPacketUPtr packet_;
  std::vector<uint8_t> frameBuffer_;
  std::vector<uint8_t> chunkBuffer_;
  std::vector<int16_t> planar_;

  // Progress.
  int64_t framesWritten_ = 0;
  int64_t samplesEncoded_ = 0;
  bool headerWritten_ = false;
  bool fileCreated_ = false;
  bool audioStarted_ = false;   // the first audio packet past the priming went out
  int64_t audioPtsShift_ = 0;   // added to audio stamps so the kept audio starts at 0
};

}  // namespace clipmux
