#include "console/ui/window/TabBar.h"

#include "console/ui/widgets/ConsoleLayout.h"

#include <algorithm>

namespace console
{
namespace
{

constexpr int kBarHeight = 30;
constexpr int kFirstTabX = 3;
constexpr int kSettingsWidth = 80;
constexpr int kNarrowSelected = 130;
constexpr int kNarrowOther = 60;
// An output tab's caption ends 3 pixels before its lights, which take its last 16.
constexpr int kOutputTextAdjust = -19;

// The width of the tabs not selected in a narrow bar: 60, or less where the bar would otherwise end before
// "SETTINGS" does.
int narrowOtherWidth(int barWidth, int pairs)
{
    if (pairs < 2)
        return kNarrowOther;
    const int room = barWidth - kFirstTabX - kNarrowSelected - kSettingsWidth;
    return std::clamp(room / (pairs - 1), 0, kNarrowOther);
}

juce::String range(int first, int second)
{
    return " " + juce::String(first) + "-" + juce::String(second);
}

} // namespace

std::vector<TopTab> makeTopTabs(const device::HwInfoCaps& caps, int barWidth, bool& narrow)
{
    std::vector<TopTab> tabs;
    const bool single = caps.getOutputGroupCount() == 1;
    // A device with fewer than two outputs still shows one output tab.
    const int outputs = int(std::min<uint32_t>(caps.getOutputCount(), device::HwInfoCaps::kMapEntries));
    const int pairs = std::max(1, outputs / 2);
    int w = (barWidth - 86) / pairs;
    narrow = w < 115;
    w = narrow ? kNarrowSelected : std::min(w, 140);

    int x = kFirstTabX;
    for (int d = 0; d < std::max(outputs, 1); d += 2)
    {
        const uint8_t group = caps.getOutputMapGroup(uint32_t(d));
        const uint8_t index = caps.getOutputMapIndex(uint32_t(d));
        const bool mapped = group != device::HwInfoCaps::kUnused && group < device::HwInfoCaps::kMaxGroups;
        juce::String name;
        juce::String shortName;
        if (single)
        {
            name = "OUTPUTS";
            if (mapped && caps.getOutputGroupChannels(group) > 2)
                name += range(index + 1, index + 2);
            shortName = juce::String(d + 1) + "-" + juce::String(d + 2);
        }
        else if (!mapped)
        {
            // A channel the maps do not place gets a neutral name.
            name = "OUTPUT";
            shortName = "Out";
        }
        else
        {
            const bool ranged = caps.getOutputGroupChannels(group) > 2;
            name = juce::String(caps.getOutputGroupName(group)).toUpperCase();
            if (ranged)
                name += range(index + 1, index + 2);
            const uint8_t type = caps.getOutputMapType(uint32_t(d));
            if (type != 5 && type != 6)
                name += " OUT";
            shortName = juce::String(caps.getOutputGroupShortName(group)).toUpperCase();
            if (ranged)
                shortName += range(index + 1, index + 2);
        }
        if (!narrow)
            shortName = name;
        tabs.push_back({name, shortName, x, w, kOutputTextAdjust});
        x += w;
        if (narrow)
            w = narrowOtherWidth(barWidth, (std::max(outputs, 1) + 1) / 2);
    }
    tabs.push_back({"SETTINGS", "SETTINGS", x, kSettingsWidth, 0});
    return tabs;
}

// --- ActivityLight ---

ActivityLight::ActivityLight() : image_(consoleImages().activityLights)
{
    setOpaque(true);
    setInterceptsMouseClicks(false, false);
}

int ActivityLight::frameForLevel(uint32_t level)
{
    // A word at or above 2^31 is full scale (as the strip meters read it), not its low bits.
    if (level >= 0x80000000u)
        return 3;
    const uint32_t index = level >> 24;
    if (index == 0)
        return 0;
    if (index < 32)
        return 1;
    if (index < 90)
        return 2;
    return 3;
}

void ActivityLight::setLevel(uint32_t level)
{
    const int frame = frameForLevel(level);
    if (frame != frame_)
    {
        frame_ = frame;
        repaint();
    }
}

void ActivityLight::paint(juce::Graphics& g)
{
    g.drawImage(image_, 0, 0, getWidth(), getHeight(), frame_ * VarnelTopTabBar::kLightSize, 0, getWidth(),
                getHeight());
}

// --- VarnelTopTabBar ---

VarnelTopTabBar::VarnelTopTabBar(TabBarHost& host, int width) : TopTabBar(host)
{
    setRepaintsOnMouseActivity(true);
    setBounds(0, 0, width, kBarHeight);
    tabs_ = makeTopTabs(host.getHwInfo(), width, narrow_);
    createActivityLights();
}

VarnelTopTabBar::~VarnelTopTabBar() = default;

void VarnelTopTabBar::createActivityLights()
{
    for (size_t t = 0; t + 1 < tabs_.size(); ++t)
    {
        for (int i = 0; i < 2; ++i)
        {
            auto* light = lights_.add(new ActivityLight());
            light->setBounds(0, (kBarHeight - kLightSize) / 2 + 1, kLightSize, kLightSize);
            addAndMakeVisible(light);
        }
    }
    positionActivityLights();
}

void VarnelTopTabBar::positionActivityLights()
{
    for (int t = 0; t * 2 + 1 < lights_.size(); ++t)
    {
        const TopTab& tab = tabs_[size_t(t)];
        const int x = tab.x + tab.width - 2 * kLightSize - 6;
        lights_[2 * t]->setTopLeftPosition(x, lights_[2 * t]->getY());
        lights_[2 * t + 1]->setTopLeftPosition(x + kLightSize + 1, lights_[2 * t + 1]->getY());
    }
}

void VarnelTopTabBar::setCurrentTab(int index)
{
    const int last = int(tabs_.size()) - 1;
    if (index >= last)
        index = 0;
    else if (index < 0)
        index = last;
    selectTab(index);
}

int VarnelTopTabBar::getCurrentTab() const
{
    return selected_ == int(tabs_.size()) - 1 ? -1 : selected_;
}

void VarnelTopTabBar::refresh(const PolledSnapshot& snapshot)
{
    // Lights of channels the device does not have stay dark.
    const int outputs = int(host_.getHwInfo().getOutputCount());
    for (int i = 0; i < lights_.size(); ++i)
        lights_[i]->setLevel(i < outputs ? snapshot.getOutputMeter(uint32_t(i)) : 0);
}

void VarnelTopTabBar::selectTab(int index)
{
    if (index == selected_ || index < 0 || index >= int(tabs_.size()))
        return;
    selected_ = index;
    const bool settings = index == int(tabs_.size()) - 1;
    host_.showPage(settings ? -1 : 2 * index);
    if (narrow_)
    {
        const int other = narrowOtherWidth(getWidth(), int(tabs_.size()) - 1);
        int x = kFirstTabX;
        for (size_t t = 0; t < tabs_.size(); ++t)
        {
            const bool isSettings = t + 1 == tabs_.size();
            tabs_[t].x = x;
            tabs_[t].width = isSettings ? kSettingsWidth : (int(t) == selected_ ? kNarrowSelected : other);
            x += tabs_[t].width;
        }
        positionActivityLights();
    }
    repaint();
}

void VarnelTopTabBar::mouseUp(const juce::MouseEvent& event)
{
    if (event.y < 0 || event.y >= getHeight())
        return;
    for (size_t t = 0; t < tabs_.size(); ++t)
    {
        if (tabs_[t].x <= event.x && event.x < tabs_[t].x + tabs_[t].width)
        {
            selectTab(int(t));
            return;
        }
    }
}

void VarnelTopTabBar::paint(juce::Graphics& g)
{
    g.setFont(getCaptionFont());
    g.fillAll(juce::Colours::black);
    const juce::Point<int> mouse = getMouseXYRelative();
    const bool hasMouse = isMouseOver();
    const bool buttonDown = isMouseButtonDown();
    const int height = getHeight();
    for (size_t t = 0; t < tabs_.size(); ++t)
    {
        const TopTab& tab = tabs_[t];
        const juce::Rectangle<float> shape(float(tab.x), 4.0f, float(tab.width), float(height + 8));
        g.setColour(juce::Colour(15, 15, 15));
        g.fillRoundedRectangle(shape, 8.0f);
        juce::Colour outline(146, 146, 146);
        float thickness = 1.5f;
        juce::Colour text = juce::Colour::greyLevel(0.4f);
        juce::String caption = tab.shortName;
        if (int(t) == selected_)
        {
            outline = juce::Colour::greyLevel(0.7f);
            thickness = 2.0f;
            text = juce::Colours::white;
            caption = tab.name;
        }
        else if (hasMouse && tab.x <= mouse.x && mouse.x < tab.x + tab.width)
            text = juce::Colour::greyLevel(buttonDown ? 0.8f : 0.6f);
        g.setColour(outline);
        g.drawRoundedRectangle(shape, 8.0f, thickness);
        g.setColour(text);
        g.drawFittedText(caption, tab.x, 2, tab.width + tab.textWidthAdjust, height - 2,
                         juce::Justification::centred, 1, kCaptionMinimumScale);
    }
    const TopTab& sel = tabs_[size_t(selected_)];
    g.setColour(juce::Colour::greyLevel(0.7f));
    g.drawLine(0.0f, float(height - 1), float(sel.x), float(height - 1), 2.0f);
    g.drawLine(float(sel.x + sel.width), float(height - 1), float(getWidth()), float(height - 1), 2.0f);
}

} // namespace console
