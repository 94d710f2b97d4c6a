#pragma once

// What a flash operation shows while it runs: a title, a bar with a status text in it and a description
// line below. The operation's thread sets the texts and the progress; the view itself lives on the
// message thread. The console's windows supply the view; the core only talks to this interface.

#include <juce_core/juce_core.h>

#include <functional>
#include <memory>

namespace console
{

class FlashProgress
{
public:
    virtual ~FlashProgress() = default;

    // Any thread.
    virtual void setTitle(const juce::String& text) = 0;
    virtual void setStatus(const juce::String& text) = 0;
    virtual void setDescription(const juce::String& text) = 0;
    // The shown progress (0 to 1) moves only forward and only by at least the minimum step.
    virtual void setMinimumStep(float step) = 0;
    virtual void setProgress(float value) = 0;
    virtual void resetProgress() = 0;

    // Any thread: the operation has ended.
    virtual void signalFinished() = 0;
    // Message thread: keeps the message loop running, the view modal, until signalFinished (at once
    // when that came first), then hides the view.
    virtual void runUntilFinished() = 0;
};

// Message thread: makes the view of a firmware update (centred on the screen, asking the user not to
// disconnect the hardware). Null, or a factory that makes none: the update runs without a view.
using FlashProgressFactory = std::function<std::unique_ptr<FlashProgress>()>;

// Installs the factory the firmware update uses; returns the one it replaces.
FlashProgressFactory setFirmwareProgressFactory(FlashProgressFactory factory);

} // namespace console
