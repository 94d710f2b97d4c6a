// The kernel driver's own answers, the wire's edges and the faults.

#include "SimClient.h"
#include "WaitUntil.h"

#include <atomic>
#include <sys/wait.h>
#include <thread>

using namespace simtest;

TEST(SimDriver, DriverInformationCarriesFlagsRateClockAndBufferSizes)
{
    OneUnit bus;
    ASSERT_EQ(vdc(bus.handle, 3, 0, {1, 96000, 0}, 28).vdr(), 0u);
    const ControlReply r = control(bus.handle, 3, {});
    ASSERT_TRUE(r.callOk);
    EXPECT_EQ(r.size, 64u);
    EXPECT_EQ(r.status(), 0);
    const uint32_t expected[9] = {0, 0, 96000, 1, 256, 32, 2048, 32, 256};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(r.word(12 + 4 * i), expected[i]) << "word " << i;
}

TEST(SimDriver, DriverFlagsKeepTheMaskThenSetTheBits)
{
    OneUnit bus;
    auto flags = [&] { return control(bus.handle, 3, {}).word(16); };
    control(bus.handle, 10, {0xFFFFFFFF, 2});
    control(bus.handle, 10, {0xFFFFFFFF, 1});
    EXPECT_EQ(flags(), 3u);
    control(bus.handle, 10, {0xFFFFFFFE, 0});
    EXPECT_EQ(flags(), 2u);
    control(bus.handle, 10, {0, 1});
    EXPECT_EQ(flags(), 1u);
}

TEST(SimDriver, BufferSizesOutsideTheRangeOrStepAreRefused)
{
    OneUnit bus;
    EXPECT_EQ(control(bus.handle, 9, {512}).status(), 0);
    for (uint32_t size : {0u, 500u, 16u, 4096u})
        EXPECT_NE(control(bus.handle, 9, {size}).status(), 0) << size;
    const ControlReply r = control(bus.handle, 3, {});
    EXPECT_EQ(r.word(28), 512u);
    EXPECT_EQ(r.word(44), 512u);
    bus.run("set u1 buffer-size 64");
    EXPECT_EQ(control(bus.handle, 3, {}).word(44), 64u);
}

TEST(SimDriver, TheDriverSampleRateIsTheUnitsClockRate)
{
    OneUnit bus("--model d8"); // 44.1 to 96 kHz
    EXPECT_EQ(control(bus.handle, 15, {}).word(12), 48000u);
    EXPECT_TRUE(control(bus.handle, 16, {88200}).callOk);
    EXPECT_EQ(vdc(bus.handle, 3, 1, {}, 40).p(1), 88200u);
    EXPECT_FALSE(control(bus.handle, 16, {192000}).callOk);
    EXPECT_FALSE(control(bus.handle, 16, {32000}).callOk);
    EXPECT_EQ(control(bus.handle, 15, {}).word(12), 88200u);
}

TEST(SimDriver, EveryHandleAndProcessReadsTheSameStatisticsBlock)
{
    OneUnit bus;
    const ControlReply r = control(bus.handle, 7, {});
    ASSERT_TRUE(r.callOk);
    auto* block = reinterpret_cast<uint8_t*>(r.address());
    ASSERT_NE(block, nullptr);
    const intptr_t other = sim::kernel::open(pathOf("u1"));
    EXPECT_EQ(control(other, 7, {}).address(), r.address());
    sim::kernel::close(other);
    put32(block + 124, 99); // as the streaming engine counts
    EXPECT_EQ(bus.dumped("u1", "statistics"), "playback 99 record 0");
    EXPECT_EQ(control(bus.handle, 8, {}).status(), 0);
    EXPECT_EQ(get32(block + 124), 0u);
}

TEST(SimDriver, StreamingRequestsAnswerAFailureStatusAndUnknownOnesAnother)
{
    OneUnit bus;
    for (uint32_t code : {1u, 2u, 4u, 5u, 6u})
    {
        const ControlReply r = control(bus.handle, code, {1, 0, 0}, code == 1 ? 1 : 0);
        EXPECT_TRUE(r.callOk);
        EXPECT_LT(r.status(), 0) << code;
    }
    EXPECT_EQ(uint32_t(control(bus.handle, 12, {}).status()), 0xC0000010u);
}

TEST(SimDriver, ShortBuffersAndUnknownCodesFailTheCall)
{
    OneUnit bus;
    uint8_t block[308] = {};
    put32(block + 8, 3);
    EXPECT_FALSE(sim::kernel::ioctl(bus.handle, kControlIoctl, block, 32, block, 64, nullptr));
    EXPECT_FALSE(sim::kernel::ioctl(bus.handle, kControlIoctl, block, 64, block, 63, nullptr));
    EXPECT_FALSE(vdc(bus.handle, 3, 1, {}, 20).callOk);
    EXPECT_FALSE(vdc(bus.handle, 3, 1, {}, 40, 6, 24).callOk);
    EXPECT_FALSE(sim::kernel::ioctl(bus.handle, 0x1D200C, block, 4, block, 4, nullptr));
    uint32_t version = 0;
    EXPECT_FALSE(sim::kernel::ioctl(bus.handle, kVersionIoctl, nullptr, 0, &version, 2, nullptr));
    EXPECT_FALSE(sim::kernel::ioctl(0x7777, kVersionIoctl, nullptr, 0, &version, 4, nullptr));
}

TEST(SimDriver, PacketsWithABadLengthWordGetAnInvalidParameterStatus)
{
    OneUnit bus;
    for (uint32_t length : {5u, 77u})
    {
        const VdcReply r = vdc(bus.handle, 3, 1, {}, 40, length, 28);
        EXPECT_TRUE(r.callOk);
        EXPECT_EQ(r.nt(), 0xC000000Du);
        EXPECT_EQ(r.size, 28u);
    }
}

TEST(SimDriver, RepliesHaveTheirCommandsSizesBoundedByTheCallersBuffer)
{
    OneUnit bus;
    EXPECT_EQ(vdc(bus.handle, 1, 4, {}, 308).size, 32u);
    EXPECT_EQ(vdc(bus.handle, 3, 1, {}, 308).size, 40u);
    EXPECT_EQ(vdc(bus.handle, 4, 8, {0, 0}, 308).size, 28u);
    EXPECT_EQ(vdc(bus.handle, 1, 3, {}, 308, 8, 28).size, 308u);
    EXPECT_EQ(vdc(bus.handle, 0, 3, {0, 64}, 100).size, 100u);
    EXPECT_EQ(vdc(bus.handle, 7, 7, {}, 308).size, 28u) << "an unknown command has no reply size";
}

TEST(SimDriver, TheDriverVersionIsAKnob)
{
    OneUnit bus;
    uint32_t version = 0;
    uint32_t size = 0;
    ASSERT_TRUE(sim::kernel::ioctl(bus.handle, kVersionIoctl, nullptr, 0, &version, 4, &size));
    EXPECT_EQ(version, 0x04080000u);
    EXPECT_EQ(size, 4u);
    bus.run("set u1 driver-version 0x04080013");
    ASSERT_TRUE(sim::kernel::ioctl(bus.handle, kVersionIoctl, nullptr, 0, &version, 4, &size));
    EXPECT_EQ(version, 0x04080013u);
}

TEST(SimFaults, EachKindActsOnItsTargetForItsCount)
{
    OneUnit bus;
    bus.run("fault u1 vdc:3/5 timeout 2");
    bus.run("fault u1 vdc:4/0 vdr:7 always");
    EXPECT_EQ(vdc(bus.handle, 3, 1, {}, 40).nt(), 0u) << "another command passes";
    EXPECT_EQ(vdc(bus.handle, 3, 5, {}, 28).nt(), 0x102u);
    EXPECT_EQ(vdc(bus.handle, 3, 5, {}, 28).nt(), 0x102u);
    EXPECT_EQ(vdc(bus.handle, 3, 5, {}, 28).nt(), 0u);
    EXPECT_EQ(bus.dumped("u1", "identify"), "1") << "a faulted request is not carried out";
    for (int i = 0; i < 3; ++i)
    {
        const VdcReply r = vdc(bus.handle, 4, 0, {0, 5}, 36);
        EXPECT_EQ(r.vdr(), 7u);
        EXPECT_EQ(r.size, 36u);
    }
    EXPECT_EQ(vdc(bus.handle, 4, 1, {0, 0}, 36).p(1), 0x01000000u);
    bus.run("fault u1 clear");
    EXPECT_EQ(vdc(bus.handle, 4, 0, {0, 5}, 36).vdr(), 0u);

    bus.run("fault u1 vdc:any busreset 1");
    EXPECT_EQ(vdc(bus.handle, 6, 1, {0, 0}, 36).nt(), 0xC0120090u);
    bus.run("fault u1 vdc:0/1 fail 1");
    EXPECT_FALSE(vdc(bus.handle, 0, 1, {}, 464, 6, 28).callOk);
    bus.run("fault u1 dc:9 status:1 1");
    EXPECT_EQ(control(bus.handle, 9, {128}).status(), 1);
    EXPECT_EQ(control(bus.handle, 3, {}).word(44), 256u) << "the refused size was not taken";
    bus.run("fault u1 dc:3 fail 1");
    EXPECT_FALSE(control(bus.handle, 3, {}).callOk);
    EXPECT_TRUE(control(bus.handle, 3, {}).callOk);
    bus.run("fault u1 ver fail 1");
    uint32_t version = 0;
    EXPECT_FALSE(sim::kernel::ioctl(bus.handle, kVersionIoctl, nullptr, 0, &version, 4, nullptr));
    bus.run("fault u1 open fail 2");
    EXPECT_EQ(sim::kernel::open(pathOf("u1")), -1);
    EXPECT_EQ(sim::kernel::open(pathOf("u1")), -1);
    const intptr_t h = sim::kernel::open(pathOf("u1"));
    EXPECT_NE(h, -1);
    sim::kernel::close(h);
}

TEST(SimFaults, AfterLetsRequestsThroughAndFlashFaultsDamageWhatSucceeds)
{
    OneUnit bus;
    bus.run("fault u1 vdc:4/1 vdr:5 1 --after 2");
    EXPECT_EQ(vdc(bus.handle, 4, 1, {0, 0}, 36).vdr(), 0u);
    EXPECT_EQ(vdc(bus.handle, 4, 1, {0, 0}, 36).vdr(), 0u);
    EXPECT_EQ(vdc(bus.handle, 4, 1, {0, 0}, 36).vdr(), 5u);
    EXPECT_EQ(vdc(bus.handle, 4, 1, {0, 0}, 36).vdr(), 0u);

    // A corrupting write answers OK and clears the lowest set bit of the first quadlet that has one.
    bus.run("fault u1 vdc:1/2 corrupt 1");
    EXPECT_EQ(bus.dumped("u1", "fault"), "vdc:1/2 corrupt 1");
    uint8_t request[308] = {};
    const uint32_t words[] = {0, 72, 0, 0, 1, 2, 0, 0x1A0000, 2, 0, 0xF0F0F0F0};
    for (size_t i = 0; i < std::size(words); ++i)
        put32(request + 4 * i, words[i]);
    uint8_t reply[308];
    uint32_t size = 0;
    ASSERT_TRUE(sim::kernel::ioctl(bus.handle, kVdcIoctl, request, 292, reply, 308, &size));
    EXPECT_EQ(get32(reply + 24), 0u);
    const VdcReply r = vdc(bus.handle, 1, 1, {0x1A0000, 2}, 308);
    EXPECT_EQ(r.p(2), 0u);
    EXPECT_EQ(r.p(3), 0xF0F0F0E0u);

    // A stuck bit survives erases of its block only.
    bus.run("fault u1 vdc:1/0 stuck0:0x1A0004:5 always");
    EXPECT_EQ(bus.dumped("u1", "fault"), "vdc:1/0 stuck0:0x1a0004:5 always");
    ASSERT_EQ(vdc(bus.handle, 1, 0, {0x1A0000}, 308).vdr(), 0u);
    while (vdc(bus.handle, 1, 3, {}, 308, 8, 28).vdr() == 12)
    {
    }
    EXPECT_EQ(vdc(bus.handle, 1, 1, {0x1A0004, 1}, 308).p(2), 0xFFFFFFDFu);
    EXPECT_EQ(vdc(bus.handle, 1, 1, {0x1A0008, 1}, 308).p(2), 0xFFFFFFFFu);

    EXPECT_NE(bus.devsim("fault u1 vdc:1/1 corrupt 1"), 0);
    EXPECT_NE(bus.devsim("fault u1 vdc:1/0 stuck0:0x1A0002:5 1"), 0);
    EXPECT_NE(bus.devsim("fault u1 vdc:1/0 stuck0:0x1A0000:32 1"), 0);
}

TEST(SimFaults, AHoldKeepsItsRequestsUnansweredUntilItIsCleared)
{
    OneUnit bus;
    bus.run("fault u1 vdc:3/5 hold");
    EXPECT_NE(bus.devsim("fault u1 vdc:3/5 hold 2"), 0) << "a hold takes no count";
    std::atomic<bool> answered{false};
    std::thread held(
        [&]
        {
            EXPECT_EQ(vdc(bus.handle, 3, 5, {}, 28).nt(), 0u);
            answered.store(true);
        });
    EXPECT_TRUE(
        testsupport::waitUntil([&] { return bus.dumped("u1", "fault") == "vdc:3/5 hold holding 1"; }));
    EXPECT_EQ(vdc(bus.handle, 3, 1, {}, 40).nt(), 0u) << "other requests pass";
    EXPECT_FALSE(answered.load());
    bus.run("fault u1 clear");
    held.join();
    EXPECT_EQ(bus.dumped("u1", "identify"), "1") << "the held request is carried out once let go";

    // A driver-control request is held by its sub-code.
    bus.run("fault u1 dc:10 hold");
    EXPECT_NE(bus.devsim("fault u1 ver hold"), 0);
    std::thread heldControl([&] { EXPECT_TRUE(control(bus.handle, 10, {0xFFFFFFFF, 2}).callOk); });
    EXPECT_TRUE(testsupport::waitUntil([&] { return bus.dumped("u1", "fault") == "dc:10 hold holding 1"; }));
    EXPECT_EQ(control(bus.handle, 3, {}).word(16) & 2, 0u) << "not carried out while held";
    bus.run("fault u1 clear");
    heldControl.join();
    EXPECT_EQ(control(bus.handle, 3, {}).word(16) & 2, 2u);
}

TEST(SimFaults, AFaultSetByAnotherProcessActsHere)
{
    OneUnit bus;
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0)
    {
        ::execl(DEVSIM_PATH, "devsim", "fault", "u1", "vdc:1/4", "busreset", "always",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(vdc(bus.handle, 1, 4, {}, 32).nt(), 0xC0120090u);
    EXPECT_EQ(bus.dumped("u1", "fault"), "vdc:1/4 busreset always");
}
