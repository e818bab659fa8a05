// What tests read from windows of the platform's window layer: the pixels and size of a
// window's drawing surface (tav::SetWindowSurface) as 0x00RRGGBB, top row first, whichever way
// up the surface is stored, and a window procedure for the owner windows they make.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "media/contract/window.h"
#include "media/contract/wingdi.h"

namespace tavtest {

// For a test's own windows (owners of a renderer's window): every message is ignored.
inline LRESULT IgnoreMessages(HWND, UINT, WPARAM, LPARAM) { return 0; }

// The pixel (x, y) of a 32-bit section, top row first.
inline uint32_t SectionPixel(const DIBSECTION& ds, int x, int y) {
  const int row = ds.dsBmih.biHeight > 0 ? ds.dsBm.bmHeight - 1 - y : y;
  uint32_t p = 0;
  std::memcpy(&p, static_cast<const BYTE*>(ds.dsBm.bmBits) + row * ds.dsBm.bmWidthBytes + x * 4, 4);
  return p & 0xFFFFFF;
}

// The window's surface; false when it has none.
inline bool WindowSection(HWND hwnd, DIBSECTION* ds) {
  return GetObject(tav::GetWindowSurface(hwnd), sizeof *ds, ds) == int(sizeof *ds);
}

// The pixel (x, y) of the window's surface; 0xFFFFFFFF when it has none.
inline uint32_t SurfacePixel(HWND hwnd, int x, int y) {
  DIBSECTION ds{};
  return WindowSection(hwnd, &ds) ? SectionPixel(ds, x, y) : 0xFFFFFFFF;
}

// Every pixel of the window's surface, row after row; empty when it has none.
inline std::vector<uint32_t> SurfacePixels(HWND hwnd) {
  std::vector<uint32_t> out;
  DIBSECTION ds{};
  if (!WindowSection(hwnd, &ds)) return out;
  for (int y = 0; y < ds.dsBm.bmHeight; ++y)
    for (int x = 0; x < ds.dsBm.bmWidth; ++x) out.push_back(SectionPixel(ds, x, y));
  return out;
}

// The size of a window's drawing surface (0 x 0 without one).
inline SIZE SurfaceSize(HWND hwnd) {
  BITMAP bm{};
  GetObject(tav::GetWindowSurface(hwnd), sizeof bm, &bm);
  return SIZE{bm.bmWidth, bm.bmHeight};
}

}  // namespace tavtest
