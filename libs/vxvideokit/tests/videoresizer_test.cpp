// The bilinear video resizer and the interlace mode registry: the registry's methods and
// single instance, the control interface both resizers share, and frames through a graph
// whose source file selects field-wise sampling or a prepass by time. (The search through a
// real file source and splitter is in videoresizer_source_test.cpp.)
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "libs/vxvideokit/deferredresizer.h"
#include "libs/vxvideokit/resizerproperties.h"
#include "libs/vxvideokit/tests/testgraph.h"
#include "libs/vxvideokit/videoresizer.h"

using namespace vktest;

namespace {

ComPtr<IInterlaceModeRegistry> Registry() {
  ComPtr<IInterlaceModeRegistry> r;
  EXPECT_EQ(S_OK, CResizerProperties::Acquire(&r));
  return r;
}

// A test source that names a file, as a file source filter does.
class FileTestSource final : public TestSource, public IFileSourceFilter {
 public:
  FileTestSource(const CMediaType& type, std::u16string file) : TestSource(type), m_file(std::move(file)) {}
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
    return TestSource::NonDelegatingQueryInterface(riid, ppv);
  }
  STDMETHODIMP Load(LPCOLESTR file, const AM_MEDIA_TYPE*) override {
    m_file = file;
    return S_OK;
  }
  STDMETHODIMP GetCurFile(LPOLESTR* file, AM_MEDIA_TYPE*) override {
    return AMGetWideString(m_file.c_str(), file);
  }

 private:
  std::u16string m_file;
};

// One frame of `rows` rows of `width` RGB32 pixels, each row filled by `value(row)`.
std::vector<BYTE> Frame(LONG width, LONG rows, const std::function<BYTE(LONG)>& value) {
  std::vector<BYTE> f(size_t(width) * rows * 4);
  for (LONG y = 0; y < rows; ++y)
    for (LONG x = 0; x < width; ++x) {
      BYTE* p = f.data() + (size_t(y) * width + x) * 4;
      p[0] = p[1] = p[2] = value(y);
    }
  return f;
}

BYTE At(const std::vector<BYTE>& frame, LONG width, LONG x, LONG y) { return frame[(size_t(y) * width + x) * 4]; }

// The two resizers, made directly (their IResizerControl comes from the same base).
using MakeFilter = CUnknown* (*)(LPUNKNOWN, HRESULT*);
struct ResizerKind {
  const char* name;
  MakeFilter make;
};

ComPtr<IBaseFilter> Make(MakeFilter make) {
  HRESULT hr = E_FAIL;
  CUnknown* u = make(nullptr, &hr);
  EXPECT_EQ(S_OK, hr);
  ComPtr<IBaseFilter> f;
  if (u) u->NonDelegatingQueryInterface(IID_IBaseFilter, f.AsVoidOut());
  return f;
}

class GraphTest : public GraphFixture {
 protected:
  void TearDown() override {
    resizer = nullptr;
    GraphFixture::TearDown();
  }
  // source -> resizer (output outW x outH RGB32 in `mode`) -> sink
  void Build(TestSource* src, ComPtr<IBaseFilter> filter, LONG outW, LONG outH, int mode) {
    ASSERT_TRUE(source = Add(src, u"Source"));
    resizer = std::move(filter);
    ComPtr<IResizerControl> rc = resizer.As<IResizerControl>();
    ASSERT_TRUE(rc);
    ASSERT_EQ(S_OK, rc->SetOutputType(P(Rgb32(outW, outH))));
    ASSERT_EQ(S_OK, rc->SetOutputSize(outH, outW, mode));
    ASSERT_EQ(S_OK, graph->AddFilter(resizer.Get(), u"Resizer"));
    ASSERT_TRUE(sink = Add(new TestSink, u"Sink"));
    ASSERT_EQ(S_OK, graph->Connect(source->OutPin(), PinOf(resizer.Get(), u"Input").Get()));
    ASSERT_EQ(S_OK, graph->ConnectDirect(PinOf(resizer.Get(), u"Output").Get(), sink->InPin(), nullptr));
  }
  void RunGraph() {
    ASSERT_EQ(S_OK, graph.As<IMediaControl>()->Run());
    ASSERT_EQ(S_OK, source->NewSegment());
  }

  TestSource* source = nullptr;  // owned by the graph
  TestSink* sink = nullptr;      // owned by the graph
  ComPtr<IBaseFilter> resizer;
};

}  // namespace

// ---- the registry --------------------------------------------------------------------------

TEST(vxvideokit_ResizerProperties, OneInstancePerProcessAndNoAggregation) {
  HRESULT hr = E_FAIL;
  CUnknown* a = CResizerProperties::CreateInstance(nullptr, &hr);
  ASSERT_EQ(S_OK, hr);
  ComPtr<IInterlaceModeRegistry> first;
  ASSERT_EQ(S_OK, a->NonDelegatingQueryInterface(IID_IInterlaceModeRegistry, first.AsVoidOut()));
  EXPECT_EQ(a, CResizerProperties::CreateInstance(nullptr, &hr)) << "a live instance is handed out again";
  ComPtr<IInterlaceModeRegistry> second = Registry();
  EXPECT_EQ(first.Get(), second.Get());
  ASSERT_EQ(S_OK, first->SetMode(u"a.avi", -1, -1, 2, 0));
  second = nullptr;
  first = nullptr;

  // With the last reference gone, the next creation is a new, empty registry.
  ComPtr<IInterlaceModeRegistry> fresh = Registry();
  BOOL empty = FALSE;
  ASSERT_EQ(S_OK, fresh->IsEmpty(&empty));
  EXPECT_TRUE(empty);
  fresh = nullptr;

  hr = S_OK;
  EXPECT_EQ(nullptr, CResizerProperties::CreateInstance(reinterpret_cast<LPUNKNOWN>(&hr), &hr));
  EXPECT_EQ(CLASS_E_NOAGGREGATION, hr);
  EXPECT_EQ(0, CBaseObject::ObjectsActive());
}

TEST(vxvideokit_ResizerProperties, LooksUpModesByFileAndTime) {
  ComPtr<IInterlaceModeRegistry> r = Registry();
  int field = 9, prepass = 9;
  BOOL empty = FALSE;
  EXPECT_EQ(E_POINTER, r->IsEmpty(nullptr));
  ASSERT_EQ(S_OK, r->IsEmpty(&empty));
  EXPECT_TRUE(empty);
  EXPECT_EQ(S_FALSE, r->Lookup(u"C:\\movies\\clip.avi", 0, &field, &prepass));
  EXPECT_EQ(0, field);
  EXPECT_EQ(0, prepass);
  EXPECT_EQ(E_INVALIDARG, r->SetMode(nullptr, -1, -1, 2, 1));
  EXPECT_EQ(E_INVALIDARG, r->Lookup(nullptr, 0, &field, &prepass));
  EXPECT_EQ(E_POINTER, r->Lookup(u"x", 0, nullptr, &prepass));

  ASSERT_EQ(S_OK, r->SetMode(u"C:\\Movies\\Clip.AVI", 0, 10'000'000, 2, 0));
  ASSERT_EQ(S_OK, r->SetMode(u"c:\\movies\\clip.avi", -1, -1, 0, 3));  // later: the rest of the file
  ASSERT_EQ(S_OK, r->IsEmpty(&empty));
  EXPECT_FALSE(empty);
  // The range includes both ends; names match without regard to case.
  ASSERT_EQ(S_OK, r->Lookup(u"c:\\MOVIES\\clip.avi", 10'000'000, &field, &prepass));
  EXPECT_EQ(2, field);
  EXPECT_EQ(0, prepass);
  ASSERT_EQ(S_OK, r->Lookup(u"c:\\movies\\clip.avi", 10'000'001, &field, &prepass));
  EXPECT_EQ(0, field);
  EXPECT_EQ(3, prepass) << "the whole-file entry";
  ASSERT_EQ(S_OK, r->Lookup(u"c:\\movies\\clip.avi", -5, &field, &prepass));
  EXPECT_EQ(3, prepass);
  EXPECT_EQ(S_FALSE, r->Lookup(u"c:\\movies\\clip.avi2", 0, &field, &prepass));

  // The same name and range updates the entry in place (it keeps its place in the list).
  ASSERT_EQ(S_OK, r->SetMode(u"C:\\MOVIES\\CLIP.AVI", 0, 10'000'000, 3, 1));
  ASSERT_EQ(S_OK, r->Lookup(u"c:\\movies\\clip.avi", 0, &field, &prepass));
  EXPECT_EQ(3, field);
  EXPECT_EQ(1, prepass);

  ASSERT_EQ(S_OK, r->Clear());
  ASSERT_EQ(S_OK, r->IsEmpty(&empty));
  EXPECT_TRUE(empty);
  EXPECT_EQ(S_FALSE, r->Lookup(u"c:\\movies\\clip.avi", 0, &field, &prepass));
}

// ---- both resizers: the shared control interface ----------------------------------------------

class vxvideokit_ResizerControl : public GraphTest, public ::testing::WithParamInterface<ResizerKind> {};

TEST_P(vxvideokit_ResizerControl, ConnectedFiltersReconnectOnANewSizeAndRefuseANewType) {
  Build(new TestSource(Rgb32(64, 48)), Make(GetParam().make), 32, 24, VXRESIZE_STRETCH);
  ComPtr<IResizerControl> rc = resizer.As<IResizerControl>();
  int h = 0, w = 0, m = -1;
  ASSERT_EQ(S_OK, rc->GetInputSize(&h, &w));
  EXPECT_EQ(48, h);
  EXPECT_EQ(64, w);
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, rc->SetOutputType(P(Rgb32(320, 240))));

  // A new size reconnects the output at that size; a new mode alone does not.
  ASSERT_EQ(S_OK, rc->SetOutputSize(96, 128, VXRESIZE_FIT));
  CMediaType reconnected = sink->ConnectionType();
  ASSERT_TRUE(reconnected.pbFormat);
  EXPECT_EQ(128, HeaderOf(reconnected)->biWidth);
  ASSERT_EQ(S_OK, rc->GetOutputSize(&h, &w, &m));
  EXPECT_EQ(96, h);
  EXPECT_EQ(128, w);
  EXPECT_EQ(VXRESIZE_FIT, m);

  RunGraph();
  ASSERT_EQ(S_OK, source->Push(0, 333333, 0x00808080));
  ASSERT_EQ(1u, sink->frames.size());
  ASSERT_EQ(size_t(128 * 96 * 4), sink->frames[0].data.size());
  EXPECT_EQ(0x00808080u, sink->frames[0].firstPixel) << "equal ratios: the whole frame, same colour";
  graph.As<IMediaControl>()->Stop();

  ASSERT_EQ(S_OK, graph->Disconnect(source->OutPin()));
  ASSERT_EQ(S_OK, graph->Disconnect(PinOf(resizer.Get(), u"Input").Get()));
  EXPECT_EQ(E_POINTER, rc->GetInputSize(&h, &w)) << "the input type went with the connection";
  ASSERT_EQ(S_OK, rc->GetOutputSize(&h, &w, &m));
  EXPECT_EQ(128, w) << "the configuration survives connections";
}

INSTANTIATE_TEST_SUITE_P(BothResizers, vxvideokit_ResizerControl,
                         ::testing::Values(ResizerKind{"deferred", CDeferredResizer::CreateInstance},
                                           ResizerKind{"bilinear", CVideoResizer::CreateInstance}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the bilinear resizer ------------------------------------------------------------------

TEST(vxvideokit_VideoResizer, AcceptsOnlyFramesItCanBlend) {
  ComPtr<IBaseFilter> f = Make(CVideoResizer::CreateInstance);
  auto* impl = static_cast<CVideoResizer*>(static_cast<CBaseFilter*>(f.Get()));
  ASSERT_TRUE(f.As<IResizerControl>());
  EXPECT_TRUE(PinOf(f.Get(), u"Input"));
  EXPECT_TRUE(PinOf(f.Get(), u"Output"));
  ASSERT_EQ(S_OK, f.As<IResizerControl>()->SetOutputType(P(Rgb32(320, 240))));
  EXPECT_EQ(S_OK, impl->CheckInputType(P(Rgb32(352, 240))));
  EXPECT_EQ(E_FAIL, impl->CheckInputType(P(Rgb32(352, 240, true)))) << "VIDEOINFOHEADER only";
  EXPECT_EQ(E_FAIL, impl->CheckInputType(P(Rgb32(352, -240)))) << "top-down";
  EXPECT_EQ(E_FAIL, impl->CheckInputType(P(VideoType(352, 240, 24, MEDIASUBTYPE_RGB24)))) << "other subtype";
  CMediaType odd = Rgb32(352, 240);
  HeaderOf(odd)->biBitCount = 8;
  EXPECT_EQ(E_FAIL, impl->CheckInputType(&odd)) << "palette indices";
  CMediaType mt;
  EXPECT_EQ(E_UNEXPECTED, impl->GetMediaType(0, &mt)) << "input not connected";

  ComPtr<IBaseFilter> g16 = Make(CVideoResizer::CreateInstance);
  auto* impl16 = static_cast<CVideoResizer*>(static_cast<CBaseFilter*>(g16.Get()));
  ASSERT_EQ(S_OK, g16.As<IResizerControl>()->SetOutputType(P(VideoType(320, 240, 16, MEDIASUBTYPE_RGB555))));
  EXPECT_EQ(S_OK, impl16->CheckInputType(P(VideoType(352, 240, 16, MEDIASUBTYPE_RGB555))));
  EXPECT_EQ(0x200000u, sudVideoResizer.dwMerit);
  EXPECT_EQ(2u, sudVideoResizer.nPins);
}

class vxvideokit_VideoResizerGraph : public GraphTest {
 protected:
  void TearDown() override {
    if (registry) registry->Clear();
    registry = nullptr;
    GraphTest::TearDown();  // the registry object counts among those that must be gone
  }
  CVideoResizer* Impl() { return static_cast<CVideoResizer*>(static_cast<CBaseFilter*>(resizer.Get())); }
  ComPtr<IInterlaceModeRegistry> registry = Registry();
};

TEST_F(vxvideokit_VideoResizerGraph, TheSourceFileAndFrameTimeChooseTheInterlaceTreatment) {
  // 8 x 8 frames whose even rows are 200 and odd rows 40, doubled in height.
  const std::u16string file = u"/video/interlaced.avi";
  ASSERT_EQ(S_OK, registry->SetMode(u"/VIDEO/Interlaced.avi", 0, 10'000'000, 2, 0));
  ASSERT_EQ(S_OK, registry->SetMode(file.c_str(), 20'000'000, 30'000'000, 0, 1));
  Build(new FileTestSource(Rgb32(8, 8), file), Make(CVideoResizer::CreateInstance), 8, 16, VXRESIZE_STRETCH);
  RunGraph();
  const std::vector<BYTE> comb = Frame(8, 8, [](LONG y) { return BYTE(y % 2 ? 40 : 200); });

  // Field-wise up to and including the end of the range: the fields stay apart.
  ASSERT_EQ(S_OK, source->PushBytes(10'000'000, 10'333'333, comb));
  EXPECT_EQ(2, Impl()->LastFieldMode());
  ASSERT_EQ(1u, sink->frames.size());
  for (LONG y = 0; y < 16; ++y) ASSERT_EQ(y % 2 ? 40 : 200, At(sink->frames[0].data, 8, 3, y)) << y;

  // No entry: progressive, the fields blend on the rows between.
  ASSERT_EQ(S_OK, source->PushBytes(15'000'000, 15'333'333, comb));
  EXPECT_EQ(0, Impl()->LastFieldMode());
  EXPECT_EQ(120, At(sink->frames[1].data, 8, 3, 1));

  // Line doubling: every odd row copies the even row above, so the picture is flat, and the
  // upstream sample is left as it was.
  ComPtr<IMediaSample> delivered;
  ASSERT_EQ(S_OK, source->PushBytes(25'000'000, 25'333'333, comb, std::addressof(delivered)));
  EXPECT_EQ(1, Impl()->LastPrepassType());
  for (LONG y = 0; y < 16; ++y) ASSERT_EQ(200, At(sink->frames[2].data, 8, 3, y)) << y;
  BYTE* in = nullptr;
  ASSERT_EQ(S_OK, delivered->GetPointer(&in));
  EXPECT_EQ(0, std::memcmp(in, comb.data(), comb.size())) << "the prepass works on a copy";
  delivered = nullptr;

  // A frame without times gets no lookup at all.
  ASSERT_EQ(S_OK, source->PushBytes(-1, -1, comb));
  EXPECT_EQ(0, Impl()->LastFieldMode());
  EXPECT_EQ(4u, sink->frames.size());
}

TEST_F(vxvideokit_VideoResizerGraph, WithoutAFileSourceFramesAreScaledProgressively) {
  ASSERT_EQ(S_OK, registry->SetMode(u"", -1, -1, 2, 1));
  Build(new TestSource(Rgb32(8, 8)), Make(CVideoResizer::CreateInstance), 4, 4, VXRESIZE_STRETCH);
  LPOLESTR name = nullptr;
  EXPECT_EQ(S_FALSE, registry->GetSourceFileName(resizer.Get(), &name));
  EXPECT_EQ(nullptr, name);
  int field = 7, prepass = 7;
  EXPECT_EQ(S_FALSE, registry->LookupByFilter(resizer.Get(), 0, &field, &prepass));
  EXPECT_EQ(0, field);
  RunGraph();
  ASSERT_EQ(S_OK, source->Push(0, 333333, 0x00102030));
  ASSERT_EQ(1u, sink->frames.size());
  EXPECT_EQ(0x00102030u, sink->frames[0].firstPixel);
  EXPECT_EQ(0, Impl()->LastPrepassType());
}
