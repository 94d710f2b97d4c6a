#pragma once

// The window's top tab bar: one tab per output pair and a last tab "SETTINGS". Each output tab carries
// two activity lights that follow the pair's output levels. Selecting a tab tells the window content to
// show the settings page or the mixer page switched to that pair.
//
// Message thread only.

#include "console/core/PolledSnapshot.h"
#include "device/HwInfoCaps.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>
#include <vector>

namespace console
{

// What the tab bar needs of the window content.
class TabBarHost
{
public:
    virtual ~TabBarHost() = default;
    virtual const device::HwInfoCaps& getHwInfo() const = 0;
    // -1: the settings page; otherwise the mixer page for the pair whose first output channel this is.
    virtual void showPage(int index) = 0;
};

struct TopTab
{
    juce::String name;      // the full caption
    juce::String shortName; // shown while not selected
    int x = 0;
    int width = 0;
    int textWidthAdjust = 0; // -19 for output tabs: room for the two lights and a gap before them
};

// The tabs for a bar of this width: the output tabs, then "SETTINGS". narrow is set when the output
// tabs would be under 115 pixels wide; they then take 130 for the first (selected) tab and 60 for the
// others, or less where the bar would otherwise end before "SETTINGS" does. A device with fewer than two
// outputs still gets one output tab.
std::vector<TopTab> makeTopTabs(const device::HwInfoCaps& caps, int barWidth, bool& narrow);

// A four-step signal light: dark, then three steps by the level's bits 24 to 30.
class ActivityLight : public juce::Component
{
public:
    ActivityLight();
    // The frame a level shows: 0 dark, 1 from 2^24, 2 from 32 x 2^24, 3 from 90 x 2^24 (and at or above
    // full scale, 2^31).
    static int frameForLevel(uint32_t level);
    void setLevel(uint32_t level);
    int getFrame() const { return frame_; }
    void paint(juce::Graphics& g) override;

private:
    int frame_ = 0;
    juce::Image image_;
};

class TopTabBar : public juce::Component
{
public:
    explicit TopTabBar(TabBarHost& host) : juce::Component("top tab bar"), host_(host) {}
    virtual void setCurrentTab(int index) = 0;
    // -1 while "SETTINGS" is selected.
    virtual int getCurrentTab() const = 0;
    // The lights from a completed poll's output meters.
    virtual void refresh(const PolledSnapshot& snapshot) = 0;

protected:
    TabBarHost& host_;
};

class VarnelTopTabBar : public TopTabBar
{
public:
    static constexpr int kLightSize = 5;
    // How far a caption too long for its tab is squeezed before it would be cut.
    static constexpr float kCaptionMinimumScale = 0.7f;

    static juce::Font getCaptionFont() { return juce::Font(13.0f, juce::Font::bold); }

    // Bounds (0, 0, width, 30).
    VarnelTopTabBar(TabBarHost& host, int width);
    ~VarnelTopTabBar() override;

    // An index at or past the last tab becomes 0; a negative one the settings tab.
    void setCurrentTab(int index) override;
    int getCurrentTab() const override;
    void refresh(const PolledSnapshot& snapshot) override;

    // Selects a tab (index into the tabs, the last being "SETTINGS"); selecting the selected one does
    // nothing.
    void selectTab(int index);

    const std::vector<TopTab>& getTabs() const { return tabs_; }
    bool isNarrow() const { return narrow_; }
    int getSelected() const { return selected_; }
    const juce::OwnedArray<ActivityLight>& getLights() const { return lights_; }

    void mouseMove(const juce::MouseEvent&) override { repaint(); }
    void mouseDrag(const juce::MouseEvent&) override { repaint(); }
    void mouseUp(const juce::MouseEvent& event) override;
    void paint(juce::Graphics& g) override;

private:
    void createActivityLights();
    void positionActivityLights();

    int selected_ = 0;
    bool narrow_ = false;
    std::vector<TopTab> tabs_;
    juce::OwnedArray<ActivityLight> lights_;
};

} // namespace console
