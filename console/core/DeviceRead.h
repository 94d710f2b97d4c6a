#pragma once

// The hand-over of a value a device-bound control read from the device: the hardware thread puts the
// result, the message thread takes it and shows it. A read that began before the control last wrote the
// state block (the user moved or clicked it, a session was loaded, the control was reset) is out of date
// and is dropped when taken, so a read can never undo that write. One result waits at a time; a newer one
// replaces it.

#include <atomic>
#include <cstdint>

namespace console
{

class DeviceRead
{
public:
    // Message thread: the control wrote the state block; reads under way are out of date.
    void invalidate() { generation_.fetch_add(1); }
    // Hardware thread, before the request: the generation to put with its result.
    uint32_t begin() const { return generation_.load(); }
    // Hardware thread, after a successful request: channel 0 to 255 and its value.
    void put(int channel, float value, uint32_t generation);
    // Message thread: the result not taken yet, when no write came after its request began. A result
    // that is out of date is dropped all the same.
    bool take(int& channel, float& value);

private:
    std::atomic<uint32_t> generation_{0};
    std::atomic<uint64_t> result_{0}; // 0: none; else a flag, the generation, the channel and the value
};

} // namespace console
