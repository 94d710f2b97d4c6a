#pragma once

// The capability record of a unit: what it has (channels and their groups, clocks, rate range, MIDI
// ports, firmware versions, optional features), as the driver installation stores it in the registry
// value "hwinfo_caps" (the first 260 bytes), followed in memory by the input and output channel maps
// built from the group tables. All accessors are plain reads. The group and clock names here are the
// console's; the ASIO driver gives its channels names of its own (asio/DeviceAccess.h).

#include <cstddef>
#include <cstdint>
#include <string>

namespace formats
{

struct HwInfoCaps
{
    static constexpr size_t kRegistryBytes = 260;
    static constexpr size_t kMaxGroups = 8;
    static constexpr size_t kMapEntries = 64;
    static constexpr uint8_t kUnused = 0xFF;
    static constexpr int kClockCount = 6;

    // Feature flag bits (word at 0).
    static constexpr uint32_t kFlagNoFlashLock = 1u << 4;
    static constexpr uint32_t kFlagHasFpga = 1u << 5;
    static constexpr uint32_t kFlagHasPhantomPower = 1u << 6;
    static constexpr uint32_t kFlagHasOutputRouting = 1u << 7;

    // Group types.
    static constexpr uint8_t kGroupAnalog = 0;
    static constexpr uint8_t kGroupSpdif = 1;
    static constexpr uint8_t kGroupAdat = 2;
    static constexpr uint8_t kGroupHeadphones = 5;
    static constexpr uint8_t kGroupUnnamed = 6;

    struct Group
    {
        uint8_t type;
        uint8_t channels;
    };

    // One channel's place: its group's type, the group's index, the channel's index within the group.
    struct MapEntry
    {
        uint8_t type;
        uint8_t group;
        uint8_t index;
    };

    // --- the registry record ---
    uint32_t flags;
    uint32_t guidHigh; // bits 8..31: 24-bit vendor id
    uint32_t guidLow;
    uint32_t modelId;
    uint32_t hwVersion;
    uint8_t unread20[32];
    char modelName[32]; // zero-terminated unless it fills the field
    uint32_t clockMask; // bit n: clock source n selectable
    uint32_t playbackChannelsUpTo50k;
    uint32_t inputCount;
    uint32_t firstMeterCount;
    uint32_t secondMeterCount;
    uint32_t outputGroupCount;
    Group outputGroups[kMaxGroups];
    uint32_t inputGroupCount;
    Group inputGroups[kMaxGroups];
    uint32_t midiOutCount;
    uint32_t midiInCount;
    uint32_t maxSampleRate;
    uint32_t minSampleRate;
    uint32_t dspVersion;
    uint32_t armVersion;
    uint32_t outputCount;
    uint32_t unread172;
    uint32_t fpgaVersion;
    uint32_t playbackChannelsUpTo100k;
    uint32_t unread184;
    uint32_t playbackChannelsAbove100k;
    uint8_t unread192[68];
    // --- built in memory ---
    MapEntry inputMap[kMapEntries];
    MapEntry outputMap[kMapEntries];

    // Fills both channel maps from the group tables.
    void buildChannelMaps();

    // Fills one map: the channels of the groups in order, each group's channels consecutively, until
    // the map is full. Group counts beyond the table are taken as the table's size. Returns the entries
    // written.
    static size_t fillChannelMap(const Group (&groups)[kMaxGroups], uint32_t groupCount,
                                 MapEntry (&map)[kMapEntries]);

    uint32_t getVendorId() const { return guidHigh >> 8; }
    uint64_t getGuid() const { return (uint64_t(guidHigh) << 32) | guidLow; }

    uint32_t getInputCount() const { return inputCount; }
    uint32_t getOutputCount() const { return outputCount; }
    uint32_t getMidiInCount() const { return midiInCount; }
    uint32_t getMidiOutCount() const { return midiOutCount; }
    uint32_t getMinSampleRate() const { return minSampleRate; }
    uint32_t getMaxSampleRate() const { return maxSampleRate; }
    uint32_t getDspVersion() const { return dspVersion; }
    uint32_t getArmVersion() const { return armVersion; }
    uint32_t getFpgaVersion() const { return fpgaVersion; }
    std::string getModelName() const;

    // Playback channels the unit streams at this sample rate.
    uint32_t getPlaybackChannels(uint32_t sampleRate) const;

    uint32_t getInputGroupCount() const { return inputGroupCount; }
    uint32_t getOutputGroupCount() const { return outputGroupCount; }
    uint32_t getInputGroupChannels(uint32_t group) const;
    uint32_t getOutputGroupChannels(uint32_t group) const;
    const char* getInputGroupName(uint32_t group) const;
    const char* getInputGroupShortName(uint32_t group) const;
    const char* getOutputGroupName(uint32_t group) const;
    const char* getOutputGroupShortName(uint32_t group) const;

    // Map entries; an index outside the map reads as unused (0xFF).
    uint8_t getInputMapType(uint32_t i) const { return i < kMapEntries ? inputMap[i].type : kUnused; }
    uint8_t getInputMapGroup(uint32_t i) const { return i < kMapEntries ? inputMap[i].group : kUnused; }
    uint8_t getInputMapIndex(uint32_t i) const { return i < kMapEntries ? inputMap[i].index : kUnused; }
    uint8_t getOutputMapType(uint32_t i) const { return i < kMapEntries ? outputMap[i].type : kUnused; }
    uint8_t getOutputMapGroup(uint32_t i) const { return i < kMapEntries ? outputMap[i].group : kUnused; }
    uint8_t getOutputMapIndex(uint32_t i) const { return i < kMapEntries ? outputMap[i].index : kUnused; }
    uint8_t getOutputType(uint32_t i) const { return getOutputMapType(i); }

    bool hasSpdifOutput() const;
    bool hasClockSelection() const { return (clockMask & 3u) != 0; }
    bool supportsClock(uint32_t n) const { return n < 32 && (clockMask & (1u << n)) != 0; }
    // The name of clock source n; false (text unchanged) when n has no name.
    bool getClockName(uint32_t n, std::string& text) const;
    bool hasNoFlashLock() const { return (flags & kFlagNoFlashLock) != 0; }
    bool hasFpga() const { return (flags & kFlagHasFpga) != 0; }
    bool hasPhantomPower() const { return (flags & kFlagHasPhantomPower) != 0; }
    bool hasOutputRouting() const { return (flags & kFlagHasOutputRouting) != 0; }
    // Every strip has a nominal-level switch.
    bool hasOutputNominal(uint32_t) const { return true; }
    bool hasInputNominal(uint32_t) const { return true; }

    // Both meter counts together, as the polled reply carries them.
    uint64_t getMeterCount() const { return uint64_t(firstMeterCount) + secondMeterCount; }
};

static_assert(sizeof(HwInfoCaps) == 644);
static_assert(offsetof(HwInfoCaps, guidHigh) == 4);
static_assert(offsetof(HwInfoCaps, guidLow) == 8);
static_assert(offsetof(HwInfoCaps, modelId) == 12);
static_assert(offsetof(HwInfoCaps, hwVersion) == 16);
static_assert(offsetof(HwInfoCaps, modelName) == 52);
static_assert(offsetof(HwInfoCaps, clockMask) == 84);
static_assert(offsetof(HwInfoCaps, playbackChannelsUpTo50k) == 88);
static_assert(offsetof(HwInfoCaps, inputCount) == 92);
static_assert(offsetof(HwInfoCaps, firstMeterCount) == 96);
static_assert(offsetof(HwInfoCaps, secondMeterCount) == 100);
static_assert(offsetof(HwInfoCaps, outputGroupCount) == 104);
static_assert(offsetof(HwInfoCaps, outputGroups) == 108);
static_assert(offsetof(HwInfoCaps, inputGroupCount) == 124);
static_assert(offsetof(HwInfoCaps, inputGroups) == 128);
static_assert(offsetof(HwInfoCaps, midiOutCount) == 144);
static_assert(offsetof(HwInfoCaps, midiInCount) == 148);
static_assert(offsetof(HwInfoCaps, maxSampleRate) == 152);
static_assert(offsetof(HwInfoCaps, minSampleRate) == 156);
static_assert(offsetof(HwInfoCaps, dspVersion) == 160);
static_assert(offsetof(HwInfoCaps, armVersion) == 164);
static_assert(offsetof(HwInfoCaps, outputCount) == 168);
static_assert(offsetof(HwInfoCaps, fpgaVersion) == 176);
static_assert(offsetof(HwInfoCaps, playbackChannelsUpTo100k) == 180);
static_assert(offsetof(HwInfoCaps, playbackChannelsAbove100k) == 188);
static_assert(offsetof(HwInfoCaps, inputMap) == HwInfoCaps::kRegistryBytes);
static_assert(offsetof(HwInfoCaps, outputMap) == 452);

// A firmware version word as text: "major.minor", then ".b" for bits 8..15 and ".c" for bits 4..7 when
// nonzero, then "E" when bits 0..3 are 0xE (1.2, 1.2.3, 1.2.3E, 3.0E).
std::string formatFirmwareVersion(uint32_t version);

} // namespace formats
