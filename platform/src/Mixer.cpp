#include "platform/Mixer.h"

#include "AudioService.h"
#include "sim/Audio.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace platform
{
namespace
{

// The mixer driver's version word (4.8).
constexpr uint32_t kDriverVersion = 0x0408;
constexpr uint16_t kUnmappedId = 0xFFFF;

class OpenMixer : public audioservice::Client
{
public:
    OpenMixer(HMIXER handle, HWND window, const sim::audio::MixerDevice& device)
        : handle_(handle), window_(window), device_(device)
    {
    }

    const sim::audio::MixerDevice& device() const { return device_; }
    HWND window() const { return window_; }

    void volumeChanged(const sim::audio::VolumeEvent& event) override
    {
        postMessage(window_, MM_MIXM_CONTROL_CHANGE, handle_,
                    event.kind == sim::audio::kMuteChanged ? kMixerMuteControl : kMixerVolumeControl);
    }

private:
    const HMIXER handle_;
    const HWND window_;
    const sim::audio::MixerDevice device_;
};

std::mutex mixersMutex;
std::map<HMIXER, std::unique_ptr<OpenMixer>> openMixers; // guarded by mixersMutex
HMIXER nextMixer = 0x2000;                               // guarded by mixersMutex

} // namespace

uint32_t mixerGetNumDevs()
{
    return static_cast<uint32_t>(sim::audio::mixerDevices().size());
}

MMRESULT mixerGetDevCapsA(uintptr_t id, MIXERCAPSA* caps, uint32_t capsSize)
{
    if (caps == nullptr || capsSize < sizeof(MIXERCAPSA))
        return MMSYSERR_INVALPARAM;
    const auto devices = sim::audio::mixerDevices();
    if (id >= devices.size())
        return MMSYSERR_BADDEVICEID;
    const sim::audio::MixerDevice& d = devices[id];
    std::memset(caps, 0, sizeof(MIXERCAPSA));
    caps->wMid = kUnmappedId;
    caps->wPid = kUnmappedId;
    caps->vDriverVersion = kDriverVersion;
    std::strncpy(caps->szPname, d.name.c_str(), MAXPNAMELEN - 1);
    caps->cDestinations = 1;
    return MMSYSERR_NOERROR;
}

MMRESULT mixerOpen(HMIXER* mixer, uint32_t id, uintptr_t callback, uintptr_t, uint32_t flags)
{
    if (mixer == nullptr)
        return MMSYSERR_INVALPARAM;
    *mixer = 0;
    if (flags != 0 && flags != CALLBACK_WINDOW)
        return MMSYSERR_INVALFLAG;
    const auto devices = sim::audio::mixerDevices();
    if (id >= devices.size())
        return MMSYSERR_BADDEVICEID;
    const HWND window = flags == CALLBACK_WINDOW ? callback : 0;
    if (flags == CALLBACK_WINDOW && window == 0)
        return MMSYSERR_INVALPARAM;
    const sim::audio::MixerDevice& d = devices[id];
    OpenMixer* open = nullptr;
    {
        const std::lock_guard<std::mutex> lock(mixersMutex);
        const HMIXER handle = nextMixer++;
        auto made = std::make_unique<OpenMixer>(handle, window, d);
        open = made.get();
        openMixers[handle] = std::move(made);
        *mixer = handle;
    }
    if (window != 0 && d.channelCount > 0)
        audioservice::add(open, d.unit, d.creationId, d.firstChannel, d.channelCount);
    return MMSYSERR_NOERROR;
}

MMRESULT mixerClose(HMIXER mixer)
{
    std::unique_ptr<OpenMixer> open;
    {
        const std::lock_guard<std::mutex> lock(mixersMutex);
        const auto it = openMixers.find(mixer);
        if (it == openMixers.end())
            return MMSYSERR_INVALHANDLE;
        open = std::move(it->second);
        openMixers.erase(it);
    }
    if (open->window() != 0 && open->device().channelCount > 0)
        audioservice::remove(open.get());
    return MMSYSERR_NOERROR;
}

} // namespace platform
