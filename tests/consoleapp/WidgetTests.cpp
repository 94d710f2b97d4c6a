// The console's base widgets in a window of a simulated interface: faders and their value boxes, toggles
// and gang buttons, pan knobs and name labels, driven through the window's own input and output strips;
// and a change that the hardware thread takes between its store and its mark, on the strip controls
// with bindings of the test's own.

#include "ConsoleWindowFixture.h"
#include "console/ui/strips/InputStrips.h"
#include "console/ui/strips/MasterStrips.h"
#include "console/ui/strips/StripControls.h"
#include "device/Conversions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>

namespace
{

using console::ConsoleState;
using console::instrip;
using consoletest::pumpUntil;

int flagOffset(int input, int mix)
{
    return ConsoleState::kMonitorFlags + input * ConsoleState::kMaxChannels + mix;
}

const juce::ModifierKeys kCtrlClick(juce::ModifierKeys::ctrlModifier |
                                    juce::ModifierKeys::leftButtonModifier);

// --- the strip controls on the test's bindings: what they store and send, and a gate for the send ---

// Channel 0 of the two rig strips (a binding's key is its strip): the values stored and sent. The
// hardware thread sends through sendValue, which waits while the gate is closed.
struct Rig
{
    std::mutex lock;
    std::condition_variable wake;
    std::array<float, 2> stored{};
    std::array<float, 2> sent{};
    bool gateClosed = false;
    bool atGate = false; // the thread waits at the closed gate
    // Message thread: runs once, inside the next store, before the value is stored.
    std::function<void()> onStore;
};

Rig rig;

constexpr auto kRigWait = std::chrono::milliseconds(testsupport::kHangMs);

void storeValue(int key, float value)
{
    if (std::function<void()> hook = std::exchange(rig.onStore, {}))
        hook();
    std::lock_guard<std::mutex> lock(rig.lock);
    rig.stored[size_t(key)] = value;
}

int sendValue(int key)
{
    std::unique_lock<std::mutex> lock(rig.lock);
    rig.atGate = true;
    rig.wake.notify_all();
    rig.wake.wait_for(lock, kRigWait, [] { return !rig.gateClosed; });
    rig.sent[size_t(key)] = rig.stored[size_t(key)];
    return 0;
}

float rigStored(int key)
{
    std::lock_guard<std::mutex> lock(rig.lock);
    return rig.stored[size_t(key)];
}

float gainGet(const console::ConsoleContext&, int key, int)
{
    return rigStored(key);
}

void gainPut(console::ConsoleContext&, int key, int, float db)
{
    storeValue(key, db);
}

int gainRead(console::ConsoleContext&, int, int, float&)
{
    return 1;
}

bool flagGet(const console::ConsoleContext&, int key, int)
{
    return rigStored(key) != 0.0f;
}

void flagPut(console::ConsoleContext&, int key, int, bool on)
{
    storeValue(key, on ? 1.0f : 0.0f);
}

void flagClear(console::ConsoleContext&, int key, int)
{
    storeValue(key, 0.0f);
}

int flagRead(console::ConsoleContext&, int, int, int&)
{
    return 1;
}

int rigWrite(console::ConsoleContext&, int key, int)
{
    return sendValue(key);
}

constexpr console::FaderBinding kRigGain{.get = gainGet,
                                         .put = gainPut,
                                         .read = gainRead,
                                         .write = rigWrite,
                                         .onLoad = console::ChannelSet::own,
                                         .onReset = console::ChannelSet::own};

constexpr console::FlagBinding kRigFlag{.get = flagGet,
                                        .put = flagPut,
                                        .clear = flagClear,
                                        .read = flagRead,
                                        .write = rigWrite,
                                        .onLoad = console::ChannelSet::own,
                                        .onReset = console::ChannelSet::own,
                                        .grouped = true};

struct RigStrip : juce::Component
{
    RigStrip(console::ConsoleContext& content, int key)
        : fader(content, kRigGain, key, 0), flag(content, kRigFlag, key, 0)
    {
        const console::ConsoleLayout& layout = content.getLayout();
        fader.setBounds(layout.getMonitorFaderBounds());
        fader.setup(*this);
        const juce::Rectangle<int> box = layout.getMonitorFaderValueBox();
        fader.createValueBox(*this, box.getX(), box.getY(), box.getWidth(), box.getHeight(), 0.0f);
        const console::ConsoleImages& im = console::consoleImages();
        flag.setImages(im.muteUp, im.muteLit, im.mutePressed);
        flag.setBounds(layout.getMonitorMuteBounds());
        flag.setup(*this);
    }

    console::BankedFader fader;
    console::BankedFlagButton flag;
};

struct RigBox : juce::Component, console::StripGroup
{
    juce::Component* getStrip(int index) const override
    {
        return index >= 0 && index < int(strips.size()) ? strips[size_t(index)].get() : nullptr;
    }
    std::array<std::unique_ptr<RigStrip>, 2> strips;
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
        ASSERT_NO_FATAL_FAILURE(plugAndShow("--model st8 --unique-name W8"));
    }

    void TearDown() override
    {
        {
            std::lock_guard<std::mutex> lock(rig.lock);
            rig.gateClosed = false;
        }
        rig.wake.notify_all();
        rig.onStore = {};
        // The test's controls go before the window: the thread that may still hold them stops first.
        stopHardwareThread();
        lone_.reset();
        loose_.reset();
        rigBox_.reset();
        probe_.reset();
        extraFader_.reset();
        ConsoleWindowFixture::TearDown();
    }

    console::instripbox& box() const { return *content().getTabbedBox()->getInputBox(); }
    instrip& strip(int i) const { return *box().getInputStrip(i); }
    console::MasterStripBox& outputs() const { return *content().getTabbedBox()->getMasterBox(); }

    // Strips 0 to count - 1 show the state block's values of the mix on show.
    void load(int count)
    {
        for (int i = 0; i < count; ++i)
            for (console::HwCtrl* control : std::initializer_list<console::HwCtrl*>{
                     &strip(i).getFader(), &strip(i).getMute(), &strip(i).getSolo(), &strip(i).getPan()})
                control->loadFromState(state(), false);
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

    // A click with ctrl held, handled before it returns.
    static void ctrlClick(juce::Button& button, const std::function<bool()>& done)
    {
        const juce::ModifierKeys saved = juce::ModifierKeys::currentModifiers;
        juce::ModifierKeys::currentModifiers = kCtrlClick;
        button.triggerClick();
        const bool clicked = pumpUntil(done);
        juce::ModifierKeys::currentModifiers = saved;
        EXPECT_TRUE(clicked);
    }

    // Two rig strips in a strip box, and the probe.
    void makeRig()
    {
        {
            std::lock_guard<std::mutex> lock(rig.lock);
            rig.stored = {};
            rig.sent = {};
        }
        rigBox_ = std::make_unique<RigBox>();
        content().getTabbedBox()->addAndMakeVisible(*rigBox_);
        rigBox_->setBounds(content().getLayout().getInputSectionBounds());
        const int width = content().getLayout().getStripWidth();
        for (int key = 0; key < 2; ++key)
        {
            rigBox_->strips[size_t(key)] = std::make_unique<RigStrip>(content(), key);
            rigBox_->strips[size_t(key)]->setBounds(key * width, 41, width, 465);
            rigBox_->addAndMakeVisible(*rigBox_->strips[size_t(key)]);
        }
        probe_ = std::make_unique<consoletest::ThreadBarrier>(*content().getControls());
        ASSERT_TRUE(runThread());
    }

    // Opens the gate and waits until the thread has sent everything queued (message thread: the thread
    // never waits for it).
    bool runThread()
    {
        {
            std::lock_guard<std::mutex> lock(rig.lock);
            rig.gateClosed = false;
        }
        rig.wake.notify_all();
        probe_->queue();
        return testsupport::waitUntil([this] { return probe_->passed(); });
    }

    // The next send waits at the gate; true once the thread has taken a channel and waits there.
    void closeGate()
    {
        std::lock_guard<std::mutex> lock(rig.lock);
        rig.gateClosed = true;
        rig.atGate = false;
    }

    bool threadAtGate()
    {
        std::unique_lock<std::mutex> lock(rig.lock);
        return rig.wake.wait_for(lock, kRigWait, [] { return rig.atGate; });
    }

    float rigSent(int key)
    {
        std::lock_guard<std::mutex> lock(rig.lock);
        return rig.sent[size_t(key)];
    }

    std::unique_ptr<juce::Component> loose_;
    std::unique_ptr<instrip> lone_;
    std::unique_ptr<RigBox> rigBox_;
    std::unique_ptr<consoletest::ThreadBarrier> probe_;
    std::unique_ptr<console::monfader> extraFader_;
};

TEST_F(WidgetTest, AGangedFaderMovesItsPartnerByTheSameDecibelsFromTheLoadedValues)
{
    state().setMonitorGain(0, 0, -10.0f);
    state().setMonitorGain(1, 0, -20.0f);
    load(2);
    console::monfader& left = strip(0).getFader();
    console::monfader& right = strip(1).getFader();
    ASSERT_EQ(left.getGang(), strip(0).getGang());
    ASSERT_TRUE(left.getGang()->getToggleState());

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

    left.getGang()->setToggleState(false, juce::dontSendNotification);
    left.setValue(-30.0, juce::sendNotificationSync);
    EXPECT_DOUBLE_EQ(right.getValue(), -10.0);
}

TEST_F(WidgetTest, CtrlClickPutsAGangedFaderAtZeroDecibelsAndThePartnerFollows)
{
    state().setMonitorGain(0, 0, -12.0f);
    state().setMonitorGain(1, 0, -18.0f);
    load(2);
    console::monfader& left = strip(0).getFader();
    left.mouseDown(mouse(left, kCtrlClick));
    left.mouseUp(mouse(left, kCtrlClick));
    ASSERT_TRUE(pumpUntil([&] { return left.getValue() == 0.0; }));
    EXPECT_NEAR(strip(1).getFader().getValue(), -6.0, 1e-9);
    EXPECT_EQ(strip(1).getFader().getValueBox()->getText(), "-6.0");
    EXPECT_TRUE(sent(0, 1, 0, device::dbToGain(-6.0f)));
}

TEST_F(WidgetTest, AValueBoxTakesNumbersWithinTheRangeAndKeepsTheValueForOtherText)
{
    load(2);
    console::monfader& fader = strip(0).getFader();
    console::FaderTextBox& box = *fader.getValueBox();
    const double partner = strip(1).getFader().getValue();

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
    EXPECT_DOUBLE_EQ(strip(1).getFader().getValue(), partner);
}

TEST_F(WidgetTest, TabInAValueBoxMovesAlongTheRingOfFadersAndWrapsAround)
{
    // The input strips' faders come first, in order; the last fader made closes the ring.
    console::FaderTextBox* first = content().getFaderRing().getFirst()->getValueBox();
    EXPECT_EQ(first, strip(0).getFader().getValueBox());
    EXPECT_EQ(first->getNextBox(), strip(1).getFader().getValueBox());
    console::FaderTextBox* last = first->getPreviousBox();
    window_->toFront(true);
    ASSERT_TRUE(pumpUntil([&] { return window_->isActiveWindow(); }));

    last->showEditor();
    ASSERT_NE(last->getCurrentTextEditor(), nullptr);
    last->getCurrentTextEditor()->moveKeyboardFocusToSibling(true);
    EXPECT_TRUE(first->isBeingEdited());
    first->getCurrentTextEditor()->moveKeyboardFocusToSibling(false);
    EXPECT_TRUE(last->isBeingEdited());
    last->hideEditor(true);

    // A fader joins the ring at its end, and one that goes leaves it closed.
    loose_ = std::make_unique<juce::Component>();
    extraFader_ = std::make_unique<console::monfader>(content(), *loose_, 9);
    EXPECT_EQ(last->getNextBox(), extraFader_->getValueBox());
    EXPECT_EQ(extraFader_->getValueBox()->getNextBox(), first);
    extraFader_.reset();
    EXPECT_EQ(last->getNextBox(), first);
    EXPECT_EQ(first->getPreviousBox(), last);
}

TEST_F(WidgetTest, LoadingAndSwitchingChannelsWriteNothingBackButUserChangesAreStored)
{
    // Values the controls cannot show as they are: a channel off (-144 dB), a gain between steps, flag bits
    // the mute does not own, a pan between steps of the knob's text.
    state().setWord(ConsoleState::kMonitorGainWords + 0 * 40 + 2, 0);
    state().setMonitorGain(0, 0, -7.46f);
    state().setByte(flagOffset(0, 2), 0xFC);
    state().setByte(ConsoleState::kMonitorPans + 2, 77);
    uint32_t before[ConsoleState::kImageQuads];
    state().copyImage(before);
    trace_.clear();

    load(1);
    instrip& s = strip(0);
    s.setMix(2);
    EXPECT_DOUBLE_EQ(s.getFader().getValue(), -60.0);
    s.getPan().setChannel(3);
    EXPECT_EQ(s.getPan().getChannel(), 2);
    s.setMix(0);
    uint32_t after[ConsoleState::kImageQuads];
    state().copyImage(after);
    EXPECT_TRUE(std::equal(std::begin(before), std::end(before), std::begin(after)));
    drain();
    EXPECT_TRUE(trace_.vdc(8).empty());

    s.getFader().setValue(-3.0, juce::sendNotificationSync);
    EXPECT_FLOAT_EQ(state().getMonitorGain(0, 0), -3.0f);
    EXPECT_TRUE(sent(0, 0, 0, device::dbToGain(-3.0f)));
}

TEST_F(WidgetTest, AGangedToggleGivesItsPartnerTheSameState)
{
    load(2);
    console::monmute& left = strip(0).getMute();
    console::monmute& right = strip(1).getMute();
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

    strip(0).getGang()->setToggleState(false, juce::dontSendNotification);
    right.triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return right.getValue(); }));
    EXPECT_FALSE(left.getValue());
}

TEST_F(WidgetTest, CtrlClickOnAStripOutsideAStripBoxIsAPlainClick)
{
    load(1);
    strip(0).getMute().showValue(false);
    loose_ = std::make_unique<juce::Component>();
    content().getTabbedBox()->addAndMakeVisible(*loose_);
    lone_ = std::make_unique<instrip>(content(), 5);
    loose_->addAndMakeVisible(*lone_);
    lone_->getMute().showValue(false);
    ctrlClick(lone_->getMute(), [&] { return lone_->getMute().getValue(); });
    EXPECT_TRUE(sent(2, 5, 0, 1));
    EXPECT_FALSE(strip(0).getMute().getValue());
    EXPECT_EQ(lastSent(2, 0, 0), -1);
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

TEST_F(WidgetTest, ThePanValueStandsOnALightFieldOfTheStripReadableAtAContrastOfFourAndAHalf)
{
    load(1);
    console::InPanKnob& knob = strip(0).getPan();
    juce::Label* box = nullptr;
    for (juce::Component* child : knob.getChildren())
        if (auto* label = dynamic_cast<juce::Label*>(child))
            box = label;
    ASSERT_NE(box, nullptr);
    // Where the value's text is drawn, over the strip's artwork (the box's own ground lies between).
    const juce::Rectangle<int> area =
        strip(0).getLocalArea(box, box->getBorderSize().subtractedFrom(box->getLocalBounds()));
    const juce::Image& artwork = console::consoleImages().stripBackground;
    ASSERT_TRUE(artwork.getBounds().contains(area));
    const juce::Colour text = box->findColour(juce::Label::textColourId);
    double worst = 21.0;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
        {
            const juce::Colour ground =
                artwork.getPixelAt(x, y).overlaidWith(box->findColour(juce::Label::backgroundColourId));
            worst = std::min(worst, consoletest::contrastRatio(text, ground));
        }
    EXPECT_GE(worst, 4.5) << area.toString();
}

TEST_F(WidgetTest, AGangedPanKnobIsMirroredAndCtrlCentresBoth)
{
    load(2);
    console::InPanKnob& left = strip(0).getPan();
    console::InPanKnob& right = strip(1).getPan();
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
    console::MasterAlias& name = outputs().getAlias(0);
    // Defaults for the empty names of the label's parity.
    EXPECT_EQ(state().getOutputAlias(0), "Out A1");
    EXPECT_EQ(state().getOutputAlias(2), "Out A3");
    EXPECT_EQ(name.getText(), "Out A1");
    EXPECT_EQ(name.getName(), "alias");

    type(name, juce::String::fromUTF8("Gr\xc3\xb6\xc3\x9f"
                                      "e \xe2\x98\x83 of the left channel"));
    EXPECT_EQ(state().getOutputAlias(0), juce::String::fromUTF8("Gr\xc3\xb6\xc3\x9f"
                                                                "e ? of the left c"));
}

TEST_F(WidgetTest, AnOpenNameEditorIsCommittedToItsChannelBeforeATabSwitch)
{
    console::MasterAlias& name = outputs().getAlias(0);
    name.showEditor();
    ASSERT_NE(name.getCurrentTextEditor(), nullptr);
    name.getCurrentTextEditor()->setText("Monitors", false);
    content().showPage(2);
    EXPECT_EQ(state().getOutputAlias(0), "Monitors");
    EXPECT_EQ(state().getOutputAlias(2), "Out A3");
    EXPECT_EQ(name.getText(), "Out A3");
    EXPECT_FALSE(name.isBeingEdited());
}

TEST_F(WidgetTest, AChangeReachesTheDeviceWhenTheThreadTakesItsChannelBetweenStoreAndMark)
{
    ASSERT_NO_FATAL_FAILURE(makeRig());
    RigStrip& a = *rigBox_->strips[0];
    // first: a change whose send the thread has begun (the channel taken, waiting at the gate); second:
    // the next change, during whose store the thread runs: what it finds marked then, it sends. The
    // second value must reach the device.
    auto check = [&](const char* what, const std::function<void()>& first,
                     const std::function<void()>& second, float expected)
    {
        SCOPED_TRACE(what);
        closeGate();
        first();
        ASSERT_TRUE(threadAtGate());
        rig.onStore = [this] { ASSERT_TRUE(runThread()); };
        second();
        EXPECT_FALSE(static_cast<bool>(rig.onStore));
        ASSERT_TRUE(runThread());
        EXPECT_FLOAT_EQ(rigSent(0), expected);
        EXPECT_FLOAT_EQ(rigStored(0), expected);
    };
    check(
        "fader", [&] { a.fader.setValue(-10.0, juce::sendNotificationSync); },
        [&] { a.fader.setValue(-20.0, juce::sendNotificationSync); }, -20.0f);
    check(
        "value box", [&] { type(*a.fader.getValueBox(), "-30"); },
        [&] { type(*a.fader.getValueBox(), "-40"); }, -40.0f);
    check(
        "toggle",
        [&]
        {
            a.flag.triggerClick();
            EXPECT_TRUE(pumpUntil([&] { return a.flag.getValue(); }));
        },
        [&]
        {
            a.flag.triggerClick();
            EXPECT_TRUE(pumpUntil([&] { return !a.flag.getValue(); }));
        },
        0.0f);
    check(
        "ctrl+click on a group",
        [&]
        {
            a.flag.triggerClick();
            EXPECT_TRUE(pumpUntil([&] { return a.flag.getValue(); }));
        },
        [&] { ctrlClick(a.flag, [&] { return !a.flag.getValue(); }); }, 0.0f);
}

} // namespace
