// The bus: units in plug order, their registry values, handles across unplug and plug, the plug and
// unplug events, several processes and a lock holder that dies.

#include "Shared.h"
#include "SimClient.h"

#include <sys/wait.h>

using namespace simtest;

TEST(SimBus, UnitsAreEnumeratedInPlugOrderAndLeaveWhenPulled)
{
    Bus bus;
    bus.run("plug b --model st4");
    bus.run("plug a --model d8");
    EXPECT_EQ(sim::kernel::interfacePaths(kClass), (std::vector<std::string>{pathOf("b"), pathOf("a")}));
    bus.run("unplug b");
    bus.run("plug b");
    EXPECT_EQ(sim::kernel::interfacePaths(kClass), (std::vector<std::string>{pathOf("a"), pathOf("b")}));
    EXPECT_EQ(sim::kernel::interfacePaths("{3d5a1f20-7c44-4b9e-9e21-6a0b5c7d8e31}").size(), 2u);
    EXPECT_TRUE(sim::kernel::interfacePaths("{6BDD1FC1-810F-11D0-BEC7-08002BE2092F}").empty());
    bus.run("unplug a");
    EXPECT_FALSE(sim::kernel::interfaceKeyExists(pathOf("a")));
    std::string upper = pathOf("b");
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(sim::kernel::interfaceKeyExists(upper));
}

TEST(SimBus, RegistryValuesFollowTheRulesOfRegQueryValueEx)
{
    Bus bus;
    bus.run("plug u1 --model st8 --unique-name Studio");
    uint32_t type = 0;
    uint32_t size = 0;
    EXPECT_EQ(sim::kernel::queryInterfaceValue(pathOf("u1"), "hwinfo_caps", &type, nullptr, &size), 0);
    EXPECT_EQ(type, 3u);
    EXPECT_EQ(size, 260u);

    char name[64];
    std::memset(name, 'x', sizeof(name));
    size = 6;
    EXPECT_EQ(sim::kernel::queryInterfaceValue(pathOf("u1"), "unique_name", &type, name, &size), 234);
    EXPECT_EQ(size, 7u) << "REG_SZ sizes count the terminator";
    EXPECT_EQ(name[0], 'x') << "the buffer stays untouched when it is too small";
    size = sizeof(name);
    EXPECT_EQ(sim::kernel::queryInterfaceValue(pathOf("u1"), "UNIQUE_NAME", &type, name, &size), 0);
    EXPECT_EQ(type, 1u);
    EXPECT_EQ(size, 7u);
    EXPECT_STREQ(name, "Studio");
    EXPECT_EQ(sim::kernel::queryInterfaceValue(pathOf("u1"), "other", &type, name, &size), 2);

    bus.run("plug u2 --model st8");
    size = sizeof(name);
    EXPECT_EQ(sim::kernel::queryInterfaceValue(pathOf("u2"), "unique_name", &type, name, &size), 2)
        << "without --unique-name there is no value";
    bus.run("plug u3 --model st8 --empty-unique-name");
    size = sizeof(name);
    EXPECT_EQ(sim::kernel::queryInterfaceValue(pathOf("u3"), "unique_name", &type, name, &size), 0);
    EXPECT_EQ(size, 0u) << "an empty value has no bytes at all";
    bus.run("unplug u3");
    EXPECT_EQ(sim::kernel::queryInterfaceValue(pathOf("u3"), "hwinfo_caps", &type, name, &size), 2);
}

TEST(SimBus, ARawRecordIsServedAsGiven)
{
    Bus bus;
    std::vector<uint8_t> record(100);
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = uint8_t(i * 7);
    const std::string file = bus.dir + "/u1.caps";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(record.data()), 100);
    bus.run("plug u1 --caps " + file);
    uint8_t got[260];
    uint32_t size = sizeof(got);
    ASSERT_EQ(sim::kernel::queryInterfaceValue(pathOf("u1"), "hwinfo_caps", nullptr, got, &size), 0);
    ASSERT_EQ(size, 100u);
    EXPECT_EQ(std::memcmp(got, record.data(), 100), 0);
}

TEST(SimBus, AHandleFromBeforeAnUnplugFailsEvenAfterTheUnitReturns)
{
    OneUnit bus;
    ASSERT_TRUE(vdc(bus.handle, 3, 1, {}, 40).callOk);
    bus.run("unplug u1");
    EXPECT_FALSE(vdc(bus.handle, 3, 1, {}, 40).callOk);
    EXPECT_EQ(sim::kernel::open(pathOf("u1")), -1);
    bus.run("plug u1");
    EXPECT_FALSE(vdc(bus.handle, 3, 1, {}, 40).callOk);
    EXPECT_FALSE(control(bus.handle, 3, {}).callOk);
    const intptr_t fresh = sim::kernel::open(pathOf("u1"));
    ASSERT_NE(fresh, -1);
    EXPECT_TRUE(vdc(fresh, 3, 1, {}, 40).callOk);
    EXPECT_TRUE(sim::kernel::close(fresh));
    EXPECT_FALSE(sim::kernel::close(fresh));
}

TEST(SimBus, AUnitKeepsItsFlashAcrossUnplugAndPlug)
{
    OneUnit bus;
    const uint32_t base = vdc(bus.handle, 1, 4, {}, 32).p(0);
    ASSERT_EQ(vdc(bus.handle, 1, 2, {0x1A0000, 1, 0x12345678}, 308).vdr(), 0u);
    bus.run("unplug u1");
    bus.run("plug u1");
    const intptr_t h = sim::kernel::open(pathOf("u1"));
    EXPECT_EQ(vdc(h, 1, 1, {0x1A0000, 1}, 308).p(2), 0x12345678u);
    EXPECT_EQ(vdc(h, 1, 4, {}, 32).p(0), base);
    sim::kernel::close(h);
    bus.run("plug u2 --model st8 --blank-flash");
    const intptr_t blank = sim::kernel::open(pathOf("u2"));
    EXPECT_EQ(vdc(blank, 1, 1, {base, 1}, 308).p(2), 0xFFFFFFFFu) << "no stored session";
    sim::kernel::close(blank);
}

TEST(SimBus, PlugsAndUnplugsAreEventsInOrder)
{
    Bus bus;
    const uint64_t start = sim::kernel::interfaceEventSequence();
    bus.run("plug u1 --model st8");
    bus.run("unplug u1");
    bus.run("plug u1");
    bus.run("unplug u1 --codes 7");
    uint64_t next = 0;
    const auto events = sim::kernel::interfaceEventsSince(kClass, start, &next);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_TRUE(events[0].arrival);
    EXPECT_EQ(events[0].path, pathOf("u1"));
    EXPECT_FALSE(events[1].arrival);
    EXPECT_EQ(events[1].removalCodes, 5u) << "query-remove and remove-complete by default";
    EXPECT_EQ(events[3].removalCodes, 7u);
    EXPECT_EQ(next, events[3].seq);
    EXPECT_TRUE(sim::kernel::interfaceEventsSince(kClass, next, &next).empty());
    EXPECT_TRUE(
        sim::kernel::interfaceEventsSince("{6BDD1FC1-810F-11D0-BEC7-08002BE2092F}", start, &next).empty());
}

TEST(SimBus, OnlyTheLatestEventsAreKept)
{
    Bus bus;
    bus.run("plug u1 --model st2");
    for (int i = 0; i < 40; ++i)
    {
        bus.run("unplug u1");
        bus.run("plug u1");
    }
    uint64_t next = 0;
    const auto events = sim::kernel::interfaceEventsSince(kClass, 0, &next);
    ASSERT_EQ(events.size(), 64u);
    EXPECT_EQ(events.back().seq, next);
    EXPECT_EQ(events.front().seq, next - 63);
}

TEST(SimBus, AValueSetByAnotherProcessIsSeenHere)
{
    OneUnit bus;
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0)
    {
        ::execl(DEVSIM_PATH, "devsim", "set", "u1", "meter.in.3", "0x1234567", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    const VdcReply r = vdc(bus.handle, 0, 1, {}, 464, 6, 28);
    ASSERT_EQ(r.vdr(), 0u);
    EXPECT_EQ(r.p(5), 12u);
    EXPECT_EQ(get32(r.bytes + 64 + 4 * (12 + 3)), 0x1234567u) << "input meter 3, after the 12 output meters";
}

TEST(SimBus, ALockHolderThatDiesDoesNotWedgeTheBus)
{
    OneUnit bus;
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0)
    {
        std::shared_ptr<sim::Bus> b = sim::Bus::current();
        b->lock();
        ::_exit(0); // dies holding the lock
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(vdc(bus.handle, 3, 5, {}, 28).callOk);
    bus.run("set u1 clocks 3");
    EXPECT_EQ(vdc(bus.handle, 0, 1, {}, 464, 6, 28).p(0) & 0xFF, 3u);
}
