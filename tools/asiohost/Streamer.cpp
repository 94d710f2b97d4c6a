#include "Streamer.h"

#include "asio/ChannelNames.h"
#include "formats/Wire.h"
#include "platform/DeviceInterfaces.h"
#include "platform/PerformanceCounter.h"
#include "sim/PeriodLog.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
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
    std::vector<int64_t> signals;      // the driver's system time of the switch (0: none)
    std::vector<int64_t> callbackEnds; // the host's work done, before outputReady
    std::vector<int64_t> outputEnds;   // outputReady returned
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
    s.signals[static_cast<size_t>(n)] = static_cast<int64_t>(stamp);

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
    s.callbackEnds[static_cast<size_t>(n)] = platform::queryPerformanceCounter();
    if (s.options.outputReady == OutputReady::Inside)
        s.driver->outputReady();
    s.outputEnds[static_cast<size_t>(n)] = platform::queryPerformanceCounter();
    s.count.store(n + 1);
    // Only a host that sends its output from the main thread wakes it: otherwise a switch takes no lock
    // and makes no system call of its own.
    if (s.options.outputReady == OutputReady::After)
    {
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.handed++;
            s.lastHalf = half;
        }
        s.cv.notify_all();
    }
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
        // The main thread ends its wait for the switches: the stream as it was set up is over.
        if (session != nullptr)
        {
            {
                std::lock_guard<std::mutex> lock(session->mutex);
                session->resets.fetch_add(1);
            }
            session->cv.notify_all();
        }
        return 1;
    default:
        return 0;
    }
}

// The interfaces of the driver's class present now; false when the enumeration failed.
bool presentInterfaces(std::vector<std::string>& paths)
{
    const platform::DeviceInterfaceSet set(formats::kDeviceInterfaceClass);
    paths.clear();
    for (size_t i = 0; i < set.size(); ++i)
        paths.push_back(set.path(i));
    return set.isValid();
}

// One of the interfaces watched that is gone now; empty when none is gone (or the enumeration failed:
// nothing is known then).
std::string goneInterface(const std::vector<std::string>& watched)
{
    std::vector<std::string> now;
    if (presentInterfaces(now))
        for (const std::string& path : watched)
            if (std::find(now.begin(), now.end(), path) == now.end())
                return path;
    return {};
}

// The interfaces present at the start that the stream uses: the driver's units (of its vendor) that have
// a channel whose whole name, as the driver gives it (ChannelNames.h), is one the stream names. Units of
// the same name and channels are watched together; when no unit matches, every interface is watched.
std::vector<std::string> streamedInterfaces(IASIO& driver, const StreamOptions& options,
                                            const std::vector<std::string>& present)
{
    std::vector<std::pair<bool, std::string>> channels; // direction, name
    for (const bool isInput : {true, false})
        for (int32_t c : isInput ? options.inputs : options.outputs)
        {
            ASIOChannelInfo info{};
            info.channel = c;
            info.isInput = isInput ? ASIOTrue : ASIOFalse;
            if (driver.getChannelInfo(&info) == ASE_OK)
                channels.emplace_back(isInput, std::string(info.name, strnlen(info.name, sizeof info.name)));
        }
    struct Unit
    {
        std::string path;
        HwInfoCaps caps{};
        char name[kUnitNameBytes] = {};
    };
    std::vector<Unit> units;
    for (const std::string& path : present)
    {
        Unit unit{path};
        if (readUnitValues(path, unit.caps, unit.name) && unit.caps.getVendorId() == kVendorId)
            units.push_back(unit);
    }
    const bool withUnit = units.size() >= 2;
    std::vector<std::string> streamed;
    for (const Unit& unit : units)
    {
        ChannelMaps maps;
        maps.build(unit.caps);
        const auto named = [&](const std::pair<bool, std::string>& wanted)
        {
            char name[sizeof(ASIOChannelInfo::name)];
            for (int c = 0; c < unitChannels(unit.caps, wanted.first); ++c)
            {
                channelName(maps, unit.name, withUnit, wanted.first, c, name, sizeof name);
                if (wanted.second == name)
                    return true;
            }
            return false;
        };
        if (std::any_of(channels.begin(), channels.end(), named))
            streamed.push_back(unit.path);
    }
    return streamed.empty() ? present : streamed;
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

// "<label> us p50 <a> p99 <b> max <c>", nothing for no values.
void appendSpread(std::string& out, const char* label, const std::vector<double>& values)
{
    if (values.empty())
        return;
    char line[200];
    std::snprintf(line, sizeof line, "%s us p50 %.1f p99 %.1f max %.1f\n", label, percentile(values, 0.5),
                  percentile(values, 0.99), *std::max_element(values.begin(), values.end()));
    out += line;
}

std::vector<sim::PeriodRecord> readPeriodLog(const std::string& file)
{
    std::vector<sim::PeriodRecord> records;
    std::ifstream in(file, std::ios::binary);
    sim::PeriodRecord r{};
    while (in.read(reinterpret_cast<char*>(&r), sizeof r))
        records.push_back(r);
    return records;
}

// Where each period's time went, from the period clock's log and the switches: the clock's lateness
// (deadline to tick; of it, the wake-up alone in the periods that began with the clock idle) and its tick (up
// to the signal, and the rest: setting the event), the signal to the streaming thread's stamp before its
// input copy, that stamp to the switch (the input copy), the host's callback and its outputReady (the output
// copy).
void appendBreakdown(std::string& out, const Session& s, int done, const std::string& logFile)
{
    const std::vector<sim::PeriodRecord> log = readPeriodLog(logFile);
    if (log.empty())
    {
        out += "breakdown: no period log in " + logFile + "\n";
        return;
    }
    const double usPerTick = 1e6 / static_cast<double>(platform::queryPerformanceFrequency());
    std::vector<double> lateness, wakeUp, tick, setting, wake, input, callback, output;
    int64_t lastEnd = 0;
    for (const sim::PeriodRecord& r : log)
    {
        lateness.push_back(static_cast<double>(r.tickStart - r.deadline) * usPerTick);
        // The timer's own wake-up, what cyclictest measures: only where the tick before had ended by the
        // deadline, so a stall carried over from the period before is not counted again.
        if (lastEnd != 0 && lastEnd <= r.deadline)
            wakeUp.push_back(static_cast<double>(r.tickStart - r.deadline) * usPerTick);
        lastEnd = r.tickEnd;
        tick.push_back(static_cast<double>(r.signal - r.tickStart) * usPerTick);
        setting.push_back(static_cast<double>(r.tickEnd - r.signal) * usPerTick);
        if (r.beforeInput >= r.signal)
            wake.push_back(static_cast<double>(r.beforeInput - r.signal) * usPerTick);
    }
    for (int i = 0; i < done; ++i)
    {
        const auto n = static_cast<size_t>(i);
        callback.push_back(static_cast<double>(s.callbackEnds[n] - s.switchTimes[n]) * usPerTick);
        output.push_back(static_cast<double>(s.outputEnds[n] - s.callbackEnds[n]) * usPerTick);
        // The period of the switch: the one whose signal is the switch's system time.
        const auto at = std::lower_bound(log.begin(), log.end(), s.signals[n],
                                         [](const sim::PeriodRecord& r, int64_t t) { return r.signal < t; });
        if (at != log.end() && at->signal == s.signals[n] && at->beforeInput >= at->signal &&
            at->beforeInput <= s.switchTimes[n])
            input.push_back(static_cast<double>(s.switchTimes[n] - at->beforeInput) * usPerTick);
    }
    appendSpread(out, "breakdown clock lateness", lateness);
    appendSpread(out, "breakdown  of it the timer's wake-up", wakeUp);
    appendSpread(out, "breakdown tick up to the signal", tick);
    appendSpread(out, "breakdown tick from the signal on", setting);
    appendSpread(out, "breakdown signal to wake-up", wake);
    appendSpread(out, "breakdown input copy", input);
    appendSpread(out, "breakdown callback", callback);
    appendSpread(out, "breakdown output copy", output);
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
    s.signals.assign(switches, 0);
    s.callbackEnds.assign(switches, 0);
    s.outputEnds.assign(switches, 0);
    if (!options.recordFile.empty())
        s.recorded.assign(switches * s.bufferSize * options.inputs.size(), 0);
    if (!options.playFile.empty())
    {
        s.playback = readRaw(options.playFile, error);
        if (!error.empty())
            return 1;
    }

    // The interfaces to watch, taken before streaming starts: a unit may go as soon as it streams.
    std::vector<std::string> atStart;
    presentInterfaces(atStart);
    const std::vector<std::string> watched = streamedInterfaces(driver, options, atStart);

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
    // A reset request from here on ends the run (one the panel caused is answered by the start).
    const int resetsBefore = s.resets.load();
    r = driver.start();
    if (r != ASE_OK)
    {
        error = "start failed: " + std::to_string(r);
        driver.disposeBuffers();
        session = nullptr;
        return 1;
    }

    // Serve until the switches are done, the driver asks for a reset (as it does when a unit it streams
    // from is pulled out), or the switches stay away for 2 s. A driver that tells nothing of a unit pulled
    // out still stops its switches: while they stay away, the host looks every 200 ms whether an interface
    // the stream uses is gone. Interfaces the stream does not use may come and go.
    const auto resetRequested = [&] { return s.resets.load() > resetsBefore; };
    std::string removed;
    using Clock = std::chrono::steady_clock;
    constexpr auto kLookEvery = std::chrono::milliseconds(200);
    constexpr auto kSilence = std::chrono::seconds(2);
    int done = 0;
    if (options.outputReady != OutputReady::After)
    {
        // The main thread looks at the count now and then.
        int seen = s.count.load();
        auto lastChange = Clock::now();
        auto lastLook = lastChange;
        while (seen < options.switches && !resetRequested())
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const int now = s.count.load();
            const auto t = Clock::now();
            if (now != seen)
            {
                seen = now;
                lastChange = lastLook = t;
                continue;
            }
            if (t - lastLook >= kLookEvery)
            {
                lastLook = t;
                removed = goneInterface(watched);
                if (!removed.empty())
                    break;
            }
            if (t - lastChange > kSilence)
                break;
        }
        done = s.count.load();
    }
    else
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        auto lastChange = Clock::now();
        while (s.count.load() < options.switches && !resetRequested())
        {
            const int before = s.count.load();
            s.cv.wait_for(lock, kLookEvery,
                          [&] { return s.handed > 0 || s.count.load() != before || resetRequested(); });
            if (s.handed > 0 && options.outputReady == OutputReady::After)
            {
                s.handed = 0;
                lock.unlock();
                driver.outputReady();
                lock.lock();
            }
            s.handed = 0;
            if (s.count.load() != before || resetRequested())
            {
                lastChange = Clock::now();
                continue;
            }
            // The enumeration runs without the lock, which the switches take.
            lock.unlock();
            removed = goneInterface(watched);
            lock.lock();
            if (!removed.empty() || Clock::now() - lastChange > kSilence)
                break;
        }
        done = s.count.load();
    }
    if (removed.empty() && resetRequested())
        removed = goneInterface(watched);
    driver.stop();
    driver.disposeBuffers();
    session = nullptr;

    // The periods up to the last switch served (the first is at position 0): the ones after it belong to
    // stopping.
    const uint64_t periods = s.bufferSize != 0 && done > 0 ? s.lastPosition.load() / s.bufferSize + 1 : 0;
    const double msPerTick = 1000.0 / static_cast<double>(platform::queryPerformanceFrequency());
    std::vector<double> intervals;
    for (int i = 1; i < done; ++i)
        intervals.push_back(static_cast<double>(s.switchTimes[static_cast<size_t>(i)] -
                                                s.switchTimes[static_cast<size_t>(i - 1)]) *
                            msPerTick);
    std::vector<double> wakeUps;
    for (int i = 0; i < done; ++i)
        if (s.signals[static_cast<size_t>(i)] != 0)
            wakeUps.push_back(static_cast<double>(s.switchTimes[static_cast<size_t>(i)] -
                                                  s.signals[static_cast<size_t>(i)]) *
                              msPerTick);
    // Jitter: how far each interval is from the period.
    ASIOSampleRate rate = 0;
    driver.getSampleRate(&rate);
    const double periodMs = rate > 0 ? 1000.0 * s.bufferSize / rate : 0;
    std::vector<double> jitter;
    for (double interval : intervals)
        jitter.push_back(std::abs(interval - periodMs) * 1000.0);

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
    appendSpread(out, "switch jitter", jitter);
    if (!options.periodLog.empty())
        appendBreakdown(out, s, done, options.periodLog);
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
    if (!removed.empty())
    {
        error = "the interface " + removed + " was unplugged while streaming, after " + std::to_string(done) +
                " of " + std::to_string(options.switches) + " buffer switches";
        return 1;
    }
    return 0;
}

} // namespace asiohost
