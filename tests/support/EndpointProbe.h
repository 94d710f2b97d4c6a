#pragma once

// A volume callback of the test's own on every render endpoint, for knowing by the order of events
// that a change has been handed out.

#include "platform/CoreAudio.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace testsupport
{

// Registered after a device's system-volume link: the notification thread calls callbacks in the order
// they registered, so once this one has seen a change, the link has too (and posted what it posts).
class EndpointProbe : public platform::IAudioEndpointVolumeCallback
{
public:
    // onNotify, when given, runs on the notification thread after each change is noted.
    explicit EndpointProbe(std::function<void()> onNotify = {}) : onNotify_(std::move(onNotify))
    {
        platform::ComPtr<platform::IMMDeviceEnumerator> enumerator;
        platform::ComPtr<platform::IMMDeviceCollection> endpoints;
        uint32_t count = 0;
        platform::coCreateInstance(platform::CLSID_MMDeviceEnumerator, nullptr,
                                   platform::CLSCTX_INPROC_SERVER, platform::IID_IMMDeviceEnumerator,
                                   enumerator.putVoid());
        enumerator->EnumAudioEndpoints(platform::eRender, platform::DEVICE_STATE_ACTIVE, endpoints.put());
        endpoints->GetCount(&count);
        for (uint32_t i = 0; i < count; ++i)
        {
            platform::ComPtr<platform::IMMDevice> device;
            endpoints->Item(i, device.put());
            platform::ComPtr<platform::IAudioEndpointVolume> volume;
            device->Activate(platform::IID_IAudioEndpointVolume, platform::CLSCTX_ALL, nullptr,
                             volume.putVoid());
            volume->RegisterControlChangeNotify(this);
            volumes_.push_back(volume);
        }
    }
    ~EndpointProbe()
    {
        for (auto& v : volumes_)
            v->UnregisterControlChangeNotify(this);
    }

    std::vector<platform::Guid> contexts()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return contexts_;
    }

    platform::HRESULT QueryInterface(const platform::IID&, void**) override
    {
        return platform::E_NOINTERFACE;
    }
    uint32_t AddRef() override { return 2; } // lives on the test's stack
    uint32_t Release() override { return 1; }
    platform::HRESULT OnNotify(const platform::AUDIO_VOLUME_NOTIFICATION_DATA* data) override
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            contexts_.push_back(data->guidEventContext);
        }
        if (onNotify_)
            onNotify_();
        return platform::S_OK;
    }

private:
    const std::function<void()> onNotify_;
    std::vector<platform::ComPtr<platform::IAudioEndpointVolume>> volumes_;
    std::mutex mutex_;
    std::vector<platform::Guid> contexts_;
};

} // namespace testsupport
