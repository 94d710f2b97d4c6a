#include "AnalyzerTestSupport.h"

#include "ManualClock.h"
#include "device/DeviceMessage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <vector>

namespace
{

using analyzer::DeviceList;
using analyzertest::pumpUntil;
using analyzertest::Sandbox;

// Collects the posted device messages on the message thread.
class Collector : public juce::MessageListener
{
public:
    void handleMessage(const juce::Message& message) override
    {
        if (const auto* m = dynamic_cast<const device::SystemMessage*>(&message))
        {
            const auto* d = m->getObjectAs<device::vhw>();
            ids.push_back(m->id);
            paths.push_back(d != nullptr ? d->getDevicePath() : std::string());
        }
    }
    std::vector<int32_t> ids;
    std::vector<std::string> paths;
};

// A raw capability record of another vendor (vendor id 0), which the console's list would drop.
std::string foreignRecord(const std::string& dir)
{
    const std::string path = dir + "/foreign.caps";
    std::ofstream(path, std::ios::binary) << std::string(16, '\0');
    return path;
}

std::string pathOf(const std::string& unit)
{
    return "\\\\?\\doranth#" + unit + "#{3d5a1f20-7c44-4b9e-9e21-6a0b5c7d8e31}";
}

TEST(AnalyzerDeviceList, KeepsEveryInterfaceWhateverItsVendorOrRecordTheLastFoundFirst)
{
    Sandbox box;
    box.devsim("plug a --model st8");
    box.devsim("plug b --caps " + foreignRecord(box.bus.dir));
    box.devsim("plug c --no-caps");
    DeviceList list;
    ASSERT_EQ(list.getCount(), 3);
    EXPECT_EQ(list.getDevice(0)->getDevicePath(), pathOf("c"));
    EXPECT_FALSE(list.getDevice(0)->isValid());
    EXPECT_EQ(list.getDevice(1)->getDevicePath(), pathOf("b"));
    EXPECT_EQ(list.getDevice(2)->getDevicePath(), pathOf("a"));
    EXPECT_EQ(list.getDevice(3), nullptr);
}

TEST(AnalyzerDeviceList, FindsADeviceByItsPathIgnoringCase)
{
    Sandbox box;
    box.devsim("plug a --model st8");
    DeviceList list;
    EXPECT_EQ(list.findByPath(juce::String(pathOf("a")).toUpperCase().toStdString()), list.getDevice(0));
    EXPECT_EQ(list.findByPath(pathOf("zz")), nullptr);
}

TEST(DeviceChangeNotifier, PostsOneRemovalPerBroadcastOfAListedInterface)
{
    Sandbox box;
    box.devsim("plug a --model st8");
    box.devsim("plug b --model st8");
    Collector collector;
    DeviceList list;
    list.setListener(&collector);
    ASSERT_TRUE(list.isWatching());

    box.devsim("unplug a --codes 7"); // query-remove, remove-pending, remove-complete
    // Broadcasts arrive in order: once b's removal is posted, every one of a's has been.
    box.devsim("unplug b");
    ASSERT_TRUE(pumpUntil([&] { return !collector.paths.empty() && collector.paths.back() == pathOf("b"); }));
    ASSERT_EQ(std::count(collector.paths.begin(), collector.paths.end(), pathOf("a")), 3);
    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(collector.ids[i], device::deviceRemovalMessage);
        EXPECT_EQ(collector.paths[i], pathOf("a"));
    }
    EXPECT_EQ(list.getCount(), 2) << "the list keeps its devices";
}

TEST(DeviceChangeNotifier, IgnoresArrivalsAndInterfacesNotInTheList)
{
    Sandbox box;
    box.devsim("plug a --model st8");
    Collector collector;
    DeviceList list;
    list.setListener(&collector);
    box.devsim("plug late --model st8");
    box.devsim("unplug late");
    // Broadcasts arrive in order: a's removal comes after whatever the others brought.
    box.devsim("unplug a");
    ASSERT_TRUE(pumpUntil([&] { return !collector.paths.empty(); }));
    EXPECT_EQ(collector.paths.front(), pathOf("a"));
    EXPECT_EQ(list.getCount(), 1);
}

TEST(DeviceChangeNotifier, PostsNothingOnceStopped)
{
    Sandbox box;
    box.devsim("plug a --model st8");
    Collector collector;
    DeviceList list;
    list.setListener(&collector);
    list.stopNotifications();
    EXPECT_FALSE(list.isWatching());
    box.devsim("unplug a");
    ASSERT_TRUE(testsupport::pumpPosted()); // the notifier has ended: nothing can be posted after this
    EXPECT_TRUE(collector.ids.empty());
}

class FirmwareCounterFetch : public ::testing::Test
{
protected:
    void SetUp() override
    {
        box.devsim("plug a --model st8");
        box.devsim("set a counters 7 8 9");
        list = std::make_unique<DeviceList>();
        device = list->getDevice(0);
        ASSERT_TRUE(device->open());
    }
    void TearDown() override
    {
        if (device != nullptr)
            device->close();
    }

    Sandbox box;
    std::unique_ptr<DeviceList> list;
    device::vhw::Ptr device;
};

TEST_F(FirmwareCounterFetch, RetriesATransientBusResetUntilTheDeviceAnswers)
{
    box.devsim("fault a vdc:0/4 busreset 3");
    analyzer::FirmwareCounters kept;
    EXPECT_EQ(analyzer::fetchFirmwareCounters(*device, kept), 0);
    EXPECT_EQ(kept.dspOverflow, 9u);
}

TEST_F(FirmwareCounterFetch, GivesUpAfterTwoSecondsOfBusResetsAndKeepsTheLastCounters)
{
    analyzer::FirmwareCounters kept{1, 2, 3};
    box.devsim("fault a vdc:0/4 busreset always");
    testsupport::ManualClock clock;
    EXPECT_EQ(analyzer::fetchFirmwareCounters(*device, kept), -1);
    // The first answer at or past the limit ends it; a try is a request and a 10 ms pause.
    EXPECT_GE(clock.elapsed(), analyzer::kFirmwareCounterRetryMs);
    EXPECT_LT(clock.elapsed(), analyzer::kFirmwareCounterRetryMs + 10 + sim::os::kVdcTransactionMs);
    EXPECT_EQ(kept.armOverflow, 1u);
    EXPECT_EQ(kept.dspUnderrun, 2u);
    EXPECT_EQ(kept.dspOverflow, 3u);
}

TEST_F(FirmwareCounterFetch, ADeviceErrorIsNotRetriedAndLeavesTheCounters)
{
    analyzer::FirmwareCounters kept{1, 2, 3};
    box.devsim("fault a vdc:0/4 vdr:2 1");
    EXPECT_EQ(analyzer::fetchFirmwareCounters(*device, kept), 2);
    EXPECT_EQ(kept.armOverflow, 1u);
    EXPECT_EQ(analyzer::fetchFirmwareCounters(*device, kept), 0) << "the single fault was used up";
    EXPECT_EQ(kept.armOverflow, 7u);
}

} // namespace
