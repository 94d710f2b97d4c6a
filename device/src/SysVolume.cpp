#include "device/SysVolume.h"

#include "device/Conversions.h"
#include "device/Vhw.h"

namespace device
{

int SysVolume::setGain(int channel, float db)
{
    return device_.channelSet(kCatPlaybackMix, kMixSetGain, channel, dbToGain(db), 36);
}

int SysVolume::setMute(int channel, int value)
{
    return device_.channelSet(kCatPlaybackMix, kMixSetMute, channel, static_cast<uint32_t>(value), 36);
}

std::unique_ptr<SysVolume> createSysVolume(vhw& device)
{
    // Only the direct link exists so far; the endpoint-volume link will be chosen here.
    return std::make_unique<SysVolume>(device);
}

} // namespace device
