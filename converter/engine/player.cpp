#include "converter/engine/player.h"

#include "media/contract/sync.h"

namespace tav {
namespace {

// Seeking capabilities a graph needs for trim points: absolute, forwards, backwards,
// current position and duration.
constexpr DWORD kSeekableCaps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                                AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetStopPos |
                                AM_SEEKING_CanGetDuration;
constexpr int kMaxStateAttempts = 10;
constexpr DWORD kStatePollMs = 100;

}  // namespace

PlayerCore::PlayerCore() {
  notifyWindow_ = CreatePlatformWindow(&PlayerCore::WindowProc, this);
}

PlayerCore::~PlayerCore() {
  Detach();
  if (notifyWindow_) DestroyWindow(notifyWindow_);
}

LRESULT PlayerCore::WindowProc(HWND hwnd, UINT msg, WPARAM, LPARAM) {
  if (msg == kGraphNotifyMessage) {
    if (auto* self = static_cast<PlayerCore*>(GetWindowUserData(hwnd))) self->DeliverEvents();
  }
  return 0;
}

HRESULT PlayerCore::Attach(IGraphBuilder* graph, IMediaSeeking* seeking, int defaultWidth, int defaultHeight,
                           PlayerEventSink* sink) {
  if (!graph) return E_POINTER;
  Detach();
  ComPtr<IMediaControl> control = ComPtr<IGraphBuilder>(graph).As<IMediaControl>();
  ComPtr<IMediaEventEx> events = ComPtr<IGraphBuilder>(graph).As<IMediaEventEx>();
  if (!control || !events) return E_NOINTERFACE;
  graph_ = graph;
  control_ = control;
  events_ = events;
  seeking_ = seeking ? ComPtr<IMediaSeeking>(seeking) : graph_.As<IMediaSeeking>();
  videoWindow_ = graph_.As<IVideoWindow>();
  basicVideo_ = graph_.As<IBasicVideo>();
  defaultWidth_ = defaultWidth;
  defaultHeight_ = defaultHeight;
  sink_ = sink;
  lastError_ = S_OK;
  ++attachment_;

  // Events still queued belong to an earlier run of this graph (a builder reuses its graph
  // for the next movie): an end or error left over from it must not end this one.
  DiscardEvents();
  if (notifyWindow_) {
    events_->SetNotifyWindow(reinterpret_cast<OAHWND>(notifyWindow_), static_cast<LONG>(kGraphNotifyMessage), 0);
  }
  if (seeking_) {
    DWORD caps = kSeekableCaps;
    if (seeking_->CheckCapabilities(&caps) == S_OK) {
      startPoint_ = 0;
      pointsValid_ = true;
    }
  }
  state_ = kStopped;
  if (attachHook_) attachHook_(this, true);
  return S_OK;
}

void PlayerCore::Detach() {
  if (!control_) return;
  control_->Stop();
  if (videoWindow_) {
    videoWindow_->put_Visible(0);
    videoWindow_->put_Owner(0);
  }
  if (seeking_) {
    REFERENCE_TIME zero = 0;
    seeking_->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
  }
  if (events_) {
    events_->SetNotifyWindow(0, 0, 0);
    // What the graph raised up to and during the stop belongs to the run that is over. The
    // same graph may be attached again at once (the next part of a split conversion); its
    // events must not be taken for the new run's.
    DiscardEvents();
  }
  ++attachment_;
  graph_ = nullptr;
  control_ = nullptr;
  seeking_ = nullptr;
  events_ = nullptr;
  videoWindow_ = nullptr;
  basicVideo_ = nullptr;
  state_ = kNoGraph;
  startPoint_ = 0;
  pointsValid_ = false;
  restartFromStart_ = false;
  PlayerEventSink* sink = sink_;
  sink_ = nullptr;
  if (attachHook_) attachHook_(this, false);
  if (sink) sink->OnStateChanged(this, kNoGraph);
}

void PlayerCore::DiscardEvents() {
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  while (events_->GetEvent(&code, &p1, &p2, 0) == S_OK) events_->FreeEventParams(code, p1, p2);
}

void PlayerCore::DeliverEvents() {
  // An owner may detach (and attach the same or another graph) from inside OnPlayerEvent:
  // only events of the attachment this call started with are delivered.
  const unsigned attachment = attachment_;
  ComPtr<IMediaEventEx> events = events_;
  while (events && attachment == attachment_) {
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    if (events->GetEvent(&code, &p1, &p2, 0) != S_OK) break;
    if (code == EC_ERRORABORT || code == EC_ERRORABORTEX) lastError_ = static_cast<HRESULT>(p1);
    events->FreeEventParams(code, p1, p2);
    if (sink_) sink_->OnPlayerEvent(this, code);
  }
}

HRESULT PlayerCore::Run() {
  // Refused while a change is under way or after one failed: only Stop clears that state.
  if (!control_ || state_ == kNoGraph) return E_UNEXPECTED;
  if (state_ == kRunning) return S_OK;
  if (restartFromStart_) {
    restartFromStart_ = false;
    Seek(startPoint_);
  }
  return ChangeState(kRunning);
}

HRESULT PlayerCore::Pause() {
  if (!control_ || state_ == kNoGraph) return E_UNEXPECTED;
  if (state_ == kPaused) return S_OK;
  return ChangeState(kPaused);
}

HRESULT PlayerCore::Stop() {
  // A graph whose last change failed (state -1) can still be stopped.
  if (!control_) return E_UNEXPECTED;
  if (state_ == kStopped) return S_OK;
  return ChangeState(kStopped);
}

HRESULT PlayerCore::ChangeState(int target) {
  if (target == kNoGraph) return S_OK;
  HRESULT result = S_OK;
  bool done = false;
  for (int attempt = 0; attempt < kMaxStateAttempts && !done; ++attempt) {
    state_ = kNoGraph;
    result = target == kRunning ? control_->Run() : target == kPaused ? control_->Pause() : control_->Stop();
    if (FAILED(result)) return result;
    if (result == S_OK) break;

    // The change is still going on. A movie standing at its end never completes a run.
    REFERENCE_TIME current = -1, stop = -1;
    const bool haveCurrent = seeking_ && SUCCEEDED(seeking_->GetCurrentPosition(&current));
    const bool haveStop = seeking_ && SUCCEEDED(seeking_->GetStopPosition(&stop));
    if ((haveCurrent && haveStop && current == stop) || (haveStop && stop == 0)) {
      if (target != kPaused) {
        control_->Stop();
        restartFromStart_ = true;
        target = kStopped;
      }
      break;
    }

    const DWORD waitStart = GetTickCount();
    HRESULT hr;
    for (;;) {
      OAFilterState fs;
      hr = control_->GetState(static_cast<LONG>(stateWaitMs_), &fs);
      if (hr != VFW_S_STATE_INTERMEDIATE || GetTickCount() - waitStart >= stateWaitMs_) break;
      // GetState has already waited up to the limit; the pause only keeps a graph that
      // answers "intermediate" at once from being asked in a tight loop.
      Sleep(kStatePollMs);
    }
    if (hr != VFW_S_STATE_INTERMEDIATE) {
      if (FAILED(hr)) return hr;
      done = true;
      break;
    }
    // Stuck: stop and make the whole change again.
    control_->Stop();
    if (attempt + 1 == kMaxStateAttempts) return VFW_E_STATE_CHANGED;
  }
  state_ = target;
  if (sink_) sink_->OnStateChanged(this, target);
  return result;
}

HRESULT PlayerCore::GetPosition(REFERENCE_TIME* position) const {
  if (!position) return E_POINTER;
  if (!seeking_) return E_UNEXPECTED;
  return seeking_->GetCurrentPosition(position);
}

HRESULT PlayerCore::GetDuration(REFERENCE_TIME* duration) const {
  if (!duration) return E_POINTER;
  if (!seeking_) return E_UNEXPECTED;
  return seeking_->GetDuration(duration);
}

HRESULT PlayerCore::Seek(REFERENCE_TIME position, bool toKeyFrame) {
  if (!seeking_) return E_UNEXPECTED;
  if (!pointsValid_) {
    if (position != 0) return S_OK;
  } else if (position < startPoint_) {
    position = startPoint_;
  }
  const DWORD flags = AM_SEEKING_AbsolutePositioning | (toKeyFrame ? DWORD(AM_SEEKING_SeekToKeyFrame) : 0u);
  return seeking_->SetPositions(&position, flags, nullptr, AM_SEEKING_NoPositioning);
}

REFERENCE_TIME PlayerCore::SliderTime(LONG value, LONG low, LONG high) const {
  REFERENCE_TIME duration = 0;
  if (high == low || FAILED(GetDuration(&duration)) || duration <= 0) return 0;
  const __int128 range = static_cast<__int128>(high) - low;
  return static_cast<REFERENCE_TIME>(((static_cast<__int128>(value) - low) * duration + range / 2) / range);
}

HRESULT PlayerCore::SeekToSlider(LONG value, LONG low, LONG high) {
  if (!seeking_) return E_UNEXPECTED;
  if (high == low) return E_INVALIDARG;
  return Seek(SliderTime(value, low, high));
}

LONG PlayerCore::SliderPos(LONG low, LONG high) const {
  REFERENCE_TIME duration = 0, position = 0;
  if (FAILED(GetDuration(&duration)) || duration <= 0) return low;
  if (FAILED(GetPosition(&position))) return low;
  const __int128 v = low + ((static_cast<__int128>(high) - low) * position + duration / 2) / duration;
  return static_cast<LONG>(v);
}

bool PlayerCore::GetPoints(REFERENCE_TIME* start, REFERENCE_TIME* end) const {
  if (!seeking_ || !pointsValid_) return false;
  REFERENCE_TIME stop = 0;
  if (FAILED(seeking_->GetStopPosition(&stop))) return false;
  if (start) *start = startPoint_;
  if (end) *end = stop;
  return true;
}

// current null: only the stop moves.
HRESULT PlayerCore::SetStop(REFERENCE_TIME* current, REFERENCE_TIME stop) {
  return seeking_->SetPositions(current, current ? AM_SEEKING_AbsolutePositioning : AM_SEEKING_NoPositioning, &stop,
                                AM_SEEKING_AbsolutePositioning);
}

HRESULT PlayerCore::SetPoints(REFERENCE_TIME start, REFERENCE_TIME end) {
  if (!seeking_ || !pointsValid_) return E_UNEXPECTED;
  if (end < 0) {
    HRESULT hr = GetDuration(&end);
    if (FAILED(hr)) return hr;
  }
  startPoint_ = start;
  REFERENCE_TIME current = 0;
  HRESULT hr = GetPosition(&current);
  if (FAILED(hr)) return hr;
  if (current < start) return SetStop(&start, end);
  if (current > end) return SetStop(&end, end);
  return SetStop(nullptr, end);
}

HRESULT PlayerCore::ResetPoints() {
  if (!seeking_ || !pointsValid_) return E_UNEXPECTED;
  REFERENCE_TIME duration = 0;
  HRESULT hr = GetDuration(&duration);
  if (FAILED(hr)) return hr;
  startPoint_ = 0;
  return SetStop(nullptr, duration);
}

HRESULT PlayerCore::SetStartFromSlider(LONG value, LONG low, LONG high) {
  if (!seeking_ || !pointsValid_) return E_UNEXPECTED;
  if (high == low) return E_INVALIDARG;
  startPoint_ = SliderTime(value, low, high);
  REFERENCE_TIME current = 0;
  HRESULT hr = GetPosition(&current);
  if (FAILED(hr)) return hr;
  return current < startPoint_ ? Seek(startPoint_) : S_OK;
}

HRESULT PlayerCore::SetEndFromSlider(LONG value, LONG low, LONG high) {
  if (!seeking_ || !pointsValid_) return E_UNEXPECTED;
  if (high == low) return E_INVALIDARG;
  REFERENCE_TIME end = SliderTime(value, low, high);
  REFERENCE_TIME current = 0;
  HRESULT hr = GetPosition(&current);
  if (FAILED(hr)) return hr;
  return current > end ? SetStop(&end, end) : SetStop(nullptr, end);
}

bool PlayerCore::GetVideoSize(LONG* width, LONG* height) const {
  return basicVideo_ && SUCCEEDED(basicVideo_->GetVideoSize(width, height));
}

}  // namespace tav
