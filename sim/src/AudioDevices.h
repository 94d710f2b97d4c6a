#pragma once

// The devsim side of the wave devices (sim/Audio.h): the knob, the layout taken at plug, the dump lines
// and the commands that change volumes as a user of the system's volume controls would.

#include "Shared.h"

#include <string>
#include <vector>

namespace sim::audio
{

// Takes the presentation of the playback channels (surround flag, channel count) as the unit powers
// up; it holds until the next plug, as the driver reads its settings only then. Under the bus lock.
void latchLayout(UnitState& unit);

// Knob "endpoints": on, off (the unit presents no wave devices) or anonymous (its filters answer no
// identification property). False with a reason for another value.
bool setEndpointKnob(UnitState& unit, const std::string& value, std::string& why);

std::vector<std::string> dumpLines(const UnitState& unit);

// "devsim volume <unit> <channel> <dB>", "devsim mute <unit> <channel> 0|1" and "devsim endpoints".
// Returns the exit status.
int devsimCommand(const std::string& command, const std::vector<std::string>& args, std::string& out,
                  std::string& err);

} // namespace sim::audio
