#pragma once

// The settings page of a console window ("st settings"): the device-wide settings in two columns of
// groups (sample rate, its display on Vista and later, clock source and phantom power on the left;
// S/PDIF format, wave devices, buffer size and routing on the right) and the "About" button. A page
// narrower than two groups side by side (a unit with one or two inputs) shows them in one scrolling
// column instead, the left column's first. Which groups exist follows the capability record. The page is
// built with the window's content, hidden until the "SETTINGS" tab is chosen, and told of every completed
// poll whether it is visible or not. Building it sets device flag bit 0 once.
//
// Message thread only; the groups' device work runs on the window's hardware thread.

#include "console/core/PolledSnapshot.h"
#include "console/ui/settings/SettingsPageHost.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace console
{

class BufferSize;
class ClockSource;
class ConsoleContext;
class IsocMap;
class PhantomPower;
class SampleRate;
class SampleRateDisplay;
class SpdifFormat;
class Surround;

class Settings : public juce::Component,
                 public SettingsPageHost,
                 private juce::Button::Listener,
                 private juce::Timer
{
public:
    // How long the page stays disabled after a change the driver needs time for.
    static constexpr int kChangePauseMs = 2000;
    // How long building the page keeps asking a device that answers "try again" to set flag bit 0.
    static constexpr uint32_t kFlagRetryMs = 2000;

    // Bounds: the layout's page rectangle; added to parent (the window content), not visible. Builds
    // the groups the capability record calls for, places them, and sets device flag bit 0 (directly:
    // the hardware thread does not run yet).
    Settings(ConsoleContext& content, juce::Component& parent);
    ~Settings() override;

    // After every completed poll: both sample-rate groups are refreshed, the clock buttons follow the
    // detected clocks, a driver buffer size that differs from the slider's is read again (unless the
    // mouse is down on the slider), and a pause that has lasted its time ends.
    void update(const PolledSnapshot& snapshot);

    // SettingsPageHost. Disabling lasts kChangePauseMs of the tick clock (platform::getTickCount); a
    // second call restarts the pause. The page's timer ends it, or the first poll after it is over.
    juce::Component& getPageComponent() override { return *this; }
    bool isRunningOnVista() const override { return vista_; }
    void disableForChange() override;
    void refreshBufferSizeText() override;

    void paint(juce::Graphics& g) override;

    // The groups; null for those the device does not have.
    SampleRateDisplay* getSampleRateDisplay() const { return rateDisplay_.get(); }
    SampleRate* getSampleRate() const { return rate_.get(); }
    ClockSource* getClockSource() const { return clock_.get(); }
    PhantomPower* getPhantomPower() const { return phantom_.get(); }
    BufferSize* getBufferSize() const { return buffer_.get(); }
    SpdifFormat* getSpdifFormat() const { return spdif_.get(); }
    Surround* getSurround() const { return surround_.get(); }
    IsocMap* getIsocMap() const { return isocMap_.get(); }
    juce::ToggleButton& getAboutButton() { return about_; }

    // What "About" opens (the About dialog installs itself); without an opener the button does nothing.
    using AboutOpener = std::function<void(Settings& page)>;
    static void setAboutOpener(AboutOpener opener);

private:
    void buttonClicked(juce::Button* button) override;
    void timerCallback() override;
    // Enables the page again once the pause has lasted kChangePauseMs; answers whether it has.
    bool endPauseWhenOver();
    void layOutGroups();
    // The groups the page has, left column first.
    std::vector<juce::Component*> groupsInColumnOrder() const;
    bool twoColumnsFit(int columnWidth) const;
    void layOutOneColumn();
    void setDeviceFlag();

    ConsoleContext& content_;
    const bool vista_;
    // In the order they are built.
    std::unique_ptr<SampleRateDisplay> rateDisplay_;
    std::unique_ptr<SampleRate> rate_;
    std::unique_ptr<ClockSource> clock_;
    std::unique_ptr<PhantomPower> phantom_;
    std::unique_ptr<BufferSize> buffer_;
    std::unique_ptr<SpdifFormat> spdif_;
    std::unique_ptr<Surround> surround_;
    std::unique_ptr<IsocMap> isocMap_;
    juce::ToggleButton about_{"About"};
    // The scrolling column of a page too narrow for two (its groups are children of its viewed
    // component); null on pages with two columns.
    std::unique_ptr<juce::Viewport> column_;
    // While the page is paused (its timer runs): the tick count at the pause's start.
    uint32_t pauseStart_ = 0;
};

} // namespace console
