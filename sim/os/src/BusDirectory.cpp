#include "simos/BusDirectory.h"

#include <cstdlib>
#include <unistd.h>

namespace sim::os
{

std::string busDirectory()
{
    const char* env = std::getenv("STRELLIS_SIM_DIR");
    if (env != nullptr && env[0] != '\0')
        return env;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string base = (runtime != nullptr && runtime[0] != '\0') ? runtime : "/tmp";
    return base + "/strellis-sim-" + std::to_string(::getuid());
}

} // namespace sim::os
