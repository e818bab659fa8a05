// QvfReader's public identifiers: the camera movie reader, a source filter that the platform
// finds through the ".qvf" extension (the converter never names it).
#pragma once

#include "media/contract/guid.h"

// "VXCMN Qvf Reader Filter"
TAV_DEFINE_GUID(CLSID_QvfReaderFilter, 0x1616D96D, 0x5D93, 0x43EC, 0xAC, 0x7B, 0xC2, 0xAA, 0x3B, 0x41, 0xA5, 0xF7);
