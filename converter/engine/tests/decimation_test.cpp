// The size a decoder delivers big pictures at for the resizer: the resizer's fit, crop or
// stretch of the smaller picture must put bars and cuts where they would be for the full one.
#include <gtest/gtest.h>

#include "converter/engine/decimation.h"

namespace {

using tav::DecimatedSize;

struct Rect {
  int x, y, w, h;
};

// Where the resizer draws a picture of Ws x Hs in a frame of Wd x Hd (fit), or which part of
// the picture, scaled to the frame, it keeps (crop): its integer rule.
Rect FitRect(int ws, int hs, int wd, int hd) {
  const long double rh = (long double)hd / hs, rw = (long double)wd / ws;
  if (rh < rw) {
    const int r = int((long long)ws * hd / hs);
    return {(wd - r) >> 1, 0, r, hd};
  }
  if (rh > rw) {
    const int o = int((long long)hs * wd / ws);
    return {0, (hd - o) >> 1, wd, o};
  }
  return {0, 0, wd, hd};
}

// The fraction of the picture's width and height the crop keeps, and where it starts.
struct Cut {
  double x, y, w, h;
};
Cut CropCut(int ws, int hs, int wd, int hd) {
  const long double rh = (long double)hd / hs, rw = (long double)wd / ws;
  if (rh < rw) {
    const int m = int((long long)hd * ws / wd);
    return {0, double((hs - m) >> 1) / hs, 1, double(m) / hs};
  }
  if (rh > rw) {
    const int t = int((long long)wd * hs / hd);
    return {double((ws - t) >> 1) / ws, 0, double(t) / ws, 1};
  }
  return {0, 0, 1, 1};
}

TEST(EngineDecimation, TheResizerDrawsTheSmallerPictureWhereItDrewTheFullOne) {
  struct Source {
    int w, h;
  };
  // 4K, 1080p and 720p, upright and portrait, a cinema shape and a tall odd one.
  const Source sources[] = {{3840, 2160}, {2160, 3840}, {1920, 1080}, {1080, 1920}, {1280, 720},
                            {1920, 800}, {1437, 1911}};
  for (const Source s : sources) {
    for (const auto& [wd, hd] : {std::pair{640, 480}, std::pair{320, 240}}) {
      SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h) + " into " + std::to_string(wd));
      const auto fit = DecimatedSize(s.w, s.h, wd, hd, 2);
      ASSERT_TRUE(fit.has_value());
      const Rect full = FitRect(s.w, s.h, wd, hd), small = FitRect(fit->width, fit->height, wd, hd);
      EXPECT_NEAR(small.x, full.x, 1);
      EXPECT_NEAR(small.y, full.y, 1);
      EXPECT_NEAR(small.w, full.w, 1);
      EXPECT_NEAR(small.h, full.h, 1);

      const auto crop = DecimatedSize(s.w, s.h, wd, hd, 3);
      ASSERT_TRUE(crop.has_value());
      EXPECT_TRUE(crop->width >= wd && crop->height >= hd) << "the crop is never enlarged";
      const Cut a = CropCut(s.w, s.h, wd, hd), b = CropCut(crop->width, crop->height, wd, hd);
      // Within a pixel of the frame.
      EXPECT_NEAR(a.x * wd / a.w, b.x * wd / b.w, 1.0);
      EXPECT_NEAR(a.y * hd / a.h, b.y * hd / b.h, 1.0);

      const auto stretch = DecimatedSize(s.w, s.h, wd, hd, 0);
      ASSERT_TRUE(stretch.has_value());
      EXPECT_EQ(stretch->width, wd);
      EXPECT_EQ(stretch->height, hd);
    }
  }
}

TEST(EngineDecimation, SmallPicturesAndTheCentreModeKeepTheirSize) {
  EXPECT_FALSE(DecimatedSize(3840, 2160, 640, 480, 1)) << "centre copies pixels 1:1";
  EXPECT_FALSE(DecimatedSize(720, 480, 640, 480, 2)) << "hardly bigger than the frame";
  EXPECT_FALSE(DecimatedSize(640, 480, 640, 480, 0));
  EXPECT_FALSE(DecimatedSize(320, 240, 640, 480, 2)) << "never enlarged";
  EXPECT_FALSE(DecimatedSize(0, 480, 640, 480, 2));
  EXPECT_TRUE(DecimatedSize(1280, 720, 640, 480, 2));
  // Any other mode stretches, as the resizer does.
  const auto other = DecimatedSize(1920, 1080, 640, 480, 7);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->width, 640);
}

}  // namespace
