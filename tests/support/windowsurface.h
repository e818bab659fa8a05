// What the renderer tests read from windows of the platform's window layer: the pixels and
// size of a window's drawing surface, and a window procedure for the owner windows they make.
#pragma once

#include <cstdint>
#include <cstring>

#include "media/contract/window.h"
#include "media/contract/wingdi.h"

namespace tavtest {

// For a test's own windows (owners of a renderer's window): every message is ignored.
inline LRESULT IgnoreMessages(HWND, UINT, WPARAM, LPARAM) { return 0; }

// The pixel of a window's drawing surface at (x, y), top row first, as 0x00RRGGBB;
// 0xFFFFFFFF when the window has no surface.
inline uint32_t SurfacePixel(HWND hwnd, int x, int y) {
  DIBSECTION ds{};
  if (GetObject(tav::GetWindowSurface(hwnd), sizeof ds, &ds) != int(sizeof ds)) return 0xFFFFFFFF;
  const int row = ds.dsBmih.biHeight > 0 ? ds.dsBm.bmHeight - 1 - y : y;
  uint32_t p = 0;
  std::memcpy(&p, static_cast<const BYTE*>(ds.dsBm.bmBits) + row * ds.dsBm.bmWidthBytes + x * 4, 4);
  return p & 0xFFFFFF;
}

// The size of a window's drawing surface (0 x 0 without one).
inline SIZE SurfaceSize(HWND hwnd) {
  BITMAP bm{};
  GetObject(tav::GetWindowSurface(hwnd), sizeof bm, &bm);
  return SIZE{bm.bmWidth, bm.bmHeight};
}

}  // namespace tavtest
