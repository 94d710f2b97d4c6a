#pragma once

// A host for the streaming tests: plain callbacks (ASIO hosts have no context pointer) that record what
// the driver hands them, with waits for a number of buffer switches.

#include "AsioTestSupport.h"
#include "WaitUntil.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace asiotest
{

class StreamingHost
{
public:
    static constexpr int kMaxSwitches = 512;
    static constexpr int kMaxChannels = 8;

    struct Switch
    {
        int32_t half;
        uint32_t flags;    // time-info mode
        uint64_t position; // time-info mode
        uint64_t time;     // time-info mode: the system time
        uint64_t asked;    // getSamplePosition in the switch
        std::thread::id thread;
    };

    StreamingHost() { current() = this; }
    ~StreamingHost() { current() = nullptr; }
    StreamingHost(const StreamingHost&) = delete;
    StreamingHost& operator=(const StreamingHost&) = delete;

    // What the host does in each switch.
    bool timeInfo = false;
    bool resetSupported = true; // the answer to kAsioSelectorSupported for kAsioResetRequest
    bool outputReadyInside = true;
    asiodrv::IASIO* driver = nullptr;
    uint32_t bufferSize = 0;
    // Buffers the host registered (from createBuffers), by position in its record array.
    std::vector<asiodrv::ASIOBufferInfo> infos;
    // Output sample k of period n of output record r: outputValue(r, n, k); 0 leaves outputs as they are.
    uint32_t (*outputValue)(int record, int period, uint32_t frame) = nullptr;
    // Called at the end of switch n, and in the reset request before it is counted (on the calling thread).
    void (*afterSwitch)(StreamingHost& host, int n) = nullptr;
    void (*onReset)(StreamingHost& host) = nullptr;

    asiodrv::ASIOCallbacks callbacks{&onSwitch, &onRateChange, &onMessage, &onSwitchTimeInfo};

    int switches() const { return switchCount_.load(); }
    // Called by the test before each step of the period clock. The step reaches the driver's clock
    // through the unit's state file, which the driver's own copy of the simulator maps at another
    // address: ThreadSanitizer cannot see that order, so the switches take it from here as well.
    void stepping() { steps_.fetch_add(1, std::memory_order_release); }
    const Switch& at(int i) const { return log_[static_cast<size_t>(i)]; }
    // Input samples of record r seen in switch n (the half's content at the time of the switch).
    const std::vector<int32_t>& inputsSeen(int record, int n) const
    {
        return inputs_[static_cast<size_t>(n)][static_cast<size_t>(record)];
    }
    int resetRequests() const { return resets_.load(); }
    std::thread::id resetThread() const { return resetThread_; }
    // sampleRateDidChange: the calls, and the rate of the last.
    int rateChanges() const { return rateChanges_.load(); }
    double lastRate() const { return lastRate_.load(); }

    bool waitForSwitches(int n, int timeoutMs = testsupport::kHangMs)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return switchCount_.load() >= n; });
    }
    bool waitForResets(int n, int timeoutMs = testsupport::kHangMs)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return resets_.load() >= n; });
    }
    bool waitForRateChanges(int n)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(testsupport::kHangMs),
                            [&] { return rateChanges_.load() >= n; });
    }

    // Sizes the recording for the records given (call after createBuffers).
    void prepare(const std::vector<asiodrv::ASIOBufferInfo>& records, uint32_t size)
    {
        infos = records;
        bufferSize = size;
        log_.assign(kMaxSwitches, Switch{});
        inputs_.assign(kMaxSwitches, std::vector<std::vector<int32_t>>(records.size()));
    }

private:
    static StreamingHost*& current()
    {
        static StreamingHost* host = nullptr;
        return host;
    }

    void record(int32_t half, uint32_t flags, uint64_t position, uint64_t time)
    {
        steps_.load(std::memory_order_acquire);
        const int n = switchCount_.load();
        if (n < kMaxSwitches)
        {
            asiodrv::ASIOSamples asked{};
            asiodrv::ASIOTimeStamp stamp{};
            if (driver != nullptr)
                driver->getSamplePosition(&asked, &stamp);
            log_[static_cast<size_t>(n)] = Switch{
                half, flags, position, time, uint64_t{asked.hi} << 32 | asked.lo, std::this_thread::get_id()};
            for (size_t r = 0; r < infos.size(); ++r)
            {
                const auto* buffer = static_cast<const int32_t*>(infos[r].buffers[half]);
                if (infos[r].isInput && buffer != nullptr)
                    inputs_[static_cast<size_t>(n)][r].assign(buffer, buffer + bufferSize);
                if (!infos[r].isInput && buffer != nullptr && outputValue != nullptr)
                {
                    auto* out = static_cast<int32_t*>(infos[r].buffers[half]);
                    for (uint32_t k = 0; k < bufferSize; ++k)
                        out[k] = static_cast<int32_t>(outputValue(static_cast<int>(r), n, k));
                }
            }
        }
        if (outputReadyInside && driver != nullptr)
            driver->outputReady();
        if (afterSwitch != nullptr)
            afterSwitch(*this, n);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            switchCount_.store(n + 1);
        }
        cv_.notify_all();
    }

    static void onSwitch(int32_t half, asiodrv::ASIOBool)
    {
        if (StreamingHost* h = current())
            h->record(half, 0, 0, 0);
    }
    static void onRateChange(asiodrv::ASIOSampleRate rate)
    {
        StreamingHost* h = current();
        if (h == nullptr)
            return;
        {
            std::lock_guard<std::mutex> lock(h->mutex_);
            h->lastRate_.store(rate);
            h->rateChanges_.fetch_add(1);
        }
        h->cv_.notify_all();
    }
    static int32_t onMessage(int32_t selector, int32_t value, void*, double*)
    {
        StreamingHost* h = current();
        if (h == nullptr)
            return 0;
        if (selector == asiodrv::kAsioSelectorSupported)
            return (value == asiodrv::kAsioResetRequest && h->resetSupported) ||
                           value == asiodrv::kAsioSupportsTimeInfo
                       ? 1
                       : 0;
        if (selector == asiodrv::kAsioSupportsTimeInfo)
            return h->timeInfo ? 1 : 0;
        if (selector == asiodrv::kAsioResetRequest)
        {
            if (h->onReset != nullptr)
                h->onReset(*h);
            {
                std::lock_guard<std::mutex> lock(h->mutex_);
                h->resetThread_ = std::this_thread::get_id();
                h->resets_.fetch_add(1);
            }
            h->cv_.notify_all();
            return 1;
        }
        return 0;
    }
    static asiodrv::ASIOTime* onSwitchTimeInfo(asiodrv::ASIOTime* time, int32_t half, asiodrv::ASIOBool)
    {
        if (StreamingHost* h = current())
        {
            const auto& p = time->timeInfo.samplePosition;
            const auto& t = time->timeInfo.systemTime;
            h->record(half, time->timeInfo.flags, uint64_t{p.hi} << 32 | p.lo, uint64_t{t.hi} << 32 | t.lo);
        }
        return time;
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::atomic<int> switchCount_{0};
    std::atomic<int> resets_{0};
    std::atomic<int> rateChanges_{0};
    std::atomic<double> lastRate_{0.0};
    std::atomic<int> steps_{0};
    std::thread::id resetThread_; // guarded by mutex_
    std::vector<Switch> log_;
    std::vector<std::vector<std::vector<int32_t>>> inputs_;
};

} // namespace asiotest
