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
    // Also false for NaN.
    static bool plausibleRate(double rate) { return rate >= kMinSampleRate && rate <= kMaxSampleRate; }

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
    Result getSampleRate(double* rate);
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
    // The sample position and system time of the block last handed to the host (0 and 0 before the first
    // since the last start), written by the streaming thread and read by any thread as one pair.
    void publishPosition(uint64_t position, int64_t time);
    // The streaming thread's looks at the units it streams: one GetDriverInfo each, after a period served
    // once about half a second has passed since the last look, and at every wait that timed out. A unit
    // that does not answer is logged; it is lost once its interface is no longer listed or its looks
    // failed kLostAfterMissedLooks times in a row. A rate that changed is told to the host. False once a
    // unit is lost.
    enum class Look
    {
        Answered,
        Missed,
        Gone
    };
    Look lookAt(DeviceStream& s);
    bool lookAtUnits();
    void tellRateChange(uint32_t rate);
    // Every unit the records use runs the buffer size before its streaming opens: a unit at another size
    // is set, which the kernel driver refuses while another client streams on it (InvalidMode, with a
    // debug line naming the unit).
    Result matchBufferSizes(const ASIOBufferInfo* infos, int32_t count) const;
    // The buffer size the kernel driver streams at, read again while no buffers are prepared.
    void refreshBufferSize();
    // The rate the first kept unit runs, read again while not running (the streaming thread's looks
    // follow it while running).
    void refreshSampleRate();
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
    // The unit whose period event drives the switches (from start on), its completed count last served
    // (at start: the count before it started) and the periods since start up to that count, past the
    // count's 32-bit wrap. A signal that finds the count served brings no switch.
    std::atomic<DeviceStream*> clock_{nullptr};
    std::atomic<uint32_t> servedCount_{0};
    std::atomic<uint64_t> servedPeriods_{0};
    // The pair publishPosition writes: odd sequence numbers while it writes.
    std::atomic<uint32_t> positionSequence_{0};
    std::atomic<uint64_t> position_{0};
    std::atomic<int64_t> positionTime_{0};
    // Periods of the clock unit that a streamed unit's count may stand still before it is asked whether it
    // is still there: about as long as a missed period waits (set at each start).
    static constexpr uint32_t kMinStallLimit = 4;
    uint32_t stallLimit_ = kMinStallLimit;
    // The looks: lost after this many without an answer in a row; the next look due after a period (in
    // performance-counter ticks) and the time between two (set at each start).
    static constexpr uint32_t kLostAfterMissedLooks = 3;
    std::atomic<int64_t> nextLook_{0};
    int64_t lookInterval_ = 0;
    // A unit the stream used was pulled out: its handle is dead for good, so this object streams no more.
    std::atomic<bool> unitLost_{false};
    bool rateSet_ = false;
    char errorText_[131] = {};
};

} // namespace asiodrv
