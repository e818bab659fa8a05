// The graph builder on test filters: decoders chosen by the table and by the named
// fallbacks (test converters registered under the platform decoders' class identifiers),
// chain ends left pending in conversion mode, the wanted major type, failed attempts that
// leave the graph as it was, removal downstream, and the checks of FinishGraph.
#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/graphwalk.h"
#include "converter/engine/tests/buildertestutil.h"
#include "media/contract/uuids.h"
#include "platform/streaming/tests/graph_testfilters.h"
#include "platform/streaming/tests/graph_testutil.h"

namespace tav {
namespace {

using graphtest::Converter;
using graphtest::CountingRenderer;
using graphtest::FirstPin;
using graphtest::LocalClass;
using graphtest::Outer;
using graphtest::PushSource;
using graphtest::TypedSource;

TAV_DEFINE_GUID(kSourceClass, 0x3C0000B1, 0x1111, 0x2222, 0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66);
TAV_DEFINE_GUID(kRenderClass, 0x3C0000B2, 0x1111, 0x2222, 0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66);

const GUID kCvid = FourccSubtype(MAKEFOURCC('c', 'v', 'i', 'd'));
const GUID kOdd = FourccSubtype(MAKEFOURCC('A', 'B', 'C', 'D'));

class BuilderTest : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    builder_ = std::make_unique<FilterGraphBuilder>();
    ASSERT_EQ(builder_->Init(), S_OK);
    builder_->SetConversionMode(true);
  }
  void TearDown() override {
    builder_.reset();
    avidec_.reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), 0) << "base-class objects leaked";
    GraphTest::TearDown();
  }
  // A source filter in the builder's graph offering the given video subtypes.
  IPin* AddSource(std::vector<GUID> subtypes) {
    auto* source = new TypedSource(kSourceClass, std::move(subtypes));
    ComPtr<IBaseFilter> keep(source);
    EXPECT_EQ(builder_->Graph()->AddFilter(source, u"Source"), S_OK);
    return source->Out();
  }
  // Registers a converter in -> RGB32 as the platform's VfW decoder.
  void RegisterAviDecoder(const GUID& input) {
    avidec_ = std::make_unique<LocalClass>(CLSID_AVIDec, [input]() -> IUnknown* {
      return Outer(new Converter(CLSID_AVIDec, input, MEDIASUBTYPE_RGB32));
    });
  }

  std::unique_ptr<LocalClass> avidec_;
  std::unique_ptr<FilterGraphBuilder> builder_;
};

TEST_F(BuilderTest, UncompressedVideo_IsAPendingChainEnd) {
  IPin* out = AddSource({MEDIASUBTYPE_RGB32});
  ASSERT_EQ(builder_->RenderPin(out), S_OK);
  ASSERT_EQ(builder_->PendingPins().size(), 1u);
  EXPECT_EQ(builder_->PendingPins()[0].Get(), out);
  EXPECT_EQ(FilterNames(builder_->Graph()), (std::vector<std::u16string>{u"Source"}));
  EXPECT_EQ(builder_->RenderPin(nullptr), E_POINTER);

  // The RGB kinds with alpha are uncompressed video too.
  for (const GUID& alpha : {MEDIASUBTYPE_ARGB1555, MEDIASUBTYPE_ARGB4444, MEDIASUBTYPE_A2R10G10B10,
                            MEDIASUBTYPE_A2B10G10R10}) {
    builder_->Clear();
    IPin* pin = AddSource({alpha});
    ASSERT_EQ(builder_->RenderPin(pin), S_OK) << GuidToString(alpha);
    ASSERT_EQ(builder_->PendingPins().size(), 1u);
    EXPECT_EQ(builder_->PendingPins()[0].Get(), pin);
  }
}

TEST_F(BuilderTest, WantedMajorType_SkipsOtherStreamsWithoutLeavingThemPending) {
  builder_->SetWantedMajorType(MEDIATYPE_Audio);
  ASSERT_EQ(builder_->RenderPin(AddSource({MEDIASUBTYPE_RGB32})), S_OK);
  EXPECT_TRUE(builder_->PendingPins().empty());
}

TEST_F(BuilderTest, DecoderTable_PutsTheVfwDecoderInFront) {
  RegisterAviDecoder(kCvid);
  ASSERT_EQ(builder_->RenderPin(AddSource({kCvid})), S_OK);
  EXPECT_EQ(FilterNames(builder_->Graph()), (std::vector<std::u16string>{u"AVI Decoder", u"Source"}));
  ASSERT_EQ(builder_->PendingPins().size(), 1u);
  PIN_INFO info{};
  builder_->PendingPins()[0]->QueryPinInfo(&info);
  CLSID owner{};
  info.pFilter->GetClassID(&owner);
  info.pFilter->Release();
  EXPECT_EQ(owner, CLSID_AVIDec);

  // Removing downstream of the source takes the decoder and its pending end with it.
  ComPtr<IBaseFilter> source;
  ASSERT_EQ(builder_->Graph()->FindFilterByName(u"Source", &source), S_OK);
  builder_->RemoveDownstream(source.Get());
  EXPECT_TRUE(FilterNames(builder_->Graph()).empty());
  EXPECT_TRUE(builder_->PendingPins().empty());
}

TEST_F(BuilderTest, UnknownCodec_FallsBackToTheNamedDecoder) {
  RegisterAviDecoder(kOdd);
  ASSERT_EQ(builder_->RenderPin(AddSource({kOdd})), S_OK);
  EXPECT_EQ(FilterNames(builder_->Graph()), (std::vector<std::u16string>{u"AVI Decompressor", u"Source"}));
  EXPECT_EQ(builder_->PendingPins().size(), 1u);
}

TEST_F(BuilderTest, NothingTakesTheStream_FailsAndLeavesTheGraphAsItWas) {
  RegisterAviDecoder(kCvid);  // a decoder that refuses the stream
  EXPECT_EQ(builder_->RenderPin(AddSource({kOdd})), E_FAIL);
  EXPECT_EQ(FilterNames(builder_->Graph()), (std::vector<std::u16string>{u"Source"}));
  EXPECT_TRUE(builder_->PendingPins().empty());
}

TEST_F(BuilderTest, FallbackThatPassesTheStreamOnUnchanged_IsNotStackedBehindItself) {
  // A fallback decoder whose output is the stream it took: nothing decodes it, and the
  // builder must give up instead of putting one copy behind the other without end.
  avidec_ = std::make_unique<LocalClass>(CLSID_AVIDec, [] { return Outer(new Converter(CLSID_AVIDec, kOdd, kOdd)); });
  EXPECT_EQ(builder_->RenderPin(AddSource({kOdd})), E_FAIL);
  EXPECT_EQ(FilterNames(builder_->Graph()), (std::vector<std::u16string>{u"Source"}));
  EXPECT_TRUE(builder_->PendingPins().empty());
  EXPECT_LE(avidec_->created.load(), 2);
}

TEST_F(BuilderTest, XReader_TakesTheDivxFamily_ElseTheXvidDecompressorDoes) {
  // The outside DivX decoder, when someone registered it: here one that takes DIVX only.
  CLSID xreader{};
  ASSERT_TRUE(GuidFromString("{1FC34E9F-E36A-4D7D-949A-3380AEAEBD10}", &xreader));
  const GUID divx = FourccSubtype(MAKEFOURCC('D', 'I', 'V', 'X'));
  const GUID xvid = FourccSubtype(MAKEFOURCC('X', 'V', 'I', 'D'));
  LocalClass xreaderClass(xreader, [&] { return Outer(new Converter(xreader, divx, MEDIASUBTYPE_RGB32)); });
  RegisterAviDecoder(xvid);
  builder_ = std::make_unique<FilterGraphBuilder>();  // looks for the X-Reader at Init
  ASSERT_EQ(builder_->Init(), S_OK);
  builder_->SetConversionMode(true);

  // Twice: the builder holds the X-Reader and puts it into the next graph again.
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(builder_->RenderPin(AddSource({divx})), S_OK);
    EXPECT_EQ(FilterNames(builder_->Graph()), (std::vector<std::u16string>{u"Source", u"X-Reader"}));
    EXPECT_TRUE(builder_->XReaderUsed());
    EXPECT_EQ(builder_->PendingPins().size(), 1u);
    builder_->Clear();
    EXPECT_FALSE(builder_->XReaderUsed());
  }
  EXPECT_EQ(xreaderClass.created.load(), 1);

  // A stream of the family that the X-Reader refuses goes to the XviD decompressor.
  ASSERT_EQ(builder_->RenderPin(AddSource({xvid})), S_OK);
  EXPECT_EQ(FilterNames(builder_->Graph()), (std::vector<std::u16string>{u"AVI decompressor for XViD", u"Source"}));
  EXPECT_FALSE(builder_->XReaderUsed());
}

TEST_F(BuilderTest, FindVideoSize_ConfiguredOrFromTheGraph) {
  int w = 0, h = 0;
  builder_->FindVideoSize(false, &w, &h);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
  builder_->SetResize(true, 640, 480, 2);
  builder_->FindVideoSize(false, &w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
}

TEST_F(BuilderTest, FinishGraph_RefusesAMovieWithoutDuration) {
  for (REFERENCE_TIME duration : {REFERENCE_TIME(0), REFERENCE_TIME(10 * 400000)}) {
    HRESULT hr = S_OK;
    auto* source = new PushSource(kSourceClass, duration);
    ComPtr<IBaseFilter> keep(source);
    ComPtr<IBaseFilter> renderer(new CountingRenderer(kRenderClass, &hr));
    ASSERT_EQ(builder_->Graph()->AddFilter(source, u"Source"), S_OK);
    ASSERT_EQ(builder_->RenderPin(FirstPin(source, PINDIR_OUTPUT)), S_OK);
    ASSERT_EQ(builder_->PendingPins().size(), 1u);
    // The exporter's place: a renderer on the chain end.
    ASSERT_EQ(builder_->Graph()->AddFilter(renderer.Get(), u"Renderer"), S_OK);
    ASSERT_EQ(builder_->Graph()->ConnectDirect(builder_->PendingPins()[0].Get(), FirstPin(renderer.Get(), PINDIR_INPUT),
                                               nullptr),
              S_OK);
    if (duration == 0) {
      try {
        builder_->FinishGraph(true);
        ADD_FAILURE() << "a zero duration must fail";
      } catch (const HRChecker& c) {
        EXPECT_EQ(c.GetHr(), VFW_E_UNSUPPORTED_VIDEO);
      }
    } else {
      EXPECT_NO_THROW(builder_->FinishGraph(true));
      EXPECT_TRUE(builder_->Seeking());
    }
    builder_->Clear();
    EXPECT_TRUE(FilterNames(builder_->Graph()).empty());
  }
}

}  // namespace
}  // namespace tav
