#include "formats/HwInfoCaps.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace formats
{
namespace
{

// Out-of-table groups read as a type without a name of its own, so they get the default names.
constexpr uint8_t kNoType = 0xFF;

uint8_t groupType(const HwInfoCaps::Group (&groups)[HwInfoCaps::kMaxGroups], uint32_t g)
{
    return g < HwInfoCaps::kMaxGroups ? groups[g].type : kNoType;
}

} // namespace

size_t HwInfoCaps::fillChannelMap(const Group (&groups)[kMaxGroups], uint32_t groupCount,
                                  MapEntry (&map)[kMapEntries])
{
    std::memset(map, kUnused, sizeof map);
    // A count beyond the table would read past it: the table's size is the most there can be.
    const uint32_t count = std::min<uint32_t>(groupCount, kMaxGroups);
    size_t i = 0;
    for (uint32_t g = 0; g < count; ++g)
    {
        for (uint32_t k = 0; k < groups[g].channels; ++k)
        {
            if (i == kMapEntries)
                return i;
            map[i++] = MapEntry{groups[g].type, static_cast<uint8_t>(g), static_cast<uint8_t>(k)};
        }
    }
    return i;
}

void HwInfoCaps::buildChannelMaps()
{
    fillChannelMap(inputGroups, inputGroupCount, inputMap);
    fillChannelMap(outputGroups, outputGroupCount, outputMap);
}

std::string HwInfoCaps::getModelName() const
{
    return std::string(modelName, strnlen(modelName, sizeof modelName));
}

uint32_t HwInfoCaps::getPlaybackChannels(uint32_t sampleRate) const
{
    if (sampleRate > 100000)
        return playbackChannelsAbove100k;
    if (sampleRate < 50001)
        return playbackChannelsUpTo50k;
    return playbackChannelsUpTo100k;
}

uint32_t HwInfoCaps::getInputGroupChannels(uint32_t group) const
{
    return group < kMaxGroups ? inputGroups[group].channels : 0;
}

uint32_t HwInfoCaps::getOutputGroupChannels(uint32_t group) const
{
    return group < kMaxGroups ? outputGroups[group].channels : 0;
}

const char* HwInfoCaps::getInputGroupName(uint32_t group) const
{
    switch (groupType(inputGroups, group))
    {
    case kGroupAnalog:
        return "Analog";
    case kGroupSpdif:
        return "S/PDIF";
    case kGroupAdat:
        return "ADAT";
    default:
        return "Input";
    }
}

const char* HwInfoCaps::getInputGroupShortName(uint32_t group) const
{
    switch (groupType(inputGroups, group))
    {
    case kGroupAnalog:
        return "A";
    case kGroupSpdif:
        return "S";
    case kGroupAdat:
        return "ADAT";
    case kGroupUnnamed:
        return "";
    default:
        return "In";
    }
}

const char* HwInfoCaps::getOutputGroupName(uint32_t group) const
{
    switch (groupType(outputGroups, group))
    {
    case kGroupAnalog:
        return "Analog";
    case kGroupSpdif:
        return "S/PDIF";
    case kGroupAdat:
        return "ADAT";
    case kGroupHeadphones:
        return "Headphones";
    default:
        return "Output";
    }
}

const char* HwInfoCaps::getOutputGroupShortName(uint32_t group) const
{
    switch (groupType(outputGroups, group))
    {
    case kGroupAnalog:
        return "A";
    case kGroupSpdif:
        return "S";
    case kGroupAdat:
        return "ADAT";
    case kGroupHeadphones:
        return "H";
    case kGroupUnnamed:
        return "";
    default:
        return "Out";
    }
}

bool HwInfoCaps::hasSpdifOutput() const
{
    const uint32_t count = std::min<uint32_t>(outputGroupCount, kMaxGroups);
    for (uint32_t g = 0; g < count; ++g)
        if (outputGroups[g].type == kGroupSpdif)
            return true;
    return false;
}

bool HwInfoCaps::getClockName(uint32_t n, std::string& text) const
{
    static const char* const names[kClockCount] = {"Internal", "FireWire", "Word",
                                                   "S/PDIF",   "ADAT",     "ADAT B"};
    if (n >= static_cast<uint32_t>(kClockCount))
        return false;
    text = names[n];
    return true;
}

std::string formatFirmwareVersion(uint32_t version)
{
    char text[32];
    int n = std::snprintf(text, sizeof text, "%u.%u", version >> 24, (version >> 16) & 0xFF);
    if (const uint32_t b = (version >> 8) & 0xFF; b != 0)
        n += std::snprintf(text + n, sizeof text - n, ".%u", b);
    if (const uint32_t c = (version >> 4) & 0xF; c != 0)
        n += std::snprintf(text + n, sizeof text - n, ".%u", c);
    if ((version & 0xF) == 0xE)
        std::snprintf(text + n, sizeof text - n, "E");
    return text;
}

} // namespace formats
