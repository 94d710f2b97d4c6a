#include "simos/Clock.h"

#include "OsSettings.h"
#include "simos/BusDirectory.h"
#include "simos/CommandWords.h"

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <sched.h>
#include <sys/stat.h>

namespace sim::os
{
namespace
{

struct ProcessClock
{
    std::atomic<bool> manual{false};
    std::atomic<uint64_t> ms{0};
};

ProcessClock& processClock()
{
    static ProcessClock clock;
    return clock;
}

uint64_t realMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The bus's settings as this thread saw them last, for every VDC transaction asks. A mapping found is
// used for 50 ms before it is looked up again (while its bus lives the file is only ever made, never
// replaced); a missing file is looked for at every call, so a clock set from any process counts from the
// next call on. (Plain data only: a thread-local object with a destructor would keep a loaded driver
// library from unloading.)
OsSettings* currentSettings()
{
    struct Seen
    {
        const char* dir;
        OsSettings* settings;
        int64_t checkedNs;
    };
    thread_local Seen seen{};
    const char* dir = std::getenv("STRELLIS_SIM_DIR");
    const int64_t now = monotonicNs();
    if (seen.settings != nullptr && dir == seen.dir && now - seen.checkedNs < 50000000LL)
        return seen.settings;
    struct stat st
    {
    };
    if (::stat((busDirectory() + "/os").c_str(), &st) != 0)
        return nullptr;
    seen.dir = dir;
    seen.settings = busOsSettings(false);
    seen.checkedNs = now;
    return seen.settings;
}

// The bus's manual clock, or null when the bus runs on real time.
OsSettings* busManualClock()
{
    OsSettings* s = currentSettings();
    if (s == nullptr || __atomic_load_n(&s->magic, __ATOMIC_ACQUIRE) != kOsMagic ||
        __atomic_load_n(&s->manualClock, __ATOMIC_ACQUIRE) == 0)
        return nullptr;
    return s;
}

// Moves whichever manual clock is in use on; false on real time.
bool advance(uint32_t milliseconds)
{
    ProcessClock& own = processClock();
    if (own.manual.load())
    {
        own.ms.fetch_add(milliseconds);
        return true;
    }
    if (OsSettings* s = busManualClock())
    {
        __atomic_fetch_add(&s->manualClockMs, milliseconds, __ATOMIC_ACQ_REL);
        return true;
    }
    return false;
}

} // namespace

uint32_t tickCount()
{
    ProcessClock& own = processClock();
    if (own.manual.load())
        return static_cast<uint32_t>(own.ms.load());
    if (const OsSettings* s = busManualClock())
        return static_cast<uint32_t>(__atomic_load_n(&s->manualClockMs, __ATOMIC_ACQUIRE));
    return static_cast<uint32_t>(realMs());
}

void sleep(uint32_t milliseconds)
{
    if (advance(milliseconds))
    {
        // Other threads still get their turn, as they would while this one slept.
        sched_yield();
        return;
    }
    timespec ts{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0)
    {
    }
}

bool skipWaitOnManualClock(uint32_t milliseconds)
{
    if (!advance(milliseconds))
        return false;
    sched_yield();
    return true;
}

void advanceManualClock(uint32_t milliseconds)
{
    advance(milliseconds);
}

void setProcessManualClock(bool on, uint32_t startMs)
{
    ProcessClock& own = processClock();
    if (on)
        own.ms.store(startMs);
    own.manual.store(on);
}

bool setBusManualClock(bool on)
{
    OsSettings* s = busOsSettings(true);
    if (s == nullptr)
        return false;
    if (on && __atomic_load_n(&s->manualClock, __ATOMIC_ACQUIRE) == 0)
        __atomic_store_n(&s->manualClockMs, 0, __ATOMIC_RELEASE);
    __atomic_store_n(&s->manualClock, on ? 1u : 0u, __ATOMIC_RELEASE);
    return true;
}

int devsimOsClock(const std::vector<std::string>& args, std::string& out, std::string& err)
{
    if (args.empty())
    {
        const OsSettings* s = busManualClock();
        out += s == nullptr ? std::string("clock real\n")
                            : "clock manual " +
                                  std::to_string(__atomic_load_n(&s->manualClockMs, __ATOMIC_ACQUIRE)) + "\n";
        return 0;
    }
    if (args[0] != "real" && args[0] != "manual")
    {
        err += "devsim: not a clock (real or manual): " + args[0] + "\n";
        return 2;
    }
    if (args.size() > 1)
    {
        err += "devsim: " + unexpectedWord(args[1], "os clock " + args[0]) + "\n";
        return 2;
    }
    if (!setBusManualClock(args[0] == "manual"))
    {
        err += "devsim: cannot store the clock setting\n";
        return 1;
    }
    return 0;
}

} // namespace sim::os
