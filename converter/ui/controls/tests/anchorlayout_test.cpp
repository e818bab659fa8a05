#include <gtest/gtest.h>

#include <QWidget>

#include "converter/ui/controls/anchorlayout.h"

namespace tav::ui {
namespace {

// A parent of 400 x 300 with one child at (100, 50, 80 x 40) per flag value, grown to
// 600 x 450: each child's new rectangle says how its edges followed.
struct Case {
  int flags;
  QRect expected;
};

TEST(AnchorLayout, ChildrenFollowTheirFlagsOnParentResize) {
  const Case cases[] = {
      {15, QRect(100, 50, 280, 190)},   // grows both ways
      {13, QRect(100, 200, 280, 40)},   // stretches horizontally, moves down
      {9, QRect(100, 200, 80, 40)},     // stays left, moves down
      {12, QRect(300, 200, 80, 40)},    // moves right and down
      {6, QRect(300, 50, 80, 40)},      // stays at the top, moves right
      {1 | 2, QRect(100, 50, 80, 40)},  // pinned to the top left
      // Proportional edges: 100 * 600 / 400 = 150, 180 * 1.5 = 270, 50 * 1.5 = 75, 90 * 1.5 = 135.
      {16 | 32 | 64 | 128, QRect(150, 75, 120, 60)},
      {16 | 2 | 4, QRect(150, 50, 230, 40)},
  };
  QWidget parent;
  parent.resize(400, 300);
  CAnchorLayout layout(&parent);
  std::vector<QWidget*> children;
  for (const Case& c : cases) {
    auto* child = new QWidget(&parent);
    child->setGeometry(100, 50, 80, 40);
    layout.Add(child, c.flags);
    children.push_back(child);
  }
  parent.show();
  parent.resize(600, 450);
  for (size_t i = 0; i < children.size(); ++i) {
    EXPECT_EQ(children[i]->geometry(), cases[i].expected) << "flags " << cases[i].flags;
  }
  // Back to the original size: every child is where it started (no drift).
  parent.resize(400, 300);
  for (QWidget* child : children) EXPECT_EQ(child->geometry(), QRect(100, 50, 80, 40));
}

TEST(AnchorLayout, EmptyChildIsHiddenAndShownAgain_OthersHiddenStayHidden) {
  QWidget parent;
  parent.resize(400, 300);
  CAnchorLayout layout(&parent);
  auto* growing = new QWidget(&parent);
  growing->setGeometry(10, 10, 50, 50);  // 15: shrinks with the parent
  auto* keptHidden = new QWidget(&parent);
  keptHidden->setGeometry(10, 10, 50, 50);
  layout.Add(growing, 15);
  layout.Add(keptHidden, 15);
  parent.show();
  keptHidden->hide();  // hidden by its owner, not by the layout

  parent.resize(340, 300);  // 60 narrower: the 50-wide children become empty
  EXPECT_TRUE(growing->isHidden());
  parent.resize(420, 320);
  EXPECT_FALSE(growing->isHidden());
  EXPECT_EQ(growing->geometry(), QRect(10, 10, 70, 70));
  EXPECT_TRUE(keptHidden->isHidden());
}

TEST(AnchorLayout, ChildAddedAfterAResizeUsesTheSameReference) {
  QWidget parent;
  parent.resize(400, 300);
  CAnchorLayout layout(&parent);
  auto* first = new QWidget(&parent);
  first->setGeometry(0, 0, 100, 100);
  layout.Add(first, 15);
  parent.show();
  parent.resize(500, 300);
  auto* late = new QWidget(&parent);
  late->setGeometry(400, 10, 50, 20);  // placed for the 500-wide parent
  layout.Add(late, 12 | 2);            // moves right, keeps its top
  parent.resize(600, 300);
  EXPECT_EQ(late->geometry(), QRect(500, 10, 50, 20));
  EXPECT_EQ(first->geometry(), QRect(0, 0, 300, 100));
}

TEST(AnchorLayout, WindowRectangleTextRoundTripsAndBadTextIsIgnored) {
  EXPECT_EQ(CAnchorLayout::FormatWindowRect(QRect(10, 20, 300, 200)), "10, 20, 310, 220");
  EXPECT_EQ(CAnchorLayout::ParseWindowRect("10, 20, 310, 220"), QRect(10, 20, 300, 200));
  EXPECT_EQ(CAnchorLayout::ParseWindowRect("-5,0,95,100"), QRect(-5, 0, 100, 100));
  EXPECT_FALSE(CAnchorLayout::ParseWindowRect(""));
  EXPECT_FALSE(CAnchorLayout::ParseWindowRect("10, 20, 310"));
  EXPECT_FALSE(CAnchorLayout::ParseWindowRect("left, top, right, bottom"));

  QWidget window;
  window.resize(200, 100);
  EXPECT_FALSE(CAnchorLayout::RestoreWindowRect(&window, "garbage"));
  EXPECT_EQ(window.size(), QSize(200, 100));
  // Widened to the minimum size.
  ASSERT_TRUE(CAnchorLayout::RestoreWindowRect(&window, "30, 40, 130, 540", QSize(250, 200)));
  EXPECT_EQ(window.size(), QSize(250, 500));
}

}  // namespace
}  // namespace tav::ui
