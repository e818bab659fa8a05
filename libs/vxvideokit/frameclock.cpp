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

bool FrameClock::Place(REFERENCE_TIME start, Placement* out) {
  if (base_ == kUnsetBase) base_ = start;
  if (start < SlotStart(next_)) return false;
  Placement p;
  p.firstSlot = next_;
  // The frame fills every slot that ended before it began, then its own one. The slot is
  // estimated directly (a long gap must not cost one step per slot) and then settled exactly.
  const double period = 1.0 / (segmentRate_ * targetRate_);
  const long double estimate =
      static_cast<long double>(start - base_) / (static_cast<long double>(kUnitsPerSecond) * period);
  LONGLONG k = next_;
  if (estimate > static_cast<long double>(next_) + 2)
    k = static_cast<LONGLONG>(std::min<long double>(estimate, static_cast<long double>(INT64_MAX / kUnitsPerSecond - 2))) - 1;
  if (k < next_) k = next_;
  while (k > next_ && start < SlotStart(k)) --k;
  while (start >= SlotEnd(k)) ++k;
  p.repeats = k - next_;
  p.ownSlot = k;
  *out = p;
  return true;
}

}  // namespace vxvk
