// The playback strips in a console window of a simulated Strellis 8 (12 playback channels, presented to
// the system's audio as six stereo endpoints): what the strips show, what they read and send, and how
// they follow the system's volume controls, changed in this process or in another one.

#include "ConsoleWindowFixture.h"
#include "EndpointProbe.h"
#include "console/ui/strips/InputStrips.h"
#include "console/ui/strips/PlaybackStrips.h"
#include "console/ui/widgets/Meters.h"
#include "device/Conversions.h"
#include "device/SysVolume.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <sstream>

namespace
{

using console::ConsoleState;
using console::CwContent;
using console::PlayStrip;
using consoletest::pumpPosted;
using consoletest::pumpUntil;

// What the unit holds for a playback channel.
struct DevicePlayback
{
    uint32_t gain = 0;
    int mute = -1;
};

using Counter = testsupport::ChangeCounter;

class PlaybackStripTest : public consoletest::ConsoleWindowFixture
{
protected:
    // A window for the unit plugged with these arguments, once the link's search for its endpoints (as
    // many as given; 0: the unit presents none) has ended.
    void open(const std::string& arguments = "--model st8 --unique-name Play8", int endpoints = 6)
    {
        ASSERT_NO_FATAL_FAILURE(plug(arguments));
        ASSERT_NO_FATAL_FAILURE(openPlugged(endpoints));
    }

    // The same for the unit plugged already; the trace starts once the window has read what it shows.
    void openPlugged(int endpoints = 6)
    {
        if (endpoints == 0)
        {
            ASSERT_EQ(bus_.devsim("set u1 endpoints off"), 0) << bus_.err;
        }
        ASSERT_NO_FATAL_FAILURE(openDevice());
        if (endpoints > 0)
        {
            auto* link = dynamic_cast<device::SysVolumeVista*>(device_->getSysVolume());
            ASSERT_NE(link, nullptr);
            ASSERT_TRUE(pumpUntil([&] { return link->getEndpointCount() == endpoints; }));
        }
        showWindow();
        drain();
        trace_.clear();
    }

    console::DirectPlayStripBox& box() const { return *content().getTabbedBox()->getPlayBox(); }
    PlayStrip& strip(int i) const { return *box().getStrip(i); }

    DevicePlayback onDevice(int channel)
    {
        DevicePlayback value;
        EXPECT_EQ(bus_.devsim("dump u1"), 0);
        std::istringstream lines(bus_.out);
        for (std::string line; std::getline(lines, line);)
        {
            std::istringstream words(line);
            std::string kind, gain, db, mute;
            int c = -1;
            if (words >> kind >> c && kind == "play" && c == channel)
                words >> gain >> value.gain >> db >> db >> mute >> value.mute;
        }
        return value;
    }

    // The PlaybackMix requests of one command, as (channel, first value) in order.
    std::vector<std::pair<uint32_t, uint32_t>> playbackRequests(uint32_t command) const
    {
        std::vector<std::pair<uint32_t, uint32_t>> out;
        for (const consoletest::VdcLine& v : trace_.vdc(6))
            if (v.command == command && !v.params.empty())
                out.emplace_back(v.params[0], v.params.size() > 1 ? v.params[1] : 0);
        return out;
    }

    std::set<uint32_t> channelsRead(uint32_t command) const
    {
        std::set<uint32_t> channels;
        for (const auto& request : playbackRequests(command))
            channels.insert(request.first);
        return channels;
    }
};

TEST_F(PlaybackStripTest, TheStripsShowThePairOnShowWithItsNumbersNamesCaptionAndGang)
{
    ASSERT_NO_FATAL_FAILURE(open());
    const console::ConsoleLayout& layout = content().getLayout();
    console::PlayStripHdr& header = *content().getTabbedBox()->getPlayHeader();
    EXPECT_EQ(header.getName(), "play strip hdr");
    EXPECT_EQ(header.getBounds(), layout.getPlayHeaderBounds());
    EXPECT_EQ(header.getText(), "ANALOG");
    EXPECT_EQ(box().getName(), "play strip box");
    EXPECT_EQ(box().getBounds(), layout.getPlayBoxBounds());
    ASSERT_EQ(box().getStripCount(), 2);
    for (int k = 0; k < 2; ++k)
    {
        PlayStrip& s = strip(k);
        const juce::String n(k);
        EXPECT_EQ(s.getUpperLabel().getName(), "upper play label " + n);
        EXPECT_EQ(s.getUpperLabel().getText(), juce::String(k + 1));
        EXPECT_EQ(s.getFader().getName(), "play fader " + n);
        EXPECT_EQ(s.getMute().getName(), "play mute " + n);
        EXPECT_EQ(s.getSolo().getName(), "Play solo " + n);
        EXPECT_EQ(s.getAlias().getName(), "alias");
        EXPECT_EQ(s.getFader().getBounds(), layout.getPlayFaderBounds(k));
        EXPECT_EQ(s.getFader().getValueBox()->getBounds(), layout.getPlayFaderValueBox(k));
        EXPECT_EQ(s.getMute().getBounds(), layout.getMuteBounds(k));
        EXPECT_EQ(s.getSolo().getBounds(), layout.getPlaySoloBounds(k));
        EXPECT_EQ(s.getAlias().getBounds(), layout.getAliasBounds(k));
        EXPECT_EQ(s.getGang(), box().getGangs()[0].get());
    }
    EXPECT_EQ(box().getGangs()[0]->getBounds(), layout.getPlayGangBounds());
    EXPECT_EQ(strip(1).getFader().getPartner(), &strip(0).getFader());
    // The two name labels fill in the default of every playback channel.
    const char* names[] = {"Play A1", "Play A2", "Play A3", "Play A4", "Play A5", "Play A6",
                           "Play A7", "Play A8", "Play S1", "Play S2", "Play H1", "Play H2"};
    for (int c = 0; c < 12; ++c)
        EXPECT_EQ(state().getPlaybackAlias(c), names[c]) << c;
    EXPECT_EQ(strip(1).getAlias().getText(), "Play A2");

    // The S/PDIF pair: its numbers, names and caption; its gang is bit 4 of the mask.
    content().showPage(8);
    EXPECT_EQ(header.getText(), "DIGITAL");
    EXPECT_EQ(strip(0).getUpperLabel().getText(), "9");
    EXPECT_EQ(strip(1).getUpperLabel().getText(), "10");
    EXPECT_EQ(strip(0).getAlias().getText(), "Play S1");
    EXPECT_EQ(strip(1).getSolo().getChannel(), 9);
    console::PlayGang& gang = *box().getGangs()[0];
    EXPECT_EQ(gang.getChannel(), 8);
    gang.triggerClick();
    ASSERT_TRUE(pumpPosted());
    EXPECT_EQ(state().getPlaybackGangs(), ~(1 << 4));
    content().showPage(10);
    EXPECT_EQ(header.getText(), "HEADPHONES");
    EXPECT_TRUE(gang.getToggleState());
}

TEST_F(PlaybackStripTest, ATabSwitchShowsTheStoredLevelAtOnceThenTheDevicesAndAFailedReadKeepsIt)
{
    ASSERT_NO_FATAL_FAILURE(open());
    state().setPlaybackGain(2, -5.0f);
    state().setPlaybackGain(4, -30.0f);
    // Straight to the device, as a VDC command: no change event.
    ASSERT_EQ(device_->getSysVolume()->device::SysVolume::setGain(2, -20.0f), 0);
    trace_.clear();

    content().showPage(2);
    EXPECT_DOUBLE_EQ(strip(0).getFader().getValue(), -5.0);
    ASSERT_TRUE(pumpUntil([&] { return strip(0).getFader().getValue() == -20.0; }));
    EXPECT_FLOAT_EQ(state().getPlaybackGain(2), -20.0f);
    drain();
    // The two levels and mutes were read; the solos show the state block.
    EXPECT_EQ(channelsRead(1), (std::set<uint32_t>{2, 3}));
    EXPECT_EQ(channelsRead(3), (std::set<uint32_t>{2, 3}));
    EXPECT_EQ(trace_.vdc(6).size(), 4u);

    // A read that fails leaves the stored level of the new pair on show, and nothing of the old pair
    // goes under it.
    ASSERT_EQ(bus_.devsim("fault u1 vdc:6/1 vdr:7 always"), 0);
    content().showPage(4);
    EXPECT_DOUBLE_EQ(strip(0).getFader().getValue(), -30.0);
    ASSERT_TRUE(pumpUntil([&] { return playbackRequests(1).size() == 4; }));
    drain();
    EXPECT_DOUBLE_EQ(strip(0).getFader().getValue(), -30.0);
    EXPECT_FLOAT_EQ(state().getPlaybackGain(4), -30.0f);
    EXPECT_FLOAT_EQ(state().getPlaybackGain(2), -20.0f);
}

TEST_F(PlaybackStripTest, AWindowOpenedOnTheFirstTabShowsTheUnitsLevelsAndMutesAndSendsNothing)
{
    // The system's volume control moved and muted the first pair while no console was open.
    ASSERT_NO_FATAL_FAILURE(plug("--model st8 --unique-name Play8"));
    ASSERT_EQ(bus_.devsim("volume u1 0 -25"), 0) << bus_.err;
    ASSERT_EQ(bus_.devsim("volume u1 1 -25"), 0) << bus_.err;
    ASSERT_EQ(bus_.devsim("mute u1 0 1"), 0) << bus_.err;
    const uint32_t gain = onDevice(0).gain;
    ASSERT_NO_FATAL_FAILURE(openPlugged());
    ASSERT_EQ(content().getTabBar()->getCurrentTab(), 0);
    for (int k = 0; k < 2; ++k)
    {
        EXPECT_DOUBLE_EQ(strip(k).getFader().getValue(), -25.0) << k;
        EXPECT_TRUE(strip(k).getMute().getValue()) << k;
        EXPECT_FLOAT_EQ(state().getPlaybackGain(k), -25.0f) << k;
        EXPECT_EQ(onDevice(k).gain, gain) << k;
        EXPECT_EQ(onDevice(k).mute, 1) << k;
    }
}

TEST_F(PlaybackStripTest, AFaderMoveGoesThroughTheEndpointAndNoChangeComesBack)
{
    ASSERT_NO_FATAL_FAILURE(open());
    Counter changes;
    device_->addVolumeListener(&changes);
    testsupport::EndpointProbe probe;
    strip(0).getFader().setValue(-12.0, juce::sendNotificationSync);
    ASSERT_TRUE(pumpUntil([&] { return !probe.contexts().empty(); })); // the link has heard its change
    ASSERT_TRUE(pumpPosted());
    drain();
    EXPECT_NEAR(device::gainToDb(onDevice(0).gain), -12.0f, 0.01f);
    EXPECT_EQ(changes.calls, 0);
    // Neither a VDC level nor a read after a change message.
    EXPECT_TRUE(trace_.vdc(6).empty());
    EXPECT_FLOAT_EQ(state().getPlaybackGain(0), -12.0f);
    device_->removeVolumeListener(&changes);
}

TEST_F(PlaybackStripTest, AFaderMovedBeforeTheReadOfItsChannelBeginsIsSentAndNotUndoneByTheRead)
{
    ASSERT_NO_FATAL_FAILURE(open());
    // A read of another control holds the thread; behind it, a tab switch queues the reads of the new
    // pair, and the user moves a fader of that pair at once.
    ASSERT_EQ(bus_.devsim("fault u1 vdc:8/1 hold"), 0) << bus_.err;
    content().getHwThread()->queueGet(content().getTabbedBox()->getInputBox()->getInputStrip(0)->getFader());
    ASSERT_TRUE(pumpUntil([&] { return bus_.dumped("u1", "fault") == "vdc:8/1 hold holding 1"; }));
    content().showPage(2);
    strip(0).getFader().setValue(-12.0, juce::sendNotificationSync);
    ASSERT_EQ(bus_.devsim("fault u1 clear"), 0) << bus_.err;
    // The reads then begin before the move is sent: the device still holds the old level.
    auto sent = [&] { return std::abs(device::gainToDb(onDevice(2).gain) + 12.0f) < 0.01f; };
    ASSERT_TRUE(pumpUntil(sent));
    drain();
    EXPECT_TRUE(sent());
    EXPECT_DOUBLE_EQ(strip(0).getFader().getValue(), -12.0);
    EXPECT_FLOAT_EQ(state().getPlaybackGain(2), -12.0f);
}

TEST_F(PlaybackStripTest, AVolumeChangedInAnotherProcessReachesTheFaderAndTheStateBlock)
{
    ASSERT_NO_FATAL_FAILURE(open());
    juce::ChildProcess devsim;
    ASSERT_TRUE(devsim.start(juce::StringArray{DEVSIM_PATH, "volume", "u1", "1", "-12"}));
    ASSERT_TRUE(devsim.waitForProcessToFinish(10000));
    ASSERT_EQ(devsim.getExitCode(), 0u);
    ASSERT_TRUE(pumpUntil([&] { return strip(1).getFader().getValue() == -12.0; }));
    EXPECT_FLOAT_EQ(state().getPlaybackGain(1), -12.0f);
    EXPECT_EQ(strip(1).getFader().getValueBox()->getText(), "-12.0");
}

TEST_F(PlaybackStripTest, MutingOneChannelOfAStereoEndpointMutesBothStripsThroughTheChangeMessage)
{
    ASSERT_NO_FATAL_FAILURE(open());
    state().setPlaybackGangs(0);
    console::refreshGangButtons(content());
    ASSERT_FALSE(strip(1).getMute().getValue());
    strip(0).getMute().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return strip(1).getMute().getValue(); }));
    EXPECT_TRUE(state().getPlaybackMute(1));
    EXPECT_EQ(onDevice(0).mute, 1);
    EXPECT_EQ(onDevice(1).mute, 1);
    // Through the endpoint, and read back by both strips.
    EXPECT_TRUE(playbackRequests(2).empty());
    EXPECT_EQ(channelsRead(3), (std::set<uint32_t>{0, 1}));
}

TEST_F(PlaybackStripTest, AMuteMadeOutsideForAnotherPairShowsOnItsTabAtOnceAndOneClickUnmutes)
{
    ASSERT_NO_FATAL_FAILURE(open());
    // The system's volume control mutes the endpoint of channels 3 and 4 while 1 and 2 are on show: the
    // change message makes the strips read their own channels only.
    ASSERT_EQ(bus_.devsim("mute u1 2 1"), 0) << bus_.err;
    ASSERT_TRUE(pumpUntil([&] { return channelsRead(3) == std::set<uint32_t>{0, 1}; }));
    drain();
    EXPECT_FALSE(state().getPlaybackMute(2));

    content().showPage(2);
    ASSERT_TRUE(pumpUntil([&] { return strip(0).getMute().getValue() && strip(1).getMute().getValue(); }));
    EXPECT_TRUE(state().getPlaybackMute(2));
    EXPECT_TRUE(state().getPlaybackMute(3));
    strip(0).getMute().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return onDevice(2).mute == 0; }));
    EXPECT_FALSE(strip(0).getMute().getValue());
    EXPECT_FALSE(state().getPlaybackMute(2));
}

TEST_F(PlaybackStripTest, ASoloIsSentForItsChannelStoredAndCountedByTheSoloIndicator)
{
    ASSERT_NO_FATAL_FAILURE(open());
    state().setPlaybackGangs(0);
    console::refreshGangButtons(content());
    content().showPage(2);
    drain();
    trace_.clear();
    strip(1).getSolo().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return !playbackRequests(4).empty(); }));
    drain();
    EXPECT_EQ(playbackRequests(4), (std::vector<std::pair<uint32_t, uint32_t>>{{3, 1}}));
    EXPECT_EQ(state().getByte(ConsoleState::kPlaybackRecords + 3 * ConsoleState::kRecordBytes + 1), 1);
    EXPECT_EQ(content().getTabbedBox()->getRudeSolo()->getCount(), 1);
}

TEST_F(PlaybackStripTest, ThePairOfAnOddLastOutputShowsItsEvenStripAloneAndUnganged)
{
    ASSERT_NO_FATAL_FAILURE(open(
        "--caps " + consoletest::writeCapsFile(bus_.dir, 0x3B71, 0x777, 0x04080000, 0x04080000, false, 3) +
            " --unique-name P",
        0));
    console::PlayGang& gang = *box().getGangs()[0];
    content().showPage(2);
    EXPECT_TRUE(strip(0).getFader().isVisible());
    for (juce::Component* c : std::initializer_list<juce::Component*>{
             &strip(1).getFader(), strip(1).getFader().getValueBox(), &strip(1).getMute(),
             &strip(1).getSolo(), &strip(1).getAlias(), &strip(1).getUpperLabel(), &gang})
        EXPECT_FALSE(c->isVisible()) << c->getName();
    EXPECT_FALSE(gang.getToggleState());

    content().showPage(0);
    EXPECT_TRUE(strip(1).getSolo().isVisible());
    EXPECT_TRUE(gang.isVisible());
}

} // namespace
