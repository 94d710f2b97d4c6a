#pragma once

// The device object: one unit of the family, reached through its device-interface path. It reads the
// unit's capability record and name from the interface's registry key, opens the device file and carries
// every exchange with the kernel driver: the driver-version query, the VDC commands and the
// driver-control requests.
//
// Results: every VDC command returns a DeviceResult (0 done, -1 try again, 1 failed, 2 device error);
// the driver-control methods return 0 for success and 1 for failure, except setDriverFlags and
// setSampleRateLock, which return true for success. A get whose result is not 0 leaves no trustworthy
// value.
//
// Threads: every VDC command and open, close, readDriverInfo, setBufferSize, setDriverFlags and
// resetStatistics hold the device mutex for the whole request, so one device's requests never
// interleave. getDriverVersion and the driver sample-rate requests use a block of their own and take no
// lock. The polled accessors and getDriverInfo are plain reads of what the last readPolled or
// readDriverInfo left: call them after that request has completed (the console reads them on its
// message thread after the hardware thread posted the poll's result).

#include "device/HwInfoCaps.h"
#include "device/Wire.h"
#include "platform/DeviceFile.h"
#include "platform/Sync.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace juce
{
class ChangeListener;
}

namespace device
{

class SysVolume;

// The name of a unit whose registry key holds no usable "unique_name".
inline constexpr const char* kDefaultUniqueName = "Doranth";

class vhw : public juce::ReferenceCountedObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<vhw>;

    // Whether the device object makes its system-volume link (the analyzer's devices make none).
    enum class VolumeLink
    {
        Make,
        None
    };

    // Reads the registry values of the interface with this path; does not open the device file.
    explicit vhw(const std::string& path, VolumeLink volumeLink = VolumeLink::Make);
    ~vhw() override;
    vhw(const vhw&) = delete;
    vhw& operator=(const vhw&) = delete;

    // --- identity and state ---
    // The capability record was read, the mutex exists and the device file has not failed to open.
    bool isValid() const { return valid_.load(); }
    bool isOpen() const { return openCount_.load() != 0; }
    std::string getLastError() const;
    std::string getDevicePath() const { return path_; }
    const std::string& getUniqueName() const { return uniqueName_; }
    const HwInfoCaps& getCaps() const { return caps_; }
    uint32_t getVendorId() const { return caps_.getVendorId(); }
    uint32_t getModelId() const { return caps_.modelId; }
    uint32_t getHwVersion() const { return caps_.hwVersion; }
    uint64_t getGuid() const { return caps_.getGuid(); }

    // Opens the device file (a second open while open does nothing) and fetches the statistics address.
    // Returns true when the device is open afterwards.
    bool open();
    // One close always closes.
    void close();

    // --- kernel-driver requests ---
    // The kernel driver's version word; 0xFFFFFFFF when the call fails.
    uint32_t getDriverVersion() const;
    // Fetches the driver information into the object; on failure the last one read stays. 0 / 1.
    int readDriverInfo();
    const DriverInfo& getDriverInfo() const { return driverInfo_; }
    // readDriverInfo, then on success locked = the rate-lock flag. 0 / 1.
    int isSampleRateLocked(bool& locked);
    // 1 when the call fails or the driver refuses (a streaming client holds the unit).
    int setBufferSize(uint32_t samples);
    // The driver keeps the bits of mask, then sets bits. True when the call succeeded.
    bool setDriverFlags(uint32_t bits, uint32_t mask);
    bool setSampleRateLock(bool on);
    // rate receives the driver's answer even when the call fails; 0 / 1.
    int getDriverSampleRate(uint32_t& rate) const;
    int setDriverSampleRate(uint32_t rate) const;
    // Zeroes the driver's timing statistics; the outcome is not reported.
    void resetStatistics();
    // The driver's statistics block in this process, as fetched by the last successful open; null before.
    const void* getStatisticsAddress() const { return statisticsAddress_.load(); }

    // --- HwInfo ---
    // Polls status and meters into the polled block (accessors below).
    int readPolled();
    // Reads up to count (at most 64) quadlets of the stored session from a quadlet offset into data;
    // delivered = the quadlets the device delivered (written only on 0).
    int readSessionBlock(uint32_t offset, uint32_t count, uint32_t* data, uint32_t& delivered);
    // Written only on 0.
    int getFirmwareCounters(uint32_t& armOverflow, uint32_t& dspUnderrun, uint32_t& dspOverflow);

    // --- Flash (byte addresses) ---
    int flashErase(uint32_t address);
    // count at most 64 quadlets; data written only on 0.
    int flashRead(uint32_t address, uint32_t count, uint32_t* data);
    int flashWrite(uint32_t address, uint32_t count, const uint32_t* data);
    // On 0, ready tells whether the flash has finished its last erase or write; else ready is untouched.
    int flashGetStatus(bool& ready);
    // Flash address of the stored session; repeats by itself for up to 2000 ms while told to try again.
    int getSessionBase(uint32_t& base);
    // 1 before an erase-and-write sequence, 0 after it; not sent to units without a flash lock.
    int flashLock(uint32_t on);

    // --- HwControl ---
    // -1 for rate or clock keeps that setting.
    int setClock(int rate, int clock);
    // Written whatever the result.
    int getClock(int& rate, int& clock);
    int changeFlags(uint32_t set, uint32_t clear);
    // -1 unless the result is 0.
    int getFlags(int& flags);
    int identify();

    // --- physical outputs and inputs ---
    int setOutputGain(int channel, float db);
    int getOutputGain(int channel, float& db);
    int setOutputMute(int channel, int value);
    int getOutputMute(int channel, int& value);
    int setOutputNominal(int channel, int value);
    int getOutputNominal(int channel, int& value);
    int setInputNominal(int channel, int value);
    int getInputNominal(int channel, int& value);

    // --- playback mix ---
    // Gain and mute are set through the system-volume link (1 without one). The listeners hear of changes
    // made in the system's volume controls, on the message thread (SysVolume.h); add and remove them on
    // the message thread. Without a link they hear nothing.
    int setPlaybackGain(int channel, float db);
    int setPlaybackMute(int channel, int value);
    void addVolumeListener(juce::ChangeListener* listener);
    void removeVolumeListener(juce::ChangeListener* listener);
    int getPlaybackGain(int channel, float& db);
    int getPlaybackMute(int channel, int& value);
    int setPlaybackSolo(int channel, int value);
    int getPlaybackSolo(int channel, int& value);
    SysVolume* getSysVolume() const { return sysVolume_.get(); }

    // --- monitor mix: one input in one mix ---
    int setMonitorGain(int input, int mix, float db);
    int getMonitorGain(int input, int mix, float& db);
    int setMonitorMute(int input, int mix, int value);
    int getMonitorMute(int input, int mix, int& value);
    int setMonitorSolo(int input, int mix, int value);
    int getMonitorSolo(int input, int mix, int& value);
    int setMonitorPan(int input, int mix, float pan);
    int getMonitorPan(int input, int mix, float& pan);
    // A mixer value as the device holds it (a gain as its 8.24 word, a pan as 0 to 255): a get command of
    // PhysOut, PhysIn or PlaybackMix for channel, or of MonitorMix for input channel in mix. Written
    // whatever the result.
    int getMixerWord(uint32_t category, uint32_t command, int channel, int mix, uint32_t& value);

    // --- I/O configuration ---
    int setPhantomPower(int value);
    // Written only on 0.
    int getPhantomPower(int& value);
    int setIsocMap(const IsocMapRecord& record);
    // Sends the first two quadlets of record; on 0 the whole record is replaced by the device's.
    int getIsocMap(IsocMapRecord& record);

    // --- the polled block (no lock, no I/O) ---
    const PolledBlock& getPolledBlock() const { return polled_; }
    uint32_t getPolledSize() const { return polledSize_; }
    // Meter words (2^31 = full scale); 0 for a meter the block does not hold.
    uint32_t getOutputMeter(uint32_t i) const { return meterWord(i); }
    uint32_t getInputMeter(uint32_t i) const { return meterWord(uint64_t(polled_.outputMeterCount) + i); }
    uint32_t getStatusWord() const { return polled_.status; }
    // The MIDI activity bits of ports 0 and 1.
    uint32_t getStatusFlags() const { return polled_.status & 0xF00; }
    bool isMidiInActive(uint32_t port) const { return statusBit(8 + 2 * uint64_t(port)); }
    bool isMidiOutActive(uint32_t port) const { return statusBit(9 + 2 * uint64_t(port)); }
    bool isClockDetected(uint32_t n) const { return statusBit(n); }

private:
    friend class SysVolume;
    class DeviceLock;

    // Fills the packet header and sends the packet buffer, replying into it. The caller holds the lock.
    int exchange(uint32_t category, uint32_t command, uint32_t length, uint32_t requestBytes,
                 uint32_t replyBytes);
    // One IOCTL_VDC_TRANSACTION and its response check. The caller holds the lock.
    int transact(const void* request, uint32_t requestBytes, void* reply, uint32_t replyBytes);
    int checkResponse(bool callResult, const VdcHeader& reply);
    // One IOCTL_DRIVER_CONTROL on the block, in and out; the call result.
    bool driverControl(DriverControlBlock& block) const;

    // Channel commands of PhysOut, PhysIn and PlaybackMix: p0 channel, p1 value.
    int channelSet(uint32_t category, uint32_t command, int channel, uint32_t value, uint32_t replyBytes);
    int channelGet(uint32_t category, uint32_t command, int channel, uint32_t& value);
    // MonitorMix: p0 input, p1 mix, p2 value.
    int monitorSet(uint32_t command, int input, int mix, uint32_t value);
    int monitorGet(uint32_t command, int input, int mix, uint32_t& value);

    uint32_t meterWord(uint64_t i) const { return i < PolledBlock::kMaxMeters ? polled_.meters[i] : 0; }
    bool statusBit(uint64_t bit) const { return bit < 32 && (polled_.status & (1u << bit)) != 0; }

    VdcPacket packet_{}; // request and reply of every command but the poll
    HwInfoCaps caps_{};
    std::string uniqueName_;
    mutable platform::Mutex mutex_;
    const std::string path_;
    std::atomic<bool> valid_{false};
    std::string lastError_; // guarded by mutex_
    std::atomic<int> openCount_{0};
    std::atomic<platform::Handle> handle_{platform::INVALID_HANDLE_VALUE};
    uint32_t polledSize_ = 0;
    PolledBlock polled_{};
    DriverInfo driverInfo_{};
    std::atomic<const void*> statisticsAddress_{nullptr};
    std::unique_ptr<SysVolume> sysVolume_;
};

} // namespace device
