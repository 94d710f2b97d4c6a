#pragma once

// The console program's shell: the application object, the list of open console windows, the 100 ms
// poll timer and the listener through which device arrival and removal, the tray menu and the windows'
// hardware threads ask for windows to be opened, cascaded or deleted. It decides when the program quits.
//
// Messages are device::SystemMessage: the id, two integers and a counted reference to a device. A
// message about a window names it by its serial number (first integer); one for a window or a device
// that is no longer listed is ignored, so nothing is reached through a freed pointer.
//
// Threads: everything runs on the message thread except handleWin32Message (the notification thread),
// which hands the end-of-session work to the message thread and waits for it only with a time-out.

#include "console/ui/app/AboutDlg.h"
#include "console/ui/app/ConsoleTrayIcon.h"
#include "console/ui/window/ConsoleWindow.h"
#include "device/DeviceList.h"
#include "device/DeviceMessage.h"
#include "device/Win32NotificationWindow.h"
#include "platform/SessionEnd.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <memory>

namespace console
{

class ConsoleApp;

// Program-wide state set by ConsoleApp::initialise.
extern ConsoleApp* theConsoleApp;
extern bool forceFirmwareUpdate;

inline constexpr int32_t kConsoleVendorId = 0x3B71;

// Application messages ('arng', 'delw'; arrival and removal are device::deviceArrivalMessage and
// device::deviceRemovalMessage; 'ends' is the end of the session handed to the message thread).
inline constexpr int32_t arrangeWindowsMessage = 0x61726E67;
inline constexpr int32_t deleteWindowMessage = 0x64656C77;
inline constexpr int32_t endSessionMessage = 0x656E6473;

// The whole command line equals "-forceupdate", ignoring case and surrounding blanks.
bool isForceUpdateCommandLine(const juce::String& commandLine);

// Where a window goes in a cascade: a tenth of the work area further than the previous window (or than
// the area's origin for the first), wrapped to the area's size.
juce::Point<int> cascadePosition(bool first, juce::Point<int> previous, juce::Rectangle<int> workArea);

// The name of the single-instance lock: "Varnel Strellis Console lock", or what STRELLIS_CONSOLE_LOCK
// says (so that tests running side by side do not see each other).
juce::String instanceLockName();

class ConsoleAppTimer : public juce::Timer
{
public:
    void timerCallback() override;
};

class ConsoleAppListener : public juce::MessageListener
{
public:
    void handleMessage(const juce::Message& message) override;
};

class ConsoleApp : public juce::JUCEApplication,
                   public device::Win32MessageListener,
                   public ConsoleWindowHost,
                   public TrayIconHost,
                   public AboutHost
{
public:
    static constexpr int kPollMs = 100;
    static constexpr int kEndSessionWaitMs = 5000;

    ConsoleApp() = default;
    ~ConsoleApp() override;

    void initialise(const juce::String& commandLine) override;
    void shutdown() override;
    const juce::String getApplicationName() override { return "Varnel Strellis Console"; }
    const juce::String getApplicationVersion() override { return "1.0"; }
    bool moreThanOneInstanceAllowed() override { return true; }
    void anotherInstanceStarted(const juce::String&) override {}
    void systemRequestedQuit() override;

    // Notification thread.
    void handleWin32Message(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam) override;

    // --- the window list (message thread) ---
    bool isAnotherInstanceRunning();
    // Firmware check, open, window, list, place; none when the check refuses or the device cannot be
    // opened.
    void openWindow(device::vhw& device);
    // openWindow for a device of the console's vendor that the device list still holds; else nothing.
    void openListedWindow(device::vhw& device);
    void closeWindow(ConsoleWindow* window, bool quitIfLast);
    ConsoleWindow* findWindow(const device::vhw& device) const;
    ConsoleWindow* findWindowBySerial(int serial) const;
    void placeWindow(ConsoleWindow* window);
    void cascadeWindows();
    void showAllWindows() override;
    // Closes every window the way its close button does (flash written when changed) without quitting.
    void hideAllWindows() override;
    int getWindowCount() const { return windowCount_; }
    ConsoleWindow* getHead() const { return head_; }
    device::DeviceList* getDeviceList() const { return deviceList_.get(); }
    ConsoleTrayIcon* getTrayIcon() const { return trayIcon_.get(); }

    // Polls every visible window.
    void pollWindows();
    // Saves every window's properties (the end of the session).
    void saveAllProperties();
    // Posts an application message to the listener; any thread. False when there is no listener.
    bool postAppMessage(int32_t id, int32_t param1, device::vhw* device);
    // The window posts its delete-window message.
    void windowFinished(int serial, device::vhw& device) override
    {
        postAppMessage(deleteWindowMessage, serial, &device);
    }

    // The tray icon's requests.
    void requestQuit() override { systemRequestedQuit(); }
    void requestCascade() override { postAppMessage(arrangeWindowsMessage, 0, nullptr); }
    void requestWindow(device::vhw& device) override
    {
        postAppMessage(device::deviceArrivalMessage, 0, &device);
    }

    // The About window's pause of the status poll, for a firmware update.
    bool pausePolling() override;
    void resumePolling() override;

    ConsoleAppTimer& getTimer() { return timer_; }

protected:
    // Ends the program (JUCEApplication::quit); tests that drive a whole application in their own
    // process note the request instead.
    virtual void quitProgram() { quit(); }

private:
    friend class ConsoleAppListener;
    void handleEndSession(bool ending);
    void releaseEndSessionWaiter();

    std::unique_ptr<ConsoleTrayIcon> trayIcon_;
    ConsoleWindow* head_ = nullptr;
    int windowCount_ = 0;
    std::unique_ptr<device::DeviceList> deviceList_;
    std::unique_ptr<juce::InterProcessLock> instanceLock_;
    std::unique_ptr<ConsoleAppListener> listener_;
    std::atomic<ConsoleAppListener*> postTarget_{nullptr};
    ConsoleAppTimer timer_;
    std::unique_ptr<platform::SessionEndWatcher> sessionEnd_;
    bool listening_ = false;
    // The end of the session: the notification thread waits for the message thread's save.
    juce::WaitableEvent endSessionDone_{true};
    std::atomic<bool> shuttingDown_{false};
};

} // namespace console
