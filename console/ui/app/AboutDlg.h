#pragma once

// The About window of a console window: the console's logo, the version information of the window's
// interface with a button that copies it to the clipboard, and a button that offers the interface a
// forced firmware update. It is opened modally from the settings page's "About" button; while it is
// open every other console window is blocked.
//
// The console window may go while the dialog is open (its interface unplugged): the dialog then closes
// itself. It holds its own counted reference to the device, so an update it started keeps a valid
// device to the end.
//
// Message thread only.

#include "console/ui/settings/Versions.h"
#include "console/ui/window/CoveredRepaint.h"
#include "device/Vhw.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace console
{

class CwContent;

// The question asked before an update started from the About window.
inline constexpr const char* kAboutFlashPrompt =
    "\nThis will flash your device with the current firmware and "
    "reset it to the default settings.  Would you like to continue?";

class AboutDlg : public juce::DocumentWindow
{
public:
    // "Varnel", on the desktop, close button only, native title bar, not resizable.
    AboutDlg();
    ~AboutDlg() override;

    // Ends the modal loop (with 0).
    void closeButtonPressed() override;

private:
    RepaintUnderWhenGone repaintUnder_{*this};
};

class AboutDlgContent : public juce::Component,
                        private juce::Button::Listener,
                        private juce::ComponentListener
{
public:
    static constexpr int kWidth = 530;
    static constexpr int kHeight = 260;

    // Reads the versions of the content's interface and lays out the logo, the versions and the
    // buttons. "Close" also answers the Esc key.
    explicit AboutDlgContent(CwContent& content);
    ~AboutDlgContent() override;

    void paint(juce::Graphics& g) override;

    StVersions& getVersions() { return versions_; }
    juce::Button& getCloseButton() { return close_; }
    juce::Button& getFlashButton() { return flash_; }
    juce::Button& getCopyButton() { return copy_; }

private:
    void buttonClicked(juce::Button* button) override;
    // The console window's content is going: the dialog closes.
    void componentBeingDeleted(juce::Component& component) override;
    void closeDialog();
    void flashUpdate();

    juce::Component::SafePointer<CwContent> content_;
    device::vhw::Ptr device_;
    juce::Image logo_;
    StVersions versions_;
    int logoAreaWidth_ = 0;
    juce::ToggleButton close_{"Close"};
    juce::ToggleButton flash_{"Flash update"};
    juce::ToggleButton copy_{"Copy to clipboard"};
};

// Shows the About window of a console window's content, centred on the screen, and returns when it has
// closed.
void runAboutDialog(CwContent& content);

// What the About window needs of the application: no status poll may reach an interface while it is
// flashed.
class AboutHost
{
public:
    // Stops the status poll; true when it was running.
    virtual bool pausePolling() = 0;
    // Runs the poll again after a pause that found it running (not when no window is left).
    virtual void resumePolling() = 0;

protected:
    ~AboutHost() = default;
};

// The settings pages' "About" buttons open the About window from now on. The dialog runs from the
// message loop after the click has been handled, not inside it, so nothing of the click's handling is
// left on the stack should the console window go while the dialog is open; one dialog at a time. The
// host (null: none) must outlive every dialog.
void installAboutDialog(AboutHost* host);

} // namespace console
