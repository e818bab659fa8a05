// SubtypeShim's public interface: the class identifier of its one filter. The converter never
// creates it by name; the filter mapper finds it by its registered input types.
#pragma once

#include "media/contract/guid.h"

// "VXCMN Subtype Adapter Filter": relabels MPEG-4 version 3 family video as MP43.
TAV_DEFINE_GUID(CLSID_SubtypeAdapter, 0x984915EF, 0x58E5, 0x4529, 0xB6, 0x7A, 0x5C, 0x71, 0xE5, 0x9A, 0x38, 0xDC);
