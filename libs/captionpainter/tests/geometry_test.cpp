// Where the drawer puts a frame on its canvas for each fit mode, and when it composes,
// scales the video or scales the canvas.
#include <gtest/gtest.h>

#include "libs/captionpainter/drawergeometry.h"

namespace {

RECT R(int l, int t, int r, int b) { return RECT{l, t, r, b}; }

void ExpectRect(const RECT& r, int l, int t, int w, int h) {
  EXPECT_EQ(r.left, l);
  EXPECT_EQ(r.top, t);
  EXPECT_EQ(r.right - r.left, w);
  EXPECT_EQ(r.bottom - r.top, h);
}

TEST(DrawerGeometry, FitModesPlaceA4by3FrameOnAWideCanvas) {
  const RECT source = R(0, 0, 640, 480), target = R(0, 0, 640, 360);
  // Stretch: the whole canvas.
  DrawerGeometry g = ComputeDrawerGeometry(source, target, 640, 360, 0, false);
  ExpectRect(g.videoDest, 0, 0, 640, 360);
  EXPECT_FALSE(g.compose) << "fit 0 without a manager draws as the plain image drawer";
  EXPECT_TRUE(g.scaleVideo);
  // Centred, unscaled: overhangs top and bottom by 60.
  g = ComputeDrawerGeometry(source, target, 640, 360, 1, false);
  ExpectRect(g.videoDest, 0, -60, 640, 480);
  EXPECT_TRUE(g.compose);
  EXPECT_FALSE(g.scaleVideo);
  // Inside with bars: 480 x 360 at left 80.
  g = ComputeDrawerGeometry(source, target, 640, 360, 2, false);
  ExpectRect(g.videoDest, 80, 0, 480, 360);
  EXPECT_TRUE(g.scaleVideo);
  // Crop: 640 x 480 at top -60.
  g = ComputeDrawerGeometry(source, target, 640, 360, 3, false);
  ExpectRect(g.videoDest, 0, -60, 640, 480);
  EXPECT_FALSE(g.scaleVideo);
}

TEST(DrawerGeometry, FitInsideLetterboxesAWideFrameAndRoundsLikeMulDiv) {
  // 352 x 240 into 640 x 480: width 640, height 640 * 240 / 352 = 436.36 -> 436, top 22.
  DrawerGeometry g = ComputeDrawerGeometry(R(0, 0, 352, 240), R(0, 0, 640, 480), 640, 480, 2, false);
  ExpectRect(g.videoDest, 0, 22, 640, 436);
  // 100 x 30 into 100 x 100 with rounding up: 100 * 30 / 100 = 30; 7 x 3 into 10 x 10:
  // 10 * 3 / 7 = 4.29 -> 4; crop gives 10 * 7 / 3 = 23.3 -> 23 wide.
  g = ComputeDrawerGeometry(R(0, 0, 7, 3), R(0, 0, 10, 10), 10, 10, 2, false);
  ExpectRect(g.videoDest, 0, 3, 10, 4);
  g = ComputeDrawerGeometry(R(0, 0, 7, 3), R(0, 0, 10, 10), 10, 10, 3, false);
  ExpectRect(g.videoDest, -6, 0, 23, 10);
  // 2 x 3 into 10 x 10 inside: width 10 * 2 / 3 = 6.67 -> 7 (rounded, not truncated).
  g = ComputeDrawerGeometry(R(0, 0, 2, 3), R(0, 0, 10, 10), 10, 10, 2, false);
  ExpectRect(g.videoDest, 1, 0, 7, 10);
  // Same aspect: the whole canvas in every mode but 1.
  for (int fit : {0, 2, 3}) {
    g = ComputeDrawerGeometry(R(0, 0, 320, 240), R(0, 0, 640, 480), 640, 480, fit, false);
    ExpectRect(g.videoDest, 0, 0, 640, 480);
  }
}

TEST(DrawerGeometry, AnEmptySourceHasNoDestinationAndFlagsFollowTheirInputs) {
  for (int fit : {0, 1, 2, 3}) {
    const DrawerGeometry g = ComputeDrawerGeometry(R(0, 0, 0, 240), R(0, 0, 320, 240), 320, 240, fit, true);
    EXPECT_TRUE(IsRectEmpty(&g.videoDest)) << "fit " << fit;
    EXPECT_TRUE(g.compose);
  }
  // A manager alone turns composition on; the canvas is scaled when it differs from the target.
  DrawerGeometry g = ComputeDrawerGeometry(R(0, 0, 320, 240), R(0, 0, 320, 240), 640, 480, 0, true);
  EXPECT_TRUE(g.compose);
  EXPECT_TRUE(g.scaleCanvas);
  EXPECT_FALSE(g.stretch);
  g = ComputeDrawerGeometry(R(0, 0, 320, 240), R(0, 0, 640, 480), 640, 480, 0, false);
  EXPECT_FALSE(g.compose);
  EXPECT_FALSE(g.scaleCanvas);
  EXPECT_TRUE(g.stretch);
}

TEST(DrawerGeometry, MulDivRoundsHalfAwayFromZeroAndRefusesZero) {
  EXPECT_EQ(MulDiv(360, 640, 480), 480);
  EXPECT_EQ(MulDiv(5, 1, 2), 3);
  EXPECT_EQ(MulDiv(-5, 1, 2), -3);
  EXPECT_EQ(MulDiv(7, 1, -2), -4);
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(0x40000000, 4, 2), -1) << "results beyond 32 bits fail";
  EXPECT_EQ(MulDiv(0x40000000, 4, 4), 0x40000000) << "the product itself may exceed 32 bits";
}

}  // namespace
