// The device object against the simulated kernel driver and unit: registry values, open and close, the
// response check, the driver-control requests, every command category, flash, the poll and the wire.

#include "CapsBytes.h"
#include "ManualClock.h"
#include "SimulatorTrace.h"
#include "TempBus.h"
#include "device/Vhw.h"
#include "platform/Debug.h"
#include "platform/DeviceInterfaces.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

using namespace device;
using testsupport::CapsBytes;
using testsupport::Trace;
using testsupport::zeros;
using Lines = std::vector<std::string>;

namespace
{

// Words after "=>" in a trace line, less the two status words of a VDC reply.
size_t replyParams(const std::string& line)
{
    size_t words = 0;
    for (size_t p = line.find("=>") + 2; p < line.size(); ++p)
        words += line[p] == ' ';
    return words - 2;
}

std::string request(const std::string& line)
{
    return line.substr(0, line.find(" =>"));
}

class VhwTest : public ::testing::Test
{
protected:
    ~VhwTest() override { std::filesystem::remove(bus.dir + ".caps"); }

    // Plugs a unit with this record and returns its interface path.
    std::string plug(const std::string& unit, const CapsBytes& caps,
                     const std::string& options = "--unique-name Studio-A")
    {
        EXPECT_TRUE(caps.writeTo(bus.dir + ".caps"));
        devsim("plug " + unit + " --caps " + bus.dir + ".caps " + options);
        // No playback endpoints: playback gains and mutes go to the device as the commands looked at here.
        devsim("set " + unit + " endpoints off");
        platform::DeviceInterfaceSet set(kDeviceInterfaceClass);
        return set.size() > 0 ? set.path(set.size() - 1) : std::string();
    }

    vhw::Ptr openUnit(const CapsBytes& caps = CapsBytes::typical())
    {
        vhw::Ptr dev = new vhw(plug("u1", caps));
        EXPECT_TRUE(dev->open());
        return dev;
    }

    void devsim(const std::string& command)
    {
        EXPECT_EQ(bus.devsim(command), 0) << command << ": " << bus.err;
    }

    testsupport::TempBus bus;
};

// One fixture per area, so the areas show as groups.
class VhwCommands : public VhwTest
{
};
class VhwConstruction : public VhwTest
{
};
class VhwDriverControl : public VhwTest
{
};
class VhwFlash : public VhwTest
{
};
class VhwOpen : public VhwTest
{
};
class VhwPoll : public VhwTest
{
};
class VhwResponseCheck : public VhwTest
{
};

} // namespace

// --- construction and open ---

TEST_F(VhwConstruction, AReadableRecordMakesAValidDeviceWithItsMapsAndPolledSize)
{
    const std::string path = plug("u1", CapsBytes::typical());
    vhw::Ptr dev = new vhw(path);
    EXPECT_TRUE(dev->isValid());
    EXPECT_EQ(dev->getDevicePath(), path);
    EXPECT_EQ(dev->getUniqueName(), "Studio-A");
    EXPECT_EQ(dev->getVendorId(), 0x3B71u);
    EXPECT_EQ(dev->getModelId(), 0x5E8u);
    EXPECT_EQ(dev->getGuid(), 0x003B710100C0FFEEull);
    EXPECT_EQ(dev->getCaps().getInputMapType(8), HwInfoCaps::kGroupAdat);
    EXPECT_EQ(dev->getPolledSize(), 64u + 4 * (12 + 16));
    EXPECT_NE(dev->getSysVolume(), nullptr);
}

TEST_F(VhwConstruction, UniqueNameFallsBackWhenMissingEmptyOrLongerThan63Characters)
{
    const std::string name63(63, 'n');
    EXPECT_EQ(vhw(plug("u1", CapsBytes::typical(), "--unique-name " + name63)).getUniqueName(), name63);
    EXPECT_EQ(vhw(plug("u2", CapsBytes::typical(), "--unique-name " + name63 + "n")).getUniqueName(),
              "Doranth");
    EXPECT_EQ(vhw(plug("u3", CapsBytes::typical(), "")).getUniqueName(), "Doranth");
    vhw empty(plug("u4", CapsBytes::typical(), "--empty-unique-name"));
    EXPECT_EQ(empty.getUniqueName(), "Doranth");
    EXPECT_TRUE(empty.isValid());
}

TEST_F(VhwConstruction, APathWithoutARegistryKeyGivesAnInvalidDeviceWithAnEmptyName)
{
    const std::string path = plug("u1", CapsBytes::typical());
    devsim("unplug u1");
    vhw dev(path);
    EXPECT_FALSE(dev.isValid());
    EXPECT_EQ(dev.getUniqueName(), "");
    EXPECT_EQ(dev.getVendorId(), 0u);
    EXPECT_EQ(dev.setPlaybackGain(0, 0.0f), kResultFailed);
}

TEST_F(VhwConstruction, MeterCountsBeyondThePolledBlockAreBoundToIt)
{
    vhw::Ptr dev = openUnit(CapsBytes::typical().word(96, 300).word(100, 0xFFFFFFF0));
    EXPECT_EQ(dev->getPolledSize(), sizeof(PolledBlock));
    EXPECT_EQ(dev->readPolled(), kResultDone);
    EXPECT_EQ(dev->getInputMeter(1000), 0u);
}

TEST_F(VhwOpen, OpeningTwiceAndClosingOnceLeavesTheDeviceClosed)
{
    vhw::Ptr dev = new vhw(plug("u1", CapsBytes::typical()));
    Trace trace(bus.dir);
    EXPECT_TRUE(dev->open());
    EXPECT_TRUE(dev->open());
    dev->close();
    EXPECT_FALSE(dev->isOpen());
    EXPECT_EQ(dev->getDriverVersion(), 0xFFFFFFFFu);
    EXPECT_NE(dev->getStatisticsAddress(), nullptr);
    const Lines lines = trace.requests();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "u1 OPEN");
    EXPECT_EQ(request(lines[1]), "u1 DC 7");
    EXPECT_EQ(lines[2], "u1 CLOSE");
}

TEST_F(VhwOpen, ADeviceWithoutARecordClosesItsHandleOnCloseAndWhenDestroyed)
{
    devsim("plug bare --no-caps");
    platform::DeviceInterfaceSet set(kDeviceInterfaceClass);
    ASSERT_EQ(set.size(), 1u);
    Trace trace(bus.dir);
    vhw::Ptr dev = new vhw(set.path(0));
    EXPECT_FALSE(dev->isValid());
    ASSERT_TRUE(dev->open());
    dev->close();
    ASSERT_TRUE(dev->open());
    dev = nullptr;
    Lines lines = trace.requests();
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& l) { return l.compare(0, 7, "bare DC") == 0; }),
                lines.end());
    EXPECT_EQ(lines, (Lines{"bare OPEN", "bare CLOSE", "bare OPEN", "bare CLOSE"}));
}

TEST_F(VhwOpen, AFailedOpenInvalidatesTheDeviceAndEveryRequestFails)
{
    vhw::Ptr dev = new vhw(plug("u1", CapsBytes::typical()));
    devsim("fault u1 open fail");
    platform::DebugCapture debug;
    EXPECT_FALSE(dev->open());
    EXPECT_FALSE(dev->isValid());
    EXPECT_EQ(dev->getLastError(), "Could not create file handle");
    EXPECT_EQ(dev->getDriverVersion(), 0xFFFFFFFFu);
    EXPECT_EQ(dev->readDriverInfo(), 1);
    EXPECT_EQ(dev->identify(), kResultFailed);
    EXPECT_EQ(debug.lines(), Lines{"DeviceIoControl failed - cat 3  cmd 5"});
}

// --- the response check ---

TEST_F(VhwResponseCheck, EachReplyOutcomeGivesItsResultAndDebugLine)
{
    vhw::Ptr dev = openUnit();
    const struct
    {
        const char* fault;
        int result;
        Lines lines;
    } cases[] = {
        {"timeout", kResultTryAgain, {"VDR packet timeout for Studio-A - should try again"}},
        {"busreset", kResultTryAgain, {"1394 bus reset for Studio-A - should try again"}},
        {"nt:0xC0000001", kResultFailed, {"VDC - bad NT status for Studio-A - c0000001"}},
        {"vdr:12", kResultDone, {}},
        {"vdr:7", kResultDeviceError, {"VDC error for Studio-A - rval 7"}},
        {"fail", kResultFailed, {"DeviceIoControl failed - cat 3  cmd 5"}},
    };
    for (const auto& c : cases)
    {
        devsim(std::string("fault u1 vdc:3/5 ") + c.fault + " 1");
        platform::DebugCapture debug;
        EXPECT_EQ(dev->identify(), c.result) << c.fault;
        EXPECT_EQ(dev->identify(), kResultDone) << c.fault; // the fault acted once
        EXPECT_EQ(debug.lines(), c.lines) << c.fault;
    }
}

// --- driver-control requests ---

TEST_F(VhwDriverControl, DriverInfoCarriesTheBufferLimitsAndAFailedReadKeepsTheLastOne)
{
    vhw::Ptr dev = openUnit();
    devsim("set u1 driver-version 0x04080013");
    EXPECT_EQ(dev->getDriverVersion(), 0x04080013u);

    ASSERT_EQ(dev->readDriverInfo(), 0);
    const DriverInfo first = dev->getDriverInfo();
    EXPECT_EQ(first.minBufferSize, 32u);
    EXPECT_EQ(first.maxBufferSize, 2048u);
    EXPECT_EQ(first.bufferSizeStep, 32u);

    const uint32_t other = first.configuredBufferSize == 512 ? 256 : 512;
    ASSERT_EQ(dev->setBufferSize(other), 0);
    devsim("fault u1 dc:3 fail 1");
    EXPECT_EQ(dev->readDriverInfo(), 1);
    EXPECT_EQ(dev->getDriverInfo().configuredBufferSize, first.configuredBufferSize);
    ASSERT_EQ(dev->readDriverInfo(), 0);
    EXPECT_EQ(dev->getDriverInfo().configuredBufferSize, other);

    devsim("fault u1 dc:9 status:1 1");
    EXPECT_EQ(dev->setBufferSize(128), 1);
}

TEST_F(VhwDriverControl, TheRateLockKeepsTheOtherDriverFlagsAndTheDriverRateReadsBack)
{
    vhw::Ptr dev = openUnit();
    ASSERT_TRUE(dev->setDriverFlags(kDriverFlagSurround, 0xFFFFFFFF));
    bool locked = false;
    ASSERT_TRUE(dev->setSampleRateLock(true));
    ASSERT_EQ(dev->isSampleRateLocked(locked), 0);
    EXPECT_TRUE(locked);
    EXPECT_EQ(dev->getDriverInfo().flags, kDriverFlagSurround | kDriverFlagRateLocked);
    ASSERT_TRUE(dev->setSampleRateLock(false));
    ASSERT_EQ(dev->isSampleRateLocked(locked), 0);
    EXPECT_FALSE(locked);
    EXPECT_EQ(dev->getDriverInfo().flags, kDriverFlagSurround);

    uint32_t rate = 0;
    ASSERT_EQ(dev->setDriverSampleRate(88200), 0);
    ASSERT_EQ(dev->getDriverSampleRate(rate), 0);
    EXPECT_EQ(rate, 88200u);
}

// --- mixer, clock and I/O commands ---

TEST_F(VhwCommands, EveryMixerCategoryReturnsWhatWasSetPerChannel)
{
    vhw::Ptr dev = openUnit();
    using Set = int (vhw::*)(int, int);
    using Get = int (vhw::*)(int, int&);
    const std::pair<Set, Get> values[] = {{&vhw::setOutputMute, &vhw::getOutputMute},
                                          {&vhw::setOutputNominal, &vhw::getOutputNominal},
                                          {&vhw::setInputNominal, &vhw::getInputNominal},
                                          {&vhw::setPlaybackMute, &vhw::getPlaybackMute},
                                          {&vhw::setPlaybackSolo, &vhw::getPlaybackSolo}};
    using SetMon = int (vhw::*)(int, int, int);
    using GetMon = int (vhw::*)(int, int, int&);
    const std::pair<SetMon, GetMon> monitor[] = {{&vhw::setMonitorMute, &vhw::getMonitorMute},
                                                 {&vhw::setMonitorSolo, &vhw::getMonitorSolo}};

    // Neighbouring channels (and inputs and mixes swapped) get opposite values, so a value that lands
    // on the wrong channel or category shows.
    for (int on = 0; on < 2; ++on)
    {
        for (const auto& [set, get] : values)
        {
            ASSERT_EQ(((*dev).*set)(2, on), kResultDone);
            ASSERT_EQ(((*dev).*set)(3, 1 - on), kResultDone);
        }
        for (const auto& [set, get] : monitor)
        {
            ASSERT_EQ(((*dev).*set)(1, 2, on), kResultDone);
            ASSERT_EQ(((*dev).*set)(2, 1, 1 - on), kResultDone);
        }
        ASSERT_EQ(dev->setOutputGain(2, on ? -6.0f : -12.5f), kResultDone);
        ASSERT_EQ(dev->setPlaybackGain(2, on ? -30.0f : 0.0f), kResultDone);
        ASSERT_EQ(dev->setMonitorGain(1, 2, on ? -3.0f : -40.0f), kResultDone);
        ASSERT_EQ(dev->setMonitorGain(2, 1, on ? -40.0f : -3.0f), kResultDone);
        ASSERT_EQ(dev->setMonitorPan(1, 2, on ? 0.5f : 1.0f), kResultDone);
        ASSERT_EQ(dev->setMonitorPan(2, 1, on ? 1.0f : 0.5f), kResultDone);

        int v = -1;
        for (const auto& [set, get] : values)
        {
            EXPECT_EQ(((*dev).*get)(2, v), kResultDone);
            EXPECT_EQ(v, on);
            EXPECT_EQ(((*dev).*get)(3, v), kResultDone);
            EXPECT_EQ(v, 1 - on);
        }
        for (const auto& [set, get] : monitor)
        {
            EXPECT_EQ(((*dev).*get)(1, 2, v), kResultDone);
            EXPECT_EQ(v, on);
            EXPECT_EQ(((*dev).*get)(2, 1, v), kResultDone);
            EXPECT_EQ(v, 1 - on);
        }
        float db = 0, pan = 0;
        EXPECT_EQ(dev->getOutputGain(2, db), kResultDone);
        EXPECT_NEAR(db, on ? -6.0f : -12.5f, 0.001f);
        EXPECT_EQ(dev->getPlaybackGain(2, db), kResultDone);
        EXPECT_NEAR(db, on ? -30.0f : 0.0f, 0.001f);
        EXPECT_EQ(dev->getMonitorGain(2, 1, db), kResultDone);
        EXPECT_NEAR(db, on ? -40.0f : -3.0f, 0.001f);
        EXPECT_EQ(dev->getMonitorPan(1, 2, pan), kResultDone);
        EXPECT_FLOAT_EQ(pan, on ? 128.0f / 255.0f : 1.0f);
    }
}

TEST_F(VhwCommands, TheClockKeepsAFieldSentAsMinusOneAndRefusesWhatTheUnitCannotDo)
{
    vhw::Ptr dev = openUnit(); // rates 44100 .. 96000, clocks 0 .. 4
    int rate = 0, clock = -1;
    ASSERT_EQ(dev->setClock(48000, 0), kResultDone);
    ASSERT_EQ(dev->setClock(-1, 2), kResultDone);
    ASSERT_EQ(dev->setClock(96000, -1), kResultDone);
    ASSERT_EQ(dev->getClock(rate, clock), kResultDone);
    EXPECT_EQ(rate, 96000);
    EXPECT_EQ(clock, 2);

    platform::DebugCapture debug;
    EXPECT_EQ(dev->setClock(192000, -1), kResultDeviceError);
    EXPECT_EQ(dev->setClock(-1, 5), kResultDeviceError);
    EXPECT_EQ(debug.lines().size(), 2u);
    ASSERT_EQ(dev->getClock(rate, clock), kResultDone);
    EXPECT_EQ(rate, 96000);
    EXPECT_EQ(clock, 2);
}

TEST_F(VhwCommands, FlagsPhantomPowerAndTheIsocMapRoundTripAndFailedGetsLeaveNoValue)
{
    vhw::Ptr dev = openUnit(CapsBytes::typical().word(0, HwInfoCaps::kFlagHasPhantomPower));
    int before = 0, after = 0, phantom = -1;
    ASSERT_EQ(dev->getFlags(before), kResultDone);
    ASSERT_EQ(dev->changeFlags(0x5, 0), kResultDone);
    ASSERT_EQ(dev->changeFlags(0x100, 0x1), kResultDone);
    ASSERT_EQ(dev->getFlags(after), kResultDone);
    EXPECT_EQ(after, (before & ~0x1) | 0x104);
    devsim("fault u1 vdc:3/4 vdr:5 1");
    EXPECT_EQ(dev->getFlags(after), kResultDeviceError);
    EXPECT_EQ(after, -1);

    ASSERT_EQ(dev->setPhantomPower(0x3), kResultDone);
    ASSERT_EQ(dev->getPhantomPower(phantom), kResultDone);
    EXPECT_EQ(phantom, 0x3);
    devsim("fault u1 vdc:9/5 timeout 1");
    phantom = 42;
    EXPECT_EQ(dev->getPhantomPower(phantom), kResultTryAgain);
    EXPECT_EQ(phantom, 42);

    IsocMapRecord sent{}, got{};
    for (uint32_t i = 0; i < 70; ++i)
        sent.words[i] = 0x1000 * i + 7;
    ASSERT_EQ(dev->setIsocMap(sent), kResultDone);
    got.words[0] = sent.words[0];
    got.words[1] = sent.words[1];
    ASSERT_EQ(dev->getIsocMap(got), kResultDone);
    EXPECT_EQ(std::memcmp(got.words, sent.words, sizeof sent.words), 0);
}

TEST_F(VhwCommands, CommandsFromSeveralThreadsNeverMixTheirPackets)
{
    vhw::Ptr dev = openUnit();
    std::atomic<int> mismatches{0};
    auto worker = [&](int channel)
    {
        for (int i = 0; i < 300; ++i)
        {
            int got = -1;
            dev->setPlaybackSolo(channel, channel * 1000 + i);
            if (dev->getPlaybackSolo(channel, got) != kResultDone || got != channel * 1000 + i)
                ++mismatches;
        }
    };
    std::thread a(worker, 0), b(worker, 1), c(worker, 2);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(mismatches.load(), 0);
}

// --- flash and the stored session ---

TEST_F(VhwFlash, FlashEraseWriteAndReadFollowTheNorRules)
{
    vhw::Ptr dev = openUnit();
    const uint32_t block = 0x1F0000;
    uint32_t data[64], pattern[64];
    bool ready = false;
    ASSERT_EQ(dev->flashLock(1), kResultDone);
    ASSERT_EQ(dev->flashErase(block), kResultDone);
    for (int i = 0; i < 100 && !ready; ++i)
        ASSERT_EQ(dev->flashGetStatus(ready), kResultDone);
    ASSERT_EQ(dev->flashRead(block, 64, data), kResultDone);
    EXPECT_EQ(std::count(data, data + 64, 0xFFFFFFFFu), 64);

    for (uint32_t i = 0; i < 64; ++i)
        pattern[i] = 0xA5000000u | i * 0x010203u;
    ASSERT_EQ(dev->flashWrite(block + 256, 64, pattern), kResultDone);
    ASSERT_EQ(dev->flashRead(block + 256, 64, data), kResultDone);
    EXPECT_EQ(std::memcmp(data, pattern, sizeof data), 0);

    // Without an erase a bit can only be cleared; a failed read leaves the caller's buffer alone.
    const uint32_t raise = 0xFFFFFFFF;
    EXPECT_EQ(dev->flashWrite(block + 256, 1, &raise), kResultDeviceError);
    devsim("fault u1 vdc:1/1 vdr:3 1");
    data[0] = 7;
    EXPECT_EQ(dev->flashRead(block + 256, 1, data), kResultDeviceError);
    EXPECT_EQ(data[0], 7u);
    ASSERT_EQ(dev->flashRead(block + 256, 1, data), kResultDone);
    EXPECT_EQ(data[0], pattern[0]);
    ASSERT_EQ(dev->flashLock(0), kResultDone);
}

TEST_F(VhwFlash, GetStatusAnswersBusyForTheConfiguredPollsAfterAnErase)
{
    vhw::Ptr dev = openUnit();
    devsim("set u1 flash.busy 3");
    ASSERT_EQ(dev->flashErase(0x10000), kResultDone);
    platform::DebugCapture debug;
    bool ready = true;
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ(dev->flashGetStatus(ready), kResultDone);
        EXPECT_FALSE(ready) << i;
    }
    EXPECT_EQ(dev->flashGetStatus(ready), kResultDone);
    EXPECT_TRUE(ready);
    EXPECT_TRUE(debug.lines().empty());
}

TEST_F(VhwFlash, AUnitWithoutFlashLockIsNeverSentALock)
{
    vhw::Ptr dev = openUnit(CapsBytes::typical().word(0, HwInfoCaps::kFlagNoFlashLock));
    Trace trace(bus.dir);
    EXPECT_EQ(dev->flashLock(1), kResultDone);
    EXPECT_TRUE(trace.requests().empty());
}

TEST_F(VhwFlash, SessionBlocksComeFromTheStoredSessionInTheUnitsChunks)
{
    vhw::Ptr dev = openUnit();
    devsim("set u1 session-base 0x1A0000");
    devsim("set u1 session-chunk 10");
    uint32_t base = 0, delivered = 0, fromFlash[64], block[64] = {};
    ASSERT_EQ(dev->getSessionBase(base), kResultDone);
    EXPECT_EQ(base, 0x1A0000u);
    ASSERT_EQ(dev->flashRead(base, 64, fromFlash), kResultDone);
    ASSERT_EQ(dev->readSessionBlock(20, 64, block, delivered), kResultDone);
    EXPECT_EQ(delivered, 10u);
    EXPECT_EQ(std::memcmp(block, fromFlash + 20, 10 * sizeof(uint32_t)), 0);
    EXPECT_EQ(block[10], 0u); // nothing written past what was delivered
}

TEST_F(VhwFlash, GetSessionBaseRidesOutShortResetsAndGivesUpAfterTwoSeconds)
{
    vhw::Ptr dev = openUnit();
    uint32_t base = 0;
    devsim("fault u1 vdc:1/4 busreset 3");
    EXPECT_EQ(dev->getSessionBase(base), kResultDone);

    devsim("fault u1 vdc:1/4 busreset always");
    testsupport::ManualClock clock;
    EXPECT_EQ(dev->getSessionBase(base), kResultTryAgain);
    // The first answer at or past 2000 ms ends it; a try is a request and a 10 ms pause.
    EXPECT_GE(clock.elapsed(), 2000u);
    EXPECT_LT(clock.elapsed(), 2000u + 10 + sim::os::kVdcTransactionMs);
}

// --- the poll ---

TEST_F(VhwPoll, ThePollBringsMetersClocksMidiActivityAndCounters)
{
    vhw::Ptr dev = openUnit();
    for (const char* knob : {"meter.out.0 0x40000000", "meter.out.11 77", "meter.in.0 0x7FFFFFFF",
                             "meter.in.15 0x1234", "clocks 0x5", "midi 0x6", "counters 3 5 8"})
        devsim(std::string("set u1 ") + knob);
    ASSERT_EQ(dev->readPolled(), kResultDone);
    EXPECT_EQ(dev->getOutputMeter(0), 0x40000000u);
    EXPECT_EQ(dev->getOutputMeter(11), 77u);
    EXPECT_EQ(dev->getInputMeter(0), 0x7FFFFFFFu);
    EXPECT_EQ(dev->getInputMeter(15), 0x1234u);
    EXPECT_EQ(dev->getStatusWord() & 0x3F, 0x5u);
    EXPECT_TRUE(dev->isClockDetected(2));
    EXPECT_FALSE(dev->isClockDetected(1));
    EXPECT_EQ(dev->getStatusFlags(), 0x600u); // MIDI out port 0, MIDI in port 1
    EXPECT_TRUE(dev->isMidiOutActive(0));
    EXPECT_TRUE(dev->isMidiInActive(1));
    EXPECT_FALSE(dev->isMidiInActive(0));
    // Ports past the status word's bits are inactive rather than shifted out of it.
    EXPECT_FALSE(dev->isMidiInActive(12));
    EXPECT_FALSE(dev->isMidiOutActive(0x80000000u));

    uint32_t arm = 0, under = 0, over = 0;
    ASSERT_EQ(dev->getFirmwareCounters(arm, under, over), kResultDone);
    EXPECT_EQ(arm * 100 + under * 10 + over, 358u);
}

// --- the wire ---

TEST_F(VhwCommands, RequestsCarryTheirLengthsParametersAndReplySizes)
{
    vhw::Ptr dev = openUnit();
    Trace trace(bus.dir);
    uint32_t u = 0, quads[64] = {};
    const uint32_t ones[2] = {0xFFFFFFFF, 0xFFFFFFFF}; // writable over anything
    int i = 0, j = 0;
    bool b = false;
    float f = 0;
    IsocMapRecord map{};
    dev->readPolled();
    dev->readSessionBlock(5, 100, quads, u);
    dev->getFirmwareCounters(u, u, u);
    dev->flashErase(0x20000);
    dev->flashRead(0x20000, 3, quads);
    dev->flashWrite(0x20000, 2, ones);
    dev->flashGetStatus(b);
    dev->getSessionBase(u);
    dev->flashLock(0x101);
    dev->setClock(44100, 1);
    dev->getClock(i, j);
    dev->changeFlags(6, 1);
    dev->getFlags(i);
    dev->identify();
    dev->setOutputGain(1, 0.0f);
    dev->getOutputGain(1, f);
    dev->setOutputNominal(1, 1);
    dev->setInputNominal(2, 1);
    dev->setPlaybackMute(3, 1);
    dev->setMonitorPan(4, 6, 0.5f);
    dev->setPhantomPower(1);
    dev->getPhantomPower(i);
    dev->setIsocMap(map);
    dev->getIsocMap(map);

    const std::pair<std::string, size_t> expected[] = {
        {"u1 VDC 0 1 6", (dev->getPolledSize() - 28) / 4},
        {"u1 VDC 0 3 8 5 64", 66},
        {"u1 VDC 0 4 22" + zeros(16), 16},
        {"u1 VDC 1 0 7 131072", 70},
        {"u1 VDC 1 1 8 131072 3", 70},
        {"u1 VDC 1 2 72 131072 2 4294967295 4294967295" + zeros(62), 70},
        {"u1 VDC 1 3 8", 70},
        {"u1 VDC 1 4 6", 1},
        {"u1 VDC 1 5 7 1", 70},
        {"u1 VDC 3 0 9 1 44100 0", 0},
        {"u1 VDC 3 1 6", 3},
        {"u1 VDC 3 3 8 6 1", 0},
        {"u1 VDC 3 4 6", 1},
        {"u1 VDC 3 5 6", 0},
        {"u1 VDC 4 0 8 1 16777216", 2},
        {"u1 VDC 4 1 8 1 0", 2},
        {"u1 VDC 4 8 8 1 1", 0},
        {"u1 VDC 5 8 8 2 1", 2},
        {"u1 VDC 6 2 8 3 1", 2},
        {"u1 VDC 8 6 9 4 6 128", 3},
        {"u1 VDC 9 4 7 1", 0},
        {"u1 VDC 9 5 6", 1},
        {"u1 VDC 9 6 76" + zeros(70), 0},
        {"u1 VDC 9 7 76" + zeros(70), 70},
    };
    const Lines lines = trace.requests();
    ASSERT_EQ(lines.size(), std::size(expected));
    for (size_t k = 0; k < lines.size(); ++k)
    {
        EXPECT_EQ(request(lines[k]), expected[k].first);
        EXPECT_EQ(replyParams(lines[k]), expected[k].second) << lines[k];
    }
}

TEST_F(VhwDriverControl, DriverControlRequestsPutTheirArgumentsAtTheirOffsets)
{
    vhw::Ptr dev = openUnit();
    devsim("set u1 driver-version 0x01020304");
    Trace trace(bus.dir);
    uint32_t rate = 0;
    dev->setDriverFlags(0, 0xFFFFFFFD);
    dev->setBufferSize(384);
    dev->setDriverSampleRate(48000);
    dev->getDriverSampleRate(rate);
    dev->resetStatistics();
    dev->readDriverInfo();
    dev->getDriverVersion();
    const Lines lines = trace.requests();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(request(lines[0]), "u1 DC 10 4294967293");
    EXPECT_EQ(request(lines[1]), "u1 DC 9 384");
    EXPECT_EQ(request(lines[2]), "u1 DC 16 48000");
    EXPECT_EQ(lines[3], "u1 DC 15 => 0 48000");
    EXPECT_EQ(request(lines[4]), "u1 DC 8");
    EXPECT_EQ(request(lines[5]), "u1 DC 3");
    EXPECT_EQ(request(lines[6]), "u1 VER");
    EXPECT_EQ(rate, 48000u);
}
