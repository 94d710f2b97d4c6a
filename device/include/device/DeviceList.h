#pragma once

// The present interfaces of the kernel driver's class whose vendor id is the wanted one, each as a device
// object, followed as interfaces arrive and leave: arrivals and removals are posted to a listener on the
// message thread.

#include "device/Vhw.h"
#include "device/Win32NotificationWindow.h"
#include "device/Wire.h"
#include "platform/DeviceInterfaces.h"
#include "platform/MessageWindow.h"

#include <juce_core/juce_core.h>
#include <juce_events/juce_events.h>

#include <memory>
#include <string>
#include <vector>

namespace device
{

// The kernel driver's device-interface class, under the name the list has always used.
inline constexpr const platform::Guid& kInterfaceClass = kDeviceInterfaceClass;

class DeviceList;

// Receives the device-change broadcasts of the class on the notification thread, updates the list and
// posts deviceArrivalMessage / deviceRemovalMessage to its listener.
class CDevChangeNotify : public Win32MessageListener
{
public:
    CDevChangeNotify(const platform::Guid& interfaceClass, DeviceList& list);
    ~CDevChangeNotify() override;

    void setListener(juce::MessageListener* listener);
    void handleWin32Message(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam) override;

private:
    platform::HDEVNOTIFY notification_ = 0;
    DeviceList& list_;
    std::atomic<juce::MessageListener*> listener_{nullptr};

    JUCE_DECLARE_NON_COPYABLE(CDevChangeNotify)
};

class DeviceList
{
public:
    // Scans for the present interfaces at once.
    explicit DeviceList(uint32_t wantedVendorId);
    // Stops the notifications first, then releases every device.
    ~DeviceList();

    // Makes a device object for every present interface (or only the one whose path equals the filter,
    // ignoring case) of the wanted vendor, in front of the list. Passes over a path the list already
    // holds. Returns the device kept for the last interface that passed the filter, or null.
    vhw::Ptr scan(const std::string* pathFilter = nullptr);

    // Unlinks and returns the device with this path (ignoring case), or null.
    vhw::Ptr remove(const std::string& path);

    // The index-th device (0 = found last), or null.
    vhw::Ptr getDevice(int index) const;
    int getCount() const;
    // Every listed device in list order, taken under one lock: a walk over it sees one state of the
    // list, and its counted references keep the devices alive after the list drops them.
    std::vector<vhw::Ptr> getSnapshot() const;
    // Whether the device is still listed.
    bool contains(const vhw* device) const;

    void clear();

    // Starts the device-change notifications (on the first call) and sets the listener of the messages.
    void setListener(juce::MessageListener* listener);

    // setListener, and in the same step, under the list's lock, brings the list up to date with the
    // interfaces present now, posting nothing: a device whose interface has gone is dropped, a new
    // interface is listed. Returns the devices then listed. Every later change of the list is posted to
    // the listener, so a caller that takes what this returns and then what the messages bring misses no
    // interface that comes or goes, and hears of none twice.
    std::vector<vhw::Ptr> setListenerAndSync(juce::MessageListener* listener);

private:
    // Drops the devices whose interface is no longer present (under the lock).
    void dropAbsent();

    const uint32_t wantedVendorId_;
    juce::ReferenceCountedArray<vhw> devices_; // guarded by lock_
    std::unique_ptr<CDevChangeNotify> notifier_;
    mutable juce::CriticalSection lock_;

    JUCE_DECLARE_NON_COPYABLE(DeviceList)
};

} // namespace device
