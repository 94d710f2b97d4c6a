// The console's base widgets in a window of a simulated interface: faders and their value boxes, toggles
// and gang buttons, pan knobs and name labels, driven through small strips of monitor-mix controls.

#include "ConsoleWindowFixture.h"
#include "console/ui/widgets/Alias.h"
#include "console/ui/widgets/Fader.h"
#include "console/ui/widgets/PanKnob.h"
#include "console/ui/widgets/Toggle.h"
#include "device/Conversions.h"

#include <gtest/gtest.h>

namespace
{

using console::ConsoleState;
using consoletest::pumpUntil;

// --- a strip of monitor-mix controls of one input, as the input strips use the bases ---

class TestFader : public console::Fader
{
public:
    TestFader(console::ConsoleContext& content, int input) : Fader(content, 0), input_(input) {}
    void readFromDevice() override {}
    void writeToDevice() override
    {
        const int bank = nextDirty();
        if (bank < 0)
            return;
        console::ConsoleContext& c = getContent();
        handleBankedSetResult(
            bank, c.getDevice().setMonitorGain(input_, bank, c.getState().getMonitorGain(input_, bank)));
    }
    void loadFromState(ConsoleState& state, bool) override
    {
        showLoadedValue(state.getMonitorGain(input_, getChannel()));
    }
    void storeToState(ConsoleState& state) override
    {
        state.setMonitorGain(input_, getChannel(), float(getValue()));
        state.setMonitorGain(input_, getChannel() + 1, float(getValue()));
    }
    void resetToDefault() override {}

private:
    int input_;
};

int flagOffset(int input, int mix)
{
    return ConsoleState::kMonitorFlags + input * ConsoleState::kMaxChannels + mix;
}

class TestMute : public console::CtrlGroupedButton
{
public:
    TestMute(console::ConsoleContext& content, int input) : CtrlGroupedButton(content, 0), input_(input)
    {
        const console::ConsoleImages& im = console::consoleImages();
        setImages(im.muteUp, im.muteLit, im.mutePressed);
    }
    CtrlGroupedButton* getGroupMember(juce::Component& strip) override;
    void readFromDevice() override {}
    void writeToDevice() override
    {
        const int bank = nextDirty();
        if (bank < 0)
            return;
        console::ConsoleContext& c = getContent();
        handleBankedSetResult(bank, c.getDevice().setMonitorMute(
                                        input_, bank, c.getState().getByte(flagOffset(input_, bank)) & 1));
    }
    void loadFromState(ConsoleState& state, bool) override
    {
        showValue((state.getByte(flagOffset(input_, getChannel())) & 1) != 0);
    }
    void storeToState(ConsoleState& state) override
    {
        for (int mix : {getChannel(), getChannel() + 1})
        {
            const uint8_t byte = state.getByte(flagOffset(input_, mix));
            state.setByte(flagOffset(input_, mix), uint8_t(getValue() ? byte | 1 : byte & ~1));
        }
    }
    void resetToDefault() override {}

private:
    int input_;
};

class TestPan : public console::PanKnob
{
public:
    TestPan(console::ConsoleContext& content, juce::Component& parent, int input)
        : PanKnob(content, parent), input_(input)
    {
    }
    float getPanFromState() override { return getContent().getState().getMonitorPan(input_, getChannel()); }
    void setPanInState(float pan) override
    {
        getContent().getState().setMonitorPan(input_, getChannel(), pan);
    }
    void readFromDevice() override {}
    void writeToDevice() override
    {
        const int bank = nextDirty();
        if (bank < 0)
            return;
        console::ConsoleContext& c = getContent();
        handleBankedSetResult(
            bank, c.getDevice().setMonitorPan(input_, bank, c.getState().getMonitorPan(input_, bank)));
    }
    void loadFromState(ConsoleState&, bool) override { handleCommandMessage(0); }
    void storeToState(ConsoleState&) override {}
    void resetToDefault() override {}

private:
    int input_;
};

class TestGang : public console::Gang
{
public:
    TestGang(ConsoleState& state, int channel) : state_(state), channel_(channel) {}
    void clicked() override { state_.setInputGanged(getToggleState(), channel_); }
    void reload() override { setToggleState(state_.isInputGanged(channel_), juce::dontSendNotification); }

private:
    ConsoleState& state_;
    int channel_;
};

struct TestStrip : juce::Component
{
    TestStrip(console::ConsoleContext& content, int input)
        : fader(content, input), mute(content, input), pan(content, *this, input)
    {
        const console::ConsoleLayout& layout = content.getLayout();
        fader.setBounds(layout.getMonitorFaderBounds());
        fader.setup(*this);
        const juce::Rectangle<int> box = layout.getMonitorFaderValueBox();
        fader.createValueBox(*this, box.getX(), box.getY(), box.getWidth(), box.getHeight(), 12.5f);
        mute.setBounds(layout.getMonitorMuteBounds());
        mute.setup(*this);
    }
    void load(ConsoleState& state)
    {
        fader.loadFromState(state, false);
        mute.loadFromState(state, false);
        pan.loadFromState(state, false);
    }

    TestFader fader;
    TestMute mute;
    TestPan pan;
};

console::CtrlGroupedButton* TestMute::getGroupMember(juce::Component& strip)
{
    auto* s = dynamic_cast<TestStrip*>(&strip);
    return s != nullptr ? &s->mute : nullptr;
}

struct TestBox : juce::Component, console::StripGroup
{
    juce::Component* getStrip(int index) const override
    {
        return index < int(strips.size()) ? strips[size_t(index)].get() : nullptr;
    }
    std::vector<std::unique_ptr<TestStrip>> strips;
};

// The output names of one parity, following the shown pair (as the output strips keep them).
class TestAlias : public console::Alias, public console::PageSection
{
public:
    TestAlias(console::ConsoleContext& content, juce::Component& parent) : Alias(content)
    {
        setBounds(content.getLayout().getAliasBounds(0));
        attach(parent);
    }
    void clearNames() override
    {
        for (int o = 0; o < count(); o += 2)
            state().setOutputAlias(o, {});
    }
    void reloadText() override
    {
        const device::HwInfoCaps& caps = getContent().getHwInfo();
        for (int o = channel_ & 1; o < count(); o += 2)
            if (state().getOutputAlias(o).isEmpty())
                state().setOutputAlias(
                    o, defaultName("Out ", caps.getOutputGroupShortName(caps.getOutputMapGroup(uint32_t(o))),
                                   caps.getOutputMapIndex(uint32_t(o))));
        setText(state().getOutputAlias(channel_), juce::dontSendNotification);
    }
    void labelTextChanged(juce::Label*) override { state().setOutputAlias(channel_, getText()); }
    void showPair(int firstOutput) override
    {
        state().setOutputAlias(channel_, getText());
        setText(state().getOutputAlias(firstOutput), juce::dontSendNotification);
        channel_ = firstOutput;
    }

private:
    ConsoleState& state() const { return getContent().getState(); }
    int count() const { return nameCount(getContent().getHwInfo().getOutputCount()); }
    int channel_ = 0;
};

// --- the fixture: a console window of an interface with 10 inputs and 12 outputs ---

class WidgetTest : public consoletest::ConsoleWindowFixture
{
protected:
    void SetUp() override
    {
        ConsoleWindowFixture::SetUp();
        if (setUpStopped())
            return;
        ASSERT_NO_FATAL_FAILURE(plug("--model st8 --unique-name W8"));
        ASSERT_NO_FATAL_FAILURE(openDevice());
        showWindow();
        content().getTabbedBox()->addAndMakeVisible(box_);
        box_.setBounds(content().getLayout().getInputSectionBounds());
    }

    void TearDown() override
    {
        // The test's controls go before the window: the thread that may still hold them stops first.
        stopHardwareThread();
        if (window_ != nullptr && alias_ != nullptr)
            content().getTabbedBox()->removeSection(*alias_);
        alias_.reset();
        gang_.reset();
        lone_.reset();
        loose_.reset();
        box_.strips.clear();
        ConsoleWindowFixture::TearDown();
    }

    // Strips for inputs 0 .. count - 1 in the box; the first two ganged.
    void makeStrips(int count)
    {
        const int w = content().getLayout().getStripWidth();
        for (int i = 0; i < count; ++i)
        {
            box_.strips.push_back(std::make_unique<TestStrip>(content(), i));
            box_.strips.back()->setBounds(i * w, 41, w, 465);
            box_.addAndMakeVisible(*box_.strips.back());
        }
        gang_ = std::make_unique<TestGang>(state(), 0);
        gang_->setBounds(content().getLayout().getMonitorGangBounds(0));
        gang_->setup(box_);
        gang_->reload();
        TestStrip& a = strip(0);
        TestStrip& b = strip(1);
        a.fader.setGang(gang_.get(), &b.fader);
        b.fader.setGang(gang_.get(), &a.fader);
        a.mute.setGang(gang_.get(), &b.mute);
        b.mute.setGang(gang_.get(), &a.mute);
        a.pan.setGang(gang_.get(), &b.pan);
        b.pan.setGang(gang_.get(), &a.pan);
    }

    TestStrip& strip(int i) { return *box_.strips[size_t(i)]; }

    void loadAll()
    {
        for (auto& s : box_.strips)
            s->load(state());
    }

    // The last value sent for (input, mix) with this MonitorMix command; -1 when none.
    int64_t lastSent(uint32_t command, uint32_t input, uint32_t mix) const
    {
        int64_t value = -1;
        for (const consoletest::VdcLine& v : trace_.vdc(8))
            if (v.command == command && v.params.size() >= 3 && v.params[0] == input && v.params[1] == mix)
                value = v.params[2];
        return value;
    }

    bool sent(uint32_t command, uint32_t input, uint32_t mix, uint32_t value) const
    {
        return pumpUntil([&] { return lastSent(command, input, mix) == int64_t(value); });
    }

    static juce::MouseEvent mouse(juce::Component& c, juce::ModifierKeys mods)
    {
        const juce::Point<float> at(float(c.getWidth()) / 2, float(c.getHeight()) / 2);
        return juce::MouseEvent(juce::Desktop::getInstance().getMainMouseSource(), at, mods, 1.0f, 0.0f, 0.0f,
                                0.0f, 0.0f, &c, &c, juce::Time::getCurrentTime(), at,
                                juce::Time::getCurrentTime(), 1, false);
    }

    static void type(juce::Label& label, const juce::String& text)
    {
        label.showEditor();
        ASSERT_NE(label.getCurrentTextEditor(), nullptr);
        label.getCurrentTextEditor()->setText(text, false);
        label.hideEditor(false);
    }

    TestBox box_;
    std::unique_ptr<TestGang> gang_;
    std::unique_ptr<juce::Component> loose_;
    std::unique_ptr<TestStrip> lone_;
    std::unique_ptr<TestAlias> alias_;
};

const juce::ModifierKeys kCtrlClick(juce::ModifierKeys::ctrlModifier |
                                    juce::ModifierKeys::leftButtonModifier);

TEST_F(WidgetTest, AGangedFaderMovesItsPartnerByTheSameDecibelsFromTheLoadedValues)
{
    makeStrips(2);
    state().setMonitorGain(0, 0, -10.0f);
    state().setMonitorGain(1, 0, -20.0f);
    loadAll();
    TestFader& left = strip(0).fader;
    TestFader& right = strip(1).fader;

    // No drag has started yet: the loaded values are the starting points.
    left.setValue(-5.0, juce::sendNotificationSync);
    EXPECT_DOUBLE_EQ(right.getValue(), -15.0);
    left.startedDragging();
    left.setValue(0.0, juce::sendNotificationSync);
    EXPECT_DOUBLE_EQ(right.getValue(), -10.0);
    EXPECT_EQ(right.getValueBox()->getText(), "-10.0");
    EXPECT_FLOAT_EQ(state().getMonitorGain(1, 1), -10.0f);
    EXPECT_TRUE(sent(0, 1, 0, device::dbToGain(-10.0f)));
    EXPECT_TRUE(sent(0, 0, 0, device::kUnityGain));

    gang_->setToggleState(false, juce::dontSendNotification);
    left.setValue(-30.0, juce::sendNotificationSync);
    EXPECT_DOUBLE_EQ(right.getValue(), -10.0);
}

TEST_F(WidgetTest, CtrlClickPutsAGangedFaderAtZeroDecibelsAndThePartnerFollows)
{
    makeStrips(2);
    state().setMonitorGain(0, 0, -12.0f);
    state().setMonitorGain(1, 0, -18.0f);
    loadAll();
    TestFader& left = strip(0).fader;
    left.mouseDown(mouse(left, kCtrlClick));
    left.mouseUp(mouse(left, kCtrlClick));
    ASSERT_TRUE(pumpUntil([&] { return left.getValue() == 0.0; }));
    EXPECT_NEAR(strip(1).fader.getValue(), -6.0, 1e-9);
    EXPECT_EQ(strip(1).fader.getValueBox()->getText(), "-6.0");
    EXPECT_TRUE(sent(0, 1, 0, device::dbToGain(-6.0f)));
}

TEST_F(WidgetTest, AValueBoxTakesNumbersWithinTheRangeAndKeepsTheValueForOtherText)
{
    makeStrips(2);
    loadAll();
    TestFader& fader = strip(0).fader;
    console::FaderTextBox& box = *fader.getValueBox();
    const double partner = strip(1).fader.getValue();

    type(box, "-7.46");
    EXPECT_EQ(box.getText(), "-7.5");
    type(box, "-7.44");
    EXPECT_EQ(box.getText(), "-7.4");
    EXPECT_TRUE(sent(0, 0, 0, device::dbToGain(-7.4f)));
    type(box, "3.45");
    EXPECT_EQ(box.getText(), "0.0");
    type(box, "-100");
    EXPECT_EQ(box.getText(), "-60.0");
    type(box, "-12 dB");
    EXPECT_EQ(box.getText(), "-12.0");
    // Not a number: the fader stays where it was (it does not jump to 0 dB, the loudest setting).
    type(box, "loud");
    EXPECT_EQ(box.getText(), "-12.0");
    EXPECT_DOUBLE_EQ(fader.getValue(), -12.0);
    // A typed value moves only its own fader.
    EXPECT_DOUBLE_EQ(strip(1).fader.getValue(), partner);
}

TEST_F(WidgetTest, TabInAValueBoxMovesAlongTheRingOfFadersAndWrapsAround)
{
    // The window's own faders come first; the test's join the ring at its end.
    console::Fader* first = content().getFaderRing().getFirst();
    ASSERT_NE(first, nullptr);
    makeStrips(3);
    console::FaderTextBox* boxes[3] = {strip(0).fader.getValueBox(), strip(1).fader.getValueBox(),
                                       strip(2).fader.getValueBox()};
    console::FaderTextBox* firstBox = first->getValueBox();
    EXPECT_EQ(content().getFaderRing().getFirst(), first);
    EXPECT_EQ(boxes[0]->getNextBox(), boxes[1]);
    window_->toFront(true);
    ASSERT_TRUE(pumpUntil([&] { return window_->isActiveWindow(); }, 3000));

    boxes[2]->showEditor();
    ASSERT_NE(boxes[2]->getCurrentTextEditor(), nullptr);
    boxes[2]->getCurrentTextEditor()->moveKeyboardFocusToSibling(true);
    EXPECT_TRUE(firstBox->isBeingEdited());
    firstBox->getCurrentTextEditor()->moveKeyboardFocusToSibling(false);
    EXPECT_TRUE(boxes[2]->isBeingEdited());

    // A fader that goes leaves the ring closed.
    box_.strips.erase(box_.strips.begin() + 1);
    EXPECT_EQ(boxes[0]->getNextBox(), boxes[2]);
    EXPECT_EQ(boxes[2]->getNextBox(), firstBox);
}

TEST_F(WidgetTest, LoadingAndSwitchingChannelsWriteNothingBackButUserChangesAreStored)
{
    makeStrips(2);
    // Values the controls cannot show as they are: a channel off (-144 dB), a gain between steps, flag bits
    // the mute does not own, a pan between steps of the knob's text.
    state().setWord(ConsoleState::kMonitorGainWords + 0 * 40 + 2, 0);
    state().setMonitorGain(0, 0, -7.46f);
    state().setByte(flagOffset(0, 2), 0xFC);
    state().setByte(ConsoleState::kMonitorPans + 2, 77);
    uint32_t before[ConsoleState::kImageQuads];
    state().copyImage(before);
    trace_.clear();

    loadAll();
    TestStrip& s = strip(0);
    s.fader.setChannel(2);
    s.mute.setChannel(2);
    s.pan.setChannel(3);
    EXPECT_EQ(s.pan.getChannel(), 2);
    EXPECT_DOUBLE_EQ(s.fader.getValue(), -60.0);
    s.fader.setChannel(0);
    s.mute.setChannel(0);
    s.pan.setChannel(0);
    uint32_t after[ConsoleState::kImageQuads];
    state().copyImage(after);
    EXPECT_TRUE(std::equal(std::begin(before), std::end(before), std::begin(after)));
    pumpUntil([] { return false; }, 200);
    EXPECT_TRUE(trace_.vdc(8).empty());

    s.fader.setValue(-3.0, juce::sendNotificationSync);
    EXPECT_FLOAT_EQ(state().getMonitorGain(0, 0), -3.0f);
    EXPECT_TRUE(sent(0, 0, 0, device::dbToGain(-3.0f)));
}

TEST_F(WidgetTest, AGangedToggleGivesItsPartnerTheSameState)
{
    makeStrips(2);
    loadAll();
    TestMute& left = strip(0).mute;
    TestMute& right = strip(1).mute;
    left.showValue(false);
    right.showValue(false);
    left.triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return right.getValue(); }));
    EXPECT_TRUE(left.getValue());
    EXPECT_TRUE(right.getToggleState());
    EXPECT_TRUE(sent(2, 0, 0, 1));
    EXPECT_TRUE(sent(2, 1, 0, 1));
    EXPECT_EQ(state().getByte(flagOffset(1, 1)) & 1, 1);

    // The partner takes the clicked one's state; it is not toggled.
    right.showValue(false);
    left.triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return !left.getValue(); }));
    EXPECT_FALSE(right.getValue());

    gang_->setToggleState(false, juce::dontSendNotification);
    right.triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return right.getValue(); }));
    EXPECT_FALSE(left.getValue());
}

TEST_F(WidgetTest, CtrlClickSetsTheButtonOfEveryStripInItsBoxButNotOutsideOne)
{
    makeStrips(3);
    loadAll();
    gang_->setToggleState(false, juce::dontSendNotification);
    strip(0).mute.showValue(false);
    strip(1).mute.showValue(false);
    strip(2).mute.showValue(true);
    const juce::ModifierKeys saved = juce::ModifierKeys::currentModifiers;
    juce::ModifierKeys::currentModifiers = kCtrlClick;
    strip(1).mute.triggerClick();
    const bool done = pumpUntil([&] { return strip(0).mute.getValue(); });
    juce::ModifierKeys::currentModifiers = saved;
    ASSERT_TRUE(done);
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_TRUE(strip(i).mute.getValue()) << i;
        EXPECT_TRUE(sent(2, uint32_t(i), 0, 1)) << i;
    }

    // A strip that does not lie in a strip box: the ctrl-click is a plain click.
    strip(0).mute.showValue(false);
    loose_ = std::make_unique<juce::Component>();
    content().getTabbedBox()->addAndMakeVisible(*loose_);
    lone_ = std::make_unique<TestStrip>(content(), 5);
    loose_->addAndMakeVisible(*lone_);
    lone_->load(state());
    lone_->mute.showValue(false);
    juce::ModifierKeys::currentModifiers = kCtrlClick;
    lone_->mute.triggerClick();
    const bool clicked = pumpUntil([&] { return lone_->mute.getValue(); });
    juce::ModifierKeys::currentModifiers = saved;
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(sent(2, 5, 0, 1));
    EXPECT_FALSE(strip(0).mute.getValue());
}

TEST(PanKnobText, CentreAndStepsToEachSide)
{
    using console::PanKnob;
    EXPECT_EQ(PanKnob::panText(0.5), "C");
    EXPECT_EQ(PanKnob::panText(0.5 + 0.9 / 124), "C");
    EXPECT_EQ(PanKnob::panText(0.5 - 0.9 / 124), "C");
    EXPECT_EQ(PanKnob::panText(0.0), "L 31");
    EXPECT_EQ(PanKnob::panText(1.0), "R 31");
    EXPECT_EQ(PanKnob::panText(0.25), "L 16");
    EXPECT_EQ(PanKnob::panText(0.75), "R 16");
}

TEST_F(WidgetTest, AGangedPanKnobIsMirroredAndCtrlCentresBoth)
{
    makeStrips(2);
    loadAll();
    TestPan& left = strip(0).pan;
    TestPan& right = strip(1).pan;
    left.setValue(0.2, juce::sendNotificationSync);
    EXPECT_DOUBLE_EQ(right.getValue(), 0.8);
    EXPECT_EQ(state().getByte(ConsoleState::kMonitorPans + 40 + 1), device::panToDevice(0.8f));
    EXPECT_TRUE(sent(6, 1, 0, device::panToDevice(0.8f)));
    EXPECT_TRUE(sent(6, 0, 0, device::panToDevice(0.2f)));

    right.mouseDown(mouse(right, kCtrlClick));
    EXPECT_DOUBLE_EQ(left.getValue(), 0.5);
    EXPECT_DOUBLE_EQ(right.getValue(), 0.5);
    EXPECT_TRUE(sent(6, 0, 0, 128));
}

TEST_F(WidgetTest, NamesTypedIntoALabelAreStoredAsLatin1CutAt21Characters)
{
    alias_ = std::make_unique<TestAlias>(content(), box_);
    // Defaults for the empty names of the label's parity.
    EXPECT_EQ(state().getOutputAlias(0), "Out A1");
    EXPECT_EQ(state().getOutputAlias(2), "Out A3");
    EXPECT_EQ(alias_->getText(), "Out A1");
    EXPECT_EQ(alias_->getName(), "alias");

    type(*alias_, juce::String::fromUTF8("Gr\xc3\xb6\xc3\x9f"
                                         "e \xe2\x98\x83 of the left channel"));
    EXPECT_EQ(state().getOutputAlias(0), juce::String::fromUTF8("Gr\xc3\xb6\xc3\x9f"
                                                                "e ? of the left c"));
}

TEST_F(WidgetTest, AnOpenNameEditorIsCommittedToItsChannelBeforeATabSwitch)
{
    alias_ = std::make_unique<TestAlias>(content(), box_);
    content().getTabbedBox()->addSection(*alias_);
    alias_->showEditor();
    alias_->getCurrentTextEditor()->setText("Monitors", false);
    content().showPage(2);
    EXPECT_EQ(state().getOutputAlias(0), "Monitors");
    EXPECT_EQ(state().getOutputAlias(2), "Out A3");
    EXPECT_EQ(alias_->getText(), "Out A3");
    EXPECT_FALSE(alias_->isBeingEdited());
}

} // namespace
