#pragma once

// What a window covered, repainted when it goes. On an X server without a window manager the windows
// under one that is hidden or deleted are repainted only when their expose events are read, and the
// framework may leave those events queued (read along with a reply it waited for) until the next event
// arrives: the window that went would stay drawn over the console until then. So the code that hides or
// deletes a window asks the windows under it to repaint what it covered.

#include <juce_gui_basics/juce_gui_basics.h>

namespace console
{

// Repaints what a top-level window covers, on the windows under it: call it when the window has been
// hidden, or before it is deleted while shown.
void repaintWindowsUnder(const juce::Component& window);

// Repaints every showing window of the desktop: after a window whose bounds are not known went (a
// framework's alert).
void repaintAllWindows();

// A member of a top-level window: when the window is hidden, and when it is deleted while shown, the
// windows under it repaint what it covered.
class RepaintUnderWhenGone : private juce::ComponentListener
{
public:
    explicit RepaintUnderWhenGone(juce::Component& window);
    ~RepaintUnderWhenGone() override;
    RepaintUnderWhenGone(const RepaintUnderWhenGone&) = delete;
    RepaintUnderWhenGone& operator=(const RepaintUnderWhenGone&) = delete;

private:
    void componentVisibilityChanged(juce::Component& component) override;

    juce::Component& window_;
};

} // namespace console
