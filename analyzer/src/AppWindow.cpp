#include "analyzer/AppWindow.h"

#include "analyzer/StatisticsPage.h"
#include "device/Text.h"
#include "platform/MessageBox.h"
#include "platform/Registry.h"

namespace analyzer
{

int readPositionValue(const char* name, int defaultValue)
{
    juce::String text(defaultValue);
    platform::HKEY key = nullptr;
    if (platform::regOpenKey(platform::HKEY_CURRENT_USER, kSettingsKey, &key) == platform::ERROR_SUCCESS)
    {
        char data[64] = {};
        uint32_t size = sizeof data - 1;
        uint32_t type = 0;
        if (platform::regQueryValue(key, name, &type, data, &size) == platform::ERROR_SUCCESS &&
            type == platform::REG_SZ)
            text = device::textFromBytes(data, size);
        platform::regCloseKey(key);
    }
    return text.getIntValue();
}

void writePositionValue(const char* name, int value)
{
    platform::HKEY key = nullptr;
    if (platform::regCreateKey(platform::HKEY_CURRENT_USER, kSettingsKey, &key) != platform::ERROR_SUCCESS)
        return;
    const std::string text = std::to_string(value);
    platform::regSetValue(key, name, platform::REG_SZ, text.c_str(), static_cast<uint32_t>(text.size() + 1));
    platform::regCloseKey(key);
}

AppWindow::AppWindow(DeviceList& devices, int defaultX, int defaultY)
    : juce::DocumentWindow("Latenzor", juce::Colour(15, 15, 15),
                           juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton, true),
      devices_(devices), defaultX_(defaultX), defaultY_(defaultY)
{
    // A device that cannot be opened stays in the list unopened; the window opens all the same.
    for (int i = 0; i < devices_.getCount(); ++i)
        if (device::vhw::Ptr d = devices_.getDevice(i))
            d->open();
    setTitleBarTextCentred(false);
    setOpaque(true);
    setUsingNativeTitleBar(true);
    setContentOwned(new Content(devices_), true);
}

void AppWindow::restorePosition()
{
    const juce::Point<int> target =
        placement_.positionToAsk({readPositionValue("x", defaultX_), readPositionValue("y", defaultY_)},
                                 {readPositionValue("frame left", 0), readPositionValue("frame top", 0)});
    constrainer_.setMinimumOnscreenAmounts(0x10000, 100, 100, 100);
    setConstrainer(&constrainer_);
    placement_.place([&] { setBoundsConstrained(getBounds().withPosition(target)); });
}

AppWindow::~AppWindow()
{
    for (int i = 0; i < devices_.getCount(); ++i)
        if (device::vhw::Ptr d = devices_.getDevice(i))
            d->close();
    // The window's own position, and the frame a window manager that tells none put around it.
    writePositionValue("x", getX());
    writePositionValue("y", getY());
    const juce::Point<int> frame = placement_.frameToSave();
    writePositionValue("frame left", frame.x);
    writePositionValue("frame top", frame.y);
    clearContentComponent();
}

void AppWindow::moved()
{
    juce::DocumentWindow::moved();
    placement_.windowMoved();
}

void AppWindow::broughtToFront()
{
    juce::DocumentWindow::broughtToFront();
    placement_.windowBroughtToFront();
}

void AppWindow::closeButtonPressed()
{
    if (auto* app = juce::JUCEApplicationBase::getInstance())
        app->systemRequestedQuit();
}

void AppWindow::focusGained(juce::Component::FocusChangeType)
{
    if (juce::Component* page = getContentComponent())
        page->grabKeyboardFocus();
}

void installAlertWindowPresenter()
{
    platform::setMessageBoxPresenter(
        [](const std::string& title, const std::string& text, int type)
        {
            if (!juce::MessageManager::existsAndIsCurrentThread())
                return platform::IDOK;
            const juce::String t = device::textFromBytes(title);
            const juce::String m = device::textFromBytes(text);
            const int buttons = type & 0xF;
            if (buttons == platform::MB_OKCANCEL)
                return juce::AlertWindow::showOkCancelBox(juce::MessageBoxIconType::NoIcon, t, m, "OK",
                                                          "Cancel")
                           ? platform::IDOK
                           : platform::IDCANCEL;
            if (buttons == platform::MB_YESNO)
                return juce::AlertWindow::showOkCancelBox(juce::MessageBoxIconType::QuestionIcon, t, m, "Yes",
                                                          "No")
                           ? platform::IDYES
                           : platform::IDNO;
            juce::AlertWindow::showMessageBox(juce::MessageBoxIconType::NoIcon, t, m, "OK");
            return platform::IDOK;
        });
}

} // namespace analyzer
