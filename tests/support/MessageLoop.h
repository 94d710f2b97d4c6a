#pragma once

// The message loop of a test that runs on the message thread.

#include "WaitUntil.h"

#include <juce_events/juce_events.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

namespace testsupport
{

// Runs the message loop until done() holds or timeoutMs passes (only a hang reaches the default); returns
// done().
template <typename Done> bool pumpUntil(Done done, int timeoutMs = kHangMs)
{
    const uint32_t start = juce::Time::getMillisecondCounter();
    while (!done() && juce::Time::getMillisecondCounter() - start < uint32_t(timeoutMs))
        juce::MessageManager::getInstance()->runDispatchLoopUntil(5);
    return done();
}

// Runs the message loop until every message posted before the call has been delivered (posted messages
// arrive in order); false only on a hang.
inline bool pumpPosted(int timeoutMs = kHangMs)
{
    auto delivered = std::make_shared<bool>(false); // outlives a call that gave up
    juce::MessageManager::callAsync([delivered] { *delivered = true; });
    return pumpUntil([&] { return *delivered; }, timeoutMs);
}

// Runs a function on the message thread once the message loop runs again after the delay: when the test
// runs no loop of its own meanwhile, inside the first modal loop it starts.
class Later : private juce::Timer
{
public:
    explicit Later(std::function<void()> f, int delayMs = 50) : f_(std::move(f)) { startTimer(delayMs); }
    ~Later() override { stopTimer(); }
    Later(const Later&) = delete;
    Later& operator=(const Later&) = delete;

private:
    void timerCallback() override
    {
        stopTimer();
        f_();
    }
    std::function<void()> f_;
};

// Counts the change messages it hears (on the message thread).
class ChangeCounter : public juce::ChangeListener
{
public:
    void changeListenerCallback(juce::ChangeBroadcaster*) override { ++calls; }
    int calls = 0;
};

} // namespace testsupport
