#pragma once

// What one completed status poll of a window's device found: the polled block (status word and meters)
// and the driver information, as one value. The hardware thread copies it when a poll completes; the
// views read their own copy on the message thread, so the next poll never writes what a view reads.

#include "device/Wire.h"

#include <cstdint>

namespace console
{

struct PolledSnapshot
{
    device::PolledBlock polled{};
    device::DriverInfo driverInfo{};

    // Meter words (2^31 = full scale): the output meters first, then the input meters; 0 for a meter the
    // block does not hold.
    uint32_t getOutputMeter(uint32_t i) const { return meterWord(i); }
    uint32_t getInputMeter(uint32_t i) const { return meterWord(uint64_t(polled.outputMeterCount) + i); }
    // Bits 0 to 5: the clock sources detected; bits 8 + 2n and 9 + 2n: MIDI input and output port n
    // active.
    uint32_t getStatusWord() const { return polled.status; }
    bool isClockDetected(uint32_t n) const { return statusBit(n); }
    bool isMidiInActive(uint32_t port) const { return statusBit(8 + 2 * uint64_t(port)); }
    bool isMidiOutActive(uint32_t port) const { return statusBit(9 + 2 * uint64_t(port)); }

private:
    uint32_t meterWord(uint64_t i) const
    {
        return i < device::PolledBlock::kMaxMeters ? polled.meters[i] : 0;
    }
    bool statusBit(uint64_t bit) const { return bit < 32 && (polled.status & (1u << bit)) != 0; }
};

} // namespace console
