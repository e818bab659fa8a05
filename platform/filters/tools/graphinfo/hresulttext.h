// The text graphinfo prints for an HRESULT: its code and, where the platform knows one, its
// message ("0x80040218 (No combination of filters could be found...)").
#pragma once

#include <cstdio>
#include <string>

#include "media/contract/errortext.h"

namespace graphinfo {

inline std::string HresultText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  char text[512];
  if (AMGetErrorTextA(hr, text, sizeof text) == 0) return code;
  std::string t = text;
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r' || t.back() == ' ' || t.back() == '.')) t.pop_back();
  return std::string(code) + " (" + t + ")";
}

}  // namespace graphinfo
