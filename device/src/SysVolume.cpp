#include "device/SysVolume.h"

#include "device/Conversions.h"
#include "device/Text.h"
#include "device/Vhw.h"
#include "platform/SystemInfo.h"

#include <algorithm>
#include <cstring>

namespace device
{
namespace
{

// The channel map covers the unit's playback channels at rates up to 48 kHz, bounded like its channel
// maps.
constexpr uint32_t kMaxMappedChannels = 64;

} // namespace

// --- SysVolume ---

int SysVolume::setGain(int channel, float db)
{
    return device_.channelSet(kCatPlaybackMix, kMixSetGain, channel, dbToGain(db), 36);
}

int SysVolume::setMute(int channel, int value)
{
    return device_.channelSet(kCatPlaybackMix, kMixSetMute, channel, static_cast<uint32_t>(value), 36);
}

// --- SysVolumeMixerAPI ---

SysVolumeMixerAPI::SysVolumeMixerAPI(vhw& device) : SysVolume(device)
{
    const juce::String uniqueName = textFromBytes(device.getUniqueName());
    const platform::HWND window = Win32NotificationWindow::getWindowHandle();
    const uint32_t count = platform::mixerGetNumDevs();
    for (uint32_t id = 0; id < count; ++id)
    {
        platform::MIXERCAPSA caps{};
        if (platform::mixerGetDevCapsA(id, &caps, sizeof caps) != platform::MMSYSERR_NOERROR)
            continue;
        const juce::String name = textFromBytes(caps.szPname, strnlen(caps.szPname, platform::MAXPNAMELEN));
        if (!name.startsWith(uniqueName) ||
            !(name.containsIgnoreCase("out") || name.containsIgnoreCase("playback")))
            continue;
        platform::HMIXER mixer = 0;
        if (platform::mixerOpen(&mixer, id, window, 0, platform::CALLBACK_WINDOW) ==
            platform::MMSYSERR_NOERROR)
            mixers_.add(mixer);
    }
    Win32NotificationWindow::addListener(this);
}

SysVolumeMixerAPI::~SysVolumeMixerAPI()
{
    // Once removed, no call is in progress and none comes.
    Win32NotificationWindow::removeListener(this);
    for (const platform::HMIXER mixer : mixers_)
        platform::mixerClose(mixer);
}

void SysVolumeMixerAPI::handleWin32Message(uint32_t message, platform::WPARAM, platform::LPARAM)
{
    // Not matched to a mixer: a change on any link's mixer makes every link ask its device again.
    if (message == platform::MM_MIXM_CONTROL_CHANGE)
        sendChangeMessage();
}

// --- CVolumeNotification ---

platform::HRESULT CVolumeNotification::QueryInterface(const platform::IID& iid, void** object)
{
    if (object == nullptr)
        return platform::E_POINTER;
    if (iid == platform::IID_IUnknown || iid == platform::IID_IAudioEndpointVolumeCallback)
    {
        AddRef();
        *object = static_cast<platform::IAudioEndpointVolumeCallback*>(this);
        return platform::S_OK;
    }
    *object = nullptr;
    return platform::E_NOINTERFACE;
}

uint32_t CVolumeNotification::AddRef()
{
    return refs_.fetch_add(1) + 1;
}

uint32_t CVolumeNotification::Release()
{
    const uint32_t left = refs_.fetch_sub(1) - 1;
    if (left == 0)
        delete this;
    return left;
}

platform::HRESULT CVolumeNotification::OnNotify(const platform::AUDIO_VOLUME_NOTIFICATION_DATA* data)
{
    // The link's own gain changes carry its context: they are no news to the console.
    if (data == nullptr || !(data->guidEventContext == kSysVolumeEventContext))
        link_.sendChangeMessage();
    return platform::S_OK;
}

// --- SysVolumeVista ---

SysVolumeVista::SysVolumeVista(vhw& device) : SysVolume(device)
{
    map_.resize(std::min(device.getCaps().getPlaybackChannels(48000), kMaxMappedChannels));
    if (platform::FAILED(platform::coCreateInstance(
            platform::CLSID_MMDeviceEnumerator, nullptr, platform::CLSCTX_INPROC_SERVER,
            platform::IID_IMMDeviceEnumerator, enumerator_.putVoid())))
        return; // every channel goes to the device
    const juce::ScopedLock sl(lock_);
    searching_ = true;
    if (!searchThread_.start(&SysVolumeVista::searchBody, this))
        searching_ = false; // the first set searches instead
}

SysVolumeVista::~SysVolumeVista()
{
    // The search takes the lock only to install what it found: wait for it outside the lock.
    searchThread_.join();
    releaseEndpoints();
    enumerator_.reset();
}

void SysVolumeVista::searchBody(void* self)
{
    static_cast<SysVolumeVista*>(self)->findEndpoints();
}

int SysVolumeVista::getEndpointCount() const
{
    const juce::ScopedLock sl(lock_);
    return static_cast<int>(endpoints_.size());
}

void SysVolumeVista::searchIfNeeded()
{
    if (!endpoints_.empty() || searching_ || !enumerator_)
        return;
    searching_ = true;
    findEndpoints();
}

void SysVolumeVista::findEndpoints()
{
    std::vector<Endpoint> found;
    platform::ComPtr<platform::IMMDeviceCollection> collection;
    uint32_t count = 0;
    if (platform::SUCCEEDED(enumerator_->EnumAudioEndpoints(platform::eRender, platform::DEVICE_STATE_ACTIVE,
                                                            collection.put())) &&
        platform::SUCCEEDED(collection->GetCount(&count)))
    {
        for (uint32_t i = 0; i < count; ++i)
        {
            platform::ComPtr<platform::IMMDevice> endpoint;
            if (platform::SUCCEEDED(collection->Item(i, endpoint.put())))
                attachEndpoint(endpoint.get(), found);
        }
    }

    const juce::ScopedLock sl(lock_);
    searching_ = false;
    releaseAll(endpoints_); // empty: a search runs only while no endpoint is attached
    endpoints_ = std::move(found);
    std::fill(map_.begin(), map_.end(), Channel{});
    // Channels beyond the map (more than the unit plays at 48 kHz) stay unmapped.
    for (const Endpoint& e : endpoints_)
        for (uint32_t j = 0; j < e.channelCount && uint64_t(e.firstChannel) + j < map_.size(); ++j)
            map_[e.firstChannel + j] = Channel{e.volume.get(), j, e.minDb, e.maxDb};
}

platform::HRESULT SysVolumeVista::attachEndpoint(platform::IMMDevice* endpoint, std::vector<Endpoint>& found)
{
    // The kernel-streaming filter behind the endpoint.
    platform::ComPtr<platform::IDeviceTopology> topology;
    platform::ComPtr<platform::IConnector> connector;
    platform::ComPtr<platform::IMMDevice> filter;
    platform::ComPtr<platform::IKsControl> control;
    std::string filterId;
    platform::HRESULT hr =
        endpoint->Activate(platform::IID_IDeviceTopology, platform::CLSCTX_ALL, nullptr, topology.putVoid());
    if (platform::SUCCEEDED(hr))
        hr = topology->GetConnector(0, connector.put());
    if (platform::SUCCEEDED(hr))
        hr = connector->GetDeviceIdConnectedTo(&filterId);
    if (platform::SUCCEEDED(hr))
        hr = enumerator_->GetDevice(filterId, filter.put());
    if (platform::SUCCEEDED(hr))
        hr = filter->Activate(platform::IID_IKsControl, platform::CLSCTX_INPROC_SERVER, nullptr,
                              control.putVoid());
    if (platform::FAILED(hr))
        return hr;

    // Whose endpoint it is.
    platform::KSPROPERTY property{kEndpointIdentificationSet, kEndpointIdentificationId,
                                  platform::KSPROPERTY_TYPE_GET};
    uint32_t words[4] = {};
    uint32_t returned = 0;
    hr = control->KsProperty(&property, sizeof property, words, sizeof words, &returned);
    if (platform::FAILED(hr))
        return hr;
    if (returned < sizeof words)
        return platform::E_FAIL;
    const uint64_t unitId = uint64_t(words[1]) << 32 | words[0];
    if (unitId != device_.getGuid())
        return platform::S_FALSE;

    // Its volume, with the link's callback on it.
    Endpoint e;
    float step = 0.0f;
    hr = endpoint->Activate(platform::IID_IAudioEndpointVolume, platform::CLSCTX_INPROC_SERVER, nullptr,
                            e.volume.putVoid());
    if (platform::SUCCEEDED(hr))
        hr = e.volume->GetVolumeRange(&e.minDb, &e.maxDb, &step);
    if (platform::FAILED(hr))
        return hr;
    *e.notification.put() = new CVolumeNotification(*this);
    hr = e.volume->RegisterControlChangeNotify(e.notification.get());
    if (platform::FAILED(hr))
        return hr;
    endpoint->AddRef();
    *e.device.put() = endpoint;
    e.firstChannel = words[2];
    e.channelCount = words[3];
    found.push_back(std::move(e));
    return platform::S_OK;
}

void SysVolumeVista::releaseAll(std::vector<Endpoint>& endpoints)
{
    for (Endpoint& e : endpoints)
    {
        // Once unregistered, the callback is not called any more.
        e.volume->UnregisterControlChangeNotify(e.notification.get());
        e.notification.reset();
        e.volume.reset();
        e.device.reset();
    }
    endpoints.clear();
}

void SysVolumeVista::releaseEndpoints()
{
    const juce::ScopedLock sl(lock_);
    releaseAll(endpoints_);
    std::fill(map_.begin(), map_.end(), Channel{});
}

const SysVolumeVista::Channel* SysVolumeVista::channelEntry(int channel) const
{
    if (channel < 0 || static_cast<size_t>(channel) >= map_.size() || map_[size_t(channel)].volume == nullptr)
        return nullptr;
    return &map_[size_t(channel)];
}

int SysVolumeVista::setGain(int channel, float db)
{
    const juce::ScopedLock sl(lock_);
    searchIfNeeded();
    const Channel* c = channelEntry(channel);
    if (c == nullptr)
        return SysVolume::setGain(channel, db);
    // The endpoint refuses a level outside its range; what the console asks is held within it.
    const float level = db >= c->minDb ? std::min(db, c->maxDb) : c->minDb;
    if (platform::FAILED(c->volume->SetChannelVolumeLevel(c->index, level, &kSysVolumeEventContext)))
    {
        releaseEndpoints(); // the next set finds them again
        return kResultTryAgain;
    }
    return kResultDone;
}

int SysVolumeVista::setMute(int channel, int value)
{
    const juce::ScopedLock sl(lock_);
    searchIfNeeded();
    const Channel* c = channelEntry(channel);
    if (c == nullptr)
        return SysVolume::setMute(channel, value);
    // No context: the change comes back as a change message, so both strips of the endpoint show it.
    if (platform::FAILED(c->volume->SetMute(value != 0 ? 1 : 0, nullptr)))
    {
        releaseEndpoints();
        return kResultTryAgain;
    }
    return kResultDone;
}

// --- the link for this system ---

std::unique_ptr<SysVolume> createSysVolume(vhw& device)
{
    if (!platform::isWindowsVistaOrLater())
        return std::make_unique<SysVolumeMixerAPI>(device);
    return std::make_unique<SysVolumeVista>(device);
}

} // namespace device
