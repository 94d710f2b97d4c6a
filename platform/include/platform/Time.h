#pragma once

// GetTickCount and Sleep. Their clock is the simulated OS's tick clock: real time, unless a test (or
// "devsim os clock manual") puts the process or the bus on a manual clock that only sleeps move on, so
// limits of seconds are reached at once and after the same tries every time (docs/simulator.md).

#include <cstdint>

namespace platform
{

// Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
uint32_t getTickCount();

void sleepMs(uint32_t milliseconds);

// For a pause the caller makes on its own (on an event that can cut it short): true when the clock is a
// manual one, which this call has moved on by that much, so the caller skips its wait; false on real time.
bool skipWaitOnManualClock(uint32_t milliseconds);

} // namespace platform
