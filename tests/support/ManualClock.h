#pragma once

// The test process on a manual tick clock while the object lives (docs/simulator.md, The tick clock):
// sleeps and VDC transactions move it on instead of taking real time, so a limit of seconds is reached at
// once and after the same tries on every run. It starts a second before the tick count wraps, so a limit
// measured across it also shows that the code subtracts tick counts without caring for the wrap.

#include "simos/Clock.h"

#include <cstdint>

namespace testsupport
{

class ManualClock
{
public:
    static constexpr uint32_t kStart = 0xFFFFFFFFu - 999;

    ManualClock() { sim::os::setProcessManualClock(true, kStart); }
    ~ManualClock() { sim::os::setProcessManualClock(false); }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    // Milliseconds the clock has moved on since it was set.
    uint32_t elapsed() const { return sim::os::tickCount() - kStart; }
};

} // namespace testsupport
