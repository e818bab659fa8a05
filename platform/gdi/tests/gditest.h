// Helpers shared by the drawing-library tests.
#pragma once

#include <cstring>

#include "media/contract/mediatypes.h"
#include "media/contract/wingdi.h"

namespace gditest {

// A section bitmap of the given depth; for 16 bits, masks565 selects 5-6-5 bit fields.
inline HBITMAP MakeSection(int width, int height, int bits, void** pixels, bool masks565 = false) {
  struct {
    BITMAPINFOHEADER h;
    DWORD masks[3];
  } info{};
  info.h.biSize = sizeof(BITMAPINFOHEADER);
  info.h.biWidth = width;
  info.h.biHeight = height;
  info.h.biPlanes = 1;
  info.h.biBitCount = WORD(bits);
  info.h.biCompression = BI_RGB;
  if (masks565) {
    info.h.biCompression = BI_BITFIELDS;
    info.masks[0] = 0xF800, info.masks[1] = 0x7E0, info.masks[2] = 0x1F;
  }
  return CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, pixels, nullptr, 0);
}

// A memory context with a fresh 32-bit section selected.
struct Canvas {
  Canvas(int w, int h, int bits = 32, bool masks565 = false) : width(w), height(h < 0 ? -h : h) {
    dc = CreateCompatibleDC(nullptr);
    bitmap = MakeSection(w, h, bits, &pixels, masks565);
    old = SelectObject(dc, bitmap);
    stride = decltype(stride)(DibStride(w, bits));
    bpp = bits / 8;
    bottomUp = h > 0;
  }
  // The canvas is the owner of its context and bitmap.
  ~Canvas() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  BYTE* At(int x, int y) const {
    const int row = bottomUp ? height - 1 - y : y;
    return static_cast<BYTE*>(pixels) + row * stride + x * bpp;
  }
  // 0x00RRGGBB for 24 and 32 bits.
  DWORD Rgb(int x, int y) const {
    const BYTE* p = At(x, y);
    return (DWORD(p[2]) << 16) | (DWORD(p[1]) << 8) | p[0];
  }
  int width, height, stride, bpp;
  bool bottomUp;
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ old;
  void* pixels = nullptr;
};

inline void Fill(HDC dc, RECT r, COLORREF c) {
  const tav::GdiObjectPtr<HBRUSH> b(CreateSolidBrush(c));
  FillRect(dc, &r, b.Get());
}

inline HFONT MakeFont(int height, const char16_t* face = u"Tahoma", int weight = FW_NORMAL) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = ANTIALIASED_QUALITY;
  for (int i = 0; face[i] && i < LF_FACESIZE - 1; ++i) lf.lfFaceName[i] = face[i];
  return CreateFontIndirectW(&lf);
}

}  // namespace gditest
