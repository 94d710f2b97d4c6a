// asiohost: loads an ASIO driver the way a host application does (through the registry alone) and prints
// what the driver tells about itself.

#include "DriverLoader.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace
{

void usage(FILE* to)
{
    std::fputs(
        "usage: asiohost [--driver <name>]   load the driver (default \"ASIO Strellis\") and describe it\n"
        "       asiohost --list              list the registered drivers\n"
        "       asiohost --register <path>   register a driver module (its DllRegisterServer)\n"
        "       asiohost --unregister <path> unregister a driver module\n",
        to);
}

} // namespace

int main(int argc, char** argv)
{
    std::string driverName = "ASIO Strellis";
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
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
    std::printf("driver: %s\nmodule: %s\n", driverName.c_str(), loader.entry().modulePath.c_str());
    asiodrv::IASIO* driver = loader.driver();
    if (driver->init(nullptr) != asiodrv::ASIOTrue)
    {
        char message[asiodrv::kAsioErrorMessageSize] = {};
        driver->getErrorMessage(message);
        std::fprintf(stderr, "asiohost: init failed: %s\n", message);
        return 1;
    }
    std::fputs(asiohost::describeDriver(*driver).c_str(), stdout);
    return 0;
}
