#include "converter/tools/probe/pngfile.h"

#include <cairo.h>

#include <cstring>

namespace probe {

bool WritePng(const std::string& path, int width, int height, const uint32_t* pixels) {
  if (width <= 0 || height <= 0 || !pixels) return false;
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(image);
    return false;
  }
  cairo_surface_flush(image);
  unsigned char* out = cairo_image_surface_get_data(image);
  const size_t outStride = size_t(cairo_image_surface_get_stride(image));
  // Cairo's RGB24 is the same native 0x00RRGGBB word a pixel.
  for (int y = 0; y < height; ++y)
    std::memcpy(out + size_t(y) * outStride, pixels + size_t(y) * size_t(width), size_t(width) * 4);
  cairo_surface_mark_dirty(image);
  const bool ok = cairo_surface_write_to_png(image, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(image);
  return ok;
}

}  // namespace probe
