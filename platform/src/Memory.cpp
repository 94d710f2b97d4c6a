#include "platform/Memory.h"

#include <sys/mman.h>

namespace platform
{

bool lockMemory(const void* address, size_t bytes)
{
    return address == nullptr || bytes == 0 || ::mlock(address, bytes) == 0;
}

void unlockMemory(const void* address, size_t bytes)
{
    if (address != nullptr && bytes != 0)
        ::munlock(address, bytes);
}

} // namespace platform
