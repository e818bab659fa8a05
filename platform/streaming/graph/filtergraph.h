// The graph manager: the filters of one graph, their connections (direct and
// intelligent), the graph's state, clock, events and seeking, and the video-window
// interfaces forwarded to the graph's video renderer (videoforwarder.h).
//
// Implementation files, by concern:
//   filtergraph.cpp     object, filter list, names, site (graph-builder callback)
//   graph_connect.cpp   direct and intelligent connection, rendering, sources, reconnection
//   graph_state.cpp     state changes, clock selection
//   graph_events.cpp    event queue and end-of-stream accounting
//   graph_seeking.cpp   positions, seeking and rate
//
// State transitions (IMediaControl / IMediaFilter on the graph; every filter is told in
// downstream-first order, so a renderer is ready before data reaches it):
//   Stopped -> Paused    choose a clock, Pause each filter; S_FALSE while a renderer has
//                        no sample yet (GetState answers VFW_S_STATE_INTERMEDIATE)
//   Paused  -> Running   base time = clock now (minus stream time already played); Run each
//   Running -> Paused    Pause each filter; stream time stops
//   Running -> Stopped   Pause, then Stop each filter; the position is kept for the next run
//   Paused  -> Stopped   Stop each filter
//   Stopped -> Running   through Paused
//
// Lock order: 1. graphLock_  2. eventLock_. No filter is called with eventLock_ held.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "media/contract/positionseconds.h"
#include "media/contract/strmif.h"
#include "media/contract/syncowners.h"
#include "platform/streaming/graph/graph_object.h"
#include "platform/streaming/graph/videoforwarder.h"

namespace tav::graph {

class FilterGraph final : public IFilterGraph2,
                          public IMediaControl,
                          public IMediaEventEx,
                          public IMediaEventSink,
                          public IMediaSeeking,
                          public MediaPositionThroughSeeking<FilterGraph>,
                          public IMediaFilter,
                          public VideoWindowForwarder<FilterGraph>,
                          public BasicVideoForwarder<FilterGraph>,
                          public IObjectWithSite,
                          public LiveObject {
 public:
  static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  GRAPH_IMPLEMENT_REFCOUNT();

  // IFilterGraph / IGraphBuilder / IFilterGraph2
  STDMETHODIMP AddFilter(IBaseFilter* filter, LPCWSTR name) override;
  STDMETHODIMP RemoveFilter(IBaseFilter* filter) override;
  STDMETHODIMP EnumFilters(IEnumFilters** out) override;
  STDMETHODIMP FindFilterByName(LPCWSTR name, IBaseFilter** filter) override;
  STDMETHODIMP ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP Reconnect(IPin* pin) override;
  STDMETHODIMP Disconnect(IPin* pin) override;
  STDMETHODIMP SetDefaultSyncSource() override;
  STDMETHODIMP Connect(IPin* out, IPin* in) override;
  STDMETHODIMP Render(IPin* out) override;
  STDMETHODIMP RenderFile(LPCWSTR file, LPCWSTR playList) override;
  STDMETHODIMP AddSourceFilter(LPCWSTR fileName, LPCWSTR filterName, IBaseFilter** filter) override;
  STDMETHODIMP SetLogFile(DWORD_PTR file) override;
  STDMETHODIMP Abort() override;
  STDMETHODIMP ShouldOperationContinue() override;
  STDMETHODIMP AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* ctx, LPCWSTR filterName,
                                         IBaseFilter** filter) override;
  STDMETHODIMP ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP RenderEx(IPin* out, DWORD flags, DWORD* context) override;

  // IMediaControl (Pause and Stop also serve IMediaFilter)
  STDMETHODIMP Run() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP GetState(LONG timeoutMs, OAFilterState* state) override;
  STDMETHODIMP RenderFile(BSTR fileName) override;
  STDMETHODIMP AddSourceFilter(BSTR fileName, IUnknown** filter) override;
  STDMETHODIMP get_FilterCollection(IUnknown** collection) override;
  STDMETHODIMP get_RegFilterCollection(IUnknown** collection) override;
  STDMETHODIMP StopWhenReady() override;

  // IMediaFilter
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;

  // IMediaEvent / IMediaEventEx / IMediaEventSink
  STDMETHODIMP GetEventHandle(OAEVENT* event) override;
  STDMETHODIMP GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) override;
  STDMETHODIMP WaitForCompletion(LONG timeoutMs, LONG* code) override;
  STDMETHODIMP CancelDefaultHandling(LONG code) override;
  STDMETHODIMP RestoreDefaultHandling(LONG code) override;
  STDMETHODIMP FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) override;
  STDMETHODIMP SetNotifyWindow(OAHWND hwnd, LONG msg, LONG_PTR instance) override;
  STDMETHODIMP SetNotifyFlags(LONG flags) override;
  STDMETHODIMP GetNotifyFlags(LONG* flags) override;
  STDMETHODIMP Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override;

  // IMediaSeeking
  DECLARE_IMEDIASEEKING_METHODS

  // IMediaPosition (seconds) comes from MediaPositionThroughSeeking, through IMediaSeeking.

  // IObjectWithSite
  STDMETHODIMP SetSite(IUnknown* site) override;
  STDMETHODIMP GetSite(REFIID riid, void** site) override;

 private:
  struct FilterEntry {
    ComPtr<IBaseFilter> filter;
    std::u16string name;
  };
  struct Event {
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
  };

  FilterGraph();
  ~FilterGraph() override;

  // ---- filter list (filtergraph.cpp)
  bool ContainsLocked(IBaseFilter* filter) const;
  bool PinInGraphLocked(IPin* pin) const;
  std::u16string UniqueNameLocked(const std::u16string& wanted) const;
  // Filters in downstream-first order: every filter comes before the filters feeding it.
  std::vector<ComPtr<IBaseFilter>> DownstreamFirstLocked() const;
  // Filters with input pins and no output pins: the ones that report end of stream.
  std::vector<ComPtr<IBaseFilter>> RenderersLocked() const;

  // ---- connection (graph_connect.cpp)
  HRESULT ConnectDirectLocked(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt);
  // Intelligent connection of out to in (in null: render out), at most depth
  // intermediate filters deep. Undoes everything it added when it fails.
  HRESULT ConnectViaLocked(IPin* out, IPin* in, int depth);
  HRESULT TryIntermediateLocked(IPin* out, IBaseFilter* filter, IPin* in, int depth);
  // Filters already in the graph, with a free input pin, not upstream of out: candidates
  // for intelligent connection before the mapper is asked.
  std::vector<ComPtr<IBaseFilter>> InGraphCandidatesLocked(IPin* out, IPin* in) const;
  HRESULT MapperCandidatesLocked(IPin* out, IPin* in, int depth);
  HRESULT RenderLocked(IPin* out, int depth);
  HRESULT CreateSourceLocked(const std::u16string& file, CLSID* clsid, AM_MEDIA_TYPE* type, bool* haveType);
  void RemoveFilterLocked(IBaseFilter* filter);

  // ---- state (graph_state.cpp)
  HRESULT PauseLocked();
  HRESULT StopLocked();
  HRESULT RunLocked(REFERENCE_TIME start);
  void ChooseClockLocked();
  void DistributeClockLocked();
  // Stream time now: clock time minus the base time, or the paused stream time.
  REFERENCE_TIME StreamTimeLocked();

  // ---- events (graph_events.cpp)
  void QueueEvent(LONG code, LONG_PTR param1, LONG_PTR param2);
  // New run or segment: end-of-stream accounting starts again for the given renderers;
  // streaming says whether the graph is paused or running from now on.
  void ResetCompletion(size_t renderers, bool streaming);

  // ---- seeking (graph_seeking.cpp)
  // Seeking interfaces of the renderers (or of the pins feeding them).
  std::vector<ComPtr<IMediaSeeking>> SeekersLocked() const;
  HRESULT SetPositionsLocked(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags);

  // ---- video
  // IVideoWindow and IBasicVideo go to the first filter that has them (the video renderer).
  template <typename O, typename I>
  friend class InterfaceForwarder;
  template <typename I>
  ComPtr<I> ForwardTarget() {
    std::lock_guard<std::recursive_mutex> g(graphLock_);
    for (const FilterEntry& e : filters_)
      if (ComPtr<I> p = e.filter.template As<I>()) return p;
    return nullptr;
  }

  // Guards the filter list, connections, state, clock and positions. Recursive because
  // filters call back into the graph (Reconnect, AddFilter) from inside graph calls.
  std::recursive_mutex graphLock_;
  // Guards the event queue, the notification target and end-of-stream accounting; taken by
  // streaming threads through Notify, so it is never held while calling a filter.
  std::mutex eventLock_;

  // configuration
  ComPtr<IUnknown> site_;                          // guarded by graphLock_
  ComPtr<IAMGraphBuilderCallback> callback_;       // guarded by graphLock_; from the site
  // Set by Abort from any thread while a building call holds graphLock_.
  std::atomic<bool> abortRequested_{false};

  // topology
  std::vector<FilterEntry> filters_;  // guarded by graphLock_; in the order added

  // runtime state
  FILTER_STATE state_ = State_Stopped;     // guarded by graphLock_
  ComPtr<IReferenceClock> clock_;          // guarded by graphLock_
  bool clockChosen_ = false;               // guarded by graphLock_; SetSyncSource was called
  REFERENCE_TIME baseTime_ = 0;            // guarded by graphLock_; clock time of stream time 0
  REFERENCE_TIME pausedStreamTime_ = 0;    // guarded by graphLock_; stream time when paused
  REFERENCE_TIME segmentStart_ = 0;        // guarded by graphLock_; media time of stream time 0
  double rate_ = 1.0;                      // guarded by graphLock_
  GUID timeFormat_{};                      // guarded by graphLock_; set in the constructor

  // events
  std::deque<Event> events_;             // guarded by eventLock_
  tav::UniqueHandle eventHandle_;        // manual reset; set while events_ is not empty
  OAHWND notifyWindow_ = 0;              // guarded by eventLock_
  LONG notifyMessage_ = 0;               // guarded by eventLock_
  LONG_PTR notifyInstance_ = 0;          // guarded by eventLock_
  LONG notifyFlags_ = 0;                 // guarded by eventLock_
  std::set<LONG> defaultHandlingOff_;    // guarded by eventLock_
  size_t renderersRunning_ = 0;          // guarded by eventLock_; renderers expected to finish
  std::set<LONG_PTR> renderersDone_;     // guarded by eventLock_; those that reported EC_COMPLETE
  size_t anonymousDone_ = 0;             // guarded by eventLock_; EC_COMPLETE without a filter
  bool completionQueued_ = false;        // guarded by eventLock_; EC_COMPLETE sent for this run
  bool streaming_ = false;               // guarded by eventLock_; paused or running
  // Signalled (notify_all) when the run completes or aborts; WaitForCompletion waits on it.
  std::condition_variable completionCv_;
  LONG completionCode_ = 0;              // guarded by eventLock_; 0 until the run ends
};

}  // namespace tav::graph
