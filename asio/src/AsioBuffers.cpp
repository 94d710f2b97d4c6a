// The driver object's buffers and streaming control: createBuffers (every record checked, then its prepared
// buffers built), disposeBuffers, start and stop, outputReady, and the streaming thread's side of each
// period.

#include "asio/AsioDriver.h"

#include "platform/MessageBox.h"

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
    completed_.store(0);
    positionBase_.store(kNoPositionBase);
    // A rate change made before these buffers is no news to their session.
    pendingTimeFlags_.store(0);
    prepared_ = std::move(prepared);
    callbacks_.store(callbacks);
    state_.store(kStatePrepared);
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
    // The sample position counts from this start.
    positionBase_.store(kNoPositionBase);
    const double stillPeriods =
        sampleRate_.load() * StreamingThread::kPeriodWaitMs / 1000.0 / static_cast<double>(bufferSize_);
    stallLimit_ = stillPeriods > kMinStallLimit ? static_cast<uint32_t>(stillPeriods) : kMinStallLimit;
    for (const auto& s : streams_)
        if (s->isStreamingOpen())
        {
            s->clearRegisteredBuffers();
            // No buffer switch before the kernel driver's first period: no stale signal, no old index.
            s->markNotRunning();
            s->restartWatch();
        }
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
    callbacks->asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
}

// ---- the streaming thread's side -----------------------------------------------------------------------

bool AsioDriver::servePeriod()
{
    if (state_.load() != kStateRunning)
        return true;
    // A streamed unit whose periods stand still while the clock unit's go on may have been pulled out:
    // it is asked, and a unit that does not answer ends the stream before the host is called.
    for (const auto& s : streams_)
        if (s->isStreamingOpen() && s->stalled(stallLimit_) && !s->device()->answers())
        {
            unitLost_.store(true);
            return false;
        }
    if (positionBase_.load() == kNoPositionBase)
    {
        uint64_t count = 0;
        uint64_t stamp = 0;
        if (completedPeriods(count, stamp))
            positionBase_.store(count);
    }
    const uint32_t offset = static_cast<uint32_t>(currentHalf_.load()) * bufferSize_;
    for (const auto& s : streams_)
        if (s->isStreamingOpen())
            s->readInputs(offset);
    switchBuffers();
    return true;
}

bool AsioDriver::unitsPresent()
{
    if (state_.load() != kStateRunning)
        return true;
    for (const auto& s : streams_)
        if (s->isStreamingOpen() && !s->device()->answers())
        {
            unitLost_.store(true);
            return false;
        }
    return true;
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
