// The video types the filter tests offer: a VIDEOINFOHEADER or VIDEOINFOHEADER2 format block
// around a bitmap header, filled in once here; each test finishes what its filter looks at.
#pragma once

#include "media/contract/uuids.h"
#include "platform/streaming/base/mtype.h"

namespace tavtest {

// Makes mt a video type of subtype whose format block (VIDEOINFOHEADER2 when videoInfo2) holds
// avgTimePerFrame and a width x height bitmap header of bits per pixel compressed as
// compression; biSizeImage is left to the caller. Answers the bitmap header.
inline BITMAPINFOHEADER* InitVideoInfoType(CMediaType& mt, const GUID& subtype, LONG width, LONG height, WORD bits,
                                           DWORD compression, REFERENCE_TIME avgTimePerFrame, bool videoInfo2) {
  mt.InitMediaType();
  mt.SetType(&MEDIATYPE_Video);
  mt.SetSubtype(&subtype);
  BITMAPINFOHEADER* bih = nullptr;
  if (videoInfo2) {
    mt.SetFormatType(&FORMAT_VideoInfo2);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
    vih->AvgTimePerFrame = avgTimePerFrame;
    bih = &vih->bmiHeader;
  } else {
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->AvgTimePerFrame = avgTimePerFrame;
    bih = &vih->bmiHeader;
  }
  bih->biSize = sizeof(BITMAPINFOHEADER);
  bih->biWidth = width;
  bih->biHeight = height;
  bih->biPlanes = 1;
  bih->biBitCount = bits;
  bih->biCompression = compression;
  return bih;
}

}  // namespace tavtest
