#include "platform/MessageWindow.h"

#include "sim/KernelDriver.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace platform
{
namespace
{

// How often a window with device registrations looks at the bus for arrivals and removals.
constexpr auto kDevicePollInterval = std::chrono::milliseconds(50);

struct Registration
{
    HDEVNOTIFY id;
    Guid interfaceClass;
    uint64_t lastSeq;
};

struct QueuedMessage
{
    MSG msg;
    std::shared_ptr<std::vector<uint8_t>> payload; // the block lParam points into, for broadcasts
};

struct Window
{
    HWND id = 0;
    WNDPROC proc = nullptr;
    void* userData = nullptr;
    bool destroyed = false;
    std::deque<QueuedMessage> queue;
    std::vector<Registration> registrations;
    std::shared_ptr<std::vector<uint8_t>> currentPayload; // kept until the next getMessage
    std::condition_variable wake;
};

std::mutex windowsMutex;
std::map<HWND, std::shared_ptr<Window>> windows; // guarded by windowsMutex
uintptr_t nextId = 0x1000;                       // guarded by windowsMutex

std::shared_ptr<Window> find(HWND id)
{
    auto it = windows.find(id);
    return it == windows.end() ? nullptr : it->second;
}

std::shared_ptr<std::vector<uint8_t>> makeBroadcast(const Guid& interfaceClass, const std::string& path)
{
    const size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + path.size() + 1;
    auto block = std::make_shared<std::vector<uint8_t>>(size, 0);
    DEV_BROADCAST_DEVICEINTERFACE_A header{};
    header.dbcc_size = static_cast<uint32_t>(size);
    header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    header.dbcc_classguid = interfaceClass;
    std::memcpy(block->data(), &header, offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name));
    std::memcpy(block->data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name), path.c_str(),
                path.size() + 1);
    return block;
}

void queueBroadcast(Window& w, uint32_t code, const std::shared_ptr<std::vector<uint8_t>>& block)
{
    QueuedMessage q{{w.id, WM_DEVICECHANGE, code, reinterpret_cast<LPARAM>(block->data())}, block};
    w.queue.push_back(std::move(q));
}

// Turns the bus events since each registration's last look into broadcasts. Called with windowsMutex
// held: the bus has a lock of its own and never calls back.
void pollDeviceEvents(Window& w)
{
    for (auto& reg : w.registrations)
    {
        uint64_t next = reg.lastSeq;
        const auto events =
            sim::kernel::interfaceEventsSince(reg.interfaceClass.toString(), reg.lastSeq, &next);
        reg.lastSeq = next;
        for (const auto& e : events)
        {
            auto block = makeBroadcast(reg.interfaceClass, e.path);
            if (e.arrival)
            {
                queueBroadcast(w, DBT_DEVICEARRIVAL, block);
                continue;
            }
            if (e.removalCodes & 1u)
                queueBroadcast(w, DBT_DEVICEQUERYREMOVE, block);
            if (e.removalCodes & 2u)
                queueBroadcast(w, DBT_DEVICEREMOVEPENDING, block);
            if (e.removalCodes & 4u)
                queueBroadcast(w, DBT_DEVICEREMOVECOMPLETE, block);
        }
    }
}

} // namespace

HWND createMessageWindow(WNDPROC windowProc)
{
    if (windowProc == nullptr)
        return 0;
    std::lock_guard<std::mutex> lock(windowsMutex);
    auto w = std::make_shared<Window>();
    w->id = nextId++;
    w->proc = windowProc;
    windows[w->id] = w;
    return w->id;
}

void setWindowUserData(HWND window, void* data)
{
    std::lock_guard<std::mutex> lock(windowsMutex);
    if (auto w = find(window))
        w->userData = data;
}

void* getWindowUserData(HWND window)
{
    std::lock_guard<std::mutex> lock(windowsMutex);
    auto w = find(window);
    return w ? w->userData : nullptr;
}

bool postMessage(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard<std::mutex> lock(windowsMutex);
    auto w = find(window);
    if (!w || w->destroyed)
        return false;
    w->queue.push_back({{window, message, wParam, lParam}, nullptr});
    w->wake.notify_one();
    return true;
}

int getMessage(MSG* msg, HWND window)
{
    std::unique_lock<std::mutex> lock(windowsMutex);
    auto w = find(window);
    if (!w)
        return -1;
    w->currentPayload.reset();
    for (;;)
    {
        if (!w->queue.empty())
        {
            QueuedMessage q = std::move(w->queue.front());
            w->queue.pop_front();
            *msg = q.msg;
            w->currentPayload = std::move(q.payload);
            return msg->message == WM_QUIT ? 0 : 1;
        }
        if (w->destroyed)
            return -1;
        if (w->registrations.empty())
        {
            w->wake.wait(lock);
            continue;
        }
        pollDeviceEvents(*w);
        if (w->queue.empty())
            w->wake.wait_for(lock, kDevicePollInterval);
    }
}

LRESULT dispatchMessage(const MSG& msg)
{
    WNDPROC proc = nullptr;
    {
        std::lock_guard<std::mutex> lock(windowsMutex);
        if (auto w = find(msg.hwnd))
            proc = w->proc;
    }
    return proc != nullptr ? proc(msg.hwnd, msg.message, msg.wParam, msg.lParam) : 0;
}

LRESULT defWindowProc(HWND window, uint32_t message, WPARAM, LPARAM)
{
    if (message == WM_CLOSE)
        destroyWindow(window);
    return 0;
}

bool destroyWindow(HWND window)
{
    std::lock_guard<std::mutex> lock(windowsMutex);
    auto w = find(window);
    if (!w)
        return false;
    // The owner's getMessage still holds the window: it answers -1 once the queue is empty.
    w->destroyed = true;
    w->registrations.clear();
    windows.erase(window);
    w->wake.notify_all();
    return true;
}

HDEVNOTIFY registerDeviceNotification(HWND window, const DEV_BROADCAST_DEVICEINTERFACE_A& filter)
{
    if (filter.dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return 0;
    const uint64_t seq = sim::kernel::interfaceEventSequence();
    std::lock_guard<std::mutex> lock(windowsMutex);
    auto w = find(window);
    if (!w)
        return 0;
    static uintptr_t nextNotification = 1;
    const HDEVNOTIFY id = nextNotification++;
    w->registrations.push_back({id, filter.dbcc_classguid, seq});
    w->wake.notify_one(); // start polling
    return id;
}

bool unregisterDeviceNotification(HDEVNOTIFY notification)
{
    std::lock_guard<std::mutex> lock(windowsMutex);
    for (auto& [id, w] : windows)
        for (auto it = w->registrations.begin(); it != w->registrations.end(); ++it)
            if (it->id == notification)
            {
                w->registrations.erase(it);
                return true;
            }
    return false;
}

void broadcastToWindows(uint32_t message, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard<std::mutex> lock(windowsMutex);
    for (auto& [id, w] : windows)
    {
        w->queue.push_back({{id, message, wParam, lParam}, nullptr});
        w->wake.notify_one();
    }
}

} // namespace platform
