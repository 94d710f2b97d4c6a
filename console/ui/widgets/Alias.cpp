#include "console/ui/widgets/Alias.h"

#include "console/core/ConsoleState.h"
#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/widgets/ConsoleLayout.h"

#include <algorithm>

namespace console
{

Alias::Alias(ConsoleContext& content) : juce::Label("alias", {}), content_(content)
{
    addListener(this);
}

Alias::~Alias()
{
    removeListener(this);
}

void Alias::attach(juce::Component& parent)
{
    reloadText();
    setEditable(true, false, false);
    setJustificationType(juce::Justification::centred);
    // The whole width for the text: with the label's usual side margins a default such as "In ADAT1"
    // would not fit in the 48 pixels and would be cut to dots.
    setBorderSize(juce::BorderSize<int>(1, 0, 1, 0));
    // Squeezed further than the framework's 70 % before a name is cut: "Play ADAT1" and "Out ADAT1" need
    // about 65 %, and cut to "Play AD..." the two strips of a pair would read the same.
    setMinimumHorizontalScale(0.6f);
    content_.getLayout().setAliasColours(*this);
    parent.addAndMakeVisible(this);
}

void Alias::commitEdit()
{
    if (isBeingEdited())
        hideEditor(false);
}

void Alias::commitOpenEditors(juce::Component& root)
{
    for (juce::Component* child : root.getChildren())
    {
        if (auto* alias = dynamic_cast<Alias*>(child))
            alias->commitEdit();
        else
            commitOpenEditors(*child);
    }
}

int Alias::nameCount(uint32_t channels)
{
    return int(std::min<uint32_t>(channels, ConsoleState::kMaxChannels));
}

juce::String Alias::defaultName(const juce::String& prefix, const char* groupShortName, int indexInGroup)
{
    return prefix + juce::String(groupShortName != nullptr ? groupShortName : "") +
           juce::String(indexInGroup + 1);
}

} // namespace console
