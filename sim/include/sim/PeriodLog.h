#pragma once

// The period clock's log, for benchmarks: when STRELLIS_SIM_PERIOD_LOG names a file as streaming starts
// with the clock in real time, the clock notes the times of each period in memory set aside at the start
// (nothing is allocated per period) and writes them to that file when the clock stops: an array of
// PeriodRecord, little-endian, in period order. Without the variable the clock notes nothing.

#include <cstdint>

namespace sim
{

inline constexpr const char* kPeriodLogVariable = "STRELLIS_SIM_PERIOD_LOG";
// Periods noted per start at most; later ones are not noted.
inline constexpr uint32_t kPeriodLogCapacity = 1u << 18;

// Performance-counter ticks.
struct PeriodRecord
{
    int64_t deadline;    // when the period was due
    int64_t tickStart;   // when the clock woke for it
    int64_t signal;      // the capture time stamp; the client's event is set right after
    int64_t tickEnd;     // when the clock had done the period
    int64_t beforeInput; // the client's stamp before its input copy for this period (0: none seen)
    int64_t afterOutput; // the client's stamp after its output copy for this period (0: none seen)
};

} // namespace sim
