// The shared filter harness set up for driving the subtype adapter in a graph, and the
// compressed video types its tests use.
#pragma once

#include <vector>

#include "media/contract/uuids.h"
#include "platform/streaming/base/mtype.h"
#include "tests/support/filterharness.h"
#include "tests/support/testenv.h"
#include "tests/support/videotype.h"

namespace shimtest {

using namespace tavtest;  // NOLINT: the harness's names are the tests' own

// A compressed video type: a VIDEOINFOHEADER (or VIDEOINFOHEADER2) whose compression is code.
inline CMediaType VideoType(FOURCC code, LONG width, LONG height, bool videoInfo2 = false) {
  CMediaType mt;
  BITMAPINFOHEADER* bih = InitVideoInfoType(mt, FourccSubtype(code), width, height, 24, code, 400000, videoInfo2);
  mt.SetVariableSize();
  mt.SetTemporalCompression(TRUE);
  if (videoInfo2) {
    auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(mt.pbFormat);
    vih->dwPictAspectRatioX = 4;
    vih->dwPictAspectRatioY = 3;
  } else {
    reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->dwBitRate = 123456;
  }
  bih->biSizeImage = DWORD(width * height * 3);
  return mt;
}

inline FOURCC CompressionOf(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype == FORMAT_VideoInfo)
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biCompression;
  if (mt.formattype == FORMAT_VideoInfo2)
    return reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader.biCompression;
  return 0;
}

// The shared harness's source, which the adapter's tests give room for compressed frames.
class Source final : public tavtest::TestSource {
 public:
  explicit Source(std::vector<CMediaType> offered) : TestSource(std::move(offered)) {
    minBuffers = 3;
    minBufferBytes = 4096;
  }
};

// The shared harness's sink, taking only video labelled MP43 unless told otherwise.
class Sink final : public tavtest::TestSink {
 public:
  Sink() {
    accept = [](const CMediaType& mt) { return mt.majortype == MEDIATYPE_Video && mt.subtype == MEDIASUBTYPE_MP43; };
  }
};

}  // namespace shimtest
