#include "AudioService.h"

#include "platform/Thread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace platform::audioservice
{
namespace
{

// How often the thread looks at the bus for changes.
constexpr auto kPollInterval = std::chrono::milliseconds(20);

struct Registration
{
    uint64_t serial;
    Client* client;
    std::string unit;
    uint64_t creationId;
    uint32_t first;
    uint32_t count;
    uint64_t after; // changes up to this sequence happened before the registration
};

bool touches(const Registration& r, const sim::audio::VolumeEvent& e)
{
    return e.seq > r.after && e.unit == r.unit && e.creationId == r.creationId &&
           e.firstChannel < r.first + r.count && r.first < e.firstChannel + e.channelCount;
}

class Service
{
public:
    // Never destroyed: a client may go while the process ends.
    static Service& instance()
    {
        static auto* const service = new Service();
        return *service;
    }

    void add(Client* client, const std::string& unit, uint64_t creationId, uint32_t first, uint32_t count)
    {
        const uint64_t after = sim::audio::volumeEventSequence();
        {
            const std::lock_guard<std::recursive_mutex> lock(dispatchMutex_);
            registrations_.push_back({++serial_, client, unit, creationId, first, count, after});
        }
        retain(after);
    }

    void remove(Client* client)
    {
        size_t removed = 0;
        {
            // Waits for a call in progress on the thread (unless this is that call).
            const std::lock_guard<std::recursive_mutex> lock(dispatchMutex_);
            const auto end = std::remove_if(registrations_.begin(), registrations_.end(),
                                            [client](const Registration& r) { return r.client == client; });
            removed = static_cast<size_t>(registrations_.end() - end);
            registrations_.erase(end, registrations_.end());
        }
        for (size_t i = 0; i < removed; ++i)
            release();
    }

private:
    struct ThreadStart
    {
        Service* service;
        std::shared_ptr<std::atomic<bool>> stop;
        uint64_t from;
    };

    // One more client; starts the thread for the first.
    void retain(uint64_t from)
    {
        Thread finished; // a thread told to stop earlier, joined on the way out
        const std::lock_guard<std::mutex> lock(stateMutex_);
        if (++clients_ > 1 && stop_ != nullptr)
            return;
        stop_ = std::make_shared<std::atomic<bool>>(false);
        finished = std::move(thread_);
        auto* start = new ThreadStart{this, stop_, from};
        if (!thread_.start(&Service::body, start))
        {
            delete start;
            stop_.reset(); // no notifications, but the client stays registered
        }
    }

    // One client less; the last one stops the thread and waits for it (unless this is the thread).
    void release()
    {
        Thread ending;
        {
            const std::lock_guard<std::mutex> lock(stateMutex_);
            if (clients_ == 0 || --clients_ > 0)
                return;
            if (stop_ != nullptr)
                stop_->store(true);
            stop_.reset();
            wake_.notify_all();
            ending = std::move(thread_);
        }
        // ending's destructor joins it here, outside the lock the thread takes to wait.
    }

    static void body(void* argument)
    {
        const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
        start->service->run(*start->stop, start->from);
    }

    void run(const std::atomic<bool>& stop, uint64_t seq)
    {
        while (!stop.load())
        {
            uint64_t next = seq;
            const std::vector<sim::audio::VolumeEvent> events = sim::audio::volumeEventsSince(seq, &next);
            seq = next;
            for (const auto& e : events)
                dispatch(e, stop);
            std::unique_lock<std::mutex> lock(stateMutex_);
            wake_.wait_for(lock, kPollInterval, [&stop] { return stop.load(); });
        }
    }

    void dispatch(const sim::audio::VolumeEvent& e, const std::atomic<bool>& stop)
    {
        // A client may add or remove clients during its call: walk a copy and pass over the ones gone.
        const std::lock_guard<std::recursive_mutex> lock(dispatchMutex_);
        const std::vector<Registration> registrations = registrations_;
        for (const Registration& r : registrations)
        {
            if (stop.load())
                return;
            const bool present = std::any_of(registrations_.begin(), registrations_.end(),
                                             [&r](const Registration& x) { return x.serial == r.serial; });
            if (present && touches(r, e))
                r.client->volumeChanged(e);
        }
    }

    std::recursive_mutex dispatchMutex_;      // held while a client is called
    std::vector<Registration> registrations_; // guarded by dispatchMutex_
    uint64_t serial_ = 0;                     // guarded by dispatchMutex_

    std::mutex stateMutex_;
    std::condition_variable wake_;
    size_t clients_ = 0;                      // guarded by stateMutex_
    std::shared_ptr<std::atomic<bool>> stop_; // guarded by stateMutex_; the running thread's
    Thread thread_;                           // guarded by stateMutex_
};

} // namespace

void add(Client* client, const std::string& unit, uint64_t creationId, uint32_t firstChannel,
         uint32_t channelCount)
{
    Service::instance().add(client, unit, creationId, firstChannel, channelCount);
}

void remove(Client* client)
{
    Service::instance().remove(client);
}

} // namespace platform::audioservice
