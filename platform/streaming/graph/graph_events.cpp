// The event queue: events from filters, default handling (end of stream is counted per
// renderer and reported once), and notification of the application.
#include <chrono>

#include "media/contract/com.h"
#include "media/contract/sync.h"
#include "media/contract/trace.h"
#include "media/contract/window.h"
#include "platform/streaming/graph/filtergraph.h"

TAV_TRACE_SOURCE(kGraph, "events");

namespace tav::graph {

void FilterGraph::QueueEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
  // Called with eventLock_ held.
  events_.push_back({code, param1, param2});
  SetEvent(eventHandle_);
  if (notifyWindow_ && !(notifyFlags_ & AM_MEDIAEVENT_NONOTIFY))
    PostMessage(reinterpret_cast<HWND>(notifyWindow_), static_cast<UINT>(notifyMessage_), 0, notifyInstance_);
  if (code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT || code == EC_ERRORABORTEX) {
    if (completionCode_ == 0) completionCode_ = code;
    completionCv_.notify_all();
  }
}

void FilterGraph::ResetCompletion(size_t renderers, bool streaming) {
  std::lock_guard<std::mutex> g(eventLock_);
  renderersRunning_ = renderers;
  renderersDone_.clear();
  anonymousDone_ = 0;
  completionQueued_ = false;
  completionCode_ = 0;
  streaming_ = streaming;
  // A waiter on a run that was stopped must not wait for a completion that cannot come.
  completionCv_.notify_all();
}

STDMETHODIMP FilterGraph::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) {
  TAV_TRACE("Notify %#x (%#lx, %#lx)", static_cast<unsigned>(code), static_cast<long>(param1),
              static_cast<long>(param2));
  std::lock_guard<std::mutex> g(eventLock_);
  const bool defaultHandling = defaultHandlingOff_.count(code) == 0;
  if (code == EC_COMPLETE && defaultHandling) {
    // End of stream that arrives after a stop belongs to a run that is over.
    if (!streaming_) return S_OK;
    if (param2)
      renderersDone_.insert(param2);
    else
      ++anonymousDone_;
    if (!completionQueued_ && renderersDone_.size() + anonymousDone_ >= renderersRunning_) {
      completionQueued_ = true;
      QueueEvent(EC_COMPLETE, S_OK, 0);
    }
    return S_OK;
  }
  if (defaultHandling) {
    switch (code) {
      // Handled by the graph itself: the application never sees these by default.
      case EC_REPAINT:
      case EC_ACTIVATE:
      case EC_DISPLAY_CHANGED:
      case EC_STARVATION:
      case EC_CLOCK_CHANGED:
      case EC_NEED_RESTART:
      case EC_SHUTTING_DOWN:
        return S_OK;
      default:
        break;
    }
  }
  QueueEvent(code, param1, param2);
  return S_OK;
}

STDMETHODIMP FilterGraph::GetEventHandle(OAEVENT* event) {
  if (!event) return E_POINTER;
  *event = reinterpret_cast<OAEVENT>(eventHandle_.Get());
  return S_OK;
}

STDMETHODIMP FilterGraph::GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) {
  if (!code || !param1 || !param2) return E_POINTER;
  *code = 0;
  *param1 = *param2 = 0;
  if (WaitForSingleObject(eventHandle_, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
    return E_ABORT;
  std::lock_guard<std::mutex> g(eventLock_);
  if (events_.empty()) {
    ResetEvent(eventHandle_);
    return E_ABORT;
  }
  Event e = events_.front();
  events_.pop_front();
  if (events_.empty()) ResetEvent(eventHandle_);
  *code = e.code;
  *param1 = e.param1;
  *param2 = e.param2;
  return S_OK;
}

STDMETHODIMP FilterGraph::WaitForCompletion(LONG timeoutMs, LONG* code) {
  if (!code) return E_POINTER;
  *code = 0;
  std::unique_lock<std::mutex> g(eventLock_);
  if (!streaming_) return VFW_E_WRONG_STATE;
  auto done = [&] { return completionCode_ != 0 || !streaming_; };
  if (timeoutMs < 0)
    completionCv_.wait(g, done);
  else if (!completionCv_.wait_for(g, std::chrono::milliseconds(timeoutMs), done))
    return E_ABORT;
  if (completionCode_ == 0) return VFW_E_WRONG_STATE;  // stopped meanwhile
  *code = completionCode_;
  return S_OK;
}

STDMETHODIMP FilterGraph::CancelDefaultHandling(LONG code) {
  std::lock_guard<std::mutex> g(eventLock_);
  defaultHandlingOff_.insert(code);
  return S_OK;
}

STDMETHODIMP FilterGraph::RestoreDefaultHandling(LONG code) {
  std::lock_guard<std::mutex> g(eventLock_);
  defaultHandlingOff_.erase(code);
  return S_OK;
}

STDMETHODIMP FilterGraph::FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) {
  // The event's contract: its receiver frees the strings through this call. Only these
  // events carry strings; the rest carry plain values.
  if (code == EC_OLE_EVENT) {
    SysFreeString(reinterpret_cast<BSTR>(param1));
    SysFreeString(reinterpret_cast<BSTR>(param2));
  } else if (code == EC_ERRORABORTEX) {
    SysFreeString(reinterpret_cast<BSTR>(param2));
  }
  return S_OK;
}

STDMETHODIMP FilterGraph::SetNotifyWindow(OAHWND hwnd, LONG msg, LONG_PTR instance) {
  std::lock_guard<std::mutex> g(eventLock_);
  notifyWindow_ = hwnd;
  notifyMessage_ = msg;
  notifyInstance_ = instance;
  // Events already waiting are announced too, or the window would never fetch them.
  if (hwnd && !events_.empty() && !(notifyFlags_ & AM_MEDIAEVENT_NONOTIFY))
    PostMessage(reinterpret_cast<HWND>(hwnd), static_cast<UINT>(msg), 0, instance);
  return S_OK;
}

STDMETHODIMP FilterGraph::SetNotifyFlags(LONG flags) {
  if (flags & ~AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
  std::lock_guard<std::mutex> g(eventLock_);
  notifyFlags_ = flags;
  return S_OK;
}

STDMETHODIMP FilterGraph::GetNotifyFlags(LONG* flags) {
  if (!flags) return E_POINTER;
  std::lock_guard<std::mutex> g(eventLock_);
  *flags = notifyFlags_;
  return S_OK;
}

}  // namespace tav::graph
