#pragma once

// Capability records built in memory for the console's layout and tab-bar tests.

#include "device/HwInfoCaps.h"

#include <cstdint>
#include <initializer_list>
#include <utility>

namespace consoleapptest
{

// Groups as (type, channels).
inline device::HwInfoCaps makeCaps(std::initializer_list<std::pair<uint8_t, uint8_t>> inputGroups,
                                   std::initializer_list<std::pair<uint8_t, uint8_t>> outputGroups)
{
    device::HwInfoCaps caps{};
    caps.guidHigh = 0x3B71u << 8;
    for (const auto& [type, channels] : inputGroups)
    {
        caps.inputGroups[caps.inputGroupCount++] = {type, channels};
        caps.inputCount += channels;
    }
    for (const auto& [type, channels] : outputGroups)
    {
        caps.outputGroups[caps.outputGroupCount++] = {type, channels};
        caps.outputCount += channels;
    }
    caps.buildChannelMaps();
    return caps;
}

inline device::HwInfoCaps makeInputs(uint8_t inputs)
{
    return inputs == 0 ? makeCaps({}, {{0, 8}}) : makeCaps({{0, inputs}}, {{0, 8}});
}

} // namespace consoleapptest
