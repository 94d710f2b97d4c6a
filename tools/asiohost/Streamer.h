#pragma once

// The streaming side of asiohost: creates buffers for the chosen channels, starts the driver, serves the
// buffer switches as a host does (optionally slow, late, recording or playing) and sums up the timing.

#include "asio/Asio.h"

#include <cstdint>
#include <string>
#include <vector>

namespace asiohost
{

enum class OutputReady
{
    Inside, // at the end of the buffer switch
    After,  // from the host's main thread once the switch returned
    Never
};

struct StreamOptions
{
    int switches = 0; // buffer switches to run (0: no streaming)
    std::vector<int32_t> inputs{0, 1};
    std::vector<int32_t> outputs{0, 1};
    uint32_t delayUs = 0; // spent inside each buffer switch
    OutputReady outputReady = OutputReady::Inside;
    bool timeInfo = false;
    std::string recordFile; // inputs as received: int32 little-endian, interleaved by channel
    std::string playFile;   // outputs, the same layout, played once then silence
    bool controlPanel = false;
    std::string periodLog; // the period clock's log to read for the breakdown (sim/PeriodLog.h)
};

// Runs the stream on an initialised driver and prints the summary to out; the process's exit status: 1
// when a unit the stream uses was unplugged (error names its interface).
int runStream(asiodrv::IASIO& driver, const StreamOptions& options, std::string& out, std::string& error);

} // namespace asiohost
