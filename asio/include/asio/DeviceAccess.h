#pragma once

// The driver's own compact device access, built on the formats library: one device object per interface
// with the retrying VDC transaction, and the list of interfaces; the names the driver gives units and
// channels are ChannelNames.h's. No reference counting, no hot-plug notifications, no debug lines: the
// driver builds the list at init and drops it at release, and learns of a unit pulled out while it
// streams by asking it and looking whether its interface is still listed (vhw::isListed).

#include "asio/ChannelNames.h"
#include "formats/HwInfoCaps.h"
#include "formats/Wire.h"
#include "platform/DeviceFile.h"
#include "platform/DeviceInterfaces.h"
#include "platform/Event.h"
#include "platform/Sync.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace asiodrv
{

// The formats this driver sends and reads are the formats library's.
using formats::DriverControlBlock;
using formats::DriverInfo;
using formats::HwInfoCaps;
using formats::PolledBlock;
using formats::VdcPacket;

// The clock sources a record can name.
inline constexpr int kClockSources = HwInfoCaps::kClockCount;

// ---- device object ------------------------------------------------------------------------------------

class vhw
{
public:
    // The GetPolled reply lands in a PolledBlock with a spare quadlet behind it.
    static constexpr size_t kPolledBlockSize = sizeof(PolledBlock) + 4;
    static constexpr uint32_t kTransactionAttempts = 10;
    static constexpr uint32_t kRetryDelayMs = 100;

    // Reads the interface's registry values, creates the mutex and reads the driver information once
    // (opening and closing the device around it).
    explicit vhw(const std::string& path);
    ~vhw();
    vhw(const vhw&) = delete;
    vhw& operator=(const vhw&) = delete;

    bool isValid() const { return valid_; }
    const std::string& path() const { return path_; }
    const char* uniqueName() const { return uniqueName_; }
    const char* lastError() const { return lastError_; }
    const HwInfoCaps& caps() const { return caps_; }
    uint32_t polledSize() const { return polledSize_; }

    bool open();
    void close();

    // GetDriverInfo without the device mutex (a retrying transaction may hold it for a second); the answer
    // is kept under a lock of its own. True when the call succeeded. A unit that was pulled out fails
    // every request on a handle opened before, also once it is plugged back in.
    bool readDriverInfo();
    DriverInfo driverInfo() const;
    // Whether the unit's interface is still present (true when the enumeration itself fails: nothing is
    // known then).
    bool isListed() const;
    // Whether another streaming client holds the unit. The kernel driver refuses a buffer size from every
    // handle but the streaming client's while one streams; asked with the size already configured, which
    // changes nothing otherwise. Also true when the unit does not answer. Not for a unit this object
    // streams on.
    bool heldElsewhere();

    // Streaming: sub-code 1 with a new event; the shared block's address, or null.
    void* openStreaming();
    void closeStreaming();
    // The event the kernel driver signals every period while streaming is open. Shared, so a streaming
    // thread that still waits on it keeps it after streaming closed.
    const std::shared_ptr<platform::Event>& streamingEvent() const { return event_; }

    // A channel claimed, refused (another application holds it) or not asked at all (the call failed:
    // the unit is gone).
    enum class Claim
    {
        Taken,
        Refused,
        Failed
    };
    Claim claimChannel(bool isInput, uint32_t channel);
    bool startStreaming();
    bool stopStreaming();
    // SetBufferSize; true when the kernel driver took the size.
    bool setBufferSize(uint32_t samples);

    // HwInfo GetPolled; the reply (polledSize() bytes), or null when the transaction failed.
    const PolledBlock* readPolled();
    // HwControl SetClock; -1 keeps the clock or the rate. True when the transaction succeeded.
    bool setClock(int32_t clock, int32_t rate);

    // Whether the device can run at the rate, by the last driver information and the capability record.
    bool supportsSampleRate(uint32_t rate) const;

private:
    bool transact(const void* in, uint32_t inSize, void* out, uint32_t outSize);
    bool driverControl(DriverControlBlock& block);

    std::string path_;
    bool valid_ = true;
    char lastError_[132] = {};
    HwInfoCaps caps_{};
    mutable std::mutex infoMutex_;
    DriverInfo info_{}; // guarded by infoMutex_
    uint32_t polledSize_ = formats::kPolledHeaderBytes;
    struct PolledReply
    {
        PolledBlock block;
        uint32_t spare;
    } polled_{};
    std::atomic<platform::Handle> handle_{platform::INVALID_HANDLE_VALUE};
    uint32_t openCount_ = 0;
    platform::Mutex mutex_;
    std::shared_ptr<platform::Event> event_;
    uint32_t bytesReturned_ = 0;
    VdcPacket packet_{};
    VdcPacket reply_{};
    char uniqueName_[kUnitNameBytes] = {};
};

// The interfaces of the kernel driver's class, each with the device object the list owns, newest first.
class DeviceList
{
public:
    DeviceList(); // scans
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    int count() const { return static_cast<int>(devices_.size()); }
    // The index-th device, or null.
    vhw* getDevice(int index) const;

private:
    void scan();

    std::vector<std::unique_ptr<vhw>> devices_;
};

} // namespace asiodrv
