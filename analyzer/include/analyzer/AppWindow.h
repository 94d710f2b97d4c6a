#pragma once

// The analyzer's one window: it opens every device of the list for its lifetime, shows the statistics
// page and keeps its position in the registry (HKEY_CURRENT_USER "Software\Latenzor", values "x" and
// "y" as decimal text).

#include "analyzer/AnalyzerDevices.h"

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
    // Opens every device, creates the page and moves to the saved position (or the default one).
    AppWindow(DeviceList& devices, int defaultX, int defaultY);
    // Closes every device and saves the position.
    ~AppWindow() override;

    void closeButtonPressed() override;
    // The keyboard focus goes on to the page, which answers Esc.
    void focusGained(juce::Component::FocusChangeType cause) override;

private:
    DeviceList& devices_;
    // Keeps the whole title bar and at least 100 pixels of the window on a screen, so a saved place on a
    // screen that is gone still opens where it can be reached.
    juce::ComponentBoundsConstrainer constrainer_;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(AppWindow)
};

// Presents the platform's message boxes as modal alert windows (the platform writes their debug line).
void installAlertWindowPresenter();

} // namespace analyzer
