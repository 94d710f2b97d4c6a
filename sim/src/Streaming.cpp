#include "Streaming.h"

#include "Device.h"
#include "Wire.h"
#include "sim/PeriodLog.h"
#include "simos/CommandWords.h"
#include "simos/Event.h"
#include "simos/PerformanceCounter.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <linux/futex.h>
#include <map>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sstream>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace sim::stream
{

using namespace wire;

namespace
{

constexpr uint32_t kHistoryPeriods = kMaxLoopback + 1;

long futex(uint32_t* word, int op, uint32_t value, const timespec* timeout)
{
    return ::syscall(SYS_futex, word, op, value, timeout, nullptr, 0);
}

uint32_t loadShared(const uint32_t* word)
{
    return __atomic_load_n(word, __ATOMIC_ACQUIRE);
}

// The start time of a process (clock ticks since boot), which tells a live client from a reused pid.
uint64_t processStart(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(in, text);
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    // Field 3 (state) is the first after the name; the start time is field 22.
    for (int i = 3; i <= 22 && fields >> field; ++i)
        if (i == 22)
            return std::strtoull(field.c_str(), nullptr, 10);
    return 0;
}

int64_t get64(const uint8_t* p)
{
    int64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
void put64(uint8_t* p, int64_t v)
{
    std::memcpy(p, &v, 8);
}

// Times of one kind gathered by the clock between two visits to the unit's statistics block.
struct Gathered
{
    uint64_t count = 0;
    int64_t total = 0;
    int64_t max = 0;

    void add(int64_t ticks)
    {
        ++count;
        total += ticks;
        if (ticks > max)
            max = ticks;
    }
};

struct PendingStatistics
{
    Gathered play;
    Gathered record;
    Gathered wake;
    Gathered host;
    uint32_t underruns = 0;
    uint32_t overflows = 0;
    uint64_t periods = 0;
};

// One client of one unit, in this process: its shared block and rings, and its period clock.
struct Client
{
    Caller caller;
    std::shared_ptr<os::EventObject> event;
    uint8_t* memory = nullptr;
    size_t memoryBytes = 0;
    uint8_t* block = nullptr;
    uint64_t* playTable = nullptr;
    uint64_t* capTable = nullptr;
    uint32_t* playFrames = nullptr;
    uint32_t* capFrames = nullptr;
    uint32_t* history = nullptr;
    int64_t historyTag[kHistoryPeriods] = {};
    uint32_t bufferSize = 0;
    uint32_t inputs = 0;
    uint32_t playback = 0;

    std::thread clock;
    std::atomic<bool> stopClock{false};
    bool stepMode = false;
    uint64_t hz = os::kDefaultPerformanceFrequency; // the performance counter's frequency at the start
    uint64_t period = 0;                            // periods since start
    uint64_t frame = 0;                             // frames since start
    int64_t lastSignal = 0;                         // performance counter at the last signal
    uint32_t* stepRequests = nullptr;
    uint32_t* stepsDone = nullptr;

    // What the clock last read of the unit's state (at the start, then with each visit to it), and the
    // statistics gathered since its last visit. The clock's thread only, once started.
    bool live = true;
    uint32_t captureMode = CAPTURE_PATTERN;
    uint32_t loopbackPeriods = 1;
    PendingStatistics pending;

    // The period log of the run (sim/PeriodLog.h): set aside at the start, written when the clock stops.
    PeriodRecord* log = nullptr;
    uint32_t logged = 0;
    std::string logPath;

    ~Client()
    {
        if (memory != nullptr)
            ::munmap(memory, memoryBytes);
        if (log != nullptr)
            ::munmap(log, sizeof(PeriodRecord) * kPeriodLogCapacity);
    }

    template <typename T> void store(int offset, T value)
    {
        __atomic_store_n(reinterpret_cast<T*>(block + offset), value, __ATOMIC_RELEASE);
    }
    template <typename T> T load(int offset) const
    {
        return __atomic_load_n(reinterpret_cast<const T*>(block + offset), __ATOMIC_ACQUIRE);
    }
};

struct ClientTable
{
    std::mutex mutex;
    std::map<intptr_t, std::shared_ptr<Client>> clients; // by handle; guarded by mutex
};

ClientTable& clientTable()
{
    static ClientTable t;
    return t;
}

std::shared_ptr<Client> findClient(intptr_t handle)
{
    ClientTable& t = clientTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    const auto it = t.clients.find(handle);
    return it == t.clients.end() ? nullptr : it->second;
}

bool unitIsLive(const Caller& c)
{
    const UnitSlot& s = c.bus->header().units[c.slot];
    return s.inUse && s.plugged && s.creationId == c.creationId && s.generation == c.generation;
}

bool isClient(const UnitState& unit, const Caller& c)
{
    if (unit.stream.clientPid != static_cast<uint32_t>(::getpid()) || unit.stream.clientHandle != c.handle)
        return false;
    const std::shared_ptr<Client> client = findClient(c.handle);
    return client != nullptr && reinterpret_cast<uint64_t>(client.get()) == unit.stream.clientToken;
}

void setStatus(uint8_t* block, uint32_t status)
{
    storeLe32(block + kCtlStatus, status);
}

// ---- the period --------------------------------------------------------------------------------------

// Adds what was gathered to one statistic of the unit's block: its count (32 or 64 bits wide), total,
// average and maximum.
void merge(uint8_t* stats, int countOffset, bool wideCount, int avgOffset, int maxOffset, int totalOffset,
           const Gathered& g)
{
    if (g.count == 0)
        return;
    const uint64_t count =
        (wideCount ? static_cast<uint64_t>(get64(stats + countOffset)) : loadLe32(stats + countOffset)) +
        g.count;
    if (wideCount)
        put64(stats + countOffset, static_cast<int64_t>(count));
    else
        storeLe32(stats + countOffset, static_cast<uint32_t>(count));
    const int64_t total = get64(stats + totalOffset) + g.total;
    put64(stats + totalOffset, total);
    put64(stats + avgOffset, total / static_cast<int64_t>(count));
    if (g.max > get64(stats + maxOffset))
        put64(stats + maxOffset, g.max);
}

// Under the bus lock: the clock's visit to the unit's state. It learns whether the unit is still there
// and the capture knobs, and hands over the statistics gathered since its last visit.
void visitUnit(Client& c)
{
    c.live = unitIsLive(c.caller);
    if (!c.live)
        return;
    UnitState& u = c.caller.files->state();
    c.captureMode = u.stream.captureMode;
    c.loopbackPeriods = u.stream.loopbackPeriods == 0 ? 1 : u.stream.loopbackPeriods;
    PendingStatistics& p = c.pending;
    uint8_t* st = u.stats;
    merge(st, kStPlayCount, false, kStPlayAvg, kStPlayMax, kStPlayTotal, p.play);
    merge(st, kStRecCount, false, kStRecAvg, kStRecMax, kStRecTotal, p.record);
    merge(st, kStWakeCount, true, kStWakeAvg, kStWakeMax, kStWakeTotal, p.wake);
    merge(st, kStHostCount, true, kStHostAvg, kStHostMax, kStHostTotal, p.host);
    u.counters[1] += p.underruns; // DSP underrun: nothing to play
    u.stream.lateOutput += p.underruns;
    u.counters[2] += p.overflows; // DSP overflow: the captured period was not taken
    u.stream.lateInput += p.overflows;
    u.stream.periods += p.periods;
    p = PendingStatistics{};
}

// The frames are the DMA memory of the unit: a client that is late reads and writes them while the unit
// does, as it would on hardware. The thread sanitizer is told to leave the unit's side of that alone.
#define SIM_DMA __attribute__((no_sanitize_thread))

SIM_DMA void takePlayback(const volatile uint32_t* from, uint32_t* to, size_t words)
{
    // Word by word (not a library copy, which the sanitizer would still watch).
    for (size_t i = 0; i < words; ++i)
        to[i] = from[i];
}

SIM_DMA void fillCapture(Client& c, uint32_t mode, uint32_t loopback, uint32_t* frames)
{
    const uint32_t b = c.bufferSize;
    if (mode == CAPTURE_SILENCE)
    {
        std::memset(frames, 0, static_cast<size_t>(b) * kSlotsPerFrame * 4);
        return;
    }
    if (mode == CAPTURE_LOOPBACK)
    {
        // What the client wrote k periods earlier: its output of switch n - k, taken at tick n - k + 1.
        const int64_t source = static_cast<int64_t>(c.period) - static_cast<int64_t>(loopback);
        const uint32_t slot = source >= 0 ? static_cast<uint32_t>(source % kHistoryPeriods) : 0;
        if (source < 0 || c.historyTag[slot] != source)
        {
            std::memset(frames, 0, static_cast<size_t>(b) * kSlotsPerFrame * 4);
            return;
        }
        std::memcpy(frames, c.history + static_cast<size_t>(slot) * b * kSlotsPerFrame,
                    static_cast<size_t>(b) * kSlotsPerFrame * 4);
        return;
    }
    for (uint32_t j = 0; j < b; ++j)
    {
        const uint32_t f = static_cast<uint32_t>(c.frame + j) & 0xFFFF;
        uint32_t* frame = frames + static_cast<size_t>(j) * kSlotsPerFrame;
        for (uint32_t ch = 0; ch < c.inputs; ++ch)
            frame[ch] = __builtin_bswap32(0xA5000000u | ch << 16 | f); // a big-endian word
    }
}

int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The performance counter's value at a time of the monotonic clock, at the frequency taken at the start:
// the clock converts its own readings rather than look the frequency up on every call.
int64_t counterAt(const Client& c, int64_t ns)
{
    if (c.hz == os::kDefaultPerformanceFrequency)
        return ns;
    return static_cast<int64_t>(static_cast<unsigned __int128>(ns) * c.hz / 1000000000u);
}

int64_t counterNow(const Client& c)
{
    return counterAt(c, monotonicNs());
}

// One period, in the order the kernel driver keeps: take the client's frames, fill the capture frames,
// set the indexes and the capture time stamp, raise the completed count, signal. Nothing before the
// signal waits for a lock: the clock visits the unit's state (bus lock) after it. In real time that visit
// is made only when the lock is free at once, so another process holding it never delays the clock; what
// was gathered meanwhile is handed over at the next visit, and the knobs read then apply from the next
// period. In step mode the clock visits before and after each period, so a knob set between two steps
// applies to the next and the statistics are in place when the step returns.
void tick(Client& c, int64_t deadline)
{
    const int64_t tickStart = counterNow(c);
    if (c.stepMode)
    {
        BusLock lock(*c.caller.bus);
        visitUnit(c);
    }
    if (!c.live)
        return; // unplugged: the clock no longer runs
    const uint32_t b = c.bufferSize;
    const size_t periodWords = static_cast<size_t>(b) * kSlotsPerFrame;
    bool outputLate = false;
    PendingStatistics& p = c.pending;
    if (c.period > 0)
    {
        // Late: the client has not finished a copy of the last period before the DSP needs it.
        const int64_t beforeInput = c.load<int64_t>(kSbTimeBeforeInput);
        const int64_t afterOutput = c.load<int64_t>(kSbTimeAfterOutput);
        if (c.log != nullptr && c.period - 1 < c.logged)
        {
            c.log[c.period - 1].beforeInput = beforeInput;
            c.log[c.period - 1].afterOutput = afterOutput;
        }
        const bool inputLate = beforeInput < c.lastSignal;
        outputLate = afterOutput < c.lastSignal || afterOutput < beforeInput;
        if (outputLate)
            ++p.underruns;
        if (inputLate)
            ++p.overflows;
        if (!inputLate)
            p.wake.add(beforeInput - c.lastSignal);
        if (!inputLate && !outputLate)
            p.host.add(afterOutput - beforeInput);
    }

    // Playback: the frames of the last period go to the DSP (kept for loopback); a late client's do not.
    const int64_t playStart = counterNow(c);
    if (c.period > 0)
    {
        const uint64_t taken = c.period - 1;
        const uint32_t h = static_cast<uint32_t>(taken % kHistoryPeriods);
        const uint32_t ring = static_cast<uint32_t>(taken % kRingPeriods);
        takePlayback(c.playFrames + ring * periodWords, c.history + h * periodWords, periodWords);
        c.historyTag[h] = outputLate ? -1 : static_cast<int64_t>(taken);
    }
    const int64_t playEnd = counterNow(c);

    const uint32_t ring = static_cast<uint32_t>(c.period % kRingPeriods);
    fillCapture(c, c.captureMode, c.loopbackPeriods, c.capFrames + ring * periodWords);
    const int64_t recEnd = counterNow(c);
    if (c.period > 0)
        p.play.add(playEnd - playStart);
    p.record.add(recEnd - playEnd);
    ++p.periods;

    const int32_t index = static_cast<int32_t>(ring * b);
    c.store<int32_t>(kSbCaptureIndex, index);
    const int64_t signal = counterNow(c);
    c.store<int64_t>(kSbCaptureTime, signal);
    c.store<int32_t>(kSbPlaybackIndex, index);
    c.store<uint32_t>(kSbCompleted, c.load<uint32_t>(kSbCompleted) + 1);
    c.lastSignal = signal;
    c.event->set();

    if (c.stepMode)
    {
        BusLock lock(*c.caller.bus);
        visitUnit(c);
    }
    else if (c.caller.bus->tryLock())
    {
        visitUnit(c);
        c.caller.bus->unlock();
    }
    if (c.log != nullptr && c.logged < kPeriodLogCapacity && c.logged == c.period)
        c.log[c.logged++] = PeriodRecord{deadline, tickStart, signal, counterNow(c), 0, 0};
    ++c.period;
    c.frame += b;
}

timespec nsToTimespec(int64_t ns)
{
    return timespec{static_cast<time_t>(ns / 1000000000LL), static_cast<long>(ns % 1000000000LL)};
}

// Touches the stack the periods will use, so its pages are there before the first period.
__attribute__((noinline)) void prefaultStack()
{
    volatile uint8_t area[64 * 1024];
    for (size_t i = 0; i < sizeof area; i += 4096)
        area[i] = 0;
}

void runClock(Client* c, uint32_t rate)
{
    if (c->stepMode)
    {
        while (!c->stopClock.load())
        {
            const uint32_t requested = loadShared(c->stepRequests);
            const uint32_t done = loadShared(c->stepsDone);
            if (requested != done)
            {
                tick(*c, counterNow(*c));
                __atomic_store_n(c->stepsDone, done + 1, __ATOMIC_RELEASE);
                futex(c->stepsDone, FUTEX_WAKE, INT_MAX, nullptr);
                continue;
            }
            const timespec wait{0, 20000000L}; // looks at the stop flag at least every 20 ms
            futex(c->stepRequests, FUTEX_WAIT, requested, &wait);
        }
        return;
    }

    // The DSP's clock: a real-time thread where the process may have one, above the client's streaming
    // thread, like the kernel's timer.
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    prefaultStack();
    // Period n is due at start + n periods, to the nanosecond (the deadlines do not drift by rounding),
    // and the thread sleeps until that moment of the monotonic clock.
    const int64_t framesPerSecond = rate == 0 ? 48000 : rate;
    int64_t start = monotonicNs();
    int64_t n = 1;
    auto due = [&]
    { return start + n * static_cast<int64_t>(c->bufferSize) * 1000000000LL / framesPerSecond; };
    while (!c->stopClock.load())
    {
        const int64_t deadline = due();
        const timespec at = nsToTimespec(deadline);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR)
        {
        }
        if (c->stopClock.load())
            break;
        tick(*c, counterAt(*c, deadline));
        ++n;
        // After a stall of the machine the clock goes on from now instead of catching up in a burst.
        const int64_t next = due();
        const int64_t now = monotonicNs();
        if (now > next + (next - deadline))
        {
            start = now;
            n = 1;
        }
    }
}

} // namespace

void dropDeadClient(UnitState& u)
{
    StreamState& s = u.stream;
    if (s.clientPid == 0)
        return;
    const pid_t pid = static_cast<pid_t>(s.clientPid);
    // A client of this process is alive: it ends by closing streaming or its handle, never silently. (The
    // process may hold more than one copy of the simulator, so its own table cannot tell.)
    const bool alive =
        pid == ::getpid() || ((::kill(pid, 0) == 0 || errno == EPERM) && processStart(pid) == s.clientStart);
    if (alive)
        return;
    s.clientPid = 0;
    s.clientHandle = 0;
    s.clientStart = 0;
    s.running = 0;
    s.claimedIn = 0;
    s.claimedOut = 0;
    if (s.pendingBufferSize != 0)
    {
        u.bufferSize = s.pendingBufferSize;
        s.pendingBufferSize = 0;
    }
}

namespace
{

bool makeRings(Client& c)
{
    const size_t b = c.bufferSize;
    const size_t ringEntries = b * kRingPeriods;
    const size_t frameBytes = kSlotsPerFrame * 4;
    const size_t bytes = kSharedBlockBytes + 2 * ringEntries * 8 + 2 * ringEntries * frameBytes +
                         kHistoryPeriods * b * frameBytes;
    // The unit's DMA memory: in place from the start and kept there (the lock may be refused; then it is
    // only in place), so no period takes a page fault on it.
    void* map =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (map == MAP_FAILED)
        return false;
    ::mlock(map, bytes);
    c.memory = static_cast<uint8_t*>(map);
    c.memoryBytes = bytes;
    uint8_t* p = c.memory;
    c.block = p;
    p += kSharedBlockBytes;
    c.playTable = reinterpret_cast<uint64_t*>(p);
    p += ringEntries * 8;
    c.capTable = reinterpret_cast<uint64_t*>(p);
    p += ringEntries * 8;
    c.playFrames = reinterpret_cast<uint32_t*>(p);
    p += ringEntries * frameBytes;
    c.capFrames = reinterpret_cast<uint32_t*>(p);
    p += ringEntries * frameBytes;
    c.history = reinterpret_cast<uint32_t*>(p);
    for (size_t e = 0; e < ringEntries; ++e)
    {
        c.playTable[e] = reinterpret_cast<uint64_t>(c.playFrames + e * kSlotsPerFrame);
        c.capTable[e] = reinterpret_cast<uint64_t>(c.capFrames + e * kSlotsPerFrame);
    }
    for (int64_t& tag : c.historyTag)
        tag = -1;
    c.store<uint64_t>(kSbPlaybackTable, reinterpret_cast<uint64_t>(c.playTable));
    c.store<uint64_t>(kSbCaptureTable, reinterpret_cast<uint64_t>(c.capTable));
    c.store<uint32_t>(kSbPlaybackFrames, c.bufferSize);
    c.store<uint32_t>(kSbCaptureFrames, c.bufferSize);
    c.store<int32_t>(kSbPlaybackIndex, -1);
    c.store<int32_t>(kSbCaptureIndex, -1);
    return true;
}

// ---- the requests ------------------------------------------------------------------------------------

void openStreaming(const Caller& caller, UnitState& u, uint8_t* block)
{
    dropDeadClient(u);
    if (u.stream.clientPid != 0)
    {
        setStatus(block, STATUS_DEVICE_BUSY); // one streaming client per unit
        return;
    }
    uint64_t handle;
    std::memcpy(&handle, block + 16, sizeof handle);
    std::shared_ptr<os::EventObject> event = os::referenceEvent(handle);
    if (!event)
    {
        setStatus(block, STATUS_INVALID_HANDLE);
        return;
    }
    auto client = std::make_shared<Client>();
    client->caller = caller;
    client->event = std::move(event);
    client->bufferSize = u.bufferSize;
    const Counts counts = countsOf(u);
    client->inputs = counts.inputs > kSlotsPerFrame ? kSlotsPerFrame : counts.inputs;
    client->playback = counts.playback > kSlotsPerFrame ? kSlotsPerFrame : counts.playback;
    client->stepRequests = &u.stream.stepRequests;
    client->stepsDone = &u.stream.stepsDone;
    if (!makeRings(*client))
    {
        setStatus(block, STATUS_NO_MEMORY);
        return;
    }
    client->store<uint32_t>(kSbCompleted, u.stream.completedStart);
    {
        ClientTable& t = clientTable();
        std::lock_guard<std::mutex> lock(t.mutex);
        t.clients[caller.handle] = client;
    }
    StreamState& s = u.stream;
    s.clientPid = static_cast<uint32_t>(::getpid());
    s.clientStart = processStart(::getpid());
    s.clientHandle = caller.handle;
    s.clientToken = reinterpret_cast<uint64_t>(client.get());
    s.running = 0;
    s.claimedIn = 0;
    s.claimedOut = 0;
    const uint64_t address = reinterpret_cast<uint64_t>(client->block);
    std::memcpy(block + 24, &address, sizeof address);
    storeLe32(block + 32, client->bufferSize * kRingPeriods); // frames in each ring
    setStatus(block, STATUS_SUCCESS);
}

void claimChannel(UnitState& u, uint8_t* block)
{
    const bool isInput = loadLe32(block + 12) != 0;
    const uint32_t channel = loadLe32(block + 16);
    const Counts counts = countsOf(u);
    const uint32_t total = isInput ? counts.inputs : counts.playback;
    if (channel >= total || channel >= 64)
    {
        setStatus(block, STATUS_INVALID_PARAMETER);
        return;
    }
    const uint64_t bit = uint64_t{1} << channel;
    if (((isInput ? u.stream.heldIn : u.stream.heldOut) & bit) != 0)
    {
        setStatus(block, STATUS_SHARING_VIOLATION); // held by another application
        return;
    }
    (isInput ? u.stream.claimedIn : u.stream.claimedOut) |= bit;
    setStatus(block, STATUS_SUCCESS);
}

// The period log of a real-time run, when asked for: its memory is touched now, not in the periods.
void prepareLog(Client& c)
{
    const char* path = std::getenv(kPeriodLogVariable);
    if (c.stepMode || path == nullptr || *path == '\0')
        return;
    if (c.log == nullptr)
    {
        void* map = ::mmap(nullptr, sizeof(PeriodRecord) * kPeriodLogCapacity, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (map == MAP_FAILED)
            return;
        c.log = static_cast<PeriodRecord*>(map);
    }
    c.logPath = path;
    c.logged = 0;
}

// Writes the period log of the run that just stopped.
void writeLog(Client& c)
{
    if (c.log == nullptr || c.logPath.empty())
        return;
    if (FILE* f = std::fopen(c.logPath.c_str(), "wb"))
    {
        std::fwrite(c.log, sizeof(PeriodRecord), c.logged, f);
        std::fclose(f);
    }
    c.logPath.clear();
}

// Stops the clock of a client whose run flag was cleared; never under the bus lock (the clock takes it).
void joinClock(Client& c)
{
    c.stopClock.store(true);
    if (c.stepRequests != nullptr)
        futex(c.stepRequests, FUTEX_WAKE, INT_MAX, nullptr);
    if (c.clock.joinable())
    {
        c.clock.join();
        writeLog(c);
        // What the clock gathered since its last visit to the unit.
        BusLock lock(*c.caller.bus);
        visitUnit(c);
    }
}

void endClient(const Caller& caller, const std::shared_ptr<Client>& client)
{
    joinClock(*client);
    {
        BusLock lock(*caller.bus);
        UnitState& u = caller.files->state();
        StreamState& s = u.stream;
        if (s.clientPid == static_cast<uint32_t>(::getpid()) && s.clientHandle == caller.handle &&
            s.clientToken == reinterpret_cast<uint64_t>(client.get()))
        {
            s.clientPid = 0;
            s.clientHandle = 0;
            s.clientStart = 0;
            s.running = 0;
            s.claimedIn = 0;
            s.claimedOut = 0;
            if (s.pendingBufferSize != 0)
            {
                u.bufferSize = s.pendingBufferSize;
                s.pendingBufferSize = 0;
            }
        }
    }
    ClientTable& t = clientTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.clients.erase(caller.handle);
}

} // namespace

bool isStreamingCode(uint32_t code)
{
    return code == CTL_OPEN_STREAMING || code == CTL_CLOSE_STREAMING || code == CTL_CLAIM_CHANNEL ||
           code == CTL_START_STREAMING || code == CTL_STOP_STREAMING;
}

bool clientHolds(const UnitState& unit)
{
    UnitState& u = const_cast<UnitState&>(unit);
    dropDeadClient(u);
    return u.stream.clientPid != 0;
}

bool otherClientHolds(const UnitState& unit, intptr_t handle)
{
    return clientHolds(unit) &&
           (unit.stream.clientPid != static_cast<uint32_t>(::getpid()) || unit.stream.clientHandle != handle);
}

bool request(const Caller& caller, uint8_t* block)
{
    const uint32_t code = loadLe32(block + kCtlCode);
    std::shared_ptr<Client> toStart;
    std::shared_ptr<Client> toStop;
    std::shared_ptr<Client> toEnd;
    uint32_t rate = 0;
    {
        BusLock lock(*caller.bus);
        if (!unitIsLive(caller))
            return false;
        UnitState& u = caller.files->state();
        if (code == CTL_OPEN_STREAMING)
        {
            openStreaming(caller, u, block);
            return true;
        }
        if (!isClient(u, caller))
        {
            setStatus(block, STATUS_INVALID_DEVICE_STATE); // only the client streams
            return true;
        }
        std::shared_ptr<Client> client = findClient(caller.handle);
        setStatus(block, STATUS_SUCCESS);
        switch (code)
        {
        case CTL_CLAIM_CHANNEL:
            claimChannel(u, block);
            break;
        case CTL_START_STREAMING:
            if (u.stream.running == 0)
            {
                u.stream.running = 1;
                u.stream.periods = 0;
                client->stepMode = u.stream.stepMode != 0;
                client->hz = os::performanceFrequency();
                client->pending = PendingStatistics{};
                visitUnit(*client); // the knobs the first period uses
                // Step requests made before the start do not count.
                __atomic_store_n(&u.stream.stepsDone, loadShared(&u.stream.stepRequests), __ATOMIC_RELEASE);
                rate = u.mixer.rate;
                toStart = client;
            }
            break;
        case CTL_STOP_STREAMING:
            if (u.stream.running != 0)
            {
                u.stream.running = 0;
                toStop = client;
            }
            break;
        case CTL_CLOSE_STREAMING:
            toEnd = client;
            break;
        default:
            break;
        }
    }
    if (toStop)
    {
        joinClock(*toStop);
        toStop->stopClock.store(false);
    }
    if (toStart)
    {
        Client& c = *toStart;
        c.period = 0;
        c.frame = 0;
        c.lastSignal = 0;
        for (int64_t& tag : c.historyTag)
            tag = -1;
        c.stopClock.store(false);
        c.store<int32_t>(kSbPlaybackIndex, -1);
        c.store<int32_t>(kSbCaptureIndex, -1);
        prepareLog(c);
        c.clock = std::thread(runClock, &c, rate);
    }
    if (toEnd)
        endClient(caller, toEnd);
    return true;
}

void handleClosed(intptr_t handle)
{
    const std::shared_ptr<Client> client = findClient(handle);
    if (client)
        endClient(client->caller, client);
}

// ---- devsim ------------------------------------------------------------------------------------------

namespace
{

// A refused list leaves the held channels as they were.
bool parseChannelList(const std::string& text, uint64_t& held, std::string& why)
{
    if (text == "none" || text == "-")
    {
        held = 0;
        return true;
    }
    uint64_t mask = 0;
    size_t start = 0;
    while (true)
    {
        const size_t comma = text.find(',', start);
        uint64_t n = 0;
        if (!os::parseCommandNumber(text.substr(start, comma - start), 63, &n))
        {
            why = "channels are listed as numbers 0 to 63 separated by commas (or none): " + text;
            return false;
        }
        mask |= uint64_t{1} << n;
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    held = mask;
    return true;
}

std::string channelList(uint64_t mask)
{
    std::string text;
    for (int c = 0; c < 64; ++c)
        if ((mask & (uint64_t{1} << c)) != 0)
            text += (text.empty() ? "" : ",") + std::to_string(c);
    return text.empty() ? "none" : text;
}

} // namespace

bool setKnob(UnitState& unit, const std::string& knob, const std::string& value, std::string& why)
{
    StreamState& s = unit.stream;
    if (knob == "held.out" || knob == "held.in")
        return parseChannelList(value, knob == "held.in" ? s.heldIn : s.heldOut, why);
    if (knob == "capture")
    {
        if (value == "pattern")
            s.captureMode = CAPTURE_PATTERN;
        else if (value == "silence")
            s.captureMode = CAPTURE_SILENCE;
        else if (value.compare(0, 9, "loopback:") == 0)
        {
            uint64_t k = 0;
            if (!os::parseCommandNumber(value.substr(9), kMaxLoopback, &k) || k < 1)
            {
                why = "loopback takes a number of periods from 1 to " + std::to_string(kMaxLoopback);
                return false;
            }
            s.captureMode = CAPTURE_LOOPBACK;
            s.loopbackPeriods = static_cast<uint32_t>(k);
        }
        else
        {
            why = "capture is pattern, silence or loopback:<periods>";
            return false;
        }
        return true;
    }
    if (knob == "completed")
    {
        uint64_t n = 0;
        if (!os::parseCommandNumber(value, 0xFFFFFFFFull, &n))
        {
            why = "completed takes a count from 0 to 0xFFFFFFFF";
            return false;
        }
        s.completedStart = static_cast<uint32_t>(n);
        return true;
    }
    if (knob == "period-clock")
    {
        if (value != "real" && value != "step")
        {
            why = "period-clock is real or step";
            return false;
        }
        s.stepMode = value == "step" ? 1 : 0;
        return true;
    }
    why = "unknown knob " + knob;
    return false;
}

std::vector<std::string> dumpLines(const UnitState& unit)
{
    const StreamState& s = unit.stream;
    std::vector<std::string> lines;
    std::string capture = s.captureMode == CAPTURE_SILENCE ? "silence"
                          : s.captureMode == CAPTURE_LOOPBACK
                              ? "loopback:" + std::to_string(s.loopbackPeriods)
                              : "pattern";
    lines.push_back("streaming client " +
                    (s.clientPid != 0 ? std::to_string(s.clientPid) : std::string("none")) + " running " +
                    std::to_string(s.running) + " periods " + std::to_string(s.periods) + " late output " +
                    std::to_string(s.lateOutput) + " late input " + std::to_string(s.lateInput));
    lines.push_back("streaming capture " + capture + " period-clock " + (s.stepMode != 0 ? "step" : "real") +
                    " pending buffer " + std::to_string(s.pendingBufferSize));
    const uint8_t* st = unit.stats;
    auto ticks = [st](int offset) { return std::to_string(get64(st + offset)); };
    lines.push_back("statistics times play " + ticks(kStPlayAvg) + " " + ticks(kStPlayMax) + " record " +
                    ticks(kStRecAvg) + " " + ticks(kStRecMax) + " wakeup " + ticks(kStWakeAvg) + " " +
                    ticks(kStWakeMax) + " host " + ticks(kStHostAvg) + " " + ticks(kStHostMax));
    lines.push_back("held out " + channelList(s.heldOut) + " in " + channelList(s.heldIn));
    lines.push_back("claimed out " + channelList(s.claimedOut) + " in " + channelList(s.claimedIn));
    return lines;
}

bool step(Bus& bus, int slot, uint32_t periods, std::string& why)
{
    uint32_t target = 0;
    uint32_t* done = nullptr;
    uint32_t* requests = nullptr;
    std::shared_ptr<UnitFiles> files;
    {
        BusLock lock(bus);
        files = bus.files(slot, false, &why);
        if (!files)
            return false;
        StreamState& s = files->state().stream;
        if (!clientHolds(files->state()) || s.running == 0 || s.stepMode == 0)
        {
            why = "no period clock runs in step mode on this unit";
            return false;
        }
        requests = &s.stepRequests;
        done = &s.stepsDone;
        target = loadShared(requests) + periods;
        __atomic_store_n(requests, target, __ATOMIC_RELEASE);
    }
    futex(requests, FUTEX_WAKE, INT_MAX, nullptr);
    const int64_t deadline = monotonicNs() + 5000000000LL;
    for (;;)
    {
        const uint32_t now = loadShared(done);
        if (static_cast<int32_t>(now - target) >= 0)
            return true;
        const int64_t left = deadline - monotonicNs();
        if (left <= 0)
        {
            why = "the period clock did not run the steps within 5 s";
            return false;
        }
        const timespec wait = nsToTimespec(left < 20000000LL ? left : 20000000LL);
        futex(done, FUTEX_WAIT, now, &wait);
    }
}

} // namespace sim::stream
