#pragma once

// The driver object's logic in plain C++: the interfaces of the maker presented as one device, the state
// machine, and the answers about channels, latencies, buffer size, sample rate and clock sources. The COM
// object (AsioVarnel) forwards every IASIO slot here and maps the Result to an ASIO error in one place.

#include "asio/Asio.h"
#include "asio/DeviceAccess.h"
#include "asio/DeviceStream.h"
#include "platform/Event.h"
#include "platform/Thread.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

namespace asiodrv
{

enum class Result
{
    Ok,
    NotPresent,
    HWMalfunction,
    InvalidParameter,
    NoClock,
    NoMemory
};

ASIOError toAsioError(Result result);

// One line to the debugger output: "<operation> failed with error <n>: <the system's text for n>", n being
// the calling thread's last error.
void logLastError(const char* operation);

// One channel of the merged input or output table.
struct ChannelEntry
{
    DeviceStream* stream = nullptr;
    int32_t channel = 0; // within the device
    int32_t active = 0;  // its buffers were created
};

enum DriverState : int32_t
{
    kStateLoaded = 0,
    kStateInitialised = 1,
    kStatePrepared = 2,
    kStateRunning = 3
};

class AsioDriver
{
public:
    // The current user's key of the driver's settings.
    static constexpr const char* kSettingsKey = "Software\\Varnel\\ASIO Strellis";
    static constexpr uint32_t kWriteSampleRate = 1;
    static constexpr uint32_t kWriteSwitches = 2;

    // Sample rates outside this range are refused before any conversion.
    static constexpr double kMinSampleRate = 1.0;
    static constexpr double kMaxSampleRate = 10000000.0;

    // The streaming thread's wait for a period, and the wait for that thread to end when it is stopped.
    static constexpr uint32_t kPeriodWaitMs = 100;
    static constexpr uint32_t kThreadStopWaitMs = 1000;

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
    int keptDeviceCount() const { return keptCount_; }
    DeviceStream* stream(int index) const
    {
        return index >= 0 && index < keptCount_ ? streams_[index] : nullptr;
    }
    int listedDeviceCount() const { return list_ != nullptr ? list_->count() : 0; }
    uint32_t bufferSize() const { return bufferSize_; }
    bool useMmcss() const { return useMmcss_.load() != 0; }
    bool lowerDwmPriority() const { return lowerDwm_.load() != 0; }
    bool timeInfoMode() const { return timeInfoMode_; }
    // Whether a streaming thread of this object still exists (it may be ending).
    bool hasStreamingThread() const { return thread_.isRunning() || retiring_.isRunning(); }

    // The owner's last release. Made on a streaming thread of this object (from inside a host callback),
    // the object is still in use below that callback: the thread serves no more periods, and once its
    // function has returned it calls destroy(owner) as its last act. False on any other thread: the
    // caller deletes the owner at once.
    bool deferDestruction(void (*destroy)(void* owner), void* owner);

    // The streaming thread's side: once per period, and the host's reset request.
    void switchBuffers();
    void sendResetRequest();

    // The settings under kSettingsKey.
    void readSettings();
    void writeSettings(uint32_t flags);

private:
    struct Priority; // what the streaming thread changed of its scheduling
    static void streamingThreadProc(void* driver);
    void streamingLoop();
    void raiseThreadPriority(Priority& priority);
    void restoreThreadPriority(Priority& priority);
    void servePeriod();
    void switchBuffersWithTimeInfo(ASIOCallbacks* callbacks, int32_t half);
    // Whether the calling streaming thread was replaced (streaming restarted from inside a callback) or
    // its object released: it then touches nothing more and ends.
    bool threadRetired(uint32_t generation) const;
    bool startThread();
    void stopThread();
    // The buffer size the kernel driver streams at, read again while no buffers are prepared.
    void refreshBufferSize();
    void releaseDevices();
    bool buildChannelTables();
    void setError(const char* text);
    Result failCreateBuffers(Result result);

    // The event of the first device whose streaming opened; the streaming thread waits on it.
    std::shared_ptr<platform::Event> streamingEvent_;
    DeviceList* list_ = nullptr;
    std::atomic<double> sampleRate_{48000.0};
    std::atomic<ASIOCallbacks*> callbacks_{nullptr};
    ASIOTime asioTime_{}; // written by the streaming thread while running
    // kSampleRateChanged and kClockSourceChanged waiting for the next time-info switch.
    std::atomic<uint32_t> pendingTimeFlags_{0};
    std::atomic<int32_t> state_{kStateLoaded};
    int keptCount_ = 0;
    DeviceStream** streams_ = nullptr;
    int32_t openStreams_ = 0;
    platform::Thread thread_;
    // A streaming thread replaced by a start from inside one of its own host callbacks: it ends once the
    // callback returns. The next start, stop or destructor on another thread joins it.
    platform::Thread retiring_;
    // Raised by every thread start; a thread whose number is no longer current was replaced.
    std::atomic<uint32_t> generation_{0};
    // Set by a release made on a streaming thread: that thread destroys the owner as it ends.
    std::atomic<std::thread::id> destroyingThread_{};
    void (*destroyOwner_)(void*) = nullptr; // written and read by that thread only
    void* owner_ = nullptr;
    std::atomic<bool> runFlag_{false};
    std::atomic<bool> resetPending_{false};
    std::atomic<uint32_t> useMmcss_{1};
    std::atomic<uint32_t> lowerDwm_{1};
    bool normalPriorityReported_ = false; // streaming thread only
    int32_t outputCount_ = 0;
    ChannelEntry* outputs_ = nullptr;
    int32_t inputCount_ = 0;
    ChannelEntry* inputs_ = nullptr;
    int32_t activeOutputCount_ = 0;
    ChannelEntry* activeOutputs_ = nullptr;
    int32_t activeInputCount_ = 0;
    ChannelEntry* activeInputs_ = nullptr;
    uint32_t bufferSize_ = 512;
    std::atomic<int32_t> currentHalf_{0};
    // The half last handed to the host, which outputReady copies; -1 before the first switch.
    std::atomic<int32_t> handedHalf_{-1};
    bool timeInfoMode_ = false;
    // The completed-buffer count extended past its 32-bit wrap.
    mutable std::atomic<uint64_t> completed_{0};
    bool settingsRead_ = false;
    bool rateSet_ = false;
    char errorText_[131] = {};
};

} // namespace asiodrv
