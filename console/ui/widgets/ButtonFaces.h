#pragma once

// The console's colours and the faces of its buttons, painted once into images that the layout keeps
// and drawn directly by the look and feel.

#include <juce_gui_basics/juce_gui_basics.h>

namespace console
{

// Shared colours: the dark ground and the grey veil of unlit faces.
extern const juce::Colour kDark;
extern const juce::Colour kGreyVeil;

void drawButtonFace(juce::Graphics& g, int width, int height, juce::Colour colour, const juce::String& text,
                    bool enabled);
void paintButtonFace(juce::Image& image, const juce::String& text);
void drawTintedButtonFace(juce::Graphics& g, int width, int height, juce::Colour colour,
                          juce::Colour textColour, const juce::String& text);
void paintTintedButtonFace(juce::Image& image, juce::Colour colour, juce::Colour textColour,
                           const juce::String& text);
void paintPressedButtonFace(juce::Image& image, const juce::String& text);

} // namespace console
