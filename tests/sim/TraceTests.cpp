// The trace: one line per request of every process, in the documented form.

#include "SimClient.h"

#include <sys/wait.h>

using namespace simtest;
using testsupport::zeros;
using Lines = std::vector<std::string>;

namespace
{

} // namespace

TEST(SimTrace, EveryKindOfRequestLeavesItsLine)
{
    Bus bus;
    bus.run("plug u1 --model st8");
    Trace trace(bus.dir);
    const intptr_t h = sim::kernel::open(pathOf("u1"));
    vdc(h, 4, 0, {3, 16777216}, 36);
    vdc(h, 1, 3, {}, 308, 8, 28);
    vdc(h, 3, 1, {}, 40);
    control(h, 10, {0xFFFFFFFD, 0});
    control(h, 15, {});
    control(h, 5, {});
    uint32_t version = 0;
    sim::kernel::ioctl(h, kVersionIoctl, nullptr, 0, &version, 4, nullptr);
    sim::kernel::close(h);
    EXPECT_EQ(trace.lines(), (Lines{
                                 "pid u1 OPEN",
                                 "pid u1 VDC 4 0 8 3 16777216 => 0x0 0 3 16777216",
                                 "pid u1 VDC 1 3 8 => 0x0 0" + zeros(70),
                                 "pid u1 VDC 3 1 6 => 0x0 0 0 48000 0",
                                 "pid u1 DC 10 4294967293 => 0 4294967293",
                                 "pid u1 DC 15 => 0 48000",
                                 "pid u1 DC 5 => -1073741436",
                                 "pid u1 VER => 0x4080000",
                                 "pid u1 CLOSE",
                             }));
}

TEST(SimTrace, FailuresAndFaultedAnswersShowAsSuch)
{
    OneUnit bus;
    Trace trace(bus.dir);
    bus.run("fault u1 vdc:3/5 timeout 1");
    bus.run("fault u1 vdc:0/1 fail 1");
    bus.run("fault u1 dc:9 status:1 1");
    bus.run("fault u1 ver fail 1");
    vdc(bus.handle, 3, 5, {}, 28);
    vdc(bus.handle, 0, 1, {}, 464, 6, 28);
    control(bus.handle, 9, {128});
    uint32_t version = 0;
    sim::kernel::ioctl(bus.handle, kVersionIoctl, nullptr, 0, &version, 4, nullptr);
    bus.run("unplug u1");
    vdc(bus.handle, 3, 1, {}, 40);
    control(bus.handle, 3, {});
    sim::kernel::open(pathOf("u1"));
    sim::kernel::open(pathOf("nobody"));
    EXPECT_EQ(trace.lines(), (Lines{
                                 "pid u1 VDC 3 5 6 => 0x102 0",
                                 "pid u1 VDC 0 1 6 => FAIL",
                                 "pid u1 DC 9 128 => 1 128",
                                 "pid u1 VER => FAIL",
                                 "pid u1 VDC 3 1 6 => FAIL",
                                 "pid u1 DC 3 => FAIL",
                                 "pid u1 OPEN => FAIL",
                             }));
}

TEST(SimTrace, RequestParametersAreThoseTheRequestCarries)
{
    OneUnit bus;
    Trace trace(bus.dir);
    vdc(bus.handle, 8, 6, {4, 6, 128}, 40); // length 9: three parameters
    vdc(bus.handle, 4, 1, {1}, 36, 8, 32);  // length 8, but only one parameter sent
    vdc(bus.handle, 0, 4, {0}, 92, 22, 92); // length 22: sixteen parameters
    const Lines lines = trace.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "pid u1 VDC 8 6 9 4 6 128 => 0x0 0 4 6 128");
    EXPECT_EQ(lines[1], "pid u1 VDC 4 1 8 1 => 0x0 0 1 16777216");
    EXPECT_EQ(lines[2], "pid u1 VDC 0 4 22 0" + zeros(15) + " => 0x0 0" + zeros(16));
}

TEST(SimTrace, LinesOfSeveralProcessesDoNotMix)
{
    OneUnit bus;
    Trace trace(bus.dir);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0)
    {
        const intptr_t h = sim::kernel::open(pathOf("u1"));
        for (int i = 0; i < 200; ++i)
            vdc(h, 9, 7, {0, 0}, 308, 76, 308);
        ::_exit(0);
    }
    for (int i = 0; i < 200; ++i)
        vdc(bus.handle, 9, 7, {0, 0}, 308, 76, 308);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const Lines lines = trace.lines();
    ASSERT_EQ(lines.size(), 401u);
    const std::string mine = "pid u1 VDC 9 7 76" + zeros(70) + " => 0x0 0";
    const std::string theirs = std::to_string(child) + " u1 VDC 9 7 76" + zeros(70) + " => 0x0 0";
    int own = 0;
    int other = 0;
    for (const std::string& line : lines)
    {
        if (line.compare(0, mine.size(), mine) == 0)
            ++own;
        else if (line.compare(0, theirs.size(), theirs) == 0)
            ++other;
    }
    EXPECT_EQ(own, 200);
    EXPECT_EQ(other, 200);
}
