#pragma once

// The end of the user's session. On Windows every top-level window receives WM_ENDSESSION when the user
// logs off or the system shuts down, and the process is ended once the message was handled. Here the
// process's SIGTERM plays that part: while a SessionEndWatcher lives, a SIGTERM makes its thread
// broadcast WM_ENDSESSION (wParam 1: the session ends) to every message window of the process, once.
//
// The signal handler only writes one byte into a pipe; the watcher's thread does the broadcast, so no
// lock is ever taken inside the handler. What ends the process afterwards is the program's choice (the
// listeners of the message decide, as a Windows program's window procedure would).

#include "platform/Thread.h"

#include <atomic>

namespace platform
{

class SessionEndWatcher
{
public:
    // Installs the SIGTERM handler and starts the thread. Only one watcher may live at a time.
    SessionEndWatcher();
    // Restores the previous handler and ends the thread (woken through its pipe: it never polls).
    ~SessionEndWatcher();
    SessionEndWatcher(const SessionEndWatcher&) = delete;
    SessionEndWatcher& operator=(const SessionEndWatcher&) = delete;

    bool isActive() const { return active_; }
    // Whether a SIGTERM was received and broadcast.
    bool hasEnded() const { return ended_.load(); }

private:
    static void threadBody(void* self);
    void run();

    int pipe_[2] = {-1, -1};
    bool active_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{false};
    Thread thread_;
};

} // namespace platform
