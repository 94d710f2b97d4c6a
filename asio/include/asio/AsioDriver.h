#pragma once

// The driver object's logic in plain C++: the interfaces of the maker presented as one device, the state
// machine, and the answers about channels, latencies, buffer size, sample rate and clock sources. The COM
// object (AsioVarnel) forwards every IASIO slot here and maps the Result to an ASIO error in one place.
//
// AsioDriver.cpp holds set-up, release and the answers; AsioBuffers.cpp the buffers and streaming
// control; the streaming thread is a StreamingThread and the registry settings a DriverSettings, each in
// a file of its own. The object owns what it builds: from init to release the device list, a streaming
// object per kept device and the channel tables; from createBuffers to disposeBuffers one PreparedBuffers
// (buffers, open streaming, active lists), so disposeBuffers is stop, join and reset. What the streaming
// thread reads across a host callback (state, callbacks, halves, the time-info record) stays here.

#include "asio/Asio.h"
#include "asio/DeviceAccess.h"
#include "asio/DeviceStream.h"
#include "asio/DriverSettings.h"
#include "asio/DriverTypes.h"
#include "asio/PreparedBuffers.h"
#include "asio/StreamingThread.h"
#include "platform/Event.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace asiodrv
{

enum DriverState : int32_t
{
    kStateLoaded = 0,
    kStateInitialised = 1,
    kStatePrepared = 2,
    kStateRunning = 3
};

class AsioDriver : private StreamingThread::Host
{
public:
    // Sample rates outside this range are refused before any conversion.
    static constexpr double kMinSampleRate = 1.0;
    static constexpr double kMaxSampleRate = 10000000.0;

    AsioDriver();
    // Stops and disposes whatever runs, releases the devices and stores the sample rate.
    ~AsioDriver();
    AsioDriver(const AsioDriver&) = delete;
    AsioDriver& operator=(const AsioDriver&) = delete;

    bool init();
    static const char* driverName() { return "ASIO Varnel 1394"; }
    static int32_t driverVersion() { return 1; }
    // Copies the error text into a host's message buffer of the given size.
    void errorMessage(char* text, size_t size) const;

    Result getChannels(int32_t* inputs, int32_t* outputs) const;
    Result getLatencies(int32_t* input, int32_t* output);
    Result getBufferSize(int32_t* minimum, int32_t* maximum, int32_t* preferred, int32_t* granularity);
    Result canSampleRate(double rate) const;
    Result getSampleRate(double* rate) const;
    Result setSampleRate(double rate);
    Result getClockSources(ASIOClockSource* clocks, int32_t* count);
    Result setClockSource(int32_t reference);
    Result getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) const;
    Result getChannelInfo(ASIOChannelInfo* info) const;
    Result createBuffers(ASIOBufferInfo* infos, int32_t count, int32_t bufferSize, ASIOCallbacks* callbacks);
    Result disposeBuffers();
    Result start();
    Result stop();
    Result controlPanel();
    Result outputReady();

    int32_t state() const { return state_.load(); }
    int keptDeviceCount() const { return static_cast<int>(streams_.size()); }
    DeviceStream* stream(int index) const
    {
        return index >= 0 && index < keptDeviceCount() ? streams_[index].get() : nullptr;
    }
    uint32_t bufferSize() const { return bufferSize_; }
    bool timeInfoMode() const { return prepared_ != nullptr && prepared_->timeInfoMode(); }

    // The owner's last release (see StreamingThread::deferDestruction): false when the caller deletes the
    // owner at once.
    bool deferDestruction(void (*destroy)(void* owner), void* owner)
    {
        return thread_.deferDestruction(destroy, owner);
    }

    // The streaming thread's side: once per period, and the host's reset request.
    void switchBuffers();
    void sendResetRequest();

private:
    // StreamingThread::Host
    std::shared_ptr<platform::Event> periodEvent() const override
    {
        return prepared_ != nullptr ? prepared_->streamingEvent() : nullptr;
    }
    bool servePeriod() override;
    bool unitsPresent() override;
    void threadStopped() override;
    void unitLost() override;
    bool useMmcss() const override { return settings_.useMmcss() != 0; }
    bool lowerDwmPriority() const override { return settings_.lowerDwm() != 0; }

    int32_t inputTotal() const { return static_cast<int32_t>(inputs_.size()); }
    int32_t outputTotal() const { return static_cast<int32_t>(outputs_.size()); }

    void switchBuffersWithTimeInfo(ASIOCallbacks* callbacks, int32_t half);
    // The first kept device's completed-period count, extended past its 32-bit wrap, and its capture time
    // stamp; false without a shared block.
    bool completedPeriods(uint64_t& count, uint64_t& stamp) const;
    // The buffer size the kernel driver streams at, read again while no buffers are prepared.
    void refreshBufferSize();
    void readSettings();
    void releaseDevices();
    bool buildChannelTables();
    void setError(const char* text);

    // Every record and the callbacks checked before anything changes.
    Result validateBuffers(const ASIOBufferInfo* infos, int32_t count, int32_t bufferSize,
                           ASIOCallbacks* callbacks, BufferRequest& request) const;

    std::unique_ptr<DeviceList> list_;
    std::atomic<double> sampleRate_{48000.0};
    std::atomic<ASIOCallbacks*> callbacks_{nullptr};
    ASIOTime asioTime_{}; // written by the streaming thread while running
    // kSampleRateChanged and kClockSourceChanged waiting for the next time-info switch.
    std::atomic<uint32_t> pendingTimeFlags_{0};
    std::atomic<int32_t> state_{kStateLoaded};
    // One streaming object per kept device, in list order.
    std::vector<std::unique_ptr<DeviceStream>> streams_;
    StreamingThread thread_{*this};
    std::atomic<bool> resetPending_{false};
    DriverSettings settings_;
    // The channel tables: ASIO channel n is entry n.
    std::vector<ChannelEntry> outputs_;
    std::vector<ChannelEntry> inputs_;
    // Between createBuffers and disposeBuffers; it uses the streaming objects and the tables above, so it
    // is declared after them and goes before them.
    std::unique_ptr<PreparedBuffers> prepared_;
    uint32_t bufferSize_ = 512;
    std::atomic<int32_t> currentHalf_{0};
    // The half last handed to the host, which outputReady copies; -1 before the first switch.
    std::atomic<int32_t> handedHalf_{-1};
    // The completed-buffer count extended past its 32-bit wrap.
    mutable std::atomic<uint64_t> completed_{0};
    // The extended count at the first period served since the last start, whose switch is at sample
    // position 0; kNoPositionBase until that period.
    static constexpr uint64_t kNoPositionBase = ~uint64_t{0};
    std::atomic<uint64_t> positionBase_{kNoPositionBase};
    // Periods of the clock unit that a streamed unit's count may stand still before it is asked whether it
    // is still there: about as long as a missed period waits (set at each start).
    static constexpr uint32_t kMinStallLimit = 4;
    uint32_t stallLimit_ = kMinStallLimit;
    // A unit the stream used was pulled out: its handle is dead for good, so this object streams no more.
    std::atomic<bool> unitLost_{false};
    bool rateSet_ = false;
    char errorText_[131] = {};
};

} // namespace asiodrv
