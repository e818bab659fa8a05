#include "libs/vxvideokit/frameclock.h"

#include <algorithm>
#include <cmath>

namespace vxvk {

void FrameClock::NewSegment(REFERENCE_TIME start, double rate) {
  segmentRate_ = rate;
  next_ = 0;
  segmentStart_ = start;
  base_ = kUnsetBase;
}

REFERENCE_TIME FrameClock::SlotStart(LONGLONG k) const {
  // The period is kept as a double on purpose: it is slightly below 1/30 (1/15), so every
  // third slot start falls one unit short of the exact multiple, as the camera expects.
  const double period = 1.0 / (segmentRate_ * targetRate_);
  const LONGLONG units = k * kUnitsPerSecond;
  const long double offset = static_cast<long double>(units) * static_cast<long double>(period);
  return (base_ == kUnsetBase ? 0 : base_) + static_cast<REFERENCE_TIME>(std::trunc(offset));
}

LONGLONG FrameClock::FirstSlotFrom(REFERENCE_TIME time) const {
  // The slot is estimated directly (a long span must not cost one step per slot) and then
  // settled exactly.
  const long double estimate = static_cast<long double>(time - (base_ == kUnsetBase ? 0 : base_)) /
                               (static_cast<long double>(kUnitsPerSecond) * Period());
  constexpr LONGLONG kLastSlot = INT64_MAX / kUnitsPerSecond - 2;
  LONGLONG k = next_;
  if (estimate > static_cast<long double>(next_) + 2)
    k = static_cast<LONGLONG>(std::min<long double>(estimate, static_cast<long double>(kLastSlot))) - 1;
  if (k < next_) k = next_;
  while (k > next_ && SlotStart(k - 1) >= time) --k;
  while (k < kLastSlot && SlotStart(k) < time) ++k;
  return k;
}

bool FrameClock::Place(REFERENCE_TIME start, REFERENCE_TIME stop, Placement* out) {
  if (base_ == kUnsetBase) base_ = start;
  // The frame fills the free slots that start before its end: with a known end, before
  // that end (less the tolerance, which the next frame gets); without one, up to and
  // including the slot it starts in.
  const bool knownEnd = stop > start && stop - start > kOnSlotTolerance;
  const REFERENCE_TIME end = knownEnd ? stop - kOnSlotTolerance : (start == INT64_MAX ? start : start + 1);
  const LONGLONG after = FirstSlotFrom(end);  // first slot the frame does not fill
  if (after <= next_) return false;
  Placement p;
  p.firstSlot = next_;
  p.ownSlot = after - 1;
  p.repeats = p.ownSlot - p.firstSlot;
  *out = p;
  return true;
}

}  // namespace vxvk
