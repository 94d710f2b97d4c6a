#include "asio/AsioDriver.h"

#include "asio/ControlPanel.h"
#include "platform/MessageBox.h"

#include <cstdio>
#include <new>
#include <string>

namespace asiodrv
{
namespace
{

const char* const kClockNames[kClockSources] = {"Internal", "FireWire", "Word clock",
                                                "S/PDIF",   "ADAT A",   "ADAT B"};

bool plausibleRate(double rate)
{
    // Also false for NaN.
    return rate >= AsioDriver::kMinSampleRate && rate <= AsioDriver::kMaxSampleRate;
}

void copyText(char* dest, size_t size, const char* text)
{
    if (dest != nullptr && size > 0)
        std::snprintf(dest, size, "%s", text);
}

} // namespace

ASIOError toAsioError(Result result)
{
    switch (result)
    {
    case Result::Ok:
        return ASE_OK;
    case Result::NotPresent:
        return ASE_NotPresent;
    case Result::HWMalfunction:
        return ASE_HWMalfunction;
    case Result::InvalidParameter:
        return ASE_InvalidParameter;
    case Result::NoClock:
        return ASE_NoClock;
    case Result::NoMemory:
        return ASE_NoMemory;
    }
    return ASE_HWMalfunction;
}

AsioDriver::AsioDriver()
{
    asioTime_.timeInfo.sampleRate = sampleRate_;
}

AsioDriver::~AsioDriver()
{
    stop();
    disposeBuffers();
    // Streaming threads that outlived their stop (a host callback that did not return) still use this
    // object: they are waited for, without limit, before anything goes. On a streaming thread itself (the
    // host released the object from its callback) there is nothing to wait for: that thread only returns
    // from here, and platform::Thread hands it over instead of joining it.
    thread_.joinAll();
    releaseDevices();
    // A driver that never read its settings and never had its rate set has nothing worth storing.
    if (settings_.wasRead() || rateSet_)
        settings_.write(DriverSettings::kWriteSampleRate, static_cast<uint32_t>(sampleRate_));
}

void AsioDriver::setError(const char* text)
{
    copyText(errorText_, sizeof errorText_, text);
}

bool AsioDriver::init()
{
    if (state_.load() >= kStateInitialised)
        return true;

    if (!settings_.wasRead())
        readSettings();
    setError("ASIO driver open failure");

    list_.reset(new (std::nothrow) DeviceList);
    if (list_ == nullptr)
        return false;
    if (list_->count() == 0)
    {
        setError("No Strellis hardware found");
        releaseDevices();
        return false;
    }

    if (!reserveRoom(streams_, static_cast<size_t>(list_->count())))
    {
        releaseDevices();
        return false;
    }

    bool firstRefused = false;
    const auto rate = static_cast<uint32_t>(sampleRate_);
    for (int i = 0; i < list_->count(); ++i)
    {
        vhw* device = list_->getDevice(i);
        if (device->caps().getVendorId() != kVendorId)
            continue;
        std::unique_ptr<DeviceStream> stream(new (std::nothrow) DeviceStream(device));
        if (stream == nullptr)
        {
            releaseDevices();
            return false;
        }
        // A stored rate the device cannot run at is not sent; the device keeps its own.
        const bool accepted =
            device->supportsSampleRate(rate) && device->setClock(-1, static_cast<int32_t>(rate));
        if (!accepted && streams_.empty())
            firstRefused = true;
        streams_.push_back(std::move(stream));
    }
    if (streams_.empty())
    {
        setError("No Strellis hardware found");
        releaseDevices();
        return false;
    }

    vhw* first = streams_[0]->device();
    if (first->readDriverInfo())
    {
        const DriverInfo info = first->driverInfo();
        if (info.bufferSize != 0)
            bufferSize_ = info.bufferSize;
        if (firstRefused && plausibleRate(info.sampleRate))
        {
            sampleRate_ = info.sampleRate;
            asioTime_.timeInfo.sampleRate = sampleRate_;
        }
    }

    if (!buildChannelTables())
    {
        releaseDevices();
        return false;
    }
    state_.store(kStateInitialised);
    return true;
}

bool AsioDriver::buildChannelTables()
{
    size_t outputs = 0;
    size_t inputs = 0;
    for (const auto& s : streams_)
    {
        outputs += static_cast<size_t>(s->outputCount());
        inputs += static_cast<size_t>(s->inputCount());
    }
    if (!reserveRoom(outputs_, outputs) || !reserveRoom(inputs_, inputs))
        return false;
    for (const auto& s : streams_)
    {
        for (int k = 0; k < s->outputCount(); ++k)
            outputs_.push_back(ChannelEntry{s.get(), k, 0});
        for (int k = 0; k < s->inputCount(); ++k)
            inputs_.push_back(ChannelEntry{s.get(), k, 0});
    }
    return true;
}

void AsioDriver::releaseDevices()
{
    // The streaming objects close their devices before the list destroys them.
    streams_.clear();
    outputs_.clear();
    inputs_.clear();
    list_.reset();
}

void AsioDriver::readSettings()
{
    if (const uint32_t rate = settings_.read(plausibleRate); rate != 0)
    {
        sampleRate_ = rate;
        asioTime_.timeInfo.sampleRate = sampleRate_;
    }
}

void AsioDriver::errorMessage(char* text, size_t size) const
{
    copyText(text, size, errorText_);
}

Result AsioDriver::getChannels(int32_t* inputs, int32_t* outputs) const
{
    if (inputs == nullptr || outputs == nullptr)
        return Result::InvalidParameter;
    *inputs = inputTotal();
    *outputs = outputTotal();
    return Result::Ok;
}

Result AsioDriver::getLatencies(int32_t* input, int32_t* output)
{
    if (input == nullptr || output == nullptr)
        return Result::InvalidParameter;
    refreshBufferSize();
    *input = static_cast<int32_t>(bufferSize_ + 128);
    *output = static_cast<int32_t>(bufferSize_ + 128);
    return Result::Ok;
}

Result AsioDriver::getBufferSize(int32_t* minimum, int32_t* maximum, int32_t* preferred, int32_t* granularity)
{
    if (minimum == nullptr || maximum == nullptr || preferred == nullptr || granularity == nullptr)
        return Result::InvalidParameter;
    refreshBufferSize();
    *minimum = *maximum = *preferred = static_cast<int32_t>(bufferSize_);
    *granularity = 0;
    return Result::Ok;
}

Result AsioDriver::canSampleRate(double rate) const
{
    if (!plausibleRate(rate) || streams_.empty())
        return Result::NoClock;
    const auto hz = static_cast<uint32_t>(rate);
    for (const auto& s : streams_)
        if (!s->device()->supportsSampleRate(hz))
            return Result::NoClock;
    return Result::Ok;
}

Result AsioDriver::getSampleRate(double* rate) const
{
    if (rate == nullptr)
        return Result::InvalidParameter;
    *rate = sampleRate_;
    return Result::Ok;
}

Result AsioDriver::setSampleRate(double rate)
{
    if (const Result r = canSampleRate(rate); r != Result::Ok)
        return r;
    if (rate == sampleRate_)
        return Result::Ok;
    if (!streams_[0]->device()->setClock(-1, static_cast<int32_t>(rate)))
        return Result::HWMalfunction;
    // The flag reaches the host with the next time-info switch; the streaming thread takes it from here.
    pendingTimeFlags_.fetch_or(kSampleRateChanged);
    sampleRate_ = rate;
    rateSet_ = true;
    ASIOCallbacks* const callbacks = callbacks_.load();
    if (callbacks != nullptr && callbacks->sampleRateDidChange != nullptr)
        callbacks->sampleRateDidChange(rate);
    return Result::Ok;
}

Result AsioDriver::getClockSources(ASIOClockSource* clocks, int32_t* count)
{
    if (count == nullptr)
        return Result::InvalidParameter;
    if (streams_.empty())
        return Result::NotPresent;

    // Several interfaces each follow the clock chosen in the console.
    if (streams_.size() >= 2)
    {
        if (clocks == nullptr)
        {
            *count = 1;
            return Result::Ok;
        }
        if (*count < 1)
        {
            *count = 0;
            return Result::Ok;
        }
        clocks[0] = ASIOClockSource{0, -1, -1, ASIOTrue, {}};
        copyText(clocks[0].name, sizeof clocks[0].name, "Select from console");
        *count = 1;
        return Result::Ok;
    }

    vhw* device = streams_[0]->device();
    device->readDriverInfo();
    const uint32_t current = device->driverInfo().clockIndex;
    const uint32_t mask = device->caps().clockMask;
    int32_t written = 0;
    for (int bit = 0; bit < kClockSources; ++bit)
    {
        if ((mask & (1u << bit)) == 0)
            continue;
        if (clocks != nullptr)
        {
            if (written >= *count)
                break;
            ASIOClockSource& c = clocks[written];
            c = ASIOClockSource{
                written, -1, -1, static_cast<uint32_t>(bit) == current ? ASIOTrue : ASIOFalse, {}};
            copyText(c.name, sizeof c.name, kClockNames[bit]);
        }
        ++written;
    }
    *count = written;
    return Result::Ok;
}

Result AsioDriver::setClockSource(int32_t reference)
{
    if (streams_.empty())
        return Result::NotPresent;
    if (streams_.size() >= 2)
        return Result::Ok;

    vhw* device = streams_[0]->device();
    const uint32_t mask = device->caps().clockMask;
    int chosen = -1;
    for (int bit = 0, number = 0; bit < kClockSources; ++bit)
    {
        if ((mask & (1u << bit)) == 0)
            continue;
        if (number++ == reference)
        {
            chosen = bit;
            break;
        }
    }
    if (chosen < 0)
        return Result::InvalidParameter;

    const PolledBlock* polled = device->readPolled();
    if (polled == nullptr)
    {
        platform::messageBox("ASIO Strellis", "Unable to detect clock sources", platform::MB_OK);
        return Result::HWMalfunction;
    }
    if ((polled->status & (1u << chosen)) == 0)
    {
        platform::messageBox("ASIO Strellis", "That clock source is not currently connected.",
                             platform::MB_OK);
        return Result::NoClock;
    }
    return device->setClock(chosen, -1) ? Result::Ok : Result::HWMalfunction;
}

bool AsioDriver::completedPeriods(uint64_t& count, uint64_t& stamp) const
{
    const DeviceStream* first = stream(0);
    if (first == nullptr || first->sharedBlock() == nullptr)
        return false;
    const auto* sb = static_cast<const uint8_t*>(first->sharedBlock());
    const uint32_t completed =
        __atomic_load_n(reinterpret_cast<const uint32_t*>(sb + shared::kCompletedBuffers), __ATOMIC_ACQUIRE);
    // The kernel driver's count is 32 bits; the position goes on past its wrap. The extended count only
    // grows: a reader that saw an older count leaves it as it is.
    uint64_t known = completed_.load();
    count = (known & ~uint64_t{0xFFFFFFFF}) | completed;
    if (count + 0x80000000u < known)
        count += uint64_t{1} << 32;
    else if (count > known + 0x80000000u && count >= (uint64_t{1} << 32))
        count -= uint64_t{1} << 32;
    while (count > known && !completed_.compare_exchange_weak(known, count))
    {
    }
    stamp = static_cast<uint64_t>(
        __atomic_load_n(reinterpret_cast<const int64_t*>(sb + shared::kCaptureTime), __ATOMIC_ACQUIRE));
    return true;
}

Result AsioDriver::getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) const
{
    if (position == nullptr || stamp == nullptr)
        return Result::InvalidParameter;
    *position = ASIOSamples{0, 0};
    *stamp = ASIOTimeStamp{0, 0};
    if (unitLost_.load())
        return Result::NotPresent;
    uint64_t count = 0;
    uint64_t time = 0;
    if (!completedPeriods(count, time))
        return Result::Ok;
    // The position counts from the start: the first switch after it is at 0, each later one a buffer
    // further. The kernel driver's count goes on across stop and start.
    const uint64_t base = positionBase_.load();
    const uint64_t samples = base != kNoPositionBase && count > base ? (count - base) * bufferSize_ : 0;
    *position = ASIOSamples{static_cast<uint32_t>(samples >> 32), static_cast<uint32_t>(samples)};
    *stamp = ASIOTimeStamp{static_cast<uint32_t>(time >> 32), static_cast<uint32_t>(time)};
    return Result::Ok;
}

Result AsioDriver::getChannelInfo(ASIOChannelInfo* info) const
{
    if (info == nullptr)
        return Result::InvalidParameter;
    const int32_t total = info->isInput ? inputTotal() : outputTotal();
    if (info->channel < 0 || info->channel >= total)
        return Result::InvalidParameter;
    const ChannelEntry& e = info->isInput ? inputs_[info->channel] : outputs_[info->channel];
    info->isActive = e.active != 0 ? ASIOTrue : ASIOFalse;
    info->channelGroup = 0;
    info->type = ASIOSTInt32LSB;
    e.stream->channelName(keptDeviceCount(), info->name, sizeof info->name, info->isInput != 0, e.channel);
    return Result::Ok;
}

void AsioDriver::refreshBufferSize()
{
    if (state_.load() != kStateInitialised || streams_.empty())
        return;
    vhw* first = streams_[0]->device();
    if (first->readDriverInfo())
    {
        const uint32_t size = first->driverInfo().bufferSize;
        if (size != 0)
            bufferSize_ = size;
    }
}

// ---- the control panel -----------------------------------------------------------------------------------

Result AsioDriver::controlPanel()
{
    if (streams_.empty())
        return Result::NotPresent;
    vhw* device = streams_[0]->device();
    device->readDriverInfo();
    const DriverInfo info = device->driverInfo();
    ControlPanelData data;
    data.maximum = info.maxBufferSize;
    data.minimum = info.minBufferSize;
    data.step = info.bufferSizeStep;
    data.current = info.configuredBufferSize;
    data.useMmcss = settings_.useMmcss();
    data.lowerDwm = settings_.lowerDwm();
    if (runControlPanel(data) != 1)
        return Result::Ok;

    settings_.setSwitches(data.useMmcss, data.lowerDwm);
    settings_.write(DriverSettings::kWriteSwitches, static_cast<uint32_t>(sampleRate_));
    if (data.current == info.configuredBufferSize)
        return Result::Ok;
    if (!device->setBufferSize(data.current))
    {
        // The host is not asked to reset for a size the kernel driver did not take.
        platform::messageBox("ASIO Strellis",
                             "The kernel driver refused the buffer size " +
                                 ControlPanelModel::formatSize(data.current) + ".",
                             platform::MB_OK);
        return Result::Ok;
    }
    device->readDriverInfo();
    if (state_.load() == kStateRunning)
    {
        // The thread asks the host to reset as it ends.
        resetPending_.store(true);
        thread_.stop();
    }
    else
        sendResetRequest();
    return Result::Ok;
}

} // namespace asiodrv
