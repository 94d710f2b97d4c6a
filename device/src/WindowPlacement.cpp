// The framework's display connection is asked for with its X11 interface, which it declares only on request.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include "device/WindowPlacement.h"

#include "platform/WindowFrame.h"

#include <cstdint>

namespace device
{
namespace
{

// How far right and down a window manager may put a window from where it was asked to go: a frame's left
// border and title bar. A report beyond that is a move of another kind.
constexpr int kMaxFrameShift = 200;

void* displayOfFramework()
{
    const juce::XWindowSystem* system = juce::XWindowSystem::getInstanceWithoutCreating();
    return system != nullptr ? system->getDisplay() : nullptr;
}

std::uintptr_t nativeWindow(const juce::Component& window)
{
    const juce::ComponentPeer* peer = window.getPeer();
    return peer != nullptr ? reinterpret_cast<std::uintptr_t>(peer->getNativeHandle()) : 0;
}

} // namespace

bool WindowPlacement::frameIsTold() const
{
    if (const juce::ComponentPeer* peer = window_.getPeer())
        if (const auto frame = peer->getFrameSizeIfPresent(); frame && !frame->isEmpty())
            return true;
    return false;
}

juce::Point<int> WindowPlacement::positionToAsk(juce::Point<int> topLeft, juce::Point<int> savedFrame) const
{
    return frameIsTold() ? topLeft : topLeft - savedFrame;
}

void WindowPlacement::place(const std::function<void()>& move)
{
    placedAt_.reset();
    move();
    // Where the frame is told, JUCE asks for the place it wants: nothing to watch.
    if (!frameIsTold())
        placedAt_ = window_.getPosition();
    // JUCE asks for the window's position once more when it first paints it, by then perhaps one a window
    // manager moved it to, which would move it again by the frame: that paint happens now, while the
    // position is the one asked for.
    if (juce::ComponentPeer* peer = window_.isShowing() ? window_.getPeer() : nullptr)
        peer->performAnyPendingRepaintsNow();
    stopWatchingWhenShownWithoutFrame();
}

void WindowPlacement::windowMoved()
{
    // The first move reported after a placement is where the window system put the window: by a frame's
    // size right and down, or not at all (then no move comes). A larger move is another's: a program
    // moving the window.
    if (!placedAt_ || window_.getPosition() == *placedAt_)
        return;
    const juce::Point<int> shift = window_.getPosition() - *placedAt_;
    placedAt_.reset();
    if (shift.x < 0 || shift.y <= 0 || shift.x > shift.y || shift.y > kMaxFrameShift)
        return;
    seenFrame_ = shift;
    // Told, the frame places every later request of JUCE's right, its repaints' included.
    if (!frameIsTold())
        toldFrame_ = platform::tellWindowFrame(displayOfFramework(), nativeWindow(window_),
                                               {shift.x, shift.x, shift.y, shift.x});
}

void WindowPlacement::windowBroughtToFront()
{
    // Called when the window is mapped: a placement made before that lands only now.
    stopWatchingWhenShownWithoutFrame();
}

void WindowPlacement::stopWatchingWhenShownWithoutFrame()
{
    // A window the server shows in no frame has landed where it was asked, and no window manager will
    // frame it: a later move is someone's, not a frame's.
    if (placedAt_ && platform::isShownWithoutFrame(displayOfFramework(), nativeWindow(window_)))
        placedAt_.reset();
}

juce::Point<int> WindowPlacement::frameToSave() const
{
    if (toldFrame_ || !frameIsTold())
        return seenFrame_;
    return {};
}

} // namespace device
