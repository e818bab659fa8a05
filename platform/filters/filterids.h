// Class identifiers of this library's filters that the platform tables do not name
// (the others come from media/contract/uuids.h).
#pragma once

#include "media/contract/guid.h"

// Source for MP4, QuickTime and 3GP / 3G2 movies, found by extension.
TAV_DEFINE_GUID(CLSID_Mpeg4FileSource, 0x6F1E3A52, 0x7C4B, 0x4D8E, 0x9A, 0x21, 0x3B, 0x5C, 0x7D, 0x9E, 0x0F, 0x14);
// Source for the other containers FFmpeg reads (Matroska / WebM, MPEG transport streams,
// Flash video), found by extension; the container is recognised by its content.
TAV_DEFINE_GUID(CLSID_AvFileSource, 0x3D5E7F91, 0x2A4C, 0x4B6E, 0x8D, 0x0F, 0x21, 0x43, 0x65, 0x87, 0xA9, 0xCB);
// Source for MPEG program streams that the MPEG-1 splitter does not take.
TAV_DEFINE_GUID(CLSID_MpegProgramSource, 0x8A2B4C6D, 0x1E3F, 0x4A5B, 0x8C, 0x7D, 0x9E, 0x0F, 0x1A, 0x2B, 0x3C, 0x4D);
