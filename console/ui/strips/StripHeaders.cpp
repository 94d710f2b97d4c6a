#include "console/ui/strips/StripHeaders.h"

#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/widgets/ConsoleLayout.h"
#include "console/ui/widgets/ConsoleLookAndFeel.h"

#include <algorithm>

namespace console
{
namespace
{

constexpr int kCaptionWidth = 66;
constexpr int kCaptionHeight = 24;

} // namespace

juce::String outputTypeCaption(int outputType)
{
    switch (outputType)
    {
    case 0:
        return "ANALOG";
    case 1:
    case 2:
    case 3:
        return "DIGITAL";
    case 5:
        return "HEADPHONES";
    case 7:
        return "VIRTUAL OUTPUTS";
    default:
        return "OUTPUT";
    }
}

instriphdrs::instriphdrs(ConsoleContext& content, juce::Component& parent)
{
    const ConsoleLayout& layout = content.getLayout();
    const device::HwInfoCaps& caps = content.getHwInfo();
    setBounds(layout.getInputHeaderBounds());
    setOpaque(true);
    parent.addAndMakeVisible(this);

    const juce::Font font(14.0f, juce::Font::bold);
    // The record's group table has room for 8 groups; a larger count names no further group.
    const uint32_t groups = std::min<uint32_t>(caps.getInputGroupCount(), device::HwInfoCaps::kMaxGroups);
    // Each caption is centred over the strips of its group that are shown: a unit with more inputs than
    // the box holds has a group cut short and groups with no strip at all, which get no caption.
    int remaining = layout.getInputStripCount();
    int x = 0;
    for (uint32_t g = 0; g < groups && remaining > 0; ++g)
    {
        const int strips = std::min(int(caps.getInputGroupChannels(g)), remaining);
        remaining -= strips;
        const int span = strips * layout.getStripWidth();
        auto* label = labels_.add(
            new juce::Label("input group label", juce::String(caps.getInputGroupName(g)).toUpperCase()));
        label->setBounds(x + (span - kCaptionWidth) / 2, (getHeight() - kCaptionHeight) / 2, kCaptionWidth,
                         kCaptionHeight);
        label->setJustificationType(juce::Justification::centred);
        label->setFont(font);
        addAndMakeVisible(label);
        x += span;
    }
}

void instriphdrs::paint(juce::Graphics& g)
{
    g.fillAll(kDark);
}

} // namespace console
