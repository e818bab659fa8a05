// Ctrl-C, SIGTERM and SIGHUP for tavrion-convert and its --jobs workers: the first one is
// "Break" (the loop finishes the movie being written, so that it plays); a second one quits
// at once. Each one also wakes the loop from its wait, since a Break that waited for the
// loop's next turn could land in a later part of a split.
#pragma once

namespace tav::cli {

// From here on the three signals count as interrupts and wake WaitForMessageOrInterrupt.
void InstallInterruptHandlers();
// How many interrupts came so far.
int InterruptCount();
// The descriptor that is readable once an interrupt came, to poll beside others; -1 when it
// could not be made (the loop then wakes only at its time-out).
int InterruptWakeFd();
// Empties InterruptWakeFd() after a wake.
void DrainInterruptWake();
// Waits up to timeoutMs for a message of this thread or an interrupt.
void WaitForMessageOrInterrupt(int timeoutMs);

}  // namespace tav::cli
