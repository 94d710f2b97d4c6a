#include "asio/DeviceAccess.h"

#include "asio/DriverTypes.h"

#include "platform/Time.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace asiodrv
{

// ---- device object -------------------------------------------------------------------------------------

vhw::vhw(const std::string& path) : path_(path)
{
    packet_.header.reserved[0] = 1;

    if (!mutex_.create())
    {
        valid_ = false;
        std::snprintf(lastError_, sizeof lastError_, "Could not create mutex");
        return;
    }

    readUnitValues(path_, caps_, uniqueName_);

    // A record with more meters than the block holds must not make the reply overrun it.
    const uint64_t polled = formats::kPolledHeaderBytes + 4 * caps_.getMeterCount();
    polledSize_ = static_cast<uint32_t>(polled > kPolledBlockSize ? kPolledBlockSize : polled);

    const bool opened = open();
    const bool read = opened && readDriverInfo();
    close();
    if (!read)
    {
        valid_ = false;
        std::snprintf(lastError_, sizeof lastError_, "Could not get driver info struct");
    }
}

vhw::~vhw()
{
    closeStreaming();
    close();
    mutex_.close();
}

bool vhw::open()
{
    if (!mutex_.isValid())
        return false;
    platform::MutexLock lock(mutex_);
    if (openCount_ != 0)
        return true;
    const platform::Handle h = platform::createFile(path_);
    if (h == platform::INVALID_HANDLE_VALUE)
    {
        std::snprintf(lastError_, sizeof lastError_, "Could not create file handle");
        valid_ = false;
        return false;
    }
    handle_.store(h);
    openCount_ = 1;
    return true;
}

void vhw::close()
{
    if (!mutex_.isValid())
        return;
    platform::MutexLock lock(mutex_);
    if (openCount_ == 0)
        return;
    if (--openCount_ == 0)
    {
        const platform::Handle h = handle_.exchange(platform::INVALID_HANDLE_VALUE);
        if (h != platform::INVALID_HANDLE_VALUE)
            platform::closeHandle(h);
    }
}

bool vhw::driverControl(DriverControlBlock& block)
{
    uint32_t returned = 0;
    return platform::deviceIoControl(handle_.load(), formats::IOCTL_DRIVER_CONTROL, &block, sizeof block,
                                     &block, sizeof block, &returned);
}

bool vhw::readDriverInfo()
{
    DriverControlBlock block{};
    block.subCode = formats::kDcGetDriverInfo;
    if (!driverControl(block))
        return false;
    DriverInfo info;
    std::memcpy(&info, block.args, sizeof info);
    std::lock_guard<std::mutex> lock(infoMutex_);
    info_ = info;
    return true;
}

bool vhw::isListed() const
{
    const platform::DeviceInterfaceSet set(formats::kDeviceInterfaceClass);
    if (!set.isValid())
        return true;
    for (size_t i = 0; i < set.size(); ++i)
        if (set.path(i) == path_)
            return true;
    return false;
}

bool vhw::heldElsewhere()
{
    if (!readDriverInfo())
        return true;
    const uint32_t configured = driverInfo().configuredBufferSize;
    return configured == 0 || !setBufferSize(configured);
}

DriverInfo vhw::driverInfo() const
{
    std::lock_guard<std::mutex> lock(infoMutex_);
    return info_;
}

void* vhw::openStreaming()
{
    if (!mutex_.isValid())
        return nullptr;
    platform::MutexLock lock(mutex_);
    if (event_ != nullptr)
        return nullptr;
    std::shared_ptr<platform::Event> event(new (std::nothrow) platform::Event);
    if (!event || !event->create())
        return nullptr;
    DriverControlBlock block{};
    block.flag = 1;
    block.subCode = formats::kDcOpenStreaming;
    block.setWordAt(12, 1);
    block.setQuadWordAt(16, event->handle());
    if (!driverControl(block) || block.status != 0 || block.wordAt(32) == 0)
        return nullptr;
    event_ = std::move(event);
    return reinterpret_cast<void*>(static_cast<uintptr_t>(block.quadWordAt(24)));
}

void vhw::closeStreaming()
{
    if (!mutex_.isValid())
        return;
    platform::MutexLock lock(mutex_);
    if (event_ == nullptr)
        return;
    DriverControlBlock block{};
    block.subCode = formats::kDcCloseStreaming;
    driverControl(block);
    event_.reset();
}

vhw::Claim vhw::claimChannel(bool isInput, uint32_t channel)
{
    platform::MutexLock lock(mutex_);
    DriverControlBlock block{};
    block.subCode = formats::kDcClaimChannel;
    block.setWordAt(12, isInput ? 1 : 0);
    block.setWordAt(16, channel);
    if (!driverControl(block))
        return Claim::Failed;
    return block.status == 0 ? Claim::Taken : Claim::Refused;
}

bool vhw::startStreaming()
{
    platform::MutexLock lock(mutex_);
    DriverControlBlock block{};
    block.subCode = formats::kDcStartStreaming;
    return driverControl(block) && block.status >= 0;
}

bool vhw::stopStreaming()
{
    platform::MutexLock lock(mutex_);
    DriverControlBlock block{};
    block.subCode = formats::kDcStopStreaming;
    return driverControl(block) && block.status >= 0;
}

bool vhw::setBufferSize(uint32_t samples)
{
    if (!mutex_.isValid())
        return false;
    platform::MutexLock lock(mutex_);
    DriverControlBlock block{};
    block.subCode = formats::kDcSetBufferSize;
    block.setWordAt(12, samples);
    return driverControl(block) && block.status == 0;
}

bool vhw::transact(const void* in, uint32_t inSize, void* out, uint32_t outSize)
{
    const auto* reply = static_cast<const formats::VdcHeader*>(out);
    for (uint32_t attempt = 0; attempt < kTransactionAttempts; ++attempt)
    {
        if (!platform::deviceIoControl(handle_.load(), formats::IOCTL_VDC_TRANSACTION, in, inSize, out,
                                       outSize, &bytesReturned_))
            return false;
        // A bus reset and a busy device are passing conditions: wait and send again.
        const bool retry = reply->ntStatus == formats::kNtBusReset ||
                           (reply->ntStatus == formats::kNtSuccess && reply->vdrStatus == formats::kVdrBusy);
        if (!retry)
            return reply->ntStatus == formats::kNtSuccess && reply->vdrStatus == formats::kVdrOk;
        platform::sleepMs(kRetryDelayMs);
    }
    return false;
}

const PolledBlock* vhw::readPolled()
{
    if (!mutex_.isValid())
        return nullptr;
    platform::MutexLock lock(mutex_);
    packet_.header.length = 6;
    packet_.header.category = formats::kCatHwInfo;
    packet_.header.command = formats::kHwInfoGetPolled;
    return transact(&packet_, formats::vdcRequestBytes(6), &polled_, polledSize_) ? &polled_.block : nullptr;
}

bool vhw::setClock(int32_t clock, int32_t rate)
{
    if (!mutex_.isValid())
        return false;
    platform::MutexLock lock(mutex_);
    packet_.header.length = 9;
    packet_.header.category = formats::kCatHwControl;
    packet_.header.command = formats::kHwSetClock;
    packet_.params[0] = static_cast<uint32_t>(clock);
    packet_.params[1] = static_cast<uint32_t>(rate);
    packet_.params[2] = 0;
    return transact(&packet_, formats::vdcRequestBytes(9), &reply_, sizeof(formats::VdcHeader));
}

bool vhw::supportsSampleRate(uint32_t rate) const
{
    const DriverInfo info = driverInfo();
    if ((info.flags & formats::kDriverFlagRateLocked) != 0)
        return rate == info.sampleRate;
    return valid_ && caps_.getMinSampleRate() <= rate && rate <= caps_.getMaxSampleRate();
}

// ---- device list ---------------------------------------------------------------------------------------

DeviceList::DeviceList()
{
    scan();
}

void DeviceList::scan()
{
    const platform::DeviceInterfaceSet set(formats::kDeviceInterfaceClass);
    if (!set.isValid() || !reserveRoom(devices_, set.size()))
        return;
    for (size_t i = 0; i < set.size(); ++i)
    {
        std::unique_ptr<vhw> device(new (std::nothrow) vhw(set.path(i)));
        // Room was made for every interface: no allocation here.
        if (device != nullptr && device->isValid())
            devices_.push_back(std::move(device));
    }
    // The interface found last comes first.
    std::reverse(devices_.begin(), devices_.end());
}

vhw* DeviceList::getDevice(int index) const
{
    return index >= 0 && index < count() ? devices_[static_cast<size_t>(index)].get() : nullptr;
}

} // namespace asiodrv
