#include "console/Alias.h"

#include "console/ConsoleState.h"
#include "console/ConsoleWindow.h"

#include <algorithm>

namespace console
{

Alias::Alias(CwContent& content) : juce::Label("alias", {}), content_(content)
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
