#include "device/DeviceList.h"

#include "device/DeviceMessage.h"

#include <cstring>

namespace device
{
namespace
{

bool samePath(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && juce::String(a).equalsIgnoreCase(juce::String(b));
}

// The interface name of a device-interface broadcast, or null for another kind of broadcast.
const char* interfaceNameOf(platform::LPARAM lParam)
{
    const auto* header = reinterpret_cast<const platform::DEV_BROADCAST_HDR*>(lParam);
    if (header == nullptr || header->dbch_devicetype != platform::DBT_DEVTYP_DEVICEINTERFACE)
        return nullptr;
    return reinterpret_cast<const char*>(lParam) +
           offsetof(platform::DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
}

} // namespace

CDevChangeNotify::CDevChangeNotify(const platform::Guid& interfaceClass, DeviceList& list) : list_(list)
{
    Win32NotificationWindow::addListener(this);
    const platform::HWND window = Win32NotificationWindow::getWindowHandle();
    if (window == 0)
        return;
    platform::DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = 32;
    filter.dbcc_devicetype = platform::DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = interfaceClass;
    notification_ = platform::registerDeviceNotification(window, filter);
}

CDevChangeNotify::~CDevChangeNotify()
{
    if (notification_ != 0)
        platform::unregisterDeviceNotification(notification_);
    // Once this returns no call is in progress and none comes.
    Win32NotificationWindow::removeListener(this);
}

void CDevChangeNotify::setListener(juce::MessageListener* listener)
{
    listener_.store(listener);
}

void CDevChangeNotify::handleWin32Message(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam)
{
    juce::MessageListener* listener = listener_.load();
    if (message != platform::WM_DEVICECHANGE || listener == nullptr)
        return;

    vhw::Ptr device;
    int32_t id = 0;
    switch (wParam)
    {
    case platform::DBT_DEVICEARRIVAL:
        if (const char* name = interfaceNameOf(lParam))
        {
            const std::string path(name);
            device = list_.scan(&path);
            id = deviceArrivalMessage;
        }
        break;
    case platform::DBT_DEVICEQUERYREMOVE:
    case platform::DBT_DEVICEREMOVEPENDING:
    case platform::DBT_DEVICEREMOVECOMPLETE:
        // Only the first removal broadcast of an interface still finds its device.
        if (const char* name = interfaceNameOf(lParam))
        {
            device = list_.remove(name);
            id = deviceRemovalMessage;
        }
        break;
    default:
        break;
    }
    if (device != nullptr)
        listener->postMessage(new SystemMessage(id, 0, 0, device.get()));
}

DeviceList::DeviceList(uint32_t wantedVendorId) : wantedVendorId_(wantedVendorId)
{
    scan();
}

DeviceList::~DeviceList()
{
    // No notification may reach a list that is being emptied.
    notifier_.reset();
    clear();
}

vhw::Ptr DeviceList::scan(const std::string* pathFilter)
{
    const juce::ScopedLock sl(lock_);
    platform::DeviceInterfaceSet set(kInterfaceClass);
    if (!set.isValid())
        return nullptr;

    vhw::Ptr result;
    for (size_t i = 0; i < set.size(); ++i)
    {
        const std::string& path = set.path(i);
        if (pathFilter != nullptr && !samePath(*pathFilter, path))
            continue;
        // A repeated arrival for a held interface must not make a second device (and a second window).
        bool held = false;
        for (auto* d : devices_)
            held = held || samePath(d->getDevicePath(), path);
        if (held)
        {
            result = nullptr;
            continue;
        }
        vhw::Ptr device = new vhw(path);
        if (device->isValid() && device->getVendorId() == wantedVendorId_)
        {
            devices_.insert(0, device.get());
            result = device;
        }
        else
            result = nullptr;
    }
    return result;
}

vhw::Ptr DeviceList::remove(const std::string& path)
{
    const juce::ScopedLock sl(lock_);
    for (int i = 0; i < devices_.size(); ++i)
        if (samePath(devices_[i]->getDevicePath(), path))
        {
            vhw::Ptr device = devices_[i];
            devices_.remove(i);
            return device;
        }
    return nullptr;
}

vhw::Ptr DeviceList::getDevice(int index) const
{
    const juce::ScopedLock sl(lock_);
    return devices_[index];
}

int DeviceList::getCount() const
{
    const juce::ScopedLock sl(lock_);
    return devices_.size();
}

std::vector<vhw::Ptr> DeviceList::getSnapshot() const
{
    const juce::ScopedLock sl(lock_);
    return std::vector<vhw::Ptr>(devices_.begin(), devices_.end());
}

bool DeviceList::contains(const vhw* device) const
{
    const juce::ScopedLock sl(lock_);
    return device != nullptr && devices_.contains(device);
}

void DeviceList::clear()
{
    const juce::ScopedLock sl(lock_);
    devices_.clear();
}

void DeviceList::setListener(juce::MessageListener* listener)
{
    if (notifier_ == nullptr)
        notifier_ = std::make_unique<CDevChangeNotify>(kInterfaceClass, *this);
    notifier_->setListener(listener);
}

std::vector<vhw::Ptr> DeviceList::setListenerAndSync(juce::MessageListener* listener)
{
    // The notifier is made outside the lock: the notification thread calls it holding its own listener
    // lock and then takes this one.
    if (notifier_ == nullptr)
        notifier_ = std::make_unique<CDevChangeNotify>(kInterfaceClass, *this);
    const juce::ScopedLock sl(lock_);
    // A broadcast handled before this found no listener and changed nothing; one handled after it finds
    // the listener, and waits for the lock, so it changes the list (and posts) only from the state below.
    // Interfaces that came or went before the notifications began are brought in here.
    notifier_->setListener(listener);
    dropAbsent();
    scan();
    return std::vector<vhw::Ptr>(devices_.begin(), devices_.end());
}

void DeviceList::dropAbsent()
{
    const juce::ScopedLock sl(lock_);
    platform::DeviceInterfaceSet set(kInterfaceClass);
    if (!set.isValid())
        return;
    for (int i = devices_.size(); --i >= 0;)
    {
        bool present = false;
        for (size_t j = 0; j < set.size() && !present; ++j)
            present = samePath(devices_[i]->getDevicePath(), set.path(j));
        if (!present)
            devices_.remove(i);
    }
}

} // namespace device
