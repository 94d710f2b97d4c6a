// The analyzer program: one instance at a time, one window for all interfaces, ends when any of them is
// removed.

#include "analyzer/AnalyzerDevices.h"
#include "analyzer/AppWindow.h"
#include "device/DeviceMessage.h"
#include "device/Text.h"
#include "platform/MessageBox.h"
#include "platform/VersionBlock.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <memory>

STRELLIS_FILE_VERSION_BLOCK(1, 0, 0, 0);

namespace analyzer
{
namespace
{

// The single-instance lock: "Latenzor lock", or what STRELLIS_ANALYZER_LOCK says (the lock is machine-wide,
// so test runs side by side give each case its own).
juce::String instanceLockName()
{
    if (const char* name = std::getenv("STRELLIS_ANALYZER_LOCK"); name != nullptr && name[0] != '\0')
        return device::textFromCString(name);
    return "Latenzor lock";
}

// Quits the program when a listed interface is being removed.
class AppListener : public juce::MessageListener
{
public:
    void handleMessage(const juce::Message& message) override
    {
        const auto* m = dynamic_cast<const device::SystemMessage*>(&message);
        if (m != nullptr && m->id == device::deviceRemovalMessage)
            juce::JUCEApplicationBase::quit();
    }
};

class App : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override { return "Latenzor"; }
    const juce::String getApplicationVersion() override { return "1.0"; }
    // The program's own lock refuses a second instance.
    bool moreThanOneInstanceAllowed() override { return true; }

    void initialise(const juce::String&) override
    {
        lookAndFeel_ = std::make_unique<juce::LookAndFeel_V2>();
        juce::LookAndFeel::setDefaultLookAndFeel(lookAndFeel_.get());
        installAlertWindowPresenter();

        lock_ = std::make_unique<juce::InterProcessLock>(instanceLockName());
        if (!lock_->enter(0))
        {
            quit();
            return;
        }

        int width = 0;
        int height = 0;
        if (const juce::Displays::Display* main =
                juce::Desktop::getInstance().getDisplays().getPrimaryDisplay())
        {
            width = main->userArea.getWidth();
            height = main->userArea.getHeight();
        }

        listener_ = std::make_unique<AppListener>();
        devices_ = std::make_unique<DeviceList>();
        devices_->setListener(listener_.get());
        if (devices_->getCount() == 0)
        {
            platform::messageBox("Latenzor", "\nNo compatible hardware detected.", platform::MB_OK);
            quit();
            return;
        }

        window_ = std::make_unique<AppWindow>(*devices_, width / 20, height / 20);
        window_->setVisible(true);
        window_->toFront(true);
        // Placed once shown, as the console places its windows: the placement then also takes the
        // framework's first paint, which asks for the window's position once more.
        window_->restorePosition();
    }

    void shutdown() override
    {
        window_.reset(); // saves its position and closes the devices
        // No removal may be posted to a listener that is gone.
        if (devices_ != nullptr)
            devices_->stopNotifications();
        listener_.reset();
        devices_.reset();
        if (lock_ != nullptr)
            lock_->exit();
        lock_.reset();
        juce::LookAndFeel::setDefaultLookAndFeel(nullptr);
        lookAndFeel_.reset();
        platform::setMessageBoxPresenter({});
    }

    void systemRequestedQuit() override { quit(); }
    void anotherInstanceStarted(const juce::String&) override {}

private:
    std::unique_ptr<juce::LookAndFeel_V2> lookAndFeel_;
    std::unique_ptr<juce::InterProcessLock> lock_;
    std::unique_ptr<AppListener> listener_;
    std::unique_ptr<DeviceList> devices_;
    std::unique_ptr<AppWindow> window_;
};

} // namespace
} // namespace analyzer

START_JUCE_APPLICATION(analyzer::App)
