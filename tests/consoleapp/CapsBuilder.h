#pragma once

// Capability records built in memory for the console's layout and tab-bar tests.

#include "CapsBytes.h"
#include "device/HwInfoCaps.h"

#include <cstdint>

namespace consoleapptest
{

// Groups as (type, channels).
inline device::HwInfoCaps makeCaps(const testsupport::CapsBytes::Groups& inputGroups,
                                   const testsupport::CapsBytes::Groups& outputGroups)
{
    return testsupport::CapsBytes::withGroups(inputGroups, outputGroups).record<device::HwInfoCaps>();
}

inline device::HwInfoCaps makeInputs(uint8_t inputs)
{
    return inputs == 0 ? makeCaps({}, {{0, 8}}) : makeCaps({{0, inputs}}, {{0, 8}});
}

} // namespace consoleapptest
