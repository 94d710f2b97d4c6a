#include "asio/AsioDriver.h"

#include "platform/MessageBox.h"
#include "platform/Registry.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace asiodrv
{
namespace
{

std::atomic<AsioDriver::ControlPanelHandler> controlPanelHandler{nullptr};

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

bool readDword(platform::HKEY key, const char* name, uint32_t& value)
{
    uint32_t type = 0;
    uint32_t data = 0;
    uint32_t size = sizeof data;
    if (platform::regQueryValue(key, name, &type, &data, &size) != platform::ERROR_SUCCESS ||
        type != platform::REG_DWORD || size != sizeof data)
        return false;
    value = data;
    return true;
}

// Creates or opens every level of a backslash-separated path below root; the last key, or null.
platform::HKEY createKeyPath(platform::HKEY root, const char* path)
{
    platform::HKEY current = root;
    const char* p = path;
    while (*p != '\0')
    {
        char component[64];
        size_t n = 0;
        while (*p != '\0' && *p != '\\')
        {
            if (n + 1 < sizeof component)
                component[n++] = *p;
            ++p;
        }
        component[n] = '\0';
        if (*p == '\\')
            ++p;
        if (n == 0)
            continue;
        platform::HKEY next = nullptr;
        const int32_t r = platform::regCreateKey(current, component, &next);
        if (current != root)
            platform::regCloseKey(current);
        if (r != platform::ERROR_SUCCESS)
            return nullptr;
        current = next;
    }
    return current == root ? nullptr : current;
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

void AsioDriver::setControlPanelHandler(ControlPanelHandler handler)
{
    controlPanelHandler.store(handler);
}

AsioDriver::AsioDriver()
{
    asioTime_.timeInfo.sampleRate = sampleRate_;
}

AsioDriver::~AsioDriver()
{
    stop();
    disposeBuffers();
    releaseDevices();
    // A driver that never read its settings and never had its rate set has nothing worth storing.
    if (settingsRead_ || rateSet_)
        writeSettings(kWriteSampleRate);
}

void AsioDriver::setError(const char* text)
{
    copyText(errorText_, sizeof errorText_, text);
}

bool AsioDriver::init()
{
    if (state_.load() >= kStateInitialised)
        return true;

    if (!settingsRead_)
        readSettings();
    setError("ASIO driver open failure");

    list_ = new (std::nothrow) DeviceList;
    if (list_ == nullptr)
        return false;
    if (list_->count() == 0)
    {
        setError("No Strellis hardware found");
        releaseDevices();
        return false;
    }

    streams_ = new (std::nothrow) DeviceStream*[list_->count()]();
    if (streams_ == nullptr)
    {
        releaseDevices();
        return false;
    }

    bool firstRefused = false;
    const auto rate = static_cast<uint32_t>(sampleRate_);
    for (int i = 0; i < list_->count(); ++i)
    {
        vhw* device = list_->getDevice(i);
        if (device->caps().vendorId() != kVendorId)
            continue;
        DeviceStream* stream = new (std::nothrow) DeviceStream(device);
        if (stream == nullptr)
        {
            releaseDevices();
            return false;
        }
        // A stored rate the device cannot run at is not sent; the device keeps its own.
        const bool accepted =
            device->supportsSampleRate(rate) && device->setClock(-1, static_cast<int32_t>(rate));
        if (!accepted && keptCount_ == 0)
            firstRefused = true;
        streams_[keptCount_++] = stream;
    }
    if (keptCount_ == 0)
    {
        setError("No Strellis hardware found");
        releaseDevices();
        return false;
    }

    openStreams_ = 0;
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
    int32_t outputs = 0;
    int32_t inputs = 0;
    for (int i = 0; i < keptCount_; ++i)
    {
        outputs += streams_[i]->outputCount();
        inputs += streams_[i]->inputCount();
    }
    outputs_ = new (std::nothrow) ChannelEntry[outputs > 0 ? outputs : 1];
    inputs_ = new (std::nothrow) ChannelEntry[inputs > 0 ? inputs : 1];
    if (outputs_ == nullptr || inputs_ == nullptr)
        return false;
    for (int i = 0; i < keptCount_; ++i)
    {
        DeviceStream* s = streams_[i];
        for (int k = 0; k < s->outputCount(); ++k)
            outputs_[outputCount_++] = ChannelEntry{s, k, 0};
        for (int k = 0; k < s->inputCount(); ++k)
            inputs_[inputCount_++] = ChannelEntry{s, k, 0};
    }
    return true;
}

void AsioDriver::releaseDevices()
{
    for (int i = 0; streams_ != nullptr && i < keptCount_; ++i)
    {
        streams_[i]->release();
        delete streams_[i];
    }
    delete[] streams_;
    streams_ = nullptr;
    keptCount_ = 0;
    delete[] outputs_;
    outputs_ = nullptr;
    outputCount_ = 0;
    delete[] inputs_;
    inputs_ = nullptr;
    inputCount_ = 0;
    openStreams_ = 0;
    delete list_;
    list_ = nullptr;
}

void AsioDriver::errorMessage(char* text, size_t size) const
{
    copyText(text, size, errorText_);
}

Result AsioDriver::getChannels(int32_t* inputs, int32_t* outputs) const
{
    if (inputs == nullptr || outputs == nullptr)
        return Result::InvalidParameter;
    *inputs = inputCount_;
    *outputs = outputCount_;
    return Result::Ok;
}

Result AsioDriver::getLatencies(int32_t* input, int32_t* output) const
{
    if (input == nullptr || output == nullptr)
        return Result::InvalidParameter;
    *input = static_cast<int32_t>(bufferSize_ + 128);
    *output = static_cast<int32_t>(bufferSize_ + 128);
    return Result::Ok;
}

Result AsioDriver::getBufferSize(int32_t* minimum, int32_t* maximum, int32_t* preferred,
                                 int32_t* granularity) const
{
    if (minimum == nullptr || maximum == nullptr || preferred == nullptr || granularity == nullptr)
        return Result::InvalidParameter;
    *minimum = *maximum = *preferred = static_cast<int32_t>(bufferSize_);
    *granularity = 0;
    return Result::Ok;
}

Result AsioDriver::canSampleRate(double rate) const
{
    if (!plausibleRate(rate) || keptCount_ == 0)
        return Result::NoClock;
    const auto hz = static_cast<uint32_t>(rate);
    for (int i = 0; i < keptCount_; ++i)
        if (!streams_[i]->device()->supportsSampleRate(hz))
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
    asioTime_.timeInfo.flags |= kSampleRateChanged;
    sampleRate_ = rate;
    asioTime_.timeInfo.sampleRate = rate;
    rateSet_ = true;
    if (callbacks_ != nullptr && callbacks_->sampleRateDidChange != nullptr)
        callbacks_->sampleRateDidChange(rate);
    return Result::Ok;
}

Result AsioDriver::getClockSources(ASIOClockSource* clocks, int32_t* count)
{
    if (count == nullptr)
        return Result::InvalidParameter;
    if (keptCount_ == 0)
        return Result::NotPresent;

    // Several interfaces each follow the clock chosen in the console.
    if (keptCount_ >= 2)
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
    const uint32_t mask = device->caps().clockMask();
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
    if (keptCount_ == 0)
        return Result::NotPresent;
    if (keptCount_ >= 2)
        return Result::Ok;

    vhw* device = streams_[0]->device();
    const uint32_t mask = device->caps().clockMask();
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

    const uint8_t* polled = device->readPolled();
    if (polled == nullptr)
    {
        platform::messageBox("ASIO Strellis", "Unable to detect clock sources", platform::MB_OK);
        return Result::HWMalfunction;
    }
    uint32_t detected;
    std::memcpy(&detected, polled + kPolledStatusOffset, sizeof detected);
    if ((detected & (1u << chosen)) == 0)
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
    const DeviceStream* first = stream(0);
    if (first == nullptr || first->sharedBlock() == nullptr)
        return Result::Ok;
    const auto* sb = static_cast<const uint8_t*>(first->sharedBlock());
    const uint32_t completed =
        __atomic_load_n(reinterpret_cast<const uint32_t*>(sb + shared::kCompletedBuffers), __ATOMIC_ACQUIRE);
    const uint64_t samples = static_cast<uint64_t>(completed) * bufferSize_;
    const auto time = static_cast<uint64_t>(
        __atomic_load_n(reinterpret_cast<const int64_t*>(sb + shared::kCaptureTime), __ATOMIC_ACQUIRE));
    *position = ASIOSamples{static_cast<uint32_t>(samples >> 32), static_cast<uint32_t>(samples)};
    *stamp = ASIOTimeStamp{static_cast<uint32_t>(time >> 32), static_cast<uint32_t>(time)};
    return Result::Ok;
}

Result AsioDriver::getChannelInfo(ASIOChannelInfo* info) const
{
    if (info == nullptr)
        return Result::InvalidParameter;
    const int32_t total = info->isInput ? inputCount_ : outputCount_;
    if (info->channel < 0 || info->channel >= total)
        return Result::InvalidParameter;
    const ChannelEntry& e = info->isInput ? inputs_[info->channel] : outputs_[info->channel];
    info->isActive = e.active != 0 ? ASIOTrue : ASIOFalse;
    info->channelGroup = 0;
    info->type = ASIOSTInt32LSB;
    e.stream->channelName(listedDeviceCount(), info->name, sizeof info->name, info->isInput != 0, e.channel);
    return Result::Ok;
}

Result AsioDriver::createBuffers(ASIOBufferInfo*, int32_t, int32_t, ASIOCallbacks*)
{
    // Buffers and streaming come with the streaming thread; until then there is nothing to prepare.
    return Result::NotPresent;
}

Result AsioDriver::disposeBuffers()
{
    // Not initialised: nothing to dispose, and the driver must stay uninitialised.
    if (state_.load() == kStateLoaded)
        return Result::Ok;
    callbacks_ = nullptr;
    stop();
    for (int32_t i = 0; i < outputCount_; ++i)
        outputs_[i].active = 0;
    for (int32_t i = 0; i < inputCount_; ++i)
        inputs_[i].active = 0;
    for (int i = 0; i < keptCount_; ++i)
    {
        DeviceStream* s = streams_[i];
        if (s->isStreamingOpen())
        {
            s->device()->closeStreaming();
            s->setSharedBlock(nullptr);
        }
        s->freeBuffers();
    }
    openStreams_ = 0;
    state_.store(kStateInitialised);
    return Result::Ok;
}

Result AsioDriver::start()
{
    // Nothing can be prepared yet (see createBuffers), so there is nothing to start.
    return Result::NotPresent;
}

Result AsioDriver::stop()
{
    if (state_.load() != kStateRunning)
        return Result::NotPresent;
    state_.store(kStatePrepared);
    return Result::Ok;
}

Result AsioDriver::controlPanel()
{
    if (keptCount_ == 0)
        return Result::NotPresent;
    const ControlPanelHandler handler = controlPanelHandler.load();
    return handler != nullptr ? handler(*this) : Result::Ok;
}

Result AsioDriver::outputReady()
{
    return Result::Ok;
}

void AsioDriver::readSettings()
{
    settingsRead_ = true;
    platform::HKEY key = nullptr;
    if (platform::regOpenKey(platform::HKEY_CURRENT_USER, kSettingsKey, &key) != platform::ERROR_SUCCESS)
        return;
    uint32_t rate = 0;
    if (readDword(key, "Sample rate", rate) && plausibleRate(rate))
    {
        sampleRate_ = rate;
        asioTime_.timeInfo.sampleRate = sampleRate_;
        if (!readDword(key, "Use MMCSS", useMmcss_))
            useMmcss_ = 1;
        if (!readDword(key, "Lower DWM priority", lowerDwm_))
            lowerDwm_ = 1;
    }
    platform::regCloseKey(key);
}

void AsioDriver::writeSettings(uint32_t flags)
{
    platform::HKEY key = createKeyPath(platform::HKEY_CURRENT_USER, kSettingsKey);
    if (key == nullptr)
        return;
    if ((flags & kWriteSampleRate) != 0)
    {
        const auto rate = static_cast<uint32_t>(sampleRate_);
        if (platform::regSetValue(key, "Sample rate", platform::REG_DWORD, &rate, sizeof rate) !=
            platform::ERROR_SUCCESS)
        {
            platform::regCloseKey(key);
            return;
        }
    }
    if ((flags & kWriteSwitches) != 0)
    {
        platform::regSetValue(key, "Use MMCSS", platform::REG_DWORD, &useMmcss_, sizeof useMmcss_);
        platform::regSetValue(key, "Lower DWM priority", platform::REG_DWORD, &lowerDwm_, sizeof lowerDwm_);
    }
    platform::regCloseKey(key);
}

} // namespace asiodrv
