#include "converter/engine/graphregistration.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>

#include "media/contract/codepage.h"
#include "media/contract/comptr.h"
#include "media/contract/objidl.h"

namespace tav {

GraphRegistration::~GraphRegistration() {
  if (registered_) RevokeGraph();
}

std::string GraphRegistration::ItemName(const void* graph, DWORD processId) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "FilterGraph %08" PRIxPTR " pid %08x", reinterpret_cast<uintptr_t>(graph),
                unsigned(processId));
  return buf;
}

HRESULT GraphRegistration::RegisterGraph(IUnknown* graph) {
  if (!graph) return E_POINTER;
  if (registered_) return S_FALSE;
  ComPtr<IRunningObjectTable> rot;
  HRESULT hr = GetRunningObjectTable(0, &rot);
  if (FAILED(hr)) return hr;
  const std::u16string name = Utf8ToUtf16(ItemName(graph, DWORD(::getpid())));
  ComPtr<IMoniker> moniker;
  hr = CreateItemMoniker(u"!", name.c_str(), &moniker);
  if (FAILED(hr)) return hr;
  DWORD cookie = 0;
  hr = rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph, moniker.Get(), &cookie);
  if (FAILED(hr)) return hr;
  cookie_ = cookie;
  registered_ = true;
  return hr;
}

HRESULT GraphRegistration::RevokeGraph() {
  if (!registered_) return E_FAIL;
  ComPtr<IRunningObjectTable> rot;
  HRESULT hr = GetRunningObjectTable(0, &rot);
  if (SUCCEEDED(hr)) hr = rot->Revoke(cookie_);
  registered_ = false;
  cookie_ = 0;
  return hr;
}

}  // namespace tav
