// The main frame alone: placement kept in the profile and restored (a bad value ignored, a
// small one widened), the minimum size of the form, the texts and accelerators of its
// commands, the recent-file list.
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include "converter/ui/app/mainframe.h"
#include "converter/ui/app/profilesettings.h"
#include "tests/support/testenv.h"

namespace tav::ui {
namespace {

std::string FreshProfile(const char* name) { return tavtest::MakeTempSubdir(name) + "/frame.ini"; }

// Delivers what the window system and the widgets have queued (the geometry change, then the
// layout requests it causes) without waiting for time to pass.
void DeliverQueuedEvents() {
  for (int round = 0; round < 3; ++round) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
}

TEST(WindowPos, ParsesFourNumbersAndRejectsTheRest) {
  EXPECT_EQ(ParseWindowPos("10, 20, 710, 620"), QRect(10, 20, 700, 600));
  EXPECT_EQ(ParseWindowPos("10,20,710,620"), QRect(10, 20, 700, 600));
  EXPECT_EQ(ParseWindowPos("-5, -6, 100, 200"), QRect(-5, -6, 105, 206));
  EXPECT_FALSE(ParseWindowPos(""));
  EXPECT_FALSE(ParseWindowPos("10, 20, 30"));
  EXPECT_FALSE(ParseWindowPos("left, top, right, bottom"));
  EXPECT_FALSE(ParseWindowPos("10; 20; 30; 40"));
  // Reversed edges give an empty rectangle (widened by the frame), never a negative size.
  const auto reversed = ParseWindowPos("500, 500, 100, 100");
  ASSERT_TRUE(reversed);
  EXPECT_EQ(reversed->size(), QSize(0, 0));
  EXPECT_EQ(FormatWindowPos(QRect(10, 20, 700, 600)), "10, 20, 710, 620");
}

TEST(MainFrame, Placement_RoundTripsThroughTheProfile) {
  const std::string profile = FreshProfile("roundtrip");
  QRect placed;
  {
    CMainFrame frame;
    frame.SetProfile(profile);
    frame.RestorePlacement();
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    const QRect wanted(40, 50, frame.width() + 30, frame.height() + 20);
    frame.setGeometry(wanted);
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.geometry() == wanted; }));
    placed = frame.geometry();
    frame.close();
  }
  EXPECT_EQ(ReadProfileString(profile, kMainFrameSection, kWindowPosKey), FormatWindowPos(placed));

  CMainFrame again;
  again.SetProfile(profile);
  again.RestorePlacement();
  again.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
  EXPECT_EQ(again.geometry(), placed);
}

TEST(MainFrame, Placement_IsSavedEvenWhenTheWindowWasNeverMoved) {
  const std::string profile = FreshProfile("unmoved");
  QRect shown;
  {
    CMainFrame frame;
    frame.SetProfile(profile);
    frame.RestorePlacement();
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    shown = frame.geometry();
    frame.close();
  }
  EXPECT_EQ(ParseWindowPos(ReadProfileString(profile, kMainFrameSection, kWindowPosKey)), shown);
}

TEST(MainFrame, BadOrSmallWindowPos_IsIgnoredOrWidened) {
  const std::string profile = FreshProfile("badpos");
  CMainFrame reference;
  const QSize fitted = reference.size();

  WriteProfileString(profile, kMainFrameSection, kWindowPosKey, "garbage, 1, 2");
  CMainFrame bad;
  bad.SetProfile(profile);
  bad.RestorePlacement();
  EXPECT_EQ(bad.size(), fitted);

  WriteProfileString(profile, kMainFrameSection, kWindowPosKey, "30, 40, 60, 70");
  CMainFrame small;
  small.SetProfile(profile);
  small.RestorePlacement();
  small.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&small));
  EXPECT_EQ(small.geometry().topLeft(), QPoint(30, 40));
  EXPECT_GE(small.width(), small.minimumSizeHint().width());
  EXPECT_GE(small.height(), small.minimumSizeHint().height());
}

TEST(MainFrame, CannotShrinkBelowTheForm) {
  CMainFrame frame;
  auto* form = new QWidget;
  form->setMinimumSize(500, 400);
  frame.SetView(form);
  frame.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
  frame.resize(100, 80);
  DeliverQueuedEvents();
  EXPECT_GE(form->width(), 500);
  EXPECT_GE(form->height(), 400);
  EXPECT_GT(frame.height(), 400);  // plus menu, tool bar and status bar
}

TEST(MainFrame, CommandsCarryTheirTextsShortcutsAndIds) {
  CMainFrame frame;
  QSignalSpy spy(frame.Actions().fileNew, &QAction::triggered);
  // The string-table ids still name the commands.
  EXPECT_EQ(frame.Action(ID_FILE_NEW), frame.Actions().fileNew);
  EXPECT_EQ(frame.Action(ID_FILE_MRU_FILE1 + 8), frame.Actions().recentFiles[8]);
  EXPECT_EQ(frame.Action(ID_FILE_MRU_FILE1 + 9), nullptr);
  EXPECT_EQ(frame.Action(ID_FILE_OPEN)->text(), QStringLiteral("&Open..."));
  EXPECT_EQ(frame.Action(ID_FILE_OPEN)->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
  EXPECT_EQ(frame.Action(ID_FILE_NEW)->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
  EXPECT_EQ(frame.Action(ID_FILE_SAVE)->statusTip(), QStringLiteral("Save the batch"));
  EXPECT_EQ(frame.Action(ID_FILE_SAVE)->toolTip(), QStringLiteral("Save"));
  EXPECT_TRUE(frame.windowTitle().startsWith(QStringLiteral("Tavrion Converter")));
  auto* idle = frame.statusBar()->findChild<QLabel*>(QStringLiteral("idleMessage"));
  ASSERT_NE(idle, nullptr);
  EXPECT_EQ(idle->text(), QStringLiteral("For Help, press F1"));

  frame.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
  frame.activateWindow();
  QTest::keyClick(&frame, Qt::Key_N, Qt::ControlModifier);
  EXPECT_EQ(spy.count(), 1);
}

TEST(RecentFileList, KeepsNineNewestFirstWithoutDuplicates) {
  const std::string profile = FreshProfile("recent");
  RecentFileList list;
  for (int i = 1; i <= 11; ++i) list.Add(QStringLiteral("/movies/m%1.avi").arg(i));
  list.Add(QStringLiteral("/movies/m5.avi"));
  ASSERT_EQ(list.Files().size(), 9);
  EXPECT_EQ(list.Files()[0], QStringLiteral("/movies/m5.avi"));
  EXPECT_EQ(list.Files()[1], QStringLiteral("/movies/m11.avi"));
  EXPECT_EQ(list.Files().count(QStringLiteral("/movies/m5.avi")), 1);
  list.Save(profile);

  RecentFileList loaded;
  loaded.Load(profile);
  EXPECT_EQ(loaded.Files(), list.Files());
  loaded.Remove(0);
  loaded.Save(profile);
  RecentFileList shorter;
  shorter.Load(profile);
  EXPECT_EQ(shorter.Files().size(), 8);
}

}  // namespace
}  // namespace tav::ui
