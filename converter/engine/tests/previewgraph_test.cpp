// The preview graph with the subtitle drawer over real movies (made by the ffmpeg program)
// and the platform's, video kit's, caption and painter libraries registered: it pauses on a
// composed first picture, the entry reads its probe from it, live changes of fit, frame
// size, language, caption size and caption drawing show at once, and a decoder that offers
// only VIDEOINFOHEADER2 is drawn through the header adapter; the player's seeks show the
// picture at their time on a movie with one key frame in eight seconds. PreviewGraph builds
// an entry's preview with its settings and probes it, falls back to burnt-in captions, and
// reads back the picture of a seek time.
#include <dlfcn.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "converter/engine/convertorder.h"
#include "converter/engine/drawerstage.h"
#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/graphwalk.h"
#include "converter/engine/player.h"
#include "converter/engine/previewgraph.h"
#include "libs/captionpainter/captionpainter.h"
#include "media/contract/uuids.h"
#include "platform/streaming/tests/graph_testutil.h"
#include "tests/support/filterharness.h"
#include "tests/support/moviegraphtest.h"
#include "tests/support/testenv.h"

namespace tav {
namespace {

constexpr REFERENCE_TIME kSecond = 10'000'000;

using tavtest::RegisterLibrary;

std::string WriteFile(const std::string& name, const std::string& text) {
  const std::string path = tavtest::TempDir() + "/" + name;
  if (FILE* f = fopen(path.c_str(), "wb")) {
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
  }
  return path;
}

// Two languages from the start: a short English caption and a long Korean-class one.
std::string TwoLanguageSami() {
  return WriteFile("two.smi",
                   "<SAMI><HEAD><STYLE TYPE=\"text/css\"><!--\n"
                   "P { margin-left:8pt; margin-right:8pt; text-align:center; color:white; }\n"
                   ".ENCC { Name:English; lang:en-US; SAMIType:CC; }\n"
                   ".KRCC { Name:Korean; lang:ko-KR; SAMIType:CC; }\n"
                   "--></STYLE></HEAD><BODY>\n"
                   "<SYNC Start=0><P Class=ENCC>HI\n"
                   "<SYNC Start=0><P Class=KRCC>MMMMMMMMMMMMMMMM\n"
                   "<SYNC Start=60000><P Class=ENCC>&nbsp;\n"
                   "<SYNC Start=60000><P Class=KRCC>&nbsp;\n"
                   "</BODY></SAMI>\n");
}

// The renderer's window surface, top row first.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> px;
  uint32_t At(int x, int y) const { return px[size_t(y) * width + x]; }
  // Pixels lighter than the dark test picture in some channel: caption text.
  int Bright() const {
    int n = 0;
    for (uint32_t p : px)
      if (((p >> 16) & 0xFF) > 0xA0 || ((p >> 8) & 0xFF) > 0xA0 || (p & 0xFF) > 0xA0) ++n;
    return n;
  }
  bool RowIsBlack(int y) const {
    for (int x = 0; x < width; ++x)
      if ((At(x, y) & 0xF0F0F0) != 0) return false;
    return true;
  }
  bool ColumnIsBlack(int x) const {
    for (int y = 0; y < height; ++y)
      if ((At(x, y) & 0xF0F0F0) != 0) return false;
    return true;
  }
};

Picture WindowPicture(IGraphBuilder* graph) {
  Picture p;
  auto hosts = DrawerHostsOf(graph);
  if (hosts.empty()) return p;
  ComPtr<IRendererWindow> window = hosts.front().As<IRendererWindow>();
  HWND hwnd = nullptr;
  window->GetWindowHandle(&hwnd);
  DIBSECTION ds{};
  if (GetObject(tav::GetWindowSurface(hwnd), sizeof ds, &ds) != int(sizeof ds)) return p;
  p.width = ds.dsBm.bmWidth;
  p.height = ds.dsBm.bmHeight;
  for (int y = 0; y < p.height; ++y) {
    const int row = ds.dsBmih.biHeight > 0 ? p.height - 1 - y : y;
    for (int x = 0; x < p.width; ++x) {
      uint32_t v = 0;
      std::memcpy(&v, static_cast<const BYTE*>(ds.dsBm.bmBits) + row * ds.dsBm.bmWidthBytes + x * 4, 4);
      p.px.push_back(v & 0xFFFFFF);
    }
  }
  return p;
}

class PreviewGraphTest : public tavtest::MovieGraphTest {
 protected:
  PreviewGraphTest() : MovieGraphTest({"tavrionfilters", "vxvideokit", "captionparser", "captionpainter"}) {}
  void SetUp() override {
    MovieGraphTest::SetUp();
    if (!Ready()) return;
    builder_ = std::make_unique<FilterGraphBuilder>();
    ASSERT_EQ(builder_->Init(), S_OK);
    subtitles_ = TwoLanguageSami();
  }
  void TearDown() override {
    if (!builder_) return;
    if (builder_->Graph()) ComPtr<IGraphBuilder>(builder_->Graph()).As<IMediaControl>()->Stop();
    control_ = nullptr;
    builder_.reset();
    GraphTest::TearDown();
  }
  static std::string Movie(const std::string& name, const std::string& size, const std::string& args) {
    const std::string path = tavtest::TempDir() + "/" + name;
    // A dark picture, so that every bright pixel belongs to a caption.
    EXPECT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=0x305070:size=" + size +
                           ":rate=15 -f lavfi -i sine=sample_rate=44100 " + args + " -t 2 '" + path + "'"),
              0);
    return path;
  }
  // The preview configuration of the main form: 15 fps, 22 050 Hz stereo sound, resized
  // with the fit, the drawer on. The sound renderer holds its first sample while paused;
  // the picture must still arrive.
  void Configure(int width, int height, int fit, bool subtitles) {
    builder_->SetFrameRate(true, kPreviewFrameRate);
    builder_->SetAudioTarget(CTavrionConverterDoc::ConversionAudioTarget());
    builder_->SetResize(true, width, height, fit);
    builder_->SetDrawer(true, width, height, fit);
    builder_->SetSubtitles(subtitles, subtitles_, "A551CAEA-E6D4-4e47-8422-9128EEEE0D46", "en-us");
  }
  IMediaControl* Control() {
    control_ = ComPtr<IGraphBuilder>(builder_->Graph()).As<IMediaControl>();
    return control_.Get();
  }
  void PauseAndWait() {
    ASSERT_TRUE(SUCCEEDED(Control()->Pause()));
    OAFilterState state = 0;
    ASSERT_EQ(Control()->GetState(5000, &state), S_OK);
  }

  std::unique_ptr<FilterGraphBuilder> builder_;
  ComPtr<IMediaControl> control_;
  std::string subtitles_;
};

TEST_F(PreviewGraphTest, EveryMovieKindPausesOnAComposedPictureAndProbes) {
  struct Kind {
    const char* name;
    const char* args;
  } kinds[] = {{"xvid.avi", "-c:v mpeg4 -vtag XVID -c:a libmp3lame"},
               {"h264.mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac"},
               {"clip.mov", "-c:v mpeg4 -c:a aac"}};
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    const std::string movie = Movie(kind.name, "192x108", kind.args);  // 16:9
    Configure(320, 240, 2, true);
    ASSERT_EQ(builder_->AddSourceAndRender(movie), S_OK);
    auto hosts = DrawerHostsOf(builder_->Graph());
    ASSERT_EQ(hosts.size(), 1u) << "the video ends in the subtitle renderer";
    PauseAndWait();

    const Picture p = WindowPicture(builder_->Graph());
    ASSERT_EQ(p.width, 320);
    ASSERT_EQ(p.height, 240);
    EXPECT_TRUE(p.RowIsBlack(2)) << "Fit letterboxes a 16:9 movie";
    EXPECT_TRUE(p.RowIsBlack(237));
    EXPECT_FALSE(p.RowIsBlack(120)) << "the picture";
    EXPECT_GT(p.Bright(), 10) << "the English caption at 0 s";

    CConvertOrder entry(movie);
    entry.UpdateFromGraph(*builder_);
    EXPECT_NEAR(double(entry.GetDuration()), 2.0 * kSecond, 0.2 * kSecond);
    EXPECT_EQ(entry.GetSourceWidth(), 192);
    EXPECT_EQ(entry.GetSourceHeight(), 108);
    EXPECT_FALSE(entry.Is4by3());
    EXPECT_TRUE(entry.IsSeekable());
    EXPECT_EQ(entry.Snapshot().value, DWORD(320 * 240 * 4)) << "the drawer's picture as the snapshot";
    EXPECT_TRUE(entry.Snapshot().block);
    EXPECT_EQ(entry.Snapshot().mediaType.subtype, MEDIASUBTYPE_RGB32);
    Control()->Stop();
    builder_->Clear();
  }
}

TEST_F(PreviewGraphTest, LiveChangesShowOnThePausedPreview) {
  const std::string movie = Movie("live.avi", "192x108", "-c:v mpeg4 -vtag XVID -c:a libmp3lame");
  Configure(320, 240, 2, true);
  ASSERT_EQ(builder_->AddSourceAndRender(movie), S_OK);
  PauseAndWait();
  const int english = WindowPicture(builder_->Graph()).Bright();
  ASSERT_GT(english, 10);

  // Language: the long Korean-class caption has more text.
  builder_->SetSubtitleLanguage("ko-kr");
  const int korean = WindowPicture(builder_->Graph()).Bright();
  EXPECT_GT(korean, english * 2);
  builder_->SetSubtitleLanguage("en-us");
  EXPECT_EQ(WindowPicture(builder_->Graph()).Bright(), english);

  // Caption size: the bigger class draws more pixels.
  builder_->SetSubtitleSize("9F0194EA-D60A-43d2-B994-CB0FDDE02C3E");
  EXPECT_GT(WindowPicture(builder_->Graph()).Bright(), english);
  builder_->SetSubtitleSize("A551CAEA-E6D4-4e47-8422-9128EEEE0D46");

  // Caption drawing off and on.
  builder_->EnableSubtitleDrawing(false);
  EXPECT_EQ(WindowPicture(builder_->Graph()).Bright(), 0);
  builder_->EnableSubtitleDrawing(true);
  EXPECT_GT(WindowPicture(builder_->Graph()).Bright(), 0);

  // Frame size: a 640 x 360 canvas puts the 4:3 frame between bars left and right.
  builder_->SetFrameSizeOnDrawers(640, 360);
  Picture p = WindowPicture(builder_->Graph());
  EXPECT_TRUE(p.ColumnIsBlack(5));
  EXPECT_FALSE(p.ColumnIsBlack(160));
  builder_->SetFrameSizeOnDrawers(320, 240);
  EXPECT_FALSE(WindowPicture(builder_->Graph()).ColumnIsBlack(5));

  // Fit: running, the next frames come through the resizer in Stretch, without bars.
  builder_->SetScreenFitOnFilters(0);
  ASSERT_TRUE(SUCCEEDED(Control()->Run()));
  EXPECT_TRUE(tavtest::WaitFor([&] { return !WindowPicture(builder_->Graph()).RowIsBlack(2); }));
}

TEST_F(PreviewGraphTest, ADrawerWithoutManagerGetsOneOnTheFirstSubtitleChoice) {
  const std::string movie = Movie("plain.avi", "160x120", "-c:v mpeg4 -vtag XVID -c:a libmp3lame");
  Configure(320, 240, 2, false);
  ASSERT_EQ(builder_->AddSourceAndRender(movie), S_OK);
  PauseAndWait();
  EXPECT_EQ(WindowPicture(builder_->Graph()).Bright(), 0);
  builder_->SetSubtitleLanguage("en-us");  // nothing loaded: nothing to select
  ComPtr<ISubtitleOverlay> overlay = OverlayOf(DrawerHostsOf(builder_->Graph()).front().Get());
  ComPtr<ISubtitleManager> manager;
  overlay->GetManager(manager.ReleaseAndGetAddressOf());
  EXPECT_FALSE(manager);
  builder_->SetSubtitleParams(subtitles_, "A551CAEA-E6D4-4e47-8422-9128EEEE0D46", "en-us");
  overlay->GetManager(manager.ReleaseAndGetAddressOf());
  EXPECT_TRUE(manager);
  EXPECT_GT(WindowPicture(builder_->Graph()).Bright(), 10);
  // The drawer's lock was given back: the settings can change again.
  EXPECT_EQ(overlay->SetFitMode(2), S_OK);

  // A file that cannot be loaded fails with the subtitle code and leaves the lock free.
  const std::string junk = WriteFile("junk.srt", "not subtitles at all");
  try {
    builder_->SetSubtitleParams(junk, "A551CAEA-E6D4-4e47-8422-9128EEEE0D46", "en-us");
    ADD_FAILURE() << "no failure for an unreadable file";
  } catch (const HRChecker& e) {
    EXPECT_EQ(e.GetHr(), TAV_E_SUBTITLE_LOAD);
    EXPECT_EQ(e.GetContext(), "Subtitle Manager object");
  }
  std::thread other([&] { EXPECT_EQ(overlay->SetFitMode(3), S_OK); });
  other.join();
}

TEST_F(PreviewGraphTest, EmptySubtitleFileFailsTheDrawerStageAndLeavesNothing) {
  const std::string movie = Movie("nosubs.avi", "160x120", "-c:v mpeg4 -vtag XVID -c:a libmp3lame");
  Configure(320, 240, 2, true);
  builder_->SetSubtitles(true, "", "A551CAEA-E6D4-4e47-8422-9128EEEE0D46", "en-us");
  builder_->SetWantedMajorType(MEDIATYPE_Video);
  try {
    builder_->AddSourceAndRender(movie);
    ADD_FAILURE() << "no failure without a subtitle file";
  } catch (const HRChecker& e) {
    EXPECT_EQ(e.GetHr(), TAV_E_SUBTITLE_LOAD);
  }
  EXPECT_TRUE(DrawerHostsOf(builder_->Graph()).empty()) << "no renderer left behind";
}

// A phone-like H.264 movie: one key frame for its whole 6 s, and a picture whose red grows
// by 40 a second, so the red of the shown picture tells its time. A seek of the player, and
// a start point set after the position, show the picture at that time (within a frame:
// 40 / 15 of red, plus rounding), not the key frame's.
TEST_F(PreviewGraphTest, PlayerSeeksShowThePictureAtTheirTimeOnALongKeyFrameInterval) {
  const std::string movie = tavtest::TempDir() + "/longgop.mp4";
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                         "\"color=c=black:size=160x120:rate=15,format=rgb24,geq=r='T*40':g=128:b=128\" "
                         "-c:v libx264 -pix_fmt yuv420p -x264-params keyint=120:min-keyint=120:scenecut=0 -t 6 '" +
                         movie + "'"),
            0);
  Configure(160, 120, 0, false);
  ASSERT_EQ(builder_->AddSourceAndRender(movie), S_OK);
  PlayerCore player;
  ASSERT_EQ(player.Attach(builder_->Graph(), builder_->Seeking(), 160, 120, nullptr), S_OK);
  ASSERT_TRUE(player.PointsValid());
  ASSERT_TRUE(SUCCEEDED(player.Pause()));
  auto red = [&] { return int((WindowPicture(builder_->Graph()).At(80, 60) >> 16) & 0xFF); };
  auto showsTime = [&](double seconds) {
    const int want = int(seconds * 40);
    return tavtest::WaitFor([&] { return std::abs(red() - want) <= 6; }, std::chrono::seconds(5));
  };
  ASSERT_TRUE(showsTime(0)) << red();

  ASSERT_EQ(player.Seek(4 * kSecond), S_OK);
  EXPECT_TRUE(showsTime(4)) << "the picture at 4 s, not the key frame at 0: red " << red();
  REFERENCE_TIME position = 0;
  ASSERT_EQ(player.GetPosition(&position), S_OK);
  EXPECT_EQ(position, 4 * kSecond) << "the readout says the same time";

  // The start marker dragged to 5 s (slider value 5/6 of 1000) moves the picture there.
  ASSERT_EQ(player.SetStartFromSlider(833, 0, 1000), S_OK);
  EXPECT_TRUE(showsTime(5)) << "the trim start's picture: red " << red();

  // Back to 2 s through the slider: raised to the start point, which stays exact.
  ASSERT_EQ(player.SeekToSlider(333, 0, 1000), S_OK);
  EXPECT_TRUE(showsTime(5)) << red();
  player.Detach();
}

// A decoder that offers only VIDEOINFOHEADER2: the renderer refuses it and the header adapter
// rewrites the headers.
TEST_F(PreviewGraphTest, VideoInfo2StreamIsDrawnThroughTheHeaderAdapter) {
  CMediaType type(&MEDIATYPE_Video);
  type.SetSubtype(&MEDIASUBTYPE_RGB32);
  type.SetFormatType(&FORMAT_VideoInfo2);
  auto* v = reinterpret_cast<VIDEOINFOHEADER2*>(type.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
  std::memset(v, 0, sizeof *v);
  SetRect(&v->rcSource, 0, 0, 64, 48);
  SetRect(&v->rcTarget, 0, 0, 64, 48);
  v->AvgTimePerFrame = kSecond / 15;
  v->dwPictAspectRatioX = 64;
  v->dwPictAspectRatioY = 48;
  v->bmiHeader = {40, 64, 48, 1, 32, BI_RGB, 64 * 48 * 4, 0, 0, 0, 0};
  type.SetSampleSize(64 * 48 * 4);
  // Nothing registered may step in between: only the adapter can rewrite the headers.
  struct RefuseAll : IFilterVeto {
    bool IsFilterAllowed(void*, const std::string&) override { return false; }
  } veto;
  builder_->SetFilterVeto(&veto);
  auto* source = new tavtest::TestSource(type);
  ComPtr<IBaseFilter> sourceFilter = tavtest::AsFilter(source);
  ASSERT_EQ(builder_->Graph()->AddFilter(sourceFilter.Get(), u"VIDEOINFO2 decoder"), S_OK);
  builder_->SetDrawer(true, 64, 48, 2);
  ASSERT_EQ(builder_->RenderPin(source->OutPin()), S_OK);
  ComPtr<IBaseFilter> adapter;
  builder_->Graph()->FindFilterByName(kHeaderAdapterName, &adapter);
  ASSERT_TRUE(adapter) << "the adapter sits in front of the renderer";
  ASSERT_EQ(DrawerHostsOf(builder_->Graph()).size(), 1u);

  ComPtr<IMediaFilter>(ComPtr<IGraphBuilder>(builder_->Graph()).As<IMediaFilter>())->SetSyncSource(nullptr);
  ASSERT_TRUE(SUCCEEDED(Control()->Pause()));
  std::thread pusher([&] {
    source->NewSegment();
    source->Push(0, kSecond / 15, 0x0000FF00);
  });
  OAFilterState state = 0;
  EXPECT_EQ(Control()->GetState(5000, &state), S_OK);
  AM_MEDIA_TYPE mt{};
  LONG size = 0;
  BYTE* block = nullptr;
  REFERENCE_TIME start = 0, end = 0;
  ASSERT_TRUE(builder_->GetDrawerSnapshot(&mt, &size, &block, &start, &end));
  EXPECT_EQ(size, 64 * 48 * 4);
  EXPECT_EQ(mt.formattype, FORMAT_VideoInfo) << "the renderer sees the rewritten header";
  CoTaskMemFree(block);
  FreeMediaType(mt);
  EXPECT_EQ(WindowPicture(builder_->Graph()).At(32, 24), 0x00FF00u);
  Control()->Stop();
  pusher.join();
}

// ---- PreviewGraph: the preview the form opens and tavrion-probe reads back ----

// A graph that could not be made (Init failed or never ran): the preview fails as a probe
// failure the entry can show, and clearing or stopping it is harmless.
TEST(PreviewWithoutGraph, BuildFailsAndClearingIsHarmless) {
  PreviewGraph preview;
  try {
    preview.Build("/nonexistent/movie.avi", PreviewSettings());
    ADD_FAILURE() << "built without a graph";
  } catch (const HRChecker& e) {
    EXPECT_EQ(e.GetHr(), E_NOINTERFACE);
  }
  preview.Stop();
  preview.Clear();
  PreviewPicture picture;
  EXPECT_FALSE(preview.ShownPicture(&picture));
  EXPECT_FALSE(preview.Seek(0));
}

Picture FromPreview(const PreviewPicture& shown) {
  Picture p;
  p.width = shown.width;
  p.height = shown.height;
  p.px = shown.pixels;
  return p;
}

// The connection type of the first input pin of the first filter of a class.
MediaTypeValue InputTypeOf(IGraphBuilder* graph, const CLSID& clsid) {
  for (const ComPtr<IBaseFilter>& f : FiltersOf(graph)) {
    CLSID c{};
    if (FAILED(f->GetClassID(&c)) || c != clsid) continue;
    ComPtr<IPin> in = FirstPinOf(f.Get(), PINDIR_INPUT);
    ScopedMediaType mt;
    if (in && in->ConnectionMediaType(mt.Out()) == S_OK) return MediaTypeValue(&mt.Get());
  }
  return MediaTypeValue();
}

int FiltersNamed(IGraphBuilder* graph, const std::u16string& prefix) {
  int n = 0;
  for (const ComPtr<IBaseFilter>& f : FiltersOf(graph)) n += FilterName(f.Get()).rfind(prefix, 0) == 0;
  return n;
}

class PreviewOfMovieTest : public PreviewGraphTest {
 protected:
  void SetUp() override {
    PreviewGraphTest::SetUp();
    if (!Ready()) return;
    preview_ = std::make_unique<PreviewGraph>();
    ASSERT_EQ(preview_->Init(), S_OK);
  }
  void TearDown() override {
    if (preview_) preview_->Clear();
    preview_.reset();  // the graph goes before the library's leak check
    PreviewGraphTest::TearDown();
  }
  // A 16:9 movie at 25 pictures a second with 44.1 kHz sound: neither the preview's rate
  // nor its sound format.
  static std::string WideMovie() {
    const std::string path = tavtest::TempDir() + "/wide25.avi";
    EXPECT_TRUE(
        tavtest::GeneratedMovie("-f lavfi -i color=c=0x305070:size=192x108:rate=25 -f lavfi -i "
                                "sine=sample_rate=44100 -c:v mpeg4 -vtag XVID -c:a libmp3lame -t 2",
                                path));
    return path;
  }
  Picture Shown() {
    PreviewPicture shown;
    EXPECT_TRUE(preview_->ShownPicture(&shown));
    return FromPreview(shown);
  }

  std::unique_ptr<PreviewGraph> preview_;
};

// What the form opens for an entry: its frame size, fit and captions, the picture at the
// preview rate and the sound in the camera's format, each from a source of its own; the
// probe then fills the entry from the paused graph.
TEST_F(PreviewOfMovieTest, EntryPreviewShowsItsSettingsAndProbesTheMovie) {
  const std::string movie = WideMovie();
  CConvertOrder entry(movie);
  entry.SetFrameSize(320, 240);
  entry.SetScreenFit(2);
  entry.SetUseSubtitles(true);
  entry.SetSubtitlePath(subtitles_);
  entry.SetSubtitleSize(kDefaultSubtitleSize);
  entry.SetSubtitleLanguage("en-us");
  preview_->Build(movie, PreviewSettings::ForEntry(entry));
  EXPECT_FALSE(preview_->BurnsInCaptions());

  IGraphBuilder* graph = preview_->Graph();
  EXPECT_EQ(FiltersNamed(graph, u"Source: "), 2) << "one source for the picture, one for the sound";
  const MediaTypeValue sound = InputTypeOf(graph, CLSID_DSoundRender);
  const auto* wave = sound.FormatAs<WAVEFORMATEX>();
  ASSERT_TRUE(wave) << "the sound ends in the sound renderer";
  EXPECT_EQ(wave->nSamplesPerSec, 22050u);
  EXPECT_EQ(wave->nChannels, 2);
  EXPECT_EQ(wave->wBitsPerSample, 16);
  const MediaTypeValue picture = InputTypeOf(graph, CLSID_SubtitleRenderer);
  const auto* video = picture.FormatAs<VIDEOINFOHEADER>();
  ASSERT_TRUE(video) << "the picture ends in the subtitle renderer";
  EXPECT_NEAR(double(video->AvgTimePerFrame), kSecond / kPreviewFrameRate, 1.0);

  ASSERT_EQ(preview_->PauseAndWait(5000), S_OK);
  const Picture p = Shown();
  ASSERT_EQ(p.width, 320);
  ASSERT_EQ(p.height, 240);
  EXPECT_TRUE(p.RowIsBlack(2)) << "Fit letterboxes the 16:9 movie";
  EXPECT_TRUE(p.RowIsBlack(237));
  EXPECT_FALSE(p.RowIsBlack(120));
  EXPECT_GT(p.Bright(), 10) << "the English caption at 0 s";

  preview_->ProbeInto(entry);
  EXPECT_NEAR(double(entry.GetDuration()), 2.0 * kSecond, 0.2 * kSecond);
  EXPECT_EQ(entry.GetSourceWidth(), 192);
  EXPECT_EQ(entry.GetSourceHeight(), 108);
  EXPECT_TRUE(entry.IsSeekable());
  EXPECT_EQ(entry.Snapshot().value, DWORD(320 * 240 * 4)) << "the drawer's picture as the snapshot";
  EXPECT_FALSE(entry.GetSubtitleEncoding().empty()) << "the encoding the captions were read in";
}

// Without captions the picture ends in the platform's renderer, unless the drawer is asked
// for; Crop then fills the whole canvas, and a new build replaces the old graph.
TEST_F(PreviewOfMovieTest, DrawerOnlyForCaptionsOrWhenKeptAndCropFillsTheCanvas) {
  const std::string movie = WideMovie();
  PreviewSettings plain;
  plain.fit = 3;
  preview_->Build(movie, plain);
  EXPECT_TRUE(DrawerHostsOf(preview_->Graph()).empty());
  PreviewPicture none;
  EXPECT_FALSE(preview_->ShownPicture(&none)) << "nothing to read back without the drawer";

  PreviewSettings kept = plain;
  kept.width = 640;
  kept.height = 480;
  kept.keepDrawer = true;
  kept.sound = false;
  preview_->Build(movie, kept);
  EXPECT_EQ(FiltersNamed(preview_->Graph(), u"Source: "), 1) << "the old graph is gone, and no sound source";
  ASSERT_EQ(DrawerHostsOf(preview_->Graph()).size(), 1u);
  ASSERT_EQ(preview_->PauseAndWait(5000), S_OK);
  const Picture p = Shown();
  ASSERT_EQ(p.width, 640);
  ASSERT_EQ(p.height, 480);
  for (int y : {1, 240, 478}) EXPECT_FALSE(p.RowIsBlack(y)) << "row " << y;
  for (int x : {1, 638}) EXPECT_FALSE(p.ColumnIsBlack(x)) << "column " << x;
  EXPECT_EQ(p.Bright(), 0) << "no captions";
}

// A subtitle renderer that cannot be made: the form's preview burns the captions in, the
// tool's (which reads the renderer back) fails.
TEST_F(PreviewOfMovieTest, CaptionsAreBurntInWhenTheDrawerCannotBeMade) {
  void* painter = nullptr;
  ASSERT_EQ(RegisterLibrary("captionpainter", &painter), S_OK);
  auto unregister = reinterpret_cast<PFN_DllRegisterServer>(dlsym(painter, "DllUnregisterServer"));
  ASSERT_TRUE(unregister);
  ASSERT_EQ(unregister(), S_OK);
  CoFreeUnusedLibraries();  // no cached class object either

  const std::string movie = WideMovie();
  PreviewSettings settings;
  settings.subtitles = true;
  settings.subtitleFile = subtitles_;
  settings.subtitleLanguage = "en-us";
  preview_->Build(movie, settings);
  EXPECT_TRUE(preview_->BurnsInCaptions());
  EXPECT_TRUE(DrawerHostsOf(preview_->Graph()).empty());
  EXPECT_EQ(FiltersNamed(preview_->Graph(), kBurnInFilterName), 1);
  EXPECT_EQ(FiltersNamed(preview_->Graph(), u"Source: "), 2);

  settings.keepDrawer = true;
  EXPECT_THROW(preview_->Build(movie, settings), HRChecker);
  EXPECT_EQ(RegisterLibrary("captionpainter"), S_OK);
}

// A seek before the pause shows the picture and the caption of the seek time. Captions at
// 0-1 s (one short word) and 2-4 s (a long line), on a movie with a single key frame, so
// the seek lands between key frames as well.
TEST_F(PreviewOfMovieTest, SeekShowsTheCaptionOfTheSeekTime) {
  const std::string movie = tavtest::TempDir() + "/seekcaption.mp4";
  ASSERT_TRUE(
      tavtest::GeneratedMovie("-f lavfi -i color=c=0x305070:size=320x240:rate=15 -c:v libx264 -pix_fmt "
                              "yuv420p -x264-params keyint=120:min-keyint=120:scenecut=0 -t 5",
                              movie));
  PreviewSettings settings;
  settings.subtitles = true;
  settings.subtitleFile = WriteFile("seek.srt",
                                    "1\n00:00:00,000 --> 00:00:01,000\nI\n\n"
                                    "2\n00:00:02,000 --> 00:00:04,000\nMMMMMMMMMMMMMMMM\n\n");
  settings.subtitleLanguage = "en-us";
  settings.sound = false;
  auto brightAt = [&](double seconds) {
    preview_->Build(movie, settings);
    if (seconds > 0) {
      EXPECT_TRUE(preview_->Seek(REFERENCE_TIME(seconds * kSecond)));
    }
    EXPECT_EQ(preview_->PauseAndWait(5000), S_OK);
    return Shown().Bright();
  };
  const int first = brightAt(0);
  EXPECT_GT(first, 5) << "the short caption at 0 s";
  EXPECT_EQ(brightAt(1.5), 0) << "no caption at 1.5 s";
  EXPECT_GT(brightAt(3), 4 * first) << "the long caption at 3 s, not the short one at 0 s";
}

}  // namespace
}  // namespace tav
