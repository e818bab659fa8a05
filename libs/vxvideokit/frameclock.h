// Output frame slots of the frame rate converter: which input frame fills which slot of a
// fixed-rate output, and the time stamps of every slot. No pixels, no locking: the filter
// owns one and guards it.
#pragma once

#include <cstdint>

#include "media/contract/wintypes.h"

namespace vxvk {

class FrameClock {
 public:
  static constexpr REFERENCE_TIME kUnsetBase = INT64_MAX;
  static constexpr LONGLONG kUnitsPerSecond = 10'000'000;

  // Target rate 0 means pass-through.
  void SetTargetRate(double fps) { targetRate_ = fps; }
  double TargetRate() const { return targetRate_; }
  double SegmentRate() const { return segmentRate_; }
  double Period() const { return 1.0 / (segmentRate_ * targetRate_); }

  // Every new segment restarts the slots: n = 0, base unset.
  void NewSegment(REFERENCE_TIME start, double rate);

  // False when either rate is 0: samples pass with their own times.
  // A negative segment rate (reverse play) is treated like 0: its slots would run backwards.
  bool Active() const { return targetRate_ > 0.0 && segmentRate_ > 0.0; }

  // Start and end of output slot k: base + trunc(k x 10^7 x P), P = 1 / (segment x target)
  // stored as a double and multiplied in extended precision.
  REFERENCE_TIME SlotStart(LONGLONG k) const;
  REFERENCE_TIME SlotEnd(LONGLONG k) const { return SlotStart(k + 1); }

  // A sample without times uses up one slot.
  void SkipSlot() { ++next_; }

  // A frame that starts this little after a slot's start counts as starting on it: container
  // times are rounded (to the millisecond in some), and the slot starts fall a unit short of
  // the exact multiples, so a frame meant for a slot can be stamped just after it.
  static constexpr REFERENCE_TIME kOnSlotTolerance = 10'000;

  // Places an input frame shown from `start` until `stop` (the next frame's start). A slot
  // shows the frame that is on screen at the slot's start: the last one that started at or
  // before it. The frame takes every free slot that starts before its end; slots left free
  // before its start (the frame before it ended early) take it too, as nothing else is left
  // to show there. Without a usable stop (`stop` not after `start` by more than the
  // tolerance) the frame ends with the slot it starts in.
  //
  // Returns false when the frame ends before the next free slot starts (it is dropped;
  // nothing changes). Otherwise the frame fills slots firstSlot .. ownSlot.
  struct Placement {
    LONGLONG firstSlot = 0;  // first slot the frame fills
    LONGLONG repeats = 0;    // slots filled before its last one: firstSlot .. firstSlot+repeats-1
    LONGLONG ownSlot = 0;    // the last slot it fills, = firstSlot + repeats
  };
  bool Place(REFERENCE_TIME start, REFERENCE_TIME stop, Placement* out);
  // A frame without a known end.
  bool Place(REFERENCE_TIME start, Placement* out) { return Place(start, start, out); }

  // The slot after the frame's own one becomes the next free slot.
  void Commit(const Placement& p) { next_ = p.ownSlot + 1; }
  // The first slot that starts at or after `time` (at least the next free slot).
  LONGLONG FirstSlotFrom(REFERENCE_TIME time) const;

  LONGLONG NextSlot() const { return next_; }
  REFERENCE_TIME Base() const { return base_; }
  REFERENCE_TIME SegmentStart() const { return segmentStart_; }

 private:
  double targetRate_ = 30.0;
  double segmentRate_ = 1.0;
  LONGLONG next_ = 0;
  REFERENCE_TIME base_ = kUnsetBase;
  REFERENCE_TIME segmentStart_ = 0;
};

}  // namespace vxvk
