// Reference counting and the library's live-object count for the objects of the graph
// library (graph manager, mapper, clock, capture builder, monikers, enumerators).
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "media/contract/comptr.h"

namespace tav::graph {

// Objects and server locks alive in this library; DllCanUnloadNow answers S_OK at zero.
extern std::atomic<long> gLiveObjects;

// Trace switch for the whole library: TAVRION_TRACE_GRAPH=1.
bool TraceOn();
#define GRAPH_TRACE(...)                                         \
  do {                                                          \
    if (::tav::graph::TraceOn()) {                              \
      std::fprintf(stderr, "graph: " __VA_ARGS__);              \
      std::fputc('\n', stderr);                                 \
    }                                                           \
  } while (0)

// Counts itself in gLiveObjects for its whole life.
class LiveObject {
 public:
  LiveObject() { ++gLiveObjects; }
  LiveObject(const LiveObject&) = delete;
  LiveObject& operator=(const LiveObject&) = delete;
  virtual ~LiveObject() { --gLiveObjects; }
};

// AddRef/Release for a class with one IUnknown identity. The class implements
// QueryInterface itself and mixes this in last.
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

}  // namespace tav::graph
