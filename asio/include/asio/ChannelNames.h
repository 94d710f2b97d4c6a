#pragma once

// The names this driver gives its units and their channels, as hosts see them: the unit's name as the
// driver reads it from the interface's registry key, each channel's own part ("Analog in 1", "ADAT B in 2",
// "S/PDIF out 1", "Playback 3"), and the unit's name in front of it while two or more of the driver's
// units are plugged. Apart from the device access, so that a host tool can find a unit's channels by the
// very names the driver gives them.

#include "formats/HwInfoCaps.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace asiodrv
{

using formats::HwInfoCaps;

// The only vendor whose interfaces the driver keeps.
inline constexpr uint32_t kVendorId = 0x3B71;

// Channels of one interface each way.
inline constexpr int kMaxChannels = static_cast<int>(HwInfoCaps::kMapEntries);

// Room for a unit's name as the driver reads it, with its terminating zero.
inline constexpr size_t kUnitNameBytes = 52;

// Reads the interface's "hwinfo_caps" into caps (left as it was when the value cannot be read) and its
// "unique_name" into name ("Doranth" when the value is missing, empty or longer than the room), then
// builds the record's channel maps. False, with an empty name, when the interface's key does not open.
bool readUnitValues(const std::string& path, HwInfoCaps& caps, char (&name)[kUnitNameBytes]);

// The channels a unit gives the driver each way: its inputs, and its playback channels at rates up to
// 50 kHz, at most kMaxChannels.
int unitChannels(const HwInfoCaps& caps, bool isInput);

// The group and place of every input and output channel, from the device's channel maps, and the groups'
// names as this driver gives them: ADAT groups lettered in their direction, the group type without a
// name of its own in the record called "I2S".
class ChannelMaps
{
public:
    // Takes the record, whose channel maps are built, and finds each direction's first ADAT group among
    // the groups the maps reach.
    void build(const HwInfoCaps& caps);

    // -1 for a channel without an entry.
    int inputMapGroup(int channel) const { return entry(channel, true, false); }
    int inputMapIndex(int channel) const { return entry(channel, true, true); }
    int outputMapGroup(int channel) const { return entry(channel, false, false); }
    int outputMapIndex(int channel) const { return entry(channel, false, true); }

    void inputGroupName(int group, char* text, size_t size) const { groupName(true, group, text, size); }
    void outputGroupName(int group, char* text, size_t size) const { groupName(false, group, text, size); }

    bool hasOutputRouting() const { return caps_ != nullptr && caps_->hasOutputRouting(); }

private:
    int entry(int channel, bool isInput, bool index) const;
    void groupName(bool isInput, int group, char* text, size_t size) const;

    const HwInfoCaps* caps_ = nullptr;
    int32_t firstOutputAdat_ = -1;
    int32_t firstInputAdat_ = -1;
};

// The name of a unit's channel, into text of `size` bytes: its own part, and with withUnit the unit's
// name and a blank before it. Always valid UTF-8 (the unit's name through formats/Text.h), cut only
// between characters. A name that does not fit is shortened in the unit's name, so that the channel's own
// part stays whole and the unit's channels keep apart; a name that fits is the whole text
// "<unit name> <part>", byte for byte.
void channelName(const ChannelMaps& maps, const char* unitName, bool withUnit, bool isInput, int channel,
                 char* text, size_t size);

} // namespace asiodrv
