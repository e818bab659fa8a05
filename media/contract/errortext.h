// Texts for result codes, and readable names for media-type, subtype and format
// identifiers and wave format tags (used by the batch entries' status texts).
#pragma once

#include <cstdio>
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

// What a command-line tool prints for a result code: the code and, where the platform has a
// text for it, that text without its closing full stop ("0x80040218 (No combination of
// filters could be found to render the stream)").
inline std::string ResultText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  char text[512];
  if (AMGetErrorTextA(hr, text, sizeof text) == 0) return code;
  std::string t = text;
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r' || t.back() == ' ' || t.back() == '.')) t.pop_back();
  return std::string(code) + " (" + t + ")";
}
}  // namespace tav
