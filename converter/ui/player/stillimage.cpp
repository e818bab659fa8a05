#include "converter/ui/player/stillimage.h"
#include "media/contract/mediatypes.h"

#include <cstdlib>

namespace tav::ui {

QImage FrameImage(const MediaTypeValue& type, const void* bits, size_t size) {
  if (!bits || type.formattype != FORMAT_VideoInfo) return QImage();
  const VIDEOINFOHEADER* info = type.FormatAs<VIDEOINFOHEADER>();
  if (!info) return QImage();
  const BITMAPINFOHEADER& header = info->bmiHeader;
  const long long width = header.biWidth, height = std::llabs(header.biHeight);
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return QImage();
  QImage::Format format;
  if (header.biBitCount == 32 && (header.biCompression == BI_RGB || header.biCompression == BI_BITFIELDS))
    format = QImage::Format_RGB32;  // B, G, R, X in memory, as Qt keeps 0xffRRGGBB
  else if (header.biBitCount == 24 && header.biCompression == BI_RGB)
    format = QImage::Format_BGR888;
  else
    return QImage();
  const long long stride = DibStride(width, header.biBitCount);
  if (size < size_t(stride * height)) return QImage();
  const QImage view(static_cast<const uchar*>(bits), int(width), int(height), qsizetype(stride), format);
  QImage image = view.convertToFormat(QImage::Format_RGB32);  // a deep copy
  // A positive height stores the bottom row first.
  if (header.biHeight > 0) image.mirror(false, true);
  return image;
}

}  // namespace tav::ui
