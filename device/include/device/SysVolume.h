#pragma once

// The system-volume link a device object owns. A unit's playback mix (level and mute of each playback
// channel) is also the volume of its playback endpoints in the system's volume controls, so the console
// sets playback gains and mutes through this link and follows the changes users make there.
//
// Two kinds, chosen by the Windows release: before Vista the gains and mutes go to the device as VDC
// commands and the mixer devices' control-change messages tell of outside changes; from Vista on they go
// through the endpoint volume of the endpoint that carries the channel, and its change notifications
// tell of outside changes.
//
// Listeners (juce::ChangeListener, added through vhw::addVolumeListener on the message thread) get
// changeListenerCallback on the message thread after a volume or mute of any of the unit's endpoints
// changed by someone else: a user of the volume controls, another process, or a mute set through the
// link itself (a mute carries no context of the link). A gain set through the link sends no change
// message. The message names neither channel nor value, and several changes may come as one: a listener
// reads the channels it shows from the device (PlaybackMix GetGain and GetMute).
//
// Threads: setGain and setMute may be called from any thread (the console's hardware thread) and hold
// the link's lock for the call; a VDC command sent from inside takes the device mutex after it (lock
// order: link, then device).

#include "device/Win32NotificationWindow.h"
#include "platform/CoreAudio.h"
#include "platform/Mixer.h"
#include "platform/Thread.h"

#include <juce_core/juce_core.h>
#include <juce_events/juce_events.h>

#include <atomic>
#include <memory>
#include <vector>

namespace device
{

class vhw;

// The property the kernel driver answers on the filter behind each of its endpoints: four words, the low
// and the high word of the unit id, the first playback channel the endpoint carries and its channel count.
inline constexpr platform::Guid kEndpointIdentificationSet{
    0x6F3C2A91, 0x5D8E, 0x4B27, {0xA0, 0xC4, 0x19, 0xE7, 0xD3, 0xB8, 0x5F, 0x62}};
inline constexpr uint32_t kEndpointIdentificationId = 0;

// The event context the link marks its own gain changes with.
inline constexpr platform::Guid kSysVolumeEventContext{
    0xC81D4E07, 0x2B9A, 0x4F63, {0x8E, 0x15, 0x7A, 0x40, 0xD9, 0xC2, 0xB3, 0x6E}};

class SysVolume : public juce::ChangeBroadcaster
{
public:
    // The device owns this object and outlives it.
    explicit SysVolume(vhw& device) : device_(device) {}
    ~SysVolume() override = default;
    SysVolume(const SysVolume&) = delete;
    SysVolume& operator=(const SysVolume&) = delete;

    // Both return the device result code (0 done, -1 try again, 1 failed, 2 device error). The base sends
    // PlaybackMix SetGain and SetMute to the device.
    virtual int setGain(int channel, float db);
    virtual int setMute(int channel, int value);

protected:
    vhw& device_;
};

// Before Vista: the gains and mutes go to the device; the mixer devices of the unit's playback (named
// after its unique name, with "out" or "playback" in the name) report outside changes to the
// notification window.
class SysVolumeMixerAPI : public Win32MessageListener, public SysVolume
{
public:
    explicit SysVolumeMixerAPI(vhw& device);
    ~SysVolumeMixerAPI() override;

    // On the notification thread: a mixer control change sends the change message.
    void handleWin32Message(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam) override;

private:
    juce::Array<platform::HMIXER> mixers_; // set in construction, closed in destruction
};

class SysVolumeVista;

// The endpoint-volume callback of the link: an outside change sends the link's change message.
class CVolumeNotification : public platform::IAudioEndpointVolumeCallback
{
public:
    explicit CVolumeNotification(SysVolumeVista& link) : link_(link) {}

    platform::HRESULT QueryInterface(const platform::IID& iid, void** object) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    // On the system's audio notification thread.
    platform::HRESULT OnNotify(const platform::AUDIO_VOLUME_NOTIFICATION_DATA* data) override;

private:
    ~CVolumeNotification() override = default;

    std::atomic<uint32_t> refs_{1};
    SysVolumeVista& link_;
};

// From Vista on: each channel goes through the endpoint that carries it. The endpoints are searched on
// a thread of the link's own when it is made (so outside changes are followed from the start, while the
// device object may be made on the notification thread under the device list's lock), and again at the
// next set after a search found nothing or an endpoint call failed. A channel without an endpoint (none
// found yet, a search in progress, or an index outside the map) falls back to the VDC command.
class SysVolumeVista : public SysVolume
{
public:
    explicit SysVolumeVista(vhw& device);
    ~SysVolumeVista() override;

    // The level is held within the endpoint's range; any success of the endpoint counts as done, a
    // failed endpoint call drops every endpoint and answers -1.
    int setGain(int channel, float db) override;
    // Mutes the whole endpoint that carries the channel.
    int setMute(int channel, int value) override;

    // The endpoints attached now: 0 until a search has found some.
    int getEndpointCount() const;

private:
    struct Endpoint
    {
        platform::ComPtr<platform::IMMDevice> device;
        platform::ComPtr<platform::IAudioEndpointVolume> volume;
        platform::ComPtr<CVolumeNotification> notification;
        uint32_t firstChannel = 0;
        uint32_t channelCount = 0;
        float minDb = 0.0f;
        float maxDb = 0.0f;
    };
    struct Channel
    {
        platform::IAudioEndpointVolume* volume = nullptr; // not an extra reference; null: no endpoint
        uint32_t index = 0;                               // the channel within the endpoint
        float minDb = 0.0f;
        float maxDb = 0.0f;
    };

    static void searchBody(void* self);
    // Runs a claimed search on the calling thread and installs what it found.
    void findEndpoints();
    // S_OK when the endpoint is this unit's and was attached (appended to found), S_FALSE when it belongs
    // to another unit, else the failure that stopped it.
    platform::HRESULT attachEndpoint(platform::IMMDevice* endpoint, std::vector<Endpoint>& found);
    void releaseEndpoints();
    void releaseAll(std::vector<Endpoint>& endpoints);
    // The channel's endpoint, or null. Under the lock.
    const Channel* channelEntry(int channel) const;
    // Claims a search when none has endpoints and none runs. Under the lock.
    void searchIfNeeded();

    mutable juce::CriticalSection lock_;
    std::vector<Endpoint> endpoints_; // guarded by lock_
    std::vector<Channel> map_;        // guarded by lock_; one entry per playback channel (at 48 kHz)
    bool searching_ = false;          // guarded by lock_
    platform::ComPtr<platform::IMMDeviceEnumerator> enumerator_; // set in construction
    platform::Thread searchThread_;
};

// The link for the running Windows release, made once by the device object's construction.
std::unique_ptr<SysVolume> createSysVolume(vhw& device);

} // namespace device
