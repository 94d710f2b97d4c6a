#pragma once

// The small borderless window that shows a flash operation's progress: a title, a bar with a status text
// inside it and a description line below. Worker threads set the texts and the progress; the window
// repaints itself every 30 ms on the message thread. The user cannot close it: the operation ends it.

#include "console/core/FlashProgress.h"
#include "console/ui/window/CoveredRepaint.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <mutex>

namespace console
{

class FlashProgressWindow : public juce::Component,
                            public FlashProgress,
                            private juce::Timer,
                            private juce::AsyncUpdater
{
public:
    // Message thread. Centred on centreOn (or on the screen), on the desktop as its own window, in
    // front with the keyboard focus. With warning, a line asks the user not to disconnect the hardware.
    FlashProgressWindow(juce::Component* centreOn, bool warning);
    ~FlashProgressWindow() override;

    // Any thread.
    void setTitle(const juce::String& text) override;
    void setStatus(const juce::String& text) override;
    void setDescription(const juce::String& text) override;
    juce::String getTitle() const;
    juce::String getStatus() const;
    juce::String getDescription() const;

    // Any thread. The shown progress moves only forward and only by at least the minimum step, so a
    // flood of tiny advances costs no repaints.
    void setMinimumStep(float step) override { minimumStep_.store(step); }
    void setProgress(float value) override;
    void resetProgress() override { progress_.store(0.0f); }
    float getProgress() const { return progress_.load(); }

    // Any thread: the operation has ended. The window leaves its modal loop on the message thread;
    // when the loop has not started yet, it will not start.
    void signalFinished() override;

    // Message thread: runs the modal loop until signalFinished (returns at once when that came first),
    // then hides the window.
    void runUntilFinished() override;
    bool hasFinished() const { return finished_; }

    void paint(juce::Graphics& g) override;
    void userTriedToCloseWindow() override {}

private:
    void timerCallback() override { repaint(); }
    void handleAsyncUpdate() override;

    mutable std::mutex textLock_;
    juce::String title_{"Flash update"}; // texts guarded by textLock_
    juce::String status_;
    juce::String description_;
    std::atomic<float> minimumStep_{0.05f};
    std::atomic<float> progress_{0.0f};
    bool finished_ = false; // message thread
    std::unique_ptr<juce::Label> warning_;
    RepaintUnderWhenGone repaintUnder_{*this};
};

// Message thread: firmware updates show their progress in a FlashProgressWindow from now on.
void installFirmwareProgressWindow();

} // namespace console
