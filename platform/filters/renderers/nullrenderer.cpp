#include "platform/filters/renderers/nullrenderer.h"

#include <new>

namespace tav::filters {

CUnknown* CNullRenderer::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* f = new (std::nothrow) CNullRenderer(outer, phr);
  if (!f && phr) *phr = E_OUTOFMEMORY;
  return f;
}

}  // namespace tav::filters

namespace {
const REGPINTYPES kNullIn[] = {{&GUID_NULL, &GUID_NULL}};
const AMOVIESETUP_PIN kNullPins[] = {{u"In", TRUE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kNullIn}};
}  // namespace

const AMOVIESETUP_FILTER sudNullRenderer = {&CLSID_NullRenderer, u"Null Renderer", MERIT_DO_NOT_USE, 1, kNullPins};
