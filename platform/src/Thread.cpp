#include "platform/Thread.h"

#include <chrono>
#include <condition_variable>
#include <pthread.h>
#include <sched.h>
#include <utility>
#include <vector>

namespace platform
{

struct Thread::Run
{
    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false; // guarded by mutex

    bool hasFinished()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return finished;
    }

    bool waitFor(uint32_t timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return finished; });
    }
};

namespace
{

// Threads whose holder went on the thread itself. Their bodies are at their very end; whoever collects
// them waits only for that. At process exit (or when the library holding this goes) the rest is joined.
struct RetiredThreads
{
    std::mutex mutex;
    std::vector<std::pair<std::thread, std::shared_ptr<void>>> threads; // guarded by mutex

    ~RetiredThreads()
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& t : threads)
            t.first.join();
    }
};

RetiredThreads& retiredThreads()
{
    static RetiredThreads retired;
    return retired;
}

} // namespace

Thread& Thread::operator=(Thread&& other) noexcept
{
    if (this == &other)
        return *this;
    join();
    std::scoped_lock lock(mutex_, other.mutex_);
    thread_ = std::move(other.thread_);
    state_ = std::move(other.state_);
    id_ = other.id_;
    other.id_ = std::thread::id();
    return *this;
}

bool Thread::start(Body body, void* argument)
{
    collectRetired();
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable())
        return false;
    try
    {
        auto state = std::make_shared<Run>();
        thread_ = std::thread(&Thread::run, state, body, argument);
        state_ = std::move(state);
        id_ = thread_.get_id();
    }
    catch (...) // std::thread reports a thread it cannot make only by throwing
    {
        return false;
    }
    return true;
}

void Thread::run(std::shared_ptr<Run> state, Body body, void* argument)
{
    // The body may end the holder's life: from here on only the shared state is used.
    body(argument);
    std::lock_guard<std::mutex> lock(state->mutex);
    state->finished = true;
    state->ended.notify_all();
}

Thread::Ending Thread::ending() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    Ending ending;
    ending.state_ = state_;
    return ending;
}

bool Thread::Ending::waitFor(uint32_t timeoutMs) const
{
    return !state_ || state_->waitFor(timeoutMs);
}

bool Thread::joinFor(uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!thread_.joinable())
        return true;
    if (id_ == std::this_thread::get_id())
        return false;
    const std::shared_ptr<Run> state = state_;
    lock.unlock();
    if (!state->waitFor(timeoutMs))
        return false;
    lock.lock();
    if (state_ != state)
        return true; // handed to another holder while it ended, which collects it
    lock.unlock();
    join(); // the body has returned: this only collects the thread
    return true;
}

void Thread::join()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!thread_.joinable())
        return;
    std::thread ending = std::move(thread_);
    std::shared_ptr<Run> state = std::move(state_);
    const std::thread::id id = id_;
    if (id == std::this_thread::get_id())
    {
        id_ = std::thread::id();
        lock.unlock();
        retire(std::move(ending), std::move(state));
        return;
    }
    // The thread stays current to itself until it is joined.
    lock.unlock();
    ending.join();
    lock.lock();
    if (id_ == id)
        id_ = std::thread::id();
}

void Thread::retire(std::thread thread, std::shared_ptr<Run> state)
{
    RetiredThreads& retired = retiredThreads();
    std::lock_guard<std::mutex> lock(retired.mutex);
    retired.threads.emplace_back(std::move(thread), std::move(state));
}

size_t Thread::collectRetired()
{
    RetiredThreads& retired = retiredThreads();
    // Joined under the lock: whoever is told that none is left knows that none still runs.
    std::lock_guard<std::mutex> lock(retired.mutex);
    size_t running = 0;
    for (auto it = retired.threads.begin(); it != retired.threads.end();)
    {
        if (static_cast<Run*>(it->second.get())->hasFinished())
        {
            it->first.join();
            it = retired.threads.erase(it);
        }
        else
        {
            ++running;
            ++it;
        }
    }
    return running;
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
