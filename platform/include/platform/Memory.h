#pragma once

// VirtualLock and VirtualUnlock: keep a range of the process's memory resident, so that code on a
// time-critical path never waits for a page of it.

#include <cstddef>

namespace platform
{

// Brings the pages of the range in and keeps them there. False when the system refuses (a limit on
// locked memory).
bool lockMemory(const void* address, size_t bytes);
// Lets the pages go again (before the memory is freed).
void unlockMemory(const void* address, size_t bytes);

} // namespace platform
