#include "simos/PerformanceCounter.h"

#include "OsSettings.h"

#include <cstdlib>
#include <ctime>

namespace sim::os
{
namespace
{

uint64_t storedFrequency()
{
    const OsSettings* s = busOsSettings(false);
    if (s == nullptr || __atomic_load_n(&s->magic, __ATOMIC_ACQUIRE) != kOsMagic)
        return kDefaultPerformanceFrequency;
    const uint64_t hz = __atomic_load_n(&s->performanceFrequency, __ATOMIC_ACQUIRE);
    return hz == 0 ? kDefaultPerformanceFrequency : hz;
}

// The frequency is looked up at most every 50 ms: the counter is read on real-time paths.
struct Cache
{
    uint64_t hz = 0;
    int64_t checkedNs = 0;
    const char* dirSeen = nullptr;
};

int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

} // namespace

uint64_t performanceFrequency()
{
    thread_local Cache cache;
    const int64_t now = monotonicNs();
    const char* dir = std::getenv("STRELLIS_SIM_DIR");
    if (cache.hz == 0 || dir != cache.dirSeen || now - cache.checkedNs > 50000000LL)
    {
        cache.hz = storedFrequency();
        cache.checkedNs = now;
        cache.dirSeen = dir;
    }
    return cache.hz;
}

int64_t performanceCounter()
{
    const int64_t ns = monotonicNs();
    const uint64_t hz = performanceFrequency();
    if (hz == kDefaultPerformanceFrequency)
        return ns;
    return static_cast<int64_t>(static_cast<unsigned __int128>(ns) * hz / 1000000000u);
}

bool setPerformanceFrequency(uint64_t hz)
{
    if (hz == 0 || hz > 10000000000ull)
        return false;
    OsSettings* s = busOsSettings(true);
    if (s == nullptr)
        return false;
    __atomic_store_n(&s->performanceFrequency, hz, __ATOMIC_RELEASE);
    return true;
}

} // namespace sim::os
