#include "tests/testfilters/testtypes.h"

#include <cstring>

namespace tavtest {

CMediaType MakeVideoType(const GUID& subtype, LONG width, LONG height, REFERENCE_TIME frameDuration) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&subtype);
  mt.SetFormatType(&FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  if (!vih) return mt;
  vih->AvgTimePerFrame = frameDuration;
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = width;
  vih->bmiHeader.biHeight = height;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = subtype == MEDIASUBTYPE_RGB24 ? 24 : 32;
  vih->bmiHeader.biCompression = BI_RGB;
  vih->bmiHeader.biSizeImage = GetBitmapSize(&vih->bmiHeader);
  SetRect(&vih->rcSource, 0, 0, width, height);
  SetRect(&vih->rcTarget, 0, 0, width, height);
  mt.SetSampleSize(vih->bmiHeader.biSizeImage);
  return mt;
}

DWORD FrameNumberOf(IMediaSample* sample) {
  BYTE* data = nullptr;
  if (!sample || FAILED(sample->GetPointer(&data)) || !data || sample->GetActualDataLength() < 4) return 0xFFFFFFFF;
  DWORD n = 0;
  std::memcpy(&n, data, 4);
  return n;
}

}  // namespace tavtest
