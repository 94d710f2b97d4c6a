#pragma once

// The hand-over of a value a control read from the device: the hardware thread puts the result, the
// message thread takes it and shows it. Two rules keep a read from undoing a change of the control (the
// user moved or clicked it, a session was loaded, the control was reset), each of which the control
// counts (HwCtrl::getChangeCount: a banked control's marks, another control's queued SETs):
// - a read is not made while the device still holds the value a change replaces (a banked control's
//   channel still marked, another control's SET still queued): the thread has yet to send the change;
// - a read that began before the control's latest change is out of date and is dropped when taken.
// One result waits at a time; a newer one replaces it.

#include "console/core/HwCtrl.h"

#include <atomic>
#include <cstdint>

namespace console
{

class DeviceRead
{
public:
    explicit DeviceRead(const HwCtrl& control) : control_(control) {}
    DeviceRead(const DeviceRead&) = delete;
    DeviceRead& operator=(const DeviceRead&) = delete;

    // Hardware thread, before the request (for channel, or 0 for a control without channels): false when
    // the read is not to be made; otherwise true, with the generation to put with its result.
    bool begin(int channel, uint32_t& generation) const { return control_.mayRead(channel, generation); }
    // Hardware thread, after a successful request: channel 0 to 255 and its value.
    void put(int channel, float value, uint32_t generation);
    void put(int channel, int32_t value, uint32_t generation);
    // Message thread: the result not taken yet, when the control changed nothing since its request
    // began. A result that is out of date is dropped all the same. Take a value of the type put.
    bool take(int& channel, float& value);
    bool take(int& channel, int32_t& value);
    // Message thread: drops a result not taken yet (the control's value was replaced meanwhile).
    void discard() { result_.store(0); }

private:
    void putBits(int channel, uint32_t bits, uint32_t generation);
    bool takeBits(int& channel, uint32_t& bits);

    const HwCtrl& control_;
    std::atomic<uint64_t> result_{0}; // 0: none; else a flag, the generation, the channel and the value
};

} // namespace console
