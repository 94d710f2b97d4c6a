#pragma once

// Which Windows the simulated machine runs: XP or Vista (and later). The setting is kept in the bus
// directory (file "windows"), so every process of the bus sees what devsim set; without a setting the
// machine runs Vista.

#include <string>
#include <vector>

namespace sim::os
{

enum class WindowsRelease
{
    Xp,
    Vista
};

WindowsRelease windowsRelease();

// "xp" or "vista".
const char* windowsReleaseName(WindowsRelease release);
// Reads "xp" or "vista" (any letter case); false for anything else.
bool parseWindowsRelease(const std::string& text, WindowsRelease& release);

// Stores the setting for every process of the bus; false when it cannot be written.
bool setWindowsRelease(WindowsRelease release);

// "devsim os windows [xp|vista]": args are the words after "windows". Returns the exit status.
int devsimOsWindows(const std::vector<std::string>& args, std::string& out, std::string& err);

} // namespace sim::os
