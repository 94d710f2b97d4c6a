#include "OsSettings.h"

#include "simos/BusDirectory.h"

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

// The mapping of the settings file of the bus asked for last; looked up again when the bus changes, so a
// test with a private bus gets its own settings.
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
    if (create)
        ::mkdir(busDirectory().c_str(), 0700);
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

} // namespace

OsSettings* busOsSettings(bool create)
{
    Mapping& m = mapping();
    const std::string path = busDirectory() + "/os";
    std::lock_guard<std::mutex> lock(m.mutex);
    struct stat st
    {
    };
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (path != m.path || !exists || st.st_ino != m.inode || m.settings == nullptr)
    {
        // Mappings of earlier buses stay: a caller may still read through one (they are 32 bytes each).
        m.path = path;
        m.settings = exists || create ? mapSettings(path, create) : nullptr;
        struct stat made
        {
        };
        m.inode = m.settings != nullptr && ::stat(path.c_str(), &made) == 0 ? made.st_ino : 0;
    }
    OsSettings* s = m.settings;
    if (s != nullptr && create && __atomic_load_n(&s->magic, __ATOMIC_ACQUIRE) != kOsMagic)
    {
        // A new file: every setting at its default until it is set.
        s->version = 2;
        __atomic_store_n(&s->magic, kOsMagic, __ATOMIC_RELEASE);
    }
    return s;
}

void makeOsSettings()
{
    busOsSettings(true);
}

} // namespace sim::os
