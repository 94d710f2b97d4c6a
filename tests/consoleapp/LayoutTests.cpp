// The console layout's rectangles and pictures, and the look and feel's knob frames and faces.

#include "CapsBuilder.h"
#include "ConsoleTestSupport.h"
#include "console/ui/widgets/ConsoleLayout.h"
#include "console/ui/widgets/ConsoleLookAndFeel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>

namespace
{

using console::ConsoleLayout;
using consoleapptest::makeInputs;
using juce::Rectangle;

// Input counts to check the rules at: none, one, an odd and an even number, the most strips, and more.
constexpr uint8_t kInputCounts[] = {0, 1, 5, 8, 16, 20};

// Whether every rectangle is inside the area.
::testing::AssertionResult allInside(const Rectangle<int>& area, std::initializer_list<Rectangle<int>> rects)
{
    for (const Rectangle<int>& r : rects)
        if (!area.contains(r))
            return ::testing::AssertionFailure() << r.toString() << " is not inside " << area.toString();
    return ::testing::AssertionSuccess();
}

// Whether each rectangle starts below the bottom of the one before it.
::testing::AssertionResult stackedDownwards(std::initializer_list<Rectangle<int>> rects)
{
    const Rectangle<int>* previous = nullptr;
    for (const Rectangle<int>& r : rects)
    {
        if (previous != nullptr && r.getY() < previous->getBottom())
            return ::testing::AssertionFailure() << r.toString() << " overlaps " << previous->toString();
        previous = &r;
    }
    return ::testing::AssertionSuccess();
}

TEST(ConsoleLayout, ThePageIsTheInputStripsThenThePlaybackAndMasterSectionsBelowTheTabBar)
{
    for (const uint8_t inputs : kInputCounts)
    {
        SCOPED_TRACE(int(inputs));
        const ConsoleLayout layout(makeInputs(inputs));
        const console::ConsoleImages& im = console::consoleImages();
        const int strips = std::min<int>(inputs, ConsoleLayout::kMaxInputStrips);
        EXPECT_EQ(layout.getInputStripCount(), strips);
        EXPECT_EQ(layout.getStripWidth(), im.stripBackground.getWidth());
        const int width =
            strips * layout.getStripWidth() + im.playBackground.getWidth() + im.masterBackground.getWidth();
        const int height = ConsoleLayout::kHeaderHeight + im.stripBackground.getHeight();
        EXPECT_EQ(layout.getPageBounds(), Rectangle<int>(0, layout.getTopTabBarHeight(), width, height));
        EXPECT_EQ(layout.getContentSize(), juce::Point<int>(width, layout.getPageBounds().getBottom()));
    }
}

TEST(ConsoleLayout, SectionsMeetEdgeToEdgeAndFillThePage)
{
    for (const uint8_t inputs : kInputCounts)
    {
        SCOPED_TRACE(int(inputs));
        const ConsoleLayout layout(makeInputs(inputs));
        const Rectangle<int> page = layout.getPageBounds().withZeroOrigin();
        const Rectangle<int> input = layout.getInputSectionBounds();
        const Rectangle<int> header = layout.getInputHeaderBounds();
        const Rectangle<int> session = layout.getSessionBoxBounds();
        const Rectangle<int> playHeader = layout.getPlayHeaderBounds();
        const Rectangle<int> playBox = layout.getPlayBoxBounds();
        const Rectangle<int> logo = layout.getLogoBounds();
        const Rectangle<int> solo = layout.getRudeSoloBounds();
        const Rectangle<int> midi(layout.getMidiStatusPosition().x, layout.getMidiStatusPosition().y,
                                  console::consoleImages().midiBackground.getWidth(),
                                  console::consoleImages().midiBackground.getHeight());
        const Rectangle<int> masterHeader = layout.getMasterHeaderBounds();
        const Rectangle<int> masterBox = layout.getMasterBoxBounds();

        // Three columns side by side: the input strips, the playback section, the master section.
        EXPECT_EQ(input, page.withWidth(inputs == 0 ? 0 : input.getWidth()));
        EXPECT_EQ(header, input.withHeight(ConsoleLayout::kHeaderHeight));
        for (const Rectangle<int>& r : {session, playHeader, playBox})
            EXPECT_EQ(r.getHorizontalRange(), playBox.getHorizontalRange().movedToStartAt(input.getRight()));
        for (const Rectangle<int>& r : {logo, solo, midi, masterHeader, masterBox})
            EXPECT_EQ(r.getHorizontalRange(),
                      masterBox.getHorizontalRange().movedToStartAt(playBox.getRight()));
        EXPECT_EQ(masterBox.getRight(), page.getRight());

        // Each column from the top of the page to its bottom, the headers of both sections on one line.
        EXPECT_EQ(session.getY(), 0);
        EXPECT_EQ(playHeader.getY(), session.getBottom());
        EXPECT_EQ(playBox.getY(), playHeader.getBottom());
        EXPECT_EQ(playBox.getBottom(), page.getBottom());
        EXPECT_EQ(logo.getY(), 0);
        EXPECT_EQ(solo.getY(), logo.getBottom());
        EXPECT_EQ(midi.getY(), solo.getBottom());
        EXPECT_LE(midi.getBottom(), masterHeader.getY());
        EXPECT_EQ(masterHeader.getVerticalRange(), playHeader.getVerticalRange());
        EXPECT_EQ(masterBox.getY(), masterHeader.getBottom());
        EXPECT_EQ(masterBox.getBottom(), page.getBottom());
    }
}

TEST(ConsoleLayout, EveryElementOfAStripLiesInsideTheStrip)
{
    const ConsoleLayout layout(makeInputs(8));
    const int w = layout.getStripWidth();
    const Rectangle<int> inputStrip(0, 0, w, console::consoleImages().stripBackground.getHeight());
    EXPECT_TRUE(allInside(inputStrip, {layout.getInputLabelBounds(), layout.getInputAliasBounds(),
                                       layout.getInputNominalBounds(), layout.getPanKnobGeometry().bounds,
                                       layout.getMonitorSoloBounds(), layout.getMonitorMuteBounds(),
                                       layout.getMonitorFaderBounds(), layout.getMonitorFaderValueBox(),
                                       layout.getInputMeterBounds()}));

    // Strip k of the two-strip boxes of the master and playback sections.
    const Rectangle<int> masterBox = layout.getMasterBoxBounds().withZeroOrigin();
    const Rectangle<int> playBox = layout.getPlayBoxBounds().withZeroOrigin();
    for (int k = 0; k < 2; ++k)
    {
        SCOPED_TRACE(k);
        EXPECT_TRUE(allInside(masterBox.withX(k * w).withWidth(w),
                              {layout.getMasterUpperLabelBounds(k), layout.getAliasBounds(k),
                               layout.getOutputNominalBounds(k), layout.getMuteBounds(k),
                               layout.getMasterFaderBounds(k), layout.getMasterFaderValueBox(k),
                               layout.getOutputMeterBounds(k)}));
        EXPECT_TRUE(
            allInside(playBox.withX(k * w).withWidth(w),
                      {layout.getPlayLabelBounds().translated(k * w, 0), layout.getAliasBounds(k),
                       layout.getPlaySoloBounds(k), layout.getMuteBounds(k), layout.getPlayFaderBounds(k),
                       layout.getPlayFaderValueBox(k), layout.getOutputMeterBounds(k)}));
    }
    EXPECT_TRUE(allInside(masterBox, {layout.getMasterGangBounds()}));
    EXPECT_TRUE(allInside(playBox, {layout.getPlayGangBounds()}));

    // A pair's gang button lies across the pair's two strips in the input section.
    const Rectangle<int> section = layout.getInputSectionBounds();
    for (int pair = 0; pair < 4; ++pair)
        EXPECT_TRUE(
            allInside(section.withX(2 * pair * w).withWidth(2 * w), {layout.getMonitorGangBounds(pair)}))
            << pair;

    // The session buttons one under another in the middle of the session box.
    const console::ConsoleImages& im = console::consoleImages();
    const Rectangle<int> load = im.loadUp.getBounds().withPosition(layout.getLoadButtonPosition());
    const Rectangle<int> save = im.saveUp.getBounds().withPosition(layout.getSaveButtonPosition());
    const Rectangle<int> reset = im.resetUp.getBounds().withPosition(layout.getResetButtonPosition());
    const Rectangle<int> session = layout.getSessionBoxBounds().withZeroOrigin();
    EXPECT_EQ(save.getTopLeft(), load.getBottomLeft());
    EXPECT_EQ(reset.getTopLeft(), save.getBottomLeft());
    // Centred: the margins on either side differ by the pixel an odd difference leaves at most.
    EXPECT_NEAR(load.getX(), session.getRight() - load.getRight(), 1);
    EXPECT_NEAR(load.getY(), session.getBottom() - reset.getBottom(), 1);
}

TEST(ConsoleLayout, TheControlsOfAStripStackDownwardsWithTheMeterBesideTheFader)
{
    const ConsoleLayout layout(makeInputs(8));
    EXPECT_TRUE(stackedDownwards({layout.getInputLabelBounds(), layout.getInputAliasBounds(),
                                  layout.getInputNominalBounds(), layout.getPanKnobGeometry().bounds,
                                  layout.getMonitorSoloBounds(), layout.getMonitorMuteBounds(),
                                  layout.getMonitorFaderBounds(), layout.getMonitorFaderValueBox()}));
    EXPECT_TRUE(layout.getMonitorFaderBounds().getVerticalRange().contains(
        layout.getInputMeterBounds().getVerticalRange()));
    for (int k = 0; k < 2; ++k)
    {
        SCOPED_TRACE(k);
        EXPECT_TRUE(stackedDownwards({layout.getMasterUpperLabelBounds(k), layout.getAliasBounds(k),
                                      layout.getOutputNominalBounds(k), layout.getMuteBounds(k),
                                      layout.getMasterFaderBounds(k), layout.getMasterFaderValueBox(k)}));
        EXPECT_TRUE(stackedDownwards({layout.getPlayLabelBounds(), layout.getAliasBounds(k),
                                      layout.getPlaySoloBounds(k), layout.getMuteBounds(k),
                                      layout.getPlayFaderBounds(k), layout.getPlayFaderValueBox(k)}));
        EXPECT_TRUE(layout.getMasterFaderBounds(k).getVerticalRange().contains(
            layout.getOutputMeterBounds(k).getVerticalRange()));
    }
    const console::KnobGeometry knob = layout.getPanKnobGeometry();
    EXPECT_FLOAT_EQ(knob.rotaryEnd - knob.rotaryStart, 1.5f * juce::MathConstants<float>::pi);
}

TEST(ConsoleLayout, EveryPairOfInputsButAnOddLastStripHasAGangButton)
{
    const ConsoleLayout layout(makeInputs(5));
    EXPECT_TRUE(layout.hasMonitorGang(0));
    EXPECT_FALSE(layout.hasMonitorGang(1));
    EXPECT_TRUE(layout.hasMonitorGang(2));
    EXPECT_FALSE(layout.hasMonitorGang(4));
    EXPECT_EQ(layout.getMonitorGangBounds(2),
              layout.getMonitorGangBounds().translated(4 * layout.getStripWidth(), 0));
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

TEST(ConsoleLookAndFeel, TheFileChoosersTitleReadsOnItsDarkGround)
{
    console::installConsoleLookAndFeel();
    juce::LookAndFeel& lf = juce::LookAndFeel::getDefaultLookAndFeel();
    // The framework's chooser fills its window with the alert windows' ground.
    const juce::Colour ground = lf.findColour(juce::AlertWindow::backgroundColourId);
    const juce::AttributedString header = lf.createFileChooserHeaderText("Save settings", "");
    ASSERT_GT(header.getNumAttributes(), 0);
    for (int i = 0; i < header.getNumAttributes(); ++i)
        EXPECT_GE(consoletest::contrastRatio(header.getAttribute(i).colour, ground), 4.5);
}

} // namespace
