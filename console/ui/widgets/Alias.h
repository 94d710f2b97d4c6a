#pragma once

// The user's name of a channel (an alias) on a strip: an editable label, named "alias", that stores its
// committed edits in the state block's channel records. An empty stored name stands for the channel's
// default name, which the label fills in. The concrete labels (inputs, outputs, playback channels) say
// which names they keep and how their defaults read.
//
// Names are 8-bit text: the state block stores them as Latin-1, a character above 0xFF as '?', cut at 21
// characters (whole characters only). The image has 40 records of each kind, so a range of names never
// goes beyond them (nameCount).
//
// Message thread only.

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>

namespace console
{

class ConsoleContext;

class Alias : public juce::Label, public juce::Label::Listener
{
public:
    explicit Alias(ConsoleContext& content);
    ~Alias() override;

    // After the concrete label has set its channel and bounds: reloadText, edit on a single click (a
    // loss of focus keeps the edit), centred, the layout's name colours; added to parent.
    void attach(juce::Component& parent);

    // Empties the stored names this label keeps.
    virtual void clearNames() = 0;
    // Stores the default for every empty name this label keeps, then shows its own channel's name.
    virtual void reloadText() = 0;

    // An open editor is committed (its text stored for the channel it was opened for) and closed.
    // Labels that follow the shown pair call it before they switch channel.
    void commitEdit();
    // commitEdit on every name label under root.
    static void commitOpenEditors(juce::Component& root);

    // The names of a kind that exist: the channel count, at most the image's 40 records.
    static int nameCount(uint32_t channels);
    // prefix + the group's short name + (index within the group + 1), e.g. "In A1", "Out ADAT3", "In 1".
    static juce::String defaultName(const juce::String& prefix, const char* groupShortName, int indexInGroup);

protected:
    ConsoleContext& getContent() const { return content_; }

private:
    ConsoleContext& content_;
};

} // namespace console
