#include "device/Win32NotificationWindow.h"

#include <mutex>

namespace device
{
namespace
{

std::mutex instanceMutex;
std::atomic<Win32NotificationWindow*> instance{nullptr}; // made under instanceMutex

} // namespace

Win32NotificationWindow::Win32NotificationWindow() : juce::Thread("win32 notification thread")
{
    startThread();
}

Win32NotificationWindow::~Win32NotificationWindow()
{
    {
        std::lock_guard<std::mutex> guard(instanceMutex);
        Win32NotificationWindow* self = this;
        instance.compare_exchange_strong(self, nullptr);
    }
    // The thread ends as soon as its window is gone. It may still be making the window: it checks the
    // exit flag once the window exists, and the close is posted again until the thread has ended.
    signalThreadShouldExit();
    const uint32_t start = juce::Time::getMillisecondCounter();
    while (isThreadRunning() && juce::Time::getMillisecondCounter() - start < 2000)
    {
        if (const platform::HWND w = window_.load(); w != 0)
            platform::postMessage(w, platform::WM_CLOSE, 0, 0);
        waitForThreadToExit(20);
    }
    stopThread(2000);
}

Win32NotificationWindow* Win32NotificationWindow::getInstance()
{
    if (Win32NotificationWindow* existing = instance.load())
        return existing;
    std::lock_guard<std::mutex> guard(instanceMutex);
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
    if (Win32NotificationWindow* self = getInstance())
    {
        const juce::ScopedLock sl(self->lock_);
        self->listeners_.addIfNotAlreadyThere(listener);
    }
}

void Win32NotificationWindow::removeListener(Win32MessageListener* listener)
{
    std::lock_guard<std::mutex> guard(instanceMutex);
    if (Win32NotificationWindow* self = instance.load())
    {
        const juce::ScopedLock sl(self->lock_);
        self->listeners_.removeFirstMatchingValue(listener);
    }
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
        const juce::ScopedLock sl(self->lock_);
        for (auto* listener : self->listeners_)
            listener->handleWin32Message(message, wParam, lParam);
    }
    return platform::defWindowProc(window, message, wParam, lParam);
}

} // namespace device
