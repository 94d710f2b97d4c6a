#pragma once

// Threads as the system uses them: started with a body and an argument, ended only by returning from the
// body, waited for with or without a time-out. A thread never outlives its Thread object: the destructor
// waits for it without limit.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace platform
{

class Thread
{
public:
    using Body = void (*)(void* argument);

    Thread() = default;
    ~Thread() { join(); }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts the body at once. False when a thread is still held (join it first) or none can be made.
    bool start(Body body, void* argument);

    // True once no thread is held any more: it ended within the time-out and was joined.
    bool joinFor(uint32_t timeoutMs);
    void join();
    bool isRunning() const;
    // Whether the calling thread is this thread.
    bool isCurrent() const;

private:
    void run(Body body, void* argument);

    std::thread thread_;
    std::thread::id id_; // guarded by mutex_; kept until the thread is joined
    mutable std::mutex mutex_;
    std::condition_variable ended_;
    bool finished_ = true; // guarded by mutex_
};

// THREAD_PRIORITY_TIME_CRITICAL for the calling thread: the highest real-time priority the process may
// use. False when the process may not (the thread then keeps its normal priority).
bool setCurrentThreadTimeCritical();
// Back to normal scheduling.
void setCurrentThreadNormalPriority();

} // namespace platform
