// Filters made known to the filter mapper by the tests that have the mapper pick them.
#pragma once

#include "media/contract/strmif.h"
#include "media/contract/uuids.h"

namespace tavtest {

// Registers clsid with the mapper under name as a filter with one video input of subtype in
// and one video output of subtype out, at merit.
inline HRESULT RegisterVideoFilter(IFilterMapper2* mapper, const CLSID& clsid, const char16_t* name, const GUID& in,
                                   const GUID& out, DWORD merit) {
  REGPINTYPES inType{&MEDIATYPE_Video, &in}, outType{&MEDIATYPE_Video, &out};
  REGFILTERPINS2 pins[2] = {{0, 1, 1, &inType, 0, nullptr, nullptr},
                            {REG_PINFLAG_B_OUTPUT, 1, 1, &outType, 0, nullptr, nullptr}};
  REGFILTER2 rf{};
  rf.dwVersion = 2;
  rf.dwMerit = merit;
  rf.cPins2 = 2;
  rf.rgPins2 = pins;
  return mapper->RegisterFilter(clsid, name, nullptr, nullptr, nullptr, &rf);
}

}  // namespace tavtest
