// Texts for result codes, and readable names for media-type, subtype and format
// identifiers and wave format tags (used by the batch entries' status texts).
#pragma once

#include <string>

#include "media/contract/guid.h"

// Copies the text for hr into buf (at most maxLen characters with the terminator) and
// returns the characters written; 0 when there is no text for hr.
DWORD AMGetErrorTextA(HRESULT hr, LPSTR buf, DWORD maxLen);

namespace tav {
// "MEDIASUBTYPE_RGB24", "FORMAT_VideoInfo", ...; empty when unknown.
std::string GuidName(const GUID& g);
// Name of a wave format tag ("WAVE_FORMAT_PCM", "WAVE_FORMAT_MPEGLAYER3"); empty when unknown.
std::string WaveFormatTagName(WORD tag);
}  // namespace tav
