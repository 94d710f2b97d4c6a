#pragma once

// Helpers of the console tests: hand-built DAT files and capability records, the device of a plugged unit,
// and a flash progress view that only records; with the shared support of every suite (private bus, trace,
// manual clock, message loop).

#include "CapsBytes.h"
#include "ManualClock.h"
#include "MessageLoop.h"
#include "SimulatorTrace.h"
#include "TempBus.h"
#include "console/core/FlashProgress.h"
#include "console/core/HwCtrl.h"
#include "device/HwInfoCaps.h"
#include "device/Vhw.h"
#include "platform/DeviceInterfaces.h"

#include "GuiTest.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <atomic>
#include <cmath>
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

using testsupport::kHangMs;
using testsupport::Later;
using testsupport::pumpPosted;
using testsupport::pumpUntil;
using testsupport::waitUntil;

// --- the hardware thread ---

// Knows by the order of the thread's work, not by time, that the thread has done everything queued
// before it. The thread takes every SET queued (a banked control's next channels too) before any GET,
// but a GET queued while it works through its GETs comes before a SET queued at the same moment. So the
// barrier goes as a SET, behind every SET queued before it, and that SET queues its GET, which the thread
// takes behind every GET queued before and only once no SET is left.
class ThreadBarrier : public console::HwCtrl
{
public:
    using HwCtrl::HwCtrl;

    // Queues the barrier; passed() holds once it has gone through (and the thread no longer touches it).
    void queue()
    {
        stage_.store(kQueued);
        getHwThread().requeueSet(*this);
    }
    bool passed() const { return stage_.load() == kPassed; }

private:
    enum Stage
    {
        kIdle,
        kQueued,
        kSetDone,
        kPassed
    };

    // A session load or reset queues every control of the window, this one too: only a queued barrier
    // moves on.
    void writeToDevice() override
    {
        int queued = kQueued;
        if (stage_.compare_exchange_strong(queued, kSetDone))
            getHwThread().queueGet(*this);
    }
    void readFromDevice() override
    {
        int setDone = kSetDone;
        stage_.compare_exchange_strong(setDone, kPassed);
    }
    void loadFromState(console::ConsoleState&, bool) override {}
    void storeToState(console::ConsoleState&) override {}
    void resetToDefault() override {}

    std::atomic<int> stage_{kIdle};
};

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
        pumpUntil([this] { return log_->finished.load(); });
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
    char name[32];
    std::snprintf(name, sizeof name, "Test %X", unsigned(model));
    const std::string path = dir + "/caps.bin";
    testsupport::CapsBytes::withGroups({{0, 8}}, {{0, outputs}})
        .word(0, noFlashLock ? device::HwInfoCaps::kFlagNoFlashLock : 0)
        .vendor(vendor)
        .word(8, 0x1000 + model)
        .word(12, model)
        .word(16, 1)
        .modelName(name)
        .clockMask(3)
        .channels(8, 8)
        .word(96, outputs)
        .word(100, 8)
        .rates(44100, 96000)
        .firmware(dsp, arm)
        .writeTo(path);
    return path;
}

// --- colours ---
// The contrast ratio of two opaque colours, from 1 (the same) to 21 (black on white): the relative
// luminances of the sRGB colours, each plus 0.05, the lighter over the darker.
inline double contrastRatio(juce::Colour a, juce::Colour b)
{
    auto luminance = [](juce::Colour c)
    {
        auto linear = [](juce::uint8 v)
        {
            const double s = v / 255.0;
            return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.getRed()) + 0.7152 * linear(c.getGreen()) + 0.0722 * linear(c.getBlue());
    };
    const double la = luminance(a) + 0.05;
    const double lb = luminance(b) + 0.05;
    return la > lb ? la / lb : lb / la;
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
using testsupport::Trace;
using testsupport::VdcLine;

inline int count(const std::vector<std::string>& v, const std::string& what)
{
    return int(std::count(v.begin(), v.end(), what));
}

} // namespace consoletest
