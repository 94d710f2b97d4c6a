// The console layout's rectangles and pictures, and the look and feel's knob frames and faces.

#include "CapsBuilder.h"
#include "console/ConsoleLayout.h"
#include "console/ConsoleLookAndFeel.h"

#include <gtest/gtest.h>

namespace
{

using console::ConsoleLayout;
using consoleapptest::makeInputs;
using juce::Rectangle;

TEST(ConsoleLayout, EightInputsGiveThePageAndSectionsOfTheDefaultArtwork)
{
    const ConsoleLayout layout(makeInputs(8));
    EXPECT_EQ(layout.getStripWidth(), 54);
    EXPECT_EQ(layout.getPageBounds(), Rectangle<int>(0, 30, 653, 506));
    EXPECT_EQ(layout.getContentSize(), juce::Point<int>(653, 536));
    EXPECT_EQ(layout.getInputSectionBounds(), Rectangle<int>(0, 0, 432, 506));
    EXPECT_EQ(layout.getInputHeaderBounds(), Rectangle<int>(0, 0, 432, 41));
    EXPECT_EQ(layout.getSessionBoxBounds(), Rectangle<int>(432, 0, 108, 114));
    EXPECT_EQ(layout.getPlayHeaderBounds(), Rectangle<int>(432, 114, 108, 23));
    EXPECT_EQ(layout.getPlayBoxBounds(), Rectangle<int>(432, 137, 108, 369));
    EXPECT_EQ(layout.getLogoBounds(), Rectangle<int>(540, 0, 113, 44));
    EXPECT_EQ(layout.getRudeSoloBounds(), Rectangle<int>(540, 44, 113, 20));
    EXPECT_EQ(layout.getMidiStatusPosition(), juce::Point<int>(540, 64));
    EXPECT_EQ(layout.getMasterHeaderBounds(), Rectangle<int>(540, 114, 113, 23));
    EXPECT_EQ(layout.getMasterBoxBounds(), Rectangle<int>(540, 137, 113, 369));
}

TEST(ConsoleLayout, NoInputsStartThePlaybackSectionAtTheLeftEdge)
{
    const ConsoleLayout layout(makeInputs(0));
    EXPECT_EQ(layout.getInputStripCount(), 0);
    EXPECT_EQ(layout.getPageBounds().getWidth(), 221);
    EXPECT_EQ(layout.getContentSize(), juce::Point<int>(221, 536));
    EXPECT_EQ(layout.getPlayBoxBounds().getX(), 0);
    EXPECT_EQ(layout.getSessionBoxBounds().getX(), 0);
    EXPECT_TRUE(layout.getInputSectionBounds().isEmpty());
}

TEST(ConsoleLayout, InputsBeyondSixteenAreClampedToSixteenStrips)
{
    const ConsoleLayout sixteen(makeInputs(16));
    const ConsoleLayout twenty(makeInputs(20));
    EXPECT_EQ(sixteen.getPageBounds().getWidth(), 16 * 54 + 221);
    EXPECT_EQ(twenty.getInputStripCount(), 16);
    EXPECT_EQ(twenty.getPageBounds(), sixteen.getPageBounds());
    EXPECT_EQ(twenty.getMasterBoxBounds(), sixteen.getMasterBoxBounds());
    EXPECT_EQ(twenty.getContentSize(), juce::Point<int>(1085, 536));
}

TEST(ConsoleLayout, AnOddLastStripHasNoGangButton)
{
    const ConsoleLayout layout(makeInputs(5));
    EXPECT_TRUE(layout.hasMonitorGang(0));
    EXPECT_FALSE(layout.hasMonitorGang(1));
    EXPECT_TRUE(layout.hasMonitorGang(2));
    EXPECT_FALSE(layout.hasMonitorGang(4));
    EXPECT_EQ(layout.getMonitorGangBounds(), Rectangle<int>(34, 484, 44, 17));
    EXPECT_EQ(layout.getMonitorGangBounds(2), Rectangle<int>(34 + 4 * 54, 484, 44, 17));
}

TEST(ConsoleLayout, StripElementsSitWhereTheStripPicturesExpectThem)
{
    const ConsoleLayout layout(makeInputs(8));
    EXPECT_EQ(layout.getLoadButtonPosition(), juce::Point<int>(24, 19));
    EXPECT_EQ(layout.getSaveButtonPosition(), juce::Point<int>(24, 44));
    EXPECT_EQ(layout.getResetButtonPosition(), juce::Point<int>(24, 69));

    EXPECT_EQ(layout.getInputLabelBounds(), Rectangle<int>(3, 3, 51, 12));
    EXPECT_EQ(layout.getInputAliasBounds(), Rectangle<int>(5, 20, 48, 18));
    EXPECT_EQ(layout.getInputNominalBounds(), Rectangle<int>(7, 40, 46, 23));
    const console::KnobGeometry knob = layout.getPanKnobGeometry();
    EXPECT_EQ(knob.bounds, Rectangle<int>(7, 76, 42, 59));
    EXPECT_FLOAT_EQ(knob.rotaryEnd - knob.rotaryStart, 1.5f * juce::MathConstants<float>::pi);
    EXPECT_EQ(layout.getMonitorFaderBounds(), Rectangle<int>(12, 192, 36, 212));
    EXPECT_EQ(layout.getMonitorFaderValueBox(), Rectangle<int>(15, 413, 28, 16));
    EXPECT_EQ(layout.getInputMeterBounds(), Rectangle<int>(8, 203, 10, 192));

    EXPECT_EQ(layout.getMasterUpperLabelBounds(1), Rectangle<int>(64, 2, 38, 12));
    EXPECT_EQ(layout.getOutputNominalBounds(1), Rectangle<int>(61, 41, 46, 23));
    EXPECT_EQ(layout.getMuteBounds(1), Rectangle<int>(61, 67, 46, 19));
    EXPECT_EQ(layout.getPlaySoloBounds(0), Rectangle<int>(7, 44, 46, 19));
    EXPECT_EQ(layout.getAliasBounds(1), Rectangle<int>(59, 19, 48, 18));
    EXPECT_EQ(layout.getMasterFaderBounds(1), Rectangle<int>(66, 96, 36, 212));
    EXPECT_EQ(layout.getPlayFaderBounds(1), Rectangle<int>(60, 96, 36, 212));
    EXPECT_EQ(layout.getMasterFaderValueBox(1), Rectangle<int>(69, 317, 28, 16));
    EXPECT_EQ(layout.getOutputMeterBounds(0), Rectangle<int>(8, 107, 10, 192));
    EXPECT_EQ(layout.getMasterGangBounds(), Rectangle<int>(34, 345, 44, 17));
    EXPECT_EQ(layout.getPlayGangBounds(), Rectangle<int>(34, 345, 44, 17));
    EXPECT_EQ(layout.getPlayLabelBounds(), Rectangle<int>(14, 2, 30, 12));
}

TEST(ConsoleArtwork, EveryPictureHasTheSizeTheGeometryIsComputedFrom)
{
    const ConsoleLayout layout(makeInputs(8));
    const console::ConsoleImages& im = console::consoleImages();
    const struct
    {
        const juce::Image* image;
        int w, h;
    } sizes[] = {{&im.stripBackground, 54, 465},
                 {&im.knob, 42, 1638},
                 {&im.faderThumb, 26, 20},
                 {&im.faderTrack, 26, 212},
                 {&im.meterLit, 10, 192},
                 {&im.meterUnlit, 10, 192},
                 {&im.playBackground, 108, 369},
                 {&im.masterBackground, 113, 369},
                 {&im.logo, 113, 44},
                 {&im.soloBackground, 113, 20},
                 {&im.soloLight, 10, 10},
                 {&im.midiBackground, 113, 50},
                 {&im.midiLed, 10, 10},
                 {&im.activityLights, 20, 5},
                 {&im.trayIcon, 16, 16}};
    for (const auto& s : sizes)
    {
        ASSERT_TRUE(s.image->isValid());
        EXPECT_EQ(s.image->getWidth(), s.w);
        EXPECT_EQ(s.image->getHeight(), s.h);
    }
    // The fader thumb floats over the track: it has see-through pixels.
    EXPECT_TRUE(im.faderThumb.hasAlphaChannel());
}

TEST(ConsoleArtwork, FacesAreDrawnAtTheirSizesAndFoundByTheirHashCodes)
{
    const ConsoleLayout layout(makeInputs(2));
    const struct
    {
        juce::int64 hash;
        int w, h;
    } faces[] = {{console::faceHash::muteUp, 46, 19},         {console::faceHash::soloLit, 46, 19},
                 {console::faceHash::gangPressed, 44, 17},    {console::faceHash::nominalMinus10, 46, 23},
                 {console::faceHash::nominalPressed, 46, 23}, {console::faceHash::resetDown, 60, 25}};
    for (const auto& f : faces)
    {
        const juce::Image image = juce::ImageCache::getFromHashCode(f.hash);
        ASSERT_TRUE(image.isValid()) << std::hex << f.hash;
        EXPECT_EQ(image.getWidth(), f.w);
        EXPECT_EQ(image.getHeight(), f.h);
    }
}

TEST(ConsoleArtwork, ASecondLayoutRedrawsTheToggleFacesButKeepsTheSessionFaces)
{
    const ConsoleLayout first(makeInputs(2));
    const juce::Image mute = console::consoleImages().muteUp;
    const juce::Image save = console::consoleImages().saveUp;
    const ConsoleLayout second(makeInputs(4));
    EXPECT_FALSE(console::consoleImages().muteUp == mute);
    EXPECT_TRUE(console::consoleImages().saveUp == save);
}

TEST(ConsoleLookAndFeel, KnobFramesRunOverTheWholeStripAndNoFurther)
{
    constexpr float pi = juce::MathConstants<float>::pi;
    EXPECT_EQ(console::knobFrameOffset(1.25f * pi, 42, 1638), 0);
    EXPECT_EQ(console::knobFrameOffset(2.75f * pi, 42, 1638), 1596);
    EXPECT_EQ(console::knobFrameOffset(2.0f * pi, 42, 1638), 19 * 42);
    // Angles outside the range stay on the strip.
    EXPECT_EQ(console::knobFrameOffset(4.0f * pi, 42, 1638), 1596);
    EXPECT_EQ(console::knobFrameOffset(0.0f, 42, 1638), 0);
    // A strip shorter than a frame draws its top.
    EXPECT_EQ(console::knobFrameOffset(2.75f * pi, 42, 20), 0);
}

TEST(ConsoleLookAndFeel, ToggleFacesShowTheirStateInColour)
{
    console::installConsoleLookAndFeel();
    const ConsoleLayout layout(makeInputs(2));
    juce::ToggleButton button("Mute");
    button.setSize(46, 19);
    auto centre = [&button]
    {
        const juce::Image image = button.createComponentSnapshot(button.getLocalBounds());
        return image.getPixelAt(8, 9);
    };
    button.setToggleState(true, juce::dontSendNotification);
    const juce::Colour on = centre();
    EXPECT_GT(on.getGreen(), on.getRed());
    button.setEnabled(false);
    const juce::Colour disabledOn = centre();
    EXPECT_GT(disabledOn.getRed(), disabledOn.getGreen());
    button.setToggleState(false, juce::dontSendNotification);
    const juce::Colour off = centre();
    EXPECT_NEAR(off.getRed(), off.getGreen(), 8);
}

} // namespace
