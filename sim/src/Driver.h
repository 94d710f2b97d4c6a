#pragma once

// Bus operations shared by the kernel driver and the devsim tool. All run with the bus lock held.

#include "Shared.h"

#include <cstdint>

namespace sim
{

// The first fault that acts on a request, consumed by one; kind FAULT_NONE when none acts.
Fault takeFault(UnitState& unit, uint32_t target, int32_t category, int32_t command);

// Plugs a unit in (arrival event) or pulls it out (removal event with the given codes). Either changes
// the unit's generation, so handles opened before fail from then on.
void plugUnit(Bus& bus, int slot);
void unplugUnit(Bus& bus, int slot, uint32_t removalCodes);

// The removal broadcasts an unplug sends unless told otherwise: query-remove and remove-complete.
constexpr uint32_t kDefaultRemovalCodes = 0x5;

} // namespace sim
