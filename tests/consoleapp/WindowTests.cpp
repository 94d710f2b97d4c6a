// A console window built in the test process for a simulated interface: its content, pages, poll,
// identify, properties and close path.

#include "ConsoleWindowFixture.h"
#include "console/ui/app/ConsoleApp.h"
#include "console/ui/strips/InputStrips.h"
#include "platform/Debug.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

namespace
{

using consoletest::pumpPosted;
using consoletest::pumpUntil;

class ConsoleWindowTest : public consoletest::ConsoleWindowFixture
{
protected:
    void SetUp() override
    {
        ConsoleWindowFixture::SetUp();
        if (setUpStopped())
            return;
        ASSERT_NO_FATAL_FAILURE(plug("--model st8 --unique-name Win8"));
        ASSERT_NO_FATAL_FAILURE(openDevice());
    }

    std::string propertiesPath() const { return home_ + "/.config/Varnel Strellis Console/Win8.properties"; }

    void writeProperties(const std::string& values)
    {
        std::filesystem::create_directories(home_ + "/.config/Varnel Strellis Console");
        std::ofstream(propertiesPath()) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PROPERTIES>\n"
                                        << values << "</PROPERTIES>\n";
    }

    void open() { showWindow(); }

    bool threadEnded() const
    {
        console::hwthread* thread = window_->getContent().getHwThread();
        return thread == nullptr || !thread->isThreadRunning();
    }
};

TEST_F(ConsoleWindowTest, ContentHasTheLayoutSizeAndTheTitleNamesTheInterface)
{
    open();
    console::CwContent& content = window_->getContent();
    EXPECT_EQ(window_->getName(), "Win8 Console");
    EXPECT_EQ(content.getName(), "Win8");
    // st8: 10 inputs, 12 outputs.
    EXPECT_EQ(content.getWidth(), 10 * 54 + 221);
    EXPECT_EQ(content.getHeight(), 536);
    EXPECT_EQ(content.getTabBar()->getTabs().size(), 7u);
    EXPECT_EQ(content.getTabbedBox()->getBounds(), juce::Rectangle<int>(0, 30, 761, 506));
    EXPECT_TRUE(content.getTabbedBox()->isVisible());
    EXPECT_FALSE(content.getSettings()->isVisible());
    EXPECT_EQ(content.getSessionBox()->getParentComponent(), content.getTabbedBox());
}

TEST_F(ConsoleWindowTest, APollSendsPolledThenDriverInfoAndRefreshesTheView)
{
    open();
    console::CwContent& content = window_->getContent();
    trace_.clear();
    bus_.devsim("set u1 meter.out.1 0x20000000");
    content.poll();
    ASSERT_TRUE(pumpUntil([&] { return content.getRefreshCount() > 0; }));
    EXPECT_TRUE(content.getPollCtrl()->isValid());
    // Requests the window queued while opening may still be in the trace; the poll is the GetPolled
    // request and the driver-information request right after it.
    const auto lines = trace_.lines();
    size_t polled = 0;
    while (polled < lines.size() && lines[polled].find(" VDC 0 1 ") == std::string::npos)
        ++polled;
    ASSERT_LT(polled + 1, lines.size());
    EXPECT_NE(lines[polled + 1].find(" DC 3"), std::string::npos) << lines[polled + 1];
    EXPECT_EQ(content.getTabBar()->getLights()[1]->getFrame(), 2);
}

TEST_F(ConsoleWindowTest, TheSnapshotOfAPollHoldsItsStatusMetersAndDriverInformation)
{
    open();
    console::CwContent& content = window_->getContent();
    bus_.devsim("set u1 meter.out.1 0x20000000");
    bus_.devsim("set u1 meter.in.2 0x40000000");
    bus_.devsim("set u1 midi 0x0C");
    bus_.devsim("set u1 clocks 0x5");
    const int shown = content.getRefreshCount();
    content.poll();
    ASSERT_TRUE(pumpUntil([&] { return content.getRefreshCount() > shown; }));
    const console::PolledSnapshot snapshot = content.getPollCtrl()->getSnapshot();
    EXPECT_EQ(snapshot.getOutputMeter(1), 0x20000000u);
    EXPECT_EQ(snapshot.getInputMeter(2), 0x40000000u);
    EXPECT_TRUE(snapshot.isMidiInActive(1));
    EXPECT_TRUE(snapshot.isMidiOutActive(1));
    EXPECT_FALSE(snapshot.isMidiInActive(0));
    EXPECT_TRUE(snapshot.isClockDetected(2));
    EXPECT_FALSE(snapshot.isClockDetected(1));
    int rate = 0;
    int clock = 0;
    ASSERT_EQ(device_->getClock(rate, clock), 0);
    EXPECT_EQ(snapshot.driverInfo.sampleRate, uint32_t(rate));
}

TEST_F(ConsoleWindowTest, TheViewRefreshingWhileTheNextPollRunsReadsNothingThePollWrites)
{
    // The timer queues the next poll whether or not the view has shown the last one, so the view may
    // refresh while a poll is writing. Under ThreadSanitizer this test fails on any such race.
    open();
    console::CwContent& content = window_->getContent();
    bus_.devsim("set u1 meter.out.1 0x20000000");
    for (int round = 0; round < 20; ++round)
    {
        const int shown = content.getRefreshCount();
        content.poll();
        ASSERT_TRUE(pumpUntil([&] { return content.getRefreshCount() > shown; }));
        content.poll();
        content.handleCommandMessage(0);
    }
    drain(); // the last poll
    EXPECT_EQ(content.getTabBar()->getLights()[1]->getFrame(), 2);
}

TEST_F(ConsoleWindowTest, AFailedPollLeavesTheViewAlone)
{
    open();
    console::CwContent& content = window_->getContent();
    bus_.devsim("fault u1 vdc:0/1 fail always");
    content.poll();
    drain();
    EXPECT_FALSE(trace_.vdc(0).empty());
    EXPECT_FALSE(content.getPollCtrl()->isValid());
    EXPECT_EQ(content.getRefreshCount(), 0);
}

TEST_F(ConsoleWindowTest, IdentifySendsTheIdentifyCommand)
{
    open();
    // The window identifies its unit itself when it becomes active: that one is let through first.
    ASSERT_TRUE(pumpUntil([&] { return window_->isActiveWindow(); }));
    ASSERT_TRUE(pumpPosted());
    drain();
    trace_.clear();
    window_->getContent().identifyDevice();
    // The settings page's first clock reads may also be in the trace.
    auto identifies = [&]
    {
        const auto requests = trace_.vdc(3);
        return std::count_if(requests.begin(), requests.end(), [](const auto& v) { return v.command == 5; });
    };
    drain();
    EXPECT_EQ(identifies(), 1);
}

TEST_F(ConsoleWindowTest, ASavedSettingsTabReopensOnTheSettingsPageAndPropertiesAreSavedOnce)
{
    writeProperties("  <VALUE name=\"tab\" val=\"-1\"/>\n");
    open();
    console::CwContent& content = window_->getContent();
    EXPECT_TRUE(content.getSettings()->isVisible());
    EXPECT_FALSE(content.getTabbedBox()->isVisible());
    content.showPage(4);
    EXPECT_TRUE(content.getTabbedBox()->isVisible());
    EXPECT_EQ(content.getTabbedBox()->getShownPair(), 4);
    content.getTabBar()->setCurrentTab(-1);

    window_->setTopLeftPosition(210, 160);
    window_->saveProperties();
    EXPECT_FALSE(window_->hasProperties());
    juce::PropertiesFile saved(juce::File(propertiesPath()), console::consolePropertiesOptions("Win8"));
    EXPECT_EQ(saved.getIntValue("tab", 99), -1);
    EXPECT_EQ(saved.getIntValue("x"), 210);
    EXPECT_EQ(saved.getIntValue("y"), 160);
    EXPECT_TRUE(saved.containsKey("input gangs"));
    // A second save changes nothing.
    window_->setTopLeftPosition(400, 400);
    window_->saveProperties();
    juce::PropertiesFile again(juce::File(propertiesPath()), console::consolePropertiesOptions("Win8"));
    EXPECT_EQ(again.getIntValue("x"), 210);
}

TEST_F(ConsoleWindowTest, ADamagedPropertiesFileIsMovedAsideAndTheWindowOpensWithTheDefaults)
{
    // It ends inside a three-byte character, where the framework's reader would run past its buffer.
    const std::string damaged =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PROPERTIES>\n  <VALUE name=\"tab\" val=\"-1\"/>\n"
        "  <VALUE name=\"a\xE2";
    writeProperties("");
    std::ofstream(propertiesPath(), std::ios::binary | std::ios::trunc) << damaged;
    platform::DebugCapture debug;
    open();
    EXPECT_TRUE(window_->getContent().getTabbedBox()->isVisible());
    EXPECT_EQ(juce::File(propertiesPath() + ".damaged").getSize(), int64_t(damaged.size()));
    const auto lines = debug.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line)
                            { return line.rfind("Damaged settings file", 0) == 0; }),
              1);
    // The window's own file takes the place of the damaged one.
    window_->saveProperties();
    juce::PropertiesFile saved(juce::File(propertiesPath()), console::consolePropertiesOptions("Win8"));
    EXPECT_EQ(saved.getIntValue("tab", 99), 0);
}

TEST_F(ConsoleWindowTest, ASavedPositionIsRestoredInTheSameCoordinates)
{
    writeProperties("  <VALUE name=\"x\" val=\"333\"/>\n  <VALUE name=\"y\" val=\"222\"/>\n");
    open();
    window_->setTopLeftPosition(10, 10);
    window_->restoreWindowPosition();
    EXPECT_EQ(window_->getPosition(), juce::Point<int>(333, 222));
}

TEST_F(ConsoleWindowTest, WithoutAWindowManagerAMoveAfterAPlacementIsTheUsersAndTheWindowReopensThere)
{
    // No window manager frames the window on this display: the placement lands where it was asked, and a
    // move a little right and down afterwards, made from outside as a user's tool makes it, is no frame.
    writeProperties("  <VALUE name=\"x\" val=\"128\"/>\n  <VALUE name=\"y\" val=\"100\"/>\n");
    open();
    window_->restoreWindowPosition();
    ASSERT_EQ(window_->getPosition(), juce::Point<int>(128, 100));
    testsupport::moveWindowFromOutside(window_->getPeer()->getNativeHandle(), 150, 248);
    ASSERT_TRUE(pumpUntil([&] { return window_->getPosition() == juce::Point<int>(150, 248); }));
    window_->saveProperties();
    window_.reset();
    ASSERT_TRUE(device_->open());
    open();
    window_->restoreWindowPosition();
    EXPECT_EQ(window_->getPosition(), juce::Point<int>(150, 248));
}

TEST_F(ConsoleWindowTest, CloseWithAnUnchangedStateHidesAndEndsTheThreadWithoutFlash)
{
    // The first window stores the default channel names the factory session lacks; a window opened
    // after it finds them stored and changes nothing.
    open();
    window_->closeButtonPressed();
    ASSERT_TRUE(pumpUntil([&] { return threadEnded(); }));
    window_.reset();
    ASSERT_TRUE(device_->open());
    open();
    trace_.clear();
    window_->closeButtonPressed();
    EXPECT_FALSE(window_->isVisible());
    ASSERT_TRUE(pumpUntil([&] { return threadEnded(); }));
    EXPECT_TRUE(trace_.flashSequence().empty());
    EXPECT_TRUE(juce::File(propertiesPath()).existsAsFile());
}

TEST_F(ConsoleWindowTest, CloseWithAChangedNameWritesTheSessionToFlash)
{
    writeProperties("  <VALUE name=\"input alias 0\" val=\"Vocal\"/>\n");
    open();
    trace_.clear();
    window_->closeButtonPressed();
    ASSERT_TRUE(pumpUntil([&] { return threadEnded(); }));
    const auto sequence = trace_.flashSequence();
    EXPECT_EQ(consoletest::count(sequence, "1/2"), 54);
    EXPECT_EQ(consoletest::count(sequence, "1/0:0x1f0000"), 1);
}

TEST_F(ConsoleWindowTest, ANameStillBeingTypedWhenTheWindowClosesIsSavedInThePropertiesAndInFlash)
{
    open();
    console::InAlias& name =
        window_->getContent().getTabbedBox()->getInputBox()->getInputStrip(0)->getAlias();
    name.showEditor();
    ASSERT_NE(name.getCurrentTextEditor(), nullptr);
    name.getCurrentTextEditor()->setText("Vocal", false);
    window_->closeButtonPressed();
    ASSERT_TRUE(pumpUntil([&] { return threadEnded(); }));
    juce::PropertiesFile saved(juce::File(propertiesPath()), console::consolePropertiesOptions("Win8"));
    EXPECT_EQ(saved.getValue("input alias 0"), "Vocal");
    console::ConsoleState flash(*device_);
    ASSERT_EQ(flash.readFromDevice(), 0);
    EXPECT_EQ(flash.getInputAlias(0), "Vocal");
}

TEST_F(ConsoleWindowTest, NamesThatReadAsMarkupComeBackUnchangedAndTheWindowOpensAgainAfterThem)
{
    // Names a user may type, a session load or the unit's flash may bring: stored as markup, the framework
    // read them back changed, read past its buffer, looped for ever or crashed at every later start.
    const std::vector<juce::String> names = {
        "<a>x<b><c/></b></a>", "<a><?p?>x</a>",     "<a>&#x", "<Kick", "<3",
        "<a>&#xD800;</a>",     "<a>&#x110000;</a>", " <b>",   "&lt;"};
    open();
    for (size_t i = 0; i < names.size(); ++i)
        state().setInputAlias(int(i), names[i]);
    for (int reopened = 0; reopened < 2; ++reopened)
    {
        window_->closeButtonPressed();
        ASSERT_TRUE(pumpUntil([&] { return threadEnded(); }));
        window_.reset();
        ASSERT_TRUE(device_->open());
        open();
        for (size_t i = 0; i < names.size(); ++i)
            EXPECT_EQ(state().getInputAlias(int(i)), names[i]) << i;
    }
    EXPECT_FALSE(juce::File(propertiesPath() + ".damaged").exists());
}

TEST_F(ConsoleWindowTest, SessionCommandsHaveTheirNamesAndKeys)
{
    open();
    console::CwContent& content = window_->getContent();
    juce::Array<juce::CommandID> ids;
    content.getAllCommands(ids);
    EXPECT_EQ(ids, juce::Array<juce::CommandID>({1, 2, 3}));
    juce::ApplicationCommandInfo save(1);
    content.getCommandInfo(1, save);
    EXPECT_EQ(save.shortName, "Save");
    EXPECT_EQ(save.categoryName, "Session");
    ASSERT_EQ(save.defaultKeypresses.size(), 1);
    EXPECT_EQ(save.defaultKeypresses[0], juce::KeyPress('s', juce::ModifierKeys::ctrlModifier, 0));
    juce::ApplicationCommandInfo saveAs(2);
    content.getCommandInfo(2, saveAs);
    EXPECT_TRUE(saveAs.defaultKeypresses.isEmpty());
    EXPECT_FALSE(content.perform(juce::ApplicationCommandTarget::InvocationInfo(99)));
    EXPECT_TRUE(content.perform(juce::ApplicationCommandTarget::InvocationInfo(3)));
}

} // namespace
