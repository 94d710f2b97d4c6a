#pragma once

// What the settings groups need of the settings page that holds them.
//
// Message thread only.

#include <juce_gui_basics/juce_gui_basics.h>

namespace console
{

class SettingsPageHost
{
public:
    // The page's component: each group adds itself to it, and the page places the groups.
    virtual juce::Component& getPageComponent() = 0;
    // Whether the groups take the Vista-or-later paths (decided once, when the page is built).
    virtual bool isRunningOnVista() const = 0;
    // Disables the page (every group with it) while the driver takes a change in.
    virtual void disableForChange() = 0;
    // The buffer-size text depends on the sample rate: redraws it.
    virtual void refreshBufferSizeText() = 0;

protected:
    ~SettingsPageHost() = default;
};

} // namespace console
