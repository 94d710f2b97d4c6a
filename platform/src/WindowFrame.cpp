#include "platform/WindowFrame.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <dlfcn.h>

namespace platform
{
namespace
{

// The X library the GUI framework loaded: its display is asked with the framework's own library, which is
// never loaded here. The reference taken on it is kept for the process's life, so the functions looked up
// stay valid whatever the framework does with its own.
struct X11
{
    X11()
    {
        lib = ::dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
        if (lib == nullptr)
            return;
        getWindowAttributes =
            reinterpret_cast<decltype(getWindowAttributes)>(::dlsym(lib, "XGetWindowAttributes"));
        queryTree = reinterpret_cast<decltype(queryTree)>(::dlsym(lib, "XQueryTree"));
        free = reinterpret_cast<decltype(free)>(::dlsym(lib, "XFree"));
        internAtom = reinterpret_cast<decltype(internAtom)>(::dlsym(lib, "XInternAtom"));
        changeProperty = reinterpret_cast<decltype(changeProperty)>(::dlsym(lib, "XChangeProperty"));
        flush = reinterpret_cast<decltype(flush)>(::dlsym(lib, "XFlush"));
        eventsQueued = reinterpret_cast<decltype(eventsQueued)>(::dlsym(lib, "XEventsQueued"));
        sendEvent = reinterpret_cast<decltype(sendEvent)>(::dlsym(lib, "XSendEvent"));
        lockDisplay = reinterpret_cast<decltype(lockDisplay)>(::dlsym(lib, "XLockDisplay"));
        unlockDisplay = reinterpret_cast<decltype(unlockDisplay)>(::dlsym(lib, "XUnlockDisplay"));
    }

    bool usable() const
    {
        return getWindowAttributes != nullptr && queryTree != nullptr && free != nullptr &&
               internAtom != nullptr && changeProperty != nullptr && flush != nullptr &&
               eventsQueued != nullptr && sendEvent != nullptr && lockDisplay != nullptr &&
               unlockDisplay != nullptr;
    }

    void* lib = nullptr;
    Status (*getWindowAttributes)(Display*, Window, XWindowAttributes*) = nullptr;
    Status (*queryTree)(Display*, Window, Window*, Window*, Window**, unsigned int*) = nullptr;
    int (*free)(void*) = nullptr;
    Atom (*internAtom)(Display*, const char*, Bool) = nullptr;
    int (*changeProperty)(Display*, Window, Atom, Atom, int, int, const unsigned char*, int) = nullptr;
    int (*flush)(Display*) = nullptr;
    int (*eventsQueued)(Display*, int) = nullptr;
    Status (*sendEvent)(Display*, Window, Bool, long, XEvent*) = nullptr;
    void (*lockDisplay)(Display*) = nullptr;
    void (*unlockDisplay)(Display*) = nullptr;
};

// The X library for a window of the framework's display; null without one. A display means the framework
// has loaded its X library, which is looked up only then: once, when the first window is asked about.
const X11* x11For(void* display, std::uintptr_t window)
{
    if (display == nullptr || window == 0)
        return nullptr;
    static const X11 lib;
    return lib.usable() ? &lib : nullptr;
}

// The framework's lock of its display, for threads that share it.
class DisplayLock
{
public:
    DisplayLock(const X11& x, Display* display) : x_(x), display_(display) { x_.lockDisplay(display_); }
    ~DisplayLock() { x_.unlockDisplay(display_); }
    DisplayLock(const DisplayLock&) = delete;
    DisplayLock& operator=(const DisplayLock&) = delete;

private:
    const X11& x_;
    Display* display_;
};

// A round trip reads the events that arrived before its answer into the X library's queue. The framework
// reads its display only when the connection has news, so such events (a window manager's word of where it
// put a window) would wait there, unseen, until the next event came. One more is asked for: the window is
// sent a message that means nothing to it, and the framework wakes and reads them all.
void handOverQueuedEvents(const X11& x, Display* display, Window window)
{
    if (x.eventsQueued(display, QueuedAlready) == 0)
        return;
    XEvent wake{};
    wake.xclient.type = ClientMessage;
    wake.xclient.window = window;
    wake.xclient.message_type = x.internAtom(display, "STRELLIS_WAKE", False);
    wake.xclient.format = 32;
    // No event mask: the event goes to the client that made the window, the framework.
    x.sendEvent(display, window, False, NoEventMask, &wake);
    x.flush(display);
}

} // namespace

bool isShownWithoutFrame(void* display, std::uintptr_t window)
{
    const X11* x = x11For(display, window);
    if (x == nullptr)
        return false;
    Display* d = static_cast<Display*>(display);
    DisplayLock lock(*x, d);
    // A round trip: the server has carried out the framework's earlier requests (its map) when it answers.
    XWindowAttributes attributes{};
    const bool viewable =
        x->getWindowAttributes(d, window, &attributes) != 0 && attributes.map_state == IsViewable;
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    const bool listed = viewable && x->queryTree(d, window, &root, &parent, &children, &count) != 0;
    if (children != nullptr)
        x->free(children);
    handOverQueuedEvents(*x, d, window);
    return listed && parent == root;
}

bool tellWindowFrame(void* display, std::uintptr_t window, const WindowFrameExtents& frame)
{
    const X11* x = x11For(display, window);
    if (x == nullptr)
        return false;
    Display* d = static_cast<Display*>(display);
    DisplayLock lock(*x, d);
    const Atom extents = x->internAtom(d, "_NET_FRAME_EXTENTS", False);
    if (extents == None)
        return false;
    // Format 32 properties are handed over as longs.
    const long values[4] = {frame.left, frame.right, frame.top, frame.bottom};
    x->changeProperty(d, window, extents, XA_CARDINAL, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(values), 4);
    x->flush(d);
    return true;
}

} // namespace platform
