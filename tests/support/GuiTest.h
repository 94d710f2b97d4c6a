#pragma once

// For test programs whose main is GuiTestMain.cpp: JUCE's GUI side is initialised once for the process,
// on the main thread, which thereby is the message thread of every test. Tests that open windows need a
// display and skip themselves without one (the project's test command provides one).

#include <gtest/gtest.h>

namespace testsupport
{

// Whether the process has a display.
bool haveDisplay();

// Moves a top-level window (its native handle) from another connection to the display, as a user's tool
// or a window manager does; the window hears of it through its event queue.
void moveWindowFromOutside(void* nativeWindow, int x, int y);

} // namespace testsupport

#define REQUIRE_DISPLAY()                                                                                    \
    do                                                                                                       \
    {                                                                                                        \
        if (!testsupport::haveDisplay())                                                                     \
            GTEST_SKIP() << "needs a display (run under xvfb-run)";                                          \
    } while (0)
