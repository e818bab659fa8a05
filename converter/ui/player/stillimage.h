// Pictures of raw video frames for the player's still picture.
#pragma once

#include <QImage>
#include <cstddef>

#include "converter/engine/mediatype.h"

namespace tav::ui {

// The frame of an uncompressed video type (VIDEOINFOHEADER format; 32-bit BI_RGB or
// BI_BITFIELDS, or 24-bit BI_RGB; rows bottom-up for a positive height) as an image. A null
// image when the type is not one of these or the bits are shorter than the frame.
QImage FrameImage(const MediaTypeValue& type, const void* bits, size_t size);

}  // namespace tav::ui
