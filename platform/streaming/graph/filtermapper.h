// The filter mapper: filters registered under their category's "Instance" key with a
// friendly name, their class identifier and their filter data; matching by pins, media
// types and merit; monikers that read the registration and create the filter.
//
// Registry layout (classes root):
//   CLSID\{category}\Instance\{instance}   FriendlyName, CLSID, FilterData
//   CLSID\{ActiveMovieCategories}\Instance\{category}   FriendlyName, CLSID, Merit
//   DirectShow\MediaObjects\{dmo}           (default) name, InputTypes, OutputTypes
//   DirectShow\MediaObjects\Categories\{category}\{dmo}
#pragma once

#include <string>
#include <vector>

#include "media/contract/strmif.h"
#include "platform/streaming/graph/filterdata.h"
#include "platform/streaming/graph/graph_object.h"

namespace tav::graph {

// One registered filter as the mapper sees it.
struct FilterEntry {
  CLSID clsid{};
  CLSID category{};
  std::u16string name;
  FilterData data;
  std::string keyPath;  // the instance key; empty for a decoder object (DMO)
  bool isDmo = false;
};

// Merit given to decoder objects found through their category, which carry none.
constexpr DWORD kDmoMerit = MERIT_NORMAL + 0x800;

// Every filter of the categories the mapper searches (the legacy category and each
// category above MERIT_DO_NOT_USE), then the decoder objects of the decoder categories.
std::vector<FilterEntry> ReadRegisteredFilters();

// A moniker for one entry.
ComPtr<IMoniker> MakeFilterMoniker(const FilterEntry& entry);

class FilterMapper final : public IFilterMapper2, public LiveObject {
 public:
  static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  GRAPH_IMPLEMENT_REFCOUNT();

  STDMETHODIMP CreateCategory(REFCLSID category, DWORD merit, LPCWSTR description) override;
  STDMETHODIMP UnregisterFilter(const CLSID* category, LPCOLESTR instance, REFCLSID filter) override;
  STDMETHODIMP RegisterFilter(REFCLSID filter, LPCWSTR name, IMoniker** moniker, const CLSID* category,
                              LPCOLESTR instance, const REGFILTER2* data) override;
  STDMETHODIMP EnumMatchingFilters(IEnumMoniker** out, DWORD flags, BOOL exactMatch, DWORD minMerit,
                                   BOOL inputNeeded, DWORD inputTypeCount, const GUID* inputTypes,
                                   const REGPINMEDIUM* inputMedium, const CLSID* inputPinCategory, BOOL render,
                                   BOOL outputNeeded, DWORD outputTypeCount, const GUID* outputTypes,
                                   const REGPINMEDIUM* outputMedium, const CLSID* outputPinCategory) override;

 private:
  FilterMapper() = default;
  ~FilterMapper() override = default;
};

// Enumerates a fixed list of monikers.
ComPtr<IEnumMoniker> MakeMonikerEnum(std::vector<ComPtr<IMoniker>> monikers);

}  // namespace tav::graph
