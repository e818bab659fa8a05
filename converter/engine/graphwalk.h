// Walking a built graph: its filters, a filter's pins, the types a pin offers, the filter a
// pin belongs to, and the FOURCC subtypes the builder and the run tell apart. Every
// interface handed out is counted and let go by its ComPtr.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "media/contract/comptr.h"
#include "media/contract/mediatypeptr.h"
#include "media/contract/strmif.h"

namespace tav {

// Everything an enumerator hands out, in its order.
template <class Item, class Enumerator>
std::vector<ComPtr<Item>> Enumerated(const ComPtr<Enumerator>& e) {
  std::vector<ComPtr<Item>> out;
  ComPtr<Item> item;
  while (e && e->Next(1, item.ReleaseAndGetAddressOf(), nullptr) == S_OK) out.push_back(item);
  return out;
}

// The filters of a graph, in the graph's order; none for a null graph.
inline std::vector<ComPtr<IBaseFilter>> FiltersOf(IFilterGraph* graph) {
  ComPtr<IEnumFilters> e;
  if (!graph || FAILED(graph->EnumFilters(&e))) return {};
  return Enumerated<IBaseFilter>(e);
}

// A filter's pins, in the filter's order.
inline std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
  ComPtr<IEnumPins> e;
  if (!filter || FAILED(filter->EnumPins(&e))) return {};
  return Enumerated<IPin>(e);
}

// Those of one direction.
inline std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter, PIN_DIRECTION dir) {
  std::vector<ComPtr<IPin>> out;
  for (ComPtr<IPin>& pin : PinsOf(filter)) {
    PIN_DIRECTION d{};
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == dir) out.push_back(pin);
  }
  return out;
}

// The first pin of a filter in one direction, or null.
inline ComPtr<IPin> FirstPinOf(IBaseFilter* filter, PIN_DIRECTION dir) {
  std::vector<ComPtr<IPin>> pins = PinsOf(filter, dir);
  return pins.empty() ? nullptr : pins.front();
}

// The name a filter was given in its graph.
inline std::u16string FilterName(IBaseFilter* filter) {
  FILTER_INFO info{};
  if (!filter || FAILED(filter->QueryFilterInfo(&info))) return {};
  if (info.pGraph) info.pGraph->Release();  // QueryFilterInfo hands out a reference
  return info.achName;
}

// The filter a pin belongs to, or null.
inline ComPtr<IBaseFilter> OwnerOf(IPin* pin) {
  PIN_INFO info{};
  if (!pin || FAILED(pin->QueryPinInfo(&info))) return nullptr;
  ComPtr<IBaseFilter> owner;
  owner.Attach(info.pFilter);  // QueryPinInfo hands out a reference
  return owner;
}

inline bool IsConnected(IPin* pin) {
  ComPtr<IPin> other;
  return pin && SUCCEEDED(pin->ConnectedTo(&other)) && other;
}

// The media types a pin offers, in its order; types holds views of them, valid while this
// object lives.
class PinTypes {
 public:
  explicit PinTypes(IPin* pin) {
    ComPtr<IEnumMediaTypes> e;
    if (!pin || FAILED(pin->EnumMediaTypes(&e)) || !e) return;
    MediaTypePtr mt;
    while (e->Next(1, mt.Out(), nullptr) == S_OK && mt) {
      types.push_back(mt.Get());
      owned_.push_back(std::move(mt));
    }
  }

  std::vector<AM_MEDIA_TYPE*> types;

 private:
  std::vector<MediaTypePtr> owned_;
};

// Whether subtype is the FOURCC subtype of one of the codes (four characters each; the
// case matters, as in the files).
inline bool IsFourcc(const GUID& subtype, std::initializer_list<const char*> codes) {
  for (const char* c : codes)
    if (subtype == FourccSubtype(MAKEFOURCC(c[0], c[1], c[2], c[3]))) return true;
  return false;
}

// MPEG-4 video of the DivX family, which the outside DivX decoder takes when it is there.
inline bool IsDivxFamily(const GUID& subtype) {
  return IsFourcc(subtype, {"DIVX", "divx", "DX50", "dx50", "XVID", "xvid", "mp4v"});
}

}  // namespace tav
