// The control panel: its model as the dialog uses it, the settings it keeps, and what a change of the
// buffer size does to a prepared or running driver.

#include "StreamingHost.h"
#include "asio/ControlPanel.h"
#include "platform/Registry.h"

#include <cstdlib>

using namespace asiodrv;
using asiotest::DriverFixture;
using asiotest::StreamingHost;
using asiotest::typicalCaps;

namespace
{

ControlPanelData data(uint32_t minimum, uint32_t maximum, uint32_t step, uint32_t current)
{
    ControlPanelData d;
    d.minimum = minimum;
    d.maximum = maximum;
    d.step = step;
    d.current = current;
    d.useMmcss = 1;
    d.lowerDwm = 0;
    return d;
}

} // namespace

TEST(ControlPanelModel, OpensWithTheRangeTicksAndPositionOfTheSizesInSteps)
{
    const ControlPanelModel m(data(64, 2048, 32, 256));
    EXPECT_EQ(m.rangeLow(), 2);
    EXPECT_EQ(m.rangeHigh(), 64);
    EXPECT_EQ(m.tickFrequency(), 3);
    EXPECT_EQ(m.position(), 8);
    EXPECT_EQ(m.sizeText(), "256");
    EXPECT_TRUE(m.mmcssChecked());
    EXPECT_FALSE(m.dwmChecked());
}

TEST(ControlPanelModel, SizesFromAThousandOnAreShownWithAThousandsSeparator)
{
    ControlPanelModel m(data(64, 2048, 32, 256));
    m.moveTo(32);
    EXPECT_EQ(m.sizeText(), "1,024");
    EXPECT_EQ(ControlPanelModel::formatSize(999), "999");
    EXPECT_EQ(ControlPanelModel::formatSize(2048), "2,048");
    EXPECT_EQ(ControlPanelModel::formatSize(1000), "1,000");
}

TEST(ControlPanelModel, AStepOfZeroCountsAsOneAndPositionsStayInTheRange)
{
    ControlPanelModel m(data(32, 64, 0, 48));
    EXPECT_EQ(m.rangeLow(), 32);
    EXPECT_EQ(m.rangeHigh(), 64);
    EXPECT_EQ(m.position(), 48);
    m.moveTo(1000);
    EXPECT_EQ(m.position(), 64);
    m.moveTo(-3);
    EXPECT_EQ(m.position(), 32);
    const ControlPanelModel outside(data(64, 2048, 32, 4096));
    EXPECT_EQ(outside.position(), 64);
}

TEST(ControlPanelModel, OkHandsBackTheChosenSizeAndSwitches)
{
    ControlPanelModel m(data(64, 2048, 32, 256));
    EXPECT_EQ(playControlPanelScript(m, "pos=16 mmcss=0 dwm=1 ok"), 1);
    ControlPanelData d = data(64, 2048, 32, 256);
    m.accept(d);
    EXPECT_EQ(d.current, 512u);
    EXPECT_EQ(d.useMmcss, 0u);
    EXPECT_EQ(d.lowerDwm, 1u);
    ControlPanelModel other(data(64, 2048, 32, 256));
    EXPECT_EQ(playControlPanelScript(other, "size=1024 cancel"), 0);
    EXPECT_EQ(playControlPanelScript(other, "volume=3 ok"), -1);
}

TEST(ControlPanelModel, WithoutTheSwitchesBothBoxesAreClearedAndCannotBeChecked)
{
    ControlPanelModel m(data(64, 2048, 32, 256), false);
    EXPECT_FALSE(m.switchesEnabled());
    EXPECT_FALSE(m.mmcssChecked());
    m.setMmcss(true);
    m.setDwm(true);
    EXPECT_FALSE(m.mmcssChecked());
    EXPECT_FALSE(m.dwmChecked());
}

TEST(ControlPanelModel, ASecondPanelWhileOneIsOpenAnswersAtOnce)
{
    static int nested = -1;
    const ControlPanelRunner previous = setControlPanelRunner(
        [](ControlPanelModel&)
        {
            ControlPanelData inner = data(64, 2048, 32, 256);
            nested = runControlPanel(inner);
            return 0;
        });
    ControlPanelData outer = data(64, 2048, 32, 256);
    EXPECT_EQ(runControlPanel(outer), 0);
    EXPECT_EQ(nested, 2);
    setControlPanelRunner(previous);
}

// ---- through the loaded driver (the panel answers with a script, as a user would click) --------------

namespace
{

class Panel : public DriverFixture
{
protected:
    void SetUp() override
    {
        DriverFixture::SetUp();
        plug("u1", typicalCaps());
        devsim("set u1 buffer-size 32");
        devsim("set u1 period-clock step");
    }
    void TearDown() override
    {
        ::unsetenv("STRELLIS_CONTROL_PANEL");
        if (driver != nullptr)
            driver->disposeBuffers();
        DriverFixture::TearDown();
    }

    void answer(const char* script) { ::setenv("STRELLIS_CONTROL_PANEL", script, 1); }

    bool prepare()
    {
        driver = loadAndInit();
        if (driver == nullptr)
            return false;
        records = {ASIOBufferInfo{ASIOTrue, 0, {}}, ASIOBufferInfo{ASIOFalse, 0, {}}};
        host.driver = driver;
        host.prepare(records, 32);
        return driver->createBuffers(records.data(), 2, 32, &host.callbacks) == ASE_OK;
    }

    uint32_t storedDword(const char* name)
    {
        platform::HKEY k = nullptr;
        if (platform::regOpenKey(platform::HKEY_CURRENT_USER, "Software\\Varnel\\ASIO Strellis", &k) != 0)
            return 0xFFFFFFFF;
        uint32_t type = 0, value = 0xFFFFFFFF, size = 4;
        platform::regQueryValue(k, name, &type, &value, &size);
        platform::regCloseKey(k);
        return value;
    }

    int32_t bufferSize()
    {
        int32_t minimum = 0, maximum = 0, preferred = 0, granularity = 0;
        driver->getBufferSize(&minimum, &maximum, &preferred, &granularity);
        return preferred;
    }

    StreamingHost host;
    std::vector<ASIOBufferInfo> records;
    IASIO* driver = nullptr;
};

} // namespace

TEST_F(Panel, AChangeWhileRunningBringsExactlyOneResetRequestFromTheStreamingThread)
{
    ASSERT_TRUE(prepare());
    ASSERT_EQ(driver->start(), ASE_OK);
    ASSERT_EQ(bus.devsim("step u1"), 0);
    ASSERT_TRUE(host.waitForSwitches(1));
    answer("size=64 ok");
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    ASSERT_TRUE(host.waitForResets(1));
    EXPECT_EQ(host.resetThread(), host.at(0).thread) << "sent by the streaming thread as it ended";

    // The host answers as hosts do: it rebuilds the buffers on the same object, at the new size. Once
    // stopped, the streaming thread has ended: a second request would have come by now.
    EXPECT_EQ(driver->stop(), ASE_OK);
    EXPECT_EQ(host.resetRequests(), 1);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(bufferSize(), 64);
    EXPECT_EQ(driver->createBuffers(records.data(), 2, 64, &host.callbacks), ASE_OK);
}

TEST_F(Panel, AChangeWhilePreparedAsksAHostThatTakesTheResetRequestAtOnce)
{
    ASSERT_TRUE(prepare());
    host.resetSupported = false;
    answer("size=64 ok");
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    EXPECT_EQ(host.resetRequests(), 0) << "sent although the host does not take it";
    host.resetSupported = true;
    answer("size=128 ok");
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    EXPECT_EQ(host.resetRequests(), 1);
    EXPECT_EQ(host.resetThread(), std::this_thread::get_id());
    EXPECT_EQ(storedDword("Use MMCSS"), 1u);
    EXPECT_EQ(storedDword("Lower DWM priority"), 1u);
}

TEST_F(Panel, TheSizeGoesToEveryInterface)
{
    plug("u2", typicalCaps()); // first in the driver's tables: the records are its channels, u1 idles
    devsim("set u2 buffer-size 32");
    ASSERT_TRUE(prepare());
    answer("size=64 ok");
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    EXPECT_EQ(driverInfoWord(8, 0), 64u);
    EXPECT_EQ(driverInfoWord(8, 1), 64u);
    EXPECT_EQ(host.resetRequests(), 1);
}

TEST_F(Panel, OkWithoutMovingStoresTheSwitchesButAsksForNothing)
{
    ASSERT_TRUE(prepare());
    clearTrace();
    answer("mmcss=0 dwm=0 ok");
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    EXPECT_EQ(host.resetRequests(), 0);
    EXPECT_TRUE(trace(" DC 9 ").empty());
    EXPECT_EQ(storedDword("Use MMCSS"), 0u);
    EXPECT_EQ(storedDword("Lower DWM priority"), 0u);
}

TEST_F(Panel, CancelLeavesTheSwitchesTheRegistryAndTheSizeAlone)
{
    ASSERT_TRUE(prepare());
    clearTrace();
    answer("size=512 mmcss=0 cancel");
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    EXPECT_EQ(host.resetRequests(), 0);
    EXPECT_TRUE(trace(" DC 9 ").empty());
    EXPECT_EQ(storedDword("Use MMCSS"), 0xFFFFFFFFu);
}

TEST_F(Panel, ARefusedSizeShowsABoxAndAsksForNoReset)
{
    ASSERT_TRUE(prepare());
    devsim("fault u1 dc:9 status:0xC000000D");
    answer("size=256 ok");
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    EXPECT_EQ(host.resetRequests(), 0);
    EXPECT_TRUE(logged("Message box [ASIO Strellis] The kernel driver refused the buffer size 256."));
}

TEST_F(Panel, SettingsCountOnlyAsFourByteDwordsWithAPlausibleRate)
{
    platform::HKEY k = nullptr;
    ASSERT_EQ(platform::regCreateKey(platform::HKEY_CURRENT_USER, "Software\\Varnel\\ASIO Strellis", &k), 0);
    const char text[] = "44100";
    platform::regSetValue(k, "Sample rate", platform::REG_SZ, text, sizeof text);
    const uint32_t zero = 0;
    platform::regSetValue(k, "Use MMCSS", platform::REG_DWORD, &zero, 4);
    platform::regCloseKey(k);
    driver = loadAndInit();
    ASSERT_NE(driver, nullptr);
    double rate = 0;
    driver->getSampleRate(&rate);
    EXPECT_EQ(rate, 48000.0) << "a text rate is not a setting";
    answer("ok");
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    EXPECT_EQ(storedDword("Use MMCSS"), 1u) << "not read without a valid rate: the default stays";
}

TEST_F(Panel, BeforeVistaBothSwitchesAreOffAndOkStoresThemOff)
{
    devsim("os windows xp");
    ASSERT_TRUE(prepare());
    answer("mmcss=1 dwm=1 ok");
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    EXPECT_EQ(storedDword("Use MMCSS"), 0u);
    EXPECT_EQ(storedDword("Lower DWM priority"), 0u);
}
