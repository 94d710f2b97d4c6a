#include "simos/WindowsVersion.h"
#include "simos/BusDirectory.h"
#include "simos/CommandWords.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim::os
{
namespace
{

std::string settingPath()
{
    return busDirectory() + "/windows";
}

} // namespace

const char* windowsReleaseName(WindowsRelease release)
{
    return release == WindowsRelease::Xp ? "xp" : "vista";
}

bool parseWindowsRelease(const std::string& text, WindowsRelease& release)
{
    if (::strcasecmp(text.c_str(), "xp") == 0)
        release = WindowsRelease::Xp;
    else if (::strcasecmp(text.c_str(), "vista") == 0)
        release = WindowsRelease::Vista;
    else
        return false;
    return true;
}

WindowsRelease windowsRelease()
{
    std::ifstream in(settingPath(), std::ios::binary);
    std::string word;
    WindowsRelease release = WindowsRelease::Vista;
    if (in >> word)
        parseWindowsRelease(word, release);
    return release;
}

bool setWindowsRelease(WindowsRelease release)
{
    ::mkdir(busDirectory().c_str(), 0700);
    const std::string path = settingPath();
    const std::string temporary = path + ".new." + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << windowsReleaseName(release) << '\n';
        out.close();
        if (!out)
        {
            std::remove(temporary.c_str());
            return false;
        }
    }
    // Readers see the old setting or the new one, never a part.
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

int devsimOsWindows(const std::vector<std::string>& args, std::string& out, std::string& err)
{
    if (args.empty())
    {
        out += std::string("windows ") + windowsReleaseName(windowsRelease()) + "\n";
        return 0;
    }
    WindowsRelease release;
    if (!parseWindowsRelease(args[0], release))
    {
        err += "devsim: not a Windows release (xp or vista): " + args[0] + "\n";
        return 2;
    }
    if (args.size() > 1)
    {
        err += "devsim: " + unexpectedWord(args[1], "os windows " + args[0]) + "\n";
        return 2;
    }
    if (!setWindowsRelease(release))
    {
        err += "devsim: cannot write " + settingPath() + "\n";
        return 1;
    }
    return 0;
}

} // namespace sim::os
