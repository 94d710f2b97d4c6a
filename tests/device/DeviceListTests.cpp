#include "device/DeviceList.h"
#include "device/DeviceMessage.h"
#include "device/Win32NotificationWindow.h"
#include "platform/Debug.h"
#include "platform/MessageWindow.h"
#include "platform/Time.h"

#include "DevsimProcess.h"
#include "ManualClock.h"
#include "MessageLoop.h"
#include "TempBus.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace
{

using testsupport::devsimProcess;

using device::DeviceList;
using device::SystemMessage;
using device::Win32MessageListener;
using device::Win32NotificationWindow;
using testsupport::pumpPosted;
using testsupport::pumpUntil;
using testsupport::waitUntil;

constexpr uint32_t kVendor = 0x3B71;

struct Received
{
    int32_t id;
    std::string path;
};

// Collects the posted device messages on the message thread.
class Collector : public juce::MessageListener
{
public:
    void handleMessage(const juce::Message& message) override
    {
        if (const auto* m = dynamic_cast<const SystemMessage*>(&message))
        {
            auto* dev = m->getObjectAs<device::vhw>();
            received.push_back({m->id, dev != nullptr ? dev->getDevicePath() : std::string()});
        }
    }
    std::vector<Received> received;
};

class DeviceListTest : public ::testing::Test
{
protected:
    void SetUp() override { juce::MessageManager::getInstance(); }
    void TearDown() override { delete Win32NotificationWindow::getInstance(); }

    std::string pathOf(const std::string& unit) const
    {
        return "\\\\?\\doranth#" + unit + "#{3d5a1f20-7c44-4b9e-9e21-6a0b5c7d8e31}";
    }

    testsupport::TempBus bus;
};

// The message manager and the notification window live for the whole test process; both go at its end.
class JuceShutdown : public ::testing::Environment
{
public:
    void TearDown() override
    {
        juce::DeletedAtShutdown::deleteAll();
        juce::MessageManager::deleteInstance();
    }
};
const auto* const juceShutdown = ::testing::AddGlobalTestEnvironment(new JuceShutdown);

class CountingListener : public Win32MessageListener
{
public:
    void handleWin32Message(uint32_t message, platform::WPARAM, platform::LPARAM) override
    {
        if (message == 0x400)
            ++calls;
    }
    std::atomic<int> calls{0};
};

// Counts the device-change broadcasts the notification thread hands out. Made after the list's notifier, it
// is called after it for each broadcast: once it has counted one, the list has handled that one and every
// earlier one, and posted what it had to post.
class BroadcastCounter : public Win32MessageListener
{
public:
    BroadcastCounter() { Win32NotificationWindow::addListener(this); }
    ~BroadcastCounter() override { Win32NotificationWindow::removeListener(this); }

    void handleWin32Message(uint32_t message, platform::WPARAM wParam, platform::LPARAM) override
    {
        if (message == platform::WM_DEVICECHANGE)
            ++(wParam == platform::DBT_DEVICEARRIVAL ? arrivals : removals);
    }

    // Until at least that many of each have been handed out.
    bool waitFor(int wantedArrivals, int wantedRemovals) const
    {
        return waitUntil([&]
                         { return arrivals.load() >= wantedArrivals && removals.load() >= wantedRemovals; });
    }

private:
    std::atomic<int> arrivals{0};
    std::atomic<int> removals{0};
};

} // namespace

TEST_F(DeviceListTest, TheListRunsInReverseEnumerationOrderAndKeepsOnlyTheWantedVendor)
{
    ASSERT_EQ(bus.devsim("plug u1 --model st8"), 0);
    ASSERT_EQ(bus.devsim("plug other --model foreign"), 0);
    ASSERT_EQ(bus.devsim("plug u2 --model st4"), 0);

    DeviceList list(kVendor);
    ASSERT_EQ(list.getCount(), 2);
    EXPECT_EQ(list.getDevice(0)->getDevicePath(), pathOf("u2"));
    EXPECT_EQ(list.getDevice(1)->getDevicePath(), pathOf("u1"));
    EXPECT_EQ(list.getDevice(2), nullptr);
}

TEST_F(DeviceListTest, PathsMatchIgnoringLetterCaseAndAHeldPathIsNotScannedTwice)
{
    ASSERT_EQ(bus.devsim("plug u1 --model st8"), 0);
    DeviceList list(kVendor);
    ASSERT_EQ(list.getCount(), 1);

    const std::string upper = juce::String(pathOf("u1")).toUpperCase().toStdString();
    EXPECT_EQ(list.scan(&upper), nullptr); // already held
    EXPECT_EQ(list.getCount(), 1);

    device::vhw::Ptr removed = list.remove(upper);
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(list.getCount(), 0);
    EXPECT_EQ(list.remove(upper), nullptr);

    device::vhw::Ptr again = list.scan(&upper);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->getDevicePath(), pathOf("u1"));
}

TEST_F(DeviceListTest, HotPlugFromAnotherProcessPostsOneArrivalAndOneRemoval)
{
    DeviceList list(kVendor);
    Collector collector;
    list.setListener(&collector);
    BroadcastCounter broadcasts;

    ASSERT_EQ(devsimProcess({"plug", "u1", "--model", "st8"}), 0);
    ASSERT_TRUE(pumpUntil([&] { return collector.received.size() == 1; }));
    EXPECT_EQ(collector.received[0].id, device::deviceArrivalMessage);
    EXPECT_EQ(collector.received[0].path, pathOf("u1"));
    EXPECT_EQ(list.getCount(), 1);

    // All three removal broadcasts arrive; only the first still finds the device.
    ASSERT_EQ(devsimProcess({"unplug", "u1", "--codes", "7"}), 0);
    ASSERT_TRUE(broadcasts.waitFor(1, 3));
    ASSERT_TRUE(pumpPosted());
    ASSERT_EQ(collector.received.size(), 2u);
    EXPECT_EQ(collector.received[1].id, device::deviceRemovalMessage);
    EXPECT_EQ(collector.received[1].path, pathOf("u1"));
    EXPECT_EQ(list.getCount(), 0);
}

TEST_F(DeviceListTest, AForeignArrivalPostsNothingAndLeavesTheList)
{
    ASSERT_EQ(bus.devsim("plug u1 --model st8"), 0);
    DeviceList list(kVendor);
    Collector collector;
    list.setListener(&collector);
    BroadcastCounter broadcasts;

    ASSERT_EQ(devsimProcess({"plug", "other", "--model", "foreign"}), 0);
    ASSERT_EQ(devsimProcess({"unplug", "other"}), 0); // query-remove and remove-complete
    ASSERT_TRUE(broadcasts.waitFor(1, 2));
    ASSERT_TRUE(pumpPosted());
    EXPECT_TRUE(collector.received.empty());
    EXPECT_EQ(list.getCount(), 1);
}

TEST_F(DeviceListTest, AUnitPluggedBeforeTheProcessStartsIsListedNotAnnounced)
{
    ASSERT_EQ(devsimProcess({"plug", "u1", "--model", "st8"}), 0);
    DeviceList list(kVendor);
    Collector collector;
    list.setListener(&collector);
    // Once a later arrival is handed out, a broadcast for the earlier plug would have been too.
    BroadcastCounter broadcasts;
    ASSERT_EQ(devsimProcess({"plug", "other", "--model", "foreign"}), 0);
    ASSERT_TRUE(broadcasts.waitFor(1, 0));
    ASSERT_TRUE(pumpPosted());
    EXPECT_TRUE(collector.received.empty());
    EXPECT_EQ(list.getCount(), 1);
}

TEST_F(DeviceListTest, ListeningBringsInWhatCameAndWentBeforeUnannouncedAndAnnouncesWhatFollows)
{
    ASSERT_EQ(bus.devsim("plug u1 --model st8"), 0);
    DeviceList list(kVendor);
    // Before the list listens, u1 goes and u2 comes.
    ASSERT_EQ(bus.devsim("unplug u1"), 0);
    ASSERT_EQ(bus.devsim("plug u2 --model st4"), 0);
    Collector collector;
    const std::vector<device::vhw::Ptr> listed = list.setListenerAndSync(&collector);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]->getDevicePath(), pathOf("u2"));
    EXPECT_EQ(list.getCount(), 1);

    // u1 plugged back is a new device, announced.
    BroadcastCounter broadcasts;
    ASSERT_EQ(devsimProcess({"plug", "u1"}), 0);
    ASSERT_TRUE(broadcasts.waitFor(1, 0));
    ASSERT_TRUE(pumpPosted());
    ASSERT_EQ(collector.received.size(), 1u);
    EXPECT_EQ(collector.received[0].id, device::deviceArrivalMessage);
    EXPECT_EQ(collector.received[0].path, pathOf("u1"));
}

TEST_F(DeviceListTest, AMessageInFlightKeepsItsDeviceAliveAfterTheListDropsIt)
{
    DeviceList list(kVendor);
    Collector collector;
    list.setListener(&collector);
    BroadcastCounter broadcasts;
    // Plug and pull before the message thread runs: both messages are queued behind each other.
    ASSERT_EQ(devsimProcess({"plug", "u1", "--model", "st8"}), 0);
    ASSERT_TRUE(broadcasts.waitFor(1, 0));
    ASSERT_EQ(devsimProcess({"unplug", "u1"}), 0);
    ASSERT_TRUE(broadcasts.waitFor(1, 1));
    ASSERT_TRUE(pumpUntil([&] { return collector.received.size() == 2; }));
    EXPECT_EQ(collector.received[0].path, pathOf("u1"));
    EXPECT_EQ(collector.received[1].path, pathOf("u1"));
}

TEST(NotificationWindow, AListenerAddedTwiceIsCalledOnceAndNotAfterItsRemoval)
{
    CountingListener listener;
    Win32NotificationWindow::addListener(&listener);
    const platform::HWND window = Win32NotificationWindow::getWindowHandle();
    ASSERT_NE(window, 0u);
    Win32NotificationWindow::addListener(&listener);
    // Listed after it, the probe is called for a message once the listener's calls for it are over.
    CountingListener probe;
    Win32NotificationWindow::addListener(&probe);

    ASSERT_TRUE(platform::postMessage(window, 0x400, 0, 0));
    ASSERT_TRUE(waitUntil([&] { return probe.calls.load() == 1; }));
    EXPECT_EQ(listener.calls.load(), 1);

    Win32NotificationWindow::removeListener(&listener);
    ASSERT_TRUE(platform::postMessage(window, 0x400, 0, 0));
    ASSERT_TRUE(waitUntil([&] { return probe.calls.load() == 2; }));
    EXPECT_EQ(listener.calls.load(), 1);
    delete Win32NotificationWindow::getInstance();
}

TEST(NotificationWindow, RemovingAListenerWithoutAnInstanceMakesNone)
{
    ASSERT_FALSE(Win32NotificationWindow::exists());
    CountingListener listener;
    Win32NotificationWindow::removeListener(&listener);
    EXPECT_FALSE(Win32NotificationWindow::exists());
}

TEST(NotificationWindow, TheWindowExistsAsSoonAsTheFirstListenerIsAddedAndTheThreadEndsOnDeletion)
{
    for (int round = 0; round < 3; ++round)
    {
        CountingListener listener;
        Win32NotificationWindow::addListener(&listener);
        const platform::HWND window = Win32NotificationWindow::getWindowHandle();
        EXPECT_NE(window, 0u);
        Win32NotificationWindow* instance = Win32NotificationWindow::getInstance();
        EXPECT_TRUE(instance->isThreadRunning());
        Win32NotificationWindow::removeListener(&listener);
        delete instance;
        EXPECT_FALSE(Win32NotificationWindow::exists());
        EXPECT_FALSE(platform::postMessage(window, 0x400, 0, 0)); // the window is gone
    }
}

TEST(NotificationWindow, ListenersAddingAndRemovingListenersDuringACallAreSafeAndRemovedOnesAreNotCalled)
{
    // Counts the messages 0x400 and 0x401.
    struct Counter : Win32MessageListener
    {
        void handleWin32Message(uint32_t message, platform::WPARAM, platform::LPARAM) override
        {
            if (message == 0x400 || message == 0x401)
                ++calls;
        }
        std::atomic<int> calls{0};
    };
    // On 0x401: removes the listener after it, adds many (moving the list) and removes itself.
    struct Reshuffler : Win32MessageListener
    {
        void handleWin32Message(uint32_t message, platform::WPARAM, platform::LPARAM) override
        {
            if (message != 0x401)
                return;
            Win32NotificationWindow::removeListener(next);
            for (Counter& c : *added)
                Win32NotificationWindow::addListener(&c);
            Win32NotificationWindow::removeListener(this);
        }
        Win32MessageListener* next = nullptr;
        std::vector<Counter>* added = nullptr;
    } first;
    Counter second;
    std::vector<Counter> added(64);
    first.next = &second;
    first.added = &added;
    Win32NotificationWindow::addListener(&first);
    Win32NotificationWindow::addListener(&second);
    const platform::HWND window = Win32NotificationWindow::getWindowHandle();
    ASSERT_NE(window, 0u);

    platform::postMessage(window, 0x401, 0, 0);
    platform::postMessage(window, 0x400, 0, 0);
    EXPECT_TRUE(waitUntil([&] { return added.back().calls.load() == 1; }));
    delete Win32NotificationWindow::getInstance();
    EXPECT_EQ(second.calls.load(), 0);
    for (const Counter& c : added)
        EXPECT_EQ(c.calls.load(), 1) << "the added ones hear the next message only";
}

TEST(NotificationWindow, ARemovalDuringDeletionWaitsForTheCallInProgress)
{
    // The listener is in its WM_CLOSE call while the instance is being deleted: its removal must still
    // find the instance and wait for that call. The call returns only once the removal has found it in
    // progress and waits, so a removal that returned first did not wait.
    static std::atomic<bool> removalWaits{false};
    removalWaits = false;
    struct Closing : Win32MessageListener
    {
        void handleWin32Message(uint32_t message, platform::WPARAM, platform::LPARAM) override
        {
            if (message != platform::WM_CLOSE)
                return;
            entered = true;
            waitUntil([] { return removalWaits.load(); });
            returned = true;
        }
        std::atomic<bool> entered{false};
        std::atomic<bool> returned{false};
    } listener;
    Win32NotificationWindow::addListener(&listener);
    ASSERT_NE(Win32NotificationWindow::getWindowHandle(), 0u);
    Win32NotificationWindow::setRemovalWaitHook([] { removalWaits = true; });

    std::thread deleter([] { delete Win32NotificationWindow::getInstance(); });
    ASSERT_TRUE(waitUntil([&] { return listener.entered.load(); }));
    EXPECT_TRUE(Win32NotificationWindow::exists());
    Win32NotificationWindow::removeListener(&listener);
    EXPECT_TRUE(listener.returned);
    EXPECT_TRUE(removalWaits);
    Win32NotificationWindow::setRemovalWaitHook(nullptr);
    deleter.join();
    EXPECT_FALSE(Win32NotificationWindow::exists());
}

TEST(NotificationWindow, DeletionWaitsForAListenerPastTheCloseTimeOutAndNeverKillsTheThread)
{
    // The listener spends longer in its call than any wait followed by a kill could last (on the manual
    // clock, so in a moment), and returns only once the deletion has written that it waits on.
    testsupport::ManualClock clock;
    platform::DebugCapture debug;
    struct Stuck : Win32MessageListener
    {
        explicit Stuck(const platform::DebugCapture& d) : debug(d) {}
        void handleWin32Message(uint32_t message, platform::WPARAM, platform::LPARAM) override
        {
            if (message != platform::WM_CLOSE)
                return;
            platform::sleepMs(4500);
            reported = waitUntil([&] { return !debug.lines().empty(); });
            returned = true;
        }
        const platform::DebugCapture& debug;
        std::atomic<bool> reported{false};
        std::atomic<bool> returned{false};
    } listener(debug);
    Win32NotificationWindow::addListener(&listener);
    ASSERT_NE(Win32NotificationWindow::getWindowHandle(), 0u);
    delete Win32NotificationWindow::getInstance();
    EXPECT_TRUE(listener.reported);
    EXPECT_TRUE(listener.returned);
    EXPECT_FALSE(Win32NotificationWindow::exists());
    EXPECT_EQ(debug.lines().size(), 1u);
}

TEST(NotificationWindow, DeletingRightAfterCreationNeverHangs)
{
    for (int round = 0; round < 20; ++round)
        delete Win32NotificationWindow::getInstance();
    EXPECT_FALSE(Win32NotificationWindow::exists());
}
