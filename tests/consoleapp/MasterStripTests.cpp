// The master and output strips in a console window of a simulated interface: what they show for an
// analog or a headphone pair, what they send (read back from the simulator's trace), how a tab switch
// rebinds them, the gang, and what a session load and a reset leave to send.

#include "ConsoleWindowFixture.h"
#include "console/ui/strips/MasterStrips.h"
#include "console/ui/strips/PlaybackStrips.h"
#include "device/Conversions.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace
{

using console::ConsoleState;
using console::MasterStripBox;
using consoletest::pumpPosted;
using consoletest::pumpUntil;

int recordByte(int output, int byte)
{
    return ConsoleState::kOutputRecords + output * ConsoleState::kRecordBytes + byte;
}

class MasterStripTest : public consoletest::ConsoleWindowFixture
{
protected:
    void open(const std::string& plug) { plugAndShow(plug + " --unique-name M"); }

    MasterStripBox& box() const { return *content().getTabbedBox()->getMasterBox(); }

    // The PhysOut requests sent, as "command channel value".
    std::multiset<std::string> sent() const
    {
        std::multiset<std::string> out;
        for (const consoletest::VdcLine& v : trace_.vdc(4))
            if (v.params.size() >= 2)
                out.insert(std::to_string(v.command) + " " + std::to_string(v.params[0]) + " " +
                           std::to_string(v.params[1]));
        return out;
    }

    bool sentSoFar(const std::multiset<std::string>& expected) const
    {
        return pumpUntil([&] { return sent() == expected; });
    }

    static std::string gain(int command, int channel, float db)
    {
        return std::to_string(command) + " " + std::to_string(channel) + " " +
               std::to_string(device::dbToGain(db));
    }

    static void click(juce::Button& button)
    {
        button.triggerClick();
        ASSERT_TRUE(pumpPosted());
    }
};

TEST_F(MasterStripTest, AnAnalogPairSendsItsGainMuteAndNominalForTheChannelChanged)
{
    open("--model st8"); // outputs: 8 analog, 2 S/PDIF, 2 headphones
    const console::ConsoleLayout& layout = content().getLayout();
    EXPECT_EQ(box().getBounds(), layout.getMasterBoxBounds());
    EXPECT_EQ(box().getBounds().getRight(), layout.getPageWidth());
    EXPECT_EQ(content().getTabbedBox()->getMasterHeader()->getBounds(), layout.getMasterHeaderBounds());
    EXPECT_EQ(box().getFader(1).getName(), "master fader 1");
    EXPECT_EQ(box().getFader(1).getValueBox()->getBounds(), juce::Rectangle<int>(54 + 15, 317, 28, 16));
    EXPECT_EQ(box().getMute(1).getName(), "master mute 1");
    EXPECT_EQ(box().getNominal(1)->getName(), "out nominal 1");
    EXPECT_EQ(box().getAlias(1).getName(), "alias");
    EXPECT_EQ(box().getUpperLabel(1).getName(), "master upper label");
    EXPECT_EQ(box().getGang().getBounds(), juce::Rectangle<int>(34, 345, 44, 17));

    content().showPage(4);
    EXPECT_EQ(content().getTabbedBox()->getMasterHeader()->getCaption(), "ANALOG");
    EXPECT_EQ(box().getUpperLabel(0).getText(), "Out 5");
    EXPECT_EQ(box().getAlias(1).getText(), "Out A6");
    EXPECT_TRUE(box().getNominal(0)->isVisible());
    click(box().getGang()); // off: each control alone
    EXPECT_FALSE(state().isOutputGanged(4));
    EXPECT_TRUE(state().isOutputGanged(2));

    box().getFader(0).setValue(-12.0, juce::sendNotificationSync);
    click(box().getMute(1));
    click(*box().getNominal(0));
    ASSERT_TRUE(sentSoFar({gain(0, 4, -12.0f), "2 5 1", "8 4 2"}));
    EXPECT_FLOAT_EQ(state().getOutputGain(4), -12.0f);
    EXPECT_EQ(state().getByte(recordByte(5, 0)), 1);
    EXPECT_EQ(state().getByte(recordByte(4, 1)), 2);

    // The meters show the pair's outputs.
    ASSERT_EQ(bus_.devsim("set u1 meter.out.5 0x40000000"), 0);
    const int before = content().getRefreshCount();
    content().poll();
    ASSERT_TRUE(pumpUntil([&] { return content().getRefreshCount() > before; }));
    EXPECT_EQ(box().getMeter(1).getBoundary(), 36);
    EXPECT_EQ(box().getMeter(0).getBoundary(), 192);
}

TEST_F(MasterStripTest, AHeadphonePairHasNoNominalSwitchesAndIsCaptionedAndNumberedInItsGroup)
{
    open("--model st2"); // outputs: 2 analog, 2 headphones
    content().showPage(2);
    EXPECT_EQ(content().getTabbedBox()->getMasterHeader()->getCaption(), "HEADPHONES");
    EXPECT_FALSE(box().getNominal(0)->isVisible());
    EXPECT_FALSE(box().getNominal(1)->isVisible());
    EXPECT_EQ(box().getUpperLabel(0).getText(), "Out 1");
    EXPECT_EQ(box().getUpperLabel(1).getText(), "Out 2");
    EXPECT_EQ(box().getAlias(0).getText(), "Out H1");
    EXPECT_EQ(state().getOutputAlias(3), "Out H2");

    box().getFader(1).setValue(-6.0, juce::sendNotificationSync); // ganged: the partner follows
    ASSERT_TRUE(sentSoFar({gain(0, 2, -6.0f), gain(0, 3, -6.0f)}));

    content().showPage(0);
    EXPECT_EQ(content().getTabbedBox()->getMasterHeader()->getCaption(), "ANALOG");
    EXPECT_TRUE(box().getNominal(0)->isVisible());
    EXPECT_TRUE(box().getNominal(1)->isVisible());
}

TEST_F(MasterStripTest, ATabSwitchShowsTheStoredPairWithoutTalkingToTheDevice)
{
    open("--model st8");
    state().setOutputGain(6, -20.0f);
    state().setByte(recordByte(7, 0), 1);
    state().setByte(recordByte(6, 1), 1); // shown as off, and kept as stored
    state().setOutputAlias(7, "Sub");
    state().setOutputGanged(false, 6);
    content().showPage(6);
    EXPECT_EQ(box().getChannel(), 6);
    EXPECT_DOUBLE_EQ(box().getFader(0).getValue(), -20.0);
    EXPECT_EQ(box().getFader(0).getValueBox()->getText(), "-20.0");
    EXPECT_TRUE(box().getMute(1).getValue());
    EXPECT_FALSE(box().getNominal(0)->getValue());
    EXPECT_FALSE(box().getGang().getToggleState());
    EXPECT_EQ(box().getAlias(1).getText(), "Sub");

    box().getAlias(0).setText("Left", juce::sendNotificationSync);
    content().showPage(0);
    EXPECT_DOUBLE_EQ(box().getFader(0).getValue(), 0.0);
    EXPECT_TRUE(box().getGang().getToggleState());
    content().showPage(6);
    EXPECT_EQ(box().getAlias(0).getText(), "Left");
    EXPECT_EQ(box().getAlias(1).getText(), "Sub");
    drain();
    EXPECT_TRUE(trace_.vdc(4).empty());
    EXPECT_EQ(state().getByte(recordByte(6, 1)), 1);
}

TEST_F(MasterStripTest, WhileTheGangIsOnThePartnerFollowsAndItsBitIsTheMasksBitOfThePair)
{
    open("--model st8");
    state().setOutputGain(5, -20.0f);
    content().showPage(4);
    ASSERT_TRUE(box().getGang().getToggleState());

    MasterStripBox& b = box();
    b.getFader(0).startedDragging();
    b.getFader(0).setValue(-5.0, juce::sendNotificationSync);
    EXPECT_DOUBLE_EQ(b.getFader(1).getValue(), -25.0);
    click(b.getMute(0));
    EXPECT_TRUE(b.getMute(1).getValue());
    ASSERT_TRUE(sentSoFar({gain(0, 4, -5.0f), gain(0, 5, -25.0f), "2 4 1", "2 5 1"}));

    click(b.getGang());
    EXPECT_EQ(state().getOutputGangs(), ~(1 << 2));
    click(b.getMute(0));
    EXPECT_TRUE(b.getMute(1).getValue());
    ASSERT_TRUE(sentSoFar({gain(0, 4, -5.0f), gain(0, 5, -25.0f), "2 4 1", "2 5 1", "2 4 0"}));
}

TEST_F(MasterStripTest, ALoadMarksEveryOutputOfEachControlsParityAndAResetStoresTheDefaults)
{
    open("--model st8"); // 12 outputs
    MasterStripBox& b = box();
    content().showPage(4);
    for (int k = 0; k < 2; ++k)
    {
        const uint64_t parity = k == 0 ? 0x555u : 0xAAAu;
        for (console::HwCtrlBanked* control :
             std::initializer_list<console::HwCtrlBanked*>{&b.getFader(k), &b.getMute(k), b.getNominal(k)})
        {
            control->loadFromState(state(), true);
            EXPECT_EQ(control->getDirtyMask(), parity) << k;
            while (control->nextDirty() >= 0)
            {
            }
        }
    }

    for (int o = 0; o < 12; ++o)
    {
        state().setOutputGain(o, -30.0f);
        state().setByte(recordByte(o, 0), 1);
        state().setByte(recordByte(o, 1), 2);
        state().setOutputAlias(o, "x");
    }
    console::refreshAliasLabels(content(), true);
    for (int k = 0; k < 2; ++k)
        for (console::HwCtrl* control :
             std::initializer_list<console::HwCtrl*>{&b.getFader(k), &b.getMute(k), b.getNominal(k)})
        {
            control->resetToDefault();
            content().getHwThread()->queueSet(*control);
        }
    std::multiset<std::string> expected;
    for (int o = 0; o < 12; ++o)
    {
        EXPECT_FLOAT_EQ(state().getOutputGain(o), 0.0f) << o;
        EXPECT_EQ(state().getByte(recordByte(o, 0)), 0) << o;
        EXPECT_EQ(state().getByte(recordByte(o, 1)), 0) << o;
        expected.insert({gain(0, o, 0.0f), "2 " + std::to_string(o) + " 0", "8 " + std::to_string(o) + " 0"});
    }
    EXPECT_EQ(state().getOutputAlias(4), "Out A5");
    EXPECT_EQ(state().getOutputAlias(9), "Out S2");
    EXPECT_EQ(b.getAlias(1).getText(), "Out A6");
    EXPECT_DOUBLE_EQ(b.getFader(1).getValue(), 0.0);
    EXPECT_FALSE(b.getMute(0).getValue());
    ASSERT_TRUE(sentSoFar(expected));
}

TEST_F(MasterStripTest, ThePairOfAnOddLastOutputShowsItsEvenStripAloneAndUnganged)
{
    open("--caps " + consoletest::writeCapsFile(bus_.dir, 0x3B71, 0x777, 0x04080000, 0x04080000, false, 3));
    content().showPage(2);
    MasterStripBox& b = box();
    EXPECT_TRUE(b.getFader(0).isVisible());
    EXPECT_FALSE(b.getFader(1).isVisible());
    EXPECT_FALSE(b.getFader(1).getValueBox()->isVisible());
    EXPECT_FALSE(b.getMute(1).isVisible());
    EXPECT_FALSE(b.getNominal(1)->isVisible());
    EXPECT_FALSE(b.getAlias(1).isVisible());
    EXPECT_FALSE(b.getGang().isVisible());
    EXPECT_FALSE(b.getGang().getToggleState());
    b.getFader(0).setValue(-3.0, juce::sendNotificationSync);
    ASSERT_TRUE(sentSoFar({gain(0, 2, -3.0f)}));
    EXPECT_EQ(state().getOutputAlias(3), "");

    content().showPage(0);
    EXPECT_TRUE(b.getFader(1).isVisible());
    EXPECT_TRUE(b.getGang().isVisible());
}

TEST_F(MasterStripTest, TabPassesOverTheValueBoxesOfTheHiddenOddStrips)
{
    open("--caps " + consoletest::writeCapsFile(bus_.dir, 0x3B71, 0x777, 0x04080000, 0x04080000, false, 3));
    content().showPage(2);
    console::PlayStripBox& play = *content().getTabbedBox()->getPlayBox();
    console::FaderTextBox* playEven = play.getStrip(0)->getFader().getValueBox();
    console::FaderTextBox* outEven = box().getFader(0).getValueBox();
    console::FaderTextBox* first = content().getFaderRing().getFirst()->getValueBox();
    // In the ring, each even box is followed by its hidden odd one.
    ASSERT_EQ(playEven->getNextBox(), play.getStrip(1)->getFader().getValueBox());
    ASSERT_EQ(outEven->getNextBox(), box().getFader(1).getValueBox());
    window_->toFront(true);
    ASSERT_TRUE(pumpUntil([&] { return window_->isActiveWindow(); }));

    playEven->showEditor();
    ASSERT_NE(playEven->getCurrentTextEditor(), nullptr);
    playEven->getCurrentTextEditor()->moveKeyboardFocusToSibling(true);
    ASSERT_TRUE(outEven->isBeingEdited());
    outEven->getCurrentTextEditor()->moveKeyboardFocusToSibling(true);
    ASSERT_TRUE(first->isBeingEdited());
    first->getCurrentTextEditor()->moveKeyboardFocusToSibling(false);
    EXPECT_TRUE(outEven->isBeingEdited());
}

} // namespace
