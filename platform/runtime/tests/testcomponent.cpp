// A component library for the runtime's tests, written the way a real one is: exported
// entry points, a class table, self-registration through the runtime. Its objects count
// their own references, as the runtime under test expects, so they release by hand.
#include "platform/runtime/tests/testcomponent.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "media/contract/comreg.h"

namespace {

std::atomic<LONG> liveObjects{0};
std::atomic<LONG> serverLocks{0};

class Counter final : public ITestCounter {
 public:
  Counter() { ++liveObjects; }
  ~Counter() { --liveObjects; }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITestCounter) {
      *ppv = static_cast<ITestCounter*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG r = --refs_;
    if (r == 0) delete this;
    return r;
  }
  STDMETHODIMP Add(LONG delta) override {
    value_ += delta;
    return S_OK;
  }
  STDMETHODIMP_(LONG) Value() override { return value_; }

 private:
  std::atomic<ULONG> refs_{1};
  std::atomic<LONG> value_{0};
};

// Aggregatable: the non-delegating unknown owns the count; ITestInner delegates to the
// outer object when there is one.
class Inner final : public ITestInner {
 public:
  explicit Inner(IUnknown* outer) : outer_(outer ? outer : &self_) {
    self_.owner = this;
    ++liveObjects;
  }
  ~Inner() { --liveObjects; }
  IUnknown* NonDelegating() { return &self_; }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return outer_->QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }
  STDMETHODIMP Outer(IUnknown** outer) override {
    if (!outer) return E_POINTER;
    *outer = outer_ == &self_ ? nullptr : outer_;
    return S_OK;
  }

 private:
  struct Self final : IUnknown {
    Inner* owner = nullptr;
    std::atomic<ULONG> refs{1};
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
      if (!ppv) return E_POINTER;
      if (riid == IID_IUnknown) {
        *ppv = static_cast<IUnknown*>(this);
      } else if (riid == IID_ITestInner) {
        *ppv = static_cast<ITestInner*>(owner);
      } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
      }
      static_cast<IUnknown*>(*ppv)->AddRef();
      return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override {
      const ULONG r = --refs;
      if (r == 0) delete owner;
      return r;
    }
  };
  Self self_;
  IUnknown* outer_;
};

using Creator = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

HRESULT CreateCounter(IUnknown* outer, REFIID riid, void** ppv) {
  if (outer) return CLASS_E_NOAGGREGATION;
  auto* c = new (std::nothrow) Counter;
  if (!c) return E_OUTOFMEMORY;
  const HRESULT hr = c->QueryInterface(riid, ppv);
  c->Release();
  return hr;
}

HRESULT CreateInner(IUnknown* outer, REFIID riid, void** ppv) {
  if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;  // the rule of aggregation
  auto* inner = new (std::nothrow) Inner(outer);
  if (!inner) return E_OUTOFMEMORY;
  const HRESULT hr = inner->NonDelegating()->QueryInterface(riid, ppv);
  inner->NonDelegating()->Release();
  return hr;
}

class Factory final : public IClassFactory {
 public:
  explicit Factory(Creator create) : create_(create) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // Static objects: their references do not keep the library loaded.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return create_(outer, riid, ppv);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    lock ? ++serverLocks : --serverLocks;
    return S_OK;
  }

 private:
  Creator create_;
};

struct ClassEntry {
  const CLSID* clsid;
  const char* name;
  Factory* factory;
};
Factory counterFactory(CreateCounter);
Factory innerFactory(CreateInner);
const ClassEntry kClasses[] = {
    {&CLSID_TestCounter, "Test Counter", &counterFactory},
    {&CLSID_TestInner, "Test Inner", &innerFactory},
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) LONG TestComponentLiveObjects() { return liveObjects; }

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (const ClassEntry& e : kClasses) {
    if (*e.clsid == clsid) return e.factory->QueryInterface(riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  // Lets tests see how a failing registration is reported.
  if (std::getenv("TAVTEST_FAIL_REGISTRATION")) return SELFREG_E_CLASS;
  const std::string path = tav::ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer));
  for (const ClassEntry& e : kClasses) {
    const HRESULT hr = tav::RegisterInprocServer(*e.clsid, e.name, path.c_str(), "Both");
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

__attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
  HRESULT result = S_OK;
  for (const ClassEntry& e : kClasses) {
    const HRESULT hr = tav::UnregisterInprocServer(*e.clsid);
    if (FAILED(hr)) result = hr;
  }
  return result;
}

}  // extern "C"
