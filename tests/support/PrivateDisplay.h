#pragma once

// A display of one test's own: an X server (Xvfb) on a free display number, with or without a window
// manager that frames windows and tells no frame size (twm, as many small window managers do). Programs
// the test starts there get name() as their DISPLAY; the test watches them through connection(), which
// it keeps open (a server whose last client leaves resets and forgets the atoms a window manager made).
// The server and the window manager are this object's own processes, ended with it.

#include "WaitUntil.h"

#include <X11/Xlib.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testsupport
{

class PrivateDisplay
{
public:
    // folder: where the window manager's settings file goes (the test's private folder).
    PrivateDisplay(bool framingWindowManager, const std::string& folder)
    {
        if (!startServer())
            return;
        connection_ = XOpenDisplay(name_.c_str());
        if (connection_ == nullptr)
            return;
        // The atoms a window manager makes, which the framework asks about without checking.
        for (const char* atom :
             {"WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "WM_CHANGE_STATE", "WM_STATE",
              "_NET_WM_PING", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN", "_NET_WM_WINDOW_TYPE"})
            XInternAtom(connection_, atom, False);
        XSync(connection_, False);
        if (!framingWindowManager)
        {
            ready_ = true;
            return;
        }
        // The display has the core "fixed" font only; twm's own default fonts would end it. A window that
        // asks for no place is put somewhere at once, not placed by hand while twm holds the server. A
        // title bar dragged with the first button moves its window, and the server is not held meanwhile
        // (the test's own pointer events would wait behind the hold).
        const std::string settings = folder + "/twmrc";
        std::ofstream(settings) << "TitleFont \"fixed\"\nResizeFont \"fixed\"\nMenuFont \"fixed\"\n"
                                   "IconFont \"fixed\"\nIconManagerFont \"fixed\"\nRandomPlacement\n"
                                   "OpaqueMove\nNoGrabServer\nButton1 = : title : f.move\n";
        windowManager_ = spawn({"twm", "-f", settings}, {"DISPLAY=" + name_, "LC_ALL=C"});
        // Running once it redirects the placement of the root window's children.
        ready_ = windowManager_ != 0 &&
                 waitUntil(
                     [&]
                     {
                         XWindowAttributes a{};
                         return XGetWindowAttributes(connection_, DefaultRootWindow(connection_), &a) &&
                                (a.all_event_masks & SubstructureRedirectMask) != 0;
                     });
    }

    ~PrivateDisplay()
    {
        end(windowManager_);
        if (connection_ != nullptr)
            XCloseDisplay(connection_);
        end(server_);
    }

    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    bool ready() const { return ready_; }
    const std::string& name() const { return name_; }
    Display* connection() const { return connection_; }

private:
    // Starts the server on a display number it picks itself, which it writes to a pipe once it listens.
    bool startServer()
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return false;
        server_ = spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1920x1200x24", "-nolisten", "tcp"}, {},
                        fds[1]);
        ::close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (server_ != 0 && ::poll(&p, 1, kHangMs) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        name_ = ":" + number;
        return server_ != 0 && !number.empty();
    }

    // Runs a program found on the path, with the test's environment and these variables over it, and
    // output as its descriptor 3 when given. It ends with the test, also when a hang or crash ends that.
    static pid_t spawn(std::vector<std::string> args, const std::vector<std::string>& variables,
                       int output = -1)
    {
        std::vector<std::string> env(variables);
        for (char** e = environ; *e != nullptr; ++e)
        {
            const std::string entry(*e);
            bool replaced = false;
            for (const std::string& v : variables)
                replaced = replaced || entry.compare(0, v.find('=') + 1, v, 0, v.find('=') + 1) == 0;
            if (!replaced)
                env.push_back(entry);
        }
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0)
        {
            // Only calls a forked child of a threaded process may make, up to the program's start.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit(127);
            if (output >= 0 && (::dup2(output, 3) < 0 || (output != 3 && ::close(output) != 0)))
                ::_exit(127);
            ::execvpe(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        return pid > 0 ? pid : 0;
    }

    static void end(pid_t pid)
    {
        if (pid == 0)
            return;
        ::kill(pid, SIGTERM);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR)
        {
        }
    }

    pid_t server_ = 0;
    pid_t windowManager_ = 0;
    Display* connection_ = nullptr;
    std::string name_;
    bool ready_ = false;
};

} // namespace testsupport
