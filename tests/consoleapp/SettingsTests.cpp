// The settings page of a console window for simulated interfaces: which groups it has and where, and
// what each group sends to the device, read from the simulator's trace.

#include "CapsBuilder.h"
#include "ConsoleTestSupport.h"
#include "console/ConsoleLookAndFeel.h"
#include "console/ConsoleWindow.h"
#include "console/SampleRate.h"
#include "console/Settings.h"
#include "console/SettingsGroups.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace
{

using console::ConsoleState;
using consoletest::pumpUntil;

// Queued for a read after everything else: once it has run, every SET and GET queued before it has too.
class Barrier : public console::HwCtrl
{
public:
    using HwCtrl::HwCtrl;
    void readFromDevice() override { done.store(true); }
    void writeToDevice() override {}
    void loadFromState(ConsoleState&, bool) override {}
    void storeToState(ConsoleState&) override {}
    void resetToDefault() override {}
    std::atomic<bool> done{false};
};

struct Box
{
    std::string title;
    std::string text;
};

class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        const char* home = std::getenv("HOME");
        oldHome_ = home != nullptr ? home : "";
        const std::string dir = bus_.dir + "/home";
        std::filesystem::create_directories(dir);
        ::setenv("HOME", dir.c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        ::unsetenv("STRELLIS_WINDOWS");
        console::installConsoleLookAndFeel();
        previousPresenter_ = platform::setMessageBoxPresenter(
            [this](const std::string& title, const std::string& text, int)
            {
                boxes_.push_back({title, text});
                return platform::IDOK;
            });
    }

    void TearDown() override
    {
        if (window_ != nullptr)
        {
            // The barrier goes before the window: the thread that may still hold it stops first.
            console::hwthread* thread = content().getHwThread();
            thread->clearWindow();
            thread->signalThreadShouldExit();
            thread->notify();
            thread->waitForStop(-1);
        }
        barrier_.reset();
        window_.reset();
        device_ = nullptr;
        platform::setMessageBoxPresenter(previousPresenter_);
        if (!oldHome_.empty())
            ::setenv("HOME", oldHome_.c_str(), 1);
    }

    // Plugs u1 ("--model st8", "--caps <file>", ...) on a machine running XP or Vista, and opens its
    // window with every read its controls queued done.
    void open(const std::string& plugArguments, bool vista = true,
              const std::function<void()>& beforeWindow = {})
    {
        ASSERT_EQ(bus_.devsim(std::string("os windows ") + (vista ? "vista" : "xp")), 0) << bus_.err;
        ASSERT_EQ(bus_.devsim("plug u1 " + plugArguments), 0) << bus_.err;
        if (beforeWindow)
            beforeWindow();
        device_ = consoletest::firstDevice();
        ASSERT_NE(device_, nullptr);
        ASSERT_TRUE(device_->open());
        window_ = std::make_unique<console::ConsoleWindow>(*device_);
        window_->setVisible(true);
        barrier_ = std::make_unique<Barrier>(*content().getControls());
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

    // Waits until the hardware thread has done everything queued so far and its results are shown.
    void drain()
    {
        barrier_->done.store(false);
        content().getHwThread()->queueGet(*barrier_);
        ASSERT_TRUE(pumpUntil([&] { return barrier_->done.load(); }));
        pumpUntil([] { return false; }, 30);
    }

    console::CwContent& content() const { return window_->getContent(); }
    console::Settings& page() const { return *content().getSettings(); }
    ConsoleState& state() const { return window_->getState(); }

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

    testsupport::TempBus bus_;
    consoletest::Trace trace_{bus_.dir};
    std::string oldHome_;
    device::vhw::Ptr device_;
    std::unique_ptr<console::ConsoleWindow> window_;
    std::unique_ptr<Barrier> barrier_;
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
        pumpUntil([&] { return button.getToggleState(); }, 2000);
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
    ASSERT_TRUE(pumpUntil([&] { return !lock.getToggleState(); }, 2000));
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

TEST_F(SampleRateTest, OnVistaARateClickSetsTheCoreAudioRateAndPausesThePage)
{
    open("--model st8");
    EXPECT_EQ(state().getSampleRate(), 48000);
    EXPECT_TRUE(rateButton(48000).getToggleState());
    EXPECT_EQ(page().getSampleRateDisplay()->getLabel().getText(), "48 kHz");

    click(rateButton(96000));
    EXPECT_EQ(requests(), std::vector<std::string>({"DC 16 96000"}));
    EXPECT_EQ(state().getSampleRate(), 96000);
    EXPECT_FALSE(page().isEnabled());
    EXPECT_FALSE(rateButton(44100).isEnabled());
    ASSERT_TRUE(pumpUntil([&] { return page().isEnabled(); }));

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
