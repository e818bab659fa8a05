// The graph builder on real movies (made by the ffmpeg program) with the platform's filters
// and the video kit registered: which decoder a stream really ends up in, the wanted major
// type, and the channel downmixer in front of the PCM audio end.
#include <algorithm>
#include <cstring>

#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/graphwalk.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "media/contract/uuids.h"
#include "platform/streaming/tests/graph_testfilters.h"
#include "platform/streaming/tests/graph_testutil.h"
#include "tests/support/mapperfilter.h"
#include "tests/support/moviegraphtest.h"
#include "tests/support/testenv.h"

namespace tav {
namespace {

using graphtest::LocalClass;
using graphtest::Outer;

TAV_DEFINE_GUID(kRelabelClass, 0x3C0000D1, 0x1111, 0x2222, 0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66);

// Stands in for the subtype adapter, a later library: takes DIV3 video and hands the same
// stream on labelled MP43, so that the platform's MP43 decoder accepts it.
class Relabel : public CTransformFilter {
 public:
  Relabel() : CTransformFilter("relabel", nullptr, kRelabelClass) {}
  HRESULT CheckInputType(const CMediaType* mt) override {
    return *mt->Type() == MEDIATYPE_Video && *mt->Subtype() == MEDIASUBTYPE_DIV3 &&
                   *mt->FormatType() == FORMAT_VideoInfo && mt->FormatLength() >= sizeof(VIDEOINFOHEADER)
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* mt) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0 || !m_pInput->IsConnected()) return VFW_S_NO_MORE_ITEMS;
    *mt = m_pInput->CurrentMediaType();
    mt->SetSubtype(&MEDIASUBTYPE_MP43);
    reinterpret_cast<VIDEOINFOHEADER*>(mt->Format())->bmiHeader.biCompression = MAKEFOURCC('M', 'P', '4', '3');
    return S_OK;
  }
  HRESULT CheckTransform(const CMediaType*, const CMediaType* out) override {
    return *out->Subtype() == MEDIASUBTYPE_MP43 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override {
    props->cBuffers = std::max<LONG>(props->cBuffers, 1);
    props->cbBuffer = std::max<LONG>(props->cbBuffer, 1 << 20);
    ALLOCATOR_PROPERTIES actual;
    return alloc->SetProperties(props, &actual);
  }
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
    BYTE *src = nullptr, *dst = nullptr;
    in->GetPointer(&src);
    out->GetPointer(&dst);
    const long n = std::min(in->GetActualDataLength(), out->GetSize());
    std::memcpy(dst, src, size_t(n));
    return out->SetActualDataLength(n);
  }
};

struct GraphFilter {
  std::u16string name;
  CLSID clsid;
  ComPtr<IBaseFilter> filter;
};

std::vector<GraphFilter> FiltersIn(IGraphBuilder* graph) {
  std::vector<GraphFilter> out;
  for (ComPtr<IBaseFilter>& f : FiltersOf(graph)) {
    GraphFilter g;
    g.filter = f;
    g.name = FilterName(f.Get());
    f->GetClassID(&g.clsid);
    out.push_back(std::move(g));
  }
  return out;
}

bool Has(IGraphBuilder* graph, const std::u16string& name) {
  for (const auto& f : FiltersIn(graph))
    if (f.name == name) return true;
  return false;
}

// The media type on a filter's first pin of a direction, when connected.
bool ConnectionType(IBaseFilter* filter, PIN_DIRECTION dir, CMediaType* mt) {
  IPin* pin = graphtest::FirstPin(filter, dir);
  AM_MEDIA_TYPE t{};
  if (!pin || pin->ConnectionMediaType(&t) != S_OK) return false;
  *mt = t;
  FreeMediaType(t);
  return true;
}

class BuilderFilesTest : public tavtest::MovieGraphTest {
 protected:
  BuilderFilesTest() : MovieGraphTest({"tavrionfilters", "vxvideokit"}) {}
  void SetUp() override {
    MovieGraphTest::SetUp();
    if (!Ready()) return;
    builder_ = std::make_unique<FilterGraphBuilder>();
    ASSERT_EQ(builder_->Init(), S_OK);
    builder_->SetConversionMode(true);
    builder_->SetAudioTarget(true, 22050, 2, 16);
  }
  void TearDown() override {
    if (!builder_) return;
    builder_.reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), 0) << "base-class objects leaked";
    GraphTest::TearDown();
  }
  static std::string Movie(const std::string& name, const std::string& args) {
    const std::string path = tavtest::TempDir() + "/" + name;
    EXPECT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc=size=160x120:rate=15 " + args + " -t 1", path));
    return path;
  }
  // The pending chain ends of a major type.
  std::vector<CMediaType> Pending(const GUID& major) const {
    std::vector<CMediaType> out;
    for (const auto& pin : builder_->PendingPins()) {
      ComPtr<IEnumMediaTypes> e;
      AM_MEDIA_TYPE* t = nullptr;
      if (FAILED(pin->EnumMediaTypes(&e)) || e->Next(1, &t, nullptr) != S_OK) continue;
      if (t->majortype == major) out.emplace_back(*t);
      DeleteMediaType(t);
    }
    return out;
  }
  // The filter of a class in the graph, and the subtype arriving at its input.
  ComPtr<IBaseFilter> Find(const CLSID& clsid, GUID* inputSubtype = nullptr) const {
    for (const auto& f : FiltersIn(builder_->Graph())) {
      if (f.clsid != clsid) continue;
      CMediaType in;
      if (inputSubtype && ConnectionType(f.filter.Get(), PINDIR_INPUT, &in)) *inputSubtype = *in.Subtype();
      return f.filter;
    }
    return nullptr;
  }

  std::unique_ptr<FilterGraphBuilder> builder_;
};

TEST_F(BuilderFilesTest, Div3_MapperPassFindsTheAdapterForTheMp43Decoder_ElseTheNamedFallbackDecodes) {
  const std::string movie = Movie("div3.avi",
                                  "-f lavfi -i sine=sample_rate=44100 -c:v msmpeg4 -vtag DIV3 -c:a libmp3lame -ac 2");

  // Nothing in the table takes DIV3 and no registered filter does: the first named fallback,
  // the platform's VfW decompressor, decodes it. Only video is wanted, so no audio filter
  // is added and no audio end is left pending.
  builder_->SetWantedMajorType(MEDIATYPE_Video);
  ASSERT_EQ(builder_->AddSourceAndRender(movie), S_OK);
  GUID decoded{};
  EXPECT_TRUE(Find(CLSID_AVIDec, &decoded)) << "the fallback decoder is not in the graph";
  EXPECT_EQ(decoded, MEDIASUBTYPE_DIV3);
  EXPECT_TRUE(Has(builder_->Graph(), u"AVI Decompressor"));
  EXPECT_FALSE(Has(builder_->Graph(), u"MPEG 4 codec version 3"));
  EXPECT_EQ(FiltersIn(builder_->Graph()).size(), 3u);  // source, splitter, decompressor
  ASSERT_EQ(Pending(MEDIATYPE_Video).size(), 1u);
  EXPECT_TRUE(Pending(MEDIATYPE_Audio).empty());
  EXPECT_EQ(builder_->PendingPins().size(), 1u);
  builder_->Clear();
  EXPECT_TRUE(FiltersIn(builder_->Graph()).empty());

  // With a registered filter that relabels DIV3 as MP43 (as the subtype adapter will), the
  // mapper pass puts it behind the splitter and the table's MP43 row follows it.
  ComPtr<IFilterMapper2> mapper;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                             mapper.AsVoidOut()),
            S_OK);
  ASSERT_EQ(tavtest::RegisterVideoFilter(mapper.Get(), kRelabelClass, u"Relabel", MEDIASUBTYPE_DIV3, MEDIASUBTYPE_MP43,
                                         MERIT_NORMAL + 1),
            S_OK);
  {
    LocalClass relabel(kRelabelClass, [] { return Outer(new Relabel); });
    ASSERT_EQ(builder_->AddSourceAndRender(movie), S_OK);
    EXPECT_TRUE(Has(builder_->Graph(), u"Relabel"));
    ComPtr<IBaseFilter> dmo = Find(CLSID_DMOWrapperFilter, &decoded);
    ASSERT_TRUE(dmo) << "the MP43 decoder is not in the graph";
    EXPECT_EQ(decoded, MEDIASUBTYPE_MP43);
    EXPECT_TRUE(Has(builder_->Graph(), u"MPEG 4 codec version 3"));
    EXPECT_FALSE(Find(CLSID_AVIDec));
    ASSERT_EQ(Pending(MEDIATYPE_Video).size(), 1u);
    builder_->Clear();
  }
  mapper->UnregisterFilter(nullptr, nullptr, kRelabelClass);
  EXPECT_EQ(builder_->PendingPins().size(), 0u);
}

TEST_F(BuilderFilesTest, SixChannelPcm_GoesThroughTheDownmixerIntoThePcmEnd) {
  const std::string movie =
      Movie("six.avi", "-f lavfi -i sine=sample_rate=48000 -af \"pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0\" "
                       "-c:v mpeg4 -c:a pcm_s16le");
  builder_->SetWantedMajorType(MEDIATYPE_Audio);
  ASSERT_EQ(builder_->AddSourceAndRender(movie), S_OK);
  EXPECT_TRUE(Pending(MEDIATYPE_Video).empty());

  // The splitter hands the downmixer the extensible six-channel format.
  ComPtr<IBaseFilter> downmixer = Find(CLSID_VxChannelDownmixer);
  ASSERT_TRUE(downmixer) << "no downmixer in the graph";
  EXPECT_TRUE(Has(builder_->Graph(), u"Downmixer"));
  CMediaType in, out;
  ASSERT_TRUE(ConnectionType(downmixer.Get(), PINDIR_INPUT, &in));
  const auto* wfIn = reinterpret_cast<const WAVEFORMATEX*>(in.Format());
  EXPECT_EQ(wfIn->wFormatTag, WAVE_FORMAT_EXTENSIBLE);
  EXPECT_EQ(wfIn->nChannels, 6);

  // Its output is plain stereo PCM: the PCM case, which converts it to the audio target
  // (ACM wrapper) and leaves that as the audio chain end. The compressed case would have
  // added a second downmixer.
  ASSERT_TRUE(ConnectionType(downmixer.Get(), PINDIR_OUTPUT, &out));
  const auto* wfOut = reinterpret_cast<const WAVEFORMATEX*>(out.Format());
  EXPECT_EQ(*out.Subtype(), MEDIASUBTYPE_PCM);
  EXPECT_EQ(wfOut->wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(wfOut->nChannels, 2);
  EXPECT_EQ(wfOut->cbSize, 0);
  int downmixers = 0;
  for (const auto& f : FiltersIn(builder_->Graph())) downmixers += f.clsid == CLSID_VxChannelDownmixer;
  EXPECT_EQ(downmixers, 1);

  const auto ends = Pending(MEDIATYPE_Audio);
  ASSERT_EQ(ends.size(), 1u);
  ASSERT_EQ(builder_->PendingPins().size(), 1u);
  CMediaType end;
  ComPtr<IBaseFilter> owner;
  {
    PIN_INFO info{};
    builder_->PendingPins()[0]->QueryPinInfo(&info);
    owner.Attach(info.pFilter);
  }
  CLSID ownerClass{};
  owner->GetClassID(&ownerClass);
  EXPECT_EQ(ownerClass, CLSID_ACMWrapper);
  const auto* target = reinterpret_cast<const WAVEFORMATEX*>(ends[0].Format());
  ASSERT_TRUE(target);
  EXPECT_EQ(target->nSamplesPerSec, 22050u);
  EXPECT_EQ(target->nChannels, 2);
  EXPECT_EQ(target->wBitsPerSample, 16);
}

TEST_F(BuilderFilesTest, SubtitleStreamNobodyTakes_EndsInABlackHole) {
  const std::string srt = tavtest::TempDir() + "/s.srt";
  std::FILE* f = std::fopen(srt.c_str(), "w");
  ASSERT_TRUE(f);
  std::fputs("1\n00:00:00,000 --> 00:00:01,000\nhello\n\n", f);
  std::fclose(f);
  const std::string movie = Movie("sub.mp4", "-i '" + srt + "' -c:v mpeg4 -c:s mov_text");
  builder_->SetWantedMajorType(MEDIATYPE_Video);
  ASSERT_EQ(builder_->AddSourceAndRender(movie), S_OK);
  ASSERT_EQ(Pending(MEDIATYPE_Text).size(), 1u);
  ASSERT_EQ(Pending(MEDIATYPE_Video).size(), 1u);
  builder_->FinishGraph(true);
  // The video end waits for the exporter; here it has none, so it too gets a null renderer.
  int holes = 0;
  for (const auto& g : FiltersIn(builder_->Graph())) {
    if (g.name.rfind(u"Black Hole", 0) != 0) continue;
    ++holes;
    CMediaType in;
    EXPECT_TRUE(ConnectionType(g.filter.Get(), PINDIR_INPUT, &in));
  }
  EXPECT_EQ(holes, 2);
  builder_->Clear();
}

TEST_F(BuilderFilesTest, DataStreamNobodyTakes_IsLeftUnconnected) {
  // A DVD's program stream carries navigation packets beside its pictures and sound; a
  // QuickTime movie from a camera, a time code track. Neither fails the movie, and neither
  // is a chain end: no Black Hole takes them.
  for (const char* args : {"-f lavfi -i sine=sample_rate=48000 -c:v mpeg2video -c:a ac3 -f dvd",
                           "-f lavfi -i sine=sample_rate=48000 -c:v mpeg4 -c:a aac -timecode 01:00:00:00"}) {
    SCOPED_TRACE(args);
    const std::string movie = Movie(std::strstr(args, "dvd") ? "nav.vob" : "timecode.mov", args);
    ASSERT_EQ(builder_->AddSourceAndRender(movie), S_OK);
    EXPECT_EQ(Pending(MEDIATYPE_Video).size(), 1u);
    EXPECT_EQ(Pending(MEDIATYPE_Audio).size(), 1u);
    EXPECT_EQ(builder_->PendingPins().size(), 2u);
    builder_->FinishGraph(true);
    int data = 0, holes = 0;
    for (const auto& g : FiltersIn(builder_->Graph())) {
      holes += g.name.rfind(u"Black Hole", 0) == 0;
      for (ComPtr<IPin>& pin : PinsOf(g.filter.Get(), PINDIR_OUTPUT)) {
        ComPtr<IEnumMediaTypes> e;
        AM_MEDIA_TYPE* t = nullptr;
        if (FAILED(pin->EnumMediaTypes(&e)) || e->Next(1, &t, nullptr) != S_OK) continue;
        if (t->majortype == MEDIATYPE_DVD_NAVIGATION || t->majortype == MEDIATYPE_AvData) {
          ++data;
          ComPtr<IPin> peer;
          EXPECT_EQ(pin->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
        }
        DeleteMediaType(t);
      }
    }
    EXPECT_EQ(data, 1);
    EXPECT_EQ(holes, 2) << "the video and audio ends, which wait for the exporter";
    builder_->Clear();
  }
}

TEST_F(BuilderFilesTest, PreviewWithoutTheDrawerLibrary_FailsCreatingTheRenderer) {
  // The subtitle renderer's library is not registered here: the drawer stage cannot create
  // its renderer, and the failure names it. Nothing of the stage stays in the graph.
  const std::string movie = Movie("xvid.avi", "-f lavfi -i sine=sample_rate=22050 -c:v mpeg4 -vtag XVID -c:a pcm_s16le");
  builder_->SetConversionMode(false);
  builder_->SetDrawer(true, 320, 240, 2);
  try {
    builder_->AddSourceAndRender(movie);
    ADD_FAILURE() << "a preview without its drawer must fail";
  } catch (const HRChecker& c) {
    EXPECT_EQ(c.GetHr(), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(c.GetContext(), "KORVA Subtitle Renderer");
    EXPECT_EQ(c.GetMediaType().majortype, MEDIATYPE_Video);
  }
  EXPECT_FALSE(Has(builder_->Graph(), u"KORVA Subtitle Renderer"));
  builder_->Clear();
}

}  // namespace
}  // namespace tav
