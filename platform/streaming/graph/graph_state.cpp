// State control and the reference clock.
#include <chrono>

#include "media/contract/sync.h"
#include "media/contract/trace.h"
#include "media/contract/uuids.h"
#include "platform/streaming/graph/filtergraph.h"
#include "platform/streaming/graph/graph_util.h"
#include "platform/streaming/graph/systemclock.h"

TAV_TRACE_SOURCE(kGraph, "state");

namespace tav::graph {
namespace {

// Stream time 0 lies this far after Run, so every filter is running before the first
// sample is due.
constexpr REFERENCE_TIME kRunLatency = 10 * MILLISECONDS;
constexpr DWORD kStopWhenReadyTimeoutMs = 10000;

}  // namespace

// ---- clock --------------------------------------------------------------------------

void FilterGraph::ChooseClockLocked() {
  if (clockChosen_ || clock_) return;
  // A renderer that drives a device has the better clock; then any filter's; then the system's.
  for (auto& f : RenderersLocked())
    if (ComPtr<IReferenceClock> c = f.As<IReferenceClock>()) {
      clock_ = c;
      return;
    }
  for (const FilterEntry& e : filters_)
    if (ComPtr<IReferenceClock> c = e.filter.As<IReferenceClock>()) {
      clock_ = c;
      return;
    }
  clock_ = SystemClock::Make();
}

void FilterGraph::DistributeClockLocked() {
  for (const FilterEntry& e : filters_) e.filter->SetSyncSource(clock_.Get());
}

STDMETHODIMP FilterGraph::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  TAV_TRACE("SetSyncSource %p", static_cast<void*>(clock));
  clock_ = clock;
  clockChosen_ = true;
  DistributeClockLocked();
  return S_OK;
}

STDMETHODIMP FilterGraph::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  return clock_.CopyTo(clock);
}

STDMETHODIMP FilterGraph::SetDefaultSyncSource() {
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  clockChosen_ = false;
  clock_ = nullptr;
  ChooseClockLocked();
  DistributeClockLocked();
  return S_OK;
}

REFERENCE_TIME FilterGraph::StreamTimeLocked() {
  if (state_ == State_Paused) return pausedStreamTime_;
  if (state_ != State_Running) return 0;
  REFERENCE_TIME now = 0;
  if (!clock_ || FAILED(clock_->GetTime(&now))) now = MonotonicTime();
  return std::max<REFERENCE_TIME>(0, now - baseTime_);
}

// ---- transitions ------------------------------------------------------------------------

HRESULT FilterGraph::PauseLocked() {
  if (state_ == State_Paused) return S_OK;
  const FILTER_STATE from = state_;
  if (from == State_Stopped) {
    ChooseClockLocked();
    DistributeClockLocked();
    ResetCompletion(RenderersLocked().size(), true);
  } else {
    pausedStreamTime_ = StreamTimeLocked();
  }
  HRESULT result = S_OK;
  for (auto& f : DownstreamFirstLocked()) {
    HRESULT hr = f->Pause();
    if (FAILED(hr)) {
      TAV_TRACE("Pause failed %#x", static_cast<unsigned>(hr));
      for (auto& s : DownstreamFirstLocked()) s->Stop();
      state_ = State_Stopped;
      ResetCompletion(0, false);
      return hr;
    }
    if (hr == S_FALSE) result = S_FALSE;
  }
  if (from == State_Stopped) pausedStreamTime_ = 0;
  state_ = State_Paused;
  return result;
}

HRESULT FilterGraph::RunLocked(REFERENCE_TIME start) {
  if (state_ == State_Running) return S_OK;
  if (state_ == State_Stopped) {
    HRESULT hr = PauseLocked();
    if (FAILED(hr)) return hr;
  }
  if (start > 0) {
    baseTime_ = start;
  } else {
    REFERENCE_TIME now = 0;
    if (!clock_ || FAILED(clock_->GetTime(&now))) now = MonotonicTime();
    // Resuming continues the stream time where the pause left it.
    baseTime_ = now + kRunLatency - pausedStreamTime_;
  }
  HRESULT result = S_OK;
  for (auto& f : DownstreamFirstLocked()) {
    HRESULT hr = f->Run(baseTime_);
    if (FAILED(hr)) {
      TAV_TRACE("Run failed %#x", static_cast<unsigned>(hr));
      StopLocked();
      return hr;
    }
    if (hr == S_FALSE) result = S_FALSE;
  }
  state_ = State_Running;
  return result;
}

HRESULT FilterGraph::StopLocked() {
  if (state_ == State_Stopped) return S_OK;
  // The position reached is where the next run starts.
  LONGLONG position = 0;
  bool havePosition = SUCCEEDED(GetCurrentPosition(&position));
  if (state_ == State_Running) PauseLocked();
  HRESULT result = S_OK;
  for (auto& f : DownstreamFirstLocked()) {
    HRESULT hr = f->Stop();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  state_ = State_Stopped;
  pausedStreamTime_ = 0;
  ResetCompletion(0, false);
  if (havePosition) {
    segmentStart_ = position;
    for (auto& s : SeekersLocked()) s->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, 0);
  }
  return result;
}

STDMETHODIMP FilterGraph::Run() {
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  HRESULT hr = RunLocked(0);
  TAV_TRACE("Run: %#x", static_cast<unsigned>(hr));
  return hr;
}

STDMETHODIMP FilterGraph::Run(REFERENCE_TIME start) {
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  return RunLocked(start);
}

STDMETHODIMP FilterGraph::Pause() {
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  HRESULT hr = PauseLocked();
  TAV_TRACE("Pause: %#x", static_cast<unsigned>(hr));
  return hr;
}

STDMETHODIMP FilterGraph::Stop() {
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  HRESULT hr = StopLocked();
  TAV_TRACE("Stop: %#x", static_cast<unsigned>(hr));
  return hr;
}

STDMETHODIMP FilterGraph::GetState(DWORD timeoutMs, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  std::vector<ComPtr<IBaseFilter>> filters;
  {
    std::lock_guard<std::recursive_mutex> g(graphLock_);
    *state = state_;
    filters = DownstreamFirstLocked();
  }
  // Waiting happens without the graph lock, so a seek or stop from another thread can end
  // the wait.
  using Clock = std::chrono::steady_clock;
  const auto deadline = timeoutMs == INFINITE ? Clock::time_point::max()
                                              : Clock::now() + std::chrono::milliseconds(timeoutMs);
  HRESULT result = S_OK;
  for (auto& f : filters) {
    DWORD left = INFINITE;
    if (timeoutMs != INFINITE) {
      auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      left = ms > 0 ? static_cast<DWORD>(ms) : 0;
    }
    FILTER_STATE fs;
    HRESULT hr = f->GetState(left, &fs);
    if (hr == VFW_S_STATE_INTERMEDIATE) {
      result = VFW_S_STATE_INTERMEDIATE;
    } else if (FAILED(hr)) {
      return hr;
    } else if (hr != S_OK && result == S_OK) {
      result = hr;  // VFW_S_CANT_CUE and the like pass through
    }
  }
  return result;
}

STDMETHODIMP FilterGraph::GetState(LONG timeoutMs, OAFilterState* state) {
  if (!state) return E_POINTER;
  FILTER_STATE fs = State_Stopped;
  HRESULT hr = GetState(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs), &fs);
  *state = fs;
  return hr;
}

STDMETHODIMP FilterGraph::StopWhenReady() {
  HRESULT hr = Pause();
  if (FAILED(hr)) return hr;
  FILTER_STATE fs;
  GetState(kStopWhenReadyTimeoutMs, &fs);
  return Stop();
}

}  // namespace tav::graph
