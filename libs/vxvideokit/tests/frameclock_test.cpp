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

// The same with each frame ending where the next one starts (the last one after `last`).
std::vector<Out> DriveTimed(FrameClock& clock, const std::vector<REFERENCE_TIME>& starts, REFERENCE_TIME last) {
  std::vector<Out> out;
  for (size_t i = 0; i < starts.size(); ++i) {
    const REFERENCE_TIME stop = i + 1 < starts.size() ? starts[i + 1] : starts[i] + last;
    FrameClock::Placement p;
    if (!clock.Place(starts[i], stop, &p)) continue;
    for (LONGLONG k = p.firstSlot; k <= p.ownSlot; ++k) out.push_back({clock.SlotStart(k), clock.SlotEnd(k), int(i)});
    clock.Commit(p);
  }
  return out;
}

// What a player shows at each slot's start: the last frame that started at or before it
// (within the on-slot tolerance), for every slot that starts before the last frame ends.
std::vector<Out> OnScreen(FrameClock& clock, const std::vector<REFERENCE_TIME>& starts, REFERENCE_TIME last) {
  std::vector<Out> out;
  const REFERENCE_TIME end = starts.back() + last;
  for (LONGLONG k = 0; clock.SlotStart(k) < end - FrameClock::kOnSlotTolerance; ++k) {
    int shown = 0;
    for (size_t i = 0; i < starts.size(); ++i)
      if (starts[i] - FrameClock::kOnSlotTolerance <= clock.SlotStart(k)) shown = int(i);
    out.push_back({clock.SlotStart(k), clock.SlotEnd(k), shown});
  }
  return out;
}

std::vector<REFERENCE_TIME> Starts(int count, double fps, REFERENCE_TIME offset = 0) {
  std::vector<REFERENCE_TIME> s;
  // Typical source stamps: rounded to the nearest unit.
  for (int i = 0; i < count; ++i) s.push_back(offset + REFERENCE_TIME(i * 10'000'000.0 / fps + 0.5));
  return s;
}

// Runs the clock at 30 fps from a segment at 0, with a first frame at 0 placed and committed.
void StartWithAFrameAtZero(FrameClock& c, FrameClock::Placement* p) {
  c.SetTargetRate(30.0);
  c.NewSegment(0, 1.0);
  ASSERT_TRUE(c.Place(0, p));
  c.Commit(*p);
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
  FrameClock::Placement p;
  ASSERT_NO_FATAL_FAILURE(StartWithAFrameAtZero(c, &p));
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
  FrameClock::Placement p;
  ASSERT_NO_FATAL_FAILURE(StartWithAFrameAtZero(c, &p));
  // Ten hours later: the frame fills every slot up to its own one.
  const REFERENCE_TIME later = 36'000LL * 10'000'000;
  ASSERT_TRUE(c.Place(later, &p));
  EXPECT_EQ(1, p.firstSlot);
  EXPECT_LE(c.SlotStart(p.ownSlot), later);
  EXPECT_GT(c.SlotEnd(p.ownSlot), later);
  EXPECT_EQ(p.ownSlot - 1, p.repeats);
}

// Frames with their ends: each slot shows the frame on screen at its start, and the last
// frame lasts until its end.
TEST(vxvideokit_FrameClock, EachSlotShowsTheFrameOnScreenAtItsStart) {
  struct Source {
    const char* name;
    std::vector<REFERENCE_TIME> starts;
    REFERENCE_TIME last;  // the last frame's duration
    double target;
  };
  std::vector<REFERENCE_TIME> phone = Starts(10, 30.0);
  phone.insert(phone.end(), {4'000'000, 4'330'000, 9'000'000, 9'400'000});  // gaps of a variable-rate clip
  std::vector<REFERENCE_TIME> millis;  // 30 fps stamped to the millisecond
  for (int i = 0; i < 20; ++i) millis.push_back(REFERENCE_TIME(i * 1000 / 30.0 + 0.5) * 10'000);
  const Source sources[] = {
      {"25 to 30", Starts(50, 25.0), 400'000, 30.0},
      {"24 to 15", Starts(48, 24000.0 / 1001), 417'083, 15.0},
      {"1 fps slide show to 15", Starts(5, 1.0), 10'000'000, 15.0},
      {"variable rate to 30", phone, 333'333, 30.0},
      {"millisecond stamps to 30", millis, 333'333, 30.0},
      {"15 to 30", Starts(15, 15.0), 666'667, 30.0},
  };
  for (const Source& src : sources) {
    SCOPED_TRACE(src.name);
    FrameClock c;
    c.SetTargetRate(src.target);
    c.NewSegment(0, 1.0);
    const std::vector<Out> got = DriveTimed(c, src.starts, src.last);
    EXPECT_EQ(OnScreen(c, src.starts, src.last), got);
  }
  // The slide show: every picture at its own time and for its whole second.
  FrameClock c;
  c.SetTargetRate(15.0);
  c.NewSegment(0, 1.0);
  const std::vector<Out> slides = DriveTimed(c, Starts(5, 1.0), 10'000'000);
  ASSERT_EQ(75u, slides.size());
  EXPECT_EQ(0, slides[14].frame);
  EXPECT_EQ(1, slides[15].frame) << "the slot at 0.99999 s shows the picture of 1 s";
  EXPECT_EQ(4, slides[74].frame);
  EXPECT_EQ(49'999'999, slides[74].stop) << "the slot starts fall a unit short of whole seconds";
}

// Whole-ratio conversions come out as they did when frames had no ends: the frame that
// starts on a slot fills it.
TEST(vxvideokit_FrameClock, WholeRatiosKeepTheirOutput) {
  for (double from : {30.0, 60.0, 45.0}) {
    SCOPED_TRACE(from);
    const std::vector<REFERENCE_TIME> starts = Starts(121, from);
    FrameClock timed, plain;
    timed.SetTargetRate(15.0);
    plain.SetTargetRate(15.0);
    timed.NewSegment(0, 1.0);
    plain.NewSegment(0, 1.0);
    std::vector<Out> got = DriveTimed(timed, starts, starts[1]);
    std::vector<Out> before = Drive(plain, starts);
    // The last frame now lasts until its end; the rest is unchanged.
    ASSERT_GE(got.size(), before.size());
    got.resize(before.size());
    EXPECT_EQ(before, got);
  }
}

TEST(vxvideokit_FrameClock, AFrameThatEndsBeforeTheNextFreeSlotIsDropped) {
  FrameClock c;
  c.SetTargetRate(15.0);
  c.NewSegment(0, 1.0);
  FrameClock::Placement p;
  ASSERT_TRUE(c.Place(0, 400'000, &p));
  EXPECT_EQ(0, p.ownSlot);
  c.Commit(p);
  EXPECT_FALSE(c.Place(400'000, 666'000, &p)) << "on screen only between slots";
  ASSERT_TRUE(c.Place(666'000, 2'000'000, &p)) << "starts within the tolerance of slot 1";
  EXPECT_EQ(1, p.firstSlot);
  EXPECT_EQ(2, p.ownSlot);
}
