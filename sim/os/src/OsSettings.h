#pragma once

// The machine-wide OS settings of the bus: the file "os" in the bus directory (see docs/simulator.md),
// mapped by every process that uses them.

#include <cstdint>

namespace sim::os
{

struct OsSettings
{
    uint32_t magic;                // kOsMagic once the file is set up
    uint32_t version;              // 2
    uint64_t performanceFrequency; // 0 = the default
    uint32_t manualClock;          // 0 = the tick clock runs on real time, 1 = a manual clock
    uint32_t reserved;
    uint64_t manualClockMs; // the manual clock's time
};

inline constexpr uint32_t kOsMagic = 0x534F4453; // "SDOS"

// The settings of the current bus; null when it has none (every setting at its default). With create, the
// file is made when missing (null when it cannot be). A mapping stays valid for the life of the process.
OsSettings* busOsSettings(bool create);

} // namespace sim::os
