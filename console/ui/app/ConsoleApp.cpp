#include "console/ui/app/ConsoleApp.h"

#include "console/core/FirmwareUpdate.h"
#include "console/ui/app/AboutDlg.h"
#include "console/ui/widgets/ConsoleLookAndFeel.h"
#include "console/ui/window/FlashProgressWindow.h"
#include "console/ui/window/JuceMessageBox.h"
#include "device/Text.h"
#include "platform/Debug.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace console
{

ConsoleApp* theConsoleApp = nullptr;
bool forceFirmwareUpdate = false;

bool isForceUpdateCommandLine(const juce::String& commandLine)
{
    return commandLine.trim().equalsIgnoreCase("-forceupdate");
}

juce::Point<int> cascadePosition(bool first, juce::Point<int> previous, juce::Rectangle<int> workArea)
{
    const int w = std::max(1, workArea.getWidth());
    const int h = std::max(1, workArea.getHeight());
    const int dx = w / 10;
    const int dy = h / 10;
    const juce::Point<int> p = first ? juce::Point<int>(dx, dy) : previous + juce::Point<int>(dx, dy);
    return {((p.x % w) + w) % w, ((p.y % h) + h) % h};
}

juce::String instanceLockName()
{
    if (const char* name = std::getenv("STRELLIS_CONSOLE_LOCK"); name != nullptr && name[0] != '\0')
        return device::textFromCString(name);
    return "Varnel Strellis Console lock";
}

// --- timer and listener ---

namespace
{

// Whether a closing window, once gone, ends the program when it was the last: one closed by the user or
// by Exit does; one closed by "Hide all windows", or asked for again meanwhile, does not.
bool endsProgramWhenGone(const ConsoleWindow& window)
{
    return !window.keepsProgramRunning() && !window.reopensWhenClosed();
}

} // namespace

void ConsoleAppTimer::timerCallback()
{
    if (theConsoleApp != nullptr)
        theConsoleApp->pollWindows();
}

void ConsoleAppListener::handleMessage(const juce::Message& message)
{
    const auto* m = dynamic_cast<const device::SystemMessage*>(&message);
    ConsoleApp* app = theConsoleApp;
    if (m == nullptr || app == nullptr)
        return;
    switch (m->id)
    {
    case arrangeWindowsMessage:
        app->cascadeWindows();
        return;
    case deleteWindowMessage:
        // A window already deleted (its device went away meanwhile) is no longer listed.
        if (ConsoleWindow* window = app->findWindowBySerial(m->parameter1))
        {
            // Asked for again while it was closing: a new window opens now that the old one has written
            // its state to flash (the new one reads it from there).
            const device::vhw::Ptr reopen(window->reopensWhenClosed() ? &window->getDevice() : nullptr);
            app->closeWindow(window, endsProgramWhenGone(*window));
            if (reopen != nullptr)
                app->openListedWindow(*reopen);
        }
        return;
    case endSessionMessage:
        app->handleEndSession(m->parameter1 != 0);
        return;
    default:
        break;
    }
    device::vhw* device = m->getObjectAs<device::vhw>();
    if (device == nullptr)
        return;
    if (m->id == device::deviceArrivalMessage)
    {
        if (ConsoleWindow* window = app->findWindow(*device))
        {
            // A closing window cannot be shown again: the interface gets a new one once it has gone.
            if (window->isClosing())
                window->setReopenWhenClosed(true);
            else if (window->isVisible())
                window->toFront(true);
            return;
        }
        app->openListedWindow(*device);
    }
    else if (m->id == device::deviceRemovalMessage)
    {
        // An open window's unit going away leaves the program running; a window already on its way out
        // (Exit, its close button) ends it as its own delete message would have.
        if (ConsoleWindow* window = app->findWindow(*device))
            app->closeWindow(window, window->isClosing() && endsProgramWhenGone(*window));
    }
}

// --- ConsoleApp ---

ConsoleApp::~ConsoleApp()
{
    installAboutDialog(nullptr);
    if (theConsoleApp == this)
        theConsoleApp = nullptr;
}

void ConsoleApp::initialise(const juce::String& commandLine)
{
    theConsoleApp = this;
    installConsoleLookAndFeel();
    installJuceMessageBoxPresenter();
    installFirmwareProgressWindow();
    // A unit turned off and on while its update's boxes were up gets its window (or its question) once
    // they are answered, as any unit that arrives.
    setFirmwareReturnHandler(
        [](device::vhw& device)
        {
            if (theConsoleApp != nullptr)
                theConsoleApp->requestWindow(device);
        });
    installAboutDialog(this);
    if (isAnotherInstanceRunning())
    {
        platform::outputDebugString("Console - another instance is running");
        quitProgram();
        return;
    }
    forceFirmwareUpdate = isForceUpdateCommandLine(commandLine);

    deviceList_ = std::make_unique<device::DeviceList>(uint32_t(kConsoleVendorId));
    device::Win32NotificationWindow::addListener(this);
    listening_ = true;
    trayIcon_ = std::make_unique<ConsoleTrayIcon>(*deviceList_, *this);

    // Units follow the list from before the first window opens: opening one may run message loops (the
    // firmware question, the update, its result box), in which a unit pulled meanwhile leaves the list
    // and closes its window, and one plugged gets its own, as at any other time. The list is brought up
    // to date in the same step, so what came or went before is in what it returns, and nothing twice.
    listener_ = std::make_unique<ConsoleAppListener>();
    postTarget_.store(listener_.get());
    const std::vector<device::vhw::Ptr> present = deviceList_->setListenerAndSync(listener_.get());
    for (const device::vhw::Ptr& device : present)
    {
        // One pulled while an earlier one was asked about is no longer listed; one whose window the
        // tray asked for meanwhile has it.
        if (findWindow(*device) == nullptr)
            openListedWindow(*device);
    }

    sessionEnd_ = std::make_unique<platform::SessionEndWatcher>();
}

void ConsoleApp::shutdown()
{
    shuttingDown_.store(true);
    releaseEndSessionWaiter();
    if (listening_)
    {
        device::Win32NotificationWindow::removeListener(this);
        listening_ = false;
    }
    sessionEnd_.reset();
    timer_.stopTimer();
    while (head_ != nullptr)
        closeWindow(head_, false);
    postTarget_.store(nullptr);
    // The icon reads the device list: it goes first.
    trayIcon_.reset();
    deviceList_.reset();
    listener_.reset();
    instanceLock_.reset();
}

bool ConsoleApp::pausePolling()
{
    if (!timer_.isTimerRunning())
        return false;
    timer_.stopTimer();
    return true;
}

void ConsoleApp::resumePolling()
{
    // The timer runs only while a window exists: the last one may have gone meanwhile.
    if (windowCount_ > 0)
        timer_.startTimer(kPollMs);
}

void ConsoleApp::systemRequestedQuit()
{
    if (windowCount_ == 0)
    {
        quitProgram();
        return;
    }
    std::vector<ConsoleWindow*> windows;
    ConsoleWindow* w = head_;
    for (int i = 0; i < windowCount_; ++i, w = w->next)
        windows.push_back(w);
    // A window still closing from "Hide all windows" must not keep the program running now.
    for (ConsoleWindow* window : windows)
    {
        window->setKeepProgramRunning(false);
        window->setReopenWhenClosed(false);
        window->closeButtonPressed();
    }
}

void ConsoleApp::handleWin32Message(uint32_t message, platform::WPARAM wParam, platform::LPARAM)
{
    if (message != platform::WM_ENDSESSION || shuttingDown_.load())
        return;
    // The message thread saves; this thread holds the listener lock meanwhile, so it waits only so
    // long, and the message thread's shutdown releases it at once.
    endSessionDone_.reset();
    if (!postAppMessage(endSessionMessage, wParam != 0 ? 1 : 0, nullptr))
        return;
    if (!endSessionDone_.wait(kEndSessionWaitMs))
        platform::outputDebugString("Console - end of session: the properties were not saved in time");
}

void ConsoleApp::handleEndSession(bool ending)
{
    saveAllProperties();
    releaseEndSessionWaiter();
    // The session is over: the program ends without further questions, as the system would end it.
    if (ending)
        quitProgram();
}

void ConsoleApp::releaseEndSessionWaiter()
{
    endSessionDone_.signal();
}

bool ConsoleApp::isAnotherInstanceRunning()
{
    instanceLock_ = std::make_unique<juce::InterProcessLock>(instanceLockName());
    return !instanceLock_->enter(0);
}

void ConsoleApp::openWindow(device::vhw& device)
{
    device::vhw::Ptr keep(&device);
    if (!checkFirmware(device, forceFirmwareUpdate, {}))
        return;
    if (!device.open())
    {
        platform::debugPrintf("Console - unable to open %s - no window", device.getUniqueName().c_str());
        return;
    }
    setRepaintRateOfDisplaysWithoutOne();
    auto* window = new ConsoleWindow(device, this);
    window->setVisible(true);
    window->toFront(true);

    if (head_ == nullptr)
    {
        window->next = window->prev = window;
        head_ = window;
    }
    else
    {
        window->next = head_;
        window->prev = head_->prev;
        head_->prev->next = window;
        head_->prev = window;
    }
    ++windowCount_;
    // A saved position replaces the cascade's; asked for alone, its landing is the one the window sees.
    if (!window->hasSavedPosition())
        placeWindow(window);
    window->restoreWindowPosition();
    if (windowCount_ == 1)
        timer_.startTimer(kPollMs);
}

void ConsoleApp::openListedWindow(device::vhw& device)
{
    // Only a device still in the list gets a window: one removed since the message was posted has gone
    // for good.
    if (deviceList_ != nullptr && deviceList_->contains(&device) &&
        device.getVendorId() == uint32_t(kConsoleVendorId))
        openWindow(device);
}

void ConsoleApp::closeWindow(ConsoleWindow* window, bool quitIfLast)
{
    if (window == nullptr || findWindowBySerial(window->getSerial()) != window)
        return;
    device::vhw::Ptr device(&window->getDevice());
    window->saveProperties();
    if (hwthread* thread = window->getContent().getHwThread())
    {
        // Detached, the thread neither writes flash nor asks for the window's deletion.
        thread->clearWindow();
        window->getContent().stopHwThread();
    }
    if (windowCount_ > 1)
    {
        window->prev->next = window->next;
        window->next->prev = window->prev;
        head_ = window->next;
    }
    else
    {
        head_ = nullptr;
        timer_.stopTimer();
    }
    delete window;
    --windowCount_;
    device = nullptr;
    if (quitIfLast && windowCount_ == 0)
    {
        timer_.stopTimer();
        quitProgram();
    }
}

ConsoleWindow* ConsoleApp::findWindow(const device::vhw& device) const
{
    ConsoleWindow* w = head_;
    for (int i = 0; i < windowCount_; ++i, w = w->next)
        if (&w->getDevice() == &device)
            return w;
    return nullptr;
}

ConsoleWindow* ConsoleApp::findWindowBySerial(int serial) const
{
    ConsoleWindow* w = head_;
    for (int i = 0; i < windowCount_; ++i, w = w->next)
        if (w->getSerial() == serial)
            return w;
    return nullptr;
}

void ConsoleApp::placeWindow(ConsoleWindow* window)
{
    juce::Rectangle<int> area(1280, 1000);
    if (const juce::Displays::Display* display =
            juce::Desktop::getInstance().getDisplays().getPrimaryDisplay())
        area = display->userArea;
    const bool first = window == head_;
    const juce::Point<int> previous = first ? juce::Point<int>() : window->prev->getPosition();
    window->placeAt(cascadePosition(first, previous, area));
}

void ConsoleApp::cascadeWindows()
{
    ConsoleWindow* w = head_;
    for (int i = 0; i < windowCount_; ++i, w = w->next)
        placeWindow(w);
}

void ConsoleApp::showAllWindows()
{
    ConsoleWindow* w = head_;
    for (int i = 0; i < windowCount_; ++i, w = w->next)
        if (w->isVisible())
            w->toFront(true);
}

void ConsoleApp::hideAllWindows()
{
    std::vector<ConsoleWindow*> windows;
    ConsoleWindow* w = head_;
    for (int i = 0; i < windowCount_; ++i, w = w->next)
        windows.push_back(w);
    for (ConsoleWindow* window : windows)
    {
        window->setKeepProgramRunning(true);
        window->setReopenWhenClosed(false);
        window->closeButtonPressed();
    }
}

void ConsoleApp::pollWindows()
{
    ConsoleWindow* w = head_;
    for (int i = 0; i < windowCount_; ++i, w = w->next)
        if (w->isVisible())
            w->getContent().poll();
}

void ConsoleApp::saveAllProperties()
{
    ConsoleWindow* w = head_;
    for (int i = 0; i < windowCount_; ++i, w = w->next)
        w->saveProperties();
}

bool ConsoleApp::postAppMessage(int32_t id, int32_t param1, device::vhw* device)
{
    ConsoleAppListener* target = postTarget_.load();
    if (target == nullptr)
        return false;
    target->postMessage(new device::SystemMessage(id, param1, 0, device));
    return true;
}

} // namespace console
