// Class identifiers of this library's decoders that the platform tables do not name.
#pragma once

#include "media/contract/guid.h"

// Generic decoders on libavcodec for what the named platform decoders do not take
// (H.264, H.263, MPEG-4 in MP4, AAC, AMR, AC-3, ...), found by merit.
TAV_DEFINE_GUID(CLSID_AvVideoDecoder, 0x3C1F0E2A, 0x5B7D, 0x4E61, 0x9A, 0x48, 0x2D, 0x6E, 0x81, 0xC4, 0x3F, 0x57);
TAV_DEFINE_GUID(CLSID_AvAudioDecoder, 0x3C1F0E2B, 0x5B7D, 0x4E61, 0x9A, 0x48, 0x2D, 0x6E, 0x81, 0xC4, 0x3F, 0x57);
