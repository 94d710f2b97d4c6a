#include "simos/PerformanceCounter.h"
#include "simos/BusDirectory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim::os
{
namespace
{

// The machine-wide OS settings in the bus directory: a small file every process maps.
struct OsSettings
{
    uint32_t magic;
    uint32_t version;
    uint64_t performanceFrequency; // 0 = the default
};
constexpr uint32_t kOsMagic = 0x534F4453; // "SDOS"

std::string settingsPath()
{
    return busDirectory() + "/os";
}

// The mapping of the settings file of the bus asked for last; looked up again when the bus changes, so a
// test with a private bus gets its own setting.
struct Mapping
{
    std::mutex mutex;
    std::string path;               // guarded by mutex
    OsSettings* settings = nullptr; // guarded by mutex; null when the file does not exist
    ino_t inode = 0;                // guarded by mutex
};

Mapping& mapping()
{
    static Mapping m;
    return m;
}

OsSettings* mapSettings(const std::string& path, bool create)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
    if (fd < 0)
        return nullptr;
    struct stat st
    {
    };
    void* map = MAP_FAILED;
    if (::fstat(fd, &st) == 0 &&
        (st.st_size == sizeof(OsSettings) || (create && ::ftruncate(fd, sizeof(OsSettings)) == 0)))
        map = ::mmap(nullptr, sizeof(OsSettings), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    return map == MAP_FAILED ? nullptr : static_cast<OsSettings*>(map);
}

uint64_t storedFrequency()
{
    Mapping& m = mapping();
    const std::string path = settingsPath();
    std::lock_guard<std::mutex> lock(m.mutex);
    struct stat st
    {
    };
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (path != m.path || !exists || st.st_ino != m.inode || m.settings == nullptr)
    {
        // Mappings of earlier buses stay: a caller may still read through one (they are 16 bytes each).
        m.path = path;
        m.settings = exists ? mapSettings(path, false) : nullptr;
        m.inode = exists ? st.st_ino : 0;
    }
    if (m.settings == nullptr || __atomic_load_n(&m.settings->magic, __ATOMIC_ACQUIRE) != kOsMagic)
        return kDefaultPerformanceFrequency;
    const uint64_t hz = __atomic_load_n(&m.settings->performanceFrequency, __ATOMIC_ACQUIRE);
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
    const std::string path = settingsPath();
    OsSettings* s = mapSettings(path, true);
    if (s == nullptr)
        return false;
    __atomic_store_n(&s->performanceFrequency, hz, __ATOMIC_RELEASE);
    s->version = 1;
    __atomic_store_n(&s->magic, kOsMagic, __ATOMIC_RELEASE);
    ::munmap(s, sizeof(OsSettings));
    return true;
}

} // namespace sim::os
