// The driver object's sample rates and clock sources: what it accepts, what it sends and what it stores.

#include "DriverTestSupport.h"
#include "platform/Registry.h"

#include <cstring>
#include <limits>

using namespace asiodrv;
using asiotest::typicalCaps;

namespace
{

class DriverRatesAndClocks : public asiotest::DriverTest
{
};

} // namespace

TEST_F(DriverRatesAndClocks, RatesInsideTheRecordsRangeAreAcceptedAndNonsenseIsRefused)
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

TEST_F(DriverRatesAndClocks, WithTheRateLockedOnlyTheLockedRateIsAccepted)
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

TEST_F(DriverRatesAndClocks, SettingTheCurrentRateSendsNothingAndANewRateSendsOneSetClock)
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

TEST_F(DriverRatesAndClocks, EveryInterfaceIsTunedAndOneThatRefusesFailsTheCall)
{
    plug("u1", typicalCaps());
    plug("u2", typicalCaps());
    IASIO* driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    ASSERT_EQ(driver->setSampleRate(44100.0), ASE_OK);
    EXPECT_EQ(driverInfoWord(2, 0), 44100u);
    EXPECT_EQ(driverInfoWord(2, 1), 44100u);
    devsim("fault u1 vdc:3/0 vdr:3 1"); // u1 comes second in the driver's tables
    EXPECT_EQ(driver->setSampleRate(96000.0), ASE_HWMalfunction);
}

TEST_F(DriverRatesAndClocks, AnotherClientsStreamKeepsItsRateAndClock)
{
    plug("u1", typicalCaps().clockMask(0x13));
    devsim("set u1 clocks 0x13");
    IASIO* streaming = loadAndInit();
    ASSERT_NE(streaming, nullptr);
    ASSERT_EQ(streaming->setSampleRate(44100.0), ASE_OK);
    ASIOCallbacks callbacks{[](int32_t, ASIOBool) {}, nullptr, nullptr, nullptr};
    ASIOBufferInfo record{ASIOTrue, 0, {nullptr, nullptr}};
    ASSERT_EQ(streaming->createBuffers(&record, 1, static_cast<int32_t>(driverInfoWord(4)), &callbacks),
              ASE_OK);

    // A host that only describes the driver, with the rate of the settings (48 kHz), then asks for changes.
    clearTrace();
    IASIO* scanning = anotherDriver();
    ASSERT_NE(scanning, nullptr);
    ASSERT_EQ(scanning->init(nullptr), ASIOTrue);
    double rate = 0;
    EXPECT_EQ(scanning->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 44100.0);
    EXPECT_EQ(scanning->setSampleRate(48000.0), ASE_InvalidMode);
    EXPECT_EQ(scanning->setClockSource(1), ASE_InvalidMode);
    EXPECT_EQ(setClockRequests(), 0u);
    EXPECT_EQ(driverInfoWord(2), 44100u);

    ASSERT_EQ(streaming->disposeBuffers(), ASE_OK);
    EXPECT_EQ(scanning->setSampleRate(48000.0), ASE_OK) << "nobody streams on the unit any more";
}

TEST_F(DriverRatesAndClocks, ARefusedSetClockAnswersHardwareMalfunctionAndKeepsTheRate)
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

TEST_F(DriverRatesAndClocks, InitSendsTheStoredRateOnlyWhenTheDeviceSupportsIt)
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

TEST_F(DriverRatesAndClocks, ReleaseStoresTheRateOnlyWhenSettingsWereReadOrTheRateWasSet)
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

TEST_F(DriverRatesAndClocks, OneInterfaceOffersTheClocksOfItsMaskInBitOrder)
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

TEST_F(DriverRatesAndClocks, TwoInterfacesLeaveTheClockToTheConsole)
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

TEST_F(DriverRatesAndClocks, SetClockSourceSelectsADetectedClockAndRefusesAnAbsentOne)
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
