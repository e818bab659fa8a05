// The subtype adapter on its own and in a graph between a test source and a sink that takes
// only MP43: relabelling, the types each pin offers, reconnection in both directions, and
// samples passing through untouched in the shared buffers.
#include <gtest/gtest.h>

#include <memory>

#include "libs/subtypeshim/subtypeadapter.h"
#include "libs/subtypeshim/subtypecodes.h"
#include "libs/subtypeshim/tests/shimharness.h"

using namespace shimtest;
using subtypeshim::kFamily;
using subtypeshim::kFamilySize;

namespace {

constexpr FOURCC kDiv3 = MAKEFOURCC('D', 'I', 'V', '3');
constexpr FOURCC kDvx3 = MAKEFOURCC('D', 'V', 'X', '3');
constexpr FOURCC kDiv6Lower = MAKEFOURCC('d', 'i', 'v', '6');
constexpr FOURCC kMp43 = MAKEFOURCC('M', 'P', '4', '3');

CMediaType Relabelled(const CMediaType& mt, FOURCC code) {
  CMediaType copy(mt);
  subtypeshim::Relabel(&copy, code);
  return copy;
}

}  // namespace

// ---- the relabelling itself -------------------------------------------------------------------

TEST(SubtypeCodes, Relabel_ChangesSubtypeAndCompressionOnly_InBothHeaderForms) {
  for (bool videoInfo2 : {false, true}) {
    SCOPED_TRACE(videoInfo2 ? "VIDEOINFOHEADER2" : "VIDEOINFOHEADER");
    const CMediaType source = VideoType(kDiv3, 176, 144, videoInfo2);
    const CMediaType mp43 = Relabelled(source, kMp43);
    EXPECT_EQ(MEDIASUBTYPE_MP43, mp43.subtype);
    EXPECT_EQ(kMp43, CompressionOf(mp43));
    EXPECT_EQ(source.majortype, mp43.majortype);
    EXPECT_EQ(source.formattype, mp43.formattype);
    EXPECT_EQ(source.bTemporalCompression, mp43.bTemporalCompression);
    // Relabelled back, every byte of the format block is the source's again.
    EXPECT_TRUE(Relabelled(mp43, kDiv3) == source);
  }
}

TEST(SubtypeCodes, Relabel_OtherFormatsAndShortBlocks_KeepTheirBytes) {
  CMediaType other = VideoType(kDiv3, 176, 144);
  other.SetFormatType(&FORMAT_WaveFormatEx);
  const std::vector<BYTE> before(other.Format(), other.Format() + other.FormatLength());
  subtypeshim::Relabel(&other, kMp43);
  EXPECT_EQ(MEDIASUBTYPE_MP43, other.subtype);
  EXPECT_EQ(before, std::vector<BYTE>(other.Format(), other.Format() + other.FormatLength()));

  // A block too short for its header is not written past its end (nor at all).
  for (bool videoInfo2 : {false, true}) {
    CMediaType shortBlock = VideoType(kDiv3, 176, 144, videoInfo2);
    shortBlock.ReallocFormatBuffer(40);
    const std::vector<BYTE> bytes(shortBlock.Format(), shortBlock.Format() + 40);
    subtypeshim::Relabel(&shortBlock, kMp43);
    EXPECT_EQ(MEDIASUBTYPE_MP43, shortBlock.subtype);
    EXPECT_EQ(bytes, std::vector<BYTE>(shortBlock.Format(), shortBlock.Format() + 40));
  }
}

TEST(SubtypeCodes, TheFamilyIsSixteenVideoCodes_NotMp43NorLookalikes) {
  for (const auto& c : kFamily) EXPECT_TRUE(subtypeshim::IsFamilyType(VideoType(c.fourcc, 16, 16)));
  EXPECT_FALSE(subtypeshim::IsFamilyType(VideoType(kMp43, 16, 16)));
  EXPECT_FALSE(subtypeshim::IsFamilyType(VideoType(MAKEFOURCC('X', 'V', 'I', 'D'), 16, 16)));
  CMediaType audio = VideoType(kDiv3, 16, 16);
  audio.SetType(&MEDIATYPE_Audio);
  EXPECT_FALSE(subtypeshim::IsFamilyType(audio));
  GUID lookalike = FourccSubtype(kDiv3);
  lookalike.Data4[7] ^= 1;  // same first word, not of the four-character-code form
  EXPECT_FALSE(subtypeshim::IsFamilySubtype(lookalike));
}

// ---- the filter --------------------------------------------------------------------------------

class SubtypeAdapterTest : public FilterFixture {
 protected:
  void SetUp() override {
    Start();
    HRESULT hr = S_OK;
    CUnknown* made = CSubtypeAdapter::CreateInstance(nullptr, &hr);
    ASSERT_TRUE(made);
    ASSERT_EQ(S_OK, hr);
    made->NonDelegatingQueryInterface(IID_IBaseFilter, adapter_.AsVoidOut());
    ASSERT_TRUE(adapter_);
    object_ = static_cast<CSubtypeAdapter*>(made);
  }
  void TearDown() override {
    adapter_ = nullptr;
    FilterFixture::TearDown();
  }

  // A graph holding a source of these types, the adapter and an MP43 sink.
  void MakeGraph(std::vector<CMediaType> sourceTypes) {
    ASSERT_TRUE(FilterFixture::MakeGraph());
    ASSERT_TRUE(source_ = Add(new Source(std::move(sourceTypes)), u"Source"));
    ASSERT_EQ(S_OK, graph->AddFilter(adapter_.Get(), u"Adapter"));
    ASSERT_TRUE(sink_ = Add(new Sink, u"Sink"));
  }
  // Source -> adapter -> sink, each link by direct connection.
  void ConnectChain() {
    ASSERT_EQ(S_OK, graph->ConnectDirect(source_->OutPin(), Input().Get(), nullptr));
    ASSERT_EQ(S_OK, graph->ConnectDirect(Output().Get(), sink_->InPin(), nullptr));
  }
  ComPtr<IPin> Input() { return PinOf(adapter_.Get(), u"Input"); }
  ComPtr<IPin> Output() { return PinOf(adapter_.Get(), u"Output"); }
  CBasePin* PinObject(int n) { return object_->GetPin(n); }

  ComPtr<IBaseFilter> adapter_;
  CSubtypeAdapter* object_ = nullptr;
  Source* source_ = nullptr;  // owned by the graph
  Sink* sink_ = nullptr;      // owned by the graph
};

TEST_F(SubtypeAdapterTest, Unconnected_TakesTheWholeFamily_AndOffersNothing) {
  auto check = [this](FOURCC code) {
    const CMediaType mt = VideoType(code, 176, 144);
    return object_->CheckInputType(&mt);
  };
  for (const auto& c : kFamily) EXPECT_EQ(S_OK, check(c.fourcc));
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, check(kMp43));
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, check(MAKEFOURCC('D', 'I', 'V', 'X')));
  EXPECT_EQ(E_POINTER, object_->CheckInputType(nullptr));
  const CMediaType div6 = VideoType(kDiv6Lower, 176, 144), mp43 = VideoType(kMp43, 176, 144);
  EXPECT_EQ(S_OK, Input()->QueryAccept(&div6));
  EXPECT_EQ(E_INVALIDARG, PinObject(1)->CheckMediaType(&mp43)) << "nothing to pass on yet";
  EXPECT_EQ(E_POINTER, PinObject(1)->CheckMediaType(nullptr));

  for (int n : {0, 1}) {
    SCOPED_TRACE(n == 0 ? "Input" : "Output");
    CMediaType mt;
    EXPECT_EQ(E_POINTER, PinObject(n)->GetMediaType(0, nullptr));
    EXPECT_EQ(E_INVALIDARG, PinObject(n)->GetMediaType(-1, &mt));
    EXPECT_EQ(VFW_E_NOT_CONNECTED, PinObject(n)->GetMediaType(0, &mt));
  }
  EXPECT_TRUE(EnumeratedTypes(Output().Get()).empty());
  EXPECT_TRUE(EnumeratedTypes(Input().Get()).empty());
}

TEST_F(SubtypeAdapterTest, OutsideAGraph_NoConnectionCompletes) {
  auto* source = new Source({VideoType(kDiv3, 176, 144)});
  ComPtr<IBaseFilter> keep = AsFilter(source);
  EXPECT_EQ(VFW_E_NOT_IN_GRAPH, source->OutPin()->Connect(Input().Get(), nullptr));
  ComPtr<IPin> peer;
  EXPECT_EQ(VFW_E_NOT_CONNECTED, Input()->ConnectedTo(&peer));
}

TEST_F(SubtypeAdapterTest, Div3_ReachesAnMp43OnlySink_WithoutAFormatChange_AndSamplesPassInPlace) {
  const CMediaType div3 = VideoType(kDiv3, 176, 144);
  MakeGraph({div3});
  ConnectChain();

  // The input keeps the source's type; the sink gets the same type labelled MP43.
  EXPECT_TRUE(ConnectionTypeOf(Input().Get()) == div3);
  const CMediaType out = sink_->InPin()->CurrentMediaType();
  EXPECT_EQ(MEDIASUBTYPE_MP43, out.subtype);
  EXPECT_EQ(kMp43, CompressionOf(out));
  EXPECT_TRUE(Relabelled(out, kDiv3) == div3);
  const auto offered = EnumeratedTypes(Output().Get());
  ASSERT_EQ(1u, offered.size());
  EXPECT_TRUE(offered[0] == out);
  EXPECT_TRUE(EnumeratedTypes(Input().Get()).empty()) << "the sink offers no types of its own";

  // One allocator from source to sink: the sink receives the very samples the source sent.
  ASSERT_EQ(S_OK, graph.As<IMediaControl>()->Run());
  std::vector<IMediaSample*> sent;
  for (int i = 0; i < 3; ++i) {
    std::vector<BYTE> bytes(100 + i * 37);
    for (size_t b = 0; b < bytes.size(); ++b) bytes[b] = BYTE(b * 7 + i);
    ComPtr<IMediaSample> delivered;
    ASSERT_EQ(S_OK, source_->PushBytes(i * 400000, (i + 1) * 400000, bytes, std::addressof(delivered), true));
    IMediaSample* s = delivered.Get();
    sent.push_back(s);
    ASSERT_EQ(size_t(i + 1), sink_->frames.size());
    EXPECT_EQ(bytes, sink_->frames.back().data);
    EXPECT_EQ(i * 400000, sink_->frames.back().start);
    EXPECT_EQ((i + 1) * 400000, sink_->frames.back().stop);
    EXPECT_EQ(s, sink_->frames.back().sample);
  }
  graph.As<IMediaControl>()->Stop();
}

TEST_F(SubtypeAdapterTest, RunTimeOnlyCode_InTheSecondHeaderForm_IsRelabelledThere) {
  const CMediaType div6 = VideoType(kDiv6Lower, 320, 240, true);
  MakeGraph({div6});
  ConnectChain();
  const CMediaType out = sink_->InPin()->CurrentMediaType();
  ASSERT_EQ(FORMAT_VideoInfo2, out.formattype);
  EXPECT_EQ(kMp43, CompressionOf(out));
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(out.Format());
  EXPECT_EQ(400000, vih->AvgTimePerFrame);
  EXPECT_EQ(4u, vih->dwPictAspectRatioX);
  EXPECT_TRUE(Relabelled(out, kDiv6Lower) == div6);
}

TEST_F(SubtypeAdapterTest, TheInputOffersEachDownstreamMp43TypeInEveryFamilySpelling) {
  MakeGraph({VideoType(kDiv3, 176, 144)});
  sink_->offered = {VideoType(kMp43, 176, 144), VideoType(MAKEFOURCC('X', 'V', 'I', 'D'), 176, 144),
                    VideoType(kMp43, 320, 240, true)};
  ConnectChain();

  const auto types = EnumeratedTypes(Input().Get());
  ASSERT_EQ(2 * kFamilySize, types.size()) << "XVID yields nothing";
  for (size_t i = 0; i < types.size(); ++i) {
    const FOURCC code = kFamily[i % kFamilySize].fourcc;
    const CMediaType& want = sink_->offered[i < kFamilySize ? 0 : 2];
    EXPECT_TRUE(types[i] == Relabelled(want, code)) << i;
  }
  CMediaType mt;
  EXPECT_EQ(VFW_S_NO_MORE_ITEMS, PinObject(0)->GetMediaType(int(2 * kFamilySize), &mt));
  // The run-time-only code is offered like the others.
  EXPECT_EQ(S_OK, PinObject(0)->GetMediaType(7, &mt));
  EXPECT_EQ(FourccSubtype(kDiv6Lower), mt.subtype);
}

TEST_F(SubtypeAdapterTest, ANewInputTypeReconnectsTheOutput_ANewOutputTypeTheInputInItsOwnSpelling) {
  const CMediaType small = VideoType(kDvx3, 176, 144), large = VideoType(kDvx3, 352, 288);
  MakeGraph({small, large});
  ConnectChain();
  auto graph2 = graph.As<IFilterGraph2>();
  ASSERT_TRUE(graph2);

  // Upstream changes: the sink follows with the MP43 form of the new type.
  ASSERT_EQ(S_OK, graph2->ReconnectEx(Input().Get(), &large));
  EXPECT_TRUE(ConnectionTypeOf(Input().Get()) == large);
  EXPECT_TRUE(sink_->InPin()->CurrentMediaType() == Relabelled(large, kMp43));

  // Downstream changes: the source is asked for the same type spelled DVX3, not DIV3.
  const CMediaType smallMp43 = Relabelled(small, kMp43);
  ASSERT_EQ(S_OK, graph2->ReconnectEx(Output().Get(), &smallMp43));
  EXPECT_TRUE(ConnectionTypeOf(Input().Get()) == small);
  EXPECT_TRUE(sink_->InPin()->CurrentMediaType() == Relabelled(small, kMp43));

  // A downstream type the source cannot give fails, and the chain stays as it was.
  const CMediaType unknown = VideoType(kMp43, 640, 480);
  EXPECT_TRUE(FAILED(graph2->ReconnectEx(Output().Get(), &unknown)));
  EXPECT_TRUE(ConnectionTypeOf(Input().Get()) == small);
}

TEST_F(SubtypeAdapterTest, VideoOutsideTheFamily_IsRefused) {
  MakeGraph({VideoType(kMp43, 176, 144), VideoType(MAKEFOURCC('X', 'V', 'I', 'D'), 176, 144)});
  const HRESULT hr = graph->ConnectDirect(source_->OutPin(), Input().Get(), nullptr);
  EXPECT_TRUE(hr == VFW_E_TYPE_NOT_ACCEPTED || hr == VFW_E_NO_ACCEPTABLE_TYPES) << std::hex << hr;
  ComPtr<IPin> peer;
  EXPECT_EQ(VFW_E_NOT_CONNECTED, Input()->ConnectedTo(&peer));
}
