// The library's entry points: class objects for its classes, the unload test, and
// self-registration (class keys and the mapper's legacy filter category).
#include <dlfcn.h>

#include <cstdlib>
#include <new>

#include "media/contract/com.h"
#include "media/contract/uuids.h"
#include "platform/streaming/graph/capturegraphbuilder.h"
#include "platform/streaming/graph/filtergraph.h"
#include "platform/streaming/graph/filtermapper.h"
#include "platform/streaming/graph/regkey.h"
#include "platform/streaming/graph/systemclock.h"

#define GRAPH_EXPORT extern "C" __attribute__((visibility("default")))

namespace tav::graph {

std::atomic<long> gLiveObjects{0};

namespace {

using CreateFn = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

struct ClassEntry {
  const CLSID* clsid;
  const char* name;
  CreateFn create;
};

// The library's classes, sorted by name.
const ClassEntry kClasses[] = {
    {&CLSID_CaptureGraphBuilder2, "Capture Graph Builder 2", &CaptureGraphBuilder::Create},
    {&CLSID_FilterGraph, "Filter Graph", &FilterGraph::Create},
    {&CLSID_FilterGraphNoThread, "Filter Graph no thread", &FilterGraph::Create},
    {&CLSID_FilterMapper2, "Filter Mapper2", &FilterMapper::Create},
    {&CLSID_SystemClock, "System Clock", &SystemClock::Create},
};

class ClassFactory final : public IClassFactory, public LiveObject {
 public:
  explicit ClassFactory(CreateFn create) : create_(create) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) return GiveInterface<IClassFactory>(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  GRAPH_IMPLEMENT_REFCOUNT();
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override { return create_(outer, riid, ppv); }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      ++gLiveObjects;
    else
      --gLiveObjects;
    return S_OK;
  }

 private:
  ~ClassFactory() override = default;
  const CreateFn create_;
};

std::string OwnPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&OwnPath), &info) && info.dli_fname) return info.dli_fname;
  return {};
}

}  // namespace
}  // namespace tav::graph

using namespace tav::graph;

GRAPH_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (const ClassEntry& c : kClasses) {
    if (*c.clsid != clsid) continue;
    auto* f = new (std::nothrow) ClassFactory(c.create);
    if (!f) return E_OUTOFMEMORY;
    // The new object's first reference is this function's; the caller gets one of its own.
    const auto owned = ComPtr<IClassFactory>::Adopt(f);
    return f->QueryInterface(riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

GRAPH_EXPORT HRESULT DllCanUnloadNow() { return gLiveObjects.load() == 0 ? S_OK : S_FALSE; }

GRAPH_EXPORT HRESULT DllRegisterServer() {
  std::string path = OwnPath();
  if (path.empty()) return E_FAIL;
  for (const ClassEntry& c : kClasses) {
    std::string key = "CLSID\\" + tav::GuidToString(*c.clsid);
    RegKey k, server;
    if (!k.Create(HKEY_CLASSES_ROOT, key) || !server.Create(HKEY_CLASSES_ROOT, key + "\\InprocServer32"))
      return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    LSTATUS st = k.SetString("", c.name);
    if (st == ERROR_SUCCESS) st = server.SetString("", path);
    if (st == ERROR_SUCCESS) st = server.SetString("ThreadingModel", "Both");
    if (st != ERROR_SUCCESS) return HRESULT_FROM_WIN32(st);
  }
  // The category every filter registered without one lands in.
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = FilterMapper::Create(nullptr, IID_IFilterMapper2, mapper.AsVoidOut());
  if (FAILED(hr)) return hr;
  return mapper->CreateCategory(CLSID_LegacyAmFilterCategory, MERIT_NORMAL, u"Legacy filters");
}

GRAPH_EXPORT HRESULT DllUnregisterServer() {
  for (const ClassEntry& c : kClasses)
    RegDeleteTree(HKEY_CLASSES_ROOT, ("CLSID\\" + tav::GuidToString(*c.clsid)).c_str());
  return S_OK;
}
