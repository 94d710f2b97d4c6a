#pragma once

// The performance counter: one clock for the whole system and the simulator, in every process. It is the
// monotonic clock scaled to the counter frequency, which is a machine-wide setting kept in the bus
// directory (file "os", see docs/simulator.md); without a setting it is 1000000000 Hz (ticks of 1 ns).

#include <cstdint>

namespace sim::os
{

inline constexpr uint64_t kDefaultPerformanceFrequency = 1000000000;

// QueryPerformanceCounter and QueryPerformanceFrequency.
int64_t performanceCounter();
uint64_t performanceFrequency();

// Stores the machine-wide frequency (1 Hz to 10 GHz); false when it cannot be written.
bool setPerformanceFrequency(uint64_t hz);

} // namespace sim::os
