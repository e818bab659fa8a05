// The player window over a real preview graph (a movie made by the ffmpeg program, the
// platform's filters and the video kit registered): the graph's video window is hosted at
// the video rectangle whoever attaches the graph, and let go again on detach.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <fstream>

#include "converter/engine/convertorder.h"
#include "converter/engine/filtergraphbuilder.h"
#include "converter/ui/bridge/windowhost.h"
#include "converter/ui/player/customslider.h"
#include "converter/ui/player/playerwnd.h"
#include "converter/ui/player/stillimage.h"
#include "platform/streaming/tests/graph_testutil.h"
#include "tests/support/moviegraphtest.h"
#include "tests/support/testenv.h"

namespace tav::ui {
namespace {

struct RecordingSink : PlayerEventSink {
  std::vector<int> states;
  std::vector<MousePhase> mouse;
  void OnPlayerEvent(PlayerCore*, LONG) override {}
  bool OnMouse(PlayerCore*, MousePhase phase, int, int, int, int) override {
    mouse.push_back(phase);
    return false;
  }
  void OnStateChanged(PlayerCore*, int state) override { states.push_back(state); }
};

// True when most of the middle of a 400 x 300 player is strongly coloured: the test pattern's
// colour bars are on show, not a black or grey window.
bool ShowsColourBars(CPlayerWnd& player) {
  const QImage image = player.grab().toImage();
  int saturated = 0, total = 0;
  for (int y = 30; y < 270; y += 8) {
    for (int x = 40; x < 360; x += 8, ++total) saturated += image.pixelColor(x, y).saturation() > 100;
  }
  return saturated * 2 > total;
}

class PlayerFilesTest : public tavtest::MovieGraphTest {
 protected:
  PlayerFilesTest() : MovieGraphTest({"tavrionfilters", "vxvideokit", "captionparser", "captionpainter"}) {}
  void SetUp() override {
    MovieGraphTest::SetUp();
    if (!Ready()) return;
    movie_ = tavtest::TempDir() + "/clip.avi";
    ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=15 "
                           "-c:v mjpeg -t 2 '" + movie_ + "'"),
              0);
    // A preview as the form makes it: 15 fps, resized to the entry's frame size.
    builder_ = std::make_unique<FilterGraphBuilder>();
    ASSERT_EQ(builder_->Init(), S_OK);
    builder_->SetConversionMode(false);
    builder_->SetFrameRate(true, 15.0);
    builder_->SetResize(true, 320, 240, 2);
    builder_->SetAudioTarget(true, 22050, 2, 16);
    ASSERT_EQ(builder_->AddSourceAndRender(movie_), S_OK);
    builder_->FinishGraph(false);
  }
  void TearDown() override {
    if (!builder_) return;
    player_.reset();
    builder_.reset();
    GraphTest::TearDown();
  }

  std::string movie_;
  std::unique_ptr<FilterGraphBuilder> builder_;
  std::unique_ptr<CPlayerWnd> player_ = std::make_unique<CPlayerWnd>();
  RecordingSink sink_;
};

TEST_F(PlayerFilesTest, PreviewVideoWindowIsHostedAtTheVideoRectangle) {
  player_->resize(400, 300);
  player_->show();
  ASSERT_EQ(player_->Attach(builder_.get(), 320, 240, &sink_), S_OK);
  IVideoWindow* window = player_->Core()->VideoWindow();
  ASSERT_NE(window, nullptr);
  OAHWND owner = 0;
  ASSERT_EQ(window->get_Owner(&owner), S_OK);
  EXPECT_EQ(reinterpret_cast<HWND>(owner), player_->VideoHost()->Hwnd());
  EXPECT_FALSE(player_->VideoHost()->isHidden());
  // The picture fits the window, so it fills it with its aspect kept.
  EXPECT_EQ(player_->VideoHost()->geometry(), QRect(0, 0, 400, 300));
  LONG l = -1, t = -1, w = 0, h = 0;
  ASSERT_EQ(window->GetWindowPosition(&l, &t, &w, &h), S_OK);
  EXPECT_EQ(QRect(l, t, w, h), QRect(0, 0, 400, 300));
  EXPECT_TRUE(SUCCEEDED(player_->Pause()));
  // The paused graph's first picture shows in the host: the test pattern's colour bars.
  const bool shown = QTest::qWaitFor([&] { return ShowsColourBars(*player_); }, 5000);
  EXPECT_TRUE(shown) << "no picture from the renderer";

  // A smaller window: the fitted video shrinks with it; at actual size it keeps its native
  // size and can be panned; the owner hears the mouse.
  player_->resize(200, 160);
  EXPECT_EQ(player_->VideoHost()->geometry(), QRect(0, 5, 200, 150));
  player_->SetZoom(false);
  EXPECT_EQ(player_->VideoHost()->geometry(), QRect(-60, -40, 320, 240));
  QTest::mousePress(player_.get(), Qt::LeftButton, {}, QPoint(100, 80));
  QTest::mouseMove(player_.get(), QPoint(130, 90));
  QTest::mouseRelease(player_.get(), Qt::LeftButton, {}, QPoint(130, 90));
  EXPECT_EQ(player_->VideoHost()->geometry(), QRect(-30, -30, 320, 240));
  EXPECT_EQ(sink_.mouse, (std::vector<MousePhase>{MousePhase::kPress, MousePhase::kMove, MousePhase::kRelease}));

  player_->Detach();
  EXPECT_TRUE(player_->VideoHost()->isHidden());
  EXPECT_EQ(sink_.states.back(), PlayerCore::kNoGraph);
  ASSERT_EQ(builder_->Graph()->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&window)), S_OK);
  EXPECT_EQ(window->get_Owner(&owner), S_OK);
  EXPECT_EQ(owner, 0);
  window->Release();
}

// The form opens a movie given on the command line before its window is first shown: the
// paused picture drawn then must still be there once the window appears and the host has
// been resized to its place.
TEST_F(PlayerFilesTest, APausedPictureDrawnWhileHiddenShowsWhenTheWindowAppears) {
  player_->resize(400, 300);
  ASSERT_EQ(player_->Attach(builder_.get(), 320, 240, &sink_), S_OK);
  EXPECT_TRUE(SUCCEEDED(player_->Pause()));
  ASSERT_TRUE(QTest::qWaitFor([&] { return player_->Core()->GetState() == PlayerCore::kPaused; }, 5000));
  player_->show();
  EXPECT_TRUE(QTest::qWaitFor([&] { return ShowsColourBars(*player_); }, 5000))
      << "the paused picture was lost when the host was resized";
  player_->Detach();
}

TEST_F(PlayerFilesTest, AGraphAttachedToTheCoreDirectlyIsHostedToo) {
  // The conversion run attaches its graph to the core it was lent.
  player_->resize(400, 300);
  player_->show();
  ASSERT_EQ(player_->Core()->Attach(builder_->Graph(), builder_->Seeking(), 320, 240, &sink_), S_OK);
  EXPECT_FALSE(player_->VideoHost()->isHidden());
  EXPECT_EQ(player_->VideoHost()->geometry(), QRect(0, 0, 400, 300));
  player_->Core()->Detach();
  EXPECT_TRUE(player_->VideoHost()->isHidden());
}

// Pixels much lighter than the dark test picture: caption text.
int Bright(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) n += qGray(image.pixel(x, y)) > 0xC0;
  }
  return n;
}

TEST_F(PlayerFilesTest, StillPictureShowsTheEntrysSnapshotWithItsCaptions) {  // A dark movie, so that every bright pixel belongs to a caption.
  const std::string dir = tavtest::MakeTempSubdir("still");
  const std::string movie = dir + "/dark.avi", subtitles = dir + "/dark.smi";
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=0x305070:size=320x240:rate=15 "
                         "-c:v mjpeg -t 2 '" + movie + "'"),
            0);
  std::ofstream(subtitles) << "<SAMI><HEAD><STYLE TYPE=\"text/css\"><!--\n"
                              "P { text-align:center; color:white; }\n"
                              ".ENCC { Name:English; lang:en-US; SAMIType:CC; }\n"
                              "--></STYLE></HEAD><BODY>\n"
                              "<SYNC Start=0><P Class=ENCC>HELLO THERE\n"
                              "<SYNC Start=60000><P Class=ENCC>&nbsp;\n"
                              "</BODY></SAMI>\n";

  CConvertOrder entry(movie);
  entry.SetSubtitlePath(subtitles);
  entry.SetUseSubtitles(true);
  entry.SetSubtitleSize("A551CAEA-E6D4-4e47-8422-9128EEEE0D46");
  entry.SetSubtitleLanguage("en-us");
  CPlayerWnd& player = *player_;
  player.resize(400, 300);
  {
    // The probe of a preview leaves the entry its snapshot (without captions, as they are
    // drawn over the picture).
    FilterGraphBuilder builder;
    ASSERT_EQ(builder.Init(), S_OK);
    builder.SetFrameRate(true, 15.0);
    builder.SetResize(true, 320, 240, 2);
    builder.SetDrawer(true, 320, 240, 2);
    builder.SetSubtitles(true, subtitles, entry.GetSubtitleSize(), entry.GetSubtitleLanguage());
    ASSERT_EQ(builder.AddSourceAndRender(movie), S_OK);
    builder.FinishGraph(false);
    ASSERT_EQ(player.Attach(&builder, 320, 240, nullptr), S_OK);
    ASSERT_TRUE(SUCCEEDED(player.Pause()));
    // Live settings reach the preview's drawer.
    EXPECT_EQ(player.SetSubtitleLanguage("en-us"), S_OK);
    EXPECT_EQ(player.EnableSubtitles(true), S_OK);
    entry.UpdateFromGraph(builder);
    player.Detach();
  }
  ASSERT_TRUE(entry.Snapshot().block);

  player.ShowStill(&entry);
  ASSERT_FALSE(player.StillImage().isNull());
  EXPECT_EQ(player.StillImage().size(), QSize(320, 240));
  const int captioned = Bright(player.StillImage());
  // The picture itself, not only black around the caption.
  EXPECT_EQ(QColor(player.StillImage().pixel(20, 20)).blue() / 16, 0x70 / 16);
  const QImage shown = player.grab().toImage();
  EXPECT_EQ(shown.copy(player.VideoRect()).pixel(10, 10), player.StillImage().pixel(10, 10));

  entry.SetUseSubtitles(false);
  player.EnableSubtitles(false);  // no preview: the still is drawn again from the entry
  const int plain = Bright(player.StillImage());
  EXPECT_GT(captioned, 50) << "the caption is drawn over the still picture";
  EXPECT_LT(plain, 10);

  player.ShowStill(nullptr);
  EXPECT_TRUE(player.StillImage().isNull());
  EXPECT_EQ(player.VideoRect(), QRect(0, 0, 400, 300));
}

// A picture is fitted to the window; at actual size one larger than the window is cropped
// and panned, and the user is told: the status line says so, the tooltip says how to move
// or fit it, and the context menu offers "Fit to window" and "Actual size", as the
// double-click does.
TEST_F(PlayerFilesTest, ActualSizeView_IsToldByStatusLineTooltipAndContextMenu) {
  QLabel status;
  // The line as the user reads it (the note is set in a lighter weight than the times).
  auto line = [&] { return QString(status.text()).remove(QRegularExpression("<[^>]*>")); };
  CCustomSlider slider;
  slider.SetPlayer(player_->Core());
  slider.SetStatusLabel(&status);
  QObject::connect(player_.get(), &CPlayerWnd::croppedChanged, &slider, &CCustomSlider::SetCroppedView);
  player_->setToolTip("Preview");
  player_->resize(400, 300);
  player_->show();
  ASSERT_EQ(player_->Attach(builder_.get(), 320, 240, &sink_), S_OK);
  ASSERT_TRUE(SUCCEEDED(player_->Pause()));
  slider.UpdateFromPlayer();
  EXPECT_FALSE(player_->IsCropped()) << "320 x 240 fits a 400 x 300 window";
  EXPECT_TRUE(player_->FitAction()->isChecked());
  EXPECT_TRUE(line().startsWith("current ")) << line().toStdString();
  EXPECT_FALSE(line().contains("actual size"));

  // Smaller than the picture: fitted, nothing cut off; at actual size, cropped.
  player_->resize(200, 160);
  EXPECT_FALSE(player_->IsCropped());
  EXPECT_EQ(player_->VideoHost()->geometry(), QRect(0, 5, 200, 150));
  player_->ActualSizeAction()->trigger();
  EXPECT_TRUE(player_->IsCropped());
  EXPECT_TRUE(player_->FitAction()->isEnabled());
  EXPECT_TRUE(player_->ActualSizeAction()->isChecked());
  EXPECT_TRUE(line().endsWith(" - actual size, drag to move")) << line().toStdString();
  slider.UpdateFromPlayer();
  EXPECT_TRUE(line().startsWith("current ")) << "the times stay";
  EXPECT_TRUE(line().endsWith("actual size, drag to move"));
  QHelpEvent help(QEvent::ToolTip, QPoint(50, 50), player_->mapToGlobal(QPoint(50, 50)));
  QApplication::sendEvent(player_.get(), &help);
  EXPECT_TRUE(QToolTip::text().startsWith("Preview\n")) << QToolTip::text().toStdString();
  EXPECT_TRUE(QToolTip::text().contains("drag to move the picture"));
  EXPECT_TRUE(QToolTip::text().contains("double-click to fit it"));

  // The context menu holds both choices; "Fit to window" fits the whole picture.
  QStringList offered;
  QTimer::singleShot(0, [&] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      for (QAction* a : menu->actions()) offered << a->text();
      menu->close();
    }
  });
  QContextMenuEvent context(QContextMenuEvent::Mouse, QPoint(50, 50), player_->mapToGlobal(QPoint(50, 50)));
  QApplication::sendEvent(player_.get(), &context);
  EXPECT_EQ(offered, (QStringList{"&Fit to window", "&Actual size"}));
  player_->FitAction()->trigger();
  EXPECT_TRUE(player_->IsZoomed());
  EXPECT_FALSE(player_->IsCropped());
  EXPECT_EQ(player_->VideoHost()->geometry(), QRect(0, 5, 200, 150));
  EXPECT_FALSE(line().contains("actual size")) << line().toStdString();
  EXPECT_TRUE(player_->ViewHint().contains("double-click to show it at actual size"));

  // A double-click goes back to actual size, as "Actual size" does.
  QTest::mouseDClick(player_.get(), Qt::LeftButton, {}, QPoint(50, 50));
  EXPECT_FALSE(player_->IsZoomed());
  EXPECT_TRUE(player_->IsCropped());
  EXPECT_TRUE(line().endsWith("actual size, drag to move"));
  player_->FitAction()->trigger();
  player_->ActualSizeAction()->trigger();
  EXPECT_TRUE(player_->IsCropped());

  // Without a graph nothing is cropped any more.
  player_->Detach();
  EXPECT_FALSE(player_->IsCropped());
  EXPECT_FALSE(line().contains("actual size"));
}

}  // namespace
}  // namespace tav::ui
