#pragma once

// The console's drawing style: light text on a near-black ground, bitmap knobs and faders from the
// layout's images, glassy toggle buttons, a slim group outline and a dark popup menu. One instance is the
// framework's default look and feel for the whole program.

#include "console/ui/widgets/ButtonFaces.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace console
{

class ConsoleLookAndFeel : public juce::LookAndFeel_V2
{
public:
    ConsoleLookAndFeel();

    void drawToggleButton(juce::Graphics& g, juce::ToggleButton& button, bool isMouseOverButton,
                          bool isButtonDown) override;
    void drawTextEditorOutline(juce::Graphics&, int, int, juce::TextEditor&) override {}
    void drawPopupMenuBackground(juce::Graphics& g, int width, int height) override;
    juce::Font getPopupMenuFont() override;
    void drawLinearSlider(juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                          float minSliderPos, float maxSliderPos, juce::Slider::SliderStyle style,
                          juce::Slider& slider) override;
    int getSliderThumbRadius(juce::Slider& slider) override;
    void drawRotarySlider(juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                          float rotaryStartAngle, float rotaryEndAngle, juce::Slider& slider) override;
    juce::Label* createSliderTextBox(juce::Slider& slider) override;
    void drawGroupComponentOutline(juce::Graphics& g, int width, int height, const juce::String& text,
                                   const juce::Justification& position, juce::GroupComponent& group) override;
};

// Constructs the one instance on the first call and makes it the default look and feel (every call).
void installConsoleLookAndFeel();
ConsoleLookAndFeel& getConsoleLookAndFeel();

// The film-strip row of a rotary position: the angle's place in the 3π/2 range from 5π/4, as one of the
// strip's frames of frameHeight pixels, clamped to the frames the strip holds.
int knobFrameOffset(float angle, int frameHeight, int stripHeight);

// Button faces: a glass lozenge inset by 5 and 2 pixels on dark, with the caption centred in it.
} // namespace console
