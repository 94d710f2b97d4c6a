#pragma once

// Threads as the system uses them: started with a body and an argument, ended only by returning from the
// body, waited for with or without a time-out. A thread never outlives its Thread object: the destructor
// waits for it without limit.
//
// The one exception: no thread ever joins itself. A Thread that is joined or destroyed on its own thread
// (a body that ends the life of the object holding it, as its last act) cannot wait for itself: it hands
// the thread to the process's retired threads, which collectRetired joins once their bodies have returned
// (and the process's exit joins in any case).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace platform
{

class Thread
{
private:
    struct Run; // whether the body has returned; shared by the holder and the thread itself

public:
    using Body = void (*)(void* argument);

    Thread() = default;
    ~Thread() { join(); }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    // Takes over the other's thread (the other then holds none), after joining any thread held here.
    Thread& operator=(Thread&& other) noexcept;

    // Starts the body at once. False when a thread is still held (join it first) or none can be made.
    bool start(Body body, void* argument);

    // The return of the body running now, to wait for even after its thread was handed to another
    // holder; already there when no thread is held.
    class Ending
    {
    public:
        // True once the body has returned (within the time-out).
        bool waitFor(uint32_t timeoutMs) const;

    private:
        friend class Thread;
        std::shared_ptr<Run> state_;
    };
    Ending ending() const;

    // True once no thread is held any more: it ended within the time-out and was joined (or was handed
    // to another holder meanwhile). False at once on the thread itself.
    bool joinFor(uint32_t timeoutMs);
    // Waits for the thread without limit. On the thread itself: hands it to the retired threads.
    void join();
    bool isRunning() const;
    // Whether the calling thread is this thread.
    bool isCurrent() const;

    // Joins every retired thread whose body has returned; the number of those still running. A library
    // that may be unloaded asks this before it says it can be.
    static size_t collectRetired();

private:
    static void run(std::shared_ptr<Run> state, Body body, void* argument);
    static void retire(std::thread thread, std::shared_ptr<Run> state);

    std::thread thread_;         // guarded by mutex_
    std::shared_ptr<Run> state_; // guarded by mutex_; the held thread's
    std::thread::id id_;         // guarded by mutex_; the held thread's
    mutable std::mutex mutex_;
};

// THREAD_PRIORITY_TIME_CRITICAL for the calling thread: the highest real-time priority the process may
// use. False when the process may not (the thread then keeps its normal priority).
bool setCurrentThreadTimeCritical();
// Back to normal scheduling.
void setCurrentThreadNormalPriority();

} // namespace platform
