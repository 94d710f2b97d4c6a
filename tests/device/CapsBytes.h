#pragma once

// A "hwinfo_caps" registry record written byte by byte at its documented offsets, independently of the
// HwInfoCaps struct, so a wrong offset in the struct shows up in the tests.

#include "device/HwInfoCaps.h"

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
    std::array<uint8_t, 260> bytes{};

    CapsBytes& word(size_t offset, uint32_t value)
    {
        for (int b = 0; b < 4; ++b)
            bytes[offset + b] = static_cast<uint8_t>(value >> (8 * b));
        return *this;
    }
    CapsBytes& outputGroups(const std::vector<std::pair<uint8_t, uint8_t>>& groups)
    {
        return groupTable(104, 108, groups);
    }
    CapsBytes& inputGroups(const std::vector<std::pair<uint8_t, uint8_t>>& groups)
    {
        return groupTable(124, 128, groups);
    }
    CapsBytes& modelName(const std::string& name)
    {
        std::memcpy(&bytes[52], name.data(), std::min<size_t>(name.size(), 32));
        return *this;
    }

    device::HwInfoCaps record() const
    {
        device::HwInfoCaps caps{};
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

    // A plausible unit: 8 analog + 8 ADAT inputs, 8 analog + 2 S/PDIF + 2 headphone outputs.
    static CapsBytes typical()
    {
        CapsBytes c;
        c.word(0, 0)
            .word(4, 0x3B71u << 8 | 0x01)
            .word(8, 0x00C0FFEE)
            .word(12, 0x5E8)
            .word(16, 3)
            .modelName("Test Eight")
            .word(84, 0x1F) // internal, FireWire, word, S/PDIF, ADAT
            .word(88, 12)
            .word(92, 16)
            .word(96, 12)
            .word(100, 16)
            .outputGroups({{0, 8}, {1, 2}, {5, 2}})
            .inputGroups({{0, 8}, {2, 8}})
            .word(144, 1)
            .word(148, 1)
            .word(152, 96000)
            .word(156, 44100)
            .word(160, 0x01020000)
            .word(164, 0x02000300)
            .word(168, 12)
            .word(180, 8)
            .word(188, 4);
        return c;
    }

private:
    CapsBytes& groupTable(size_t countOffset, size_t tableOffset,
                          const std::vector<std::pair<uint8_t, uint8_t>>& groups)
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
