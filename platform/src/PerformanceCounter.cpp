#include "platform/PerformanceCounter.h"

#include "simos/PerformanceCounter.h"

namespace platform
{

int64_t queryPerformanceCounter()
{
    return sim::os::performanceCounter();
}

uint64_t queryPerformanceFrequency()
{
    return sim::os::performanceFrequency();
}

} // namespace platform
