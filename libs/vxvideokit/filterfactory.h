// The body every class factory of the library shares (filters and other objects alike).
#pragma once

#include <new>

#include "platform/streaming/base/combase.h"

namespace vxvk {

// A new Filter(outer, &hr); deleted again, and null returned, when it could not be made or
// its constructor reported a failure. *phr (when given) receives the result.
template <class Filter>
CUnknown* CreateFilterInstance(LPUNKNOWN outer, HRESULT* phr) {
  HRESULT hr = S_OK;
  auto* filter = new (std::nothrow) Filter(outer, &hr);
  if (!filter) hr = E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete filter;  // not counted yet: nothing else holds it
    filter = nullptr;
  }
  if (phr) *phr = hr;
  return filter;
}

}  // namespace vxvk
