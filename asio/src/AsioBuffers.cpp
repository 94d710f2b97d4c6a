// The driver object's buffers and streaming control: createBuffers (every record checked, then its prepared
// buffers built), disposeBuffers, start and stop, outputReady, and the streaming thread's side of each
// period.

#include "asio/AsioDriver.h"

#include "platform/Debug.h"
#include "platform/MessageBox.h"
#include "platform/PerformanceCounter.h"

#include <string>

namespace asiodrv
{

Result AsioDriver::createBuffers(ASIOBufferInfo* infos, int32_t count, int32_t bufferSize,
                                 ASIOCallbacks* callbacks)
{
    if (state_.load() == kStateLoaded || unitLost_.load())
        return Result::NotPresent;
    refreshBufferSize();
    BufferRequest request;
    if (const Result r = validateBuffers(infos, count, bufferSize, callbacks, request); r != Result::Ok)
        return r;

    disposeBuffers();
    if (const Result r = matchBufferSizes(infos, count); r != Result::Ok)
        return r;
    // A step that fails drops what the earlier ones built: the driver stays initialised, without buffers.
    std::unique_ptr<PreparedBuffers> prepared(
        new (std::nothrow) PreparedBuffers(streams_, inputs_, outputs_, bufferSize_, request));
    if (prepared == nullptr || !prepared->allocate())
        return Result::NoMemory;
    std::string refused; // names of the channels another application holds
    if (const Result r = prepared->claim(infos, count, keptDeviceCount(), refused); r != Result::Ok)
        return r;

    if (!refused.empty())
        platform::messageBox("ASIO Strellis",
                             "The following channels are in use by another application:\n\n" + refused +
                                 "\nAudio output from these channels will be muted.",
                             platform::MB_OK);

    if (request.timeInfo)
    {
        asioTime_ = ASIOTime{};
        asioTime_.timeInfo.speed = 1.0;
        asioTime_.timeInfo.sampleRate = sampleRate_;
        asioTime_.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
        asioTime_.timeCode.speed = 1.0;
    }
    publishPosition(0, 0);
    // A rate change made before these buffers is no news to their session.
    pendingTimeFlags_.store(0);
    prepared_ = std::move(prepared);
    callbacks_.store(callbacks);
    state_.store(kStatePrepared);
    return Result::Ok;
}

Result AsioDriver::matchBufferSizes(const ASIOBufferInfo* infos, int32_t count) const
{
    for (const auto& s : streams_)
    {
        bool used = false;
        for (int32_t i = 0; i < count && !used; ++i)
            used =
                (infos[i].isInput != ASIOFalse ? inputs_ : outputs_)[infos[i].channelNum].stream == s.get();
        if (!used)
            continue;
        vhw* device = s->device();
        if (!device->readDriverInfo())
            return Result::NotPresent;
        const uint32_t runs = device->driverInfo().bufferSize;
        if (runs == bufferSize_ || (device->setBufferSize(bufferSize_) && device->readDriverInfo() &&
                                    device->driverInfo().bufferSize == bufferSize_))
            continue;
        platform::debugPrintf("ASIO Strellis: unit \"%s\" streams %u samples a period and did not take %u",
                              device->uniqueName(), runs, bufferSize_);
        return Result::InvalidMode;
    }
    return Result::Ok;
}

Result AsioDriver::validateBuffers(const ASIOBufferInfo* infos, int32_t count, int32_t bufferSize,
                                   ASIOCallbacks* callbacks, BufferRequest& request) const
{
    if (bufferSize <= 0 || static_cast<uint32_t>(bufferSize) != bufferSize_)
        return Result::InvalidParameter;
    if (infos == nullptr || count <= 0 || callbacks == nullptr || callbacks->bufferSwitch == nullptr)
        return Result::InvalidParameter;

    // Every record: its channel in range, none asked for twice.
    uint64_t seenInputs = 0;
    uint64_t seenOutputs = 0;
    for (int32_t i = 0; i < count; ++i)
    {
        const bool isInput = infos[i].isInput != ASIOFalse;
        const int32_t channel = infos[i].channelNum;
        if (channel < 0 || channel >= (isInput ? inputTotal() : outputTotal()))
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
        ++(isInput ? request.inputs : request.outputs);
    }
    request.timeInfo = callbacks->asioMessage != nullptr &&
                       callbacks->asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) != 0;
    if (request.timeInfo && callbacks->bufferSwitchTimeInfo == nullptr)
        return Result::InvalidParameter;
    return Result::Ok;
}

Result AsioDriver::disposeBuffers()
{
    // Not initialised: nothing to dispose, and the driver must stay uninitialised.
    if (state_.load() == kStateLoaded)
        return Result::Ok;
    // The thread goes before the callbacks it calls.
    stop();
    thread_.join(); // a thread still in a host callback would otherwise copy into freed buffers
    callbacks_.store(nullptr);
    prepared_.reset(); // closes streaming and frees the buffers
    publishPosition(0, 0);
    state_.store(kStateInitialised);
    return Result::Ok;
}

Result AsioDriver::start()
{
    const int32_t state = state_.load();
    if (state < kStatePrepared || callbacks_.load() == nullptr || unitLost_.load())
        return Result::NotPresent;
    if (state == kStateRunning)
        return Result::Ok;
    state_.store(kStateRunning);
    currentHalf_.store(0);
    handedHalf_.store(-1);
    const double stillPeriods =
        sampleRate_.load() * StreamingThread::kPeriodWaitMs / 1000.0 / static_cast<double>(bufferSize_);
    stallLimit_ = stillPeriods > kMinStallLimit ? static_cast<uint32_t>(stillPeriods) : kMinStallLimit;
    lookInterval_ = static_cast<int64_t>(platform::queryPerformanceFrequency() / 2);
    nextLook_.store(platform::queryPerformanceCounter() + lookInterval_);
    for (const auto& s : streams_)
        if (s->isStreamingOpen())
        {
            s->clearRegisteredBuffers();
            // No buffer switch before the kernel driver's first period: no stale signal, no old index.
            s->markNotRunning();
            s->restartWatch(static_cast<uint32_t>(sampleRate_.load()));
        }
    // The sample position counts from this start: from the clock unit's count before it starts (the
    // kernel driver's count goes on across stop and start).
    DeviceStream* const clock = prepared_->clockStream();
    clock_.store(clock);
    servedCount_.store(clock != nullptr ? clock->completedCount() : 0);
    servedPeriods_.store(0);
    publishPosition(0, 0);
    const std::shared_ptr<platform::Event>& event = prepared_->streamingEvent();
    if (event)
        event->reset();
    bool ok = prepared_->openStreams() > 0 && thread_.start();
    // The range is read once, before the first device starts: once the last one has started, this call
    // reads nothing more of the object, whose thread may be serving periods by then.
    for (const auto& s : streams_)
    {
        if (!ok)
            break;
        if (s->isStreamingOpen() && !s->start())
            ok = false;
    }
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
    // Read while the buffers surely exist: a host may dispose them from inside the thread's last callback.
    bool ok = prepared_->openStreams() > 0;
    thread_.stop();
    // Every device is stopped, whatever one of them answers.
    for (const auto& s : streams_)
        if (s->isStreamingOpen() && !s->stop())
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
    for (const auto& s : streams_)
        if (s->isStreamingOpen())
            s->writeOutputs(offset);
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
    if (prepared_->timeInfoMode())
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
    const uint32_t generation = thread_.generation();
    callbacks->bufferSwitchTimeInfo(&asioTime_, half, ASIOFalse);
    // After a restart from inside the callback the record belongs to the new session.
    if (!thread_.retired(generation))
        asioTime_.timeInfo.flags &= ~(kSampleRateChanged | kClockSourceChanged);
}

void AsioDriver::sendResetRequest()
{
    ASIOCallbacks* const callbacks = callbacks_.load();
    if (callbacks == nullptr || callbacks->asioMessage == nullptr)
        return;
    // Cleared first: the host may answer from inside the call, and may ask for another reset there.
    resetPending_.store(false);
    if (callbacks->asioMessage(kAsioSelectorSupported, kAsioResetRequest, nullptr, nullptr) != 0)
        callbacks->asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
}

// ---- the streaming thread's side -----------------------------------------------------------------------

bool AsioDriver::servePeriod()
{
    DeviceStream* const clock = clock_.load();
    if (state_.load() != kStateRunning || clock == nullptr)
        return true;
    // The kernel driver raises the clock unit's count once the period's frames and time stamp are in
    // place, then signals: a count already served is no new period (its signal came after the count was
    // read for the switch before).
    if (clock->completedCount() == servedCount_.load())
        return true;
    // A streamed unit whose periods stand still while the clock unit's go on may have been pulled out:
    // it is asked, and a unit that is gone ends the stream before the host is called.
    for (const auto& s : streams_)
        if (s->isStreamingOpen() && s->stalled(stallLimit_) && lookAt(*s) == Look::Gone)
        {
            unitLost_.store(true);
            return false;
        }
    // The block handed over is the newest: the count read now is its period's. A period that was missed
    // meanwhile is skipped by the position, as hosts see an overload.
    const uint32_t count = clock->completedCount();
    const uint64_t periods = servedPeriods_.load() + (count - servedCount_.load());
    servedCount_.store(count);
    servedPeriods_.store(periods);
    publishPosition((periods - 1) * bufferSize_, clock->captureTime());
    const uint32_t offset = static_cast<uint32_t>(currentHalf_.load()) * bufferSize_;
    for (const auto& s : streams_)
        if (s->isStreamingOpen())
            s->readInputs(offset);
    const uint32_t generation = thread_.generation();
    switchBuffers();
    // Once the host's callback returned, and only while the stream is still this thread's, the units
    // are looked at every half second or so.
    if (thread_.retired(generation) || state_.load() != kStateRunning)
        return true;
    const int64_t now = platform::queryPerformanceCounter();
    if (now < nextLook_.load())
        return true;
    nextLook_.store(now + lookInterval_);
    return lookAtUnits();
}

bool AsioDriver::unitsPresent()
{
    if (state_.load() != kStateRunning)
        return true;
    nextLook_.store(platform::queryPerformanceCounter() + lookInterval_);
    return lookAtUnits();
}

AsioDriver::Look AsioDriver::lookAt(DeviceStream& s)
{
    vhw* device = s.device();
    if (device->readDriverInfo())
    {
        s.lookAnswered();
        return Look::Answered;
    }
    // One failed request is not yet a unit pulled out: a unit whose handle is dead for good fails every
    // look, and a unit pulled out is no longer listed.
    const uint32_t missed = s.lookMissed();
    platform::debugPrintf("ASIO Strellis: unit \"%s\" did not answer (%u in a row)", device->uniqueName(),
                          missed);
    return missed >= kLostAfterMissedLooks || !device->isListed() ? Look::Gone : Look::Missed;
}

bool AsioDriver::lookAtUnits()
{
    uint32_t changedTo = 0;
    for (const auto& s : streams_)
    {
        if (!s->isStreamingOpen())
            continue;
        const Look look = lookAt(*s);
        if (look == Look::Gone)
        {
            unitLost_.store(true);
            return false;
        }
        const uint32_t rate = s->device()->driverInfo().sampleRate;
        if (look == Look::Answered && s->rateChanged(rate) && plausibleRate(rate))
            changedTo = rate;
    }
    if (changedTo != 0)
        tellRateChange(changedTo);
    return true;
}

void AsioDriver::tellRateChange(uint32_t rate)
{
    sampleRate_ = rate;
    pendingTimeFlags_.fetch_or(kSampleRateChanged);
    ASIOCallbacks* const callbacks = callbacks_.load();
    if (callbacks != nullptr && callbacks->sampleRateDidChange != nullptr)
        callbacks->sampleRateDidChange(rate);
}

void AsioDriver::threadStopped()
{
    if (resetPending_.load())
        sendResetRequest();
}

void AsioDriver::unitLost()
{
    // Sent once: the thread ends with it, and this object starts no other.
    sendResetRequest();
}

} // namespace asiodrv
