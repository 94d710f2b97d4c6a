#pragma once

// Waiting for another thread or process without the message loop. A wait ends as soon as its condition
// holds; its deadline only ends a hang, so it is generous (a loaded, sanitized machine may take seconds
// for what takes milliseconds alone) and no test ever asserts how long a wait took.

#include <chrono>
#include <thread>

namespace testsupport
{

// The deadline of every wait for a condition: long enough to pass only on a hang.
inline constexpr int kHangMs = 60000;

// Waits until done() holds or timeoutMs of real time have passed; returns done().
template <typename Done> bool waitUntil(Done done, int timeoutMs = kHangMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

} // namespace testsupport
