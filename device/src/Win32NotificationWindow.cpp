#include "device/Win32NotificationWindow.h"

#include "platform/Debug.h"
#include "platform/Time.h"

namespace device
{
namespace
{

// How long closing should take: the thread ends as soon as its window is gone, unless a listener is still
// in a call. Counted on the tick clock, like the system's other limits of seconds, so that on a manual
// clock the mark comes when that much time has been spent on it rather than after seconds of real time.
constexpr uint32_t kCloseTimeoutMs = 2000;

// Guards the instance pointer and the instance's listener list. One lock for both: removeListener must
// keep the instance alive while it waits for a call in progress, and a listener may add or remove
// listeners from inside its call (it is recursive), so a second lock would only add an order to break.
// Never destroyed: a thread still dispatching while the process exits finds it intact.
juce::CriticalSection& listenerLock()
{
    static auto* const lock = new juce::CriticalSection();
    return *lock;
}

std::atomic<Win32NotificationWindow*> instance{nullptr}; // set and cleared under listenerLock()

std::atomic<void (*)()> removalWaitHook{nullptr};

} // namespace

Win32NotificationWindow::Win32NotificationWindow() : juce::Thread("win32 notification thread")
{
    startThread();
}

Win32NotificationWindow::~Win32NotificationWindow()
{
    // The thread ends as soon as its window is gone. It may still be making the window: it checks the exit
    // flag once the window exists, so the close is posted only to a window that is there.
    signalThreadShouldExit();
    const uint32_t start = platform::getTickCount();
    bool closePosted = false;
    bool overdue = false;
    while (isThreadRunning())
    {
        if (const platform::HWND w = window_.load(); w != 0 && !closePosted)
            closePosted = platform::postMessage(w, platform::WM_CLOSE, 0, 0);
        waitForThreadToExit(20);
        // A listener that does not return holds the thread, and the listeners and this object with it:
        // waiting on is the only way out that frees nothing still in use.
        if (!overdue && platform::getTickCount() - start >= kCloseTimeoutMs && isThreadRunning())
        {
            overdue = true;
            platform::outputDebugString("win32 notification thread: a listener has not returned within "
                                        "2000 ms of the close; waiting for it");
        }
    }

    // Only now, with no call in progress or to come, may the instance be forgotten.
    const juce::ScopedLock sl(listenerLock());
    Win32NotificationWindow* self = this;
    instance.compare_exchange_strong(self, nullptr);
}

Win32NotificationWindow* Win32NotificationWindow::getInstance()
{
    if (Win32NotificationWindow* existing = instance.load())
        return existing;
    const juce::ScopedLock sl(listenerLock());
    if (instance.load() == nullptr)
        instance.store(new Win32NotificationWindow());
    return instance.load();
}

platform::HWND Win32NotificationWindow::getWindowHandle()
{
    Win32NotificationWindow* self = getInstance();
    if (self == nullptr)
        return 0;
    while (self->window_.load() == 0 && self->isThreadRunning())
        juce::Thread::sleep(10);
    return self->window_.load();
}

void Win32NotificationWindow::addListener(Win32MessageListener* listener)
{
    const juce::ScopedLock sl(listenerLock());
    if (Win32NotificationWindow* self = getInstance())
        self->listeners_.addIfNotAlreadyThere(listener);
}

void Win32NotificationWindow::removeListener(Win32MessageListener* listener)
{
    // The lock is held for the whole of each call: taking it waits for a call in progress.
    juce::CriticalSection& lock = listenerLock();
    if (!lock.tryEnter())
    {
        if (void (*hook)() = removalWaitHook.load())
            hook();
        lock.enter();
    }
    if (Win32NotificationWindow* self = instance.load())
        self->listeners_.removeFirstMatchingValue(listener);
    lock.exit();
}

void Win32NotificationWindow::setRemovalWaitHook(void (*hook)())
{
    removalWaitHook.store(hook);
}

bool Win32NotificationWindow::exists()
{
    return instance.load() != nullptr;
}

void Win32NotificationWindow::run()
{
    const platform::HWND w = platform::createMessageWindow(&Win32NotificationWindow::windowProc);
    if (w == 0)
        return;
    platform::setWindowUserData(w, this);
    window_.store(w);
    if (threadShouldExit())
    {
        platform::destroyWindow(w);
        return;
    }

    platform::MSG msg{};
    while (platform::getMessage(&msg, w) > 0)
        platform::dispatchMessage(msg);
}

platform::LRESULT Win32NotificationWindow::windowProc(platform::HWND window, uint32_t message,
                                                      platform::WPARAM wParam, platform::LPARAM lParam)
{
    if (auto* self = static_cast<Win32NotificationWindow*>(platform::getWindowUserData(window)))
    {
        // A listener may add or remove listeners during its call (a device object made or deleted on this
        // thread does), which may move the list: walk a copy, and pass over a listener removed meanwhile.
        const juce::ScopedLock sl(listenerLock());
        const juce::Array<Win32MessageListener*> listeners(self->listeners_);
        for (auto* listener : listeners)
            if (self->listeners_.contains(listener))
                listener->handleWin32Message(message, wParam, lParam);
    }
    return platform::defWindowProc(window, message, wParam, lParam);
}

} // namespace device
