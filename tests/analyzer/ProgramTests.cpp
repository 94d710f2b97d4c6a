// The analyzer program itself, started as a process of its own on the test's display, bus and registry,
// and its window made in the test's process.

#include "AnalyzerTestSupport.h"

#include "analyzer/AppWindow.h"
#include "analyzer/StatisticsPage.h"

// After the framework's headers: the X headers define names the framework uses.
#include "PrivateDisplay.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace
{

using analyzertest::Sandbox;
using Clock = std::chrono::steady_clock;

// One run of the program. A run still going when the object goes is ended by force (a failed test).
class Program
{
public:
    // display: the display it runs on; the test's own when empty.
    explicit Program(const std::string& debugLog, const std::string& display = {})
    {
        // The X libraries the program loads at run time are unloaded before a leak check could name their
        // allocations, so a sanitizer build checks the program for leaks only through the library tests.
        std::vector<std::string> env{"STRELLIS_DEBUG_LOG=" + debugLog, "ASAN_OPTIONS=detect_leaks=0"};
        if (!display.empty())
            env.push_back("DISPLAY=" + display);
        for (char** e = environ; *e != nullptr; ++e)
            if (std::strncmp(*e, "STRELLIS_DEBUG_LOG=", 19) != 0 &&
                std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0 &&
                (display.empty() || std::strncmp(*e, "DISPLAY=", 8) != 0))
                env.emplace_back(*e);
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        char* argv[] = {const_cast<char*>(LATENZOR_PATH), nullptr};
        if (posix_spawn(&pid_, LATENZOR_PATH, nullptr, nullptr, argv, envp.data()) != 0)
            pid_ = 0;
    }
    ~Program()
    {
        if (pid_ != 0 && !exitStatus_)
        {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return pid_ != 0; }
    pid_t pid() const { return pid_; }
    // The exit status once the program has ended within the time (0: has it ended?); nothing while it
    // runs.
    std::optional<int> waitForExit(int timeoutMs = testsupport::kHangMs)
    {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!exitStatus_ && pid_ != 0)
        {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_)
                exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            else if (Clock::now() > end)
                break;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return exitStatus_;
    }

private:
    pid_t pid_ = 0;
    std::optional<int> exitStatus_;
};

// Acts again and again, a moment apart, until done() holds: a close or a key that reaches the program
// while it is still starting can go unanswered, as a user's would, and so can a drag the window manager
// has not taken up yet. False only on a hang.
template <typename Act, typename Done> bool repeatUntil(Act act, Done done)
{
    const auto end = Clock::now() + std::chrono::milliseconds(testsupport::kHangMs);
    do
    {
        act();
        if (testsupport::waitUntil(done, 250))
            return true;
    } while (Clock::now() < end);
    return false;
}

// The test's own connection to the display, to find the program's windows and act as a window manager
// and a keyboard would.
class Screen
{
public:
    Screen() : display_(XOpenDisplay(nullptr)), own_(true) {}
    // Through a connection the test keeps (a private display's).
    explicit Screen(Display* display) : display_(display) {}
    ~Screen()
    {
        if (display_ != nullptr && own_)
            XCloseDisplay(display_);
    }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // The program's mapped top-level window with this title, other than except; 0 when none appears (a
    // hang).
    Window waitForWindow(const Program& program, const char* title = "Latenzor", Window except = 0)
    {
        Window w = 0;
        testsupport::waitUntil([&] { return (w = find(title, program.pid(), except)) != 0; });
        return w;
    }

    bool isShown(Window w, const Program& program, const char* title = "Latenzor")
    {
        return find(title, program.pid(), 0, w) != 0;
    }

    // A click of the left button at a point of the window, as the server sends it.
    void click(Window w, juce::Point<int> at)
    {
        const auto previous = XSetErrorHandler(ignoreXError);
        for (int type : {ButtonPress, ButtonRelease})
        {
            XEvent e{};
            e.xbutton.type = type;
            e.xbutton.display = display_;
            e.xbutton.window = w;
            e.xbutton.root = DefaultRootWindow(display_);
            e.xbutton.x = at.x;
            e.xbutton.y = at.y;
            e.xbutton.button = Button1;
            e.xbutton.state = type == ButtonPress ? 0 : Button1Mask;
            e.xbutton.same_screen = True;
            e.xbutton.time = CurrentTime;
            XSendEvent(display_, w, True, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &e);
        }
        XSync(display_, False);
        XSetErrorHandler(previous);
    }

    // What a window manager's close button sends. (Sent again, it may reach a window already gone.)
    void close(Window w)
    {
        const auto previous = XSetErrorHandler(ignoreXError);
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(display_, w, False, NoEventMask, &e);
        XSync(display_, False);
        XSetErrorHandler(previous);
    }

    void pressKey(Window w, KeySym key)
    {
        const auto previous = XSetErrorHandler(ignoreXError);
        XSetInputFocus(display_, w, RevertToParent, CurrentTime);
        for (int type : {KeyPress, KeyRelease})
        {
            XEvent e{};
            e.xkey.type = type;
            e.xkey.display = display_;
            e.xkey.window = w;
            e.xkey.root = DefaultRootWindow(display_);
            e.xkey.same_screen = True;
            e.xkey.keycode = XKeysymToKeycode(display_, key);
            e.xkey.time = CurrentTime;
            XSendEvent(display_, w, True, type == KeyPress ? KeyPressMask : KeyReleaseMask, &e);
        }
        XSync(display_, False);
        XSetErrorHandler(previous);
    }

    // The window's place once it has settled there (the program places its window just after showing
    // it), or wherever it is when a hang ends the wait.
    juce::Point<int> settledAt(Window w, juce::Point<int> expected)
    {
        juce::Point<int> at;
        testsupport::waitUntil([&] { return (at = topLeft(w)) == expected; });
        return at;
    }

    // Drags the window by its title bar with the pointer, as a user moves it, so that its top-left goes to
    // `to`. True once the window manager has told the window where it now is: the window hears of it
    // before anything the test sends it afterwards.
    bool drag(Window w, juce::Point<int> to)
    {
        const juce::Point<int> from = topLeft(w);
        const juce::Point<int> grip(from.x + 40, from.y - offsetInFrame(w).y / 2);
        XSelectInput(display_, w, StructureNotifyMask);
        XTestFakeMotionEvent(display_, -1, grip.x, grip.y, CurrentTime);
        XTestFakeButtonEvent(display_, Button1, True, CurrentTime);
        // The window follows the pointer once the window manager has taken up the drag; only then is the
        // button let go (a press and release it sees together are a click).
        const juce::Point<int> end = grip + to - from;
        const bool followed = repeatUntil(
            [&]
            {
                XTestFakeMotionEvent(display_, -1, end.x + 1, end.y, CurrentTime);
                XTestFakeMotionEvent(display_, -1, end.x, end.y, CurrentTime);
                XSync(display_, False);
            },
            [&] { return topLeft(w) == to; });
        XTestFakeButtonEvent(display_, Button1, False, CurrentTime);
        XSync(display_, False);
        bool told = false;
        testsupport::waitUntil(
            [&]
            {
                XEvent e{};
                while (followed && !told && XCheckTypedWindowEvent(display_, w, ConfigureNotify, &e))
                    told = e.xconfigure.send_event && juce::Point<int>(e.xconfigure.x, e.xconfigure.y) == to;
                return told;
            });
        XSelectInput(display_, w, NoEventMask);
        return followed && told;
    }

    // Where the window lies in the frame a window manager put around it (its parent).
    juce::Point<int> offsetInFrame(Window w)
    {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        int x = 0;
        int y = 0;
        Window child = 0;
        if (XQueryTree(display_, w, &root, &parent, &children, &count))
            XTranslateCoordinates(display_, w, parent, 0, 0, &x, &y, &child);
        if (children != nullptr)
            XFree(children);
        return {x, y};
    }

    juce::Point<int> topLeft(Window w)
    {
        int x = 0;
        int y = 0;
        Window child = 0;
        XTranslateCoordinates(display_, w, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
        return {x, y};
    }

    int width() const { return DisplayWidth(display_, DefaultScreen(display_)); }
    int height() const { return DisplayHeight(display_, DefaultScreen(display_)); }

private:
    // The process that made the window, as it says in _NET_WM_PID; 0 when it does not say.
    pid_t ownerOf(Window w)
    {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        pid_t pid = 0;
        if (XGetWindowProperty(display_, w, XInternAtom(display_, "_NET_WM_PID", False), 0, 1, False,
                               XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
            data != nullptr && format == 32 && count == 1)
            pid = static_cast<pid_t>(*reinterpret_cast<const unsigned long*>(data));
        if (data != nullptr)
            XFree(data);
        return pid;
    }

    // A window may go away between the listing and the questions about it (the program ending, or a
    // window of another test's program): such errors are ignored while the tree is walked or a window
    // is sent an event.
    static int ignoreXError(Display*, XErrorEvent*) { return 0; }

    // The first mapped window of the owner with this title but except (or only, when given, the window
    // only), among the root's children and, where a window manager frames windows, the frames' children.
    Window find(const char* title, pid_t owner, Window except = 0, Window only = 0)
    {
        const auto previous = XSetErrorHandler(ignoreXError);
        const Window found = findUnguarded(DefaultRootWindow(display_), title, owner, except, only, 1);
        XSync(display_, False);
        XSetErrorHandler(previous);
        return found;
    }

    Window findUnguarded(Window under, const char* title, pid_t owner, Window except, Window only,
                         int framesBelow)
    {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        Window found = 0;
        if (!XQueryTree(display_, under, &root, &parent, &children, &count))
            return 0;
        for (unsigned int i = 0; i < count && found == 0; ++i)
        {
            // The title is UTF-8 text (UTF8_STRING), which XFetchName does not return.
            XWindowAttributes a{};
            XTextProperty name{};
            if (!XGetWindowAttributes(display_, children[i], &a) || a.map_state != IsViewable)
                continue;
            if (XGetWMName(display_, children[i], &name) && name.value != nullptr)
            {
                if (name.format == 8 &&
                    std::string(reinterpret_cast<const char*>(name.value), name.nitems) == title &&
                    ownerOf(children[i]) == owner && children[i] != except &&
                    (only == 0 || children[i] == only))
                    found = children[i];
                XFree(name.value);
            }
            else if (framesBelow > 0)
                found = findUnguarded(children[i], title, owner, except, only, framesBelow - 1);
        }
        if (children != nullptr)
            XFree(children);
        return found;
    }

    Display* display_;
    bool own_ = false;
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

int savedPosition(const char* name)
{
    return analyzer::readPositionValue(name, -1);
}

// Sends the program what a window manager's close button (or a key) sends until it has ended; its exit
// status.
std::optional<int> actUntilExit(Program& program, const std::function<void()>& act)
{
    repeatUntil(act, [&] { return program.waitForExit(0).has_value(); });
    return program.waitForExit(0);
}

class LatenzorProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        debugLog = box.bus.dir + "/debug.log";
        // The lock is machine-wide: runs of the suite side by side must not see each other's programs.
        const std::string lock = "Latenzor lock " + box.bus.dir.substr(box.bus.dir.rfind('/') + 1);
        ::setenv("STRELLIS_ANALYZER_LOCK", lock.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("STRELLIS_ANALYZER_LOCK"); }

    Sandbox box;
    std::string debugLog;
};

TEST_F(LatenzorProgram, WithNoUnitShowsItsBoxAndEndsWithZeroOnceItIsDismissed)
{
    Screen screen;
    Program program(debugLog);
    ASSERT_TRUE(program.started());
    const Window box = screen.waitForWindow(program);
    ASSERT_NE(box, 0u) << "the box appears";
    EXPECT_FALSE(program.waitForExit(0)) << "the box waits for its answer";
    ASSERT_EQ(actUntilExit(program, [&] { screen.pressKey(box, XK_Return); }), 0);
    EXPECT_NE(readFile(debugLog).find("Message box [Latenzor]  No compatible hardware detected."),
              std::string::npos)
        << readFile(debugLog);
    EXPECT_EQ(savedPosition("x"), -1) << "no window was opened";
}

TEST_F(LatenzorProgram, ASecondInstanceEndsAtOnceWhileOneRuns)
{
    box.devsim("plug u1 --model st8");
    Screen screen;
    Program first(debugLog);
    const Window window = screen.waitForWindow(first);
    ASSERT_NE(window, 0u);

    Program second(box.bus.dir + "/second.log");
    EXPECT_EQ(second.waitForExit(), 0);
    EXPECT_FALSE(first.waitForExit(0)) << "the first one runs on";
    EXPECT_EQ(actUntilExit(first, [&] { screen.close(window); }), 0);
}

TEST_F(LatenzorProgram, OpensAtOneTwentiethOfTheScreenAndTheCloseButtonSavesWhereItIs)
{
    box.devsim("plug u1 --model st8");
    Screen screen;
    {
        Program program(debugLog);
        const Window window = screen.waitForWindow(program);
        ASSERT_NE(window, 0u);
        const juce::Point<int> firstPlace(screen.width() / 20, screen.height() / 20);
        EXPECT_EQ(screen.settledAt(window, firstPlace), firstPlace);
        ASSERT_EQ(actUntilExit(program, [&] { screen.close(window); }), 0) << readFile(debugLog);
    }
    EXPECT_EQ(savedPosition("x"), screen.width() / 20);
    EXPECT_EQ(savedPosition("y"), screen.height() / 20);

    analyzer::writePositionValue("x", 300);
    analyzer::writePositionValue("y", 200);
    {
        Program program(debugLog);
        const Window window = screen.waitForWindow(program);
        ASSERT_NE(window, 0u);
        EXPECT_EQ(screen.settledAt(window, {300, 200}), juce::Point<int>(300, 200)) << "the saved place";
        ASSERT_EQ(actUntilExit(program, [&] { screen.close(window); }), 0);
    }
    EXPECT_EQ(savedPosition("x"), 300);
    EXPECT_EQ(savedPosition("y"), 200);
}

// The program on a display of the test's own with a window manager that frames windows and tells no frame
// size (twm): it takes the place a window asks for as its frame's. The window was left at (300, 200).
class LatenzorUnderFramingWindowManager : public LatenzorProgram
{
protected:
    void SetUp() override
    {
        LatenzorProgram::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(display.ready());
        box.devsim("plug u1 --model st8");
        analyzer::writePositionValue("x", 300);
        analyzer::writePositionValue("y", 200);
    }

    testsupport::PrivateDisplay display{true, box.bus.dir};
    Screen screen{display.connection()};
};

TEST_F(LatenzorUnderFramingWindowManager, TheWindowKeepsItsPlaceOverReopensAndMessageBoxes)
{
    // Where the page's Save button lies in the window.
    analyzer::DeviceList devices;
    const juce::Point<int> save = analyzer::Content(devices).getSaveButton().getBounds().getCentre();
    std::vector<juce::Point<int>> saved;
    for (int round = 0; round < 3; ++round)
    {
        Program program(debugLog, display.name());
        const Window window = screen.waitForWindow(program);
        ASSERT_NE(window, 0u);
        if (round == 1)
        {
            // Left alone a few seconds, as a user reads it, the window is painted anew for the box, and
            // the framework then asks once more for the place it is at.
            std::this_thread::sleep_for(std::chrono::seconds(4));
            const juce::Point<int> before = screen.topLeft(window);
            screen.click(window, save);
            const Window box = screen.waitForWindow(program, "Latenzor", window);
            ASSERT_NE(box, 0u) << "the report's box";
            ASSERT_TRUE(repeatUntil([&] { screen.pressKey(box, XK_Return); },
                                    [&] { return !screen.isShown(box, program); }));
            EXPECT_EQ(screen.topLeft(window), before);
        }
        ASSERT_EQ(actUntilExit(program, [&] { screen.close(window); }), 0) << readFile(debugLog);
        saved.emplace_back(savedPosition("x"), savedPosition("y"));
    }
    // The first start knows no frame yet and lands lower by it; from then on the window stays put.
    EXPECT_EQ(saved[0].x, 300);
    EXPECT_EQ(saved[1], saved[0]);
    EXPECT_EQ(saved[2], saved[0]);
}

TEST_F(LatenzorUnderFramingWindowManager, AMovedWindowReopensWhereItWasLeft)
{
    std::optional<juce::Point<int>> left;
    for (int round = 0; round < 4; ++round)
    {
        Program program(debugLog, display.name());
        const Window window = screen.waitForWindow(program);
        ASSERT_NE(window, 0u);
        // The first start knows no frame yet and lands lower by it.
        const juce::Point<int> opened =
            left.value_or(juce::Point<int>(300, 200) + screen.offsetInFrame(window));
        ASSERT_EQ(screen.settledAt(window, opened), opened) << "round " << round << ": " << opened.toString();
        // Moved at once, or after a few seconds in which the framework drops its paint image (it asks once
        // more for the window's place when it paints it next).
        std::this_thread::sleep_for(round % 2 == 0 ? std::chrono::milliseconds(200)
                                                   : std::chrono::seconds(4));
        const juce::Point<int> to =
            opened + (round % 2 == 0 ? juce::Point<int>(60, 40) : juce::Point<int>(-30, 10));
        ASSERT_TRUE(screen.drag(window, to)) << "round " << round;
        ASSERT_EQ(actUntilExit(program, [&] { screen.pressKey(window, XK_Escape); }), 0)
            << readFile(debugLog);
        left = juce::Point<int>(savedPosition("x"), savedPosition("y"));
        EXPECT_EQ(*left, to) << "round " << round << ": saved " << left->toString() << ", moved to "
                             << to.toString();
    }
}

TEST_F(LatenzorProgram, UnpluggingTheUnitEndsTheProgramWhichStillSavesItsPosition)
{
    box.devsim("plug u1 --model st8");
    box.devsim("plug u2 --model st8");
    Screen screen;
    Program program(debugLog);
    ASSERT_NE(screen.waitForWindow(program), 0u);
    box.devsim("plug u3 --model st8");
    EXPECT_FALSE(program.waitForExit(0)) << "an arrival changes nothing";
    box.devsim("unplug u1");
    EXPECT_EQ(program.waitForExit(), 0);
    EXPECT_EQ(savedPosition("x"), screen.width() / 20);
}

TEST_F(LatenzorProgram, ReturnResetsEveryUnitAndEscapeEndsTheProgram)
{
    box.devsim("plug u1 --model st8");
    box.devsim("plug u2 --model st8");
    Screen screen;
    Program program(debugLog);
    const Window window = screen.waitForWindow(program);
    ASSERT_NE(window, 0u);
    // Each press resets both units once.
    auto resets = [&](const char* unit) { return std::atoi(box.dumped(unit, "reset-statistics").c_str()); };
    ASSERT_TRUE(repeatUntil([&] { screen.pressKey(window, XK_Return); }, [&] { return resets("u1") > 0; }));
    EXPECT_TRUE(testsupport::waitUntil([&] { return resets("u2") == resets("u1"); }));
    EXPECT_EQ(actUntilExit(program, [&] { screen.pressKey(window, XK_Escape); }), 0) << readFile(debugLog);
}

TEST(AnalyzerWindow, ASavedPlaceOffEveryScreenOpensWithItsTitleBarAndAGoodPartOfItOnTheScreen)
{
    REQUIRE_DISPLAY();
    Sandbox box;
    box.devsim("plug u1 --model st8");
    analyzer::DeviceList devices;
    const juce::Rectangle<int> screen = juce::Desktop::getInstance().getDisplays().getTotalBounds(true);
    for (const juce::Point<int> saved : {juce::Point<int>(5000, -3000), juce::Point<int>(-5000, 5000)})
    {
        analyzer::writePositionValue("x", saved.x);
        analyzer::writePositionValue("y", saved.y);
        analyzer::AppWindow window(devices, 10, 10);
        window.restorePosition();
        const juce::Rectangle<int> seen = screen.getIntersection(window.getBounds());
        EXPECT_GE(window.getY(), screen.getY()) << saved.toString();
        EXPECT_GE(seen.getWidth(), 100) << saved.toString() << ": " << window.getBounds().toString();
        EXPECT_GE(seen.getHeight(), 100) << saved.toString() << ": " << window.getBounds().toString();
    }
}

} // namespace
