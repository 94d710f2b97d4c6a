#pragma once

// What the window system knows of a program's top-level window and its frame, the part of window placement
// that Windows answers itself (a window's rectangle with and without its frame). The window is a native
// window of the display connection the GUI framework holds, and the questions go over that very connection,
// after everything the framework asked for before them.

#include <cstdint>

namespace platform
{

// The frame a window manager draws around a window: its left, right, top (title bar) and bottom parts.
struct WindowFrameExtents
{
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
};

// Whether the window is on the screen (viewable) as a window of its own, in no window manager's frame:
// then no window manager will frame it, and a placement lands where it was asked. False while it is not
// shown yet, inside a frame, or when the display cannot be asked.
bool isShownWithoutFrame(void* display, std::uintptr_t window);

// Tells the frame around the window as a window manager that tells it does (the window's
// _NET_FRAME_EXTENTS), for a window manager that draws a frame but tells nothing: the framework then
// places the window by that frame, as it does where the window manager tells it. False when the display
// cannot be asked.
bool tellWindowFrame(void* display, std::uintptr_t window, const WindowFrameExtents& frame);

} // namespace platform
