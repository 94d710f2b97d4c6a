#pragma once

// The tick clock behind the platform's GetTickCount and Sleep, which the system's retry and stall limits
// count on. It runs on real time unless a manual clock is chosen, for the whole bus (a setting in the bus
// directory's file "os", shared by every process: "devsim os clock manual") or for the calling process
// alone (setProcessManualClock, for tests). A manual clock moves only when time is spent on it: a sleep
// moves it on by its length and returns at once, and the simulated kernel driver spends
// kVdcTransactionMs on every VDC transaction. So a limit of seconds is reached after the same tries on
// every run, in a moment of real time. The performance counter always runs on real time.

#include <cstdint>
#include <string>
#include <vector>

namespace sim::os
{

// What one VDC transaction takes on a manual clock: a loop that asks the device again at once also
// sees time pass.
inline constexpr uint32_t kVdcTransactionMs = 1;

// GetTickCount: milliseconds, wrapping at 2^32.
uint32_t tickCount();

// Sleep: on a manual clock, moves it on by that much and only gives up the processor for a moment.
void sleep(uint32_t milliseconds);

// For a wait the caller makes on its own (on an event that can cut it short): on a manual clock, moves
// the clock on by that much and answers true, and the caller does not wait; on real time answers false.
bool skipWaitOnManualClock(uint32_t milliseconds);

// Moves a manual clock on; nothing on real time.
void advanceManualClock(uint32_t milliseconds);

// Gives the calling process a manual clock of its own, starting at startMs, ahead of the bus's setting
// (on), or hands it back to the bus's setting (off). A library that carries its own copy of this layer
// (a loaded driver) follows the bus's setting only.
void setProcessManualClock(bool on, uint32_t startMs = 0);

// Puts every process of the bus on a manual clock that starts at 0 (a bus already on one keeps its time),
// or back on real time; false when the setting cannot be stored.
bool setBusManualClock(bool on);

// "devsim os clock [real|manual]": args are the words after "clock". Returns the exit status.
int devsimOsClock(const std::vector<std::string>& args, std::string& out, std::string& err);

} // namespace sim::os
