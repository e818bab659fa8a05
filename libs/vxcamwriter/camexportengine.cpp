#include "libs/vxcamwriter/camexportengine.h"

#include <algorithm>
#include <initializer_list>
#include <cstring>

#include "libs/vxcamwriter/vxcamwriter.h"
#include "media/contract/hresult.h"
#include "media/contract/strmif.h"

namespace {

constexpr REFERENCE_TIME kUnset = -1;
constexpr REFERENCE_TIME kUnits = 10000000;

// Waits for any of the handles; returns the index of the one that ended the wait.
DWORD WaitAny(std::initializer_list<HANDLE> handles) {
  DWORD w = WaitForMultipleObjects(DWORD(handles.size()), handles.begin(), FALSE, INFINITE);
  return w >= WAIT_OBJECT_0 && w < WAIT_OBJECT_0 + handles.size() ? w - WAIT_OBJECT_0 : 0;
}

bool IsSet(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

using tav::CriticalSectionLock;

}  // namespace

CCamExportEngine::CCamExportEngine(NotifyFn notify, FrameTakenFn frameTaken)
    : notify_(std::move(notify)), onFrameTaken_(std::move(frameTaken)), audioFormat_(CameraAudioFormat()) {
  abort_.Reset(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  start_.Reset(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  frameReady_.Reset(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  frameTaken_.Reset(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  videoEnded_.Reset(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  videoFlushing_.Reset(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  chunkReady_.Reset(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  chunkTaken_.Reset(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  audioEnded_.Reset(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  audioFlushing_.Reset(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  firstFrameHanded_.Reset(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  encoderStarted_.Reset(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  encoderIdle_.Reset(CreateEvent(nullptr, TRUE, TRUE, nullptr));
  worker_.Reset(CreateThread(nullptr, 0, &WorkerProc, this, 0, nullptr));
}

CCamExportEngine::~CCamExportEngine() {
  // Buffers first: an encoder still pulling then gets empty frames and finishes.
  FreeBuffers();
  WakeAll();
  SetEvent(abort_);
  if (worker_) {
    WaitForSingleObject(worker_, INFINITE);
    worker_.Reset();
  }
  trace_.Close();
  // The events and the critical sections go with their owners.
}

template <typename F>
bool CCamExportEngine::Guarded(F&& call) {
  HRESULT hr = E_UNEXPECTED;
  try {
    call();
    return true;
  } catch (const MyError& e) {
    // A failure of the file system (a full disk above all) is reported as what it is.
    if (e.code() != 0) hr = tav::HResultFromErrno(e.code());
  } catch (...) {
    // Nothing may escape into the graph; any other failure of the library is reported alike.
  }
  if (notify_) notify_(EC_ERRORABORT, LONG_PTR(hr), 0);
  return false;
}

double CCamExportEngine::FrameRateFromAvgTimePerFrame(REFERENCE_TIME a, double current) {
  if (a <= 0) return current;
  REFERENCE_TIME r = (kUnits + a / 2) / a;
  return r > 22 ? 30.0 : 15.0;
}

WAVEFORMATEX CCamExportEngine::CameraAudioFormat() {
  // Tag, channels, rate, bytes a second, block, bits, no extra bytes.
  return WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
}

void CCamExportEngine::SetOutputPath(std::string ansiPath) { outputPath_ = std::move(ansiPath); }

int CCamExportEngine::chunkBytes() const {
  return frameRate_ > 0 ? int(double(audioFormat_.nAvgBytesPerSec) / frameRate_) : 0;
}

CCamExportEngine::SyncState CCamExportEngine::syncState() const {
  CriticalSectionLock lock(avLock_);
  return syncState_;
}

// ---- connections ---------------------------------------------------------------------

void CCamExportEngine::VideoConnected(const VIDEOINFOHEADER& format) {
  header_ = format.bmiHeader;
  frameRate_ = FrameRateFromAvgTimePerFrame(format.AvgTimePerFrame, frameRate_);
  {
    CriticalSectionLock lock(frameLock_);
    frame_.assign(size_t(std::max<LONG>(header_.biWidth, 0)) * size_t(std::abs(header_.biHeight)) * 4, 0);
    frameAllocated_ = true;
  }
  Guarded([&] { setVideo(&header_, frameRate_); });
  ResetEvent(videoEnded_);
  if (audioConnected_) OpenMovie();
  videoConnected_ = true;
}

void CCamExportEngine::AudioConnected(const WAVEFORMATEX& format) {
  audioFormat_ = format;
  Guarded([&] { setAudio(&audioFormat_, kAudioBitRate); });
  {
    CriticalSectionLock lock(chunkLock_);
    chunkSize_ = chunkBytes();
    chunk_.assign(size_t(chunkSize_), 0);
    chunkAllocated_ = true;
    chunkFill_ = 0;
  }
  ResetEvent(audioEnded_);
  if (videoConnected_) OpenMovie();
  audioConnected_ = true;
}

void CCamExportEngine::VideoDisconnected() { videoConnected_ = false; }
void CCamExportEngine::AudioDisconnected() { audioConnected_ = false; }

void CCamExportEngine::OpenMovie() {
  std::string path = outputPath_.substr(0, MAX_PATH);
  Guarded([] { SetUpCompressor(nullptr); });
  Guarded([&] { SetFileSizeLimit(sizeLimit()); });
  Guarded([&] { CreateAVI(path.data(), this, false); });
}

// ---- state changes ---------------------------------------------------------------------

// "Freed" buffers are empty but keep their memory: the next movie (the next run, or the next
// part of a split) sizes them again without allocating, mapping and zeroing fresh pages. The
// memory goes with the engine.
void CCamExportEngine::FreeBuffers() {
  {
    CriticalSectionLock lock(frameLock_);
    frame_.clear();
    frameAllocated_ = false;
  }
  CriticalSectionLock lock(chunkLock_);
  chunk_.clear();
  chunkAllocated_ = false;
  chunkFill_ = 0;
}

void CCamExportEngine::WakeAll() {
  SetEvent(frameReady_);
  SetEvent(chunkReady_);
  SetEvent(videoEnded_);
  SetEvent(audioEnded_);
}

void CCamExportEngine::WaitForEncoderIdle() { WaitAny({encoderIdle_, abort_}); }

void CCamExportEngine::PauseFromStopped() {
  // Whatever still runs from the last movie ends now.
  FreeBuffers();
  ResetEvent(start_);
  WakeAll();
  WaitForEncoderIdle();
  // Without an audio input, clipmux still writes a sound track (of silence).
  if (!audioConnected_) {
    WAVEFORMATEX pcm = CameraAudioFormat();
    Guarded([&] { setAudio(&pcm, kAudioBitRate); });
  }
  // Open the next movie and allocate the frame (and, with audio, the chunk) buffers.
  OpenMovie();
  {
    CriticalSectionLock lock(frameLock_);
    frame_.assign(size_t(std::max<LONG>(header_.biWidth, 0)) * size_t(std::abs(header_.biHeight)) * 4, 0);
    frameAllocated_ = true;
  }
  if (audioConnected_) {
    CriticalSectionLock lock(chunkLock_);
    chunkSize_ = chunkBytes();
    chunk_.assign(size_t(chunkSize_), 0);
    chunkAllocated_ = true;
    chunkFill_ = 0;
  }
  // The audio clock starts again from zero for the new movie.
  {
    CriticalSectionLock lock(avLock_);
    audioBaseSet_ = false;
    lastAudioStart_ = audioPosition_ = 0;
    audioTotalBytes_ = 0;
    videoOffset_ = 0;
  }
  // Each movie has its own size account (the encoder is idle, so nothing reads it now).
  partClosed_ = false;
  overran_ = false;
  soundLength_ = 0;
  soundEnded_ = false;
  {
    CriticalSectionLock lock(avLock_);
    videoDone_ = soundDone_ = false;
  }
  {
    CriticalSectionLock lock(frameLock_);
    holdingLastFrame_ = false;
    lastFrameKept_ = false;
  }
  takenEnds_.clear();
  firstTakenStart_ = 0;
  picturesTaken_ = 0;
  lastPicture_ = -1;
  pictureRepeats_ = 0;
  // Without an audio input audio ended stays set, so the library gets silence.
  ResetEvent(videoEnded_);
  ResetEvent(frameReady_);
  if (audioConnected_) {
    ResetEvent(audioEnded_);
    ResetEvent(chunkReady_);
  }
  // Let the encoder thread start the movie and wait until it has (or the run aborts).
  SetEvent(start_);
  WaitAny({encoderStarted_, abort_});
}

void CCamExportEngine::Stop() {
  FreeBuffers();
  ResetEvent(start_);
  WakeAll();
  WaitForEncoderIdle();
}

void CCamExportEngine::LeaveGraph() {
  FreeBuffers();
  ResetEvent(start_);
  WakeAll();
  ResetEvent(videoEnded_);
  ResetEvent(audioEnded_);
}

// ---- worker ----------------------------------------------------------------------------

DWORD CCamExportEngine::WorkerProc(void* self) {
  static_cast<CCamExportEngine*>(self)->WorkerLoop();
  return 0;
}

void CCamExportEngine::WorkerLoop() {
  for (;;) {
    trace_.Write("Go to wait for single object");
    if (WaitAny({abort_, start_}) == 0) break;
    trace_.Write("Start dubbing command passed");
    trace_.Write("Dubber started");
    Guarded([&] { StartEncoder(encoderStarted_, encoderIdle_); });
    trace_.Write("Dubber stopped");
    // start_ is not reset here: the wait above consumed it, and the encoder sets idle
    // before it returns, so a Pause already waiting for the next start may have set it
    // again. Resetting it now would lose that start and leave the Pause waiting forever.
    trace_.Write("Reset event");
  }
  trace_.Write("Thread exit");
}

// ---- video -------------------------------------------------------------------------------

HRESULT CCamExportEngine::VideoReceive(REFERENCE_TIME s, REFERENCE_TIME e, const BYTE* data, LONG length,
                                       LONGLONG picture) {
  const REFERENCE_TIME d = e - s;
  for (;;) {
    REFERENCE_TIME offset;
    {
      CriticalSectionLock lock(avLock_);
      const REFERENCE_TIME gap = (lastAudioStart_ - videoOffset_) - audioPosition_;
      if (d > 0 && gap > d) {
        // The audio has fallen behind by more than a frame: this frame is left out.
        videoOffset_ += d;
        return S_OK;
      }
      offset = videoOffset_;
      if (!(d > 0 && gap < -d)) break;
      // The audio is ahead by more than a frame: the frame is shown once more.
      videoOffset_ -= d;
    }
    if (!HandOverFrame(s - offset, e, data, length, picture)) return S_OK;
  }
  REFERENCE_TIME offset;
  {
    CriticalSectionLock lock(avLock_);
    offset = videoOffset_;
  }
  HandOverFrame(s - offset, e, data, length, picture);
  return S_OK;
}

bool CCamExportEngine::HandOverFrame(REFERENCE_TIME start, REFERENCE_TIME end, const BYTE* data, LONG length,
                                     LONGLONG picture) {
  if (partClosed_) {
    // The part is complete: the frame waits for the stop (or the flush of a seek).
    WaitAny({abort_, videoEnded_, videoFlushing_});
    return false;
  }
  {
    CriticalSectionLock lock(frameLock_);
    if (!frameAllocated_) return false;
    {
      CriticalSectionLock av(avLock_);
      if (syncState_ == SyncState::WaitFirstVideo || syncState_ == SyncState::Deciding) {
        if (firstVideo_ == kUnset) firstVideo_ = start;
        if (firstAudio_ != kUnset) syncState_ = firstVideo_ >= firstAudio_ ? SyncState::Running : SyncState::Silence;
      }
      if (syncState_ == SyncState::Silence && start >= firstAudio_) syncState_ = SyncState::Running;
    }
    // clipmux converts straight from the sample (LendVideoFrame), which stays valid while
    // this thread waits below; a sample of the wrong size becomes a black frame.
    if (data && size_t(length) == frame_.size()) {
      pendingFrame_ = data;
    } else {
      pendingFrame_ = nullptr;
      std::fill(frame_.begin(), frame_.end(), BYTE(0));
    }
    frameStart_ = start;
    frameEnd_ = end;
    framePicture_ = picture;
  }
  SetEvent(frameReady_);
  SetEvent(firstFrameHanded_);
  DWORD w = WaitAny({abort_, videoEnded_, frameTaken_, videoFlushing_});
  {
    // Not taken (stop, flush, end): the frame buffer keeps it, as if it had been copied.
    CriticalSectionLock lock(frameLock_);
    if (pendingFrame_ && frameAllocated_) std::memcpy(frame_.data(), pendingFrame_, frame_.size());
    pendingFrame_ = nullptr;
    if (w == 2) lastFrameKept_ = true;
  }
  if (w == 0 || w == 1) {
    SetEvent(frameReady_);
    return false;
  }
  return w == 2;
}

bool CCamExportEngine::VideoEndOfStream() {
  if (IsSet(videoEnded_)) return true;
  // Sound that goes on past the last picture keeps the movie going: the last picture is held
  // for every further chunk of sound (LendVideoFrame), and the movie ends with the sound.
  bool soundTaken = false;
  if (audioConnected_ && !IsSet(audioEnded_)) {
    CriticalSectionLock lock(chunkLock_);
    soundTaken = chunkAllocated_ && chunkSize_ != 0;
  }
  {
    CriticalSectionLock lock(frameLock_);
    const bool pictureKept = frameAllocated_ && lastFrameKept_;
    {
      // Decided together with the sound's own end (AudioEndOfStream), so that exactly one of
      // the two ends the movie.
      CriticalSectionLock av(avLock_);
      videoDone_ = true;
      holdingLastFrame_ = soundTaken && !soundDone_ && pictureKept;
    }
    if (!holdingLastFrame_) {
      frame_.clear();  // memory kept, as in FreeBuffers
      frameAllocated_ = false;
    }
    heldEnd_ = frameEnd_;
  }
  // The end first: an encoder woken by frameReady_ alone would take the buffer for a new
  // picture (a black frame after the last one) instead of holding the last picture.
  SetEvent(videoEnded_);
  SetEvent(frameReady_);
  if (holdingLastFrame_) return false;
  SetEvent(audioEnded_);
  return true;
}

bool CCamExportEngine::WaitForHeldChunk() {
  for (;;) {
    const DWORD w = WaitAny({abort_, chunkReady_, audioEnded_});
    if (w == 0) return false;
    bool full = false, gone = false;
    {
      CriticalSectionLock lock(chunkLock_);
      full = chunkAllocated_ && chunkSize_ != 0 && chunkFill_ >= chunkSize_;
      gone = !chunkAllocated_ || chunkSize_ == 0;
    }
    if (full) {
      // The chunk stays offered: GetAudioChunk takes it after this frame.
      SetEvent(chunkReady_);
      return true;
    }
    if (gone || w == 2) return false;
  }
}

// A frame is lent with frameLock_ held until ReturnVideoFrame: clipmux converts it straight
// from the sample the video thread holds (or from the frame buffer), and neither the video
// thread (woken by a stop or flush) nor FreeBuffers can let go of it meanwhile. clipmux does
// not wait for anything between the lend and the return, so the lock is held only for the
// conversion.
void CCamExportEngine::LendVideoFrame(char* /*buffer*/, const char** frame, int* bytes) {
  bool aborted = WaitAny({abort_, videoEnded_, frameReady_}) == 0;
  *frame = nullptr;
  *bytes = 0;
  // After the last picture, one more of it for each full chunk of sound; none once the
  // sound has ended.
  const bool held = !aborted && IsSet(videoEnded_) && holdingLastFrame_;
  if (held && !WaitForHeldChunk()) aborted = true;
  // The pictures never run longer than their source: a frame past its span, or one more
  // repeat of a picture that stayed on and on after the sound, is damage (time stamps that
  // run away from the file), and the movie ends before it. (A picture held for the sound
  // counts as sound: it goes no further than the sound the file holds.)
  EnterCriticalSection(frameLock_.Get());
  if (!aborted && !held && frameRate_ > 0) {
    // framePicture_ is read under frameLock_, which stays held until ReturnVideoFrame.
    const bool repeat = framePicture_ >= 0 && framePicture_ == lastPicture_;
    const REFERENCE_TIME shown = REFERENCE_TIME(double(picturesTaken_ + 1) * double(kUnits) / frameRate_);
    const REFERENCE_TIME onScreen =
        REFERENCE_TIME(double(repeat ? pictureRepeats_ + 2 : 1) * double(kUnits) / frameRate_);
    if (PastTheSource(shown, onScreen)) {
      aborted = true;
      overran_ = true;
    }
  }
  if (held && !aborted && frameAllocated_) {
    // clipmux shows the picture it took last once more (it keeps it converted).
    *frame = nullptr;
    *bytes = kRepeatPicture;
    lentStart_ = heldEnd_;
    lentEnd_ = heldEnd_ + REFERENCE_TIME(double(kUnits) / frameRate_);
    heldEnd_ = lentEnd_;
  } else if (!held && !aborted && frameAllocated_) {
    ++picturesTaken_;
    pictureRepeats_ = framePicture_ >= 0 && framePicture_ == lastPicture_ ? pictureRepeats_ + 1 : 0;
    lastPicture_ = framePicture_;
    *frame = reinterpret_cast<const char*>(pendingFrame_ ? pendingFrame_ : frame_.data());
    *bytes = int(frame_.size());
    pendingFrame_ = nullptr;  // taken: the video thread must not copy it into frame_ any more
    lentStart_ = frameStart_;
    lentEnd_ = frameEnd_;
  }
  lentBytes_ = *bytes;
  // Left held; ReturnVideoFrame leaves it.
}

void CCamExportEngine::ReturnVideoFrame() {
  const bool lent = lentBytes_ > 0 || lentBytes_ == kRepeatPicture;
  const REFERENCE_TIME start = lentStart_, end = lentEnd_;
  lentBytes_ = 0;
  LeaveCriticalSection(frameLock_.Get());
  if (lent) {
    if (takenEnds_.empty()) firstTakenStart_ = start;
    takenEnds_.push_back(end);
    if (onFrameTaken_) onFrameTaken_(end);
  }
  SetEvent(frameTaken_);
  if (overran_.exchange(false) && notify_) notify_(EC_ERRORABORT, LONG_PTR(TAV_E_DAMAGED_TIMES), 0);
}

void CCamExportEngine::GetVideoFrame(char* buffer, int* bytes, int* pixels) {
  if (!buffer) {
    // Nowhere to put it: the frame is not taken, but the video thread is let go.
    WaitAny({abort_, videoEnded_, frameReady_});
    if (bytes) *bytes = 0;
    if (pixels) *pixels = 0;
    SetEvent(frameTaken_);
    return;
  }
  const char* frame = nullptr;
  int lent = 0;
  LendVideoFrame(buffer, &frame, &lent);
  const int copied = frame ? lent : 0;
  if (copied) std::memcpy(buffer, frame, size_t(copied));
  ReturnVideoFrame();
  if (bytes) *bytes = copied;
  if (pixels) *pixels = copied / 4;
}

void CCamExportEngine::SizeLimitReached(int framesWritten, LONGLONG projected) {
  // The movie is closed. The part reaches the end of its last frame (its start when not even
  // the first frame fitted); the frames taken after it are not in it, and the next part
  // starts with them.
  if (onFrameTaken_ && !takenEnds_.empty()) {
    const size_t written = size_t(std::max(framesWritten, 0));
    onFrameTaken_(written == 0 ? firstTakenStart_ : takenEnds_[std::min(written, takenEnds_.size()) - 1]);
  }
  // From here on the streaming threads wait with their data until the graph stops.
  partClosed_ = true;
  bool report = false;
  {
    CriticalSectionLock lock(avLock_);
    report = !limitReported_;
    limitReported_ = true;
  }
  if (report && notify_)
    notify_(EC_SIZE_LIMIT_REACHED, LONG_PTR(DWORD(projected & 0xFFFFFFFF)), LONG_PTR(DWORD(projected >> 32)));
}

// ---- audio -------------------------------------------------------------------------------

void CCamExportEngine::DecideStateLocked() {
  if (firstVideo_ != kUnset) syncState_ = firstVideo_ >= firstAudio_ ? SyncState::Running : SyncState::Silence;
}

CCamExportEngine::ChunkWait CCamExportEngine::OfferChunk() {
  SetEvent(chunkReady_);
  DWORD w = WaitAny({abort_, audioEnded_, chunkTaken_, audioFlushing_});
  if (w == 0 || w == 1) {
    SetEvent(chunkReady_);
    CriticalSectionLock lock(chunkLock_);
    chunkSize_ = 0;
    return ChunkWait::Stop;
  }
  return w == 3 ? ChunkWait::Flushing : ChunkWait::Taken;
}

HRESULT CCamExportEngine::AudioReceive(REFERENCE_TIME s, REFERENCE_TIME e, const BYTE* data, LONG length) {
  const WAVEFORMATEX& f = audioFormat_;
  if (length < 0 || (!data && length > 0) || f.nAvgBytesPerSec == 0 || f.nBlockAlign == 0) return S_OK;

  // Before the first video frame the audio waits, then loses what lies before it.
  if (syncState() == SyncState::WaitFirstVideo) {
    DWORD w = WaitAny({abort_, audioEnded_, firstFrameHanded_, audioFlushing_});
    if (w == 0 || w == 1) {
      CriticalSectionLock lock(chunkLock_);
      chunkSize_ = 0;
      return S_OK;
    }
    if (w == 3) return S_OK;
    CriticalSectionLock lock(avLock_);
    const REFERENCE_TIME first = firstVideo_;
    if (syncState_ == SyncState::WaitFirstVideo) {
      if (e <= first) return S_OK;
      if (s <= first) {
        LONGLONG blocks = LONGLONG(f.nAvgBytesPerSec) * (first - s) / f.nBlockAlign;
        blocks = (blocks + kUnits - 1) / kUnits;
        LONGLONG drop = std::min<LONGLONG>(blocks * f.nBlockAlign, length);
        data += drop;
        length -= LONG(drop);
        s += drop * kUnits / f.nAvgBytesPerSec;
      }
      syncState_ = SyncState::Deciding;
    }
  }

  // Nothing to fill while no chunk buffer is allocated.
  {
    CriticalSectionLock lock(chunkLock_);
    if (!chunkAllocated_ || chunkSize_ == 0) return S_OK;
  }
  // Advance the audio clock by this block and note the first audio time for the sync
  // decision.
  {
    CriticalSectionLock lock(avLock_);
    if (!audioBaseSet_) {
      audioBase_ = s;
      audioBaseSet_ = true;
    }
    lastAudioStart_ = s;
    audioPosition_ = audioBase_ + audioTotalBytes_ * kUnits / f.nAvgBytesPerSec;
    audioTotalBytes_ += length;
    if (syncState_ == SyncState::Deciding) {
      if (firstAudio_ == kUnset) firstAudio_ = s;
      DecideStateLocked();
    }
  }

  // The audio starts later than the video: the gap between the first video frame and
  // the first audio block becomes silence, counted in bytes. Waiting instead for the video
  // to reach the first audio time made the amount depend on how the two threads met: a
  // silent chunk already offered when the video got there was taken as well, and the sound
  // ran a chunk or two late.
  LONGLONG silence = 0;
  {
    CriticalSectionLock lock(avLock_);
    if (syncState_ == SyncState::Silence) {
      silence = LONGLONG(f.nAvgBytesPerSec) * (firstAudio_ - firstVideo_) / kUnits;
      silence -= silence % f.nBlockAlign;
      syncState_ = SyncState::Running;
    }
  }
  if (!FillChunks(nullptr, silence)) return S_OK;
  // Fill chunks; each full one waits until clipmux has taken it.
  FillChunks(data, length);
  return S_OK;
}

bool CCamExportEngine::FillChunks(const BYTE* data, LONGLONG count) {
  while (count > 0) {
    bool full = false;
    {
      CriticalSectionLock lock(chunkLock_);
      if (!chunkAllocated_ || chunkSize_ == 0) return false;
      const int n = int(std::min<LONGLONG>(count, chunkSize_ - chunkFill_));
      if (data) {
        std::memcpy(chunk_.data() + chunkFill_, data, size_t(n));
        data += n;
      } else {
        std::fill(chunk_.begin() + chunkFill_, chunk_.begin() + chunkFill_ + n, BYTE(0));
      }
      chunkFill_ += n;
      count -= n;
      full = chunkFill_ >= chunkSize_;
    }
    if (full) {
      if (OfferChunk() != ChunkWait::Taken) return false;
      CriticalSectionLock lock(chunkLock_);
      chunkFill_ = 0;
    }
  }
  return true;
}

bool CCamExportEngine::PastTheSource(REFERENCE_TIME shown, REFERENCE_TIME held) const {
  // The span the source claims.
  if (timeLimit_ > 0 && shown > timeLimit_) return true;
  // While the sound goes on it keeps the pictures company: it is counted in samples, so it
  // is what the file really holds.
  if (audioConnected_ && soundLength_.load() == 0 && !soundEnded_.load()) return false;
  const REFERENCE_TIME sound = soundLength_.load();
  if (shown <= sound + timeLimitMargin_) return false;
  // Past the sound (or without one), pictures that keep coming are the movie: a screen
  // recording may run a minute after its sound stops. One picture shown on and on there is
  // the sign of time stamps that ran away: it may stay for a second when the span claims far
  // more than twice the sound (every stream's rate and length damaged alike; however little
  // of the sound was left), and for kLongestHold when nothing can be told.
  constexpr REFERENCE_TIME kSecond = kUnits;
  const bool spanBeyondSound = sound > 0 && timeLimit_ > 2 * sound + 2 * kSecond + timeLimitMargin_;
  return held > (spanBeyondSound ? kSecond : kLongestHold);
}

bool CCamExportEngine::AudioEndOfStream() {
  if (IsSet(audioEnded_)) return false;
  bool endsMovie = false;
  {
    CriticalSectionLock lock(avLock_);
    if (audioFormat_.nAvgBytesPerSec != 0)
      soundLength_ = REFERENCE_TIME(audioTotalBytes_ * kUnits / audioFormat_.nAvgBytesPerSec);
    soundDone_ = true;
    soundEnded_ = true;
    endsMovie = videoDone_ && holdingLastFrame_;
  }
  {
    CriticalSectionLock lock(chunkLock_);
    chunk_.clear();  // memory kept, as in FreeBuffers
    chunkAllocated_ = false;
    chunkFill_ = 0;
  }
  SetEvent(chunkReady_);
  SetEvent(audioEnded_);
  // The movie was held open for the sound: it ends here.
  return endsMovie;
}

void CCamExportEngine::GetAudioChunk(char* buffer, int* bytes, int* blocks) {
  const bool aborted = WaitAny({abort_, audioEnded_, chunkReady_}) == 0;
  int written = 0;
  if (!aborted) {
    CriticalSectionLock lock(chunkLock_);
    if (chunkAllocated_ && chunkSize_ != 0) {
      written = chunkSize_;
      if (buffer) std::memcpy(buffer, chunk_.data(), size_t(written));
    } else if (!IsSet(videoEnded_)) {
      // No audio (none connected, or it ended): silence for one frame.
      written = chunkBytes();
      if (buffer) std::memset(buffer, 0, size_t(written));
    }
  }
  if (bytes) *bytes = written;
  if (blocks) *blocks = audioFormat_.nBlockAlign ? written / audioFormat_.nBlockAlign : 0;
  SetEvent(chunkTaken_);
}

// ---- control -------------------------------------------------------------------------------

LONGLONG CCamExportEngine::sizeLimit() const {
  CriticalSectionLock lock(avLock_);
  return sizeLimit_;
}

void CCamExportEngine::SetSizeLimit(LONGLONG limit) {
  CriticalSectionLock lock(avLock_);
  sizeLimit_ = limit;
}

void CCamExportEngine::GuardedGetConfig(CONFIG* config) { Guarded([&] { GetConfig(config); }); }
void CCamExportEngine::GuardedSetConfig(const CONFIG* config) { Guarded([&] { SetConfig(config); }); }
void CCamExportEngine::GuardedResetConfig() { Guarded([] { ResetConfig(); }); }
void CCamExportEngine::GuardedSaveAVIasQVF(bool qvf) { Guarded([&] { SaveAVIasQVF(qvf); }); }
