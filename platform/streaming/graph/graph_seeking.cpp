// Positions and seeking: the graph forwards to its renderers (which pass requests upstream
// to the filter that can seek), and keeps the stream position itself while a clock runs.
#include <algorithm>
#include <cmath>

#include "media/contract/trace.h"
#include "platform/streaming/graph/filtergraph.h"
#include "platform/streaming/graph/graph_util.h"

TAV_TRACE_SOURCE(kGraph, "seeking");

namespace tav::graph {

std::vector<ComPtr<IMediaSeeking>> FilterGraph::SeekersLocked() const {
  std::vector<ComPtr<IMediaSeeking>> out;
  for (auto& r : RenderersLocked()) {
    if (ComPtr<IMediaSeeking> s = r.As<IMediaSeeking>()) {
      out.push_back(s);
      continue;
    }
    // A renderer without seeking of its own is seeked through the pin that feeds it.
    for (auto& pin : PinsOf(r.Get(), PINDIR_INPUT))
      if (ComPtr<IPin> peer = PeerOf(pin.Get()))
        if (ComPtr<IMediaSeeking> s = peer.As<IMediaSeeking>()) {
          out.push_back(s);
          break;
        }
  }
  return out;
}

STDMETHODIMP FilterGraph::GetCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  auto seekers = SeekersLocked();
  *capabilities = 0;
  if (seekers.empty()) return E_NOTIMPL;
  // The graph can do what every renderer's chain can do.
  DWORD caps = ~0u;
  bool any = false;
  for (auto& s : seekers) {
    DWORD c = 0;
    if (SUCCEEDED(s->GetCapabilities(&c))) {
      caps &= c;
      any = true;
    }
  }
  *capabilities = any ? caps : 0;
  return any ? S_OK : E_NOTIMPL;
}

STDMETHODIMP FilterGraph::CheckCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  DWORD have = 0;
  GetCapabilities(&have);
  DWORD wanted = *capabilities;
  *capabilities = wanted & have;
  if (*capabilities == wanted) return S_OK;
  return *capabilities ? S_FALSE : E_FAIL;
}

STDMETHODIMP FilterGraph::IsFormatSupported(const GUID* format) {
  if (!format) return E_POINTER;
  if (*format == TIME_FORMAT_MEDIA_TIME) return S_OK;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  auto seekers = SeekersLocked();
  if (seekers.empty()) return S_FALSE;
  for (auto& s : seekers)
    if (s->IsFormatSupported(format) != S_OK) return S_FALSE;
  return S_OK;
}

STDMETHODIMP FilterGraph::QueryPreferredFormat(GUID* format) {
  if (!format) return E_POINTER;
  *format = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

STDMETHODIMP FilterGraph::GetTimeFormat(GUID* format) {
  if (!format) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  *format = timeFormat_;
  return S_OK;
}

STDMETHODIMP FilterGraph::IsUsingTimeFormat(const GUID* format) {
  if (!format) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  return *format == timeFormat_ ? S_OK : S_FALSE;
}

STDMETHODIMP FilterGraph::SetTimeFormat(const GUID* format) {
  if (!format) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  if (state_ != State_Stopped) return VFW_E_WRONG_STATE;
  for (auto& s : SeekersLocked()) {
    HRESULT hr = s->SetTimeFormat(format);
    if (FAILED(hr) && *format != TIME_FORMAT_MEDIA_TIME) return hr;
  }
  timeFormat_ = *format;
  return S_OK;
}

namespace {

// The largest value that any of the seekers answers through get (0 when none does): the
// longest stream sets the graph's duration and stop. E_NOTIMPL when no seeker answers.
HRESULT Longest(const std::vector<ComPtr<IMediaSeeking>>& seekers, decltype(&IMediaSeeking::GetDuration) get,
                LONGLONG* value) {
  *value = 0;
  HRESULT result = E_NOTIMPL;
  for (auto& s : seekers) {
    LONGLONG v = 0;
    if (SUCCEEDED((s.Get()->*get)(&v))) {
      *value = std::max(*value, v);
      result = S_OK;
    }
  }
  return result;
}

}  // namespace

STDMETHODIMP FilterGraph::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  return Longest(SeekersLocked(), &IMediaSeeking::GetDuration, duration);
}

STDMETHODIMP FilterGraph::GetStopPosition(LONGLONG* stop) {
  if (!stop) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  return Longest(SeekersLocked(), &IMediaSeeking::GetStopPosition, stop);
}

STDMETHODIMP FilterGraph::GetCurrentPosition(LONGLONG* current) {
  if (!current) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  if (state_ == State_Stopped) {
    *current = segmentStart_;
    return S_OK;
  }
  bool completed;
  {
    std::lock_guard<std::mutex> g(eventLock_);
    completed = completionQueued_;
  }
  // Once every renderer has finished, the graph stands at the stop position.
  LONGLONG stop = 0;
  if (completed && SUCCEEDED(GetStopPosition(&stop))) {
    *current = stop;
    return S_OK;
  }
  if (clock_ && timeFormat_ == TIME_FORMAT_MEDIA_TIME) {
    // With a clock the position is the stream time, never beyond the stop position.
    LONGLONG pos = segmentStart_ + static_cast<LONGLONG>(StreamTimeLocked() * rate_);
    LONGLONG stop = 0;
    if (SUCCEEDED(GetStopPosition(&stop)) && stop > 0) pos = std::min(pos, stop);
    *current = std::max<LONGLONG>(0, pos);
    return S_OK;
  }
  // Without a clock: how far the renderers have got.
  bool any = false;
  LONGLONG best = 0;
  for (auto& s : SeekersLocked()) {
    LONGLONG v = 0;
    if (SUCCEEDED(s->GetCurrentPosition(&v))) {
      best = any ? std::max(best, v) : v;
      any = true;
    }
  }
  *current = any ? best : segmentStart_;
  return S_OK;
}

STDMETHODIMP FilterGraph::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                           const GUID* sourceFormat) {
  if (!target) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  const GUID& to = targetFormat ? *targetFormat : timeFormat_;
  const GUID& from = sourceFormat ? *sourceFormat : timeFormat_;
  if (to == from) {
    *target = source;
    return S_OK;
  }
  for (auto& s : SeekersLocked())
    if (SUCCEEDED(s->ConvertTimeFormat(target, &to, source, &from))) return S_OK;
  return E_NOTIMPL;
}

HRESULT FilterGraph::SetPositionsLocked(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  const DWORD curMode = currentFlags & AM_SEEKING_PositioningBitsMask;
  const DWORD stopMode = stopFlags & AM_SEEKING_PositioningBitsMask;
  if ((curMode != AM_SEEKING_NoPositioning && !current) || (stopMode != AM_SEEKING_NoPositioning && !stop))
    return E_POINTER;
  auto seekers = SeekersLocked();
  if (seekers.empty()) return E_NOTIMPL;

  // Relative requests become absolute once, so every renderer gets the same target.
  LONGLONG cur = 0, end = 0;
  DWORD curFlags = currentFlags, endFlags = stopFlags;
  if (curMode != AM_SEEKING_NoPositioning) {
    cur = *current;
    if (curMode == AM_SEEKING_RelativePositioning) {
      LONGLONG now = 0;
      GetCurrentPosition(&now);
      cur += now;
    }
    curFlags = (currentFlags & ~AM_SEEKING_PositioningBitsMask) | AM_SEEKING_AbsolutePositioning;
  }
  if (stopMode != AM_SEEKING_NoPositioning) {
    end = *stop;
    if (stopMode == AM_SEEKING_RelativePositioning || stopMode == AM_SEEKING_IncrementalPositioning) {
      LONGLONG now = 0;
      if (stopMode == AM_SEEKING_RelativePositioning)
        GetCurrentPosition(&now);
      else
        GetStopPosition(&now);
      end += now;
    }
    endFlags = (stopFlags & ~AM_SEEKING_PositioningBitsMask) | AM_SEEKING_AbsolutePositioning;
  }

  // A running graph pauses for the seek and runs again from the new position; the seek
  // flushes what is under way and the source starts a new segment.
  const bool wasRunning = state_ == State_Running;
  if (wasRunning && curMode != AM_SEEKING_NoPositioning) PauseLocked();

  HRESULT result = E_NOTIMPL;
  LONGLONG reportedCur = cur, reportedEnd = end;
  bool first = true;
  for (auto& s : seekers) {
    LONGLONG c = cur, e = end;
    HRESULT hr = s->SetPositions(curMode != AM_SEEKING_NoPositioning ? &c : nullptr, curFlags,
                                 stopMode != AM_SEEKING_NoPositioning ? &e : nullptr, endFlags);
    if (SUCCEEDED(hr)) {
      if (first) {
        reportedCur = c;
        reportedEnd = e;
        first = false;
      }
      result = S_OK;
    } else if (result == E_NOTIMPL) {
      result = hr;
    }
  }
  if (SUCCEEDED(result) && curMode != AM_SEEKING_NoPositioning) {
    segmentStart_ = cur;
    pausedStreamTime_ = 0;
    if (state_ != State_Stopped) ResetCompletion(RenderersLocked().size(), true);
  }
  if (currentFlags & AM_SEEKING_ReturnTime && current) *current = reportedCur;
  if (stopFlags & AM_SEEKING_ReturnTime && stop) *stop = reportedEnd;
  if (wasRunning && curMode != AM_SEEKING_NoPositioning) {
    HRESULT hr = RunLocked(0);
    if (FAILED(hr)) return hr;
  }
  return result;
}

STDMETHODIMP FilterGraph::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  HRESULT hr = SetPositionsLocked(current, currentFlags, stop, stopFlags);
  TAV_TRACE("SetPositions %lld/%#x %lld/%#x: %#x", current ? static_cast<long long>(*current) : -1LL,
              currentFlags, stop ? static_cast<long long>(*stop) : -1LL, stopFlags, static_cast<unsigned>(hr));
  return hr;
}

STDMETHODIMP FilterGraph::GetPositions(LONGLONG* current, LONGLONG* stop) {
  HRESULT hr = S_OK;
  if (current) hr = GetCurrentPosition(current);
  if (stop && SUCCEEDED(hr)) hr = GetStopPosition(stop);
  return hr;
}

STDMETHODIMP FilterGraph::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  if (earliest) *earliest = 0;
  if (latest) return GetDuration(latest);
  return S_OK;
}

STDMETHODIMP FilterGraph::SetRate(double rate) {
  if (rate == 0.0) return E_INVALIDARG;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  HRESULT result = E_NOTIMPL;
  for (auto& s : SeekersLocked()) {
    HRESULT hr = s->SetRate(rate);
    if (SUCCEEDED(hr))
      result = S_OK;
    else if (result == E_NOTIMPL)
      result = hr;
  }
  if (SUCCEEDED(result)) {
    // Keep the position continuous: what has played so far counts at the old rate.
    if (state_ != State_Stopped) {
      LONGLONG pos = 0;
      GetCurrentPosition(&pos);
      segmentStart_ = pos;
      if (state_ == State_Paused)
        pausedStreamTime_ = 0;
      else
        baseTime_ += StreamTimeLocked();
    }
    rate_ = rate;
  }
  return result;
}

STDMETHODIMP FilterGraph::GetRate(double* rate) {
  if (!rate) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  *rate = rate_;
  return S_OK;
}

STDMETHODIMP FilterGraph::GetPreroll(LONGLONG* preroll) {
  if (!preroll) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  *preroll = 0;
  for (auto& s : SeekersLocked())
    if (SUCCEEDED(s->GetPreroll(preroll))) return S_OK;
  return S_OK;
}

}  // namespace tav::graph
