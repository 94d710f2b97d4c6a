// The input strips, their monitor-mix controls and the indicators, in a console window of a simulated
// interface with 8 analog inputs or with 16 (8 analog and 8 ADAT): what the strips show, what they send
// (read back from the simulator's trace), and how the meters, MIDI LEDs and the solo light follow the
// polls.

#include "ConsoleWindowFixture.h"
#include "console/ui/strips/InputStrips.h"
#include "console/ui/strips/MasterStrips.h"
#include "console/ui/strips/PlaybackStrips.h"
#include "console/ui/strips/StripHeaders.h"
#include "console/ui/widgets/Meters.h"
#include "device/Conversions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <map>
#include <tuple>

namespace
{

using console::ConsoleState;
using console::instrip;
using console::instripbox;
using consoletest::pumpPosted;
using consoletest::pumpUntil;

int flagOffset(int input, int mix)
{
    return ConsoleState::kMonitorFlags + input * ConsoleState::kMaxChannels + mix;
}

const juce::ModifierKeys kCtrlClick(juce::ModifierKeys::ctrlModifier |
                                    juce::ModifierKeys::leftButtonModifier);

class StripTest : public consoletest::ConsoleWindowFixture
{
protected:
    // 8 analog inputs and 8 analog outputs, no MIDI.
    void openEight()
    {
        const std::string caps =
            consoletest::writeCapsFile(bus_.dir, 0x3B71, 0x777, 0x04080000, 0x04080000, false);
        plugAndShow("--caps " + caps + " --unique-name Eight");
    }

    // 8 analog and 8 ADAT inputs and outputs, one MIDI port each way.
    void openSixteen() { plugAndShow("--model d8 --unique-name Sixteen"); }

    instripbox& box() const { return *content().getTabbedBox()->getInputBox(); }
    instrip& strip(int i) const { return *box().getInputStrip(i); }

    // The MonitorMix requests of one command, as (input, mix) -> the values sent, in order.
    std::map<std::pair<uint32_t, uint32_t>, std::vector<uint32_t>> monitorSent(uint32_t command) const
    {
        std::map<std::pair<uint32_t, uint32_t>, std::vector<uint32_t>> sent;
        for (const consoletest::VdcLine& v : trace_.vdc(8))
            if (v.command == command && v.params.size() >= 3)
                sent[{v.params[0], v.params[1]}].push_back(v.params[2]);
        return sent;
    }

    bool sentMonitor(uint32_t command, uint32_t input, uint32_t mix, uint32_t value) const
    {
        return pumpUntil(
            [&]
            {
                const auto sent = monitorSent(command);
                const auto it = sent.find({input, mix});
                return it != sent.end() && it->second.back() == value;
            });
    }

    // Runs a poll of the window and waits until the view has taken it.
    void pollNow()
    {
        const int before = content().getRefreshCount();
        content().poll();
        ASSERT_TRUE(pumpUntil([&] { return content().getRefreshCount() > before; }));
    }

    static void ctrlClick(juce::Button& button)
    {
        const juce::ModifierKeys saved = juce::ModifierKeys::currentModifiers;
        juce::ModifierKeys::currentModifiers = kCtrlClick;
        button.triggerClick();
        ASSERT_TRUE(pumpPosted());
        juce::ModifierKeys::currentModifiers = saved;
    }

    static void click(juce::Button& button)
    {
        button.triggerClick();
        ASSERT_TRUE(pumpPosted());
    }

    // Placement, numbers, names and captions of the strips of an interface whose input groups are
    // (caption, short name, channels).
    void checkStrips(const std::vector<std::tuple<juce::String, juce::String, int>>& groups)
    {
        int count = 0;
        for (const auto& group : groups)
            count += std::get<2>(group);
        EXPECT_EQ(box().getCount(), count);
        EXPECT_EQ(box().getBounds(), juce::Rectangle<int>(0, 0, count * 54, 506));
        EXPECT_EQ(box().getStrip(count), nullptr);

        const auto& labels = box().getHeader().getLabels();
        ASSERT_EQ(labels.size(), int(groups.size()));
        int input = 0;
        for (size_t g = 0; g < groups.size(); ++g)
        {
            const auto& [caption, shortName, channels] = groups[g];
            EXPECT_EQ(labels[int(g)]->getText(), caption);
            EXPECT_EQ(labels[int(g)]->getName(), "input group label");
            EXPECT_EQ(labels[int(g)]->getBounds(),
                      juce::Rectangle<int>(input * 54 + (channels * 54 - 66) / 2, 8, 66, 24));
            for (int k = 0; k < channels; ++k, ++input)
            {
                instrip& s = strip(input);
                const juce::String name = "In " + shortName + juce::String(k + 1);
                EXPECT_EQ(s.getBounds(), juce::Rectangle<int>(input * 54, 41, 54, 465)) << input;
                EXPECT_EQ(s.getUpperLabel().getName(), "upper label " + juce::String(input));
                EXPECT_EQ(s.getUpperLabel().getText(), juce::String(k + 1));
                EXPECT_EQ(s.getAlias().getText(), name);
                EXPECT_EQ(state().getInputAlias(input), name);
                EXPECT_EQ(s.getFader().getName(), "mon fader " + juce::String(input));
                EXPECT_EQ(s.getSolo().getName(), "mon solo " + juce::String(input));
                EXPECT_EQ(s.getMute().getName(), "mon mute");
                ASSERT_NE(s.getNominal(), nullptr);
                EXPECT_EQ(s.getNominal()->getName(), "in nominal " + juce::String(input));
                EXPECT_EQ(s.getMeter().getBounds(), juce::Rectangle<int>(8, 203, 10, 192));
            }
        }
        ASSERT_EQ(box().getGangs().size(), size_t(count / 2));
        EXPECT_EQ(box().getGangs()[1]->getBounds(), juce::Rectangle<int>(2 * 54 + 34, 484, 44, 17));
        EXPECT_EQ(box().getGangs()[1]->getName(), "console_gang_button");
        EXPECT_EQ(strip(2).getGang(), box().getGangs()[1].get());
        EXPECT_EQ(strip(3).getFader().getPartner(), &strip(2).getFader());
    }
};

TEST_F(StripTest, EightAnalogInputsGetEightStripsNamedAndNumberedInTheirGroup)
{
    openEight();
    checkStrips({{"ANALOG", "A", 8}});
}

TEST_F(StripTest, SixteenInputsAreNumberedAndNamedWithinTheAnalogAndAdatGroups)
{
    openSixteen();
    checkStrips({{"ANALOG", "A", 8}, {"ADAT", "ADAT", 8}});
}

TEST_F(StripTest, EveryDefaultNameOfASixteenChannelUnitShowsWholeInItsLabelOnEveryPair)
{
    openSixteen();
    // The glyphs a label draws of its name: cut names end in dots.
    auto shownText = [](juce::Label& label)
    {
        const juce::Rectangle<int> area = label.getBorderSize().subtractedFrom(label.getLocalBounds());
        const juce::Font font = label.getLookAndFeel().getLabelFont(label);
        juce::GlyphArrangement glyphs;
        glyphs.addFittedText(font, label.getText(), float(area.getX()), float(area.getY()),
                             float(area.getWidth()), float(area.getHeight()), label.getJustificationType(),
                             std::max(1, int(float(area.getHeight()) / font.getHeight())),
                             label.getMinimumHorizontalScale());
        juce::String text;
        for (int i = 0; i < glyphs.getNumGlyphs(); ++i)
            text += juce::String::charToString(glyphs.getGlyph(i).getCharacter());
        return text.removeCharacters(" ");
    };
    std::function<void(juce::Component&)> check = [&](juce::Component& parent)
    {
        for (juce::Component* child : parent.getChildren())
        {
            if (auto* name = dynamic_cast<console::Alias*>(child); name != nullptr && name->isShowing())
                EXPECT_EQ(shownText(*name), name->getText().removeCharacters(" ")) << name->getText();
            else
                check(*child);
        }
    };
    for (int pair = 0; pair < 8; ++pair) // 8 analog and 8 ADAT outputs
    {
        content().showPage(2 * pair);
        check(*content().getTabbedBox());
    }
    EXPECT_EQ(content().getTabbedBox()->getPlayBox()->getStrip(0)->getAlias().getText(), "Play ADAT7");
}

TEST_F(StripTest, WithMoreThanSixteenInputsTheCaptionsNameTheGroupsOverTheSixteenStripsShown)
{
    plugAndShow("--model st12 --unique-name Twelve"); // 12 analog, 8 ADAT and 2 S/PDIF inputs
    EXPECT_EQ(box().getCount(), 16);
    const auto& labels = box().getHeader().getLabels();
    ASSERT_EQ(labels.size(), 2);
    EXPECT_EQ(labels[0]->getText(), "ANALOG");
    EXPECT_EQ(labels[0]->getBounds(), juce::Rectangle<int>((12 * 54 - 66) / 2, 8, 66, 24));
    EXPECT_EQ(labels[1]->getText(), "ADAT"); // four of its strips shown
    EXPECT_EQ(labels[1]->getBounds(), juce::Rectangle<int>(12 * 54 + (4 * 54 - 66) / 2, 8, 66, 24));
}

TEST_F(StripTest, AGroupCountAboveTheRecordsEightGroupsCaptionsEightGroups)
{
    const std::string caps = bus_.dir + "/nine-groups.bin";
    ASSERT_TRUE(testsupport::CapsBytes::withGroups(
                    {{0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {2, 1}, {1, 1}}, {{0, 2}})
                    .writeTo(caps));
    plugAndShow("--caps " + caps);
    const auto& labels = box().getHeader().getLabels();
    ASSERT_EQ(labels.size(), 8);
    EXPECT_EQ(labels[7]->getText(), "ADAT");
}

TEST_F(StripTest, AnOddLastStripHasNoGangAndMovesAlone)
{
    const std::string caps = bus_.dir + "/five-inputs.bin";
    ASSERT_TRUE(testsupport::CapsBytes::withGroups({{0, 5}}, {{0, 2}}).writeTo(caps));
    plugAndShow("--caps " + caps);
    ASSERT_EQ(box().getCount(), 5);
    EXPECT_EQ(box().getGangs().size(), 2u);
    EXPECT_EQ(strip(4).getGang(), nullptr);
    EXPECT_EQ(strip(4).getFader().getPartner(), nullptr);
    EXPECT_EQ(strip(4).getMute().getPartner(), nullptr);
    EXPECT_EQ(strip(4).getPan().getPartner(), nullptr);
    strip(4).getFader().setValue(-6.0, juce::sendNotificationSync);
    EXPECT_TRUE(sentMonitor(0, 4, 0, device::dbToGain(-6.0f)));
    drain();
    EXPECT_EQ(monitorSent(0).size(), 1u);
}

TEST_F(StripTest, TheNominalSwitchSendsTwoOrZeroForItsInputAndItsGangedPartner)
{
    openEight();
    console::InNominal& nominal = *strip(2).getNominal();
    click(nominal);
    ASSERT_TRUE(pumpUntil([&] { return trace_.vdc(5).size() == 2; }));
    auto sent = trace_.vdc(5);
    for (size_t i = 0; i < 2; ++i)
    {
        EXPECT_EQ(sent[i].command, 8u);
        EXPECT_EQ(sent[i].params[0], uint32_t(2 + i));
        EXPECT_EQ(sent[i].params[1], 2u);
    }
    EXPECT_EQ(state().getByte(ConsoleState::kInputRecords + 3 * 24), 2);
    EXPECT_TRUE(strip(3).getNominal()->getValue());

    click(nominal);
    ASSERT_TRUE(pumpUntil([&] { return trace_.vdc(5).size() == 4; }));
    sent = trace_.vdc(5);
    EXPECT_EQ(sent[2].params[1], 0u);
    EXPECT_EQ(sent[3].params[1], 0u);
    EXPECT_EQ(state().getByte(ConsoleState::kInputRecords + 2 * 24), 0);
}

TEST_F(StripTest, APanMoveGoesToTheShownMixAndTheGangedPartnerIsMirrored)
{
    openSixteen();
    content().showPage(4);
    console::InPanKnob& pan = strip(8).getPan();
    pan.setValue(0.25, juce::sendNotificationSync);
    EXPECT_EQ(pan.getTextFromValue(pan.getValue()), "L 16");
    EXPECT_EQ(strip(9).getPan().getTextFromValue(strip(9).getPan().getValue()), "R 16");
    EXPECT_TRUE(sentMonitor(6, 8, 4, device::panToDevice(0.25f)));
    EXPECT_TRUE(sentMonitor(6, 9, 4, device::panToDevice(0.75f)));
    EXPECT_EQ(state().getByte(ConsoleState::kMonitorPans + 9 * 40 + 5), device::panToDevice(0.75f));
    // Other mixes keep their pans.
    EXPECT_EQ(state().getByte(ConsoleState::kMonitorPans + 8 * 40 + 2), 0);
    EXPECT_EQ(monitorSent(6).size(), 2u);
}

TEST_F(StripTest, CtrlClickOnAMuteMutesEveryInputInTheShownMixOnly)
{
    openSixteen();
    content().showPage(2);
    ASSERT_FALSE(strip(2).getMute().getValue()); // an analog input is heard on its home pair
    ctrlClick(strip(2).getMute());
    ASSERT_TRUE(pumpUntil([&] { return monitorSent(2).size() == 16; }));
    for (int i = 0; i < 16; ++i)
    {
        EXPECT_TRUE(strip(i).getMute().getValue()) << i;
        EXPECT_EQ((monitorSent(2)[{uint32_t(i), 2u}]), std::vector<uint32_t>{1}) << i;
        EXPECT_EQ(state().getByte(flagOffset(i, 3)) & 1, 1) << i;
    }
    // Mix 0 is untouched: input 0 is still heard there.
    EXPECT_EQ(state().getByte(flagOffset(0, 0)) & 1, 0);
}

TEST_F(StripTest, ATabSwitchShowsTheStoredMixWithoutTalkingToTheDevice)
{
    openEight();
    state().setMonitorGain(1, 2, -12.0f);
    state().setMonitorPan(1, 2, 0.25f);
    state().setByte(flagOffset(1, 2), 3);
    content().showPage(2);
    instrip& s = strip(1);
    EXPECT_EQ(s.getMix(), 2);
    EXPECT_DOUBLE_EQ(s.getFader().getValue(), -12.0);
    EXPECT_EQ(s.getFader().getValueBox()->getText(), "-12.0");
    EXPECT_NEAR(s.getPan().getValue(), 64.0 / 255, 1e-6);
    EXPECT_TRUE(s.getMute().getValue());
    EXPECT_TRUE(s.getSolo().getValue());

    content().showPage(0);
    EXPECT_DOUBLE_EQ(s.getFader().getValue(), 0.0);
    EXPECT_FALSE(s.getSolo().getValue());
    drain();
    EXPECT_TRUE(trace_.vdc(8).empty());
    EXPECT_TRUE(trace_.vdc(5).empty());
}

TEST_F(StripTest, ASessionLoadSendsEveryInputInEveryMixOnceWithTheStoredValues)
{
    openEight();
    // Gains of the shown mix the faders can only show limited or rounded (off as -60 dB, -7.46 dB as
    // -7.5 dB) are sent as stored.
    state().setWord(ConsoleState::kMonitorGainWords + 3 * 40 + 0, 0);
    state().setMonitorGain(5, 0, -7.46f);
    state().setMonitorPan(2, 6, 0.3f);
    state().setByte(flagOffset(4, 2), 2);
    for (console::HwCtrl* c = content().getControls()->getFirst(); c != nullptr; c = c->getNextInList())
        c->loadFromState(state(), true);
    for (console::HwCtrl* c = content().getControls()->getFirst(); c != nullptr; c = c->getNextInList())
        content().getHwThread()->queueSet(*c);

    auto total = [&]
    {
        size_t n = 0;
        for (uint32_t command : {0u, 2u, 4u, 6u})
            n += monitorSent(command).size();
        return n;
    };
    drain();
    ASSERT_EQ(total(), 4u * 8 * 4);
    ASSERT_EQ(trace_.vdc(5).size(), 8u);
    for (uint32_t command : {0u, 2u, 4u, 6u})
    {
        const auto sent = monitorSent(command);
        EXPECT_EQ(sent.size(), 32u) << command;
        for (const auto& [key, values] : sent)
        {
            EXPECT_EQ(key.second % 2, 0u);
            EXPECT_EQ(values.size(), 1u) << command << " " << key.first << " " << key.second;
        }
    }
    // Off reads as -144 dB, which the device takes as its smallest gain.
    EXPECT_EQ((monitorSent(0)[{3u, 0u}]), std::vector<uint32_t>{device::dbToGain(-144.0f)});
    EXPECT_EQ((monitorSent(0)[{5u, 0u}]), std::vector<uint32_t>{device::dbToGain(-7.46f)});
    EXPECT_EQ((monitorSent(6)[{2u, 6u}]), std::vector<uint32_t>{device::panToDevice(0.3f)});
    EXPECT_EQ((monitorSent(4)[{4u, 2u}]), std::vector<uint32_t>{2});
    EXPECT_EQ(state().getWord(ConsoleState::kMonitorGainWords + 3 * 40 + 0), 0u);
}

TEST_F(StripTest, ResetLeavesEachAnalogInputHeardOnItsOwnAnalogPairOnlyPannedToItsSide)
{
    openSixteen();                        // inputs and outputs: 8 analog, then 8 ADAT
    state().setByte(flagOffset(0, 0), 3); // muted and soloed
    state().setMonitorGain(9, 4, -20.0f);
    for (int i = 0; i < 16; ++i)
    {
        instrip& s = strip(i);
        for (console::HwCtrl* control : std::initializer_list<console::HwCtrl*>{
                 &s.getFader(), &s.getMute(), &s.getSolo(), &s.getPan(), s.getNominal()})
        {
            control->resetToDefault();
            content().getHwThread()->queueSet(*control);
        }
    }
    for (int i = 0; i < 16; ++i)
        for (int o = 0; o < 16; ++o)
        {
            const bool heard = i < 8 && o / 2 == i / 2;
            EXPECT_EQ(state().getByte(flagOffset(i, o)), heard ? 0 : 1) << i << " " << o;
            EXPECT_EQ(state().getByte(ConsoleState::kMonitorPans + i * 40 + o), i % 2 == 0 ? 0 : 255);
            EXPECT_FLOAT_EQ(state().getMonitorGain(i, o), 0.0f);
        }
    EXPECT_FALSE(strip(0).getMute().getValue());
    EXPECT_FALSE(strip(0).getSolo().getValue());
    EXPECT_TRUE(strip(8).getMute().getValue());
    // Every mix of every input is sent.
    ASSERT_TRUE(pumpUntil([&] { return monitorSent(2).size() == 16 * 8; }));
    EXPECT_EQ((monitorSent(2)[{9u, 8u}]), std::vector<uint32_t>{1});
}

TEST_F(StripTest, AReadOfAnInputMonitorOrOutputControlShowsAndStoresWhatTheInterfaceHolds)
{
    openEight();
    content().showPage(2);
    // The interface holds other values than the window shows: input 3 in mix 2, output 3.
    ASSERT_EQ(device_->setInputNominal(3, 2), 0);
    ASSERT_EQ(device_->setMonitorGain(3, 2, -20.0f), 0);
    ASSERT_EQ(device_->setMonitorMute(3, 2, 1), 0);
    ASSERT_EQ(device_->setMonitorSolo(3, 2, 2), 0);
    ASSERT_EQ(device_->setMonitorPan(3, 2, 0.25f), 0);
    ASSERT_EQ(device_->setOutputGain(3, -15.0f), 0);
    ASSERT_EQ(device_->setOutputMute(3, 1), 0);
    ASSERT_EQ(device_->setOutputNominal(3, 2), 0);
    instrip& s = strip(3);
    console::MasterStripBox& out = *content().getTabbedBox()->getMasterBox();
    for (console::HwCtrl* control : std::initializer_list<console::HwCtrl*>{
             s.getNominal(), &s.getFader(), &s.getMute(), &s.getSolo(), &s.getPan(), &out.getFader(1),
             &out.getMute(1), out.getNominal(1)})
        content().getHwThread()->queueGet(*control);
    ASSERT_TRUE(pumpUntil([&] { return out.getNominal(1)->getValue() && s.getSolo().getValue(); }));
    ASSERT_TRUE(
        pumpUntil([&] { return s.getFader().getValue() == -20.0 && out.getFader(1).getValue() == -15.0; }));

    EXPECT_TRUE(s.getNominal()->getValue());
    EXPECT_TRUE(s.getMute().getValue());
    EXPECT_TRUE(out.getMute(1).getValue());
    EXPECT_EQ(state().getByte(ConsoleState::kInputRecords + 3 * 24), 2);
    for (int mix : {2, 3})
    {
        EXPECT_EQ(state().getByte(flagOffset(3, mix)), 3) << mix;
        EXPECT_FLOAT_EQ(state().getMonitorGain(3, mix), -20.0f) << mix;
        EXPECT_EQ(state().getByte(ConsoleState::kMonitorPans + 3 * 40 + mix), device::panToDevice(0.25f))
            << mix;
    }
    EXPECT_FLOAT_EQ(float(s.getPan().getValue()), state().getMonitorPan(3, 2));
    EXPECT_FLOAT_EQ(state().getOutputGain(3), -15.0f);
    EXPECT_EQ(state().getByte(ConsoleState::kOutputRecords + 3 * 24), 1);
    EXPECT_EQ(state().getByte(ConsoleState::kOutputRecords + 3 * 24 + 1), 2);
    // The solo read counts for the solo indicator.
    EXPECT_EQ(content().getTabbedBox()->getRudeSolo()->getCount(), 2);
}

TEST_F(StripTest, MetersShowThePolledLevelsOnTheirScale)
{
    using console::meter;
    EXPECT_EQ(meter::rowForLevel(0, 192), 192);         // nothing lit
    EXPECT_EQ(meter::rowForLevel(1, 192), 191);         // far below -128 dB
    EXPECT_EQ(meter::rowForLevel(0x7FFFFFFF, 192), 0);  // full scale
    EXPECT_EQ(meter::rowForLevel(0x80000000u, 192), 0); // at and above full scale: every row
    EXPECT_EQ(meter::rowForLevel(0xFFFFFFFFu, 192), 0);
    EXPECT_EQ(meter::rowForLevel(1u << 30, 192), 36);  // -6 dB
    EXPECT_EQ(meter::rowForLevel(214748365, 192), 96); // -20 dB
    EXPECT_EQ(meter::rowForLevel(21474836, 192), 143); // -40 dB
    EXPECT_EQ(meter::rowForLevel(536871, 192), 191);   // -72 dB

    openSixteen();
    EXPECT_EQ(strip(9).getMeter().getBoundary(), 192);
    ASSERT_EQ(bus_.devsim("set u1 meter.in.9 0x40000000"), 0);
    ASSERT_EQ(bus_.devsim("set u1 meter.out.2 0x10000000"), 0);
    pollNow();
    console::InMeter& m = strip(9).getMeter();
    EXPECT_EQ(m.getBoundary(), 36);
    EXPECT_EQ(strip(8).getMeter().getBoundary(), 192);
    EXPECT_EQ(content().getTabBar()->getLights()[2]->getFrame(), 1);
    // Unlit picture above the boundary, lit from it down.
    const juce::Image shot = m.createComponentSnapshot(m.getLocalBounds());
    const console::ConsoleImages& im = console::consoleImages();
    EXPECT_EQ(shot.getPixelAt(4, 35), im.meterUnlit.getPixelAt(4, 35));
    EXPECT_EQ(shot.getPixelAt(4, 36), im.meterLit.getPixelAt(4, 36));
}

TEST_F(StripTest, MidiLedsLightForTheDevicesPortsOnly)
{
    openSixteen(); // one MIDI input and one output port
    console::MidiStatus& midi = *content().getTabbedBox()->getMidiStatus();
    ASSERT_EQ(bus_.devsim("set u1 midi 0x1"), 0);
    pollNow();
    EXPECT_TRUE(midi.isInputLit());
    EXPECT_FALSE(midi.isOutputLit());
    ASSERT_EQ(bus_.devsim("set u1 midi 0x2"), 0);
    pollNow();
    EXPECT_FALSE(midi.isInputLit());
    EXPECT_TRUE(midi.isOutputLit());
    // Port 1 is not the device's.
    ASSERT_EQ(bus_.devsim("set u1 midi 0xC"), 0);
    pollNow();
    EXPECT_FALSE(midi.isInputLit());
    EXPECT_FALSE(midi.isOutputLit());
}

TEST_F(StripTest, MidiPortsBeyondTheStatusWordAreNeverLit)
{
    // 40 ports each way: the status word has bits for the first 12.
    const std::string caps = bus_.dir + "/midi.bin";
    ASSERT_TRUE(testsupport::CapsBytes::typical().word(144, 40).word(148, 40).writeTo(caps));
    plugAndShow("--caps " + caps);
    console::MidiStatus& midi = *content().getTabbedBox()->getMidiStatus();
    console::PolledSnapshot snapshot = content().getPollCtrl()->getSnapshot();
    snapshot.polled.status = 0;
    midi.update(snapshot);
    EXPECT_FALSE(midi.isInputLit());
    EXPECT_FALSE(midi.isOutputLit());
    snapshot.polled.status = 1u << 30; // input port 11
    midi.update(snapshot);
    EXPECT_TRUE(midi.isInputLit());
    EXPECT_FALSE(midi.isOutputLit());
    snapshot.polled.status = 1u << 31; // output port 11
    midi.update(snapshot);
    EXPECT_FALSE(midi.isInputLit());
    EXPECT_TRUE(midi.isOutputLit());
}

TEST_F(StripTest, TheSoloLightBlinksFivePollsOnAndFiveOffWhileASoloIsEngaged)
{
    openSixteen();
    console::RudeSolo& light = *content().getTabbedBox()->getRudeSolo();
    ASSERT_EQ(light.getCount(), 0);
    content().showPage(4);
    console::MonSolo& solo = strip(3).getSolo();
    click(solo);
    ASSERT_TRUE(sentMonitor(4, 3, 4, 2));
    EXPECT_EQ(state().getByte(flagOffset(3, 4)) & 2, 2);
    EXPECT_EQ(state().getByte(flagOffset(3, 5)) & 2, 2);
    // Its gang partner soloed too: both channels of both inputs.
    ASSERT_TRUE(pumpUntil([&] { return light.getCount() == 4; }));

    std::string seen;
    for (int tick = 0; tick < 15; ++tick)
    {
        light.blink();
        seen += light.isLit() ? '*' : '.';
    }
    EXPECT_EQ(seen, "....*****.....*");

    click(solo);
    ASSERT_TRUE(sentMonitor(4, 3, 4, 0));
    ASSERT_TRUE(pumpUntil([&] { return light.getCount() == 0; }));
    light.blink();
    EXPECT_FALSE(light.isLit());
}

TEST_F(StripTest, TheSoloLightCountsTheSolosOfInputsWithAStripInTheMixesAndPlaybackChannelsOfTheUnit)
{
    plugAndShow("--model st12 --unique-name Twelve"); // 22 inputs, the first 16 with a strip
    const int outputs = int(content().getHwInfo().getOutputCount());
    ASSERT_LT(outputs, ConsoleState::kMaxChannels);
    auto playSolo = [](int channel)
    { return ConsoleState::kPlaybackRecords + channel * ConsoleState::kRecordBytes + 1; };
    state().setByte(flagOffset(15, outputs - 1), 2); // counted
    state().setByte(playSolo(outputs - 1), 1);       // counted
    state().setByte(flagOffset(16, 0), 2);           // an input without a strip
    state().setByte(flagOffset(0, outputs), 2);      // a mix the unit lacks
    state().setByte(playSolo(outputs), 1);           // a playback channel the unit lacks
    console::RudeSolo& light = *content().getTabbedBox()->getRudeSolo();
    light.update();
    EXPECT_EQ(light.getCount(), 2);
}

TEST(StripCaptions, OutputTypesHaveTheirHeaderCaptions)
{
    EXPECT_EQ(console::outputTypeCaption(0), "ANALOG");
    EXPECT_EQ(console::outputTypeCaption(1), "DIGITAL");
    EXPECT_EQ(console::outputTypeCaption(3), "DIGITAL");
    EXPECT_EQ(console::outputTypeCaption(5), "HEADPHONES");
    EXPECT_EQ(console::outputTypeCaption(7), "VIRTUAL OUTPUTS");
    EXPECT_EQ(console::outputTypeCaption(4), "OUTPUT");
    EXPECT_EQ(console::outputTypeCaption(0xFF), "OUTPUT");
}

} // namespace
