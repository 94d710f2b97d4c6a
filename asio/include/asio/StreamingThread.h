#pragma once

// The driver object's streaming thread: it waits for the kernel driver's period signal and has the driver
// serve each period, at raised scheduling priority while it runs. One per driver object, serving only
// that object.
//
// No thread joins itself. A host may answer a callback on this thread with stop, disposeBuffers,
// createBuffers, start or its last Release: a start there moves the calling thread aside (it ends once
// the callback returns: its generation is no longer current) and starts a new one; a last Release there
// is deferred until the thread's function has returned (deferDestruction).

#include "platform/Event.h"
#include "platform/Thread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace asiodrv
{

// One line to the debugger output: "<operation> failed with error <n>: <the system's text for n>", n being
// the calling thread's last error.
void logLastError(const char* operation);

class StreamingThread
{
public:
    // What the thread asks of the driver object that owns it.
    class Host
    {
    public:
        // The event the kernel driver signals every period. The thread keeps its own reference, so the
        // event outlives a disposeBuffers made from inside a callback.
        virtual std::shared_ptr<platform::Event> periodEvent() const = 0;
        // A signal while the run flag is up: the period is served unless it was served already. False
        // when a unit the stream uses is gone: the thread ends with unitLost.
        virtual bool servePeriod() = 0;
        // A wait for a period that timed out while the run flag is up: the units the stream uses are
        // looked at. False when one of them is gone, which ends the thread with unitLost.
        virtual bool unitsPresent() = 0;
        // The thread was stopped through its run flag (not replaced, released or failed) and is ending.
        virtual void threadStopped() = 0;
        // The thread ends because a unit the stream uses is gone.
        virtual void unitLost() = 0;
        // The two scheduling switches, looked at as the thread starts.
        virtual bool useMmcss() const = 0;
        virtual bool lowerDwmPriority() const = 0;

    protected:
        ~Host() = default;
    };

    // The wait for a period (a wait that times out has the driver look whether its units are still
    // there), and the wait for a stopped thread to end.
    static constexpr uint32_t kPeriodWaitMs = 100;
    static constexpr uint32_t kStopWaitMs = 1000;

    explicit StreamingThread(Host& host) : host_(host) {}
    StreamingThread(const StreamingThread&) = delete;
    StreamingThread& operator=(const StreamingThread&) = delete;

    // Starts a new thread; threads that outlived their last stop are joined first, unless the caller is
    // one of them. False when no thread could be made.
    bool start();
    // Lowers the run flag, wakes the thread and waits up to kStopWaitMs for the thread running at the call
    // (not for one the host starts from inside its last callback). On the thread itself it does not wait.
    void stop();
    // Waits without limit for the thread running now, unless the caller is that thread.
    void join();
    // Waits without limit for every thread of this object; on one of them, hands it to the process's
    // retired threads instead.
    void joinAll();

    // Raised by every start. A caller on the thread takes it before a host callback; retired tells
    // afterwards whether streaming was restarted or the object released from inside that callback, so
    // the calling thread must touch nothing more.
    uint32_t generation() const { return generation_.load(); }
    bool retired(uint32_t generation) const;

    // The owner's last release. Made on a streaming thread of this object (from inside a host callback),
    // the object is still in use below that callback: the thread serves no more periods, and once its
    // function has returned it calls destroy(owner) as its last act. False on any other thread: the
    // caller deletes the owner at once.
    bool deferDestruction(void (*destroy)(void* owner), void* owner);

private:
    struct Priority; // what the thread changed of its scheduling

    static void threadProc(void* self);
    void loop();
    void raisePriority(Priority& priority);
    static void restorePriority(Priority& priority);

    Host& host_;
    platform::Thread thread_;
    // A thread replaced by a start from inside one of its own host callbacks: it ends once the callback
    // returns. The next start, stop or joinAll on another thread joins it.
    platform::Thread retiring_;
    std::atomic<uint32_t> generation_{0};
    std::atomic<bool> runFlag_{false};
    // Set by a release made on a streaming thread: that thread destroys the owner as it ends.
    std::atomic<std::thread::id> destroyingThread_{};
    void (*destroyOwner_)(void*) = nullptr; // written and read by that thread only
    void* owner_ = nullptr;
    bool normalPriorityReported_ = false; // streaming threads only, one after another
};

} // namespace asiodrv
