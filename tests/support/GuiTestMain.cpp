// The main of the GUI test programs (see GuiTest.h).

#include "GuiTest.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xlib.h>

#include <cstdlib>
#include <memory>

namespace testsupport
{
namespace
{

bool displayPresent = false;

// A bare virtual display has no window manager, so atoms that only a window manager creates are missing,
// and JUCE asks for the properties of some of them without checking (an X error that ends the process,
// also in a program that a test starts). The connection that creates them stays open: a server whose
// last client leaves resets and forgets them.
Display* internWindowManagerAtoms()
{
    Display* x = XOpenDisplay(nullptr);
    if (x != nullptr)
        for (const char* name :
             {"WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "WM_CHANGE_STATE", "WM_STATE",
              "_NET_WM_PING", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN", "_NET_WM_WINDOW_TYPE"})
            XInternAtom(x, name, False);
    return x;
}

class JuceEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        const char* display = std::getenv("DISPLAY");
        if (display != nullptr && *display != '\0')
            atomKeeper_ = internWindowManagerAtoms();
        displayPresent = atomKeeper_ != nullptr;
        // The message manager works without a display; only windows need one.
        gui_ = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
    }
    void TearDown() override
    {
        gui_.reset();
        if (atomKeeper_ != nullptr)
            XCloseDisplay(atomKeeper_);
    }

private:
    Display* atomKeeper_ = nullptr;
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> gui_;
};

} // namespace

bool haveDisplay()
{
    return displayPresent;
}

void moveWindowFromOutside(void* nativeWindow, int x, int y)
{
    if (Display* display = XOpenDisplay(nullptr))
    {
        XMoveWindow(display, reinterpret_cast<Window>(nativeWindow), x, y);
        XSync(display, False);
        XCloseDisplay(display);
    }
}

} // namespace testsupport

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new testsupport::JuceEnvironment);
    return RUN_ALL_TESTS();
}
