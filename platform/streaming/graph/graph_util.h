// Small helpers over pins, filters and media types shared by the graph's files.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "media/contract/com.h"
#include "media/contract/mediatypeptr.h"
#include "media/contract/strmif.h"

namespace tav::graph {

inline PIN_DIRECTION DirectionOf(IPin* pin) {
  PIN_DIRECTION d = PINDIR_INPUT;
  pin->QueryDirection(&d);
  return d;
}

inline ComPtr<IBaseFilter> OwnerOf(IPin* pin) {
  PIN_INFO info{};
  if (FAILED(pin->QueryPinInfo(&info))) return nullptr;
  return ComPtr<IBaseFilter>::Adopt(info.pFilter);
}

inline std::u16string PinName(IPin* pin) {
  PIN_INFO info{};
  if (FAILED(pin->QueryPinInfo(&info))) return u"";
  const auto owner = ComPtr<IBaseFilter>::Adopt(info.pFilter);  // the reference the call handed out
  return info.achName;
}

inline std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> e;
  if (FAILED(filter->EnumPins(&e)) || !e) return pins;
  IPin* p = nullptr;
  while (e->Next(1, &p, nullptr) == S_OK) pins.push_back(ComPtr<IPin>::Adopt(p));
  return pins;
}

inline std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter, PIN_DIRECTION dir) {
  std::vector<ComPtr<IPin>> out;
  for (auto& p : PinsOf(filter))
    if (DirectionOf(p.Get()) == dir) out.push_back(p);
  return out;
}

inline ComPtr<IPin> PeerOf(IPin* pin) {
  ComPtr<IPin> peer;
  if (FAILED(pin->ConnectedTo(&peer))) return nullptr;
  return peer;
}

inline std::vector<MediaTypePtr> TypesOf(IPin* pin) {
  std::vector<MediaTypePtr> types;
  ComPtr<IEnumMediaTypes> e;
  if (FAILED(pin->EnumMediaTypes(&e)) || !e) return types;
  MediaTypePtr mt;
  while (e->Next(1, mt.Out(), nullptr) == S_OK) types.push_back(std::move(mt));
  return types;
}

inline CLSID ClassOf(IBaseFilter* filter) {
  CLSID c = GUID_NULL;
  if (filter) filter->GetClassID(&c);
  return c;
}

}  // namespace tav::graph
