// Reading the bitmap header out of a video type's format block, whichever of the video
// header forms the block holds.
#pragma once

#include "media/contract/mediatypes.h"

// MPEG-2 video: the second header form, then the sequence header.
struct MPEG2VIDEOINFO {
  VIDEOINFOHEADER2 hdr;
  DWORD dwStartTimeCode;
  DWORD cbSequenceHeader;
  DWORD dwProfile;
  DWORD dwLevel;
  DWORD dwFlags;
  DWORD dwSequenceHeader[1];
};

// The bitmap header in a video type's format block: VIDEOINFOHEADER, VIDEOINFOHEADER2, and
// MPEG1VIDEOINFO / MPEG2VIDEOINFO, which begin with one of those two; with the frame time
// when avgTimePerFrame is given. Null for any other format, a missing block, or a block
// shorter than the header its format names (the block comes from another filter).
inline const BITMAPINFOHEADER* VideoBitmapHeader(const AM_MEDIA_TYPE& mt, REFERENCE_TIME* avgTimePerFrame = nullptr) {
  if (!mt.pbFormat) return nullptr;
  if ((mt.formattype == FORMAT_VideoInfo || mt.formattype == FORMAT_MPEGVideo) &&
      mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    if (avgTimePerFrame) *avgTimePerFrame = vih->AvgTimePerFrame;
    return &vih->bmiHeader;
  }
  if ((mt.formattype == FORMAT_VideoInfo2 || mt.formattype == FORMAT_MPEG2Video) &&
      mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
    if (avgTimePerFrame) *avgTimePerFrame = vih->AvgTimePerFrame;
    return &vih->bmiHeader;
  }
  return nullptr;
}
// The same header, to be rewritten in place.
inline BITMAPINFOHEADER* MutableVideoBitmapHeader(AM_MEDIA_TYPE& mt) {
  return const_cast<BITMAPINFOHEADER*>(VideoBitmapHeader(static_cast<const AM_MEDIA_TYPE&>(mt)));
}
