// "VXCMN Resizer Properties": the process-wide interlace mode registry. It maps a source
// file name and a time range to a field mode and a prepass type, which the bilinear video
// resizer looks up for every frame; the resizer finds its file by walking the graph upstream
// to the source filter (FindUpstreamSource).
//
// One instance per process: creating the class while an instance is alive yields that
// instance; once the last reference goes, the next creation makes a new, empty one.
// The entry list has a lock of its own: the application may set modes while a resizer
// looks them up on its streaming thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "libs/vxvideokit/vxvideokit.h"
#include "platform/streaming/base/combase.h"
#include "platform/streaming/base/dllsetup.h"

struct IFileSourceFilter;

class CResizerProperties final : public CUnknown, public IInterlaceModeRegistry {
 public:
  // Class factory entry: the live instance, or a new one. Aggregation is refused.
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
  // The live instance (or a new one) with a reference for the caller; for the filters of
  // this library, which hold it for their lifetime.
  static HRESULT Acquire(IInterlaceModeRegistry** registry);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  // The last release clears the process-wide instance under the instance lock, so that no
  // creation hands out an object that is being deleted.
  ULONG NonDelegatingRelease() override;

  // IInterlaceModeRegistry
  STDMETHODIMP Clear() override;
  STDMETHODIMP SetMode(LPCWSTR file, REFERENCE_TIME start, REFERENCE_TIME stop, int fieldMode,
                       int prepassType) override;
  STDMETHODIMP IsEmpty(BOOL* empty) override;
  STDMETHODIMP Lookup(LPCWSTR file, REFERENCE_TIME time, int* fieldMode, int* prepassType) override;
  STDMETHODIMP LookupByFilter(IBaseFilter* filter, REFERENCE_TIME time, int* fieldMode, int* prepassType) override;
  STDMETHODIMP GetSourceFileName(IBaseFilter* filter, LPOLESTR* name) override;

 private:
  CResizerProperties();
  ~CResizerProperties() override;

  struct Entry {
    std::u16string file;
    REFERENCE_TIME start = -1;
    REFERENCE_TIME stop = -1;  // start and stop both -1: the whole file
    int fieldMode = 0;
    int prepassType = 0;
  };
  // Guards m_entries: the methods are called from the application's and streaming threads.
  std::mutex m_entriesLock;
  std::vector<Entry> m_entries;  // guarded by m_entriesLock; insertion order, first match wins
};

// Walks upstream from `filter` to the first filter that answers IFileSourceFilter: the filter
// itself, else depth first through the filters connected to its input pins, in pin order.
// S_OK with the source, S_FALSE when there is none; an unconnected pin is skipped and any
// other failure ends the search with that result.
HRESULT FindUpstreamSource(IBaseFilter* filter, IFileSourceFilter** source);
