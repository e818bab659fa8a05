#include "platform/streaming/graph/filtergraph.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <unordered_set>

#include "media/contract/sync.h"
#include "media/contract/trace.h"
#include "media/contract/uuids.h"
#include "platform/streaming/graph/graph_util.h"
#include "platform/streaming/graph/utf.h"

TAV_TRACE_SOURCE(kGraph, "filtergraph");

namespace tav::graph {
namespace {

// Enumerates a snapshot of the graph's filters.
using FilterEnum = SnapshotEnum<IEnumFilters, IBaseFilter>;

}  // namespace

HRESULT FilterGraph::Create(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  auto* g = new (std::nothrow) FilterGraph();
  if (!g) return E_OUTOFMEMORY;
  // The new object's first reference is this function's; the caller gets one of its own.
  const auto owned = ComPtr<IFilterGraph2>::Adopt(g);
  if (!g->eventHandle_) return E_OUTOFMEMORY;
  return g->QueryInterface(riid, ppv);
}

FilterGraph::FilterGraph() {
  eventHandle_.Reset(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  timeFormat_ = TIME_FORMAT_MEDIA_TIME;
}

FilterGraph::~FilterGraph() {
  // Filters may take and drop references to the graph while they leave it; those must not
  // bring the count back to zero a second time.
  refs_ = 1u << 30;
  // The last reference is gone: nobody can call in any more. Stop streaming, then let
  // every filter go; filters are told they left the graph so none keeps a dangling pointer.
  {
    std::lock_guard<std::recursive_mutex> g(graphLock_);
    StopLocked();
    while (!filters_.empty()) RemoveFilterLocked(filters_.back().filter.Get());
  }
  {
    std::lock_guard<std::mutex> g(eventLock_);
    for (const Event& e : events_) FreeEventParams(e.code, e.param1, e.param2);
    events_.clear();
  }
}

STDMETHODIMP FilterGraph::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IFilterGraph || riid == IID_IGraphBuilder || riid == IID_IFilterGraph2)
    return GiveInterface<IFilterGraph2>(this, ppv);
  if (riid == IID_IMediaControl) return GiveInterface<IMediaControl>(this, ppv);
  if (riid == IID_IMediaEvent || riid == IID_IMediaEventEx) return GiveInterface<IMediaEventEx>(this, ppv);
  if (riid == IID_IMediaEventSink) return GiveInterface<IMediaEventSink>(this, ppv);
  if (riid == IID_IMediaSeeking) return GiveInterface<IMediaSeeking>(this, ppv);
  if (riid == IID_IMediaPosition) return GiveInterface<IMediaPosition>(this, ppv);
  if (riid == IID_IMediaFilter || riid == IID_IPersist) return GiveInterface<IMediaFilter>(this, ppv);
  if (riid == IID_IVideoWindow) return GiveInterface<IVideoWindow>(this, ppv);
  if (riid == IID_IBasicVideo) return GiveInterface<IBasicVideo>(this, ppv);
  if (riid == IID_IObjectWithSite) return GiveInterface<IObjectWithSite>(this, ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_FilterGraph;
  return S_OK;
}

// ---- filter list -------------------------------------------------------------------------

bool FilterGraph::ContainsLocked(IBaseFilter* filter) const {
  return std::any_of(filters_.begin(), filters_.end(),
                     [&](const FilterEntry& e) { return IsSameObject(e.filter.Get(), filter); });
}

bool FilterGraph::PinInGraphLocked(IPin* pin) const {
  ComPtr<IBaseFilter> owner = OwnerOf(pin);
  return owner && ContainsLocked(owner.Get());
}

std::u16string FilterGraph::UniqueNameLocked(const std::u16string& wanted) const {
  auto taken = [&](const std::u16string& n) {
    return std::any_of(filters_.begin(), filters_.end(), [&](const FilterEntry& e) { return e.name == n; });
  };
  if (!taken(wanted)) return wanted;
  // "Name 0001", "Name 0002", ... as the platform numbers duplicates.
  for (int i = 1;; ++i) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, " %04d", i);
    std::u16string candidate = wanted.substr(0, MAX_FILTER_NAME - 1 - std::strlen(suffix)) + ToUtf16(suffix);
    if (!taken(candidate)) return candidate;
  }
}

STDMETHODIMP FilterGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
  if (!filter) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  if (ContainsLocked(filter)) return VFW_E_DUPLICATE_NAME;
  std::u16string wanted = name ? std::u16string(name) : std::u16string();
  if (wanted.size() >= MAX_FILTER_NAME) wanted.resize(MAX_FILTER_NAME - 1);
  if (wanted.empty()) {
    // Unnamed filters are named after their own idea of their name, or numbered.
    FILTER_INFO info{};
    if (SUCCEEDED(filter->QueryFilterInfo(&info))) {
      const auto graph = ComPtr<IFilterGraph>::Adopt(info.pGraph);  // the reference the call handed out
      wanted = info.achName;
    }
    if (wanted.empty()) wanted = u"Filter";
  }
  std::u16string unique = UniqueNameLocked(wanted);
  TAV_TRACE("AddFilter \"%s\"", ToUtf8(unique).c_str());
  HRESULT hr = filter->JoinFilterGraph(static_cast<IFilterGraph2*>(this), unique.c_str());
  if (FAILED(hr)) return hr;
  filters_.push_back({ComPtr<IBaseFilter>(filter), unique});
  if (clock_) filter->SetSyncSource(clock_.Get());
  // Only a name the caller chose and that had to be changed is reported.
  return (!name || !*name || unique == wanted) ? S_OK : VFW_S_DUPLICATE_NAME;
}

void FilterGraph::RemoveFilterLocked(IBaseFilter* filter) {
  auto it = std::find_if(filters_.begin(), filters_.end(),
                         [&](const FilterEntry& e) { return IsSameObject(e.filter.Get(), filter); });
  if (it == filters_.end()) return;
  ComPtr<IBaseFilter> keep = it->filter;
  if (state_ != State_Stopped) keep->Stop();
  for (auto& pin : PinsOf(keep.Get())) {
    if (ComPtr<IPin> peer = PeerOf(pin.Get())) {
      peer->Disconnect();
      pin->Disconnect();
    }
  }
  keep->SetSyncSource(nullptr);
  keep->JoinFilterGraph(nullptr, nullptr);
  filters_.erase(it);
}

STDMETHODIMP FilterGraph::RemoveFilter(IBaseFilter* filter) {
  if (!filter) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  if (!ContainsLocked(filter)) return E_FAIL;
  TAV_TRACE("RemoveFilter %p", static_cast<void*>(filter));
  RemoveFilterLocked(filter);
  return S_OK;
}

STDMETHODIMP FilterGraph::EnumFilters(IEnumFilters** out) {
  if (!out) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  std::vector<ComPtr<IBaseFilter>> list;
  // The most recently added filter comes first, as on the platform.
  for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) list.push_back(it->filter);
  *out = new (std::nothrow) FilterEnum(std::move(list));
  return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP FilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter** filter) {
  if (!name || !filter) return E_POINTER;
  *filter = nullptr;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  for (const FilterEntry& e : filters_)
    if (e.name == name) return e.filter.CopyTo(filter);
  return VFW_E_NOT_FOUND;
}

std::vector<ComPtr<IBaseFilter>> FilterGraph::DownstreamFirstLocked() const {
  std::vector<ComPtr<IBaseFilter>> order;
  std::unordered_set<IUnknown*> visited;
  std::function<void(IBaseFilter*)> visit = [&](IBaseFilter* f) {
    ComPtr<IUnknown> id;
    f->QueryInterface(IID_IUnknown, id.AsVoidOut());
    if (!visited.insert(id.Get()).second) return;
    for (auto& pin : PinsOf(f, PINDIR_OUTPUT))
      if (ComPtr<IPin> peer = PeerOf(pin.Get()))
        if (ComPtr<IBaseFilter> down = OwnerOf(peer.Get()); down && ContainsLocked(down.Get())) visit(down.Get());
    order.push_back(ComPtr<IBaseFilter>(f));
  };
  for (const FilterEntry& e : filters_) visit(e.filter.Get());
  return order;
}

std::vector<ComPtr<IBaseFilter>> FilterGraph::RenderersLocked() const {
  std::vector<ComPtr<IBaseFilter>> out;
  for (const FilterEntry& e : filters_) {
    auto pins = PinsOf(e.filter.Get());
    bool hasInput = false, hasOutput = false;
    for (auto& p : pins) (DirectionOf(p.Get()) == PINDIR_INPUT ? hasInput : hasOutput) = true;
    // An unconnected renderer counts too: it reports its end as soon as it runs.
    if (hasInput && !hasOutput) out.push_back(e.filter);
  }
  return out;
}

// ---- site: the graph-builder callback ------------------------------------------------

STDMETHODIMP FilterGraph::SetSite(IUnknown* site) {
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  site_ = site;
  callback_ = nullptr;
  if (site) site->QueryInterface(IID_IAMGraphBuilderCallback, callback_.AsVoidOut());
  return S_OK;
}

STDMETHODIMP FilterGraph::GetSite(REFIID riid, void** site) {
  if (!site) return E_POINTER;
  *site = nullptr;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  if (!site_) return E_FAIL;
  return site_->QueryInterface(riid, site);
}

// ---- odds and ends ----------------------------------------------------------------------

STDMETHODIMP FilterGraph::SetLogFile(DWORD_PTR) { return S_OK; }

STDMETHODIMP FilterGraph::Abort() {
  abortRequested_ = true;
  return S_OK;
}

STDMETHODIMP FilterGraph::ShouldOperationContinue() { return abortRequested_ ? S_FALSE : S_OK; }

STDMETHODIMP FilterGraph::get_FilterCollection(IUnknown** collection) {
  if (!collection) return E_POINTER;
  *collection = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP FilterGraph::get_RegFilterCollection(IUnknown** collection) {
  if (!collection) return E_POINTER;
  *collection = nullptr;
  return E_NOTIMPL;
}

}  // namespace tav::graph
