#include "Shared.h"
#include "simos/BusDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim
{

namespace
{

constexpr const char* kPathPrefix = "\\\\?\\doranth#";
constexpr const char* kPathSuffix = "#{3d5a1f20-7c44-4b9e-9e21-6a0b5c7d8e31}";

bool makeDirectories(const std::string& path)
{
    size_t pos = 0;
    while (pos != std::string::npos)
    {
        pos = path.find('/', pos + 1);
        const std::string partial = path.substr(0, pos);
        if (!partial.empty() && ::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool initialiseMutex(pthread_mutex_t* m)
{
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0)
        return false;
    const bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
                    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
                    pthread_mutex_init(m, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

// Maps a file of the given size; made (or cut to size) first when create is set.
void* mapFile(const std::string& path, size_t size, bool create, std::string* error)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0), 0600);
    if (fd < 0)
    {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st;
    void* map = MAP_FAILED;
    if (create && ::ftruncate(fd, off_t(size)) != 0)
        *error = "cannot size " + path + ": " + std::strerror(errno);
    else if (::fstat(fd, &st) != 0 || size_t(st.st_size) != size)
        *error = path + " has the wrong size for this simulator";
    else
    {
        map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (map == MAP_FAILED)
            *error = "cannot map " + path + ": " + std::strerror(errno);
    }
    ::close(fd);
    return map == MAP_FAILED ? nullptr : map;
}

// The process's bus for the directory asked for last. Looked up on every call, so a test may point
// STRELLIS_SIM_DIR at a fresh directory; older buses live on while handles still hold them.
std::mutex currentMutex;
std::shared_ptr<Bus> currentBus;

} // namespace

UnitFiles::~UnitFiles()
{
    if (state_ != nullptr)
        ::munmap(state_, sizeof(UnitState));
    if (flash_ != nullptr)
        ::munmap(flash_, kFlashBytes);
}

bool equalsIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
    {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string interfacePath(const std::string& unit)
{
    return kPathPrefix + unit + kPathSuffix;
}

std::string unitOfPath(const std::string& path)
{
    const size_t prefix = std::strlen(kPathPrefix);
    const size_t suffix = std::strlen(kPathSuffix);
    if (path.size() <= prefix + suffix || !equalsIgnoringCase(path.substr(0, prefix), kPathPrefix) ||
        !equalsIgnoringCase(path.substr(path.size() - suffix), kPathSuffix))
        return std::string();
    return path.substr(prefix, path.size() - prefix - suffix);
}

std::shared_ptr<Bus> Bus::current(std::string* error)
{
    const std::string directory = sim::os::busDirectory();
    std::lock_guard<std::mutex> guard(currentMutex);
    if (currentBus && currentBus->directory_ == directory)
    {
        // A bus directory removed and made anew (a test's private bus) gets a fresh mapping.
        struct stat now;
        struct stat mine;
        if (::stat((directory + "/bus").c_str(), &now) == 0 && ::fstat(currentBus->fd_, &mine) == 0 &&
            now.st_ino == mine.st_ino && now.st_dev == mine.st_dev)
            return currentBus;
    }
    std::shared_ptr<Bus> bus = openAt(directory, error);
    if (bus)
    {
        currentBus = bus;
        // Every VDC transaction looks at the tick clock's setting: with the file in place it finds it
        // without asking the file system.
        sim::os::makeOsSettings();
    }
    return bus;
}

std::shared_ptr<Bus> Bus::openAt(const std::string& directory, std::string* error)
{
    std::string why;
    auto fail = [&](const std::string& reason) -> std::shared_ptr<Bus>
    {
        if (error != nullptr)
            *error = reason;
        return nullptr;
    };
    if (!makeDirectories(directory))
        return fail("cannot make the bus directory " + directory + ": " + std::strerror(errno));
    const std::string file = directory + "/bus";
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail("cannot open " + file + ": " + std::strerror(errno));
    std::shared_ptr<Bus> bus(new Bus());
    bus->directory_ = directory;
    bus->fd_ = fd;
    // The file lock only orders the first initialisation; the bus lock does the rest.
    if (::flock(fd, LOCK_EX) != 0)
        return fail("cannot lock " + file + ": " + std::strerror(errno));
    const size_t size = sizeof(BusHeader);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        why = "cannot examine " + file + ": " + std::strerror(errno);
    else if (st.st_size == 0 && ::ftruncate(fd, off_t(size)) != 0)
        why = "cannot size " + file + ": " + std::strerror(errno);
    else if (st.st_size != 0 && size_t(st.st_size) != size)
        why = file + " belongs to another version of the simulator; remove " + directory;
    void* map = MAP_FAILED;
    if (why.empty())
    {
        map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (map == MAP_FAILED)
            why = "cannot map " + file + ": " + std::strerror(errno);
    }
    if (why.empty())
    {
        bus->header_ = static_cast<BusHeader*>(map);
        BusHeader& h = *bus->header_;
        const uint32_t magic = __atomic_load_n(&h.magic, __ATOMIC_ACQUIRE);
        // A creator that died before writing the magic left a zeroed file of the right size: finish it.
        if (magic == 0)
        {
            if (!initialiseMutex(&h.lock))
                why = "cannot make the bus lock";
            else
            {
                h.layoutVersion = kLayoutVersion;
                h.size = size;
                __atomic_store_n(&h.magic, kBusMagic, __ATOMIC_RELEASE);
            }
        }
        else if (magic != kBusMagic || h.layoutVersion != kLayoutVersion || h.size != size)
            why = file + " belongs to another version of the simulator; remove " + directory;
    }
    ::flock(fd, LOCK_UN);
    if (!why.empty())
    {
        if (map != MAP_FAILED)
            ::munmap(map, size);
        bus->header_ = nullptr;
        return fail(why);
    }
    return bus;
}

Bus::~Bus()
{
    for (auto& files : cache_)
        files.reset();
    if (header_ != nullptr)
        ::munmap(header_, sizeof(BusHeader));
    if (fd_ >= 0)
        ::close(fd_);
}

void Bus::lock()
{
    // A holder that died inside the lock left the state as it was at that moment; every update keeps
    // it usable at each step, so it is taken as it is.
    if (pthread_mutex_lock(&header_->lock) == EOWNERDEAD)
        pthread_mutex_consistent(&header_->lock);
}

void Bus::unlock()
{
    pthread_mutex_unlock(&header_->lock);
}

int Bus::findUnit(const std::string& name) const
{
    for (int i = 0; i < kMaxUnits; ++i)
    {
        const UnitSlot& u = header_->units[i];
        if (u.inUse && name == u.name)
            return i;
    }
    return -1;
}

int Bus::findPlugged(const std::string& path) const
{
    const std::string name = unitOfPath(path);
    if (name.empty())
        return -1;
    for (int i = 0; i < kMaxUnits; ++i)
    {
        const UnitSlot& u = header_->units[i];
        if (u.inUse && u.plugged && equalsIgnoringCase(name, u.name))
            return i;
    }
    return -1;
}

std::shared_ptr<UnitFiles> Bus::files(int slot, bool fresh, std::string* error)
{
    std::string ignored;
    std::string& why = error != nullptr ? *error : ignored;
    const UnitSlot& s = header_->units[slot];
    std::shared_ptr<UnitFiles>& cached = cache_[slot];
    if (!fresh && cached && cached->creationId_ == s.creationId)
        return cached;
    const std::string base = directory_ + "/" + s.name;
    if (fresh)
        removeFiles(slot); // processes that still map the old files keep them until they let go
    std::shared_ptr<UnitFiles> files(new UnitFiles());
    files->creationId_ = s.creationId;
    files->state_ = static_cast<UnitState*>(mapFile(base + ".state", sizeof(UnitState), fresh, &why));
    if (files->state_ == nullptr)
        return nullptr;
    files->flash_ = static_cast<uint8_t*>(mapFile(base + ".flash", kFlashBytes, fresh, &why));
    if (files->flash_ == nullptr)
        return nullptr;
    UnitState& st = *files->state_;
    if (fresh)
    {
        std::memset(files->flash_, 0xFF, kFlashBytes);
        st.magic = kUnitMagic;
        st.layoutVersion = kLayoutVersion;
    }
    else if (st.magic != kUnitMagic || st.layoutVersion != kLayoutVersion)
    {
        why = base + ".state belongs to another version of the simulator";
        return nullptr;
    }
    cached = files;
    return files;
}

void Bus::removeFiles(int slot)
{
    const std::string base = directory_ + "/" + header_->units[slot].name;
    ::unlink((base + ".state").c_str());
    ::unlink((base + ".flash").c_str());
    cache_[slot].reset();
}

void Bus::pushEvent(bool arrival, uint32_t removalCodes, const char* unit)
{
    BusHeader& h = *header_;
    const uint64_t seq = h.eventSeq + 1;
    BusEvent& e = h.events[seq % kEventRing];
    e.seq = seq;
    e.arrival = arrival ? 1 : 0;
    e.removalCodes = removalCodes;
    std::memset(e.unit, 0, sizeof(e.unit));
    std::strncpy(e.unit, unit, kNameBytes - 1);
    h.eventSeq = seq;
    h.changeCount++;
}

} // namespace sim
