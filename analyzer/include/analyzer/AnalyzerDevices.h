#pragma once

// The analyzer's device access: its own list, which keeps every present interface of the kernel driver's
// class (whatever its vendor, with or without a capability record) and never grows, and a device-change
// notifier with a thread and a hidden window of its own that only reports removals. The device objects
// and their requests are the device layer's.

#include "device/DeviceList.h"
#include "device/Vhw.h"
#include "platform/MessageWindow.h"
#include "platform/Thread.h"

#include <juce_core/juce_core.h>
#include <juce_events/juce_events.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace analyzer
{

class DeviceList;

// Posts device::deviceRemovalMessage (with the device) to its listener for every removal broadcast
// (query-remove, remove-pending, remove-complete) of an interface the list holds.
class DeviceChangeNotifier
{
public:
    // Starts the thread and returns once it watches for broadcasts (or has given up making its window).
    DeviceChangeNotifier(const platform::Guid& interfaceClass, DeviceList& list);
    // Unregisters, closes the window and joins the thread: no message is posted afterwards.
    ~DeviceChangeNotifier();

    void setListener(juce::MessageListener* listener) { listener_.store(listener); }
    // The window exists and is registered for the class's broadcasts.
    bool isWatching() const { return notification_.load() != 0; }

private:
    static void run(void* self);
    static platform::LRESULT windowProc(platform::HWND window, uint32_t message, platform::WPARAM wParam,
                                        platform::LPARAM lParam);
    void handleDeviceChange(platform::WPARAM wParam, platform::LPARAM lParam);

    const platform::Guid interfaceClass_;
    std::atomic<platform::HDEVNOTIFY> notification_{0};
    std::atomic<platform::HWND> window_{0};
    std::atomic<bool> started_{false};  // the thread has registered, or given up
    std::atomic<bool> stopping_{false}; // the destructor runs: a window made now is closed at once
    DeviceList& list_;
    std::atomic<juce::MessageListener*> listener_{nullptr};
    platform::Thread thread_; // last: joined before the fields it uses go

    JUCE_DECLARE_NON_COPYABLE(DeviceChangeNotifier)
};

class DeviceList
{
public:
    // Makes a device object for every present interface of the class; index 0 is the one found last.
    DeviceList();
    // Stops the notifier, then releases every device (each is closed when its last reference goes).
    ~DeviceList();

    int getCount() const;
    // The index-th device, or null.
    device::vhw::Ptr getDevice(int index) const;
    // The device whose path equals this one, ignoring case; null when none.
    device::vhw::Ptr findByPath(const std::string& path) const;
    void clear();

    // Starts the device-change notifier on the first call, then gives it the listener.
    void setListener(juce::MessageListener* listener);
    // Stops the notifier and joins its thread; the listener may go once this returns.
    void stopNotifications();
    bool isWatching() const { return notifier_ != nullptr && notifier_->isWatching(); }

private:
    juce::ReferenceCountedArray<device::vhw> devices_; // guarded by lock_
    mutable juce::CriticalSection lock_;
    std::unique_ptr<DeviceChangeNotifier> notifier_; // made and deleted on the message thread

    JUCE_DECLARE_NON_COPYABLE(DeviceList)
};

// The three overrun counters the firmware keeps.
struct FirmwareCounters
{
    uint32_t armOverflow = 0;
    uint32_t dspUnderrun = 0;
    uint32_t dspOverflow = 0;
};

// How long the counters are asked for again while the device answers "try again" (a bus reset).
inline constexpr uint32_t kFirmwareCounterRetryMs = 2000;

// Asks the device for its firmware counters, again while it answers "try again", for up to
// kFirmwareCounterRetryMs. On 0 kept receives the new counters; otherwise it is left as it was.
// Returns the last answer (0 done, -1 try again, 1 failed, 2 device error).
int fetchFirmwareCounters(device::vhw& device, FirmwareCounters& kept);

} // namespace analyzer
