#include "console/ui/widgets/ConsoleLookAndFeel.h"

#include "console/ui/widgets/ConsoleLayout.h"

#include <algorithm>
#include <cmath>

namespace console
{

namespace
{

constexpr float kPi = juce::MathConstants<float>::pi;
constexpr float kRotaryStart = 1.25f * kPi;
constexpr float kRotaryRange = 1.5f * kPi;

} // namespace

ConsoleLookAndFeel::ConsoleLookAndFeel()
{
    setColour(juce::Slider::backgroundColourId, juce::Colour(0x00000000));
    setColour(juce::Slider::textBoxTextColourId, juce::Colour(0xFF000000));
    setColour(juce::Slider::textBoxOutlineColourId, juce::Colour(0x00000000));
    setColour(juce::Slider::textBoxBackgroundColourId, juce::Colour(0x00000000));
    setColour(juce::Slider::textBoxHighlightColourId, juce::Colour(0xFF0000FF));
    setColour(juce::TextEditor::textColourId, juce::Colour(0xFF000000));
    setColour(juce::AlertWindow::textColourId, juce::Colours::white);
    setColour(juce::AlertWindow::backgroundColourId, kDark);
    setColour(juce::AlertWindow::outlineColourId, juce::Colours::white);
    setColour(juce::TextButton::buttonColourId, juce::Colour::greyLevel(0.25f));
    setColour(juce::TextButton::textColourOffId, juce::Colours::white);
    setColour(juce::ProgressBar::foregroundColourId, juce::Colour(0, 255, 0).withAlpha(0.5f));
    setColour(juce::Label::textColourId, juce::Colours::white);
    setColour(juce::ComboBox::buttonColourId, juce::Colour(0, 150, 0).withAlpha(1.0f));
    setColour(juce::PopupMenu::backgroundColourId, kDark);
    setColour(juce::PopupMenu::textColourId, juce::Colours::white);
    setColour(juce::PopupMenu::highlightedBackgroundColourId, juce::Colours::white);
    setColour(juce::PopupMenu::highlightedTextColourId, kDark);
    // The framework's file chooser fills its window with the alert windows' dark: its title (the session
    // chooser's "Save settings", "Load settings") is white on it, as the alerts' text is.
    setColour(juce::FileChooserDialogBox::titleTextColourId, juce::Colours::white);
}

void ConsoleLookAndFeel::drawToggleButton(juce::Graphics& g, juce::ToggleButton& button,
                                          bool isMouseOverButton, bool isButtonDown)
{
    const int width = button.getWidth();
    const int height = button.getHeight();
    if (button.getToggleState())
    {
        juce::Colour colour =
            button.isEnabled() ? juce::Colour(0, 200, 0).withAlpha(0.8f) : juce::Colour(255, 0, 0);
        if (isButtonDown)
            colour = colour.darker(0.4f);
        drawTintedButtonFace(g, width, height, colour, juce::Colours::black, button.getButtonText());
    }
    else
    {
        const juce::Colour colour = isButtonDown ? kGreyVeil.withAlpha(juce::uint8(30)) : kGreyVeil;
        drawButtonFace(g, width, height, colour, button.getButtonText(), button.isEnabled());
    }
    if (isMouseOverButton)
    {
        g.setColour(juce::Colours::white);
        g.drawRect(0, 0, width, height, 1);
    }
}

void ConsoleLookAndFeel::drawPopupMenuBackground(juce::Graphics& g, int width, int height)
{
    g.fillAll(kDark);
    g.setColour(juce::Colours::white);
    g.drawRect(0, 0, width, height, 1);
}

juce::Font ConsoleLookAndFeel::getPopupMenuFont()
{
    return juce::Font(12.0f, juce::Font::bold);
}

void ConsoleLookAndFeel::drawLinearSlider(juce::Graphics& g, int x, int y, int width, int height,
                                          float sliderPos, float minSliderPos, float maxSliderPos,
                                          juce::Slider::SliderStyle style, juce::Slider& slider)
{
    if (style != juce::Slider::LinearVertical)
    {
        LookAndFeel_V2::drawLinearSlider(g, x, y, width, height, sliderPos, minSliderPos, maxSliderPos, style,
                                         slider);
        return;
    }
    const ConsoleImages& images = consoleImages();
    g.drawImageAt(images.faderTrack, 10, 0);
    g.drawImageAt(images.faderThumb, x + 10, int(std::lround(sliderPos)) - images.faderThumb.getHeight() / 2);
}

int ConsoleLookAndFeel::getSliderThumbRadius(juce::Slider&)
{
    return consoleImages().faderThumb.getHeight() / 2 - 2;
}

int knobFrameOffset(float angle, int frameHeight, int stripHeight)
{
    if (frameHeight <= 0 || stripHeight < frameHeight)
        return 0;
    const int lastFrame = stripHeight / frameHeight - 1;
    const float position = (angle - kRotaryStart) / kRotaryRange * float(lastFrame * frameHeight);
    const int frame = std::clamp(int(std::lround(position)) / frameHeight, 0, lastFrame);
    return frame * frameHeight;
}

void ConsoleLookAndFeel::drawRotarySlider(juce::Graphics& g, int x, int y, int, int, float sliderPos,
                                          float rotaryStartAngle, float rotaryEndAngle, juce::Slider&)
{
    const juce::Image& strip = consoleImages().knob;
    const int frameHeight = strip.getWidth();
    const float angle = rotaryStartAngle + sliderPos * (rotaryEndAngle - rotaryStartAngle);
    const int offset = knobFrameOffset(angle, frameHeight, strip.getHeight());
    g.drawImage(strip, x + 1, y, strip.getWidth(), frameHeight, 0, offset, strip.getWidth(), frameHeight);
}

juce::Label* ConsoleLookAndFeel::createSliderTextBox(juce::Slider& slider)
{
    juce::Label* label = LookAndFeel_V2::createSliderTextBox(slider);
    if (slider.getSliderStyle() == juce::Slider::LinearHorizontal)
    {
        label->setColour(juce::Label::textColourId, juce::Colours::white);
        label->setColour(juce::Label::backgroundColourId, kDark);
        label->setFont(label->getFont().boldened());
    }
    return label;
}

void ConsoleLookAndFeel::drawGroupComponentOutline(juce::Graphics& g, int width, int height,
                                                   const juce::String& text, const juce::Justification&,
                                                   juce::GroupComponent&)
{
    const juce::Font f(14.0f, juce::Font::bold);
    const float x = 3.0f;
    const float y = f.getAscent() - 3.0f;
    const float w = std::max(0.0f, float(width) - 6.0f);
    const float h = std::max(0.0f, float(height) - y - 3.0f);
    const float cs = std::min({5.0f, w * 0.5f, h * 0.5f});
    const float cs2 = 2.0f * cs;
    const float textW =
        juce::jlimit(0.0f, std::max(0.0f, w - cs2 - 8.0f), f.getStringWidthFloat(text) + 8.0f);
    const float textX = cs + 4.0f;

    juce::Path p;
    p.startNewSubPath(x + textX + textW, y);
    p.lineTo(x + w - cs, y);
    p.addArc(x + w - cs2, y, cs2, cs2, 0.0f, kPi * 0.5f);
    p.lineTo(x + w, y + h - cs);
    p.addArc(x + w - cs2, y + h - cs2, cs2, cs2, kPi * 0.5f, kPi);
    p.lineTo(x + cs, y + h);
    p.addArc(x, y + h - cs2, cs2, cs2, kPi, kPi * 1.5f);
    p.lineTo(x, y + cs);
    p.addArc(x, y, cs2, cs2, kPi * 1.5f, kPi * 2.0f);
    p.lineTo(x + textX, y);

    g.setColour(juce::Colour::greyLevel(0.65f));
    g.strokePath(p, juce::PathStrokeType(1.0f));
    g.setColour(juce::Colour::greyLevel(0.7f));
    g.setFont(f);
    g.drawText(text, juce::roundToInt(x + textX), 0, juce::roundToInt(textW), 14,
               juce::Justification::centred, true);
}

ConsoleLookAndFeel& getConsoleLookAndFeel()
{
    static ConsoleLookAndFeel instance;
    return instance;
}

void installConsoleLookAndFeel()
{
    juce::LookAndFeel::setDefaultLookAndFeel(&getConsoleLookAndFeel());
}

} // namespace console
