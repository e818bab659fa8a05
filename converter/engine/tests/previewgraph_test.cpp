// The preview graph with the subtitle drawer over real movies (made by the ffmpeg program)
// and the platform's, video kit's, caption and painter libraries registered: it pauses on a
// composed first picture, the entry reads its probe from it, live changes of fit, frame
// size, language, caption size and caption drawing show at once, and a decoder that offers
// only VIDEOINFOHEADER2 is drawn through the header adapter; the player's seeks show the
// picture at their time on a movie with one key frame in eight seconds.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "converter/engine/convertorder.h"
#include "converter/engine/drawerstage.h"
#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/player.h"
#include "libs/captionpainter/captionpainter.h"
#include "media/contract/uuids.h"
#include "platform/streaming/tests/graph_testutil.h"
#include "tests/support/filterharness.h"
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

class PreviewGraphTest : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
    GraphTest::SetUp();
    for (const char* lib : {"tavrionfilters", "vxvideokit", "captionparser", "captionpainter"})
      ASSERT_EQ(RegisterLibrary(lib), S_OK) << lib;
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
    builder_->SetFrameRate(true, 15.0);
    builder_->SetAudioTarget(true, 22050, 2, 16);
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

// graphinfo --preview --snapshot: a 352 x 240 movie at 640 x 480 with Fit has black rows
// at top and bottom, and the caption of the chosen language; read back with ffmpeg.
class GraphinfoSnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed";
  }
  // The snapshot's pixels as RGB24 rows, decoded by ffmpeg; empty when the tool failed.
  std::string Snapshot(const std::string& movie, const std::string& args, const std::string& name) {
    const std::string png = tavtest::TempDir() + "/" + name;
    const int status = tavtest::Run("'" + tavtest::ProgramPath("graphinfo") + "' --preview '" + movie + "' " + args +
                                    " --snapshot '" + png + "' >/dev/null 2>&1");
    EXPECT_EQ(status, 0) << args;
    if (status != 0) return std::string();
    return tavtest::Capture("ffmpeg -nostdin -loglevel error -i '" + png + "' -f rawvideo -pix_fmt rgb24 -");
  }
};

bool RowBlack(const std::string& rgb, int width, int y) {
  for (int x = 0; x < width * 3; ++x)
    if (uint8_t(rgb[size_t(y) * width * 3 + x]) > 16) return false;
  return true;
}

int RowsDiffering(const std::string& a, const std::string& b, int width, int from, int to) {
  int n = 0;
  for (int y = from; y < to; ++y)
    if (a.compare(size_t(y) * width * 3, size_t(width) * 3, b, size_t(y) * width * 3, size_t(width) * 3) != 0) ++n;
  return n;
}

TEST_F(GraphinfoSnapshotTest, FitLetterboxesAndTheChosenLanguageIsDrawn) {
  const std::string movie = tavtest::TempDir() + "/ntsc.avi";
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=0x305070:size=352x240:rate=30 "
                         "-c:v mpeg4 -vtag XVID -t 2 '" + movie + "'"),
            0);
  const std::string sami = WriteFile("snap.smi",
                                     "<SAMI><HEAD><STYLE TYPE=\"text/css\"><!--\n"
                                     "P { text-align:center; color:white; }\n"
                                     ".ENCC { Name:English; lang:en-US; SAMIType:CC; }\n"
                                     ".KRCC { Name:Korean; lang:ko-KR; SAMIType:CC; }\n"
                                     "--></STYLE></HEAD><BODY>\n"
                                     "<SYNC Start=0><P Class=ENCC>Lights\n"
                                     "<SYNC Start=0><P Class=KRCC>MMMMMMMMMMMMMMMMMMMM\n"
                                     "</BODY></SAMI>\n");
  const std::string base = "--size 640x480 --fit fit --subtitles '" + sami + "'";
  const std::string english = Snapshot(movie, base + " --language en-us", "en.png");
  const std::string korean = Snapshot(movie, base + " --language ko-kr", "ko.png");
  const std::string none = Snapshot(movie, "--size 640x480 --fit fit", "none.png");
  ASSERT_EQ(english.size(), size_t(640 * 480 * 3));
  ASSERT_EQ(korean.size(), english.size());
  ASSERT_EQ(none.size(), english.size());
  // 352 x 240 fitted into 640 x 480 is 640 x 436 at top 22.
  for (int y : {0, 10, 21, 458, 470, 479}) EXPECT_TRUE(RowBlack(none, 640, y)) << "row " << y;
  for (int y : {23, 240, 456}) EXPECT_FALSE(RowBlack(none, 640, y)) << "row " << y;
  // Captions sit in the lower part of the picture, and differ between the languages.
  EXPECT_GT(RowsDiffering(english, none, 640, 240, 480), 10);
  EXPECT_GT(RowsDiffering(korean, none, 640, 240, 480), 10);
  EXPECT_GT(RowsDiffering(korean, english, 640, 240, 480), 10);
  EXPECT_EQ(RowsDiffering(english, none, 640, 0, 120), 0) << "nothing but the caption changes";
}

// graphinfo --preview --seek S: the caption drawn is the one at S in the movie. Captions at
// 0-1 s (one short word) and 2-4 s (a long line), on a movie with a single key frame, so
// the seek lands between key frames as well.
TEST_F(GraphinfoSnapshotTest, SeekDrawsTheCaptionOfTheSeekTime) {
  const std::string movie = tavtest::TempDir() + "/seekcaption.mp4";
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=0x305070:size=320x240:rate=15 "
                         "-c:v libx264 -pix_fmt yuv420p -x264-params keyint=120:min-keyint=120:scenecut=0 -t 5 '" +
                         movie + "'"),
            0);
  const std::string srt = WriteFile("seek.srt",
                                    "1\n00:00:00,000 --> 00:00:01,000\nI\n\n"
                                    "2\n00:00:02,000 --> 00:00:04,000\nMMMMMMMMMMMMMMMM\n\n");
  auto bright = [](const std::string& rgb) {
    int n = 0;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
      n += uint8_t(rgb[i]) > 0xC0 && uint8_t(rgb[i + 1]) > 0xC0 && uint8_t(rgb[i + 2]) > 0xC0;
    return n;
  };
  const std::string base = "--size 320x240 --fit fit --subtitles '" + srt + "'";
  const std::string first = Snapshot(movie, base, "c0.png");
  const std::string between = Snapshot(movie, base + " --seek 1.5", "c15.png");
  const std::string second = Snapshot(movie, base + " --seek 3", "c3.png");
  ASSERT_EQ(first.size(), size_t(320 * 240 * 3));
  ASSERT_EQ(second.size(), first.size());
  ASSERT_EQ(between.size(), first.size());
  EXPECT_GT(bright(first), 5) << "the short caption at 0 s";
  EXPECT_EQ(bright(between), 0) << "no caption at 1.5 s";
  EXPECT_GT(bright(second), 4 * bright(first)) << "the long caption at 3 s, not the short one at 0 s";
}

}  // namespace
}  // namespace tav
