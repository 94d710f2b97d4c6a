#pragma once

// The analyzer's one window: it opens every device of the list for its lifetime, shows the statistics
// page and keeps its position in the registry (HKEY_CURRENT_USER "Software\Latenzor", values "x" and
// "y" as decimal text, and "frame left" and "frame top", the frame a window manager that tells none put
// around it).

#include "analyzer/AnalyzerDevices.h"
#include "device/WindowPlacement.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace analyzer
{

inline constexpr const char* kSettingsKey = "Software\\Latenzor";

// A position value from the registry: the default when the value is missing, 0 when it is not a number.
int readPositionValue(const char* name, int defaultValue);
void writePositionValue(const char* name, int value);

class AppWindow : public juce::DocumentWindow
{
public:
    // Opens every device and creates the page.
    AppWindow(DeviceList& devices, int defaultX, int defaultY);
    // Closes every device and saves the position.
    ~AppWindow() override;

    // Moves to the saved position (or the default one), once the window is shown: where the window manager
    // tells no frame, up and left by the frame seen last time ("frame left", "frame top"), as the console
    // does (device/WindowPlacement.h).
    void restorePosition();

    void closeButtonPressed() override;
    // The keyboard focus goes on to the page, which answers Esc.
    void focusGained(juce::Component::FocusChangeType cause) override;
    void moved() override;
    void broughtToFront() override;

private:
    DeviceList& devices_;
    const int defaultX_;
    const int defaultY_;
    // Keeps the whole title bar and at least 100 pixels of the window on a screen, so a saved place on a
    // screen that is gone still opens where it can be reached.
    juce::ComponentBoundsConstrainer constrainer_;
    device::WindowPlacement placement_{*this};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(AppWindow)
};

// Presents the platform's message boxes as modal alert windows (the platform writes their debug line).
void installAlertWindowPresenter();

} // namespace analyzer
