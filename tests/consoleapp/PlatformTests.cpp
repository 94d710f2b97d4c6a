// The application shell's rules that need no window, and the platform services it stands on: the
// Windows release setting and the end of the session on SIGTERM.

#include "TempBus.h"
#include "WaitUntil.h"
#include "console/ui/app/ConsoleApp.h"
#include "device/Win32NotificationWindow.h"
#include "platform/SessionEnd.h"
#include "platform/SystemInfo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace
{

TEST(WindowCascade, StepsATenthOfTheWorkAreaAndWrapsAtItsSize)
{
    const juce::Rectangle<int> area(0, 0, 1280, 1000);
    juce::Point<int> p = console::cascadePosition(true, {}, area);
    EXPECT_EQ(p, juce::Point<int>(128, 100));
    p = console::cascadePosition(false, p, area);
    EXPECT_EQ(p, juce::Point<int>(256, 200));
    for (int i = 3; i <= 10; ++i)
        p = console::cascadePosition(false, p, area);
    EXPECT_EQ(p, juce::Point<int>(0, 0));
    EXPECT_EQ(console::cascadePosition(false, {1270, 990}, area), juce::Point<int>(118, 90));
}

TEST(CommandLine, ForceUpdateIsTheWholeLineInAnyCase)
{
    EXPECT_TRUE(console::isForceUpdateCommandLine("-forceupdate"));
    EXPECT_TRUE(console::isForceUpdateCommandLine("-FORCEUPDATE"));
    EXPECT_TRUE(console::isForceUpdateCommandLine("  -ForceUpdate \t"));
    EXPECT_FALSE(console::isForceUpdateCommandLine("-forceupdate now"));
    EXPECT_FALSE(console::isForceUpdateCommandLine(""));
    EXPECT_FALSE(console::isForceUpdateCommandLine("forceupdate"));
}

TEST(InstanceLock, TestsCanNameTheirOwnLock)
{
    ::unsetenv("STRELLIS_CONSOLE_LOCK");
    EXPECT_EQ(console::instanceLockName(), "Varnel Strellis Console lock");
    ::setenv("STRELLIS_CONSOLE_LOCK", "mine", 1);
    EXPECT_EQ(console::instanceLockName(), "mine");
    ::unsetenv("STRELLIS_CONSOLE_LOCK");
}

TEST(WindowsRelease, TheMachineSettingDecidesUnlessTheProcessOverridesIt)
{
    testsupport::TempBus bus;
    ::unsetenv("STRELLIS_WINDOWS");
    EXPECT_TRUE(platform::isWindowsVistaOrLater());
    ASSERT_EQ(bus.devsim("os windows"), 0);
    EXPECT_EQ(bus.out, "windows vista\n");

    ASSERT_EQ(bus.devsim("os windows XP"), 0);
    EXPECT_FALSE(platform::isWindowsVistaOrLater());
    ASSERT_EQ(bus.devsim("os"), 0);
    EXPECT_NE(bus.out.find("windows xp\n"), std::string::npos) << bus.out;

    ::setenv("STRELLIS_WINDOWS", "vista", 1);
    EXPECT_TRUE(platform::isWindowsVistaOrLater());
    ASSERT_EQ(bus.devsim("os windows vista"), 0);
    ::setenv("STRELLIS_WINDOWS", "xp", 1);
    EXPECT_FALSE(platform::isWindowsVistaOrLater());
    // A value that names no release leaves the machine's.
    ::setenv("STRELLIS_WINDOWS", "seven", 1);
    EXPECT_TRUE(platform::isWindowsVistaOrLater());
    ::unsetenv("STRELLIS_WINDOWS");

    EXPECT_EQ(bus.devsim("os windows 95"), 2);
    EXPECT_EQ(bus.devsim("os windows xp vista"), 2);
}

class EndSessionListener : public device::Win32MessageListener
{
public:
    void handleWin32Message(uint32_t message, platform::WPARAM wParam, platform::LPARAM) override
    {
        if (message == platform::WM_ENDSESSION)
        {
            lastWParam.store(int(wParam));
            count.fetch_add(1);
        }
        else if (message == kSentinel)
            sentinels.fetch_add(1);
    }
    static constexpr uint32_t kSentinel = 0x400;
    std::atomic<int> count{0};
    std::atomic<int> lastWParam{-1};
    std::atomic<int> sentinels{0};
};

TEST(SessionEnd, SigtermReachesTheNotificationListenersOnceAsWmEndSession)
{
    EndSessionListener listener;
    device::Win32NotificationWindow::addListener(&listener);
    const platform::HWND window = device::Win32NotificationWindow::getWindowHandle();
    ASSERT_NE(window, 0u);
    {
        platform::SessionEndWatcher watcher;
        ASSERT_TRUE(watcher.isActive());
        std::raise(SIGTERM);
        std::raise(SIGTERM);
        ASSERT_TRUE(testsupport::waitUntil([&] { return listener.count.load() > 0; }));
        EXPECT_TRUE(watcher.hasEnded());
    }
    // The watcher's thread has been joined: whatever it posted is queued before this message.
    ASSERT_TRUE(platform::postMessage(window, EndSessionListener::kSentinel, 0, 0));
    ASSERT_TRUE(testsupport::waitUntil([&] { return listener.sentinels.load() > 0; }));
    device::Win32NotificationWindow::removeListener(&listener);
    EXPECT_EQ(listener.count.load(), 1);
    EXPECT_EQ(listener.lastWParam.load(), 1);
}

TEST(SessionEnd, OnlyOneWatcherInstallsTheHandler)
{
    platform::SessionEndWatcher first;
    platform::SessionEndWatcher second;
    EXPECT_TRUE(first.isActive());
    EXPECT_FALSE(second.isActive());
}

} // namespace
