// The hardware thread against the simulator: the SET and GET queues, the retry rule with its debug
// lines, banked controls, and the state block's flash write when the window closes.

#include "ConsoleTestSupport.h"
#include "console/core/ConsoleState.h"
#include "console/core/DeviceRead.h"
#include "console/core/HwThread.h"
#include "platform/Debug.h"

#include <atomic>
#include <memory>

using namespace console;
using namespace consoletest;

namespace
{

class TestWindow : public HwThreadHost
{
public:
    std::unique_ptr<FlashProgress> createFlashProgress() override
    {
        return std::make_unique<RecordingFlashProgress>(progress);
    }
    void hardwareThreadFinished() override { finished.store(true); }
    std::atomic<bool> finished{false};
    std::shared_ptr<FlashProgressLog> progress = std::make_shared<FlashProgressLog>();
};

// Output 0's mute: one value, stored into the image by the message thread, sent from the image.
class MuteControl : public HwCtrl
{
public:
    explicit MuteControl(HwCtrlList& list) : HwCtrl(list) {}

    void readFromDevice() override {}
    void writeToDevice() override
    {
        const int value = getHwThread().getState().getByte(ConsoleState::kOutputRecords);
        handleSetResult(getHwThread().getDevice().setOutputMute(0, value));
    }
    void loadFromState(ConsoleState& state, bool) override
    {
        muted = state.getByte(ConsoleState::kOutputRecords);
    }
    void storeToState(ConsoleState& state) override
    {
        ++stores;
        state.setByte(ConsoleState::kOutputRecords, uint8_t(muted));
    }
    void resetToDefault() override {}

    int muted = 0; // message thread
    int stores = 0;
};

// Output 0's gain, read from the device and shown in handleCommandMessage on the message thread.
class GainReader : public HwCtrl, public juce::Component
{
public:
    explicit GainReader(HwCtrlList& list) : HwCtrl(list) {}

    void readFromDevice() override
    {
        float db = 0.0f;
        const int result = getHwThread().getDevice().getOutputGain(0, db);
        if (result == 0)
            lastRead.store(db);
        handleGetResult(result, this);
    }
    void writeToDevice() override {}
    void loadFromState(ConsoleState&, bool) override {}
    void storeToState(ConsoleState&) override {}
    void resetToDefault() override {}
    void handleCommandMessage(int id) override
    {
        if (id == 0)
        {
            shown = lastRead.load();
            ++shows;
        }
    }

    std::atomic<float> lastRead{0.0f};
    float shown = 1.0f; // message thread
    int shows = 0;
};

// The monitor gains of every input in mix 0: one dirty bit per input.
class MonitorGains : public HwCtrlBanked
{
public:
    explicit MonitorGains(HwCtrlList& list) : HwCtrlBanked(list) {}

    void readFromDevice() override {}
    void writeToDevice() override
    {
        const int input = nextDirty();
        if (input < 0)
            return;
        const float db = getHwThread().getState().getMonitorGain(input, 0);
        handleBankedSetResult(input, getHwThread().getDevice().setMonitorGain(input, 0, db));
    }
    void loadFromState(ConsoleState&, bool send) override
    {
        if (send)
            markDirtyRange(0, inputs, 1);
    }
    void storeToState(ConsoleState& state) override { state.setMonitorGain(shownInput, 0, shownDb); }
    void resetToDefault() override {}

    int inputs = 4;
    int shownInput = 0;
    float shownDb = 0.0f;
};

class HwThreadTest : public ::testing::Test
{
protected:
    void SetUp() override { plug("--model st8"); }

    void plug(const std::string& how)
    {
        ASSERT_EQ(bus.devsim("plug u1 " + how), 0) << bus.err;
        device = firstDevice();
        ASSERT_NE(device, nullptr);
        ASSERT_TRUE(device->open());
        state = std::make_unique<ConsoleState>(*device);
        ASSERT_EQ(state->readFromDevice(), 0);
        thread = std::make_unique<hwthread>(&window, *state, *device);
        list = std::make_unique<HwCtrlList>(*thread);
    }

    void TearDown() override
    {
        list.reset();
        thread.reset();
    }

    // Waits, without running the message loop, until the running thread has done everything queued.
    void drainThread()
    {
        ThreadBarrier barrier(*list);
        barrier.queue();
        ASSERT_TRUE(waitUntil([&] { return barrier.passed(); }));
    }

    // Ends the thread without a flash write; the test's controls may go after this.
    void shutDown()
    {
        thread->clearWindow();
        thread->stop();
        ASSERT_TRUE(thread->waitForStop(kHangMs));
    }

    // Closes the window the way its close button does and waits for the thread's end.
    void closeWindow()
    {
        thread->stop();
        ASSERT_TRUE(pumpUntil([&] { return window.finished.load() && !thread->isThreadRunning(); }));
        ASSERT_TRUE(pumpUntil([&] { return thread->getFlashProgress() == nullptr; }));
    }

    // Closes a window of its own on this image the way its close button does; waits for its thread's end.
    void closeWindowOn(ConsoleState& image, TestWindow& w)
    {
        hwthread t(&w, image, *device);
        t.startThread();
        t.stop();
        ASSERT_TRUE(pumpUntil([&] { return w.finished.load(); }));
    }

    // Switches the unit off and on again, its faults cleared, and opens its device again.
    void powerCycle()
    {
        ASSERT_EQ(bus.devsim("unplug u1"), 0) << bus.err;
        ASSERT_EQ(bus.devsim("fault u1 clear"), 0) << bus.err;
        ASSERT_EQ(bus.devsim("plug u1"), 0) << bus.err;
        device->close();
        ASSERT_TRUE(device->open());
    }

    uint32_t sessionBase()
    {
        uint32_t base = 0;
        EXPECT_EQ(device->getSessionBase(base), 0);
        return base;
    }

    testsupport::TempBus bus;
    device::vhw::Ptr device;
    std::unique_ptr<ConsoleState> state;
    TestWindow window;
    std::unique_ptr<hwthread> thread;
    std::unique_ptr<HwCtrlList> list;
};

} // namespace

TEST_F(HwThreadTest, ControlQueuedTwiceBeforeTheThreadWakesIsSentOnceWithTheLatestValue)
{
    MuteControl mute(*list);
    Trace trace(bus.dir);
    mute.muted = 1;
    thread->queueSet(mute);
    mute.muted = 2;
    thread->queueSet(mute);
    EXPECT_EQ(mute.stores, 2);
    thread->startThread();
    thread->notify();
    drainThread();
    const auto sets = trace.vdc(4);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].params, (std::vector<uint32_t>{0, 2}));
    shutDown();
}

TEST_F(HwThreadTest, SetsOfATurnGoBeforeItsGets)
{
    MuteControl mute(*list);
    GainReader reader(*list);
    Trace trace(bus.dir);
    thread->queueGet(reader);
    thread->queueSet(mute);
    thread->startThread();
    ASSERT_TRUE(pumpUntil([&] { return reader.shows == 1; }));
    const auto cmds = trace.vdc(4);
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].command, 2u);
    EXPECT_EQ(cmds[1].command, 1u);
    shutDown();
}

TEST_F(HwThreadTest, ReadResultsReachTheWidgetOnlyOnTheMessageThread)
{
    ASSERT_EQ(device->setOutputGain(0, -12.0f), 0);
    GainReader reader(*list);
    thread->startThread();
    thread->queueGet(reader);
    drainThread();
    EXPECT_EQ(reader.shows, 0) << "nothing is shown while the message loop does not run";
    ASSERT_TRUE(pumpUntil([&] { return reader.shows == 1; }));
    EXPECT_NEAR(reader.shown, -12.0f, 0.01f);
    shutDown();
}

TEST_F(HwThreadTest, ADeviceReadSkipsAChannelStillToSendAndDropsAResultBegunBeforeTheLatestMark)
{
    MonitorGains gains(*list);
    DeviceRead read(gains);
    int channel = -1;
    float value = 0.0f;
    uint32_t generation = 0;
    EXPECT_FALSE(read.take(channel, value));
    // A marked channel still holds its old value in the device: not read until it was sent.
    gains.markDirty(3);
    EXPECT_FALSE(read.begin(3, generation));
    EXPECT_EQ(gains.nextDirty(), 3);
    ASSERT_TRUE(read.begin(3, generation));
    // A mark after the read began: the result is dropped, and not offered again.
    gains.markDirty(5);
    read.put(3, -6.0f, generation);
    EXPECT_FALSE(read.take(channel, value));
    EXPECT_FALSE(read.take(channel, value));
    // Two reads since: the newer is taken, once.
    ASSERT_TRUE(read.begin(3, generation));
    read.put(3, -6.0f, generation);
    read.put(39, -12.5f, generation);
    ASSERT_TRUE(read.take(channel, value));
    EXPECT_EQ(channel, 39);
    EXPECT_FLOAT_EQ(value, -12.5f);
    EXPECT_FALSE(read.take(channel, value));
}

TEST_F(HwThreadTest, ADeviceReadOfAControlWithoutChannelsWaitsForItsSetAndDropsAResultBegunBeforeOne)
{
    MuteControl mute(*list);
    DeviceRead read(mute);
    int channel = -1;
    int32_t value = 0;
    uint32_t generation = 0;
    // A SET queued counts as a change: a result begun before it is dropped, and no read begins while
    // the device still holds the value it replaces.
    ASSERT_TRUE(read.begin(0, generation));
    thread->queueSet(mute);
    read.put(0, int32_t(1), generation);
    EXPECT_FALSE(read.take(channel, value));
    EXPECT_FALSE(read.begin(0, generation));
    // Once the thread has taken the SET, a read begins, and its result is taken.
    thread->startThread();
    thread->notify();
    ASSERT_TRUE(pumpUntil([&] { return read.begin(0, generation); }));
    read.put(0, int32_t(-7), generation);
    ASSERT_TRUE(read.take(channel, value));
    EXPECT_EQ(value, -7);
    shutDown();
}

TEST_F(HwThreadTest, GetAfterBusResetIsRetriedAfter60Ms)
{
    GainReader reader(*list);
    ASSERT_EQ(bus.devsim("fault u1 vdc:4/1 busreset 1"), 0) << bus.err;
    platform::DebugCapture debug;
    Trace trace(bus.dir);
    testsupport::ManualClock clock;
    thread->startThread();
    thread->queueGet(reader);
    ASSERT_TRUE(pumpUntil([&] { return reader.shows == 1; }));
    EXPECT_EQ(trace.vdc(4).size(), 2u);
    EXPECT_EQ(clock.elapsed(), 60u + 2 * sim::os::kVdcTransactionMs) << "the two requests and the pause";
    EXPECT_TRUE(debug.contains("1394 bus reset for " + device->getUniqueName() + " - should try again"));
    EXPECT_TRUE(debug.contains("Console - get rval is -1 - sleeping"));
    shutDown();
}

TEST_F(HwThreadTest, GetAfterDeviceErrorIsDropped)
{
    GainReader reader(*list);
    ASSERT_EQ(bus.devsim("fault u1 vdc:4/1 vdr:3 1"), 0) << bus.err;
    platform::DebugCapture debug;
    Trace trace(bus.dir);
    thread->startThread();
    thread->queueGet(reader);
    drainThread();
    ASSERT_TRUE(pumpPosted());
    EXPECT_TRUE(debug.contains("Console - hard error for get - rval 2"));
    EXPECT_EQ(trace.vdc(4).size(), 1u);
    EXPECT_EQ(reader.shows, 0);
    EXPECT_TRUE(debug.contains("VDC error for " + device->getUniqueName() + " - rval 3"));
    shutDown();
}

TEST_F(HwThreadTest, SetAfterTimeoutIsRetriedAndAfterDeviceErrorDropped)
{
    MuteControl mute(*list);
    ASSERT_EQ(bus.devsim("fault u1 vdc:4/2 timeout 1"), 0) << bus.err;
    platform::DebugCapture debug;
    Trace trace(bus.dir);
    thread->startThread();
    mute.muted = 1;
    thread->queueSet(mute);
    ASSERT_TRUE(pumpUntil([&] { return trace.vdc(4).size() == 2; }));
    EXPECT_TRUE(debug.contains("VDR packet timeout for " + device->getUniqueName() + " - should try again"));
    EXPECT_TRUE(debug.contains("Console - set rval is -1 - sleeping"));

    ASSERT_EQ(bus.devsim("fault u1 vdc:4/2 vdr:9 1"), 0) << bus.err;
    thread->queueSet(mute);
    drainThread();
    EXPECT_TRUE(debug.contains("Console - hard error for set - rval 2"));
    EXPECT_EQ(trace.vdc(4).size(), 3u);
    shutDown();
}

TEST_F(HwThreadTest, BankedControlSendsEveryDirtyChannelAndRetriesTheOneThatFailed)
{
    MonitorGains gains(*list);
    for (int i = 0; i < 4; ++i)
        state->setMonitorGain(i, 0, -float(i));
    gains.loadFromState(*state, true);
    ASSERT_EQ(bus.devsim("fault u1 vdc:8/0 busreset 1 --after 1"), 0) << bus.err;
    Trace trace(bus.dir);
    thread->startThread();
    thread->requeueSet(gains);
    ASSERT_TRUE(pumpUntil([&] { return trace.vdc(8).size() == 5 && gains.getDirtyMask() == 0; }));
    std::vector<uint32_t> inputs;
    for (const auto& v : trace.vdc(8))
        inputs.push_back(v.params[0]);
    EXPECT_EQ(inputs, (std::vector<uint32_t>{0, 1, 1, 2, 3}));
    float db = 0.0f;
    ASSERT_EQ(device->getMonitorGain(1, 0, db), 0);
    EXPECT_NEAR(db, -1.0f, 0.01f);
    shutDown();
}

TEST_F(HwThreadTest, ClosingUnchangedWindowSendsNoFlashCommand)
{
    // First close stores the state, so the second window starts equal to the flash.
    state->setMonitorGain(0, 0, -3.0f);
    thread->startThread();
    closeWindow();

    ConsoleState reopened(*device);
    ASSERT_EQ(reopened.readFromDevice(), 0);
    TestWindow second;
    hwthread thread2(&second, reopened, *device);
    Trace trace(bus.dir);
    thread2.startThread();
    thread2.stop();
    ASSERT_TRUE(pumpUntil([&] { return second.finished.load(); }));
    EXPECT_EQ(thread2.getFlashProgress(), nullptr);
    EXPECT_TRUE(trace.vdc(1).empty());
    EXPECT_NEAR(reopened.getMonitorGain(0, 0), -3.0f, 0.01f);
}

namespace
{

// The expected flash commands of a session write: lock, erases (each followed by status polls), the
// 53 writes of the block with its size word erased and the reads that check it, then the size word alone
// and its check, unlock.
void expectSessionWrite(const Trace& trace, uint32_t base, const std::vector<uint32_t>& erases, bool lock,
                        const std::vector<uint32_t>& image)
{
    std::vector<std::string> seq;
    for (const std::string& s : trace.flashSequence())
        if (s != "1/3" && (seq.empty() || s != seq.back() || (s != "1/2" && s != "1/1")))
            seq.push_back(s);
    std::vector<std::string> expected = {"1/4"};
    if (lock)
        expected.push_back("1/5:1");
    for (uint32_t e : erases)
    {
        char text[32];
        std::snprintf(text, sizeof text, "1/0:0x%x", e);
        expected.push_back(text);
    }
    for (const char* step : {"1/2", "1/1", "1/2", "1/1"})
        expected.push_back(step);
    if (lock)
        expected.push_back("1/5:0");
    EXPECT_EQ(seq, expected);

    const auto writes = trace.vdc(1);
    std::vector<VdcLine> w;
    for (const auto& v : writes)
        if (v.command == 2)
            w.push_back(v);
    ASSERT_EQ(w.size(), 54u);
    for (size_t i = 0; i < 53; ++i)
    {
        ASSERT_EQ(w[i].params[0], base + 256 * i) << i;
        ASSERT_EQ(w[i].params[1], i < 52 ? 64u : 20u) << i;
    }
    ASSERT_GE(w[0].params.size(), 5u);
    EXPECT_EQ(w[0].params[2], 0xFFFFFFFFu);
    EXPECT_EQ(w[0].params[3], image[1]);
    EXPECT_EQ(w[0].params[4], 512u);
    ASSERT_GE(w[53].params.size(), 3u);
    EXPECT_EQ(w[53].params[0], base);
    EXPECT_EQ(w[53].params[1], 1u);
    EXPECT_EQ(w[53].params[2], 3348u);
    for (const auto& v : writes)
    {
        if (v.command == 3)
        {
            EXPECT_TRUE(v.params.empty());
        }
    }
}

} // namespace

TEST_F(HwThreadTest, ChangedStateIsWrittenAtCloseFromAnAlignedSessionBase)
{
    ASSERT_EQ(bus.devsim("set u1 session-base 0x20000"), 0) << bus.err;
    state->setOutputGain(1, -6.0f);
    Trace trace(bus.dir);
    thread->startThread();
    thread->stop();
    ASSERT_NE(thread->getFlashProgress(), nullptr);
    ASSERT_TRUE(pumpUntil([&] { return window.finished.load(); }));

    std::vector<uint32_t> image(ConsoleState::kImageQuads);
    state->copyImage(image.data());
    EXPECT_EQ(image[0], 3348u);
    EXPECT_EQ(image[2], 512u);
    EXPECT_EQ(image[1], state->computeCrc());
    expectSessionWrite(trace, 0x20000, {0x20000}, true, image);
    EXPECT_EQ(readFlash(*device, 0x20000, ConsoleState::kImageQuads), image);
    EXPECT_EQ(thread->getSessionBase(), 0x20000u);
    ASSERT_TRUE(pumpUntil([&] { return thread->getFlashProgress() == nullptr; }));
    EXPECT_EQ(window.progress->statuses(), (std::vector<std::string>{"erasing...", "writing..."}));
    EXPECT_EQ(window.progress->progress.load(), 1.0f);
}

TEST_F(HwThreadTest, EraseCoversEveryBlockOfAnUnalignedSessionBase)
{
    ASSERT_EQ(bus.devsim("set u1 session-base 0x9000"), 0) << bus.err;
    state->setOutputGain(1, -6.0f);
    Trace trace(bus.dir);
    thread->startThread();
    closeWindow();
    std::vector<uint32_t> image(ConsoleState::kImageQuads);
    state->copyImage(image.data());
    expectSessionWrite(trace, 0x9000, {0x8000, 0xA000, 0xC000}, true, image);
    EXPECT_EQ(readFlash(*device, 0x9000, ConsoleState::kImageQuads), image);
}

TEST_F(HwThreadTest, SessionBaseBelow64KUsesSmallBlocks)
{
    ASSERT_EQ(bus.devsim("set u1 session-base 0x8000"), 0) << bus.err;
    state->setOutputGain(1, -6.0f);
    Trace trace(bus.dir);
    thread->startThread();
    closeWindow();
    std::vector<uint32_t> image(ConsoleState::kImageQuads);
    state->copyImage(image.data());
    expectSessionWrite(trace, 0x8000, {0x8000, 0xA000}, true, image);
}

TEST_F(HwThreadTest, DeviceWithoutFlashLockGetsNoLockCommands)
{
    thread.reset();
    list.reset();
    ASSERT_EQ(bus.devsim("unplug u1"), 0) << bus.err;
    ASSERT_EQ(bus.devsim("reset"), 0) << bus.err;
    plug("--caps " + writeCapsFile(bus.dir, 0x3B71, 0x5E8, 0x04080000, 0x04080000, true));
    ASSERT_TRUE(device->getCaps().hasNoFlashLock());
    state->setOutputGain(1, -6.0f);
    Trace trace(bus.dir);
    thread->startThread();
    closeWindow();
    std::vector<uint32_t> image(ConsoleState::kImageQuads);
    state->copyImage(image.data());
    const uint32_t base = thread->getSessionBase();
    std::vector<uint32_t> erases;
    for (uint32_t b = base; b < base + ConsoleState::kImageBytes;)
    {
        const uint32_t size = b < 0x10000 ? 0x2000 : 0x10000;
        b &= ~(size - 1);
        erases.push_back(b);
        b += size;
    }
    expectSessionWrite(trace, base, erases, false, image);
}

TEST_F(HwThreadTest, FailedSessionReadIsNeverWrittenAtClose)
{
    ASSERT_EQ(bus.devsim("fault u1 vdc:0/3 vdr:5 1 --after 20"), 0) << bus.err;
    ConsoleState failed(*device);
    EXPECT_EQ(failed.readFromDevice(), 2);
    failed.setOutputGain(0, -10.0f);
    TestWindow w;
    hwthread t(&w, failed, *device);
    Trace trace(bus.dir);
    t.startThread();
    t.stop();
    ASSERT_TRUE(pumpUntil([&] { return w.finished.load(); }));
    EXPECT_TRUE(trace.vdc(1).empty());
}

TEST_F(HwThreadTest, EraseThatNeverBecomesReadySkipsTheWriteAndUnlocks)
{
    ASSERT_EQ(bus.devsim("set u1 flash.busy 1000"), 0) << bus.err;
    state->setOutputGain(1, -6.0f);
    platform::DebugCapture debug;
    Trace trace(bus.dir);
    testsupport::ManualClock clock;
    thread->startThread();
    thread->stop();
    ASSERT_TRUE(pumpUntil([&] { return window.finished.load(); }));
    EXPECT_EQ(window.progress->statuses().back(), "Unable to erase flash memory");
    const auto seq = trace.flashSequence();
    EXPECT_EQ(count(seq, "1/2"), 0);
    ASSERT_FALSE(seq.empty());
    EXPECT_EQ(seq.back(), "1/5:0");
    EXPECT_TRUE(debug.contains("Console - flash erase failed - rval 1"));
}

TEST_F(HwThreadTest, FailingWriteStopsAndUnlocks)
{
    ASSERT_EQ(bus.devsim("fault u1 vdc:1/2 vdr:4 1 --after 3"), 0) << bus.err;
    state->setOutputGain(1, -6.0f);
    platform::DebugCapture debug;
    Trace trace(bus.dir);
    thread->startThread();
    closeWindow();
    const auto seq = trace.flashSequence();
    EXPECT_EQ(count(seq, "1/2"), 4);
    EXPECT_EQ(seq.back(), "1/5:0");
    EXPECT_TRUE(debug.contains("Console - flash write failed - rval 2"));
}

TEST_F(HwThreadTest, ASaveCutShortLeavesNoSessionAndTheUnitPowersUpOnNoErasedValue)
{
    // The unit gone after the first chunk, in the middle, and before the last chunk.
    testsupport::ManualClock clock; // the failure shown for a second, the erase's waits: at once
    Trace trace(bus.dir);
    for (int written : {1, 26, 52})
    {
        SCOPED_TRACE(written);
        ASSERT_EQ(bus.devsim("fault u1 vdc:1/2 fail always --after " + std::to_string(written)), 0)
            << bus.err;
        ConsoleState changed(*device);
        changed.readFromDevice();
        changed.markWholeImage(); // after the first cut the flash holds no session
        changed.setOutputGain(1, -6.0f);
        TestWindow w;
        trace.clear();
        ASSERT_NO_FATAL_FAILURE(closeWindowOn(changed, w));
        EXPECT_EQ(count(trace.flashSequence(), "1/2"), written + 1);
        EXPECT_EQ(readFlash(*device, sessionBase(), 1), std::vector<uint32_t>{0xFFFFFFFFu});

        ASSERT_NO_FATAL_FAILURE(powerCycle());
        ASSERT_EQ(bus.devsim("dump u1"), 0) << bus.err;
        EXPECT_EQ(bus.out.find("4294967295"), std::string::npos) << bus.out;
    }
}

TEST_F(HwThreadTest, ABlockThatDoesNotReadBackAsWrittenIsWrittenOnceMoreAndNeverBecomesTheSession)
{
    // Writes that keep a wrong bit (a worn flash): the 26th write of a pass holds playback gain 0, whose
    // 0 dB loses its one set bit (-144 dB). Damaged in the first pass only, the block is erased and
    // written again, and the unit powers up on the user's session; damaged in both (the second fault
    // counts every write but the one the first damages: it damages the 26th of the second pass), the
    // size word stays erased and the unit powers up on its factory session.
    testsupport::ManualClock clock; // the failure shown for a second, the erase's waits: at once
    Trace trace(bus.dir);
    struct Case
    {
        std::vector<const char*> faults;
        float outputGain; // set by the user
        bool stored;
    };
    for (const Case& c :
         {Case{{"--after 25"}, -6.0f, true}, Case{{"--after 25", "--after 77"}, -9.0f, false}})
    {
        SCOPED_TRACE(c.stored);
        for (const char* after : c.faults)
            ASSERT_EQ(bus.devsim(std::string("fault u1 vdc:1/2 corrupt 1 ") + after), 0) << bus.err;
        ConsoleState changed(*device);
        ASSERT_EQ(changed.readFromDevice(), 0);
        changed.setOutputGain(1, c.outputGain);
        TestWindow w;
        trace.clear();
        ASSERT_NO_FATAL_FAILURE(closeWindowOn(changed, w));
        EXPECT_EQ(count(trace.flashSequence(), "1/2"), c.stored ? 107 : 106) << "two passes of 53";
        EXPECT_EQ(w.progress->showed("Unable to write flash memory"), !c.stored);
        EXPECT_EQ(readFlash(*device, sessionBase(), 1),
                  std::vector<uint32_t>{c.stored ? 3348u : 0xFFFFFFFFu});

        ASSERT_NO_FATAL_FAILURE(powerCycle());
        float db = 1.0f;
        ASSERT_EQ(device->getPlaybackGain(0, db), 0);
        EXPECT_NEAR(db, 0.0f, 0.01f);
        ASSERT_EQ(device->getOutputGain(1, db), 0);
        EXPECT_NEAR(db, c.stored ? c.outputGain : 0.0f, 0.01f);
    }
}

TEST_F(HwThreadTest, EraseAndWriteTheDeviceAsksToRepeatArePausedBetweenTries)
{
    struct Case
    {
        const char* fault;
        uint32_t command;
        const char* logged;
    };
    for (const Case& c :
         {Case{"fault u1 vdc:1/0 busreset always", 0, "Console - flash erase failed - rval 1"},
          Case{"fault u1 vdc:1/2 busreset always", 2, "Console - flash write failed - rval 1"}})
    {
        SCOPED_TRACE(c.fault);
        ASSERT_EQ(bus.devsim("fault u1 clear"), 0) << bus.err;
        ASSERT_EQ(bus.devsim(c.fault), 0) << bus.err;
        ConsoleState changed(*device);
        ASSERT_EQ(changed.readFromDevice(), 0);
        changed.setOutputGain(1, -6.0f);
        TestWindow w;
        hwthread t(&w, changed, *device);
        platform::DebugCapture debug;
        Trace trace(bus.dir);
        testsupport::ManualClock clock;
        t.startThread();
        t.stop();
        ASSERT_TRUE(pumpUntil([&] { return w.finished.load(); }));
        int tries = 0;
        for (const VdcLine& v : trace.vdc(1))
            tries += v.command == c.command ? 1 : 0;
        // The step gives up once 2000 ms pass without progress. A try is a request (1 ms of the manual
        // clock) and a 10 ms pause, so the tries start at 0, 11, ... 1991 ms: not a tight loop.
        EXPECT_EQ(tries, 1991 / (10 + int(sim::os::kVdcTransactionMs)) + 1);
        EXPECT_TRUE(debug.contains(c.logged));
    }
}

TEST_F(HwThreadTest, WindowClosedByTheApplicationSkipsFlashAndFinish)
{
    state->setOutputGain(1, -6.0f);
    Trace trace(bus.dir);
    thread->startThread();
    thread->clearWindow();
    thread->stop();
    ASSERT_TRUE(thread->waitForStop(kHangMs));
    EXPECT_FALSE(window.finished.load());
    EXPECT_TRUE(trace.vdc(1).empty());
}
