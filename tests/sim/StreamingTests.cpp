// The simulated kernel driver's streaming: the client, its claims, the period clock in step mode, the
// capture content and what a client's end leaves behind.

#include "SimClient.h"
#include "simos/Event.h"

#include <sys/wait.h>

using namespace simtest;

namespace
{

constexpr int kCompleted = 0;
constexpr int kCaptureTable = 344;
constexpr int kCaptureIndex = 368;
constexpr int kPlaybackIndex = 80;

// A unit with an open handle, its clock in step mode, at 32 frames.
struct StreamUnit : OneUnit
{
    StreamUnit() : OneUnit("--model st8")
    {
        run("set u1 buffer-size 32");
        run("set u1 period-clock step");
        event = sim::os::createEvent();
    }
    ~StreamUnit() { sim::os::closeEvent(event); }

    ControlReply open(intptr_t h) { return control(h, 1, {1, uint32_t(event), uint32_t(event >> 32)}, 1); }

    template <typename T> static T at(const uint8_t* block, int offset)
    {
        T v;
        std::memcpy(&v, block + offset, sizeof v);
        return v;
    }

    sim::os::EventHandle event = 0;
};

} // namespace

TEST(SimStreaming, OpeningAnswersTheSharedBlockWithBothIndexesNotRunning)
{
    StreamUnit u;
    const ControlReply r = u.open(u.handle);
    ASSERT_EQ(r.status(), 0);
    EXPECT_NE(r.word(32), 0u);
    uint64_t address;
    std::memcpy(&address, r.block + 24, 8);
    const auto* block = reinterpret_cast<const uint8_t*>(address);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(StreamUnit::at<int32_t>(block, kCaptureIndex), -1);
    EXPECT_EQ(StreamUnit::at<int32_t>(block, kPlaybackIndex), -1);
    EXPECT_EQ(StreamUnit::at<uint32_t>(block, 76), 32u);
    EXPECT_EQ(StreamUnit::at<uint32_t>(block, 364), 32u);
    EXPECT_EQ(u.open(u.handle).status(), int32_t(0x80000011)) << "one client per unit";
    const intptr_t other = sim::kernel::open(pathOf("u1"));
    EXPECT_NE(u.open(other).status(), 0);
    EXPECT_NE(control(other, 5, {}).status(), 0) << "only the client starts";
    sim::kernel::close(other);
}

TEST(SimStreaming, AnEventHandleThatNamesNothingIsRefused)
{
    StreamUnit u;
    EXPECT_EQ(uint32_t(control(u.handle, 1, {1, 0x12345, 0}, 1).status()), 0xC0000008u);
}

TEST(SimStreaming, ClaimsTakeFreeAndOwnChannelsAndRefuseOthers)
{
    StreamUnit u;
    ASSERT_EQ(u.open(u.handle).status(), 0);
    u.run("set u1 held.out 3,5");
    u.run("set u1 held.in 0");
    EXPECT_EQ(control(u.handle, 4, {0, 2}).status(), 0);
    EXPECT_EQ(control(u.handle, 4, {0, 2}).status(), 0) << "a channel the client already holds";
    EXPECT_EQ(uint32_t(control(u.handle, 4, {0, 3}).status()), 0xC0000043u);
    EXPECT_EQ(uint32_t(control(u.handle, 4, {1, 0}).status()), 0xC0000043u);
    EXPECT_EQ(control(u.handle, 4, {1, 1}).status(), 0);
    EXPECT_EQ(uint32_t(control(u.handle, 4, {0, 12}).status()), 0xC000000Du) << "st8 plays 12 channels";
    EXPECT_EQ(u.dumped("u1", "claimed"), "out 2 in 1");
    EXPECT_EQ(u.dumped("u1", "held"), "out 3,5 in 0");
    EXPECT_EQ(control(u.handle, 2, {}).status(), 0);
    EXPECT_EQ(u.dumped("u1", "claimed"), "out none in none") << "closing drops the claims";
}

TEST(SimStreaming, EachStepIsOnePeriodWithThePatternIndexesCountAndSignal)
{
    StreamUnit u;
    const ControlReply r = u.open(u.handle);
    uint64_t address;
    std::memcpy(&address, r.block + 24, 8);
    const auto* block = reinterpret_cast<const uint8_t*>(address);
    EXPECT_NE(u.devsim("step u1"), 0) << "not started: no clock";
    ASSERT_EQ(control(u.handle, 5, {}).status(), 0);
    EXPECT_EQ(sim::os::waitForEvent(u.event, 0), 0x102) << "no signal before the first period";
    for (uint32_t n = 0; n < 5; ++n)
    {
        u.run("step u1");
        EXPECT_EQ(sim::os::waitForEvent(u.event, 0), 0) << n << ": the step returns once its period is done";
        EXPECT_EQ(StreamUnit::at<uint32_t>(block, kCompleted), n + 1);
        const int32_t index = StreamUnit::at<int32_t>(block, kCaptureIndex);
        EXPECT_EQ(index, int32_t((n % 4) * 32));
        EXPECT_EQ(StreamUnit::at<int32_t>(block, kPlaybackIndex), index);
        const auto* table = reinterpret_cast<const uint64_t*>(StreamUnit::at<uint64_t>(block, kCaptureTable));
        for (uint32_t j = 0; j < 32; j += 31)
        {
            const auto* frame = reinterpret_cast<const uint8_t*>(table[index + j]);
            const uint32_t f = n * 32 + j;
            // Channel 7's slot, big-endian: A5, channel, frame high, frame low.
            const uint8_t expected[4] = {0xA5, 7, uint8_t(f >> 8), uint8_t(f)};
            EXPECT_EQ(std::memcmp(frame + 4 * 7, expected, 4), 0) << n << "/" << j;
        }
    }
    EXPECT_EQ(sim::os::waitForEvent(u.event, 0), 0x102) << "signals do not accumulate";
    u.run("step u1 3");
    EXPECT_EQ(sim::os::waitForEvent(u.event, 0), 0) << "three periods, one signal to consume";
    EXPECT_EQ(sim::os::waitForEvent(u.event, 0), 0x102);
    EXPECT_EQ(control(u.handle, 6, {}).status(), 0);
    EXPECT_NE(u.devsim("step u1"), 0);
}

TEST(SimStreaming, ALateClientCountsMissedPeriodsInTheFirmwareCounters)
{
    StreamUnit u;
    ASSERT_EQ(u.open(u.handle).status(), 0);
    ASSERT_EQ(control(u.handle, 5, {}).status(), 0);
    u.run("step u1 4"); // nobody copies anything: every period after the first is late both ways
    const VdcReply counters = vdc(u.handle, 0, 4, {}, 92);
    EXPECT_EQ(counters.p(1), 3u) << "DSP underrun";
    EXPECT_EQ(counters.p(2), 3u) << "DSP overflow";
    EXPECT_EQ(u.dumped("u1", "statistics"), "playback 3 record 4");
}

TEST(SimStreaming, WhileAClientHoldsTheUnitOnlyItSetsTheBufferSizeWhichWaitsForItsClose)
{
    StreamUnit u;
    ASSERT_EQ(u.open(u.handle).status(), 0);
    EXPECT_NE(u.devsim("set u1 buffer-size 64"), 0);
    const intptr_t other = sim::kernel::open(pathOf("u1"));
    EXPECT_EQ(uint32_t(control(other, 9, {64}).status()), 0x80000011u);
    sim::kernel::close(other);
    EXPECT_EQ(control(u.handle, 9, {128}).status(), 0);
    ControlReply info = control(u.handle, 3, {});
    EXPECT_EQ(info.word(12 + 4 * 4), 32u) << "streaming size";
    EXPECT_EQ(info.word(12 + 4 * 8), 128u) << "configured size";
    EXPECT_EQ(control(u.handle, 2, {}).status(), 0);
    info = control(u.handle, 3, {});
    EXPECT_EQ(info.word(12 + 4 * 4), 128u);
}

TEST(SimStreaming, ClosingTheHandleEndsItsClient)
{
    StreamUnit u;
    ASSERT_EQ(u.open(u.handle).status(), 0);
    ASSERT_EQ(control(u.handle, 5, {}).status(), 0);
    sim::kernel::close(u.handle);
    u.handle = sim::kernel::open(pathOf("u1"));
    EXPECT_EQ(u.open(u.handle).status(), 0);
}

TEST(SimStreaming, AClientWhoseProcessEndedNoLongerHoldsTheUnit)
{
    StreamUnit u;
    const pid_t child = ::fork();
    if (child == 0)
    {
        const intptr_t h = sim::kernel::open(pathOf("u1"));
        const sim::os::EventHandle e = sim::os::createEvent();
        const ControlReply r = control(h, 1, {1, uint32_t(e), uint32_t(e >> 32)}, 1);
        const ControlReply size = control(h, 9, {128});         // pending until the client ends
        ::_exit(r.status() == 0 && size.status() == 0 ? 0 : 1); // ends without closing anything
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    // The first request that asks is told the size the unit streams at now.
    EXPECT_EQ(control(u.handle, 3, {}).word(12 + 4 * 4), 128u) << "streaming size";
    EXPECT_EQ(u.open(u.handle).status(), 0);
}

TEST(SimStreaming, CaptureModesAreKnobsAndBadValuesAreRefused)
{
    Bus bus;
    bus.run("plug u1 --model st4");
    EXPECT_EQ(bus.dumped("u1", "streaming capture"), "pattern period-clock real pending buffer 0");
    bus.run("set u1 capture loopback:3");
    bus.run("set u1 period-clock step");
    EXPECT_EQ(bus.dumped("u1", "streaming capture"), "loopback:3 period-clock step pending buffer 0");
    EXPECT_EQ(bus.devsim("set u1 capture loopback:0"), 2);
    EXPECT_EQ(bus.devsim("set u1 capture noise"), 2);
    bus.run("set u1 held.out 7");
    bus.run("set u1 held.in 2");
    bus.run("set u1 completed 9");
    for (const char* refused : {"held.out 7,x", "held.out 3,", "held.out 64", "held.out +3", "held.in 99",
                                "completed +5", "completed -1", "capture loopback:+2"})
        EXPECT_EQ(bus.devsim(std::string("set u1 ") + refused), 2) << refused;
    EXPECT_EQ(bus.dumped("u1", "held"), "out 7 in 2") << "a refused list changes nothing";
    bus.run("set u1 capture silence");
    EXPECT_EQ(bus.dumped("u1", "streaming capture").rfind("silence", 0), 0u);
}
