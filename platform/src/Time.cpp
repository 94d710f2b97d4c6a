#include "platform/Time.h"

#include "simos/Clock.h"

namespace platform
{

uint32_t getTickCount()
{
    return sim::os::tickCount();
}

void sleepMs(uint32_t milliseconds)
{
    sim::os::sleep(milliseconds);
}

bool skipWaitOnManualClock(uint32_t milliseconds)
{
    return sim::os::skipWaitOnManualClock(milliseconds);
}

} // namespace platform
