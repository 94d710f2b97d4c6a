#include "device/Vhw.h"

#include "device/Conversions.h"
#include "device/SysVolume.h"
#include "platform/Debug.h"
#include "platform/DeviceInterfaces.h"
#include "platform/Time.h"

#include <algorithm>
#include <cstring>

namespace device
{
namespace
{

constexpr uint32_t kMaxBlockQuadlets = 64; // per session-block or flash request
constexpr uint32_t kSessionBaseRetryMs = 2000;
// Pause between GetSessionBase attempts: a bus reset takes a while to settle, and sending in a tight
// loop would only flood the driver and the debug output.
constexpr uint32_t kSessionBaseRetryPauseMs = 10;
constexpr uint32_t kUniqueNameBytes = 64;

} // namespace

// Holds the device mutex for a scope. A device whose mutex could not be created still answers every
// call (its requests then fail on their own), so a missing mutex is passed over.
class vhw::DeviceLock
{
public:
    explicit DeviceLock(const vhw& device) : mutex_(device.mutex_)
    {
        if (mutex_.isValid())
        {
            mutex_.lock();
            locked_ = true;
        }
    }
    ~DeviceLock()
    {
        if (locked_)
            mutex_.unlock();
    }
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

private:
    platform::Mutex& mutex_;
    bool locked_ = false;
};

vhw::vhw(const std::string& path, VolumeLink volumeLink) : path_(path)
{
    platform::DeviceRegKey key;
    if (key.open(path_))
    {
        uint32_t size = HwInfoCaps::kRegistryBytes;
        if (key.queryValue("hwinfo_caps", nullptr, &caps_, &size) == platform::ERROR_SUCCESS)
        {
            valid_ = true;
            caps_.buildChannelMaps();
        }

        // An empty value would leave no room for the terminator: it counts as missing.
        char name[kUniqueNameBytes];
        uint32_t nameSize = sizeof name;
        if (key.queryValue("unique_name", nullptr, name, &nameSize) == platform::ERROR_SUCCESS &&
            nameSize > 0)
        {
            name[std::min(nameSize, kUniqueNameBytes) - 1] = '\0';
            uniqueName_ = name;
        }
        else
        {
            uniqueName_ = kDefaultUniqueName;
        }
        key.close();
    }

    // The mutex is made for every device, so that an invalid one, which still answers calls, keeps them
    // serialised too.
    if (!mutex_.create())
    {
        valid_ = false;
        lastError_ = "Could not create mutex";
    }
    else if (valid_)
    {
        // The reply cannot be larger than the block it lands in, whatever meter counts the record gives.
        polledSize_ = static_cast<uint32_t>(
            std::min<uint64_t>(kPolledHeaderBytes + 4 * caps_.getMeterCount(), sizeof(PolledBlock)));
        if (volumeLink == VolumeLink::Make)
            sysVolume_ = createSysVolume(*this);
    }
}

vhw::~vhw()
{
    close();
    sysVolume_.reset();
    mutex_.close();
}

std::string vhw::getLastError() const
{
    DeviceLock lock(*this);
    return lastError_;
}

bool vhw::open()
{
    DeviceLock lock(*this);
    if (openCount_ != 0)
        return true;

    const platform::Handle handle = platform::createFile(path_);
    if (handle == platform::INVALID_HANDLE_VALUE)
    {
        lastError_ = "Could not create file handle";
        valid_ = false;
        return false;
    }
    handle_ = handle;
    openCount_ = 1;

    DriverControlBlock block{};
    block.subCode = kDcGetStatistics;
    if (driverControl(block))
        statisticsAddress_ = reinterpret_cast<const void*>(static_cast<uintptr_t>(block.quadWordAt(12)));
    return true;
}

void vhw::close()
{
    DeviceLock lock(*this);
    if (openCount_ == 0)
        return;
    // Whatever the registry gave: a device without a record (the analyzer opens those too) holds a handle
    // all the same.
    if (--openCount_ == 0 && handle_ != platform::INVALID_HANDLE_VALUE)
    {
        platform::closeHandle(handle_);
        handle_ = platform::INVALID_HANDLE_VALUE;
    }
}

// --- kernel-driver requests ---

uint32_t vhw::getDriverVersion() const
{
    uint32_t version = 0xFFFFFFFF;
    if (!platform::deviceIoControl(handle_, IOCTL_DRIVER_VERSION, nullptr, 0, &version, sizeof version,
                                   nullptr))
        return 0xFFFFFFFF;
    return version;
}

bool vhw::driverControl(DriverControlBlock& block) const
{
    return platform::deviceIoControl(handle_, IOCTL_DRIVER_CONTROL, &block, sizeof block, &block,
                                     sizeof block, nullptr);
}

int vhw::readDriverInfo()
{
    DeviceLock lock(*this);
    DriverControlBlock block{};
    block.subCode = kDcGetDriverInfo;
    if (!driverControl(block))
        return 1;
    std::memcpy(&driverInfo_, block.args, sizeof driverInfo_);
    return 0;
}

int vhw::isSampleRateLocked(bool& locked)
{
    DeviceLock lock(*this); // so the flags read are the ones just fetched
    const int result = readDriverInfo();
    if (result == 0)
        locked = (driverInfo_.flags & kDriverFlagRateLocked) != 0;
    return result;
}

int vhw::setBufferSize(uint32_t samples)
{
    DeviceLock lock(*this);
    DriverControlBlock block{};
    block.subCode = kDcSetBufferSize;
    block.setWordAt(12, samples);
    return driverControl(block) && block.status == 0 ? 0 : 1;
}

bool vhw::setDriverFlags(uint32_t bits, uint32_t mask)
{
    DeviceLock lock(*this);
    DriverControlBlock block{};
    block.subCode = kDcSetDriverFlags;
    block.setWordAt(12, mask);
    block.setWordAt(16, bits);
    return driverControl(block);
}

bool vhw::setSampleRateLock(bool on)
{
    return on ? setDriverFlags(kDriverFlagRateLocked, 0xFFFFFFFF) : setDriverFlags(0, ~kDriverFlagRateLocked);
}

int vhw::getDriverSampleRate(uint32_t& rate) const
{
    DriverControlBlock block{};
    block.subCode = kDcGetSampleRate;
    const bool ok = driverControl(block);
    rate = block.wordAt(12);
    return ok ? 0 : 1;
}

int vhw::setDriverSampleRate(uint32_t rate) const
{
    DriverControlBlock block{};
    block.subCode = kDcSetSampleRate;
    block.setWordAt(12, rate);
    return driverControl(block) ? 0 : 1;
}

void vhw::resetStatistics()
{
    DeviceLock lock(*this);
    DriverControlBlock block{};
    block.subCode = kDcResetStatistics;
    driverControl(block);
}

// --- the VDC transport ---

int vhw::exchange(uint32_t category, uint32_t command, uint32_t length, uint32_t requestBytes,
                  uint32_t replyBytes)
{
    packet_.header.length = length;
    packet_.header.category = category;
    packet_.header.command = command;
    return transact(&packet_, requestBytes, &packet_, replyBytes);
}

int vhw::transact(const void* request, uint32_t requestBytes, void* reply, uint32_t replyBytes)
{
    const bool ok = platform::deviceIoControl(handle_, IOCTL_VDC_TRANSACTION, request, requestBytes, reply,
                                              replyBytes, nullptr);
    return checkResponse(ok, *static_cast<const VdcHeader*>(reply));
}

int vhw::checkResponse(bool callResult, const VdcHeader& reply)
{
    if (!callResult)
    {
        platform::debugPrintf("DeviceIoControl failed - cat %d  cmd %d",
                              static_cast<int>(packet_.header.category),
                              static_cast<int>(packet_.header.command));
        return kResultFailed;
    }
    const uint32_t nt = reply.ntStatus;
    const uint32_t vdr = reply.vdrStatus;
    if (nt == kNtSuccess && vdr == kVdrOk)
        return kResultDone;
    if (nt == kNtTimeout)
    {
        platform::debugPrintf("VDR packet timeout for %s - should try again", uniqueName_.c_str());
        return kResultTryAgain;
    }
    if (nt == kNtBusReset)
    {
        platform::debugPrintf("1394 bus reset for %s - should try again", uniqueName_.c_str());
        return kResultTryAgain;
    }
    if (nt != kNtSuccess)
    {
        platform::debugPrintf("VDC - bad NT status for %s - %x", uniqueName_.c_str(), nt);
        return kResultFailed;
    }
    if (vdr == kVdrBusy)
        return kResultDone;
    platform::debugPrintf("VDC error for %s - rval %d", uniqueName_.c_str(), static_cast<int>(vdr));
    return kResultDeviceError;
}

// --- HwInfo ---

int vhw::readPolled()
{
    DeviceLock lock(*this);
    packet_.header.length = 6;
    packet_.header.category = kCatHwInfo;
    packet_.header.command = kHwInfoGetPolled;
    return transact(&packet_, vdcRequestBytes(6), &polled_, polledSize_);
}

int vhw::readSessionBlock(uint32_t offset, uint32_t count, uint32_t* data, uint32_t& delivered)
{
    count = std::min(count, kMaxBlockQuadlets);
    DeviceLock lock(*this);
    packet_.params[0] = offset;
    packet_.params[1] = count;
    const int result = exchange(kCatHwInfo, kHwInfoReadSessionBlock, 8, 36, 292);
    if (result == kResultDone)
    {
        // Never more than asked for: the caller's buffer holds count quadlets.
        const uint32_t n = std::min(packet_.params[1], count);
        std::memcpy(data, &packet_.params[2], n * sizeof(uint32_t));
        delivered = n;
    }
    return result;
}

int vhw::getFirmwareCounters(uint32_t& armOverflow, uint32_t& dspUnderrun, uint32_t& dspOverflow)
{
    DeviceLock lock(*this);
    std::memset(packet_.params, 0, 16 * sizeof(uint32_t));
    const int result = exchange(kCatHwInfo, kHwInfoGetFirmwareCounters, 22, 92, 92);
    if (result == kResultDone)
    {
        armOverflow = packet_.params[0];
        dspUnderrun = packet_.params[1];
        dspOverflow = packet_.params[2];
    }
    return result;
}

// --- Flash ---

int vhw::flashErase(uint32_t address)
{
    DeviceLock lock(*this);
    packet_.params[0] = address;
    return exchange(kCatFlash, kFlashErase, 7, 32, 308);
}

int vhw::flashRead(uint32_t address, uint32_t count, uint32_t* data)
{
    count = std::min(count, kMaxBlockQuadlets);
    DeviceLock lock(*this);
    packet_.params[0] = address;
    packet_.params[1] = count;
    const int result = exchange(kCatFlash, kFlashRead, 8, 36, 308);
    if (result == kResultDone)
        std::memcpy(data, &packet_.params[2], count * sizeof(uint32_t));
    return result;
}

int vhw::flashWrite(uint32_t address, uint32_t count, const uint32_t* data)
{
    count = std::min(count, kMaxBlockQuadlets);
    DeviceLock lock(*this);
    packet_.params[0] = address;
    packet_.params[1] = count;
    std::memcpy(&packet_.params[2], data, count * sizeof(uint32_t));
    std::memset(&packet_.params[2 + count], 0, (kMaxBlockQuadlets - count) * sizeof(uint32_t));
    return exchange(kCatFlash, kFlashWrite, 72, 292, 308);
}

int vhw::flashGetStatus(bool& ready)
{
    DeviceLock lock(*this);
    // Only the header travels, but the length word says 8.
    const int result = exchange(kCatFlash, kFlashGetStatus, 8, 28, 308);
    if (result == kResultDone)
        ready = packet_.header.vdrStatus != kVdrBusy;
    return result;
}

int vhw::getSessionBase(uint32_t& base)
{
    DeviceLock lock(*this);
    const uint32_t start = platform::getTickCount();
    int result;
    for (;;)
    {
        result = exchange(kCatFlash, kFlashGetSessionBase, 6, 28, 32);
        if (result != kResultTryAgain || platform::getTickCount() - start >= kSessionBaseRetryMs)
            break;
        platform::sleepMs(kSessionBaseRetryPauseMs);
    }
    base = packet_.params[0];
    return result;
}

int vhw::flashLock(uint32_t on)
{
    if (caps_.hasNoFlashLock())
        return kResultDone;
    DeviceLock lock(*this);
    packet_.params[0] = on & 0xFF;
    return exchange(kCatFlash, kFlashLock, 7, 32, 308);
}

// --- HwControl ---

int vhw::setClock(int rate, int clock)
{
    DeviceLock lock(*this);
    packet_.params[0] = static_cast<uint32_t>(clock);
    packet_.params[1] = static_cast<uint32_t>(rate);
    packet_.params[2] = 0;
    return exchange(kCatHwControl, kHwSetClock, 9, 40, 28);
}

int vhw::getClock(int& rate, int& clock)
{
    DeviceLock lock(*this);
    const int result = exchange(kCatHwControl, kHwGetClock, 6, 28, 40);
    rate = static_cast<int>(packet_.params[1]);
    clock = static_cast<int>(packet_.params[0]);
    return result;
}

int vhw::changeFlags(uint32_t set, uint32_t clear)
{
    DeviceLock lock(*this);
    packet_.params[0] = set;
    packet_.params[1] = clear;
    return exchange(kCatHwControl, kHwChangeFlags, 8, 36, 28);
}

int vhw::getFlags(int& flags)
{
    DeviceLock lock(*this);
    flags = -1;
    const int result = exchange(kCatHwControl, kHwGetFlags, 6, 28, 32);
    if (result == kResultDone)
        flags = static_cast<int>(packet_.params[0]);
    return result;
}

int vhw::identify()
{
    DeviceLock lock(*this);
    return exchange(kCatHwControl, kHwIdentify, 6, 28, 28);
}

// --- mixer categories ---

int vhw::channelSet(uint32_t category, uint32_t command, int channel, uint32_t value, uint32_t replyBytes)
{
    DeviceLock lock(*this);
    packet_.params[0] = static_cast<uint32_t>(channel);
    packet_.params[1] = value;
    return exchange(category, command, 8, 36, replyBytes);
}

int vhw::channelGet(uint32_t category, uint32_t command, int channel, uint32_t& value)
{
    DeviceLock lock(*this);
    packet_.params[0] = static_cast<uint32_t>(channel);
    packet_.params[1] = 0;
    const int result = exchange(category, command, 8, 36, 36);
    value = packet_.params[1];
    return result;
}

int vhw::monitorSet(uint32_t command, int input, int mix, uint32_t value)
{
    DeviceLock lock(*this);
    packet_.params[0] = static_cast<uint32_t>(input);
    packet_.params[1] = static_cast<uint32_t>(mix);
    packet_.params[2] = value;
    return exchange(kCatMonitorMix, command, 9, 40, 40);
}

int vhw::monitorGet(uint32_t command, int input, int mix, uint32_t& value)
{
    DeviceLock lock(*this);
    packet_.params[0] = static_cast<uint32_t>(input);
    packet_.params[1] = static_cast<uint32_t>(mix);
    packet_.params[2] = 0;
    const int result = exchange(kCatMonitorMix, command, 9, 40, 40);
    value = packet_.params[2];
    return result;
}

int vhw::getMixerWord(uint32_t category, uint32_t command, int channel, int mix, uint32_t& value)
{
    return category == kCatMonitorMix ? monitorGet(command, channel, mix, value)
                                      : channelGet(category, command, channel, value);
}

int vhw::setOutputGain(int channel, float db)
{
    return channelSet(kCatPhysOut, kMixSetGain, channel, dbToGain(db), 36);
}

int vhw::getOutputGain(int channel, float& db)
{
    uint32_t gain = 0;
    const int result = channelGet(kCatPhysOut, kMixGetGain, channel, gain);
    db = gainToDb(gain);
    return result;
}

int vhw::setOutputMute(int channel, int value)
{
    return channelSet(kCatPhysOut, kMixSetMute, channel, static_cast<uint32_t>(value), 36);
}

int vhw::getOutputMute(int channel, int& value)
{
    uint32_t v = 0;
    const int result = channelGet(kCatPhysOut, kMixGetMute, channel, v);
    value = static_cast<int>(v);
    return result;
}

int vhw::setOutputNominal(int channel, int value)
{
    return channelSet(kCatPhysOut, kMixSetNominal, channel, static_cast<uint32_t>(value), 28);
}

int vhw::getOutputNominal(int channel, int& value)
{
    uint32_t v = 0;
    const int result = channelGet(kCatPhysOut, kMixGetNominal, channel, v);
    value = static_cast<int>(v);
    return result;
}

int vhw::setInputNominal(int channel, int value)
{
    return channelSet(kCatPhysIn, kMixSetNominal, channel, static_cast<uint32_t>(value), 36);
}

int vhw::getInputNominal(int channel, int& value)
{
    uint32_t v = 0;
    const int result = channelGet(kCatPhysIn, kMixGetNominal, channel, v);
    value = static_cast<int>(v);
    return result;
}

int vhw::setPlaybackGain(int channel, float db)
{
    return sysVolume_ != nullptr ? sysVolume_->setGain(channel, db) : kResultFailed;
}

int vhw::setPlaybackMute(int channel, int value)
{
    return sysVolume_ != nullptr ? sysVolume_->setMute(channel, value) : kResultFailed;
}

void vhw::addVolumeListener(juce::ChangeListener* listener)
{
    if (sysVolume_ != nullptr)
        sysVolume_->addChangeListener(listener);
}

void vhw::removeVolumeListener(juce::ChangeListener* listener)
{
    if (sysVolume_ != nullptr)
        sysVolume_->removeChangeListener(listener);
}

int vhw::getPlaybackGain(int channel, float& db)
{
    uint32_t gain = 0;
    const int result = channelGet(kCatPlaybackMix, kMixGetGain, channel, gain);
    db = gainToDb(gain);
    return result;
}

int vhw::getPlaybackMute(int channel, int& value)
{
    uint32_t v = 0;
    const int result = channelGet(kCatPlaybackMix, kMixGetMute, channel, v);
    value = static_cast<int>(v);
    return result;
}

int vhw::setPlaybackSolo(int channel, int value)
{
    return channelSet(kCatPlaybackMix, kMixSetSolo, channel, static_cast<uint32_t>(value), 36);
}

int vhw::getPlaybackSolo(int channel, int& value)
{
    uint32_t v = 0;
    const int result = channelGet(kCatPlaybackMix, kMixGetSolo, channel, v);
    value = static_cast<int>(v);
    return result;
}

int vhw::setMonitorGain(int input, int mix, float db)
{
    return monitorSet(kMixSetGain, input, mix, dbToGain(db));
}

int vhw::getMonitorGain(int input, int mix, float& db)
{
    uint32_t gain = 0;
    const int result = monitorGet(kMixGetGain, input, mix, gain);
    db = gainToDb(gain);
    return result;
}

int vhw::setMonitorMute(int input, int mix, int value)
{
    return monitorSet(kMixSetMute, input, mix, static_cast<uint32_t>(value));
}

int vhw::getMonitorMute(int input, int mix, int& value)
{
    uint32_t v = 0;
    const int result = monitorGet(kMixGetMute, input, mix, v);
    value = static_cast<int>(v);
    return result;
}

int vhw::setMonitorSolo(int input, int mix, int value)
{
    return monitorSet(kMixSetSolo, input, mix, static_cast<uint32_t>(value));
}

int vhw::getMonitorSolo(int input, int mix, int& value)
{
    uint32_t v = 0;
    const int result = monitorGet(kMixGetSolo, input, mix, v);
    value = static_cast<int>(v);
    return result;
}

int vhw::setMonitorPan(int input, int mix, float pan)
{
    return monitorSet(kMixSetPan, input, mix, panToDevice(pan));
}

int vhw::getMonitorPan(int input, int mix, float& pan)
{
    uint32_t v = 0;
    const int result = monitorGet(kMixGetPan, input, mix, v);
    pan = panFromDevice(v);
    return result;
}

// --- I/O configuration ---

int vhw::setPhantomPower(int value)
{
    DeviceLock lock(*this);
    packet_.params[0] = static_cast<uint32_t>(value);
    return exchange(kCatIoConfig, kIoSetPhantom, 7, 32, 28);
}

int vhw::getPhantomPower(int& value)
{
    DeviceLock lock(*this);
    const int result = exchange(kCatIoConfig, kIoGetPhantom, 6, 28, 32);
    if (result == kResultDone)
        value = static_cast<int>(packet_.params[0]);
    return result;
}

int vhw::setIsocMap(const IsocMapRecord& record)
{
    DeviceLock lock(*this);
    std::memcpy(packet_.params, record.words, sizeof record.words);
    return exchange(kCatIoConfig, kIoSetIsocMap, 76, 308, 28);
}

int vhw::getIsocMap(IsocMapRecord& record)
{
    DeviceLock lock(*this);
    // Only the first two quadlets mean anything to the device; the rest go out as zeros.
    std::memset(packet_.params, 0, sizeof packet_.params);
    packet_.params[0] = record.words[0];
    packet_.params[1] = record.words[1];
    const int result = exchange(kCatIoConfig, kIoGetIsocMap, 76, 308, 308);
    if (result == kResultDone)
        std::memcpy(record.words, packet_.params, sizeof record.words);
    return result;
}

} // namespace device
