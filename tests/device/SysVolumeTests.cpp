#include "device/SysVolume.h"
#include "device/Vhw.h"
#include "device/Win32NotificationWindow.h"
#include "platform/CoreAudio.h"
#include "platform/DeviceInterfaces.h"

#include "DevsimProcess.h"
#include "EndpointProbe.h"
#include "MessageLoop.h"
#include "TempBus.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <vector>

namespace
{

using testsupport::devsimProcess;
using testsupport::pumpUntil;
using Counter = testsupport::ChangeCounter;
using Probe = testsupport::EndpointProbe;

using device::SysVolumeMixerAPI;
using device::SysVolumeVista;
using device::vhw;

const platform::Guid kClass{0x3D5A1F20, 0x7C44, 0x4B9E, {0x9E, 0x21, 0x6A, 0x0B, 0x5C, 0x7D, 0x8E, 0x31}};

class SysVolumeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        juce::MessageManager::getInstance();
        ::setenv("STRELLIS_WINDOWS", "vista", 1);
    }
    void TearDown() override
    {
        ::unsetenv("STRELLIS_WINDOWS");
        if (device::Win32NotificationWindow::exists())
            delete device::Win32NotificationWindow::getInstance();
    }

    // Plugs a unit and makes its device object (open, with a listener) in the order of plugging.
    vhw::Ptr plug(const std::string& unit, const std::string& options = "--model st4")
    {
        EXPECT_EQ(bus.devsim("plug " + unit + " " + options), 0) << bus.err;
        platform::DeviceInterfaceSet set(kClass);
        vhw::Ptr device = new vhw(set.path(set.size() - 1));
        EXPECT_TRUE(device->open());
        return device;
    }

    static SysVolumeVista& linkOf(vhw& device)
    {
        return dynamic_cast<SysVolumeVista&>(*device.getSysVolume());
    }

    // Waits until the link's first search has attached this many endpoints.
    static bool attached(vhw& device, int endpoints)
    {
        return pumpUntil([&] { return linkOf(device).getEndpointCount() == endpoints; });
    }

    static float gain(vhw& device, int channel)
    {
        float db = 1.0f;
        EXPECT_EQ(device.getPlaybackGain(channel, db), 0);
        return db;
    }

    testsupport::TempBus bus;
    Counter listener;
};

TEST_F(SysVolumeTest, AGainSetOnAnEndpointReachesTheDeviceWithinItsRangeAndSendsNoChangeMessage)
{
    vhw::Ptr device = plug("u1");
    ASSERT_TRUE(attached(*device, 4)); // eight playback channels in stereo pairs
    device->addVolumeListener(&listener);
    Probe probe;

    EXPECT_EQ(device->setPlaybackGain(0, -120.0f), 0);
    ASSERT_TRUE(pumpUntil([&] { return !probe.contexts().empty(); }));
    EXPECT_EQ(probe.contexts().front(), device::kSysVolumeEventContext);
    ASSERT_TRUE(testsupport::pumpPosted());
    EXPECT_EQ(listener.calls, 0);
    EXPECT_NEAR(gain(*device, 0), -96.0f, 0.01f); // held within the endpoint's range on its way
    device->removeVolumeListener(&listener);
}

TEST_F(SysVolumeTest, AVolumeChangeFromAnotherProcessReachesTheListener)
{
    vhw::Ptr device = plug("u1");
    ASSERT_TRUE(attached(*device, 4));
    device->addVolumeListener(&listener);

    ASSERT_EQ(devsimProcess({"volume", "u1", "3", "-12"}), 0);
    EXPECT_TRUE(pumpUntil([&] { return listener.calls > 0; }));
    EXPECT_NEAR(gain(*device, 3), -12.0f, 0.01f);
    device->removeVolumeListener(&listener);
}

TEST_F(SysVolumeTest, MutingOneChannelOfAStereoEndpointMutesBothWithAChangeMessage)
{
    vhw::Ptr device = plug("u1");
    ASSERT_TRUE(attached(*device, 4));
    device->addVolumeListener(&listener);

    EXPECT_EQ(device->setPlaybackMute(3, 1), 0);
    EXPECT_TRUE(pumpUntil([&] { return listener.calls > 0; }));
    int muted[4] = {};
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(device->getPlaybackMute(c, muted[c]), 0);
    EXPECT_EQ(std::vector<int>(muted, muted + 4), (std::vector<int>{0, 0, 1, 1}));
    // Muting again changes nothing at the endpoint, which still counts as done.
    EXPECT_EQ(device->setPlaybackMute(2, 1), 0);
    device->removeVolumeListener(&listener);
}

TEST_F(SysVolumeTest, WithoutAnIdentifiedEndpointTheSetGoesToTheDeviceAndAnswersAsItDoes)
{
    ASSERT_EQ(bus.devsim("plug u1 --model st4"), 0);
    ASSERT_EQ(bus.devsim("set u1 endpoints anonymous"), 0);
    platform::DeviceInterfaceSet set(kClass);
    vhw::Ptr device = new vhw(set.path(0));
    ASSERT_TRUE(device->open());

    // Whether the first search is still running or has found nothing, the command goes to the device.
    EXPECT_EQ(device->setPlaybackGain(0, -120.0f), 0);
    EXPECT_NEAR(gain(*device, 0), -120.0f, 0.5f); // not held to the endpoint's -96 dB
    EXPECT_EQ(device->setPlaybackMute(1, 1), 0);
    int muted = -1;
    EXPECT_EQ(device->getPlaybackMute(0, muted), 0);
    EXPECT_EQ(muted, 0);
    ASSERT_EQ(bus.devsim("fault u1 vdc:6/0 timeout"), 0);
    EXPECT_EQ(device->setPlaybackGain(0, -6.0f), -1);
    EXPECT_EQ(linkOf(*device).getEndpointCount(), 0);
}

TEST_F(SysVolumeTest, AUnitsLinkAttachesOnlyItsOwnEndpoints)
{
    vhw::Ptr first = plug("u1");
    vhw::Ptr second = plug("u2", "--model st2"); // four playback channels: two endpoints
    ASSERT_TRUE(attached(*first, 4));
    ASSERT_TRUE(attached(*second, 2));

    EXPECT_EQ(second->setPlaybackGain(1, -30.0f), 0);
    EXPECT_NEAR(gain(*second, 1), -30.0f, 0.01f);
    EXPECT_NEAR(gain(*first, 1), 0.0f, 0.01f);
    // A channel the unit does not have goes to the device, which refuses it.
    EXPECT_EQ(second->setPlaybackGain(40, -6.0f), 2);
}

TEST_F(SysVolumeTest, AnEndpointCallThatFailsDropsTheEndpointsAndTheNextSetFindsThemAgain)
{
    vhw::Ptr device = plug("u1");
    ASSERT_TRUE(attached(*device, 4));
    ASSERT_EQ(bus.devsim("unplug u1"), 0);
    ASSERT_EQ(bus.devsim("plug u1"), 0);
    device->close(); // the old handle went with the plug
    ASSERT_TRUE(device->open());

    EXPECT_EQ(device->setPlaybackGain(2, -20.0f), -1);
    EXPECT_EQ(linkOf(*device).getEndpointCount(), 0);
    EXPECT_EQ(device->setPlaybackGain(2, -20.0f), 0);
    EXPECT_EQ(linkOf(*device).getEndpointCount(), 4);
    EXPECT_NEAR(gain(*device, 2), -20.0f, 0.01f);
}

TEST_F(SysVolumeTest, BeforeVistaTheSetGoesToTheDeviceAndAMixerChangeSendsAChangeMessage)
{
    ::setenv("STRELLIS_WINDOWS", "xp", 1);
    vhw::Ptr device = plug("u1", "--model st4 --unique-name Desk");
    ASSERT_NE(dynamic_cast<SysVolumeMixerAPI*>(device->getSysVolume()), nullptr);
    device->addVolumeListener(&listener);

    EXPECT_EQ(device->setPlaybackGain(0, -120.0f), 0);
    EXPECT_NEAR(gain(*device, 0), -120.0f, 0.5f); // not held to the endpoint's -96 dB
    ASSERT_EQ(bus.devsim("mute u1 5 1"), 0);
    EXPECT_TRUE(pumpUntil([&] { return listener.calls > 0; }));
    device->removeVolumeListener(&listener);
}

TEST_F(SysVolumeTest, TheEndpointSearchNeverRunsOnTheThreadThatMakesTheDeviceObject)
{
    // While the audio notification thread is inside a call, no search can register its callbacks. A
    // device object made meanwhile (as the notification window's thread makes them on arrival, under the
    // device list's lock) comes back at once with its search still to finish; a search run by the
    // construction itself would wait for the call to end.
    ASSERT_EQ(bus.devsim("plug u1 --model st4"), 0) << bus.err;
    juce::WaitableEvent inCall(true);
    juce::WaitableEvent endCall(true);
    Probe probe(
        [&]
        {
            inCall.signal();
            endCall.wait(testsupport::kHangMs);
        });
    ASSERT_EQ(bus.devsim("volume u1 0 -12"), 0) << bus.err;
    ASSERT_TRUE(inCall.wait(testsupport::kHangMs));
    vhw::Ptr device = new vhw(platform::DeviceInterfaceSet(kClass).path(0));
    const int attachedWhenMade = linkOf(*device).getEndpointCount();
    endCall.signal();
    EXPECT_EQ(attachedWhenMade, 0);
    EXPECT_TRUE(attached(*device, 4));
}

TEST_F(SysVolumeTest, TheAnalyzersDeviceObjectsHaveNoLink)
{
    ASSERT_EQ(bus.devsim("plug u1 --model st4"), 0);
    platform::DeviceInterfaceSet set(kClass);
    vhw::Ptr device = new vhw(set.path(0), vhw::VolumeLink::None);
    ASSERT_TRUE(device->open());
    EXPECT_EQ(device->getSysVolume(), nullptr);
    device->addVolumeListener(&listener);
    EXPECT_EQ(device->setPlaybackGain(0, -6.0f), 1);
    device->removeVolumeListener(&listener);
}

} // namespace
