// A bottom-up DIB in memory for the scaler tests: its pixels, rows and header, and views of it
// for the stretch functions.
#pragma once

#include <cstring>
#include <vector>

#include "libs/vxvideokit/nearestresize.h"

namespace vktest {

struct Image {
  LONG width, height;
  WORD bits;
  std::vector<BYTE> data;
  Image(LONG w, LONG h, WORD b, BYTE fill = 0)
      : width(w), height(h), bits(b), data(size_t(DibStride(w, b)) * h, fill) {}
  LONG Stride() const { return LONG(DibStride(width, bits)); }
  BYTE* Pixel(LONG x, LONG y) { return data.data() + size_t(Stride()) * y + size_t(x) * bits / 8; }
  BYTE* Row(LONG y) { return data.data() + size_t(Stride()) * y; }
  vxvk::ImageView View() const { return {data.data(), data.size(), width, height, bits}; }
  vxvk::MutableImageView Mutable() { return {data.data(), data.size(), width, height, bits}; }
  BITMAPINFOHEADER Header() const {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bits;
    h.biCompression = BI_RGB;
    h.biSizeImage = DWORD(data.size());
    return h;
  }
  // Every channel of pixel (x, y) set to `v` (16-bit formats take `v` per 5/6-bit channel).
  void SetGrey(LONG x, LONG y, unsigned v, bool rgb555 = true) {
    BYTE* p = Pixel(x, y);
    if (bits == 16) {
      const unsigned word = rgb555 ? (v << 10 | v << 5 | v) : (v << 11 | (v << 1 | v >> 4) << 5 | v);
      p[0] = BYTE(word);
      p[1] = BYTE(word >> 8);
    } else {
      p[0] = p[1] = p[2] = BYTE(v);
    }
  }
  // The pixel's bytes as a little-endian word.
  uint32_t Word(LONG x, LONG y) {
    uint32_t v = 0;
    std::memcpy(&v, Pixel(x, y), bits / 8);
    return v;
  }
};

}  // namespace vktest
