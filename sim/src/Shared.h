#pragma once

// The bus: files in one directory that hold every simulated unit, so that all processes (programs under
// test, the devsim tool, test runners) see the same units. The bus file holds the unit table and the
// plug and unplug events; each unit has its state file and its flash file. One robust, process-shared
// mutex in the bus file guards all of it; a process that dies holding it does not wedge the bus.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <pthread.h>
#include <string>

namespace sim
{

constexpr int kMaxUnits = 16;
constexpr int kEventRing = 64;
constexpr int kMaxFaults = 16;
constexpr int kMaxChannels = 64;
constexpr int kCapsBytes = 260;
constexpr int kNameBytes = 32;
constexpr int kUniqueNameBytes = 256;
constexpr uint32_t kFlashBytes = 0x200000;
constexpr int kIsocWords = 70;

constexpr uint32_t kBusMagic = 0x42534453;  // "SDSB"
constexpr uint32_t kUnitMagic = 0x55534453; // "SDSU"
constexpr uint32_t kLayoutVersion = 5;
constexpr int kVolumeRing = 64;

struct UnitSlot
{
    uint32_t inUse;
    uint32_t plugged;
    uint64_t plugSeq;    // plug order
    uint64_t generation; // changes on every plug and unplug: handles of an earlier plug fail
    uint64_t creationId; // changes when the unit's files are made anew
    char name[kNameBytes];
};

struct BusEvent
{
    uint64_t seq;
    uint32_t arrival;
    uint32_t removalCodes; // bit 0 query-remove, bit 1 remove-pending, bit 2 remove-complete
    char unit[kNameBytes];
};

// A change of a unit's playback volume or mute made through the system's audio (endpoint volume, or a
// user's volume control), for the change notifications of every process.
struct VolumeEvent
{
    uint64_t seq;
    uint64_t creationId;
    char unit[kNameBytes];
    uint32_t firstChannel; // the playback channels that changed
    uint32_t channelCount;
    uint32_t kind;       // 1 volume, 2 mute
    uint8_t context[16]; // the event context the change was made with (zeros: none)
};

struct BusHeader
{
    uint32_t magic;
    uint32_t layoutVersion;
    uint64_t size;
    pthread_mutex_t lock;
    uint64_t changeCount; // raised by every plug, unplug and reset
    uint64_t counter;     // source of plug order, generations and creation ids
    uint64_t eventSeq;    // sequence of the latest event
    BusEvent events[kEventRing];
    UnitSlot units[kMaxUnits];
    uint64_t volumeSeq; // sequence of the latest volume event
    VolumeEvent volumeEvents[kVolumeRing];
};

enum FaultTarget : uint32_t
{
    TARGET_VDC = 1,
    TARGET_DC = 2,
    TARGET_VER = 3,
    TARGET_OPEN = 4
};

enum FaultKind : uint32_t
{
    FAULT_NONE = 0,
    FAULT_TIMEOUT = 1,  // VDC reply with NT status 0x102, not executed
    FAULT_BUSRESET = 2, // VDC reply with NT status 0xC0120090, not executed
    FAULT_VDR = 3,      // VDC reply with this device return value, not executed
    FAULT_FAIL = 4,     // the call itself fails (or the open)
    FAULT_STATUS = 5,   // driver-control block answered with this status, not executed
    FAULT_CORRUPT = 6,  // a flash write is carried out and answered OK, but one bit it programs is cleared
    FAULT_STUCK0 = 7,   // a flash erase is carried out, but one bit of the block (address, bit) stays 0
    FAULT_NT = 8,       // VDC reply with this NT status, not executed
    FAULT_HOLD = 9      // the VDC request waits, unanswered, while the fault is set (value = requests held)
};

struct Fault
{
    uint32_t kind;
    uint32_t target;
    int32_t category; // VDC category or driver-control sub-code; -1 = any
    int32_t command;  // VDC command; -1 = any
    uint32_t value;
    int32_t remaining; // requests it still acts on; -1 = always
    int32_t after;     // matching requests it still lets through before it acts
    uint32_t address;  // FAULT_STUCK0: flash byte address of the stuck bit (value = the bit)
};

// The kernel driver's streaming state of a unit (see Streaming.h). The client's shared block and frames
// live in the client's process; this is what every process sees.
struct StreamState
{
    uint32_t clientPid; // 0 = no client
    uint32_t running;
    uint64_t clientStart; // the client process's start time, which tells it from a reused pid
    int64_t clientHandle;
    uint64_t clientToken; // the client object in its process (a process may hold several simulators)
    uint64_t heldOut;     // channels held by another application (knobs held.out, held.in)
    uint64_t heldIn;
    uint64_t claimedOut;
    uint64_t claimedIn;
    uint32_t pendingBufferSize; // set while a client holds the unit; applied when it closes
    uint32_t captureMode;
    uint32_t loopbackPeriods;
    uint32_t stepMode;
    alignas(4) uint32_t stepRequests; // futex words shared between processes
    alignas(4) uint32_t stepsDone;
    uint64_t periods; // since the last start
    uint64_t lateOutput;
    uint64_t lateInput;
    uint32_t completedStart; // the completed count a new client's shared block starts at (knob completed)
};

// The unit's live mixer and settings: what the mixer commands set and get.
struct Mixer
{
    uint32_t outGain[kMaxChannels];
    uint32_t outMute[kMaxChannels];
    uint32_t outNominal[kMaxChannels];
    uint32_t inNominal[kMaxChannels];
    uint32_t playGain[kMaxChannels];
    uint32_t playMute[kMaxChannels];
    uint32_t playSolo[kMaxChannels];
    uint32_t monGain[kMaxChannels][kMaxChannels]; // [input][mix]
    uint32_t monMute[kMaxChannels][kMaxChannels];
    uint32_t monSolo[kMaxChannels][kMaxChannels];
    uint32_t monPan[kMaxChannels][kMaxChannels];
    uint32_t clock;
    uint32_t rate;
    uint32_t flags;
    uint32_t phantom;
    uint32_t isoc[kIsocWords];
};

struct UnitState
{
    uint32_t magic;
    uint32_t layoutVersion;
    uint32_t preset; // preset index + 1, 0 for a raw record

    // The interface's registry values.
    uint32_t hasCaps;
    uint32_t capsSize;
    uint8_t caps[kCapsBytes];
    uint32_t hasUniqueName;
    uint32_t uniqueNameSize; // bytes of the value, terminator included (0 for an empty value)
    char uniqueName[kUniqueNameBytes];

    // Knobs.
    uint32_t meterOut[kMaxChannels];
    uint32_t meterIn[kMaxChannels];
    uint32_t clocks;
    uint32_t midi;
    uint32_t counters[3];
    uint32_t flashBusyPolls;
    uint32_t driverVersion;
    uint32_t sessionBase;
    uint32_t sessionChunk;

    // Device runtime.
    uint32_t busyPollsLeft;
    uint32_t flashLock;
    uint32_t identifyCount;
    Mixer mixer;

    // Kernel driver.
    uint32_t driverFlags;
    uint32_t bufferSize;
    Fault faults[kMaxFaults];
    alignas(64) uint8_t stats[256];
    StreamState stream;
    uint32_t statisticsResets; // ResetStatistics requests answered since the unit was made

    // How the kernel driver presents the playback channels to the system's audio (Audio.h).
    uint32_t endpointMode; // knob endpoints: 0 on, 1 off, 2 anonymous
    uint32_t waveSurround; // taken at plug: one multichannel device instead of stereo pairs
    uint32_t waveChannels; // taken at plug: the playback channels presented
};

// A unit's two files, mapped into this process.
class UnitFiles
{
public:
    ~UnitFiles();
    UnitFiles(const UnitFiles&) = delete;
    UnitFiles& operator=(const UnitFiles&) = delete;

    UnitState& state() { return *state_; }
    uint8_t* flash() { return flash_; }
    uint64_t creationId() const { return creationId_; }

private:
    friend class Bus;
    UnitFiles() = default;

    uint64_t creationId_ = 0;
    UnitState* state_ = nullptr;
    uint8_t* flash_ = nullptr;
};

// One mapping of a bus. Shared by everything in the process that uses that bus; the mappings of its
// units stay while anyone holds them, so addresses handed out into them (statistics blocks) stay valid.
class Bus
{
public:
    ~Bus();
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // The bus named by STRELLIS_SIM_DIR (or the default directory), created when missing. Null with a
    // reason in *error when it cannot be opened.
    static std::shared_ptr<Bus> current(std::string* error = nullptr);

    BusHeader& header() { return *header_; }
    const std::string& directory() const { return directory_; }

    void lock();
    void unlock();

    // The rest under the lock.
    int findUnit(const std::string& name) const;
    // The plugged unit whose interface path this is (letter case ignored); -1 when none.
    int findPlugged(const std::string& interfacePath) const;
    // The mapped files of a unit in use; made afresh (flash erased) when fresh is set. Null after
    // putting the reason into *error.
    std::shared_ptr<UnitFiles> files(int slot, bool fresh, std::string* error);
    // Removes a slot's files from the directory.
    void removeFiles(int slot);
    void pushEvent(bool arrival, uint32_t removalCodes, const char* unit);

private:
    Bus() = default;
    static std::shared_ptr<Bus> openAt(const std::string& directory, std::string* error);

    std::string directory_;
    int fd_ = -1;
    BusHeader* header_ = nullptr;
    std::shared_ptr<UnitFiles> cache_[kMaxUnits]; // guarded by the bus lock
};

class BusLock
{
public:
    explicit BusLock(Bus& bus) : bus_(bus) { bus_.lock(); }
    ~BusLock() { bus_.unlock(); }
    BusLock(const BusLock&) = delete;
    BusLock& operator=(const BusLock&) = delete;

private:
    Bus& bus_;
};

// "\\?\doranth#<unit>#{3d5a1f20-7c44-4b9e-9e21-6a0b5c7d8e31}".
std::string interfacePath(const std::string& unit);
// The unit name inside an interface path; empty when the path is not one of ours.
std::string unitOfPath(const std::string& path);

bool equalsIgnoringCase(const std::string& a, const std::string& b);

// Little-endian word access into byte buffers.
inline uint32_t loadLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void storeLe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

} // namespace sim
