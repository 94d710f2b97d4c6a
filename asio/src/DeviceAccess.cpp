#include "asio/DeviceAccess.h"

#include "platform/Time.h"

#include <cstdio>
#include <new>

namespace asiodrv
{

// ---- channel maps --------------------------------------------------------------------------------------

namespace
{

void fillMap(uint8_t (&map)[kMaxChannels][3], int groupCount, const uint8_t* groups, int32_t& firstAdat)
{
    std::memset(map, 0xFF, sizeof map);
    firstAdat = -1;
    int i = 0;
    for (int g = 0; g < groupCount && i < kMaxChannels; ++g)
    {
        const uint8_t type = groups[2 * g];
        const uint8_t channels = groups[2 * g + 1];
        if (type == kGroupAdat && firstAdat < 0)
            firstAdat = g;
        for (int k = 0; k < channels && i < kMaxChannels; ++k, ++i)
        {
            map[i][0] = type;
            map[i][1] = static_cast<uint8_t>(g);
            map[i][2] = static_cast<uint8_t>(k);
        }
    }
}

} // namespace

void ChannelMaps::build(const HwInfoCaps& caps)
{
    caps_ = &caps;
    fillMap(inputMap_, caps.inputGroupCount(), caps.bytes + 128, firstInputAdat_);
    fillMap(outputMap_, caps.outputGroupCount(), caps.bytes + 108, firstOutputAdat_);
}

void ChannelMaps::groupName(bool isInput, int group, char* text, size_t size) const
{
    if (text == nullptr || size == 0)
        return;
    const int count = caps_ == nullptr ? 0 : (isInput ? caps_->inputGroupCount() : caps_->outputGroupCount());
    const int type = group >= 0 && group < count
                         ? (isInput ? caps_->inputGroupType(group) : caps_->outputGroupType(group))
                         : -1;
    const char* other = isInput ? "Input" : "Output";
    switch (type)
    {
    case kGroupAnalog:
        std::snprintf(text, size, "Analog");
        break;
    case kGroupSpdif:
        std::snprintf(text, size, "S/PDIF");
        break;
    case kGroupAdat:
    {
        // The first ADAT group of a direction is "ADAT A", the group after it "ADAT B".
        const int first = isInput ? firstInputAdat_ : firstOutputAdat_;
        std::snprintf(text, size, "%s %c", "ADAT",
                      static_cast<char>('A' + (group - (first < 0 ? group : first))));
        break;
    }
    case kGroupHeadphones:
        std::snprintf(text, size, "%s", isInput ? "Input" : "Headphones");
        break;
    case kGroupI2s:
        std::snprintf(text, size, "I2S");
        break;
    default:
        std::snprintf(text, size, "%s", other);
        break;
    }
}

// ---- device object -------------------------------------------------------------------------------------

vhw::vhw(const std::string& path) : path_(path)
{
    packet_.reserved2 = 1;

    if (!mutex_.create())
    {
        valid_ = false;
        std::snprintf(lastError_, sizeof lastError_, "Could not create mutex");
        return;
    }

    platform::DeviceRegKey key;
    if (key.open(path_))
    {
        uint32_t size = HwInfoCaps::kSize;
        key.queryValue("hwinfo_caps", nullptr, caps_.bytes, &size);

        // An absent, empty or too long name gives the default.
        char name[52] = {};
        size = sizeof name;
        const bool read =
            key.queryValue("unique_name", nullptr, name, &size) == platform::ERROR_SUCCESS && size > 0;
        if (read)
            name[size - 1] = '\0';
        std::snprintf(uniqueName_, sizeof uniqueName_, "%s", read && name[0] != '\0' ? name : "Doranth");
        key.close();
    }

    // A record with more meters than the block holds must not make the reply overrun it.
    const uint64_t polled = 64 + 4ull * caps_.word(96) + 4ull * caps_.word(100);
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
    return platform::deviceIoControl(handle_.load(), kIoctlDriverControl, &block, sizeof block, &block,
                                     sizeof block, &returned);
}

bool vhw::readDriverInfo()
{
    DriverControlBlock block{};
    block.setWord(8, kDcGetDriverInfo);
    if (!driverControl(block))
        return false;
    DriverInfo info;
    std::memcpy(&info, block.bytes + 12, sizeof info);
    std::lock_guard<std::mutex> lock(infoMutex_);
    info_ = info;
    return true;
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
    block.setWord(4, 1);
    block.setWord(8, kDcOpenStreaming);
    block.setWord(12, 1);
    block.setQuad(16, event->handle());
    if (!driverControl(block) || block.status() != 0 || block.word(32) == 0)
        return nullptr;
    event_ = std::move(event);
    return reinterpret_cast<void*>(static_cast<uintptr_t>(block.quad(24)));
}

void vhw::closeStreaming()
{
    if (!mutex_.isValid())
        return;
    platform::MutexLock lock(mutex_);
    if (event_ == nullptr)
        return;
    DriverControlBlock block{};
    block.setWord(8, kDcCloseStreaming);
    driverControl(block);
    event_.reset();
}

bool vhw::claimChannel(bool isInput, uint32_t channel)
{
    platform::MutexLock lock(mutex_);
    DriverControlBlock block{};
    block.setWord(8, kDcClaimChannel);
    block.setWord(12, isInput ? 1 : 0);
    block.setWord(16, channel);
    return driverControl(block) && block.status() == 0;
}

bool vhw::startStreaming()
{
    platform::MutexLock lock(mutex_);
    DriverControlBlock block{};
    block.setWord(8, kDcStartStreaming);
    return driverControl(block) && block.status() >= 0;
}

bool vhw::stopStreaming()
{
    platform::MutexLock lock(mutex_);
    DriverControlBlock block{};
    block.setWord(8, kDcStopStreaming);
    return driverControl(block) && block.status() >= 0;
}

bool vhw::setBufferSize(uint32_t samples)
{
    if (!mutex_.isValid())
        return false;
    platform::MutexLock lock(mutex_);
    DriverControlBlock block{};
    block.setWord(8, kDcSetBufferSize);
    block.setWord(12, samples);
    return driverControl(block) && block.status() == 0;
}

bool vhw::transact(const void* in, uint32_t inSize, void* out, uint32_t outSize)
{
    const auto* reply = static_cast<const VdcPacket*>(out);
    for (uint32_t attempt = 0; attempt < kTransactionAttempts; ++attempt)
    {
        if (!platform::deviceIoControl(handle_.load(), kIoctlVdcTransaction, in, inSize, out, outSize,
                                       &bytesReturned_))
            return false;
        // A bus reset and a busy device are passing conditions: wait and send again.
        const bool retry =
            reply->ntStatus == kNtStatusBusReset || (reply->ntStatus == 0 && reply->vdrStatus == kVdrBusy);
        if (!retry)
            return reply->ntStatus == 0 && reply->vdrStatus == kVdrOk;
        platform::sleepMs(kRetryDelayMs);
    }
    return false;
}

const uint8_t* vhw::readPolled()
{
    if (!mutex_.isValid())
        return nullptr;
    platform::MutexLock lock(mutex_);
    packet_.length = 6;
    packet_.category = kCatHwInfo;
    packet_.command = kCmdGetPolled;
    return transact(&packet_, 28, polled_, polledSize_) ? polled_ : nullptr;
}

bool vhw::setClock(int32_t clock, int32_t rate)
{
    if (!mutex_.isValid())
        return false;
    platform::MutexLock lock(mutex_);
    packet_.length = 9;
    packet_.category = kCatHwControl;
    packet_.command = kCmdSetClock;
    packet_.params[0] = static_cast<uint32_t>(clock);
    packet_.params[1] = static_cast<uint32_t>(rate);
    packet_.params[2] = 0;
    return transact(&packet_, 40, &reply_, 28);
}

bool vhw::supportsSampleRate(uint32_t rate) const
{
    const DriverInfo info = driverInfo();
    if ((info.flags & kDriverFlagRateLocked) != 0)
        return rate == info.sampleRate;
    return valid_ && caps_.minSampleRate() <= rate && rate <= caps_.maxSampleRate();
}

// ---- device list ---------------------------------------------------------------------------------------

DeviceList::DeviceList()
{
    scan();
}

DeviceList::~DeviceList()
{
    clear(nullptr);
}

void DeviceList::scan()
{
    const platform::DeviceInterfaceSet set(kDeviceInterfaceClass);
    if (!set.isValid())
        return;
    for (size_t i = 0; i < set.size(); ++i)
    {
        vhw* device = new (std::nothrow) vhw(set.path(i));
        if (device == nullptr)
            continue;
        if (!device->isValid())
        {
            delete device;
            continue;
        }
        device->next = head_;
        head_ = device;
        ++count_;
    }
}

vhw* DeviceList::getDevice(int index) const
{
    vhw* device = head_;
    for (int i = 0; device != nullptr && i < index; ++i)
        device = device->next;
    return index < 0 ? nullptr : device;
}

void DeviceList::clear(vhw* keep)
{
    vhw* device = head_;
    head_ = nullptr;
    count_ = 0;
    while (device != nullptr)
    {
        vhw* next = device->next;
        if (device == keep)
        {
            device->next = nullptr;
            head_ = device;
            count_ = 1;
        }
        else
        {
            delete device;
        }
        device = next;
    }
}

} // namespace asiodrv
