// The heart of the camera exporter: the hand-over between the two streaming threads and
// clipmux's encoding thread, which pulls one frame and one chunk of audio at a time
// through IDubberCallback. The filter and its pins are thin shells around it.
//
// Threads: the video streaming thread (VideoReceive), the audio streaming thread
// (AudioReceive), the worker thread that runs StartEncoder (and calls GetVideoFrame /
// GetAudioChunk), and the application thread (connections, Pause, Stop).
//
// Lock order: frameLock_ or chunkLock_, then avLock_. No other nesting.
//
// Audio/video alignment (syncState_, guarded by avLock_):
//   WaitFirstVideo(3) --first frame--> Deciding(0) --first audio--> Running(4) | Silence(2)
//   Silence(2) --video reaches the first audio time--> Running(4)
// Audio blocks are trimmed to start with the first video frame; while the audio starts
// later than the video, clipmux gets silence.
//
// Size limit: clipmux enforces it (SetFileSizeLimit) where it writes each frame, on the
// encoded size: the first frame that would carry the closed file past the limit is left out
// with everything pulled after it, and the movie is closed. clipmux then calls
// SizeLimitReached with the number of frames in the file; the engine moves the position back
// to the end of the last of them (up to two frames taken later were left out with the one
// that did not fit, and the next part starts with them), sends EC_SIZE_LIMIT_REACHED and
// closes the part: the streaming threads wait until the graph stops or flushes.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "clipmux/clipmux.h"
#include "media/contract/mediatypes.h"
#include "media/contract/sync.h"
#include "media/contract/syncowners.h"
#include "media/contract/trace.h"

class CCamExportEngine final : public IDubberCallback {
 public:
  // Graph events go out through notify (code, parameter 1, parameter 2).
  using NotifyFn = std::function<void(LONG code, LONG_PTR param1, LONG_PTR param2)>;

  enum class SyncState : int { Deciding = 0, Silence = 2, WaitFirstVideo = 3, Running = 4 };

  // Called on the encoder thread when clipmux takes a frame, with the frame's end time (the
  // video pin's stream time): everything up to there is in the movie once it is closed. When
  // the movie is closed at the size limit, called once more with the end of the last frame
  // that went in (an earlier time when frames taken after it were left out).
  using FrameTakenFn = std::function<void(REFERENCE_TIME end)>;

  static constexpr int kAudioBitRate = 64000;
  // The worker thread's own trace file, made switched off; its messages also go to the
  // common trace under "exporter".
  static constexpr const char* kTraceFilePath = "c:\\logger_camexp.txt";

  explicit CCamExportEngine(NotifyFn notify, FrameTakenFn frameTaken = nullptr);
  ~CCamExportEngine() override;
  CCamExportEngine(const CCamExportEngine&) = delete;
  CCamExportEngine& operator=(const CCamExportEngine&) = delete;

  // The movie file, as an ANSI path; used when the movie is opened.
  void SetOutputPath(std::string ansiPath);

  // 30.0 when (10 000 000 + A / 2) / A > 22, else 15.0; the current rate when A is 0.
  static double FrameRateFromAvgTimePerFrame(REFERENCE_TIME avgTimePerFrame, double current);
  static WAVEFORMATEX CameraAudioFormat();

  // Pin connections (application thread).
  void VideoConnected(const VIDEOINFOHEADER& format);
  void AudioConnected(const WAVEFORMATEX& format);
  void VideoDisconnected();
  void AudioDisconnected();

  // Streaming (each pin's thread). Times in 100 ns; data may be null when length is 0. Once
  // the part is closed at the size limit, both wait until the graph stops or flushes.
  // picture: the number of the source picture the frame shows (the frame rate converter's
  // media time), the same for each repeat of it; -1 when not known (each frame counts as a
  // picture of its own).
  HRESULT VideoReceive(REFERENCE_TIME start, REFERENCE_TIME stop, const BYTE* data, LONG length,
                       LONGLONG picture = -1);
  HRESULT AudioReceive(REFERENCE_TIME start, REFERENCE_TIME stop, const BYTE* data, LONG length);
  // True when the movie ends with this end of stream (the graph completes); false when it
  // goes on: the sound outlasts the pictures (the last picture is held until the sound
  // ends), or the sound ended after the pictures (the movie ends with the sound instead).
  bool VideoEndOfStream();
  // True when the movie was held open for the sound and ends now.
  bool AudioEndOfStream();
  void VideoBeginFlush() { SetEvent(videoFlushing_); }
  void VideoEndFlush() { ResetEvent(videoFlushing_); }
  void AudioBeginFlush() { SetEvent(audioFlushing_); }
  void AudioEndFlush() { ResetEvent(audioFlushing_); }

  // State changes (application thread).
  void PauseFromStopped();
  void Stop();
  // The filter leaves its graph: wake everything without waiting for the encoder.
  void LeaveGraph();

  // The most picture time the movie may hold (100 ns; 0 for no limit): the source's span plus
  // a margin. Pictures that would run longer end the movie at the limit, and the graph gets
  // EC_ERRORABORT with TAV_E_DAMAGED_TIMES: their time stamps ran away from the file. (Sound
  // is never longer than the file holds: it is counted in samples.) Past the sound's end and
  // the margin, one source picture repeated for long ends the movie the same way
  // (PastTheSource).
  // margin: what the limit adds to the span, also added to the sound's length.
  void SetTimeLimit(REFERENCE_TIME limit, REFERENCE_TIME margin = 0) {
    timeLimit_ = limit;
    timeLimitMargin_ = margin;
  }
  REFERENCE_TIME timeLimit() const { return timeLimit_; }

  // Size limit in bytes; 0 for none.
  LONGLONG sizeLimit() const;
  void SetSizeLimit(LONGLONG limit);

  // Library calls guarded as the filter makes them: a MyError becomes EC_ERRORABORT.
  void GuardedGetConfig(CONFIG* config);
  void GuardedSetConfig(const CONFIG* config);
  void GuardedResetConfig();
  void GuardedSaveAVIasQVF(bool qvf);

  // IDubberCallback, called by clipmux on the worker thread.
  void GetAudioChunk(char* buffer, int* bytes, int* blocks) override;
  void GetVideoFrame(char* buffer, int* bytes, int* pixels) override;
  void LendVideoFrame(char* buffer, const char** frame, int* bytes) override;
  void ReturnVideoFrame() override;
  void SizeLimitReached(int framesWritten, LONGLONG projected) override;

  // For inspection by tests.
  SyncState syncState() const;
  double frameRate() const { return frameRate_; }
  int chunkBytes() const;
  // True once the movie being written was closed at the size limit.
  bool partClosed() const { return partClosed_.load(); }

 private:
  static DWORD WorkerProc(void* self);
  void WorkerLoop();
  template <typename F>
  bool Guarded(F&& call);
  void OpenMovie();
  void FreeBuffers();
  void WakeAll();
  void WaitForEncoderIdle();
  // Step 2 of the video hand-over; false when the frame can no longer be handed over.
  bool HandOverFrame(REFERENCE_TIME start, REFERENCE_TIME end, const BYTE* data, LONG length, LONGLONG picture);
  // Waits until clipmux takes the chunk; false when the audio must stop here.
  enum class ChunkWait { Taken, Stop, Flushing };
  ChunkWait OfferChunk();
  // Appends `count` bytes of `data` (of silence when `data` is null) to the sound chunks,
  // offering each chunk that fills up; false when there are no chunks or clipmux did not
  // take one.
  bool FillChunks(const BYTE* data, LONGLONG count);
  // While the last picture is held: waits until the next chunk of sound is full (true; it
  // stays offered) or the sound has ended (false). Encoder thread.
  bool WaitForHeldChunk();
  // Whether a frame that would end the movie at `shown` (100 ns of pictures), showing a source
  // picture that would then have been on screen for `held`, runs past what the source holds:
  // past the span, or, past the sound and the margin, a picture that stays too long.
  // Encoder thread.
  bool PastTheSource(REFERENCE_TIME shown, REFERENCE_TIME held) const;
  void DecideStateLocked();

  NotifyFn notify_;
  FrameTakenFn onFrameTaken_;
  tav::trace::NumberedFile trace_{{tav::trace::Category::kExporter, "worker"}, kTraceFilePath};

  // Configuration, set from the application thread before streaming.
  std::string outputPath_;
  BITMAPINFOHEADER header_{};
  double frameRate_ = 30.0;
  WAVEFORMATEX audioFormat_;
  bool videoConnected_ = false;
  bool audioConnected_ = false;

  // One RGB32 frame between the video thread and the encoder. Guards frame_, pendingFrame_
  // and frameBytes_.
  tav::CriticalSection frameLock_;
  std::vector<BYTE> frame_;      // guarded by frameLock_; empty = freed (the capacity stays)
  bool frameAllocated_ = false;  // guarded by frameLock_
  REFERENCE_TIME frameStart_ = 0;  // start time of the frame in the buffer; guarded by frameLock_
  REFERENCE_TIME frameEnd_ = 0;    // end time of the frame in the buffer; guarded by frameLock_
  LONGLONG framePicture_ = -1;     // its source picture's number (-1: not known); guarded by frameLock_
  // The data of the sample the video thread is handing over, read in place instead of
  // frame_ until the encoder takes it or the hand-over ends; guarded by frameLock_.
  const BYTE* pendingFrame_ = nullptr;
  // The frame clipmux is converting, from LendVideoFrame to ReturnVideoFrame (frameLock_ is
  // held all that time by the encoder thread): its size (0: none) and times.
  int lentBytes_ = 0;
  // clipmux took a picture of this movie, which it can show again (a repeat); guarded by
  // frameLock_.
  bool lastFrameKept_ = false;
  // Set by the video thread at the video's end while the sound goes on (before videoEnded_);
  // read by the encoder and audio threads; reset while the encoder is idle.
  std::atomic<bool> holdingLastFrame_{false};
  REFERENCE_TIME heldEnd_ = 0;  // end time of the last picture lent; guarded by frameLock_
  REFERENCE_TIME lentStart_ = 0;
  REFERENCE_TIME lentEnd_ = 0;

  // One chunk of audio (bytes per second / frame rate) between the audio thread and the
  // encoder. Guards the buffer, its fill and the chunk size.
  tav::CriticalSection chunkLock_;
  std::vector<BYTE> chunk_;      // guarded by chunkLock_
  bool chunkAllocated_ = false;  // guarded by chunkLock_
  int chunkSize_ = 0;            // bytes per chunk; 0 = no more audio is taken; guarded by chunkLock_
  int chunkFill_ = 0;            // guarded by chunkLock_

  // The A/V bookkeeping and the alignment state, shared by both streaming threads.
  mutable tav::CriticalSection avLock_;
  SyncState syncState_ = SyncState::WaitFirstVideo;  // guarded by avLock_
  REFERENCE_TIME firstVideo_ = -1;                   // guarded by avLock_
  REFERENCE_TIME firstAudio_ = -1;                   // guarded by avLock_
  bool audioBaseSet_ = false;                        // guarded by avLock_
  REFERENCE_TIME audioBase_ = 0;                     // guarded by avLock_
  REFERENCE_TIME lastAudioStart_ = 0;                // guarded by avLock_
  REFERENCE_TIME audioPosition_ = 0;                 // P: time of the audio before the last block; guarded by avLock_
  LONGLONG audioTotalBytes_ = 0;                     // guarded by avLock_
  REFERENCE_TIME videoOffset_ = 0;                   // V; guarded by avLock_
  // Each stream's end of stream has come (this movie); guarded by avLock_.
  bool videoDone_ = false;
  bool soundDone_ = false;

  // Media time limit, set from the application thread before the movie starts.
  REFERENCE_TIME timeLimit_ = 0;
  REFERENCE_TIME timeLimitMargin_ = 0;
  // The length of the sound the movie received, set when it ends (0 until then).
  std::atomic<REFERENCE_TIME> soundLength_{0};
  std::atomic<bool> soundEnded_{false};
  // The longest a source picture may stay on screen past the sound (or without one) when the
  // span cannot tell: a slide show's slide, a still screen.
  static constexpr REFERENCE_TIME kLongestHold = 100'000'000;
  // The encoder thread ended a movie at the time limit; reported once.
  std::atomic<bool> overran_{false};

  // Size limit; guarded by avLock_. clipmux gets it with each movie.
  LONGLONG sizeLimit_ = 0;
  bool limitReported_ = false;  // once per engine
  // Set by the encoder thread when the movie closes at the limit, cleared for each movie.
  std::atomic<bool> partClosed_{false};

  // The movie being written: the end time of every frame clipmux took, in order, and the
  // start of the first, so that the position can go back to the last frame written. Encoder
  // thread only while it encodes, reset by PauseFromStopped while it is idle.
  std::vector<REFERENCE_TIME> takenEnds_;
  REFERENCE_TIME firstTakenStart_ = 0;
  // The frames of the movie that came from the video (not held for the sound): what the time
  // limit counts. Encoder thread, reset with takenEnds_.
  LONGLONG picturesTaken_ = 0;
  // The source picture of the last frame taken (-1: not known) and how many frames after its
  // first repeated it. Encoder thread, reset with takenEnds_.
  LONGLONG lastPicture_ = -1;
  LONGLONG pictureRepeats_ = 0;

  // Events. Unless said otherwise, the streaming threads wait and the encoder signals.
  tav::UniqueHandle abort_;            // destructor -> everyone stops waiting. Manual.
  tav::UniqueHandle start_;            // PauseFromStopped -> worker starts the encoder. Auto.
  tav::UniqueHandle frameReady_;       // video thread (frame handed over) -> LendVideoFrame. Auto.
  tav::UniqueHandle frameTaken_;       // ReturnVideoFrame (frame converted) -> video thread. Auto.
  tav::UniqueHandle videoEnded_;       // end of stream / Stop -> all waiters. Manual.
  tav::UniqueHandle videoFlushing_;    // video pin flush -> video thread. Manual.
  tav::UniqueHandle chunkReady_;       // audio thread (chunk full) -> GetAudioChunk. Auto.
  tav::UniqueHandle chunkTaken_;       // GetAudioChunk -> audio thread. Auto.
  tav::UniqueHandle audioEnded_;       // end of stream / Stop -> all waiters. Manual.
  tav::UniqueHandle audioFlushing_;    // audio pin flush -> audio thread. Manual.
  tav::UniqueHandle firstFrameHanded_; // video thread -> audio thread waiting to align. Manual.
  tav::UniqueHandle encoderStarted_;   // clipmux -> PauseFromStopped. Auto.
  tav::UniqueHandle encoderIdle_;      // clipmux (reset while encoding) -> Stop / PauseFromStopped. Manual, set.
  tav::UniqueHandle worker_;
};
