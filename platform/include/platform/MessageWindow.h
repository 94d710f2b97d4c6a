#pragma once

// Message-only windows and their message loop, with the Windows message codes and layouts the system
// relies on. A window belongs to the thread that created it: that thread runs getMessage/dispatchMessage,
// and every message, posted or broadcast, is delivered there in order. Device-change broadcasts for a
// registered interface class arrive as WM_DEVICECHANGE with a DEV_BROADCAST_DEVICEINTERFACE_A block.

#include "platform/DeviceInterfaces.h"

#include <cstddef>
#include <cstdint>

namespace platform
{

using HWND = uintptr_t; // 0 = none
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

enum : uint32_t
{
    WM_CLOSE = 0x0010,
    WM_QUIT = 0x0012,
    WM_ENDSESSION = 0x0016,
    WM_DEVICECHANGE = 0x0219,
    MM_MIXM_CONTROL_CHANGE = 0x03D1
};

enum : uint32_t
{
    DBT_DEVICEARRIVAL = 0x8000,
    DBT_DEVICEQUERYREMOVE = 0x8001,
    DBT_DEVICEREMOVEPENDING = 0x8003,
    DBT_DEVICEREMOVECOMPLETE = 0x8004,
    DBT_DEVTYP_DEVICEINTERFACE = 5
};

#pragma pack(push, 1)
struct DEV_BROADCAST_HDR
{
    uint32_t dbch_size;
    uint32_t dbch_devicetype;
    uint32_t dbch_reserved;
};

// The interface name is a NUL-terminated text from byte 28 on; the block is as long as dbch_size says.
struct DEV_BROADCAST_DEVICEINTERFACE_A
{
    uint32_t dbcc_size;
    uint32_t dbcc_devicetype;
    uint32_t dbcc_reserved;
    Guid dbcc_classguid;
    char dbcc_name[1];
};
#pragma pack(pop)
static_assert(sizeof(Guid) == 16);
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) == 28);

struct MSG
{
    HWND hwnd;
    uint32_t message;
    WPARAM wParam;
    LPARAM lParam;
};

using WNDPROC = LRESULT (*)(HWND, uint32_t, WPARAM, LPARAM);

// Creates a message-only window owned by the calling thread; 0 on failure.
HWND createMessageWindow(WNDPROC windowProc);

void setWindowUserData(HWND window, void* data);
void* getWindowUserData(HWND window);

// Queues a message for the window's thread; false when the window does not exist.
bool postMessage(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);

// Waits for the next message of the window (on its own thread). 1 = a message, 0 = WM_QUIT,
// -1 = the window does not exist (destroyed, or never made).
int getMessage(MSG* msg, HWND window);

// Calls the window procedure with the message; the lParam of a broadcast stays valid during the call.
LRESULT dispatchMessage(const MSG& msg);

// The default handling: WM_CLOSE destroys the window; everything else is ignored.
LRESULT defWindowProc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);

bool destroyWindow(HWND window);

// Device-change broadcasts: the window receives the arrivals and removals of interfaces of the filter's
// class that happen after the registration. 0 on failure.
using HDEVNOTIFY = uintptr_t;
HDEVNOTIFY registerDeviceNotification(HWND window, const DEV_BROADCAST_DEVICEINTERFACE_A& filter);
bool unregisterDeviceNotification(HDEVNOTIFY notification);

// Sends a message to every message window of the process, as the system does with session and mixer
// notifications (WM_ENDSESSION, MM_MIXM_CONTROL_CHANGE).
void broadcastToWindows(uint32_t message, WPARAM wParam, LPARAM lParam);

} // namespace platform
