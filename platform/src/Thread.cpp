#include "platform/Thread.h"

#include <chrono>
#include <pthread.h>
#include <sched.h>

namespace platform
{

bool Thread::start(Body body, void* argument)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable())
        return false;
    finished_ = false;
    try
    {
        thread_ = std::thread(&Thread::run, this, body, argument);
        id_ = thread_.get_id();
    }
    catch (...) // std::thread reports a thread it cannot make only by throwing
    {
        finished_ = true;
        return false;
    }
    return true;
}

void Thread::run(Body body, void* argument)
{
    body(argument);
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    ended_.notify_all();
}

bool Thread::joinFor(uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!thread_.joinable())
        return true;
    if (!ended_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return finished_; }))
        return false;
    std::thread ending = std::move(thread_);
    lock.unlock();
    ending.join(); // the body has returned: this only collects the thread
    lock.lock();
    id_ = std::thread::id();
    return true;
}

void Thread::join()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!thread_.joinable())
        return;
    std::thread ending = std::move(thread_);
    lock.unlock();
    ending.join();
    lock.lock();
    id_ = std::thread::id();
}

bool Thread::isRunning() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return thread_.joinable();
}

bool Thread::isCurrent() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return id_ == std::this_thread::get_id();
}

bool setCurrentThreadTimeCritical()
{
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO) - 1;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

void setCurrentThreadNormalPriority()
{
    sched_param param{};
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
}

} // namespace platform
