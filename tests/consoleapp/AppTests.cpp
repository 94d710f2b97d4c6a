// The whole console application in the test process, for simulated interfaces: the tray icon's menu
// and mouse handler (a bare X server has no notification area, so the tests call them directly), and
// the About window opened from a window's settings page, with its clipboard text and the firmware
// update it starts.

#include "ConsoleWindowFixture.h"
#include "VersionBlockBytes.h"
#include "console/core/Firmware.h"
#include "console/core/FirmwareUpdate.h"
#include "console/ui/app/AboutDlg.h"
#include "console/ui/app/ConsoleApp.h"
#include "console/ui/app/ConsoleTrayIcon.h"
#include "console/ui/window/FlashProgressWindow.h"
#include "console/ui/window/JuceMessageBox.h"
#include "platform/MessageBox.h"
#include "sim/Devsim.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>

namespace
{

using consoletest::pumpPosted;
using consoletest::pumpUntil;

// The application as the program runs it, except that quitting is only noted: the test process's
// message loop must go on. (A debug build of the framework notes once per test that this application
// was not made by the framework's own main; that is all.)
class TestApp : public console::ConsoleApp
{
public:
    int quitRequests = 0;

protected:
    void quitProgram() override { ++quitRequests; }
};

// Runs f once the topmost modal component is a T (checked every 20 ms on the message thread).
template <class T> class WhenModal : private juce::Timer
{
public:
    explicit WhenModal(std::function<void(T&)> f) : f_(std::move(f)) { startTimer(20); }
    ~WhenModal() override { stopTimer(); }
    bool hasRun() const { return ran_; }

private:
    void timerCallback() override
    {
        auto* modal = dynamic_cast<T*>(juce::ModalComponentManager::getInstance()->getModalComponent(0));
        if (modal == nullptr)
            return;
        stopTimer();
        ran_ = true;
        f_(*modal);
    }
    std::function<void(T&)> f_;
    bool ran_ = false;
};

struct Box
{
    std::string text;
    bool timerRunning;
};

class ApplicationTest : public consoletest::PrivateHomeFixture
{
protected:
    void SetUp() override
    {
        PrivateHomeFixture::SetUp();
        if (setUpStopped())
            return;
        ::unsetenv("STRELLIS_WINDOWS");
        ::setenv("STRELLIS_CONSOLE_LOCK", ("strellis-apptest-" + std::to_string(::getpid())).c_str(), 1);
    }

    void TearDown() override
    {
        whileBoxUp_ = nullptr;
        if (app_ != nullptr)
        {
            app_->shutdown();
            app_.reset();
        }
        console::setFirmwareFolder({});
        platform::setMessageBoxPresenter(previousPresenter_);
        ::unsetenv("STRELLIS_CONSOLE_LOCK");
        PrivateHomeFixture::TearDown();
    }

    // Starts the application; its boxes are recorded (with whether the poll timer ran) and answered.
    void start()
    {
        app_ = std::make_unique<TestApp>();
        app_->initialise({});
        previousPresenter_ = platform::setMessageBoxPresenter(
            [this](const std::string&, const std::string& text, int type)
            {
                boxes_.push_back({text, app_->getTimer().isTimerRunning()});
                if (whileBoxUp_)
                    whileBoxUp_(text);
                return (type & 0xF) == platform::MB_YESNO ? answer_ : platform::IDOK;
            });
    }

    // The firmware folder holds the Strellis 2's one image, a pattern of 3000 quadlets; returns it.
    std::vector<uint32_t> writeStrellis2Firmware(consoletest::DatHeader& header)
    {
        const juce::File folder = juce::File(bus_.dir).getChildFile("firmware");
        EXPECT_TRUE(folder.createDirectory());
        console::setFirmwareFolder(folder);
        header.quadCount = 3000;
        std::vector<uint32_t> image = consoletest::patternData(header.quadCount);
        consoletest::writeFile(folder.getChildFile("Doranth3.dat").getFullPathName().toStdString(),
                               consoletest::makeDat(consoletest::headerQuads(header), image));
        return image;
    }

    // Pulls the bus's one unit out and plugs it back in, as turning it off and on does; returns once the
    // application has handled both.
    void turnOffAndOn(const std::string& unit)
    {
        ASSERT_EQ(bus_.devsim("unplug " + unit), 0) << bus_.err;
        ASSERT_TRUE(pumpUntil([&] { return app_->getDeviceList()->getCount() == 0; }));
        ASSERT_TRUE(pumpPosted());
        ASSERT_EQ(bus_.devsim("plug " + unit), 0) << bus_.err;
        ASSERT_TRUE(pumpUntil([&] { return app_->getDeviceList()->getCount() == 1; }));
        ASSERT_TRUE(pumpPosted());
    }

    console::ConsoleTrayIcon& tray() const { return *app_->getTrayIcon(); }

    std::vector<console::ConsoleWindow*> windows() const
    {
        std::vector<console::ConsoleWindow*> out;
        console::ConsoleWindow* w = app_->getHead();
        for (int i = 0; i < app_->getWindowCount(); ++i, w = w->next)
            out.push_back(w);
        return out;
    }

    // Clicks "About" on the first window's settings page, lets `whileOpen` act on the dialog once it
    // shows, and returns when it has closed.
    void withAboutDialog(const std::function<void(console::AboutDlgContent&)>& whileOpen)
    {
        WhenModal<console::AboutDlg> act(
            [&](console::AboutDlg& dialog)
            {
                auto* about = dynamic_cast<console::AboutDlgContent*>(dialog.getContentComponent());
                ASSERT_NE(about, nullptr);
                whileOpen(*about);
            });
        app_->getHead()->getContent().getSettings()->getAboutButton().triggerClick();
        ASSERT_TRUE(pumpUntil(
            [&] {
                return act.hasRun() &&
                       juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0;
            }));
    }

    std::unique_ptr<TestApp> app_;
    std::vector<Box> boxes_;
    // Acts while a recorded box is up, before it is answered.
    std::function<void(const std::string& text)> whileBoxUp_;
    int answer_ = platform::IDNO;
    platform::MessageBoxPresenter previousPresenter_;
};

std::vector<std::string> menuTexts(const console::ConsoleTrayIcon::Menu& menu)
{
    std::vector<std::string> out;
    for (juce::PopupMenu::MenuItemIterator it(menu.items); it.next();)
    {
        const juce::PopupMenu::Item& item = it.getItem();
        out.push_back(item.isSeparator ? "-" : std::to_string(item.itemID) + " " + item.text.toStdString());
    }
    return out;
}

juce::MouseEvent clickWith(juce::Component& target, juce::ModifierKeys buttons)
{
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent(juce::Desktop::getInstance().getMainMouseSource(), {}, buttons, 0.0f, 0.0f, 0.0f,
                            0.0f, 0.0f, &target, &target, now, {}, now, 1, false);
}

// --- the tray icon ---

TEST_F(ApplicationTest, TheTrayMenuListsTheUnitsAndShowsHidesCascadesAndExits)
{
    ASSERT_EQ(bus_.devsim("plug u1 --model st8 --unique-name Alpha"), 0) << bus_.err;
    ASSERT_EQ(bus_.devsim("plug u2 --model st4 --unique-name Beta"), 0) << bus_.err;
    start();
    ASSERT_EQ(app_->getWindowCount(), 2);
    const console::ConsoleTrayIcon::Menu menu = tray().buildMenu();
    // The list keeps the unit found last first.
    EXPECT_EQ(menuTexts(menu),
              (std::vector<std::string>{"1 Beta", "2 Alpha", "-", "-1 Show all windows",
                                        "-2 Hide all windows", "-3 Cascade all windows", "-4 Exit"}));

    for (console::ConsoleWindow* w : windows())
        w->setTopLeftPosition(7, 7);
    tray().menuItemChosen(console::ConsoleTrayIcon::kCascade, menu);
    const juce::Rectangle<int> area =
        juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
    const juce::Point<int> first = console::cascadePosition(true, {}, area);
    ASSERT_TRUE(pumpUntil([&] { return app_->getHead()->getPosition() == first; }));
    EXPECT_EQ(app_->getHead()->next->getPosition(), console::cascadePosition(false, first, area));

    // Hiding closes every window through its close path; the program stays.
    tray().menuItemChosen(console::ConsoleTrayIcon::kHideAll, menu);
    ASSERT_TRUE(pumpUntil([&] { return app_->getWindowCount() == 0; }));
    EXPECT_EQ(app_->quitRequests, 0);

    tray().menuItemChosen(console::ConsoleTrayIcon::kShowAll, menu);
    ASSERT_TRUE(pumpUntil([&] { return app_->getWindowCount() == 2; }));
    EXPECT_EQ(app_->getHead()->getName(), "Beta Console");

    // A unit's item brings its window to the front, above any other.
    juce::DocumentWindow other("other", juce::Colours::grey, 0);
    other.setVisible(true);
    other.toFront(false);
    tray().menuItemChosen(2, menu);
    juce::Desktop& desktop = juce::Desktop::getInstance();
    ASSERT_TRUE(
        pumpUntil([&] { return desktop.getComponent(desktop.getNumComponents() - 1) == windows()[1]; }));
    EXPECT_EQ(app_->getWindowCount(), 2);

    tray().menuItemChosen(console::ConsoleTrayIcon::kExit, menu);
    ASSERT_TRUE(pumpUntil([&] { return app_->quitRequests == 1; }));
    EXPECT_EQ(app_->getWindowCount(), 0);
}

TEST_F(ApplicationTest, UnitsNamedWithAnyBytesOpenTheirWindowsAndTheProgramEndsWell)
{
    const std::string bad = "\xEF\xBF\xBD"; // U+FFFD
    const std::pair<std::string, std::string> units[] = {{"\xC0\x80", bad + bad},
                                                         {"a\xC0\xAF", "a" + bad + bad},
                                                         {"\xFF-\xFE", bad + "-" + bad},
                                                         {"\xED\xA0\x80", bad + bad + bad},
                                                         {"Cut \xE2\x82", "Cut " + bad}};
    std::set<std::string> expected;
    for (const auto& [name, text] : units)
    {
        std::string out, err;
        const std::string unit = std::string("u") + std::to_string(expected.size());
        ASSERT_EQ(sim::devsimMain({"plug", unit, "--model", "st8", "--unique-name", name}, out, err), 0)
            << err;
        expected.insert(text);
    }
    start();
    ASSERT_EQ(app_->getWindowCount(), 5);
    std::set<std::string> titles, contents, items;
    for (console::ConsoleWindow* w : windows())
    {
        titles.insert(w->getName().toStdString());
        contents.insert(w->getContent().getName().toStdString());
    }
    const console::ConsoleTrayIcon::Menu menu = tray().buildMenu();
    for (juce::PopupMenu::MenuItemIterator it(menu.items); it.next();)
        if (it.getItem().itemID > 0)
            items.insert(it.getItem().text.toStdString());
    EXPECT_EQ(contents, expected);
    EXPECT_EQ(items, expected);
    for (const std::string& text : expected)
        EXPECT_EQ(titles.count(text + " Console"), 1u) << text;

    tray().menuItemChosen(console::ConsoleTrayIcon::kExit, menu);
    ASSERT_TRUE(pumpUntil([&] { return app_->quitRequests == 1; }));
    EXPECT_EQ(app_->getWindowCount(), 0);
    const juce::File config = juce::File(juce::String(home_)).getChildFile(".config/Varnel Strellis Console");
    EXPECT_EQ(config.getNumberOfChildFiles(juce::File::findFiles, "*.properties"), 5);
}

TEST_F(ApplicationTest, ShowAllWindowsWhileAHiddenWindowStillWritesFlashOpensItAgainOnceItHasGone)
{
    ASSERT_EQ(bus_.devsim("plug u1 --model st8 --unique-name Alpha"), 0) << bus_.err;
    start();
    const console::ConsoleTrayIcon::Menu menu = tray().buildMenu();
    // The new unit's window stored the default names its factory session lacks, so closing it writes
    // flash; the first write is held.
    ASSERT_EQ(bus_.devsim("fault u1 vdc:1/2 hold"), 0) << bus_.err;
    console::ConsoleWindow* closing = app_->getHead();
    const int closingSerial = closing->getSerial();
    tray().menuItemChosen(console::ConsoleTrayIcon::kHideAll, menu);
    ASSERT_TRUE(pumpUntil([&] { return bus_.dumped("u1", "fault") == "vdc:1/2 hold holding 1"; }));
    ASSERT_EQ(app_->getHead(), closing);
    EXPECT_FALSE(closing->isVisible());

    tray().menuItemChosen(console::ConsoleTrayIcon::kShowAll, menu);
    ASSERT_TRUE(pumpUntil([&] { return closing->reopensWhenClosed(); }));
    ASSERT_EQ(bus_.devsim("fault u1 clear"), 0) << bus_.err;
    ASSERT_TRUE(pumpUntil(
        [&]
        {
            return app_->getWindowCount() == 1 && app_->getHead()->getSerial() != closingSerial &&
                   app_->getHead()->isVisible();
        },
        20000));
    EXPECT_EQ(app_->quitRequests, 0);
}

TEST_F(ApplicationTest, ExitWhileHiddenWindowsStillWriteFlashEndsTheProgramOnceTheyHaveGoneOrBeenUnplugged)
{
    ASSERT_EQ(bus_.devsim("plug u1 --model st8 --unique-name Alpha"), 0) << bus_.err;
    ASSERT_EQ(bus_.devsim("plug u2 --model st4 --unique-name Beta"), 0) << bus_.err;
    start();
    const console::ConsoleTrayIcon::Menu menu = tray().buildMenu();
    ASSERT_EQ(bus_.devsim("fault u1 vdc:1/2 hold"), 0) << bus_.err;
    ASSERT_EQ(bus_.devsim("fault u2 vdc:1/2 hold"), 0) << bus_.err;
    tray().menuItemChosen(console::ConsoleTrayIcon::kHideAll, menu);
    ASSERT_TRUE(pumpUntil(
        [&]
        {
            return bus_.dumped("u1", "fault") == "vdc:1/2 hold holding 1" &&
                   bus_.dumped("u2", "fault") == "vdc:1/2 hold holding 1";
        }));

    tray().menuItemChosen(console::ConsoleTrayIcon::kExit, menu);
    ASSERT_EQ(bus_.devsim("fault u1 clear"), 0) << bus_.err;
    ASSERT_TRUE(pumpUntil([&] { return app_->getWindowCount() == 1; }));
    EXPECT_EQ(app_->quitRequests, 0);
    // The last one's unit is pulled out while it writes: its window goes at once, and so does the program.
    ASSERT_EQ(bus_.devsim("unplug u2"), 0) << bus_.err;
    ASSERT_TRUE(pumpUntil([&] { return app_->getWindowCount() == 0; }));
    EXPECT_EQ(app_->quitRequests, 1);
}

TEST_F(ApplicationTest, AUnitUnpluggedWhileTheTrayMenuWasOpenIsNotShownAndNoUnitLeavesOnlyExit)
{
    ASSERT_EQ(bus_.devsim("plug u1 --model st8 --unique-name Alpha"), 0) << bus_.err;
    ASSERT_EQ(bus_.devsim("plug u2 --model st4 --unique-name Beta"), 0) << bus_.err;
    start();
    const console::ConsoleTrayIcon::Menu menu = tray().buildMenu();
    tray().menuItemChosen(console::ConsoleTrayIcon::kHideAll, menu);
    ASSERT_TRUE(pumpUntil([&] { return app_->getWindowCount() == 0; }));

    ASSERT_EQ(bus_.devsim("unplug u2"), 0) << bus_.err;
    ASSERT_TRUE(pumpUntil([&] { return app_->getDeviceList()->getCount() == 1; }));
    // The menu still holds the unplugged unit's device object.
    EXPECT_EQ(menu.devices[0]->getUniqueName(), "Beta");
    tray().menuItemChosen(1, menu);
    tray().menuItemChosen(console::ConsoleTrayIcon::kShowAll, menu);
    ASSERT_TRUE(pumpUntil([&] { return app_->getWindowCount() == 1; }));
    ASSERT_TRUE(pumpPosted()); // every request the two choices posted
    ASSERT_EQ(app_->getWindowCount(), 1);
    EXPECT_EQ(app_->getHead()->getName(), "Alpha Console");

    ASSERT_EQ(bus_.devsim("unplug u1"), 0) << bus_.err;
    ASSERT_TRUE(pumpUntil([&] { return app_->getWindowCount() == 0; }));
    EXPECT_EQ(menuTexts(tray().buildMenu()), std::vector<std::string>{"-4 Exit"});
    EXPECT_EQ(app_->quitRequests, 0);
}

TEST_F(ApplicationTest, TheTrayIconsLeftClickRaisesEveryWindowAndItsRightClickOpensTheMenu)
{
    ASSERT_EQ(bus_.devsim("plug u1 --model st8 --unique-name Alpha"), 0) << bus_.err;
    ASSERT_EQ(bus_.devsim("plug u2 --model st4 --unique-name Beta"), 0) << bus_.err;
    start();
    juce::DocumentWindow other("other", juce::Colours::grey, 0);
    other.setVisible(true);
    other.toFront(false);
    juce::Desktop& desktop = juce::Desktop::getInstance();

    tray().mouseDown(clickWith(tray(), juce::ModifierKeys::middleButtonModifier));
    EXPECT_FALSE(juce::PopupMenu::dismissAllActiveMenus());
    tray().mouseDown(clickWith(tray(), juce::ModifierKeys::leftButtonModifier));
    int otherIndex = -1;
    std::vector<int> windowIndexes;
    for (int i = 0; i < desktop.getNumComponents(); ++i)
    {
        if (desktop.getComponent(i) == &other)
            otherIndex = i;
        for (console::ConsoleWindow* w : windows())
            if (desktop.getComponent(i) == w)
                windowIndexes.push_back(i);
    }
    ASSERT_EQ(windowIndexes.size(), 2u);
    EXPECT_GT(windowIndexes[0], otherIndex);
    EXPECT_GT(windowIndexes[1], otherIndex);

    tray().mouseDown(clickWith(tray(), juce::ModifierKeys::rightButtonModifier));
    EXPECT_TRUE(juce::PopupMenu::dismissAllActiveMenus());
    ASSERT_TRUE(pumpPosted());
    EXPECT_EQ(app_->getWindowCount(), 2);
}

// --- units that come and go while the start-up question is up ---

// The start-up question runs the program's message loop, as every modal box does: arrivals and removals
// are handled inside it. The start-up questions here are the program's own alerts, answered "No".

TEST_F(ApplicationTest, AUnitPulledWhileItsStartUpQuestionIsUpIsAskedAgainWhenPluggedBackAfterTheAnswer)
{
    ASSERT_EQ(bus_.devsim("plug o8 --model st8 --unique-name Old8 --firmware 4.2"), 0) << bus_.err;
    WhenModal<juce::AlertWindow> pull(
        [&](juce::AlertWindow& question)
        {
            EXPECT_EQ(bus_.devsim("unplug o8"), 0) << bus_.err;
            EXPECT_TRUE(pumpUntil([&] { return app_->getDeviceList()->getCount() == 0; }));
            question.triggerButtonClick("No");
        });
    start();
    ASSERT_TRUE(pull.hasRun());
    // From here on the boxes are recorded.
    ASSERT_EQ(bus_.devsim("plug o8"), 0) << bus_.err;
    ASSERT_TRUE(pumpUntil([&] { return !boxes_.empty(); }));
    EXPECT_NE(boxes_[0].text.find("out of date"), std::string::npos);
}

TEST_F(ApplicationTest, AnOpenWindowsUnitPulledAndPluggedBackWhileAStartUpQuestionIsUpGetsAWindowOnItsNewPlug)
{
    ASSERT_EQ(bus_.devsim("plug o8 --model st8 --unique-name Old8 --firmware 4.2"), 0) << bus_.err;
    ASSERT_EQ(bus_.devsim("plug u2 --model st4 --unique-name Beta"), 0) << bus_.err;
    WhenModal<juce::AlertWindow> replug(
        [&](juce::AlertWindow& question)
        {
            // Beta, found last, has its window already.
            EXPECT_EQ(app_->getWindowCount(), 1);
            EXPECT_EQ(bus_.devsim("unplug u2"), 0) << bus_.err;
            EXPECT_TRUE(pumpUntil([&] { return app_->getWindowCount() == 0; }));
            EXPECT_EQ(bus_.devsim("plug u2"), 0) << bus_.err;
            EXPECT_TRUE(pumpUntil([&] { return app_->getWindowCount() == 1; }));
            question.triggerButtonClick("No");
        });
    start();
    ASSERT_TRUE(replug.hasRun());
    ASSERT_EQ(app_->getWindowCount(), 1);
    console::ConsoleWindow& window = *app_->getHead();
    EXPECT_EQ(window.getName(), "Beta Console");
    EXPECT_TRUE(app_->getDeviceList()->contains(&window.getDevice()));
    // Its polls reach the unit.
    const int shown = window.getContent().getRefreshCount();
    EXPECT_TRUE(pumpUntil([&] { return window.getContent().getRefreshCount() > shown; }));
}

// --- windows that go ---

// Records the areas its window is asked to repaint (a component's cached image hears of every repaint)
// and paints nothing itself.
class RepaintRecorder : public juce::CachedComponentImage
{
public:
    RepaintRecorder(juce::Component& window, std::shared_ptr<juce::RectangleList<int>> areas)
        : window_(window), areas_(std::move(areas))
    {
    }
    void paint(juce::Graphics&) override {}
    bool invalidateAll() override
    {
        areas_->add(window_.getLocalBounds());
        return true;
    }
    bool invalidate(const juce::Rectangle<int>& area) override
    {
        areas_->add(area);
        return true;
    }
    void releaseResources() override {}

private:
    juce::Component& window_;
    std::shared_ptr<juce::RectangleList<int>> areas_;
};

TEST_F(ApplicationTest, AWindowThatGoesRepaintsWhatItCoveredOfTheWindowsUnderIt)
{
    // A bare X server may leave the expose events of the windows under one that went unread until the
    // next event arrives: the console asks for the repaint itself.
    ASSERT_EQ(bus_.devsim("plug u1 --model st8 --unique-name Alpha"), 0) << bus_.err;
    ASSERT_EQ(bus_.devsim("plug u2 --model st4 --unique-name Beta"), 0) << bus_.err;
    start();
    ASSERT_EQ(app_->getWindowCount(), 2);
    console::ConsoleWindow* alpha =
        app_->getHead()->getName() == "Alpha Console" ? app_->getHead() : app_->getHead()->next;
    alpha->setTopLeftPosition(600, 400); // under the screen's centre, where About and alerts show
    auto areas = std::make_shared<juce::RectangleList<int>>();
    alpha->setCachedComponentImage(new RepaintRecorder(*alpha, areas));
    juce::Rectangle<int> covered;
    const auto going = [&](juce::Component& window)
    {
        covered =
            alpha->getLocalArea(nullptr, window.getScreenBounds()).getIntersection(alpha->getLocalBounds());
        areas->clear();
    };

    withAboutDialog(
        [&](console::AboutDlgContent& about)
        {
            going(*about.getTopLevelComponent());
            about.getCloseButton().triggerClick();
        });
    ASSERT_FALSE(covered.isEmpty());
    EXPECT_TRUE(areas->containsRectangle(covered)) << covered.toString();

    const platform::MessageBoxPresenter recorded =
        platform::setMessageBoxPresenter(console::makeJuceMessageBoxPresenter());
    WhenModal<juce::AlertWindow> dismiss(
        [&](juce::AlertWindow& alert)
        {
            going(alert);
            alert.triggerButtonClick("OK");
        });
    platform::messageBox("Console settings", "Unable to write the file.", platform::MB_OK);
    platform::setMessageBoxPresenter(recorded);
    ASSERT_TRUE(dismiss.hasRun());
    ASSERT_FALSE(covered.isEmpty());
    EXPECT_TRUE(areas->containsRectangle(covered)) << covered.toString();

    {
        console::FlashProgressWindow progress(alpha, false);
        going(progress);
    }
    EXPECT_TRUE(areas->containsRectangle(covered)) << covered.toString();

    console::ConsoleWindow* beta = alpha->next;
    beta->setTopLeftPosition(alpha->getPosition() + juce::Point<int>(100, 100));
    beta->toFront(false);
    going(*beta);
    beta->setVisible(false);
    EXPECT_TRUE(areas->containsRectangle(covered)) << covered.toString();
    beta->setVisible(true);
    going(*beta);
    ASSERT_EQ(bus_.devsim("unplug u2"), 0) << bus_.err;
    ASSERT_TRUE(pumpUntil([&] { return app_->getWindowCount() == 1; }));
    EXPECT_TRUE(areas->containsRectangle(covered)) << covered.toString();
}

// --- the About window ---

TEST_F(ApplicationTest, AboutCopiesTheExactVersionTextAndItsButtonsDoNotStayLit)
{
    const std::string system = bus_.dir + "/system32";
    std::filesystem::create_directories(system);
    ASSERT_TRUE(testsupport::writeVersionedFile(system + "/ASIOStrellis.so", 4, 8, 2, 0));
    ASSERT_EQ(bus_.devsim("os system-dir " + system), 0) << bus_.err;
    ASSERT_EQ(bus_.devsim("plug u1 --model st8 --unique-name Alpha"), 0) << bus_.err;
    ASSERT_EQ(bus_.devsim("set u1 driver-version 0x04090100"), 0) << bus_.err;
    start();
    juce::SystemClipboard::copyTextToClipboard("before");
    const juce::String expected = "WDM driver 4.9.1\r\nASIO driver 4.8.2\r\nConsole \r\n"
                                  "ARM firmware 4.8\r\nDSP firmware 4.8\r\n";
    withAboutDialog(
        [&](console::AboutDlgContent& about)
        {
            EXPECT_EQ(about.getTopLevelComponent()->getName(), "Varnel");
            EXPECT_EQ(about.getBounds(), juce::Rectangle<int>(0, 0, 530, 260));
            EXPECT_EQ(about.getVersions().getBounds(), juce::Rectangle<int>(295, 30, 220, 170));
            EXPECT_EQ(about.getCloseButton().getBounds(), juce::Rectangle<int>(225, 218, 80, 22));
            EXPECT_EQ(about.getFlashButton().getBounds(), juce::Rectangle<int>(345, 218, 120, 22));
            EXPECT_EQ(about.getCopyButton().getBounds(), juce::Rectangle<int>(345, 166, 120, 22));
            about.getCopyButton().triggerClick();
            EXPECT_TRUE(pumpUntil([] { return juce::SystemClipboard::getTextFromClipboard() != "before"; }));
            EXPECT_EQ(juce::SystemClipboard::getTextFromClipboard(), expected);
            EXPECT_FALSE(about.getCopyButton().getToggleState());
            about.getCloseButton().triggerClick();
        });
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(ApplicationTest, AboutClosesItselfWhenItsWindowGoesWhileItIsOpen)
{
    ASSERT_EQ(bus_.devsim("plug u1 --model st8 --unique-name Alpha"), 0) << bus_.err;
    start();
    withAboutDialog([&](console::AboutDlgContent&) { ASSERT_EQ(bus_.devsim("unplug u1"), 0) << bus_.err; });
    EXPECT_EQ(app_->getWindowCount(), 0);
}

TEST_F(ApplicationTest, AFirmwareUpdateFromAboutPausesThePollAndLeavesTheWindowWorking)
{
    ASSERT_EQ(bus_.devsim("plug u1 --model st2 --unique-name Two"), 0) << bus_.err;
    ASSERT_EQ(bus_.devsim("set u1 session-base 0x20000"), 0) << bus_.err;
    consoletest::DatHeader header;
    const std::vector<uint32_t> image = writeStrellis2Firmware(header);
    start();
    ASSERT_EQ(app_->getWindowCount(), 1);
    console::ConsoleWindow& window = *app_->getHead();
    ASSERT_TRUE(app_->getTimer().isTimerRunning());

    // "No": the dialog closes and the poll resumes, nothing flashed.
    withAboutDialog([](console::AboutDlgContent& about) { about.getFlashButton().triggerClick(); });
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, console::kAboutFlashPrompt);
    EXPECT_FALSE(boxes_[0].timerRunning);
    EXPECT_TRUE(app_->getTimer().isTimerRunning());
    EXPECT_EQ(app_->getTimer().getTimerInterval(), 100);
    EXPECT_EQ(consoletest::count(trace_.flashSequence(), "1/2"), 0);

    answer_ = platform::IDYES;
    boxes_.clear();
    withAboutDialog([](console::AboutDlgContent& about) { about.getFlashButton().triggerClick(); });
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].text,
              "Flash update complete.  Please turn your device off and back on to apply the update.");
    EXPECT_FALSE(boxes_[1].timerRunning);
    EXPECT_EQ(consoletest::readFlash(window.getDevice(), header.address, header.quadCount), image);

    // The window is still there, unblocked, with its device open, and the timer's polls reach it again.
    ASSERT_EQ(app_->getHead(), &window);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isCurrentlyBlockedByAnotherModalComponent());
    EXPECT_TRUE(window.getDevice().isOpen());
    EXPECT_TRUE(app_->getTimer().isTimerRunning());
    const int shown = window.getContent().getRefreshCount();
    EXPECT_TRUE(pumpUntil([&] { return window.getContent().getRefreshCount() > shown + 2; }));
}

// --- a unit that comes back while its firmware question or update is up ---

TEST_F(ApplicationTest, AnOutOfDateUnitPulledAndPluggedBackWhileItsQuestionIsUpIsAskedOnce)
{
    start();
    whileBoxUp_ = [&](const std::string&)
    {
        if (boxes_.size() == 1)
            turnOffAndOn("o8");
    };
    ASSERT_EQ(bus_.devsim("plug o8 --model st8 --unique-name Old8 --firmware 4.2"), 0) << bus_.err;
    ASSERT_TRUE(pumpUntil([&] { return !boxes_.empty(); }));
    ASSERT_TRUE(pumpPosted());
    ASSERT_EQ(boxes_.size(), 1u) << "the question up answers for the unit that came back";
    EXPECT_NE(boxes_[0].text.find("out of date"), std::string::npos);
    EXPECT_EQ(app_->getWindowCount(), 0);
}

TEST_F(ApplicationTest, AUnitTurnedOffAndOnWhileItsUpdatesResultBoxIsUpArrivesOnceTheBoxIsAnswered)
{
    // The user does what the result box says while it is up, then answers it.
    consoletest::DatHeader header;
    writeStrellis2Firmware(header);
    std::string unit = "u1";
    bool windowWhileBoxUp = true;
    whileBoxUp_ = [&](const std::string& text)
    {
        if (text.rfind("Flash update complete.", 0) != 0)
            return;
        turnOffAndOn(unit);
        windowWhileBoxUp = app_->getWindowCount() != 0;
        answer_ = platform::IDNO;
    };
    start();
    answer_ = platform::IDYES;

    // An out-of-date unit updated from its question is asked again, as any out-of-date unit that arrives
    // (its firmware is still the old one).
    ASSERT_EQ(bus_.devsim("plug u1 --model st2 --unique-name Two --firmware 4.2"), 0) << bus_.err;
    ASSERT_TRUE(pumpUntil([&] { return boxes_.size() == 3; }));
    EXPECT_FALSE(windowWhileBoxUp);
    EXPECT_EQ(boxes_[2].text, boxes_[0].text);

    // A current unit updated from About gets its window again.
    ASSERT_EQ(bus_.devsim("unplug u1"), 0) << bus_.err;
    unit = "u2";
    ASSERT_EQ(bus_.devsim("plug u2 --model st2 --unique-name Current"), 0) << bus_.err;
    ASSERT_TRUE(pumpUntil([&] { return app_->getWindowCount() == 1; }));
    answer_ = platform::IDYES;
    boxes_.clear();
    windowWhileBoxUp = true;
    withAboutDialog([](console::AboutDlgContent& about) { about.getFlashButton().triggerClick(); });
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_FALSE(windowWhileBoxUp);
    ASSERT_TRUE(pumpUntil([&] { return app_->getWindowCount() == 1; }));
    EXPECT_TRUE(app_->getHead()->isVisible());
}

} // namespace
