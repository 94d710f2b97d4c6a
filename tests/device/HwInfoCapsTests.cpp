#include "CapsBytes.h"
#include "device/HwInfoCaps.h"

#include <gtest/gtest.h>

using namespace device;
using testsupport::CapsBytes;

namespace
{

struct Entry
{
    int type, group, index;
};

Entry inputEntry(const HwInfoCaps& c, uint32_t i)
{
    return {c.getInputMapType(i), c.getInputMapGroup(i), c.getInputMapIndex(i)};
}

Entry outputEntry(const HwInfoCaps& c, uint32_t i)
{
    return {c.getOutputMapType(i), c.getOutputMapGroup(i), c.getOutputMapIndex(i)};
}

bool operator==(const Entry& a, const Entry& b)
{
    return a.type == b.type && a.group == b.group && a.index == b.index;
}

void PrintTo(const Entry& e, std::ostream* os)
{
    *os << "(" << e.type << ", " << e.group << ", " << e.index << ")";
}

const Entry kUnused{0xFF, 0xFF, 0xFF};

} // namespace

TEST(ChannelMaps, AnalogThenAdatGroupsNumberTheirChannelsInGroupOrder)
{
    const HwInfoCaps caps = CapsBytes().inputGroups({{0, 8}, {2, 8}}).record<HwInfoCaps>();
    for (uint32_t k = 0; k < 8; ++k)
    {
        EXPECT_EQ(inputEntry(caps, k), (Entry{0, 0, int(k)}));
        EXPECT_EQ(inputEntry(caps, 8 + k), (Entry{2, 1, int(k)}));
    }
    for (uint32_t i = 16; i < 64; ++i)
        EXPECT_EQ(inputEntry(caps, i), kUnused) << i;
}

TEST(ChannelMaps, GroupsOfMoreThan64ChannelsFillTheMapAndDropTheRest)
{
    const HwInfoCaps caps =
        CapsBytes().outputGroups({{2, 24}, {2, 24}, {0, 24}, {1, 24}}).record<HwInfoCaps>();
    EXPECT_EQ(outputEntry(caps, 0), (Entry{2, 0, 0}));
    EXPECT_EQ(outputEntry(caps, 24), (Entry{2, 1, 0}));
    EXPECT_EQ(outputEntry(caps, 48), (Entry{0, 2, 0}));
    EXPECT_EQ(outputEntry(caps, 63), (Entry{0, 2, 15}));
    // The inputs are untouched by the outputs' overflow.
    EXPECT_EQ(inputEntry(caps, 0), kUnused);
}

TEST(ChannelMaps, AGroupCountAboveEightUsesOnlyTheEightTableGroups)
{
    // The input group count follows the output table directly: read as a ninth output group it would
    // be a group of type 5 with 5 channels.
    CapsBytes bytes =
        CapsBytes().outputGroups({{0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {1, 1}});
    bytes.word(104, 9).word(124, 0x0505);
    const HwInfoCaps caps = bytes.record<HwInfoCaps>();
    EXPECT_EQ(outputEntry(caps, 7), (Entry{1, 7, 0}));
    EXPECT_EQ(outputEntry(caps, 8), kUnused);
    EXPECT_TRUE(caps.hasSpdifOutput());
    EXPECT_EQ(caps.getOutputGroupChannels(8), 0u);
    EXPECT_STREQ(caps.getOutputGroupName(8), "Output");
}

TEST(ChannelMaps, IndexesOutsideTheMapNameNoChannel)
{
    const HwInfoCaps caps = CapsBytes::typical().record<HwInfoCaps>();
    EXPECT_EQ(inputEntry(caps, 64), kUnused);
    EXPECT_EQ(outputEntry(caps, 0xFFFFFFFF), kUnused);
    EXPECT_EQ(caps.getOutputType(9), 1); // the second S/PDIF output
}

TEST(GroupNames, EachGroupTypeHasItsInputAndOutputNames)
{
    struct Row
    {
        uint8_t type;
        const char *inName, *inShort, *outName, *outShort;
    };
    const Row rows[] = {{0, "Analog", "A", "Analog", "A"},     {1, "S/PDIF", "S", "S/PDIF", "S"},
                        {2, "ADAT", "ADAT", "ADAT", "ADAT"},   {5, "Input", "In", "Headphones", "H"},
                        {6, "Input", "", "Output", ""},        {3, "Input", "In", "Output", "Out"},
                        {0x7F, "Input", "In", "Output", "Out"}};
    for (const Row& r : rows)
    {
        const HwInfoCaps caps = CapsBytes()
                                    .inputGroups({{0, 1}, {r.type, 2}})
                                    .outputGroups({{0, 1}, {r.type, 2}})
                                    .record<HwInfoCaps>();
        EXPECT_STREQ(caps.getInputGroupName(1), r.inName) << int(r.type);
        EXPECT_STREQ(caps.getInputGroupShortName(1), r.inShort) << int(r.type);
        EXPECT_STREQ(caps.getOutputGroupName(1), r.outName) << int(r.type);
        EXPECT_STREQ(caps.getOutputGroupShortName(1), r.outShort) << int(r.type);
        EXPECT_EQ(caps.getInputGroupChannels(1), 2u);
    }
}

TEST(ClockSources, OnlyTheSixKnownSourcesHaveNames)
{
    const HwInfoCaps caps{};
    std::string text;
    EXPECT_TRUE(caps.getClockName(5, text));
    EXPECT_EQ(text, "ADAT B");
    EXPECT_FALSE(caps.getClockName(6, text));
    EXPECT_EQ(text, "ADAT B"); // left as it was
}

TEST(ClockSources, SelectionNeedsInternalOrFireWireInTheMask)
{
    EXPECT_FALSE(CapsBytes().word(84, 0x3C).record<HwInfoCaps>().hasClockSelection());
    EXPECT_TRUE(CapsBytes().word(84, 0x02).record<HwInfoCaps>().hasClockSelection());
    const HwInfoCaps caps = CapsBytes().word(84, 0x80000011).record<HwInfoCaps>();
    EXPECT_TRUE(caps.supportsClock(0));
    EXPECT_TRUE(caps.supportsClock(4));
    EXPECT_FALSE(caps.supportsClock(1));
    EXPECT_TRUE(caps.supportsClock(31));
    EXPECT_FALSE(caps.supportsClock(32));
}

TEST(Features, SpdifOutputCountsOnlyGroupsWithinTheGroupCount)
{
    CapsBytes bytes = CapsBytes().outputGroups({{0, 8}, {1, 2}});
    EXPECT_TRUE(bytes.record<HwInfoCaps>().hasSpdifOutput());
    bytes.word(104, 1);
    EXPECT_FALSE(bytes.record<HwInfoCaps>().hasSpdifOutput());
    EXPECT_FALSE(CapsBytes().inputGroups({{1, 2}}).record<HwInfoCaps>().hasSpdifOutput());
}

TEST(RecordFields, AModelNameFillingItsFieldIsCutAtTheField)
{
    const HwInfoCaps caps =
        CapsBytes().modelName(std::string(32, 'M')).word(84, 0x41414141).record<HwInfoCaps>();
    EXPECT_EQ(caps.getModelName(), std::string(32, 'M'));
}

TEST(PlaybackChannels, TheRateBandsSwitchAbove50000AndAbove100000)
{
    const HwInfoCaps caps = CapsBytes().word(88, 18).word(180, 10).word(188, 4).record<HwInfoCaps>();
    EXPECT_EQ(caps.getPlaybackChannels(44100), 18u);
    EXPECT_EQ(caps.getPlaybackChannels(50000), 18u);
    EXPECT_EQ(caps.getPlaybackChannels(50001), 10u);
    EXPECT_EQ(caps.getPlaybackChannels(100000), 10u);
    EXPECT_EQ(caps.getPlaybackChannels(100001), 4u);
    EXPECT_EQ(caps.getPlaybackChannels(192000), 4u);
}

TEST(FirmwareVersionText, OptionalPartsAppearOnlyWhenSet)
{
    EXPECT_EQ(formatFirmwareVersion(0x01020000), "1.2");
    EXPECT_EQ(formatFirmwareVersion(0x01020304), "1.2.3");
    EXPECT_EQ(formatFirmwareVersion(0x0102003E), "1.2.3E");
    EXPECT_EQ(formatFirmwareVersion(0x0300000E), "3.0E");
    EXPECT_EQ(formatFirmwareVersion(0x01000000), "1.0");
    EXPECT_EQ(formatFirmwareVersion(0xFFFFFFFF), "255.255.255.15");
    EXPECT_EQ(formatFirmwareVersion(0x0A0B0C5E), "10.11.12.5E");
}
