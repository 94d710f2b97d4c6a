#pragma once

// The driver's own compact device access: the kernel driver's wire formats as this driver sends them, the
// capability record with its channel maps and group names, one device object per interface with the
// retrying VDC transaction, and the list of interfaces. No reference counting, no hot-plug, no debug
// lines: the driver builds the list at init and drops it at release.

#include "platform/DeviceFile.h"
#include "platform/DeviceInterfaces.h"
#include "platform/Event.h"
#include "platform/Sync.h"

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace asiodrv
{

static_assert(std::endian::native == std::endian::little, "the wire formats are little-endian");

// ---- wire formats -------------------------------------------------------------------------------------

inline constexpr platform::Guid kDeviceInterfaceClass{
    0x3D5A1F20, 0x7C44, 0x4B9E, {0x9E, 0x21, 0x6A, 0x0B, 0x5C, 0x7D, 0x8E, 0x31}};

inline constexpr uint32_t kIoctlVdcTransaction = 0x1D2004;
inline constexpr uint32_t kIoctlDriverControl = 0x1D2008;

inline constexpr uint32_t kNtStatusBusReset = 0xC0120090;
inline constexpr uint32_t kVdrOk = 0;
inline constexpr uint32_t kVdrBusy = 12;

// The only vendor whose interfaces the driver keeps.
inline constexpr uint32_t kVendorId = 0x3B71;

// The VDC packet: seven header words, then up to 70 parameter quadlets.
struct VdcPacket
{
    uint32_t ntStatus;
    uint32_t length; // quadlets from this word on
    uint32_t reserved2;
    uint32_t reserved3;
    uint32_t category;
    uint32_t command;
    uint32_t vdrStatus;
    uint32_t params[70];
};
static_assert(sizeof(VdcPacket) == 308);
static_assert(offsetof(VdcPacket, category) == 16 && offsetof(VdcPacket, vdrStatus) == 24);
static_assert(offsetof(VdcPacket, params) == 28);

inline constexpr uint32_t kCatHwInfo = 0;
inline constexpr uint32_t kCmdGetPolled = 1;
inline constexpr uint32_t kCatHwControl = 3;
inline constexpr uint32_t kCmdSetClock = 0;

// Driver-control sub-codes this driver sends.
enum DriverControlCode : uint32_t
{
    kDcOpenStreaming = 1,
    kDcCloseStreaming = 2,
    kDcGetDriverInfo = 3,
    kDcClaimChannel = 4,
    kDcStartStreaming = 5,
    kDcStopStreaming = 6,
    kDcSetBufferSize = 9
};

// The 64-byte driver-control block: status at 0, flag at 4, sub-code at 8, arguments and results from 12
// (some pointer-sized at offsets that are not 8-aligned, hence byte access).
struct DriverControlBlock
{
    uint8_t bytes[64];

    uint32_t word(size_t offset) const
    {
        uint32_t w;
        std::memcpy(&w, bytes + offset, sizeof w);
        return w;
    }
    void setWord(size_t offset, uint32_t w) { std::memcpy(bytes + offset, &w, sizeof w); }
    uint64_t quad(size_t offset) const
    {
        uint64_t q;
        std::memcpy(&q, bytes + offset, sizeof q);
        return q;
    }
    void setQuad(size_t offset, uint64_t q) { std::memcpy(bytes + offset, &q, sizeof q); }
    int32_t status() const { return static_cast<int32_t>(word(0)); }
};
static_assert(sizeof(DriverControlBlock) == 64);

struct DriverInfo
{
    uint32_t unused;
    uint32_t flags; // bit 0: sample rate locked
    uint32_t sampleRate;
    uint32_t clockIndex;
    uint32_t bufferSize; // streaming buffer size in samples
    uint32_t minBufferSize;
    uint32_t maxBufferSize;
    uint32_t bufferSizeStep;
    uint32_t configuredBufferSize;
};
static_assert(sizeof(DriverInfo) == 36);

inline constexpr uint32_t kDriverFlagRateLocked = 1;

// Byte offset of the status word (detected clocks) in a GetPolled reply.
inline constexpr size_t kPolledStatusOffset = 28;

// ---- capability record --------------------------------------------------------------------------------

inline constexpr int kMaxGroups = 8;
inline constexpr int kMaxChannels = 64;
inline constexpr int kClockSources = 6;

// Group types of the group tables.
enum GroupType : uint8_t
{
    kGroupAnalog = 0,
    kGroupSpdif = 1,
    kGroupAdat = 2,
    kGroupHeadphones = 5,
    kGroupI2s = 6
};

// The "hwinfo_caps" record as the registry holds it, read at byte offsets.
class HwInfoCaps
{
public:
    static constexpr size_t kSize = 260;

    uint8_t bytes[kSize] = {};

    uint32_t word(size_t offset) const
    {
        uint32_t w;
        std::memcpy(&w, bytes + offset, sizeof w);
        return w;
    }

    uint32_t vendorId() const { return word(4) >> 8; }
    bool hasOutputRouting() const { return (word(0) & (1u << 7)) != 0; }
    uint32_t clockMask() const { return word(84); }
    uint32_t playbackChannels() const { return word(88); }
    uint32_t inputCount() const { return word(92); }
    uint32_t meterCount() const { return word(96) + word(100); }
    uint32_t maxSampleRate() const { return word(152); }
    uint32_t minSampleRate() const { return word(156); }

    // Group tables, at most kMaxGroups each (a larger count is outside the format).
    int outputGroupCount() const { return clampGroups(word(104)); }
    int inputGroupCount() const { return clampGroups(word(124)); }
    uint8_t outputGroupType(int g) const { return bytes[108 + 2 * g]; }
    uint8_t outputGroupChannels(int g) const { return bytes[109 + 2 * g]; }
    uint8_t inputGroupType(int g) const { return bytes[128 + 2 * g]; }
    uint8_t inputGroupChannels(int g) const { return bytes[129 + 2 * g]; }

private:
    static int clampGroups(uint32_t n) { return n > kMaxGroups ? kMaxGroups : static_cast<int>(n); }
};

// Which group, and which place in it, every input and output channel has; and the groups' names.
class ChannelMaps
{
public:
    // Fills both maps from the record's group tables: groups in order, one entry per channel, at most 64.
    void build(const HwInfoCaps& caps);

    // -1 for a channel without an entry.
    int inputMapGroup(int channel) const { return entry(inputMap_, channel, 1); }
    int inputMapIndex(int channel) const { return entry(inputMap_, channel, 2); }
    int outputMapGroup(int channel) const { return entry(outputMap_, channel, 1); }
    int outputMapIndex(int channel) const { return entry(outputMap_, channel, 2); }

    void inputGroupName(int group, char* text, size_t size) const { groupName(true, group, text, size); }
    void outputGroupName(int group, char* text, size_t size) const { groupName(false, group, text, size); }

    bool hasOutputRouting() const { return caps_ != nullptr && caps_->hasOutputRouting(); }

private:
    static int entry(const uint8_t (&map)[kMaxChannels][3], int channel, int field)
    {
        if (channel < 0 || channel >= kMaxChannels || map[channel][0] == 0xFF)
            return -1;
        return map[channel][field];
    }
    void groupName(bool isInput, int group, char* text, size_t size) const;

    const HwInfoCaps* caps_ = nullptr;
    uint8_t inputMap_[kMaxChannels][3];
    uint8_t outputMap_[kMaxChannels][3];
    int32_t firstOutputAdat_ = -1;
    int32_t firstInputAdat_ = -1;
};

// ---- device object ------------------------------------------------------------------------------------

class vhw
{
public:
    static constexpr size_t kPolledBlockSize = 468;
    static constexpr uint32_t kTransactionAttempts = 10;
    static constexpr uint32_t kRetryDelayMs = 100;

    // Reads the interface's registry values, creates the mutex and reads the driver information once
    // (opening and closing the device around it).
    explicit vhw(const std::string& path);
    ~vhw();
    vhw(const vhw&) = delete;
    vhw& operator=(const vhw&) = delete;

    bool isValid() const { return valid_; }
    const std::string& devicePath() const { return path_; }
    const char* uniqueName() const { return uniqueName_; }
    const char* lastError() const { return lastError_; }
    const HwInfoCaps& caps() const { return caps_; }
    uint32_t polledSize() const { return polledSize_; }

    bool open();
    void close();

    // GetDriverInfo without the device mutex (a retrying transaction may hold it for a second); the answer
    // is kept under a lock of its own. True when the call succeeded.
    bool readDriverInfo();
    DriverInfo driverInfo() const;

    // Streaming: sub-code 1 with a new event; the shared block's address, or null.
    void* openStreaming();
    void closeStreaming();
    // The event the kernel driver signals every period while streaming is open. Shared, so a streaming
    // thread that still waits on it keeps it after streaming closed.
    const std::shared_ptr<platform::Event>& streamingEvent() const { return event_; }

    bool claimChannel(bool isInput, uint32_t channel);
    bool startStreaming();
    bool stopStreaming();
    // SetBufferSize; true when the kernel driver took the size.
    bool setBufferSize(uint32_t samples);

    // HwInfo GetPolled; the reply (polledSize() bytes), or null when the transaction failed.
    const uint8_t* readPolled();
    // HwControl SetClock; -1 keeps the clock or the rate. True when the transaction succeeded.
    bool setClock(int32_t clock, int32_t rate);

    // Whether the device can run at the rate, by the last driver information and the capability record.
    bool supportsSampleRate(uint32_t rate) const;

    vhw* next = nullptr; // link of the device list

private:
    bool transact(const void* in, uint32_t inSize, void* out, uint32_t outSize);
    bool driverControl(DriverControlBlock& block);

    std::string path_;
    bool valid_ = true;
    char lastError_[132] = {};
    HwInfoCaps caps_;
    mutable std::mutex infoMutex_;
    DriverInfo info_{}; // guarded by infoMutex_
    uint32_t polledSize_ = 64;
    alignas(8) uint8_t polled_[kPolledBlockSize] = {};
    std::atomic<platform::Handle> handle_{platform::INVALID_HANDLE_VALUE};
    uint32_t openCount_ = 0;
    platform::Mutex mutex_;
    std::shared_ptr<platform::Event> event_;
    uint32_t bytesReturned_ = 0;
    VdcPacket packet_{};
    VdcPacket reply_{};
    char uniqueName_[52] = {};
};

// The interfaces of the kernel driver's class, each with its device object, newest first.
class DeviceList
{
public:
    DeviceList(); // scans
    ~DeviceList();
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    int count() const { return count_; }
    vhw* getDevice(int index) const;

    // Destroys every device but keep (null keeps none).
    void clear(vhw* keep);

private:
    void scan();

    vhw* head_ = nullptr;
    int count_ = 0;
};

} // namespace asiodrv
