#pragma once

// Helpers of the console tests: hand-built DAT files and capability records, the simulator's trace of
// the test, the device of a plugged unit, a message loop for the GUI tests, and a flash progress view
// that only records.

#include "TempBus.h"
#include "console/FlashProgress.h"
#include "device/HwInfoCaps.h"
#include "device/Vhw.h"
#include "platform/DeviceInterfaces.h"

#include "GuiTest.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace consoletest
{

using testsupport::haveDisplay;

// Runs the message loop until done() holds or timeoutMs passes; returns done().
template <typename Done> bool pumpUntil(Done done, int timeoutMs = 10000)
{
    const auto end = juce::Time::getMillisecondCounter() + uint32_t(timeoutMs);
    while (!done() && juce::Time::getMillisecondCounter() < end)
        juce::MessageManager::getInstance()->runDispatchLoopUntil(5);
    return done();
}

// --- flash progress ---
// What a RecordingFlashProgress was shown; it outlives the view (which its operation deletes).
struct FlashProgressLog
{
    std::vector<std::string> statuses() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return statusList;
    }
    bool showed(const std::string& status) const
    {
        const auto all = statuses();
        return std::find(all.begin(), all.end(), status) != all.end();
    }

    mutable std::mutex mutex;
    std::vector<std::string> statusList; // guarded by mutex
    std::atomic<float> progress{0.0f};   // the last value offered
    std::atomic<bool> finished{false};
};

// A view without a window: it records the statuses and progress, and runs the message loop until its
// operation has finished.
class RecordingFlashProgress : public console::FlashProgress
{
public:
    explicit RecordingFlashProgress(std::shared_ptr<FlashProgressLog> log) : log_(std::move(log))
    {
        log_->finished.store(false);
    }

    void setTitle(const juce::String&) override {}
    void setStatus(const juce::String& text) override
    {
        std::lock_guard<std::mutex> lock(log_->mutex);
        log_->statusList.push_back(text.toStdString());
    }
    void setDescription(const juce::String&) override {}
    void setMinimumStep(float) override {}
    void setProgress(float value) override { log_->progress.store(value); }
    void resetProgress() override { log_->progress.store(0.0f); }
    void signalFinished() override { log_->finished.store(true); }
    void runUntilFinished() override
    {
        pumpUntil([this] { return log_->finished.load(); }, 60000);
    }

private:
    std::shared_ptr<FlashProgressLog> log_;
};

// --- DAT files ---
struct DatHeader
{
    uint32_t type = 1;
    uint32_t address = 0x180000;
    uint32_t quadCount = 0;
    uint32_t trailer = 0;
    uint32_t version = 0x04080000;
    uint32_t trailerFlag = 0;
    uint32_t regionSize = 0;
};

inline std::vector<uint32_t> headerQuads(const DatHeader& h)
{
    std::vector<uint32_t> q(64, 0);
    q[0] = h.type;
    q[1] = h.address;
    q[2] = h.quadCount;
    q[3] = h.trailer;
    q[5] = h.version;
    q[6] = h.trailerFlag;
    q[7] = h.regionSize;
    return q;
}

// Data quadlets that differ from each other and from erased flash.
inline std::vector<uint32_t> patternData(uint32_t count, uint32_t seed = 0x1234)
{
    std::vector<uint32_t> data(count);
    for (uint32_t i = 0; i < count; ++i)
        data[i] = (i * 0x9E3779B1u) ^ seed;
    return data;
}

// "1651 1 0 0 0", then the header and the data, eight quadlets a line.
inline std::string makeDat(const std::vector<uint32_t>& header, const std::vector<uint32_t>& data,
                           bool finalLineEnd = true)
{
    std::string text = "1651 1 0 0 0\r\n";
    int column = 0;
    char word[16];
    auto put = [&](uint32_t q)
    {
        std::snprintf(word, sizeof word, "%08x", q);
        if (column != 0)
            text += ' ';
        text += word;
        if (++column == 8)
        {
            text += "\r\n";
            column = 0;
        }
    };
    for (uint32_t q : header)
        put(q);
    for (uint32_t q : data)
        put(q);
    if (column != 0)
        text += "\r\n";
    if (!finalLineEnd)
        text.resize(text.size() - 2);
    return text;
}

inline void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

// --- capability records ---
// A record of the given identity and firmware, with 8 analog inputs and the given number of analog
// outputs, as a file for "devsim plug --caps".
inline std::string writeCapsFile(const std::string& dir, uint32_t vendor, uint32_t model, uint32_t dsp,
                                 uint32_t arm, bool noFlashLock, uint8_t outputs = 8)
{
    device::HwInfoCaps caps{};
    caps.flags = noFlashLock ? device::HwInfoCaps::kFlagNoFlashLock : 0;
    caps.guidHigh = vendor << 8;
    caps.guidLow = 0x1000 + model;
    caps.modelId = model;
    caps.hwVersion = 1;
    std::snprintf(caps.modelName, sizeof caps.modelName, "Test %X", unsigned(model));
    caps.clockMask = 3;
    caps.playbackChannelsUpTo50k = 8;
    caps.inputCount = 8;
    caps.outputCount = outputs;
    caps.firstMeterCount = outputs;
    caps.secondMeterCount = 8;
    caps.outputGroupCount = 1;
    caps.outputGroups[0] = {0, outputs};
    caps.inputGroupCount = 1;
    caps.inputGroups[0] = {0, 8};
    caps.maxSampleRate = 96000;
    caps.minSampleRate = 44100;
    caps.dspVersion = dsp;
    caps.armVersion = arm;
    const std::string path = dir + "/caps.bin";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(&caps), device::HwInfoCaps::kRegistryBytes);
    return path;
}

// --- the simulated unit ---
// The device object of the first plugged unit (null when none).
inline device::vhw::Ptr firstDevice()
{
    platform::DeviceInterfaceSet set(device::kDeviceInterfaceClass);
    if (set.size() == 0)
        return nullptr;
    return new device::vhw(set.path(0));
}

// Flash contents read through the device (which must be open).
inline std::vector<uint32_t> readFlash(device::vhw& device, uint32_t address, uint32_t count)
{
    std::vector<uint32_t> out(count);
    for (uint32_t done = 0; done < count;)
    {
        const uint32_t n = std::min<uint32_t>(64, count - done);
        if (device.flashRead(address + 4 * done, n, out.data() + done) != 0)
            return {};
        done += n;
    }
    return out;
}

// --- the trace ---
struct VdcLine
{
    uint32_t category = 0;
    uint32_t command = 0;
    std::vector<uint32_t> params;
    uint32_t vdr = 0;
};

// Points STRELLIS_TRACE at a file of the test's bus for the object's lifetime.
class Trace
{
public:
    explicit Trace(const std::string& dir) : path_(dir + "/trace.txt")
    {
        ::setenv("STRELLIS_TRACE", path_.c_str(), 1);
    }
    ~Trace() { ::unsetenv("STRELLIS_TRACE"); }
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    void clear() { std::ofstream(path_, std::ios::trunc); }

    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        std::ifstream in(path_);
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }

    // The VDC requests, in order; only those of the given category when category >= 0.
    std::vector<VdcLine> vdc(int category = -1) const
    {
        std::vector<VdcLine> out;
        for (const std::string& line : lines())
        {
            std::istringstream words(line);
            std::string pid, unit, kind;
            words >> pid >> unit >> kind;
            if (kind != "VDC")
                continue;
            VdcLine v;
            uint32_t length = 0;
            words >> v.category >> v.command >> length;
            for (std::string w; words >> w && w != "=>";)
                v.params.push_back(uint32_t(std::stoul(w)));
            std::string nt;
            words >> nt >> v.vdr;
            if (category < 0 || int(v.category) == category)
                out.push_back(v);
        }
        return out;
    }

    // "cat/cmd" of each VDC request, e.g. "1/5 1/0 1/3 1/2 ...", with the first parameter for lock and
    // erase ("1/5:1", "1/0:0x20000") so sequences read easily.
    std::vector<std::string> flashSequence() const
    {
        std::vector<std::string> out;
        for (const VdcLine& v : vdc(1))
        {
            std::string s = std::to_string(v.category) + "/" + std::to_string(v.command);
            if ((v.command == 5 || v.command == 0) && !v.params.empty())
            {
                char text[32];
                std::snprintf(text, sizeof text, v.command == 0 ? ":0x%x" : ":%u", v.params[0]);
                s += text;
            }
            out.push_back(s);
        }
        return out;
    }

private:
    std::string path_;
};

inline int count(const std::vector<std::string>& v, const std::string& what)
{
    return int(std::count(v.begin(), v.end(), what));
}

} // namespace consoletest
