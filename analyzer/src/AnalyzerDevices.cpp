#include "analyzer/AnalyzerDevices.h"

#include "device/DeviceMessage.h"
#include "formats/Wire.h"
#include "platform/DeviceInterfaces.h"
#include "platform/Time.h"

#include <cstddef>

namespace analyzer
{
namespace
{

// A bus reset takes a while to settle: asking in a tight loop would only flood the driver.
constexpr uint32_t kRetryPauseMs = 10;
constexpr uint32_t kStopTimeoutMs = 2000;
constexpr uint32_t kStartTimeoutMs = 2000;

} // namespace

// --- DeviceChangeNotifier ---

DeviceChangeNotifier::DeviceChangeNotifier(const platform::Guid& interfaceClass, DeviceList& list)
    : interfaceClass_(interfaceClass), list_(list)
{
    if (!thread_.start(&DeviceChangeNotifier::run, this))
        return;
    // A removal right after start-up must not be missed: wait until the window is registered.
    const uint32_t start = platform::getTickCount();
    while (!started_.load() && platform::getTickCount() - start < kStartTimeoutMs)
        platform::sleepMs(2);
}

DeviceChangeNotifier::~DeviceChangeNotifier()
{
    stopping_.store(true);
    listener_.store(nullptr);
    if (const platform::HDEVNOTIFY n = notification_.exchange(0); n != 0)
        platform::unregisterDeviceNotification(n);
    // The thread ends as soon as its window is gone. It may still be making the window: it looks at
    // stopping_ once the window is stored, and the close is posted again until the thread has ended.
    const uint32_t start = platform::getTickCount();
    while (thread_.isRunning() && platform::getTickCount() - start < kStopTimeoutMs)
    {
        if (const platform::HWND w = window_.load(); w != 0)
            platform::postMessage(w, platform::WM_CLOSE, 0, 0);
        if (thread_.joinFor(20))
            break;
    }
    thread_.join();
}

void DeviceChangeNotifier::run(void* argument)
{
    auto* self = static_cast<DeviceChangeNotifier*>(argument);
    const platform::HWND window = platform::createMessageWindow(&DeviceChangeNotifier::windowProc);
    if (window == 0)
    {
        self->started_.store(true); // no removal is ever reported
        return;
    }
    platform::setWindowUserData(window, self);
    self->window_.store(window);
    if (self->stopping_.load())
    {
        platform::destroyWindow(window);
        self->started_.store(true);
        return;
    }

    platform::DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = 32;
    filter.dbcc_devicetype = platform::DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = self->interfaceClass_;
    self->notification_.store(platform::registerDeviceNotification(window, filter));
    self->started_.store(true);

    platform::MSG msg{};
    while (platform::getMessage(&msg, window) > 0)
        platform::dispatchMessage(msg);
}

platform::LRESULT DeviceChangeNotifier::windowProc(platform::HWND window, uint32_t message,
                                                   platform::WPARAM wParam, platform::LPARAM lParam)
{
    if (message != platform::WM_DEVICECHANGE)
        return platform::defWindowProc(window, message, wParam, lParam);
    if (auto* self = static_cast<DeviceChangeNotifier*>(platform::getWindowUserData(window)))
        self->handleDeviceChange(wParam, lParam);
    return 1;
}

void DeviceChangeNotifier::handleDeviceChange(platform::WPARAM wParam, platform::LPARAM lParam)
{
    if (wParam != platform::DBT_DEVICEQUERYREMOVE && wParam != platform::DBT_DEVICEREMOVEPENDING &&
        wParam != platform::DBT_DEVICEREMOVECOMPLETE)
        return;
    const auto* header = reinterpret_cast<const platform::DEV_BROADCAST_HDR*>(lParam);
    juce::MessageListener* listener = listener_.load();
    if (header == nullptr || header->dbch_devicetype != platform::DBT_DEVTYP_DEVICEINTERFACE ||
        listener == nullptr)
        return;
    const char* name = reinterpret_cast<const char*>(lParam) +
                       offsetof(platform::DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    if (device::vhw::Ptr device = list_.findByPath(name))
        listener->postMessage(new device::SystemMessage(device::deviceRemovalMessage, 0, 0, device.get()));
}

// --- DeviceList ---

DeviceList::DeviceList()
{
    platform::DeviceInterfaceSet set(formats::kDeviceInterfaceClass);
    if (!set.isValid())
        return;
    // Every interface is kept, valid or not: the window opens for a unit with a missing record too.
    for (size_t i = 0; i < set.size(); ++i)
        devices_.insert(0, new device::vhw(set.path(i), device::vhw::VolumeLink::None));
}

DeviceList::~DeviceList()
{
    stopNotifications();
    clear();
}

int DeviceList::getCount() const
{
    const juce::ScopedLock sl(lock_);
    return devices_.size();
}

device::vhw::Ptr DeviceList::getDevice(int index) const
{
    const juce::ScopedLock sl(lock_);
    return devices_[index];
}

device::vhw::Ptr DeviceList::findByPath(const std::string& path) const
{
    const juce::String wanted(path);
    const juce::ScopedLock sl(lock_);
    for (auto* d : devices_)
        if (juce::String(d->getDevicePath()).equalsIgnoreCase(wanted))
            return d;
    return nullptr;
}

void DeviceList::clear()
{
    const juce::ScopedLock sl(lock_);
    devices_.clear();
}

void DeviceList::setListener(juce::MessageListener* listener)
{
    if (notifier_ == nullptr)
        notifier_ = std::make_unique<DeviceChangeNotifier>(formats::kDeviceInterfaceClass, *this);
    notifier_->setListener(listener);
}

void DeviceList::stopNotifications()
{
    notifier_.reset();
}

// --- firmware counters ---

int fetchFirmwareCounters(device::vhw& device, FirmwareCounters& kept)
{
    const uint32_t start = platform::getTickCount();
    FirmwareCounters fresh;
    int result;
    for (;;)
    {
        result = device.getFirmwareCounters(fresh.armOverflow, fresh.dspUnderrun, fresh.dspOverflow);
        if (result >= 0 || platform::getTickCount() - start >= kFirmwareCounterRetryMs)
            break;
        platform::sleepMs(kRetryPauseMs);
    }
    if (result == formats::kResultDone)
        kept = fresh;
    return result;
}

} // namespace analyzer
