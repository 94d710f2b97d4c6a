#include "asio/ChannelNames.h"

#include "formats/Text.h"
#include "platform/DeviceInterfaces.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace asiodrv
{

bool readUnitValues(const std::string& path, HwInfoCaps& caps, char (&name)[kUnitNameBytes])
{
    name[0] = '\0';
    platform::DeviceRegKey key;
    const bool opened = key.open(path);
    if (opened)
    {
        uint32_t size = HwInfoCaps::kRegistryBytes;
        key.queryValue("hwinfo_caps", nullptr, &caps, &size);

        // An absent, empty or too long name gives the default.
        char value[kUnitNameBytes] = {};
        size = sizeof value;
        const bool read =
            key.queryValue("unique_name", nullptr, value, &size) == platform::ERROR_SUCCESS && size > 0;
        if (read)
            value[size - 1] = '\0';
        std::snprintf(name, sizeof name, "%s", read && value[0] != '\0' ? value : "Doranth");
        key.close();
    }
    // From the group tables; a record that was not read has no groups and so no entries.
    caps.buildChannelMaps();
    return opened;
}

int unitChannels(const HwInfoCaps& caps, bool isInput)
{
    // The channel count at rates up to 50 kHz is the one this driver streams.
    const uint32_t n = isInput ? caps.getInputCount() : caps.playbackChannelsUpTo50k;
    return n > static_cast<uint32_t>(kMaxChannels) ? kMaxChannels : static_cast<int>(n);
}

// ---- channel maps --------------------------------------------------------------------------------------

namespace
{

// The first ADAT group among those the channel map reaches (a group after the 64th channel has no entry
// and is not looked at), or -1.
int32_t firstAdatGroup(const HwInfoCaps::Group (&groups)[HwInfoCaps::kMaxGroups], uint32_t groupCount)
{
    const uint32_t count = std::min<uint32_t>(groupCount, HwInfoCaps::kMaxGroups);
    uint32_t channels = 0;
    for (uint32_t g = 0; g < count && channels < HwInfoCaps::kMapEntries; ++g)
    {
        if (groups[g].type == HwInfoCaps::kGroupAdat)
            return static_cast<int32_t>(g);
        channels += groups[g].channels;
    }
    return -1;
}

} // namespace

void ChannelMaps::build(const HwInfoCaps& caps)
{
    caps_ = &caps;
    firstInputAdat_ = firstAdatGroup(caps.inputGroups, caps.getInputGroupCount());
    firstOutputAdat_ = firstAdatGroup(caps.outputGroups, caps.getOutputGroupCount());
}

int ChannelMaps::entry(int channel, bool isInput, bool index) const
{
    if (caps_ == nullptr || channel < 0 || channel >= kMaxChannels)
        return -1;
    const HwInfoCaps::MapEntry& e = (isInput ? caps_->inputMap : caps_->outputMap)[channel];
    if (e.type == HwInfoCaps::kUnused)
        return -1;
    return index ? e.index : e.group;
}

void ChannelMaps::groupName(bool isInput, int group, char* text, size_t size) const
{
    if (text == nullptr || size == 0)
        return;
    int type = -1;
    if (caps_ != nullptr)
    {
        // Group counts beyond the table are taken as the table's size.
        const uint32_t count = std::min<uint32_t>(
            isInput ? caps_->getInputGroupCount() : caps_->getOutputGroupCount(), HwInfoCaps::kMaxGroups);
        if (group >= 0 && static_cast<uint32_t>(group) < count)
            type = (isInput ? caps_->inputGroups : caps_->outputGroups)[group].type;
    }
    const char* other = isInput ? "Input" : "Output";
    switch (type)
    {
    case HwInfoCaps::kGroupAnalog:
        std::snprintf(text, size, "Analog");
        break;
    case HwInfoCaps::kGroupSpdif:
        std::snprintf(text, size, "S/PDIF");
        break;
    case HwInfoCaps::kGroupAdat:
    {
        // The first ADAT group of a direction is "ADAT A", the group after it "ADAT B".
        const int first = isInput ? firstInputAdat_ : firstOutputAdat_;
        std::snprintf(text, size, "%s %c", "ADAT",
                      static_cast<char>('A' + (group - (first < 0 ? group : first))));
        break;
    }
    case HwInfoCaps::kGroupHeadphones:
        std::snprintf(text, size, "%s", isInput ? "Input" : "Headphones");
        break;
    case HwInfoCaps::kGroupUnnamed:
        std::snprintf(text, size, "I2S");
        break;
    default:
        std::snprintf(text, size, "%s", other);
        break;
    }
}

// ---- channel names -------------------------------------------------------------------------------------

namespace
{

// The channel's own part: "<group> in <n>", "<group> out <n>", "Playback <n>", or for a channel without
// a map entry "Input <n>", "Output <n>". ASCII, at most 21 bytes.
void channelPart(const ChannelMaps& maps, bool isInput, int channel, char (&part)[32])
{
    if (!isInput && maps.hasOutputRouting())
    {
        std::snprintf(part, sizeof part, "Playback %d", channel + 1);
        return;
    }
    const int g = isInput ? maps.inputMapGroup(channel) : maps.outputMapGroup(channel);
    if (g < 0)
    {
        std::snprintf(part, sizeof part, "%s %d", isInput ? "Input" : "Output", channel + 1);
        return;
    }
    char group[16]; // the longest group name is "Headphones"
    if (isInput)
        maps.inputGroupName(g, group, sizeof group);
    else
        maps.outputGroupName(g, group, sizeof group);
    const int index = isInput ? maps.inputMapIndex(channel) : maps.outputMapIndex(channel);
    std::snprintf(part, sizeof part, "%s %s %d", group, isInput ? "in" : "out", index + 1);
}

} // namespace

void channelName(const ChannelMaps& maps, const char* unitName, bool withUnit, bool isInput, int channel,
                 char* text, size_t size)
{
    if (text == nullptr || size == 0)
        return;
    char part[32];
    channelPart(maps, isInput, channel, part);
    const size_t partLength = std::strlen(part);
    size_t n = 0;
    if (withUnit && unitName != nullptr)
    {
        // The unit's name as text: each invalid byte may become three.
        char unit[3 * kUnitNameBytes];
        const size_t unitLength = formats::textFromBytes(unitName, std::strlen(unitName), unit, sizeof unit);
        // Room for the unit's name: all of it when the whole fits, else what the blank and the part
        // leave (the cut falls between characters).
        const size_t room = size - 1;
        size_t keep = unitLength;
        if (unitLength + 1 + partLength > room)
            keep = room > partLength + 1 ? room - partLength - 1 : 0;
        n = formats::textFromBytes(unit, unitLength, text, keep + 1);
        if (n > 0)
            text[n++] = ' ';
    }
    formats::textFromBytes(part, partLength, text + n, size - n);
}

} // namespace asiodrv
