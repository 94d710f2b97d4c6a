#pragma once

// An unnamed auto-reset event (CreateEvent with automatic reset, not signalled): a boolean that one wait
// consumes, never a count. Its handle is what a driver hands to the kernel driver, which signals it.

#include <cstdint>
#include <memory>

namespace sim::os
{
class EventObject;
}

namespace platform
{

class Event
{
public:
    enum WaitResult
    {
        Signalled,
        TimedOut,
        Failed
    };

    Event() = default;
    ~Event() { close(); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // False when the event cannot be made.
    bool create();
    void close();
    bool isValid() const { return handle_ != 0; }

    // The handle the kernel driver is given (pointer-sized); 0 when none.
    uint64_t handle() const { return handle_; }

    void set();
    void reset();
    // Takes no lock and allocates nothing. Failed (with the last error set) for an event never made.
    WaitResult wait(uint32_t timeoutMs);

private:
    uint64_t handle_ = 0;
    std::shared_ptr<sim::os::EventObject> object_;
};

} // namespace platform
