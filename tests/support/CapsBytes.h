#pragma once

// A "hwinfo_caps" registry record written byte by byte at its documented offsets, independently of the
// structs that read it, so a wrong offset in a struct shows up in the tests. It is plugged from a file
// ("devsim plug --caps") or read in memory as the system reads it.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace testsupport
{

struct CapsBytes
{
    using Groups = std::vector<std::pair<uint8_t, uint8_t>>; // (type, channels)

    std::array<uint8_t, 260> bytes{};

    CapsBytes& word(size_t offset, uint32_t value)
    {
        for (int b = 0; b < 4; ++b)
            bytes[offset + b] = static_cast<uint8_t>(value >> (8 * b));
        return *this;
    }
    CapsBytes& vendor(uint32_t id) { return word(4, id << 8 | 0x01); }
    CapsBytes& modelName(const std::string& name)
    {
        std::memcpy(&bytes[52], name.data(), std::min<size_t>(name.size(), 32));
        return *this;
    }
    CapsBytes& clockMask(uint32_t mask) { return word(84, mask); }
    CapsBytes& channels(uint32_t playback, uint32_t inputs) { return word(88, playback).word(92, inputs); }
    CapsBytes& outputGroups(const Groups& groups) { return groupTable(104, 108, groups); }
    CapsBytes& inputGroups(const Groups& groups) { return groupTable(124, 128, groups); }
    CapsBytes& rates(uint32_t minimum, uint32_t maximum) { return word(156, minimum).word(152, maximum); }
    CapsBytes& firmware(uint32_t dsp, uint32_t arm) { return word(160, dsp).word(164, arm); }

    // The record as the system reads it (device::HwInfoCaps), with its channel maps built.
    template <class Record> Record record() const
    {
        Record caps{};
        std::memcpy(&caps, bytes.data(), bytes.size());
        caps.buildChannelMaps();
        return caps;
    }

    bool writeTo(const std::string& file) const
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return static_cast<bool>(out);
    }

    // A plausible unit: 8 analog + 8 ADAT inputs, 8 analog + 2 S/PDIF + 2 headphone outputs, the clocks
    // internal, FireWire, word, S/PDIF and ADAT, 44.1 to 96 kHz.
    static CapsBytes typical()
    {
        CapsBytes c;
        c.word(0, 0)
            .vendor(0x3B71)
            .word(8, 0x00C0FFEE)
            .word(12, 0x5E8)
            .word(16, 3)
            .modelName("Test Eight")
            .clockMask(0x1F)
            .channels(12, 16)
            .word(96, 12)
            .word(100, 16)
            .outputGroups({{0, 8}, {1, 2}, {5, 2}})
            .inputGroups({{0, 8}, {2, 8}})
            .word(144, 1)
            .word(148, 1)
            .rates(44100, 96000)
            .firmware(0x01020000, 0x02000300)
            .word(168, 12)
            .word(180, 8)
            .word(188, 4);
        return c;
    }

    // A record with just these groups, its channel counts their sums, of the vendor the console keeps.
    static CapsBytes withGroups(const Groups& inputs, const Groups& outputs)
    {
        CapsBytes c;
        c.vendor(0x3B71).inputGroups(inputs).outputGroups(outputs);
        uint32_t in = 0, out = 0;
        for (const auto& g : inputs)
            in += g.second;
        for (const auto& g : outputs)
            out += g.second;
        return c.word(92, in).word(168, out);
    }

private:
    CapsBytes& groupTable(size_t countOffset, size_t tableOffset, const Groups& groups)
    {
        word(countOffset, static_cast<uint32_t>(groups.size()));
        for (size_t g = 0; g < groups.size() && g < 8; ++g)
        {
            bytes[tableOffset + 2 * g] = groups[g].first;
            bytes[tableOffset + 2 * g + 1] = groups[g].second;
        }
        return *this;
    }
};

} // namespace testsupport
