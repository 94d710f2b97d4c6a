// The driver object over the simulator, loaded through the registry as a host loads it.

#include "AsioTestSupport.h"
#include "platform/Registry.h"
#include "platform/Time.h"
#include "simos/Clock.h"

#include <cmath>
#include <limits>

using namespace asiodrv;
using asiotest::DriverFixture;
using asiotest::typicalCaps;

namespace
{

class Driver : public DriverFixture
{
protected:
    std::string channelName(IASIO* driver, bool isInput, int32_t channel)
    {
        ASIOChannelInfo info{};
        info.channel = channel;
        info.isInput = isInput ? ASIOTrue : ASIOFalse;
        if (driver->getChannelInfo(&info) != ASE_OK)
            return "<invalid>";
        return info.name;
    }

    // The kernel driver's answer to GetDriverInfo, asked beside the driver: flags, rate, clock, buffer size.
    uint32_t driverInfoWord(int word)
    {
        uint32_t reply[16] = {};
        EXPECT_TRUE(driverControl(0, 3, 0, 0, reply));
        return reply[3 + word];
    }

    size_t setClockRequests() const { return trace(" VDC 3 0 ").size(); }
};

} // namespace

TEST_F(Driver, InitFindsNoHardwareWithoutAnInterfaceOfTheVendorAndMayBeRepeated)
{
    IASIO* driver = loadDriver();
    ASSERT_NE(driver, nullptr);
    char message[124];
    EXPECT_EQ(driver->init(nullptr), ASIOFalse);
    driver->getErrorMessage(message);
    EXPECT_STREQ(message, "No Strellis hardware found");

    plug("foreign", typicalCaps().vendor(0x1234));
    EXPECT_EQ(driver->init(nullptr), ASIOFalse);
    driver->getErrorMessage(message);
    EXPECT_STREQ(message, "No Strellis hardware found");

    plug("u1", typicalCaps());
    EXPECT_EQ(driver->init(nullptr), ASIOTrue);
    EXPECT_EQ(driver->init(nullptr), ASIOTrue);
    driver->getErrorMessage(message);
    EXPECT_STREQ(message, "ASIO driver open failure");
    int32_t inputs = 0, outputs = 0;
    EXPECT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 16) << "the foreign interface contributes nothing";
    EXPECT_EQ(outputs, 12);
}

TEST_F(Driver, DisposingBuffersBeforeInitLeavesTheDriverUninitialised)
{
    IASIO* driver = loadDriver();
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(driver->init(nullptr), ASIOFalse) << "no interface: init must still fail";
    int32_t inputs = -1, outputs = -1;
    EXPECT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 0);
    EXPECT_EQ(outputs, 0);
    EXPECT_EQ(driver->start(), ASE_NotPresent);
    EXPECT_EQ(driver->stop(), ASE_NotPresent);
    EXPECT_EQ(driver->controlPanel(), ASE_NotPresent);
    EXPECT_EQ(driver->setClockSource(0), ASE_NotPresent);
    EXPECT_EQ(driver->future(1, nullptr), ASE_NotPresent);
}

TEST_F(Driver, OneInterfaceShowsItsChannelsByGroupName)
{
    plug("u1", typicalCaps(), "Studio");
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    char name[32];
    driver->getDriverName(name);
    EXPECT_STREQ(name, "ASIO Varnel 1394");
    EXPECT_EQ(driver->getDriverVersion(), 1);

    EXPECT_EQ(channelName(driver, true, 0), "Analog in 1");
    EXPECT_EQ(channelName(driver, true, 7), "Analog in 8");
    EXPECT_EQ(channelName(driver, true, 8), "ADAT A in 1");
    EXPECT_EQ(channelName(driver, true, 15), "ADAT A in 8");
    EXPECT_EQ(channelName(driver, false, 0), "Analog out 1");
    EXPECT_EQ(channelName(driver, false, 8), "S/PDIF out 1");
    EXPECT_EQ(channelName(driver, false, 11), "Headphones out 2");
    EXPECT_EQ(channelName(driver, true, 16), "<invalid>");
    EXPECT_EQ(channelName(driver, false, -1), "<invalid>");

    ASIOChannelInfo info{};
    info.channel = 3;
    info.isInput = ASIOTrue;
    ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.isActive, ASIOFalse);
    EXPECT_EQ(info.channelGroup, 0);
    EXPECT_EQ(info.type, ASIOSTInt32LSB);
}

TEST_F(Driver, TwoInterfacesAddUpNewestFirstWithTheirNamesInFront)
{
    plug("u1", typicalCaps(), "First");
    plug("u2", typicalCaps().channels(4, 2).outputGroups({{0, 4}}).inputGroups({{1, 2}}), "Second");
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    int32_t inputs = 0, outputs = 0;
    ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 18);
    EXPECT_EQ(outputs, 16);
    // The interface plugged last is listed first; the other one's channels follow its own.
    EXPECT_EQ(channelName(driver, false, 0), "Second Analog out 1");
    EXPECT_EQ(channelName(driver, false, 4), "First Analog out 1");
    EXPECT_EQ(channelName(driver, true, 1), "Second S/PDIF in 2");
    EXPECT_EQ(channelName(driver, true, 2), "First Analog in 1");
}

TEST_F(Driver, OutputRoutingNamesOutputsByPlaybackNumberAndUnmappedChannelsByNumber)
{
    // Flag bit 7: output routing. Ten playback channels and six inputs, with fewer mapped channels.
    plug("u1", typicalCaps().word(0, 0x80).channels(10, 6).inputGroups({{0, 4}}));
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(channelName(driver, false, 0), "Playback 1");
    EXPECT_EQ(channelName(driver, false, 9), "Playback 10");
    EXPECT_EQ(channelName(driver, true, 3), "Analog in 4");
    EXPECT_EQ(channelName(driver, true, 4), "Input 5");
}

TEST_F(Driver, AnInterfaceContributesAtMostSixtyFourChannelsEachWay)
{
    plug("u1", typicalCaps().channels(100, 70));
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    int32_t inputs = 0, outputs = 0;
    ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 64);
    EXPECT_EQ(outputs, 64);
    EXPECT_EQ(channelName(driver, false, 63), "Output 64");
}

TEST_F(Driver, AdatGroupsAreLetteredFromTheFirstAdatGroupOfTheirDirection)
{
    plug("u1", typicalCaps()
                   .channels(20, 8)
                   .outputGroups({{0, 2}, {1, 2}, {2, 8}, {2, 8}})
                   .inputGroups({{6, 2}, {2, 2}, {7, 4}}));
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(channelName(driver, false, 4), "ADAT A out 1");
    EXPECT_EQ(channelName(driver, false, 12), "ADAT B out 1");
    EXPECT_EQ(channelName(driver, false, 19), "ADAT B out 8");
    EXPECT_EQ(channelName(driver, true, 0), "I2S in 1");
    EXPECT_EQ(channelName(driver, true, 2), "ADAT A in 1");
    EXPECT_EQ(channelName(driver, true, 4), "Input in 1");
}

TEST_F(Driver, ChannelNamesAndMessagesStayWithinTheSizesHostsGive)
{
    const std::string longName(40, 'N');
    plug("u1", typicalCaps(), longName);
    plug("u2", typicalCaps(), "Other");
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    struct
    {
        ASIOChannelInfo info;
        char guard[32];
    } record;
    std::memset(&record, 0x7E, sizeof record);
    record.info.channel = 12; // the first channel of u1, listed second
    record.info.isInput = ASIOFalse;
    ASSERT_EQ(driver->getChannelInfo(&record.info), ASE_OK);
    EXPECT_EQ(std::string(record.info.name), longName.substr(0, 31));
    for (char c : record.guard)
        ASSERT_EQ(c, 0x7E);
}

TEST_F(Driver, LatenciesAndBufferSizeFollowTheKernelDriversStreamingSize)
{
    plug("u1", typicalCaps());
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    const auto size = static_cast<int32_t>(driverInfoWord(4));
    ASSERT_GT(size, 0);
    int32_t minimum = 0, maximum = 0, preferred = 0, granularity = -1;
    ASSERT_EQ(driver->getBufferSize(&minimum, &maximum, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(minimum, size);
    EXPECT_EQ(maximum, size);
    EXPECT_EQ(preferred, size);
    EXPECT_EQ(granularity, 0);
    int32_t in = 0, out = 0;
    ASSERT_EQ(driver->getLatencies(&in, &out), ASE_OK);
    EXPECT_EQ(in, size + 128);
    EXPECT_EQ(out, size + 128);
}

TEST_F(Driver, RatesInsideTheRecordsRangeAreAcceptedAndNonsenseIsRefused)
{
    plug("u1", typicalCaps());
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->canSampleRate(44100.0), ASE_OK);
    EXPECT_EQ(driver->canSampleRate(96000.0), ASE_OK);
    EXPECT_EQ(driver->canSampleRate(44099.0), ASE_NoClock);
    EXPECT_EQ(driver->canSampleRate(192000.0), ASE_NoClock);
    for (double nonsense :
         {std::numeric_limits<double>::quiet_NaN(), -48000.0, 1e300, std::numeric_limits<double>::infinity()})
    {
        EXPECT_EQ(driver->canSampleRate(nonsense), ASE_NoClock) << nonsense;
        EXPECT_EQ(driver->setSampleRate(nonsense), ASE_NoClock) << nonsense;
    }
}

TEST_F(Driver, WithTheRateLockedOnlyTheLockedRateIsAccepted)
{
    plug("u1", typicalCaps());
    uint32_t reply[16];
    ASSERT_TRUE(driverControl(0, 10, 0xFFFFFFFF, 1, reply)); // keep every flag, set the rate lock
    const uint32_t locked = driverInfoWord(2);
    ASSERT_NE(driverInfoWord(1) & 1, 0u);
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->canSampleRate(locked), ASE_OK);
    const double other = locked == 44100 ? 48000.0 : 44100.0;
    EXPECT_EQ(driver->canSampleRate(other), ASE_NoClock) << "inside the range, but not the locked rate";
}

TEST_F(Driver, SettingTheCurrentRateSendsNothingAndANewRateSendsOneSetClock)
{
    plug("u1", typicalCaps());
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    double rate = 0;
    ASSERT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 48000.0);
    clearTrace();
    EXPECT_EQ(driver->setSampleRate(48000.0), ASE_OK);
    EXPECT_EQ(setClockRequests(), 0u);
    EXPECT_EQ(driver->setSampleRate(88200.0), ASE_OK);
    const auto lines = trace(" VDC 3 0 ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" VDC 3 0 9 4294967295 88200 0 => 0x0 0"), std::string::npos) << lines[0];
    ASSERT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 88200.0);
    EXPECT_EQ(driverInfoWord(2), 88200u);
}

TEST_F(Driver, ARefusedSetClockAnswersHardwareMalfunctionAndKeepsTheRate)
{
    plug("u1", typicalCaps());
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    devsim("fault u1 vdc:3/0 vdr:3 1");
    EXPECT_EQ(driver->setSampleRate(44100.0), ASE_HWMalfunction);
    double rate = 0;
    driver->getSampleRate(&rate);
    EXPECT_EQ(rate, 48000.0);
}

TEST_F(Driver, InitSendsTheStoredRateOnlyWhenTheDeviceSupportsIt)
{
    plug("u1", typicalCaps());
    uint32_t reply[16];
    ASSERT_TRUE(driverControl(0, 16, 44100, 0, reply)); // the interface runs at 44.1 kHz
    platform::HKEY key = nullptr;
    ASSERT_EQ(platform::regCreateKey(platform::HKEY_CURRENT_USER, "Software\\Varnel\\ASIO Strellis", &key),
              0);
    const uint32_t stored = 192000;
    ASSERT_EQ(platform::regSetValue(key, "Sample rate", platform::REG_DWORD, &stored, sizeof stored), 0);
    platform::regCloseKey(key);

    clearTrace();
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(setClockRequests(), 0u) << "192 kHz is outside the interface's range";
    double rate = 0;
    driver->getSampleRate(&rate);
    EXPECT_EQ(rate, static_cast<double>(driverInfoWord(2))) << "the driver takes the device's rate";
}

TEST_F(Driver, ReleaseStoresTheRateOnlyWhenSettingsWereReadOrTheRateWasSet)
{
    auto storedRate = []() -> int64_t
    {
        platform::HKEY key = nullptr;
        if (platform::regOpenKey(platform::HKEY_CURRENT_USER, "Software\\Varnel\\ASIO Strellis", &key) != 0)
            return -1;
        uint32_t value = 0, size = sizeof value;
        const int32_t r = platform::regQueryValue(key, "Sample rate", nullptr, &value, &size);
        platform::regCloseKey(key);
        return r == 0 ? value : -1;
    };
    plug("u1", typicalCaps());
    ASSERT_NE(loadDriver(), nullptr);
    loader.releaseDriver();
    EXPECT_EQ(storedRate(), -1) << "a driver that was never initialised stores nothing";

    std::string error;
    ASSERT_TRUE(loader.createDriver(error)) << error;
    ASSERT_EQ(loader.driver()->init(nullptr), ASIOTrue);
    ASSERT_EQ(loader.driver()->setSampleRate(96000.0), ASE_OK);
    loader.releaseDriver();
    EXPECT_EQ(storedRate(), 96000);
}

TEST_F(Driver, OneInterfaceOffersTheClocksOfItsMaskInBitOrder)
{
    plug("u1", typicalCaps().clockMask(0x13)); // internal, FireWire, ADAT
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    ASIOClockSource clocks[8] = {};
    int32_t count = 8;
    ASSERT_EQ(driver->getClockSources(clocks, &count), ASE_OK);
    ASSERT_EQ(count, 3);
    const char* names[] = {"Internal", "FireWire", "ADAT A"};
    const int bits[] = {0, 1, 4};
    const uint32_t current = driverInfoWord(3);
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ(clocks[i].index, i);
        EXPECT_STREQ(clocks[i].name, names[i]);
        EXPECT_EQ(clocks[i].associatedChannel, -1);
        EXPECT_EQ(clocks[i].associatedGroup, -1);
        EXPECT_EQ(clocks[i].isCurrentSource,
                  static_cast<uint32_t>(bits[i]) == current ? ASIOTrue : ASIOFalse);
    }

    count = 0;
    EXPECT_EQ(driver->getClockSources(nullptr, &count), ASE_OK);
    EXPECT_EQ(count, 3) << "a null array only counts";
    count = 2;
    ASIOClockSource two[3] = {};
    std::strcpy(two[2].name, "untouched");
    ASSERT_EQ(driver->getClockSources(two, &count), ASE_OK);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(two[2].name, "untouched");
    EXPECT_EQ(driver->getClockSources(clocks, nullptr), ASE_InvalidParameter);
}

TEST_F(Driver, TwoInterfacesLeaveTheClockToTheConsole)
{
    plug("u1", typicalCaps());
    plug("u2", typicalCaps());
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    ASIOClockSource clocks[4] = {};
    int32_t count = 4;
    ASSERT_EQ(driver->getClockSources(clocks, &count), ASE_OK);
    ASSERT_EQ(count, 1);
    EXPECT_STREQ(clocks[0].name, "Select from console");
    EXPECT_EQ(clocks[0].isCurrentSource, ASIOTrue);
    clearTrace();
    EXPECT_EQ(driver->setClockSource(2), ASE_OK);
    EXPECT_TRUE(trace(" VDC ").empty());
}

TEST_F(Driver, SetClockSourceSelectsADetectedClockAndRefusesAnAbsentOne)
{
    plug("u1", typicalCaps().clockMask(0x13));
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);

    devsim("set u1 clocks 0x13");
    clearTrace();
    EXPECT_EQ(driver->setClockSource(2), ASE_OK);
    const auto lines = trace(" VDC 3 0 ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" VDC 3 0 9 4 4294967295 0 => "), std::string::npos)
        << "reference 2 is clock bit 4";

    devsim("set u1 clocks 0x3");
    clearTrace();
    EXPECT_EQ(driver->setClockSource(2), ASE_NoClock);
    EXPECT_TRUE(logged("Message box [ASIO Strellis] That clock source is not currently connected."));
    EXPECT_EQ(setClockRequests(), 0u);

    devsim("fault u1 vdc:0/1 fail 1");
    EXPECT_EQ(driver->setClockSource(1), ASE_HWMalfunction);
    EXPECT_TRUE(logged("Message box [ASIO Strellis] Unable to detect clock sources"));

    EXPECT_EQ(driver->setClockSource(3), ASE_InvalidParameter);
    EXPECT_EQ(driver->setClockSource(-1), ASE_InvalidParameter);
}

namespace
{

struct RetryCase
{
    const char* fault;
    ASIOError result;
    size_t attempts;
    uint32_t pauses;
};

} // namespace

TEST_F(Driver, TheTransactionRetriesBusResetsAndBusyButNothingElse)
{
    plug("u1", typicalCaps());
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    // The loaded driver has a copy of the platform layer of its own: the bus's clock is the one it shares.
    devsim("os clock manual");
    const RetryCase cases[] = {
        {"busreset 3", ASE_OK, 4, 3},
        {"busreset 10", ASE_HWMalfunction, 10, 10},
        {"vdr:12 2", ASE_OK, 3, 2},
        {"vdr:3 1", ASE_HWMalfunction, 1, 0},
        {"timeout 1", ASE_HWMalfunction, 1, 0},
        {"fail 1", ASE_HWMalfunction, 1, 0},
    };
    double rate = 44100.0;
    for (const RetryCase& c : cases)
    {
        devsim("fault u1 clear");
        devsim(std::string("fault u1 vdc:3/0 ") + c.fault);
        clearTrace();
        rate = rate == 44100.0 ? 96000.0 : 44100.0;
        const uint32_t start = platform::getTickCount();
        EXPECT_EQ(driver->setSampleRate(rate), c.result) << c.fault;
        const uint32_t elapsed = platform::getTickCount() - start;
        EXPECT_EQ(setClockRequests(), c.attempts) << c.fault;
        // Every answer that is retried is followed by a 100 ms pause, the last one too; every request
        // takes its time on the manual clock as well.
        EXPECT_EQ(elapsed, 100 * c.pauses + trace(" VDC ").size() * sim::os::kVdcTransactionMs) << c.fault;
        if (c.result != ASE_OK)
            rate = rate == 44100.0 ? 96000.0 : 44100.0; // the rate did not change
    }
}

TEST_F(Driver, TheHostToolDescribesTheDriver)
{
    plug("u1", typicalCaps());
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    const std::string text = asiohost::describeDriver(*driver);
    EXPECT_NE(text.find("channels: 16 inputs, 12 outputs\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  input 8: ADAT A in 1 (group 0, type 18)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("supported rates: 44100 48000 88200 96000\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  2: ADAT A"), std::string::npos) << text;
}
