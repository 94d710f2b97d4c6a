// asiohost: loads an ASIO driver the way a host application does (through the registry alone) and prints
// what the driver tells about itself.

#include "DriverLoader.h"
#include "Streamer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

namespace
{

void usage(FILE* to)
{
    std::fputs(
        "usage: asiohost [--driver <name>]   load the driver (default \"ASIO Strellis\") and describe it\n"
        "       asiohost --list              list the registered drivers\n"
        "       asiohost --register <path>   register a driver module (its DllRegisterServer)\n"
        "       asiohost --unregister <path> unregister a driver module\n"
        "streaming (after the description):\n"
        "  --stream <n>                 run n buffer switches, then print the timing summary (a reset\n"
        "                               request ends the run early; a unit streamed from that was\n"
        "                               unplugged meanwhile ends it with status 1)\n"
        "  --inputs <list>, --outputs <list>   channels to use, e.g. 0,1 (default 0,1; \"none\" for none)\n"
        "  --delay-us <us>              spend this long inside every buffer switch\n"
        "  --output-ready inside|after|never   call outputReady at the end of the switch (default), from\n"
        "                               the main thread once the switch returned, or not at all\n"
        "  --time-info                  ask for bufferSwitchTimeInfo\n"
        "  --record <file>              write the inputs received (int32 little-endian, interleaved)\n"
        "  --play <file>                play a file of that layout on the outputs\n"
        "  --control-panel              open the control panel once the buffers are made\n"
        "  --period-log <file>          print where each period's time went, from the simulated clock's\n"
        "                               log in this file (run with STRELLIS_SIM_PERIOD_LOG set to it)\n"
        "  --quiet                      print the timing summary only\n",
        to);
}

bool parseChannels(const std::string& text, std::vector<int32_t>& channels)
{
    channels.clear();
    if (text == "none")
        return true;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
    {
        char* end = nullptr;
        const long n = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || n < 0)
            return false;
        channels.push_back(static_cast<int32_t>(n));
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::string driverName = "ASIO Strellis";
    asiohost::StreamOptions stream;
    bool quiet = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--stream" && hasValue)
        {
            stream.switches = std::atoi(argv[++i]);
            continue;
        }
        if ((arg == "--inputs" || arg == "--outputs") && hasValue)
        {
            if (!parseChannels(argv[++i], arg == "--inputs" ? stream.inputs : stream.outputs))
            {
                usage(stderr);
                return 2;
            }
            continue;
        }
        if (arg == "--delay-us" && hasValue)
        {
            stream.delayUs = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
            continue;
        }
        if (arg == "--output-ready" && hasValue)
        {
            const std::string mode = argv[++i];
            if (mode != "inside" && mode != "after" && mode != "never")
            {
                usage(stderr);
                return 2;
            }
            stream.outputReady = mode == "inside"  ? asiohost::OutputReady::Inside
                                 : mode == "after" ? asiohost::OutputReady::After
                                                   : asiohost::OutputReady::Never;
            continue;
        }
        if (arg == "--time-info" || arg == "--control-panel" || arg == "--quiet")
        {
            (arg == "--time-info" ? stream.timeInfo : arg == "--quiet" ? quiet : stream.controlPanel) = true;
            continue;
        }
        if (arg == "--period-log" && hasValue)
        {
            stream.periodLog = argv[++i];
            continue;
        }
        if ((arg == "--record" || arg == "--play") && hasValue)
        {
            (arg == "--record" ? stream.recordFile : stream.playFile) = argv[++i];
            continue;
        }
        if (arg == "--help" || arg == "-h")
        {
            usage(stdout);
            return 0;
        }
        if (arg == "--list")
        {
            for (const std::string& name : asiohost::listDrivers())
                std::printf("%s\n", name.c_str());
            return 0;
        }
        if ((arg == "--register" || arg == "--unregister") && i + 1 < argc)
        {
            std::string error;
            const int r = asiohost::registerModule(argv[i + 1], arg == "--unregister", error);
            if (r != 0)
            {
                std::fprintf(stderr, "asiohost: %s failed: %s\n", arg.c_str() + 2,
                             error.empty() ? std::to_string(r).c_str() : error.c_str());
                return 1;
            }
            return 0;
        }
        if (arg == "--driver" && i + 1 < argc)
        {
            driverName = argv[++i];
            continue;
        }
        usage(stderr);
        return 2;
    }

    asiohost::DriverLoader loader;
    std::string error;
    if (!loader.loadModule(driverName, error) || !loader.createDriver(error))
    {
        std::fprintf(stderr, "asiohost: %s\n", error.c_str());
        return 1;
    }
    if (!quiet)
        std::printf("driver: %s\nmodule: %s\n", driverName.c_str(), loader.entry().modulePath.c_str());
    asiodrv::IASIO* driver = loader.driver();
    if (driver->init(nullptr) != asiodrv::ASIOTrue)
    {
        char message[asiodrv::kAsioErrorMessageSize] = {};
        driver->getErrorMessage(message);
        std::fprintf(stderr, "asiohost: init failed: %s\n", message);
        return 1;
    }
    if (!quiet)
        std::fputs(asiohost::describeDriver(*driver).c_str(), stdout);
    if (stream.switches <= 0)
    {
        if (stream.controlPanel)
            driver->controlPanel();
        return 0;
    }
    std::string summary;
    const int status = asiohost::runStream(*driver, stream, summary, error);
    std::fputs(summary.c_str(), stdout);
    if (status != 0)
        std::fprintf(stderr, "asiohost: %s\n", error.c_str());
    return status;
}
