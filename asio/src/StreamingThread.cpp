#include "asio/StreamingThread.h"

#include "asio/ComTypes.h"
#include "platform/Debug.h"
#include "platform/LastError.h"
#include "platform/Modules.h"

namespace asiodrv
{
namespace
{

// The functions of the multimedia class scheduler and of the window manager, as those modules export them.
using AvSetMmThreadCharacteristicsFn = void* (*)(const char* task, uint32_t* taskIndex);
using AvSetMmThreadPriorityFn = int32_t (*)(void* handle, int32_t priority);
using AvRevertMmThreadCharacteristicsFn = int32_t (*)(void* handle);
using DwmEnableMmcssFn = int32_t (*)(int32_t enable);
constexpr int32_t kAvrtPriorityCritical = 2;

// Touches the stack the periods will use (the input copies and the host's callback), so its pages are
// there before the first period instead of being faulted in by it.
__attribute__((noinline)) void prefaultStack()
{
    volatile uint8_t area[64 * 1024];
    for (size_t i = 0; i < sizeof area; i += 4096)
        area[i] = 0;
}

} // namespace

void logLastError(const char* operation)
{
    const uint32_t error = platform::getLastError();
    platform::debugPrintf("%s failed with error %d: %s\n", operation, static_cast<int>(error),
                          platform::systemErrorText(error).c_str());
}

struct StreamingThread::Priority
{
    platform::LoadedModule avrt;
    platform::LoadedModule dwmapi;
    void* mmcssTask = nullptr;
    DwmEnableMmcssFn dwmEnable = nullptr;
    bool lowered = false;
};

bool StreamingThread::start()
{
    if (thread_.isCurrent())
    {
        // Started again from inside a host callback on the streaming thread itself: this thread ends when
        // the callback returns (its generation is no longer current), and is joined later.
        retiring_ = std::move(thread_);
    }
    else
    {
        // Threads that outlived their last stop end now (their run flag is down, their event was set).
        thread_.join();
        if (!retiring_.isCurrent())
            retiring_.join();
    }
    generation_.fetch_add(1);
    runFlag_.store(true);
    return thread_.start(&StreamingThread::threadProc, this);
}

void StreamingThread::stop()
{
    // The thread stopped here is the one running now: one that a host starts from inside its last
    // callback (answering the reset request) is not waited for.
    const platform::Thread::Ending ending = thread_.ending();
    // Taken before the run flag goes down: from then on the ending thread's last callback may dispose the
    // buffers, and the event with them.
    const std::shared_ptr<platform::Event> event = host_.periodEvent();
    runFlag_.store(false);
    if (event)
        event->set(); // wakes the thread at once
    // Called from inside a host callback on the thread itself: it ends when the callback returns.
    if (thread_.isCurrent())
        return;
    if (!ending.waitFor(kStopWaitMs))
        platform::outputDebugString("ASIO Strellis: the streaming thread did not end within 1000 ms");
    // Collected wherever a restart from its callback moved it.
    thread_.joinFor(0);
    if (!retiring_.isCurrent())
        retiring_.joinFor(0);
}

void StreamingThread::join()
{
    if (!thread_.isCurrent())
        thread_.join();
}

void StreamingThread::joinAll()
{
    thread_.join();
    retiring_.join();
}

bool StreamingThread::retired(uint32_t generation) const
{
    return generation_.load() != generation || destroyingThread_.load() != std::thread::id();
}

bool StreamingThread::deferDestruction(void (*destroy)(void* owner), void* owner)
{
    if (!thread_.isCurrent() && !retiring_.isCurrent())
        return false;
    destroyOwner_ = destroy;
    owner_ = owner;
    destroyingThread_.store(std::this_thread::get_id());
    runFlag_.store(false);
    return true;
}

void StreamingThread::threadProc(void* argument)
{
    auto* const self = static_cast<StreamingThread*>(argument);
    self->loop();
    // The host released the object from a callback on this thread: it goes now that nothing of the
    // thread uses it any more.
    if (self->destroyingThread_.load() == std::this_thread::get_id())
        self->destroyOwner_(self->owner_);
}

void StreamingThread::loop()
{
    const uint32_t generation = generation_.load();
    const std::shared_ptr<platform::Event> event = host_.periodEvent();
    if (!event)
        return;
    Priority priority;
    raisePriority(priority);
    prefaultStack();
    bool stopped = false;
    bool lost = false;
    for (;;)
    {
        const platform::Event::WaitResult r = event->wait(kPeriodWaitMs);
        if (r == platform::Event::Failed)
        {
            logLastError("WaitForSingleObject");
            break;
        }
        // The set that stops the thread is no period: a lowered run flag serves none. A unit pulled out
        // sends no more periods, so a wait that times out asks the units whether they are still there.
        bool present = true;
        if (runFlag_.load())
            present = r == platform::Event::Signalled ? host_.servePeriod() : host_.unitsPresent();
        if (retired(generation))
            break;
        if (!runFlag_.load())
        {
            stopped = true;
            break;
        }
        if (!present)
        {
            lost = true;
            break;
        }
    }
    if (stopped)
        host_.threadStopped();
    else if (lost)
        host_.unitLost();
    restorePriority(priority);
}

void StreamingThread::raisePriority(Priority& priority)
{
    if (!platform::setCurrentThreadTimeCritical() && !normalPriorityReported_)
    {
        normalPriorityReported_ = true;
        platform::outputDebugString("ASIO Strellis: time-critical priority is not permitted; the streaming "
                                    "thread runs at normal priority");
    }
    if (host_.useMmcss())
    {
        priority.avrt = platform::LoadedModule::find("Avrt.dll");
        const auto characteristics = reinterpret_cast<AvSetMmThreadCharacteristicsFn>(
            priority.avrt.procAddress("AvSetMmThreadCharacteristicsA"));
        const auto setPriority =
            reinterpret_cast<AvSetMmThreadPriorityFn>(priority.avrt.procAddress("AvSetMmThreadPriority"));
        if (characteristics != nullptr && setPriority != nullptr)
        {
            uint32_t taskIndex = 0;
            priority.mmcssTask = characteristics("Pro Audio", &taskIndex);
            if (priority.mmcssTask != nullptr)
                setPriority(priority.mmcssTask, kAvrtPriorityCritical);
        }
    }
    if (host_.lowerDwmPriority())
    {
        priority.dwmapi = platform::LoadedModule::find("dwmapi.dll");
        priority.dwmEnable =
            reinterpret_cast<DwmEnableMmcssFn>(priority.dwmapi.procAddress("DwmEnableMMCSS"));
        if (priority.dwmEnable != nullptr)
            priority.lowered = priority.dwmEnable(0) == S_OK;
    }
}

void StreamingThread::restorePriority(Priority& priority)
{
    if (priority.mmcssTask != nullptr)
    {
        const auto revert = reinterpret_cast<AvRevertMmThreadCharacteristicsFn>(
            priority.avrt.procAddress("AvRevertMmThreadCharacteristics"));
        if (revert != nullptr)
            revert(priority.mmcssTask);
    }
    if (priority.lowered && priority.dwmEnable != nullptr)
        priority.dwmEnable(1);
    platform::setCurrentThreadNormalPriority();
}

} // namespace asiodrv
