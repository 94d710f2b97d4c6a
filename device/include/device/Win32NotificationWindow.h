#pragma once

// One hidden message-only window per process, on a thread of its own ("win32 notification thread"), that
// hands every message reaching it (device-change broadcasts, mixer notifications, the end of the session)
// to the registered listeners, so that none of them needs a window or a message loop.

#include "platform/MessageWindow.h"

#include <juce_core/juce_core.h>
#include <juce_events/juce_events.h>

#include <atomic>
#include <cstdint>

namespace device
{

class Win32MessageListener
{
public:
    virtual ~Win32MessageListener() = default;

    // Called on the notification thread, one message at a time, for every message of the window.
    virtual void handleWin32Message(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam) = 0;
};

class Win32NotificationWindow : public juce::Thread, public juce::DeletedAtShutdown
{
public:
    // The single instance, made (and its thread started) on the first call.
    static Win32NotificationWindow* getInstance();

    // Waits while the thread is starting; the window, or 0 when the thread ended without one.
    static platform::HWND getWindowHandle();

    // Appends the listener unless it is listed already (makes the instance on first use).
    static void addListener(Win32MessageListener* listener);

    // Removes the listener; once this returns it is never called again. Makes no instance.
    static void removeListener(Win32MessageListener* listener);

    // For tests: called on the removing thread when a removal finds the listeners in use by another
    // thread (a call in progress) and is about to wait for them; null for none.
    static void setRemovalWaitHook(void (*hook)());

    // Whether the instance exists (made and not yet deleted).
    static bool exists();

    // Closes the window and waits for the thread, which ends at once unless a listener is still in a call
    // (the wait is meant to stay within 2000 ms of the tick clock; past that it goes on, with a debug line,
    // rather than kill the thread). The instance stays findable until the thread has ended, so a listener
    // removing itself meanwhile still waits for its call in progress.
    ~Win32NotificationWindow() override;

private:
    Win32NotificationWindow();
    void run() override;
    static platform::LRESULT windowProc(platform::HWND window, uint32_t message, platform::WPARAM wParam,
                                        platform::LPARAM lParam);

    std::atomic<platform::HWND> window_{0};
    // Guarded by the process-wide listener lock, which also guards the instance pointer: a caller that
    // found the instance under it keeps the instance alive until it lets go.
    juce::Array<Win32MessageListener*> listeners_;

    JUCE_DECLARE_NON_COPYABLE(Win32NotificationWindow)
};

} // namespace device
