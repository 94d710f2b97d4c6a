// Buffers, streaming and the streaming thread, through the loaded library against the simulator, whose
// period clock is stepped one period at a time unless a test runs it in real time.

#include "Streamer.h"
#include "StreamingHost.h"
#include "asio/AsioDriver.h"
#include "platform/Debug.h"
#include "platform/Event.h"
#include "platform/Registry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <functional>
#include <sstream>
#include <thread>

using namespace asiodrv;
using asiotest::DriverFixture;
using asiotest::StreamingHost;
using asiotest::typicalCaps;

namespace
{

constexpr uint32_t kFrames = 32;

ASIOBufferInfo in(int32_t channel)
{
    return ASIOBufferInfo{ASIOTrue, channel, {nullptr, nullptr}};
}
ASIOBufferInfo out(int32_t channel)
{
    return ASIOBufferInfo{ASIOFalse, channel, {nullptr, nullptr}};
}

// What a capture slot of the pattern becomes as a host sample: the big-endian word
// 0xA5000000 | channel << 16 | frame, whose lower three bytes the driver takes as the sample's upper three.
int32_t patternSample(uint32_t channel, uint64_t frame)
{
    return static_cast<int32_t>((channel & 0xFF) << 24 | (static_cast<uint32_t>(frame) & 0xFFFF) << 8);
}

// A sanitizer starts a thread of its own with the process's first thread; one is made at start-up, so
// that thread is there before as after every count.
const bool sanitizerThreadStarted = []
{
    std::thread([] {}).join();
    return true;
}();

int tasksListed()
{
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/task"))
    {
        while (const dirent* e = ::readdir(d))
            n += e->d_name[0] != '.' ? 1 : 0;
        ::closedir(d);
    }
    return n;
}

// Whether the process is back to at most that many threads. A thread just joined may still be listed for
// a moment while the system reaps it: the answer waits for it to go (a thread left running never does).
bool threadsBackTo(int count)
{
    (void)sanitizerThreadStarted;
    return testsupport::waitUntil([&] { return tasksListed() <= count; });
}

class Streaming : public DriverFixture
{
protected:
    void SetUp() override
    {
        DriverFixture::SetUp();
        plug("u1", typicalCaps());
        devsim("set u1 buffer-size " + std::to_string(kFrames));
        devsim("set u1 period-clock step");
    }

    void TearDown() override
    {
        // A request a failed test left held would keep the streaming thread from ending.
        for (const char* unit : {"u1", "u2"})
            bus.devsim(std::string("fault ") + unit + " clear");
        if (driver != nullptr)
        {
            driver->stop();
            driver->disposeBuffers();
        }
        DriverFixture::TearDown();
    }

    // Loads, initialises and prepares the driver with these records.
    bool prepare(std::vector<ASIOBufferInfo> records)
    {
        driver = loadAndInit();
        return driver != nullptr && create(std::move(records));
    }

    // Prepares the loaded driver with these records.
    bool create(std::vector<ASIOBufferInfo> records)
    {
        host.driver = driver;
        const ASIOError r = driver->createBuffers(records.data(), static_cast<int32_t>(records.size()),
                                                  kFrames, &host.callbacks);
        EXPECT_EQ(r, ASE_OK);
        host.prepare(records, kFrames);
        return r == ASE_OK;
    }

    // One period of the simulated clock, and the switch it brings.
    bool step(int expectedSwitches)
    {
        host.stepping();
        if (bus.devsim("step u1") != 0)
        {
            ADD_FAILURE() << "devsim step: " << bus.err;
            return false;
        }
        return host.waitForSwitches(expectedSwitches);
    }

    // The module unloads once nothing of the driver is left, its threads included.
    bool unloads()
    {
        const bool unloadable = testsupport::waitUntil([&] { return loader.canUnloadNow() == S_OK; });
        loader.unload();
        void* still = ::dlopen(ASIO_DRIVER_PATH, RTLD_NOW | RTLD_NOLOAD);
        if (still != nullptr)
            ::dlclose(still);
        return unloadable && still == nullptr;
    }

    std::string dumped(const std::string& key, const std::string& unit = "u1")
    {
        return bus.dumped(unit, key);
    }

    StreamingHost host;
    IASIO* driver = nullptr;
};

} // namespace

TEST_F(Streaming, EveryPeriodBringsExactlyOneSwitchWithTheHalvesTakingTurns)
{
    ASSERT_TRUE(prepare({in(0), out(0)}));
    ASSERT_EQ(driver->start(), ASE_OK);
    EXPECT_EQ(driver->start(), ASE_OK) << "a second start is a no-op";
    for (int n = 1; n <= 6; ++n)
        ASSERT_TRUE(step(n)) << "period " << n;
    // The stop ends the streaming thread: no switch comes after it, so one more anywhere shows here.
    EXPECT_EQ(driver->stop(), ASE_OK);
    ASSERT_EQ(host.switches(), 6);
    for (int n = 0; n < 6; ++n)
    {
        EXPECT_EQ(host.at(n).half, n % 2);
        EXPECT_NE(host.at(n).thread, std::this_thread::get_id());
    }
    EXPECT_NE(bus.devsim("step u1"), 0) << "a stopped unit has no clock to step";
    EXPECT_EQ(driver->stop(), ASE_NotPresent);
    EXPECT_EQ(host.switches(), 6);
}

TEST_F(Streaming, NothingIsCopiedOrCalledWhilePreparedButNotRunning)
{
    ASSERT_TRUE(prepare({in(0), out(0)}));
    auto* input = static_cast<int32_t*>(host.infos[0].buffers[0]);
    input[0] = 0x5A5A5A5A;
    EXPECT_EQ(driver->outputReady(), ASE_OK);
    // Without a running clock nothing ever signals a period.
    EXPECT_NE(bus.devsim("step u1"), 0) << "prepared: the clock does not run";
    EXPECT_EQ(host.switches(), 0);
    EXPECT_EQ(input[0], 0x5A5A5A5A);
    EXPECT_EQ(dumped("streaming client").find("running 0"), dumped("streaming client").find("running"));
}

TEST_F(Streaming, InputsCarryTheCapturePatternBitForBit)
{
    ASSERT_TRUE(prepare({in(0), in(5), out(2)}));
    ASSERT_EQ(driver->start(), ASE_OK);
    for (int n = 1; n <= 3; ++n)
        ASSERT_TRUE(step(n));
    for (int n = 0; n < 3; ++n)
        for (uint32_t k = 0; k < kFrames; ++k)
        {
            const uint64_t frame = static_cast<uint64_t>(n) * kFrames + k;
            ASSERT_EQ(host.inputsSeen(0, n)[k], patternSample(0, frame)) << n << "/" << k;
            ASSERT_EQ(host.inputsSeen(1, n)[k], patternSample(5, frame)) << n << "/" << k;
        }
}

TEST_F(Streaming, OutputsReachTheFramesAndComeBackThroughTheLoopbackBitForBit)
{
    devsim("set u1 capture loopback:2");
    ASSERT_TRUE(prepare({in(3), out(3)}));
    host.outputValue = [](int, int period, uint32_t frame)
    { return 0x80000000u ^ static_cast<uint32_t>(period) << 20 ^ frame * 0x01010101u; };
    ASSERT_EQ(driver->start(), ASE_OK);
    for (int n = 1; n <= 6; ++n)
        ASSERT_TRUE(step(n));
    for (int n = 0; n < 6; ++n)
        for (uint32_t k = 0; k < kFrames; ++k)
        {
            // Switch n hears what the host wrote in switch n - 2, its lowest byte dropped on the way.
            const int32_t expected =
                n < 2 ? 0 : static_cast<int32_t>(host.outputValue(1, n - 2, k) & 0xFFFFFF00u);
            ASSERT_EQ(host.inputsSeen(0, n)[k], expected) << n << "/" << k;
        }
    EXPECT_EQ(dumped("streaming client").find("late output 0") != std::string::npos, true);
}

TEST_F(Streaming, AChannelHeldElsewhereIsNamedInTheBoxAndItsOutputNeverPlays)
{
    devsim("set u1 held.out 1");
    devsim("set u1 capture loopback:1");
    driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    // A claim whose call fails is a unit gone, not a channel held.
    devsim("fault u1 dc:4 fail 1");
    std::vector<ASIOBufferInfo> records{in(0), in(1), out(0), out(1)};
    EXPECT_EQ(driver->createBuffers(records.data(), 4, kFrames, &host.callbacks), ASE_NotPresent);
    for (const std::string& line : asiotest::readLines(logPath))
        EXPECT_EQ(line.rfind("Message box", 0), std::string::npos) << line;
    ASSERT_TRUE(create(records));
    EXPECT_TRUE(logged("Message box [ASIO Strellis] The following channels are in use by another application:"
                       "  Analog out 2  Audio output from these channels will be muted."));
    EXPECT_NE(host.infos[3].buffers[0], nullptr) << "the host still gets its buffers";
    host.outputValue = [](int, int, uint32_t frame) { return 0x11223300u + (frame << 8); };
    ASSERT_EQ(driver->start(), ASE_OK);
    for (int n = 1; n <= 3; ++n)
        ASSERT_TRUE(step(n));
    for (uint32_t k = 0; k < kFrames; ++k)
    {
        EXPECT_EQ(host.inputsSeen(0, 2)[k], static_cast<int32_t>(0x11223300u + (k << 8)));
        EXPECT_EQ(host.inputsSeen(1, 2)[k], 0) << "the held channel's output was written";
    }
    EXPECT_EQ(dumped("claimed"), "out 0 in 0,1");
}

TEST_F(Streaming, TimeInfoSwitchesCarryARateChangeOnlyOnce)
{
    host.timeInfo = true;
    ASSERT_TRUE(prepare({in(0), out(0)}));
    ASSERT_EQ(driver->setSampleRate(88200.0), ASE_OK);
    ASSERT_EQ(driver->start(), ASE_OK);
    for (int n = 1; n <= 3; ++n)
        ASSERT_TRUE(step(n));
    const uint32_t valid = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
    EXPECT_EQ(host.at(0).flags, valid | kSampleRateChanged);
    EXPECT_EQ(host.at(1).flags, valid);
    EXPECT_EQ(host.at(2).flags, valid);
}

TEST_F(Streaming, TheSamplePositionCountsFromEveryStartAlikeInTheRecordAndWhenAsked)
{
    host.timeInfo = true;
    ASSERT_TRUE(prepare({in(0), out(0)}));
    ASSERT_EQ(driver->start(), ASE_OK);
    for (int n = 1; n <= 3; ++n)
        ASSERT_TRUE(step(n));
    ASSERT_EQ(driver->stop(), ASE_OK);
    ASSERT_EQ(driver->start(), ASE_OK);
    for (int n = 4; n <= 5; ++n)
        ASSERT_TRUE(step(n));
    const uint64_t expected[] = {0, kFrames, 2 * kFrames, 0, kFrames};
    for (int n = 0; n < 5; ++n)
    {
        EXPECT_EQ(host.at(n).position, expected[n]) << "switch " << n;
        EXPECT_EQ(host.at(n).asked, expected[n]) << "switch " << n;
    }
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    ASSERT_EQ(driver->getSamplePosition(&position, &stamp), ASE_OK);
    EXPECT_EQ(position.lo, kFrames);
    EXPECT_NE(uint64_t{stamp.hi} << 32 | stamp.lo, 0u);
}

TEST_F(Streaming, ARateChangeMadeBeforeTheBuffersIsNotReportedToTheirSession)
{
    host.timeInfo = true;
    driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    ASSERT_EQ(driver->setSampleRate(88200.0), ASE_OK);
    ASSERT_TRUE(create({in(0), out(0)}));
    ASSERT_EQ(driver->start(), ASE_OK);
    ASSERT_TRUE(step(1));
    EXPECT_EQ(host.at(0).flags, kSystemTimeValid | kSamplePositionValid | kSampleRateValid);
}

TEST_F(Streaming, TheSamplePositionGoesOnPastTheWrapOfTheCompletedCount)
{
    devsim("set u1 completed 0xFFFFFFFE");
    host.timeInfo = true;
    ASSERT_TRUE(prepare({in(0), out(0)}));
    ASSERT_EQ(driver->start(), ASE_OK);
    for (int n = 1; n <= 4; ++n)
        ASSERT_TRUE(step(n));
    for (int n = 0; n < 4; ++n)
        EXPECT_EQ(host.at(n).position, static_cast<uint64_t>(n) * kFrames) << n;
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    ASSERT_EQ(driver->getSamplePosition(&position, &stamp), ASE_OK);
    EXPECT_EQ(uint64_t{position.hi} << 32 | position.lo, 3 * kFrames);
}

TEST_F(Streaming, ARateChangeMadeElsewhereIsToldToTheHostAndAnsweredFromTheUnit)
{
    host.timeInfo = true;
    ASSERT_TRUE(prepare({in(0), out(0)}));
    ASSERT_EQ(driver->start(), ASE_OK);
    ASSERT_TRUE(step(1));
    uint32_t reply[16];
    ASSERT_TRUE(driverControl(0, 16, 96000, 0, reply)); // as the console sets it
    // No period comes meanwhile: the wait that times out looks at the unit.
    ASSERT_TRUE(host.waitForRateChanges(1));
    EXPECT_EQ(host.lastRate(), 96000.0);
    ASSERT_TRUE(step(2));
    EXPECT_NE(host.at(1).flags & kSampleRateChanged, 0u);
    double rate = 0;
    EXPECT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 96000.0);
    ASSERT_EQ(driver->disposeBuffers(), ASE_OK);
    ASSERT_TRUE(driverControl(0, 16, 44100, 0, reply));
    EXPECT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 44100.0) << "without buffers too";
    EXPECT_EQ(host.rateChanges(), 1);
}

TEST_F(Streaming, AFailedRequestIsLoggedAndFailuresOnConsecutiveLooksLoseTheUnitForGood)
{
    ASSERT_TRUE(prepare({in(0), out(0)}));
    ASSERT_EQ(driver->start(), ASE_OK);
    ASSERT_TRUE(step(1));
    // A gap in the periods: the wait that times out asks the unit, which fails once.
    devsim("fault u1 dc:3 fail 1");
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return logged("ASIO Strellis: unit \"Doranth\" did not answer (1 in a row)"); }));
    ASSERT_TRUE(step(2));
    EXPECT_EQ(host.resetRequests(), 0);
    devsim("fault u1 dc:3 fail always");
    ASSERT_TRUE(host.waitForResets(1));
    EXPECT_TRUE(logged("ASIO Strellis: unit \"Doranth\" did not answer (3 in a row)"));
    EXPECT_EQ(driver->stop(), ASE_OK);
    EXPECT_EQ(driver->start(), ASE_NotPresent) << "the unit was lost to this object";
    EXPECT_EQ(host.resetRequests(), 1);
}

TEST_F(Streaming, AUnitThatStreamsAnotherSizeThanAnnouncedIsRefused)
{
    driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    // Another program changes the size once the driver looked at it, before streaming opens.
    devsim("fault u1 dc:1 hold");
    std::vector<ASIOBufferInfo> records{in(0), out(0)};
    ASIOError created = ASE_OK;
    std::thread creating([&]
                         { created = driver->createBuffers(records.data(), 2, kFrames, &host.callbacks); });
    const bool held = testsupport::waitUntil([&] { return dumped("fault") == "dc:1 hold holding 1"; });
    EXPECT_EQ(bus.devsim("set u1 buffer-size 64"), 0) << bus.err;
    EXPECT_EQ(bus.devsim("fault u1 clear"), 0) << bus.err;
    creating.join();
    ASSERT_TRUE(held);
    EXPECT_EQ(created, ASE_InvalidMode);
    EXPECT_TRUE(logged("ASIO Strellis: unit \"Doranth\" streams another size than the 32 samples announced"));
    EXPECT_EQ(dumped("streaming client").rfind("none", 0), 0u) << "streaming was closed again";
}

TEST_F(Streaming, BadBufferRequestsAreRefusedAndChangeNothing)
{
    driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    std::vector<ASIOBufferInfo> twice{in(1), out(0), in(1)};
    EXPECT_EQ(driver->createBuffers(twice.data(), 3, kFrames, &host.callbacks), ASE_InvalidParameter);
    std::vector<ASIOBufferInfo> one{in(0)};
    EXPECT_EQ(driver->createBuffers(nullptr, 1, kFrames, &host.callbacks), ASE_InvalidParameter);
    EXPECT_EQ(driver->createBuffers(one.data(), 0, kFrames, &host.callbacks), ASE_InvalidParameter);
    EXPECT_EQ(driver->createBuffers(one.data(), 1, kFrames + 32, &host.callbacks), ASE_InvalidParameter);
    ASIOCallbacks noSwitch = host.callbacks;
    noSwitch.bufferSwitch = nullptr;
    EXPECT_EQ(driver->createBuffers(one.data(), 1, kFrames, &noSwitch), ASE_InvalidParameter);
    host.timeInfo = true;
    ASIOCallbacks noTimeInfo = host.callbacks;
    noTimeInfo.bufferSwitchTimeInfo = nullptr;
    EXPECT_EQ(driver->createBuffers(one.data(), 1, kFrames, &noTimeInfo), ASE_InvalidParameter);
    std::vector<ASIOBufferInfo> beyond{in(16)};
    EXPECT_EQ(driver->createBuffers(beyond.data(), 1, kFrames, &host.callbacks), ASE_InvalidParameter);
    EXPECT_EQ(driver->start(), ASE_NotPresent);
    EXPECT_EQ(dumped("streaming client").rfind("none", 0), 0u) << "no request opened streaming";
}

TEST_F(Streaming, AHundredStartsAndStopsLeaveNoThreadAndNoEarlySwitch)
{
    ASSERT_TRUE(prepare({in(0), out(0)}));
    const int threadsBefore = tasksListed();
    for (int cycle = 0; cycle < 100; ++cycle)
    {
        ASSERT_EQ(driver->start(), ASE_OK);
        ASSERT_EQ(host.switches(), cycle) << "a switch before the period of cycle " << cycle;
        ASSERT_TRUE(step(cycle + 1)) << "cycle " << cycle;
        ASSERT_EQ(driver->stop(), ASE_OK);
        ASSERT_EQ(host.at(cycle).half, 0) << "every start begins with half 0";
    }
    EXPECT_TRUE(threadsBackTo(threadsBefore));
    EXPECT_EQ(host.switches(), 100);
}

TEST_F(Streaming, StopAndDisposeFromInsideTheCallbackDoNotWaitForTheirOwnThread)
{
    ASSERT_TRUE(prepare({in(0), out(0)}));
    static IASIO* self = nullptr;
    static std::atomic<int> calls{0};
    self = driver;
    calls = 0;
    ASIOCallbacks callbacks = host.callbacks;
    callbacks.bufferSwitch = [](int32_t, ASIOBool)
    {
        self->stop();
        self->disposeBuffers();
        ++calls;
    };
    std::vector<ASIOBufferInfo> records{in(0), out(0)};
    ASSERT_EQ(driver->createBuffers(records.data(), 2, kFrames, &callbacks), ASE_OK);
    ASSERT_EQ(driver->start(), ASE_OK);
    ASSERT_EQ(bus.devsim("step u1"), 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return calls.load() > 0; }));
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(driver->start(), ASE_NotPresent) << "disposed";
    EXPECT_NE(bus.devsim("step u1"), 0);
}

TEST_F(Streaming, StopAndStartFromInsideTheBufferSwitchHandTheNextPeriodsToOneNewThread)
{
    ASSERT_TRUE(prepare({in(0), out(0)}));
    const int threadsBefore = tasksListed();
    static ASIOError restarted = ASE_HWMalfunction;
    host.afterSwitch = [](StreamingHost& h, int n)
    {
        if (n == 0 && h.driver->stop() == ASE_OK)
            restarted = h.driver->start();
    };
    ASSERT_EQ(driver->start(), ASE_OK);
    for (int n = 1; n <= 3; ++n)
        ASSERT_TRUE(step(n)) << "period " << n;
    EXPECT_EQ(restarted, ASE_OK);
    EXPECT_EQ(driver->stop(), ASE_OK);
    ASSERT_EQ(host.switches(), 3);
    EXPECT_NE(host.at(1).thread, host.at(0).thread);
    EXPECT_EQ(host.at(2).thread, host.at(1).thread);
    EXPECT_EQ(host.at(1).half, 0) << "the restart begins with half 0";
    EXPECT_EQ(host.at(2).half, 1);
    EXPECT_TRUE(threadsBackTo(threadsBefore)) << "both streaming threads were joined";
}

TEST_F(Streaming, AHostThatRestartsFromInsideTheResetRequestStreamsAgainOnANewThread)
{
    ASSERT_TRUE(prepare({in(0), out(0)}));
    const int threadsBefore = tasksListed();
    static ASIOError restarted = ASE_HWMalfunction;
    // As some hosts do: everything torn down and built again at once, at the new size.
    host.onReset = [](StreamingHost& h)
    {
        h.driver->stop();
        h.driver->disposeBuffers();
        int32_t minimum = 0, maximum = 0, preferred = 0, granularity = 0;
        h.driver->getBufferSize(&minimum, &maximum, &preferred, &granularity);
        h.bufferSize = static_cast<uint32_t>(preferred);
        if (h.driver->createBuffers(h.infos.data(), static_cast<int32_t>(h.infos.size()), preferred,
                                    &h.callbacks) == ASE_OK)
            restarted = h.driver->start();
    };
    ASSERT_EQ(driver->start(), ASE_OK);
    ASSERT_TRUE(step(1));
    ::setenv("STRELLIS_CONTROL_PANEL", "size=64 ok", 1);
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    ::unsetenv("STRELLIS_CONTROL_PANEL");
    ASSERT_TRUE(host.waitForResets(1));
    EXPECT_EQ(restarted, ASE_OK);
    ASSERT_TRUE(step(2));
    EXPECT_NE(host.at(1).thread, host.at(0).thread);
    EXPECT_EQ(host.at(1).half, 0);
    ASSERT_EQ(host.inputsSeen(0, 1).size(), 64u);
    for (uint32_t k = 0; k < 64; ++k)
        ASSERT_EQ(host.inputsSeen(0, 1)[k], patternSample(0, k)) << k;
    EXPECT_EQ(driver->stop(), ASE_OK);
    EXPECT_TRUE(threadsBackTo(threadsBefore)) << "both streaming threads were joined";
}

TEST_F(Streaming, AHostThatReleasesTheDriverFromInsideTheResetRequestLetsTheLibraryUnload)
{
    ASSERT_TRUE(prepare({in(0), out(0)}));
    static asiohost::DriverLoader* owner = nullptr;
    owner = &loader;
    host.onReset = [](StreamingHost&) { owner->releaseDriver(); };
    ASSERT_EQ(driver->start(), ASE_OK);
    ASSERT_TRUE(step(1));
    ::setenv("STRELLIS_CONTROL_PANEL", "size=64 ok", 1);
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    ::unsetenv("STRELLIS_CONTROL_PANEL");
    ASSERT_TRUE(host.waitForResets(1));
    driver = nullptr;
    EXPECT_TRUE(unloads());
    EXPECT_EQ(dumped("streaming client").rfind("none", 0), 0u) << "streaming was closed";
}

TEST_F(Streaming, AHostThatReleasesTheDriverFromInsideTheBufferSwitchLetsTheLibraryUnload)
{
    ASSERT_TRUE(prepare({in(0), out(0)}));
    static asiohost::DriverLoader* owner = nullptr;
    owner = &loader;
    host.outputReadyInside = false;
    host.afterSwitch = [](StreamingHost&, int) { owner->releaseDriver(); };
    ASSERT_EQ(driver->start(), ASE_OK);
    ASSERT_TRUE(step(1));
    driver = nullptr;
    EXPECT_TRUE(unloads());
    EXPECT_EQ(dumped("streaming client").rfind("none", 0), 0u) << "streaming was closed";
}

TEST_F(Streaming, AnotherClientIsRefusedWhileTheDriverHoldsTheUnit)
{
    ASSERT_TRUE(prepare({in(0)}));
    uint32_t reply[16] = {};
    ASSERT_TRUE(driverControl(0, 1, 1, 0x4000, reply));
    EXPECT_NE(reply[0], 0u);
    EXPECT_NE(bus.devsim("set u1 buffer-size 64"), 0) << "the size cannot change under a client";
    driver->disposeBuffers();
    EXPECT_EQ(bus.devsim("set u1 buffer-size 64"), 0);
}

TEST_F(Streaming, TheHostToolSaysSoAndFailsWhenTheUnitIsUnpluggedWhileItStreams)
{
    IASIO* const loaded = loadAndInit();
    ASSERT_NE(loaded, nullptr);
    asiohost::StreamOptions options;
    options.switches = 1000;
    std::string summary;
    std::string error;
    int status = -1;
    std::thread hostThread([&] { status = asiohost::runStream(*loaded, options, summary, error); });
    // The clock can be stepped once the host started streaming.
    EXPECT_TRUE(testsupport::waitUntil([&] { return bus.devsim("step u1") == 0; })) << bus.err;
    devsim("step u1 2");
    const std::string path = interfacePath(0);
    devsim("unplug u1");
    hostThread.join();
    EXPECT_EQ(status, 1) << summary;
    EXPECT_NE(error.find("unplugged while streaming"), std::string::npos) << error;
    EXPECT_NE(error.find(path), std::string::npos) << error;
    // Every period up to the last switch is either switched or missed.
    const std::string lines = "\n" + summary;
    const auto value = [&](const std::string& key)
    {
        const size_t at = lines.find("\n" + key + " ");
        return at == std::string::npos ? -1 : std::atol(lines.c_str() + at + key.size() + 2);
    };
    EXPECT_GT(value("buffer switches"), 0) << summary;
    EXPECT_EQ(value("periods"), value("buffer switches") + value("missed periods")) << summary;
}

TEST_F(Streaming, AUnitPulledOutAsksTheHostForOneResetAndANewObjectStreamsOnceItIsBack)
{
    ASSERT_TRUE(prepare({in(0), out(0)}));
    ASSERT_EQ(driver->start(), ASE_OK);
    ASSERT_TRUE(step(1));
    devsim("unplug u1");
    ASSERT_TRUE(host.waitForResets(1));
    // The calls that follow answer as for a unit that is not there, and none waits.
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    EXPECT_EQ(driver->getSamplePosition(&position, &stamp), ASE_NotPresent);
    EXPECT_EQ(driver->stop(), ASE_NotPresent);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    std::vector<ASIOBufferInfo> records{in(0), out(0)};
    EXPECT_EQ(driver->createBuffers(records.data(), 2, kFrames, &host.callbacks), ASE_NotPresent);
    EXPECT_EQ(host.resetRequests(), 1);

    // As hosts answer: the object released, and a new one made once the unit is back.
    loader.releaseDriver();
    driver = nullptr;
    devsim("plug u1");
    std::string error;
    ASSERT_TRUE(loader.createDriver(error)) << error;
    driver = loader.driver();
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    ASSERT_TRUE(create({in(0), out(0)}));
    ASSERT_EQ(driver->start(), ASE_OK);
    ASSERT_TRUE(step(2));
    EXPECT_EQ(host.inputsSeen(0, 1)[1], patternSample(0, 1));
}

// ---- two interfaces, and devices that refuse ---------------------------------------------------------

namespace
{

// u2, plugged after u1, comes first in the driver's tables (16 inputs, 12 playback channels each). Its
// unit name, "Doranth 2", begins the names of its channels; u1's is the default, "Doranth", which begins
// them too.
class TwoUnits : public Streaming
{
protected:
    void SetUp() override
    {
        Streaming::SetUp();
        plug("u2", typicalCaps(), "Doranth 2");
        devsim("set u2 buffer-size " + std::to_string(kFrames));
        devsim("set u2 period-clock step");
    }

    // One period of both clocks; the unit whose event the driver waits on goes last.
    bool stepBoth(int expectedSwitches, const std::string& signalling)
    {
        const std::string other = signalling == "u1" ? "u2" : "u1";
        if (bus.devsim("step " + other) != 0 || bus.devsim("step " + signalling) != 0)
        {
            ADD_FAILURE() << "devsim step: " << bus.err;
            return false;
        }
        return host.waitForSwitches(expectedSwitches);
    }
};

} // namespace

TEST_F(TwoUnits, TheSecondUnitsChannelsCarryTheirPatternAtTheNumbersAfterTheFirstUnits)
{
    devsim("set u2 capture silence");
    ASSERT_TRUE(prepare({in(0), in(16), in(21), out(0), out(12)}));
    ASSERT_EQ(driver->start(), ASE_OK);
    for (int n = 1; n <= 3; ++n)
        ASSERT_TRUE(stepBoth(n, "u2")) << "period " << n;
    for (int n = 0; n < 3; ++n)
        for (uint32_t k = 0; k < kFrames; ++k)
        {
            const uint64_t frame = static_cast<uint64_t>(n) * kFrames + k;
            ASSERT_EQ(host.inputsSeen(0, n)[k], 0) << n << "/" << k;
            ASSERT_EQ(host.inputsSeen(1, n)[k], patternSample(0, frame)) << n << "/" << k;
            ASSERT_EQ(host.inputsSeen(2, n)[k], patternSample(5, frame)) << n << "/" << k;
        }
    EXPECT_EQ(dumped("claimed", "u2"), "out 0 in 0");
    EXPECT_EQ(dumped("claimed", "u1"), "out 0 in 0,5");
}

TEST_F(TwoUnits, EveryUnitStreamsAtTheHostsSizeOrTheBuffersAreRefused)
{
    devsim("set u1 buffer-size 64"); // u2 gives the driver's size, 32
    ASSERT_TRUE(prepare({in(0), in(16)}));
    ASSERT_EQ(driver->start(), ASE_OK);
    for (int n = 1; n <= 2; ++n)
        ASSERT_TRUE(stepBoth(n, "u2"));
    for (uint32_t k = 0; k < kFrames; ++k)
        ASSERT_EQ(host.inputsSeen(1, 1)[k], patternSample(0, kFrames + k)) << k;
    ASSERT_EQ(driver->disposeBuffers(), ASE_OK);

    // Another host streams u1 at 64; u2 stays at 32.
    devsim("set u2 buffer-size 64");
    IASIO* other = anotherDriver();
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(other->init(nullptr), ASIOTrue);
    std::vector<ASIOBufferInfo> u1Only{in(16)};
    ASSERT_EQ(other->createBuffers(u1Only.data(), 1, 64, &host.callbacks), ASE_OK);
    devsim("set u2 buffer-size 32");
    std::vector<ASIOBufferInfo> both{in(0), in(16)};
    EXPECT_EQ(driver->createBuffers(both.data(), 2, kFrames, &host.callbacks), ASE_InvalidMode);
    EXPECT_TRUE(logged("ASIO Strellis: unit \"Doranth\" streams 64 samples a period and did not take 32"));
}

TEST_F(TwoUnits, EachSwitchCarriesThePositionOfItsBlockFromTheUnitThatDrivesThePeriods)
{
    // At this size a unit whose periods stand still is asked after four of the clock unit's.
    constexpr uint32_t kSize = 1024;
    devsim("set u1 buffer-size " + std::to_string(kSize));
    devsim("set u2 buffer-size " + std::to_string(kSize));
    host.timeInfo = true;
    driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    host.driver = driver;
    // u1's channel first: u1's event drives the switches; u2's clock is never stepped.
    std::vector<ASIOBufferInfo> records{in(16), in(0)};
    ASSERT_EQ(driver->createBuffers(records.data(), 2, kSize, &host.callbacks), ASE_OK);
    host.prepare(records, kSize);
    ASSERT_EQ(driver->start(), ASE_OK);
    // Steps u1 while the thread waits for its look at u2, then lets the look be answered.
    const auto stepWhileAsking = [&](const std::string& periods)
    {
        ASSERT_TRUE(testsupport::waitUntil([&] { return dumped("fault", "u2") == "dc:3 hold holding 1"; }));
        host.stepping();
        devsim("step u1 " + periods);
        devsim("fault u2 clear");
    };
    // The first period is late: two complete while the thread waits for its look at u2.
    devsim("fault u2 dc:3 hold");
    stepWhileAsking("2");
    ASSERT_TRUE(host.waitForSwitches(1));
    ASSERT_TRUE(step(2));
    ASSERT_TRUE(step(3));
    // The fourth period has the thread ask u2; the fifth completes meanwhile and is handed over once.
    devsim("fault u2 dc:3 hold");
    host.stepping();
    devsim("step u1");
    stepWhileAsking("1");
    ASSERT_TRUE(host.waitForSwitches(4));
    ASSERT_TRUE(step(5));
    ASSERT_EQ(driver->stop(), ASE_OK);
    ASSERT_EQ(host.switches(), 5);
    const uint64_t blocks[] = {1, 2, 3, 5, 6};
    for (int n = 0; n < 5; ++n)
    {
        EXPECT_EQ(host.at(n).position, blocks[n] * kSize) << n;
        EXPECT_EQ(host.at(n).asked, blocks[n] * kSize) << n;
        EXPECT_NE(host.at(n).time, 0u) << n;
        EXPECT_EQ(host.inputsSeen(0, n)[0], patternSample(0, blocks[n] * kSize)) << n;
    }
}

TEST_F(TwoUnits, ARefusedStartLeavesThemPreparedWithoutAThreadAndARefusedStopStopsTheOthers)
{
    ASSERT_TRUE(prepare({in(0), in(16)}));
    const int threadsBefore = tasksListed();
    devsim("fault u1 dc:5 fail");
    EXPECT_EQ(driver->start(), ASE_NotPresent);
    EXPECT_TRUE(threadsBackTo(threadsBefore)) << "no streaming thread is left";
    EXPECT_NE(dumped("streaming client", "u2").find("running 0"), std::string::npos);
    EXPECT_EQ(driver->stop(), ASE_NotPresent) << "not running";

    ASSERT_EQ(driver->start(), ASE_OK) << "still prepared";
    ASSERT_TRUE(stepBoth(1, "u2"));
    devsim("fault u2 dc:6 fail");
    EXPECT_EQ(driver->stop(), ASE_NotPresent);
    EXPECT_NE(dumped("streaming client", "u1").find("running 0"), std::string::npos);
}

TEST_F(TwoUnits, AUnitTheStreamDoesNotUseMayBePulledOut)
{
    ASSERT_TRUE(prepare({in(16), out(12)})); // u1's channels
    ASSERT_EQ(driver->start(), ASE_OK);
    ASSERT_TRUE(step(1));
    clearTrace();
    devsim("unplug u2");
    // Between periods the driver asks the units it streams from whether they are still there.
    ASSERT_TRUE(testsupport::waitUntil([&] { return !trace(" u1 DC 3 ").empty(); }));
    ASSERT_TRUE(step(2));
    EXPECT_EQ(host.resetRequests(), 0);
    EXPECT_EQ(driver->stop(), ASE_OK);
}

TEST_F(TwoUnits, AUnitPulledOutWhileAnotherUnitsPeriodsGoOnIsMissedAsWell)
{
    ASSERT_TRUE(prepare({in(0), in(16)})); // u2's event drives the switches
    ASSERT_EQ(driver->start(), ASE_OK);
    ASSERT_TRUE(stepBoth(1, "u2"));
    devsim("unplug u1");
    // u1's periods stand still while u2's go on; about 100 ms of them (150 at 32 frames and 48 kHz) and the
    // driver asks u1.
    for (int n = 2; n < 400 && host.resetRequests() == 0; ++n)
    {
        ASSERT_EQ(bus.devsim("step u2"), 0) << bus.err;
        ASSERT_TRUE(testsupport::waitUntil([&] { return host.switches() >= n || host.resetRequests() > 0; }));
    }
    ASSERT_EQ(host.resetRequests(), 1);
    const int switches = host.switches();
    EXPECT_EQ(driver->stop(), ASE_NotPresent);
    EXPECT_EQ(host.switches(), switches) << "no switch after the request";
}

TEST_F(TwoUnits, TheHostToolEndsAsUnpluggedOnlyWhenAUnitItStreamsFromGoes)
{
    IASIO* const loaded = loadAndInit();
    ASSERT_NE(loaded, nullptr);
    const std::string first = interfacePath(0);
    const std::string second = interfacePath(1);
    asiohost::StreamOptions options; // channels 0 and 1 each way: u2's
    options.switches = 1000;
    const auto run = [&](const std::function<void()>& meanwhile, std::string& error)
    {
        std::string summary;
        int status = -1;
        std::thread hostThread([&] { status = asiohost::runStream(*loaded, options, summary, error); });
        EXPECT_TRUE(testsupport::waitUntil([&] { return bus.devsim("step u2") == 0; })) << bus.err;
        meanwhile();
        hostThread.join();
        return status;
    };
    std::string error;
    // The other unit pulled (its name, "Doranth", begins the names of u2's channels but is not theirs):
    // the run goes on, and ends as a healthy one once the switches stay away.
    EXPECT_EQ(run(
                  [&]
                  {
                      devsim("unplug u1");
                      devsim("step u2 2");
                  },
                  error),
              0)
        << error;
    devsim("plug u1");
    error.clear();
    EXPECT_EQ(run(
                  [&]
                  {
                      devsim("unplug u1");
                      devsim("step u2 2");
                      devsim("unplug u2");
                  },
                  error),
              1);
    EXPECT_NE(error.find("unplugged while streaming"), std::string::npos) << error;
    EXPECT_NE(error.find(second), std::string::npos) << error;
    EXPECT_EQ(error.find(first), std::string::npos) << error;
}

TEST_F(TwoUnits, ARefusedOpenFreesWhatWasBuiltAndLeavesTheDriverInitialised)
{
    driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    devsim("fault u1 dc:1 fail");
    std::vector<ASIOBufferInfo> records{in(0), in(16)};
    EXPECT_EQ(driver->createBuffers(records.data(), 2, kFrames, &host.callbacks), ASE_NotPresent);
    EXPECT_EQ(dumped("streaming client", "u2").rfind("none", 0), 0u) << "the first unit's streaming closed";
    EXPECT_EQ(driver->start(), ASE_NotPresent) << "nothing prepared";
    EXPECT_EQ(driver->createBuffers(records.data(), 2, kFrames, &host.callbacks), ASE_OK);
}

// ---- scheduling --------------------------------------------------------------------------------------

namespace
{

class Scheduling : public Streaming
{
protected:
    void SetUp() override
    {
        Streaming::SetUp();
        avrt = ::dlopen(FAKE_AVRT_PATH, RTLD_NOW | RTLD_LOCAL);
        dwmapi = ::dlopen(FAKE_DWMAPI_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(avrt, nullptr) << ::dlerror();
        ASSERT_NE(dwmapi, nullptr) << ::dlerror();
        for (void* module : {avrt, dwmapi})
            reinterpret_cast<void (*)()>(::dlsym(module, "fakeModuleClear"))();
    }
    void TearDown() override
    {
        Streaming::TearDown();
        ::dlclose(avrt);
        ::dlclose(dwmapi);
    }

    static std::string calls(void* module)
    {
        using Log = const char* (*)();
        auto log = reinterpret_cast<Log>(::dlsym(module, "fakeModuleLog"));
        return log != nullptr ? log() : "<no log>";
    }

    void settings(uint32_t mmcss, uint32_t dwm)
    {
        platform::HKEY k = nullptr;
        ASSERT_EQ(platform::regCreateKey(platform::HKEY_CURRENT_USER, "Software\\Varnel\\ASIO Strellis", &k),
                  0);
        const uint32_t rate = 48000;
        platform::regSetValue(k, "Sample rate", platform::REG_DWORD, &rate, 4);
        platform::regSetValue(k, "Use MMCSS", platform::REG_DWORD, &mmcss, 4);
        platform::regSetValue(k, "Lower DWM priority", platform::REG_DWORD, &dwm, 4);
        platform::regCloseKey(k);
    }

    // One start, one period and a stop.
    void runOnce()
    {
        ASSERT_TRUE(prepare({in(0), out(0)}));
        ASSERT_EQ(driver->start(), ASE_OK);
        ASSERT_TRUE(step(1));
        ASSERT_EQ(driver->stop(), ASE_OK);
    }

    void* avrt = nullptr;
    void* dwmapi = nullptr;
};

} // namespace

TEST_F(Scheduling, BothSwitchesOnRegisterTheThreadAndLowerTheWindowManagerForTheRun)
{
    settings(1, 1);
    runOnce();
    EXPECT_EQ(calls(avrt), "AvSetMmThreadCharacteristicsA(Pro Audio,0);AvSetMmThreadPriority(task,2);"
                           "AvRevertMmThreadCharacteristics(task);");
    EXPECT_EQ(calls(dwmapi), "DwmEnableMMCSS(0);DwmEnableMMCSS(1);");
}

TEST_F(Scheduling, SwitchesOffLeaveBothModulesUntouched)
{
    settings(0, 0);
    runOnce();
    EXPECT_EQ(calls(avrt), "");
    EXPECT_EQ(calls(dwmapi), "");
}

TEST_F(Scheduling, OnlyTheWindowManagerSwitchOnCallsOnlyIt)
{
    settings(0, 1);
    runOnce();
    EXPECT_EQ(calls(avrt), "");
    EXPECT_EQ(calls(dwmapi), "DwmEnableMMCSS(0);DwmEnableMMCSS(1);");
}

TEST_F(Streaming, WithoutTheModulesInTheProcessTheThreadRunsAllTheSame)
{
    ASSERT_TRUE(prepare({in(0), out(0)}));
    ASSERT_EQ(driver->start(), ASE_OK);
    ASSERT_TRUE(step(1));
    ASSERT_TRUE(step(2));
}

TEST(StreamingThread, AFailedWaitIsLoggedWithTheErrorNumberAndTheSystemsText)
{
    platform::DebugCapture capture;
    platform::Event never; // not made: waiting on it fails as on a closed handle
    ASSERT_EQ(never.wait(0), platform::Event::Failed);
    logLastError("WaitForSingleObject");
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"WaitForSingleObject failed with error " + std::to_string(EBADF) +
                                        ": " + std::strerror(EBADF)}));
}

// ---- the statistics, read by another process during a real-time run ----------------------------------

TEST_F(Streaming, TheStatisticsGrowWhileARealTimeRunGoesOn)
{
    devsim("set u1 period-clock real");
    ASSERT_TRUE(prepare({in(0), out(0)}));
    ASSERT_EQ(driver->start(), ASE_OK);
    auto readStatistics = [&]()
    {
        const std::string command = std::string(DEVSIM_PATH) + " dump u1";
        std::string text;
        if (FILE* p = ::popen(command.c_str(), "r"))
        {
            char line[512];
            while (std::fgets(line, sizeof line, p) != nullptr)
                text += line;
            ::pclose(p);
        }
        std::istringstream lines(text);
        std::vector<uint64_t> values;
        for (std::string l; std::getline(lines, l);)
            if (l.rfind("statistics ", 0) == 0)
            {
                std::istringstream words(l);
                for (std::string w; words >> w;)
                    if (!w.empty() && std::isdigit(static_cast<unsigned char>(w[0])))
                        values.push_back(std::stoull(w));
            }
        return values;
    };
    // Playback and record counts, then the averages and maxima of the four times: the counts go on
    // growing while the run goes on, however fast it goes.
    std::vector<uint64_t> first;
    ASSERT_TRUE(testsupport::waitUntil(
        [&]
        {
            first = readStatistics();
            return first.size() == 10 && first[0] > 10;
        }));
    std::vector<uint64_t> second;
    ASSERT_TRUE(testsupport::waitUntil(
        [&]
        {
            second = readStatistics();
            return second.size() == 10 && second[0] > first[0] && second[1] > first[1];
        }));
    EXPECT_GT(second[2 + 5], 0u) << "wake-up maximum";
    EXPECT_GT(second[2 + 7], 0u) << "host maximum";
    EXPECT_TRUE(host.waitForSwitches(11));
}
