#pragma once

// What names the strips from above: the band of input-group captions over the input strips, and the
// caption of an output type that heads the output and playback strips of a pair.
//
// Message thread only.

#include <juce_gui_basics/juce_gui_basics.h>

namespace console
{

class ConsoleContext;

// The header caption of an output type: "ANALOG", "DIGITAL" (types 1 to 3), "HEADPHONES",
// "VIRTUAL OUTPUTS" (7), "OUTPUT" for any other.
juce::String outputTypeCaption(int outputType);

// The band over the input strips: one caption per input group of the device (at most the record's 8),
// the group's name in capitals, centred over the group's strips that are shown (the box shows the
// first 16 inputs; a group with no strip shown has no caption).
class instriphdrs : public juce::Component
{
public:
    // Bounds: the layout's input-header rectangle; opaque; added to parent.
    instriphdrs(ConsoleContext& content, juce::Component& parent);

    const juce::OwnedArray<juce::Label>& getLabels() const { return labels_; }
    void paint(juce::Graphics& g) override;

private:
    juce::OwnedArray<juce::Label> labels_;
};

} // namespace console
