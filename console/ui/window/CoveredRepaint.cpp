#include "console/ui/window/CoveredRepaint.h"

namespace console
{

namespace
{

// Repaints the part of every showing window of the desktop, but `except`, that lies in screenArea.
void repaintWindowsIn(juce::Rectangle<int> screenArea, const juce::Component* except)
{
    juce::Desktop& desktop = juce::Desktop::getInstance();
    for (int i = 0; i < desktop.getNumComponents(); ++i)
    {
        juce::Component* window = desktop.getComponent(i);
        if (window == except || !window->isShowing())
            continue;
        const juce::Rectangle<int> area =
            window->getLocalArea(nullptr, screenArea).getIntersection(window->getLocalBounds());
        if (!area.isEmpty())
            window->repaint(area);
    }
}

} // namespace

void repaintWindowsUnder(const juce::Component& window)
{
    if (window.isOnDesktop())
        repaintWindowsIn(window.getScreenBounds(), &window);
}

void repaintAllWindows()
{
    juce::Desktop& desktop = juce::Desktop::getInstance();
    for (int i = 0; i < desktop.getNumComponents(); ++i)
        if (juce::Component* window = desktop.getComponent(i); window->isShowing())
            window->repaint();
}

RepaintUnderWhenGone::RepaintUnderWhenGone(juce::Component& window) : window_(window)
{
    window.addComponentListener(this);
}

RepaintUnderWhenGone::~RepaintUnderWhenGone()
{
    // The window's own parts are gone, its component is not: it is still on the desktop, where it was.
    window_.removeComponentListener(this);
    if (window_.isVisible())
        repaintWindowsUnder(window_);
}

void RepaintUnderWhenGone::componentVisibilityChanged(juce::Component& component)
{
    if (!component.isVisible())
        repaintWindowsUnder(component);
}

} // namespace console
