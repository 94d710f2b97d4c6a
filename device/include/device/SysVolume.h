#pragma once

// The playback-volume link a device object owns. The playback mix of a unit is also the level and mute
// of its system playback endpoints, so playback gains and mutes are set through this object. The base
// class sets them directly on the device (PlaybackMix SetGain and SetMute); the system-specific links
// derive from it, fall back to it for channels no endpoint carries, and will broadcast a change when
// the system volume moves.

#include <memory>

namespace device
{

class vhw;

class SysVolume
{
public:
    // The device owns this object and outlives it.
    explicit SysVolume(vhw& device) : device_(device) {}
    virtual ~SysVolume() = default;
    SysVolume(const SysVolume&) = delete;
    SysVolume& operator=(const SysVolume&) = delete;

    // Both return the device result code (0 done, -1 try again, 1 failed, 2 device error).
    virtual int setGain(int channel, float db);
    virtual int setMute(int channel, int value);

protected:
    vhw& device_;
};

// The link for this system, made once by the device object's construction.
std::unique_ptr<SysVolume> createSysVolume(vhw& device);

} // namespace device
