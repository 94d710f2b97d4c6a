#include "console/ui/widgets/ButtonFaces.h"

namespace console
{

const juce::Colour kDark(15, 15, 15);
const juce::Colour kGreyVeil(juce::uint8(51), juce::uint8(51), juce::uint8(51), juce::uint8(80));

namespace
{

void drawFaceText(juce::Graphics& g, int width, int height, const juce::String& text, bool bold)
{
    g.setFont(juce::Font(float(height + 1) * 0.5f, bold ? juce::Font::bold : juce::Font::plain));
    g.drawFittedText(text, 5, 2, width - 10, height - 4, juce::Justification::centred, 1, 0.7f);
}

} // namespace

void drawButtonFace(juce::Graphics& g, int width, int height, juce::Colour colour, const juce::String& text,
                    bool enabled)
{
    g.fillAll(kDark);
    juce::LookAndFeel_V2::drawGlassLozenge(g, 5.0f, 2.0f, float(width - 10), float(height - 4), colour, 1.0f,
                                           6.0f, false, false, false, false);
    g.setColour(enabled ? juce::Colour(0xD0FFFFFF) : juce::Colours::white.withAlpha(0.25f));
    drawFaceText(g, width, height, text, true);
}

void paintButtonFace(juce::Image& image, const juce::String& text)
{
    juce::Graphics g(image);
    drawButtonFace(g, image.getWidth(), image.getHeight(), kGreyVeil, text, true);
}

void drawTintedButtonFace(juce::Graphics& g, int width, int height, juce::Colour colour,
                          juce::Colour textColour, const juce::String& text)
{
    g.fillAll(kDark);
    juce::LookAndFeel_V2::drawGlassLozenge(g, 5.0f, 2.0f, float(width - 10), float(height - 4), colour, 1.0f,
                                           6.0f, false, false, false, false);
    g.setColour(textColour);
    drawFaceText(g, width, height, text, true);
}

void paintTintedButtonFace(juce::Image& image, juce::Colour colour, juce::Colour textColour,
                           const juce::String& text)
{
    juce::Graphics g(image);
    drawTintedButtonFace(g, image.getWidth(), image.getHeight(), colour, textColour, text);
}

void paintPressedButtonFace(juce::Image& image, const juce::String& text)
{
    juce::Graphics g(image);
    const int width = image.getWidth();
    const int height = image.getHeight();
    g.fillAll(kDark);
    juce::LookAndFeel_V2::drawGlassLozenge(
        g, 5.0f, 2.0f, float(width - 10), float(height - 4),
        juce::Colour(juce::uint8(51), juce::uint8(51), juce::uint8(51), juce::uint8(60)), 2.0f, 8.0f, false,
        false, false, false);
    g.setColour(juce::Colours::white.withAlpha(0.5f));
    drawFaceText(g, width, height, text, false);
}

} // namespace console
