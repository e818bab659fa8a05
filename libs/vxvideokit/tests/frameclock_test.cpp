// Frame slots of the frame rate converter: drops, repeats and the slot time stamps.
#include <gtest/gtest.h>

#include <vector>

#include "libs/vxvideokit/frameclock.h"

using namespace vxvk;

namespace {

struct Out {
  REFERENCE_TIME start, stop;
  int frame;  // index of the input frame delivered
  bool operator==(const Out&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Out& o) {
  return os << "[" << o.start << "," << o.stop << ") frame " << o.frame;
}

// Runs input start times through the clock the way the filter does and lists what leaves.
std::vector<Out> Drive(FrameClock& clock, const std::vector<REFERENCE_TIME>& starts) {
  std::vector<Out> out;
  for (size_t i = 0; i < starts.size(); ++i) {
    FrameClock::Placement p;
    if (!clock.Place(starts[i], &p)) continue;
    for (LONGLONG k = p.firstSlot; k <= p.ownSlot; ++k) out.push_back({clock.SlotStart(k), clock.SlotEnd(k), int(i)});
    clock.Commit(p);
  }
  return out;
}

std::vector<REFERENCE_TIME> Starts(int count, double fps, REFERENCE_TIME offset = 0) {
  std::vector<REFERENCE_TIME> s;
  // Typical source stamps: rounded to the nearest unit.
  for (int i = 0; i < count; ++i) s.push_back(offset + REFERENCE_TIME(i * 10'000'000.0 / fps + 0.5));
  return s;
}

}  // namespace

TEST(vxvideokit_FrameClock, SlotStartsFallOneUnitShortEveryThirdSlot) {
  FrameClock c;
  c.NewSegment(0, 1.0);
  c.SetTargetRate(30.0);
  FrameClock::Placement p;
  ASSERT_TRUE(c.Place(0, &p));
  const REFERENCE_TIME at30[] = {0, 333333, 666666, 999999, 1333333, 1666666, 1999999};
  for (int k = 0; k < 7; ++k) EXPECT_EQ(at30[k], c.SlotStart(k)) << k;
  c.SetTargetRate(15.0);
  const REFERENCE_TIME at15[] = {0, 666666, 1333333, 1999999, 2666666};
  for (int k = 0; k < 5; ++k) EXPECT_EQ(at15[k], c.SlotStart(k)) << k;
  // A segment played at double speed halves the period.
  c.NewSegment(0, 2.0);
  ASSERT_TRUE(c.Place(0, &p));
  EXPECT_EQ(333333, c.SlotStart(1));
}

TEST(vxvideokit_FrameClock, ThirtyToFifteenDropsEverySecondFrame) {
  FrameClock c;
  c.SetTargetRate(15.0);
  c.NewSegment(0, 1.0);
  const std::vector<Out> out = Drive(c, Starts(7, 30.0));  // 0, 333333, 666667, ...
  const std::vector<Out> expected = {
      {0, 666666, 0}, {666666, 1333333, 2}, {1333333, 1999999, 4}, {1999999, 2666666, 6}};
  EXPECT_EQ(expected, out);
}

TEST(vxvideokit_FrameClock, FifteenToThirtyRepeatsTheFrameThatArrivesLate) {
  FrameClock c;
  c.SetTargetRate(30.0);
  c.NewSegment(0, 1.0);
  const std::vector<Out> out = Drive(c, Starts(3, 15.0));  // 0, 666667, 1333333
  const std::vector<Out> expected = {
      {0, 333333, 0},
      {333333, 666666, 1}, {666666, 999999, 1},
      {999999, 1333333, 2}, {1333333, 1666666, 2}};
  EXPECT_EQ(expected, out);
}

TEST(vxvideokit_FrameClock, ALateFirstFrameBecomesTheBase) {
  FrameClock c;
  c.SetTargetRate(15.0);
  c.NewSegment(0, 1.0);
  const std::vector<Out> out = Drive(c, Starts(3, 30.0, 5'000'000));
  EXPECT_EQ(5'000'000, c.Base());
  const std::vector<Out> expected = {{5'000'000, 5'666'666, 0}, {5'666'666, 6'333'333, 2}};
  EXPECT_EQ(expected, out);
}

TEST(vxvideokit_FrameClock, SamplesWithoutTimesUseUpASlotAndSegmentsRestart) {
  FrameClock c;
  c.SetTargetRate(30.0);
  c.NewSegment(0, 1.0);
  FrameClock::Placement p;
  ASSERT_TRUE(c.Place(0, &p));
  c.Commit(p);
  c.SkipSlot();  // a sample without times
  EXPECT_EQ(2, c.NextSlot());
  EXPECT_FALSE(c.Place(400000, &p)) << "starts before slot 2 (666666): dropped";
  EXPECT_EQ(2, c.NextSlot());
  ASSERT_TRUE(c.Place(700000, &p));
  EXPECT_EQ(0, p.repeats);
  EXPECT_EQ(2, p.ownSlot);

  c.NewSegment(9'000'000, 1.0);
  EXPECT_EQ(0, c.NextSlot());
  EXPECT_EQ(FrameClock::kUnsetBase, c.Base());
  EXPECT_EQ(9'000'000, c.SegmentStart());
}

TEST(vxvideokit_FrameClock, ZeroOrNegativeRatesPassThrough) {
  FrameClock c;
  EXPECT_TRUE(c.Active());
  c.SetTargetRate(0.0);
  EXPECT_FALSE(c.Active());
  c.SetTargetRate(15.0);
  c.NewSegment(0, 0.0);
  EXPECT_FALSE(c.Active());
  c.NewSegment(0, -1.0);
  EXPECT_FALSE(c.Active());
}

TEST(vxvideokit_FrameClock, ALongGapIsFilledWithoutWalkingEverySlot) {
  FrameClock c;
  c.SetTargetRate(30.0);
  c.NewSegment(0, 1.0);
  FrameClock::Placement p;
  ASSERT_TRUE(c.Place(0, &p));
  c.Commit(p);
  // Ten hours later: the frame fills every slot up to its own one.
  const REFERENCE_TIME later = 36'000LL * 10'000'000;
  ASSERT_TRUE(c.Place(later, &p));
  EXPECT_EQ(1, p.firstSlot);
  EXPECT_LE(c.SlotStart(p.ownSlot), later);
  EXPECT_GT(c.SlotEnd(p.ownSlot), later);
  EXPECT_EQ(p.ownSlot - 1, p.repeats);
}
