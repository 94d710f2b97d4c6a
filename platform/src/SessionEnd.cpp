#include "platform/SessionEnd.h"

#include "platform/Debug.h"
#include "platform/MessageWindow.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace platform
{
namespace
{

std::atomic<int> signalPipe{-1};
struct sigaction previousAction;

void onTerminate(int)
{
    const int saved = errno;
    if (const int fd = signalPipe.load(); fd >= 0)
    {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

SessionEndWatcher::SessionEndWatcher()
{
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
    {
        debugPrintf("SessionEndWatcher - no pipe - errno %d", errno);
        return;
    }
    int expected = -1;
    if (!signalPipe.compare_exchange_strong(expected, pipe_[1]))
    {
        debugPrintf("SessionEndWatcher - a watcher exists already");
        return;
    }
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &previousAction);
    active_ = thread_.start(&SessionEndWatcher::threadBody, this);
    if (!active_)
    {
        ::sigaction(SIGTERM, &previousAction, nullptr);
        signalPipe.store(-1);
    }
}

SessionEndWatcher::~SessionEndWatcher()
{
    if (active_)
    {
        ::sigaction(SIGTERM, &previousAction, nullptr);
        stop_.store(true);
        // Wakes the thread, which sleeps until a byte arrives.
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = ::write(pipe_[1], &byte, 1);
        thread_.join();
        signalPipe.store(-1);
    }
    for (int fd : pipe_)
        if (fd >= 0)
            ::close(fd);
}

void SessionEndWatcher::threadBody(void* self)
{
    static_cast<SessionEndWatcher*>(self)->run();
}

void SessionEndWatcher::run()
{
    while (!stop_.load())
    {
        pollfd p = {pipe_[0], POLLIN, 0};
        if (::poll(&p, 1, -1) <= 0)
            continue;
        if (stop_.load())
            break;
        char bytes[16];
        if (::read(pipe_[0], bytes, sizeof bytes) <= 0 || ended_.exchange(true))
            continue;
        debugPrintf("SIGTERM - ending the session");
        broadcastToWindows(WM_ENDSESSION, 1, 0);
    }
}

} // namespace platform
