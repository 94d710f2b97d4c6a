#pragma once

#include <string>

namespace sim::os
{

// The simulator's bus directory: STRELLIS_SIM_DIR, else ${XDG_RUNTIME_DIR:-/tmp}/strellis-sim-<uid>.
// Looked up at every call, so a test that points STRELLIS_SIM_DIR at a fresh directory gets its own bus.
std::string busDirectory();

// Makes the bus's file of OS settings ("os", every setting at its default) when it is missing.
void makeOsSettings();

} // namespace sim::os
