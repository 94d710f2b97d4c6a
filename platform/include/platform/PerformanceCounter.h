#pragma once

// QueryPerformanceCounter and QueryPerformanceFrequency: the one high-resolution clock of every process of
// the system and of the simulated kernel driver.

#include <cstdint>

namespace platform
{

int64_t queryPerformanceCounter();
uint64_t queryPerformanceFrequency();

} // namespace platform
