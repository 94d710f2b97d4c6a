#include "simos/Event.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <map>
#include <mutex>
#include <new>
#include <sys/syscall.h>
#include <unistd.h>

namespace sim::os
{
namespace
{

long futex(uint32_t* word, int op, uint32_t value, const timespec* timeout)
{
    return ::syscall(SYS_futex, word, op, value, timeout, nullptr, 0);
}

timespec addMs(timespec t, uint32_t ms)
{
    t.tv_sec += ms / 1000;
    t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L)
    {
        t.tv_nsec -= 1000000000L;
        ++t.tv_sec;
    }
    return t;
}

// The process's handle table. Handles are numbers that are never reused, so a stale handle names nothing.
struct HandleTable
{
    std::mutex mutex;
    std::map<EventHandle, std::shared_ptr<EventObject>> events; // guarded by mutex
    EventHandle next = 0x4000;                                  // guarded by mutex
};

HandleTable& table()
{
    static HandleTable t;
    return t;
}

} // namespace

void EventObject::set()
{
    __atomic_store_n(&state_, 1u, __ATOMIC_RELEASE);
    if (__atomic_load_n(&waiters_, __ATOMIC_ACQUIRE) != 0)
        futex(&state_, FUTEX_WAKE_PRIVATE, 1, nullptr);
}

void EventObject::reset()
{
    __atomic_store_n(&state_, 0u, __ATOMIC_RELEASE);
}

EventObject::WaitResult EventObject::wait(uint32_t timeoutMs)
{
    if (__atomic_exchange_n(&state_, 0u, __ATOMIC_ACQ_REL) == 1)
        return Signalled;
    if (timeoutMs == 0)
        return TimedOut;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const timespec deadline = addMs(now, timeoutMs);
    __atomic_add_fetch(&waiters_, 1u, __ATOMIC_ACQ_REL);
    WaitResult result = TimedOut;
    for (;;)
    {
        if (__atomic_exchange_n(&state_, 0u, __ATOMIC_ACQ_REL) == 1)
        {
            result = Signalled;
            break;
        }
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec > deadline.tv_sec ||
            (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec))
            break;
        if (timeoutMs == kInfinite)
        {
            futex(&state_, FUTEX_WAIT_PRIVATE, 0, nullptr);
            continue;
        }
        timespec left{deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
        if (left.tv_nsec < 0)
        {
            left.tv_nsec += 1000000000L;
            --left.tv_sec;
        }
        // Sleeps only while the word is still 0; a set in between makes the call return at once.
        futex(&state_, FUTEX_WAIT_PRIVATE, 0, &left);
    }
    __atomic_sub_fetch(&waiters_, 1u, __ATOMIC_ACQ_REL);
    return result;
}

EventHandle createEvent()
{
    std::shared_ptr<EventObject> object(new (std::nothrow) EventObject);
    if (!object)
        return 0;
    HandleTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const EventHandle handle = t.next;
    t.next += 4;
    t.events.emplace(handle, std::move(object));
    return handle;
}

bool closeEvent(EventHandle handle)
{
    HandleTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.events.erase(handle) == 1;
}

std::shared_ptr<EventObject> referenceEvent(EventHandle handle)
{
    HandleTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const auto it = t.events.find(handle);
    return it == t.events.end() ? nullptr : it->second;
}

bool setEvent(EventHandle handle)
{
    const std::shared_ptr<EventObject> object = referenceEvent(handle);
    if (object)
        object->set();
    return object != nullptr;
}

bool resetEvent(EventHandle handle)
{
    const std::shared_ptr<EventObject> object = referenceEvent(handle);
    if (object)
        object->reset();
    return object != nullptr;
}

int32_t waitForEvent(EventHandle handle, uint32_t timeoutMs)
{
    const std::shared_ptr<EventObject> object = referenceEvent(handle);
    if (!object)
        return -1;
    return object->wait(timeoutMs) == EventObject::Signalled ? 0 : 0x102;
}

} // namespace sim::os
