#pragma once

// Kernel event objects as the simulated OS offers them: an auto-reset event is a boolean that one wait
// consumes (signals never accumulate), waited on with a time-out. A handle names the object in the
// process, as a Windows handle does; the simulated kernel driver takes its own reference on the object
// behind a handle, so the object outlives a handle the client closes too early.

#include <cstdint>
#include <memory>

namespace sim::os
{

class EventObject
{
public:
    enum WaitResult
    {
        Signalled,
        TimedOut
    };

    void set();
    void reset();
    // Waits until the event is set (consuming the signal) or the time-out passes. Allocates nothing.
    WaitResult wait(uint32_t timeoutMs);

private:
    alignas(4) uint32_t state_ = 0;   // 1 = set; a futex word
    alignas(4) uint32_t waiters_ = 0; // threads inside wait
};

using EventHandle = uint64_t; // 0 is never a valid handle

// CreateEvent(auto-reset, not signalled); 0 when the object cannot be made.
EventHandle createEvent();
// CloseHandle: the handle stops naming the object; references taken through it stay valid.
bool closeEvent(EventHandle handle);
bool setEvent(EventHandle handle);
bool resetEvent(EventHandle handle);
// A time-out of kInfinite waits for ever. Returns 0 (signalled), 0x102 (timed out) or -1 (bad handle),
// as WaitForSingleObject's WAIT_OBJECT_0, WAIT_TIMEOUT and WAIT_FAILED.
inline constexpr uint32_t kInfinite = 0xFFFFFFFF;
int32_t waitForEvent(EventHandle handle, uint32_t timeoutMs);

// The object behind a handle, referenced (ObReferenceObjectByHandle); null for a handle that names none.
std::shared_ptr<EventObject> referenceEvent(EventHandle handle);

} // namespace sim::os
