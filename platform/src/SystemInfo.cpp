#include "platform/SystemInfo.h"

#include "simos/WindowsVersion.h"

#include <cstdlib>

namespace platform
{

bool isWindowsVistaOrLater()
{
    sim::os::WindowsRelease release = sim::os::windowsRelease();
    if (const char* forced = std::getenv("STRELLIS_WINDOWS"); forced != nullptr)
        sim::os::parseWindowsRelease(forced, release);
    return release == sim::os::WindowsRelease::Vista;
}

} // namespace platform
