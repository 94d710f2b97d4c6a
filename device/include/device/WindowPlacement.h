#pragma once

// Placing a program's top-level window where it is asked to go, whatever the window manager. JUCE places a
// window by the frame size the window manager tells (_NET_FRAME_EXTENTS). A window manager that frames
// windows but tells nothing takes the place asked for as its frame's, so the window lands lower by the
// title bar (and right by the border), and so it does again whenever JUCE asks once more for the place
// the window is at (when it first paints it, and when it paints it after a few idle seconds). Both programs
// keep their windows with this: the window watches where a placement lands, and a landing shifted as a
// frame is (right and down, by little) is that frame. It is then told to the window as a window manager
// that tells it would, so that JUCE's own requests land right from then on, and saved with the position,
// so that the next start asks for the place up and left by it. A window shown in no window manager's frame
// (no window manager, or one that draws none) lands where it is asked: it waits for no frame.

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <optional>

namespace device
{

class WindowPlacement
{
public:
    // The window is a top-level window (on the desktop); it passes its moved() and broughtToFront() here.
    explicit WindowPlacement(juce::Component& window) : window_(window) {}

    // Where to ask for the window so that it lands with its own top-left at topLeft: up and left by the
    // frame seen and saved last time, while no frame size is told.
    juce::Point<int> positionToAsk(juce::Point<int> topLeft, juce::Point<int> savedFrame) const;
    // Moves the window (move sets its position) and watches where the window system puts it.
    void place(const std::function<void()>& move);
    // The frame to save beside the position: the one seen around the window where the window manager tells
    // none; 0 where it tells one, or none was seen.
    juce::Point<int> frameToSave() const;

    // From the window's own moved() and broughtToFront() (also called when the window is mapped).
    void windowMoved();
    void windowBroughtToFront();

private:
    // Whether JUCE knows the frame (told by the window manager, or by this).
    bool frameIsTold() const;
    // Ends the watch when the window is shown in no frame: nothing will move it by one.
    void stopWatchingWhenShownWithoutFrame();

    juce::Component& window_;
    std::optional<juce::Point<int>> placedAt_; // a placement whose landing is not seen yet
    juce::Point<int> seenFrame_;               // how far a placement landed from where it was asked
    bool toldFrame_ = false;                   // seenFrame_ was told to the window
};

} // namespace device
