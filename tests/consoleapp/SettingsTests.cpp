// The settings page of a console window for simulated interfaces: which groups it has and where, and
// what each group sends to the device, read from the simulator's trace; and the version information the
// About window shows.

#include "CapsBuilder.h"
#include "ConsoleWindowFixture.h"
#include "ManualClock.h"
#include "VersionBlockBytes.h"
#include "console/core/Firmware.h"
#include "console/ui/settings/SampleRate.h"
#include "console/ui/settings/Settings.h"
#include "console/ui/settings/SettingsGroups.h"
#include "console/ui/settings/Versions.h"
#include "console/ui/window/SessionFiles.h"
#include "device/Wire.h"
#include "platform/DeviceFile.h"
#include "platform/Event.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <utility>

namespace
{

using console::ConsoleState;
using consoletest::pumpPosted;
using consoletest::pumpUntil;

struct Box
{
    std::string title;
    std::string text;
};

class SettingsTest : public consoletest::ConsoleWindowFixture
{
protected:
    void SetUp() override
    {
        ConsoleWindowFixture::SetUp();
        if (setUpStopped())
            return;
        ::unsetenv("STRELLIS_WINDOWS");
        previousPresenter_ = platform::setMessageBoxPresenter(
            [this](const std::string& title, const std::string& text, int)
            {
                boxes_.push_back({title, text});
                return platform::IDOK;
            });
    }

    void TearDown() override
    {
        ConsoleWindowFixture::TearDown();
        platform::setMessageBoxPresenter(previousPresenter_);
    }

    // Plugs u1 ("--model st8", "--caps <file>", ...) on a machine running XP or Vista, and opens its
    // window with every read its controls queued done.
    void open(const std::string& plugArguments, bool vista = true,
              const std::function<void()>& beforeWindow = {})
    {
        ASSERT_EQ(bus_.devsim(std::string("os windows ") + (vista ? "vista" : "xp")), 0) << bus_.err;
        ASSERT_NO_FATAL_FAILURE(plug(plugArguments));
        if (beforeWindow)
            beforeWindow();
        ASSERT_NO_FATAL_FAILURE(openDevice());
        showWindow();
        drain();
    }

    // A capability record as a file for "plug --caps".
    std::string capsFile(device::HwInfoCaps caps)
    {
        caps.firstMeterCount = caps.outputCount;
        caps.secondMeterCount = caps.inputCount;
        const std::string path = bus_.dir + "/caps" + std::to_string(++capsFiles_) + ".bin";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(&caps), device::HwInfoCaps::kRegistryBytes);
        return "--caps " + path;
    }

    console::Settings& page() const { return *content().getSettings(); }

    // The driver-control requests of the trace as "<sub-code> <words 3..>", and the VDC requests as
    // "<cat>/<cmd> <params>", in order; polls excluded.
    std::vector<std::string> requests() const
    {
        std::vector<std::string> out;
        for (const std::string& line : trace_.lines())
        {
            std::istringstream words(line);
            std::string pid, unit, kind;
            words >> pid >> unit >> kind;
            std::string request;
            if (kind == "DC")
                request = "DC";
            else if (kind == "VDC")
            {
                std::string category, command, length;
                words >> category >> command >> length;
                if (category == "0" && command == "1")
                    continue;
                request = category + "/" + command;
            }
            else
                continue;
            for (std::string w; words >> w && w != "=>";)
                request += " " + w;
            out.push_back(request);
        }
        return out;
    }

    // The wave-device mode requests of the trace (driver flags, sub-code 10, of bit 1), in order.
    std::vector<std::string> modesSent() const
    {
        std::vector<std::string> out;
        for (const std::string& request : requests())
            if (request == "DC 10 4294967295 2" || request.rfind("DC 10 4294967293", 0) == 0)
                out.push_back(request);
        return out;
    }

    // Sets a hold on target ("dc:3", "vdc:3/1"), runs queue, and waits without running the message loop
    // (so also from inside a click) until the request that queue made is held, unanswered.
    bool holdRequest(const std::string& target, const std::function<void()>& queue)
    {
        if (bus_.devsim("fault u1 " + target + " hold") != 0)
            return false;
        queue();
        return testsupport::waitUntil([&]
                                      { return bus_.dumped("u1", "fault") == target + " hold holding 1"; });
    }

    // Lets the held request go and waits until the thread has done everything queued meanwhile: two
    // rounds, as the reads queued with the held one go before the SETs queued while it was held.
    void releaseRequest()
    {
        ASSERT_EQ(bus_.devsim("fault u1 clear"), 0) << bus_.err;
        drain();
        drain();
    }

    std::vector<Box> boxes_;
    platform::MessageBoxPresenter previousPresenter_;
    int capsFiles_ = 0;
};

juce::Rectangle<int> boundsOf(const juce::Component* c)
{
    return c != nullptr ? c->getBounds() : juce::Rectangle<int>();
}

// --- the page ---

TEST_F(SettingsTest, AUnitWithEveryGroupFillsBothColumnsAndSetsFlagBitZeroOnce)
{
    // st8: 10 inputs (page 761 wide, columns of 380), every clock but ADAT, phantom power, S/PDIF out,
    // routing; Vista: the rate display above the Core Audio rate.
    open("--model st8");
    console::Settings& settings = page();
    EXPECT_EQ(settings.getName(), "st settings");
    EXPECT_FALSE(settings.isVisible());
    EXPECT_EQ(settings.getParentComponent(), &content());
    EXPECT_EQ(settings.getBounds(), content().getLayout().getPageBounds());

    EXPECT_EQ(boundsOf(settings.getSampleRateDisplay()), juce::Rectangle<int>(90, 16, 200, 60));
    EXPECT_EQ(boundsOf(settings.getSampleRate()), juce::Rectangle<int>(90, 88, 200, 152));
    EXPECT_EQ(boundsOf(settings.getClockSource()), juce::Rectangle<int>(90, 252, 200, 92));
    EXPECT_EQ(boundsOf(settings.getPhantomPower()), juce::Rectangle<int>(100, 356, 180, 52));
    EXPECT_EQ(boundsOf(settings.getSpdifFormat()), juce::Rectangle<int>(470, 16, 200, 80));
    EXPECT_EQ(boundsOf(settings.getSurround()), juce::Rectangle<int>(470, 108, 200, 80));
    EXPECT_EQ(boundsOf(settings.getBufferSize()), juce::Rectangle<int>(470, 200, 200, 80));
    EXPECT_EQ(boundsOf(settings.getIsocMap()), juce::Rectangle<int>(445, 292, 250, 124));
    EXPECT_EQ(settings.getAboutButton().getBounds(), juce::Rectangle<int>(340, 464, 80, 22));
    EXPECT_EQ(settings.getAboutButton().getButtonText(), "About");

    int flagChanges = 0;
    for (const std::string& request : requests())
        flagChanges += request == "3/3 1 0";
    EXPECT_EQ(flagChanges, 1);
}

TEST_F(SettingsTest, AFlagChangeTheDeviceKeepsAskingToRepeatIsSentEveryTenMillisecondsForTwoSeconds)
{
    testsupport::ManualClock clock;
    open("--model st8", true, [&] { ASSERT_EQ(bus_.devsim("fault u1 vdc:3/3 busreset always"), 0); });
    int tries = 0;
    for (const std::string& request : requests())
        tries += request == "3/3 1 0";
    // Each try takes the request's time and a 10 ms pause of the manual clock.
    EXPECT_NEAR(tries, 2000.0 / (10 + sim::os::kVdcTransactionMs), 2.0);
}

TEST_F(SettingsTest, RoutingWithoutPhantomPowerIsCentredBetweenTheLeftColumnAndAbout)
{
    // dhdmi: 4 inputs (page 437 wide, columns of 218), 44.1 to 192 kHz, Internal and FireWire, routing,
    // neither phantom power nor S/PDIF; before Vista: no display, the lock below the rates.
    open("--model dhdmi", false);
    console::Settings& settings = page();
    EXPECT_EQ(settings.getSampleRateDisplay(), nullptr);
    EXPECT_EQ(settings.getPhantomPower(), nullptr);
    EXPECT_EQ(settings.getSpdifFormat(), nullptr);
    EXPECT_EQ(boundsOf(settings.getSampleRate()), juce::Rectangle<int>(9, 16, 200, 152));
    EXPECT_EQ(boundsOf(settings.getClockSource()), juce::Rectangle<int>(9, 180, 200, 66));
    EXPECT_EQ(boundsOf(settings.getSurround()), juce::Rectangle<int>(227, 16, 200, 80));
    EXPECT_EQ(boundsOf(settings.getBufferSize()), juce::Rectangle<int>(227, 108, 200, 80));
    // The left column ends at 258: (464 - 124 - 258) / 2 + 258 - 12.
    EXPECT_EQ(boundsOf(settings.getIsocMap()), juce::Rectangle<int>(93, 287, 250, 124));
}

TEST_F(SettingsTest, AUnitWithoutClockChoicePhantomPowerSpdifOrRoutingHasOnlyTheFixedGroups)
{
    device::HwInfoCaps caps = consoleapptest::makeCaps({{0, 2}}, {{0, 2}});
    caps.clockMask = 0x4; // Word clock alone: no choice
    caps.minSampleRate = 44100;
    caps.maxSampleRate = 48000;
    open(capsFile(caps));
    console::Settings& settings = page();
    EXPECT_NE(settings.getSampleRateDisplay(), nullptr);
    EXPECT_NE(settings.getSampleRate(), nullptr);
    EXPECT_EQ(settings.getClockSource(), nullptr);
    EXPECT_EQ(settings.getPhantomPower(), nullptr);
    EXPECT_EQ(settings.getSpdifFormat(), nullptr);
    EXPECT_EQ(settings.getIsocMap(), nullptr);
    EXPECT_NE(settings.getSurround(), nullptr);
    EXPECT_NE(settings.getBufferSize(), nullptr);
}

TEST_F(SettingsTest, EveryPresetShowsEachGroupWholeInsideThePageAndApartFromTheOthers)
{
    ASSERT_EQ(bus_.devsim("models"), 0);
    std::vector<std::string> presets;
    std::istringstream models(bus_.out);
    for (std::string line; std::getline(models, line);)
        presets.push_back(line.substr(0, line.find(' ')));
    ASSERT_GE(presets.size(), 8u);

    for (const bool vista : {false, true})
    {
        for (const std::string& preset : presets)
        {
            SCOPED_TRACE(preset + (vista ? " on Vista" : " before Vista"));
            ASSERT_EQ(bus_.devsim("reset"), 0);
            ASSERT_EQ(bus_.devsim(std::string("os windows ") + (vista ? "vista" : "xp")), 0);
            ASSERT_NO_FATAL_FAILURE(plug("--model " + preset));
            ASSERT_NO_FATAL_FAILURE(openDevice());
            showWindow();
            console::Settings& settings = page();
            std::vector<juce::Component*> groups;
            for (juce::Component* group : std::initializer_list<juce::Component*>{
                     settings.getSampleRateDisplay(), settings.getSampleRate(), settings.getClockSource(),
                     settings.getPhantomPower(), settings.getBufferSize(), settings.getSpdifFormat(),
                     settings.getSurround(), settings.getIsocMap()})
                if (group != nullptr)
                    groups.push_back(group);

            const juce::Rectangle<int> about = settings.getAboutButton().getBounds();
            for (size_t i = 0; i < groups.size(); ++i)
            {
                juce::Component& group = *groups[i];
                SCOPED_TRACE(group.getName());
                // What the page shows of it, scrolled into view where the page scrolls.
                juce::Rectangle<int> shown = settings.getLocalBounds();
                if (auto* view = group.findParentComponentOfClass<juce::Viewport>())
                {
                    view->setViewPosition(group.getX(), group.getY());
                    shown = settings.getLocalArea(
                        view, view->getLocalBounds().withSize(view->getViewWidth(), view->getViewHeight()));
                }
                const juce::Rectangle<int> area = settings.getLocalArea(&group, group.getLocalBounds());
                EXPECT_TRUE(settings.getLocalBounds().contains(area)) << area.toString();
                EXPECT_TRUE(shown.contains(area)) << area.toString() << " shown " << shown.toString();
                EXPECT_FALSE(area.intersects(about)) << area.toString();
                for (size_t j = i + 1; j < groups.size(); ++j)
                    EXPECT_FALSE(group.getBoundsInParent().intersects(groups[j]->getBoundsInParent()))
                        << groups[j]->getName();
            }
            destroyWindow();
            device_ = nullptr;
        }
    }
}

TEST_F(SettingsTest, OnAOneColumnPageTheWheelOverTheBufferSliderScrollsThePageAndSendsNoSize)
{
    open("--model st2"); // a 329-pixel page
    console::StBufferSizeSlider& slider = page().getBufferSize()->getSlider();
    auto* view = slider.findParentComponentOfClass<juce::Viewport>();
    ASSERT_NE(view, nullptr);
    const double size = slider.getValue();
    trace_.clear();
    const juce::Point<float> at(float(slider.getWidth()) / 2, float(slider.getHeight()) / 2);
    const juce::MouseEvent event(juce::Desktop::getInstance().getMainMouseSource(), at, {}, 1.0f, 0.0f, 0.0f,
                                 0.0f, 0.0f, &slider, &slider, juce::Time::getCurrentTime(), at,
                                 juce::Time::getCurrentTime(), 0, false);
    slider.mouseWheelMove(event, juce::MouseWheelDetails{0.0f, -0.5f, false, false, false});
    EXPECT_GT(view->getViewPositionY(), 0);
    EXPECT_EQ(slider.getValue(), size);
    drain();
    EXPECT_EQ(requests(), std::vector<std::string>());
}

// --- each group's own layout ---

TEST_F(SettingsTest, TheRateGroupOffersTheRatesFromTheDevicesLowestToItsHighest)
{
    // d8: 44.1 to 96 kHz; before Vista the "Locked" toggle takes a row below the rates.
    open("--model d8", false);
    const console::SampleRate& rate = *page().getSampleRate();
    EXPECT_EQ(rate.getName(), "sample rate select");
    EXPECT_EQ(rate.getText(), "Sample rate");
    ASSERT_EQ(rate.getButtonCount(), 4);
    const char* texts[] = {"44.1 kHz", "48 kHz", "88.2 kHz", "96 kHz"};
    const juce::Rectangle<int> bounds[] = {
        {14, 25, 80, 22}, {106, 25, 80, 22}, {14, 53, 80, 22}, {106, 53, 80, 22}};
    for (int k = 0; k < 4; ++k)
    {
        EXPECT_EQ(rate.getButton(k)->getButtonText(), texts[k]);
        EXPECT_EQ(rate.getButton(k)->getBounds(), bounds[k]);
        EXPECT_EQ(rate.getButton(k)->getRadioGroupId(), 0x72617465);
    }
    EXPECT_EQ(rate.getHeight(), 2 * 28 + 40 + 28);
    ASSERT_NE(rate.getLock(), nullptr);
    EXPECT_EQ(rate.getLock()->getButtonText(), "Locked");
    EXPECT_EQ(rate.getLock()->getBounds(), juce::Rectangle<int>(60, 87, 80, 22));
    EXPECT_EQ(console::formatSampleRate(176400), "176.4 kHz");
}

TEST_F(SettingsTest, OnVistaTheRateGroupIsTheCoreAudioRateAndADisplayShowsTheClockRate)
{
    open("--model st4");
    const console::SampleRate& rate = *page().getSampleRate();
    EXPECT_EQ(rate.getText(), "Core Audio sample rate");
    EXPECT_EQ(rate.getLock(), nullptr);
    EXPECT_EQ(rate.getButtonCount(), 7);
    EXPECT_EQ(rate.getHeight(), 4 * 28 + 40);
    const console::SampleRateDisplay& display = *page().getSampleRateDisplay();
    EXPECT_EQ(display.getName(), "sample rate display");
    EXPECT_EQ(display.getText(), "Sample rate");
    EXPECT_EQ(display.getLabel().getName(), "sr display");
    EXPECT_EQ(display.getLabel().getBounds(), juce::Rectangle<int>(50, 24, 100, 20));
}

TEST_F(SettingsTest, TheClockGroupHasAButtonPerSupportedClockTwoARowWithAdatHiddenInItsPlace)
{
    // m1200f supports all six clocks.
    open("--model m1200f");
    const console::ClockSource& clock = *page().getClockSource();
    EXPECT_EQ(clock.getName(), "clock source select");
    EXPECT_EQ(clock.getText(), "Clock source");
    EXPECT_EQ(clock.getButtonCount(), 6);
    EXPECT_EQ(clock.getHeight(), 118);
    const char* names[] = {"Internal", "FireWire", "Word", "S/PDIF", "ADAT", "ADAT B"};
    for (int i = 0; i < 6; ++i)
    {
        ASSERT_NE(clock.getButton(i), nullptr);
        EXPECT_EQ(clock.getButton(i)->getButtonText(), names[i]);
        EXPECT_EQ(clock.getButton(i)->getPosition(),
                  juce::Point<int>(i % 2 == 0 ? 18 : 102, 25 + 28 * (i / 2)));
        EXPECT_EQ(clock.getButton(i)->isVisible(), i != 4);
    }
}

TEST_F(SettingsTest, RoutingLabelsNameTheOutputPairsAndFallBackForMissingOutputs)
{
    device::HwInfoCaps caps = consoleapptest::makeCaps({{0, 2}}, {{5, 2}, {0, 2}});
    EXPECT_EQ(console::IsocMap::outputLabel(caps, 0), "Headphones");
    EXPECT_EQ(console::IsocMap::outputLabel(caps, 1), "Analog out");
    EXPECT_EQ(console::IsocMap::outputLabel(caps, 2), "Output 5-6");

    open("--model st8");
    console::IsocMap& routing = *page().getIsocMap();
    EXPECT_EQ(routing.getName(), "isoc map");
    EXPECT_EQ(routing.getText(), "Routing");
    for (int row = 0; row < 3; ++row)
    {
        juce::ComboBox& box = routing.getComboBox(row);
        EXPECT_EQ(box.getName(), "isoc map cb");
        EXPECT_EQ(box.getBounds(), juce::Rectangle<int>(20, 25 + 28 * row, 110, 22));
        EXPECT_EQ(box.getNumItems(), 3);
        EXPECT_EQ(box.getItemText(2), "Playback 5-6");
        EXPECT_EQ(routing.getLabel(row).getBounds(), juce::Rectangle<int>(140, 25 + 28 * row, 100, 22));
    }
    EXPECT_EQ(routing.getLabel(0).getText(), "Analog out 1-2");
    EXPECT_EQ(routing.getLabel(2).getText(), "Analog out 5-6");
}

TEST_F(SettingsTest, ThePhantomSpdifAndWaveDeviceGroupsHaveTheirButtonsAndStartingChoices)
{
    open("--model st8");
    console::PhantomPower& phantom = *page().getPhantomPower();
    EXPECT_EQ(phantom.getName(), "phantom power");
    EXPECT_EQ(phantom.getButton().getBounds(), juce::Rectangle<int>(40, 16, 100, 22));
    console::SpdifFormat& spdif = *page().getSpdifFormat();
    EXPECT_EQ(spdif.getName(), "spdif format");
    EXPECT_EQ(spdif.getText(), "S/PDIF format");
    EXPECT_EQ(spdif.getProfessionalButton().getBounds(), juce::Rectangle<int>(50, 48, 100, 22));
    console::Surround& surround = *page().getSurround();
    EXPECT_EQ(surround.getName(), "wave cfg");
    EXPECT_EQ(surround.getText(), "Wave devices");
    EXPECT_EQ(surround.getSurroundButton().getBounds(), juce::Rectangle<int>(35, 48, 130, 22));
    console::BufferSize& buffer = *page().getBufferSize();
    EXPECT_EQ(buffer.getName(), "buffer size box");
    EXPECT_EQ(buffer.getSlider().getName(), "buffer size slider");
    EXPECT_EQ(buffer.getSlider().getBounds(), juce::Rectangle<int>(10, 15, 180, 50));
    EXPECT_EQ(buffer.getSlider().getMinimum(), 32);
    EXPECT_EQ(buffer.getSlider().getMaximum(), 2048);
}

} // namespace

// --- sample rate ---

class SampleRateTest : public SettingsTest
{
protected:
    console::SampleRate& rate() const { return *page().getSampleRate(); }

    void click(juce::Button& button)
    {
        trace_.clear();
        button.triggerClick();
        ASSERT_TRUE(pumpPosted());
        drain();
    }

    juce::ToggleButton& rateButton(int hz) const
    {
        for (int k = 0; k < rate().getButtonCount(); ++k)
            if (rate().getButtonRate(k) == hz)
                return *rate().getButton(k);
        ADD_FAILURE() << hz << " not offered";
        return *rate().getButton(0);
    }

    int deviceRate() const
    {
        int hz = 0;
        int clock = 0;
        device_->getClock(hz, clock);
        return hz;
    }

    void pollOnce()
    {
        const int shown = content().getRefreshCount();
        content().poll();
        ASSERT_TRUE(pumpUntil([&] { return content().getRefreshCount() > shown; }));
        drain();
    }
};

TEST_F(SampleRateTest, BeforeVistaALockedRateIsUnlockedSetAndLockedAgainKeepingTheOtherDriverFlags)
{
    open("--model st8", false);
    EXPECT_TRUE(rateButton(48000).getToggleState());
    console::StSampleRateLock& lock = *rate().getLock();
    EXPECT_FALSE(lock.getToggleState());

    click(lock);
    EXPECT_EQ(requests(), std::vector<std::string>({"DC 10 4294967295 1"}));
    ASSERT_TRUE(device_->setDriverFlags(2, 0xFFFFFFFF)); // surround
    click(rateButton(96000));
    EXPECT_EQ(requests(),
              std::vector<std::string>({"DC 10 4294967294", "3/0 4294967295 96000 0", "DC 10 4294967295 1"}));
    EXPECT_EQ(state().getWord(ConsoleState::kRateWord), 96000u);
    EXPECT_EQ(deviceRate(), 96000);
    ASSERT_EQ(device_->readDriverInfo(), 0);
    EXPECT_EQ(device_->getDriverInfo().flags, 3u);

    lock.triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return !lock.getToggleState(); }));
    drain(); // the unlock is sent before the next click clears the trace
    click(rateButton(44100));
    EXPECT_EQ(requests(), std::vector<std::string>({"3/0 4294967295 44100 0"}));
}

TEST_F(SampleRateTest, TheLockShowsTheDriversFlag)
{
    open("--model st8", false);
    ASSERT_TRUE(device_->setSampleRateLock(true));
    console::StSampleRateLock& lock = *rate().getLock();
    content().getHwThread()->queueGet(lock);
    drain();
    EXPECT_TRUE(lock.getToggleState());
    EXPECT_TRUE(lock.getLockValue());
}

TEST_F(SampleRateTest, BeforeVistaTheRateFollowsTheDriverWhenAPollShowsAnotherRate)
{
    open("--model st8", false);
    ASSERT_EQ(device_->setClock(88200, -1), 0);
    pollOnce();
    EXPECT_EQ(state().getWord(ConsoleState::kRateWord), 88200u);
    EXPECT_TRUE(rateButton(88200).getToggleState());
    EXPECT_FALSE(rateButton(48000).getToggleState());
}

TEST_F(SampleRateTest, BeforeVistaARateTheDeviceDoesNotOfferIsShownAsNoneAndNeverSent)
{
    open("--model d8", false); // 44.1 to 96 kHz
    for (uint32_t hz : {22050u, 32000u, 192000u})
    {
        state().setWord(ConsoleState::kRateWord, hz);
        rate().handleCommandMessage(0);
        for (int k = 0; k < rate().getButtonCount(); ++k)
            EXPECT_FALSE(rate().getButton(k)->getToggleState()) << hz;
        trace_.clear();
        content().getHwThread()->queueSet(rate()); // as a session load sends every control
        drain();
        EXPECT_TRUE(requests().empty()) << hz;
    }
}

TEST_F(SampleRateTest, BeforeVistaARateReadUnderWayWhenTheUserChangesTheRateIsDropped)
{
    open("--model st8", false);
    // The change comes while the device's rate is being read (as after a poll that saw another rate):
    // the read brings back the rate from before the change, which must not replace it.
    auto whileARateIsRead = [&](const std::function<void()>& change)
    {
        ASSERT_EQ(bus_.devsim("fault u1 vdc:3/1 hold"), 0) << bus_.err;
        content().getHwThread()->queueGet(rate());
        ASSERT_TRUE(pumpUntil([&] { return bus_.dumped("u1", "fault") == "vdc:3/1 hold holding 1"; }));
        change();
        ASSERT_EQ(bus_.devsim("fault u1 clear"), 0) << bus_.err;
        // The thread goes on with the reads queued after the held one before it takes the change's
        // write: a second round has it sent.
        drain();
        drain();
    };
    whileARateIsRead(
        [&]
        {
            juce::ToggleButton& button = rateButton(96000);
            button.triggerClick();
            ASSERT_TRUE(pumpUntil([&] { return button.getToggleState(); }));
        });
    EXPECT_EQ(state().getWord(ConsoleState::kRateWord), 96000u);
    EXPECT_EQ(deviceRate(), 96000);

    whileARateIsRead(
        [&]
        {
            state().setWord(ConsoleState::kRateWord, 44100); // a loaded session's rate
            console::applyToConsole(content());
        });
    EXPECT_EQ(state().getWord(ConsoleState::kRateWord), 44100u);
    EXPECT_EQ(deviceRate(), 44100);
    EXPECT_TRUE(rateButton(44100).getToggleState());

    // "Reset" sends the session's rate again, whatever another program set meanwhile.
    ASSERT_EQ(device_->setClock(88200, -1), 0);
    whileARateIsRead(
        [&]
        {
            rate().resetToDefault();
            content().getHwThread()->queueSet(rate());
        });
    EXPECT_EQ(state().getWord(ConsoleState::kRateWord), 44100u);
    EXPECT_EQ(deviceRate(), 44100);
}

namespace
{

// A child of the page that hears the page's enablement change (a rate click on Vista disables the page
// between the click's new rate and its SET).
class EnablementProbe : public juce::Component
{
public:
    std::function<void(bool enabled)> onChange;

private:
    void enablementChanged() override
    {
        if (onChange)
            onChange(isEnabled());
    }
};

} // namespace

TEST_F(SampleRateTest, OnVistaARateClickSetsTheCoreAudioRateAndPausesThePageForTwoSeconds)
{
    testsupport::ManualClock clock;
    open("--model st8");
    EXPECT_EQ(state().getSampleRate(), 48000);
    EXPECT_TRUE(rateButton(48000).getToggleState());
    EXPECT_EQ(page().getSampleRateDisplay()->getLabel().getText(), "48 kHz");

    EnablementProbe probe;
    page().addChildComponent(probe);
    uint32_t pausedAt = 0;
    uint32_t resumedAt = 0;
    probe.onChange = [&](bool enabled) { (enabled ? resumedAt : pausedAt) = clock.elapsed(); };
    click(rateButton(96000));
    EXPECT_EQ(requests(), std::vector<std::string>({"DC 16 96000"}));
    EXPECT_EQ(state().getSampleRate(), 96000);
    EXPECT_FALSE(page().isEnabled());
    EXPECT_FALSE(rateButton(44100).isEnabled());
    // The pause is counted on the tick clock, whatever the page's timer does meanwhile in real time: a
    // poll every 25 ms of the clock finds the page paused until two seconds have passed, and the first
    // poll after them ends the pause.
    constexpr uint32_t kStepMs = 25;
    while (!page().isEnabled() && clock.elapsed() - pausedAt < 3000)
    {
        sim::os::advanceManualClock(kStepMs);
        ASSERT_NO_FATAL_FAILURE(pollOnce());
    }
    page().removeChildComponent(&probe);
    ASSERT_TRUE(page().isEnabled());
    EXPECT_GE(resumedAt - pausedAt, uint32_t(console::Settings::kChangePauseMs));
    EXPECT_LT(resumedAt - pausedAt, console::Settings::kChangePauseMs + 2 * kStepMs);

    // The display reads the clock after every poll.
    pollOnce();
    EXPECT_EQ(page().getSampleRateDisplay()->getLabel().getText(), "96 kHz");
    EXPECT_EQ(state().getWord(ConsoleState::kRateWord), 96000u);
}

TEST_F(SampleRateTest, OnVistaNothingIsSentBeforeTheDriversRateWasRead)
{
    // The driver never answers its rate: the Core Audio rate stays unknown.
    open("--model st8", true, [&] { ASSERT_EQ(bus_.devsim("fault u1 dc:15 fail always"), 0); });
    EXPECT_EQ(state().getSampleRate(), 0);
    trace_.clear();
    content().getHwThread()->queueSet(rate()); // as a session load sends every control
    drain();
    EXPECT_TRUE(requests().empty());
}

TEST_F(SampleRateTest, OnVistaARateSetByAnotherProgramIsShownByBothGroups)
{
    open("--model st8");
    click(rateButton(96000));
    ASSERT_EQ(deviceRate(), 96000);
    // A host sets 48 kHz between a poll and the display's read of the clock, which therefore sees the
    // new rate first.
    ASSERT_EQ(device_->setDriverSampleRate(48000), 0);
    content().getHwThread()->queueGet(*page().getSampleRateDisplay());
    drain();
    ASSERT_EQ(state().getWord(ConsoleState::kRateWord), 48000u);
    pollOnce();
    EXPECT_EQ(page().getSampleRateDisplay()->getLabel().getText(), "48 kHz");
    EXPECT_EQ(state().getSampleRate(), 48000);
    EXPECT_TRUE(rateButton(48000).getToggleState());
    EXPECT_FALSE(rateButton(96000).getToggleState());
}

TEST_F(SampleRateTest, ARateReadBegunAsAClickIsBeingSentCannotTakeBackTheOldRate)
{
    open("--model st8");
    // The rate's read begins inside the click, once the click has set the new rate and paused the page
    // and before its SET is queued, and is held there: it brings back the old rate.
    EnablementProbe probe;
    page().addChildComponent(probe);
    probe.onChange = [&, held = false](bool enabled) mutable
    {
        if (!enabled && !std::exchange(held, true))
        {
            EXPECT_TRUE(holdRequest("dc:15", [&] { content().getHwThread()->queueGet(rate()); }));
        }
    };
    juce::ToggleButton& button = rateButton(96000);
    button.triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return !page().isEnabled(); }));
    releaseRequest();
    page().removeChildComponent(&probe);
    EXPECT_EQ(state().getSampleRate(), 96000);
    EXPECT_TRUE(button.getToggleState());
    EXPECT_EQ(deviceRate(), 96000);
}

TEST_F(SampleRateTest, ALockClickMadeWhileTheLockIsBeingReadIsSentAndKept)
{
    open("--model st8", false);
    console::StSampleRateLock& lock = *rate().getLock();
    ASSERT_TRUE(holdRequest("dc:3", [&] { content().getHwThread()->queueGet(lock); }));
    lock.triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return lock.getToggleState(); }));
    trace_.clear();
    releaseRequest();
    EXPECT_EQ(requests(), std::vector<std::string>({"DC 3", "DC 10 4294967295 1"}));
    EXPECT_TRUE(lock.getLockValue());
    EXPECT_TRUE(lock.getToggleState());
}

// --- clock source ---

TEST_F(SettingsTest, ChoosingAClockSendsItWithTheRateKeptAndStoresIt)
{
    open("--model st8");
    console::ClockSource& clock = *page().getClockSource();
    EXPECT_EQ(clock.getSelected(), 0);
    EXPECT_TRUE(clock.getButton(0)->getToggleState());
    trace_.clear();
    clock.getButton(2)->triggerClick(); // Word
    ASSERT_TRUE(pumpUntil([&] { return clock.getSelected() == 2; }));
    drain();
    EXPECT_EQ(requests(), std::vector<std::string>({"3/0 2 4294967295 0"}));
    EXPECT_EQ(state().getWord(ConsoleState::kClockWord), 2u);
    EXPECT_FALSE(clock.getButton(0)->getToggleState());
}

TEST_F(SettingsTest, WithoutAnInternalClockTheSelectionStartsAtTheLowestSupportedClock)
{
    device::HwInfoCaps caps = consoleapptest::makeCaps({{0, 2}}, {{0, 2}});
    caps.clockMask = 0x6; // FireWire and Word
    caps.minSampleRate = 44100;
    caps.maxSampleRate = 48000;
    open(capsFile(caps));
    console::ClockSource& clock = *page().getClockSource();
    // The unit's stored session names the internal clock, which it lacks.
    EXPECT_EQ(clock.getSelected(), 1);
    EXPECT_TRUE(clock.getButton(1)->getToggleState());
    EXPECT_EQ(state().getWord(ConsoleState::kClockWord), 1u);
}

TEST_F(SettingsTest, ClockButtonsAreGreyedWhileTheirClockIsNotDetectedButInternalNever)
{
    open("--model st8");
    console::ClockSource& clock = *page().getClockSource();
    state().setWord(ConsoleState::kClockWord, 1);
    clock.loadFromState(state(), false);
    console::PolledSnapshot snapshot = content().getPollCtrl()->getSnapshot();
    // The first poll already counts when nothing at all is detected.
    snapshot.polled.status = 0;
    clock.updateLockStatus(snapshot);
    EXPECT_TRUE(clock.getButton(0)->isEnabled());
    for (int source : {1, 2, 3})
        EXPECT_FALSE(clock.getButton(source)->isEnabled()) << source;
    snapshot.polled.status = 0x4; // Word only
    clock.updateLockStatus(snapshot);
    EXPECT_TRUE(clock.getButton(0)->isEnabled());
    EXPECT_FALSE(clock.getButton(1)->isEnabled());
    EXPECT_TRUE(clock.getButton(2)->isEnabled());
    EXPECT_FALSE(clock.getButton(3)->isEnabled());
    // The source chosen before its clock was lost stays on.
    EXPECT_TRUE(clock.getButton(1)->getToggleState());
    snapshot.polled.status = 0xF | 0x100; // and MIDI activity
    clock.updateLockStatus(snapshot);
    EXPECT_TRUE(clock.getButton(1)->isEnabled());
}

TEST_F(SettingsTest, AStoredClockIndexTheDeviceLacksKeepsTheSelectionAndIsOverwritten)
{
    open("--model st8"); // no ADAT
    console::ClockSource& clock = *page().getClockSource();
    for (uint32_t index : {4u, 6u, 0xFFFFFFFFu, 40u})
    {
        state().setWord(ConsoleState::kClockWord, 3);
        clock.loadFromState(state(), false);
        state().setWord(ConsoleState::kClockWord, index);
        clock.loadFromState(state(), false);
        EXPECT_EQ(clock.getSelected(), 3) << index;
        EXPECT_EQ(state().getWord(ConsoleState::kClockWord), 3u) << index;
    }
}

// --- buffer size ---

// Another process's ASIO driver streaming from the unit (while it lives).
class StreamingClient
{
public:
    explicit StreamingClient(const std::string& path) : handle_(platform::createFile(path))
    {
        event_.create();
        device::DriverControlBlock block{};
        block.flag = 1;
        block.subCode = device::kDcOpenStreaming;
        block.setWordAt(12, 1);
        const uint64_t event = event_.handle();
        std::memcpy(reinterpret_cast<uint8_t*>(&block) + 16, &event, sizeof event);
        opened_ = platform::deviceIoControl(handle_, device::IOCTL_DRIVER_CONTROL, &block, sizeof block,
                                            &block, sizeof block, nullptr) &&
                  block.status == 0;
    }
    ~StreamingClient() { platform::closeHandle(handle_); }
    bool isOpen() const { return opened_; }

private:
    platform::Handle handle_;
    platform::Event event_;
    bool opened_ = false;
};

TEST_F(SettingsTest, TheBufferSizeShowsItsLengthAtTheRateAndADragSendsIt)
{
    open("--model st8");
    console::BufferSize& buffer = *page().getBufferSize();
    console::StBufferSizeSlider& slider = buffer.getSlider();
    EXPECT_EQ(buffer.getSize(), 256);
    EXPECT_EQ(slider.getTextFromValue(256), "256 samples / 5.3 msec");
    state().setWord(ConsoleState::kRateWord, 44100);
    EXPECT_EQ(slider.getTextFromValue(2048), "2048 samples / 46.4 msec");
    state().setWord(ConsoleState::kRateWord, 0);
    EXPECT_EQ(slider.getTextFromValue(2048), "");

    trace_.clear();
    {
        juce::Slider::ScopedDragNotification drag(slider);
        slider.setValue(500, juce::sendNotificationSync);
    }
    drain();
    EXPECT_EQ(requests(), std::vector<std::string>({"DC 9 512"}));

    // A size set elsewhere shows after the next poll.
    ASSERT_EQ(bus_.devsim("set u1 buffer-size 128"), 0);
    const int shown = content().getRefreshCount();
    content().poll();
    ASSERT_TRUE(pumpUntil([&] { return content().getRefreshCount() > shown; }));
    drain();
    EXPECT_EQ(slider.getValue(), 128);
}

TEST_F(SettingsTest, WhileAnAsioApplicationStreamsABufferSizeIsRefusedWithAnAlertAndTheSliderGoesBack)
{
    open("--model st8");
    StreamingClient client(device_->getDevicePath());
    ASSERT_TRUE(client.isOpen());
    console::BufferSize& buffer = *page().getBufferSize();
    trace_.clear();
    {
        juce::Slider::ScopedDragNotification drag(buffer.getSlider());
        buffer.getSlider().setValue(1024, juce::sendNotificationSync);
    }
    ASSERT_TRUE(pumpUntil([&] { return !boxes_.empty(); }));
    drain();
    EXPECT_EQ(requests(), std::vector<std::string>({"DC 9 1024", "DC 3"}));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].title, "Varnel Strellis Console");
    EXPECT_EQ(boxes_[0].text,
              "\nYour device is currently being used by an ASIO application.\n\nPlease change the "
              "buffer size from that application using\nthe ASIO control panel.");
    EXPECT_EQ(buffer.getSize(), 256);
    EXPECT_EQ(buffer.getSlider().getValue(), 256);
}

TEST_F(SettingsTest, ADragMadeWhileTheBufferSizeIsBeingReadIsSentAndKept)
{
    open("--model st8");
    console::BufferSize& buffer = *page().getBufferSize();
    ASSERT_TRUE(holdRequest("dc:3", [&] { content().getHwThread()->queueGet(buffer); }));
    {
        juce::Slider::ScopedDragNotification drag(buffer.getSlider());
        buffer.getSlider().setValue(512, juce::sendNotificationSync);
    }
    trace_.clear();
    releaseRequest();
    EXPECT_EQ(requests(), std::vector<std::string>({"DC 3", "DC 9 512"}));
    EXPECT_EQ(buffer.getSize(), 512);
    EXPECT_EQ(buffer.getSlider().getValue(), 512);
}

// --- routing ---

TEST_F(SettingsTest, AChosenPairSendsTheWholeRoutingRecordFromTheImage)
{
    open("--model st8");
    console::IsocMap& routing = *page().getIsocMap();
    for (int i : {0, 1, 3, 7, 69})
        state().setWord(ConsoleState::kRoutingWords + i, uint32_t(100 + i));
    trace_.clear();
    routing.getComboBox(0).setSelectedItemIndex(2, juce::sendNotificationSync);
    drain();
    std::string expected = "9/6";
    for (int i = 0; i < 70; ++i)
        expected.append(" ").append(std::to_string(state().getWord(ConsoleState::kRoutingWords + i)));
    EXPECT_EQ(requests(), std::vector<std::string>({expected}));
    EXPECT_EQ(state().getWord(ConsoleState::kRoutingWords + 4), 4u);
    EXPECT_EQ(state().getWord(ConsoleState::kRoutingWords + 7), 107u);
}

TEST_F(SettingsTest, RoutingShowsThePairOfEachWordAndABoxShowingNoneKeepsItsWord)
{
    open("--model st8");
    console::IsocMap& routing = *page().getIsocMap();
    state().setWord(ConsoleState::kRoutingWords + 4, 5);
    state().setWord(ConsoleState::kRoutingWords + 5, 6);
    state().setWord(ConsoleState::kRoutingWords + 6, 0xFFFFFFFF);
    routing.loadFromState(state(), false);
    EXPECT_EQ(routing.getComboBox(0).getSelectedItemIndex(), 2);
    EXPECT_EQ(routing.getComboBox(1).getSelectedItemIndex(), -1);
    EXPECT_EQ(routing.getComboBox(2).getSelectedItemIndex(), 0);

    routing.getComboBox(2).setSelectedItemIndex(1, juce::sendNotificationSync);
    EXPECT_EQ(state().getWord(ConsoleState::kRoutingWords + 5), 6u);
    EXPECT_EQ(state().getWord(ConsoleState::kRoutingWords + 6), 2u);

    routing.resetToDefault();
    const uint32_t reset[] = {0, 0, 3, 0, 0, 2, 4, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(state().getWord(ConsoleState::kRoutingWords + i), reset[i]) << i;
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(routing.getComboBox(row).getSelectedItemIndex(), row);
}

// --- phantom power, S/PDIF format, wave devices ---

TEST_F(SettingsTest, PhantomPowerAndTheSpdifFormatShareTheFlagsWordAndSendTheirCommands)
{
    open("--model st8");
    console::PhantomPower& phantom = *page().getPhantomPower();
    console::SpdifFormat& spdif = *page().getSpdifFormat();
    trace_.clear();
    phantom.getButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return phantom.getValue() == 1; }));
    spdif.getProfessionalButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return spdif.getValue() == 1; }));
    drain();
    EXPECT_EQ(state().getWord(ConsoleState::kFlagsWord), 0x80000002u);
    spdif.getConsumerButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return spdif.getValue() == 0; }));
    drain();
    EXPECT_EQ(requests(), std::vector<std::string>({"9/4 1", "3/3 2 0", "3/3 0 2"}));
    EXPECT_EQ(state().getWord(ConsoleState::kFlagsWord), 0x80000000u);

    // A session with phantom power and the professional format shows both and sends them.
    state().setWord(ConsoleState::kFlagsWord, 0x80000002u);
    trace_.clear();
    for (console::HwCtrl* control :
         {static_cast<console::HwCtrl*>(&phantom), static_cast<console::HwCtrl*>(&spdif)})
    {
        control->loadFromState(state(), true);
        content().getHwThread()->queueSet(*control);
    }
    drain();
    EXPECT_TRUE(phantom.getButton().getToggleState());
    EXPECT_TRUE(spdif.getProfessionalButton().getToggleState());
    EXPECT_EQ(requests(), std::vector<std::string>({"9/4 1", "3/3 2 0"}));
    spdif.resetToDefault();
    EXPECT_TRUE(spdif.getConsumerButton().getToggleState());
    EXPECT_EQ(state().getWord(ConsoleState::kFlagsWord), 0x80000000u);
}

TEST_F(SettingsTest, BeforeVistaAWaveDeviceChangeSetsTheDriverFlagAndAsksForARestart)
{
    open("--model st8", false);
    console::Surround& waves = *page().getSurround();
    EXPECT_TRUE(waves.getStereoButton().getToggleState()); // the driver's mode
    trace_.clear();
    waves.getStereoButton().triggerClick();
    ASSERT_TRUE(pumpPosted());
    drain();
    EXPECT_TRUE(requests().empty());
    EXPECT_TRUE(boxes_.empty());

    waves.getSurroundButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return waves.getValue() == 1; }));
    drain();
    EXPECT_EQ(requests(), std::vector<std::string>({"DC 10 4294967295 2"}));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "To apply this change, please restart or reconnect your Strellis.");
    trace_.clear();
    waves.getStereoButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return waves.getValue() == 0; }));
    drain();
    EXPECT_EQ(requests(), std::vector<std::string>({"DC 10 4294967293"}));
}

TEST_F(SettingsTest, OnVistaAWaveDeviceChangePausesThePageAndAFailedOneShowsTheDriversModeAgain)
{
    open("--model st8");
    console::Surround& waves = *page().getSurround();
    ASSERT_EQ(bus_.devsim("fault u1 dc:10 fail"), 0);
    waves.getSurroundButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return !page().isEnabled(); }));
    drain();
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(waves.getValue(), 0);
    EXPECT_TRUE(waves.getStereoButton().getToggleState());
    EXPECT_FALSE(waves.getSurroundButton().getToggleState());
}

TEST_F(SettingsTest, AWaveDeviceModeOrRateLockNeverReadIsNotSentByALoadOrAResetButAChoiceIs)
{
    // The driver's information cannot be read while the window opens: the driver's mode and rate lock
    // are unknown. (Before Vista, so that the page does not pause after a choice and has the lock.)
    open("--model st8", false, [&] { ASSERT_EQ(bus_.devsim("fault u1 dc:3 fail always"), 0); });
    ASSERT_EQ(bus_.devsim("fault u1 clear"), 0);
    console::Surround& waves = *page().getSurround();
    EXPECT_TRUE(waves.getSurroundButton().getToggleState());
    const auto loadAndReset = [&]
    {
        trace_.clear();
        console::applyToConsole(content());
        waves.resetToDefault();
        content().getHwThread()->queueSet(waves);
        drain();
    };
    const auto driverFlagsSent = [&]
    {
        const std::vector<std::string> all = requests();
        return std::count_if(all.begin(), all.end(),
                             [](const std::string& r) { return r.rfind("DC 10", 0) == 0; });
    };
    loadAndReset();
    EXPECT_EQ(driverFlagsSent(), 0);

    // A choice that cannot be sent leaves the mode as unknown as it was, shown as at the start.
    ASSERT_EQ(bus_.devsim("fault u1 dc:10 fail"), 0);
    waves.getStereoButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return boxes_.size() == 1u; }));
    drain();
    EXPECT_EQ(waves.getValue(), 1);
    EXPECT_TRUE(waves.getSurroundButton().getToggleState());
    loadAndReset();
    EXPECT_TRUE(modesSent().empty());

    // The mode shown is no mode of the driver's: choosing it is a choice too.
    waves.getSurroundButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return boxes_.size() == 2u; }));
    drain();
    EXPECT_EQ(modesSent(), std::vector<std::string>({"DC 10 4294967295 2"}));
}

TEST_F(SettingsTest, AWaveDeviceChoiceMadeBeforeTheModesReadBeginsIsSentAndKept)
{
    open("--model st8", false);
    console::Surround& waves = *page().getSurround();
    ASSERT_TRUE(waves.getStereoButton().getToggleState()); // the driver's mode
    // A read of the rate holds the thread; the mode's read is queued behind it, as when the window
    // opens, and the user chooses before it begins.
    ASSERT_EQ(bus_.devsim("fault u1 vdc:3/1 hold"), 0) << bus_.err;
    content().getHwThread()->queueGet(*page().getSampleRate());
    ASSERT_TRUE(pumpUntil([&] { return bus_.dumped("u1", "fault") == "vdc:3/1 hold holding 1"; }));
    content().getHwThread()->queueGet(waves);
    waves.getSurroundButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return waves.getValue() == 1; }));
    trace_.clear();
    ASSERT_EQ(bus_.devsim("fault u1 clear"), 0) << bus_.err;
    drain();
    drain();
    EXPECT_EQ(modesSent(), std::vector<std::string>({"DC 10 4294967295 2"}));
    EXPECT_EQ(waves.getValue(), 1);
    EXPECT_TRUE(waves.getSurroundButton().getToggleState());
}

TEST_F(SettingsTest, AWaveDeviceChoiceMadeWhileAFailingSendIsUnderWayIsSentNext)
{
    open("--model st8");
    console::Surround& waves = *page().getSurround();
    ASSERT_EQ(waves.getValue(), 0); // the driver's mode
    // The mode is sent again (as "Reset" does) and held on its way; the user chooses meanwhile; then the
    // unit is pulled out, so that send fails, and so does the next.
    ASSERT_TRUE(holdRequest("dc:10", [&] { content().getHwThread()->queueSet(waves); }));
    waves.getSurroundButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return waves.getValue() == 1; }));
    trace_.clear();
    ASSERT_EQ(bus_.devsim("unplug u1"), 0) << bus_.err;
    drain();
    drain();
    EXPECT_EQ(modesSent(), std::vector<std::string>({"DC 10 4294967293", "DC 10 4294967295 2"}));
    EXPECT_EQ(waves.getValue(), 0);
    EXPECT_TRUE(waves.getStereoButton().getToggleState());
}

// --- version information ---

TEST_F(SettingsTest, TheVersionTextNamesEachPieceWithItsVersionOneLineEach)
{
    open("--model st8");
    const std::string system = bus_.dir + "/system32";
    std::filesystem::create_directories(system);
    ASSERT_TRUE(testsupport::writeVersionedFile(system + "/ASIOStrellis.so", 4, 8, 0, 3));
    ASSERT_EQ(bus_.devsim("os system-dir " + system), 0);
    ASSERT_EQ(bus_.devsim("set u1 driver-version 0x04090100"), 0);
    juce::Component about;
    console::StVersions versions(content().getDevice(), about);
    EXPECT_EQ(versions.getParentComponent(), &about);
    EXPECT_EQ(versions.getName(), "versions");
    EXPECT_EQ(versions.juce::GroupComponent::getText(), "Version information");
    EXPECT_EQ(versions.getBounds().getWidth(), 220);
    EXPECT_EQ(versions.getNameLabel(4).getBounds(), juce::Rectangle<int>(26, 108, 100, 20));
    EXPECT_EQ(versions.getValueLabel(4)->getBounds(), juce::Rectangle<int>(136, 108, 70, 20));
    // The test program carries no version of its own; the console program does (below).
    EXPECT_EQ(versions.getText(), juce::String("WDM driver 4.9.1\r\nASIO driver 4.8.0.3\r\nConsole \r\n"
                                               "ARM firmware 4.8\r\nDSP firmware 4.8\r\n"));
}

TEST_F(SettingsTest, WithoutASystemFolderOnlyTheAsioDriverRowIsEmptyAndAnFpgaIsNamed)
{
    open("--model m1200f");
    ASSERT_EQ(bus_.devsim("os system-dir --fail"), 0);
    juce::Component about;
    console::StVersions versions(content().getDevice(), about);
    EXPECT_EQ(versions.getValueLabel(1), nullptr);
    EXPECT_EQ(versions.getText(), juce::String("WDM driver 4.8\r\nASIO driver \r\nConsole \r\n"
                                               "ARM firmware 4.7\r\nFPGA 4.7\r\n"));
}

TEST(ConsoleProgram, CarriesItsFileVersion)
{
    juce::String text;
    ASSERT_TRUE(console::getFileVersionText(STRELLIS_CONSOLE_FILE, text));
    EXPECT_EQ(text, "4.8");
}
