// Class identifiers and media types of the test filters.
#pragma once

#include <new>

#include "platform/streaming/base/streams.h"

namespace tavtest {

TAV_DEFINE_GUID(CLSID_TestPushSource, 0x7A1E0001, 0x5C3B, 0x4E21, 0x9D, 0x11, 0x54, 0x41, 0x56, 0x54, 0x53, 0x01);
TAV_DEFINE_GUID(CLSID_TestPullSource, 0x7A1E0002, 0x5C3B, 0x4E21, 0x9D, 0x11, 0x54, 0x41, 0x56, 0x54, 0x53, 0x02);
TAV_DEFINE_GUID(CLSID_TestTransform, 0x7A1E0003, 0x5C3B, 0x4E21, 0x9D, 0x11, 0x54, 0x41, 0x56, 0x54, 0x53, 0x03);
TAV_DEFINE_GUID(CLSID_TestInPlace, 0x7A1E0004, 0x5C3B, 0x4E21, 0x9D, 0x11, 0x54, 0x41, 0x56, 0x54, 0x53, 0x04);
TAV_DEFINE_GUID(CLSID_TestRenderer, 0x7A1E0005, 0x5C3B, 0x4E21, 0x9D, 0x11, 0x54, 0x41, 0x56, 0x54, 0x53, 0x05);

// An uncompressed video type (RGB24 or RGB32, bottom-up), VIDEOINFOHEADER format.
CMediaType MakeVideoType(const GUID& subtype, LONG width, LONG height, REFERENCE_TIME frameDuration);

// The frame number a test source writes into the first four bytes of each frame.
DWORD FrameNumberOf(IMediaSample* sample);

// The two ways a test filter, built as Filter(outer, config, phr), is made: Create gives a
// test a new filter with one reference in out (the returned pointer lives as long as out
// holds it); CreateInstance is the class table's entry, with the default configuration.
template <class Filter>
struct TestFilterMaker {
  // (F defers the lookup of Filter::Config to the call, when Filter is complete.)
  template <class F = Filter, class Config = typename F::Config>
  static Filter* Create(const Config& config, ComPtr<IBaseFilter>& out) {
    HRESULT hr = S_OK;
    auto* f = new Filter(nullptr, config, &hr);
    out = static_cast<IBaseFilter*>(f);
    return f;
  }
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
    return new (std::nothrow) Filter(outer, typename Filter::Config{}, phr);
  }
};

}  // namespace tavtest
