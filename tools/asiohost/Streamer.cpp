#include "Streamer.h"

#include "platform/PerformanceCounter.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

namespace asiohost
{
namespace
{

using namespace asiodrv;

// ASIO callbacks carry no context: the one stream of the process.
struct Session
{
    IASIO* driver = nullptr;
    StreamOptions options;
    std::vector<ASIOBufferInfo> infos;
    uint32_t bufferSize = 0;
    int32_t inputCount = 0;

    // Filled by the buffer switches, sized before the start: nothing is allocated while streaming.
    std::vector<int64_t> switchTimes;
    std::vector<int64_t> wakeUps; // signal (the driver's system time) to the switch
    std::vector<int32_t> recorded;
    std::vector<int32_t> playback;
    std::atomic<int> count{0};
    std::atomic<uint64_t> lastPosition{0}; // sample position at the latest switch
    std::atomic<int> resets{0};

    std::mutex mutex;
    std::condition_variable cv;
    int handed = 0;       // guarded by mutex: switches whose output the main thread is to send
    int32_t lastHalf = 0; // guarded by mutex
};

Session* session = nullptr;

void serve(int32_t half, const ASIOTime* time)
{
    Session& s = *session;
    const int64_t now = platform::queryPerformanceCounter();
    const int n = s.count.load();
    if (n >= s.options.switches)
        return;
    s.switchTimes[static_cast<size_t>(n)] = now;
    ASIOSamples position{};
    ASIOTimeStamp systemTime{};
    if (time != nullptr)
    {
        position = time->timeInfo.samplePosition;
        systemTime = time->timeInfo.systemTime;
    }
    else
        s.driver->getSamplePosition(&position, &systemTime);
    const uint64_t stamp = uint64_t{systemTime.hi} << 32 | systemTime.lo;
    s.lastPosition.store(uint64_t{position.hi} << 32 | position.lo);
    s.wakeUps[static_cast<size_t>(n)] = stamp != 0 ? now - static_cast<int64_t>(stamp) : -1;

    const size_t frames = s.bufferSize;
    int32_t channel = 0;
    int32_t outChannel = 0;
    const size_t outputs = s.options.outputs.size();
    for (const ASIOBufferInfo& info : s.infos)
    {
        const auto* buffer = static_cast<int32_t*>(info.buffers[half]);
        if (info.isInput)
        {
            if (!s.recorded.empty())
                for (size_t k = 0; k < frames; ++k)
                    s.recorded[(static_cast<size_t>(n) * frames + k) * static_cast<size_t>(s.inputCount) +
                               static_cast<size_t>(channel)] = buffer[k];
            ++channel;
        }
        else
        {
            auto* out = static_cast<int32_t*>(info.buffers[half]);
            for (size_t k = 0; k < frames; ++k)
            {
                const size_t at =
                    (static_cast<size_t>(n) * frames + k) * outputs + static_cast<size_t>(outChannel);
                out[k] = at < s.playback.size() ? s.playback[at] : 0;
            }
            ++outChannel;
        }
    }
    if (s.options.delayUs > 0)
    {
        const int64_t until = now + static_cast<int64_t>(platform::queryPerformanceFrequency() / 1000000) *
                                        static_cast<int64_t>(s.options.delayUs);
        while (platform::queryPerformanceCounter() < until)
        {
        }
    }
    if (s.options.outputReady == OutputReady::Inside)
        s.driver->outputReady();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.count.store(n + 1);
        s.handed++;
        s.lastHalf = half;
    }
    s.cv.notify_all();
}

void onSwitch(int32_t half, ASIOBool)
{
    serve(half, nullptr);
}

ASIOTime* onSwitchTimeInfo(ASIOTime* time, int32_t half, ASIOBool)
{
    serve(half, time);
    return time;
}

void onRateChange(ASIOSampleRate) {}

int32_t onMessage(int32_t selector, int32_t value, void*, double*)
{
    switch (selector)
    {
    case kAsioSelectorSupported:
        return value == kAsioResetRequest || value == kAsioSupportsTimeInfo ? 1 : 0;
    case kAsioSupportsTimeInfo:
        return session != nullptr && session->options.timeInfo ? 1 : 0;
    case kAsioResetRequest:
        if (session != nullptr)
            session->resets.fetch_add(1);
        return 1;
    default:
        return 0;
    }
}

std::vector<int32_t> readRaw(const std::string& file, std::string& error)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
    {
        error = "cannot read " + file;
        return {};
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int32_t> samples(bytes.size() / 4);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            static_cast<int32_t>(static_cast<uint8_t>(bytes[4 * i]) |
                                 static_cast<uint32_t>(static_cast<uint8_t>(bytes[4 * i + 1])) << 8 |
                                 static_cast<uint32_t>(static_cast<uint8_t>(bytes[4 * i + 2])) << 16 |
                                 static_cast<uint32_t>(static_cast<uint8_t>(bytes[4 * i + 3])) << 24);
    return samples;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t at = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

void appendLine(std::string& out, const char* format, double a, double b, double c, double d)
{
    char line[200];
    std::snprintf(line, sizeof line, format, a, b, c, d);
    out += line;
}

} // namespace

int runStream(IASIO& driver, const StreamOptions& options, std::string& out, std::string& error)
{
    Session s;
    s.driver = &driver;
    s.options = options;
    session = &s;
    int32_t minimum = 0, maximum = 0, preferred = 0, granularity = 0;
    driver.getBufferSize(&minimum, &maximum, &preferred, &granularity);
    s.bufferSize = static_cast<uint32_t>(preferred);
    for (int32_t c : options.inputs)
        s.infos.push_back(ASIOBufferInfo{ASIOTrue, c, {nullptr, nullptr}});
    for (int32_t c : options.outputs)
        s.infos.push_back(ASIOBufferInfo{ASIOFalse, c, {nullptr, nullptr}});
    s.inputCount = static_cast<int32_t>(options.inputs.size());
    ASIOCallbacks callbacks{&onSwitch, &onRateChange, &onMessage, &onSwitchTimeInfo};
    const auto switches = static_cast<size_t>(options.switches);
    s.switchTimes.assign(switches, 0);
    s.wakeUps.assign(switches, -1);
    if (!options.recordFile.empty())
        s.recorded.assign(switches * s.bufferSize * options.inputs.size(), 0);
    if (!options.playFile.empty())
    {
        s.playback = readRaw(options.playFile, error);
        if (!error.empty())
            return 1;
    }

    ASIOError r =
        driver.createBuffers(s.infos.data(), static_cast<int32_t>(s.infos.size()), preferred, &callbacks);
    if (r != ASE_OK)
    {
        error = "createBuffers failed: " + std::to_string(r);
        session = nullptr;
        return 1;
    }
    if (options.controlPanel)
        driver.controlPanel();
    r = driver.start();
    if (r != ASE_OK)
    {
        error = "start failed: " + std::to_string(r);
        driver.disposeBuffers();
        session = nullptr;
        return 1;
    }

    // Serve until the switches are done; a stream that stops coming ends after 2 s of silence.
    int done = 0;
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        while (s.count.load() < options.switches)
        {
            const int before = s.count.load();
            s.cv.wait_for(lock, std::chrono::seconds(2),
                          [&] { return s.handed > 0 || s.count.load() != before; });
            if (s.handed > 0 && options.outputReady == OutputReady::After)
            {
                s.handed = 0;
                lock.unlock();
                driver.outputReady();
                lock.lock();
            }
            s.handed = 0;
            if (s.count.load() == before)
                break;
        }
        done = s.count.load();
    }
    driver.stop();
    driver.disposeBuffers();
    session = nullptr;

    // The periods up to the last switch served: the ones after it belong to stopping.
    const uint64_t periods = s.bufferSize != 0 ? s.lastPosition.load() / s.bufferSize : 0;
    const double msPerTick = 1000.0 / static_cast<double>(platform::queryPerformanceFrequency());
    std::vector<double> intervals;
    for (int i = 1; i < done; ++i)
        intervals.push_back(static_cast<double>(s.switchTimes[static_cast<size_t>(i)] -
                                                s.switchTimes[static_cast<size_t>(i - 1)]) *
                            msPerTick);
    std::vector<double> wakeUps;
    for (int i = 0; i < done; ++i)
        if (s.wakeUps[static_cast<size_t>(i)] >= 0)
            wakeUps.push_back(static_cast<double>(s.wakeUps[static_cast<size_t>(i)]) * msPerTick);

    out += "periods " + std::to_string(periods) + "\n";
    out += "buffer switches " + std::to_string(done) + "\n";
    out +=
        "missed periods " + std::to_string(periods > static_cast<uint64_t>(done) ? periods - done : 0) + "\n";
    if (!intervals.empty())
        appendLine(out, "switch interval ms min %.3f median %.3f p99 %.3f max %.3f\n",
                   *std::min_element(intervals.begin(), intervals.end()), percentile(intervals, 0.5),
                   percentile(intervals, 0.99), *std::max_element(intervals.begin(), intervals.end()));
    if (!wakeUps.empty())
        appendLine(out, "signal to switch ms min %.3f median %.3f p99 %.3f max %.3f\n",
                   *std::min_element(wakeUps.begin(), wakeUps.end()), percentile(wakeUps, 0.5),
                   percentile(wakeUps, 0.99), *std::max_element(wakeUps.begin(), wakeUps.end()));
    if (s.resets.load() > 0)
        out += "reset requests " + std::to_string(s.resets.load()) + "\n";

    if (!options.recordFile.empty())
    {
        std::ofstream file(options.recordFile, std::ios::binary | std::ios::trunc);
        const size_t samplesRecorded = static_cast<size_t>(done) * s.bufferSize * options.inputs.size();
        for (size_t i = 0; i < samplesRecorded; ++i)
        {
            const auto v = static_cast<uint32_t>(s.recorded[i]);
            const char bytes[4] = {static_cast<char>(v), static_cast<char>(v >> 8),
                                   static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
            file.write(bytes, 4);
        }
        if (!file)
        {
            error = "cannot write " + options.recordFile;
            return 1;
        }
    }
    return 0;
}

} // namespace asiohost
