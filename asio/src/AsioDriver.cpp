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
    case Result::InvalidMode:
        return ASE_InvalidMode;
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
        // A stored rate the device cannot run at is not sent, nor one that would change the rate under
        // another client's stream: the device keeps its own.
        if (device->driverInfo().sampleRate != rate && device->supportsSampleRate(rate) &&
            !device->heldElsewhere())
            device->setClock(-1, static_cast<int32_t>(rate));
        streams_.push_back(std::move(stream));
    }
    if (streams_.empty())
    {
        setError("No Strellis hardware found");
        releaseDevices();
        return false;
    }

    // The driver's buffer size and rate are the ones the first kept device runs.
    vhw* first = streams_[0]->device();
    if (first->readDriverInfo())
    {
        const DriverInfo info = first->driverInfo();
        if (info.bufferSize != 0)
            bufferSize_ = info.bufferSize;
        if (plausibleRate(info.sampleRate))
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

Result AsioDriver::getSampleRate(double* rate)
{
    if (rate == nullptr)
        return Result::InvalidParameter;
    refreshSampleRate();
    *rate = sampleRate_;
    return Result::Ok;
}

void AsioDriver::refreshSampleRate()
{
    if (state_.load() == kStateRunning || streams_.empty())
        return;
    vhw* first = streams_[0]->device();
    if (first->readDriverInfo() && plausibleRate(first->driverInfo().sampleRate))
        sampleRate_ = first->driverInfo().sampleRate;
}

Result AsioDriver::setSampleRate(double rate)
{
    if (const Result r = canSampleRate(rate); r != Result::Ok)
        return r;
    // Every kept device runs the rate, or none is changed while another client streams on one that does
    // not. The devices this object streams on are its own.
    const auto hz = static_cast<uint32_t>(rate);
    for (const auto& s : streams_)
    {
        vhw* device = s->device();
        const bool runs = device->readDriverInfo() && device->driverInfo().sampleRate == hz;
        if (!runs && !s->isStreamingOpen() && device->heldElsewhere())
            return Result::InvalidMode;
    }
    for (const auto& s : streams_)
        if (s->device()->driverInfo().sampleRate != hz &&
            !s->device()->setClock(-1, static_cast<int32_t>(hz)))
            return Result::HWMalfunction;
    if (rate == sampleRate_)
        return Result::Ok;
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
    // Another client's stream keeps its clock.
    if (!streams_[0]->isStreamingOpen() && device->heldElsewhere())
        return Result::InvalidMode;

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

Result AsioDriver::getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) const
{
    if (position == nullptr || stamp == nullptr)
        return Result::InvalidParameter;
    *position = ASIOSamples{0, 0};
    *stamp = ASIOTimeStamp{0, 0};
    if (unitLost_.load())
        return Result::NotPresent;
    uint64_t samples = 0;
    uint64_t time = 0;
    // A pair read while publishPosition wrote it shows an odd or a changed sequence number: read again.
    for (;;)
    {
        const uint32_t before = positionSequence_.load(std::memory_order_acquire);
        samples = position_.load(std::memory_order_acquire);
        time = static_cast<uint64_t>(positionTime_.load(std::memory_order_acquire));
        if ((before & 1) == 0 && positionSequence_.load(std::memory_order_relaxed) == before)
            break;
    }
    *position = ASIOSamples{static_cast<uint32_t>(samples >> 32), static_cast<uint32_t>(samples)};
    *stamp = ASIOTimeStamp{static_cast<uint32_t>(time >> 32), static_cast<uint32_t>(time)};
    return Result::Ok;
}

void AsioDriver::publishPosition(uint64_t position, int64_t time)
{
    // A reader that sees either new field also sees the odd number stored before it.
    const uint32_t sequence = positionSequence_.load(std::memory_order_relaxed);
    positionSequence_.store(sequence + 1, std::memory_order_relaxed);
    position_.store(position, std::memory_order_release);
    positionTime_.store(time, std::memory_order_release);
    positionSequence_.store(sequence + 2, std::memory_order_release);
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
    // The size goes to every kept device, so all of them stream at it.
    bool changed = false;
    bool refused = false;
    for (const auto& s : streams_)
    {
        vhw* unit = s->device();
        if (unit->readDriverInfo() && unit->driverInfo().configuredBufferSize == data.current)
            continue;
        if (unit->setBufferSize(data.current))
            changed = true;
        else
            refused = true;
        unit->readDriverInfo();
    }
    if (refused)
        platform::messageBox("ASIO Strellis",
                             "The kernel driver refused the buffer size " +
                                 ControlPanelModel::formatSize(data.current) + ".",
                             platform::MB_OK);
    // The host is not asked to reset for a size no kernel driver took.
    if (!changed)
        return Result::Ok;
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
