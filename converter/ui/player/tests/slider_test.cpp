// The slider over a real graph of test filters (a seekable push source of RGB32 frames into
// a counting renderer): following the player, the status line, thumb scrolling, the
// markers and the play commands.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QToolTip>
#include <QTest>

#include "converter/engine/timetext.h"
#include "converter/ui/player/customslider.h"
#include "platform/streaming/tests/graph_testfilters.h"
#include "platform/streaming/tests/graph_testutil.h"
#include "tests/support/pushgraph.h"

namespace tav::ui {
namespace {

TAV_DEFINE_GUID(kPushClass, 0x3C0001A1, 0x1111, 0x2222, 0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66);
TAV_DEFINE_GUID(kRenderClass, 0x3C0001A2, 0x1111, 0x2222, 0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66);

constexpr REFERENCE_TIME kFrame = tavtest::kPushFrame;

struct NullSink : PlayerEventSink {
  void OnPlayerEvent(PlayerCore*, LONG) override {}
  bool OnMouse(PlayerCore*, MousePhase, int, int, int, int) override { return false; }
  void OnStateChanged(PlayerCore*, int) override {}
};

class SliderTest : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, &graph_), S_OK);
    slider_.resize(1020, 50);  // a channel of 1000 pixels: one value per pixel
    slider_.SetStatusLabel(&status_);
    slider_.show();
  }
  void TearDown() override {
    slider_.SetPlayer(nullptr);
    player_.reset();
    graph_ = nullptr;
    GraphTest::TearDown();
  }
  void Attach(REFERENCE_TIME duration) {
    ASSERT_EQ(tavtest::AddPushGraph(graph_.Get(), kPushClass, kRenderClass, duration), S_OK);
    ASSERT_EQ(player_->Attach(graph_.Get(), nullptr, 320, 240, &sink_), S_OK);
    slider_.SetPlayer(player_.get());
  }
  REFERENCE_TIME Position() {
    REFERENCE_TIME t = -1;
    player_->GetPosition(&t);
    return t;
  }
  QPoint At(int value, CCustomSlider::Part part) {
    const QRect r = part == CCustomSlider::Part::kThumb ? slider_.ThumbRect() : slider_.MarkerRect(part);
    return QPoint(slider_.XOf(value), r.center().y());
  }

  ComPtr<IGraphBuilder> graph_;
  std::unique_ptr<PlayerCore> player_ = std::make_unique<PlayerCore>();
  NullSink sink_;
  CCustomSlider slider_;
  QLabel status_;
};

TEST_F(SliderTest, PixelsMapToValuesByTheRoundingRule) {
  CCustomSlider slider;
  slider.resize(220, 50);  // channel 200 pixels from x = 10
  const QRect channel = slider.ChannelRect();
  ASSERT_EQ(channel.width(), 200);
  EXPECT_EQ(slider.ValueAt(channel.left()), 0);
  EXPECT_EQ(slider.ValueAt(channel.left() + 1), 5);
  EXPECT_EQ(slider.ValueAt(channel.left() + 100), 500);
  EXPECT_EQ(slider.ValueAt(channel.left() - 30), 0);    // kept within the range
  EXPECT_EQ(slider.ValueAt(channel.left() + 260), 1000);
}

TEST_F(SliderTest, MarkersAreHitAndExplainThemselves) {
  CCustomSlider slider;
  slider.resize(220, 50);
  slider.show();
  slider.SetSelection(300, 800);
  slider.SetPos(500);
  using Part = CCustomSlider::Part;
  EXPECT_EQ(slider.HitTest(slider.ThumbRect().center()), Part::kThumb);
  EXPECT_EQ(slider.HitTest(slider.MarkerRect(Part::kStartMarker).center()), Part::kStartMarker);
  EXPECT_EQ(slider.HitTest(slider.MarkerRect(Part::kEndMarker).center()), Part::kEndMarker);
  EXPECT_EQ(slider.MarkerRect(Part::kStartMarker).left() + 8, slider.XOf(300));  // centred under it

  // Hovering a marker shows the second half of its text.
  const QPoint at = slider.MarkerRect(Part::kEndMarker).center();
  QHelpEvent help(QEvent::ToolTip, at, slider.mapToGlobal(at));
  QApplication::sendEvent(&slider, &help);
  EXPECT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 1000));
  EXPECT_EQ(QToolTip::text().toStdString(), "Move to set end point");
  QToolTip::hideText();

  // Both markers at the same place: the one that can still move is taken.
  slider.SetSelection(1000, 1000);
  EXPECT_EQ(slider.HitTest(slider.MarkerRect(Part::kEndMarker).center()), Part::kStartMarker);
  slider.SetSelection(0, 0);
  EXPECT_EQ(slider.HitTest(slider.MarkerRect(Part::kEndMarker).center()), Part::kEndMarker);
}

TEST_F(SliderTest, ThumbAndStatusFollowThePlayer) {
  Attach(250 * kFrame);  // 10 s
  ASSERT_TRUE(SUCCEEDED(player_->Pause()));
  ASSERT_EQ(player_->SeekToSlider(400, 0, 1000), S_OK);
  slider_.UpdateFromPlayer();
  EXPECT_EQ(slider_.Pos(), 400);
  // The duration is shown 10 ms long: 10.01 s still reads 00:10.
  EXPECT_EQ(status_.text().toStdString(), "current 00:04 / total 00:10");
  // The timer does the same on its own.
  ASSERT_EQ(player_->SeekToSlider(700, 0, 1000), S_OK);
  EXPECT_TRUE(QTest::qWaitFor([&] { return slider_.Pos() == 700; }, 2000));
  player_->Detach();
}

TEST_F(SliderTest, DraggingTheThumbPausesSeeksAndRestoresTheState) {
  Attach(250 * kFrame);
  ASSERT_TRUE(SUCCEEDED(player_->Pause()));
  ASSERT_TRUE(SUCCEEDED(player_->Run()));
  ASSERT_EQ(player_->GetState(), PlayerCore::kRunning);

  QTest::mousePress(&slider_, Qt::LeftButton, {}, At(slider_.Pos(), CCustomSlider::Part::kThumb));
  QTest::mouseMove(&slider_, At(300, CCustomSlider::Part::kThumb));
  EXPECT_EQ(player_->GetState(), PlayerCore::kPaused);
  EXPECT_EQ(slider_.Pos(), 300);
  REFERENCE_TIME t = Position();
  EXPECT_GE(t, 75 * kFrame - kFrame);  // the key frame at or before 3 s
  EXPECT_LE(t, 75 * kFrame);
  // While held, the timer does not move the thumb.
  slider_.UpdateFromPlayer();
  EXPECT_EQ(slider_.Pos(), 300);
  QTest::mouseRelease(&slider_, Qt::LeftButton, {}, At(300, CCustomSlider::Part::kThumb));
  EXPECT_EQ(player_->GetState(), PlayerCore::kRunning);
  player_->Detach();
}

TEST_F(SliderTest, MarkersSetTrimPointsAndNeverCross) {
  Attach(100 * kFrame);  // 4 s
  ASSERT_TRUE(SUCCEEDED(player_->Pause()));
  slider_.SetMarkersFromPoints(-1, -1);
  EXPECT_EQ(slider_.SelStart(), 0);
  EXPECT_EQ(slider_.SelEnd(), 1000);

  // The end marker dragged before the current position seeks back to it.
  ASSERT_EQ(player_->Seek(80 * kFrame), S_OK);
  QTest::mousePress(&slider_, Qt::LeftButton, {}, At(1000, CCustomSlider::Part::kEndMarker));
  QTest::mouseMove(&slider_, At(500, CCustomSlider::Part::kEndMarker));
  QTest::mouseRelease(&slider_, Qt::LeftButton, {}, At(500, CCustomSlider::Part::kEndMarker));
  REFERENCE_TIME start = -1, end = -1;
  ASSERT_TRUE(player_->GetPoints(&start, &end));
  EXPECT_EQ(end, 50 * kFrame);
  EXPECT_EQ(Position(), 50 * kFrame);
  EXPECT_EQ(slider_.Pos(), 500);

  // The start marker stops at the end marker.
  QTest::mousePress(&slider_, Qt::LeftButton, {}, At(0, CCustomSlider::Part::kStartMarker));
  QTest::mouseMove(&slider_, At(900, CCustomSlider::Part::kStartMarker));
  QTest::mouseRelease(&slider_, Qt::LeftButton, {}, At(900, CCustomSlider::Part::kStartMarker));
  EXPECT_EQ(slider_.SelStart(), 500);
  ASSERT_TRUE(player_->GetPoints(&start, &end));
  EXPECT_EQ(start, 50 * kFrame);

  // An entry's points place the markers by the slider rule.
  slider_.SetMarkersFromPoints(10 * kFrame, 30 * kFrame);
  EXPECT_EQ(slider_.SelStart(), 100);
  EXPECT_EQ(slider_.SelEnd(), 300);
  ASSERT_TRUE(player_->GetPoints(&start, &end));
  EXPECT_EQ(start, 10 * kFrame);
  EXPECT_EQ(end, 30 * kFrame);
  player_->Detach();
}

TEST_F(SliderTest, StopRewindsAndStopsWithoutAPlayerCommandsFail) {
  EXPECT_EQ(slider_.OnPlay(), E_UNEXPECTED);
  Attach(100 * kFrame);
  ASSERT_TRUE(SUCCEEDED(slider_.OnPlay()));
  EXPECT_EQ(player_->GetState(), PlayerCore::kRunning);
  ASSERT_TRUE(SUCCEEDED(slider_.OnPause()));
  ASSERT_EQ(player_->Seek(40 * kFrame), S_OK);
  ASSERT_EQ(slider_.OnStop(), S_OK);
  EXPECT_EQ(player_->GetState(), PlayerCore::kStopped);
  EXPECT_EQ(Position(), 0);
  EXPECT_EQ(slider_.Pos(), 0);
  player_->Detach();
}

TEST_F(SliderTest, UnknownDurationLeavesTheThumbAtZero) {
  Attach(kUnknownTime);
  ASSERT_TRUE(SUCCEEDED(player_->Pause()));
  slider_.SetPos(600);
  slider_.UpdateFromPlayer();
  EXPECT_EQ(slider_.Pos(), 0);
  EXPECT_TRUE(status_.text().endsWith("total --:--"));
  player_->Detach();
}

}  // namespace
}  // namespace tav::ui
