// ICaptureGraphBuilder2: connects a source (filter or pin) through an optional
// intermediate filter into a sink, or renders it, on a graph set by the caller.
#pragma once

#include "media/contract/strmif.h"
#include "platform/streaming/graph/graph_object.h"

namespace tav::graph {

class CaptureGraphBuilder final : public ICaptureGraphBuilder2, public LiveObject {
 public:
  static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  GRAPH_IMPLEMENT_REFCOUNT();

  STDMETHODIMP SetFiltergraph(IGraphBuilder* graph) override;
  STDMETHODIMP GetFiltergraph(IGraphBuilder** graph) override;
  STDMETHODIMP SetOutputFileName(const GUID* type, LPCOLESTR file, IBaseFilter** mux, IUnknown** sink) override;
  STDMETHODIMP FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID riid,
                             void** out) override;
  STDMETHODIMP RenderStream(const GUID* category, const GUID* type, IUnknown* source, IBaseFilter* intermediate,
                            IBaseFilter* sink) override;
  STDMETHODIMP ControlStream(const GUID* category, const GUID* type, IBaseFilter* filter, REFERENCE_TIME* start,
                             REFERENCE_TIME* stop, WORD startCookie, WORD stopCookie) override;
  STDMETHODIMP AllocCapFile(LPCOLESTR file, DWORDLONG size) override;
  STDMETHODIMP CopyCaptureFile(LPOLESTR oldFile, LPOLESTR newFile, int allowEscAbort, IUnknown* callback) override;
  STDMETHODIMP FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category, const GUID* type,
                       BOOL unconnected, int index, IPin** pin) override;

 private:
  CaptureGraphBuilder() = default;
  ~CaptureGraphBuilder() override = default;
  // Connects out to one of filter's free input pins, intelligently.
  HRESULT ConnectToFilter(IPin* out, IBaseFilter* filter);

  // Called from the application's thread only, like the graph's building calls.
  ComPtr<IGraphBuilder> graph_;
};

}  // namespace tav::graph
