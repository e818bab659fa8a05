// Reference counting and the library's live-object count for the objects of the graph
// library (graph manager, mapper, clock, capture builder, monikers, enumerators).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "media/contract/comptr.h"

namespace tav::graph {

// Objects and server locks alive in this library; DllCanUnloadNow answers S_OK at zero.
extern std::atomic<long> gLiveObjects;

// Counts itself in gLiveObjects for its whole life.
class LiveObject {
 public:
  LiveObject() { ++gLiveObjects; }
  LiveObject(const LiveObject&) = delete;
  LiveObject& operator=(const LiveObject&) = delete;
  virtual ~LiveObject() { --gLiveObjects; }
};

// AddRef/Release for a class with one IUnknown identity. The class implements
// QueryInterface itself and mixes this in last. The last Release deletes the object.
#define GRAPH_IMPLEMENT_REFCOUNT()                              \
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }    \
  STDMETHODIMP_(ULONG) Release() override {                     \
    ULONG r = --refs_;                                          \
    if (r == 0) delete this;                                    \
    return r;                                                   \
  }                                                             \
  std::atomic<ULONG> refs_{1}

// Hands out interface I of object o with a new reference.
template <typename I, typename T>
HRESULT GiveInterface(T* o, void** ppv) {
  *ppv = static_cast<I*>(o);
  static_cast<I*>(o)->AddRef();
  return S_OK;
}

// An enumerator over a snapshot of items (filters, monikers): IEnumFilters, IEnumMoniker.
template <typename IEnum, typename Item>
class SnapshotEnum final : public IEnum, public LiveObject {
 public:
  explicit SnapshotEnum(std::vector<ComPtr<Item>> list, size_t pos = 0) : list_(std::move(list)), pos_(pos) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == TavIidOf<IEnum>()) return GiveInterface<IEnum>(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  GRAPH_IMPLEMENT_REFCOUNT();
  STDMETHODIMP Next(ULONG count, Item** out, ULONG* fetched) override {
    if (!out) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count && pos_ < list_.size()) list_[pos_++].CopyTo(&out[n++]);
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    size_t left = list_.size() - pos_;
    pos_ += std::min<size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    pos_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnum** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) SnapshotEnum(list_, pos_);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ~SnapshotEnum() override = default;
  const std::vector<ComPtr<Item>> list_;
  size_t pos_;
};

}  // namespace tav::graph
