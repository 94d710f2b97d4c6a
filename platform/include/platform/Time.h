#pragma once

#include <cstdint>

namespace platform
{

// Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
uint32_t getTickCount();

void sleepMs(uint32_t milliseconds);

} // namespace platform
