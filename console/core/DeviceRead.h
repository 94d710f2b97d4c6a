#pragma once

// The hand-over of a value a banked control read from the device: the hardware thread puts the result,
// the message thread takes it and shows it. Two rules keep a read from undoing a write of the control
// to the state block (the user moved or clicked it, a session was loaded, the control was reset), each
// of which marks the channels it wrote:
// - a read of a channel still marked is not made: the device still holds the value the change replaces
//   until the thread has sent it;
// - a read that began before the control's latest mark is out of date and is dropped when taken.
// One result waits at a time; a newer one replaces it.

#include "console/core/HwCtrl.h"

#include <atomic>
#include <cstdint>

namespace console
{

class DeviceRead
{
public:
    explicit DeviceRead(const HwCtrlBanked& control) : control_(control) {}
    DeviceRead(const DeviceRead&) = delete;
    DeviceRead& operator=(const DeviceRead&) = delete;

    // Hardware thread, before the request for channel: false when the read is not to be made (the
    // channel has a change not sent yet); otherwise true, with the generation to put with its result.
    bool begin(int channel, uint32_t& generation) const { return control_.mayRead(channel, generation); }
    // Hardware thread, after a successful request: channel 0 to 255 and its value.
    void put(int channel, float value, uint32_t generation);
    // Message thread: the result not taken yet, when the control marked nothing since its request
    // began. A result that is out of date is dropped all the same.
    bool take(int& channel, float& value);

private:
    const HwCtrlBanked& control_;
    std::atomic<uint64_t> result_{0}; // 0: none; else a flag, the generation, the channel and the value
};

} // namespace console
