#include "platform/streaming/graph/capturegraphbuilder.h"

#include <new>

#include "media/contract/trace.h"
#include "media/contract/uuids.h"
#include "platform/streaming/graph/filtergraph.h"
#include "platform/streaming/graph/graph_util.h"

TAV_TRACE_SOURCE(kGraph, "capturebuilder");

namespace tav::graph {
namespace {

bool PinOffersMajorType(IPin* pin, const GUID* type) {
  if (!type || *type == GUID_NULL) return true;
  for (auto& mt : TypesOf(pin))
    if (mt->majortype == *type) return true;
  return false;
}

}  // namespace

HRESULT CaptureGraphBuilder::Create(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  auto* b = new (std::nothrow) CaptureGraphBuilder();
  if (!b) return E_OUTOFMEMORY;
  // The new object's first reference is this function's; the caller gets one of its own.
  const auto owned = ComPtr<ICaptureGraphBuilder2>::Adopt(b);
  return b->QueryInterface(riid, ppv);
}

STDMETHODIMP CaptureGraphBuilder::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ICaptureGraphBuilder2)
    return GiveInterface<ICaptureGraphBuilder2>(this, ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP CaptureGraphBuilder::SetFiltergraph(IGraphBuilder* graph) {
  if (!graph) return E_POINTER;
  if (graph_) return E_UNEXPECTED;
  graph_ = graph;
  return S_OK;
}

STDMETHODIMP CaptureGraphBuilder::GetFiltergraph(IGraphBuilder** graph) {
  if (!graph) return E_POINTER;
  *graph = nullptr;
  if (!graph_) {
    // Asking first makes a graph of our own, as the platform does.
    HRESULT hr = FilterGraph::Create(nullptr, IID_IGraphBuilder, graph_.AsVoidOut());
    if (FAILED(hr)) return hr;
  }
  return graph_.CopyTo(graph);
}

STDMETHODIMP CaptureGraphBuilder::SetOutputFileName(const GUID*, LPCOLESTR, IBaseFilter** mux, IUnknown** sink) {
  if (mux) *mux = nullptr;
  if (sink) *sink = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP CaptureGraphBuilder::FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter,
                                                REFIID riid, void** out) {
  if (!filter || !out) return E_POINTER;
  *out = nullptr;
  if (SUCCEEDED(filter->QueryInterface(riid, out))) return S_OK;
  // Then its pins, and the filters directly connected to it.
  for (auto& pin : PinsOf(filter)) {
    if (!PinOffersMajorType(pin.Get(), type)) continue;
    if (SUCCEEDED(pin->QueryInterface(riid, out))) return S_OK;
    if (ComPtr<IPin> peer = PeerOf(pin.Get()))
      if (ComPtr<IBaseFilter> other = OwnerOf(peer.Get()))
        if (SUCCEEDED(other->QueryInterface(riid, out))) return S_OK;
  }
  return E_NOINTERFACE;
}

STDMETHODIMP CaptureGraphBuilder::FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category,
                                          const GUID* type, BOOL unconnected, int index, IPin** pin) {
  if (!source || !pin) return E_POINTER;
  *pin = nullptr;
  if (category) return E_NOTIMPL;  // pin categories are not tracked
  ComPtr<IBaseFilter> filter;
  if (FAILED(source->QueryInterface(IID_IBaseFilter, filter.AsVoidOut()))) {
    ComPtr<IPin> asPin;
    if (FAILED(source->QueryInterface(IID_IPin, asPin.AsVoidOut()))) return E_INVALIDARG;
    filter = OwnerOf(asPin.Get());
    if (!filter) return E_FAIL;
  }
  int found = 0;
  for (auto& p : PinsOf(filter.Get(), dir)) {
    if (unconnected && PeerOf(p.Get())) continue;
    if (!PinOffersMajorType(p.Get(), type)) continue;
    if (found++ == index) return p.CopyTo(pin);
  }
  return E_FAIL;
}

HRESULT CaptureGraphBuilder::ConnectToFilter(IPin* out, IBaseFilter* filter) {
  HRESULT last = VFW_E_CANNOT_CONNECT;
  for (auto& in : PinsOf(filter, PINDIR_INPUT)) {
    if (PeerOf(in.Get())) continue;
    last = graph_->Connect(out, in.Get());
    if (SUCCEEDED(last)) return S_OK;
  }
  return last;
}

STDMETHODIMP CaptureGraphBuilder::RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                               IBaseFilter* intermediate, IBaseFilter* sink) {
  if (!source) return E_POINTER;
  if (!graph_) return E_UNEXPECTED;
  if (category) return E_NOTIMPL;  // capture and preview categories need pin categories
  TAV_TRACE("RenderStream");
  ComPtr<IPin> out;
  if (FAILED(source->QueryInterface(IID_IPin, out.AsVoidOut()))) {
    ComPtr<IBaseFilter> filter;
    if (FAILED(source->QueryInterface(IID_IBaseFilter, filter.AsVoidOut()))) return E_INVALIDARG;
    HRESULT hr = FindPin(filter.Get(), PINDIR_OUTPUT, nullptr, type, TRUE, 0, &out);
    if (FAILED(hr)) return E_FAIL;
  } else if (DirectionOf(out.Get()) != PINDIR_OUTPUT || PeerOf(out.Get())) {
    return E_INVALIDARG;
  }

  if (intermediate) {
    HRESULT hr = ConnectToFilter(out.Get(), intermediate);
    if (FAILED(hr)) return hr;
    ComPtr<IPin> next;
    if (FAILED(FindPin(intermediate, PINDIR_OUTPUT, nullptr, nullptr, TRUE, 0, &next)))
      return sink ? E_FAIL : S_OK;
    out = next;
  }
  if (sink) return ConnectToFilter(out.Get(), sink);
  return graph_->Render(out.Get());
}

STDMETHODIMP CaptureGraphBuilder::ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*,
                                                REFERENCE_TIME*, WORD, WORD) {
  return E_NOTIMPL;
}

STDMETHODIMP CaptureGraphBuilder::AllocCapFile(LPCOLESTR, DWORDLONG) { return E_NOTIMPL; }

STDMETHODIMP CaptureGraphBuilder::CopyCaptureFile(LPOLESTR, LPOLESTR, int, IUnknown*) { return E_NOTIMPL; }

}  // namespace tav::graph
