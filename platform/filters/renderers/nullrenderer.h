// "Null Renderer": takes any stream and drops every sample, presenting nothing; it ends
// chains that nobody wants to see or hear. Scheduling and end of stream come from
// CBaseRenderer.
#pragma once

#include "platform/streaming/base/streams.h"

namespace tav::filters {

class CNullRenderer final : public CBaseRenderer {
 public:
  CNullRenderer(LPUNKNOWN outer, HRESULT* phr) : CBaseRenderer(CLSID_NullRenderer, NAME("Null Renderer"), outer, phr) {}
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

  HRESULT CheckMediaType(const CMediaType* mt) override { return mt ? S_OK : E_POINTER; }
  HRESULT DoRenderSample(IMediaSample*) override { return S_OK; }
};

}  // namespace tav::filters

extern const AMOVIESETUP_FILTER sudNullRenderer;
