#include "asio/AsioDriver.h"

#include "asio/ControlPanel.h"
#include "platform/Debug.h"
#include "platform/LastError.h"
#include "platform/MessageBox.h"
#include "platform/Modules.h"
#include "platform/PerformanceCounter.h"
#include "platform/Registry.h"

#include <cstdio>
#include <cstring>
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

void logLastError(const char* operation)
{
    const uint32_t error = platform::getLastError();
    platform::debugPrintf("%s failed with error %d: %s\n", operation, static_cast<int>(error),
                          platform::systemErrorText(error).c_str());
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
    thread_.join();
    retiring_.join();
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
        if (device->caps().getVendorId() != kVendorId)
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
    if (keptCount_ == 0)
        return Result::NotPresent;
    if (keptCount_ >= 2)
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
    // The kernel driver's count is 32 bits; the position goes on past its wrap. The extended count only
    // grows: a reader that saw an older count leaves it as it is.
    uint64_t known = completed_.load();
    uint64_t count = (known & ~uint64_t{0xFFFFFFFF}) | completed;
    if (count + 0x80000000u < known)
        count += uint64_t{1} << 32;
    else if (count > known + 0x80000000u && count >= (uint64_t{1} << 32))
        count -= uint64_t{1} << 32;
    while (count > known && !completed_.compare_exchange_weak(known, count))
    {
    }
    const uint64_t samples = count * bufferSize_;
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

void AsioDriver::refreshBufferSize()
{
    if (state_.load() != kStateInitialised || keptCount_ == 0)
        return;
    vhw* first = streams_[0]->device();
    if (first->readDriverInfo())
    {
        const uint32_t size = first->driverInfo().bufferSize;
        if (size != 0)
            bufferSize_ = size;
    }
}

Result AsioDriver::failCreateBuffers(Result result)
{
    disposeBuffers();
    return result;
}

Result AsioDriver::createBuffers(ASIOBufferInfo* infos, int32_t count, int32_t bufferSize,
                                 ASIOCallbacks* callbacks)
{
    if (state_.load() == kStateLoaded)
        return Result::NotPresent;
    refreshBufferSize();
    if (bufferSize <= 0 || static_cast<uint32_t>(bufferSize) != bufferSize_)
        return Result::InvalidParameter;
    if (infos == nullptr || count <= 0 || callbacks == nullptr || callbacks->bufferSwitch == nullptr)
        return Result::InvalidParameter;

    // Every record is checked before anything changes: channels in range, none asked for twice.
    uint64_t seenInputs = 0;
    uint64_t seenOutputs = 0;
    int32_t inputs = 0;
    int32_t outputs = 0;
    for (int32_t i = 0; i < count; ++i)
    {
        const bool isInput = infos[i].isInput != ASIOFalse;
        const int32_t channel = infos[i].channelNum;
        if (channel < 0 || channel >= (isInput ? inputCount_ : outputCount_))
            return Result::InvalidParameter;
        // A bit per channel for the first 64 of a table; beyond them, the earlier records are compared.
        bool twice = false;
        if (channel < 64)
        {
            uint64_t& seen = isInput ? seenInputs : seenOutputs;
            twice = (seen & (uint64_t{1} << channel)) != 0;
            seen |= uint64_t{1} << channel;
        }
        else
        {
            for (int32_t j = 0; j < i && !twice; ++j)
                twice = (infos[j].isInput != ASIOFalse) == isInput && infos[j].channelNum == channel;
        }
        if (twice)
            return Result::InvalidParameter;
        ++(isInput ? inputs : outputs);
    }
    const bool timeInfo = callbacks->asioMessage != nullptr &&
                          callbacks->asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) != 0;
    if (timeInfo && callbacks->bufferSwitchTimeInfo == nullptr)
        return Result::InvalidParameter;

    disposeBuffers();

    for (int i = 0; i < keptCount_; ++i)
    {
        streams_[i]->setBufferSize(bufferSize_);
        if (!streams_[i]->allocateBuffers())
            return failCreateBuffers(Result::NoMemory);
    }
    activeInputs_ = new (std::nothrow) ChannelEntry[inputs > 0 ? inputs : 1]();
    activeOutputs_ = new (std::nothrow) ChannelEntry[outputs > 0 ? outputs : 1]();
    if (activeInputs_ == nullptr || activeOutputs_ == nullptr)
        return failCreateBuffers(Result::NoMemory);
    openStreams_ = 0;
    std::string refused; // names of the channels another application holds

    for (int32_t i = 0; i < count; ++i)
    {
        ASIOBufferInfo& info = infos[i];
        const bool isInput = info.isInput != ASIOFalse;
        ChannelEntry& entry = isInput ? inputs_[info.channelNum] : outputs_[info.channelNum];
        DeviceStream* stream = entry.stream;
        vhw* device = stream->device();
        if (!stream->isStreamingOpen())
        {
            void* block = device->openStreaming();
            if (block == nullptr)
                return failCreateBuffers(Result::NotPresent);
            stream->setSharedBlock(block);
            ++openStreams_;
            if (!streamingEvent_)
                streamingEvent_ = device->streamingEvent();
        }
        const bool claimed = device->claimChannel(isInput, static_cast<uint32_t>(entry.channel));
        if (!claimed)
        {
            char name[64];
            stream->channelName(listedDeviceCount(), name, sizeof name, isInput, entry.channel);
            refused += name;
            refused += "\n";
        }
        int32_t* buffer =
            isInput ? stream->inputBuffer(entry.channel) : stream->outputBuffer(entry.channel, claimed);
        entry.active = 1;
        (isInput ? activeInputs_[activeInputCount_++] : activeOutputs_[activeOutputCount_++]) =
            ChannelEntry{stream, entry.channel, 1};
        if (buffer == nullptr)
        {
            info.buffers[0] = info.buffers[1] = nullptr;
            return failCreateBuffers(Result::NoMemory);
        }
        info.buffers[0] = buffer;
        info.buffers[1] = buffer + bufferSize_;
    }

    if (!refused.empty())
        platform::messageBox("ASIO Strellis",
                             "The following channels are in use by another application:\n\n" + refused +
                                 "\nAudio output from these channels will be muted.",
                             platform::MB_OK);

    timeInfoMode_ = timeInfo;
    if (timeInfo)
    {
        asioTime_ = ASIOTime{};
        asioTime_.timeInfo.speed = 1.0;
        asioTime_.timeInfo.sampleRate = sampleRate_;
        asioTime_.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
        asioTime_.timeCode.speed = 1.0;
    }
    completed_.store(0);
    // A rate change made before these buffers is no news to their session.
    pendingTimeFlags_.store(0);
    callbacks_.store(callbacks);
    state_.store(kStatePrepared);
    return Result::Ok;
}

Result AsioDriver::disposeBuffers()
{
    // Not initialised: nothing to dispose, and the driver must stay uninitialised.
    if (state_.load() == kStateLoaded)
        return Result::Ok;
    // The thread goes before the callbacks it calls.
    stop();
    if (!thread_.isCurrent())
        thread_.join(); // a thread still in a host callback would otherwise copy into freed buffers
    callbacks_.store(nullptr);
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
    streamingEvent_.reset();
    delete[] activeInputs_;
    activeInputs_ = nullptr;
    activeInputCount_ = 0;
    delete[] activeOutputs_;
    activeOutputs_ = nullptr;
    activeOutputCount_ = 0;
    openStreams_ = 0;
    state_.store(kStateInitialised);
    return Result::Ok;
}

Result AsioDriver::start()
{
    const int32_t state = state_.load();
    if (state < kStatePrepared || callbacks_.load() == nullptr)
        return Result::NotPresent;
    if (state == kStateRunning)
        return Result::Ok;
    state_.store(kStateRunning);
    currentHalf_.store(0);
    handedHalf_.store(-1);
    for (int i = 0; i < keptCount_; ++i)
        if (streams_[i]->isStreamingOpen())
        {
            streams_[i]->clearRegisteredBuffers();
            // No buffer switch before the kernel driver's first period: no stale signal, no old index.
            streams_[i]->markNotRunning();
        }
    if (streamingEvent_)
        streamingEvent_->reset();
    bool ok = openStreams_ > 0 && startThread();
    for (int i = 0; ok && i < keptCount_; ++i)
        if (streams_[i]->isStreamingOpen() && !streams_[i]->start())
            ok = false;
    if (!ok)
    {
        stop();
        return Result::NotPresent;
    }
    return Result::Ok;
}

Result AsioDriver::stop()
{
    if (state_.load() != kStateRunning)
        return Result::NotPresent;
    state_.store(kStatePrepared);
    stopThread();
    // Every device is stopped, whatever one of them answers.
    bool ok = openStreams_ > 0;
    for (int i = 0; i < keptCount_; ++i)
        if (streams_[i]->isStreamingOpen() && !streams_[i]->stop())
            ok = false;
    return ok ? Result::Ok : Result::NotPresent;
}

Result AsioDriver::outputReady()
{
    if (state_.load() != kStateRunning)
        return Result::Ok;
    const int32_t half = handedHalf_.load();
    if (half < 0)
        return Result::Ok;
    const uint32_t offset = static_cast<uint32_t>(half) * bufferSize_;
    for (int i = 0; i < keptCount_; ++i)
        if (streams_[i]->isStreamingOpen())
            streams_[i]->writeOutputs(offset);
    return Result::Ok;
}

void AsioDriver::switchBuffers()
{
    ASIOCallbacks* const callbacks = callbacks_.load();
    if (state_.load() != kStateRunning || callbacks == nullptr)
        return;
    const int32_t half = currentHalf_.load();
    handedHalf_.store(half);
    // The half flips before the host is called: a host that starts streaming again from inside the
    // callback finds the new start as it made it.
    currentHalf_.store(half ^ 1);
    if (timeInfoMode_)
        switchBuffersWithTimeInfo(callbacks, half);
    else
        callbacks->bufferSwitch(half, ASIOTrue);
}

void AsioDriver::switchBuffersWithTimeInfo(ASIOCallbacks* callbacks, int32_t half)
{
    ASIOTimeStamp stamp{};
    getSamplePosition(&asioTime_.timeInfo.samplePosition, &stamp);
    asioTime_.timeInfo.systemTime = stamp;
    asioTime_.timeInfo.sampleRate = sampleRate_;
    asioTime_.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid |
                               (pendingTimeFlags_.exchange(0) & (kSampleRateChanged | kClockSourceChanged));
    const uint32_t generation = generation_.load();
    callbacks->bufferSwitchTimeInfo(&asioTime_, half, ASIOFalse);
    // After a restart from inside the callback the record belongs to the new session.
    if (!threadRetired(generation))
        asioTime_.timeInfo.flags &= ~(kSampleRateChanged | kClockSourceChanged);
}

void AsioDriver::sendResetRequest()
{
    ASIOCallbacks* const callbacks = callbacks_.load();
    if (callbacks == nullptr || callbacks->asioMessage == nullptr)
        return;
    // Cleared first: the host may answer from inside the call, and may ask for another reset there.
    resetPending_.store(false);
    callbacks->asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
}

bool AsioDriver::deferDestruction(void (*destroy)(void* owner), void* owner)
{
    if (!thread_.isCurrent() && !retiring_.isCurrent())
        return false;
    destroyOwner_ = destroy;
    owner_ = owner;
    destroyingThread_.store(std::this_thread::get_id());
    runFlag_.store(false);
    return true;
}

bool AsioDriver::threadRetired(uint32_t generation) const
{
    return generation_.load() != generation || destroyingThread_.load() != std::thread::id();
}

// ---- the streaming thread ------------------------------------------------------------------------------

namespace
{

// The functions of the multimedia class scheduler and of the window manager, as those modules export them.
using AvSetMmThreadCharacteristicsFn = void* (*)(const char* task, uint32_t* taskIndex);
using AvSetMmThreadPriorityFn = int32_t (*)(void* handle, int32_t priority);
using AvRevertMmThreadCharacteristicsFn = int32_t (*)(void* handle);
using DwmEnableMmcssFn = int32_t (*)(int32_t enable);
constexpr int32_t kAvrtPriorityCritical = 2;

} // namespace

struct AsioDriver::Priority
{
    platform::LoadedModule avrt;
    platform::LoadedModule dwmapi;
    void* mmcssTask = nullptr;
    DwmEnableMmcssFn dwmEnable = nullptr;
    bool lowered = false;
};

bool AsioDriver::startThread()
{
    if (thread_.isCurrent())
    {
        // Started again from inside a host callback on the streaming thread itself: this thread ends when
        // the callback returns (its generation is no longer current), and is joined later.
        retiring_ = std::move(thread_);
    }
    else
    {
        // Threads that outlived their last stop end now (their run flag is down, their event was set).
        thread_.join();
        if (!retiring_.isCurrent())
            retiring_.join();
    }
    generation_.fetch_add(1);
    runFlag_.store(true);
    return thread_.start(&AsioDriver::streamingThreadProc, this);
}

void AsioDriver::stopThread()
{
    // The thread stopped here is the one running now: one that a host starts from inside its last
    // callback (answering the reset request) is not waited for.
    const platform::Thread::Ending ending = thread_.ending();
    runFlag_.store(false);
    if (streamingEvent_)
        streamingEvent_->set(); // wakes the thread at once
    // Called from inside a host callback on the thread itself: it ends when the callback returns.
    if (thread_.isCurrent())
        return;
    if (!ending.waitFor(kThreadStopWaitMs))
        platform::outputDebugString("ASIO Strellis: the streaming thread did not end within 1000 ms");
    // Collected wherever a restart from its callback moved it.
    thread_.joinFor(0);
    if (!retiring_.isCurrent())
        retiring_.joinFor(0);
}

void AsioDriver::streamingThreadProc(void* argument)
{
    auto* const driver = static_cast<AsioDriver*>(argument);
    driver->streamingLoop();
    // The host released the object from a callback on this thread: it goes now that nothing of the
    // thread uses it any more.
    if (driver->destroyingThread_.load() == std::this_thread::get_id())
        driver->destroyOwner_(driver->owner_);
}

void AsioDriver::streamingLoop()
{
    const uint32_t generation = generation_.load();
    // The thread's own reference: the event stays while the thread waits on it, whatever closes.
    const std::shared_ptr<platform::Event> event = streamingEvent_;
    if (!event)
        return;
    Priority priority;
    raiseThreadPriority(priority);
    bool byRunFlag = false;
    for (;;)
    {
        const platform::Event::WaitResult r = event->wait(kPeriodWaitMs);
        if (r == platform::Event::Failed)
        {
            logLastError("WaitForSingleObject");
            break;
        }
        // The set that stops the thread is no period: a lowered run flag serves none.
        if (r == platform::Event::Signalled && runFlag_.load() && state_.load() == kStateRunning)
            servePeriod();
        if (threadRetired(generation))
            break;
        if (!runFlag_.load())
        {
            byRunFlag = true;
            break;
        }
    }
    if (byRunFlag && resetPending_.load())
        sendResetRequest();
    restoreThreadPriority(priority);
}

void AsioDriver::servePeriod()
{
    const uint32_t offset = static_cast<uint32_t>(currentHalf_.load()) * bufferSize_;
    for (int i = 0; i < keptCount_; ++i)
        if (streams_[i]->isStreamingOpen())
            streams_[i]->readInputs(offset);
    switchBuffers();
}

void AsioDriver::raiseThreadPriority(Priority& priority)
{
    if (!platform::setCurrentThreadTimeCritical() && !normalPriorityReported_)
    {
        normalPriorityReported_ = true;
        platform::outputDebugString("ASIO Strellis: time-critical priority is not permitted; the streaming "
                                    "thread runs at normal priority");
    }
    if (useMmcss_.load() != 0)
    {
        priority.avrt = platform::LoadedModule::find("Avrt.dll");
        const auto characteristics = reinterpret_cast<AvSetMmThreadCharacteristicsFn>(
            priority.avrt.procAddress("AvSetMmThreadCharacteristicsA"));
        const auto setPriority =
            reinterpret_cast<AvSetMmThreadPriorityFn>(priority.avrt.procAddress("AvSetMmThreadPriority"));
        if (characteristics != nullptr && setPriority != nullptr)
        {
            uint32_t taskIndex = 0;
            priority.mmcssTask = characteristics("Pro Audio", &taskIndex);
            if (priority.mmcssTask != nullptr)
                setPriority(priority.mmcssTask, kAvrtPriorityCritical);
        }
    }
    if (lowerDwm_.load() != 0)
    {
        priority.dwmapi = platform::LoadedModule::find("dwmapi.dll");
        priority.dwmEnable =
            reinterpret_cast<DwmEnableMmcssFn>(priority.dwmapi.procAddress("DwmEnableMMCSS"));
        if (priority.dwmEnable != nullptr)
            priority.lowered = priority.dwmEnable(0) == S_OK;
    }
}

void AsioDriver::restoreThreadPriority(Priority& priority)
{
    if (priority.mmcssTask != nullptr)
    {
        const auto revert = reinterpret_cast<AvRevertMmThreadCharacteristicsFn>(
            priority.avrt.procAddress("AvRevertMmThreadCharacteristics"));
        if (revert != nullptr)
            revert(priority.mmcssTask);
    }
    if (priority.lowered && priority.dwmEnable != nullptr)
        priority.dwmEnable(1);
    platform::setCurrentThreadNormalPriority();
}

// ---- the control panel -----------------------------------------------------------------------------------

Result AsioDriver::controlPanel()
{
    if (keptCount_ == 0)
        return Result::NotPresent;
    vhw* device = streams_[0]->device();
    device->readDriverInfo();
    const DriverInfo info = device->driverInfo();
    ControlPanelData data;
    data.maximum = info.maxBufferSize;
    data.minimum = info.minBufferSize;
    data.step = info.bufferSizeStep;
    data.current = info.configuredBufferSize;
    data.useMmcss = useMmcss_.load();
    data.lowerDwm = lowerDwm_.load();
    if (runControlPanel(data) != 1)
        return Result::Ok;

    useMmcss_.store(data.useMmcss);
    lowerDwm_.store(data.lowerDwm);
    writeSettings(kWriteSwitches);
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
        stopThread();
    }
    else
        sendResetRequest();
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
        uint32_t value = 1;
        useMmcss_ = readDword(key, "Use MMCSS", value) ? value : 1;
        value = 1;
        lowerDwm_ = readDword(key, "Lower DWM priority", value) ? value : 1;
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
        const uint32_t mmcss = useMmcss_.load();
        const uint32_t dwm = lowerDwm_.load();
        platform::regSetValue(key, "Use MMCSS", platform::REG_DWORD, &mmcss, sizeof mmcss);
        platform::regSetValue(key, "Lower DWM priority", platform::REG_DWORD, &dwm, sizeof dwm);
    }
    platform::regCloseKey(key);
}

} // namespace asiodrv
