// The interlace measure on pictures ffmpeg makes: moving progressive material, and the same
// material woven into interlaced frames with either field first (tinterlace).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libs/vxvideokit/interlacemeasure.h"
#include "tests/support/testenv.h"

using vxvk::FrameView;
using vxvk::InterlaceMeasure;

namespace {

constexpr int kWidth = 320, kHeight = 240;
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 3;

// Diagonal waves drifting sideways at 50 pictures a second: gentle vertical gradients that
// combing shows up in, and enough motion between two fields to comb.
constexpr const char* kWaves = "nullsrc=size=320x240:rate=50,geq=lum='128+100*sin(X/23+Y/20+N*0.4)':cb=128:cr=128";

// `count` BGR frames of the waves through `filter`, top-down rows.
std::string Frames(const std::string& filter, int count) {
  return tavtest::Capture(std::string("ffmpeg -nostdin -loglevel error -f lavfi -i \"") + kWaves + "\" -vf '" +
                          filter + "' -frames:v " + std::to_string(count) + " -f rawvideo -pix_fmt bgr24 -");
}

// Runs the measure over the frames, as memory holds them top-down or bottom-up.
int Judge(const std::string& frames, bool bottomUp, InterlaceMeasure* measure) {
  std::vector<uint8_t> flipped(kFrameBytes);
  for (size_t at = 0; at + kFrameBytes <= frames.size() && !measure->Done(); at += kFrameBytes) {
    const auto* top = reinterpret_cast<const uint8_t*>(frames.data() + at);
    const uint8_t* bits = top;
    if (bottomUp) {
      for (int y = 0; y < kHeight; ++y)
        std::copy_n(top + size_t(y) * kWidth * 3, kWidth * 3, flipped.data() + size_t(kHeight - 1 - y) * kWidth * 3);
      bits = flipped.data();
    }
    measure->Analyse(FrameView{bits, size_t(kWidth) * 3, size_t(kWidth) * 3, kHeight, bottomUp});
  }
  return measure->Mode();
}

class vxvideokit_InterlaceMeasure : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "test pictures come from ffmpeg";
  }
};

}  // namespace

TEST_F(vxvideokit_InterlaceMeasure, TellsProgressiveFromInterlaced_AndTheFieldOrder) {
  const std::string progressive = Frames("fps=25", 12);
  const std::string topFirst = Frames("tinterlace=interleave_top", 12);
  const std::string bottomFirst = Frames("tinterlace=interleave_bottom", 12);
  ASSERT_EQ(12 * kFrameBytes, topFirst.size());
  for (bool bottomUp : {true, false}) {
    SCOPED_TRACE(bottomUp ? "bottom-up" : "top-down");
    InterlaceMeasure m;
    EXPECT_EQ(vxvk::kFieldModeProgressive, Judge(progressive, bottomUp, &m));
    EXPECT_TRUE(m.Done());
    m.Reset();
    EXPECT_EQ(vxvk::kFieldModeUnknown, m.Mode());
    EXPECT_EQ(vxvk::kFieldModeField1First, Judge(topFirst, bottomUp, &m));
    m.Reset();
    EXPECT_EQ(vxvk::kFieldModeField2First, Judge(bottomFirst, bottomUp, &m));
    EXPECT_EQ(InterlaceMeasure::kFramesNeeded, m.Frames()) << "done after eleven frames";
  }
}

TEST(vxvideokit_InterlaceMeasureFlat, APictureWithoutGradientsCountsAsProgressive) {
  // No two rows differ moderately anywhere: no evidence of combing, not 0 / 0.
  std::vector<uint8_t> flat(kFrameBytes, 77);
  const FrameView frame{flat.data(), size_t(kWidth) * 3, size_t(kWidth) * 3, kHeight, true};
  EXPECT_EQ(0.0L, InterlaceMeasure::CombingRatio(frame));
  InterlaceMeasure m;
  while (!m.Done()) m.Analyse(frame);
  EXPECT_EQ(vxvk::kFieldModeProgressive, m.Mode());
}
